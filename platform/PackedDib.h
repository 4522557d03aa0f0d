// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The one routine that creates packed DIB blocks, built into every library
// that hands DIBs across its boundary (the engine's TIFF output and Rastrum).
#pragma once

#include "DibTypes.h"
#include "GlobalMemory.h"

#include <cstdint>

namespace folio {

// Depth rule for new DIBs: 1 stays 1, 2..4 -> 4, 5..8 -> 8, anything else -> 24.
WORD NormalizeBitCount(WORD bitCount);

// Bytes in one row of a DIB: width * bitCount bits rounded up to 32 bits.
inline DWORD DibRowStride(DWORD width, DWORD bitCount) {
    return DWORD((std::uint64_t(width) * bitCount + 31) / 32 * 4);
}

// Allocates a zeroed packed DIB of width x height (16-bit quantities, rows
// bottom-up) at NormalizeBitCount(bitCount). With a palette, as many triples
// as the colour table holds (2, 16 or 256) are copied into it; without, the
// table stays zero. Returns the unlocked block, or null with nothing leaked.
HGLOBAL PackDib(WORD width, WORD height, const PaletteTriple* palette, WORD bitCount);

} // namespace folio
