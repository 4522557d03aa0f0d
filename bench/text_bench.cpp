// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Setting a page of text through the canvas: 54 lines of 90 characters of
// Arial 25 pt on a 1728 x 2200 page, with the glyph cache warm. One variant
// draws every character by its own TextOut after measuring it, as the text
// layout does; the other draws each line with one TextOut.
#include "BenchPage.h"
#include "Canvas.h"

#include <benchmark/benchmark.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int kLines = 54;
constexpr int kColumns = 90;

std::vector<std::string> pageText() {
    const std::string words = "The quick brown fox jumps over the lazy dog; Folioset sets fax "
                              "pages (0123456789) from macros, with WORD WRAPPING and styles. ";
    std::vector<std::string> lines;
    for (int i = 0; i < kLines; ++i) {
        std::string line;
        for (int k = 0; int(line.size()) < kColumns; ++k)
            line += words[(std::size_t(i) * 7 + std::size_t(k)) % words.size()];
        lines.push_back(line);
    }
    return lines;
}

// Sets the page's lines on a cleared Arial page per iteration, each line by
// `setLine(canvas, y, line)`.
template <class SetLine> void setPages(benchmark::State& state, SetLine setLine) {
    ArialPage arial;
    folio::Canvas& c = arial.canvas;
    const auto lines = pageText();
    const int lineHeight = c.TextHeight("Yy");
    for (auto _ : state) {
        arial.page.Fill(false);
        int y = 40;
        for (const std::string& line : lines) {
            setLine(c, y, line);
            y += lineHeight;
        }
        benchmark::DoNotOptimize(arial.page.Bits());
    }
    state.SetItemsProcessed(state.iterations() * kLines * kColumns);
}

void BM_TextPageByCharacter(benchmark::State& state) {
    setPages(state, [](folio::Canvas& c, int y, const std::string& line) {
        int x = 20;
        for (std::size_t i = 0; i < line.size(); ++i) {
            std::string_view ch(line.data() + i, 1);
            const int w = c.TextWidth(ch);
            c.TextOut(x, y, ch);
            x += w;
        }
    });
}
BENCHMARK(BM_TextPageByCharacter)->Unit(benchmark::kMillisecond);

void BM_TextPageByLine(benchmark::State& state) {
    setPages(state,
             [](folio::Canvas& c, int y, const std::string& line) { c.TextOut(20, y, line); });
}
BENCHMARK(BM_TextPageByLine)->Unit(benchmark::kMillisecond);

} // namespace
