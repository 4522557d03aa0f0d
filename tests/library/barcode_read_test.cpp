// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Barcodes read back by outside readers from the fax file, as a receiving
// machine would read them: two pages of symbols (every type, short and long
// data, commas, UTF-8 and Latin-1 text, odd places, the page's edges) built
// at fine and normal resolution in each coding, each page decoded from the
// TIFF with libtiff and handed to zbarimg (EAN, UPC, Code 128, Code 39,
// interleaved 2 of 5, QR) and to ZXingReader (Data Matrix, PDF417, Aztec,
// which zbar does not read), cut out one symbol per picture. A normal
// resolution page is read with each row shown twice, as a fax printer
// prints it. Skipped where zbarimg is not installed.
#include "MacroRunner.h"

#include "Diagnostics.h"
#include "tiflib32.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

// One symbol and what a reader must return for it. (x, y) and the cut-out
// are fine-resolution page pixels; a cut-out of 0 x 0 means zbarimg reads
// the symbol from the whole page.
struct Symbol {
    const char* command; // after "@CONVERT:BARCODE="
    const char* read;    // the reader's type and data: "QR-Code:..."
    int cutX = 0, cutY = 0, cutW = 0, cutH = 0;
};

// Page 1: 1-D codes, each in a band of its own. "EDGE-1" ends at the right
// edge (101 modules of 3 pixels and 2 x 10 quiet modules).
const std::vector<Symbol> kPage1 = {
    {"CODE128,100,60,0,CASE-2026-00417", "CODE-128:CASE-2026-00417"},
    {"code128,101,300,90,Invoice 4711, due 2026-12-31; ref A/B",
     "CODE-128:Invoice 4711, due 2026-12-31; ref A/B"},
    {"Code39 ,333,531,120,FOLIO-39 $/+%", "CODE-39:FOLIO-39 $/+%"},
    {"EAN13,100,760,0,400638133393", "EAN-13:4006381333931"},
    {"EAN13,901,760,0,5901234123457", "EAN-13:5901234123457"},
    {"UPCA,100,1090,0,03600029145", "UPC-A:036000291452"},
    {"ITF,901,1091,0,1234567", "I2/5:01234567"},
    {"ITF,100,1420,0,123456789012345678901234567890",
     "I2/5:123456789012345678901234567890"},
    {"CODE128,1365,1700,100,EDGE-1", "CODE-128:EDGE-1"},
    {"CODE128,0,1950,100,0", "CODE-128:0"},
};

// Page 2: 2-D symbols. The first QR sits in the top-left corner, the last
// ends in the bottom-right one (29 modules of 4 pixels with 4 quiet ones).
const std::vector<Symbol> kPage2 = {
    {"QR,0,0,0,https://example.org/case/417?x=1,2", "QR-Code:https://example.org/case/417?x=1,2"},
    {"QR,401,41,0,"
     "Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor "
     "incididunt ut labore et dolore magna aliqua. Ut enim ad minim veniam, quis nostrud "
     "exercitation ullamco laboris nisi ut aliquip ex ea commodo consequat. 0123456789",
     "QR-Code:Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor "
     "incididunt ut labore et dolore magna aliqua. Ut enim ad minim veniam, quis nostrud "
     "exercitation ullamco laboris nisi ut aliquip ex ea commodo consequat. 0123456789"},
    {"DATAMATRIX,100,560,0,Hello, fax", "DataMatrix:Hello, fax", 60, 520, 300, 300},
    {"DATAMATRIX,501,561,0,Patient 0815-4711; ward 7, bed 3; sample A/B/C; 2026-12-08T10:54; "
     "ordering physician Dr. Winter",
     "DataMatrix:Patient 0815-4711; ward 7, bed 3; sample A/B/C; 2026-12-08T10:54; "
     "ordering physician Dr. Winter",
     460, 520, 500, 400},
    {"PDF417,101,1001,0,Folio PDF417, page 1, ref 2026/417",
     "PDF417:Folio PDF417, page 1, ref 2026/417", 60, 960, 1660, 400},
    {"AZTEC,100,1450,0,Aztec: 1,2,3", "Aztec:Aztec: 1,2,3", 60, 1410, 300, 300},
    {"AZTEC,501,1451,0,Aztec holds more: 0123456789 abcdefghijklmnopqrstuvwxyz, "
     "ABCDEFGHIJKLMNOPQRSTUVWXYZ",
     "Aztec:Aztec holds more: 0123456789 abcdefghijklmnopqrstuvwxyz, "
     "ABCDEFGHIJKLMNOPQRSTUVWXYZ",
     460, 1410, 500, 500},
    {"DATAMATRIX,0,2000,0,corner", "DataMatrix:corner", 0, 1960, 300, 240},
    {"QR,1612,2084,0,edge", "QR-Code:edge"},
};

// Page 3: text beyond ASCII, in UTF-8 and in code page 1252.
const std::vector<Symbol> kPage3Utf8 = {
    {"QR,100,100,0,Grüße, Zürich – 東京 №5", "QR-Code:Grüße, Zürich – 東京 №5"},
    {"AZTEC,900,100,0,Ελληνικά, кириллица", "Aztec:Ελληνικά, кириллица", 860, 60, 500, 500},
    {"DATAMATRIX,100,800,0,Crème brûlée", "DataMatrix:Crème brûlée", 60, 760, 400, 400},
    {"PDF417,100,1300,0,naïve café, 5 €", "PDF417:naïve café, 5 €", 60, 1260, 1660, 500},
};
const std::vector<Symbol> kPage3Latin1 = {
    {"QR,900,800,0,\xC9t\xE9, \xE0 Gen\xE8ve", "QR-Code:Été, à Genève"},
};

std::string scratch() {
    const char* dir = std::getenv("FOLIO_TEST_TMP");
    const std::string base = (dir ? dir : ::testing::TempDir()) + "/barcode_read";
    std::filesystem::create_directories(base);
    return base;
}

bool haveTool(const char* name) {
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

std::vector<std::string> outputLines(const std::string& command) {
    std::vector<std::string> lines;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p)
        return lines;
    std::string all;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
        all.append(buf, n);
    ::pclose(p);
    for (std::size_t at = 0; at < all.size();) {
        std::size_t end = all.find('\n', at);
        if (end == std::string::npos)
            end = all.size();
        if (end > at)
            lines.push_back(all.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

struct Page {
    int width = 0, height = 0; // height as shown: rows doubled at normal resolution
    std::vector<std::uint8_t> grey; // 0 black, 255 white
};

// The pages of a fax TIFF as grey pictures.
std::vector<Page> readPages(const std::string& path) {
    std::vector<Page> pages;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif)
        return pages;
    do {
        uint32_t w = 0, h = 0;
        float yres = 0;
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
        TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yres);
        const int repeat = yres < 150 ? 2 : 1;
        Page page;
        page.width = int(w);
        page.height = int(h) * repeat;
        page.grey.assign(std::size_t(page.width) * std::size_t(page.height), 255);
        std::vector<uint8_t> row(std::size_t(TIFFScanlineSize(tif)));
        for (uint32_t y = 0; y < h; ++y) {
            if (TIFFReadScanline(tif, row.data(), y, 0) != 1)
                break;
            for (int k = 0; k < repeat; ++k) {
                std::uint8_t* out = &page.grey[(std::size_t(y) * repeat + k) * w];
                for (uint32_t x = 0; x < w; ++x)
                    out[x] = (row[x >> 3] >> (7 - (x & 7))) & 1 ? 0 : 255;
            }
        }
        pages.push_back(std::move(page));
    } while (TIFFReadDirectory(tif));
    TIFFClose(tif);
    return pages;
}

// Writes the part [x, x + w) x [y, y + h) of `page` as PGM, white beyond
// the page.
void writePgm(const Page& page, const std::string& path, int x, int y, int w, int h) {
    std::ofstream out(path, std::ios::binary);
    out << "P5\n" << w << " " << h << "\n255\n";
    std::vector<char> row(static_cast<std::size_t>(w));
    for (int r = y; r < y + h; ++r) {
        for (int c = x; c < x + w; ++c)
            row[std::size_t(c - x)] =
                char(r >= 0 && r < page.height && c >= 0 && c < page.width
                         ? page.grey[std::size_t(r) * std::size_t(page.width) + std::size_t(c)]
                         : 255);
        out.write(row.data(), w);
    }
}

// Writes the black pixels found in [x, x + w) x [y, y + h) with a white
// margin of 24 pixels around them: ZXingReader finds a Data Matrix or Aztec
// symbol surely only near the middle of its picture.
void writeCut(const Page& page, const std::string& path, int x, int y, int w, int h) {
    int x0 = x + w, y0 = y + h, x1 = x, y1 = y;
    for (int r = std::max(y, 0); r < std::min(y + h, page.height); ++r)
        for (int c = std::max(x, 0); c < std::min(x + w, page.width); ++c)
            if (page.grey[std::size_t(r) * std::size_t(page.width) + std::size_t(c)] == 0) {
                x0 = std::min(x0, c), x1 = std::max(x1, c + 1);
                y0 = std::min(y0, r), y1 = std::max(y1, r + 1);
            }
    if (x0 >= x1)
        x0 = x, y0 = y, x1 = x + 1, y1 = y + 1;
    writePgm(page, path, x0 - 24, y0 - 24, x1 - x0 + 48, y1 - y0 + 48);
}

struct Sink : folio::DiagnosticSink {
    std::vector<std::string> warnings;
    void Report(const folio::Diagnostic& d) override {
        if (d.severity != folio::Severity::Note)
            warnings.push_back(d.message);
    }
};

struct Build {
    const char* name;
    int coding;
    int resolution;
};

class BarcodeRead : public ::testing::TestWithParam<Build> {};

TEST_P(BarcodeRead, EverySymbolReadsBackExactly) {
    if (!haveTool("zbarimg"))
        GTEST_SKIP() << "zbarimg (zbar-tools) is not installed";
    ASSERT_TRUE(haveTool("ZXingReader")) << "ZXingReader (zxing-cpp-tools) is not installed";
    const Build build = GetParam();
    const std::string dir = scratch(), base = dir + "/" + build.name;

    std::vector<std::vector<Symbol>> pages = {kPage1, kPage2, kPage3Utf8};
    pages[2].insert(pages[2].end(), kPage3Latin1.begin(), kPage3Latin1.end());
    {
        std::ofstream macro(base + ".fax", std::ios::binary);
        for (const Symbol& s : kPage1)
            macro << "@CONVERT:BARCODE=" << s.command << "\n";
        macro << "@CONVERT:PAGEBREAK\n";
        for (const Symbol& s : kPage2)
            macro << "@CONVERT:BARCODE=" << s.command << "\n";
        macro << "@CONVERT:PAGEBREAK\n@CONVERT:CODEPAGE=65001\n";
        for (const Symbol& s : kPage3Utf8)
            macro << "@CONVERT:BARCODE=" << s.command << "\n";
        macro << "@CONVERT:CODEPAGE=1252\n";
        for (const Symbol& s : kPage3Latin1)
            macro << "@CONVERT:BARCODE=" << s.command << "\n";
    }
    ASSERT_EQ(SetFaxCompression(build.coding), 1);
    folio::BuildOptions options;
    options.resolution = build.resolution;
    Sink sink;
    options.diagnostics = &sink;
    std::string error;
    const bool built = folio::BuildFaxFile((base + ".fax").c_str(), (base + ".tif").c_str(),
                                           options, error);
    SetFaxCompression(TIFLIB_FAX_G3_1D);
    ASSERT_TRUE(built) << error;
    for (const std::string& w : sink.warnings)
        ADD_FAILURE() << "warning: " << w;

    const std::vector<Page> decoded = readPages(base + ".tif");
    ASSERT_EQ(decoded.size(), pages.size());
    for (std::size_t p = 0; p < pages.size(); ++p) {
        SCOPED_TRACE("page " + std::to_string(p + 1));
        const Page& page = decoded[p];
        ASSERT_EQ(page.height, 2200);
        // zbarimg reads the whole page at once.
        const std::string whole = base + "-" + std::to_string(p + 1) + ".pgm";
        writePgm(page, whole, 0, 0, page.width, page.height);
        std::vector<std::string> expected, got = outputLines(
            "zbarimg -q -Sdisable -Sqrcode.enable -Sean13.enable -Supca.enable "
            "-Scode128.enable -Scode39.enable -Si25.enable '" +
            whole + "' 2>/dev/null");
        // ZXingReader reads each of its symbols from a cut-out, all in one run.
        std::string zxing = "ZXingReader -format DataMatrix,PDF417,Aztec";
        std::vector<std::string> cutExpected;
        for (std::size_t i = 0; i < pages[p].size(); ++i) {
            const Symbol& s = pages[p][i];
            if (s.cutW == 0) {
                expected.push_back(s.read);
                continue;
            }
            const std::string cut = base + "-" + std::to_string(p + 1) + "-" + std::to_string(i) +
                                    ".pgm";
            writeCut(page, cut, s.cutX, s.cutY, s.cutW, s.cutH);
            zxing += " '" + cut + "'";
            cutExpected.push_back(s.read);
        }
        std::sort(expected.begin(), expected.end());
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, expected);
        if (cutExpected.empty())
            continue;
        // Its report: per picture a "Text: "..."" and a "Format: ..." line.
        std::vector<std::string> read;
        std::string text;
        for (const std::string& line : outputLines(zxing + " 2>/dev/null")) {
            if (line.rfind("Text:", 0) == 0) {
                const std::size_t a = line.find('"'), b = line.rfind('"');
                text = a != std::string::npos && b > a ? line.substr(a + 1, b - a - 1) : "";
            } else if (line.rfind("Format:", 0) == 0) {
                std::string format = line.substr(7);
                format.erase(0, format.find_first_not_of(' '));
                read.push_back(format + ":" + text);
            }
        }
        EXPECT_EQ(read, cutExpected);
    }
}

// --strict refuses a barcode that is not drawn, and takes one whose check
// digit was only added.
TEST(BarcodeStrict, WarningsFailTheBuildNotesDoNot) {
    const std::string base = scratch() + "/strict";
    folio::BuildOptions options;
    options.strict = true;
    Sink sink; // as foliobuild --strict gives one
    options.diagnostics = &sink;
    std::string error;
    std::ofstream(base + "-note.fax") << "@CONVERT:BARCODE=EAN13,100,100,0,400638133393\n";
    EXPECT_TRUE(folio::BuildFaxFile((base + "-note.fax").c_str(), (base + "-note.tif").c_str(),
                                    options, error))
        << error;
    for (const char* bad : {"QR,1700,100,0,past the edge", "EAN13,100,100,0,letters",
                            "MAXICODE,100,100,0,unknown"}) {
        std::ofstream(base + "-bad.fax") << "@CONVERT:BARCODE=" << bad << "\n";
        std::filesystem::remove(base + "-bad.tif");
        EXPECT_FALSE(folio::BuildFaxFile((base + "-bad.fax").c_str(),
                                         (base + "-bad.tif").c_str(), options, error))
            << bad;
        EXPECT_FALSE(std::filesystem::exists(base + "-bad.tif")) << bad;
    }
}

// A command line longer than the line buffer: a barcode holds all of its
// data (up to 4,096 bytes a line) or draws nothing, and no command's tail is
// ever set as text.
TEST(BarcodeLongLine, ASymbolHoldsAllItsDataAndNoCommandTailBecomesText) {
    if (!haveTool("zbarimg"))
        GTEST_SKIP() << "zbarimg (zbar-tools) is not installed";
    std::string data;
    for (int i = 0; data.size() < 587; ++i)
        data += "item " + std::to_string(i) + "; ";
    data.resize(587);
    struct Case {
        const char* name;
        std::string line;
        std::string read;      // what zbarimg reads from the page; empty: a blank page
        std::string diagnostic; // a part of the one error expected; empty: none
    };
    const Case cases[] = {
        {"qr587", "@CONVERT:BARCODE=QR,100,100,0," + data, "QR-Code:" + data, ""},
        {"qr5000", "@CONVERT:BARCODE=QR,100,100,0," + std::string(5000, 'A'), "",
         "BARCODE line is longer than 4096 bytes"},
        {"y", "@CONVERT:Y=300" + std::string(600, ' ') + "LEAKED TEXT", "",
         "the Y command is longer than 499 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string base = scratch() + "/long-" + c.name;
        std::ofstream(base + ".fax", std::ios::binary) << c.line << "\n";
        folio::BuildOptions options;
        struct All : folio::DiagnosticSink {
            std::vector<folio::Diagnostic> seen;
            void Report(const folio::Diagnostic& d) override { seen.push_back(d); }
        } sink;
        options.diagnostics = &sink;
        std::string error;
        ASSERT_TRUE(folio::BuildFaxFile((base + ".fax").c_str(), (base + ".tif").c_str(), options,
                                        error))
            << error;
        if (c.diagnostic.empty()) {
            EXPECT_TRUE(sink.seen.empty()) << sink.seen[0].message;
        } else {
            ASSERT_EQ(sink.seen.size(), 1u);
            EXPECT_EQ(sink.seen[0].severity, folio::Severity::Error);
            EXPECT_NE(sink.seen[0].message.find(c.diagnostic), std::string::npos)
                << sink.seen[0].message;
        }
        const std::vector<Page> pages = readPages(base + ".tif");
        ASSERT_EQ(pages.size(), 1u);
        if (c.read.empty()) {
            EXPECT_EQ(std::count(pages[0].grey.begin(), pages[0].grey.end(), 0), 0);
            continue;
        }
        writePgm(pages[0], base + ".pgm", 0, 0, pages[0].width, pages[0].height);
        EXPECT_EQ(outputLines("zbarimg -q '" + base + ".pgm' 2>/dev/null"),
                  std::vector<std::string>{c.read});
    }
}

INSTANTIATE_TEST_SUITE_P(
    Codings, BarcodeRead,
    ::testing::Values(Build{"g3_fine", TIFLIB_FAX_G3_1D, TIFLIB_FAX_FINE},
                      Build{"g3_2d_fine", TIFLIB_FAX_G3_2D, TIFLIB_FAX_FINE},
                      Build{"g4_fine", TIFLIB_FAX_G4, TIFLIB_FAX_FINE},
                      Build{"g3_normal", TIFLIB_FAX_G3_1D, TIFLIB_FAX_NORMAL},
                      Build{"g3_2d_normal", TIFLIB_FAX_G3_2D, TIFLIB_FAX_NORMAL},
                      Build{"g4_normal", TIFLIB_FAX_G4, TIFLIB_FAX_NORMAL}),
    [](const ::testing::TestParamInfo<Build>& info) { return std::string(info.param.name); });

} // namespace
