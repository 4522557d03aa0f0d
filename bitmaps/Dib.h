// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The DIB model that every Rastrum function shares: checking a packed DIB
// block against the model, locking it for the length of a call, and the
// routines that copy and describe DIBs (DuplicateDib, ExtractPalette,
// BuildColorCubePalette). New DIBs are always made by folio::PackDib.
#pragma once

#include "PackedDib.h"
#include "rastrum.h"

#include <cstdint>

namespace rastrum {

// Where the parts of a checked DIB lie, in bytes from the block start.
struct DibLayout {
    WORD width = 0;
    WORD height = 0;
    WORD bitCount = 0;
    DWORD colours = 0;     // colour-table entries present (biClrUsed)
    DWORD stride = 0;      // bytes per row
    SIZE_T bitsOffset = 0; // 40 + 4 x colours
    SIZE_T imageBytes = 0; // stride x height
    SIZE_T totalBytes = 0; // bitsOffset + imageBytes: what a copy carries
};

// Checks the first blockSize bytes of a block against the model: biSize 40,
// BI_RGB, depth 1, 4, 8 or 24, width and height 0 to 65535, 1 to 2^depth
// colour entries at 8 bits or less and none at 24, biSizeImage 0 or
// stride x height, and all of it inside the block.
bool ReadDibLayout(const std::uint8_t* block, SIZE_T blockSize, DibLayout& layout);

// A DIB locked for the lifetime of the object. Converts to false when the
// handle cannot be locked or the block is outside the model; then nothing
// stays locked.
class LockedDib {
  public:
    explicit LockedDib(HGLOBAL dib);
    ~LockedDib() { Release(); }
    LockedDib(const LockedDib&) = delete;
    LockedDib& operator=(const LockedDib&) = delete;

    explicit operator bool() const { return data_ != nullptr; }
    void Release();

    const DibLayout& layout() const { return layout_; }
    std::uint8_t* data() const { return data_; }
    const BITMAPINFO* info() const { return reinterpret_cast<const BITMAPINFO*>(data_); }
    std::uint8_t* bits() const { return data_ + layout_.bitsOffset; }
    // Row y in memory order (row 0 is the bottom row of the picture).
    std::uint8_t* row(SIZE_T y) const { return bits() + y * layout_.stride; }

  private:
    HGLOBAL dib_;
    std::uint8_t* data_ = nullptr;
    DibLayout layout_;
};

// The colour table as palette triples: the entries present (at most 256),
// the rest of out set to black. Returns the number of entries present; 0 for
// a 24-bit DIB.
unsigned ExtractPalette(const LockedDib& dib, PaletteTriple out[256]);

// A new DIB with the same size, depth, colour table and pixels, or null.
HGLOBAL DuplicateDib(HGLOBAL source);

// The 256-colour cube: entry (r << 5) | (g << 2) | b holds (L8[r], L8[g],
// L4[b]) with L8 = 32, 64, ... 224, 255 and L4 = 64, 128, 192, 255. Copies it
// into out when given; returns the shared constant table.
const PaletteTriple* BuildColorCubePalette(PaletteTriple* out);

} // namespace rastrum
