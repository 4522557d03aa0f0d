// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Cost of one fax page in the TIFF writer, per coding: our encoders (Group 3
// 1-D and 2-D, Group 4) against libtiff's own for the same tags (the same
// file). A page is a default 1728 x 2200 page handed over as the engine does;
// the time covers checking the block, coding it and writing the page's strip
// and directory to a file in the page cache.
#include "tiflib32.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <unistd.h>

namespace {

constexpr int kWidth = 1728, kHeight = 2200;
constexpr int kStride = (kWidth + 31) / 32 * 4;

enum Content { Text, Blank, Noise };

// A page block as the engine makes it. Text is lines of letter-sized marks
// (about 10 point type at fax resolution) over most of the page; noise is
// every pixel at random, the encoder's worst case.
HGLOBAL makePage(Content content) {
    HGLOBAL block = GlobalAlloc(TIFLIB_GMEM_MOVEABLE | TIFLIB_GMEM_ZEROINIT,
                                48 + std::size_t(kStride) * kHeight);
    auto* p = static_cast<std::uint8_t*>(GlobalLock(block));
    const std::uint32_t header[10] = {
        40, kWidth, kHeight, 0x00010001u, 0, std::uint32_t(kStride * kHeight), 0, 0, 2, 2};
    std::memcpy(p, header, sizeof header);
    p[44] = p[45] = p[46] = 255;
    std::uint8_t* rows = p + 48; // bottom row first
    std::mt19937 random(42);
    auto set = [&](int x, int y) { rows[(kHeight - 1 - y) * kStride + x / 8] |= 0x80 >> (x % 8); };
    if (content == Noise) {
        for (int i = 0; i < kStride * kHeight; ++i)
            rows[i] = std::uint8_t(random());
    } else if (content == Text) {
        for (int top = 150; top + 40 < kHeight - 150; top += 44) {
            for (int x = 140; x + 30 < kWidth - 140; x += 24) {
                if (random() % 7 == 0)
                    continue; // a space
                // A letter: a few vertical and horizontal strokes in a 20 x 28 cell.
                for (int s = 0; s < 3; ++s) {
                    int sx = x + int(random() % 16), sy = top + int(random() % 20);
                    bool vertical = random() % 2;
                    for (int i = 0; i < (vertical ? 28 - (sy - top) : 14); ++i)
                        for (int t = 0; t < 3; ++t)
                            vertical ? set(sx + t, sy + i) : set(sx + i, sy + t);
                }
            }
        }
    }
    GlobalUnlock(block);
    return block;
}

void BM_TiffPage(benchmark::State& state, int mode, Content content) {
    SetFaxCompression(mode);
    char folder[] = "/tmp/tiflib-bench-XXXXXX";
    if (!::mkdtemp(folder)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::string name = std::string(folder) + "/bench.tif";
    HGLOBAL page = makePage(content);
    // One long document, restarted every 64 pages so the file stays small;
    // the restart drops the unfinished one.
    constexpr int kCount = 1000, kRestart = 64;
    int index = 0;
    for (auto _ : state) {
        if (!WriteGraphicFile(name.c_str(), page, index, kCount)) {
            state.SkipWithError(TiflibLastError());
            break;
        }
        index = (index + 1) % kRestart;
    }
    WriteGraphicFile(name.c_str(), page, -1, kCount); // drop the open document
    GlobalFree(page);
    ::rmdir(folder);
    SetFaxCompression(TIFLIB_FAX_G3_1D);
}

// BM_TiffPage/<coding>_<own|libtiff>_<page>, e.g. BM_TiffPage/g4_own_text.
const bool kRegistered = [] {
    const struct {
        const char* name;
        int own, libtiff;
    } codings[] = {{"g3_1d", TIFLIB_FAX_G3_1D, TIFLIB_FAX_G3_1D_REFERENCE},
                   {"g3_2d", TIFLIB_FAX_G3_2D, TIFLIB_FAX_G3_2D_REFERENCE},
                   {"g4", TIFLIB_FAX_G4, TIFLIB_FAX_G4_REFERENCE}};
    const struct {
        const char* name;
        Content content;
    } pages[] = {{"text", Text}, {"blank", Blank}, {"noise", Noise}};
    for (const auto& c : codings)
        for (const auto& p : pages)
            for (bool own : {true, false}) {
                const std::string name =
                    std::string("BM_TiffPage/") + c.name + (own ? "_own_" : "_libtiff_") + p.name;
                benchmark::RegisterBenchmark(name.c_str(), BM_TiffPage, own ? c.own : c.libtiff,
                                             p.content)
                    ->Unit(benchmark::kMillisecond);
            }
    return true;
}();

} // namespace
