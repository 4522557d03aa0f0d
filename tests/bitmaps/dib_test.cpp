// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The DIB model shared by every function: the colour cube, palette
// extraction and duplication, the refusal of blocks outside the model by
// every export, display on a memory device context with its palette handling,
// and the library's version and notice.
#include "Dib.h"
#include "TestDib.h"
#include "gdi/Gdi.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace rastrum_test;

TEST(ColorCube, EntriesAndSharedTable) {
    PaletteTriple cube[256];
    const PaletteTriple* shared = rastrum::BuildColorCubePalette(cube);
    EXPECT_EQ(shared, rastrum::BuildColorCubePalette(nullptr));
    EXPECT_EQ(std::memcmp(shared, cube, sizeof cube), 0);
    struct {
        int index, r, g, b;
    } const expected[] = {{0, 32, 32, 64},    {3, 32, 32, 255},     {28, 32, 255, 64},
                          {224, 255, 32, 64}, {146, 160, 160, 192}, {255, 255, 255, 255}};
    for (auto e : expected) {
        EXPECT_EQ(cube[e.index].red, e.r) << e.index;
        EXPECT_EQ(cube[e.index].green, e.g) << e.index;
        EXPECT_EQ(cube[e.index].blue, e.b) << e.index;
    }
}

TEST(DibModel, ExtractPaletteReadsOnlyTheEntriesPresent) {
    std::mt19937 rng(1);
    Picture p = RandomPicture(rng, 3, 3, 8, 3);
    Block dib(MakeDib(p));
    rastrum::LockedDib locked(dib.get());
    ASSERT_TRUE(locked);
    PaletteTriple out[256];
    std::memset(out, 0xAB, sizeof out);
    EXPECT_EQ(rastrum::ExtractPalette(locked, out), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(out[i].red, p.table[i].rgbRed);
        EXPECT_EQ(out[i].green, p.table[i].rgbGreen);
        EXPECT_EQ(out[i].blue, p.table[i].rgbBlue);
    }
    for (int i = 3; i < 256; ++i)
        EXPECT_EQ(out[i].red | out[i].green | out[i].blue, 0) << i;
}

TEST(DibModel, DuplicateKeepsSizeDepthTableAndPixels) {
    std::mt19937 rng(2);
    for (int depth : {1, 4, 8, 24}) {
        const Picture p = RandomPicture(rng, 11, 6, depth);
        Block dib(MakeDib(p));
        Block copy(rastrum::DuplicateDib(dib.get()));
        ASSERT_TRUE(copy) << depth;
        EXPECT_NE(copy.get(), dib.get());
        const Picture back = ReadDib(copy.get());
        EXPECT_EQ(back.width, p.width);
        EXPECT_EQ(back.height, p.height);
        EXPECT_EQ(back.bitCount, depth);
        EXPECT_EQ(back.pixels, p.pixels);
        ASSERT_EQ(back.table.size(), p.table.size());
        for (std::size_t i = 0; i < p.table.size(); ++i)
            EXPECT_EQ(std::memcmp(&back.table[i], &p.table[i], 4), 0) << depth << " entry " << i;
    }
    EXPECT_EQ(rastrum::DuplicateDib(nullptr), nullptr);
}

// How a block is spoilt, and the base depth it starts from.
struct Spoil {
    const char* what;
    int depth;
    std::function<void(BITMAPINFOHEADER&)> header;
    std::size_t cutBytes = 0; // taken off the block's end
};

const Spoil kSpoilt[] = {
    {"core header", 8, [](auto& h) { h.biSize = 12; }},
    {"V4 header", 24, [](auto& h) { h.biSize = 108; }},
    {"RLE8", 8, [](auto& h) { h.biCompression = BI_RLE8; }},
    {"bit fields", 24, [](auto& h) { h.biCompression = BI_BITFIELDS; }},
    {"16 bits", 24, [](auto& h) { h.biBitCount = 16; }},
    {"32 bits", 24, [](auto& h) { h.biBitCount = 32; }},
    {"2 bits", 4, [](auto& h) { h.biBitCount = 2; }},
    {"0 bits", 24, [](auto& h) { h.biBitCount = 0; }},
    {"top-down", 24, [](auto& h) { h.biHeight = -h.biHeight; }},
    {"negative width", 8, [](auto& h) { h.biWidth = -5; }},
    {"width over 16 bits", 8, [](auto& h) { h.biWidth = 65536 + 5; }},
    {"no colour count", 8, [](auto& h) { h.biClrUsed = 0; }},
    {"too many colours", 8, [](auto& h) { h.biClrUsed = 257; }},
    {"colours at 24 bits", 24, [](auto& h) { h.biClrUsed = 1; }},
    {"image size too big", 8, [](auto& h) { h.biSizeImage += 4; }},
    {"image size too small", 24, [](auto& h) { h.biSizeImage -= 4; }},
    {"huge height", 24, [](auto& h) { h.biHeight = 60000; }},
    {"block too short", 24, [](auto&) {}, 1},
    {"block too short", 8, [](auto&) {}, 1},
};

HGLOBAL MakeSpoilt(const Spoil& s) {
    std::mt19937 rng(9);
    const Picture p = RandomPicture(rng, 5, 3, s.depth);
    Block good(MakeDib(p));
    const auto bytes = BlockBytes(good.get());
    HGLOBAL bad = GlobalAlloc(GHND, bytes.size() - s.cutBytes);
    auto* data = static_cast<std::uint8_t*>(GlobalLock(bad));
    std::memcpy(data, bytes.data(), bytes.size() - s.cutBytes);
    BITMAPINFOHEADER h;
    std::memcpy(&h, data, 40);
    s.header(h);
    std::memcpy(data, &h, 40);
    GlobalUnlock(bad);
    return bad;
}

TEST(DibModel, EveryExportRefusesBlocksOutsideTheModel) {
    HDC screen = RastrumCreateMemoryDC(8, 8);
    HDC printer = RastrumCreatePrinterDC((std::string(FOLIO_BINARY_DIR) + "/refused.pdf").c_str(),
                                         100, 100, 72);
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    CloseClipboard();
    for (const Spoil& s : kSpoilt) {
        SCOPED_TRACE(std::string(s.what) + " at " + std::to_string(s.depth));
        Block dib(MakeSpoilt(s));
        const auto before = BlockBytes(dib.get());
        const long blocks = hooks::LiveBlocks();
        const long objects = hooks::LivePalettes();
        rastrum::gdi::ClearJournal(screen);
        rastrum::gdi::ClearJournal(printer);
        EXPECT_EQ(Dither2(dib.get()), nullptr);
        EXPECT_EQ(Dither16(dib.get()), nullptr);
        EXPECT_EQ(Dither256(dib.get()), nullptr);
        EXPECT_EQ(ShowDib(screen, dib.get(), 0, 0), 0);
        EXPECT_EQ(PrintBitmap(printer, dib.get()), 0);
        EXPECT_EQ(CopyPictureToClipboard(nullptr, dib.get()), 0);
        EXPECT_EQ(rastrum::DuplicateDib(dib.get()), nullptr);
        EXPECT_TRUE(rastrum::gdi::Journal(screen).empty());
        EXPECT_TRUE(rastrum::gdi::Journal(printer).empty());
        EXPECT_FALSE(IsClipboardFormatAvailable(CF_DIB));
        EXPECT_EQ(GetPixel(screen, 0, 0), 0xFFFFFFu);
        EXPECT_EQ(BlockBytes(dib.get()), before);
        EXPECT_EQ(hooks::LiveBlocks(), blocks);
        EXPECT_EQ(hooks::LivePalettes(), objects);
        EXPECT_EQ(hooks::OutstandingLocks(), 0);
    }
    DeleteDC(screen);
    DeleteDC(printer);
}

TEST(DibModel, LooserButSoundBlocksAreAccepted) {
    std::mt19937 rng(4);
    // biSizeImage 0, a block larger than needed, a short colour table.
    Picture p = RandomPicture(rng, 6, 4, 8, 7);
    Block big(MakeDib(p, 100));
    Block zeroSize(MakeDib(p));
    {
        auto* h = static_cast<BITMAPINFOHEADER*>(GlobalLock(zeroSize.get()));
        h->biSizeImage = 0;
        GlobalUnlock(zeroSize.get());
    }
    for (HGLOBAL dib : {big.get(), zeroSize.get()}) {
        Block out(Dither16(dib));
        EXPECT_TRUE(out);
    }
}

TEST(ShowDib, DrawsTopLeftPixelAtTheOriginAndClips) {
    // A 24-bit picture whose pixel (x, y from the top) encodes its position.
    const int w = 6, h = 5;
    Picture p = Solid(w, h, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            p.pixels[std::size_t(h - 1 - y) * w + x] =
                std::uint32_t(x * 40 << 16 | y * 40 << 8 | 7);
    Block dib(MakeDib(p));
    struct {
        WORD x, y;
    } const offsets[] = {{0, 0}, {2, 1}, {5, 4}, {6, 0}, {0, 5}, {65535, 65535}};
    for (auto o : offsets) {
        HDC dc = RastrumCreateMemoryDC(4, 3);
        EXPECT_EQ(ShowDib(dc, dib.get(), o.x, o.y), 1);
        for (int dy = 0; dy < 3; ++dy)
            for (int dx = 0; dx < 4; ++dx) {
                const int px = o.x + dx, py = o.y + dy;
                const COLORREF expected =
                    px < w && py < h ? COLORREF(7 << 16 | (py * 40) << 8 | px * 40) : 0xFFFFFF;
                EXPECT_EQ(GetPixel(dc, dx, dy), expected)
                    << "offset " << o.x << "," << o.y << " at " << dx << "," << dy;
            }
        DeleteDC(dc);
    }
}

TEST(ShowDib, IndexedPicturesUseTheirColourTable) {
    Picture p;
    p.width = 9;
    p.height = 2;
    p.bitCount = 1;
    p.table = {RGBQUAD{10, 20, 30, 0}, RGBQUAD{200, 150, 100, 0}};
    p.pixels = {1, 0, 1, 0, 1, 0, 1, 0, 1, /* top row */ 0, 0, 0, 0, 0, 0, 0, 0, 1};
    Block dib(MakeDib(p));
    HDC dc = RastrumCreateMemoryDC(9, 2);
    ASSERT_EQ(ShowDib(dc, dib.get(), 0, 0), 1);
    EXPECT_EQ(GetPixel(dc, 0, 0), 0x0A141Eu); // COLORREF 0x00BBGGRR of (30, 20, 10)
    EXPECT_EQ(GetPixel(dc, 8, 0), 0xC89664u);
    EXPECT_EQ(GetPixel(dc, 0, 1), 0xC89664u);
    EXPECT_EQ(GetPixel(dc, 1, 1), 0x0A141Eu);
    DeleteDC(dc);
}

TEST(ShowDib, PaletteIsSelectedRealizedAndRestoredOnlyForIndexedPictures) {
    std::mt19937 rng(8);
    for (int depth : {1, 4, 8, 24}) {
        SCOPED_TRACE(depth);
        Block dib(MakeDib(RandomPicture(rng, 4, 4, depth)));
        HDC dc = RastrumCreateMemoryDC(4, 4);
        const HPALETTE before = rastrum::gdi::SelectedPalette(dc);
        const long objects = hooks::LivePalettes();
        ASSERT_EQ(ShowDib(dc, dib.get(), 0, 0), 1);
        const auto journal = rastrum::gdi::Journal(dc);
        std::vector<std::string> expected;
        if (depth <= 8)
            expected = {"SelectPalette foreground",
                        "RealizePalette -> " + std::to_string(1 << depth)};
        expected.push_back("SetDIBitsToDevice 0 0 4 4 0 0 0 4 -> 4");
        if (depth <= 8)
            expected.push_back("SelectPalette foreground");
        EXPECT_EQ(journal, expected);
        EXPECT_EQ(rastrum::gdi::SelectedPalette(dc), before);
        EXPECT_EQ(hooks::LivePalettes(), objects); // the palette made for drawing is gone
        DeleteDC(dc);
    }
}

TEST(ShowDib, NullOrStaleHandlesDrawNothing) {
    HDC dc = RastrumCreateMemoryDC(2, 2);
    std::mt19937 rng(6);
    HGLOBAL stale = MakeDib(RandomPicture(rng, 2, 2, 24));
    Block good(MakeDib(RandomPicture(rng, 2, 2, 24)));
    GlobalFree(stale);
    EXPECT_EQ(ShowDib(dc, nullptr, 0, 0), 0);
    EXPECT_EQ(ShowDib(dc, stale, 0, 0), 0);
    EXPECT_EQ(ShowDib(nullptr, good.get(), 0, 0), 0);
    EXPECT_TRUE(rastrum::gdi::Journal(dc).empty());
    DeleteDC(dc);
    EXPECT_EQ(ShowDib(dc, good.get(), 0, 0), 0); // deleted device context
}

TEST(LibraryInformation, VersionAndNotice) {
    EXPECT_EQ(GetDibLibraryVersion(), 0x0100);
    EXPECT_EQ(GetDibLibraryVersion(), 0x0100);
    ASSERT_NE(GetDibCopyright(), nullptr);
    EXPECT_NE(std::string(GetDibCopyright()).find("Copyright"), std::string::npos);
    EXPECT_EQ(GetDibCopyright(), GetDibCopyright());
}

} // namespace
