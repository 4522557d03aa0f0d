// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// PDF through poppler's command-line tools. pdftoppm writes a binary PGM
// (P5, maxval 255, one byte a pixel, rows top-down, 0 black), which is read
// here with the same distrust as any picture file: every number checked
// against the bytes that came and the budget before anything is kept.
#include "PdfPage.h"

#include "ToolProcess.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string_view>
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
bool headerNumber(const std::string& s, std::size_t& at, long long& value) {
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

} // namespace

namespace {

// Pages rendered ahead for a document read page after page (a whole PDF
// made a fax): one run of the renderer for a batch of pages instead of a
// run, and a parse of the document, for each. Kept per thread, for the
// document last asked about, and let go as the pages are taken.
struct RenderedAhead {
    std::size_t document = 0; // a hash of the document's bytes and its size
    int lastPage = 0;         // the page asked for last
    std::vector<std::pair<int, GreyImage>> pages;
};
constexpr int kPagesAhead = 8;

} // namespace

std::vector<GreyImage> ReadPgmPages(const std::string& s, const std::string& p,
                                    const PictureBudget& budget) {
    std::vector<GreyImage> pages;
    std::size_t at = 0;
    while (at < s.size()) {
        long long width = 0, height = 0, maxval = 0;
        std::size_t next = at + 2;
        if (s.compare(at, 2, "P5") != 0 || !headerNumber(s, next, width) ||
            !headerNumber(s, next, height) || !headerNumber(s, next, maxval) || maxval != 255 ||
            next >= s.size())
            throw PictureError("pdftoppm gave no grey page for page " + p);
        ++next; // the one whitespace byte before the pixels
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

GreyImage RenderPdfPage(const std::string& bytes, const std::string& name, int page,
                        const PictureBudget& budget) {
    if (page < 1 || page > 100000)
        throw PictureError("page " + std::to_string(page) + " of " + name + " is not a page number");
    CheckPictureTime(budget);
    thread_local RenderedAhead ahead;
    const std::size_t document = std::hash<std::string_view>{}(bytes) ^ bytes.size();
    if (ahead.document != document) {
        ahead = RenderedAhead{};
        ahead.document = document;
    }
    for (auto it = ahead.pages.begin(); it != ahead.pages.end(); ++it)
        if (it->first == page) {
            GreyImage image = std::move(it->second);
            ahead.pages.erase(it);
            ahead.lastPage = page;
            CheckPictureSize(image.width, image.height, budget);
            return image;
        }
    // A document read page after page has the next pages rendered with this
    // one; a page picked alone is rendered alone.
    const int last = ahead.lastPage == page - 1 && page > 1 ? page + kPagesAhead - 1 : page;
    ahead.pages.clear();
    ahead.lastPage = page;
    ToolLimits limits;
    limits.deadline = budget.deadline;
    // The grey bytes of the pages the budget allows, and their headers.
    limits.maxOutput =
        std::size_t(std::min<std::uint64_t>(budget.pixels, kMaxPicturePixels)) * std::size_t(last - page + 1) +
        64 * std::size_t(last - page + 1);
    const std::string p = std::to_string(page);
    ToolResult r;
    std::string error;
    // pdftoppm stops at the document's last page when `last` is past it.
    if (!RunTool({"pdftoppm", "-gray", "-rx", std::to_string(kPdfDpiX), "-ry",
                  std::to_string(kPdfDpiY), "-f", p, "-l", std::to_string(last), "-"},
                 bytes, limits, r, error))
        throw PictureError(error);
    if (r.notFound)
        throw PictureError(kMissingTool);
    if (r.timedOut)
        PictureOutOfTime();
    if (r.tooMuchOutput)
        throw PictureBudgetError("page " + p + " of " + name +
                                 " is larger than this fax's pictures may be");
    if (r.status != 0)
        throw PictureError("pdftoppm cannot draw page " + p + ": " + reasonOf(r));
    std::vector<GreyImage> pages = ReadPgmPages(r.output, p, budget);
    for (std::size_t i = 1; i < pages.size(); ++i)
        ahead.pages.emplace_back(page + int(i), std::move(pages[i]));
    return std::move(pages[0]);
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
                 number == int(sizes.size()) && (turn % 180 + 180) % 180 == 90)
            std::swap(sizes.back().width, sizes.back().height);
    }
    if (sizes.empty()) {
        error = path + ": pdfinfo lists no pages";
        return false;
    }
    return true;
}

} // namespace folio
