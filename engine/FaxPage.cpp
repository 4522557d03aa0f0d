// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Parking and unparking page images, and reading a page's rows out whether
// it is parked or not.
#include "FaxPage.h"

#include "Error.h"
#include "PagePack.h"
#include "PagePacker.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

void PageImage::Park(folio::Bitmap* spare) {
    settle();
    if (parked_ || bitmap_.Empty())
        return;
    folio::PackedBytes packed;
    try {
        packed = folio::PackedBytes::Copy(folio::PackPageInPlace(bitmap_));
    } catch (const std::bad_alloc&) {
        return; // kept as a bitmap: correct, only larger
    }
    packed_ = std::move(packed);
    packedWidth_ = bitmap_.Width();
    packedHeight_ = bitmap_.Height();
    packedStride_ = bitmap_.Stride();
    if (spare)
        *spare = std::move(bitmap_);
    bitmap_ = folio::Bitmap();
    parked_ = true;
}

bool PageImage::ParkWith(folio::PagePacker& packer, folio::Bitmap& spare) {
    settle();
    spare = folio::Bitmap();
    if (parked_ || bitmap_.Empty()) {
        packer.NotHandedOver(); // its place among the pages handed over is lost
        return false;
    }
    const int width = bitmap_.Width(), height = bitmap_.Height(), stride = bitmap_.Stride();
    std::shared_ptr<folio::PackJob> job = packer.Submit(bitmap_);
    if (!job) {
        Park(&spare);
        return false;
    }
    job_ = std::move(job);
    packedWidth_ = width;
    packedHeight_ = height;
    packedStride_ = stride;
    parked_ = true;
    spare = packer.TakeStorage();
    return true;
}

void PageImage::takeJob() const {
    std::shared_ptr<folio::PackJob> job = std::move(job_);
    job_.reset();
    job->Wait();
    if (job->failed) {
        bitmap_ = std::move(job->bitmap);
        job->bitmap = folio::Bitmap();
        parked_ = false;
    } else {
        packed_ = std::move(job->packed);
        coded_ = job->coded;
    }
}

void PageImage::Unpark() const {
    settle();
    if (!parked_)
        return;
    if (coded_)
        throw folio::Error("the page is already coded for the fax file; its pixels are gone");
    folio::Bitmap unpacked;
    unpacked.SetSize(packedWidth_, packedHeight_);
    folio::UnpackPage(packed_.Bytes(), packedWidth_, packedHeight_, packedStride_, unpacked.Bits(),
                      unpacked.Stride(), false);
    bitmap_ = std::move(unpacked);
    packed_.Release();
    parked_ = false;
}

void PageImage::Blank(int width, int height, folio::Bitmap* storage) {
    settle();
    if (parked_) {
        packed_.Release();
        parked_ = false;
        coded_ = false;
    }
    if (storage && storage->Width() == width && storage->Height() == height) {
        bitmap_ = std::move(*storage);
        *storage = folio::Bitmap();
        return;
    }
    if (bitmap_.Width() != width || bitmap_.Height() != height)
        bitmap_.SetSize(width, height);
}

void PageImage::ReadRows(std::uint8_t* top, std::ptrdiff_t step, bool setPadding) const {
    settle();
    if (coded_)
        throw folio::Error("the page is already coded for the fax file; its pixels are gone");
    if (parked_) {
        folio::UnpackPage(packed_.Bytes(), packedWidth_, packedHeight_, packedStride_, top, step,
                          setPadding);
        return;
    }
    const int width = bitmap_.Width();
    const std::size_t stride = std::size_t(bitmap_.Stride());
    const std::size_t used = (std::size_t(width) + 7) / 8;
    const std::uint8_t tailMask = (width & 7) ? std::uint8_t(0xFF >> (width & 7)) : 0;
    for (int y = 0; y < bitmap_.Height(); ++y) {
        std::uint8_t* dst = top + step * std::ptrdiff_t(y);
        std::memcpy(dst, bitmap_.Row(y), stride);
        if (setPadding) {
            dst[used - 1] |= tailMask;
            std::memset(dst + used, 0xFF, stride - used);
        }
    }
}

std::size_t PageImage::HeldBytes() const {
    settle();
    return parked_ ? packed_.Size() : bitmap_.ByteCount();
}
