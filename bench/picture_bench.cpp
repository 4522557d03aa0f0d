// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The picture path without the rest of a build: a 4000 x 3000 colour JPEG
// photo at 1360 dpi (drawn 600 x 450 pixels) decoded, scaled and diffused,
// as FILE=photo.jpg,JPG does it. The photo is made once in memory with
// libjpeg: smooth shapes under fine noise, so that every block has detail.
// Also a 1-bit A4 scan at 300 dpi (drawn at page size) of text-like strokes
// and one-pixel rules, scaled and thresholded with its strokes kept.
#include "Picture.h"
#include "PictureDecoders.h"
#include "PictureRender.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

#include <cstdlib>
#include <vector>

namespace {

const std::vector<unsigned char>& photo() {
    static const std::vector<unsigned char> bytes = [] {
        const int w = 4000, h = 3000;
        jpeg_compress_struct c{};
        jpeg_error_mgr err{};
        c.err = jpeg_std_error(&err);
        jpeg_create_compress(&c);
        unsigned char* out = nullptr;
        unsigned long size = 0;
        jpeg_mem_dest(&c, &out, &size);
        c.image_width = w;
        c.image_height = h;
        c.input_components = 3;
        c.in_color_space = JCS_RGB;
        jpeg_set_defaults(&c);
        jpeg_set_quality(&c, 90, TRUE);
        c.density_unit = 1;
        c.X_density = c.Y_density = 1360;
        jpeg_start_compress(&c, TRUE);
        std::vector<JSAMPLE> row(std::size_t(w) * 3);
        unsigned seed = 1;
        while (c.next_scanline < c.image_height) {
            const int y = int(c.next_scanline);
            for (int x = 0; x < w; ++x) {
                seed = seed * 1103515245u + 12345u;
                const int noise = int(seed >> 26) - 32;
                const double v = 128 + 90 * std::sin(x / 300.0) * std::cos(y / 170.0);
                for (int k = 0; k < 3; ++k)
                    row[std::size_t(x) * 3 + k] =
                        JSAMPLE(std::clamp(int(v) + noise + k * 20 - 20, 0, 255));
            }
            JSAMPROW r = row.data();
            jpeg_write_scanlines(&c, &r, 1);
        }
        jpeg_finish_compress(&c);
        std::vector<unsigned char> v(out, out + size);
        jpeg_destroy_compress(&c);
        std::free(out);
        return v;
    }();
    return bytes;
}

void BM_PictureJpegPhoto(benchmark::State& state) {
    const auto& file = photo();
    for (auto _ : state) {
        const folio::GreyImage p = folio::DecodeJpeg(file.data(), file.size(), {});
        const folio::DrawnSize size =
            folio::DrawnSizeOf(p.storedWidth, p.storedHeight, p.dpiX, p.dpiY);
        const folio::Bitmap b =
            folio::RenderPicture(p, size, 0, 0, size.width, size.height, folio::IsLineArt(p));
        benchmark::DoNotOptimize(b.Bits());
    }
    state.counters["file_MB"] = double(file.size()) / 1e6;
}
BENCHMARK(BM_PictureJpegPhoto)->Unit(benchmark::kMillisecond);

// 2480 x 3508 at 300 dpi: lines of "glyphs" (strokes 1 to 4 pixels thick,
// a one-pixel rule under every tenth line), as a scanned letter has.
void BM_PictureLineArtScan(benchmark::State& state) {
    folio::GreyImage p;
    p.width = p.storedWidth = 2480;
    p.height = p.storedHeight = 3508;
    p.dpiX = p.dpiY = 300;
    p.pixels.assign(std::size_t(p.width) * std::size_t(p.height), 255);
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            const int line = y / 50, gy = y % 50, gx = x % 24, glyph = x / 24 + line * 7;
            const int thick = 1 + glyph % 4;
            const bool stroke =
                gy >= 10 && gy < 40 && (gx < thick || (gy - 10 + glyph % 3 * 7) % 15 < thick);
            if (stroke || (line % 10 == 9 && gy == 45))
                p.Row(y)[x] = 0;
        }
    for (auto _ : state) {
        const folio::DrawnSize size = folio::DrawnSizeOf(p.width, p.height, p.dpiX, p.dpiY);
        const folio::Bitmap b =
            folio::RenderPicture(p, size, 0, 0, size.width, size.height, folio::IsLineArt(p));
        benchmark::DoNotOptimize(b.Bits());
    }
}
BENCHMARK(BM_PictureLineArtScan)->Unit(benchmark::kMillisecond);

} // namespace
