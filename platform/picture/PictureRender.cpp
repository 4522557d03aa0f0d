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
#include <cmath>

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

void setBlack(Bitmap& b, int x, int y) {
    b.Row(y)[x >> 3] |= std::uint8_t(0x80 >> (x & 7));
}

} // namespace

bool IsLineArt(const GreyImage& picture) {
    std::uint64_t near = 0;
    for (const std::uint8_t v : picture.pixels)
        near += v <= kNearBlack || v >= kNearWhite;
    return near * 100 >= std::uint64_t(picture.pixels.size()) * kLineArtPercent;
}

Bitmap RenderPicture(const GreyImage& picture, DrawnSize size, std::int64_t x0, std::int64_t y0,
                     std::int64_t x1, std::int64_t y1, bool lineArt) {
    Bitmap out;
    out.SetSize(int(x1 - x0), int(y1 - y0));
    const Taps across = axisTaps(picture.width, size.width, x0, x1);
    const Taps down = axisTaps(picture.height, size.height, y0, y1);
    const int w = out.Width(), h = out.Height();
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
            for (int x = 0; x < w; ++x)
                if (grey[std::size_t(x)] < 127.5f)
                    setBlack(out, x, y);
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
