// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The program variant: settings read from the dialog's fields at the moment
// they are needed, the viewer kept informed, spare pages reused across runs,
// and the program's own text modes (paragraphs, columns, word cutting).
#include "FaxImage.h"

#include "Error.h"
#include "common/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using enginetest::blackIn;
using enginetest::Line;

namespace {

struct FakeSettings : FaxSettingsSource {
    std::string width = "1728", height = "2200", left = "100", top = "100";
    std::string font = "Arial", fontSize = "10", macro = ":FAX:", comment = "#";
    std::string WidthText() const override { return width; }
    std::string HeightText() const override { return height; }
    std::string LeftMarginText() const override { return left; }
    std::string TopMarginText() const override { return top; }
    std::string FontName() const override { return font; }
    std::string FontSizeText() const override { return fontSize; }
    std::string MacroStart() const override { return macro; }
    std::string CommentStart() const override { return comment; }
};

struct FakeViewer : FaxViewer {
    PageImage* shown = nullptr;
    int showCalls = 0;
    int pageNo = 0, pageCount = 0;
    bool saveEnabled = true;
    void ShowPage(PageImage* hidden, PageImage& page) override {
        EXPECT_TRUE(hidden == nullptr || hidden == shown);
        shown = &page;
        ++showCalls;
    }
    void SetPageLabels(int no, int count) override {
        pageNo = no;
        pageCount = count;
    }
    void SetSaveEnabled(bool enabled) override { saveEnabled = enabled; }
};

struct ProgramEngine : ::testing::Test {
    FakeSettings settings;
    FakeViewer viewer;
    bool run(FaxImage& fax, const std::string& text) {
        Line l(text);
        return fax.ProcessCommand(l.get());
    }
    int width(FaxImage& fax, const std::string& s) { return fax.Image->Canvas().TextWidth(s); }
    int lineHeight(FaxImage& fax) { return fax.Image->Canvas().TextHeight("Yy"); }
};

TEST_F(ProgramEngine, CreationMakesPageOneOfOneInThePlatformFont) {
    FaxImage fax(settings, &viewer);
    EXPECT_EQ(fax.PageCount, 1);
    EXPECT_EQ(fax.PageNo, 1);
    EXPECT_EQ(viewer.shown, fax.Image);
    EXPECT_EQ(viewer.pageNo, 1);
    EXPECT_EQ(viewer.pageCount, 1);
    EXPECT_FALSE(viewer.saveEnabled);
    EXPECT_EQ(fax.CurFontSize, 0);
    EXPECT_EQ(fax.ColumnCount, 0);
    EXPECT_EQ(fax.Image->Canvas().Font.Name, folio::kDefaultFontName);
    EXPECT_EQ(fax.Image->Canvas().Font.Size, folio::kDefaultFontSize);
    fax.ResetAll();
    EXPECT_EQ(fax.Image->Canvas().Font.Name, "Arial");
    EXPECT_EQ(fax.Image->Canvas().Font.Size, 21);
    EXPECT_EQ(fax.CurFontSize, 10);
}

TEST_F(ProgramEngine, RightAndBottomLimitsFollowThePageNotTheMargins) {
    settings.width = "2000";
    settings.left = "300";
    FaxImage fax(settings, &viewer);
    EXPECT_EQ(fax.DefRight, 1900);
    EXPECT_EQ(fax.Left, 300);
    EXPECT_EQ(fax.Image->Picture().Width(), 2000);
}

TEST_F(ProgramEngine, AFieldThatIsNoNumberAbandonsTheRun) {
    FaxImage fax(settings, &viewer);
    settings.height = "22OO";
    settings.width = "1800";
    try {
        fax.ResetAll();
        FAIL() << "no error";
    } catch (const folio::Error& e) {
        EXPECT_STREQ(e.what(), "'22OO' is not a valid integer value");
    }
    EXPECT_EQ(fax.DefWidth, 1800); // set before the failing field
    settings.height = "2200";
    settings.fontSize = "";
    EXPECT_THROW(fax.ResetAll(), folio::Error);
}

TEST_F(ProgramEngine, ImpossiblePageSizesAreErrorsNotCrashes) {
    for (const char* w : {"0", "-5", "70000", "2147483647"}) {
        settings.width = w;
        EXPECT_THROW(FaxImage(settings, &viewer), folio::Error) << w;
    }
    settings.width = "60000";
    settings.height = "60000"; // each side allowed, the area is not
    EXPECT_THROW(FaxImage(settings, &viewer), folio::Error);
}

TEST_F(ProgramEngine, PrefixesAreReadForEveryLine) {
    FaxImage fax(settings, &viewer);
    fax.ResetAll();
    EXPECT_FALSE(run(fax, ":fax:END"));
    EXPECT_TRUE(run(fax, "@CONVERT:END"));
    settings.macro = "@CONVERT:";
    EXPECT_FALSE(run(fax, "@CONVERT:END"));
    settings.macro = "";
    EXPECT_TRUE(run(fax, "X=5")); // every line is a command
    EXPECT_EQ(fax.X, 5);
    settings.macro = ":FAX:";
    settings.comment = "";
    const int y = fax.Y;
    EXPECT_TRUE(run(fax, "text that is now a comment"));
    EXPECT_EQ(fax.Y, y);
    EXPECT_TRUE(run(fax, ":FAX:CODEPAGE=932")); // no such command here
}

TEST_F(ProgramEngine, SparePagesAreReusedByLaterRuns) {
    FaxImage fax(settings, &viewer);
    fax.ResetAll();
    run(fax, ":FAX:PAGEBREAK");
    run(fax, ":FAX:LINE=0,0,100,0");
    run(fax, ":FAX:PAGEBREAK");
    ASSERT_EQ(fax.PageCount, 3);
    PageImage* second = &static_cast<FaxPage*>(fax.Pages->First()->Suc())->PageImage;
    fax.ResetAll();
    EXPECT_EQ(fax.PageCount, 1);
    EXPECT_EQ(fax.PageNo, 1);
    EXPECT_EQ(fax.Pages->Cardinal(), 3);
    EXPECT_EQ(viewer.shown, fax.Image);
    EXPECT_EQ(viewer.pageCount, 1);
    fax.NextPage(false); // the viewer cannot page into spare pages
    EXPECT_EQ(fax.PageNo, 1);
    run(fax, ":FAX:PAGEBREAK");
    EXPECT_EQ(fax.Image, second); // taken into use again, cleared
    EXPECT_EQ(second->Picture().CountBlack(), 0u);
    EXPECT_EQ(fax.PageCount, 2);
    EXPECT_EQ(fax.Pages->Cardinal(), 3);
    fax.PrevPage();
    EXPECT_EQ(fax.PageNo, 1);
    fax.PrevPage();
    EXPECT_EQ(fax.PageNo, 1);
    fax.NextPage(false);
    EXPECT_EQ(fax.PageNo, 2);
    EXPECT_EQ(viewer.pageNo, 2);
}

TEST_F(ProgramEngine, NextPageWithoutMovingStillResetsPenAndFont) {
    FaxImage fax(settings, &viewer);
    fax.ResetAll();
    fax.X = 500;
    fax.Y = 600;
    fax.Font->Size = 40;
    fax.NextPage(false);
    EXPECT_EQ(fax.PageNo, 1);
    EXPECT_EQ(fax.X, fax.Left);
    EXPECT_EQ(fax.Y, fax.Top);
    EXPECT_EQ(fax.Image->Canvas().Font.Size, 40);
}

TEST_F(ProgramEngine, StyleAndFontCarryOverToANewPage) {
    FaxImage fax(settings, &viewer);
    fax.ResetAll();
    run(fax, ":FAX:FONT=Courier New,12");
    fax.PrintLine("\\B\\Sbold");
    run(fax, ":FAX:TEXTBOX=10,10,500,500");
    run(fax, ":FAX:PAGEBREAK");
    EXPECT_EQ(fax.Image->Canvas().Font.Name, "Courier New");
    EXPECT_EQ(fax.Image->Canvas().Font.Style, folio::fsBold | folio::fsStrikeOut);
    EXPECT_EQ(fax.TextMode, TextModes::TextBox);
}

// The program's engine lives on through its runs (each Process, each
// preview build): TEXTMODE=OVER keeps a rule under the text for the rest of
// its own run, on the next page too, and the next run starts opaque.
TEST_F(ProgramEngine, TextModeOverLastsForItsOwnRun) {
    FaxImage fax(settings, &viewer);
    const std::pair<const char*, bool> steps[] = {// what comes first; the rule stays
                                                   {nullptr, false}, {":FAX:TEXTMODE=OVER", true},
                                                   {":FAX:PAGEBREAK", true}, {nullptr, false}};
    for (const auto& [first, kept] : steps) {
        if (first)
            run(fax, first);
        else
            fax.ResetAll(); // a new run
        for (const char* line : {":FAX:LINE=0,112,1000,112", ":FAX:Y=100", "MMMMMMMM"})
            run(fax, line);
        EXPECT_EQ(blackIn(fax.Image->Picture(), 0, 112, 1000, 113) == 1000, kept);
    }
}

TEST_F(ProgramEngine, ClearPageWhitensTheCurrentPageAndDisablesSave) {
    FaxImage fax(settings, &viewer);
    fax.ResetAll();
    run(fax, ":FAX:BOX=10,10,100,100");
    viewer.saveEnabled = true;
    fax.ClearPage();
    EXPECT_EQ(fax.Image->Picture().CountBlack(), 0u);
    EXPECT_FALSE(viewer.saveEnabled);
}

TEST_F(ProgramEngine, AWordExactlyAsWideAsTheRoomLeftStaysOnTheLine) {
    FaxImage fax(settings, &viewer);
    fax.ResetAll();
    const int lh = lineHeight(fax);
    fax.Right = 100 + width(fax, "x") + width(fax, " ") + 4 * width(fax, "W");
    fax.PrintLine("x WWWW");
    EXPECT_EQ(fax.Y, 100 + lh);
    EXPECT_EQ(fax.X, 100);
}

TEST_F(ProgramEngine, WordsWiderThanTheRegionAreCut) {
    FaxImage fax(settings, &viewer);
    fax.ResetAll();
    const int w = width(fax, "W");
    char word[102];
    int pos = 0, got = 0;
    std::string text(20, 'W');
    fax.ExtractWord(text.c_str(), &pos, 5 * w, word, 100, &got);
    EXPECT_EQ(std::string(word), "WWWWW");
    EXPECT_EQ(got, 5 * w);
    // A single character wider than the room still forms a piece.
    pos = 0;
    fax.ExtractWord(text.c_str(), &pos, 1, word, 100, &got);
    EXPECT_EQ(std::string(word), "W");
    // Whitespace is a word of its own; words stop before it.
    pos = 0;
    fax.ExtractWord("\tab", &pos, 1000, word, 100, &got);
    EXPECT_STREQ(word, "\t");
    EXPECT_EQ(pos, 1);
    fax.ExtractWord("\tab cd", &pos, 1000, word, 100, &got);
    EXPECT_STREQ(word, "ab");
    // Words stay below 100 bytes.
    std::string longRun(150, 'i');
    pos = 0;
    fax.ExtractWord(longRun.c_str(), &pos, 1 << 30, word, 100, &got);
    EXPECT_EQ(std::string(word).size(), 99u);
    // A 300-pixel word in a 200-pixel box: a first piece, the rest below.
    run(fax, ":FAX:TEXTBOX=100,300,200,1000");
    std::string wide;
    while (width(fax, wide) < 300)
        wide += 'W';
    const int y = fax.Y;
    fax.PrintLine(wide.c_str());
    EXPECT_EQ(fax.Y, y + 2 * lineHeight(fax));
    EXPECT_EQ(blackIn(fax.Image->Picture(), 301, 0, 1728, 2200), 0);
}

TEST_F(ProgramEngine, ParagraphsJoinLinesWithOneSpace) {
    FaxImage fax(settings, &viewer);
    fax.ResetAll();
    const int lh = lineHeight(fax);
    run(fax, ":FAX:TEXT=PARAGRAPH");
    EXPECT_EQ(fax.TextMode, TextModes::Paragraph);
    fax.PrintLine("one");
    fax.PrintLine("two");
    fax.PrintLine("three");
    EXPECT_EQ(fax.Y, 100);
    EXPECT_EQ(fax.X, 100 + width(fax, "one") + width(fax, " ") + width(fax, "two") +
                         width(fax, " ") + width(fax, "three"));
    fax.PrintLine(""); // ends the paragraph
    EXPECT_EQ(fax.Y, 100 + lh);
    fax.PrintLine(""); // a blank line
    EXPECT_EQ(fax.Y, 100 + 2 * lh);
    // TEXT finishes a partly filled line.
    fax.PrintLine("partial");
    run(fax, ":FAX:TEXT");
    EXPECT_EQ(fax.Y, 100 + 3 * lh);
    EXPECT_EQ(fax.TextMode, TextModes::Text);
}

TEST_F(ProgramEngine, ColumnsFillDownThenAcrossThenOntoANewPage) {
    FaxImage fax(settings, &viewer);
    fax.ResetAll();
    run(fax, ":FAX:COLUMNS=100,800,900,1600");
    EXPECT_EQ(fax.ColumnCount, 2);
    EXPECT_EQ(fax.TextMode, TextModes::Columns);
    EXPECT_EQ(fax.X, 100);
    EXPECT_EQ(fax.ColumnTop, 100);
    const int lh = lineHeight(fax);
    int lines = 0;
    while (fax.PageCount == 1 && lines < 10000) {
        fax.PrintLine("word");
        fax.PrintLine("");
        ++lines;
    }
    EXPECT_EQ(fax.PageCount, 2);
    EXPECT_EQ(fax.ColumnIndex, 0);
    EXPECT_EQ(fax.ColumnTop, fax.Top);
    // Both columns of page one were filled: about (2100 - 100) / lh lines each.
    EXPECT_GE(lines, 2 * ((2100 - 100) / lh) - 2);
    const folio::Bitmap& first = static_cast<FaxPage*>(fax.Pages->First())->PageImage.Picture();
    EXPECT_GT(blackIn(first, 100, 100, 800, 2100), 0);
    EXPECT_GT(blackIn(first, 900, 100, 1600, 2100), 0);
    // An odd number of values keeps the mode and counts the pairs read.
    run(fax, ":FAX:TEXT");
    run(fax, ":FAX:COLUMNS=100,800,900");
    EXPECT_EQ(fax.ColumnCount, 1);
    EXPECT_EQ(fax.TextMode, TextModes::Text);
    run(fax, ":FAX:COLUMNS=1,2,3,4,5,6,7,8,9,10");
    EXPECT_EQ(fax.ColumnCount, 4);
}

// A tab was set with the font's glyph for it: an empty box.
TEST_F(ProgramEngine, TabsAreDrawnAsSpaces) {
    FaxImage fax(settings, &viewer);
    fax.ResetAll();
    fax.PrintLine("a\tb");
    EXPECT_EQ(fax.X, 100); // the line ended
    FaxImage tab(settings, &viewer), space(settings, &viewer);
    tab.ResetAll();
    space.ResetAll();
    tab.PrintWord("a\tb");
    space.PrintWord("a b");
    EXPECT_EQ(tab.X, space.X);
    EXPECT_EQ(blackIn(tab.Image->Picture(), 0, 0, 1728, 400),
              blackIn(space.Image->Picture(), 0, 0, 1728, 400));
}

// The columns started on the open paragraph line and their opaque text
// erased it.
TEST_F(ProgramEngine, ColumnsAfterAPartlyFilledLineStartBelowIt) {
    FaxImage fax(settings, &viewer);
    fax.ResetAll();
    const int lh = lineHeight(fax);
    run(fax, ":FAX:TEXT=PARAGRAPH");
    fax.PrintLine("An open paragraph line");
    const folio::Bitmap& page = fax.Image->Picture();
    const int ink = blackIn(page, 0, 100, 1728, 100 + lh);
    ASSERT_GT(ink, 0);
    run(fax, ":FAX:COLUMNS=100,800,900,1600");
    EXPECT_EQ(fax.ColumnTop, 100 + lh);
    EXPECT_EQ(fax.Y, 100 + lh);
    EXPECT_EQ(fax.X, 100);
    fax.PrintLine("Column text");
    EXPECT_EQ(blackIn(page, 0, 100, 1728, 100 + lh), ink);
    // At the start of a line nothing moves.
    fax.PrintLine("");
    run(fax, ":FAX:COLUMNS=100,800,900,1600");
    EXPECT_EQ(fax.ColumnTop, 100 + 2 * lh);
}

} // namespace

#include "common/RecordingWriter.h"

namespace {

TEST_F(ProgramEngine, SaveWritesOnlyThePagesOfTheLastRun) {
    enginetest::gWriterCalls.clear();
    settings.width = "1700";
    FaxImage fax(settings, &viewer);
    fax.ResetAll();
    run(fax, ":FAX:PAGEBREAK");
    run(fax, ":FAX:PAGEBREAK");
    fax.ResetAll();
    char name[] = "one.tif";
    EXPECT_TRUE(fax.SaveFile(name));
    ASSERT_EQ(enginetest::gWriterCalls.size(), 1u);
    const auto& call = enginetest::gWriterCalls[0];
    EXPECT_EQ(call.count, 1);
    EXPECT_EQ(call.header().biWidth, 1700);
    // 216-byte rows: 212 bytes and 4 bits of pixels, 28 bits of padding.
    EXPECT_EQ(call.header().biSizeImage, 216u * 2200);
    const std::uint8_t* row = call.pixels();
    EXPECT_EQ(row[211], 0x00);
    EXPECT_EQ(row[212], 0x0F);
    EXPECT_EQ(row[213], 0xFF);
    EXPECT_EQ(row[215], 0xFF);
}

} // namespace
