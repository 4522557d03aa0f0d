// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Parked pages: the packed form gives back exactly the pixels it was made
// from, for every width and kind of page, with the padding bits set or clear
// as asked; a damaged form never reads or writes out of bounds; a page image
// parks, reopens on use and reads out the same rows either way; and the
// engine parks the pages it leaves without changing what is saved.
#include "FaxImage.h"
#include "PagePack.h"
#include "PagePacker.h"
#include "common/RecordingWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using folio::Bitmap;

enum class Kind { White, Black, Noise, Sparse, Stripes, Text };

Bitmap makePage(int width, int height, Kind kind, unsigned seed) {
    Bitmap page;
    page.SetSize(width, height);
    std::mt19937 random(seed);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            bool black = false;
            switch (kind) {
            case Kind::White:
                break;
            case Kind::Black:
                black = true;
                break;
            case Kind::Noise:
                black = random() & 1;
                break;
            case Kind::Sparse:
                black = random() % 97 == 0;
                break;
            case Kind::Stripes:
                black = (y / 3) % 2 == 0 && (x / 5) % 3 == 0;
                break;
            case Kind::Text: // stems repeated over rows, with gaps between lines
                black = (y % 40) < 30 && ((x * 7 + (y % 40 < 15 ? 0 : 3)) % 23) < 3;
                break;
            }
            page.SetPixel(x, y, black);
        }
    }
    return page;
}

// The rows UnpackPage writes, top-down, against the page: pixels equal,
// padding bits all set or all clear.
void expectRows(const Bitmap& page, const std::vector<std::uint8_t>& rows, bool padding) {
    const int stride = page.Stride();
    for (int y = 0; y < page.Height(); ++y) {
        const std::uint8_t* row = rows.data() + std::size_t(y) * stride;
        for (int x = 0; x < stride * 8; ++x) {
            const bool bit = (row[x / 8] >> (7 - x % 8)) & 1;
            if (x < page.Width())
                ASSERT_EQ(bit, page.Pixel(x, y)) << "pixel " << x << ", " << y;
            else
                ASSERT_EQ(bit, padding) << "padding bit " << x << " of row " << y;
        }
    }
}

struct PackCase {
    int width;
    Kind kind;
};

class PagePack : public ::testing::TestWithParam<PackCase> {};

TEST_P(PagePack, UnpacksToThePixelsWithPaddingAsAsked) {
    const Bitmap page = makePage(GetParam().width, 23, GetParam().kind, 7u + GetParam().width);
    std::vector<std::uint8_t> packed;
    folio::PackPage(page, packed);
    for (bool padding : {false, true}) {
        // Bottom-up into a block, as SaveFile reads a page out, then turned
        // back top-down for the comparison.
        const int stride = page.Stride();
        std::vector<std::uint8_t> block(std::size_t(stride) * page.Height(), 0x5A);
        folio::UnpackPage(packed, page.Width(), page.Height(), stride,
                          block.data() + std::size_t(page.Height() - 1) * stride, -stride, padding);
        std::vector<std::uint8_t> rows(block.size());
        for (int y = 0; y < page.Height(); ++y)
            std::memcpy(rows.data() + std::size_t(y) * stride,
                        block.data() + std::size_t(page.Height() - 1 - y) * stride,
                        std::size_t(stride));
        expectRows(page, rows, padding);
    }
}

std::vector<PackCase> packCases() {
    std::vector<PackCase> cases;
    for (int w : {1, 7, 8, 31, 32, 33, 63, 64, 65, 100, 1700, 1728, 2048})
        for (Kind k :
             {Kind::White, Kind::Black, Kind::Noise, Kind::Sparse, Kind::Stripes, Kind::Text})
            cases.push_back({w, k});
    return cases;
}

std::string caseName(const ::testing::TestParamInfo<PackCase>& info) {
    static const char* const kNames[] = {"white", "black", "noise", "sparse", "stripes", "text"};
    return std::string(kNames[int(info.param.kind)]) + "_" + std::to_string(info.param.width);
}

INSTANTIATE_TEST_SUITE_P(Pages, PagePack, ::testing::ValuesIn(packCases()), caseName);

TEST(PagePackForm, TextShrinksToASmallPartOfTheBitmap) {
    const Bitmap page = makePage(1728, 2200, Kind::Text, 1);
    std::vector<std::uint8_t> packed;
    folio::PackPage(page, packed);
    EXPECT_LT(packed.size(), page.ByteCount() / 4);
}

TEST(PagePackForm, ACutOrDamagedFormStaysInsideItsRows) {
    const Bitmap page = makePage(200, 40, Kind::Noise, 3);
    std::vector<std::uint8_t> packed;
    folio::PackPage(page, packed);
    std::mt19937 random(5);
    for (std::size_t cut = 0; cut < packed.size(); cut += 1 + packed.size() / 50) {
        std::vector<std::uint8_t> part(packed.begin(), packed.begin() + std::ptrdiff_t(cut));
        for (auto& b : part)
            if (random() % 5 == 0)
                b = std::uint8_t(random());
        std::vector<std::uint8_t> rows(std::size_t(page.Stride()) * page.Height());
        // Under the address sanitizer a read or write outside fails here.
        folio::UnpackPage(part, page.Width(), page.Height(), page.Stride(), rows.data(),
                          page.Stride(), false);
    }
}

TEST(PagePackForm, AFormCutAfterARowRepeatsThatRowBelow) {
    // The form of a page's first rows, read as the whole page: those rows
    // come out as they were, every row below as a copy of the last of them.
    for (Kind kind : {Kind::Noise, Kind::Text, Kind::Stripes}) {
        const Bitmap page = makePage(1728, 60, kind, 11);
        for (int rows : {1, 17, 59}) {
            Bitmap first;
            first.SetSize(page.Width(), rows);
            std::memcpy(first.Bits(), page.Bits(), std::size_t(page.Stride()) * rows);
            std::vector<std::uint8_t> packed;
            folio::PackPage(first, packed);
            const std::size_t stride = std::size_t(page.Stride());
            std::vector<std::uint8_t> out(stride * page.Height(), 0x5A);
            folio::UnpackPage(packed, page.Width(), page.Height(), page.Stride(), out.data(),
                              page.Stride(), false);
            for (int y = 0; y < page.Height(); ++y)
                ASSERT_EQ(
                    std::memcmp(out.data() + stride * y, page.Row(std::min(y, rows - 1)), stride),
                    0)
                    << "kind " << int(kind) << ", " << rows << " rows, row " << y;
        }
    }
}

TEST(PageImageParking, ParkedPageReopensWithItsPixelsAndReadsOutTheSame) {
    PageImage image;
    image.Blank(333, 50);
    const Bitmap original = makePage(333, 50, Kind::Noise, 9);
    std::memcpy(image.Picture().Bits(), original.Bits(), original.ByteCount());
    const int stride = original.Stride();
    std::vector<std::uint8_t> before(std::size_t(stride) * 50), after(before.size());
    image.ReadRows(before.data(), stride, true);

    Bitmap spare;
    image.Park(&spare);
    EXPECT_TRUE(image.Parked());
    EXPECT_EQ(image.Width(), 333);
    EXPECT_EQ(image.Height(), 50);
    EXPECT_EQ(spare.Width(), 333); // the bitmap went to the next page
    image.ReadRows(after.data(), stride, true);
    EXPECT_EQ(before, after);
    EXPECT_TRUE(image.Parked()); // reading out leaves it parked

    const PageImage& reader = image;
    EXPECT_EQ(std::memcmp(reader.Picture().Bits(), original.Bits(), original.ByteCount()), 0);
    EXPECT_FALSE(image.Parked());
    EXPECT_EQ(image.HeldBytes(), original.ByteCount());
}

TEST(PageImageParking, PackedOnThePackerThreadAndUsableAtOnce) {
    // Pages handed to a packer are parked at once; every use waits for the
    // packing, whatever it is, and gets the page's own pixels, also when
    // the storage handed back is of another size.
    folio::PagePacker packer;
    constexpr int kPages = 12;
    std::vector<Bitmap> originals;
    std::vector<std::unique_ptr<PageImage>> pages;
    Bitmap storage;
    for (int i = 0; i < kPages; ++i) {
        auto image = std::make_unique<PageImage>();
        image->Blank(300 + i, 40, &storage);
        originals.push_back(makePage(300 + i, 40, Kind(i % 6), unsigned(i)));
        std::memcpy(image->Picture().Bits(), originals.back().Bits(), originals.back().ByteCount());
        image->ParkWith(packer, storage);
        EXPECT_TRUE(image->Parked());
        pages.push_back(std::move(image));
    }
    for (int i = 0; i < kPages; ++i) {
        const Bitmap& o = originals[std::size_t(i)];
        std::vector<std::uint8_t> rows(o.ByteCount());
        // Read out parked, then opened again, alternately first.
        if (i % 2) {
            EXPECT_EQ(std::memcmp(pages[std::size_t(i)]->Picture().Bits(), o.Bits(), o.ByteCount()),
                      0)
                << i;
        }
        pages[std::size_t(i)]->ReadRows(rows.data(), o.Stride(), false);
        EXPECT_EQ(std::memcmp(rows.data(), o.Bits(), o.ByteCount()), 0) << i;
    }
    // Bitmaps handed back are white, ready for the next page.
    int handedBack = 0;
    for (int i = 0; i < 6; ++i) {
        PageImage image;
        image.Blank(128, 16, &storage);
        image.Picture().Fill(true);
        if (image.ParkWith(packer, storage) && !storage.Empty()) {
            ++handedBack;
            EXPECT_EQ(storage.CountBlack(), 0u);
        }
        EXPECT_EQ(image.Picture().CountBlack(), 128u * 16);
    }
    EXPECT_GE(handedBack, 4);
    // Pages dropped while their packing may still run.
    Bitmap scratch;
    for (int i = 0; i < 4; ++i) {
        auto image = std::make_unique<PageImage>();
        image->Blank(64, 64);
        image->ParkWith(packer, scratch);
    }
}

TEST(PageImageParking, BlankDropsAParkedPageUnread) {
    PageImage image;
    image.Blank(100, 10);
    image.Picture().Fill(true);
    image.Park();
    image.Blank(100, 10);
    EXPECT_FALSE(image.Parked());
    EXPECT_EQ(image.Picture().Width(), 100);
}

TEST(EngineParking, PagesLeftBehindAreParkedAndSavedAsDrawn) {
    enginetest::gWriterCalls.clear();
    FaxImage fax;
    for (int p = 0; p < 3; ++p) {
        if (p > 0)
            fax.NextPage(true);
        for (int i = 0; i <= p; ++i)
            fax.DrawLine(100, 100 + 10 * i, 600 + p, 100 + 10 * i);
        fax.PrintLine(("page " + std::to_string(p + 1)).c_str());
    }
    int parked = 0;
    for (Link* l = fax.Pages->First(); l; l = l->Suc())
        parked += static_cast<FaxPage*>(l)->PageImage.Parked();
    EXPECT_EQ(parked, 2); // all but the current page
    EXPECT_LT(static_cast<FaxPage*>(fax.Pages->First())->PageImage.HeldBytes(), 475200u / 10);

    char name[] = "parked.tif";
    ASSERT_TRUE(fax.SaveFile(name));
    ASSERT_EQ(enginetest::gWriterCalls.size(), 3u);
    int index = 0;
    for (Link* l = fax.Pages->First(); l; l = l->Suc(), ++index) {
        // Each block's rows (bottom-up) are the page's rows, padding set.
        const Bitmap& page = static_cast<FaxPage*>(l)->PageImage.Picture();
        const auto& call = enginetest::gWriterCalls[std::size_t(index)];
        std::vector<std::uint8_t> rows(std::size_t(page.Stride()) * page.Height());
        for (int y = 0; y < page.Height(); ++y)
            std::memcpy(rows.data() + std::size_t(y) * page.Stride(),
                        call.pixels() + std::size_t(page.Height() - 1 - y) * page.Stride(),
                        std::size_t(page.Stride()));
        expectRows(page, rows, true);
        EXPECT_GT(page.CountBlack(), 0u);
    }
    // Going back reopens a page; going forward again finds it as it was.
    const std::size_t firstBlack =
        static_cast<FaxPage*>(fax.Pages->First())->PageImage.Picture().CountBlack();
    fax.PrevPage();
    fax.PrevPage();
    EXPECT_EQ(fax.Image->Picture().CountBlack(), firstBlack);
    fax.NextPage(true);
    fax.NextPage(true);
    EXPECT_EQ(fax.PageCount, 3);
}

} // namespace
