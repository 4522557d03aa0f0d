// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Drawing on a 1-bit bitmap with the platform's rules: a pen (1 pixel) for
// lines and outlines, a brush for fills, a font for text. Every operation
// clips to the bitmap before it loops, so any 32-bit coordinate is cheap.
#pragma once

// The installed C++ headers need C++20 (std::span, defaulted comparisons):
// compile with -std=c++20 or later, which the CMake targets Folioset::* ask
// for. An older standard stops here with one message, not a page of errors.
#if __cplusplus < 202002L
#error "Folioset's C++ headers need C++20: compile with -std=c++20 or later"
#else

// For clients of libfoliolib.so: installed because the engine's headers need
// the types; the canvas's members are the library's own and not exported (a
// client that calls one fails to link).

#include "Bitmap.h"
#include "Font.h"

#include <cstdint>
#include <memory>
#include <string_view>

namespace folio {

class TextRenderer;

// Characters that text calls could not set as the text asks, counted while a
// tally is attached to the canvas (the engine's diagnostics attach one).
struct TextTally {
    std::uint64_t noGlyph = 0; // characters the face has no glyph for
    char32_t firstNoGlyph = 0;
    std::uint64_t badBytes = 0; // characters whose bytes form none in the code page
    std::uint8_t firstBadByte = 0;
    std::uint16_t badCodePage = 0;
    // Text cells filled white over black pixels that were there before
    // (other text, lines, boxes, pictures): the first such pixel.
    std::uint64_t overlaps = 0;
    int firstOverlapX = 0, firstOverlapY = 0;
};

class Canvas {
  public:
    explicit Canvas(Bitmap& bitmap);
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    Bitmap& Target() { return bitmap_; }

    // Pen and brush colours; black or white on this surface (IsDarkColor).
    TColor PenColor = clBlack;
    TColor BrushColor = clWhite;
    // The text font. Changes take effect at the next text call.
    folio::Font Font;
    // The code page that text in a DEFAULT_CHARSET font is read in; 0 is the
    // system's ANSI code page (1252). The engine sets it from its CodePage.
    std::uint16_t CodePage = 0;
    // Where TextOut and TextOutCharacters count the characters they set
    // with the face's missing glyph or as a replacement character; null
    // counts nothing. Measuring never counts.
    TextTally* Tally = nullptr;

    void MoveTo(int x, int y) {
        penX_ = x;
        penY_ = y;
    }
    int PenX() const { return penX_; }
    int PenY() const { return penY_; }

    // A 1-pixel line in the pen colour from the pen position to (x, y); the
    // end point itself is left unset. The pen position moves to (x, y).
    void LineTo(int x, int y);

    // Fills [x1, x2) x [y1, y2) with the brush and outlines it with the pen
    // (the outline is the first and last row and column of that area).
    // Corners in any order.
    void Rectangle(int x1, int y1, int x2, int y2);

    // Copies `src` with its top-left corner at (x, y), white pixels included.
    void Draw(int x, int y, const Bitmap& src);

    // The overlap check of text (a tally attached) takes the bitmap for
    // one that holds only the text this canvas set: LineTo, Rectangle and
    // Draw tell it otherwise, and a Rectangle over the whole bitmap in white
    // makes it fresh. Whoever draws on the bitmap behind the canvas's back
    // calls OtherInk, or PaperCleared after making it all white.
    void OtherInk();
    void PaperCleared();

    // Text in Font: the cell [x, x + TextWidth) x [y, y + TextHeight) is
    // first filled with the brush, then the glyphs are set in black with the
    // baseline at y + ascent. Bytes become characters through the code page
    // of the font's character set.
    void TextOut(int x, int y, std::string_view text);
    int TextWidth(std::string_view text);
    int TextHeight(std::string_view text);
    // The height in pixels of the capital H in Font (its ink, not its
    // cell); 0 when the face has no H.
    int CapHeight();

    // The characters of `text` set one after another exactly as a TextOut
    // of each alone would set them, each at the pen the one before left
    // (x plus the TextWidth of the characters before, saturated to the int
    // range at every step). `stepCodePage` says where a character ends, as
    // CharNextExA does. Returns the pen after the last character. Characters
    // that stay within their own cells are set as one run: one fill, then
    // their glyphs.
    int TextOutCharacters(int x, int y, std::string_view text, std::uint16_t stepCodePage);
    // The pen TextOutCharacters(0, y, text, stepCodePage) would return,
    // without drawing.
    int TextWidthCharacters(std::string_view text, std::uint16_t stepCodePage);

  private:
    Bitmap& bitmap_;
    int penX_ = 0;
    int penY_ = 0;
    // Rendering state for Font, made on first use (text module).
    std::unique_ptr<TextRenderer> text_;
};

} // namespace folio

#endif // C++20
