// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Headers and footers (HEADER=, FOOTER=): each page's top and bottom 100
// rows are compared with a page on which the text the mark stands for is
// set as plain text at the mark's place, and the rows between with the same
// macro built without its marks, pixel for pixel (BuildFaxPageBitmaps);
// also for a template whose values look like placeholders.
#include "foliolib.h"

#include "FaxImage.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kBand = 100; // rows of the header and footer bands (the margins)

std::vector<std::string> pagesOf(const std::string& macro, std::string* kinds = nullptr,
                                 const char* fields = nullptr) {
    std::vector<std::string> pages;
    FolioBuildOptions o{};
    o.size = sizeof o;
    o.fields = fields;
    o.diagnostic = [](void* context, const FolioDiagnostic* d) {
        if (context)
            *static_cast<std::string*>(context) += std::string(d->kind) + " ";
    };
    o.diagnosticContext = kinds;
    auto sink = [](void* context, int, const unsigned char* rows, int width, int height) {
        static_cast<std::vector<std::string>*>(context)->emplace_back(
            reinterpret_cast<const char*>(rows), std::size_t(width + 7) / 8 * std::size_t(height));
        return 0;
    };
    EXPECT_TRUE(BuildFaxPageBitmaps(macro.data(), macro.size(), &o, sink, &pages))
        << BuildFaxLastError();
    return pages;
}

// Rows [from, to) of a 1728-pixel-wide page.
std::string rows(const std::string& page, int from, int to) {
    return page.substr(std::size_t(from) * 216, std::size_t(to - from) * 216);
}

std::string withoutMarks(std::string macro) {
    for (const char* word : {"@CONVERT:HEADER", "@CONVERT:FOOTER"})
        for (std::size_t at; (at = macro.find(word)) != std::string::npos;)
            macro.replace(at, 9, "#"); // a comment line
    return macro;
}

TEST(PageMarks, EachPageShowsItsHeaderAndFooterAsPlainText) {
    // The default font's line height puts a footer's plain text at its place.
    FaxImage probe;
    const int footerY = 2200 - 30 - probe.Image->Canvas().TextHeight("Yy");
    const std::string fits(std::size_t((1728 - 100) / probe.Image->Canvas().TextWidth("W")), 'W');
    std::string body; // more than one page of text
    for (int i = 1; i <= 80; ++i)
        body += "Line " + std::to_string(i) + " of the report\n";
    struct Case {
        std::string macro;
        std::vector<std::string> headers, footers = {}; // control lines per page
        const char* kinds = "";
        const char* fields = nullptr; // a template's record
    };
    const Case cases[] = {
        {"@CONVERT:HEADER=Page {page} of {pages}\nOne\n@CONVERT:PAGEBREAK\nTwo\n"
         "@CONVERT:PAGEBREAK\nThree\n",
         {"Page 1 of 3", "Page 2 of 3", "Page 3 of 3"}},
        // Text running onto a second page takes the header there too.
        {"@CONVERT:HEADER=Report {page}/{pages}\n" + body, {"Report 1/2", "Report 2/2"}},
        // HEADER alone ends it; a new one replaces it from its page; a
        // footer is independent of the header.
        {"@CONVERT:HEADER=A\nx\n@CONVERT:PAGEBREAK\n@CONVERT:HEADER\n@CONVERT:FOOTER=F {pages}\n"
         "y\n@CONVERT:PAGEBREAK\n@CONVERT:HEADER=B {page}\nz\n",
         {"A", "", "B 3"},
         {"", "F 3", "F 3"}},
        // The font in force when the header is given, and the date fixed.
        {"@CONVERT:FONT=Liberation Mono,9\n@CONVERT:HEADER=On {date}\n@CONVERT:FONT\nBody\n",
         {"@CONVERT:FONT=Liberation Mono,9\nOn 2023-11-14"}},
        // Style escapes as in text; a footer given on page 2.
        {"One\n@CONVERT:PAGEBREAK\n@CONVERT:FOOTER=\\BSigned\\b by A\\\\B\nTwo\n",
         {"", ""},
         {"", "\\BSigned\\b by A\\\\B"}},
        // A longer word is no HEADER command, as before there was one.
        {"@CONVERT:HEADERS=x\nBody\n", {""}, {}, "unknown-command "},
        // Cut at the right edge, reported once.
        {"@CONVERT:HEADER=" + std::string(150, 'W') + "\nOne\n@CONVERT:PAGEBREAK\n",
         {fits, fits},
         {},
         "text-clipped "},
        // A value is text: its braces name no placeholder, alone or with
        // the template's text after it; the template's own still do.
        {"@CONVERT:HEADER={{v}} is page {page} of {pages}\n@CONVERT:FOOTER={{b}}page} {page}\n"
         "One\n@CONVERT:PAGEBREAK\nTwo\n",
         {"{page}{pages}{date}\\\\ is page 1 of 2", "{page}{pages}{date}\\\\ is page 2 of 2"},
         {"{page} 1", "{page} 2"},
         "",
         R"({"v": "{page}{pages}{date}\\", "b": "{"})"},
    };
    ::setenv("SOURCE_DATE_EPOCH", "1700000000", 1);
    for (const Case& c : cases) {
        std::string kinds;
        const std::vector<std::string> pages = pagesOf(c.macro, &kinds, c.fields);
        const std::vector<std::string> plain = pagesOf(withoutMarks(c.macro));
        EXPECT_EQ(kinds, c.kinds) << c.macro;
        ASSERT_EQ(pages.size(), c.headers.size()) << c.macro;
        ASSERT_EQ(plain.size(), pages.size()) << c.macro;
        for (std::size_t p = 0; p < pages.size(); ++p) {
            const std::string top = pagesOf("@CONVERT:Y=30\n" + c.headers[p] + "\n")[0];
            const std::string bottom =
                pagesOf("@CONVERT:TEXTBOX=100," + std::to_string(footerY) + ",1628,100\n" +
                        (p < c.footers.size() ? c.footers[p] : "") + "\n")[0];
            EXPECT_EQ(rows(pages[p], 0, kBand), rows(top, 0, kBand)) << c.macro << " page " << p;
            EXPECT_EQ(rows(pages[p], 2200 - kBand, 2200), rows(bottom, 2200 - kBand, 2200))
                << c.macro << " page " << p;
            EXPECT_EQ(rows(pages[p], kBand, 2200 - kBand), rows(plain[p], kBand, 2200 - kBand))
                << c.macro << " page " << p;
        }
    }
    ::unsetenv("SOURCE_DATE_EPOCH");
}

// A mark reaching into the text area is reported once, not on every page.
TEST(PageMarks, ReachingIntoTheTextAreaIsReportedOnce) {
    std::string kinds;
    pagesOf("@CONVERT:FONT=Liberation Sans,40\n@CONVERT:FOOTER=Big\nx\n@CONVERT:PAGEBREAK\n",
            &kinds);
    EXPECT_EQ(kinds, "text-overlap ");
}

} // namespace
