// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The hot paths of turning text into fax pages, each on its own: measuring
// and setting one glyph, PrintLine of a typical line, clearing a page,
// parking a page, reading a page out into a page block, and coding one page
// with the Group 3 1-D encoder. The pages are real text pages, set by the
// library engine from lines like the benchmark document's (Arial 25 pt,
// 68 characters a line on average). The Floor benchmarks are what the
// machine needs at the least for a page: clearing it, copying it once, and
// writing its coded bytes to a file.
#include "BenchPage.h"
#include "Canvas.h"
#include "FaxImage.h"
#include "G3Encoder.h"
#include "PagePack.h"
#include "tiflib32.h"

#include <benchmark/benchmark.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

// Lines in the manner of bench/make_document.py: words from a small
// vocabulary, lengths spread from 20 to 116 characters around 68.
std::vector<std::string> documentLines(int count) {
    static const char* const kWords[] = {
        "the",       "of",           "and",      "to",       "in",      "is",         "that",
        "for",       "it",           "as",       "with",     "was",     "on",         "be",
        "by",        "this",         "are",      "at",       "from",    "or",         "have",
        "an",        "they",         "which",    "one",      "you",     "were",       "all",
        "account",   "invoice",      "delivery", "freight",  "order",   "payment",    "customer",
        "warehouse", "schedule",     "quantity", "December", "January", "Portsmouth", "Manchester",
        "reference", "confirmation", "document", "pages"};
    std::mt19937 random(20261207);
    std::vector<std::string> lines;
    for (int i = 0; i < count; ++i) {
        // Sum of two uniforms: a triangle from 20 to 116, peak at 68.
        const int target = 20 + int(random() % 49) + int(random() % 49);
        std::string line;
        while (int(line.size()) < target) {
            std::string w = kWords[random() % (sizeof kWords / sizeof *kWords)];
            if (random() % 100 < 8)
                w[0] = char(std::toupper(static_cast<unsigned char>(w[0])));
            if (random() % 100 < 5)
                w += ",.;:"[random() % 4];
            if (!line.empty())
                line += ' ';
            line += w;
        }
        line.resize(std::size_t(target));
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// A full page of text set by the engine, as a bitmap copy.
const folio::Bitmap& textPage() {
    static const folio::Bitmap page = [] {
        FaxImage fax;
        for (const std::string& line : documentLines(50))
            fax.PrintLine(line.c_str());
        return fax.Image->Picture();
    }();
    return page;
}

folio::tiflib::PageView viewOf(const folio::Bitmap& page) {
    folio::tiflib::PageView view;
    view.width = std::uint32_t(page.Width());
    view.height = std::uint32_t(page.Height());
    view.top = page.Bits();
    view.step = page.Stride();
    view.rowBytes = std::size_t(page.Stride());
    return view;
}

void BM_TextWidthOneCharacter(benchmark::State& state) {
    ArialPage arial;
    folio::Canvas& canvas = arial.canvas;
    const std::string text = documentLines(1)[0];
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(canvas.TextWidth(std::string_view(text.data() + i, 1)));
        i = i + 1 == text.size() ? 0 : i + 1;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TextWidthOneCharacter);

// One character's TextOut: the cell filled with the brush, the glyph set.
void BM_TextOutOneCharacter(benchmark::State& state) {
    ArialPage arial;
    folio::Canvas& canvas = arial.canvas;
    const std::string text = documentLines(1)[0];
    std::size_t i = 0;
    int x = 100, y = 100;
    for (auto _ : state) {
        const std::string_view ch(text.data() + i, 1);
        canvas.TextOut(x, y, ch);
        x += 15;
        if (x > 1600) {
            x = 100;
            y = y > 2000 ? 100 : y + 37;
        }
        i = i + 1 == text.size() ? 0 : i + 1;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TextOutOneCharacter);

// A document line through the library's text layout, on one page (the pen
// goes back to the top before the page would break).
void BM_PrintLine(benchmark::State& state) {
    FaxImage fax;
    const auto lines = documentLines(200);
    std::size_t i = 0;
    std::int64_t characters = 0;
    for (auto _ : state) {
        if (fax.Y + 80 >= fax.Bottom)
            fax.Y = fax.Top;
        fax.PrintLine(lines[i].c_str());
        characters += std::int64_t(lines[i].size());
        i = i + 1 == lines.size() ? 0 : i + 1;
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["chars"] = benchmark::Counter(double(characters), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PrintLine)->Unit(benchmark::kMicrosecond);

void BM_ClearPage(benchmark::State& state) {
    FaxImage fax;
    for (auto _ : state) {
        fax.ClearPage();
        benchmark::DoNotOptimize(fax.Image->Picture().Bits());
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(fax.Image->Picture().ByteCount()));
}
BENCHMARK(BM_ClearPage)->Unit(benchmark::kMicrosecond);

// A text page into its packed form and back (what leaving a page and going
// back to it costs).
void BM_PackTextPage(benchmark::State& state) {
    const folio::Bitmap& page = textPage();
    std::vector<std::uint8_t> packed;
    for (auto _ : state) {
        folio::PackPage(page, packed);
        benchmark::DoNotOptimize(packed.data());
    }
    state.counters["packed_bytes"] = double(packed.size());
}
BENCHMARK(BM_PackTextPage)->Unit(benchmark::kMicrosecond);

// Reading a page out into a page block's pixel area (bottom-up rows, padding
// bits set), from the bitmap of the current page and from a parked page.
void BM_ReadOutPage(benchmark::State& state) {
    PageImage image;
    image.Blank(1728, 2200);
    std::memcpy(image.Picture().Bits(), textPage().Bits(), textPage().ByteCount());
    if (state.range(0))
        image.Park();
    const int stride = textPage().Stride();
    std::vector<std::uint8_t> block(std::size_t(stride) * 2200);
    for (auto _ : state) {
        image.ReadRows(block.data() + std::size_t(2199) * stride, -stride, true);
        benchmark::DoNotOptimize(block.data());
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(block.size()));
}
BENCHMARK(BM_ReadOutPage)->ArgName("parked")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_EncodeG3TextPage(benchmark::State& state) {
    const folio::tiflib::PageView view = viewOf(textPage());
    std::vector<std::uint8_t> out;
    for (auto _ : state) {
        folio::tiflib::EncodeG3OneD(view, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["coded_bytes"] = double(out.size());
}
BENCHMARK(BM_EncodeG3TextPage)->Unit(benchmark::kMicrosecond);

// The floor: clearing a page, one copy of it, and writing 96 KB (a coded
// text page) to a file in the page cache.
void BM_FloorClearPage(benchmark::State& state) {
    std::vector<std::uint8_t> page(475200);
    for (auto _ : state) {
        std::memset(page.data(), 0, page.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(page.size()));
}
BENCHMARK(BM_FloorClearPage)->Unit(benchmark::kMicrosecond);

void BM_FloorCopyPage(benchmark::State& state) {
    std::vector<std::uint8_t> from(475200, 0x5A), to(475200);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), to.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * std::int64_t(to.size()));
}
BENCHMARK(BM_FloorCopyPage)->Unit(benchmark::kMicrosecond);

void BM_FloorWriteCodedPage(benchmark::State& state) {
    char path[] = "/tmp/folio-floor-XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0) {
        state.SkipWithError("no temporary file");
        return;
    }
    ::unlink(path);
    const std::vector<std::uint8_t> bytes(96 * 1024, 0x11);
    int pages = 0;
    for (auto _ : state) {
        if (++pages == 128) { // a document's worth, then start again
            pages = 0;
            if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0)
                break;
        }
        if (::write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size())) {
            state.SkipWithError("write failed");
            break;
        }
    }
    ::close(fd);
}
BENCHMARK(BM_FloorWriteCodedPage)->Unit(benchmark::kMicrosecond);

} // namespace
