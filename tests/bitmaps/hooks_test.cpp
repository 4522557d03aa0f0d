// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Link-time hooks (ld --wrap) around the block, palette and clipboard calls
// of the library: they count live blocks, outstanding locks and live palettes,
// and make a chosen call fail. The fault tests below run every exported
// function with each of its allocations, locks, palette creations and
// clipboard openings failing in turn, and check that it fails cleanly with
// nothing left allocated or locked.
#include "TestDib.h"
#include "gdi/Gdi.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <random>
#include <string>

extern "C" {
HGLOBAL __real_GlobalAlloc(UINT, SIZE_T);
HGLOBAL __real_GlobalFree(HGLOBAL);
void* __real_GlobalLock(HGLOBAL);
BOOL __real_GlobalUnlock(HGLOBAL);
HPALETTE __real_CreatePalette(const LOGPALETTE*);
BOOL __real_OpenClipboard(HWND);
}

namespace {

struct HookState {
    std::mutex mutex;
    long liveBlocks = 0;
    std::map<HGLOBAL, long> locks;
    int failAlloc = 0;
    int failLock = 0;
    int failPalette = 0;
    int failOpen = 0;
};

HookState& state() {
    static HookState* s = new HookState;
    return *s;
}

// Counts a call down; true when this is the one chosen to fail.
bool Trips(int& countdown) {
    if (countdown <= 0)
        return false;
    return --countdown == 0;
}

} // namespace

extern "C" {

HGLOBAL __wrap_GlobalAlloc(UINT flags, SIZE_T bytes) {
    HookState& s = state();
    std::lock_guard lock(s.mutex);
    if (Trips(s.failAlloc))
        return nullptr;
    HGLOBAL block = __real_GlobalAlloc(flags, bytes);
    if (block)
        ++s.liveBlocks;
    return block;
}

HGLOBAL __wrap_GlobalFree(HGLOBAL block) {
    HookState& s = state();
    std::lock_guard lock(s.mutex);
    HGLOBAL result = __real_GlobalFree(block);
    if (block && !result) {
        --s.liveBlocks;
        s.locks.erase(block);
    }
    return result;
}

void* __wrap_GlobalLock(HGLOBAL block) {
    HookState& s = state();
    std::lock_guard lock(s.mutex);
    if (Trips(s.failLock))
        return nullptr;
    void* data = __real_GlobalLock(block);
    if (data)
        ++s.locks[block];
    return data;
}

BOOL __wrap_GlobalUnlock(HGLOBAL block) {
    HookState& s = state();
    std::lock_guard lock(s.mutex);
    auto it = s.locks.find(block);
    if (it != s.locks.end() && --it->second == 0)
        s.locks.erase(it);
    return __real_GlobalUnlock(block);
}

HPALETTE __wrap_CreatePalette(const LOGPALETTE* logical) {
    {
        HookState& s = state();
        std::lock_guard lock(s.mutex);
        if (Trips(s.failPalette))
            return nullptr;
    }
    return __real_CreatePalette(logical);
}

BOOL __wrap_OpenClipboard(HWND owner) {
    {
        HookState& s = state();
        std::lock_guard lock(s.mutex);
        if (Trips(s.failOpen))
            return 0;
    }
    return __real_OpenClipboard(owner);
}

} // extern "C"

namespace rastrum_test::hooks {

long LiveBlocks() {
    std::lock_guard lock(state().mutex);
    return state().liveBlocks;
}

long OutstandingLocks() {
    std::lock_guard lock(state().mutex);
    long n = 0;
    for (auto& [block, count] : state().locks)
        n += count;
    return n;
}

long LivePalettes() {
    return long(rastrum::gdi::LiveObjectCount());
}

void FailAllocAt(int n) {
    std::lock_guard lock(state().mutex);
    state().failAlloc = n;
}
void FailLockAt(int n) {
    std::lock_guard lock(state().mutex);
    state().failLock = n;
}
void FailCreatePaletteAt(int n) {
    std::lock_guard lock(state().mutex);
    state().failPalette = n;
}
void FailOpenClipboardAt(int n) {
    std::lock_guard lock(state().mutex);
    state().failOpen = n;
}
void ClearFailures() {
    std::lock_guard lock(state().mutex);
    state().failAlloc = state().failLock = state().failPalette = state().failOpen = 0;
}

} // namespace rastrum_test::hooks

namespace {

using namespace rastrum_test;

void EmptyTheClipboard() {
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    CloseClipboard();
}

// One exported call on a fresh source, reporting success.
struct Call {
    const char* name;
    int bitCount;
    bool (*run)(HGLOBAL source, HDC dc);
};

bool FreeIfMade(HGLOBAL result) {
    if (!result)
        return false;
    GlobalFree(result);
    return true;
}

const Call kCalls[] = {
    {"Dither2", 24, [](HGLOBAL s, HDC) { return FreeIfMade(Dither2(s)); }},
    {"Dither2", 4, [](HGLOBAL s, HDC) { return FreeIfMade(Dither2(s)); }},
    {"Dither16", 8, [](HGLOBAL s, HDC) { return FreeIfMade(Dither16(s)); }},
    {"Dither256", 24, [](HGLOBAL s, HDC) { return FreeIfMade(Dither256(s)); }},
    {"ShowDib", 8, [](HGLOBAL s, HDC dc) { return ShowDib(dc, s, 0, 0) == 1; }},
    {"Copy", 4, [](HGLOBAL s, HDC) { return CopyPictureToClipboard(nullptr, s) == 1; }},
    {"Copy", 24, [](HGLOBAL s, HDC) { return CopyPictureToClipboard(nullptr, s) == 1; }},
    {"Paste", 8,
     [](HGLOBAL s, HDC) {
         // The picture goes to the clipboard with the hooks quiet; the
         // failure counts start at the paste.
         return FreeIfMade(PastePictureFromClipboard(nullptr)) && s;
     }},
};

TEST(RastrumFaults, EveryFailingStepLeavesNothingBehind) {
    std::mt19937 rng(7);
    HDC dc = RastrumCreateMemoryDC(16, 16);
    ASSERT_NE(dc, nullptr);
    for (const Call& call : kCalls) {
        const Picture picture = RandomPicture(rng, 9, 5, call.bitCount);
        for (int kind = 0; kind < 4; ++kind) {
            for (int n = 1; n <= 6; ++n) {
                SCOPED_TRACE(std::string(call.name) + " depth " + std::to_string(call.bitCount) +
                             " failure kind " + std::to_string(kind) + " at " + std::to_string(n));
                EmptyTheClipboard();
                Block source(MakeDib(picture));
                if (std::string(call.name) == "Paste") {
                    ASSERT_EQ(CopyPictureToClipboard(nullptr, source.get()), 1);
                }
                const auto before = BlockBytes(source.get());
                const long blocks = hooks::LiveBlocks();
                const long objects = hooks::LivePalettes();
                void (*arm[])(int) = {hooks::FailAllocAt, hooks::FailLockAt,
                                      hooks::FailCreatePaletteAt, hooks::FailOpenClipboardAt};
                arm[kind](n);
                const bool ok = call.run(source.get(), dc);
                arm[kind](0);
                EXPECT_EQ(hooks::OutstandingLocks(), 0);
                EXPECT_EQ(BlockBytes(source.get()), before);
                // Only a successful copy leaves something: the clipboard's DIB and palette.
                const long kept = ok && std::string(call.name) == "Copy" ? 1 : 0;
                EXPECT_EQ(hooks::LiveBlocks(), blocks + kept);
                EXPECT_EQ(hooks::LivePalettes(), objects + kept);
            }
        }
    }
    hooks::ClearFailures();
    EmptyTheClipboard();
    DeleteDC(dc);
}

TEST(RastrumFaults, ClipboardThatCannotBeOpenedGetsNothingAndKeepsNothing) {
    EmptyTheClipboard();
    std::mt19937 rng(3);
    Block source(MakeDib(RandomPicture(rng, 5, 3, 8)));
    const long blocks = hooks::LiveBlocks();
    const long objects = hooks::LivePalettes();
    hooks::FailOpenClipboardAt(1);
    EXPECT_EQ(CopyPictureToClipboard(nullptr, source.get()), 0);
    hooks::ClearFailures();
    EXPECT_EQ(hooks::LiveBlocks(), blocks);
    EXPECT_EQ(hooks::LivePalettes(), objects);
    EXPECT_FALSE(IsClipboardFormatAvailable(CF_DIB));
}

} // namespace
