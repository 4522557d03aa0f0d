// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Helpers shared by the engine tests of both variants: pixel counts in
// regions of a page and a writable line for ProcessCommand.
#pragma once

#include "Bitmap.h"

#include <cstdint>
#include <string>
#include <vector>

namespace enginetest {

// Black pixels in [x1, x2) x [y1, y2) of `b`.
inline int blackIn(const folio::Bitmap& b, int x1, int y1, int x2, int y2) {
    int n = 0;
    for (int y = y1; y < y2; ++y)
        for (int x = x1; x < x2; ++x)
            n += b.Pixel(x, y);
    return n;
}

// The rows that hold at least one black pixel.
inline std::vector<int> inkedRows(const folio::Bitmap& b) {
    std::vector<int> rows;
    for (int y = 0; y < b.Height(); ++y) {
        const std::uint8_t* row = b.Row(y);
        for (int i = 0; i < b.Stride(); ++i)
            if (row[i]) {
                rows.push_back(y);
                break;
            }
    }
    return rows;
}

// A writable copy of a line, as every caller of ProcessCommand hands over.
struct Line {
    explicit Line(const std::string& s) : bytes(s.begin(), s.end()) { bytes.push_back('\0'); }
    char* get() { return bytes.data(); }
    std::vector<char> bytes;
};

// Hands one macro line to the engine, as a caller of ProcessCommand does.
template <class Engine> bool run(Engine& fax, const std::string& text) {
    Line l(text);
    return fax.ProcessCommand(l.get());
}

// Measures of the current page's canvas font.
template <class Engine> int width(Engine& fax, const std::string& s) {
    return fax.Image->Canvas().TextWidth(s);
}
template <class Engine> int lineHeight(Engine& fax) {
    return fax.Image->Canvas().TextHeight("Yy");
}

} // namespace enginetest
