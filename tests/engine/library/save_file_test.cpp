// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// SaveFile: one packed 1-bit DIB per page, bottom row first, a set bit
// black, handed to the writer with the page index and count.
#include "FaxImage.h"

#include "common/EngineTestSupport.h"
#include "common/RecordingWriter.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>

using enginetest::gWriterCalls;
using enginetest::gWriterResult;
using enginetest::Line;

namespace {

struct SaveFile : ::testing::Test {
    void SetUp() override {
        gWriterCalls.clear();
        gWriterResult = 1;
    }
};

TEST_F(SaveFile, OneDefaultPageIsOneBlockOfTheDocumentedShape) {
    FaxImage fax;
    char name[] = "out.tif";
    EXPECT_TRUE(fax.SaveFile(name));
    ASSERT_EQ(gWriterCalls.size(), 1u);
    const auto& call = gWriterCalls[0];
    EXPECT_EQ(call.name, "out.tif");
    EXPECT_EQ(call.index, 0);
    EXPECT_EQ(call.count, 1);
    EXPECT_EQ(call.blockSize, 475248u);
    BITMAPINFOHEADER h = call.header();
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 1728);
    EXPECT_EQ(h.biHeight, 2200);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 1);
    EXPECT_EQ(h.biCompression, 0u);
    EXPECT_EQ(h.biSizeImage, 475200u);
    EXPECT_EQ(h.biClrUsed, 2u);
    EXPECT_EQ(h.biClrImportant, 2u);
    const std::uint8_t table[8] = {0, 0, 0, 0, 255, 255, 255, 0};
    EXPECT_EQ(0, std::memcmp(call.block.data() + 40, table, 8));
    for (std::size_t i = 48; i < call.block.size(); ++i)
        ASSERT_EQ(call.block[i], 0) << "byte " << i; // a blank page
}

TEST_F(SaveFile, TheTopLeftPixelIsTheFirstBitOfTheLastRow) {
    FaxImage fax;
    fax.Image->Picture().SetPixel(0, 0, true);
    fax.Image->Picture().SetPixel(1727, 2199, true);
    char name[] = "p.tif";
    fax.SaveFile(name);
    const auto& call = gWriterCalls.at(0);
    const std::uint8_t* px = call.pixels();
    std::size_t set = 0;
    for (std::size_t i = 0; i < 475200; ++i)
        set += __builtin_popcount(px[i]);
    EXPECT_EQ(set, 2u);
    EXPECT_EQ(px[2199 * 216], 0x80);
    EXPECT_EQ(px[215], 0x01);
}

TEST_F(SaveFile, EveryPageInOrderWithTheSameNameAndCount) {
    FaxImage fax;
    for (int i = 0; i < 2; ++i) {
        Line pb("@CONVERT:PAGEBREAK");
        fax.ProcessCommand(pb.get());
    }
    fax.PrevPage(); // the current page does not matter
    char name[] = "three.tif";
    EXPECT_TRUE(fax.SaveFile(name));
    ASSERT_EQ(gWriterCalls.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(gWriterCalls[i].index, i);
        EXPECT_EQ(gWriterCalls[i].count, 3);
        EXPECT_EQ(gWriterCalls[i].name, "three.tif");
    }
}

TEST_F(SaveFile, AFailedPageStopsTheSaveAndReportsIt) {
    FaxImage fax;
    Line pb("@CONVERT:PAGEBREAK");
    fax.ProcessCommand(pb.get());
    gWriterResult = 0;
    char name[] = "fail.tif";
    EXPECT_FALSE(fax.SaveFile(name));
    EXPECT_EQ(gWriterCalls.size(), 1u);
}

} // namespace
