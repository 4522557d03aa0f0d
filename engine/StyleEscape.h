// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The style escapes inside text: a backslash and a letter, the capital
// letter switching a style on and the small letter switching it off.
#pragma once

#include "Font.h"

namespace folio {

// The style an escape letter names, or 0 for a letter that is no style
// escape. Strike-out (S, s) is an escape only where `withStrikeOut` says so.
inline FontStyles StyleOfEscape(char letter, bool withStrikeOut) {
    switch (letter) {
    case 'B':
    case 'b':
        return fsBold;
    case 'I':
    case 'i':
        return fsItalic;
    case 'U':
    case 'u':
        return fsUnderline;
    case 'S':
    case 's':
        return withStrikeOut ? fsStrikeOut : 0;
    default:
        return 0;
    }
}

// `style` after the escape letter (one StyleOfEscape accepts).
inline FontStyles ApplyStyleEscape(FontStyles style, char letter, bool withStrikeOut) {
    const FontStyles bit = StyleOfEscape(letter, withStrikeOut);
    return (letter >= 'A' && letter <= 'Z') ? FontStyles(style | bit) : FontStyles(style & ~bit);
}

} // namespace folio
