// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The CCITT Group 3 one-dimensional (Modified Huffman) encoder for TIFF Class
// F pages: every row is an EOL code placed so that it ends on a byte boundary
// (the fill-bit form, Group3Options 4), followed by the row's alternating
// white and black run lengths; no RTC at the end. Bits go out most
// significant first (FillOrder 1). The output is what libtiff's own encoder
// writes for the same page in that mode, only faster.
#pragma once

#include "PageBlock.h"

#include <cstdint>
#include <vector>

namespace folio::tiflib {

// Replaces the contents of `out` with the coded page (one strip). Throws
// std::bad_alloc when the output cannot be held.
void EncodeG3OneD(const PageView& page, std::vector<std::uint8_t>& out);

} // namespace folio::tiflib
