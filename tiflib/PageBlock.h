// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Reading a page block: the packed 1-bit DIB a client hands to the writer.
// The block is checked field by field against its real size before a single
// pixel is read, and then seen as rows top row first whatever order the block
// stores them in.
#pragma once

#include <cstddef>
#include <cstdint>

namespace folio::tiflib {

// Largest width and height the writer takes: pages are made with 16-bit sizes,
// and TIFF fax readers take nothing larger.
inline constexpr std::uint32_t kMaxPageSide = 65535;

// A page's pixels, 1 bit each, the leftmost pixel in the most significant bit,
// a set bit black. Row y (0 = top) starts at top + y * step; step is negative
// for the usual bottom-up block. Each row has rowBytes readable bytes, at
// least (width + 7) / 8 and a multiple of 4; bits past the width are not
// pixels and may hold anything.
struct PageView {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    const std::uint8_t* top = nullptr;
    std::ptrdiff_t step = 0;
    std::size_t rowBytes = 0;

    const std::uint8_t* row(std::uint32_t y) const { return top + step * std::ptrdiff_t(y); }
};

// Checks that the `size` bytes at `data` hold a 1-bit packed DIB whose sizes
// add up and fills `page`. Returns null on success, else why the block is
// refused. Positive heights are bottom-up rows, negative heights top-down.
const char* ReadPageBlock(const std::uint8_t* data, std::size_t size, PageView& page);

} // namespace folio::tiflib
