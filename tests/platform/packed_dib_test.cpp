// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Packed DIB blocks: the depth rule, row strides, block sizes, the header
// fields and the colour table built from palette triples.
#include "PackedDib.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace folio {
namespace {

TEST(PackedDib, NormalizeBitCount) {
    const std::vector<std::pair<WORD, WORD>> cases = {
        {0, 24}, {1, 1},  {2, 4},   {3, 4},   {4, 4},   {5, 8},
        {8, 8},  {9, 24}, {16, 24}, {24, 24}, {32, 24}, {65535, 24},
    };
    for (auto [in, out] : cases)
        EXPECT_EQ(NormalizeBitCount(in), out) << in;
}

TEST(PackedDib, RowStride) {
    struct Case {
        DWORD width, bits, stride;
    };
    for (const Case& c : std::vector<Case>{{1, 1, 4},
                                           {32, 1, 4},
                                           {33, 1, 8},
                                           {1728, 1, 216},
                                           {9, 4, 8},
                                           {3, 24, 12},
                                           {5, 8, 8},
                                           {4, 8, 4},
                                           {65535, 24, 196608},
                                           {0, 24, 0}})
        EXPECT_EQ(DibRowStride(c.width, c.bits), c.stride) << c.width << " @ " << c.bits;
}

BITMAPINFOHEADER HeaderOf(HGLOBAL block) {
    BITMAPINFOHEADER h;
    GlobalLockGuard lock(block);
    std::memcpy(&h, lock.data(), sizeof h);
    return h;
}

TEST(PackedDib, FaxPageBlock) {
    HGLOBAL block = PackDib(1728, 2200, nullptr, 1);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(GlobalSize(block), 475248u); // 40 + 2 * 4 + 216 * 2200
    const BITMAPINFOHEADER h = HeaderOf(block);
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 1728);
    EXPECT_EQ(h.biHeight, 2200); // positive: rows bottom-up
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 1);
    EXPECT_EQ(h.biCompression, DWORD(BI_RGB));
    EXPECT_EQ(h.biSizeImage, 475200u);
    EXPECT_EQ(h.biClrUsed, 2u);
    EXPECT_EQ(h.biClrImportant, 2u);
    {
        GlobalLockGuard lock(block);
        const std::uint8_t* p = lock.data() + 40;
        for (std::size_t i = 0; i < 475248 - 40; ++i) // no palette: zero table, zero pixels
            ASSERT_EQ(p[i], 0) << i;
    }
    EXPECT_EQ(GlobalUnlock(block), 0); // handed back unlocked
    EXPECT_EQ(GlobalFree(block), nullptr);
}

TEST(PackedDib, ColourTableFromTriples) {
    std::vector<PaletteTriple> palette(256);
    for (int i = 0; i < 256; ++i)
        palette[i] = {BYTE(i), BYTE(255 - i), BYTE(i * 7)};
    palette[0] = {0xFF, 0x00, 0x00}; // red
    palette[1] = {0x00, 0xFF, 0x00}; // green
    palette[2] = {0x00, 0x00, 0xFF}; // blue
    for (WORD bits : {1, 4, 8}) {
        HGLOBAL block = PackDib(3, 2, palette.data(), bits);
        ASSERT_NE(block, nullptr);
        const DWORD colours = DWORD(1) << bits;
        EXPECT_EQ(GlobalSize(block), 40 + 4 * colours + DibRowStride(3, bits) * 2);
        const BITMAPINFOHEADER h = HeaderOf(block);
        EXPECT_EQ(h.biBitCount, bits);
        EXPECT_EQ(h.biClrUsed, colours);
        GlobalLockGuard lock(block);
        const std::uint8_t* q = lock.data() + 40;
        for (DWORD i = 0; i < colours; ++i) {
            // RGBQUAD: blue, green, red, reserved
            ASSERT_EQ(q[4 * i], palette[i].blue) << i;
            ASSERT_EQ(q[4 * i + 1], palette[i].green) << i;
            ASSERT_EQ(q[4 * i + 2], palette[i].red) << i;
            ASSERT_EQ(q[4 * i + 3], 0) << i;
        }
        EXPECT_EQ(q[0], 0x00); // red -> 00 00 FF 00
        EXPECT_EQ(q[2], 0xFF);
        if (colours > 2) {
            EXPECT_EQ(q[4 * 2], 0xFF); // blue -> FF 00 00 00
        }
        for (std::size_t i = 4 * colours; i < 4 * colours + DibRowStride(3, bits) * 2; ++i)
            ASSERT_EQ(q[i], 0);
        GlobalUnlock(block);
        GlobalFree(block);
    }
}

TEST(PackedDib, TrueColourHasNoTable) {
    for (WORD bits : {0, 16, 24, 32}) {
        HGLOBAL block = PackDib(5, 3, nullptr, bits);
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(GlobalSize(block), 40u + 16 * 3);
        const BITMAPINFOHEADER h = HeaderOf(block);
        EXPECT_EQ(h.biBitCount, 24);
        EXPECT_EQ(h.biClrUsed, 0u);
        EXPECT_EQ(h.biSizeImage, 48u);
        GlobalFree(block);
    }
    // 65535 x 65535 at 24 bits is about 12.9 GB: refused, nothing leaked.
    EXPECT_EQ(PackDib(65535, 65535, nullptr, 24), nullptr);
}

} // namespace
} // namespace folio
