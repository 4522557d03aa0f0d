// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Scaling a grey picture to its drawn size and making it black and white.
// The scaler is separable and works one output row at a time, so that only
// the part of the picture that lands on the page is computed and memory
// stays at one source row of sums: down it averages the covered area (box
// filter with fractional edges), up it interpolates bilinearly between the
// pixel centres.
#include "PictureRender.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace folio {

namespace {

// For each output pixel of a window along one axis: the source pixels it
// is made of and their weights (summing to 1).
struct Taps {
    std::vector<int> first;
    std::vector<int> count;
    std::vector<std::size_t> start; // into weight
    std::vector<float> weight;
};

Taps axisTaps(int source, std::int64_t drawn, std::int64_t from, std::int64_t to) {
    Taps t;
    const std::size_t n = std::size_t(to - from);
    t.first.reserve(n);
    t.count.reserve(n);
    t.start.reserve(n);
    const double scale = double(source) / double(drawn); // source pixels per output pixel
    for (std::int64_t i = from; i < to; ++i) {
        t.start.push_back(t.weight.size());
        if (drawn == source) {
            t.first.push_back(int(i));
            t.count.push_back(1);
            t.weight.push_back(1.0f);
        } else if (drawn < source) {
            const double a = double(i) * scale, b = double(i + 1) * scale;
            const int k0 = std::clamp(int(std::floor(a)), 0, source - 1);
            const int k1 = std::clamp(int(std::ceil(b)), k0 + 1, source);
            t.first.push_back(k0);
            t.count.push_back(k1 - k0);
            for (int k = k0; k < k1; ++k) {
                const double cover = std::min(b, double(k + 1)) - std::max(a, double(k));
                t.weight.push_back(float(std::max(0.0, cover) / scale));
            }
        } else {
            const double x = std::clamp((double(i) + 0.5) * scale - 0.5, 0.0, double(source - 1));
            const int k = int(x);
            const float f = float(x - k);
            t.first.push_back(k);
            if (k + 1 < source && f > 0) {
                t.count.push_back(2);
                t.weight.push_back(1.0f - f);
                t.weight.push_back(f);
            } else {
                t.count.push_back(1);
                t.weight.push_back(1.0f);
            }
        }
    }
    return t;
}

// For each output pixel of a window along one axis, the source pixels
// [first, first + count) it stands for when line art is shrunk: those whose
// centres fall in its footprint, so that every source pixel belongs to
// exactly one output pixel; along an axis that is not shrunk, the nearest
// one.
struct Spans {
    std::vector<int> first, count;
};

Spans axisSpans(int source, std::int64_t drawn, std::int64_t from, std::int64_t to) {
    Spans s;
    const double scale = double(source) / double(drawn);
    // First source pixel whose centre lies at or after the footprint start
    // of output pixel i; the same expression for i and i + 1 makes the
    // spans of neighbours meet exactly.
    const auto lowest = [&](std::int64_t i) {
        return std::clamp(int(std::ceil(double(i) * scale - 0.5)), 0, source);
    };
    for (std::int64_t i = from; i < to; ++i) {
        int k0 = lowest(i), k1 = lowest(i + 1);
        if (drawn >= source || k1 <= k0) {
            k0 = std::clamp(int(std::floor((double(i) + 0.5) * scale)), 0, source - 1);
            k1 = k0 + 1;
        }
        s.first.push_back(k0);
        s.count.push_back(k1 - k0);
    }
    return s;
}

// Whether the source block `nc` x `nr` at (c0, r0) holds a thin stroke: a
// one-pixel diagonal through one of its pixels, or a row of it dark all
// across, or a column dark all down, that is part of a run of at least two
// pixels (a block one pixel wide looks at its neighbours), so that a lone
// dot of a checkerboard or a halftone is not a stroke; and that is thinner
// across than two page pixels (`perX`, `perY`: source pixels per page
// pixel), since a thicker one covers at least half of some page pixel and
// stays by the threshold, its edges unthickened.
bool holdsStroke(const GreyImage& p, int c0, int nc, int r0, int nr, double perX, double perY) {
    const auto dark = [&](int x, int y) { return p.Row(y)[x] < 128; };
    // Whether the dark line through (x, y), stepping (dx, dy) both ways, is
    // shorter than 2 `per`. `after`: the dark pixels counted past (x, y),
    // which lie in the same line, so a caller skips them once it is thick:
    // each pixel is looked at a bounded number of times, however large.
    const auto thin = [&](int x, int y, int dx, int dy, double per, int& after) {
        const int limit = int(2 * per);
        int n = 1;
        after = 0;
        for (int s = 1; s >= -1; s -= 2)
            for (int i = x + s * dx, j = y + s * dy;
                 n <= limit && i >= 0 && j >= 0 && i < p.width && j < p.height && dark(i, j);
                 i += s * dx, j += s * dy) {
                ++n;
                after += s > 0;
            }
        return n < 2 * per;
    };
    // A one-pixel diagonal: a dark pixel with its two neighbours along one
    // diagonal dark and the two along the other white (in a checkerboard
    // all four are dark). Its runs are one pixel long, so the test of rows
    // and columns below does not see it.
    const auto light = [&](int x, int y) {
        return x < 0 || y < 0 || x >= p.width || y >= p.height || !dark(x, y);
    };
    for (int y = r0; y < r0 + nr; ++y)
        for (int x = c0; x < c0 + nc; ++x)
            if (dark(x, y))
                for (const int d : {1, -1})
                    if (!light(x - d, y - 1) && !light(x + d, y + 1) && light(x + d, y - 1) &&
                        light(x - d, y + 1))
                        return true;
    int skip = 0;
    for (int y = r0; y < r0 + nr; ++y) {
        int x = c0;
        while (x < c0 + nc && dark(x, y))
            ++x;
        if (x == c0 + nc &&
            (nc >= 2 || (c0 > 0 && dark(c0 - 1, y)) || (c0 + 1 < p.width && dark(c0 + 1, y)))) {
            if (thin(c0, y, 0, 1, perY, skip))
                return true;
            y += skip;
        }
    }
    for (int x = c0; x < c0 + nc; ++x) {
        int y = r0;
        while (y < r0 + nr && dark(x, y))
            ++y;
        if (y == r0 + nr &&
            (nr >= 2 || (r0 > 0 && dark(x, r0 - 1)) || (r0 + 1 < p.height && dark(x, r0 + 1)))) {
            if (thin(x, r0, 1, 0, perX, skip))
                return true;
            x += skip;
        }
    }
    return false;
}

// The pixels `src`, `width` of them, black where below 128, into `row`.
// Below 128 is the high bit clear: eight pixels' high bits, gathered from
// a 64-bit word by one multiplication, are a byte of the row (pixel k,
// byte k of a little-endian word, lands on bit 7 - k).
void thresholdRow(const std::uint8_t* src, int width, std::uint8_t* row) {
    int x = 0;
    if constexpr (std::endian::native == std::endian::little)
        for (; x + 8 <= width; x += 8) {
            std::uint64_t v;
            std::memcpy(&v, src + x, 8);
            const std::uint64_t black = (~v & 0x8080808080808080u) >> 7;
            row[x >> 3] = std::uint8_t((black * 0x8040201008040201u) >> 56);
        }
    for (; x < width; x += 8) {
        unsigned bits = 0;
        for (int k = 0; k < 8 && x + k < width; ++k)
            bits |= unsigned(src[x + k] < 128) << (7 - k);
        row[x >> 3] = std::uint8_t(bits);
    }
}

void setBlack(Bitmap& b, int x, int y) {
    b.Row(y)[x >> 3] |= std::uint8_t(0x80 >> (x & 7));
}

} // namespace

bool IsLineArt(const GreyImage& picture) {
    std::uint64_t near = 0;
    const std::uint8_t* p = picture.pixels.data();
    const std::size_t size = picture.pixels.size();
    std::size_t i = 0;
#if defined(__SSE2__)
    // Sixteen pixels at a time, each lane counting up to 255 before the
    // lanes are summed.
    const __m128i black = _mm_set1_epi8(char(kNearBlack)), white = _mm_set1_epi8(char(kNearWhite));
    while (i + 16 <= size) {
        __m128i lanes = _mm_setzero_si128();
        for (const std::size_t end = std::min(size & ~std::size_t(15), i + 255 * 16); i < end;
             i += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            const __m128i dark = _mm_cmpeq_epi8(_mm_min_epu8(v, black), v);
            const __m128i light = _mm_cmpeq_epi8(_mm_max_epu8(v, white), v);
            lanes = _mm_sub_epi8(lanes, _mm_or_si128(dark, light));
        }
        const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
        near += std::uint64_t(_mm_cvtsi128_si32(sums)) + std::uint64_t(_mm_extract_epi16(sums, 4));
    }
#endif
    for (; i < size; ++i)
        near += p[i] <= kNearBlack || p[i] >= kNearWhite;
    return near * 100 >= std::uint64_t(size) * kLineArtPercent;
}

Bitmap RenderPicture(const GreyImage& picture, DrawnSize size, std::int64_t x0, std::int64_t y0,
                     std::int64_t x1, std::int64_t y1, bool lineArt) {
    Bitmap out;
    out.SetSize(int(x1 - x0), int(y1 - y0));
    if (lineArt && size.width == picture.width && size.height == picture.height) {
        // Drawn pixel for pixel (a fax page, a PDF page rendered at its
        // drawn size): the threshold alone, a byte of eight pixels at a time.
        for (int y = 0; y < out.Height(); ++y)
            thresholdRow(picture.Row(int(y0) + y) + x0, out.Width(), out.Row(y));
        return out;
    }
    const Taps across = axisTaps(picture.width, size.width, x0, x1);
    const Taps down = axisTaps(picture.height, size.height, y0, y1);
    const int w = out.Width(), h = out.Height();
    // Shrunk line art. Its strokes are its content, and a one-pixel rule
    // of a 300 dpi scan covers at most two thirds of a page pixel, under half
    // of each of the two it straddles in most places: by the mid-grey
    // threshold alone a third of such rules vanish (and a few at 200 dpi),
    // and a one-pixel diagonal breaks into dashes or vanishes.
    // So a page pixel is also black when the source pixels it stands for
    // hold a stroke through it (holdsStroke). Every source pixel stands for
    // one page pixel, so a rule comes out unbroken and one pixel thick, and
    // a stroke under two page pixels thick at most one pixel thicker:
    // harmless on a fax, where a lost line is not. Thicker strokes, dots
    // and checkerboards (halftoned scans) are left to the threshold, which
    // keeps them and their share. Enlarging loses nothing and is left to
    // the threshold too.
    const bool keepStrokes =
        lineArt && (size.width < picture.width || size.height < picture.height);
    const Spans cols = keepStrokes ? axisSpans(picture.width, size.width, x0, x1) : Spans{};
    const Spans rows = keepStrokes ? axisSpans(picture.height, size.height, y0, y1) : Spans{};
    const double perX = double(picture.width) / double(size.width);
    const double perY = double(picture.height) / double(size.height);
    const int spanLo = keepStrokes ? cols.first.front() : 0;
    std::vector<std::uint8_t> darkColumn(
        keepStrokes ? std::size_t(cols.first.back() + cols.count.back() - spanLo) : 0);
    // The source columns the window reads.
    const int colLo = across.first.front();
    const int colHi = across.first.back() + across.count.back();
    std::vector<float> sums(std::size_t(colHi - colLo));
    std::vector<float> grey(static_cast<std::size_t>(w));
    // Floyd-Steinberg error of this row and the next, one guard cell a side.
    std::vector<float> err(lineArt ? 0 : std::size_t(w) + 2), next(err.size());
    for (int y = 0; y < h; ++y) {
        std::fill(sums.begin(), sums.end(), 0.0f);
        for (int r = 0; r < down.count[std::size_t(y)]; ++r) {
            const float wt = down.weight[down.start[std::size_t(y)] + std::size_t(r)];
            const std::uint8_t* src = picture.Row(down.first[std::size_t(y)] + r) + colLo;
            for (std::size_t k = 0; k < sums.size(); ++k)
                sums[k] += wt * float(src[k]);
        }
        for (int x = 0; x < w; ++x) {
            const std::size_t i = std::size_t(x);
            const float* s = sums.data() + (across.first[i] - colLo);
            const float* wt = across.weight.data() + across.start[i];
            float v = 0;
            for (int k = 0; k < across.count[i]; ++k)
                v += wt[k] * s[k];
            grey[i] = v;
        }
        if (lineArt) {
            const int r0 = keepStrokes ? rows.first[std::size_t(y)] : 0;
            const int nr = keepStrokes ? rows.count[std::size_t(y)] : 0;
            // Which source columns of this row's span hold a dark pixel: a
            // stroke needs one in its block, and most blocks are paper.
            std::fill(darkColumn.begin(), darkColumn.end(), std::uint8_t(0));
            for (int r = r0; r < r0 + nr; ++r) {
                const std::uint8_t* src = picture.Row(r) + spanLo;
                for (std::size_t k = 0; k < darkColumn.size(); ++k)
                    darkColumn[k] |= std::uint8_t(src[k] < 128);
            }
            for (int x = 0; x < w; ++x) {
                const std::size_t i = std::size_t(x);
                bool black = grey[i] < 127.5f;
                if (!black && keepStrokes) {
                    const auto from = darkColumn.begin() + (cols.first[i] - spanLo);
                    black = std::find(from, from + cols.count[i], std::uint8_t(1)) !=
                                from + cols.count[i] &&
                            holdsStroke(picture, cols.first[i], cols.count[i], r0, nr, perX, perY);
                }
                if (black)
                    setBlack(out, x, y);
            }
            continue;
        }
        std::fill(next.begin(), next.end(), 0.0f);
        for (int x = 0; x < w; ++x) {
            const std::size_t c = std::size_t(x) + 1;
            const float v = grey[std::size_t(x)] + err[c];
            const bool black = v < 127.5f;
            if (black)
                setBlack(out, x, y);
            const float e = v - (black ? 0.0f : 255.0f);
            err[c + 1] += e * (7.0f / 16);
            next[c - 1] += e * (3.0f / 16);
            next[c] += e * (5.0f / 16);
            next[c + 1] += e * (1.0f / 16);
        }
        err.swap(next);
    }
    return out;
}

} // namespace folio
