// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Shared pieces of the writer's tests: pages of known pixels, page blocks
// made from them the way the engine makes them, a scratch folder per test, and
// a reader that brings a written TIFF back with libtiff, collecting any
// message libtiff gives on the way.
#pragma once

#include "tiflib32.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace tiftest {

namespace fs = std::filesystem;

// A black-and-white page, top row first, one byte per pixel (1 = black).
struct Page {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> black;

    Page(std::uint32_t w, std::uint32_t h) : width(w), height(h), black(std::size_t(w) * h) {}
    std::uint8_t& at(std::uint32_t x, std::uint32_t y) { return black[std::size_t(y) * width + x]; }
    std::uint8_t at(std::uint32_t x, std::uint32_t y) const {
        return black[std::size_t(y) * width + x];
    }
    bool operator==(const Page&) const = default;
};

inline std::uint32_t dibStride(std::uint32_t width) {
    return (width + 31) / 32 * 4;
}

// The block as the engine hands it over: 40-byte header, black and white in
// the colour table, rows bottom-up (top-down with topDown), a set bit black.
// The bits that pad each row are set, as the engine's inversion leaves them.
inline HGLOBAL makeBlock(const Page& page, bool topDown = false) {
    const std::uint32_t stride = dibStride(page.width);
    const std::size_t image = std::size_t(stride) * page.height;
    HGLOBAL block = GlobalAlloc(TIFLIB_GMEM_MOVEABLE | TIFLIB_GMEM_ZEROINIT, 48 + image);
    auto* p = static_cast<std::uint8_t*>(GlobalLock(block));
    auto put32 = [&](std::size_t at, std::uint32_t v) { std::memcpy(p + at, &v, 4); };
    auto put16 = [&](std::size_t at, std::uint16_t v) { std::memcpy(p + at, &v, 2); };
    put32(0, 40);
    put32(4, page.width);
    put32(8, topDown ? std::uint32_t(-std::int32_t(page.height)) : page.height);
    put16(12, 1);
    put16(14, 1);
    put32(20, std::uint32_t(image));
    put32(32, 2);
    put32(36, 2);
    p[44] = p[45] = p[46] = 255; // colour 1 white, colour 0 black
    std::uint8_t* pixels = p + 48;
    std::memset(pixels, 0, image);
    for (std::uint32_t y = 0; y < page.height; ++y) {
        std::uint8_t* row = pixels + std::size_t(stride) * (topDown ? y : page.height - 1 - y);
        for (std::uint32_t x = 0; x < stride * 8; ++x)
            if (x >= page.width || page.at(x, y))
                row[x / 8] |= std::uint8_t(0x80 >> (x % 8));
    }
    GlobalUnlock(block);
    return block;
}

// Writes a whole document, one call per page; returns the calls' results.
inline std::vector<int> writeDocument(const std::string& name, const std::vector<Page>& pages) {
    std::vector<int> results;
    for (std::size_t i = 0; i < pages.size(); ++i) {
        HGLOBAL block = makeBlock(pages[i]);
        results.push_back(WriteGraphicFile(name.c_str(), block, int(i), int(pages.size())));
        GlobalFree(block);
    }
    return results;
}

// ---- page contents ---------------------------------------------------------

inline Page whitePage(std::uint32_t w, std::uint32_t h) {
    return Page(w, h);
}

inline Page blackPage(std::uint32_t w, std::uint32_t h) {
    Page p(w, h);
    std::fill(p.black.begin(), p.black.end(), 1);
    return p;
}

inline Page noisePage(std::uint32_t w, std::uint32_t h, unsigned seed, double density = 0.5) {
    Page p(w, h);
    std::mt19937 random(seed);
    std::bernoulli_distribution bit(density);
    for (auto& b : p.black)
        b = bit(random);
    return p;
}

// Lines of "words": short black strokes of varied width with white between,
// as type at fax resolution looks to the encoder.
inline Page textPage(std::uint32_t w, std::uint32_t h, unsigned seed) {
    Page p(w, h);
    std::mt19937 random(seed);
    const std::uint32_t margin = w / 12;
    for (std::uint32_t top = margin; top + 30 + margin < h; top += 40) {
        for (std::uint32_t y = top; y < top + 28; ++y) {
            std::mt19937 line(seed * 7919 + top); // same strokes down a text line ...
            line.discard(y % 5);                  // ... shifting a little row to row
            for (std::uint32_t x = margin; x + margin < w;) {
                std::uint32_t stroke = 1 + line() % 4, gap = 2 + line() % 9;
                for (std::uint32_t i = 0; i < stroke && x + i < w; ++i)
                    p.at(x + i, y) = (random() % 16) != 0;
                x += stroke + gap + (line() % 11 == 0 ? 20 : 0);
            }
        }
    }
    return p;
}

// Horizontal rules, a frame and vertical lines: long runs of both colours.
inline Page linesPage(std::uint32_t w, std::uint32_t h) {
    Page p(w, h);
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x)
            p.at(x, y) = y % 97 < 3 || x % 211 < 2 || x == 0 || x + 1 == w || y == 0 || y + 1 == h;
    return p;
}

// Every run length from 0 to the width, of both colours: row 2k has k white
// pixels then black, row 2k+1 k black pixels then white.
inline Page runsPage(std::uint32_t w) {
    Page p(w, 2 * (w + 1));
    for (std::uint32_t k = 0; k <= w; ++k)
        for (std::uint32_t x = 0; x < w; ++x) {
            p.at(x, 2 * k) = x >= k;
            p.at(x, 2 * k + 1) = x < k;
        }
    return p;
}

// ---- scratch folder ----------------------------------------------------------

class ScratchDir {
  public:
    ScratchDir() {
        const char* base = std::getenv("FOLIO_TEST_TMP");
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string leaf = std::string(info->test_suite_name()) + "." + info->name();
        for (char& c : leaf)
            if (c == '/')
                c = '_';
        path_ = fs::path(base && *base ? base : fs::temp_directory_path().string()) /
                ("tiflib-" + std::to_string(::getpid())) / leaf;
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    std::string file(const std::string& leaf) const { return (path_ / leaf).string(); }
    const fs::path& path() const { return path_; }
    // Names in the folder, sorted: shows stray temporary files.
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(path_))
            out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }

  private:
    fs::path path_;
};

inline std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// ---- reading back ------------------------------------------------------------

struct TiffPage {
    Page pixels{0, 0};
    std::uint32_t subfileType = 0, rowsPerStrip = 0, strips = 0, group3Options = 0;
    std::uint16_t compression = 0, photometric = 0, fillOrder = 0, resolutionUnit = 0;
    std::uint16_t pageIndex = 0, pageCount = 0, cleanFax = 99;
    float xResolution = 0, yResolution = 0;
    std::string software;
    bool hasPageNumber = false;
    std::vector<std::uint8_t> rawStrip; // the coded strip as stored
};

struct TiffFile {
    std::vector<TiffPage> pages;
    std::vector<std::string> messages; // every error and warning libtiff gave
    bool opened = false;
};

inline int collectMessage(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
    char text[512];
    std::vsnprintf(text, sizeof text, fmt, ap);
    static_cast<TiffFile*>(user)->messages.push_back(std::string(module ? module : "") + ": " +
                                                     text);
    return 1;
}

inline TiffFile readTiff(const std::string& path) {
    TiffFile file;
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, collectMessage, &file);
    TIFFOpenOptionsSetWarningHandlerExtR(options, collectMessage, &file);
    TIFF* tif = TIFFOpenExt(path.c_str(), "r", options);
    TIFFOpenOptionsFree(options);
    if (!tif)
        return file;
    file.opened = true;
    do {
        TiffPage page;
        std::uint32_t w = 0, h = 0;
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
        TIFFGetField(tif, TIFFTAG_SUBFILETYPE, &page.subfileType);
        TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &page.rowsPerStrip);
        TIFFGetField(tif, TIFFTAG_COMPRESSION, &page.compression);
        TIFFGetField(tif, TIFFTAG_GROUP3OPTIONS, &page.group3Options);
        TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &page.photometric);
        TIFFGetField(tif, TIFFTAG_FILLORDER, &page.fillOrder);
        TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &page.resolutionUnit);
        TIFFGetField(tif, TIFFTAG_XRESOLUTION, &page.xResolution);
        TIFFGetField(tif, TIFFTAG_YRESOLUTION, &page.yResolution);
        TIFFGetField(tif, TIFFTAG_CLEANFAXDATA, &page.cleanFax);
        page.hasPageNumber =
            TIFFGetField(tif, TIFFTAG_PAGENUMBER, &page.pageIndex, &page.pageCount) == 1;
        char* software = nullptr;
        if (TIFFGetField(tif, TIFFTAG_SOFTWARE, &software) && software)
            page.software = software;
        page.strips = TIFFNumberOfStrips(tif);
        if (page.strips == 1) {
            tmsize_t size = tmsize_t(TIFFRawStripSize(tif, 0));
            if (size > 0) {
                page.rawStrip.resize(std::size_t(size));
                if (TIFFReadRawStrip(tif, 0, page.rawStrip.data(), size) != size)
                    page.rawStrip.clear();
            }
        }
        page.pixels = Page(w, h);
        std::vector<std::uint8_t> line(std::size_t(TIFFScanlineSize(tif)) + 8);
        for (std::uint32_t y = 0; y < h; ++y) {
            if (TIFFReadScanline(tif, line.data(), y, 0) < 0) {
                file.messages.push_back("scanline " + std::to_string(y) + " unreadable");
                break;
            }
            for (std::uint32_t x = 0; x < w; ++x)
                page.pixels.at(x, y) = (line[x / 8] >> (7 - x % 8)) & 1;
        }
        file.pages.push_back(std::move(page));
    } while (TIFFReadDirectory(tif));
    TIFFClose(tif);
    return file;
}

// Where two pages first differ, for a readable failure message.
inline std::string firstDifference(const Page& want, const Page& got) {
    if (want.width != got.width || want.height != got.height)
        return "size " + std::to_string(got.width) + "x" + std::to_string(got.height) +
               ", expected " + std::to_string(want.width) + "x" + std::to_string(want.height);
    for (std::uint32_t y = 0; y < want.height; ++y)
        for (std::uint32_t x = 0; x < want.width; ++x)
            if (want.at(x, y) != got.at(x, y))
                return "pixel (" + std::to_string(x) + ", " + std::to_string(y) + ")";
    return "";
}

// Restores the coding for following documents when a test ends.
class CodingScope {
  public:
    explicit CodingScope(int mode) : saved_(GetFaxCompression()) { SetFaxCompression(mode); }
    ~CodingScope() { SetFaxCompression(saved_); }

  private:
    int saved_;
};

} // namespace tiftest
