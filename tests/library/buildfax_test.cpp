// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// BuildFax from end to end: macro files in, fax TIFF files out, read back
// with libtiff and compared page by page.
#include "foliolib.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace {

std::string scratchDir() {
    const char* dir = std::getenv("FOLIO_TEST_TMP");
    std::string base = std::string(dir ? dir : "/tmp") + "/buildfax";
    std::filesystem::create_directories(base);
    return base;
}

std::string writeFile(const std::string& name, const std::string& bytes) {
    std::string path = scratchDir() + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

std::string readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// Every page of a TIFF file as rows of bytes (1 = black), or nothing.
struct Page {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> bits;
    bool operator==(const Page&) const = default;
};

std::vector<Page> readTiff(const std::string& path) {
    std::vector<Page> pages;
    TIFFSetWarningHandler(nullptr);
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif)
        return pages;
    do {
        Page p;
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &p.width);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &p.height);
        tmsize_t line = TIFFScanlineSize(tif);
        p.bits.resize(size_t(line) * p.height);
        for (uint32_t y = 0; y < p.height; ++y)
            TIFFReadScanline(tif, p.bits.data() + size_t(y) * line, y, 0);
        pages.push_back(std::move(p));
    } while (TIFFReadDirectory(tif));
    TIFFClose(tif);
    return pages;
}

std::vector<Page> build(const std::string& name, const std::string& macro) {
    std::string m = writeFile(name + ".fax", macro);
    std::string t = scratchDir() + "/" + name + ".tif";
    std::remove(t.c_str());
    EXPECT_TRUE(BuildFax(m.c_str(), t.c_str())) << BuildFaxLastError();
    return readTiff(t);
}

bool blank(const Page& p) {
    for (uint8_t b : p.bits)
        if (b)
            return false;
    return true;
}

TEST(BuildFax, EmptyMacroAndEndFirstGiveOneBlankPage) {
    for (const char* macro : {"", "@convert:END\nnever drawn\n", "@CONVERT:End"}) {
        auto pages = build("blank", macro);
        ASSERT_EQ(pages.size(), 1u) << macro;
        EXPECT_EQ(pages[0].width, 1728u);
        EXPECT_EQ(pages[0].height, 2200u);
        EXPECT_TRUE(blank(pages[0])) << macro;
    }
}

TEST(BuildFax, PageBreaksMakePages) {
    auto pages = build("three", "one\n@CONVERT:PAGEBREAK\ntwo\n@CONVERT:PAGEBREAK\nthree");
    ASSERT_EQ(pages.size(), 3u);
    for (const Page& p : pages)
        EXPECT_FALSE(blank(p));
}

TEST(BuildFax, LastLineWithoutTerminatorIsProcessed) {
    auto pages = build("last", "first\n@CONVERT:PAGEBREAK");
    EXPECT_EQ(pages.size(), 2u);
}

TEST(BuildFax, LineEndsDoNotReachTheEngine) {
    auto lf = build("lf", "Hello there\n@CONVERT:FONT=Arial,20\nBig text\n");
    auto crlf = build("crlf", "Hello there\r\n@CONVERT:FONT=Arial,20\r\nBig text\r\n");
    EXPECT_EQ(lf, crlf);
}

TEST(BuildFax, LongLinesArriveInPartsOf499Bytes) {
    // Words of 9 letters and a space: a 600-byte line is 499 + 101 bytes.
    std::string text;
    while (text.size() < 600)
        text += "abcdefghi ";
    text.resize(600);
    auto whole = build("long", text + "\n");
    auto split = build("split", text.substr(0, 499) + "\n" + text.substr(499) + "\n");
    EXPECT_EQ(whole, split);
}

TEST(BuildFax, ALineOfExactly499BytesAddsNoBlankLine) {
    auto full = build("l499", std::string(499, ' ') + "\nZ\n");
    auto shortLine = build("l1", " \nZ\n");
    EXPECT_EQ(full, shortLine);
}

TEST(BuildFax, CallsDoNotShareState) {
    auto alone = build("alone", "plain text\n");
    build("first", "@CONVERT:MARGIN=600\n@CONVERT:FONT=Courier New,30\n@CONVERT:FONTSCALE=1\n");
    auto after = build("after", "plain text\n");
    EXPECT_EQ(alone, after);
}

TEST(BuildFax, MissingMacroFileWritesNothing) {
    std::string t = scratchDir() + "/missing.tif";
    std::remove(t.c_str());
    EXPECT_FALSE(BuildFax((scratchDir() + "/no-such.fax").c_str(), t.c_str()));
    EXPECT_FALSE(exists(t));
    EXPECT_NE(std::string(BuildFaxLastError()).find("no-such.fax"), std::string::npos);
    EXPECT_FALSE(BuildFax(scratchDir().c_str(), t.c_str())); // a directory
    EXPECT_FALSE(BuildFax(nullptr, t.c_str()));
    EXPECT_FALSE(exists(t));
}

TEST(BuildFax, AnEngineErrorLeavesTheOldFileUntouched) {
    std::string t = scratchDir() + "/keep.tif";
    std::string m = writeFile("good.fax", "good\n");
    ASSERT_TRUE(BuildFax(m.c_str(), t.c_str()));
    const std::string before = readFile(t);
    std::string badBmp = writeFile("bad.bmp", "BM not really");
    std::string bad = writeFile("bad.fax", "text\n\n@CONVERT:FILE=" + badBmp + ",BMP\nmore\n");
    EXPECT_FALSE(BuildFax(bad.c_str(), t.c_str()));
    EXPECT_EQ(std::string(BuildFaxLastError()), bad + ":3: Bitmap image is not valid");
    EXPECT_EQ(readFile(t), before);
    std::string dev = writeFile("dev.fax", "@CONVERT:FILE=/dev/zero,TXT\n");
    EXPECT_FALSE(BuildFax(dev.c_str(), t.c_str()));
    EXPECT_EQ(std::string(BuildFaxLastError()), dev + ":1: Cannot open file /dev/zero");
    EXPECT_EQ(readFile(t), before);
}

TEST(BuildFax, AnUnwritableTiffIsAFailure) {
    std::string m = writeFile("unwritable.fax", "text\n");
    EXPECT_FALSE(BuildFax(m.c_str(), "/nonexistent-folder/out.tif"));
    EXPECT_NE(std::string(BuildFaxLastError()).find("/nonexistent-folder/out.tif"),
              std::string::npos);
    EXPECT_TRUE(BuildFax(m.c_str(), (scratchDir() + "/ok.tif").c_str()));
    EXPECT_STREQ(BuildFaxLastError(), "");
}

TEST(BuildFax, UnderscoreNameIsTheSameFunction) {
    std::string m = writeFile("under.fax", "x\n");
    std::string t = scratchDir() + "/under.tif";
    EXPECT_TRUE(_BuildFax(m.c_str(), t.c_str()));
    EXPECT_EQ(readTiff(t).size(), 1u);
}

// The options as a client compiled against an older, shorter structure
// passes them: fields past `size` take their defaults.
// Options with the resolution and PDF fields set, every other field zero.
FolioBuildOptions faxOptions(unsigned size, int resolution, const char* pdf) {
    FolioBuildOptions options{};
    options.size = size;
    options.resolution = resolution;
    options.pdfFile = pdf;
    return options;
}

TEST(BuildFaxWithOptions, SizeDecidesWhichFieldsCount) {
    std::string m = writeFile("options.fax", "one\n@CONVERT:PAGEBREAK\ntwo\n");
    std::string t = scratchDir() + "/options.tif", pdf = scratchDir() + "/options.pdf";
    struct Case {
        unsigned size;
        bool ok;
        uint32_t height;
        bool pdf;
    };
    const Case cases[] = {
        {sizeof(FolioBuildOptions), true, 1100, true},
        {96, true, 1100, true}, // 1.2's structure
        {88, true, 1100, true}, // 1.2's before maxPages and timeLimitMs
        {72, true, 1100, true}, // 1.1's
        {40, true, 1100, true}, // 1.0's structure
        {36, true, 1100, true}, // its fields' end
        // Sizes no release had: a client that means none of its fields.
        {unsigned(offsetof(FolioBuildOptions, pdfFile)), false, 0, false},
        {unsigned(sizeof(unsigned)), false, 0, false},
        {76, false, 0, false},
        {92, false, 0, false},
        {80, false, 0, false}, // 1.2's before `fields`, never released
        {0, false, 0, false},
        {4096, false, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("size " + std::to_string(c.size));
        std::remove(t.c_str());
        std::remove(pdf.c_str());
        FolioBuildOptions options = faxOptions(c.size, FOLIO_RESOLUTION_NORMAL, pdf.c_str());
        EXPECT_EQ(BuildFaxWithOptions(m.c_str(), t.c_str(), &options), c.ok);
        auto pages = readTiff(t);
        ASSERT_EQ(pages.size(), c.ok ? 2u : 0u);
        if (c.ok) {
            EXPECT_EQ(pages[0].height, c.height);
        }
        EXPECT_EQ(exists(pdf), c.pdf);
    }
    EXPECT_TRUE(BuildFaxWithOptions(m.c_str(), t.c_str(), nullptr));
    EXPECT_EQ(readTiff(t)[0].height, 2200u);
    FolioBuildOptions unknown = faxOptions(sizeof(FolioBuildOptions), 5, nullptr);
    EXPECT_FALSE(BuildFaxWithOptions(m.c_str(), t.c_str(), &unknown));
    EXPECT_NE(std::string(BuildFaxLastError()).find("resolution"), std::string::npos);
}

TEST(BuildFaxWithOptions, APdfThatCannotBeWrittenWritesNoTiff) {
    std::string m = writeFile("nopdf.fax", "text\n");
    std::string t = scratchDir() + "/nopdf.tif";
    std::remove(t.c_str());
    FolioBuildOptions options =
        faxOptions(sizeof(FolioBuildOptions), FOLIO_RESOLUTION_FINE, "/nonexistent-folder/x.pdf");
    EXPECT_FALSE(BuildFaxWithOptions(m.c_str(), t.c_str(), &options));
    EXPECT_NE(std::string(BuildFaxLastError()).find("/nonexistent-folder/x.pdf"),
              std::string::npos);
    EXPECT_FALSE(exists(t));
}

} // namespace
