// Text for the canvas: turns a Font into glyphs and sets them on a bitmap.
#pragma once

#include "Bitmap.h"
#include "Font.h"

#include <string_view>

namespace folio {

class TextRenderer {
  public:
    void TextOut(Bitmap& target, const Font& font, TColor brush, int x, int y,
                 std::string_view text);
    int TextWidth(const Font& font, std::string_view text);
    int TextHeight(const Font& font, std::string_view text);
};

} // namespace folio
