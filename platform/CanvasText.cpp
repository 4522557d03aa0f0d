// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
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
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <memory>
#include <string_view>
#include <vector>

namespace folio {

namespace {

// Page rows are runs of 32-bit words in memory (the stride is a multiple of
// 4), the leftmost pixel in the top bit of the first byte: a word read in
// big-endian order has its leftmost pixel in bit 31.
// Turns a mask written with the leftmost pixel in bit 31 into the number
// that has the same bits when stored to memory as it is.
inline std::uint32_t inMemoryOrder(std::uint32_t bigEndianMask) {
    return __builtin_bswap32(bigEndianMask);
}

// ORs a glyph of at most 32 columns (its rows as Glyph::rowWords) with its
// top-left corner at (x, y), wholly on dst. Each row lands on the word of
// its first column and, when it crosses into the next, that word too; the
// next word then holds set columns, so it lies inside the row.
void blitWords(Bitmap& dst, std::int64_t x, std::int64_t y, const std::uint32_t* rows, int width,
               int height) {
    const int shift = int(x & 31);
    const std::size_t stride = std::size_t(dst.Stride());
    std::uint8_t* at = dst.Row(int(y)) + 4 * (x >> 5);
    if (shift + width <= 32) {
        for (int r = 0; r < height; ++r, at += stride) {
            const std::uint32_t v = rows[r] >> shift;
            std::uint32_t w;
            std::memcpy(&w, at, 4);
            w |= __builtin_bswap32(v);
            std::memcpy(at, &w, 4);
        }
        return;
    }
    for (int r = 0; r < height; ++r, at += stride) {
        const std::uint64_t v = (std::uint64_t(rows[r]) << 32) >> shift;
        std::uint64_t w;
        std::memcpy(&w, at, 8);
        // The two words in memory order are the 64-bit value byte-swapped.
        w |= __builtin_bswap64(v);
        std::memcpy(at, &w, 8);
    }
}

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

// What fill() does with a row that holds black pixels in the area it is
// about to clear: nothing (fill alone), or a look at the row before it is
// cleared (the text overlap check, TextRenderer::fillCell).
struct NoInkCheck {
    static constexpr bool kActive = false;
    void operator()(std::int64_t, const std::uint8_t*) {}
};

// Sets (black) or clears the bits of `mask` in `rows` rows from `row` (page
// row y) on; before a row is cleared, onInk(its y, the row's words) learns
// that it had black pixels under the mask.
template <class Word, bool black, class OnInk>
inline void fillRows(std::uint8_t* row, std::size_t stride, std::int64_t y, std::int64_t rows,
                     Word mask, OnInk& onInk) {
    for (std::int64_t r = 0; r < rows; ++r, row += stride) {
        Word w;
        std::memcpy(&w, row, sizeof w);
        if constexpr (OnInk::kActive && !black)
            if (w & mask)
                onInk(y + r, row);
        w = black ? Word(w | mask) : Word(w & ~mask);
        std::memcpy(row, &w, sizeof w);
    }
}

// Fills [x0, x1) x [y0, y1), given in 64 bits, clipped to the bitmap. Text
// cells and runs of them are narrow and many: the masks of a row's end words
// are worked out once, and each row is its end words and whole words between
// them, written in place. `onInk` sees each row that held black pixels in
// the area as it was before it was cleared: its y and its words from the
// area's first on (NoInkCheck: none is looked at).
template <class OnInk = NoInkCheck>
void fill(Bitmap& dst, std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1,
          bool black, OnInk&& onInk = OnInk()) {
    x0 = std::max<std::int64_t>(x0, 0);
    y0 = std::max<std::int64_t>(y0, 0);
    x1 = std::min<std::int64_t>(x1, dst.Width());
    y1 = std::min<std::int64_t>(y1, dst.Height());
    if (x0 >= x1 || y0 >= y1)
        return;
    const std::int64_t first = x0 >> 5, last = (x1 - 1) >> 5;
    const std::int64_t n = last - first + 1;
    // Wide areas: whole rows of memory at a time.
    if (n > 32) {
        if constexpr (std::decay_t<OnInk>::kActive)
            if (!black)
                for (std::int64_t y = y0; y < y1; ++y)
                    onInk(y, dst.Row(int(y)) + 4 * first);
        dst.FillRect(int(x0), int(y0), int(x1), int(y1), black);
        return;
    }
    const std::uint32_t head = inMemoryOrder(~std::uint32_t(0) >> (x0 & 31));
    const std::uint32_t tail = inMemoryOrder(~std::uint32_t(0) << (31 - ((x1 - 1) & 31)));
    std::uint8_t* row = dst.Row(int(y0)) + 4 * first;
    const std::size_t stride = std::size_t(dst.Stride());
    const std::int64_t rows = y1 - y0;
    if (n == 1) {
        black ? fillRows<std::uint32_t, true>(row, stride, y0, rows, head & tail, onInk)
              : fillRows<std::uint32_t, false>(row, stride, y0, rows, head & tail, onInk);
        return;
    }
    if (n == 2) {
        // Two words side by side, as one access; in memory the first is the
        // low half.
        const std::uint64_t m = head | std::uint64_t(tail) << 32;
        black ? fillRows<std::uint64_t, true>(row, stride, y0, rows, m, onInk)
              : fillRows<std::uint64_t, false>(row, stride, y0, rows, m, onInk);
        return;
    }
    if constexpr (std::decay_t<OnInk>::kActive) {
        if (!black) {
            // Cleared in one pass: each row's words are kept as they were
            // for the look at a row that held black pixels.
            std::uint32_t saved[34];
            for (std::int64_t r = 0; r < rows; ++r, row += stride) {
                std::uint32_t w;
                std::memcpy(&w, row, 4);
                saved[0] = w;
                std::uint32_t any = w & head;
                w &= ~head;
                std::memcpy(row, &w, 4);
                for (std::int64_t k = 1; k + 1 < n; ++k) {
                    std::memcpy(&w, row + 4 * k, 4);
                    saved[k] = w;
                    any |= w;
                    w = 0;
                    std::memcpy(row + 4 * k, &w, 4);
                }
                std::memcpy(&w, row + 4 * (n - 1), 4);
                saved[n - 1] = w;
                any |= w & tail;
                w &= ~tail;
                std::memcpy(row + 4 * (n - 1), &w, 4);
                if (any)
                    onInk(y0 + r, reinterpret_cast<const std::uint8_t*>(saved));
            }
            return;
        }
    }
    const std::uint32_t whole = black ? ~std::uint32_t(0) : 0;
    for (std::int64_t r = 0; r < rows; ++r, row += stride) {
        std::uint32_t w;
        std::memcpy(&w, row, 4);
        w = black ? (w | head) : (w & ~head);
        std::memcpy(row, &w, 4);
        for (std::int64_t k = 1; k + 1 < n; ++k)
            std::memcpy(row + 4 * k, &whole, 4);
        std::memcpy(&w, row + 4 * (n - 1), 4);
        w = black ? (w | tail) : (w & ~tail);
        std::memcpy(row + 4 * (n - 1), &w, 4);
    }
}

// Calls `seen(x)` for the black pixels of row words `words` (word `first`
// of a page row and the n - 1 after it; the end words masked by `head` and
// `tail`, in memory order) from left to right, until it returns true;
// returns whether it did.
template <class Seen>
bool findBlack(const std::uint8_t* words, std::int64_t first, std::int64_t n, std::uint32_t head,
               std::uint32_t tail, Seen seen) {
    for (std::int64_t k = 0; k < n; ++k) {
        std::uint32_t w;
        std::memcpy(&w, words + 4 * k, 4);
        if (k == 0)
            w &= head;
        if (k == n - 1)
            w &= tail;
        // Back to the leftmost pixel in bit 31.
        for (std::uint32_t v = __builtin_bswap32(w); v;) {
            const int bit = __builtin_clz(v);
            if (seen(((first + k) << 5) + bit))
                return true;
            v &= ~(std::uint32_t(0x80000000u) >> bit);
        }
    }
    return false;
}

// fill()'s look at rows with black pixels, through `f(y, words)`.
template <class F>
struct InkCheck {
    static constexpr bool kActive = true;
    F& f;
    void operator()(std::int64_t y, const std::uint8_t* words) { f(y, words); }
};

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

Typeface& TextRenderer::prepare(const Font& font, std::uint16_t cp) {
    Typeface& face = select(font);
    if (!tableValid_ || tableFace_ != &face || tableCodePage_ != cp) {
        std::fill(std::begin(byteGlyphs_), std::end(byteGlyphs_), nullptr);
        for (int b = 0; b < 256; ++b)
            sequence_[b] = cp == kUtf8CodePage ? b >= 0x80 : IsDBCSLeadByteEx(cp, std::uint8_t(b));
        tableFace_ = &face;
        tableCodePage_ = cp;
        tableValid_ = true;
    }
    return face;
}

const Glyph* TextRenderer::byteGlyph(Typeface& face, std::uint8_t b) {
    const Glyph* g = byteGlyphs_[b];
    if (!g) {
        const char c = char(b);
        const char32_t code = DecodeChar(tableCodePage_, std::string_view(&c, 1));
        face.Glyphs(&code, 1, tableCodePage_ == kSymbolCodePage, &g);
        byteGlyphs_[b] = g;
        byteTrouble_[b] = code == kReplacementChar ? 2 : g->index == 0 ? 1 : 0;
    }
    return g;
}

void TextRenderer::count(std::uint8_t trouble, char32_t code, std::uint8_t byte) {
    // Whitespace is layout, not text: a tab the program sets is not reported.
    if (trouble == 1 && (code == ' ' || (code >= 9 && code <= 13)))
        return;
    if (trouble == 1 && tally_->noGlyph++ == 0)
        tally_->firstNoGlyph = code;
    if (trouble == 2 && tally_->badBytes++ == 0) {
        tally_->firstBadByte = byte;
        tally_->badCodePage = tableCodePage_;
    }
}

std::size_t TextRenderer::layoutChunk(Typeface& face, std::uint16_t cp, std::string_view text,
                                      std::size_t pos) {
    glyphs_.clear();
    while (pos < text.size() && glyphs_.size() < kChunk) {
        const auto b = std::uint8_t(text[pos]);
        // A byte that cannot start a longer character, or the text's last
        // byte, is a character by itself.
        if (!sequence_[b] || pos + 1 == text.size()) {
            glyphs_.push_back(byteGlyph(face, b));
            if (drawing_ && tally_ && byteTrouble_[b])
                count(byteTrouble_[b], DecodeChar(cp, text.substr(pos, 1)), b);
            ++pos;
            continue;
        }
        const std::size_t len = CharLength(cp, text, pos);
        const char32_t code = DecodeChar(cp, text.substr(pos, len));
        const Glyph* g = nullptr;
        face.Glyphs(&code, 1, cp == kSymbolCodePage, &g);
        glyphs_.push_back(g);
        if (drawing_ && tally_ && (code == kReplacementChar || g->index == 0))
            count(code == kReplacementChar ? 2 : 1, code, b);
        pos += len;
    }
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
    const std::uint16_t cp = CodePageOfCharset(font.Charset, codePage);
    Typeface& face = prepare(font, cp);
    // The text layout measures one character at a time.
    if (text.size() == 1)
        return byteGlyph(face, std::uint8_t(text[0]))->advance;
    return measure(face, cp, text);
}

int TextRenderer::TextHeight(const Font& font, std::uint16_t, std::string_view) {
    const FaceMetrics& m = select(font).Metrics();
    return m.ascent + m.descent;
}

int TextRenderer::CapHeight(const Font& font) {
    const char32_t h = U'H';
    const Glyph* g = nullptr;
    select(font).Glyphs(&h, 1, false, &g);
    return g && g->index != 0 ? g->rows : 0;
}

void TextRenderer::noteSpill(std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1) {
    // Spills of one text line side by side (descenders below the cell, a
    // run of italic overhangs) become one box, so that a long line does not
    // push the first of them out.
    for (int i = 0; i < spillCount_; ++i) {
        InkBox& s = spills_[i];
        if (s.y0 == y0 && x0 <= s.x1 + 64 && x1 >= s.x0 - 64) {
            s = {std::min(s.x0, x0), y0, std::max(s.x1, x1), std::max(s.y1, y1)};
            return;
        }
    }
    spills_[spillNext_] = {x0, y0, x1, y1};
    spillNext_ = (spillNext_ + 1) % kSpills;
    spillCount_ = std::min(spillCount_ + 1, kSpills);
}

void TextRenderer::noteGlyph(const Glyph& g, std::int64_t pen, std::int64_t baseline,
                             std::int64_t top, std::int64_t bottom) {
    if (g.width <= 0 || g.rows <= 0)
        return;
    const std::int64_t gx0 = pen + g.left, gx1 = gx0 + g.width;
    const std::int64_t gy0 = baseline - g.top, gy1 = gy0 + g.rows;
    const std::int64_t right = pen + g.advance;
    if (gx0 >= pen && gx1 <= right && gy0 >= top && gy1 <= bottom)
        return;
    if (gx0 < pen)
        noteSpill(gx0, gy0, pen, gy1);
    if (gx1 > right)
        noteSpill(std::max(right, gx0), gy0, gx1, gy1);
    if (gy0 < top)
        noteSpill(gx0, gy0, gx1, top);
    if (gy1 > bottom)
        noteSpill(gx0, bottom, gx1, gy1);
}

bool TextRenderer::onFreshPaper(std::int64_t x0, std::int64_t y0, std::int64_t x1,
                                std::int64_t y1) {
    if (x0 >= x1 || y0 >= y1)
        return true;
    if (!otherInk_ && y0 == lineTop_ && y1 == lineBottom_ && x0 >= lineRight_ &&
        y0 >= textBottom_) {
        lineRight_ = x1;
        return true;
    }
    const std::int64_t above = std::max(textBottom_, lineBottom_);
    const bool fresh = !otherInk_ && y0 >= above;
    textBottom_ = fresh ? above : std::max(above, y1);
    lineTop_ = y0;
    lineBottom_ = y1;
    lineRight_ = x1;
    return fresh;
}

void TextRenderer::PaperCleared() {
    otherInk_ = false;
    textBottom_ = lineBottom_ = lineRight_ = INT64_MIN;
    lineTop_ = 0;
}

void TextRenderer::fillCell(Bitmap& target, std::int64_t x0, std::int64_t y0, std::int64_t x1,
                            std::int64_t y1, bool dark) {
    // Text set left to right and top to bottom on paper nothing else was
    // drawn on finds no black pixels but those of its own overhangs.
    if (onFreshPaper(x0, y0, x1, y1) || !tally_ || dark) {
        fill(target, x0, y0, x1, y1, dark);
        return;
    }
    // A row with black pixels under the cell is looked at pixel by pixel
    // before it is cleared; the first that is not the text's own is counted.
    bool found = false;
    auto excused = [this](std::int64_t x, std::int64_t y) {
        for (int i = 0; i < spillCount_; ++i) {
            const InkBox& s = spills_[i];
            if (x >= s.x0 && x < s.x1 && y >= s.y0 && y < s.y1)
                return true;
        }
        return false;
    };
    // The words fill() hands over start at the area's first word.
    const std::int64_t cx0 = std::max<std::int64_t>(x0, 0);
    const std::int64_t cx1 = std::min<std::int64_t>(x1, target.Width());
    if (cx0 >= cx1) {
        fill(target, x0, y0, x1, y1, false);
        return;
    }
    const std::int64_t first = cx0 >> 5, n = ((cx1 - 1) >> 5) - first + 1;
    const std::uint32_t head = inMemoryOrder(~std::uint32_t(0) >> (cx0 & 31));
    const std::uint32_t tail = inMemoryOrder(~std::uint32_t(0) << (31 - ((cx1 - 1) & 31)));
    auto onRow = [&](std::int64_t y, const std::uint8_t* words) {
        if (found)
            return;
        found = findBlack(words, first, n, head, tail, [&](std::int64_t x) {
            if (excused(x, y))
                return false;
            if (tally_->overlaps++ == 0) {
                tally_->firstOverlapX = int(x);
                tally_->firstOverlapY = int(y);
            }
            return true;
        });
    };
    fill(target, x0, y0, x1, y1, false, InkCheck<decltype(onRow)>{onRow});
}

namespace {

int saturated(std::int64_t v) {
    return int(std::clamp<std::int64_t>(v, INT_MIN, INT_MAX));
}

// Sets one glyph with its pen at `pen` on the baseline: through its row
// words when it lies wholly on the page, else clipped.
void setGlyph(Bitmap& target, Typeface& face, const Glyph& g, std::int64_t pen,
              std::int64_t baseline, Typeface::Part& part) {
    if (g.width <= 0)
        return;
    const std::int64_t gx = pen + g.left, gy = baseline - g.top;
    if (!g.rowWords.empty() && gx >= 0 && gy >= 0 && gx + g.width <= target.Width() &&
        gy + g.rows <= target.Height()) {
        blitWords(target, gx, gy, g.rowWords.data(), g.width, g.rows);
    } else if (g.cached) {
        blitOr(target, gx, gy, g.bits.data(), g.pitch, g.width, g.rows);
    } else {
        face.RenderPart(g, pen, baseline, target.Width(), target.Height(), part);
        if (part.width > 0)
            blitOr(target, part.x, part.y, part.bits.data(), part.pitch, part.width, part.rows);
    }
}

// Whether everything one TextOut of this glyph alone draws (its cell, its
// ink, its underline and strike-out bands) lies in the columns from its pen
// to its pen plus its advance. The characters of a text set one TextOut at
// a time then touch disjoint columns, so the order of their steps does not
// matter and their cells can be filled as one.
bool staysInCell(const Glyph& g) {
    return g.advance >= 0 && (g.width <= 0 || (g.left >= 0 && g.left + g.width <= g.advance));
}

} // namespace

void TextRenderer::draw(Bitmap& target, Typeface& face, std::uint16_t cp, const Font& font,
                        bool dark, bool cells, std::int64_t x0, std::int64_t y0,
                        std::string_view text) {
    const FaceMetrics& m = face.Metrics();
    // The cell first, so the whole text is measured before anything is drawn;
    // a text of one chunk keeps its glyphs for drawing. Each chunk counts for
    // the tally once, when it is laid out for drawing.
    drawing_ = true;
    std::size_t next = layoutChunk(face, cp, text, 0);
    drawing_ = false;
    std::int64_t width = advances(glyphs_);
    if (next < text.size()) {
        width = measure(face, cp, text);
        next = layoutChunk(face, cp, text, 0);
    }
    width = std::min<std::int64_t>(width, INT_MAX);
    const std::int64_t baseline = y0 + m.ascent;
    const std::int64_t y1 = y0 + m.ascent + m.descent;
    if (cells)
        fillCell(target, x0, y0, x0 + width, y1, dark);
    if (target.Empty())
        return;
    // Glyph ink reaches at most a few ems left of its pen.
    const std::int64_t penLimit = std::int64_t(target.Width()) + 4 * std::int64_t(m.ppem) + 64;
    std::int64_t pen = x0;
    Typeface::Part part;
    for (;;) {
        for (const Glyph* g : glyphs_) {
            setGlyph(target, face, *g, pen, baseline, part);
            if (tally_)
                noteGlyph(*g, pen, baseline, y0, y1);
            pen += g->advance;
        }
        if (next >= text.size() || pen > penLimit)
            break;
        drawing_ = true;
        next = layoutChunk(face, cp, text, next);
        drawing_ = false;
    }
    bands(target, m, font.Style, x0, x0 + width, baseline);
}

void TextRenderer::bands(Bitmap& target, const FaceMetrics& m, FontStyles style, std::int64_t x0,
                         std::int64_t x1, std::int64_t baseline) {
    // An underline below the cell is the text's own ink too.
    const std::int64_t under = baseline + m.underlineTop + m.underlineThickness;
    if (tally_ && (style & fsUnderline) && under > baseline + m.descent && x0 < x1)
        noteSpill(x0, baseline + m.descent, x1, under);
    if (style & fsUnderline)
        fill(target, x0, baseline + m.underlineTop, x1,
             baseline + m.underlineTop + m.underlineThickness, true);
    if (style & fsStrikeOut)
        fill(target, x0, baseline + m.strikeTop, x1, baseline + m.strikeTop + m.strikeThickness,
             true);
}

void TextRenderer::TextOut(Bitmap& target, const Font& font, std::uint16_t codePage, TColor brush,
                           int x, int y, std::string_view text) {
    const std::uint16_t cp = CodePageOfCharset(font.Charset, codePage);
    Typeface& face = prepare(font, cp);
    draw(target, face, cp, font, IsDarkColor(brush), brush != clNone, x, y, text);
}

int TextRenderer::TextOutCharacters(Bitmap& target, const Font& font, std::uint16_t codePage,
                                    TColor brush, int x, int y, std::string_view text,
                                    std::uint16_t stepCodePage) {
    const std::uint16_t cp = CodePageOfCharset(font.Charset, codePage);
    Typeface& face = prepare(font, cp);
    const FaceMetrics& m = face.Metrics();
    const bool dark = IsDarkColor(brush);
    const std::int64_t baseline = std::int64_t(y) + m.ascent;
    // A run of characters that stay in their cells, waiting to be set: its
    // cells are filled at once, then its glyphs set.
    std::int64_t runStart = x;
    auto setRun = [&](std::int64_t runEnd) {
        if (runGlyphs_.empty())
            return;
        const std::int64_t y1 = std::int64_t(y) + m.ascent + m.descent;
        if (brush != clNone)
            fillCell(target, runStart, y, runEnd, y1, dark);
        if (!target.Empty()) {
            // Past the page's right edge nothing more shows.
            Typeface::Part part;
            for (const auto& [g, pen] : runGlyphs_) {
                if (pen >= target.Width())
                    break;
                setGlyph(target, face, *g, pen, baseline, part);
                // A glyph of a run stays within its cell's columns.
                if (tally_ && (g->top > m.ascent || g->rows - g->top > m.descent))
                    noteGlyph(*g, pen, baseline, y, y1);
            }
        }
        bands(target, m, font.Style, runStart, runEnd, baseline);
        runGlyphs_.clear();
    };
    int pen = x;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t len = std::max<std::size_t>(1, CharLength(stepCodePage, text, pos));
        if (len == 1) {
            // A text of one byte is that byte's character, whatever the code page.
            const auto b = std::uint8_t(text[pos]);
            const Glyph* g = byteGlyph(face, b);
            if (staysInCell(*g)) {
                if (tally_ && byteTrouble_[b])
                    count(byteTrouble_[b], DecodeChar(cp, text.substr(pos, 1)), b);
                if (runGlyphs_.empty())
                    runStart = pen;
                runGlyphs_.emplace_back(g, pen);
                pen = saturated(std::int64_t(pen) + g->advance);
                ++pos;
                continue;
            }
        }
        setRun(pen);
        const std::string_view character = text.substr(pos, len);
        draw(target, face, cp, font, dark, brush != clNone, pen, y, character);
        const int width = len == 1 ? byteGlyph(face, std::uint8_t(text[pos]))->advance
                                   : measure(face, cp, character);
        pen = saturated(std::int64_t(pen) + width);
        pos += len;
    }
    setRun(pen);
    return pen;
}

int TextRenderer::TextWidthCharacters(const Font& font, std::uint16_t codePage,
                                      std::string_view text, std::uint16_t stepCodePage) {
    const std::uint16_t cp = CodePageOfCharset(font.Charset, codePage);
    Typeface& face = prepare(font, cp);
    int width = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t len = std::max<std::size_t>(1, CharLength(stepCodePage, text, pos));
        const int w = len == 1 ? byteGlyph(face, std::uint8_t(text[pos]))->advance
                               : measure(face, cp, text.substr(pos, len));
        width = saturated(std::int64_t(width) + w);
        pos += len;
    }
    return width;
}

void Canvas::TextOut(int x, int y, std::string_view text) {
    if (!text_)
        text_ = std::make_unique<TextRenderer>();
    text_->SetTally(Tally);
    text_->TextOut(bitmap_, Font, CodePage, BrushColor, x, y, text);
}

int Canvas::TextOutCharacters(int x, int y, std::string_view text, std::uint16_t stepCodePage) {
    if (!text_)
        text_ = std::make_unique<TextRenderer>();
    text_->SetTally(Tally);
    return text_->TextOutCharacters(bitmap_, Font, CodePage, BrushColor, x, y, text, stepCodePage);
}

int Canvas::TextWidthCharacters(std::string_view text, std::uint16_t stepCodePage) {
    if (!text_)
        text_ = std::make_unique<TextRenderer>();
    return text_->TextWidthCharacters(Font, CodePage, text, stepCodePage);
}

int Canvas::TextWidth(std::string_view text) {
    if (!text_)
        text_ = std::make_unique<TextRenderer>();
    return text_->TextWidth(Font, CodePage, text);
}

void Canvas::OtherInk() {
    if (!text_)
        text_ = std::make_unique<TextRenderer>();
    text_->OtherInk();
}

void Canvas::PaperCleared() {
    if (text_)
        text_->PaperCleared();
}

int Canvas::CapHeight() {
    if (!text_)
        text_ = std::make_unique<TextRenderer>();
    return text_->CapHeight(Font);
}

int Canvas::TextHeight(std::string_view text) {
    if (!text_)
        text_ = std::make_unique<TextRenderer>();
    return text_->TextHeight(Font, CodePage, text);
}

} // namespace folio
