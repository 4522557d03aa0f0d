// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The library variant's text layout: word placement and wrapping with the
// strict fit test, escapes, text boxes, page breaks, word buffers, RTrim.
#include "FaxImage.h"

#include "common/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

using enginetest::blackIn;
using enginetest::Line;

namespace {

using enginetest::run;

using enginetest::lineHeight;
using enginetest::width;

TEST(LibraryLayout, WordsFollowEachOtherAndTheLineEnds) {
    FaxImage fax;
    const int lh = lineHeight(fax);
    fax.PrintLine("ab cd");
    EXPECT_EQ(fax.X, 100 + width(fax, "a") + width(fax, "b") + width(fax, " ") + width(fax, "c") +
                         width(fax, "d"));
    EXPECT_EQ(fax.Y, 100 + lh);
    fax.PrintLine(nullptr);
    EXPECT_EQ(fax.Y, 100 + lh);
}

TEST(LibraryLayout, AWordExactlyAsWideAsTheRoomLeftGoesToTheNextLine) {
    FaxImage fax;
    const int lh = lineHeight(fax);
    const int w = width(fax, "W") * 4;
    // Room for "x " and then exactly one "WWWW".
    fax.Right = 100 + width(fax, "x") + width(fax, " ") + w;
    fax.PrintLine("x WWWW");
    EXPECT_EQ(fax.Y, 100 + 2 * lh); // wrapped: one line of text plus the line end
    EXPECT_EQ(fax.X, 100 + w);
    // At the left edge a word is set even when it does not fit.
    FaxImage fax2;
    fax2.Right = 110;
    fax2.PrintLine("WWWW");
    EXPECT_EQ(fax2.Y, 100 + lh);
    EXPECT_EQ(fax2.X, 100 + w);
}

TEST(LibraryLayout, TabsAreDrawnAsPlainSpaces) {
    FaxImage a, b;
    a.PrintLine("ab\tcd");
    b.PrintLine("ab cd");
    EXPECT_EQ(a.X, b.X);
    EXPECT_EQ(a.Image->Picture().CountBlack(), b.Image->Picture().CountBlack());
    EXPECT_EQ(0, std::memcmp(a.Image->Picture().Bits(), b.Image->Picture().Bits(),
                             a.Image->Picture().ByteCount()));
}

TEST(LibraryLayout, LongRunsAreCutAtOneHundredBytes) {
    FaxImage fax;
    std::string run150(150, 'm');
    char word[112];
    int pos = 0, w = 0;
    fax.ExtractWord(run150.c_str(), &pos, word, 100, &w);
    EXPECT_EQ(std::string(word).size(), 100u);
    EXPECT_EQ(pos, 100);
    EXPECT_EQ(w, 100 * width(fax, "m"));
    fax.ExtractWord(run150.c_str(), &pos, word, 100, &w);
    EXPECT_EQ(std::string(word).size(), 50u);
    EXPECT_EQ(pos, 150);
    // At whitespace: an empty word and no movement.
    pos = 0;
    fax.ExtractWord(" x", &pos, word, 100, &w);
    EXPECT_STREQ(word, "");
    EXPECT_EQ(pos, 0);
    // A double-byte character added at 99 bytes may end at 101.
    fax.CodePage = 932;
    std::string dbcs = std::string(99, 'a') + "\x82\xA0" + "zz";
    pos = 0;
    fax.ExtractWord(dbcs.c_str(), &pos, word, 100, &w);
    EXPECT_EQ(std::string(word).size(), 101u);
}

TEST(LibraryLayout, EscapesSwitchStylesAndTakeNoWidth) {
    FaxImage fax;
    char word[112];
    int pos = 0, w = 0;
    fax.ExtractWord("\\Bab\\b", &pos, word, 100, &w);
    EXPECT_STREQ(word, "\\Bab\\b");
    EXPECT_EQ(w, width(fax, "a") + width(fax, "b"));
    pos = 0;
    fax.ExtractWord("a\\\\b", &pos, word, 100, &w);
    EXPECT_EQ(w, width(fax, "a") + width(fax, "\\") + width(fax, "b"));
    pos = 0;
    fax.ExtractWord("\\Sx", &pos, word, 100, &w); // not an escape here
    EXPECT_EQ(w, width(fax, "\\") + width(fax, "S") + width(fax, "x"));

    fax.PrintLine("\\Bbold");
    EXPECT_EQ(fax.FontStyle, folio::fsBold);
    EXPECT_EQ(fax.Image->Canvas().Font.Style, folio::fsBold);
    fax.PrintLine("still bold \\b\\I\\U");
    EXPECT_EQ(fax.FontStyle, folio::fsItalic | folio::fsUnderline);
    // A line that only switches a style still ends its line.
    const int y = fax.Y;
    fax.PrintLine("\\i");
    EXPECT_EQ(fax.Y, y + lineHeight(fax));
    EXPECT_EQ(fax.FontStyle, folio::fsUnderline);
}

TEST(LibraryLayout, BackslashesThatAreNoEscapeAreDrawn) {
    struct {
        const char* word;
        std::string drawn;
    } cases[] = {{"\\\\", "\\"}, {"ab\\", "ab\\"}, {"\\q", "\\q"}, {"\\S", "\\S"}};
    for (auto& c : cases) {
        FaxImage fax;
        fax.PrintWord(c.word);
        int expected = 100;
        for (char ch : c.drawn)
            expected += width(fax, std::string(1, ch));
        EXPECT_EQ(fax.X, expected) << c.word;
    }
}

TEST(LibraryLayout, TextBoxDropsWhatDoesNotFit) {
    FaxImage fax;
    const int lh = lineHeight(fax);
    // A box two lines high and a word wide.
    const int w = width(fax, "WW");
    run(fax,
        "@CONVERT:TEXTBOX=200,300," + std::to_string(w + 2) + "," + std::to_string(2 * lh + 1));
    fax.PrintLine("WW WW WW WW");
    const folio::Bitmap& page = fax.Image->Picture();
    EXPECT_GT(blackIn(page, 200, 300, 200 + w, 300 + lh), 0);
    EXPECT_GT(blackIn(page, 200, 300 + lh, 200 + w, 300 + 2 * lh), 0);
    EXPECT_EQ(blackIn(page, 0, 300 + 2 * lh, 1728, 2200), 0);
    EXPECT_EQ(fax.PageCount, 1);
    // Further lines draw nothing but still move down a line each.
    const int y = fax.Y;
    fax.PrintLine("more");
    EXPECT_EQ(fax.Y, y + lh);
    EXPECT_EQ(blackIn(page, 0, 300 + 2 * lh, 1728, 2200), 0);
    // A word wider than the box runs past its right edge.
    run(fax, "@CONVERT:TEXTBOX=100,1000,20,200");
    fax.PrintLine("WWWWWW");
    EXPECT_EQ(fax.X, 100 + 6 * width(fax, "W"));
}

TEST(LibraryLayout, TextFlowsOntoANewPageAtTheBottom) {
    FaxImage fax;
    const int lh = lineHeight(fax);
    fax.Y = fax.Bottom - lh; // Y + lh < Bottom is false
    fax.PrintLine("next page");
    EXPECT_EQ(fax.PageCount, 2);
    EXPECT_EQ(fax.Y, 100 + lh);
    EXPECT_GT(fax.Image->Picture().CountBlack(), 0u);
    EXPECT_EQ(static_cast<FaxPage*>(fax.Pages->First())->PageImage.Picture().CountBlack(), 0u);
}

TEST(LibraryLayout, MarginsWithoutRoomForALineDropIt) {
    FaxImage fax;
    fax.Bottom = fax.Top + lineHeight(fax);
    fax.PrintLine("dropped");
    EXPECT_EQ(fax.Image->Picture().CountBlack(), 0u);
    EXPECT_EQ(fax.Y, 100);
}

TEST(LibraryLayout, TextErasesLinesUnderItsCells) {
    FaxImage fax;
    const int lh = lineHeight(fax);
    run(fax, "@CONVERT:LINE=0,110,1728,110");
    fax.PrintLine(" ");
    const folio::Bitmap& page = fax.Image->Picture();
    EXPECT_EQ(blackIn(page, 100, 110, 100 + width(fax, " "), 111), 0);
    EXPECT_EQ(blackIn(page, 100 + width(fax, " "), 110, 1728, 111), 1728 - 100 - width(fax, " "));
    EXPECT_LT(110, 100 + lh);
}

TEST(LibraryLayout, PenNearTheEndsOfTheRangeStaysDefined) {
    FaxImage fax;
    fax.X = INT_MAX - 3;
    fax.Y = INT_MAX - 3;
    fax.Bottom = INT_MAX;
    fax.Right = INT_MAX;
    fax.TextMode = TextModes::TextBox;
    fax.TextBox = {INT_MAX - 5, INT_MIN, INT_MAX, INT_MAX};
    fax.PrintLine("xyz xyz");
    EXPECT_EQ(fax.Y, INT_MAX);
    FaxImage low;
    low.Y = INT_MIN;
    low.Top = INT_MIN;
    low.PrintLine("abc");
    EXPECT_EQ(low.PageCount, 1);
}

TEST(LibraryLayout, RTrimKeepsWholeCharacters) {
    FaxImage fax;
    struct {
        std::string in, out;
    } cases[] = {{"name.txt  \t", "name.txt"}, {"   ", ""}, {"", ""}, {"a b ", "a b"}};
    for (auto& c : cases) {
        Line l(c.in);
        fax.RTrim(l.get());
        EXPECT_EQ(std::string(l.get()), c.out) << c.in;
    }
    fax.CodePage = 932;
    Line dbcs("ab\x82\xA0  ");
    fax.RTrim(dbcs.get());
    EXPECT_EQ(std::string(dbcs.get()), "ab\x82\xA0");
    // A lead byte before a space keeps that byte as its trail.
    Line trail("ab\x82 ");
    fax.RTrim(trail.get());
    EXPECT_EQ(std::string(trail.get()), "ab\x82 ");
}

} // namespace
