// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The packed-page store: every span keeps its bytes whatever is stored or
// released around it, chunks go back to the system when their spans do, and
// large spans live apart.
#include "PackStore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

namespace {

std::vector<std::uint8_t> bytesOf(std::size_t n, unsigned seed) {
    std::vector<std::uint8_t> v(n);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& b : v) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        b = std::uint8_t(x);
    }
    return v;
}

bool holds(const folio::PackedBytes& p, const std::vector<std::uint8_t>& v) {
    return p.Size() == v.size() && std::equal(v.begin(), v.end(), p.Bytes().begin());
}

TEST(PackStore, SpansKeepTheirBytesThroughChurn) {
    const folio::PackStoreUsage before = folio::PackStoreUsageNow();
    // Sizes from a byte to past the own-block limit (a quarter of 4 MiB),
    // enough of them to fill several chunks; then half released at random
    // and as many stored again, as a viewer paging back and forth does.
    std::mt19937 random(5);
    const std::size_t sizes[] = {1, 15, 16, 17, 4095, 4096, 83'000, 600'000, 1'048'577};
    std::vector<std::vector<std::uint8_t>> data;
    std::vector<folio::PackedBytes> spans;
    for (unsigned i = 0; i < 90; ++i) {
        data.push_back(bytesOf(sizes[i % std::size(sizes)], i));
        spans.push_back(folio::PackedBytes::Copy(data.back()));
    }
    EXPECT_GE(folio::PackStoreUsageNow().chunks, 2u);
    for (int round = 0; round < 3; ++round) {
        for (std::size_t i = 0; i < spans.size(); ++i) {
            if (random() % 2) {
                spans[i].Release();
                EXPECT_TRUE(spans[i].Empty());
                data[i] = bytesOf(sizes[random() % std::size(sizes)], unsigned(1000 * round + i));
                spans[i] = folio::PackedBytes::Copy(data[i]);
            }
        }
        for (std::size_t i = 0; i < spans.size(); ++i)
            ASSERT_TRUE(holds(spans[i], data[i])) << "round " << round << " span " << i;
    }
    // Moving keeps the bytes and empties the source.
    folio::PackedBytes moved = std::move(spans[3]);
    EXPECT_TRUE(spans[3].Empty());
    EXPECT_TRUE(holds(moved, data[3]));
    spans.clear();
    moved.Release();
    // All gone: at most the current chunk and one spare stay mapped.
    const folio::PackStoreUsage after = folio::PackStoreUsageNow();
    EXPECT_EQ(after.liveBytes, before.liveBytes);
    EXPECT_LE(after.chunks, std::max<std::size_t>(before.chunks, 2));
    EXPECT_TRUE(folio::PackedBytes::Copy({}).Empty());
}

} // namespace
