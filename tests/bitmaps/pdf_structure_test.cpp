// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The PDF structure reader the printing tests check their files with: the
// same page box however a writer spaces it, inherits it or hides look-alike
// bytes in a stream, and malformed files end the scan without a crash.
#include "PdfStructure.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Case {
    const char* name;
    std::string pdf;
    std::size_t pages;
    std::vector<double> mediaBox; // of the first page
};

const char kGarbage[] = "<<<<[[[(((\\>>>>]]]/ 0 0 R R obj endobj\0 1 2 obj <</Type";

TEST(PdfStructure, FindsPagesAndTheirBoxWhateverTheSpacing) {
    const std::vector<Case> cases = {
        {"cairo 1.16 spacing",
         "%PDF-1.5\n%\xb5\xed\xae\xfb\n3 0 obj\n<< /Type /Page\n   /Parent 1 0 R\n"
         "   /MediaBox [ 0 0 612 792 ]\n>>\nendobj\n",
         1,
         {0, 0, 612, 792}},
        {"cairo 1.18 spacing",
         "%PDF-1.7\n3 0 obj\n<</Type/Page/Parent 1 0 R/MediaBox[0 0 612 792]>>\nendobj\n",
         1,
         {0, 0, 612, 792}},
        {"inherited from the page tree, comments between tokens",
         "1 0 obj <</Type /Pages /Kids [2 0 R] /MediaBox [0 0 595.28 841.89] % A4\n>> endobj\n"
         "2 0 obj<</Type/Page/Parent 1 0 R>>endobj",
         1,
         {0, 0, 595.28, 841.89}},
        {"look-alike bytes in a stream are not objects",
         "4 0 obj << /Length 44 >> stream\n9 0 obj <</Type /Page /MediaBox [1 1 2 2]>> endobj\n"
         "endstream endobj\n5 0 obj <</Type /Page /MediaBox [0 0 10 20]>> endobj",
         1,
         {0, 0, 10, 20}},
        {"a page tree that names itself as parent",
         "1 0 obj <</Type /Page /Parent 1 0 R>> endobj",
         1,
         {}},
        {"truncated", "1 0 obj << /Type /Page /MediaBox [0 0 612", 1, {0, 0, 612}},
        {"garbage", std::string(kGarbage, sizeof kGarbage - 1), 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const pdftest::Document document(c.pdf);
        const auto pages = document.Pages();
        ASSERT_EQ(pages.size(), c.pages);
        if (!pages.empty()) {
            EXPECT_EQ(document.Numbers(document.Inherited(*pages[0], "MediaBox")), c.mediaBox);
        }
    }
}

} // namespace
