// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Text metrics on the canvas: cell heights and advances of the GDI text
// model, sizes (default, negative, huge), faces and their substitutes,
// synthesised styles, code pages and the replacement character, VDMX.
#include "Canvas.h"
#include "FontLibrary.h"
#include "TextRenderer.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

using namespace folio;

namespace {

struct TextCanvas {
    Bitmap bitmap;
    Canvas canvas{bitmap};
    TextCanvas(const char* face, int size, FontStyles style = 0,
               std::uint8_t charset = DEFAULT_CHARSET) {
        bitmap.SetSize(64, 64);
        canvas.Font.Name = face;
        canvas.Font.Size = size;
        canvas.Font.Style = style;
        canvas.Font.Charset = charset;
    }
    int Width(std::string_view s) { return canvas.TextWidth(s); }
    int Height() { return canvas.TextHeight("Yy"); }
};

} // namespace

TEST(TextMetrics, CellHeightsAndAscents) {
    struct Case {
        int size, ascent, descent;
    };
    // Arial is Liberation Sans: usWinAscent 1854, usWinDescent 434, 2048 units.
    const Case cases[] = {{25, 30, 7}, {12, 14, 3}, {21, 25, 6}, {8, 10, 2}};
    for (const Case& c : cases) {
        TextCanvas t("Arial", c.size);
        TextRenderer r;
        const FaceMetrics& m = r.Metrics(t.canvas.Font);
        EXPECT_EQ(m.ppem, (c.size * 4 + 1) / 3) << c.size;
        EXPECT_EQ(m.ascent, c.ascent) << c.size;
        EXPECT_EQ(m.descent, c.descent) << c.size;
        EXPECT_EQ(t.Height(), c.ascent + c.descent) << c.size;
        // The height does not depend on the text.
        EXPECT_EQ(t.canvas.TextHeight(""), t.Height());
        EXPECT_EQ(t.canvas.TextHeight("\xC9_"), t.Height());
    }
}

TEST(TextMetrics, AdvancesWithoutKerning) {
    TextCanvas t("Arial", 25);
    EXPECT_EQ(t.Width(" "), 9);
    EXPECT_EQ(t.Width("Y"), 22);
    EXPECT_EQ(t.Width("W"), 31);
    EXPECT_EQ(t.Width("Folioset"), 114);
    EXPECT_EQ(t.Width(""), 0);
    // A kerning pair of the face still measures as its two advances.
    EXPECT_EQ(t.Width("AV"), t.Width("A") + t.Width("V"));
    EXPECT_EQ(t.Width("To"), t.Width("T") + t.Width("o"));
}

TEST(TextMetrics, DefaultFontAndSizeZero) {
    Bitmap b;
    b.SetSize(8, 8);
    Canvas c(b);
    EXPECT_EQ(c.Font.Name, "MS Sans Serif");
    EXPECT_EQ(c.Font.Size, 8);
    const int h8 = c.TextHeight("Yy"), w8 = c.TextWidth("Folioset");
    EXPECT_GT(h8, 8);
    EXPECT_LT(h8, 16);
    c.Font.Size = 0;
    EXPECT_EQ(c.TextHeight("Yy"), h8);
    EXPECT_EQ(c.TextWidth("Folioset"), w8);
}

TEST(TextMetrics, FaceNamesAndSubstitutes) {
    TextRenderer r;
    Font f;
    f.Size = 25;
    f.Name = "Arial";
    EXPECT_NE(r.Face(f).File().find("LiberationSans-Regular"), std::string::npos);
    f.Name = "Times New Roman";
    EXPECT_NE(r.Face(f).File().find("LiberationSerif"), std::string::npos);
    f.Name = "Courier New";
    EXPECT_NE(r.Face(f).File().find("LiberationMono"), std::string::npos);
    // Names the machine lacks, odd bytes and an empty name still give a face.
    for (const char* name : {"No Such Face 4711", "", "Arial:bold,italic", "Se\xF1or\xFF"}) {
        f.Name = name;
        EXPECT_FALSE(r.Face(f).File().empty()) << name;
        TextCanvas t(name, 25);
        EXPECT_GT(t.Width("Folioset"), 0) << name;
        EXPECT_GT(t.Height(), 25) << name;
    }
}

TEST(TextMetrics, NegativeSizeIsACellHeight) {
    // -s asks for a cell of round(s * 96 / 72) pixels.
    EXPECT_EQ(TextCanvas("Arial", -25).Height(), 33);
    for (int s : {-6, -9, -12, -21, -40, -100}) {
        const int want = (-s * 4 + 1) / 3;
        const int got = TextCanvas("Arial", s).Height();
        EXPECT_LE(std::abs(got - want), 1) << s;
    }
    EXPECT_EQ(TextRenderer::PixelSize(-25), -33);
    EXPECT_EQ(TextRenderer::PixelSize(25), 33);
    EXPECT_EQ(TextRenderer::PixelSize(0), 11);
    EXPECT_EQ(TextRenderer::PixelSize(1), 1);
}

TEST(TextMetrics, HugeSizesAreMeasuredFromMetrics) {
    // FONT=Arial,100000 reaches the canvas as 213800 points. Ems beyond
    // FreeType's largest size are set at that size.
    EXPECT_EQ(TextRenderer::PixelSize(213800), kMaxPixelSize);
    EXPECT_EQ(TextRenderer::PixelSize(INT_MAX), kMaxPixelSize);
    EXPECT_EQ(TextRenderer::PixelSize(INT_MIN), -kMaxPixelSize);
    for (int size : {213800, INT_MAX, -1000000, INT_MIN, 100000}) {
        TextCanvas t("Arial", size);
        const int h = t.Height();
        EXPECT_GT(h, 60000) << size;
        EXPECT_LT(h, 80000) << size;
        EXPECT_GT(t.Width("W"), 50000) << size;
    }
    // A long text of huge glyphs saturates instead of overflowing.
    TextCanvas t("Arial", 213800);
    EXPECT_EQ(t.Width(std::string(40000, 'W')), INT_MAX);
}

TEST(TextMetrics, BoldAndItalicFaces) {
    TextRenderer r;
    Font f;
    f.Name = "Arial";
    f.Size = 25;
    f.Style = fsBold;
    EXPECT_NE(r.Face(f).File().find("Bold"), std::string::npos);
    EXPECT_FALSE(r.Face(f).SyntheticBold());
    f.Style = fsItalic;
    EXPECT_NE(r.Face(f).File().find("Italic"), std::string::npos);
    EXPECT_FALSE(r.Face(f).SyntheticItalic());
    EXPECT_GT(TextCanvas("Arial", 25, fsBold).Width("Folioset"),
              TextCanvas("Arial", 25).Width("Folioset"));
    // Underline and strike-out change no metric.
    EXPECT_EQ(TextCanvas("Arial", 25, fsUnderline | fsStrikeOut).Width("Folioset"), 114);

    // A family with one face only: bold is made by emboldening, one pixel
    // more advance a glyph; italic by shearing, same advances.
    const char* single = "DejaVu Math TeX Gyre";
    f.Name = single;
    f.Style = fsBold | fsItalic;
    ASSERT_NE(r.Face(f).File().find("DejaVuMathTeXGyre"), std::string::npos);
    EXPECT_TRUE(r.Face(f).SyntheticBold());
    EXPECT_TRUE(r.Face(f).SyntheticItalic());
    const int regular = TextCanvas(single, 25).Width("Folio");
    EXPECT_EQ(TextCanvas(single, 25, fsBold).Width("Folio"), regular + 5);
    EXPECT_EQ(TextCanvas(single, 25, fsItalic).Width("Folio"), regular);
}

TEST(TextMetrics, CodePagesAndTheCanvasCodePage) {
    TextCanvas t("Arial", 25);
    const int euro = [] {
        TextCanvas u("Arial", 25);
        u.canvas.CodePage = 65001;
        return u.Width("\xE2\x82\xAC");
    }();
    EXPECT_NE(euro, t.Width("\x81")); // 0x81 is no character in 1252
    EXPECT_EQ(t.Width("\x80"), euro); // DEFAULT_CHARSET reads 1252
    t.canvas.Font.Charset = ANSI_CHARSET;
    EXPECT_EQ(t.Width("\x80"), euro);
    // The canvas's code page applies to DEFAULT_CHARSET only. 0xF8 is o
    // with stroke in 1252 and the wider Cyrillic sha in 1251.
    TextCanvas u("Arial", 25);
    u.canvas.CodePage = 65001;
    const int oStroke = u.Width("\xC3\xB8"), sha = u.Width("\xD1\x88");
    ASSERT_NE(oStroke, sha);
    t.canvas.CodePage = 1251;
    t.canvas.Font.Charset = DEFAULT_CHARSET;
    EXPECT_EQ(t.Width("\xF8"), sha);
    t.canvas.Font.Charset = ANSI_CHARSET;
    EXPECT_EQ(t.Width("\xF8"), oStroke);
    t.canvas.Font.Charset = RUSSIAN_CHARSET;
    t.canvas.CodePage = 0;
    EXPECT_EQ(t.Width("\xF8"), sha);
    // A symbol font's bytes are its own codes; Arial has no symbol map, so
    // a byte is looked up as itself.
    TextCanvas s("Arial", 25, 0, SYMBOL_CHARSET);
    EXPECT_EQ(s.Width("A"), t.Width("A"));
}

TEST(TextMetrics, MissingAndReplacementCharacters) {
    // Liberation Sans has neither U+3042 nor U+FFFD: both draw the face's
    // missing glyph, with its advance.
    TextCanvas jis("Arial", 25, 0, SHIFTJIS_CHARSET);
    TextCanvas utf("Arial", 25);
    utf.canvas.CodePage = 65001;
    const int missing = jis.Width("\x82\xA0");
    EXPECT_GT(missing, 0);
    EXPECT_EQ(utf.Width("\xFF"), missing);
    EXPECT_EQ(utf.Width("\xEF\xBF\xBD"), missing);

    // DejaVu Sans has U+FFFD: bytes that form no character each draw one.
    TextCanvas dv("DejaVu Sans", 25);
    dv.canvas.CodePage = 65001;
    const int rep = dv.Width("\xEF\xBF\xBD");
    ASSERT_GT(rep, 0);
    EXPECT_NE(rep, dv.Width("?"));
    EXPECT_EQ(dv.Width("\xFF"), rep);
    EXPECT_EQ(dv.Width("\xE2\x82"), 2 * rep); // a cut-short sequence, two bytes
    EXPECT_EQ(dv.Width("\xC0\x80"
                       "A"),
              2 * rep + dv.Width("A"));
    dv.canvas.CodePage = 932;
    EXPECT_EQ(dv.Width("A\x82"), dv.Width("A") + rep); // lone lead byte at the end
    EXPECT_EQ(dv.Width("\x81\x20"), rep);              // lead byte with a bad trail
    dv.canvas.CodePage = 0;
    EXPECT_EQ(dv.Width("\x81\x8D"), 2 * rep); // undefined in 1252
}

TEST(TextMetrics, VdmxLookup) {
    // A VDMX table: version 1, one group, two ratios (2:1:1, which the
    // display does not have, and 1:1:1), both pointing at the group, which
    // covers ems 10..12.
    const std::vector<std::uint8_t> vdmx = {
        0, 1,  0,  1,  0,    2,          // version, numRecs, numRatios
        1, 2,  1,  1,  1,    1,    1, 1, // ratio records
        0, 18, 0,  18,                   // group offsets
        0, 3,  10, 12,                   // group: 3 records, sizes 10..12
        0, 10, 0,  9,  0xFF, 0xFE,       // 10: yMax 9, yMin -2 (cell 11)
        0, 11, 0,  10, 0xFF, 0xFD,       // 11: cell 13
        0, 12, 0,  11, 0xFF, 0xFD,       // 12: cell 14
    };
    VdmxEntry e;
    ASSERT_TRUE(VdmxLookup(vdmx.data(), vdmx.size(), 11, e));
    EXPECT_EQ(e.ppem, 11);
    EXPECT_EQ(e.yMax, 10);
    EXPECT_EQ(e.yMin, -3);
    EXPECT_FALSE(VdmxLookup(vdmx.data(), vdmx.size(), 13, e)); // outside 10..12
    // Cell heights: the exact one, else the largest below.
    ASSERT_TRUE(VdmxLookup(vdmx.data(), vdmx.size(), -13, e));
    EXPECT_EQ(e.ppem, 11);
    ASSERT_TRUE(VdmxLookup(vdmx.data(), vdmx.size(), -12, e));
    EXPECT_EQ(e.ppem, 10);
    EXPECT_FALSE(VdmxLookup(vdmx.data(), vdmx.size(), -10, e));
    EXPECT_FALSE(VdmxLookup(vdmx.data(), vdmx.size(), -40, e)); // beyond the table
    // Every truncation of the table is refused or read in bounds.
    for (std::size_t n = 0; n < vdmx.size(); ++n) {
        std::vector<std::uint8_t> cut(vdmx.begin(), vdmx.begin() + std::ptrdiff_t(n));
        VdmxLookup(cut.data(), cut.size(), 12, e);
        VdmxLookup(cut.data(), cut.size(), -14, e);
    }
    EXPECT_FALSE(VdmxLookup(nullptr, 0, 12, e));
}
