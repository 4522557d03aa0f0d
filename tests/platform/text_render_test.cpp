// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Text drawing on the canvas: the cell fill, the baseline, underline and
// strike-out rows, bold weight, clipping at the page edges and far outside,
// huge glyphs rendered clipped, and canvases on several threads at once.
#include "Canvas.h"
#include "CodePage.h"
#include "FontLibrary.h"
#include "TextRenderer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace folio;

namespace {

struct Page {
    Bitmap bitmap;
    Canvas canvas{bitmap};
    Page(int w, int h, const char* face = "Arial", int size = 25, FontStyles style = 0) {
        bitmap.SetSize(w, h);
        canvas.Font.Name = face;
        canvas.Font.Size = size;
        canvas.Font.Style = style;
    }
};

// Rows [first, last] that hold any black pixel; {-1, -1} for none.
std::pair<int, int> inkRows(const Bitmap& b) {
    int first = -1, last = -1;
    for (int y = 0; y < b.Height(); ++y) {
        for (int x = 0; x < b.Width(); ++x) {
            if (b.Pixel(x, y)) {
                if (first < 0)
                    first = y;
                last = y;
                break;
            }
        }
    }
    return {first, last};
}

std::size_t blackInRow(const Bitmap& b, int y, int x0, int x1) {
    std::size_t n = 0;
    for (int x = x0; x < x1; ++x)
        n += b.Pixel(x, y);
    return n;
}

bool paddingClear(const Bitmap& b) {
    const int used = b.Width() % 8;
    for (int y = 0; y < b.Height(); ++y) {
        const std::uint8_t* row = b.Row(y);
        if (used && (row[b.Width() / 8] & (0xFF >> used)))
            return false;
        for (int i = (b.Width() + 7) / 8; i < b.Stride(); ++i)
            if (row[i])
                return false;
    }
    return true;
}

bool samePixels(const Bitmap& a, const Bitmap& b) {
    return a.Width() == b.Width() && a.Height() == b.Height() && a.ByteCount() == b.ByteCount() &&
           std::equal(a.Bits(), a.Bits() + a.ByteCount(), b.Bits());
}

} // namespace

TEST(TextDraw, BaselineAtTopPlusAscent) {
    struct Case {
        int size, ascent;
    };
    for (const Case& c : {Case{25, 30}, Case{12, 14}, Case{21, 25}, Case{-25, 27}}) {
        for (int y : {0, 17}) {
            Page p(200, 120, "Arial", c.size);
            p.canvas.TextOut(5, y, "HIEH");
            // Flat-bottomed capitals sit on the baseline: their last ink row
            // is the one above it.
            EXPECT_EQ(inkRows(p.bitmap).second, y + c.ascent - 1) << c.size;
            EXPECT_EQ(blackInRow(p.bitmap, y + c.ascent, 0, 200), 0u) << c.size;
        }
    }
    // A descender reaches into the descent, not below the cell.
    Page p(200, 60);
    p.canvas.TextOut(0, 0, "gjpqy");
    EXPECT_GT(inkRows(p.bitmap).second, 30);
    EXPECT_LT(inkRows(p.bitmap).second, 37);
}

TEST(TextDraw, CellIsFilledWithTheBrushFirst) {
    Page p(300, 80);
    // A line through the cell: the cell's white background erases it.
    p.canvas.MoveTo(0, 20);
    p.canvas.LineTo(300, 20);
    p.canvas.TextOut(50, 5, "  ");
    const int w = p.canvas.TextWidth("  ");
    ASSERT_EQ(w, 18);
    for (int x = 0; x < 300; ++x)
        EXPECT_EQ(p.bitmap.Pixel(x, 20), x < 50 || x >= 50 + w) << x;
    // The cell covers exactly [x, x + width) x [y, y + height).
    Page d(300, 80);
    d.canvas.BrushColor = clBlack;
    d.canvas.TextOut(10, 7, "Folioset");
    EXPECT_EQ(d.bitmap.CountBlack(), std::size_t(114) * 37);
    EXPECT_TRUE(d.bitmap.Pixel(10, 7));
    EXPECT_TRUE(d.bitmap.Pixel(123, 43));
    EXPECT_FALSE(d.bitmap.Pixel(124, 43));
    EXPECT_FALSE(d.bitmap.Pixel(123, 44));
    // A dark-grey brush is black on this surface; a light one white.
    Page g(300, 80);
    g.canvas.BrushColor = 0x404040;
    g.canvas.TextOut(0, 0, "x");
    EXPECT_TRUE(g.bitmap.Pixel(0, 0));
    g.canvas.BrushColor = 0xC0C0C0;
    g.canvas.TextOut(0, 0, "x");
    EXPECT_FALSE(g.bitmap.Pixel(0, 0));
    // Nothing at all for an empty text.
    d.canvas.BrushColor = clWhite;
    d.canvas.TextOut(10, 7, "");
    EXPECT_EQ(d.bitmap.CountBlack(), std::size_t(114) * 37);
}

TEST(TextDraw, WholeStringEqualsCharacterByCharacter) {
    // Glyphs are set by their advances: one TextOut of a word equals a
    // TextOut per character, for glyphs that stay inside their cells (a
    // later call's cell would erase the overhang of an earlier glyph).
    for (FontStyles style : {FontStyles(0), FontStyles(fsItalic), FontStyles(fsBold)}) {
        Page whole(500, 60, "Arial", 25, style), each(500, 60, "Arial", 25, style);
        const std::string text = "Hollow 0123 Nun";
        whole.canvas.TextOut(3, 4, text);
        int x = 3;
        for (char ch : text) {
            each.canvas.TextOut(x, 4, std::string(1, ch));
            x += each.canvas.TextWidth(std::string(1, ch));
        }
        if (style != fsItalic) { // italic glyphs overhang into the next cell
            EXPECT_TRUE(samePixels(whole.bitmap, each.bitmap)) << int(style);
        }
        EXPECT_EQ(x - 3, whole.canvas.TextWidth(text));
    }
}

TEST(TextDraw, CharactersAsOneCallEqualOneTextOutEach) {
    // TextOutCharacters sets runs of characters that stay in their cells
    // at once; it must leave exactly the pixels of one TextOut per character,
    // overhanging italic glyphs, multi-byte characters, bands, a black
    // brush, ink already on the page and the page edges included.
    struct Case {
        const char* what;
        const char* face;
        int size;
        FontStyles style;
        std::uint16_t codePage; // the canvas's, also the stepping code page
        std::string text;
        int x, y;
        TColor brush;
    };
    const std::string mixed = "Wolf jiffy [fj] V/A Tj 0123";
    const Case cases[] = {
        {"plain", "Arial", 25, 0, 1252, mixed, 5, 4, clWhite},
        {"italic overhang", "Times New Roman", 30, fsItalic, 1252, mixed + " ffj", 5, 4, clWhite},
        {"synthetic italic", "Arial", 25, fsItalic | fsBold, 1252, mixed, 5, 4, clWhite},
        {"bands", "Arial", 20, fsUnderline | fsStrikeOut, 1252, mixed, 5, 4, clWhite},
        {"black brush", "Courier New", 18, 0, 1252, mixed, 5, 4, clBlack},
        {"utf-8", "DejaVu Sans", 20, 0, kUtf8CodePage, "Gr\xc3\xbc\xc3\x9f \xe6\x97\xa5x\xff!", 5,
         4, clWhite},
        {"latin-1 bytes", "Arial", 20, fsItalic, 1252, "\xe6t\xe9 \x80\x9f\xff", 5, 4, clWhite},
        {"shift-jis", "Arial", 20, 0, 932,
         "a\x82\xa0"
         "b\x81",
         5, 4, clWhite},
        {"left edge", "Arial", 25, fsUnderline, 1252, mixed, -40, -9, clWhite},
        {"right edge", "Times New Roman", 30, fsItalic, 1252, mixed, 420, 30, clWhite},
        {"far right", "Arial", 25, 0, 1252, mixed, INT_MAX - 30, 4, clWhite},
        {"far left", "Arial", 25, 0, 1252, mixed, INT_MIN, 4, clWhite},
    };
    for (const Case& c : cases) {
        Page run(520, 60, c.face, c.size, c.style), each(520, 60, c.face, c.size, c.style);
        for (Page* p : {&run, &each}) {
            // Ink already there: a box the cells partly cover.
            p->canvas.BrushColor = clBlack;
            p->canvas.Rectangle(60, 10, 200, 50);
            p->canvas.BrushColor = c.brush;
            p->canvas.CodePage = c.codePage;
        }
        const int end = run.canvas.TextOutCharacters(c.x, c.y, c.text, c.codePage);
        long long pen = c.x, width = 0;
        for (std::size_t pos = 0; pos < c.text.size();) {
            const std::size_t len = CharLength(c.codePage, c.text, pos);
            const std::string ch = c.text.substr(pos, len);
            each.canvas.TextOut(int(pen), c.y, ch);
            pen = std::clamp<long long>(pen + each.canvas.TextWidth(ch), INT_MIN, INT_MAX);
            width = std::min<long long>(width + each.canvas.TextWidth(ch), INT_MAX);
            pos += len;
        }
        EXPECT_TRUE(samePixels(run.bitmap, each.bitmap)) << c.what;
        EXPECT_EQ(end, pen) << c.what;
        EXPECT_EQ(run.canvas.TextWidthCharacters(c.text, c.codePage), width) << c.what;
    }
}

TEST(TextDraw, UnderlineAndStrikeOutRows) {
    // Arial 25 pt: underline 2 rows from the baseline (post: position -67,
    // thickness 150 units), strike-out 2 rows at 9 above it (OS/2: 530, 102).
    struct Case {
        FontStyles style;
        std::vector<int> rows;
    };
    const int y = 10, baseline = y + 30;
    const Case cases[] = {
        {fsUnderline, {baseline, baseline + 1}},
        {fsStrikeOut, {baseline - 10, baseline - 9}},
        {fsUnderline | fsStrikeOut, {baseline - 10, baseline - 9, baseline, baseline + 1}},
    };
    const std::string text = "oo oo";
    for (const Case& c : cases) {
        Page plain(200, 60), styled(200, 60, "Arial", 25, c.style);
        plain.canvas.TextOut(20, y, text);
        styled.canvas.TextOut(20, y, text);
        const int w = plain.canvas.TextWidth(text);
        for (int row = 0; row < 60; ++row) {
            const bool band = std::find(c.rows.begin(), c.rows.end(), row) != c.rows.end();
            for (int x = 0; x < 200; ++x) {
                const bool want = band && x >= 20 && x < 20 + w ? true : plain.bitmap.Pixel(x, row);
                ASSERT_EQ(styled.bitmap.Pixel(x, row), want)
                    << "style " << int(c.style) << " at " << x << "," << row;
            }
        }
    }
}

TEST(TextDraw, BoldIsHeavier) {
    for (const char* face : {"Arial", "Times New Roman", "DejaVu Math TeX Gyre"}) {
        Page regular(400, 60, face), bold(400, 60, face, 25, fsBold);
        regular.canvas.TextOut(0, 0, "Folioset");
        bold.canvas.TextOut(0, 0, "Folioset");
        EXPECT_GT(bold.bitmap.CountBlack(), regular.bitmap.CountBlack() * 5 / 4) << face;
    }
}

TEST(TextDraw, SyntheticItalicLeansRight) {
    // A vertical stem sheared by a quarter: its top lies right of its foot.
    Page p(100, 60, "DejaVu Math TeX Gyre", 25, fsItalic);
    p.canvas.TextOut(10, 0, "l");
    const auto [top, bottom] = inkRows(p.bitmap);
    auto leftmost = [&](int y) {
        for (int x = 0; x < 100; ++x)
            if (p.bitmap.Pixel(x, y))
                return x;
        return -1;
    };
    EXPECT_GT(leftmost(top + 2) - leftmost(bottom - 2), (bottom - top) / 4 - 3);
}

TEST(TextDraw, ClippedAtTheEdgesWithPaddingClear) {
    // Widths that leave padding bits in the rows.
    for (int w : {37, 64, 101}) {
        Page p(w, 30, "Arial", 25);
        p.canvas.BrushColor = clBlack;
        p.canvas.TextOut(w - 20, -10, "WWW");
        p.canvas.BrushColor = clWhite;
        p.canvas.TextOut(-15, 12, "MWgy");
        p.canvas.TextOut(w - 7, 5, "W");
        EXPECT_TRUE(paddingClear(p.bitmap)) << w;
    }
    // Partly off the page draws the same pixels as the part on it.
    Page full(300, 100), cut(150, 40);
    full.canvas.TextOut(100, 40, "Wavy glyphs");
    cut.canvas.TextOut(-50, -20, "Wavy glyphs");
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 150; ++x)
            ASSERT_EQ(cut.bitmap.Pixel(x, y), full.bitmap.Pixel(x + 150, y + 60)) << x << "," << y;
}

TEST(TextDraw, FarCoordinatesDrawNothingAndEndAtOnce) {
    Page p(200, 100);
    const std::string text(2000, 'W');
    for (int x : {INT_MIN, INT_MIN + 5, -100000, 100000, INT_MAX - 40, INT_MAX})
        for (int y : {INT_MIN, -50, INT_MAX - 10, INT_MAX})
            p.canvas.TextOut(x, y, text);
    EXPECT_EQ(p.bitmap.CountBlack(), 0u);
    // A long line starting left of the page still shows its visible part.
    p.canvas.TextOut(-31 * 1990, 10, text);
    EXPECT_GT(p.bitmap.CountBlack(), 500u);
}

TEST(TextDraw, LongTextsAcrossManyChunks) {
    // Thousands of characters: measured and drawn piece by piece, with the
    // same result as a short text where their visible part begins.
    std::string text;
    for (int i = 0; i < 1300; ++i)
        text += "HI";
    Page p(300, 50), q(300, 50);
    const int head = p.canvas.TextWidth(text.substr(0, 2400));
    EXPECT_EQ(p.canvas.TextWidth(text), head + p.canvas.TextWidth(text.substr(2400)));
    EXPECT_EQ(p.canvas.TextWidth(text), 1300 * (p.canvas.TextWidth("H") + p.canvas.TextWidth("I")));
    p.canvas.TextOut(-head, 5, text);
    q.canvas.TextOut(0, 5, text.substr(2400));
    EXPECT_GT(q.bitmap.CountBlack(), 1000u);
    EXPECT_TRUE(samePixels(p.bitmap, q.bitmap));
}

TEST(TextDraw, HugeGlyphsAreRenderedClippedToThePage) {
    // FONT=Arial,100000 arrives as 213800 points; the glyphs are far larger
    // than the page, so only their part on the page is rendered.
    Page p(1728, 2200, "Arial", 213800);
    TextRenderer r;
    const FaceMetrics& m = r.Metrics(p.canvas.Font);
    EXPECT_EQ(m.ppem, kMaxPixelSize);
    // The baseline half-way down the page, the pen far to the left: the
    // page shows the foot of an H's left stem.
    p.canvas.TextOut(-5000, 1100 - m.ascent, "HM");
    const std::size_t black = p.bitmap.CountBlack();
    EXPECT_GT(black, 100000u);
    EXPECT_LT(black, std::size_t(1728) * 1100); // nothing below the baseline
    EXPECT_EQ(blackInRow(p.bitmap, 1100, 0, 1728), 0u);
    EXPECT_GT(blackInRow(p.bitmap, 1099, 0, 1728), 0u);
    EXPECT_TRUE(paddingClear(p.bitmap));

    // Moved by a few pixels the same glyph draws the same pixels, shifted:
    // the clipped rendering keeps the glyph's pixel grid.
    Page a(400, 300, "Arial", 213800), b(400, 300, "Arial", 213800);
    a.canvas.TextOut(-5100, -m.ascent + 150, "H");
    b.canvas.TextOut(-5100 - 37, -m.ascent + 150 - 11, "H");
    EXPECT_GT(a.bitmap.CountBlack(), 10000u);
    for (int y = 0; y < 289; ++y)
        for (int x = 0; x < 363; ++x)
            ASSERT_EQ(b.bitmap.Pixel(x, y), a.bitmap.Pixel(x + 37, y + 11)) << x << "," << y;

    // Many huge glyphs, styles and negative huge sizes, on and off the page.
    for (FontStyles style : {FontStyles(fsBold | fsItalic), FontStyles(fsUnderline)}) {
        for (int size : {213800, INT_MIN, -1000000}) {
            Page q(1728, 2200, "DejaVu Math TeX Gyre", size, style);
            q.canvas.TextOut(-5000, -40000, std::string(200, 'W'));
            q.canvas.TextOut(100, 100, "gW");
            EXPECT_TRUE(paddingClear(q.bitmap));
        }
    }
}

TEST(TextDraw, LargeUncachedGlyphsMatchTheirClippedParts) {
    // At 600 points a glyph's bitmap is too large to keep; it is rendered
    // per call, and the part on a small page equals that part of the whole.
    Page full(1400, 900, "Arial", 600), cut(500, 300, "Arial", 600);
    full.canvas.TextOut(0, 0, "Wg");
    cut.canvas.TextOut(-400, -350, "Wg");
    ASSERT_GT(full.bitmap.CountBlack(), 10000u);
    for (int y = 0; y < 300; ++y)
        for (int x = 0; x < 500; ++x)
            ASSERT_EQ(cut.bitmap.Pixel(x, y), full.bitmap.Pixel(x + 400, y + 350)) << x << "," << y;
}

TEST(TextDraw, CanvasesOnSeveralThreads) {
    struct Job {
        const char* face;
        int size;
        FontStyles style;
        std::uint16_t codePage;
    };
    const Job jobs[] = {{"Arial", 25, 0, 0},
                        {"Arial", 25, fsBold, 0},
                        {"Times New Roman", 21, fsItalic, 1251},
                        {"Courier New", 12, 0, 65001},
                        {"Arial", 25, 0, 932},
                        {"DejaVu Math TeX Gyre", 14, fsBold | fsItalic, 0}};
    const std::string text = "Folioset \xC0\xE9\x82\xA0 quick brown fox 0123456789 WMgjy";
    auto render = [&](const Job& j, Bitmap& out) {
        out.SetSize(700, 200);
        Canvas c(out);
        c.Font.Name = j.face;
        c.Font.Size = j.size;
        c.Font.Style = j.style;
        c.CodePage = j.codePage;
        for (int line = 0; line < 4; ++line)
            c.TextOut(line * 3, line * 45, text);
    };
    constexpr int kThreads = 12;
    std::vector<Bitmap> results(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] { render(jobs[t % 6], results[t]); });
    for (auto& th : threads)
        th.join();
    for (int t = 0; t < kThreads; ++t) {
        Bitmap expected;
        render(jobs[t % 6], expected);
        EXPECT_TRUE(samePixels(results[t], expected)) << t;
        EXPECT_GT(expected.CountBlack(), 1000u);
    }
}
