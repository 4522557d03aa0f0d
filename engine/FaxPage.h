// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// One page of a fax document: a list element holding the page image, a
// 1-bit bitmap with its canvas. Pages live in the engine's page list, which
// owns them. A page that is not current is parked: its pixels are packed
// (PagePack.h, about a sixth of the bitmap for text) and the bitmap freed,
// so a long document costs little memory; any use of its picture or canvas
// unpacks it again.
#pragma once

// The installed C++ headers need C++20 (std::span, defaulted comparisons):
// compile with -std=c++20 or later, which the CMake targets Folioset::* ask
// for. An older standard stops here with one message, not a page of errors.
#if __cplusplus < 202002L
#error "Folioset's C++ headers need C++20: compile with -std=c++20 or later"
#else

// For clients of libfoliolib.so: installed because FaxImage.h names these
// types (FaxImage::CurrentPage, FaxImage::Image and the elements of
// FaxImage::Pages). A client may hold and compare those pointers, which the
// engine owns; the members below are the library's own and not exported
// (a client that calls one fails to link): write the pages with
// FaxImage::SaveFile.

#include "Bitmap.h"
#include "Canvas.h"
#include "List.h"
#include "PackStore.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace folio {
class PackJob;
class PagePacker;
} // namespace folio

// The drawing surface of one page. The viewer of the desktop program shows
// it; in the library it only holds pixels.
class PageImage {
  public:
    PageImage() : canvas_(bitmap_) {}
    PageImage(const PageImage&) = delete;
    PageImage& operator=(const PageImage&) = delete;

    // The bitmap, unpacked first when the page is parked. The const form
    // unpacks too: a reader of a parked page sees its pixels.
    folio::Bitmap& Picture() {
        if (parked_)
            Unpark();
        return bitmap_;
    }
    const folio::Bitmap& Picture() const {
        if (parked_)
            Unpark();
        return bitmap_;
    }
    folio::Canvas& Canvas() {
        if (parked_)
            Unpark();
        return canvas_;
    }

    // Packs the pixels and frees the bitmap. With `spare`, the bitmap's
    // storage is handed over there instead of freed (its pixels are then
    // stale), so the next page can take it without a fresh allocation. A
    // page that cannot be packed (no memory) stays as it is. Nothing happens
    // to an empty or parked page.
    void Park(folio::Bitmap* spare = nullptr);
    // Parks the page with its packing left to `packer`, which hands back a
    // bitmap for the next page in `spare` (empty when it has none to give).
    // The page can be used at once: any use waits for the packing first.
    // Returns whether `spare` is white (cleared by the packer); without a
    // thread for the packer the page is packed here and `spare` holds its
    // old pixels.
    bool ParkWith(folio::PagePacker& packer, folio::Bitmap& spare);
    bool Parked() const {
        settle();
        return parked_;
    }
    // Unpacks a parked page into its bitmap again. Throws folio::Error when
    // the bitmap cannot be allocated.
    void Unpark() const;
    // Makes the page white at width x height without unpacking it: for a page
    // about to be cleared. `storage`, when it is a bitmap of that size, is
    // taken over (its pixels are not cleared here).
    void Blank(int width, int height, folio::Bitmap* storage = nullptr);

    // The page's size, parked or not.
    int Width() const {
        settle();
        return parked_ ? packedWidth_ : bitmap_.Width();
    }
    int Height() const {
        settle();
        return parked_ ? packedHeight_ : bitmap_.Height();
    }
    // Writes the page's rows, as Bitmap rows (stride bytes, a set bit black),
    // row y at `top + y * step`, without unparking; with `setPadding` the bits
    // past the width come out set.
    void ReadRows(std::uint8_t* top, std::ptrdiff_t step, bool setPadding) const;
    // Whether the page was coded for the fax file when it was parked
    // (FaxImage::CodeAhead); its code is then all that is left of it, and its
    // pixels can no longer be read.
    bool Coded() const {
        settle();
        return coded_;
    }
    std::span<const std::uint8_t> Code() const {
        settle();
        return coded_ ? packed_.Bytes() : std::span<const std::uint8_t>();
    }
    // Bytes of pixels the page holds now: the packed form or the bitmap.
    std::size_t HeldBytes() const;

  private:
    // Waits for a packing handed to a packer and takes its result.
    void settle() const {
        if (job_)
            takeJob();
    }
    void takeJob() const;

    mutable folio::Bitmap bitmap_;
    folio::Canvas canvas_;
    mutable bool parked_ = false;
    mutable bool coded_ = false; // parked as its fax code (packed_ holds it)
    mutable folio::PackedBytes packed_;
    mutable std::shared_ptr<folio::PackJob> job_;
    int packedWidth_ = 0;
    int packedHeight_ = 0;
    int packedStride_ = 0;
};

class FaxPage : public Link {
  public:
    FaxPage() = default;
    ~FaxPage() override = default;

    ::PageImage PageImage;
};

#endif // C++20
