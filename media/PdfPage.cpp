// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// PDF through poppler's command-line tools. pdftoppm writes a binary PGM
// (P5, maxval 255, one byte a pixel, rows top-down, 0 black), which is read
// here with the same distrust as any picture file: every number checked
// against the bytes that came and the budget before anything is kept.
#include "PdfPage.h"

#include "ToolProcess.h"

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string_view>
#include <thread>
#include <utility>

namespace folio {

namespace {

const char* const kMissingTool = "PDF pages are drawn by poppler's pdftoppm and read by pdfinfo, "
                                 "which are not installed (Debian package poppler-utils)";

// The renderer's own reason: the last line it wrote on standard error.
std::string reasonOf(const ToolResult& r) {
    std::string text = r.errors;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    const std::size_t line = text.rfind('\n');
    if (line != std::string::npos)
        text.erase(0, line + 1);
    if (text.empty())
        text = r.status >= 0 ? "it stopped with status " + std::to_string(r.status)
                             : "it was stopped by a signal (memory or time limit)";
    return text;
}

// One number of the PGM header after whitespace and comments.
bool headerNumber(std::string_view s, std::size_t& at, long long& value) {
    while (at < s.size()) {
        if (s[at] == '#') {
            while (at < s.size() && s[at] != '\n')
                ++at;
        } else if (std::isspace(static_cast<unsigned char>(s[at]))) {
            ++at;
        } else {
            break;
        }
    }
    const std::size_t start = at;
    value = 0;
    while (at < s.size() && std::isdigit(static_cast<unsigned char>(s[at])) && at - start < 9)
        value = value * 10 + (s[at++] - '0');
    return at > start;
}

enum class Header { Whole, Short, Bad };

// The header of a binary PGM at the start of `s`: "P5", the width, height
// and maxval 255 (whitespace and comments between), and the one whitespace
// byte before the pixels, `length` bytes in all. Short when `s` ends before
// the header is known to be whole: a number running to its end may go on.
Header pgmHeader(std::string_view s, long long& width, long long& height, std::size_t& length) {
    if (s.size() < 2)
        return s.empty() || s[0] == 'P' ? Header::Short : Header::Bad;
    if (s.substr(0, 2) != "P5")
        return Header::Bad;
    std::size_t at = 2;
    long long maxval = 0;
    for (long long* number : {&width, &height, &maxval}) {
        if (!headerNumber(s, at, *number))
            return at >= s.size() ? Header::Short : Header::Bad;
        if (at >= s.size())
            return Header::Short;
    }
    if (maxval != 255 || !std::isspace(static_cast<unsigned char>(s[at])))
        return Header::Bad;
    length = at + 1;
    return Header::Whole;
}

// The longest PGM header taken, comments included.
constexpr std::size_t kMaxPgmHeader = 4096;

} // namespace

std::vector<GreyImage> ReadPgmPages(const std::string& s, const std::string& p,
                                    const PictureBudget& budget) {
    std::vector<GreyImage> pages;
    std::size_t at = 0;
    while (at < s.size()) {
        long long width = 0, height = 0;
        std::size_t length = 0;
        if (pgmHeader(std::string_view(s).substr(at), width, height, length) != Header::Whole)
            throw PictureError("pdftoppm gave no grey page for page " + p);
        const std::size_t next = at + length;
        CheckPictureSize(width, height, budget);
        const std::uint64_t bytes = std::uint64_t(width) * std::uint64_t(height);
        if (std::uint64_t(s.size() - next) < bytes)
            throw PictureError("pdftoppm's page " + p + " is cut short");
        GreyImage image;
        image.width = image.storedWidth = int(width);
        image.height = image.storedHeight = int(height);
        image.dpiX = kPdfDpiX;
        image.dpiY = kPdfDpiY;
        image.pixels.assign(s.begin() + std::ptrdiff_t(next),
                            s.begin() + std::ptrdiff_t(next + std::size_t(bytes)));
        pages.push_back(std::move(image));
        at = next + std::size_t(bytes);
    }
    if (pages.empty())
        throw PictureError("pdftoppm gave no grey page for page " + p);
    return pages;
}

namespace {

// A run of the renderer that gives the pages `next`, `next + step`, ... up
// to `last`, read one at a time as they are drawn.
struct PageStream {
    ToolProcess tool;
    int next = 0, step = 1, last = 0;
};

// What this thread renders, for the document last asked about: its pages'
// sizes, once they are needed, and the runs of the renderer giving the
// pages that follow the one last drawn. A document read page after page
// (a whole PDF made a fax) is rendered by runs that go on ahead while the
// pages before are drawn and coded, one for the odd pages and one for the
// even ones, so that two cores render at once, and each run parses the
// document once for all its pages.
struct RenderState {
    std::size_t document = 0; // a hash of the document's bytes and its size
    int lastPage = 0;         // the page drawn last
    bool sizesRead = false;   // pdfinfo has been asked; `sizes` empty if it failed
    std::vector<PdfPageSize> sizes;
    // The size the runs render each page at; 0 x 0 at the fax grid's dpi,
    // swapped for pages turned a quarter when `turned`.
    std::int64_t width = 0, height = 0;
    bool turned = false;
    std::vector<std::unique_ptr<PageStream>> streams;
};

thread_local RenderState tRender;
// The innermost WholePdfScope of this thread.
thread_local const WholePdfScope* tWhole = nullptr;

// Whether pages `a` and `b` (1 for the first) have the same size.
bool sameSize(const std::vector<PdfPageSize>& sizes, int a, int b) {
    return sizes[std::size_t(a - 1)].width == sizes[std::size_t(b - 1)].width &&
           sizes[std::size_t(a - 1)].height == sizes[std::size_t(b - 1)].height;
}

// Whether page `page` is turned a quarter, as far as pdfinfo told.
bool quarterTurned(const std::vector<PdfPageSize>& sizes, int page) {
    return page <= int(sizes.size()) && sizes[std::size_t(page - 1)].quarterTurned;
}

// Starts a run of the renderer for pages `first`, `first + step`, ... up
// to `last` at `width` x `height` (0: the fax grid's dpi, swapped across
// and down for pages turned a quarter: `turned`).
std::unique_ptr<PageStream> startStream(const std::string& bytes, int first, int step, int last,
                                        std::int64_t width, std::int64_t height, bool turned,
                                        const PictureBudget& budget) {
    // No anti-aliasing: the page is made black and white, and a stroke
    // drawn whole in black is kept whole by the threshold, where one spread
    // into greys over two rows may fall under it. The crop box is the page
    // a viewer shows and the size pdfinfo gives.
    std::vector<std::string> argv = {"pdftoppm", "-gray", "-aa", "no", "-aaVector", "no",
                                     "-cropbox"};
    if (width > 0) {
        // Each side scaled to its size; a turned page is given its sides
        // upright, as drawn.
        for (const std::string& a : {std::string("-scale-dimension-before-rotation"),
                                     std::string("-scale-to-x"), std::to_string(width),
                                     std::string("-scale-to-y"), std::to_string(height)})
            argv.push_back(a);
    } else {
        // The resolutions are those of the page before it is turned: a page
        // turned a quarter has its shown width along its unturned height.
        for (const std::string& a :
             {std::string("-rx"), std::to_string(turned ? kPdfDpiY : kPdfDpiX),
              std::string("-ry"), std::to_string(turned ? kPdfDpiX : kPdfDpiY)})
            argv.push_back(a);
    }
    for (const std::string& a : {std::string("-f"), std::to_string(first), std::string("-l"),
                                 std::to_string(last)})
        argv.push_back(a);
    if (step == 2)
        argv.push_back(first % 2 ? "-o" : "-e");
    argv.push_back("-"); // the document on standard input, the pages on standard output
    auto stream = std::make_unique<PageStream>();
    stream->next = first;
    stream->step = step;
    stream->last = last;
    ToolLimits limits;
    limits.deadline = budget.deadline;
    std::string error;
    if (!stream->tool.Start(argv, bytes, limits, error))
        throw PictureError(error);
    if (stream->tool.NotFound())
        throw PictureError(kMissingTool);
    return stream;
}

// The next page of `stream`, page `page` of `name`.
GreyImage takePage(PageStream& stream, int page, const std::string& name,
                   const PictureBudget& budget) {
    ToolProcess& tool = stream.tool;
    const std::string p = std::to_string(page);
    long long width = 0, height = 0;
    std::size_t length = 0;
    Header header = Header::Short;
    for (std::size_t want = 32;; want = tool.Buffered().size() + 32) {
        const bool more = tool.Fill(want, budget.deadline);
        header = pgmHeader(tool.Buffered(), width, height, length);
        if (header != Header::Short || !more || tool.Buffered().size() > kMaxPgmHeader)
            break;
    }
    if (tool.TimedOut())
        PictureOutOfTime();
    if (header != Header::Whole) {
        if (!tool.Buffered().empty())
            throw PictureError("pdftoppm gave no grey page for page " + p);
        // The run ended before the page: the renderer's reason.
        ToolResult r;
        r.status = tool.Finish(budget.deadline);
        r.errors = tool.Errors();
        if (tool.NotFound())
            throw PictureError(kMissingTool);
        if (tool.TimedOut())
            PictureOutOfTime();
        throw PictureError("pdftoppm cannot draw page " + p + ": " + reasonOf(r));
    }
    tool.Consume(length);
    try {
        CheckPictureSize(width, height, budget);
    } catch (const PictureBudgetError&) {
        throw PictureBudgetError("page " + p + " of " + name +
                                 " is larger than this fax's pictures may be");
    }
    GreyImage image;
    image.width = image.storedWidth = int(width);
    image.height = image.storedHeight = int(height);
    image.dpiX = kPdfDpiX;
    image.dpiY = kPdfDpiY;
    const std::size_t bytes = std::size_t(width) * std::size_t(height);
    image.pixels.resize(bytes);
    if (tool.Read(reinterpret_cast<char*>(image.pixels.data()), bytes, budget.deadline) < bytes) {
        if (tool.TimedOut())
            PictureOutOfTime();
        throw PictureError("pdftoppm's page " + p + " is cut short");
    }
    stream.next += stream.step;
    if (stream.next > stream.last)
        tool.Stop(); // it has given all its pages
    return image;
}

} // namespace

WholePdfScope::WholePdfScope(std::vector<PdfPageSize> sizes)
    : sizes_(std::move(sizes)), outer_(tWhole) {
    tWhole = this;
}

WholePdfScope::~WholePdfScope() {
    tWhole = outer_;
}

void ReleasePdfRenderers() {
    tRender.streams.clear();
    // The next build that draws a page of it starts afresh.
    tRender.lastPage = 0;
}

GreyImage RenderPdfPage(const std::string& bytes, const std::string& name, int page,
                        const PictureBudget& budget) {
    if (page < 1 || page > 100000)
        throw PictureError("page " + std::to_string(page) + " of " + name + " is not a page number");
    CheckPictureTime(budget);
    RenderState& state = tRender;
    const std::size_t document = std::hash<std::string_view>{}(bytes) ^ bytes.size();
    if (state.document != document) {
        state = RenderState{};
        state.document = document;
    }
    // Drawn at a size the FILE command gives, the page is rendered at that
    // size, which leaves only the threshold to do; its size at the fax
    // grid's dpi, from pdfinfo, stays its natural size. A page drawn larger
    // than that is rendered at the grid and enlarged, as the budget counts it.
    // Rendered at the grid, pdfinfo tells whether the page is turned.
    std::int64_t width = budget.wantWidth > 0 && budget.wantHeight > 0 ? budget.wantWidth : 0;
    std::int64_t height = width > 0 ? budget.wantHeight : 0;
    const bool sequential = tWhole || (page > 1 && page == state.lastPage + 1);
    if (!state.sizesRead) {
        state.sizesRead = true;
        std::string error;
        if (tWhole)
            state.sizes = tWhole->Sizes();
        else if (!ReadPdfPageSizes(
                     name, bytes, 100000,
                     std::min(budget.deadline,
                              std::chrono::steady_clock::now() + std::chrono::seconds(30)),
                     state.sizes, error))
            state.sizes.clear(); // pdftoppm will give the reason
    }
    const int pages = int(state.sizes.size());
    std::int64_t naturalWidth = 0, naturalHeight = 0;
    if (width > 0 && page <= pages) {
        const PdfPageSize& size = state.sizes[std::size_t(page - 1)];
        // As pdftoppm rounds a page's size at a resolution: up.
        naturalWidth = std::int64_t(std::ceil(size.width * (kPdfDpiX / 72.0)));
        naturalHeight = std::int64_t(std::ceil(size.height * (kPdfDpiY / 72.0)));
    }
    if (width > naturalWidth || height > naturalHeight)
        width = height = 0;
    const bool turned = width == 0 && quarterTurned(state.sizes, page);
    try {
        PageStream* from = nullptr;
        if (state.width == width && state.height == height && state.turned == turned)
            for (const auto& stream : state.streams)
                if (stream->next == page && stream->tool.Running())
                    from = stream.get();
        if (!from) {
            state.streams.clear();
            state.width = width;
            state.height = height;
            state.turned = turned;
            // A document read page after page has the pages after this one
            // rendered ahead, up to the last of its size (at the grid's dpi,
            // up to the last turned as it is); a page picked alone is
            // rendered alone.
            int last = page;
            if (sequential && page <= pages)
                for (; last < pages && (width > 0 ? sameSize(state.sizes, page, last + 1)
                                                  : quarterTurned(state.sizes, last + 1) ==
                                                        turned);)
                    ++last;
            const int runs = last > page && std::thread::hardware_concurrency() > 1 ? 2 : 1;
            for (int i = 0; i < runs; ++i)
                state.streams.push_back(
                    startStream(bytes, page + i, runs, last, width, height, turned, budget));
            // Each run reads the whole document before it draws: given it
            // now, they all start at once. While one is read, the others'
            // pages are taken in too, up to two pages each and 16 MiB (two
            // Legal pages of a fax), so that none waits on its full pipe.
            std::vector<ToolProcess*> tools;
            for (const auto& stream : state.streams)
                tools.push_back(&stream->tool);
            const std::size_t spare = std::min<std::size_t>(
                width > 0 ? 2 * (std::size_t(width) * std::size_t(height) + 64) : SIZE_MAX,
                std::size_t(16) << 20);
            for (const auto& stream : state.streams) {
                stream->tool.ReadAlongside(tools, spare);
                stream->tool.SendInput(budget.deadline);
            }
            from = state.streams.front().get();
        }
        state.lastPage = page;
        GreyImage image = takePage(*from, page, name, budget);
        if (naturalWidth > 0 && width > 0) {
            image.storedWidth = int(naturalWidth);
            image.storedHeight = int(naturalHeight);
        }
        return image;
    } catch (...) {
        // A run stopped in the middle of a page would give the rest of it
        // as the next page.
        state.streams.clear();
        throw;
    }
}

bool ReadPdfPageSizes(const std::string& path, std::string_view bytes, int maxPages,
                      std::chrono::steady_clock::time_point deadline,
                      std::vector<PdfPageSize>& sizes, std::string& error) {
    sizes.clear();
    ToolLimits limits;
    limits.deadline = deadline;
    limits.maxOutput = std::size_t(1) << 20;
    ToolResult r;
    // "-" is pdfinfo's name for its standard input; a file whose name
    // begins with a dash is named so that it is not read as an option.
    const std::string file = !bytes.empty() ? "-" : path.starts_with('-') ? "./" + path : path;
    if (!RunTool({"pdfinfo", "-f", "1", "-l", std::to_string(maxPages), file}, bytes, limits, r,
                 error))
        return false;
    if (r.notFound) {
        error = kMissingTool;
        return false;
    }
    if (r.status != 0 || r.timedOut) {
        error = path + ": pdfinfo cannot read it: " + (r.timedOut ? "it took too long" : reasonOf(r));
        return false;
    }
    // "Page    1 size: 612 x 792 pts (letter)", then "Page    1 rot:   90":
    // a turned page is drawn turned, its sides swapped.
    std::size_t at = 0;
    while ((at = r.output.find("\nPage ", at)) != std::string::npos) {
        ++at;
        int number = 0, turn = 0;
        double w = 0, h = 0;
        const char* line = r.output.c_str() + at;
        if (std::sscanf(line, "Page %d size: %lf x %lf", &number, &w, &h) == 3 && w > 0 &&
            h > 0 && int(sizes.size()) < maxPages)
            sizes.push_back({w, h});
        else if (std::sscanf(line, "Page %d rot: %d", &number, &turn) == 2 && !sizes.empty() &&
                 number == int(sizes.size()) && (turn % 180 + 180) % 180 == 90 &&
                 !sizes.back().quarterTurned) {
            std::swap(sizes.back().width, sizes.back().height);
            sizes.back().quarterTurned = true;
        }
    }
    if (sizes.empty()) {
        error = path + ": pdfinfo lists no pages";
        return false;
    }
    return true;
}

} // namespace folio
