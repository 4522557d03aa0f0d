// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// A PDF given to BuildFaxInMemory: the fax BuildFax makes of the same bytes
// as a file (even under an include root that does not hold the file), under
// options that name no file of it, and the ways it fails within the build's
// limits, handing back no buffers. The PDF is written here: a Letter page
// and a landscape A4 page, each with a black box and a 0.5 pt rule.
#include "foliolib.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string scratch(const std::string& name) {
    const char* dir = std::getenv("FOLIO_TEST_TMP");
    const std::string base = std::string(dir ? dir : "/tmp") + "/buildfax-pdf-memory";
    fs::create_directories(base);
    return base + "/" + name;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string take(FolioBuffer& b) {
    std::string s(reinterpret_cast<const char*>(b.data), b.size);
    FolioBufferFree(&b);
    return s;
}

// The two pages as a PDF, with its cross-reference table.
std::string twoPagePdf() {
    const std::vector<std::string> boxes = {"612 792", "842 595"};
    std::vector<std::string> objects = {"<</Type/Catalog/Pages 2 0 R>>",
                                        "<</Type/Pages/Kids[3 0 R 5 0 R]/Count 2>>"};
    const std::string ink = "0 g 72 400 144 72 re f 0.5 w 72 300 m 500 300 l S";
    for (const std::string& box : boxes) {
        objects.push_back("<</Type/Page/Parent 2 0 R/MediaBox[0 0 " + box + "]/Contents " +
                          std::to_string(objects.size() + 2) + " 0 R>>");
        objects.push_back("<</Length " + std::to_string(ink.size()) + ">>stream\n" + ink +
                          "\nendstream");
    }
    std::string pdf = "%PDF-1.4\n";
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const std::size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (const std::size_t at : offsets) {
        char line[24];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", at);
        pdf += line;
    }
    return pdf + "trailer\n<</Size " + std::to_string(objects.size() + 1) +
           "/Root 1 0 R>>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
}

FolioBuildOptions options(int coding, int resolution) {
    FolioBuildOptions o{};
    o.size = sizeof o;
    o.coding = coding;
    o.resolution = resolution;
    return o;
}

TEST(BuildFaxInMemory, APdfIsTheFaxBuildFaxMakesOfItsFile) {
    const std::string pdf = twoPagePdf(), file = scratch("two.pdf"), root = scratch("empty");
    std::ofstream(file, std::ios::binary) << pdf;
    fs::create_directories(root);
    struct Case {
        const char* what;
        int coding, resolution;
        const char* includeRoot; // holds no file: nothing may be read through it
        const char* macroName;   // a FILE command cannot carry a comma
    };
    const Case cases[] = {
        {"Group 3, fine", FOLIO_CODING_G3, FOLIO_RESOLUTION_FINE, nullptr, nullptr},
        {"Group 4, normal", FOLIO_CODING_G4, FOLIO_RESOLUTION_NORMAL, nullptr, nullptr},
        {"an include root without the PDF", FOLIO_CODING_G3, FOLIO_RESOLUTION_FINE, root.c_str(),
         nullptr},
        {"a name with a comma", FOLIO_CODING_G3_2D, FOLIO_RESOLUTION_FINE, nullptr, "order,17"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FolioBuildOptions o = options(c.coding, c.resolution);
        const std::string tiffFile = scratch("two.tif");
        // The PDF the caller names is read whatever the root, as a macro
        // file the caller names is.
        o.includeRoot = c.includeRoot;
        ASSERT_TRUE(BuildFaxWithOptions(file.c_str(), tiffFile.c_str(), &o)) << BuildFaxLastError();
        o.macroName = c.macroName;
        FolioBuffer tiff{};
        ASSERT_TRUE(BuildFaxInMemory(pdf.data(), pdf.size(), &o, &tiff, nullptr))
            << BuildFaxLastError();
        EXPECT_TRUE(take(tiff) == slurp(tiffFile));
    }
    // The pages as the service's PNG answer takes them: both drawn, each
    // box 2 x 1 inches (408 x 196 pixels; the landscape page's shrunk to
    // 0.72 of that each way, to fit its 11.7 inches to the fax width).
    std::vector<long> black;
    auto sink = [](void* context, int, const unsigned char* rows, int width, int height) {
        long n = 0;
        for (long i = 0; i < long(width + 7) / 8 * height; ++i)
            n += __builtin_popcount(rows[i]);
        static_cast<std::vector<long>*>(context)->push_back(n);
        return 0;
    };
    ASSERT_TRUE(BuildFaxPageBitmaps(pdf.data(), pdf.size(), nullptr, sink, &black))
        << BuildFaxLastError();
    ASSERT_EQ(black.size(), 2u);
    EXPECT_GT(black[0], 408 * 196 * 9 / 10);
    EXPECT_GT(black[1], 408 * 196 / 2);
}

TEST(BuildFaxInMemory, APdfFailsWithinTheBuildsLimitsAndHandsBackNothing) {
    const std::string pdf = twoPagePdf();
    struct Case {
        const char* what;
        std::string bytes;
        int maxPages, timeLimitMs;
        const char* says;
    };
    const Case cases[] = {
        {"a damaged PDF", pdf.substr(0, 200), 0, 0, "pdfinfo cannot read it"},
        {"more pages than maxPages", pdf, 1, 0, "more than 1 page"},
        {"past the time limit", pdf, 0, 1, "longer than its limit of 1 ms"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FolioBuildOptions o = options(FOLIO_CODING_G3, FOLIO_RESOLUTION_FINE);
        o.maxPages = c.maxPages;
        o.timeLimitMs = c.timeLimitMs;
        FolioBuffer tiff{}, copy{};
        EXPECT_FALSE(BuildFaxInMemory(c.bytes.data(), c.bytes.size(), &o, &tiff, &copy));
        EXPECT_NE(std::string(BuildFaxLastError()).find(c.says), std::string::npos)
            << BuildFaxLastError();
        EXPECT_EQ(tiff.data, nullptr);
        EXPECT_EQ(copy.data, nullptr);
    }
}

} // namespace
