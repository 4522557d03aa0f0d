// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// A diffused picture at normal resolution keeps the share of black it has
// at fine resolution, whether pages are coded as they are finished or at
// the save (a PDF copy), and one-pixel rules in the row pairs the picture
// shares still show after the row merge.
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
        std::string(dir ? dir : "/tmp") + "/normal-picture-" + std::to_string(::getpid());
    std::filesystem::create_directories(base);
    return base + "/" + name;
}

// Black pixels of page 1 in rows [y0, y1) and columns [x0, x1).
long blackIn(const std::string& path, uint32_t y0, uint32_t y1, uint32_t x0, uint32_t x1) {
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif)
        return -1;
    std::vector<uint8_t> line(size_t(TIFFScanlineSize(tif)));
    long black = 0;
    for (uint32_t y = 0; y < y1; ++y) {
        TIFFReadScanline(tif, line.data(), y, 0);
        for (uint32_t x = x0; y >= y0 && x < x1; ++x)
            black += line[x / 8] >> (7 - x % 8) & 1; // Class F: a set bit is black
    }
    TIFFClose(tif);
    return black;
}

TEST(NormalResolution, APictureKeepsItsGreyAndRulesBesideItStay) {
    // 200 x 200 grey, a gradient from black to white across: no line art.
    const std::string picture = scratch("ramp.tif");
    TIFF* t = TIFFOpen(picture.c_str(), "w");
    ASSERT_NE(t, nullptr);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 200);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, 200);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    std::vector<uint8_t> row(200);
    for (int x = 0; x < 200; ++x)
        row[size_t(x)] = uint8_t(x * 255 / 199);
    for (uint32_t y = 0; y < 200; ++y)
        TIFFWriteScanline(t, row.data(), y, 0);
    TIFFClose(t);
    // At fine rows 301 to 500; the rules on rows 300 and 501 share the row
    // pairs of its first and last rows, drawn before it.
    const std::string macro = scratch("ramp.fax");
    std::ofstream(macro) << "@CONVERT:LINE=50,300,400,300\n@CONVERT:LINE=50,501,400,501\n"
                            "@CONVERT:X=100\n@CONVERT:Y=301\n@CONVERT:FILE="
                         << picture << ",TIF\n";
    const std::string fine = scratch("fine.tif"), normal = scratch("normal.tif");
    FolioBuildOptions options = FOLIO_BUILD_OPTIONS_INIT;
    ASSERT_TRUE(BuildFaxWithOptions(macro.c_str(), fine.c_str(), &options)) << BuildFaxLastError();
    const double fineShare = blackIn(fine, 302, 500, 100, 300) / (198.0 * 200);
    EXPECT_EQ(blackIn(fine, 300, 301, 50, 400), 350);
    const std::string pdf = scratch("normal.pdf");
    for (const char* pdfFile : {static_cast<const char*>(nullptr), pdf.c_str()}) {
        SCOPED_TRACE(pdfFile ? "coded at the save" : "coded ahead");
        options.resolution = FOLIO_RESOLUTION_NORMAL;
        options.pdfFile = pdfFile;
        ASSERT_TRUE(BuildFaxWithOptions(macro.c_str(), normal.c_str(), &options))
            << BuildFaxLastError();
        const double share = blackIn(normal, 151, 250, 100, 300) / (99.0 * 200);
        EXPECT_NEAR(share, fineShare, 0.03);
        EXPECT_EQ(blackIn(normal, 150, 151, 50, 400), 350);
        EXPECT_EQ(blackIn(normal, 250, 251, 50, 400), 350);
    }
}

} // namespace
