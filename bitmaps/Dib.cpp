// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The DIB model: the check every block passes before a Rastrum function reads
// it, and the shared routines that copy DIBs and their colour tables. The
// check compares every size in the header with the block's real size, so no
// function reads or writes past a block whatever its header claims.
#include "Dib.h"

#include <array>
#include <cstring>

namespace rastrum {

bool ReadDibLayout(const std::uint8_t* block, SIZE_T blockSize, DibLayout& layout) {
    if (!block || blockSize < sizeof(BITMAPINFOHEADER))
        return false;
    BITMAPINFOHEADER h;
    std::memcpy(&h, block, sizeof h);
    if (h.biSize != sizeof(BITMAPINFOHEADER) || h.biCompression != BI_RGB)
        return false;
    if (h.biBitCount != 1 && h.biBitCount != 4 && h.biBitCount != 8 && h.biBitCount != 24)
        return false;
    if (h.biWidth < 0 || h.biWidth > 0xFFFF || h.biHeight < 0 || h.biHeight > 0xFFFF)
        return false;
    if (h.biBitCount <= 8) {
        if (h.biClrUsed == 0 || h.biClrUsed > (DWORD(1) << h.biBitCount))
            return false;
    } else if (h.biClrUsed != 0) {
        return false;
    }
    const DWORD stride = folio::DibRowStride(DWORD(h.biWidth), h.biBitCount);
    const std::uint64_t image = std::uint64_t(stride) * DWORD(h.biHeight);
    if (h.biSizeImage != 0 && h.biSizeImage != image)
        return false;
    const std::uint64_t offset = sizeof(BITMAPINFOHEADER) + 4 * std::uint64_t(h.biClrUsed);
    if (offset + image > blockSize)
        return false;
    layout.width = WORD(h.biWidth);
    layout.height = WORD(h.biHeight);
    layout.bitCount = h.biBitCount;
    layout.colours = h.biClrUsed;
    layout.stride = stride;
    layout.bitsOffset = SIZE_T(offset);
    layout.imageBytes = SIZE_T(image);
    layout.totalBytes = SIZE_T(offset + image);
    return true;
}

LockedDib::LockedDib(HGLOBAL dib) : dib_(dib) {
    auto* data = static_cast<std::uint8_t*>(GlobalLock(dib));
    if (!data)
        return;
    if (!ReadDibLayout(data, GlobalSize(dib), layout_)) {
        GlobalUnlock(dib);
        return;
    }
    data_ = data;
}

void LockedDib::Release() {
    if (data_) {
        GlobalUnlock(dib_);
        data_ = nullptr;
    }
}

unsigned ExtractPalette(const LockedDib& dib, PaletteTriple out[256]) {
    std::memset(out, 0, 256 * sizeof(PaletteTriple));
    const DibLayout& layout = dib.layout();
    if (layout.bitCount > 8)
        return 0;
    const std::uint8_t* table = dib.data() + sizeof(BITMAPINFOHEADER);
    for (DWORD i = 0; i < layout.colours; ++i) {
        // RGBQUAD: blue, green, red, reserved.
        out[i] = PaletteTriple{table[4 * i + 2], table[4 * i + 1], table[4 * i]};
    }
    return unsigned(layout.colours);
}

HGLOBAL DuplicateDib(HGLOBAL source) {
    LockedDib src(source);
    if (!src)
        return nullptr;
    PaletteTriple palette[256];
    ExtractPalette(src, palette);
    const DibLayout& layout = src.layout();
    HGLOBAL copy = folio::PackDib(layout.width, layout.height, palette, layout.bitCount);
    if (!copy)
        return nullptr;
    LockedDib dst(copy);
    if (!dst || dst.layout().imageBytes != layout.imageBytes) {
        dst.Release();
        GlobalFree(copy);
        return nullptr;
    }
    std::memcpy(dst.bits(), src.bits(), layout.imageBytes);
    return copy;
}

namespace {

constexpr std::array<PaletteTriple, 256> MakeColorCube() {
    constexpr BYTE l8[8] = {32, 64, 96, 128, 160, 192, 224, 255};
    constexpr BYTE l4[4] = {64, 128, 192, 255};
    std::array<PaletteTriple, 256> cube{};
    for (int i = 0; i < 256; ++i)
        cube[i] = PaletteTriple{l8[i >> 5], l8[(i >> 2) & 7], l4[i & 3]};
    return cube;
}

// Built at compile time: callers on several threads share it without writing.
constexpr std::array<PaletteTriple, 256> kColorCube = MakeColorCube();

} // namespace

const PaletteTriple* BuildColorCubePalette(PaletteTriple* out) {
    if (out)
        std::memcpy(out, kColorCube.data(), sizeof kColorCube);
    return kColorCube.data();
}

} // namespace rastrum
