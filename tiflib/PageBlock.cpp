// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Checking a page block. Every size is computed in 64 bits from fields that
// were range-checked first, so no header, however hostile, can make the
// reader look outside the block.
#include "PageBlock.h"

#include "DibTypes.h"

#include <cstring>

namespace folio::tiflib {

const char* ReadPageBlock(const std::uint8_t* data, std::size_t size, PageView& page) {
    if (!data || size < sizeof(BITMAPINFOHEADER))
        return "page block too small for a bitmap header";
    BITMAPINFOHEADER h;
    std::memcpy(&h, data, sizeof h);
    if (h.biSize != sizeof(BITMAPINFOHEADER))
        return "page block header size is not 40";
    if (h.biWidth < 1 || std::uint32_t(h.biWidth) > kMaxPageSide)
        return "page width outside 1..65535";
    // Compare in 64 bits: -INT32_MIN does not fit a LONG.
    std::int64_t height = h.biHeight;
    std::uint64_t rows = height < 0 ? std::uint64_t(-height) : std::uint64_t(height);
    if (rows < 1 || rows > kMaxPageSide)
        return "page height outside 1..65535";
    if (h.biPlanes != 1)
        return "page block has more than one plane";
    if (h.biBitCount != 1)
        return "page block is not 1 bit per pixel";
    if (h.biCompression != BI_RGB)
        return "page block is compressed";
    if (h.biClrUsed != 0 && h.biClrUsed != 2)
        return "page block colour table is not 2 entries";
    // A 1-bit DIB that says 0 colours has the full table of 2.
    const std::uint64_t colours = 2;
    const std::uint64_t stride = (std::uint64_t(h.biWidth) + 31) / 32 * 4;
    const std::uint64_t image = stride * rows;
    if (h.biSizeImage != 0 && h.biSizeImage != image)
        return "page block image size does not match its width and height";
    const std::uint64_t offset = sizeof(BITMAPINFOHEADER) + 4 * colours;
    if (offset + image > size)
        return "page block shorter than its header says";

    page.width = std::uint32_t(h.biWidth);
    page.height = std::uint32_t(rows);
    page.rowBytes = std::size_t(stride);
    const std::uint8_t* pixels = data + offset;
    if (height > 0) {
        page.top = pixels + (rows - 1) * stride;
        page.step = -std::ptrdiff_t(stride);
    } else {
        page.top = pixels;
        page.step = std::ptrdiff_t(stride);
    }
    return nullptr;
}

} // namespace folio::tiflib
