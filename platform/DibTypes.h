// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The Windows DIB records, byte for byte as they sit in a packed DIB block:
// a 40-byte BITMAPINFOHEADER, then RGBQUAD colour entries (blue, green, red,
// reserved), then the pixel rows bottom-up, each padded to 4 bytes. All
// numbers are little-endian, which is also this machine's order.
#pragma once

#include <cstdint>

typedef std::uint8_t BYTE;
typedef std::uint16_t WORD;
typedef std::uint32_t DWORD;
typedef std::int32_t LONG;

#pragma pack(push, 1)
struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};

struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};

// A palette entry as palettes travel between routines: red, green, blue.
struct PaletteTriple {
    BYTE red;
    BYTE green;
    BYTE blue;
};
#pragma pack(pop)

static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(sizeof(RGBQUAD) == 4);
static_assert(sizeof(PaletteTriple) == 3);

enum : DWORD { BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3 };
