// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Clipboard transfer: the round trip at every depth, the palette that goes
// with a copy, ownership after copy and paste, the refusals, and clipboard
// DIBs from other programs that do not follow the model.
#include "Dib.h"
#include "TestDib.h"
#include "gdi/Gdi.h"

#include <algorithm>
#include <cstddef>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace {

using namespace rastrum_test;

class Clipboard : public ::testing::Test {
  protected:
    void SetUp() override { Empty(); }
    void TearDown() override { Empty(); }
    static void Empty() {
        ASSERT_TRUE(OpenClipboard(nullptr));
        EmptyClipboard();
        CloseClipboard();
    }
    // The palette on the clipboard, as entries.
    static std::vector<PALETTEENTRY> ClipboardPalette() {
        std::vector<PALETTEENTRY> entries;
        if (!OpenClipboard(nullptr))
            return entries;
        auto palette = static_cast<HPALETTE>(GetClipboardData(CF_PALETTE));
        entries.resize(GetPaletteEntries(palette, 0, 0, nullptr));
        GetPaletteEntries(palette, 0, UINT(entries.size()), entries.data());
        CloseClipboard();
        return entries;
    }
    const HWND window = reinterpret_cast<HWND>(0x1234);
};

TEST_F(Clipboard, RoundTripAtEveryDepthWithItsPalette) {
    std::mt19937 rng(21);
    PaletteTriple cube[256];
    rastrum::BuildColorCubePalette(cube);
    for (int depth : {1, 4, 8, 24}) {
        SCOPED_TRACE(depth);
        const Picture picture = RandomPicture(rng, 13, 7, depth);
        Block dib(MakeDib(picture));
        const auto original = BlockBytes(dib.get());
        ASSERT_EQ(CopyPictureToClipboard(window, dib.get()), 1);
        EXPECT_FALSE(rastrum::gdi::ClipboardIsOpen());
        EXPECT_EQ(BlockBytes(dib.get()), original);

        const auto palette = ClipboardPalette();
        ASSERT_EQ(palette.size(), depth == 24 ? 256u : 1u << depth);
        for (std::size_t i = 0; i < palette.size(); ++i) {
            const auto& e = palette[i];
            const int r = depth == 24 ? cube[i].red : picture.table[i].rgbRed;
            const int g = depth == 24 ? cube[i].green : picture.table[i].rgbGreen;
            const int b = depth == 24 ? cube[i].blue : picture.table[i].rgbBlue;
            EXPECT_TRUE(e.peRed == r && e.peGreen == g && e.peBlue == b && e.peFlags == 0) << i;
        }

        Block pasted(PastePictureFromClipboard(window));
        ASSERT_TRUE(pasted);
        EXPECT_FALSE(rastrum::gdi::ClipboardIsOpen());
        // Header, colour table and pixels as copied; the block may be no smaller.
        const auto bytes = BlockBytes(pasted.get());
        ASSERT_GE(bytes.size(), original.size());
        EXPECT_TRUE(std::equal(original.begin(), original.end(), bytes.begin()));
        // The clipboard keeps its own DIB: a second paste is another block.
        Block again(PastePictureFromClipboard(window));
        ASSERT_TRUE(again);
        EXPECT_NE(again.get(), pasted.get());
    }
}

TEST_F(Clipboard, ShortColourTableCopiesAsItIsAndPadsThePaletteWithBlack) {
    std::mt19937 rng(22);
    const Picture picture = RandomPicture(rng, 5, 5, 8, 10);
    Block dib(MakeDib(picture));
    ASSERT_EQ(CopyPictureToClipboard(window, dib.get()), 1);
    const auto palette = ClipboardPalette();
    ASSERT_EQ(palette.size(), 256u);
    EXPECT_EQ(palette[9].peRed, picture.table[9].rgbRed);
    EXPECT_EQ(palette[10].peRed | palette[10].peGreen | palette[10].peBlue, 0);
    Block pasted(PastePictureFromClipboard(window));
    EXPECT_EQ(ReadDib(pasted.get()).pixels, picture.pixels);
    EXPECT_EQ(HeaderOf(pasted.get()).biClrUsed, 10u);
}

TEST_F(Clipboard, CallerMayFreeItsDibAfterTheCopy) {
    std::mt19937 rng(23);
    const Picture picture = RandomPicture(rng, 9, 9, 24);
    HGLOBAL dib = MakeDib(picture);
    ASSERT_EQ(CopyPictureToClipboard(window, dib), 1);
    GlobalFree(dib);
    Block pasted(PastePictureFromClipboard(window));
    ASSERT_TRUE(pasted);
    EXPECT_EQ(ReadDib(pasted.get()).pixels, picture.pixels);
}

TEST_F(Clipboard, PasteWithoutADibLeavesTheClipboardUnopened) {
    const unsigned openings = rastrum::gdi::ClipboardOpenings();
    EXPECT_EQ(PastePictureFromClipboard(window), nullptr);
    EXPECT_EQ(rastrum::gdi::ClipboardOpenings(), openings);
}

TEST_F(Clipboard, CopyOfNullOrStaleHandleLeavesTheClipboardUntouched) {
    std::mt19937 rng(24);
    Block first(MakeDib(RandomPicture(rng, 3, 3, 4)));
    ASSERT_EQ(CopyPictureToClipboard(window, first.get()), 1);
    HGLOBAL stale = MakeDib(RandomPicture(rng, 3, 3, 4));
    GlobalFree(stale);
    const unsigned openings = rastrum::gdi::ClipboardOpenings();
    EXPECT_EQ(CopyPictureToClipboard(window, nullptr), 0);
    EXPECT_EQ(CopyPictureToClipboard(window, stale), 0);
    EXPECT_EQ(rastrum::gdi::ClipboardOpenings(), openings);
    Block pasted(PastePictureFromClipboard(window));
    EXPECT_EQ(BlockBytes(pasted.get()), BlockBytes(first.get()));
}

TEST_F(Clipboard, ClipboardHeldOpenElsewhereRefusesCopyAndPaste) {
    std::mt19937 rng(25);
    Block dib(MakeDib(RandomPicture(rng, 3, 3, 8)));
    ASSERT_EQ(CopyPictureToClipboard(window, dib.get()), 1);
    const HWND other = reinterpret_cast<HWND>(0x9999);
    ASSERT_TRUE(OpenClipboard(other));
    const long blocks = hooks::LiveBlocks();
    const long objects = hooks::LivePalettes();
    EXPECT_EQ(CopyPictureToClipboard(window, dib.get()), 0);
    EXPECT_EQ(PastePictureFromClipboard(window), nullptr);
    EXPECT_EQ(hooks::LiveBlocks(), blocks);
    EXPECT_EQ(hooks::LivePalettes(), objects);
    EXPECT_TRUE(rastrum::gdi::ClipboardIsOpen()); // still the other window's
    CloseClipboard();
}

TEST_F(Clipboard, ForeignDibsOutsideTheModelAreRefusedOnPaste) {
    std::mt19937 rng(26);
    struct Foreign {
        const char* what;
        void (*spoil)(BITMAPINFOHEADER&);
    } const cases[] = {
        {"image size beyond the block", [](BITMAPINFOHEADER& h) { h.biSizeImage = 0x7FFFFFFF; }},
        {"colour count beyond the block", [](BITMAPINFOHEADER& h) { h.biClrUsed = 0x40000000; }},
        {"no colour count", [](BITMAPINFOHEADER& h) { h.biClrUsed = 0; }},
        {"bit fields", [](BITMAPINFOHEADER& h) { h.biCompression = BI_BITFIELDS; }},
        {"32 bits", [](BITMAPINFOHEADER& h) { h.biBitCount = 32; }},
        {"V5 header", [](BITMAPINFOHEADER& h) { h.biSize = 124; }},
        {"taller than the block", [](BITMAPINFOHEADER& h) { h.biHeight = 4000; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        HGLOBAL foreign = MakeDib(RandomPicture(rng, 4, 4, 8));
        auto* h = static_cast<BITMAPINFOHEADER*>(GlobalLock(foreign));
        c.spoil(*h);
        GlobalUnlock(foreign);
        ASSERT_TRUE(OpenClipboard(nullptr));
        EmptyClipboard();
        ASSERT_EQ(SetClipboardData(CF_DIB, foreign), foreign); // the clipboard owns it now
        CloseClipboard();
        const long blocks = hooks::LiveBlocks();
        EXPECT_EQ(PastePictureFromClipboard(window), nullptr);
        EXPECT_EQ(hooks::LiveBlocks(), blocks);
        EXPECT_EQ(hooks::OutstandingLocks(), 0);
        EXPECT_FALSE(rastrum::gdi::ClipboardIsOpen());
    }
}

TEST_F(Clipboard, WinApiRules) {
    std::mt19937 rng(27);
    HGLOBAL dib = MakeDib(RandomPicture(rng, 2, 2, 24));
    // Not open: nothing can be set or read.
    EXPECT_EQ(SetClipboardData(CF_DIB, dib), nullptr);
    EXPECT_EQ(GetClipboardData(CF_DIB), nullptr);
    EXPECT_FALSE(EmptyClipboard());
    EXPECT_FALSE(CloseClipboard());
    ASSERT_TRUE(OpenClipboard(window));
    EXPECT_TRUE(OpenClipboard(window)); // the same opener again
    EXPECT_FALSE(OpenClipboard(nullptr));
    // A palette can be neither deleted nor a stale handle set while it is the clipboard's.
    LOGPALETTE lp{0x300, 1, {{1, 2, 3, 0}}};
    HPALETTE palette = CreatePalette(&lp);
    EXPECT_EQ(SetClipboardData(CF_PALETTE, palette), palette);
    EXPECT_FALSE(DeleteObject(palette));
    EXPECT_EQ(SetClipboardData(CF_PALETTE, GetStockObject(DEFAULT_PALETTE)), nullptr);
    EXPECT_EQ(SetClipboardData(CF_DIB, dib), dib);
    EXPECT_EQ(GetClipboardData(CF_DIB), dib);
    HGLOBAL replacement = MakeDib(RandomPicture(rng, 2, 2, 24));
    const long blocks = hooks::LiveBlocks();
    EXPECT_EQ(SetClipboardData(CF_DIB, replacement), replacement);
    EXPECT_EQ(hooks::LiveBlocks(), blocks - 1); // the replaced one was freed
    EXPECT_TRUE(CloseClipboard());
}

} // namespace
