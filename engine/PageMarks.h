// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Headers and footers of the library variant (the HEADER= and FOOTER=
// commands): one line of text at the top or bottom of every page from the
// page in progress when the command is given onward, until the next HEADER
// (or FOOTER) changes or ends it. The text may name the page ({page}), the
// document's page count ({pages}) and the build's date ({date}), so it is
// drawn only once the pages are all made: DrawPageMarks draws every page's
// marks when the build ends, before the pages are read or written.
//
// FaxImage is laid out for libfoliolib.so.1, so an engine's marks are kept
// here in a table keyed by the engine, as its line filter is; while no
// engine in the process has marks, a lookup is one atomic load.
#pragma once

#include "Font.h"
#include "LineFilter.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

class FaxImage;

namespace folio {

// Where a mark's line goes, in page rows: the top of a header's text cell,
// and the bottom of a footer's, this far from the page's edge (inside the
// 100-row margins of a default page).
inline constexpr int kMarkEdgeRows = 30;

// One HEADER or FOOTER command: its text (empty ends the mark) and what was
// in force when it was given.
struct PageMark {
    bool footer = false;
    int firstPage = 1; // 1-based: the page in progress
    std::string text;  // placeholders not yet replaced
    // The spans of `text` filled from data (sorted, apart): no placeholder
    // is read in them, nor one that begins or ends in them.
    std::vector<TextSpan> values;
    Font font;         // the canvas font in force
    std::uint16_t codePage = 0;
    int left = 0; // the left margin, page pixels
    int line = 0; // the macro line, for reports
};

// Adds `mark` to the marks of `engine`; it replaces the header (or footer)
// from its first page on.
void AddPageMark(const FaxImage& engine, PageMark mark);
// Whether `engine` has marks not drawn yet.
bool HasPageMarks(const FaxImage& engine);
// Drops the marks of `engine` undrawn (when it is destroyed).
void ForgetPageMarks(const FaxImage& engine);

// Draws the marks of `engine` on its pages and forgets them: for each page,
// the header and footer in force there, in the font recorded with them, left
// aligned at the recorded margin and cut at the page's right edge (reported
// once per command, kind::TextClipped). A header's text begins at row
// kMarkEdgeRows, or at row `keepTop` when that is lower on the page (the
// rows a fax server stamps its own header into stay white). A page that was parked is unparked
// for it and parked again. Does nothing, at the cost of one atomic load,
// without marks. Throws as unparking a page does.
void DrawPageMarks(FaxImage& engine, int keepTop);

// `text` with {page}, {pages} and {date} replaced; any other brace stands,
// and so does every character in the spans `values` (sorted, apart).
std::string ExpandMarkText(std::string_view text, int page, int pages, std::string_view date,
                           const std::vector<TextSpan>& values = {});
// The build's date as YYYY-MM-DD: the local date now, or, when the
// environment variable SOURCE_DATE_EPOCH holds a count of seconds since
// 1970, that moment's date in UTC (reproducible builds). `now` is the
// current time.
std::string MarkDate(std::time_t now);

} // namespace folio
