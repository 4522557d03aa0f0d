// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Normal resolution (98 rows per inch) from a fine page (196): each pair of
// rows becomes one, a pixel black when it is black in either row, so that no
// black pixel is lost (a one-pixel line on either row of a pair stays). A
// last row without a partner joins the pair above it, so that a page is half
// its fine length, rounded down, as a fax machine gives it (Letter: 2151
// fine rows, 1075 normal ones); a page of one row stays one row.
#pragma once

#include "PageBlock.h"

#include <cstdint>
#include <vector>

namespace folio::tiflib {

// Rows of the result for a page of `fineRows` rows.
inline std::uint32_t MergedRows(std::uint32_t fineRows) {
    return fineRows < 2 ? fineRows : fineRows / 2;
}

// The merged page of `fine`, its rows top-down in `storage` (rowBytes each,
// as in `fine`). Throws std::bad_alloc when the rows cannot be held.
PageView MergeRowPairs(const PageView& fine, std::vector<std::uint8_t>& storage);

} // namespace folio::tiflib
