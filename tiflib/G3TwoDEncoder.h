// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The CCITT Group 3 two-dimensional (Modified READ) encoder for TIFF Class F
// pages (Group3Options 5: two-dimensional coding and fill bits). Rows come in
// groups of K: the first of each group is coded by its runs, the others
// against the row above. Every row starts with an EOL placed so that it ends
// on a byte boundary, followed by a tag bit: 1 before a row coded by its
// runs, 0 before one coded against the row above. No RTC at the end; bits go
// out most significant first (FillOrder 1). The output is what libtiff's own
// encoder writes for the same page and K, only faster.
#pragma once

#include "PageBlock.h"

#include <cstdint>
#include <vector>

namespace folio::tiflib {

// Replaces the contents of `out` with the coded page (one strip), in groups
// of `rowsPerGroup` (K, at least 1) rows. Throws std::bad_alloc when the
// output cannot be held.
void EncodeG3TwoD(const PageView& page, std::uint32_t rowsPerGroup, std::vector<std::uint8_t>& out);

} // namespace folio::tiflib
