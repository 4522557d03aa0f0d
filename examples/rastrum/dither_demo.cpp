// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Rastrum example: loads a 24-bit BMP file into a DIB, reduces it with the
// three dithers, shows the original and each result on a memory device
// context saved as PNG, and prints the 256-colour result to a PDF file. Uses
// librastrum.so through its public header only.
//
//   rastrum_demo [picture.bmp [output-folder]]
//
// Without arguments it takes the sample picture beside this file and writes
// into ./out.
#include "rastrum.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

std::uint32_t Le32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24);
}

// A 24-bit uncompressed BMP file as a DIB block, or null with a message.
HGLOBAL LoadBmp24(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<unsigned char> file((std::istreambuf_iterator<char>(in)), {});
    if (file.size() < 54 || file[0] != 'B' || file[1] != 'M') {
        std::fprintf(stderr, "%s: not a BMP file\n", path.c_str());
        return nullptr;
    }
    const std::uint32_t bitsAt = Le32(&file[10]);
    BITMAPINFOHEADER h;
    std::memcpy(&h, &file[14], 40);
    const bool topDown = h.biHeight < 0;
    const std::int64_t width = h.biWidth;
    const std::int64_t height = topDown ? -std::int64_t(h.biHeight) : h.biHeight;
    if (h.biSize < 40 || h.biBitCount != 24 || h.biCompression != BI_RGB || width <= 0 ||
        width > 65535 || height <= 0 || height > 65535) {
        std::fprintf(stderr, "%s: only uncompressed 24-bit pictures up to 65535 pixels\n",
                     path.c_str());
        return nullptr;
    }
    const std::uint64_t stride = (std::uint64_t(width) * 24 + 31) / 32 * 4;
    const std::uint64_t image = stride * std::uint64_t(height);
    if (bitsAt > file.size() || file.size() - bitsAt < image) {
        std::fprintf(stderr, "%s: the pixel rows are cut short\n", path.c_str());
        return nullptr;
    }
    HGLOBAL dib = GlobalAlloc(GHND, 40 + image);
    auto* bytes = static_cast<unsigned char*>(GlobalLock(dib));
    if (!bytes) {
        GlobalFree(dib);
        return nullptr;
    }
    BITMAPINFOHEADER out{};
    out.biSize = 40;
    out.biWidth = LONG(width);
    out.biHeight = LONG(height);
    out.biPlanes = 1;
    out.biBitCount = 24;
    out.biCompression = BI_RGB;
    out.biSizeImage = DWORD(image);
    std::memcpy(bytes, &out, 40);
    // DIB rows run bottom-up; a top-down file is turned over.
    for (std::int64_t y = 0; y < height; ++y) {
        const std::int64_t from = topDown ? height - 1 - y : y;
        std::memcpy(bytes + 40 + y * stride, &file[bitsAt + from * stride], stride);
    }
    GlobalUnlock(dib);
    return dib;
}

BITMAPINFOHEADER HeaderOf(HGLOBAL dib) {
    BITMAPINFOHEADER h{};
    if (void* p = GlobalLock(dib)) {
        std::memcpy(&h, p, 40);
        GlobalUnlock(dib);
    }
    return h;
}

bool ShowAsPng(HGLOBAL dib, const std::string& path) {
    const BITMAPINFOHEADER h = HeaderOf(dib);
    HDC dc = RastrumCreateMemoryDC(h.biWidth, h.biHeight);
    const bool ok = dc && ShowDib(dc, dib, 0, 0) && RastrumSaveDCAsPng(dc, path.c_str());
    DeleteDC(dc);
    std::printf("%s %s (%d bits)\n", ok ? "wrote" : "FAILED", path.c_str(), h.biBitCount);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    const std::string input = argc > 1 ? argv[1] : RASTRUM_SAMPLE;
    const std::string folder = argc > 2 ? argv[2] : "out";
    mkdir(folder.c_str(), 0777);
    std::printf("Rastrum %d.%02d: %s\n", GetDibLibraryVersion() >> 8, GetDibLibraryVersion() & 0xFF,
                GetDibCopyright());

    HGLOBAL picture = LoadBmp24(input);
    if (!picture)
        return 1;
    bool ok = ShowAsPng(picture, folder + "/original.png");

    struct {
        const char* name;
        HGLOBAL (*dither)(HGLOBAL);
        HGLOBAL result;
    } reductions[] = {{"dither2", Dither2, nullptr},
                      {"dither16", Dither16, nullptr},
                      {"dither256", Dither256, nullptr}};
    for (auto& r : reductions) {
        r.result = r.dither(picture);
        ok = r.result && ShowAsPng(r.result, folder + "/" + r.name + ".png") && ok;
    }

    // A4 at 150 dots per inch: the picture prints at its pixel size, 20 pixels in.
    const std::string pdf = folder + "/dither256.pdf";
    HDC printer = RastrumCreatePrinterDC(pdf.c_str(), 1240, 1754, 150);
    const bool printed =
        printer && reductions[2].result && PrintBitmap(printer, reductions[2].result);
    DeleteDC(printer);
    std::printf("%s %s\n", printed ? "printed" : "FAILED to print", pdf.c_str());

    for (auto& r : reductions)
        GlobalFree(r.result);
    GlobalFree(picture);
    return ok && printed ? 0 : 1;
}
