// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Colour reduction: Dither2 (black and white, ordered dither of a
// tone-stretched grey), Dither16 (the eight cube corners, ordered dither of
// each component) and Dither256 (the 256-colour cube, error diffusion). Each
// makes one pass over the pixels in memory order: rows from the bottom of the
// picture up, pixels left to right; x and y below are that column and row.
#include "Dib.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

using rastrum::DibLayout;
using rastrum::LockedDib;

// The 8 x 8 Bayer matrix, values 0 to 63, M[row][column].
constexpr BYTE kBayer[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26},
    {12, 44, 4, 36, 14, 46, 6, 38}, {60, 28, 52, 20, 62, 30, 54, 22},
    {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21},
};

// Grey level 0 to 254 of a colour, each weighted term truncated on its own.
inline unsigned Grey(unsigned r, unsigned g, unsigned b) {
    return 30 * r / 100 + 59 * g / 100 + 11 * b / 100;
}

// The contrast-stretching tone table, divided by 4 to a threshold 0 to 63.
// The accumulation in doubles is part of the result: it makes entries 27 and
// 54 one lower than floor(32 i / 27).
void BuildToneThresholds(BYTE thresholds[256]) {
    const double step = 32.0 / 27.0;
    double a = 0.0;
    for (int i = 0; i < 256; ++i) {
        const int tone = a > 254.0 ? 254 : a < 1.0 ? 1 : int(a);
        thresholds[i] = BYTE(tone / 4);
        a += step;
    }
}

// The new DIB of a dither, made by PackDib and locked while it is filled.
// Freed on destruction unless handed out by Release.
class Output {
  public:
    Output(const DibLayout& source, const PaletteTriple* palette, WORD depth)
        : block_(folio::PackDib(source.width, source.height, palette, depth)), dib_(block_) {
        if (block_ && !dib_) {
            GlobalFree(block_);
            block_ = nullptr;
        }
    }
    ~Output() {
        dib_.Release();
        if (block_)
            GlobalFree(block_);
    }
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    explicit operator bool() const { return block_ != nullptr; }
    std::uint8_t* row(SIZE_T y) const { return dib_.row(y); }
    // Unlocks the output and hands it to the caller.
    HGLOBAL Release() {
        dib_.Release();
        HGLOBAL block = block_;
        block_ = nullptr;
        return block;
    }

  private:
    HGLOBAL block_;
    LockedDib dib_;
};

HGLOBAL DitherTo2(HGLOBAL source) {
    LockedDib src(source);
    if (!src)
        return nullptr;
    const DibLayout& in = src.layout();
    if (in.bitCount != 4 && in.bitCount != 8 && in.bitCount != 24)
        return nullptr;
    static constexpr PaletteTriple kBlackWhite[2] = {{0, 0, 0}, {255, 255, 255}};
    Output out(in, kBlackWhite, 1);
    if (!out)
        return nullptr;

    PaletteTriple palette[256];
    rastrum::ExtractPalette(src, palette);
    BYTE thresholds[256];
    BuildToneThresholds(thresholds);
    // Threshold per colour-table index; missing entries are black.
    BYTE indexThreshold[256];
    for (int i = 0; i < 256; ++i)
        indexThreshold[i] = thresholds[Grey(palette[i].red, palette[i].green, palette[i].blue)];
    // The three grey terms as tables; their sum is the grey level.
    BYTE redTerm[256], greenTerm[256], blueTerm[256];
    for (unsigned v = 0; v < 256; ++v) {
        redTerm[v] = BYTE(30 * v / 100);
        greenTerm[v] = BYTE(59 * v / 100);
        blueTerm[v] = BYTE(11 * v / 100);
    }

    const unsigned width = in.width;
    for (unsigned y = 0; y < in.height; ++y) {
        const std::uint8_t* s = src.row(y);
        std::uint8_t* d = out.row(y);
        const BYTE* m = kBayer[y & 7];
        unsigned acc = 0;
        for (unsigned x = 0; x < width; ++x) {
            unsigned t;
            if (in.bitCount == 24) {
                const std::uint8_t* p = s + 3 * x; // blue, green, red
                t = thresholds[redTerm[p[2]] + greenTerm[p[1]] + blueTerm[p[0]]];
            } else if (in.bitCount == 8) {
                t = indexThreshold[s[x]];
            } else {
                const std::uint8_t b = s[x >> 1];
                t = indexThreshold[(x & 1) ? (b & 0x0F) : (b >> 4)];
            }
            // Leftmost pixel in the most significant bit; a set bit is white.
            acc = (acc << 1) | (m[x & 7] < t ? 1u : 0u);
            if ((x & 7) == 7) {
                d[x >> 3] = BYTE(acc);
                acc = 0;
            }
        }
        if (width & 7)
            d[width >> 3] = BYTE(acc << (8 - (width & 7)));
    }
    return out.Release();
}

HGLOBAL DitherTo16(HGLOBAL source) {
    LockedDib src(source);
    if (!src)
        return nullptr;
    const DibLayout& in = src.layout();
    if (in.bitCount != 8 && in.bitCount != 24)
        return nullptr;
    // Index bit 0 is red, bit 1 green, bit 2 blue; entries 8 to 15 stay black.
    static constexpr PaletteTriple kCorners[16] = {
        {0, 0, 0},   {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
        {0, 0, 255}, {255, 0, 255}, {0, 255, 255}, {255, 255, 255},
    };
    Output out(in, kCorners, 4);
    if (!out)
        return nullptr;
    PaletteTriple palette[256];
    rastrum::ExtractPalette(src, palette);

    const unsigned width = in.width;
    for (unsigned y = 0; y < in.height; ++y) {
        const std::uint8_t* s = src.row(y);
        std::uint8_t* d = out.row(y);
        // This matrix is read by column x mod 8 and row y mod 8 swapped: M[x][y].
        unsigned threshold[8];
        for (int k = 0; k < 8; ++k)
            threshold[k] = 4u * kBayer[k][y & 7];
        for (unsigned x = 0; x < width; ++x) {
            unsigned r, g, b;
            if (in.bitCount == 24) {
                const std::uint8_t* p = s + 3 * x;
                r = p[2];
                g = p[1];
                b = p[0];
            } else {
                const PaletteTriple& c = palette[s[x]];
                r = c.red;
                g = c.green;
                b = c.blue;
            }
            const unsigned t = threshold[x & 7];
            const unsigned c = (r > t ? 1u : 0u) | (g > t ? 2u : 0u) | (b > t ? 4u : 0u);
            // Even pixel in the high nibble; the output starts zero, so OR keeps the other.
            d[x >> 1] |= BYTE((x & 1) ? c : c << 4);
        }
    }
    return out.Release();
}

inline BYTE AddClamped(BYTE value, int delta) {
    return BYTE(std::clamp(int(value) + delta, 0, 255));
}

// Adds k x the error units to the blue, green, red bytes of one pixel.
inline void Spread(std::uint8_t* p, int k, int eb, int eg, int er) {
    p[0] = AddClamped(p[0], k * eb);
    p[1] = AddClamped(p[1], k * eg);
    p[2] = AddClamped(p[2], k * er);
}

HGLOBAL DitherTo256(HGLOBAL source) {
    {
        LockedDib test(source);
        if (!test || test.layout().bitCount != 24)
            return nullptr;
    }
    // The error diffusion changes pixels, so it runs in a private copy.
    HGLOBAL work = rastrum::DuplicateDib(source);
    if (!work)
        return nullptr;
    HGLOBAL result = nullptr;
    {
        LockedDib copy(work);
        PaletteTriple cube[256];
        rastrum::BuildColorCubePalette(cube);
        if (copy) {
            const DibLayout& in = copy.layout();
            Output out(in, cube, 8);
            if (out) {
                const unsigned width = in.width;
                const unsigned height = in.height;
                for (unsigned y = 0; y < height; ++y) {
                    std::uint8_t* cur = copy.row(y);
                    // Row y + 1 is the next row in memory, the one above in the picture.
                    std::uint8_t* next = y + 1 < height ? copy.row(y + 1) : nullptr;
                    std::uint8_t* d = out.row(y);
                    for (unsigned x = 0; x < width; ++x) {
                        const std::uint8_t* p = cur + 3 * x;
                        const int b = p[0], g = p[1], r = p[2];
                        // Index bits RRRGGGBB: the top bits of each component.
                        const unsigned index =
                            unsigned(r & 0xE0) | unsigned((g >> 5) << 2) | unsigned(b >> 6);
                        d[x] = BYTE(index);
                        const PaletteTriple& q = cube[index];
                        // Error units: the difference / 16 rounded toward minus infinity.
                        const int er = (r - q.red) >> 4;
                        const int eg = (g - q.green) >> 4;
                        const int eb = (b - q.blue) >> 4;
                        if (next) {
                            if (x + 1 < width)
                                Spread(next + 3 * (x + 1), 1, eb, eg, er);
                            if (x >= 1)
                                Spread(next + 3 * (x - 1), 3, eb, eg, er);
                            Spread(next + 3 * x, 5, eb, eg, er);
                        }
                        if (x + 1 < width)
                            Spread(cur + 3 * (x + 1), 7, eb, eg, er);
                    }
                }
                result = out.Release();
            }
        }
    }
    GlobalFree(work);
    return result;
}

} // namespace

extern "C" {

HGLOBAL Dither2(HGLOBAL dib) {
    try {
        return DitherTo2(dib);
    } catch (...) {
        return nullptr;
    }
}

HGLOBAL Dither16(HGLOBAL dib) {
    try {
        return DitherTo16(dib);
    } catch (...) {
        return nullptr;
    }
}

HGLOBAL Dither256(HGLOBAL dib) {
    try {
        return DitherTo256(dib);
    } catch (...) {
        return nullptr;
    }
}

} // extern "C"
