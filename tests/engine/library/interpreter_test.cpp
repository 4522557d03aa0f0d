// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The library variant's macro interpreter: line classes, keyword matching,
// arguments and the effect of every command on the engine state.
#include "FaxImage.h"

#include "Error.h"
#include "common/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

using enginetest::blackIn;
using enginetest::Line;

namespace {

using enginetest::run;

std::string scratch(const std::string& name) {
    const char* dir = std::getenv("FOLIO_TEST_TMP");
    std::string base = dir ? dir : "/tmp";
    std::filesystem::create_directories(base);
    return base + "/" + name;
}

TEST(LibraryInterpreter, EndStopsAndOnlyEnd) {
    FaxImage fax;
    EXPECT_FALSE(run(fax, "@CONVERT:END"));
    EXPECT_FALSE(run(fax, "@convert:end"));
    EXPECT_FALSE(run(fax, "@CONVERT:  ENDING the run"));
    EXPECT_TRUE(run(fax, "  @CONVERT:END")); // a text line
    EXPECT_GT(fax.Image->Picture().CountBlack(), 0u);
    EXPECT_TRUE(run(fax, "#@CONVERT:END"));
    EXPECT_TRUE(run(fax, "@CONVERT:"));
    EXPECT_TRUE(run(fax, "@CONVERT:NOSUCHTHING=1"));
    EXPECT_TRUE(run(fax, "@CONVERT:COLUMNS=100,800,900,1600")); // not a library command
    EXPECT_EQ(fax.TextMode, TextModes::Text);
}

TEST(LibraryInterpreter, CommentsAreDroppedAndOtherLinesAreText) {
    FaxImage fax;
    run(fax, "# a comment that must not be drawn");
    EXPECT_EQ(fax.Image->Picture().CountBlack(), 0u);
    EXPECT_EQ(fax.Y, 100);
    run(fax, ""); // an empty line is a text line: one blank line
    EXPECT_EQ(fax.Y, 100 + fax.Image->Canvas().TextHeight("Yy"));
}

TEST(LibraryInterpreter, PenAndMarginCommands) {
    struct Case {
        const char* line;
        int x, y, left;
    } cases[] = {
        {"@CONVERT:X=250", 250, 100, 100},
        {"@CONVERT:X", 100, 100, 100},
        {"@CONVERT:XRAY=5", 100, 100, 100},
        {"@CONVERT:X=", 0, 100, 100},
        {"@CONVERT:x = 12abc", 12, 100, 100},
        {"@CONVERT:Y=-40", 100, -40, 100},
        {"@CONVERT:YES", 100, 100, 100},
        {"@CONVERT:MARGIN=300", 100, 100, 300},
        {"@CONVERT:MARGIN", 100, 100, 100},
        {"@CONVERT:X=99999999999", INT_MAX, 100, 100},
        {"@CONVERT:X=-99999999999", INT_MIN, 100, 100},
    };
    for (const Case& c : cases) {
        FaxImage fax;
        fax.Y = 100;
        EXPECT_TRUE(run(fax, c.line));
        EXPECT_EQ(fax.X, c.x) << c.line;
        EXPECT_EQ(fax.Y, c.y) << c.line;
        EXPECT_EQ(fax.Left, c.left) << c.line;
    }
    FaxImage fax;
    run(fax, "@CONVERT:MARGIN=300");
    run(fax, "@CONVERT:X=5");
    run(fax, "@CONVERT:X");
    EXPECT_EQ(fax.X, 100); // the default left margin, not Left
    run(fax, "@CONVERT:Y=777");
    run(fax, "@CONVERT:Y");
    EXPECT_EQ(fax.Y, fax.Top);
}

TEST(LibraryInterpreter, LineAndBoxArguments) {
    FaxImage fax;
    const folio::Bitmap& page = fax.Image->Picture();
    run(fax, "@CONVERT:LINE=10,20,30");
    EXPECT_EQ(page.CountBlack(), 0u);
    run(fax, "@CONVERT:LINE");
    EXPECT_EQ(page.CountBlack(), 0u);
    run(fax, "@CONVERT:LINE=10,,10,40"); // empty argument reads as 0
    EXPECT_EQ(blackIn(page, 10, 0, 11, 40), 40);
    EXPECT_EQ(page.CountBlack(), 40u);
    fax.ClearPage();
    run(fax, "@CONVERT:BOX=100,200,50,20,99");
    for (auto [x, y] : {std::pair{100, 200}, {150, 200}, {150, 220}, {100, 220}})
        EXPECT_TRUE(page.Pixel(x, y));
    EXPECT_EQ(page.CountBlack(), 2u * 50 + 2u * 20);
}

TEST(LibraryInterpreter, TextBoxAndText) {
    FaxImage fax;
    fax.X = 333;
    run(fax, "@CONVERT:TEXTBOX=100,200,300,400");
    EXPECT_EQ(fax.TextMode, TextModes::TextBox);
    EXPECT_EQ(fax.TextBox.Left, 100);
    EXPECT_EQ(fax.TextBox.Top, 200);
    EXPECT_EQ(fax.TextBox.Right, 400);
    EXPECT_EQ(fax.TextBox.Bottom, 600);
    EXPECT_EQ(fax.Y, 200);
    EXPECT_EQ(fax.X, 333);
    run(fax, "@CONVERT:TEXT=PARAGRAPH"); // no paragraphs in the library
    EXPECT_EQ(fax.TextMode, TextModes::Text);
    run(fax, "@CONVERT:TEXTBOX=1,2,3");
    EXPECT_EQ(fax.TextMode, TextModes::Text);
    run(fax, "@CONVERT:TEXTBOX=2147483000,2147483000,5000,5000");
    EXPECT_EQ(fax.TextBox.Right, INT_MAX);
    EXPECT_EQ(fax.TextBox.Bottom, INT_MAX);
}

TEST(LibraryInterpreter, FontCommands) {
    FaxImage fax;
    folio::Canvas& canvas = fax.Image->Canvas();
    run(fax, "@CONVERT:FONT=Courier New");
    EXPECT_EQ(canvas.Font.Name, "Courier New");
    EXPECT_EQ(canvas.Font.Size, 25);
    run(fax, "@CONVERT:FONT=Courier New ,10");
    EXPECT_EQ(canvas.Font.Name, "Courier New ");
    EXPECT_EQ(canvas.Font.Size, 21);
    run(fax, "@CONVERT:FONT=,12");
    EXPECT_EQ(canvas.Font.Name, "");
    EXPECT_EQ(canvas.Font.Size, 25);
    run(fax, "@CONVERT:FONTSIZE=30"); // FONT without "=": the default font
    EXPECT_EQ(canvas.Font.Name, "Arial");
    EXPECT_EQ(fax.CurFontSize, 12);
    run(fax, "@CONVERT:FONTSCALE=1");
    run(fax, "@CONVERT:FONT=Arial,12");
    EXPECT_EQ(canvas.Font.Size, 12);
    run(fax, "@CONVERT:FONTSCALE");
    EXPECT_DOUBLE_EQ(fax.FontScale, 2.138);
    EXPECT_EQ(canvas.Font.Size, 12); // untouched until the next FONT
    run(fax, "@CONVERT:FONTSCALE=abc");
    EXPECT_EQ(fax.FontScale, 0);
    EXPECT_EQ(canvas.Font.Size, 0);
    run(fax, "@CONVERT:FONTSCALE= -1e1");
    EXPECT_DOUBLE_EQ(fax.FontScale, -10);
    EXPECT_EQ(canvas.Font.Size, -120);
}

TEST(LibraryInterpreter, FontScaleExtremesHaveDefinedSizes) {
    struct {
        const char* scale;
        int size;
    } cases[] = {{"nan", 0},          {"inf", 0},    {"1e308", INT_MAX}, {"1e999", INT_MAX},
                 {"-1e999", INT_MIN}, {"1e-999", 0}, {"2.5", 30}};
    for (auto c : cases) {
        FaxImage fax;
        run(fax, std::string("@CONVERT:FONTSCALE=") + c.scale);
        EXPECT_EQ(fax.Image->Canvas().Font.Size, c.size) << c.scale;
    }
}

TEST(LibraryInterpreter, FontCharsetTable) {
    struct {
        int number;
        int charset;
    } cases[] = {{0, 0},     {2, 2}, {77, 77}, {128, 128}, {204, 204},
                 {255, 255}, {3, 1}, {-1, 1},  {1000, 1},  {238, 238}};
    for (auto c : cases) {
        FaxImage fax;
        run(fax, "@CONVERT:FONT=Arial,12," + std::to_string(c.number));
        EXPECT_EQ(fax.Image->Canvas().Font.Charset, c.charset) << c.number;
    }
}

TEST(LibraryInterpreter, CodePageKeepsTheLow16Bits) {
    FaxImage fax;
    run(fax, "@CONVERT:CODEPAGE=932");
    EXPECT_EQ(fax.CodePage, 932);
    run(fax, "@CONVERT:CODEPAGE=" + std::to_string(65536 + 1250));
    EXPECT_EQ(fax.CodePage, 1250);
    run(fax, "@CONVERT:CODEPAGE");
    EXPECT_EQ(fax.CodePage, 0);
    run(fax, "@CONVERT:CODEPAGE=-1");
    EXPECT_EQ(fax.CodePage, 0xFFFF);
}

TEST(LibraryInterpreter, LineGetIntAndStrSplitInPlace) {
    FaxImage fax;
    Line l("  12 , abc,,7");
    int pos = 0, v = -1;
    char* s = nullptr;
    EXPECT_TRUE(fax.LineGetInt(l.get(), &pos, &v));
    EXPECT_EQ(v, 12);
    EXPECT_TRUE(fax.LineGetStr(l.get(), &pos, &s));
    EXPECT_STREQ(s, "abc");
    EXPECT_TRUE(fax.LineGetInt(l.get(), &pos, &v));
    EXPECT_EQ(v, 0);
    EXPECT_TRUE(fax.LineGetInt(l.get(), &pos, &v));
    EXPECT_EQ(v, 7);
    EXPECT_FALSE(fax.LineGetInt(l.get(), &pos, &v));
    EXPECT_FALSE(fax.LineGetStr(l.get(), &pos, &s));
    EXPECT_EQ(s, nullptr);
    Line blank("   ");
    pos = 0;
    EXPECT_FALSE(fax.LineGetInt(blank.get(), &pos, &v));
}

TEST(LibraryInterpreter, CommaSearchStepsOverTrailBytes) {
    FaxImage fax;
    fax.CodePage = 936;
    // 0x81 0x2C would be a lead byte and a comma as bytes, one character in 936.
    Line l("\x81,x,y");
    int pos = 0;
    char* s = nullptr;
    EXPECT_TRUE(fax.LineGetStr(l.get(), &pos, &s));
    EXPECT_STREQ(s, "\x81,x");
}

TEST(LibraryInterpreter, FileIncludesTextLinesAsText) {
    const std::string path = scratch("included.txt");
    {
        std::ofstream f(path, std::ios::binary);
        f << "@CONVERT:END\r\nsecond\rthird\nlast";
    }
    FaxImage fax;
    const int lh = fax.Image->Canvas().TextHeight("Yy");
    EXPECT_TRUE(run(fax, "@CONVERT:FILE=" + path + "  , txt"));
    EXPECT_EQ(fax.Y, 100 + 4 * lh);
    EXPECT_GT(fax.Image->Picture().CountBlack(), 0u);
    // Without a type, with another type, or missing: nothing.
    for (const std::string& cmd :
         std::vector<std::string>{"@CONVERT:FILE=" + path, "@CONVERT:FILE=" + path + ",DOC",
                                  "@CONVERT:FILE=/no/such/file.txt,TXT", "@CONVERT:FILE",
                                  "@CONVERT:FILE=/tmp,TXT", "@CONVERT:FILE=/no/such.bmp,BMP"}) {
        EXPECT_TRUE(run(fax, cmd));
        EXPECT_EQ(fax.Y, 100 + 4 * lh) << cmd;
    }
}

TEST(LibraryInterpreter, UnreadableIncludedFilesRaiseErrors) {
    FaxImage fax;
    try {
        run(fax, "@CONVERT:FILE=/dev/zero,TXT");
        FAIL() << "no error";
    } catch (const folio::Error& e) {
        EXPECT_STREQ(e.what(), "Cannot open file /dev/zero");
    }
    const std::string bad = scratch("not-a-bitmap.bmp");
    {
        std::ofstream f(bad, std::ios::binary);
        f << "BM this is no bitmap";
    }
    try {
        run(fax, "@CONVERT:FILE=" + bad + ",BMP");
        FAIL() << "no error";
    } catch (const folio::Error& e) {
        EXPECT_STREQ(e.what(), "Bitmap image is not valid");
    }
}

} // namespace

namespace {

TEST(LibraryInterpreter, CodePageReachesTheCanvasOnThisAndLaterPages) {
    FaxImage fax;
    run(fax, "@CONVERT:CODEPAGE=1251");
    EXPECT_EQ(fax.Image->Canvas().CodePage, 1251);
    // A Cyrillic letter in 1251 is not the same glyph as the same byte in 1252.
    const int w1251 = fax.Image->Canvas().TextWidth("\xC6");
    run(fax, "@CONVERT:PAGEBREAK");
    EXPECT_EQ(fax.Image->Canvas().CodePage, 1251);
    run(fax, "@CONVERT:CODEPAGE");
    EXPECT_EQ(fax.Image->Canvas().CodePage, 0);
    EXPECT_NE(fax.Image->Canvas().TextWidth("\xC6"), w1251);
}

// TEXTMODE=OVER keeps a rule under the text, on this page and the next, and
// after the default font is set again; OPAQUE (the default) erases it.
TEST(LibraryInterpreter, TextModeOverKeepsWhatLiesUnderTheText) {
    FaxImage fax;
    auto ruleUnderText = [&] {
        fax.ClearPage();
        run(fax, "@CONVERT:LINE=0,112,1000,112");
        run(fax, "@CONVERT:X=100");
        run(fax, "@CONVERT:Y=100");
        run(fax, "MMMMMMMM");
        return blackIn(fax.Image->Picture(), 0, 112, 1000, 113);
    };
    EXPECT_LT(ruleUnderText(), 1000);
    run(fax, "@CONVERT:TEXTMODE=over");
    EXPECT_EQ(ruleUnderText(), 1000);
    run(fax, "@CONVERT:PAGEBREAK");
    run(fax, "@CONVERT:FONT=Arial,14");
    EXPECT_EQ(ruleUnderText(), 1000);
    run(fax, "@CONVERT:TEXTMODE=SIDEWAYS"); // not a mode: stays over
    EXPECT_EQ(ruleUnderText(), 1000);
    run(fax, "@CONVERT:TEXTMODE=OPAQUE");
    EXPECT_LT(ruleUnderText(), 1000);
    run(fax, "@CONVERT:TEXTMODE=OVER");
    FaxImage other; // each engine its own mode
    EXPECT_EQ(other.Image->Canvas().BrushColor, folio::clWhite);
}

} // namespace
