// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// BuildFaxInMemory: byte for byte the file build in every coding and
// resolution, with and without the PDF copy, also on several threads at
// once with different codings; the options added at the end of
// FolioBuildOptions; failures that hand back no buffers.
#include "foliolib.h"
#include "tiflib32.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string scratch(const std::string& name) {
    const char* dir = std::getenv("FOLIO_TEST_TMP");
    const std::string base = std::string(dir ? dir : "/tmp") + "/buildfax-memory";
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

// Lines cut at 499 bytes, a CR LF, a NUL byte, a bitmap from the base
// folder, text after END: everything a file is read with.
std::string representativeMacro() {
    std::string m = "@CONVERT:FONT=Arial,14\r\nHello\r\n@CONVERT:FILE=logo.bmp,BMP\n";
    m += std::string(1200, 'w') + "\n";
    m += std::string("with a NUL \0 inside\n", 20);
    for (int i = 0; i < 120; ++i)
        m += "line " + std::to_string(i) + "\n";
    return m + "@CONVERT:END\nnot read\n";
}

FolioBuildOptions optionsFor(int coding, int resolution) {
    FolioBuildOptions o{};
    o.size = sizeof o;
    o.coding = coding;
    o.resolution = resolution;
    o.baseDir = FOLIO_SOURCE_DIR "/examples";
    return o;
}

TEST(BuildFaxInMemory, EqualsTheFileBuildInEveryCodingAndResolution) {
    const std::string macro = representativeMacro(), file = scratch("same.fax");
    std::ofstream(file, std::ios::binary) << macro;
    for (int coding : {FOLIO_CODING_G3, FOLIO_CODING_G3_2D, FOLIO_CODING_G4})
        for (int resolution : {FOLIO_RESOLUTION_FINE, FOLIO_RESOLUTION_NORMAL})
            for (bool withPdf : {false, true}) {
                SCOPED_TRACE(testing::Message() << "coding " << coding << " resolution "
                                                << resolution << " pdf " << withPdf);
                FolioBuildOptions o = optionsFor(coding, resolution);
                const std::string tiffFile = scratch("same.tif"), pdfFile = scratch("same.pdf");
                o.pdfFile = withPdf ? pdfFile.c_str() : nullptr;
                ASSERT_TRUE(BuildFaxWithOptions(file.c_str(), tiffFile.c_str(), &o))
                    << BuildFaxLastError();
                o.pdfFile = nullptr;
                FolioBuffer tiff{}, pdf{};
                ASSERT_TRUE(BuildFaxInMemory(macro.data(), macro.size(), &o, &tiff,
                                             withPdf ? &pdf : nullptr))
                    << BuildFaxLastError();
                EXPECT_EQ(take(tiff), slurp(tiffFile));
                if (withPdf) {
                    EXPECT_EQ(take(pdf), slurp(pdfFile));
                }
                EXPECT_EQ(pdf.data, nullptr);
            }
}

TEST(BuildFaxInMemory, ThreadsWithDifferentCodingsEachGetTheirOwn) {
    const std::string macro = representativeMacro();
    std::vector<std::string> expected(3);
    for (int c = 0; c < 3; ++c) {
        FolioBuildOptions o = optionsFor(c, FOLIO_RESOLUTION_FINE);
        FolioBuffer tiff{};
        ASSERT_TRUE(BuildFaxInMemory(macro.data(), macro.size(), &o, &tiff, nullptr));
        expected[std::size_t(c)] = take(tiff);
    }
    std::vector<std::string> got(6);
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([&, t] {
            FolioBuildOptions o = optionsFor(t % 3, FOLIO_RESOLUTION_FINE);
            FolioBuffer tiff{}, pdf{};
            if (BuildFaxInMemory(macro.data(), macro.size(), &o, &tiff, t % 2 ? &pdf : nullptr))
                got[std::size_t(t)] = take(tiff);
            FolioBufferFree(&pdf);
        });
    for (std::thread& t : threads)
        t.join();
    for (int t = 0; t < 6; ++t)
        EXPECT_EQ(got[std::size_t(t)], expected[std::size_t(t % 3)]) << "thread " << t;
}

// A 1.0 caller (either size it may pass, whatever its padding holds) and a
// caller that leaves `coding` zero get the process-wide coding.
TEST(BuildFaxInMemory, AnOlderOptionsSizeOrZeroCodingKeepsTheProcessWideCoding) {
    const std::string macro = "Hello\n";
    FolioBuildOptions o = optionsFor(FOLIO_CODING_G4, FOLIO_RESOLUTION_FINE);
    FolioBuffer g4{};
    ASSERT_TRUE(BuildFaxInMemory(macro.data(), macro.size(), &o, &g4, nullptr));
    const std::string expected = take(g4);
    ASSERT_EQ(GetFaxCompression(), TIFLIB_FAX_G3_1D);
    ASSERT_TRUE(SetFaxCompression(TIFLIB_FAX_G4));
    struct Case {
        unsigned size;
        int coding;
    };
    for (const Case c : {Case{36, FOLIO_CODING_G3}, Case{40, -1414812757}, Case{40, 1},
                         Case{sizeof o, FOLIO_CODING_DEFAULT}}) {
        SCOPED_TRACE("size " + std::to_string(c.size) + ", coding " + std::to_string(c.coding));
        o.size = c.size;
        o.coding = c.coding;
        FolioBuffer got{};
        ASSERT_TRUE(BuildFaxInMemory(macro.data(), macro.size(), &o, &got, nullptr))
            << BuildFaxLastError();
        EXPECT_EQ(take(got), expected);
    }
    SetFaxCompression(TIFLIB_FAX_G3_1D);
}

struct Seen {
    std::string file, kind;
    int line;
};

void collect(void* context, const FolioDiagnostic* d) {
    static_cast<std::vector<Seen>*>(context)->push_back({d->file, d->kind, d->line});
}

TEST(BuildFaxInMemory, IncludeRootRefusesAndBaseDirFindsWithTheMacroName) {
    const std::string macro = "@CONVERT:FILE=logo.bmp,BMP\n@CONVERT:FILE=../"
                              "README.md,TXT\n@CONVERT:FILE=/etc/hostname,TXT\n";
    std::vector<Seen> seen;
    FolioBuildOptions o = optionsFor(FOLIO_CODING_G3, FOLIO_RESOLUTION_FINE);
    o.includeRoot = FOLIO_SOURCE_DIR "/examples";
    o.macroName = "order-17";
    o.diagnostic = collect;
    o.diagnosticContext = &seen;
    FolioBuffer tiff{};
    ASSERT_TRUE(BuildFaxInMemory(macro.data(), macro.size(), &o, &tiff, nullptr));
    FolioBufferFree(&tiff);
    std::vector<std::string> kinds;
    for (const Seen& s : seen) {
        EXPECT_EQ(s.file, "order-17");
        EXPECT_NE(s.kind, "file-missing") << "line " << s.line;
        if (s.kind == "file-refused")
            kinds.push_back(std::to_string(s.line));
    }
    EXPECT_EQ(kinds, (std::vector<std::string>{"2", "3"}));
}

TEST(BuildFaxInMemory, FailuresHandBackNoBuffers) {
    const std::string good = "Hello\n";
    struct Case {
        const char* what;
        std::string macro;
        FolioBuildOptions options;
        bool pdfOnly;
    };
    FolioBuildOptions unknownCoding = optionsFor(7, 0), missingBase = optionsFor(0, 0),
                      missingRoot = optionsFor(0, 0), withPdfFile = optionsFor(0, 0),
                      strict = optionsFor(0, 0), codePage = optionsFor(0, 0),
                      unknownCodePage = optionsFor(0, 0), threePages = optionsFor(0, 0),
                      negativePages = optionsFor(0, 0), oneMs = optionsFor(0, 0),
                      negativeMs = optionsFor(0, 0);
    threePages.maxPages = 3;
    negativePages.maxPages = -1;
    oneMs.timeLimitMs = 1;
    negativeMs.timeLimitMs = -5;
    std::string fourPages, manyPages;
    for (int i = 0; i < 3; ++i)
        fourPages += "page\n@CONVERT:PAGEBREAK\n";
    fourPages += "last\n";
    for (int i = 0; i < 300; ++i)
        manyPages += "page\n@CONVERT:PAGEBREAK\n";
    missingBase.baseDir = "/nonexistent/folder";
    missingRoot.includeRoot = "/nonexistent/folder";
    withPdfFile.pdfFile = "x.pdf";
    strict.strict = 1;
    codePage.codePage = 70000;
    unknownCodePage.codePage = 12345; // in range, but no code page
    const std::vector<Case> cases = {
        {"unknown coding", good, unknownCoding, false},
        {"missing base folder", good, missingBase, false},
        {"missing include root", good, missingRoot, false},
        {"a pdfFile", good, withPdfFile, false},
        {"a warning in a strict build", "@CONVERT:X=1px\n", strict, false},
        {"a code page out of range", good, codePage, false},
        {"unknown code page 12345", good, unknownCodePage, false},
        {"a PDF without the TIFF", good, optionsFor(0, 0), true},
        {"more pages than maxPages", fourPages, threePages, false},
        {"a negative maxPages", good, negativePages, false},
        {"a build past timeLimitMs", manyPages, oneMs, false},
        {"a negative timeLimitMs", good, negativeMs, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FolioBuffer tiff{reinterpret_cast<unsigned char*>(1), 1}, pdf{};
        EXPECT_FALSE(BuildFaxInMemory(c.macro.data(), c.macro.size(), &c.options,
                                      c.pdfOnly ? nullptr : &tiff, &pdf));
        EXPECT_STRNE(BuildFaxLastError(), "");
        if (std::string(c.what).rfind("unknown code page", 0) == 0) {
            EXPECT_STREQ(BuildFaxLastError(), c.what);
        }
        if (c.options.maxPages > 0) {
            EXPECT_NE(std::string(BuildFaxLastError()).find("more than 3 pages"),
                      std::string::npos);
        }
        if (c.options.timeLimitMs > 0) {
            EXPECT_NE(std::string(BuildFaxLastError()).find("longer than its limit of 1 ms"),
                      std::string::npos);
        }
        if (!c.pdfOnly) {
            EXPECT_EQ(tiff.data, nullptr);
        }
        EXPECT_EQ(pdf.data, nullptr);
    }
    FolioBuffer tiff{};
    EXPECT_FALSE(BuildFaxInMemory(nullptr, 5, nullptr, &tiff, nullptr));
    EXPECT_TRUE(BuildFaxInMemory(nullptr, 0, nullptr, &tiff, nullptr)) << BuildFaxLastError();
    FolioBufferFree(&tiff);
    FolioBufferFree(&tiff); // twice is harmless
    FolioBufferFree(nullptr);
}

TEST(BuildFaxPageBitmap, GivesThePageAndRefusesPagesItDoesNotHave) {
    const std::string macro = "@CONVERT:BOX=0,0,8,4\n@CONVERT:PAGEBREAK\nSecond\n";
    FolioBuffer bits{};
    int width = 0, height = 0;
    ASSERT_TRUE(BuildFaxPageBitmap(macro.data(), macro.size(), nullptr, 1, &bits, &width, &height))
        << BuildFaxLastError();
    EXPECT_EQ(width, 1728);
    EXPECT_EQ(height, 2200);
    ASSERT_EQ(bits.size, std::size_t(1728 / 8 * 2200));
    EXPECT_EQ(bits.data[0], 0xFF); // the box's top edge, from its left corner
    FolioBufferFree(&bits);
    for (int page : {0, 3, -1}) {
        EXPECT_FALSE(
            BuildFaxPageBitmap(macro.data(), macro.size(), nullptr, page, &bits, &width, &height));
        EXPECT_EQ(bits.data, nullptr);
        EXPECT_EQ(width, 0);
    }
}

// Every page from one build, each the bytes BuildFaxPageBitmap gives; a sink
// that returns nonzero stops the build there.
TEST(BuildFaxPageBitmaps, GivesEveryPageAsBuildFaxPageBitmapDoes) {
    const std::string macro = "@CONVERT:BOX=0,0,8,4\n@CONVERT:PAGEBREAK\nSecond\n"
                              "@CONVERT:PAGEBREAK\n@CONVERT:LINE=10,10,900,10\n";
    struct Pages {
        std::vector<std::string> rows;
        int stopAt = 0;
    } got;
    auto sink = [](void* context, int page, const unsigned char* rows, int width, int height) {
        auto* p = static_cast<Pages*>(context);
        p->rows.emplace_back(reinterpret_cast<const char*>(rows),
                             std::size_t(width + 7) / 8 * std::size_t(height));
        return int(page == p->stopAt);
    };
    ASSERT_TRUE(BuildFaxPageBitmaps(macro.data(), macro.size(), nullptr, sink, &got));
    ASSERT_EQ(got.rows.size(), 3u);
    for (int page = 1; page <= 3; ++page) {
        FolioBuffer bits{};
        int width = 0, height = 0;
        ASSERT_TRUE(BuildFaxPageBitmap(macro.data(), macro.size(), nullptr, page, &bits, &width,
                                       &height));
        EXPECT_EQ(got.rows[std::size_t(page - 1)], take(bits)) << "page " << page;
    }
    got = Pages{{}, 2};
    EXPECT_FALSE(BuildFaxPageBitmaps(macro.data(), macro.size(), nullptr, sink, &got));
    EXPECT_STREQ(BuildFaxLastError(), "<macro>: stopped by the caller at page 2");
    EXPECT_EQ(got.rows.size(), 2u);
    EXPECT_FALSE(BuildFaxPageBitmaps(macro.data(), macro.size(), nullptr, nullptr, nullptr));
}

} // namespace
