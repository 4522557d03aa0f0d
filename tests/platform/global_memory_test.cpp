// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Global memory blocks: zeroing, lock counting, sizes, and handles that are
// null, freed or not blocks at all.
#include "GlobalMemory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

TEST(GlobalMemory, ZeroInitAndSize) {
    for (UINT flags : {UINT(GMEM_ZEROINIT), UINT(GHND),
                       UINT(GMEM_MOVEABLE | GMEM_ZEROINIT | GMEM_DISCARDABLE)}) {
        HGLOBAL h = GlobalAlloc(flags, 100000);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(GlobalSize(h), 100000u);
        auto* p = static_cast<std::uint8_t*>(GlobalLock(h));
        ASSERT_NE(p, nullptr);
        for (int i = 0; i < 100000; ++i)
            ASSERT_EQ(p[i], 0) << i;
        std::memset(p, 0xAB, 100000); // the whole size is writable
        EXPECT_EQ(GlobalUnlock(h), 0);
        EXPECT_EQ(GlobalFree(h), nullptr);
    }
}

TEST(GlobalMemory, ZeroBytesStillMakesABlock) {
    HGLOBAL a = GlobalAlloc(GMEM_FIXED, 0), b = GlobalAlloc(GMEM_FIXED, 0);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(GlobalSize(a), 0u);
    void* pa = GlobalLock(a);
    void* pb = GlobalLock(b);
    EXPECT_NE(pa, nullptr);
    EXPECT_NE(pa, pb);
    GlobalUnlock(a);
    GlobalUnlock(b);
    EXPECT_EQ(GlobalFree(a), nullptr);
    EXPECT_EQ(GlobalFree(b), nullptr);
}

TEST(GlobalMemory, LockCounting) {
    HGLOBAL h = GlobalAlloc(GHND, 16);
    void* p1 = GlobalLock(h);
    void* p2 = GlobalLock(h);
    EXPECT_EQ(p1, p2);             // memory never moves
    EXPECT_NE(GlobalUnlock(h), 0); // still locked once
    EXPECT_EQ(GlobalUnlock(h), 0); // now unlocked
    EXPECT_EQ(GlobalUnlock(h), 0); // not locked at all
    {
        folio::GlobalLockGuard guard(h);
        ASSERT_TRUE(guard);
        EXPECT_EQ(guard.data(), p1);
    }
    EXPECT_EQ(GlobalUnlock(h), 0); // the guard unlocked it
    GlobalFree(h);
}

TEST(GlobalMemory, BadHandlesAreHarmless) {
    HGLOBAL freed = GlobalAlloc(GHND, 32);
    ASSERT_EQ(GlobalFree(freed), nullptr);
    int local = 0;
    HGLOBAL foreign = &local;
    for (HGLOBAL h : {freed, foreign}) {
        EXPECT_EQ(GlobalLock(h), nullptr);
        EXPECT_EQ(GlobalUnlock(h), 0);
        EXPECT_EQ(GlobalSize(h), 0u);
        EXPECT_EQ(GlobalFree(h), h); // not a block: handed back
        folio::GlobalLockGuard guard(h);
        EXPECT_FALSE(guard);
    }
    EXPECT_EQ(GlobalLock(nullptr), nullptr);
    EXPECT_EQ(GlobalUnlock(nullptr), 0);
    EXPECT_EQ(GlobalSize(nullptr), 0u);
    EXPECT_EQ(GlobalFree(nullptr), nullptr);
    EXPECT_EQ(local, 0);
}

TEST(GlobalMemory, SizeCap) {
    EXPECT_EQ(GlobalAlloc(GHND, folio::kMaxGlobalBlock + 1), nullptr);
    EXPECT_EQ(GlobalAlloc(GHND, SIZE_T(-1)), nullptr);
    EXPECT_EQ(GlobalAlloc(GMEM_FIXED, SIZE_T(-1) - 8), nullptr);
}

} // namespace
