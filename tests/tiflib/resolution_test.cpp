// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Normal resolution and the page copy: pages written at 98 rows per inch keep
// every black pixel of the 196-row page (each row pair merged), in every
// coding, read back with libtiff; the Group 4 copy of each page is the page's
// own coding and comes before the file is put in place.
#include "tiflib/TiffTestSupport.h"

#include "G4Encoder.h"
#include "RowMerge.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <vector>

using namespace tiftest;

namespace {

// Row y of the result: rows 2y and 2y + 1 of `fine`, black where either is;
// an odd last row joins the last pair (h / 2 rows, as a fax machine has).
Page merged(const Page& fine) {
    Page out(fine.width, fine.height < 2 ? fine.height : fine.height / 2);
    for (std::uint32_t y = 0; y < fine.height; ++y)
        for (std::uint32_t x = 0; x < fine.width; ++x)
            out.at(x, std::min(y / 2, out.height - 1)) |= fine.at(x, y);
    return out;
}

// One-pixel lines on an even row, an odd row and the last row, one-pixel
// dots on odd rows only: nothing of them may be lost.
Page hairlinesPage(std::uint32_t w, std::uint32_t h) {
    Page p(w, h);
    for (std::uint32_t x = 0; x < w; ++x) {
        p.at(x, 10) = p.at(x, 21) = p.at(x, h - 1) = 1;
        if (x % 7 == 3)
            p.at(x, 2 * (x % (h / 2)) + 1) = 1;
    }
    return p;
}

// An ordered (Bayer 2 x 2) dither at a quarter grey: black only on even rows
// and even columns, the pattern a dithered picture leaves.
Page ditherPage(std::uint32_t w, std::uint32_t h) {
    Page p(w, h);
    for (std::uint32_t y = 0; y < h; y += 2)
        for (std::uint32_t x = 0; x < w; x += 2)
            p.at(x, y) = 1;
    return p;
}

class ResolutionScope {
  public:
    explicit ResolutionScope(int r) : saved_(GetFaxResolution()) { SetFaxResolution(r); }
    ~ResolutionScope() { SetFaxResolution(saved_); }

  private:
    int saved_;
};

// The rows of a bottom-up block made by makeBlock, top row first.
folio::tiflib::PageView viewOf(const Page& page, HGLOBAL block) {
    folio::tiflib::PageView view;
    view.width = page.width;
    view.height = page.height;
    view.rowBytes = dibStride(page.width);
    view.step = -std::ptrdiff_t(view.rowBytes);
    view.top =
        static_cast<std::uint8_t*>(GlobalLock(block)) + 48 + view.rowBytes * (page.height - 1);
    return view;
}

class NormalResolution : public ::testing::TestWithParam<int> {};

TEST_P(NormalResolution, RowPairsMergedKeepEveryBlackPixel) {
    CodingScope coding(GetParam());
    ResolutionScope resolution(TIFLIB_FAX_NORMAL);
    ScratchDir dir;
    const std::string name = dir.file("normal.tif");
    // The odd heights end with three rows in one.
    const std::vector<Page> pages = {hairlinesPage(1728, 2200), textPage(1728, 301, 5),
                                     ditherPage(1700, 64), noisePage(33, 7, 6), blackPage(8, 1)};
    EXPECT_EQ(writeDocument(name, pages), std::vector<int>(pages.size(), 1));
    TiffFile file = readTiff(name);
    ASSERT_TRUE(file.opened);
    EXPECT_TRUE(file.messages.empty()) << file.messages.front();
    ASSERT_EQ(file.pages.size(), pages.size());
    for (std::size_t i = 0; i < pages.size(); ++i) {
        SCOPED_TRACE("page " + std::to_string(i));
        const Page want = merged(pages[i]);
        EXPECT_TRUE(file.pages[i].pixels == want) << firstDifference(want, file.pages[i].pixels);
        EXPECT_EQ(file.pages[i].yResolution, 98.0f);
        EXPECT_EQ(file.pages[i].xResolution, 204.0f);
        EXPECT_EQ(file.pages[i].rowsPerStrip, want.height);
    }
    EXPECT_EQ(file.pages[0].pixels.height, 1100u);
}

INSTANTIATE_TEST_SUITE_P(Codings, NormalResolution,
                         ::testing::Values(TIFLIB_FAX_G3_1D, TIFLIB_FAX_G3_2D, TIFLIB_FAX_G4,
                                           TIFLIB_FAX_G3_1D_REFERENCE, TIFLIB_FAX_G3_2D_REFERENCE,
                                           TIFLIB_FAX_G4_REFERENCE));

TEST(NormalResolution, SettingIsRefusedForUnknownValues) {
    ResolutionScope resolution(TIFLIB_FAX_NORMAL);
    EXPECT_EQ(SetFaxResolution(2), 0);
    EXPECT_EQ(SetFaxResolution(-1), 0);
    EXPECT_EQ(GetFaxResolution(), TIFLIB_FAX_NORMAL);
}

// What the page copy received, and whether the target existed by then.
struct Copies {
    std::string target;
    std::vector<std::vector<std::uint8_t>> g4;
    std::vector<unsigned> widths, heights;
    std::vector<int> rowsPerInch;
    bool targetSeen = false;
    int refuseAt = -1;

    static int take(void* self, int index, int count, unsigned width, unsigned height, int rows,
                    const unsigned char* g4, std::size_t bytes) {
        auto& c = *static_cast<Copies*>(self);
        struct stat st;
        c.targetSeen |= ::stat(c.target.c_str(), &st) == 0;
        if (index == c.refuseAt)
            return 0;
        EXPECT_EQ(std::size_t(index), c.g4.size());
        EXPECT_GT(count, index);
        c.g4.emplace_back(g4, g4 + bytes);
        c.widths.push_back(width);
        c.heights.push_back(height);
        c.rowsPerInch.push_back(rows);
        return 1;
    }
};

class PageCopyScope {
  public:
    explicit PageCopyScope(Copies& c) { SetFaxPageCopy(&Copies::take, &c); }
    ~PageCopyScope() { SetFaxPageCopy(nullptr, nullptr); }
};

struct CopyCase {
    int coding, resolution;
};

class PageCopy : public ::testing::TestWithParam<CopyCase> {};

TEST_P(PageCopy, EachPageArrivesInGroup4BeforeTheFileAppears) {
    CodingScope coding(GetParam().coding);
    ResolutionScope resolution(GetParam().resolution);
    const bool normal = GetParam().resolution == TIFLIB_FAX_NORMAL;
    ScratchDir dir;
    Copies copies;
    copies.target = dir.file("copied.tif");
    PageCopyScope scope(copies);
    const std::vector<Page> pages = {textPage(1728, 2200, 7), hairlinesPage(1728, 99)};
    EXPECT_EQ(writeDocument(copies.target, pages), std::vector<int>(pages.size(), 1));
    EXPECT_FALSE(copies.targetSeen);
    TiffFile file = readTiff(copies.target);
    ASSERT_EQ(copies.g4.size(), pages.size());
    for (std::size_t i = 0; i < pages.size(); ++i) {
        SCOPED_TRACE("page " + std::to_string(i));
        // The copy is the Group 4 coding of exactly the TIFF page's pixels.
        HGLOBAL block = makeBlock(pages[i]);
        std::vector<std::uint8_t> rows, want;
        const folio::tiflib::PageView fine = viewOf(pages[i], block);
        folio::tiflib::EncodeG4(normal ? folio::tiflib::MergeRowPairs(fine, rows) : fine, want);
        GlobalUnlock(block);
        GlobalFree(block);
        EXPECT_TRUE(copies.g4[i] == want);
        if (GetParam().coding == TIFLIB_FAX_G4) {
            EXPECT_TRUE(file.pages[i].rawStrip == want);
        }
        EXPECT_EQ(copies.widths[i], file.pages[i].pixels.width);
        EXPECT_EQ(copies.heights[i], file.pages[i].pixels.height);
        EXPECT_EQ(copies.rowsPerInch[i], normal ? 98 : 196);
    }
}

INSTANTIATE_TEST_SUITE_P(Codings, PageCopy,
                         ::testing::Values(CopyCase{TIFLIB_FAX_G3_1D, TIFLIB_FAX_FINE},
                                           CopyCase{TIFLIB_FAX_G4, TIFLIB_FAX_FINE},
                                           CopyCase{TIFLIB_FAX_G3_2D, TIFLIB_FAX_NORMAL},
                                           CopyCase{TIFLIB_FAX_G4, TIFLIB_FAX_NORMAL}));

TEST(PageCopy, RefusedCopyOfTheLastPageLeavesTheEarlierFile) {
    ScratchDir dir;
    Copies copies;
    copies.target = dir.file("kept.tif");
    writeBytes(copies.target, "earlier");
    copies.refuseAt = 1;
    PageCopyScope scope(copies);
    EXPECT_EQ(writeDocument(copies.target, {whitePage(64, 10), whitePage(64, 10)}),
              (std::vector<int>{1, 0}));
    EXPECT_EQ(readBytes(copies.target), "earlier");
    EXPECT_EQ(dir.names(), std::vector<std::string>{"kept.tif"});
}

} // namespace
