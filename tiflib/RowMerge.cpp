// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Merging row pairs a 64-bit word at a time; rows are a multiple of 4 bytes
// long, so a row ends with at most one 32-bit word, taken bytewise.
#include "RowMerge.h"

#include <cstring>

namespace folio::tiflib {

namespace {

// to = upper | lower, `bytes` of each; `to` may be `upper`.
void orRows(std::uint8_t* to, const std::uint8_t* upper, const std::uint8_t* lower,
            std::size_t bytes) {
    std::size_t i = 0;
    for (; i + 8 <= bytes; i += 8) {
        std::uint64_t a, b;
        std::memcpy(&a, upper + i, 8);
        std::memcpy(&b, lower + i, 8);
        a |= b;
        std::memcpy(to + i, &a, 8);
    }
    for (; i < bytes; ++i)
        to[i] = std::uint8_t(upper[i] | lower[i]);
}

} // namespace

PageView MergeRowPairs(const PageView& fine, std::vector<std::uint8_t>& storage) {
    const std::uint32_t rows = MergedRows(fine.height);
    const std::size_t bytes = fine.rowBytes;
    storage.resize(bytes * rows);
    for (std::uint32_t y = 0; y < rows; ++y) {
        const std::uint8_t* upper = fine.row(2 * y);
        std::uint8_t* to = storage.data() + bytes * y;
        if (2 * y + 1 >= fine.height) {
            std::memcpy(to, upper, bytes);
            continue;
        }
        orRows(to, upper, fine.row(2 * y + 1), bytes);
    }
    // An odd last row joins the last pair.
    if (fine.height > 1 && fine.height % 2)
        orRows(storage.data() + bytes * (rows - 1), storage.data() + bytes * (rows - 1),
               fine.row(fine.height - 1), bytes);
    PageView merged;
    merged.width = fine.width;
    merged.height = rows;
    merged.top = storage.data();
    merged.step = std::ptrdiff_t(bytes);
    merged.rowBytes = bytes;
    return merged;
}

} // namespace folio::tiflib
