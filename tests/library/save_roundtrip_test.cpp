// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The engine's pages against the TIFF it writes: every page read back with
// libtiff must hold exactly the engine's page bitmap.
#include "FaxImage.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

std::string scratch(const std::string& name) {
    const char* dir = std::getenv("FOLIO_TEST_TMP");
    std::string base = dir ? dir : "/tmp";
    std::filesystem::create_directories(base);
    return base + "/" + name;
}

TEST(SaveRoundTrip, EveryPageComesBackAsTheEngineDrewIt) {
    FaxImage fax;
    const char* macro[] = {"Page one: \\Bbold\\b text and a box.",
                           "@CONVERT:BOX=50,300,600,400",
                           "@CONVERT:PAGEBREAK",
                           "@CONVERT:LINE=-5,-5,5000,3000",
                           "@CONVERT:PAGEBREAK", // a blank last page
                           "@CONVERT:PAGEBREAK"};
    for (const char* text : macro) {
        std::string line = text;
        fax.ProcessCommand(line.data());
    }
    // Pixels in the last column and row, and the blank page stays blank.
    fax.PrevPage();
    fax.DrawLine(1727, 0, 1727, 2200);
    fax.DrawLine(0, 2199, 1728, 2199);
    const std::string path = scratch("roundtrip.tif");
    std::string name = path;
    ASSERT_TRUE(fax.SaveFile(name.data()));

    TIFF* tif = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(tif, nullptr);
    int index = 0;
    for (Link* l = fax.Pages->First(); l; l = l->Suc(), ++index) {
        const folio::Bitmap& page = static_cast<FaxPage*>(l)->PageImage.Picture();
        if (index > 0) {
            ASSERT_TRUE(TIFFReadDirectory(tif));
        }
        uint32_t w = 0, h = 0;
        uint16_t pageNo = 0, pageCount = 0;
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
        TIFFGetField(tif, TIFFTAG_PAGENUMBER, &pageNo, &pageCount);
        EXPECT_EQ(w, 1728u);
        EXPECT_EQ(h, 2200u);
        EXPECT_EQ(pageNo, index);
        EXPECT_EQ(pageCount, 4);
        std::vector<uint8_t> row(std::size_t(TIFFScanlineSize(tif)));
        bool blank = true;
        for (uint32_t y = 0; y < h; ++y) {
            ASSERT_EQ(TIFFReadScanline(tif, row.data(), y, 0), 1);
            ASSERT_EQ(0, std::memcmp(row.data(), page.Row(int(y)), 216))
                << "page " << index << " row " << y;
            for (uint8_t b : row)
                blank = blank && b == 0;
        }
        EXPECT_EQ(blank, index == 3) << index;
    }
    EXPECT_FALSE(TIFFReadDirectory(tif));
    TIFFClose(tif);
}

} // namespace
