// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// A representative library macro set on a page and compared with the golden
// picture: fonts and sizes, the style escapes, a text box that drops its
// overflow, wrapping, lines and boxes.
#include "FaxImage.h"

#include "common/EngineTestSupport.h"
#include "common/GoldenPage.h"

#include <gtest/gtest.h>

namespace {

const char* const kMacro[] = {
    "@CONVERT:FONT=Arial,14",
    "\\BQuarterly note\\b to \\Iall\\i \\Ustaff\\u, with a \\\\ backslash and \\q.",
    "@CONVERT:FONT=Courier New,10",
    "Fixed\tpitch:  two  spaces, a tab and \\Sno strike-out here.",
    "@CONVERT:FONT=Times New Roman,12",
    "",
    "Serif text after an empty line.",
    "@CONVERT:LINE=100,330,900,330",
    "@CONVERT:BOX=100,350,400,260",
    "@CONVERT:TEXTBOX=110,360,380,240",
    "@CONVERT:FONT=Arial,9",
    "A text box wraps its words at the right edge of the box and drops what "
    "does not fit below its bottom edge, without a page break. Words keep "
    "flowing line after line until the box is full, and then the rest of the "
    "text is simply left out of the page, like this sentence which goes on and on.",
    "Further lines are dropped too.",
    "@CONVERT:TEXTBOX=560,360,400,240",
    "@CONVERT:FONT=Arial,20,0",
    "Big \\BBold\\b",
    "@CONVERT:FONTSCALE=1.5",
    "@CONVERT:FONT=Arial,20",
    "Scaled",
};

TEST(LibraryGolden, RepresentativeMacro) {
    FaxImage fax;
    for (const char* text : kMacro) {
        enginetest::Line line(text);
        fax.ProcessCommand(line.get());
    }
    EXPECT_EQ(fax.PageCount, 1);
    enginetest::expectGolden(fax.Image->Picture(), 1000, 640, "library-macro.pbm");
}

} // namespace
