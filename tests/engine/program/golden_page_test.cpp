// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// A representative program macro on small pages compared with the golden
// pictures: paragraphs, columns across a page break, a text box that cuts a
// long word, and the strike-out escape.
#include "FaxImage.h"

#include "common/EngineTestSupport.h"
#include "common/GoldenPage.h"

#include <gtest/gtest.h>
#include <string>

namespace {

struct SmallPageSettings : FaxSettingsSource {
    std::string WidthText() const override { return "900"; }
    std::string HeightText() const override { return "640"; }
    std::string LeftMarginText() const override { return "40"; }
    std::string TopMarginText() const override { return "40"; }
    std::string FontName() const override { return "Arial"; }
    std::string FontSizeText() const override { return "7"; }
    std::string MacroStart() const override { return ":FAX:"; }
    std::string CommentStart() const override { return "#"; }
};

const char* const kMacro[] = {
    "# paragraphs flow across input lines",
    ":FAX:TEXT=PARAGRAPH",
    "Paragraph mode joins these input lines",
    "into one flowing paragraph, \\Bbold\\b, \\Iitalic\\i, \\Uunderlined\\u",
    "and \\Sstruck out\\s words included.",
    "",
    "A second paragraph follows an empty line.",
    "",
    ":FAX:TEXT",
    ":FAX:TEXTBOX=40,200,200,90",
    "Supercalifragilisticexpialidocious cut to fit the box.",
    ":FAX:TEXT",
    ":FAX:Y=320",
    ":FAX:COLUMNS=40,430,470,860",
    "Columns fill from top to bottom and then move across; when the last "
    "column is full the text goes on in the first column of a new page.",
    "Column text keeps flowing across input lines like a paragraph does, so "
    "these sentences run on and on until they need a second page.",
    "More words to fill the columns: alpha beta gamma delta epsilon zeta eta "
    "theta iota kappa lambda mu nu xi omicron pi rho sigma tau upsilon phi chi "
    "psi omega, and once more alpha beta gamma delta epsilon zeta eta theta.",
    "Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod "
    "tempor incididunt ut labore et dolore magna aliqua. Ut enim ad minim veniam, "
    "quis nostrud exercitation ullamco laboris nisi ut aliquip ex ea commodo.",
    "Duis aute irure dolor in reprehenderit in voluptate velit esse cillum dolore "
    "eu fugiat nulla pariatur. Excepteur sint occaecat cupidatat non proident, sunt "
    "in culpa qui officia deserunt mollit anim id est laborum.",
    "",
    "Sed ut perspiciatis unde omnis iste natus error sit voluptatem accusantium "
    "doloremque laudantium, totam rem aperiam, eaque ipsa quae ab illo inventore "
    "veritatis et quasi architecto beatae vitae dicta sunt explicabo.",
    "Nemo enim ipsam voluptatem quia voluptas sit aspernatur aut odit aut fugit, "
    "sed quia consequuntur magni dolores eos qui ratione voluptatem sequi nesciunt.",
};

TEST(ProgramGolden, RepresentativeMacro) {
    SmallPageSettings settings;
    FaxImage fax(settings, nullptr);
    fax.ResetAll();
    for (const char* text : kMacro) {
        enginetest::Line line(text);
        fax.ProcessCommand(line.get());
    }
    ASSERT_EQ(fax.PageCount, 2);
    auto* first = static_cast<FaxPage*>(fax.Pages->First());
    auto* second = static_cast<FaxPage*>(first->Suc());
    enginetest::expectGolden(first->PageImage.Picture(), 900, 640, "program-page1.pbm");
    enginetest::expectGolden(second->PageImage.Picture(), 900, 640, "program-page2.pbm");
}

} // namespace
