// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Packed DIB creation: header, colour table from palette triples, zero pixels.
#include "PackedDib.h"

#include <cstdint>
#include <cstring>

namespace folio {

WORD NormalizeBitCount(WORD bitCount) {
    if (bitCount == 1)
        return 1;
    if (bitCount >= 2 && bitCount <= 4)
        return 4;
    if (bitCount >= 5 && bitCount <= 8)
        return 8;
    return 24;
}

HGLOBAL PackDib(WORD width, WORD height, const PaletteTriple* palette, WORD bitCount) {
    const WORD depth = NormalizeBitCount(bitCount);
    const DWORD colours = depth <= 8 ? (DWORD(1) << depth) : 0;
    // At most 65535 x 65535 x 24 bits: about 12.9 GB, which GlobalAlloc's cap refuses.
    const std::uint64_t imageSize = std::uint64_t(DibRowStride(width, depth)) * height;
    const std::uint64_t total = sizeof(BITMAPINFOHEADER) + 4 * std::uint64_t(colours) + imageSize;
    if (imageSize > 0xFFFFFFFFu)
        return nullptr;

    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_DISCARDABLE, SIZE_T(total));
    if (!block)
        return nullptr;
    auto* bytes = static_cast<std::uint8_t*>(GlobalLock(block));
    if (!bytes) {
        GlobalFree(block);
        return nullptr;
    }

    BITMAPINFOHEADER header{};
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = depth;
    header.biCompression = BI_RGB;
    header.biSizeImage = DWORD(imageSize);
    header.biClrUsed = colours;
    header.biClrImportant = colours;
    std::memcpy(bytes, &header, sizeof header);

    if (palette) {
        auto* table = bytes + sizeof(BITMAPINFOHEADER);
        for (DWORD i = 0; i < colours; ++i) {
            RGBQUAD quad{palette[i].blue, palette[i].green, palette[i].red, 0};
            std::memcpy(table + 4 * i, &quad, sizeof quad);
        }
    }
    GlobalUnlock(block);
    return block;
}

} // namespace folio
