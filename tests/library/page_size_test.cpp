// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Page sizes: the paper chosen by FolioBuildOptions.pageSize or a PAGE
// command gives each page its length in rows at fine and normal resolution
// (read back with libtiff), the bottom margin follows the page's end, a
// drawing on the last row survives the row merge, and a late or unknown
// PAGE is reported and changes nothing.
#include "foliolib.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string scratch(const std::string& name) {
    const char* dir = std::getenv("FOLIO_TEST_TMP");
    const std::string base =
        std::string(dir ? dir : "/tmp") + "/page-size-" + std::to_string(::getpid());
    std::filesystem::create_directories(base);
    return base + "/" + name;
}

// Per page of a fax file: its rows, and whether each row holds black.
struct Page {
    uint32_t rows = 0;
    std::vector<bool> inked;
};

std::vector<Page> readTiff(const std::string& path) {
    std::vector<Page> pages;
    TIFFSetWarningHandler(nullptr);
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif)
        return pages;
    do {
        Page p;
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &p.rows);
        std::vector<uint8_t> line(size_t(TIFFScanlineSize(tif)));
        for (uint32_t y = 0; y < p.rows; ++y) {
            TIFFReadScanline(tif, line.data(), y, 0);
            bool black = false;
            for (uint8_t b : line)
                black = black || b; // Class F: a set bit is black
            p.inked.push_back(black);
        }
        pages.push_back(std::move(p));
    } while (TIFFReadDirectory(tif));
    TIFFClose(tif);
    return pages;
}

void collect(void* context, const FolioDiagnostic* d) {
    *static_cast<std::string*>(context) += std::string(d->kind) + " ";
}

TEST(PageSize, EachPaperHasItsRowsAtFineAndNormal) {
    struct Case {
        int option;
        const char* head; // macro lines before the text
        uint32_t fine, normal;
        const char* kinds; // diagnostics of the head
    };
    const Case cases[] = {
        {FOLIO_PAGE_DEFAULT, "", 2200, 1100, ""},
        {FOLIO_PAGE_A4, "", 2286, 1143, ""},
        {FOLIO_PAGE_LETTER, "", 2151, 1075, ""},
        {FOLIO_PAGE_LEGAL, "", 2738, 1369, ""},
        {0, "@CONVERT:page=a4\n", 2286, 1143, ""},
        {0, "@CONVERT:MARGIN=150\n\n@CONVERT:PAGE = Letter \n", 2151, 1075, ""},
        {FOLIO_PAGE_A4, "@CONVERT:PAGE=LEGAL\n", 2738, 1369, ""},
        {FOLIO_PAGE_A4, "@CONVERT:PAGE\n", 2200, 1100, ""},
        {FOLIO_PAGE_LEGAL, "@CONVERT:PAGE=DEFAULT\n", 2200, 1100, ""},
        // Too late: after text, a drawing, a page break.
        {FOLIO_PAGE_A4, "Text\n@CONVERT:PAGE=LEGAL\n", 2286, 1143, "page-late "},
        {0, "@CONVERT:LINE=0,0,9,0\n@CONVERT:PAGE=A4\n", 2200, 1100, "page-late "},
        {FOLIO_PAGE_LETTER, "@CONVERT:PAGEBREAK\n@CONVERT:PAGE\n", 2151, 1075, "page-late "},
        {0, "@CONVERT:PAGE=B5\n", 2200, 1100, "page-unknown "},
        // A word that only begins with PAGE stays an unknown command.
        {0, "@CONVERT:PAGENUMBER=3\n", 2200, 1100, "unknown-command "},
    };
    std::string text;
    for (int i = 0; i < 150; ++i)
        text += "Line " + std::to_string(i) + " of text that fills the first page\n";
    const std::string macro = scratch("paper.fax"), tiff = scratch("paper.tif");
    for (const Case& c : cases) {
        for (int resolution : {FOLIO_RESOLUTION_FINE, FOLIO_RESOLUTION_NORMAL}) {
            SCOPED_TRACE(std::string(c.head) + " option " + std::to_string(c.option) +
                         " resolution " + std::to_string(resolution));
            const uint32_t rows = resolution == FOLIO_RESOLUTION_FINE ? c.fine : c.normal;
            // A line on the page's last row, which is odd for Letter: at
            // normal resolution it joins the last row pair.
            const std::string last = std::to_string(c.fine - 1);
            std::ofstream(macro) << c.head << text << "@CONVERT:PAGEBREAK\n@CONVERT:LINE=0," << last
                                 << ",1727," << last << "\n";
            FolioBuildOptions options = FOLIO_BUILD_OPTIONS_INIT;
            std::string kinds;
            options.pageSize = c.option;
            options.resolution = resolution;
            options.diagnostic = collect;
            options.diagnosticContext = &kinds;
            ASSERT_TRUE(BuildFaxWithOptions(macro.c_str(), tiff.c_str(), &options))
                << BuildFaxLastError();
            EXPECT_EQ(kinds, c.kinds);
            const std::vector<Page> pages = readTiff(tiff);
            ASSERT_GE(pages.size(), 3u);
            for (const Page& p : pages)
                EXPECT_EQ(p.rows, rows);
            EXPECT_TRUE(pages.back().inked.back());
            // Text stops at the bottom margin, 100 fine rows above the end,
            // less than two text lines (about 60 rows each) short of it.
            const Page& first = pages[pages.size() - 3];
            uint32_t lowest = 0;
            for (uint32_t y = 0; y < first.rows; ++y)
                if (first.inked[y])
                    lowest = y;
            const uint32_t margin = resolution == FOLIO_RESOLUTION_FINE ? 100 : 50;
            EXPECT_LT(lowest, rows - margin);
            EXPECT_GT(lowest, rows - margin - 2 * margin);
        }
    }
}

TEST(PageSize, TheFieldCountsOnlyForItsReleaseAndRefusesUnknownSizes) {
    const std::string macro = scratch("field.fax"), tiff = scratch("field.tif");
    std::ofstream(macro) << "A page\n";
    struct Case {
        unsigned size;
        int pageSize;
        bool ok;
        uint32_t rows;
    };
    const Case cases[] = {
        {sizeof(FolioBuildOptions), FOLIO_PAGE_LEGAL, true, 2738},
        // A 1.1 or 1.0 caller's structure ends before the field: whatever
        // lies there is not read.
        {72, FOLIO_PAGE_LEGAL, true, 2200},
        {72, 99, true, 2200},
        {40, FOLIO_PAGE_A4, true, 2200},
        {sizeof(FolioBuildOptions), 4, false, 0},
        {sizeof(FolioBuildOptions), -1, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("size " + std::to_string(c.size) + " page " + std::to_string(c.pageSize));
        std::filesystem::remove(tiff);
        FolioBuildOptions options = FOLIO_BUILD_OPTIONS_INIT;
        options.size = c.size;
        options.pageSize = c.pageSize;
        EXPECT_EQ(BuildFaxWithOptions(macro.c_str(), tiff.c_str(), &options), c.ok);
        const std::vector<Page> pages = readTiff(tiff);
        if (c.ok) {
            ASSERT_EQ(pages.size(), 1u);
            EXPECT_EQ(pages[0].rows, c.rows);
        } else {
            EXPECT_TRUE(pages.empty());
            EXPECT_EQ(std::string(BuildFaxLastError()),
                      "unknown page size " + std::to_string(c.pageSize));
        }
    }
}

} // namespace
