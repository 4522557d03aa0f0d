// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The 1-bit bitmap: size limits (refused sizes keep the old picture), clipped
// pixel access, and span fills whose edge masks are checked bit by bit.
#include "Bitmap.h"
#include "Error.h"

#include <gtest/gtest.h>

#include <climits>
#include <utility>
#include <vector>

namespace folio {
namespace {

TEST(Bitmap, SizeLimits) {
    struct Case {
        int w, h;
        bool valid;
    };
    const std::vector<Case> cases = {
        {1, 1, true},
        {1728, 2200, true},
        {65535, 1, true},
        {1, 65535, true},
        {32768, 32768, true}, // exactly 128 MiB
        {32769, 32768, false},
        {65535, 65535, false},
        {0, 10, false},
        {10, 0, false},
        {-1, 10, false},
        {10, -1, false},
        {65536, 1, false},
        {1, 65536, false},
        {INT_MIN, INT_MIN, false},
        {INT_MAX, INT_MAX, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Bitmap::IsValidSize(c.w, c.h), c.valid) << c.w << " x " << c.h;
        if (c.valid)
            continue;
        Bitmap b;
        b.SetSize(9, 3);
        b.SetPixel(8, 2, true);
        EXPECT_THROW(b.SetSize(c.w, c.h), Error) << c.w << " x " << c.h;
        EXPECT_EQ(b.Width(), 9);
        EXPECT_EQ(b.Height(), 3);
        EXPECT_EQ(b.Stride(), 4);
        EXPECT_TRUE(b.Pixel(8, 2));
        EXPECT_EQ(b.CountBlack(), 1u);
    }
}

TEST(Bitmap, LayoutAndResize) {
    Bitmap b;
    EXPECT_TRUE(b.Empty());
    b.SetSize(33, 2);
    EXPECT_EQ(b.Stride(), 8);
    EXPECT_EQ(b.ByteCount(), 16u);
    b.SetPixel(0, 0, true);
    b.SetPixel(9, 1, true);
    EXPECT_EQ(b.Row(0)[0], 0x80); // leftmost pixel in the top bit
    EXPECT_EQ(b.Row(1)[1], 0x40);
    b.SetSize(1728, 2200); // a new size starts white
    EXPECT_EQ(b.CountBlack(), 0u);
    EXPECT_EQ(b.Stride(), 216);
}

TEST(Bitmap, PixelAccessOutsideIsClipped) {
    Bitmap b;
    b.SetSize(10, 10);
    for (auto [x, y] : {std::pair{-1, 0}, {0, -1}, {10, 0}, {0, 10}, {INT_MIN, INT_MAX}}) {
        b.SetPixel(x, y, true);
        EXPECT_FALSE(b.Pixel(x, y));
    }
    EXPECT_EQ(b.CountBlack(), 0u);
    b.SetPixel(3, 3, true);
    b.SetPixel(3, 3, false);
    EXPECT_EQ(b.CountBlack(), 0u);
}

TEST(Bitmap, FillRectEdgeMasks) {
    // Every span of a 70-pixel row (several bytes, a ragged last byte) on
    // both backgrounds, against a pixel-by-pixel reference.
    const int w = 70;
    for (bool black : {true, false})
        for (int x1 = -2; x1 <= w + 2; ++x1)
            for (int x2 = x1 - 1; x2 <= w + 2; ++x2) {
                Bitmap b;
                b.SetSize(w, 3);
                b.Fill(!black);
                b.FillRect(x1, 1, x2, 2, black);
                for (int x = 0; x < w; ++x) {
                    const bool inside = x >= x1 && x < x2;
                    ASSERT_EQ(b.Pixel(x, 1), inside ? black : !black)
                        << x1 << ".." << x2 << " pixel " << x;
                    ASSERT_EQ(b.Pixel(x, 0), !black);
                    ASSERT_EQ(b.Pixel(x, 2), !black);
                }
                // Padding bits 70..95 stay clear.
                for (int y = 0; y < 3; ++y) {
                    ASSERT_EQ(b.Row(y)[8] & 0x03, 0);
                    ASSERT_EQ(b.Row(y)[9] | b.Row(y)[10] | b.Row(y)[11], 0);
                }
            }
}

TEST(Bitmap, FillRectHugeAndReversed) {
    Bitmap b;
    b.SetSize(20, 10);
    b.FillRect(INT_MIN, INT_MIN, INT_MAX, INT_MAX, true);
    EXPECT_EQ(b.CountBlack(), 200u);
    b.FillRect(15, 8, 5, 2, false); // reversed corners: nothing
    EXPECT_EQ(b.CountBlack(), 200u);
    b.FillRect(INT_MIN, 2, 5, 4, false);
    EXPECT_EQ(b.CountBlack(), 190u);
    Bitmap empty;
    empty.FillRect(0, 0, 10, 10, true);
    EXPECT_EQ(empty.CountBlack(), 0u);
}

} // namespace
} // namespace folio
