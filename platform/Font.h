// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// A canvas font as the engine sees it: face name, size in points, style set,
// character set and colour. Only state; the text module turns it into glyphs.
#pragma once

// The installed C++ headers need C++20 (std::span, defaulted comparisons):
// compile with -std=c++20 or later, which the CMake targets Folioset::* ask
// for. An older standard stops here with one message, not a page of errors.
#if __cplusplus < 202002L
#error "Folioset's C++ headers need C++20: compile with -std=c++20 or later"
#else

// For clients of libfoliolib.so: installed because FaxImage.h needs the
// style set (FaxImage::FontStyle, the FontStyles bits below) and the colour
// constants, which a client may use; everything here is declarations and
// constants, no function to link.

#include <cstdint>
#include <string>

namespace folio {

// Colours as 0x00BBGGRR, the platform's layout.
using TColor = std::uint32_t;
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;
// No colour: text set with a brush of it has no cells (it is laid over what
// is there); a filled shape takes it as white. Outside the 24-bit colours.
inline constexpr TColor clNone = 0x1FFFFFFF;

// A monochrome surface takes a colour as black when its luminance is below
// half (ITU-R BT.601 weights, in thousandths).
inline bool IsDarkColor(TColor c) {
    unsigned r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
    return 299 * r + 587 * g + 114 * b < 128 * 1000;
}

// Style set, one bit each.
enum FontStyleBit : std::uint8_t {
    fsBold = 1,
    fsItalic = 2,
    fsUnderline = 4,
    fsStrikeOut = 8,
};
using FontStyles = std::uint8_t;

// Windows character-set identifiers.
enum Charset : std::uint8_t {
    ANSI_CHARSET = 0,
    DEFAULT_CHARSET = 1,
    SYMBOL_CHARSET = 2,
    MAC_CHARSET = 77,
    SHIFTJIS_CHARSET = 128,
    HANGEUL_CHARSET = 129,
    JOHAB_CHARSET = 130,
    GB2312_CHARSET = 134,
    CHINESEBIG5_CHARSET = 136,
    GREEK_CHARSET = 161,
    TURKISH_CHARSET = 162,
    VIETNAMESE_CHARSET = 163,
    HEBREW_CHARSET = 177,
    ARABIC_CHARSET = 178,
    BALTIC_CHARSET = 186,
    RUSSIAN_CHARSET = 204,
    THAI_CHARSET = 222,
    EASTEUROPE_CHARSET = 238,
    OEM_CHARSET = 255,
};

// The platform's default font, which a new canvas starts with.
inline constexpr const char* kDefaultFontName = "MS Sans Serif";
inline constexpr int kDefaultFontSize = 8;

struct Font {
    std::string Name = kDefaultFontName;
    // Points. 0 means the default size. A positive size is the em (a
    // character height of round(size * 96 / 72) pixels); a negative size asks
    // for a cell height (ascent + descent) of round(-size * 96 / 72) pixels
    // instead, as a positive font height does on the platform.
    int Size = kDefaultFontSize;
    FontStyles Style = 0;
    std::uint8_t Charset = DEFAULT_CHARSET;
    TColor Color = clBlack;

    bool operator==(const Font&) const = default;
};

} // namespace folio

#endif // C++20
