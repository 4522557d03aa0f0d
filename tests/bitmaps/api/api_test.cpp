// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// librastrum.so as a program that loads it sees it: every name of the public
// header resolves, nothing internal is exported, and a picture can be made,
// dithered, shown, printed, copied and pasted through the loaded library
// alone, with the header's own records.
#include "rastrum.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>

extern "C" int RastrumHeaderIsC(void);

namespace {

static_assert(offsetof(BITMAPINFOHEADER, biBitCount) == 14);
static_assert(offsetof(BITMAPINFOHEADER, biClrUsed) == 32);

class Library : public ::testing::Test {
  protected:
    // Never closed: the library's process-wide tables live as long as the
    // process, as a client that loads it once would have it.
    static void SetUpTestSuite() { handle_ = dlopen(RASTRUM_LIBRARY, RTLD_NOW | RTLD_LOCAL); }
    template <class F> static F* Get(const char* name) {
        return reinterpret_cast<F*>(dlsym(handle_, name));
    }
    static void* handle_;
};
void* Library::handle_ = nullptr;

#define RASTRUM_GET(name) Get<decltype(name)>(#name)

TEST_F(Library, LoadsAndExportsThePublicNamesOnly) {
    ASSERT_NE(handle_, nullptr) << dlerror();
    const char* exported[] = {"ShowDib",
                              "GetDibLibraryVersion",
                              "GetDibCopyright",
                              "Dither2",
                              "Dither16",
                              "Dither256",
                              "PrintBitmap",
                              "CopyPictureToClipboard",
                              "PastePictureFromClipboard",
                              "GlobalAlloc",
                              "GlobalLock",
                              "GlobalUnlock",
                              "GlobalFree",
                              "GlobalSize",
                              "RastrumCreateMemoryDC",
                              "RastrumSaveDCAsPng",
                              "RastrumCreatePrinterDC",
                              "DeleteDC",
                              "GetDeviceCaps",
                              "GetPixel",
                              "SetDIBitsToDevice",
                              "Escape",
                              "CreatePalette",
                              "SelectPalette",
                              "RealizePalette",
                              "GetPaletteEntries",
                              "SelectObject",
                              "DeleteObject",
                              "GetStockObject",
                              "OpenClipboard",
                              "CloseClipboard",
                              "EmptyClipboard",
                              "SetClipboardData",
                              "GetClipboardData",
                              "IsClipboardFormatAvailable"};
    for (const char* name : exported)
        EXPECT_NE(dlsym(handle_, name), nullptr) << name;
    for (const char* name : {"DuplicateDib", "ExtractPalette", "BuildColorCubePalette", "PackDib",
                             "NormalizeBitCount", "_ZN5folio7PackDibEttPK13PaletteTriplet"})
        EXPECT_EQ(dlsym(handle_, name), nullptr) << name;
    EXPECT_EQ(RastrumHeaderIsC(), 17);
}

TEST_F(Library, ClientMakesDithersShowsPrintsAndCopiesAPicture) {
    ASSERT_NE(handle_, nullptr);
    auto alloc = RASTRUM_GET(GlobalAlloc);
    auto lock = RASTRUM_GET(GlobalLock);
    auto unlock = RASTRUM_GET(GlobalUnlock);
    auto release = RASTRUM_GET(GlobalFree);
    auto dither256 = RASTRUM_GET(Dither256);
    auto show = RASTRUM_GET(ShowDib);
    auto createDC = RASTRUM_GET(RastrumCreateMemoryDC);
    auto pixel = RASTRUM_GET(GetPixel);
    auto deleteDC = RASTRUM_GET(DeleteDC);
    auto copy = RASTRUM_GET(CopyPictureToClipboard);
    auto paste = RASTRUM_GET(PastePictureFromClipboard);
    auto printer = RASTRUM_GET(RastrumCreatePrinterDC);
    auto print = RASTRUM_GET(PrintBitmap);
    auto version = RASTRUM_GET(GetDibLibraryVersion);
    EXPECT_EQ(version(), 0x0100);

    // A 2 x 2 white 24-bit picture, rows of 8 bytes.
    HGLOBAL dib = alloc(GHND, 40 + 16);
    auto* bytes = static_cast<unsigned char*>(lock(dib));
    BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = 2;
    h.biHeight = 2;
    h.biPlanes = 1;
    h.biBitCount = 24;
    h.biSizeImage = 16;
    std::memcpy(bytes, &h, 40);
    std::memset(bytes + 40, 0xFF, 6);
    std::memset(bytes + 48, 0xFF, 6);
    unlock(dib);

    HGLOBAL reduced = dither256(dib);
    ASSERT_NE(reduced, nullptr);
    BITMAPINFOHEADER out;
    std::memcpy(&out, lock(reduced), 40);
    unlock(reduced);
    EXPECT_EQ(out.biBitCount, 8);
    EXPECT_EQ(out.biClrUsed, 256u);

    HDC dc = createDC(2, 2);
    EXPECT_EQ(show(dc, reduced, 0, 0), 1);
    EXPECT_EQ(pixel(dc, 1, 1), 0xFFFFFFu);
    deleteDC(dc);

    const auto pdf = std::filesystem::temp_directory_path() / "rastrum_api_test.pdf";
    HDC page = printer(pdf.c_str(), 100, 100, 72);
    EXPECT_EQ(print(page, reduced), 1);
    deleteDC(page);
    EXPECT_TRUE(std::filesystem::exists(pdf));
    std::filesystem::remove(pdf);

    EXPECT_EQ(copy(nullptr, reduced), 1);
    HGLOBAL pasted = paste(nullptr);
    ASSERT_NE(pasted, nullptr);
    EXPECT_EQ(std::memcmp(lock(pasted), lock(reduced), 40 + 1024 + 8), 0);
    unlock(pasted);
    unlock(reduced);
    EXPECT_EQ(release(pasted), nullptr);
    EXPECT_EQ(release(reduced), nullptr);
    EXPECT_EQ(release(dib), nullptr);

    // Leave the clipboard empty, so that nothing of it outlives the test.
    auto open = RASTRUM_GET(OpenClipboard);
    auto empty = RASTRUM_GET(EmptyClipboard);
    auto close = RASTRUM_GET(CloseClipboard);
    ASSERT_TRUE(open(nullptr));
    empty();
    close();
}

} // namespace
