// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The CCITT Group 4 (Modified Modified READ) encoder for TIFF pages
// (Group4Options 0): every row coded against the row above it, the first
// against a white row, with no EOLs; the page ends with the end-of-block
// code (two EOLs) and zero bits to the byte. Bits go out most significant
// first (FillOrder 1). The output is what libtiff's own encoder writes for
// the same page, only faster.
#pragma once

#include "PageBlock.h"

#include <cstdint>
#include <vector>

namespace folio::tiflib {

// Replaces the contents of `out` with the coded page (one strip). Throws
// std::bad_alloc when the output cannot be held.
void EncodeG4(const PageView& page, std::vector<std::uint8_t>& out);

} // namespace folio::tiflib
