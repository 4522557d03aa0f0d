// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// A finished page's rows as the coder takes them, parked or not: the fax
// writer and the sending-cost figures both code pages this way.
#pragma once

#include "FaxPage.h"
#include "PackedDib.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace folio {

// The rows of `page`, top-down, `stride` bytes apart: its bitmap's, or a
// parked page's read into `scratch` without unparking it, so that a long
// document is never whole in memory.
inline const std::uint8_t* RowsToCode(const PageImage& page, std::vector<std::uint8_t>& scratch,
                                      std::size_t& stride) {
    if (page.Parked()) {
        stride = DibRowStride(DWORD(page.Width()), 1);
        scratch.resize(stride * std::size_t(page.Height()));
        page.ReadRows(scratch.data(), std::ptrdiff_t(stride), false);
        return scratch.data();
    }
    stride = std::size_t(page.Picture().Stride());
    return page.Picture().Bits();
}

} // namespace folio
