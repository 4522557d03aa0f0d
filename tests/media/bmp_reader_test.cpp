// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The BMP reader: every header kind, depth and compression decoded against the
// luminance rule, RLE escapes, and a table of malformed files (truncations,
// bad fields, hostile sizes, random damage) that must be refused cleanly.
#include "BmpReader.h"
#include "DibTypes.h"
#include "Error.h"
#include "platform/scratch_files.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace folio {
namespace {

using Bytes = std::vector<std::uint8_t>;

// ---- A BMP writer for the tests --------------------------------------------

void put16(Bytes& b, std::uint32_t v) {
    b.push_back(std::uint8_t(v));
    b.push_back(std::uint8_t(v >> 8));
}
void put32(Bytes& b, std::uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

// Colours are 0xRRGGBB.
struct BmpFile {
    std::uint32_t headerSize = 40;
    std::int32_t width = 1;
    std::int32_t height = 1; // negative: rows top-down
    std::uint16_t planes = 1;
    std::uint16_t bitCount = 8;
    std::uint32_t compression = BI_RGB;
    std::uint32_t sizeImage = 0;
    std::uint32_t colorsUsed = 0;
    std::vector<std::uint32_t> palette;
    // Red, green, blue masks: after a 40-byte header with BI_BITFIELDS, inside larger headers.
    std::array<std::uint32_t, 3> masks{};
    Bytes pixels;                  // exactly as stored
    std::int64_t offsetAdjust = 0; // added to the pixel offset the layout gives

    Bytes Build() const {
        Bytes b = {'B', 'M'};
        put32(b, 0); // file size, patched below
        put32(b, 0);
        put32(b, 0); // pixel offset, patched below
        put32(b, headerSize);
        if (headerSize == 12) {
            put16(b, std::uint32_t(width));
            put16(b, std::uint32_t(height));
            put16(b, planes);
            put16(b, bitCount);
        } else {
            put32(b, std::uint32_t(width));
            put32(b, std::uint32_t(height));
            put16(b, planes);
            put16(b, bitCount);
            put32(b, compression);
            put32(b, sizeImage);
            put32(b, 2835);
            put32(b, 2835);
            put32(b, colorsUsed);
            put32(b, 0);
            if (headerSize > 40)
                for (std::uint32_t m : masks)
                    put32(b, m);
            while (b.size() < 14 + std::size_t(headerSize))
                b.push_back(0);
            if (headerSize == 40 && compression == BI_BITFIELDS)
                for (std::uint32_t m : masks)
                    put32(b, m);
        }
        for (std::uint32_t c : palette) {
            b.push_back(std::uint8_t(c));
            b.push_back(std::uint8_t(c >> 8));
            b.push_back(std::uint8_t(c >> 16));
            if (headerSize != 12)
                b.push_back(0);
        }
        const std::uint32_t offset = std::uint32_t(std::int64_t(b.size()) + offsetAdjust);
        while (b.size() < offset)
            b.push_back(0);
        b.resize(offset < b.size() ? offset : b.size());
        b.insert(b.end(), pixels.begin(), pixels.end());
        const std::uint32_t total = std::uint32_t(b.size());
        std::memcpy(b.data() + 2, &total, 4);
        std::memcpy(b.data() + 10, &offset, 4);
        return b;
    }
};

// Uncompressed rows in file order; value(x, y) is the pixel of picture row y
// (0 at the top): a palette index, or the stored pixel (24 bits: 0xRRGGBB).
Bytes Rows(int width, int height, int bitCount, bool topDown,
           const std::function<std::uint32_t(int, int)>& value) {
    const std::size_t stride = (std::size_t(width) * bitCount + 31) / 32 * 4;
    Bytes out(stride * height, 0);
    for (int r = 0; r < height; ++r) {
        const int y = topDown ? r : height - 1 - r;
        std::uint8_t* row = out.data() + r * stride;
        for (int x = 0; x < width; ++x) {
            const std::uint32_t v = value(x, y);
            switch (bitCount) {
            case 1:
            case 4:
            case 8: {
                const int bit = x * bitCount;
                row[bit / 8] |= std::uint8_t(v << (8 - bitCount - bit % 8));
                break;
            }
            case 16:
                row[2 * x] = std::uint8_t(v);
                row[2 * x + 1] = std::uint8_t(v >> 8);
                break;
            case 24:
                row[3 * x] = std::uint8_t(v);
                row[3 * x + 1] = std::uint8_t(v >> 8);
                row[3 * x + 2] = std::uint8_t(v >> 16);
                break;
            case 32:
                std::memcpy(row + 4 * x, &v, 4);
                break;
            }
        }
    }
    return out;
}

bool Dark(std::uint32_t rgb) {
    return 299 * ((rgb >> 16) & 0xFF) + 587 * ((rgb >> 8) & 0xFF) + 114 * (rgb & 0xFF) < 128000;
}

// Scales a masked channel to 0..255.
std::uint32_t Channel(std::uint32_t pixel, std::uint32_t mask) {
    if (!mask)
        return 0;
    int shift = 0;
    while (!((mask >> shift) & 1))
        ++shift;
    return std::uint32_t(std::uint64_t((pixel & mask) >> shift) * 255 / (mask >> shift));
}

Bitmap Decode(const Bytes& file) {
    Bitmap out;
    DecodeBmp(file.data(), file.size(), out);
    return out;
}

// Compares every pixel and checks that the row padding stayed clear.
void ExpectPicture(const Bitmap& bmp, int width, int height,
                   const std::function<bool(int, int)>& black) {
    ASSERT_EQ(bmp.Width(), width);
    ASSERT_EQ(bmp.Height(), height);
    int wrong = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (bmp.Pixel(x, y) != black(x, y) && ++wrong <= 5)
                ADD_FAILURE() << "pixel (" << x << ", " << y << ") should be "
                              << (black(x, y) ? "black" : "white");
    EXPECT_EQ(wrong, 0);
    for (int y = 0; y < height; ++y)
        for (int bit = width; bit < bmp.Stride() * 8; ++bit)
            ASSERT_EQ((bmp.Row(y)[bit / 8] >> (7 - bit % 8)) & 1, 0) << "padding bit in row " << y;
}

// A reproducible pixel pattern.
std::uint32_t Noise(int x, int y, std::uint32_t salt = 0) {
    std::uint32_t h = std::uint32_t(x) * 0x9E3779B1u ^ std::uint32_t(y) * 0x85EBCA77u ^ salt;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return h;
}

std::vector<std::uint32_t> Greys(int n) {
    std::vector<std::uint32_t> p;
    for (int i = 0; i < n; ++i) {
        std::uint32_t g = std::uint32_t(i * 255 / (n - 1));
        p.push_back(g << 16 | g << 8 | g);
    }
    return p;
}

// ---- Uncompressed formats --------------------------------------------------

struct Format {
    const char* name;
    std::uint32_t headerSize;
    std::uint16_t bitCount;
    std::uint32_t compression;
    std::vector<std::uint32_t> palette;
    std::uint32_t colorsUsed;
    std::array<std::uint32_t, 3> masks; // also how the test reads direct pixels
};

std::vector<Format> Formats() {
    std::vector<std::uint32_t> colours;
    for (int i = 0; i < 256; ++i)
        colours.push_back(Noise(i, 7) & 0xFFFFFF);
    return {
        {"1-bit black/white", 40, 1, BI_RGB, {0x000000, 0xFFFFFF}, 0, {}},
        {"1-bit inverted palette", 40, 1, BI_RGB, {0xFFFFFF, 0x000000}, 0, {}},
        {"1-bit both dark", 40, 1, BI_RGB, {0x101010, 0x202020}, 0, {}},
        {"1-bit both light", 40, 1, BI_RGB, {0xF0F0F0, 0xFFFFFF}, 0, {}},
        {"1-bit core", 12, 1, BI_RGB, {0x000000, 0xFFFFFF}, 0, {}},
        {"4-bit greys", 40, 4, BI_RGB, Greys(16), 0, {}},
        {"4-bit core", 12, 4, BI_RGB, Greys(16), 0, {}},
        {"4-bit short table", 40, 4, BI_RGB, {0xFFFFFF, 0x00FF00, 0xFF0000}, 3, {}},
        {"8-bit colours", 40, 8, BI_RGB, colours, 0, {}},
        {"8-bit core", 12, 8, BI_RGB, colours, 0, {}},
        {"8-bit short table", 40, 8, BI_RGB, Greys(20), 20, {}},
        {"8-bit V5", 124, 8, BI_RGB, colours, 0, {}},
        {"16-bit 555", 40, 16, BI_RGB, {}, 0, {0x7C00, 0x03E0, 0x001F}},
        {"16-bit 565 fields", 40, 16, BI_BITFIELDS, {}, 0, {0xF800, 0x07E0, 0x001F}},
        {"16-bit 565 V4", 108, 16, BI_BITFIELDS, {}, 0, {0xF800, 0x07E0, 0x001F}},
        {"16-bit 444 in 52-byte header", 52, 16, BI_BITFIELDS, {}, 0, {0x0F00, 0x00F0, 0x000F}},
        {"16-bit V5 plain", 124, 16, BI_RGB, {}, 0, {0x7C00, 0x03E0, 0x001F}},
        {"24-bit", 40, 24, BI_RGB, {}, 0, {0xFF0000, 0x00FF00, 0x0000FF}},
        {"24-bit core", 12, 24, BI_RGB, {}, 0, {0xFF0000, 0x00FF00, 0x0000FF}},
        {"24-bit V5", 124, 24, BI_RGB, {}, 0, {0xFF0000, 0x00FF00, 0x0000FF}},
        {"32-bit", 40, 32, BI_RGB, {}, 0, {0xFF0000, 0x00FF00, 0x0000FF}},
        {"32-bit fields, blue high",
         40,
         32,
         BI_BITFIELDS,
         {},
         0,
         {0x0000FF00, 0x00FF0000, 0xFF000000}},
        {"32-bit 10-bit fields in 56-byte header",
         56,
         32,
         BI_BITFIELDS,
         {},
         0,
         {0x3FF00000, 0x000FFC00, 0x000003FF}},
        {"32-bit V4 fields", 108, 32, BI_BITFIELDS, {}, 0, {0x00FF0000, 0x0000FF00, 0x000000FF}},
    };
}

TEST(BmpReader, DecodesEveryFormatBothRowOrders) {
    for (const Format& f : Formats()) {
        for (bool topDown : {false, true}) {
            if (topDown && f.headerSize == 12)
                continue; // a core header has no sign for the height
            for (int width : {1, 7, 9, 33, 70}) {
                SCOPED_TRACE(std::string(f.name) + (topDown ? " top-down" : " bottom-up") +
                             " width " + std::to_string(width));
                const int height = 5;
                const std::uint32_t range = f.bitCount <= 8 ? 1u << f.bitCount : 0;
                auto value = [&](int x, int y) {
                    const std::uint32_t n = Noise(x, y, f.bitCount);
                    if (range)
                        return n % range;
                    return f.bitCount == 16 ? n & 0xFFFF : f.bitCount == 24 ? n & 0xFFFFFF : n;
                };
                auto black = [&](int x, int y) {
                    const std::uint32_t v = value(x, y);
                    if (range)
                        return v >= f.palette.size() || Dark(f.palette[v]);
                    return Dark(Channel(v, f.masks[0]) << 16 | Channel(v, f.masks[1]) << 8 |
                                Channel(v, f.masks[2]));
                };
                BmpFile file;
                file.headerSize = f.headerSize;
                file.width = width;
                file.height = topDown ? -height : height;
                file.bitCount = f.bitCount;
                file.compression = f.compression;
                file.palette = f.palette;
                file.colorsUsed = f.colorsUsed;
                file.masks = f.masks;
                file.pixels = Rows(width, height, f.bitCount, topDown, value);
                ExpectPicture(Decode(file.Build()), width, height, black);
            }
        }
    }
}

TEST(BmpReader, BlackAndWhitePictureKeepsItsInk) {
    // The usual 1-bit picture: index 0 is black. Black pixels must stay black.
    BmpFile file;
    file.width = 16;
    file.height = 2;
    file.bitCount = 1;
    file.palette = {0x000000, 0xFFFFFF};
    // Bottom row first: 0x0F 0xF0 for the bottom, 0xAA 0x55 for the top.
    file.pixels = {0x0F, 0xF0, 0, 0, 0xAA, 0x55, 0, 0};
    Bitmap bmp = Decode(file.Build());
    EXPECT_EQ(bmp.Row(0)[0], 0x55);
    EXPECT_EQ(bmp.Row(0)[1], 0xAA);
    EXPECT_EQ(bmp.Row(1)[0], 0xF0);
    EXPECT_EQ(bmp.Row(1)[1], 0x0F);
}

TEST(BmpReader, LuminanceThreshold) {
    // 299 R + 587 G + 114 B < 128000 is black: grey 127 is black, 128 white;
    // pure green (149,685) white, pure red (76,245) and blue (29,070) black.
    const std::vector<std::pair<std::uint32_t, bool>> cases = {
        {0x7F7F7F, true}, {0x808080, false}, {0x00FF00, false}, {0xFF0000, true},
        {0x0000FF, true}, {0xFF00FF, true},  {0xFFFF00, false}, {0x00FFFF, false},
    };
    BmpFile file;
    file.width = int(cases.size());
    file.bitCount = 24;
    file.pixels = Rows(file.width, 1, 24, false, [&](int x, int) { return cases[x].first; });
    Bitmap bmp = Decode(file.Build());
    for (std::size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(bmp.Pixel(int(i), 0), cases[i].second) << std::hex << cases[i].first;
}

// ---- RLE -------------------------------------------------------------------

// Runs an RLE stream through two palettes, one with a light colour 0 and one
// with a dark colour 0, against the expected indices (-1: never written).
void ExpectRle(std::uint16_t bitCount, int width, const std::vector<std::vector<int>>& indices,
               const Bytes& stream) {
    const int height = int(indices.size());
    const int colours = 1 << bitCount;
    for (bool darkBackground : {false, true}) {
        SCOPED_TRACE(darkBackground ? "dark colour 0" : "light colour 0");
        BmpFile file;
        file.width = width;
        file.height = height;
        file.bitCount = bitCount;
        file.compression = bitCount == 8 ? BI_RLE8 : BI_RLE4;
        // Odd indices dark, even light; colour 0 follows the variant.
        for (int i = 0; i < colours; ++i)
            file.palette.push_back(i % 2 ? 0x303030 : 0xD0D0D0);
        file.palette[0] = darkBackground ? 0x000000 : 0xFFFFFF;
        file.pixels = stream;
        file.sizeImage = std::uint32_t(stream.size());
        for (std::uint32_t sizeImage : {std::uint32_t(stream.size()), 0u}) {
            file.sizeImage = sizeImage;
            ExpectPicture(Decode(file.Build()), width, height, [&](int x, int y) {
                const int i = indices[y][x];
                return i < 0 ? darkBackground : (i == 0 ? darkBackground : i % 2 == 1);
            });
        }
    }
}

TEST(BmpReader, Rle8RunsLiteralsDeltaAndEscapes) {
    const Bytes stream = {
        // line 0 (bottom): a run of three 1s, then literal 1 2 1 (padded), end of line
        0x03, 0x01, 0x00, 0x03, 0x01, 0x02, 0x01, 0x00, 0x00, 0x00,
        // line 1: delta right 2, up 1 -> line 2 at x 2: two 3s, end of line
        0x00, 0x02, 0x02, 0x01, 0x02, 0x03, 0x00, 0x00,
        // line 3: a run of ten 1s, cut off at the right edge; end of bitmap
        0x0A, 0x01, 0x00, 0x01};
    const int _ = -1;
    ExpectRle(8, 8,
              {
                  {1, 1, 1, 1, 1, 1, 1, 1}, // line 3
                  {_, _, 3, 3, _, _, _, _}, // line 2
                  {_, _, _, _, _, _, _, _}, // line 1, skipped by the delta
                  {1, 1, 1, 1, 2, 1, _, _}, // line 0
              },
              stream);
}

TEST(BmpReader, Rle4NibblesLiteralsAndPadding) {
    const Bytes stream = {
        // line 0: five pixels alternating 1 and 2, literal 3 1 2 (2 bytes, no pad), end of line
        0x05, 0x12, 0x00, 0x03, 0x31, 0x20, 0x00, 0x00,
        // line 1: literal 1 2 3 1 2 (3 bytes + pad), run of four 3s cut at the edge
        0x00, 0x05, 0x12, 0x31, 0x20, 0x00, 0x04, 0x33, 0x00, 0x00,
        // line 2: delta right 3, one pixel 1, end of bitmap
        0x00, 0x02, 0x03, 0x00, 0x01, 0x10, 0x00, 0x01};
    const int _ = -1;
    ExpectRle(4, 8,
              {
                  {_, _, _, 1, _, _, _, _},
                  {1, 2, 3, 1, 2, 3, 3, 3},
                  {1, 2, 1, 2, 1, 3, 1, 2},
              },
              stream);
}

TEST(BmpReader, RleWritesOutsideThePictureAreDropped) {
    const int _ = -1;
    // A literal that runs past the right edge, then a delta far above the
    // top and runs there, then deltas that carry x far to the right.
    Bytes stream = {0x00, 0x05, 0x01, 0x01, 0x01, 0x01, 0x01, 0x00, // literal 5 at x 0 of width 3
                    0x00, 0x00};
    for (int i = 0; i < 40; ++i)
        stream.insert(stream.end(), {0x00, 0x02, 0xFF, 0xFF, 0xFF, 0x01});
    stream.insert(stream.end(), {0x00, 0x05, 0x01, 0x01, 0x01, 0x01, 0x01, 0x00, 0x00, 0x01});
    ExpectRle(8, 3, {{_, _, _}, {1, 1, 1}}, stream);
}

// ---- Malformed files -------------------------------------------------------

BmpFile Valid8() {
    BmpFile f;
    f.width = 5;
    f.height = 3;
    f.bitCount = 8;
    f.palette = {0x000000, 0xFFFFFF, 0x808080, 0x404040};
    f.colorsUsed = 4;
    f.pixels = Rows(5, 3, 8, false, [](int x, int y) { return std::uint32_t(x + y) % 4; });
    return f;
}

BmpFile ValidRle8() {
    BmpFile f = Valid8();
    f.compression = BI_RLE8;
    f.pixels = {0x02, 0x01, 0x00, 0x03, 0x02, 0x03, 0x01, 0x00, 0x00,
                0x00, 0x00, 0x02, 0x01, 0x01, 0x03, 0x03, 0x00, 0x01};
    f.sizeImage = std::uint32_t(f.pixels.size());
    return f;
}

BmpFile ValidRle4() {
    BmpFile f = Valid8();
    f.bitCount = 4;
    f.compression = BI_RLE4;
    f.palette.resize(16, 0xFFFFFF);
    f.colorsUsed = 16;
    f.pixels = {0x03, 0x12, 0x00, 0x00, 0x00, 0x03, 0x12, 0x30, 0x00, 0x00, 0x05, 0x31, 0x00, 0x01};
    return f;
}

std::vector<Bytes> ValidFiles() {
    std::vector<Bytes> files;
    files.push_back(Valid8().Build());
    for (const Format& f : Formats()) {
        BmpFile file;
        file.headerSize = f.headerSize;
        file.width = 3;
        file.height = 2;
        file.bitCount = f.bitCount;
        file.compression = f.compression;
        file.palette = f.palette;
        file.colorsUsed = f.colorsUsed;
        file.masks = f.masks;
        file.pixels = Rows(3, 2, f.bitCount, false, [&](int x, int y) {
            return Noise(x, y) & ((f.bitCount < 32 ? 1u << f.bitCount : 0u) - 1);
        });
        files.push_back(file.Build());
    }
    files.push_back(ValidRle8().Build());
    BmpFile rle8NoSize = ValidRle8();
    rle8NoSize.sizeImage = 0;
    files.push_back(rle8NoSize.Build());
    files.push_back(ValidRle4().Build());
    return files;
}

TEST(BmpReader, EveryTruncationIsRefused) {
    for (const Bytes& file : ValidFiles()) {
        ASSERT_NO_THROW(Decode(file));
        for (std::size_t n = 0; n < file.size(); ++n) {
            // An exact-size copy, so that a read past the end is caught by the sanitizer.
            const Bytes prefix(file.begin(), file.begin() + std::ptrdiff_t(n));
            Bitmap out;
            EXPECT_THROW(DecodeBmp(prefix.data(), prefix.size(), out), Error) << "length " << n;
        }
    }
    Bitmap out;
    EXPECT_THROW(DecodeBmp(nullptr, 0, out), Error);
}

TEST(BmpReader, MalformedFilesAreRefused) {
    struct Case {
        const char* name;
        std::function<void(BmpFile&)> change;
    };
    const std::vector<Case> cases = {
        {"header size 0", [](BmpFile& f) { f.headerSize = 0; }},
        {"header size 16", [](BmpFile& f) { f.headerSize = 16; }},
        {"header size 64", [](BmpFile& f) { f.headerSize = 64; }},
        {"header size 100", [](BmpFile& f) { f.headerSize = 100; }},
        {"header size 4000", [](BmpFile& f) { f.headerSize = 4000; }},
        {"bit count 0", [](BmpFile& f) { f.bitCount = 0; }},
        {"bit count 2", [](BmpFile& f) { f.bitCount = 2; }},
        {"bit count 3", [](BmpFile& f) { f.bitCount = 3; }},
        {"bit count 64", [](BmpFile& f) { f.bitCount = 64; }},
        {"core header, 16 bits",
         [](BmpFile& f) {
             f.headerSize = 12;
             f.bitCount = 16;
         }},
        {"core header, 32 bits",
         [](BmpFile& f) {
             f.headerSize = 12;
             f.bitCount = 32;
         }},
        {"planes 0", [](BmpFile& f) { f.planes = 0; }},
        {"planes 2", [](BmpFile& f) { f.planes = 2; }},
        {"compression 4 (JPEG)", [](BmpFile& f) { f.compression = 4; }},
        {"compression 5 (PNG)", [](BmpFile& f) { f.compression = 5; }},
        {"compression 6", [](BmpFile& f) { f.compression = 6; }},
        {"compression huge", [](BmpFile& f) { f.compression = 0xFFFFFFFF; }},
        {"RLE8 at 4 bits",
         [](BmpFile& f) {
             f.compression = BI_RLE8;
             f.bitCount = 4;
         }},
        {"RLE4 at 8 bits", [](BmpFile& f) { f.compression = BI_RLE4; }},
        {"RLE8 top-down",
         [](BmpFile& f) {
             f = ValidRle8();
             f.height = -f.height;
         }},
        {"RLE size beyond the file",
         [](BmpFile& f) {
             f = ValidRle8();
             f.sizeImage += 1;
         }},
        {"RLE without end of bitmap",
         [](BmpFile& f) {
             f = ValidRle8();
             f.pixels.resize(f.pixels.size() - 2);
             f.sizeImage = 0;
         }},
        {"RLE size cuts the end of bitmap",
         [](BmpFile& f) {
             f = ValidRle8();
             f.sizeImage -= 2;
         }},
        {"RLE literal beyond the data",
         [](BmpFile& f) {
             f = ValidRle8();
             f.pixels = {0x00, 0xFF, 0x01, 0x02};
             f.sizeImage = 0;
         }},
        {"bit fields at 24 bits",
         [](BmpFile& f) {
             f.compression = BI_BITFIELDS;
             f.bitCount = 24;
         }},
        {"bit fields at 8 bits", [](BmpFile& f) { f.compression = BI_BITFIELDS; }},
        {"bit field with a gap",
         [](BmpFile& f) {
             f.compression = BI_BITFIELDS;
             f.bitCount = 16;
             f.palette.clear();
             f.pixels = Rows(5, 3, 16, false, [](int x, int) { return std::uint32_t(x); });
             f.masks = {0xF0F0, 0x0F00, 0x000F};
         }},
        {"bit field outside a 16-bit pixel",
         [](BmpFile& f) {
             f.compression = BI_BITFIELDS;
             f.bitCount = 16;
             f.palette.clear();
             f.pixels = Rows(5, 3, 16, false, [](int x, int) { return std::uint32_t(x); });
             f.masks = {0x1F0000, 0x07E0, 0x001F};
         }},
        {"width 0", [](BmpFile& f) { f.width = 0; }},
        {"negative width", [](BmpFile& f) { f.width = -5; }},
        {"width INT_MIN", [](BmpFile& f) { f.width = INT_MIN; }},
        {"width 65536", [](BmpFile& f) { f.width = 65536; }},
        {"height 0", [](BmpFile& f) { f.height = 0; }},
        {"height INT_MIN", [](BmpFile& f) { f.height = INT_MIN; }},
        {"height -65536", [](BmpFile& f) { f.height = -65536; }},
        {"60000 x 60000",
         [](BmpFile& f) {
             f.width = 60000;
             f.height = 60000;
         }},
        {"30000 x 30000 in a small file",
         [](BmpFile& f) {
             f.width = 30000;
             f.height = 30000;
         }},
        {"65535 x 2000 at 1 bit in a small file",
         [](BmpFile& f) {
             f.width = 65535;
             f.height = 2000;
             f.bitCount = 1;
             f.palette.resize(2);
         }},
        {"one byte of pixels missing", [](BmpFile& f) { f.pixels.pop_back(); }},
        {"pixel offset inside the colour table", [](BmpFile& f) { f.offsetAdjust = -4; }},
        {"colour table count beyond the pixel offset", [](BmpFile& f) { f.colorsUsed = 200; }},
        {"full colour table missing", [](BmpFile& f) { f.colorsUsed = 0; }},
        {"masks missing after the header",
         [](BmpFile& f) {
             f.compression = BI_BITFIELDS;
             f.bitCount = 32;
             f.palette.clear();
             f.pixels.clear();
             f.offsetAdjust = -12;
         }},
    };
    for (const Case& c : cases) {
        BmpFile f = Valid8();
        c.change(f);
        const Bytes file = f.Build();
        Bitmap out;
        EXPECT_THROW(DecodeBmp(file.data(), file.size(), out), Error) << c.name;
        EXPECT_TRUE(out.Empty()) << c.name;
    }

    // Raw damage to the file header.
    Bytes file = Valid8().Build();
    file[1] = 'A';
    EXPECT_THROW(Decode(file), Error);
    // Pixel offsets past the end: one byte, at the end, 4 GiB.
    for (std::uint32_t offset :
         {std::uint32_t(file.size() + 1), std::uint32_t(file.size()), std::uint32_t(0xFFFFFFFF)}) {
        file = Valid8().Build();
        std::memcpy(file.data() + 10, &offset, 4);
        EXPECT_THROW(Decode(file), Error) << offset;
    }
}

TEST(BmpReader, MessageAndUnchangedTargetOnFailure) {
    Bitmap out;
    out.SetSize(3, 2);
    out.SetPixel(1, 1, true);
    Bytes file = Valid8().Build();
    file.pop_back();
    try {
        DecodeBmp(file.data(), file.size(), out);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Bitmap image is not valid");
    }
    EXPECT_EQ(out.Width(), 3);
    EXPECT_EQ(out.Height(), 2);
    EXPECT_EQ(out.CountBlack(), 1u);
    EXPECT_TRUE(out.Pixel(1, 1));
}

TEST(BmpReader, TolerantFields) {
    // Wrong bfSize, wrong biSizeImage and extra bytes after the pixels are all fine;
    // colours used above the table's capacity are capped.
    Bytes file = Valid8().Build();
    std::memset(file.data() + 2, 0xFF, 4);
    std::memset(file.data() + 14 + 20, 0x77, 4);
    file.insert(file.end(), 100, 0xEE);
    EXPECT_NO_THROW(Decode(file));
    BmpFile big = Valid8();
    big.bitCount = 1;
    big.palette.resize(2);
    big.colorsUsed = 1000;
    big.pixels = Rows(5, 3, 1, false, [](int x, int) { return std::uint32_t(x & 1); });
    EXPECT_EQ(Decode(big.Build()).CountBlack(), 9u);
}

TEST(BmpReader, RandomDamageNeverCrashes) {
    std::uint32_t seed = 12345;
    auto next = [&] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    int decoded = 0;
    for (const Bytes& valid : ValidFiles()) {
        for (int round = 0; round < 300; ++round) {
            Bytes file = valid;
            const int hits = 1 + int(next() % 4);
            for (int i = 0; i < hits; ++i) {
                std::uint8_t& b = file[next() % file.size()];
                b = next() % 3 == 0 ? std::uint8_t(0xFF) : std::uint8_t(next());
            }
            if (next() % 4 == 0)
                file.resize(next() % file.size());
            Bitmap out;
            try {
                DecodeBmp(file.data(), file.size(), out);
                ++decoded;
                ASSERT_TRUE(Bitmap::IsValidSize(out.Width(), out.Height()));
            } catch (const Error&) {
            }
        }
    }
    EXPECT_GT(decoded, 0);
}

TEST(BmpReader, LoadsFiles) {
    const Bytes bytes = Valid8().Build();
    const std::string path = test::WriteScratchFile(
        "picture.bmp", std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    Bitmap out;
    LoadBmpFile(path, out);
    EXPECT_EQ(out.Width(), 5);
    EXPECT_EQ(out.Height(), 3);

    const std::string broken = test::WriteScratchFile("broken.bmp", "BM not a picture");
    try {
        LoadBmpFile(broken, out);
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Bitmap image is not valid");
    }
    const std::string dir = test::ScratchDir().string();
    try {
        LoadBmpFile(dir, out);
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file " + dir);
    }
    // One byte over the file size cap (a sparse file).
    const std::string huge = test::WriteScratchFile("huge.bmp", "");
    std::filesystem::resize_file(huge, kMaxBmpFileBytes + 1);
    try {
        LoadBmpFile(huge, out);
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file " + huge);
    }
    std::filesystem::remove(huge);
    EXPECT_EQ(out.Width(), 5);
}

} // namespace
} // namespace folio
