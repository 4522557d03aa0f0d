// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The table of headers and footers by engine, and their drawing when the
// pages are all made. Few engines have marks (one per build thread whose
// macro gives HEADER or FOOTER), so a short vector under a mutex serves.
#include "PageMarks.h"

#include "FaxImage.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#if !FOLIO_PROGRAM_VARIANT

#include "CodePage.h"
#include "Diagnostics.h"
#include "SafeMath.h"
#include "StyleEscape.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <utility>
#include <vector>

namespace folio {

namespace {

std::mutex gMutex;
std::vector<std::pair<const FaxImage*, std::vector<PageMark>>> gMarks;
std::atomic<std::size_t> gCount{0};

// The marks of `engine` taken out of the table (empty when it has none).
std::vector<PageMark> takeMarks(const FaxImage& engine) {
    std::vector<PageMark> marks;
    if (gCount.load(std::memory_order_acquire) == 0)
        return marks;
    std::lock_guard lock(gMutex);
    auto it = std::find_if(gMarks.begin(), gMarks.end(),
                           [&](const auto& e) { return e.first == &engine; });
    if (it != gMarks.end()) {
        marks = std::move(it->second);
        gMarks.erase(it);
    }
    gCount.store(gMarks.size(), std::memory_order_release);
    return marks;
}

// What drawing a mark found: the line was cut at the right edge; its cell
// reaches into the text area between `top` and `bottom` (page rows).
struct Drawn {
    bool cut = false;
    bool intoText = false;
};

// Draws `text` on `image` as the mark `m` asks, a header's cell from row
// `top` down, cut at the page's right edge. The canvas's own settings are put back,
// so a page still in progress goes on as it was.
Drawn drawMark(PageImage& image, const PageMark& m, const std::string& text, int top, int textTop,
               int textBottom) {
    Canvas& canvas = image.Canvas();
    const Font font = canvas.Font;
    const std::uint16_t codePage = canvas.CodePage;
    TextTally* const tally = canvas.Tally;
    const TColor brush = canvas.BrushColor, ink = canvas.PenColor;
    canvas.Font = m.font;
    canvas.CodePage = m.codePage;
    canvas.Tally = nullptr;
    canvas.BrushColor = clWhite;
    canvas.PenColor = clBlack;

    const int width = image.Width(), height = image.Height();
    const int y = m.footer ? SatSub(SatSub(height, kMarkEdgeRows), canvas.TextHeight("Yy")) : top;
    // Set run by run between style escapes, as a text line's words are; each
    // character is measured first, so the line stops before the first one
    // that would pass the right edge. A character's width is what
    // TextOutCharacters moves the pen by, so the sum is the line's width.
    int x = std::clamp(m.left, 0, width);
    std::int64_t pen = x;
    std::string run;
    auto flush = [&] {
        if (!run.empty())
            x = canvas.TextOutCharacters(x, y, run, m.codePage);
        run.clear();
    };
    Drawn drawn;
    const int cellHeight = canvas.TextHeight("Yy");
    drawn.intoText = m.footer ? y < textBottom : std::int64_t(y) + cellHeight > textTop;
    for (const char* p = text.c_str(); *p;) {
        if (p[0] == '\\' && StyleOfEscape(p[1], false)) {
            flush();
            canvas.Font.Style = ApplyStyleEscape(canvas.Font.Style, p[1], false);
            p += 2;
            continue;
        }
        // A doubled backslash draws one; a lone one stands as it is.
        const char* next =
            p[0] == '\\' ? p + (p[1] == '\\' ? 2 : 1) : CharNextExA(m.codePage, p, 0);
        const std::string_view character =
            p[0] == '\\' ? std::string_view("\\") : std::string_view(p, std::size_t(next - p));
        pen += canvas.TextWidthCharacters(character, m.codePage);
        if (pen > width) {
            drawn.cut = true;
            break;
        }
        run += character;
        p = next;
    }
    flush();

    canvas.Font = font;
    canvas.CodePage = codePage;
    canvas.Tally = tally;
    canvas.BrushColor = brush;
    canvas.PenColor = ink;
    return drawn;
}

} // namespace

void AddPageMark(const FaxImage& engine, PageMark mark) {
    std::lock_guard lock(gMutex);
    auto it = std::find_if(gMarks.begin(), gMarks.end(),
                           [&](const auto& e) { return e.first == &engine; });
    if (it == gMarks.end()) {
        gMarks.emplace_back(&engine, std::vector<PageMark>());
        it = gMarks.end() - 1;
    }
    it->second.push_back(std::move(mark));
    gCount.store(gMarks.size(), std::memory_order_release);
}

bool HasPageMarks(const FaxImage& engine) {
    if (gCount.load(std::memory_order_acquire) == 0)
        return false;
    std::lock_guard lock(gMutex);
    return std::any_of(gMarks.begin(), gMarks.end(),
                       [&](const auto& e) { return e.first == &engine; });
}

void ForgetPageMarks(const FaxImage& engine) {
    takeMarks(engine);
}

void DrawPageMarks(FaxImage& engine, int keepTop) {
    const std::vector<PageMark> marks = takeMarks(engine);
    if (marks.empty())
        return;
    const int pages = engine.Pages->Cardinal();
    const std::string date = MarkDate(std::time(nullptr));
    const int top = std::max(kMarkEdgeRows, keepTop);
    const int textTop = engine.Top, textBottom = engine.Bottom;
    // Marks are given page by page forward, so each page's header and footer
    // are the last of each kind whose first page is not after it.
    const PageMark* in[2] = {nullptr, nullptr}; // header, footer
    std::vector<bool> reported(marks.size(), false);
    std::size_t next = 0;
    int page = 1;
    for (Link* l = engine.Pages->First(); l; l = l->Suc(), ++page) {
        for (; next < marks.size() && marks[next].firstPage <= page; ++next)
            in[marks[next].footer] = &marks[next];
        if ((!in[0] || in[0]->text.empty()) && (!in[1] || in[1]->text.empty()))
            continue;
        PageImage& image = static_cast<FaxPage*>(l)->PageImage;
        // Pages before the first mark may be coded ahead; none after it is.
        if (image.Coded())
            continue;
        const bool parked = l != engine.CurrentPage && image.Parked();
        for (const PageMark* m : in) {
            if (!m || m->text.empty())
                continue;
            const Drawn drawn =
                drawMark(image, *m, ExpandMarkText(m->text, page, pages, date, m->values), top,
                         textTop, textBottom);
            const std::size_t index = std::size_t(m - marks.data());
            if (!engine.diag_ || reported[index] || !(drawn.cut || drawn.intoText))
                continue;
            // Once per command: the same line on every page says it once.
            reported[index] = true;
            const std::string what =
                std::string(m->footer ? "FOOTER" : "HEADER") + " on page " + std::to_string(page);
            if (drawn.cut)
                engine.diag_->Warn(m->line, kind::TextClipped,
                                   what + " is wider than the page; it is cut at the right edge");
            else
                engine.diag_->Warn(
                    m->line, kind::TextOverlap,
                    what + " reaches into the text area (rows " + std::to_string(textTop) + " to " +
                        std::to_string(textBottom) + "); it is drawn over what is there");
        }
        if (parked)
            image.Park();
    }
}

} // namespace folio

#endif

namespace folio {

std::string ExpandMarkText(std::string_view text, int page, int pages, std::string_view date,
                           const std::vector<TextSpan>& values) {
    static constexpr std::string_view kPage = "{page}", kPages = "{pages}", kDate = "{date}";
    std::string out;
    out.reserve(text.size() + 8);
    auto value = values.begin();
    for (std::size_t i = 0; i < text.size();) {
        while (value != values.end() && value->end <= i)
            ++value;
        // Only the template's own text up to the next value can hold one.
        const std::size_t ownEnd = value == values.end() ? text.size() : value->begin;
        if (ownEnd <= i) {
            out += text[i++];
            continue;
        }
        const std::string_view rest = text.substr(i, ownEnd - i);
        if (rest.starts_with(kPage)) {
            out += std::to_string(page);
            i += kPage.size();
        } else if (rest.starts_with(kPages)) {
            out += std::to_string(pages);
            i += kPages.size();
        } else if (rest.starts_with(kDate)) {
            out += date;
            i += kDate.size();
        } else {
            out += text[i++];
        }
    }
    return out;
}

std::string MarkDate(std::time_t now) {
    std::tm when{};
    bool fixed = false;
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch && *epoch) {
        // Only plain decimal digits, at most 12 of them (beyond the year
        // 30000): anything else is not a moment and the clock is read.
        const std::size_t digits = std::strspn(epoch, "0123456789");
        if (epoch[digits] == '\0' && digits <= 12) {
            const std::time_t t = std::time_t(std::strtoll(epoch, nullptr, 10));
            fixed = gmtime_r(&t, &when) != nullptr;
        }
    }
    if (!fixed && !localtime_r(&now, &when))
        return "0000-00-00";
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", when.tm_year + 1900, when.tm_mon + 1,
                  when.tm_mday);
    return text;
}

} // namespace folio
