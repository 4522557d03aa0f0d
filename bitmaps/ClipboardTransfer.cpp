// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Copy and paste of DIBs through the clipboard. The copy puts a new DIB
// (CF_DIB) and a palette (CF_PALETTE: the colour table, or the 256-colour cube
// for 24-bit pictures) on the clipboard; the paste hands out a new DIB made
// from the clipboard's. Neither the caller's block nor the clipboard's ever
// changes hands, and a clipboard DIB outside the model is refused rather
// than copied, so a copy never runs past the block it fills.
#include "Dib.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// Copies a checked DIB's header, colour table and pixels into a new block of
// the same size and depth; null if it cannot be made.
HGLOBAL CopyDib(const rastrum::LockedDib& source, const PaletteTriple* palette) {
    const rastrum::DibLayout& layout = source.layout();
    HGLOBAL copy = folio::PackDib(layout.width, layout.height, palette, layout.bitCount);
    if (!copy)
        return nullptr;
    auto* bytes = static_cast<std::uint8_t*>(GlobalLock(copy));
    if (!bytes || layout.totalBytes > GlobalSize(copy)) {
        if (bytes)
            GlobalUnlock(copy);
        GlobalFree(copy);
        return nullptr;
    }
    std::memcpy(bytes, source.data(), layout.totalBytes);
    GlobalUnlock(copy);
    return copy;
}

WORD Copy(HWND owner, HGLOBAL dib) {
    rastrum::LockedDib picture(dib);
    if (!picture)
        return 0;
    PaletteTriple palette[256];
    rastrum::ExtractPalette(picture, palette);
    HGLOBAL copy = CopyDib(picture, palette);
    if (!copy)
        return 0;

    const WORD depth = picture.layout().bitCount;
    const unsigned n = depth == 24 ? 256 : 1u << depth;
    if (depth == 24)
        rastrum::BuildColorCubePalette(palette);
    HPALETTE logical = nullptr;
    try {
        std::vector<std::uint8_t> buffer(8 + 4 * std::size_t(n));
        auto* description = reinterpret_cast<LOGPALETTE*>(buffer.data());
        description->palVersion = 0x300;
        description->palNumEntries = WORD(n);
        for (unsigned i = 0; i < n; ++i)
            description->palPalEntry[i] =
                PALETTEENTRY{palette[i].red, palette[i].green, palette[i].blue, 0};
        logical = CreatePalette(description);
    } catch (...) {
        logical = nullptr;
    }
    if (!logical) {
        GlobalFree(copy);
        return 0;
    }

    if (!OpenClipboard(owner)) {
        // Nobody took them: they are still ours to release.
        GlobalFree(copy);
        DeleteObject(logical);
        return 0;
    }
    EmptyClipboard();
    if (!SetClipboardData(CF_DIB, copy)) {
        // A palette without its picture is of no use to anyone.
        GlobalFree(copy);
        DeleteObject(logical);
        CloseClipboard();
        return 0;
    }
    const bool palettePlaced = SetClipboardData(CF_PALETTE, logical) != nullptr;
    if (!palettePlaced)
        DeleteObject(logical);
    CloseClipboard();
    return palettePlaced ? 1 : 0;
}

HGLOBAL Paste(HWND owner) {
    if (!IsClipboardFormatAvailable(CF_DIB))
        return nullptr;
    // Only a clipboard this call opened is closed again.
    if (!OpenClipboard(owner))
        return nullptr;
    HGLOBAL result = nullptr;
    {
        rastrum::LockedDib held(GetClipboardData(CF_DIB));
        if (held)
            result = CopyDib(held, nullptr);
    }
    CloseClipboard();
    return result;
}

} // namespace

extern "C" {

WORD CopyPictureToClipboard(HWND owner, HGLOBAL dib) {
    try {
        return Copy(owner, dib);
    } catch (...) {
        return 0;
    }
}

HGLOBAL PastePictureFromClipboard(HWND owner) {
    try {
        return Paste(owner);
    } catch (...) {
        return nullptr;
    }
}

} // extern "C"
