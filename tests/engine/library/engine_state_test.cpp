// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The library engine's state: construction, defaults, pages and drawing.
#include "FaxImage.h"

#include "Error.h"
#include "common/EngineTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

using enginetest::blackIn;
using enginetest::Line;

namespace {

TEST(LibraryEngine, FreshEngineHoldsOneWhitePageWithTheDefaults) {
    FaxImage fax;
    EXPECT_STREQ(fax.MacroStart, "@CONVERT:");
    EXPECT_STREQ(fax.CommentStart, "#");
    EXPECT_STREQ(fax.FontName, "Arial");
    EXPECT_EQ(fax.FontSize, 12);
    EXPECT_EQ(fax.CodePage, 0);
    EXPECT_EQ(fax.PageCount, 1);
    EXPECT_EQ(fax.PageNo, 1);
    EXPECT_EQ(fax.Pages->Cardinal(), 1);
    EXPECT_EQ(fax.CurrentPage, fax.Pages->First());
    EXPECT_EQ(fax.Image, &fax.CurrentPage->PageImage);
    EXPECT_EQ(fax.X, 100);
    EXPECT_EQ(fax.Left, 100);
    EXPECT_EQ(fax.Y, 100);
    EXPECT_EQ(fax.Top, 100);
    EXPECT_EQ(fax.Right, 1628);
    EXPECT_EQ(fax.Bottom, 2100);
    EXPECT_EQ(fax.SaveName, nullptr);
    EXPECT_EQ(fax.TextMode, TextModes::Text);
    EXPECT_DOUBLE_EQ(fax.FontScale, 2.138);
    EXPECT_EQ(fax.CurFontSize, 12);
    const folio::Bitmap& page = fax.Image->Picture();
    EXPECT_EQ(page.Width(), 1728);
    EXPECT_EQ(page.Height(), 2200);
    EXPECT_EQ(page.CountBlack(), 0u);
    folio::Canvas& canvas = fax.Image->Canvas();
    EXPECT_EQ(canvas.Font.Name, "Arial");
    EXPECT_EQ(canvas.Font.Size, 25);
    EXPECT_EQ(canvas.Font.Style, 0);
    EXPECT_EQ(canvas.BrushColor, folio::clWhite);
    EXPECT_EQ(canvas.PenColor, folio::clBlack);
}

TEST(LibraryEngine, FontSizeIsTruncatedNotRounded) {
    struct {
        int nominal, canvas;
    } cases[] = {{12, 25}, {10, 21}, {7, 14}, {1, 2}, {0, 0}, {-5, -10}};
    for (auto c : cases) {
        FaxImage fax;
        Line line("@CONVERT:FONT=Arial," + std::to_string(c.nominal));
        fax.ProcessCommand(line.get());
        EXPECT_EQ(fax.Image->Canvas().Font.Size, c.canvas) << c.nominal;
        EXPECT_EQ(fax.CurFontSize, c.nominal);
    }
}

TEST(LibraryEngine, ResetDefaultsLeavesPagesAndFontSizeAlone) {
    FaxImage fax;
    Line pb("@CONVERT:PAGEBREAK");
    fax.ProcessCommand(pb.get());
    Line font("@CONVERT:FONT=Arial,20");
    fax.ProcessCommand(font.get());
    fax.X = 5;
    fax.Left = 7;
    fax.TextMode = TextModes::TextBox;
    fax.FontScale = 1;
    fax.FontStyle = folio::fsBold;
    fax.ResetDefaults();
    EXPECT_EQ(fax.PageCount, 2);
    EXPECT_EQ(fax.PageNo, 2);
    EXPECT_EQ(fax.CurFontSize, 20);
    EXPECT_EQ(fax.X, 100);
    EXPECT_EQ(fax.Left, 100);
    EXPECT_EQ(fax.TextMode, TextModes::Text);
    EXPECT_DOUBLE_EQ(fax.FontScale, 2.138);
    EXPECT_EQ(fax.FontStyle, 0);
    EXPECT_EQ(fax.Image->Canvas().Font.Size, 42);
}

TEST(LibraryEngine, PageBreakMakesAFreshPageAndResetsPenModeAndFont) {
    FaxImage fax;
    for (const char* cmd : {"@CONVERT:FONT=Courier New,20", "@CONVERT:MARGIN=300",
                            "@CONVERT:TEXTBOX=10,10,100,100", "@CONVERT:LINE=0,0,100,0"}) {
        Line l(cmd);
        fax.ProcessCommand(l.get());
    }
    fax.FontStyle = folio::fsBold;
    fax.Image->Canvas().Font.Style = folio::fsBold;
    PageImage* first = fax.Image;
    Line pb("@CONVERT:PAGEBREAK whatever");
    fax.ProcessCommand(pb.get());
    EXPECT_EQ(fax.PageCount, 2);
    EXPECT_EQ(fax.PageNo, 2);
    EXPECT_NE(fax.Image, first);
    EXPECT_EQ(fax.X, 300);
    EXPECT_EQ(fax.Y, 100);
    EXPECT_EQ(fax.TextMode, TextModes::Text);
    EXPECT_EQ(fax.Image->Picture().CountBlack(), 0u);
    folio::Canvas& canvas = fax.Image->Canvas();
    EXPECT_EQ(canvas.Font.Name, "Arial");
    EXPECT_EQ(canvas.Font.Size, 25);
    EXPECT_EQ(canvas.Font.Style, 0); // a new page starts regular
    EXPECT_EQ(fax.FontStyle, folio::fsBold);
    EXPECT_EQ(first->Picture().CountBlack(), 100u); // the old page keeps its line
}

TEST(LibraryEngine, MovingBackAndForthNeitherClearsNorResets) {
    FaxImage fax;
    Line pb("@CONVERT:PAGEBREAK");
    fax.ProcessCommand(pb.get());
    fax.DrawLine(0, 0, 50, 0);
    PageImage* second = fax.Image;
    fax.PrevPage();
    EXPECT_EQ(fax.PageNo, 1);
    fax.PrevPage(); // on the first page: nothing
    EXPECT_EQ(fax.PageNo, 1);
    EXPECT_EQ(fax.CurrentPage, fax.Pages->First());
    fax.X = 42;
    fax.NextPage(true); // back to the existing page, not a new one
    EXPECT_EQ(fax.PageNo, 2);
    EXPECT_EQ(fax.PageCount, 2);
    EXPECT_EQ(fax.Image, second);
    EXPECT_EQ(fax.X, 42);
    EXPECT_EQ(second->Picture().CountBlack(), 50u);
    fax.NextPage(false); // on the last page without create: nothing
    EXPECT_EQ(fax.PageNo, 2);
    EXPECT_EQ(fax.Pages->Cardinal(), 2);
}

TEST(LibraryEngine, LinesLeaveTheEndPointUnsetAndBoxesAreClosed) {
    FaxImage fax;
    const folio::Bitmap& page = fax.Image->Picture();
    fax.DrawLine(10, 10, 20, 10);
    for (int x = 8; x <= 22; ++x)
        EXPECT_EQ(page.Pixel(x, 10), x >= 10 && x < 20) << x;
    fax.ClearPage();
    fax.DrawBox(100, 50, 200, 80);
    for (auto [x, y] : {std::pair{50, 100}, {250, 100}, {250, 180}, {50, 180}})
        EXPECT_TRUE(page.Pixel(x, y)) << x << "," << y;
    EXPECT_EQ(page.CountBlack(), 2u * 200 + 2u * 80);
    EXPECT_EQ(blackIn(page, 51, 101, 250, 180), 0); // not filled
}

TEST(LibraryEngine, HugeCoordinatesAreClippedNotWalked) {
    FaxImage fax;
    const folio::Bitmap& page = fax.Image->Picture();
    Line line("@CONVERT:LINE=-2000000000,5,2000000000,5");
    fax.ProcessCommand(line.get());
    EXPECT_EQ(blackIn(page, 0, 5, 1728, 6), 1728);
    EXPECT_EQ(page.CountBlack(), 1728u);
    fax.ClearPage();
    Line box("@CONVERT:BOX=-2147483648,-2147483648,2147483647,2147483647");
    fax.ProcessCommand(box.get());
    Line diag("@CONVERT:LINE=-2147483648,-2147483648,2147483647,2147483647");
    fax.ProcessCommand(diag.get());
    EXPECT_GT(page.CountBlack(), 0u);
    Line far("@CONVERT:LINE=99999999999999,1,-99999999999999,1");
    fax.ClearPage();
    fax.ProcessCommand(far.get());
    EXPECT_EQ(page.CountBlack(), 1728u);
}

TEST(LibraryEngine, DestroyingAnEngineWithManyPagesReleasesThem) {
    // Leaks would show in the sanitizer build.
    auto* fax = new FaxImage;
    for (int i = 0; i < 5; ++i) {
        Line pb("@CONVERT:PAGEBREAK");
        fax->ProcessCommand(pb.get());
    }
    EXPECT_EQ(fax->Pages->Cardinal(), 6);
    delete fax;
}

} // namespace
