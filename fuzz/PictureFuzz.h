// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The body shared by the picture fuzz targets (png, jpeg, tiff): decode the
// input with one decoder, then scale and make black and white a window of
// the drawn picture every way: thresholded, diffused, and cleaned as a
// scan (judged and forced). A file is decoded or refused with
// PictureError ("Bitmap image is not valid"); anything else thrown, a
// decoded picture breaking GreyImage's rules, or a crash is a finding.
//
// Cap: 1 MB of file. The decoders refuse more than 64 million pixels; the
// window rendered is at most 300 x 300 pixels.
#pragma once

#include "FuzzSupport.h"
#include "Picture.h"
#include "PictureDecoders.h"
#include "PictureRender.h"
#include "ScanCleaner.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fuzz {

inline int RunPictureDecoder(folio::GreyImage (*decode)(const std::uint8_t*, std::size_t,
                                                        const folio::PictureBudget&),
                             const char* name, const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20))
        return 0;
    folio::GreyImage p;
    try {
        p = decode(data, size, folio::PictureBudget{});
    } catch (const folio::PictureError& e) {
        if (Verbose())
            std::fprintf(stderr, "%s: %s\n", name, e.Reason().c_str());
        if (std::strcmp(e.what(), "Bitmap image is not valid") != 0 || e.Reason().empty())
            std::abort();
        return 0;
    }
    if (p.width <= 0 || p.height <= 0 ||
        std::uint64_t(p.width) * std::uint64_t(p.height) > folio::kMaxPicturePixels ||
        p.pixels.size() != std::size_t(p.width) * std::size_t(p.height) || p.storedWidth <= 0 ||
        p.storedHeight <= 0 || p.dpiX < 0 || p.dpiY < 0 || p.moreImages < 0 || p.damageCount < 0 ||
        (p.damageCount > 0) == p.damage.empty())
        std::abort();
    const folio::DrawnSize size2 =
        folio::DrawnSizeOf(p.storedWidth, p.storedHeight, p.dpiX, p.dpiY);
    if (size2.width <= 0 || size2.height <= 0)
        std::abort();
    const std::int64_t w = std::min<std::int64_t>(size2.width, 300);
    const std::int64_t h = std::min<std::int64_t>(size2.height, 300);
    for (bool lineArt : {true, false}) {
        const folio::Bitmap b = folio::RenderPicture(p, size2, 0, 0, w, h, lineArt);
        if (b.Width() != w || b.Height() != h)
            std::abort();
    }
    for (bool force : {false, true}) {
        const folio::ScanPlan scan = folio::PlanScan(p, size2, force);
        if (scan.documentCells + scan.photoCells !=
                int(scan.photo.size()) ||
            scan.photo.size() != std::size_t(scan.cellsX) * std::size_t(scan.cellsY) ||
            (force && scan.photoCells != 0))
            std::abort();
        if (scan.documentCells > 0) {
            if (scan.cleaned.pixels.size() != p.pixels.size())
                std::abort();
            const folio::Bitmap b = folio::RenderPicture(scan.cleaned, size2, 0, 0, w, h, true);
            if (b.Width() != w || b.Height() != h)
                std::abort();
        }
    }
    if (Verbose())
        std::fprintf(stderr, "%s: %d x %d, drawn %lld x %lld, line art %d\n", name, p.width,
                     p.height, static_cast<long long>(size2.width),
                     static_cast<long long>(size2.height), int(folio::IsLineArt(p)));
    return 0;
}

} // namespace fuzz
