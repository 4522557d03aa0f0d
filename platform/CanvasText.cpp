// Canvas text calls, handed to the text renderer for the canvas font.
// Placeholder metrics until the font module lands: a fixed cell per byte.
#include "Canvas.h"
#include "TextRenderer.h"

namespace folio {

namespace {
int cellHeight(const Font& f) { return f.Size > 0 ? f.Size * 96 / 72 + 4 : 15; }
int cellWidth(const Font& f) { return cellHeight(f) / 2; }
} // namespace

void TextRenderer::TextOut(Bitmap& target, const Font& font, TColor brush, int x, int y,
                           std::string_view text) {
    int w = TextWidth(font, text), h = TextHeight(font, text);
    target.FillRect(x, y, x + w, y + h, IsDarkColor(brush));
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] != ' ')
            target.FillRect(x + int(i) * cellWidth(font) + 1, y + 2,
                            x + int(i + 1) * cellWidth(font) - 1, y + h - 2, true);
}
int TextRenderer::TextWidth(const Font& font, std::string_view text) {
    return int(text.size()) * cellWidth(font);
}
int TextRenderer::TextHeight(const Font& font, std::string_view) { return cellHeight(font); }

void Canvas::TextOut(int x, int y, std::string_view text) {
    if (!text_)
        text_ = std::make_unique<TextRenderer>();
    text_->TextOut(bitmap_, Font, BrushColor, x, y, text);
}
int Canvas::TextWidth(std::string_view text) {
    if (!text_)
        text_ = std::make_unique<TextRenderer>();
    return text_->TextWidth(Font, text);
}
int Canvas::TextHeight(std::string_view text) {
    if (!text_)
        text_ = std::make_unique<TextRenderer>();
    return text_->TextHeight(Font, text);
}

} // namespace folio
