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

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace folio {

class Typeface;
struct FaceMetrics;
struct Glyph;

class TextRenderer {
  public:
    TextRenderer();
    ~TextRenderer();

    // `codePage` is the code page for DEFAULT_CHARSET (0 = the ANSI code page).
    void TextOut(Bitmap& target, const Font& font, std::uint16_t codePage, TColor brush, int x,
                 int y, std::string_view text);
    int TextWidth(const Font& font, std::uint16_t codePage, std::string_view text);
    int TextHeight(const Font& font, std::uint16_t codePage, std::string_view text);

    // The metrics of the typeface that `font` selects.
    const FaceMetrics& Metrics(const Font& font);
    // The typeface that `font` selects (tests and diagnostics).
    const Typeface& Face(const Font& font);

    // The pixel size asked of the typeface for a Font size: > 0 an em, < 0 a
    // cell height, clamped to kMaxPixelSize.
    static int PixelSize(int points);

  private:
    Typeface& select(const Font& font);
    // Decodes the characters of `text` from byte `pos` on, at most a chunk
    // of them, into codes_ and fetches their glyphs into glyphs_, so that a
    // text of any length takes bounded memory. Returns the byte position
    // after them.
    std::size_t layoutChunk(Typeface& face, std::uint16_t codePage, std::string_view text,
                            std::size_t pos);
    // The total advance of `text`, saturated to the int range.
    int measure(Typeface& face, std::uint16_t codePage, std::string_view text);

    std::shared_ptr<Typeface> face_;
    std::string name_;
    int size_ = 0;
    FontStyles styles_ = 0;
    bool haveFace_ = false;
    std::vector<char32_t> codes_;
    std::vector<const Glyph*> glyphs_;
};

} // namespace folio
