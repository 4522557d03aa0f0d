// Canvas text: the canvas's TextOut, TextWidth and TextHeight, and the text
// renderer behind them, which decodes bytes, lays glyphs out by their
// advances (no kerning) and blits cached glyph bitmaps onto the 1-bit page.
// All page coordinates are worked in 64 bits and clipped before any loop.
#include "Canvas.h"
#include "CodePage.h"
#include "FontLibrary.h"
#include "TextRenderer.h"

#include <algorithm>
#include <climits>

namespace folio {

namespace {

// ORs a 1-bit image (`pitch` bytes a row, leftmost pixel in the top bit) with
// its top-left corner at (x, y) into `dst`, clipped to dst. Only the bits of
// columns on dst are kept, so dst's row padding stays clear.
void blitOr(Bitmap& dst, std::int64_t x, std::int64_t y, const std::uint8_t* bits, int pitch, int w,
            int h) {
    if (x >= 0 && y >= 0 && x + w <= dst.Width() && y + h <= dst.Height()) {
        // Wholly on the bitmap, the common case: no masks. The image's set
        // bits lie in its first w columns, so all of them land on the bitmap
        // (its padding bits are clear), and the carry byte row[n] is written
        // only when it holds set bits.
        const int shift = int(x & 7);
        const std::size_t stride = std::size_t(dst.Stride());
        std::uint8_t* row = dst.Row(int(y)) + (x >> 3);
        const int n = (w + 7) / 8;
        for (int r = 0; r < h; ++r, row += stride, bits += pitch) {
            if (shift == 0) {
                for (int j = 0; j < n; ++j)
                    row[j] |= bits[j];
            } else {
                unsigned carry = 0;
                for (int j = 0; j < n; ++j) {
                    const unsigned v = bits[j];
                    row[j] |= std::uint8_t(carry | (v >> shift));
                    carry = (v << (8 - shift)) & 0xFF;
                }
                if (carry)
                    row[n] |= std::uint8_t(carry);
            }
        }
        return;
    }
    const std::int64_t c0 = std::max<std::int64_t>(0, -x);
    const std::int64_t c1 = std::min<std::int64_t>(w, std::int64_t(dst.Width()) - x);
    const std::int64_t r0 = std::max<std::int64_t>(0, -y);
    const std::int64_t r1 = std::min<std::int64_t>(h, std::int64_t(dst.Height()) - y);
    if (c0 >= c1 || r0 >= r1)
        return;
    const std::int64_t j0 = c0 >> 3, j1 = (c1 - 1) >> 3;
    const std::uint8_t firstMask = std::uint8_t(0xFF >> (c0 & 7));
    const std::uint8_t lastMask = std::uint8_t(0xFF << (7 - ((c1 - 1) & 7)));
    // Source byte j covers target columns x + 8j ..; the target byte and
    // the shift of its first bit are the same for every row.
    const std::int64_t base = x + 8 * j0;
    const int shift = int(base & 7);
    std::int64_t byte0 = (base - shift) / 8; // floor(base / 8)
    const std::int64_t stride = dst.Stride();
    for (std::int64_t r = r0; r < r1; ++r) {
        const std::uint8_t* src = bits + r * pitch;
        std::uint8_t* row = dst.Row(int(y + r));
        for (std::int64_t j = j0; j <= j1; ++j) {
            unsigned v = src[j];
            if (j == j0)
                v &= firstMask;
            if (j == j1)
                v &= lastMask;
            if (!v)
                continue;
            const std::int64_t b = byte0 + (j - j0);
            // Clipping guarantees that set bits land on columns of dst.
            if (b >= 0 && b < stride)
                row[b] |= std::uint8_t(v >> shift);
            if (shift && b + 1 >= 0 && b + 1 < stride)
                row[b + 1] |= std::uint8_t(v << (8 - shift));
        }
    }
}

// Fills [x0, x1) x [y0, y1), given in 64 bits, clipped to the bitmap. Text
// cells are narrow and many, so the rows are walked here with the masks
// worked out once.
void fill(Bitmap& dst, std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1,
          bool black) {
    x0 = std::max<std::int64_t>(x0, 0);
    y0 = std::max<std::int64_t>(y0, 0);
    x1 = std::min<std::int64_t>(x1, dst.Width());
    y1 = std::min<std::int64_t>(y1, dst.Height());
    if (x0 >= x1 || y0 >= y1)
        return;
    const std::int64_t first = x0 >> 3, last = (x1 - 1) >> 3;
    if (last - first > 8) {
        dst.FillRect(int(x0), int(y0), int(x1), int(y1), black);
        return;
    }
    std::uint8_t masks[10];
    for (std::int64_t b = first; b <= last; ++b) {
        unsigned m = 0xFF;
        if (b == first)
            m &= 0xFFu >> (x0 & 7);
        if (b == last)
            m &= 0xFFu << (7 - ((x1 - 1) & 7));
        masks[b - first] = std::uint8_t(m);
    }
    const int n = int(last - first) + 1;
    const std::size_t stride = std::size_t(dst.Stride());
    std::uint8_t* row = dst.Row(int(y0)) + first;
    for (std::int64_t y = y0; y < y1; ++y, row += stride) {
        if (black)
            for (int i = 0; i < n; ++i)
                row[i] |= masks[i];
        else
            for (int i = 0; i < n; ++i)
                row[i] &= std::uint8_t(~masks[i]);
    }
}

} // namespace

TextRenderer::TextRenderer() = default;
TextRenderer::~TextRenderer() = default;

int TextRenderer::PixelSize(int points) {
    if (points == 0)
        points = kDefaultFontSize;
    // round(|points| * 96 / 72); no half-way cases, as 96 / 72 = 4 / 3.
    const std::int64_t px = (std::abs(std::int64_t(points)) * 4 + 1) / 3;
    const int clamped = int(std::clamp<std::int64_t>(px, 1, kMaxPixelSize));
    return points > 0 ? clamped : -clamped;
}

Typeface& TextRenderer::select(const Font& font) {
    const FontStyles faceStyles = font.Style & (fsBold | fsItalic);
    if (!haveFace_ || font.Size != size_ || faceStyles != styles_ || font.Name != name_) {
        face_ = AcquireTypeface(font.Name, PixelSize(font.Size), faceStyles & fsBold,
                                faceStyles & fsItalic);
        name_ = font.Name;
        size_ = font.Size;
        styles_ = faceStyles;
        haveFace_ = true;
    }
    return *face_;
}

const FaceMetrics& TextRenderer::Metrics(const Font& font) {
    return select(font).Metrics();
}
const Typeface& TextRenderer::Face(const Font& font) {
    return select(font);
}

namespace {
// Characters decoded and looked up at a time.
constexpr std::size_t kChunk = 1024;

std::int64_t advances(const std::vector<const Glyph*>& glyphs) {
    std::int64_t sum = 0;
    for (const Glyph* g : glyphs)
        sum += g->advance;
    return sum;
}
} // namespace

std::size_t TextRenderer::layoutChunk(Typeface& face, std::uint16_t cp, std::string_view text,
                                      std::size_t pos) {
    codes_.clear();
    while (pos < text.size() && codes_.size() < kChunk) {
        const std::size_t len = CharLength(cp, text, pos);
        codes_.push_back(DecodeChar(cp, text.substr(pos, len)));
        pos += len;
    }
    glyphs_.resize(codes_.size());
    face.Glyphs(codes_.data(), codes_.size(), cp == kSymbolCodePage, glyphs_.data());
    return pos;
}

int TextRenderer::measure(Typeface& face, std::uint16_t cp, std::string_view text) {
    std::int64_t width = 0;
    for (std::size_t pos = 0; pos < text.size() && width < INT_MAX;) {
        pos = layoutChunk(face, cp, text, pos);
        width += advances(glyphs_);
    }
    return int(std::min<std::int64_t>(width, INT_MAX));
}

int TextRenderer::TextWidth(const Font& font, std::uint16_t codePage, std::string_view text) {
    return measure(select(font), CodePageOfCharset(font.Charset, codePage), text);
}

int TextRenderer::TextHeight(const Font& font, std::uint16_t, std::string_view) {
    const FaceMetrics& m = select(font).Metrics();
    return m.ascent + m.descent;
}

void TextRenderer::TextOut(Bitmap& target, const Font& font, std::uint16_t codePage, TColor brush,
                           int x, int y, std::string_view text) {
    Typeface& face = select(font);
    const std::uint16_t cp = CodePageOfCharset(font.Charset, codePage);
    const FaceMetrics& m = face.Metrics();
    // The cell first, so the whole text is measured before anything is drawn;
    // a text of one chunk keeps its glyphs for drawing.
    std::size_t next = layoutChunk(face, cp, text, 0);
    std::int64_t width = advances(glyphs_);
    if (next < text.size()) {
        width = measure(face, cp, text);
        next = layoutChunk(face, cp, text, 0);
    }
    width = std::min<std::int64_t>(width, INT_MAX);
    const std::int64_t x0 = x, y0 = y;
    const std::int64_t baseline = y0 + m.ascent;
    fill(target, x0, y0, x0 + width, y0 + m.ascent + m.descent, IsDarkColor(brush));
    if (target.Empty())
        return;
    // Glyph ink reaches at most a few ems left of its pen.
    const std::int64_t penLimit = std::int64_t(target.Width()) + 4 * std::int64_t(m.ppem) + 64;
    std::int64_t pen = x0;
    Typeface::Part part;
    for (;;) {
        for (const Glyph* g : glyphs_) {
            if (g->width > 0) {
                if (g->cached) {
                    blitOr(target, pen + g->left, baseline - g->top, g->bits.data(), g->pitch,
                           g->width, g->rows);
                } else {
                    face.RenderPart(*g, pen, baseline, target.Width(), target.Height(), part);
                    if (part.width > 0)
                        blitOr(target, part.x, part.y, part.bits.data(), part.pitch, part.width,
                               part.rows);
                }
            }
            pen += g->advance;
        }
        if (next >= text.size() || pen > penLimit)
            break;
        next = layoutChunk(face, cp, text, next);
    }
    if (font.Style & fsUnderline)
        fill(target, x0, baseline + m.underlineTop, x0 + width,
             baseline + m.underlineTop + m.underlineThickness, true);
    if (font.Style & fsStrikeOut)
        fill(target, x0, baseline + m.strikeTop, x0 + width,
             baseline + m.strikeTop + m.strikeThickness, true);
}

void Canvas::TextOut(int x, int y, std::string_view text) {
    if (!text_)
        text_ = std::make_unique<TextRenderer>();
    text_->TextOut(bitmap_, Font, CodePage, BrushColor, x, y, text);
}

int Canvas::TextWidth(std::string_view text) {
    if (!text_)
        text_ = std::make_unique<TextRenderer>();
    return text_->TextWidth(Font, CodePage, text);
}

int Canvas::TextHeight(std::string_view text) {
    if (!text_)
        text_ = std::make_unique<TextRenderer>();
    return text_->TextHeight(Font, CodePage, text);
}

} // namespace folio
