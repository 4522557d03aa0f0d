// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Text for one canvas: turns the canvas Font into a typeface, the bytes of a
// text into characters (through the code page of the font's character set)
// and sets their glyphs on a bitmap with the GDI text model: the cell is
// filled with the brush, glyph bits are set black with the baseline at
// y + ascent, underline and strike-out bands run across the whole cell.
// Sizes: a Font size s > 0 points is an em of round(s * 96 / 72) pixels; 0 is
// the default size; s < 0 asks for a cell height (ascent + descent) of
// round(-s * 96 / 72) pixels, as a positive height does on the platform.
// Ems beyond kMaxPixelSize are set at that size. A renderer belongs to one
// canvas and is not shared between threads; the typefaces behind it are.
#pragma once

#include "Bitmap.h"
#include "Font.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace folio {

class Typeface;
struct FaceMetrics;
struct TextTally;
struct Glyph;

class TextRenderer {
  public:
    TextRenderer();
    ~TextRenderer();

    // `codePage` is the code page for DEFAULT_CHARSET (0 = the ANSI code page).
    void TextOut(Bitmap& target, const Font& font, std::uint16_t codePage, TColor brush, int x,
                 int y, std::string_view text);
    int TextWidth(const Font& font, std::uint16_t codePage, std::string_view text);
    // Canvas::TextOutCharacters and Canvas::TextWidthCharacters.
    int TextOutCharacters(Bitmap& target, const Font& font, std::uint16_t codePage, TColor brush,
                          int x, int y, std::string_view text, std::uint16_t stepCodePage);
    int TextWidthCharacters(const Font& font, std::uint16_t codePage, std::string_view text,
                            std::uint16_t stepCodePage);
    int TextHeight(const Font& font, std::uint16_t codePage, std::string_view text);
    int CapHeight(const Font& font);

    // Where the drawing calls count characters set without a glyph or from
    // bytes that form no character (null: nowhere).
    void SetTally(TextTally* tally) { tally_ = tally; }
    // The canvas drew other than text (lines, boxes, pictures), or made the
    // whole bitmap white (for the overlap check).
    void OtherInk() { otherInk_ = true; }
    void PaperCleared();

    // The metrics of the typeface that `font` selects.
    const FaceMetrics& Metrics(const Font& font);
    // The typeface that `font` selects (tests and diagnostics).
    const Typeface& Face(const Font& font);

    // The pixel size asked of the typeface for a Font size: > 0 an em, < 0 a
    // cell height, clamped to kMaxPixelSize.
    static int PixelSize(int points);

  private:
    Typeface& select(const Font& font);
    // select, and the byte table made ready for the code page `cp`.
    Typeface& prepare(const Font& font, std::uint16_t cp);
    // The glyph of a text's byte `b` that stands for a character alone
    // (not the start of a longer sequence), through the byte table.
    const Glyph* byteGlyph(Typeface& face, std::uint8_t b);
    // Decodes the characters of `text` from byte `pos` on, at most a chunk
    // of them, into codes_ and fetches their glyphs into glyphs_, so that a
    // text of any length takes bounded memory. Returns the byte position
    // after them.
    std::size_t layoutChunk(Typeface& face, std::uint16_t codePage, std::string_view text,
                            std::size_t pos);
    // The total advance of `text`, saturated to the int range.
    int measure(Typeface& face, std::uint16_t codePage, std::string_view text);
    // One TextOut of `text` with the face prepared: the cell, the glyphs,
    // then the underline and strike-out bands.
    // `cells`: the text's cells are filled (black when `dark`) before its
    // glyphs are set; without them the glyphs are laid over what is there.
    void draw(Bitmap& target, Typeface& face, std::uint16_t cp, const Font& font, bool dark,
              bool cells, std::int64_t x0, std::int64_t y0, std::string_view text);
    void bands(Bitmap& target, const FaceMetrics& m, FontStyles style, std::int64_t x0,
               std::int64_t x1, std::int64_t baseline);

    std::shared_ptr<Typeface> face_;
    std::string name_;
    int size_ = 0;
    FontStyles styles_ = 0;
    bool haveFace_ = false;
    std::vector<const Glyph*> glyphs_;
    // TextOutCharacters' run of glyphs waiting to be set, with their pens.
    std::vector<std::pair<const Glyph*, int>> runGlyphs_;
    // The glyph of each byte that is a character by itself, for the face and
    // code page they were looked up in (null: not yet looked up); a text's
    // characters then cost one array look-up each, without decoding, locks
    // or hashing. `sequence_` marks the bytes that may start a character of
    // more than one byte (lead bytes, UTF-8 above 0x7F); those are decoded.
    const Typeface* tableFace_ = nullptr;
    std::uint16_t tableCodePage_ = 0;
    bool tableValid_ = false;
    const Glyph* byteGlyphs_[256] = {};
    bool sequence_[256] = {};
    // For each byte of byteGlyphs_ looked up: 1 when its glyph is the
    // face's missing glyph, 2 when it forms no character in the code page.
    std::uint8_t byteTrouble_[256] = {};
    TextTally* tally_ = nullptr;
    // Set while draw() lays out, so that layoutChunk counts for the tally
    // when drawing and not when measuring.
    bool drawing_ = false;
    void count(std::uint8_t trouble, char32_t code, std::uint8_t byte);

    // Overlap checks, made only while a tally is attached. A cell filled
    // white is scanned for black pixels as it is filled; ink that recent glyphs
    // and bands of this renderer set outside their own cells (an italic
    // overhang, a descender below the cell) is remembered here and not
    // counted, as the text's own.
    struct InkBox {
        std::int64_t x0, y0, x1, y1; // [x0, x1) x [y0, y1)
    };
    static constexpr int kSpills = 16;
    InkBox spills_[kSpills] = {};
    int spillCount_ = 0, spillNext_ = 0;
    void noteSpill(std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1);
    // Records the ink of `g` (pen and baseline as set) that leaves the cell
    // [pen, pen + advance) x [top, bottom).
    void noteGlyph(const Glyph& g, std::int64_t pen, std::int64_t baseline, std::int64_t top,
                   std::int64_t bottom);
    // Where the text cells so far lie: above textBottom_, or in the line
    // band [lineTop_, lineBottom_) left of lineRight_. A cell outside them
    // on a bitmap that nothing else drew on (otherInk_) covers only white
    // paper and the text's own overhangs, and is not scanned.
    std::int64_t textBottom_ = INT64_MIN, lineTop_ = 0, lineBottom_ = INT64_MIN,
                 lineRight_ = INT64_MIN;
    bool otherInk_ = false;
    // Whether the cell lies on fresh paper; notes it as text.
    bool onFreshPaper(std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1);
    // Fills a text cell with the brush, counting black pixels it covers.
    void fillCell(Bitmap& target, std::int64_t x0, std::int64_t y0, std::int64_t x1,
                  std::int64_t y1, bool dark);
};

} // namespace folio
