// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Dithering: the worked examples of each function, and comparison with
// independent reference dithers on random pictures of odd sizes at every
// accepted source depth. The references build the Bayer matrix by bit
// interleaving and the tone table from its closed form, so a wrong entry in
// either table of the library shows up.
#include "TestDib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

namespace {

using namespace rastrum_test;

// The 8 x 8 Bayer value at (row, column): the 2 x 2 pattern {0, 2; 3, 1}
// interleaved over three bit levels, finest level most significant.
int Bayer(int row, int column) {
    static const int base[2][2] = {{0, 2}, {3, 1}};
    int v = 0;
    for (int level = 0; level < 3; ++level)
        v = v * 4 + base[(row >> level) & 1][(column >> level) & 1];
    return v;
}

int Tone(int i) {
    if (i == 27)
        return 31;
    if (i == 54)
        return 63;
    return std::clamp(32 * i / 27, 1, 254);
}

int Grey(int r, int g, int b) {
    return 30 * r / 100 + 59 * g / 100 + 11 * b / 100;
}

struct Rgb {
    int r, g, b;
};

// The colour of a source pixel; an index past the table is black.
Rgb ColourAt(const Picture& p, int x, int y) {
    const std::uint32_t v = p.at(x, y);
    if (p.bitCount == 24)
        return {int(v >> 16), int((v >> 8) & 255), int(v & 255)};
    if (v >= p.table.size())
        return {0, 0, 0};
    const RGBQUAD& q = p.table[v];
    return {q.rgbRed, q.rgbGreen, q.rgbBlue};
}

Picture Reference2(const Picture& in) {
    Picture out = in;
    for (int y = 0; y < in.height; ++y)
        for (int x = 0; x < in.width; ++x) {
            const Rgb c = ColourAt(in, x, y);
            const int t = Tone(Grey(c.r, c.g, c.b)) / 4;
            out.pixels[std::size_t(y) * in.width + x] = Bayer(y % 8, x % 8) < t ? 1 : 0;
        }
    return out;
}

Picture Reference16(const Picture& in) {
    Picture out = in;
    for (int y = 0; y < in.height; ++y)
        for (int x = 0; x < in.width; ++x) {
            const Rgb c = ColourAt(in, x, y);
            const int t = 4 * Bayer(x % 8, y % 8);
            out.pixels[std::size_t(y) * in.width + x] =
                (c.r > t ? 1 : 0) + (c.g > t ? 2 : 0) + (c.b > t ? 4 : 0);
        }
    return out;
}

const int kLevels8[8] = {32, 64, 96, 128, 160, 192, 224, 255};
const int kLevels4[4] = {64, 128, 192, 255};

Picture Reference256(const Picture& in) {
    std::vector<std::array<int, 3>> work(in.pixels.size());
    for (std::size_t i = 0; i < work.size(); ++i) {
        const std::uint32_t v = in.pixels[i];
        work[i] = {int(v >> 16), int((v >> 8) & 255), int(v & 255)};
    }
    Picture out = in;
    const int w = in.width, h = in.height;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            auto& c = work[std::size_t(y) * w + x];
            const int ri = c[0] / 32, gi = c[1] / 32, bi = c[2] / 64;
            out.pixels[std::size_t(y) * w + x] = std::uint32_t(ri * 32 + gi * 4 + bi);
            const int target[3] = {kLevels8[ri], kLevels8[gi], kLevels4[bi]};
            int e[3];
            for (int k = 0; k < 3; ++k)
                e[k] = int(std::floor((c[k] - target[k]) / 16.0));
            auto spread = [&](int tx, int ty, int weight) {
                if (tx < 0 || tx >= w || ty >= h)
                    return;
                auto& t = work[std::size_t(ty) * w + tx];
                for (int k = 0; k < 3; ++k)
                    t[k] = std::clamp(t[k] + weight * e[k], 0, 255);
            };
            spread(x + 1, y + 1, 1);
            spread(x - 1, y + 1, 3);
            spread(x, y + 1, 5);
            spread(x + 1, y, 7);
        }
    return out;
}

// Runs a dither and checks the frame every result shares: size, depth,
// colour table as documented, source untouched, nothing left locked.
Picture RunDither(HGLOBAL (*dither)(HGLOBAL), const Picture& in, int depth) {
    Block source(MakeDib(in));
    const auto before = BlockBytes(source.get());
    Block result(dither(source.get()));
    EXPECT_TRUE(result) << "no result";
    if (!result)
        return {};
    EXPECT_EQ(BlockBytes(source.get()), before) << "source changed";
    EXPECT_EQ(hooks::OutstandingLocks(), 0);
    const BITMAPINFOHEADER h = HeaderOf(result.get());
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biBitCount, depth);
    EXPECT_EQ(h.biClrUsed, 1u << depth);
    EXPECT_EQ(h.biSizeImage, Stride(in.width, depth) * std::uint32_t(in.height));
    return ReadDib(result.get());
}

bool SameColour(const RGBQUAD& q, int r, int g, int b) {
    return q.rgbRed == r && q.rgbGreen == g && q.rgbBlue == b && q.rgbReserved == 0;
}

TEST(Dither2, WhiteLeavesOneBlackPixelPerTileAtTheMatrixMaximum) {
    const Picture out = RunDither(Dither2, Solid(19, 17, 0xFFFFFF), 1);
    ASSERT_EQ(out.table.size(), 2u);
    EXPECT_TRUE(SameColour(out.table[0], 0, 0, 0));
    EXPECT_TRUE(SameColour(out.table[1], 255, 255, 255));
    for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 19; ++x)
            EXPECT_EQ(out.at(x, y), (x % 8 == 0 && y % 8 == 7) ? 0u : 1u) << x << "," << y;
}

TEST(Dither2, BlackIsBlackEverywhere) {
    const Picture out = RunDither(Dither2, Solid(13, 3, 0x000000), 1);
    for (std::uint32_t v : out.pixels)
        EXPECT_EQ(v, 0u);
}

TEST(Dither2, ToneTableCornersShowThroughThresholds) {
    // Grey levels whose tone differs from floor(32 i / 27): 27 -> 31 (t 7,
    // not 8) and 54 -> 63 (t 15, not 16). A grey picture of the level passes
    // exactly the matrix values below t.
    for (int level : {0, 1, 2, 6, 26, 27, 28, 54, 55, 214, 215, 254}) {
        // An 8-bit source whose single entry has this grey level.
        Picture p;
        p.width = 8;
        p.height = 8;
        p.bitCount = 8;
        p.table = {RGBQUAD{0, 0, 0, 0}};
        // Some colour with this grey level.
        bool found = false;
        for (int b : {0, 255})
            for (int r = 0; r < 256 && !found; ++r)
                for (int g = 0; g < 256 && !found; ++g)
                    if (Grey(r, g, b) == level) {
                        p.table[0] = RGBQUAD{std::uint8_t(b), std::uint8_t(g), std::uint8_t(r), 0};
                        found = true;
                    }
        ASSERT_TRUE(found) << level;
        p.pixels.assign(64, 0);
        const Picture out = RunDither(Dither2, p, 1);
        int white = 0;
        for (std::uint32_t v : out.pixels)
            white += int(v);
        EXPECT_EQ(white, Tone(level) / 4) << "grey " << level;
    }
}

TEST(Dither16, WhiteBlackAndGrey) {
    const Picture white = RunDither(Dither16, Solid(9, 9, 0xFFFFFF), 4);
    for (std::uint32_t v : white.pixels)
        EXPECT_EQ(v, 7u);
    const Picture black = RunDither(Dither16, Solid(9, 9, 0), 4);
    for (std::uint32_t v : black.pixels)
        EXPECT_EQ(v, 0u);
    const Picture grey = RunDither(Dither16, Solid(16, 16, 0x808080), 4);
    int sevens = 0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const std::uint32_t v = grey.at(x, y);
            EXPECT_EQ(v, Bayer(x % 8, y % 8) < 32 ? 7u : 0u) << x << "," << y;
            sevens += v == 7;
        }
    EXPECT_EQ(sevens, 128);
}

TEST(Dither16, ColourTableIsTheEightCornersThenBlack) {
    const Picture out = RunDither(Dither16, Solid(3, 1, 0x123456), 4);
    ASSERT_EQ(out.table.size(), 16u);
    for (int i = 0; i < 8; ++i)
        EXPECT_TRUE(SameColour(out.table[i], i & 1 ? 255 : 0, i & 2 ? 255 : 0, i & 4 ? 255 : 0))
            << i;
    for (int i = 8; i < 16; ++i)
        EXPECT_TRUE(SameColour(out.table[i], 0, 0, 0)) << i;
}

TEST(Dither256, WhiteAndBlack) {
    const Picture white = RunDither(Dither256, Solid(7, 5, 0xFFFFFF), 8);
    for (std::uint32_t v : white.pixels)
        EXPECT_EQ(v, 255u);
    // Black maps to entry 0, (32, 32, 64); the negative error is clamped at 0.
    const Picture black = RunDither(Dither256, Solid(7, 5, 0), 8);
    for (std::uint32_t v : black.pixels)
        EXPECT_EQ(v, 0u);
    EXPECT_TRUE(SameColour(black.table[0], 32, 32, 64));
    EXPECT_TRUE(SameColour(black.table[255], 255, 255, 255));
}

TEST(Dither256, MidGreyFirstPixelAndItsRightNeighbour) {
    const Picture out = RunDither(Dither256, Solid(5, 4, 0x808080), 8);
    EXPECT_EQ(out.at(0, 0), 146u);
    EXPECT_EQ(out.at(1, 0), 109u);
    EXPECT_EQ(out.pixels, Reference256(Solid(5, 4, 0x808080)).pixels);
}

TEST(Dither256, OnePixelWideAndOneRowHigh) {
    // A column spreads only upward and a row only to the right; a spread to a
    // missing neighbour would show as a changed result or a sanitizer report.
    std::mt19937 rng(11);
    for (auto [w, h] : {std::pair{1, 37}, std::pair{41, 1}, std::pair{1, 1}}) {
        const Picture in = RandomPicture(rng, w, h, 24);
        EXPECT_EQ(RunDither(Dither256, in, 8).pixels, Reference256(in).pixels) << w << "x" << h;
    }
}

TEST(Dither, RandomPicturesMatchTheReferences) {
    std::mt19937 rng(2024);
    const std::pair<int, int> sizes[] = {{1, 1}, {3, 7}, {9, 5}, {17, 13}, {31, 2}, {65, 33}};
    struct Case {
        const char* name;
        HGLOBAL (*dither)(HGLOBAL);
        Picture (*reference)(const Picture&);
        int outDepth;
        std::vector<int> depths;
    };
    const Case cases[] = {
        {"Dither2", Dither2, Reference2, 1, {4, 8, 24}},
        {"Dither16", Dither16, Reference16, 4, {8, 24}},
        {"Dither256", Dither256, Reference256, 8, {24}},
    };
    for (const Case& c : cases)
        for (int depth : c.depths)
            for (auto [w, h] : sizes)
                for (int shortTable : {0, 1}) {
                    if (shortTable && depth == 24)
                        continue;
                    // A short table leaves indices that point past it: black.
                    const int colours = shortTable ? (depth == 4 ? 5 : 100) : 0;
                    const Picture in = RandomPicture(rng, w, h, depth, colours);
                    const Picture out = RunDither(c.dither, in, c.outDepth);
                    EXPECT_EQ(out.pixels, c.reference(in).pixels)
                        << c.name << " from " << depth << " bits, " << w << "x" << h
                        << (shortTable ? ", short table" : "");
                }
}

TEST(Dither, EmptyPicturesGiveEmptyResults) {
    for (auto dither : {Dither2, Dither16, Dither256}) {
        const Picture out = RunDither(dither, Solid(0, 0, 0),
                                      dither == Dither2    ? 1
                                      : dither == Dither16 ? 4
                                                           : 8);
        EXPECT_EQ(out.width, 0);
        EXPECT_EQ(out.height, 0);
    }
}

TEST(Dither, UnacceptedDepthsAndNullAreRefused) {
    std::mt19937 rng(5);
    struct Case {
        HGLOBAL (*dither)(HGLOBAL);
        std::vector<int> refused;
    };
    const Case cases[] = {{Dither2, {1}}, {Dither16, {1, 4}}, {Dither256, {1, 4, 8}}};
    for (const Case& c : cases) {
        EXPECT_EQ(c.dither(nullptr), nullptr);
        for (int depth : c.refused) {
            Block source(MakeDib(RandomPicture(rng, 5, 5, depth)));
            const long blocks = hooks::LiveBlocks();
            EXPECT_EQ(c.dither(source.get()), nullptr) << depth;
            EXPECT_EQ(hooks::LiveBlocks(), blocks);
        }
    }
}

} // namespace
