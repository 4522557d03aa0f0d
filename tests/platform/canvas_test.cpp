// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Lines, rectangles and bitmap copies on the canvas: pixel-exact against a
// plain step-by-step Bresenham, clipping at every edge, and coordinates out
// at the ends of the 32-bit range.
#include "Canvas.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

namespace folio {
namespace {

Bitmap Blank(int w, int h, bool black = false) {
    Bitmap b;
    b.SetSize(w, h);
    b.Fill(black);
    return b;
}

// The textbook incremental Bresenham, end point excluded. A tie (the true
// line exactly half-way between two pixels) steps away from the start.
void ReferenceLine(Bitmap& b, int x0, int y0, int x1, int y1) {
    const int dx = std::abs(x1 - x0), dy = std::abs(y1 - y0);
    const int sx = x1 < x0 ? -1 : 1, sy = y1 < y0 ? -1 : 1;
    int x = x0, y = y0;
    if (dx >= dy) {
        int d = 2 * dy - dx;
        for (int i = 0; i < dx; ++i, x += sx) {
            b.SetPixel(x, y, true);
            if (d >= 0) {
                y += sy;
                d -= 2 * dx;
            }
            d += 2 * dy;
        }
    } else {
        int d = 2 * dx - dy;
        for (int i = 0; i < dy; ++i, y += sy) {
            b.SetPixel(x, y, true);
            if (d >= 0) {
                x += sx;
                d -= 2 * dy;
            }
            d += 2 * dx;
        }
    }
}

void DrawLine(Bitmap& b, int x0, int y0, int x1, int y1) {
    Canvas c(b);
    c.MoveTo(x0, y0);
    c.LineTo(x1, y1);
}

bool SameBits(const Bitmap& a, const Bitmap& b) {
    return a.Width() == b.Width() && a.Height() == b.Height() &&
           std::equal(a.Bits(), a.Bits() + a.ByteCount(), b.Bits());
}

TEST(CanvasLine, EndPointIsLeftUnset) {
    Bitmap b = Blank(40, 30);
    DrawLine(b, 10, 10, 20, 10);
    for (int x = 10; x < 20; ++x)
        EXPECT_TRUE(b.Pixel(x, 10)) << x;
    EXPECT_FALSE(b.Pixel(20, 10));
    EXPECT_FALSE(b.Pixel(9, 10));
    EXPECT_EQ(b.CountBlack(), 10u);

    Bitmap dot = Blank(5, 5);
    DrawLine(dot, 2, 2, 2, 2);
    EXPECT_EQ(dot.CountBlack(), 0u);
}

TEST(CanvasLine, PenPositionMovesAndWhitePenErases) {
    Bitmap b = Blank(20, 20, true);
    Canvas c(b);
    c.PenColor = clWhite;
    c.MoveTo(1, 1);
    c.LineTo(5, 1);
    EXPECT_EQ(c.PenX(), 5);
    EXPECT_EQ(c.PenY(), 1);
    c.LineTo(5, 4);
    EXPECT_EQ(b.CountBlack(), 400u - 7u);
    EXPECT_FALSE(b.Pixel(5, 1));
    EXPECT_TRUE(b.Pixel(5, 4));
}

TEST(CanvasLine, MatchesReferenceOnRandomSegments) {
    // Small segments around and across a 37 x 23 bitmap, and longer ones
    // reaching thousands of pixels beyond it: the clipped drawing must equal
    // the reference drawn step by step and cut at the edges.
    std::uint32_t seed = 2024;
    auto next = [&](int lo, int hi) {
        seed = seed * 1664525u + 1013904223u;
        return lo + int((seed >> 8) % std::uint32_t(hi - lo + 1));
    };
    for (int round = 0; round < 3000; ++round) {
        const int reach = round < 2500 ? 30 : 5000;
        const int x0 = next(-reach, 37 + reach), y0 = next(-reach, 23 + reach);
        int x1 = next(-reach, 37 + reach), y1 = next(-reach, 23 + reach);
        if (round % 10 == 0)
            x1 = x0 + (y1 - y0) * (round % 20 ? 1 : -1); // exact diagonals
        Bitmap expected = Blank(37, 23), actual = Blank(37, 23);
        ReferenceLine(expected, x0, y0, x1, y1);
        DrawLine(actual, x0, y0, x1, y1);
        ASSERT_TRUE(SameBits(expected, actual))
            << "(" << x0 << ", " << y0 << ") to (" << x1 << ", " << y1 << ")";
    }
}

TEST(CanvasLine, HugeCoordinatesAreClippedFirst) {
    Bitmap b = Blank(100, 20);
    DrawLine(b, -2000000000, 5, 2000000000, 5);
    EXPECT_EQ(b.CountBlack(), 100u);
    for (int x = 0; x < 100; ++x)
        ASSERT_TRUE(b.Pixel(x, 5));

    b = Blank(100, 20);
    DrawLine(b, 7, 2000000000, 7, -2000000000);
    EXPECT_EQ(b.CountBlack(), 20u);
    for (int y = 0; y < 20; ++y)
        ASSERT_TRUE(b.Pixel(7, y));

    // The whole 32-bit range, both diagonals.
    b = Blank(30, 20);
    DrawLine(b, INT_MIN, INT_MIN, INT_MAX, INT_MAX);
    EXPECT_EQ(b.CountBlack(), 20u);
    for (int i = 0; i < 20; ++i)
        EXPECT_TRUE(b.Pixel(i, i));
    b = Blank(30, 20);
    DrawLine(b, 2000000019, -2000000000, -1999999981, 2000000000);
    EXPECT_EQ(b.CountBlack(), 20u);
    for (int y = 0; y < 20; ++y)
        EXPECT_TRUE(b.Pixel(19 - y, y));

    // Entirely off the bitmap, also at the extremes.
    b = Blank(30, 20);
    DrawLine(b, INT_MIN, INT_MIN, INT_MAX, INT_MIN + 1);
    DrawLine(b, INT_MIN, INT_MAX, INT_MAX, INT_MAX);
    DrawLine(b, -1, INT_MIN, -1, INT_MAX);
    DrawLine(b, 30, INT_MIN, 31, INT_MAX);
    EXPECT_EQ(b.CountBlack(), 0u);
}

TEST(CanvasLine, HugeSlopedLinesFollowTheTrueLine) {
    // Slope 1/2 through the origin from 2e9 pixels away: one pixel per
    // column, within half a pixel of y = x / 2.
    Bitmap b = Blank(64, 40);
    DrawLine(b, -2000000000, -1000000000, 2000000000, 1000000000);
    for (int x = 0; x < 64; ++x) {
        int count = 0;
        for (int y = 0; y < 40; ++y)
            if (b.Pixel(x, y)) {
                ++count;
                EXPECT_LE(std::abs(2 * y - x), 1) << x << ", " << y;
            }
        EXPECT_EQ(count, 1) << "column " << x;
    }
    // Steep: x = -y / 3 + 20, one pixel per row.
    b = Blank(64, 40);
    DrawLine(b, 20 + 600000000, -1800000000, 20 - 600000000, 1800000000);
    for (int y = 0; y < 40; ++y) {
        int count = 0;
        for (int x = 0; x < 64; ++x)
            if (b.Pixel(x, y)) {
                ++count;
                EXPECT_LE(std::abs(3 * (x - 20) + y), 2) << x << ", " << y;
            }
        EXPECT_EQ(count, 1) << "row " << y;
    }
}

TEST(CanvasLine, ClosedBoxHasAllFourCorners) {
    // BOX 50,100,200,80: the outline from (50, 100) to (250, 180).
    Bitmap b = Blank(300, 200);
    Canvas c(b);
    c.MoveTo(50, 100);
    c.LineTo(250, 100);
    c.LineTo(250, 180);
    c.LineTo(50, 180);
    c.LineTo(50, 100);
    for (auto [x, y] : {std::pair{50, 100}, {250, 100}, {250, 180}, {50, 180}})
        EXPECT_TRUE(b.Pixel(x, y)) << x << ", " << y;
    EXPECT_EQ(b.CountBlack(), 2u * 201 + 2u * 79);
    for (int x = 50; x <= 250; ++x)
        ASSERT_TRUE(b.Pixel(x, 100) && b.Pixel(x, 180)) << x;
    for (int y = 100; y <= 180; ++y)
        ASSERT_TRUE(b.Pixel(50, y) && b.Pixel(250, y)) << y;
}

// ---- Rectangle -------------------------------------------------------------

// The expected picture of Rectangle on a bitmap filled with `ground`.
Bitmap ExpectedRectangle(int w, int h, bool ground, int x1, int y1, int x2, int y2, bool brush,
                         bool pen) {
    Bitmap b = Blank(w, h, ground);
    const long long l = std::min(x1, x2), r = std::max(x1, x2);
    const long long t = std::min(y1, y2), u = std::max(y1, y2);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (x < l || x >= r || y < t || y >= u)
                continue;
            const bool edge = x == l || x == r - 1 || y == t || y == u - 1;
            b.SetPixel(x, y, edge ? pen : brush);
        }
    return b;
}

TEST(CanvasRectangle, FillAndOutlineAnyCornerOrder) {
    struct Case {
        int x1, y1, x2, y2;
    };
    const std::vector<Case> cases = {
        {3, 2, 12, 9},
        {12, 9, 3, 2},
        {12, 2, 3, 9},
        {3, 9, 12, 2}, // one box, four orders
        {0, 0, 20, 15},
        {-5, -5, 25, 20}, // whole bitmap, beyond it
        {4, 4, 5, 5},
        {4, 4, 6, 5},
        {4, 4, 4, 9},
        {7, 3, 9, 3}, // 1x1, 2x1, empty
        {-10, 3, 8, 7},
        {15, -3, 30, 6},
        {2, 12, 9, 40}, // cut at each edge
        {INT_MIN, 3, INT_MAX, 7},
        {5, INT_MAX, 9, INT_MIN}, // huge
        {INT_MIN, INT_MIN, INT_MAX, INT_MAX},
        {INT_MIN, INT_MIN, INT_MIN + 1, INT_MIN + 1},
    };
    for (const Case& k : cases)
        for (bool ground : {false, true})
            for (auto [brush, pen] : {std::pair{false, true}, {true, true}, {true, false}}) {
                Bitmap b = Blank(20, 15, ground);
                Canvas c(b);
                c.BrushColor = brush ? clBlack : clWhite;
                c.PenColor = pen ? clBlack : clWhite;
                c.Rectangle(k.x1, k.y1, k.x2, k.y2);
                EXPECT_TRUE(SameBits(
                    b, ExpectedRectangle(20, 15, ground, k.x1, k.y1, k.x2, k.y2, brush, pen)))
                    << k.x1 << ", " << k.y1 << ", " << k.x2 << ", " << k.y2 << " ground " << ground
                    << " brush " << brush << " pen " << pen;
            }
}

TEST(CanvasRectangle, PageClearDoesNotTouchThePen) {
    // The page clear: white brush and pen over the whole page.
    Bitmap b = Blank(1728, 50, true);
    Canvas c(b);
    c.MoveTo(3, 4);
    c.PenColor = clWhite;
    c.Rectangle(0, 0, 1728, 50);
    EXPECT_EQ(b.CountBlack(), 0u);
    EXPECT_EQ(c.PenX(), 3);
    EXPECT_EQ(c.PenY(), 4);
}

// ---- Draw ------------------------------------------------------------------

TEST(CanvasDraw, CopiesWhiteAndBlackClippedAtEveryEdge) {
    Bitmap src = Blank(13, 9);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 13; ++x)
            src.SetPixel(x, y, (x * 3 + y * 5 + x * y) % 7 < 3);
    const std::vector<std::pair<int, int>> offsets = {
        {0, 0},       {5, 4},       {-4, 0},
        {0, -3},      {-12, -8},    {-13, 0},
        {20, 10},     {19, 14},     {7, 9},
        {27, 3},      {26, 15},     {24, 2},
        {-20, -20},   {INT_MIN, 0}, {0, INT_MIN},
        {INT_MAX, 5}, {3, INT_MAX}, {-2000000000, 2000000000},
    };
    for (auto [ox, oy] : offsets) {
        Bitmap dst = Blank(27, 15, true);
        dst.SetPixel(0, 0, false);
        const Bitmap before = dst;
        Canvas c(dst);
        c.Draw(ox, oy, src);
        for (int y = 0; y < 15; ++y)
            for (int x = 0; x < 27; ++x) {
                const long long sx = (long long)x - ox, sy = (long long)y - oy;
                const bool inside = sx >= 0 && sy >= 0 && sx < 13 && sy < 9;
                const bool want = inside ? src.Pixel(int(sx), int(sy)) : before.Pixel(x, y);
                ASSERT_EQ(dst.Pixel(x, y), want)
                    << "offset " << ox << ", " << oy << " pixel " << x << ", " << y;
            }
        // Row padding beyond x = 27 stays clear.
        for (int y = 0; y < 15; ++y)
            ASSERT_EQ(dst.Row(y)[3] & 0x1F, 0);
    }
}

// Rows long enough to be copied a byte at a time, at every bit alignment of
// source and target, cut at either side, over white and over black.
TEST(CanvasDraw, LongRowsAtEveryAlignmentMatchThePixels) {
    const int sw = 75, sh = 3, dw = 101;
    Bitmap src = Blank(sw, sh);
    for (int y = 0; y < sh; ++y)
        for (int x = 0; x < sw; ++x)
            src.SetPixel(x, y, (x * 7 + y * 3 + x / 5) % 3 == 0);
    for (const bool ground : {false, true})
        for (int ox = -17; ox <= 40; ++ox) {
            Bitmap dst = Blank(dw, sh, ground);
            Canvas c(dst);
            c.Draw(ox, 0, src);
            for (int y = 0; y < sh; ++y)
                for (int x = 0; x < dw; ++x) {
                    const int sx = x - ox;
                    const bool want = sx >= 0 && sx < sw ? src.Pixel(sx, y) : ground;
                    ASSERT_EQ(dst.Pixel(x, y), want)
                        << "offset " << ox << " ground " << ground << " pixel " << x << ", " << y;
                }
            // The padding after the row's 101 pixels stays clear.
            for (int y = 0; y < sh; ++y)
                ASSERT_EQ(dst.Row(y)[12] & 0x07, 0) << "offset " << ox;
        }
}

TEST(CanvasDraw, EmptySourceOrTargetDoesNothing) {
    Bitmap empty;
    Bitmap dst = Blank(8, 8);
    Canvas c(dst);
    c.Draw(0, 0, empty);
    EXPECT_EQ(dst.CountBlack(), 0u);
    Bitmap src = Blank(4, 4, true);
    Bitmap none;
    Canvas c2(none);
    c2.Draw(0, 0, src);
    c2.MoveTo(0, 0);
    c2.LineTo(5, 5);
    c2.Rectangle(0, 0, 5, 5);
    EXPECT_TRUE(none.Empty());
}

} // namespace
} // namespace folio
