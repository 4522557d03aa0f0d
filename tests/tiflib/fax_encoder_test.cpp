// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The writer's own encoders (Group 3 one- and two-dimensional, Group 4)
// against libtiff's: for pages of every kind and awkward widths the coded
// strips must be the same bytes, and libtiff must decode them to exactly the
// pixels handed in.
#include "tiflib/TiffTestSupport.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

using namespace tiftest;

namespace {

// A page is made only by the test that codes it: every test runs in a
// process of its own, which would otherwise make every page of the table.
struct EncoderCase {
    std::string what;
    std::function<Page()> make;
};
void PrintTo(const EncoderCase& c, std::ostream* os) {
    *os << c.what;
}

// Each of our codings and libtiff's encoder for the same tags.
struct Coding {
    const char* what;
    int ours, libtiff;
};
void PrintTo(const Coding& c, std::ostream* os) {
    *os << c.what;
}
constexpr Coding kCodings[] = {
    {"g3_1d", TIFLIB_FAX_G3_1D, TIFLIB_FAX_G3_1D_REFERENCE},
    {"g3_2d", TIFLIB_FAX_G3_2D, TIFLIB_FAX_G3_2D_REFERENCE},
    {"g4", TIFLIB_FAX_G4, TIFLIB_FAX_G4_REFERENCE},
};

// Rows that repeat the row before, which the encoders do not look at again,
// mixed with rows that differ from the one before only in their last pixel
// or only in their first.
Page repeatsPage(std::uint32_t w, unsigned seed) {
    Page page = noisePage(w, 90, seed, 0.3);
    for (std::uint32_t y = 1; y < page.height; ++y) {
        switch (y % 6) {
        case 1:
        case 2: // a repeat of the row before
            for (std::uint32_t x = 0; x < w; ++x)
                page.at(x, y) = page.at(x, y - 1);
            break;
        case 3: // the row before, its last pixel flipped
        case 4: // the row before, its first pixel flipped
            for (std::uint32_t x = 0; x < w; ++x)
                page.at(x, y) = page.at(x, y - 1);
            page.at(y % 6 == 3 ? w - 1 : 0, y) ^= 1;
            break;
        default:
            break;
        }
    }
    return page;
}

// Bands whose edges move sideways by -5 .. 5 pixels from row to row, and grow
// by 1 to 4 pixels a row before they start again at one pixel: rows coded
// against the row above meet every vertical offset, horizontal codes just
// past them, and pass codes where a band ends above a white stretch.
Page slopesPage(std::uint32_t w, std::uint32_t h) {
    Page page(w, h);
    const std::int64_t cell = std::max<std::int64_t>(w / 11, 1);
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::int64_t band = 0; band < 11; ++band) {
            const std::int64_t slope = band - 5;
            const std::int64_t left = band * cell + ((slope * y) % cell + cell) % cell;
            const std::int64_t length = 1 + (y * (band % 4 + 1)) % (cell / 2 + 1);
            for (std::int64_t x = left; x < left + length && x < std::int64_t(w); ++x)
                page.at(std::uint32_t(x), y) = 1;
        }
    return page;
}

// Pixels that alternate along every row and down every column: a change at
// every pixel, the longest change list a row can have. (At widths of a
// multiple of 32, such as 64 and 1728, libtiff 4.5 cannot read back the
// one-dimensional coding of the rows that start black, and our coder codes
// their first pixel white: see the regression test below. The widths here
// are others.)
Page checkerPage(std::uint32_t w, std::uint32_t h) {
    Page page(w, h);
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x)
            page.at(x, y) = (x + y) & 1;
    return page;
}

std::vector<EncoderCase> encoderCases() {
    std::vector<EncoderCase> cases;
    for (std::uint32_t w : {1u, 7u, 8u, 33u, 63u, 64u, 65u, 1700u, 1728u, 2048u}) {
        const std::string n = std::to_string(w);
        cases.push_back({"noise_" + n, [=] { return noisePage(w, 60, w); }});
        cases.push_back({"sparse_" + n, [=] { return noisePage(w, 60, w + 1, 0.03); }});
        cases.push_back({"dense_" + n, [=] { return noisePage(w, 60, w + 2, 0.97); }});
        cases.push_back({"white_" + n, [=] { return whitePage(w, 5); }});
        cases.push_back({"black_" + n, [=] { return blackPage(w, 5); }});
        cases.push_back({"lines_" + n, [=] { return linesPage(w, 300); }});
    }
    cases.push_back({"text_1728", [=] { return textPage(1728, 2200, 11); }});
    cases.push_back({"text_1700", [=] { return textPage(1700, 900, 12); }});
    // Every run length of both colours, past the longest make-up code (2560)
    // and past twice it.
    for (std::uint32_t w : {70u, 2600u, 5200u})
        cases.push_back({"runs_" + std::to_string(w), [=] { return runsPage(w); }});
    for (std::uint32_t w : {1u, 9u, 64u, 1700u, 1728u, 5200u})
        cases.push_back({"repeats_" + std::to_string(w), [=] { return repeatsPage(w, w + 3); }});
    for (std::uint32_t w : {100u, 1728u})
        cases.push_back({"slopes_" + std::to_string(w), [=] { return slopesPage(w, 203); }});
    for (std::uint32_t w : {1u, 2u, 4u, 63u, 65u, 66u, 129u, 1729u})
        cases.push_back({"checker_" + std::to_string(w), [=] { return checkerPage(w, 70); }});
    cases.push_back({"wide_black_65535", [=] { return blackPage(65535, 3); }});
    cases.push_back({"wide_noise_6000", [=] { return noisePage(6000, 20, 6, 0.002); }});
    return cases;
}

class FaxEncoder : public ::testing::TestWithParam<std::tuple<Coding, EncoderCase>> {};

TEST_P(FaxEncoder, SameStripAsLibtiffAndTheSamePixels) {
    ScratchDir dir;
    const auto& [coding, param] = GetParam();
    const Page page = param.make();
    const std::string ours = dir.file("ours.tif"), theirs = dir.file("libtiff.tif");
    {
        CodingScope scope(coding.ours);
        ASSERT_EQ(writeDocument(ours, {page}), std::vector<int>{1}) << TiflibLastError();
    }
    {
        CodingScope scope(coding.libtiff);
        ASSERT_EQ(writeDocument(theirs, {page}), std::vector<int>{1}) << TiflibLastError();
    }
    TiffFile a = readTiff(ours), b = readTiff(theirs);
    ASSERT_EQ(a.pages.size(), 1u);
    ASSERT_EQ(b.pages.size(), 1u);
    EXPECT_TRUE(a.messages.empty()) << a.messages.front();
    EXPECT_TRUE(a.pages[0].pixels == page) << firstDifference(page, a.pages[0].pixels);
    EXPECT_FALSE(a.pages[0].rawStrip.empty());
    EXPECT_TRUE(a.pages[0].rawStrip == b.pages[0].rawStrip)
        << "strip sizes " << a.pages[0].rawStrip.size() << " and " << b.pages[0].rawStrip.size();
}

// libtiff's one-dimensional decoder overflows on a row whose pixels all
// alternate, black first, at a width of a multiple of 32: such a row is coded
// with its first pixel white, in one-dimensional coding only, so that every
// libtiff-based reader takes the file; the other codings keep every pixel.
TEST(FaxEncoderRegression, AlternatingRowBlackFirstIsReadBackByLibtiff) {
    for (const Coding& coding : kCodings)
        for (std::uint32_t w : {64u, 1728u}) {
            SCOPED_TRACE(std::string(coding.what) + " width " + std::to_string(w));
            ScratchDir dir;
            const Page page = checkerPage(w, 6);
            const std::string path = dir.file("page.tif");
            CodingScope scope(coding.ours);
            ASSERT_EQ(writeDocument(path, {page}), std::vector<int>{1}) << TiflibLastError();
            TiffFile got = readTiff(path);
            ASSERT_EQ(got.pages.size(), 1u);
            EXPECT_TRUE(got.messages.empty()) << got.messages.front();
            Page want = page;
            if (coding.ours == TIFLIB_FAX_G3_1D)
                for (std::uint32_t y = 1; y < want.height; y += 2)
                    want.at(0, y) = 0;
            EXPECT_TRUE(got.pages[0].pixels == want) << firstDifference(want, got.pages[0].pixels);
        }
}

INSTANTIATE_TEST_SUITE_P(Pages, FaxEncoder,
                         ::testing::Combine(::testing::ValuesIn(kCodings),
                                            ::testing::ValuesIn(encoderCases())),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).what) + "_" +
                                    std::get<1>(info.param).what;
                         });

} // namespace
