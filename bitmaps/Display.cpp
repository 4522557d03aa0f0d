// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Display of a DIB on a device context, and the library's version and notice.
// At 8 bits or less the DIB's own colour table becomes a logical palette,
// selected and realized for the drawing so that a palette device shows the
// picture's colours, and taken out of the device context again afterwards.
#include "Dib.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

constexpr WORD kLibraryVersion = 0x0100;
constexpr char kCopyright[] =
    "Rastrum DIB library 1.0. Copyright (C) The Folioset developers. "
    "Dithering, display, printing and clipboard transfer of device-independent bitmaps.";

// A logical palette of the first n colour-table entries.
HPALETTE PaletteFromColourTable(const std::uint8_t* table, DWORD n) {
    std::vector<std::uint8_t> buffer(8 + 4 * std::size_t(n));
    auto* logical = reinterpret_cast<LOGPALETTE*>(buffer.data());
    logical->palVersion = 0x300;
    logical->palNumEntries = WORD(n);
    for (DWORD i = 0; i < n; ++i) {
        // RGBQUAD is blue, green, red; a palette entry red, green, blue, flags.
        logical->palPalEntry[i] = PALETTEENTRY{table[4 * i + 2], table[4 * i + 1], table[4 * i], 0};
    }
    return CreatePalette(logical);
}

WORD Show(HDC dc, HGLOBAL dib, WORD x, WORD y) {
    rastrum::LockedDib picture(dib);
    if (!picture || GetDeviceCaps(dc, HORZRES) <= 0)
        return 0;
    const rastrum::DibLayout& layout = picture.layout();

    HPALETTE created = nullptr;
    HPALETTE previous = nullptr;
    if (layout.bitCount <= 8) {
        try {
            created =
                PaletteFromColourTable(picture.data() + sizeof(BITMAPINFOHEADER), layout.colours);
        } catch (...) {
            return 0; // the LOGPALETTE could not be allocated
        }
        // A palette that cannot be made or selected only costs colour fidelity.
        if (created)
            previous = SelectPalette(dc, created, 0);
        if (previous)
            RealizePalette(dc);
    }

    // Source rectangle from (x, -y) counted from the lower-left corner: the
    // pixel x columns from the left and y rows from the top lands at (0, 0).
    bool drawn = true;
    if (layout.width && layout.height)
        drawn =
            SetDIBitsToDevice(dc, 0, 0, layout.width, layout.height, x, -int(y), 0, layout.height,
                              picture.bits(), picture.info(), DIB_RGB_COLORS) != 0;

    // Back to the previous palette before ours is deleted: a palette still
    // selected into a device context must not go away under it.
    if (previous)
        SelectPalette(dc, previous, 0);
    if (created)
        DeleteObject(created);
    return drawn ? 1 : 0;
}

} // namespace

extern "C" {

WORD ShowDib(HDC dc, HGLOBAL dib, WORD x, WORD y) {
    try {
        return Show(dc, dib, x, y);
    } catch (...) {
        return 0;
    }
}

WORD GetDibLibraryVersion() {
    return kLibraryVersion;
}

LPCSTR GetDibCopyright() {
    return kCopyright;
}

} // extern "C"
