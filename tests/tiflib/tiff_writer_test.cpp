// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The writer as the engine uses it: documents written page by page, read back
// with libtiff pixel by pixel and tag by tag, and the ways a document can go
// wrong (refused pages, calls out of order, files that cannot be put in place)
// leaving the earlier file and the folder as they were.
#include "tiflib/TiffTestSupport.h"

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <utility>
#include <vector>

using namespace tiftest;

namespace {

void expectPages(const TiffFile& file, const std::vector<Page>& pages) {
    ASSERT_TRUE(file.opened);
    EXPECT_TRUE(file.messages.empty()) << file.messages.front();
    ASSERT_EQ(file.pages.size(), pages.size());
    for (std::size_t i = 0; i < pages.size(); ++i)
        EXPECT_TRUE(file.pages[i].pixels == pages[i])
            << "page " << i << ": " << firstDifference(pages[i], file.pages[i].pixels);
}

std::vector<Page> mixedDocument() {
    return {textPage(1728, 2200, 1), whitePage(1728, 2200), noisePage(1700, 300, 2),
            linesPage(1728, 1100), blackPage(33, 40)};
}

TEST(TiffWriter, PagesComeBackPixelForPixelWithClassFTags) {
    ScratchDir dir;
    const std::string name = dir.file("doc.tif");
    const std::vector<Page> pages = mixedDocument();
    EXPECT_EQ(writeDocument(name, pages), std::vector<int>(pages.size(), 1));
    EXPECT_STREQ(TiflibLastError(), "");

    TiffFile file = readTiff(name);
    expectPages(file, pages);
    for (std::size_t i = 0; i < file.pages.size(); ++i) {
        SCOPED_TRACE("page " + std::to_string(i));
        const TiffPage& p = file.pages[i];
        EXPECT_EQ(p.subfileType, std::uint32_t(FILETYPE_PAGE));
        EXPECT_EQ(p.compression, COMPRESSION_CCITTFAX3);
        EXPECT_EQ(p.group3Options, std::uint32_t(GROUP3OPT_FILLBITS));
        EXPECT_EQ(p.photometric, PHOTOMETRIC_MINISWHITE);
        EXPECT_EQ(p.fillOrder, FILLORDER_MSB2LSB);
        EXPECT_EQ(p.resolutionUnit, RESUNIT_INCH);
        EXPECT_EQ(p.xResolution, 204.0f);
        EXPECT_EQ(p.yResolution, 196.0f);
        EXPECT_TRUE(p.hasPageNumber);
        EXPECT_EQ(p.pageIndex, i);
        EXPECT_EQ(p.pageCount, pages.size());
        EXPECT_EQ(p.strips, 1u);
        EXPECT_EQ(p.rowsPerStrip, pages[i].height);
        EXPECT_EQ(p.cleanFax, CLEANFAXDATA_CLEAN);
        EXPECT_EQ(p.software, "Folioset");
    }
    EXPECT_EQ(dir.names(), std::vector<std::string>{"doc.tif"});
}

struct CodingCase {
    int mode;
    std::uint16_t compression;
    std::uint32_t group3Options;
};

class TiffWriterCoding : public ::testing::TestWithParam<CodingCase> {};

TEST_P(TiffWriterCoding, EveryCodingReadsBackTheSamePixels) {
    CodingScope coding(GetParam().mode);
    ScratchDir dir;
    const std::string name = dir.file("coded.tif");
    const std::vector<Page> pages = {textPage(1728, 600, 3), noisePage(1700, 100, 4, 0.1),
                                     whitePage(7, 9), linesPage(2048, 500)};
    EXPECT_EQ(writeDocument(name, pages), std::vector<int>(pages.size(), 1));
    TiffFile file = readTiff(name);
    expectPages(file, pages);
    for (const TiffPage& p : file.pages) {
        EXPECT_EQ(p.compression, GetParam().compression);
        EXPECT_EQ(p.group3Options, GetParam().group3Options);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, TiffWriterCoding,
    ::testing::Values(CodingCase{TIFLIB_FAX_G3_1D, COMPRESSION_CCITTFAX3, GROUP3OPT_FILLBITS},
                      CodingCase{TIFLIB_FAX_G3_1D_REFERENCE, COMPRESSION_CCITTFAX3,
                                 GROUP3OPT_FILLBITS},
                      CodingCase{TIFLIB_FAX_G3_2D, COMPRESSION_CCITTFAX3,
                                 GROUP3OPT_FILLBITS | GROUP3OPT_2DENCODING},
                      CodingCase{TIFLIB_FAX_G3_2D_REFERENCE, COMPRESSION_CCITTFAX3,
                                 GROUP3OPT_FILLBITS | GROUP3OPT_2DENCODING},
                      CodingCase{TIFLIB_FAX_G4, COMPRESSION_CCITTFAX4, 0},
                      CodingCase{TIFLIB_FAX_G4_REFERENCE, COMPRESSION_CCITTFAX4, 0}));

TEST(TiffWriter, CodingSettingRefusesUnknownModes) {
    CodingScope coding(TIFLIB_FAX_G4);
    EXPECT_EQ(SetFaxCompression(-1), 0);
    EXPECT_EQ(SetFaxCompression(6), 0);
    EXPECT_EQ(GetFaxCompression(), TIFLIB_FAX_G4);
}

TEST(TiffWriter, TopDownBlockGivesTheSamePage) {
    ScratchDir dir;
    const std::string name = dir.file("topdown.tif");
    Page page = textPage(1700, 200, 5);
    HGLOBAL block = makeBlock(page, /*topDown=*/true);
    EXPECT_EQ(WriteGraphicFile(name.c_str(), block, 0, 1), 1);
    GlobalFree(block);
    expectPages(readTiff(name), {page});
}

TEST(TiffWriter, OnePageDocumentAndAReplacement) {
    ScratchDir dir;
    const std::string name = dir.file("out.tif");
    const std::vector<Page> three = {noisePage(100, 50, 1), noisePage(100, 50, 2),
                                     noisePage(100, 50, 3)};
    EXPECT_EQ(writeDocument(name, three), std::vector<int>(3, 1));
    expectPages(readTiff(name), three);

    const std::vector<Page> one = {textPage(1728, 300, 9)};
    EXPECT_EQ(writeDocument(name, one), std::vector<int>{1});
    TiffFile file = readTiff(name);
    expectPages(file, one);
    EXPECT_EQ(file.pages[0].pageCount, 1);
    EXPECT_EQ(dir.names(), std::vector<std::string>{"out.tif"});
}

TEST(TiffWriter, TargetAppearsOnlyWithTheLastPage) {
    ScratchDir dir;
    const std::string name = dir.file("late.tif");
    Page page = noisePage(64, 8, 7);
    HGLOBAL block = makeBlock(page);
    ASSERT_EQ(WriteGraphicFile(name.c_str(), block, 0, 2), 1);
    EXPECT_TRUE(dir.names().empty()); // the pages so far are in an unnamed file
    ASSERT_EQ(WriteGraphicFile(name.c_str(), block, 1, 2), 1);
    GlobalFree(block);
    expectPages(readTiff(name), {page, page});
    EXPECT_EQ(dir.names(), std::vector<std::string>{"late.tif"});
}

// Regression: a run killed in the middle of a document left NAME.partXXXXXX
// beside the target for ever. Nothing runs at a SIGKILL, so nothing may need
// removing: neither at exit nor when killed is anything left behind.
TEST(TiffWriter, KilledRunLeavesNoDebris) {
    ScratchDir dir;
    const std::string name = dir.file("killed.tif");
    writeBytes(name, "earlier document");
    for (const bool kill : {false, true}) {
        SCOPED_TRACE(kill ? "killed" : "exit");
        EXPECT_EXIT(
            {
                HGLOBAL block = makeBlock(noisePage(16, 4, 1));
                if (WriteGraphicFile(name.c_str(), block, 0, 2) != 1)
                    std::_Exit(1);
                if (kill)
                    ::raise(SIGKILL);
                std::exit(0);
            },
            [kill](int status) {
                return kill ? WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL
                            : WIFEXITED(status) && WEXITSTATUS(status) == 0;
            },
            "");
        EXPECT_EQ(dir.names(), std::vector<std::string>{"killed.tif"});
        EXPECT_EQ(readBytes(name), "earlier document");
    }
}

TEST(TiffWriter, RestartedDocumentDropsTheUnfinishedOne) {
    ScratchDir dir;
    const std::string name = dir.file("again.tif");
    Page a = noisePage(40, 10, 1), b = noisePage(40, 10, 2);
    HGLOBAL blockA = makeBlock(a), blockB = makeBlock(b);
    EXPECT_EQ(WriteGraphicFile(name.c_str(), blockA, 0, 3), 1);
    EXPECT_EQ(WriteGraphicFile(name.c_str(), blockA, 1, 3), 1);
    EXPECT_EQ(WriteGraphicFile(name.c_str(), blockB, 0, 2), 1);
    EXPECT_EQ(WriteGraphicFile(name.c_str(), blockB, 1, 2), 1);
    GlobalFree(blockA);
    GlobalFree(blockB);
    expectPages(readTiff(name), {b, b});
    EXPECT_EQ(dir.names(), std::vector<std::string>{"again.tif"});
}

// A call sequence that must fail at its last call and leave the old file.
struct OrderCase {
    const char* what;
    std::vector<std::pair<int, int>> calls; // (index, count); all but the last succeed
};
void PrintTo(const OrderCase& c, std::ostream* os) {
    *os << c.what;
}

class TiffWriterOrder : public ::testing::TestWithParam<OrderCase> {};

TEST_P(TiffWriterOrder, OutOfOrderCallFailsAndDropsTheDocument) {
    ScratchDir dir;
    const std::string name = dir.file("order.tif");
    writeBytes(name, "earlier document");
    Page page = noisePage(20, 4, 1);
    HGLOBAL block = makeBlock(page);
    const auto& calls = GetParam().calls;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        int result = WriteGraphicFile(name.c_str(), block, calls[i].first, calls[i].second);
        EXPECT_EQ(result, i + 1 < calls.size() ? 1 : 0) << "call " << i;
    }
    EXPECT_STRNE(TiflibLastError(), "");
    // The dropped document cannot be continued either.
    auto [index, count] = calls.back();
    if (index >= 0 && count > 0 && index + 1 < count) {
        EXPECT_EQ(WriteGraphicFile(name.c_str(), block, index + 1, count), 0);
    }
    GlobalFree(block);
    EXPECT_EQ(readBytes(name), "earlier document");
    EXPECT_EQ(dir.names(), std::vector<std::string>{"order.tif"});
}

INSTANTIATE_TEST_SUITE_P(Calls, TiffWriterOrder,
                         ::testing::Values(OrderCase{"page skipped", {{0, 3}, {2, 3}}},
                                           OrderCase{"page repeated", {{0, 3}, {1, 3}, {1, 3}}},
                                           OrderCase{"count changed", {{0, 3}, {1, 4}}},
                                           OrderCase{"never started", {{1, 3}}},
                                           OrderCase{"index past count", {{0, 3}, {3, 3}}},
                                           OrderCase{"negative index", {{0, 3}, {-1, 3}}},
                                           OrderCase{"zero count", {{0, 3}, {0, 0}}},
                                           OrderCase{"negative count", {{-1, -1}}},
                                           OrderCase{"page count beyond the tag", {{0, 70000}}}),
                         [](const auto& info) {
                             std::string s = info.param.what;
                             for (char& c : s)
                                 if (c == ' ')
                                     c = '_';
                             return s;
                         });

TEST(TiffWriter, RefusedPageKeepsTheEarlierFile) {
    ScratchDir dir;
    const std::string name = dir.file("keep.tif");
    const std::vector<Page> first = {noisePage(300, 30, 1), noisePage(300, 30, 2)};
    ASSERT_EQ(writeDocument(name, first), std::vector<int>(2, 1));
    const std::string before = readBytes(name);

    Page good = noisePage(300, 30, 3);
    HGLOBAL block = makeBlock(good);
    EXPECT_EQ(WriteGraphicFile(name.c_str(), block, 0, 3), 1);
    EXPECT_EQ(WriteGraphicFile(name.c_str(), nullptr, 1, 3), 0);
    EXPECT_EQ(WriteGraphicFile(name.c_str(), block, 2, 3), 0);
    GlobalFree(block);
    EXPECT_EQ(readBytes(name), before);
    EXPECT_EQ(dir.names(), std::vector<std::string>{"keep.tif"});
}

TEST(TiffWriter, TargetThatCannotBeWrittenFailsCleanly) {
    ScratchDir dir;
    Page page = noisePage(30, 3, 1);
    HGLOBAL block = makeBlock(page);
    ::testing::internal::CaptureStderr();

    // No such folder: the document cannot even start.
    const std::string missing = dir.file("missing/doc.tif");
    EXPECT_EQ(WriteGraphicFile(missing.c_str(), block, 0, 1), 0);
    EXPECT_NE(std::string(TiflibLastError()).find("missing"), std::string::npos)
        << TiflibLastError();

    // A folder in the way: refused before anything is written.
    const std::string folder = dir.file("taken.tif");
    fs::create_directory(folder);
    writeBytes(folder + "/inside", "x");
    EXPECT_EQ(WriteGraphicFile(folder.c_str(), block, 0, 2), 0);
    EXPECT_NE(std::string(TiflibLastError()).find("folder"), std::string::npos)
        << TiflibLastError();
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(readBytes(folder + "/inside"), "x");

    // A name far too long for the file system.
    const std::string tooLong = dir.file(std::string(300, 'n') + ".tif");
    EXPECT_EQ(WriteGraphicFile(tooLong.c_str(), block, 0, 1), 0);

    EXPECT_EQ(WriteGraphicFile(nullptr, block, 0, 1), 0);
    EXPECT_EQ(WriteGraphicFile("", block, 0, 1), 0);
    GlobalFree(block);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(dir.names(), std::vector<std::string>{"taken.tif"});
}

TEST(TiffWriter, NewFileGetsTheUsualPermissions) {
    ScratchDir dir;
    const std::string name = dir.file("mode.tif");
    mode_t mask = ::umask(022);
    EXPECT_EQ(writeDocument(name, {whitePage(8, 8)}), std::vector<int>{1});
    ::umask(mask);
    struct stat st {};
    ASSERT_EQ(::stat(name.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}

// Several documents at once, in each of our codings: the tall pages of all
// but one of them find the coding helper busy and are coded on their own
// thread.
TEST(TiffWriter, DocumentsWrittenFromSeveralThreadsAtOnce) {
    constexpr int kThreads = 4, kPages = 6;
    std::vector<std::vector<Page>> docs(kThreads);
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i < kPages; ++i)
            docs[t].push_back(i % 2 ? textPage(1728, 400, t * 10 + i)
                                    : noisePage(500, 100, t * 10 + i, 0.2));
    for (int mode : {TIFLIB_FAX_G3_1D, TIFLIB_FAX_G3_2D, TIFLIB_FAX_G4}) {
        SCOPED_TRACE("coding " + std::to_string(mode));
        CodingScope coding(mode);
        ScratchDir dir;
        std::vector<std::vector<int>> results(kThreads);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                results[t] = writeDocument(dir.file("t" + std::to_string(t) + ".tif"), docs[t]);
            });
        for (auto& th : threads)
            th.join();
        for (int t = 0; t < kThreads; ++t) {
            SCOPED_TRACE("thread " + std::to_string(t));
            EXPECT_EQ(results[t], std::vector<int>(kPages, 1));
            expectPages(readTiff(dir.file("t" + std::to_string(t) + ".tif")), docs[t]);
        }
        EXPECT_EQ(dir.names().size(), std::size_t(kThreads));
    }
}

// A child forked after the coding helper started has no helper thread: it
// codes tall pages on its own thread and leaves the helper alone at exit
// (waiting for the parent's thread would never end).
TEST(TiffWriter, TallPagesInAForkedChild) {
    ScratchDir dir;
    const Page page = textPage(1728, 300, 4);
    ASSERT_EQ(writeDocument(dir.file("parent.tif"), {page}), std::vector<int>{1});
    const std::string name = dir.file("child.tif");
    EXPECT_EXIT(
        {
            SetFaxCompression(TIFLIB_FAX_G3_2D);
            const bool written = writeDocument(name, {page, page}) == std::vector<int>(2, 1);
            std::exit(written ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    TiffFile file = readTiff(name);
    expectPages(file, {page, page});
}

} // namespace
