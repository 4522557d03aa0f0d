// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The line-art judgement against its rule: the count of near-black and
// near-white pixels exact at its limit, in pictures short of a block of
// sixteen, with a ragged tail, and long enough to overflow a per-lane
// count where the near pixels lie together.
#include "PictureRender.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

namespace folio {
namespace {

GreyImage Picture(int width, int height, std::vector<std::uint8_t> pixels) {
    GreyImage p;
    p.width = p.storedWidth = width;
    p.height = p.storedHeight = height;
    p.pixels = std::move(pixels);
    return p;
}

TEST(LineArtJudgement, CountsNearPixelsExactlyAtTheLimit) {
    struct Case {
        int width, height;
    };
    // Under one block of sixteen, a ragged tail, and more than 255 blocks.
    for (const Case c : {Case{3, 5}, Case{17, 3}, Case{1000, 37}, Case{4099, 9}}) {
        const int total = c.width * c.height;
        // The most pixels that may lie between near black and near white.
        const int far = total - (total * kLineArtPercent + 99) / 100;
        // The pixels between scattered, or all together at the start, which
        // leaves long runs of near ones.
        for (const bool scattered : {true, false})
            for (const int extra : {0, 1}) {
                const int between = far + extra;
                std::vector<std::uint8_t> pixels(static_cast<std::size_t>(total));
                const std::uint8_t nearValues[] = {0, kNearBlack, kNearWhite, 255};
                const std::uint8_t farValues[] = {std::uint8_t(kNearBlack + 1), 128,
                                                  std::uint8_t(kNearWhite - 1)};
                for (int i = 0; i < total; ++i)
                    pixels[std::size_t(i)] = (scattered ? (i * 7919) % total : i) < between
                                                 ? farValues[i % 3]
                                                 : nearValues[i % 4];
                SCOPED_TRACE(testing::Message()
                             << c.width << " x " << c.height << ", " << between << " of " << total
                             << " between" << (scattered ? ", scattered" : ""));
                EXPECT_EQ(IsLineArt(Picture(c.width, c.height, pixels)), extra == 0);
            }
    }
}

} // namespace
} // namespace folio
