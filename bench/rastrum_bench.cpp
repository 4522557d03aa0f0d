// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Speed of the three dithers on a 24-bit 2000 x 2000 picture of smooth
// gradients with noise, reported as pixels per second (items/s; Mpixel/s
// is that divided by a million). Each iteration is one full call: the output
// block, and for Dither256 the working copy, included.
#include "rastrum.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>

namespace {

constexpr int kSide = 2000;

HGLOBAL MakePicture() {
    const std::size_t stride = (kSide * 24 + 31) / 32 * 4;
    HGLOBAL dib = GlobalAlloc(GHND, 40 + stride * kSide);
    auto* bytes = static_cast<unsigned char*>(GlobalLock(dib));
    BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = kSide;
    h.biHeight = kSide;
    h.biPlanes = 1;
    h.biBitCount = 24;
    h.biSizeImage = DWORD(stride * kSide);
    std::memcpy(bytes, &h, 40);
    std::mt19937 rng(1);
    for (int y = 0; y < kSide; ++y) {
        unsigned char* row = bytes + 40 + y * stride;
        for (int x = 0; x < kSide; ++x) {
            const int noise = int(rng() % 32) - 16;
            row[3 * x] = static_cast<unsigned char>(std::clamp(x * 255 / kSide + noise, 0, 255));
            row[3 * x + 1] =
                static_cast<unsigned char>(std::clamp(y * 255 / kSide + noise, 0, 255));
            row[3 * x + 2] = static_cast<unsigned char>((x + y) * 255 / (2 * kSide));
        }
    }
    GlobalUnlock(dib);
    return dib;
}

void Run(benchmark::State& state, HGLOBAL (*dither)(HGLOBAL)) {
    HGLOBAL picture = MakePicture();
    for (auto _ : state) {
        HGLOBAL result = dither(picture);
        benchmark::DoNotOptimize(result);
        GlobalFree(result);
    }
    state.SetItemsProcessed(state.iterations() * std::int64_t(kSide) * kSide);
    state.counters["Mpixel/s"] = benchmark::Counter(double(kSide) * kSide / 1e6,
                                                    benchmark::Counter::kIsIterationInvariantRate);
    GlobalFree(picture);
}

void BM_RastrumDither2(benchmark::State& state) {
    Run(state, Dither2);
}
void BM_RastrumDither16(benchmark::State& state) {
    Run(state, Dither16);
}
void BM_RastrumDither256(benchmark::State& state) {
    Run(state, Dither256);
}

BENCHMARK(BM_RastrumDither2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RastrumDither16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RastrumDither256)->Unit(benchmark::kMillisecond);

} // namespace
