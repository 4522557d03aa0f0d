// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Compares a set page with its golden picture: the layout exactly, the
// glyph shapes within a tolerance. FreeType releases rasterise a few glyph
// edge pixels differently (2.13 moves 134 of the 34,298 black pixels of
// the library golden page), and the page must not fail for that; it must
// fail when the layout changes. So:
//  - rule pixels, those in a black run of at least kRuleRun pixels across or
//    down (lines, boxes, long underline and strike-out bands), must be
//    identical: a line or box one pixel off fails;
//  - of the other black pixels (ink: glyphs, short bands) at most
//    kInkTolerancePercent percent may differ, and every differing pixel must
//    touch (8-neighbourhood) ink of the other picture, so that a difference
//    is a glyph edge grown or shrunk, never a piece of ink missing or added:
//    a word, line or page that breaks elsewhere fails;
//  - no connected piece of ink (a glyph) in either picture may match the
//    other picture better when shifted by up to kShiftReach pixels than in
//    place: a word moved by a pixel fails.
// Pictures are 1 byte per pixel, row by row from the top, nonzero black.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace enginetest {

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> px; // width * height, 1 black

    bool at(int x, int y) const {
        return x >= 0 && y >= 0 && x < width && y < height && px[std::size_t(y) * width + x];
    }
};

// A binary PBM (P4) as written by toPbm; an empty picture if malformed.
inline Picture fromPbm(const std::string& pbm) {
    Picture p;
    std::size_t pos = 0;
    auto number = [&]() {
        while (pos < pbm.size() && (pbm[pos] == ' ' || pbm[pos] == '\n'))
            ++pos;
        long n = 0;
        while (pos < pbm.size() && pbm[pos] >= '0' && pbm[pos] <= '9' && n < 100000)
            n = n * 10 + (pbm[pos++] - '0');
        return int(n);
    };
    if (pbm.compare(0, 2, "P4") != 0)
        return p;
    pos = 2;
    const int width = number(), height = number();
    ++pos; // the one white-space byte before the bits
    const std::size_t rowBytes = (std::size_t(width) + 7) / 8;
    if (width <= 0 || height <= 0 || pbm.size() < pos + rowBytes * height)
        return p;
    p.width = width;
    p.height = height;
    p.px.resize(std::size_t(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            p.px[std::size_t(y) * width + x] =
                (std::uint8_t(pbm[pos + y * rowBytes + x / 8]) >> (7 - x % 8)) & 1;
    return p;
}

struct PageDifference {
    std::vector<std::string> faults; // empty: the pages match
    int inkPixels = 0;               // black non-rule pixels of the golden picture
    int inkDiffering = 0;            // non-rule pixels black in one picture only
};

constexpr int kRuleRun = 60; // the longest glyph stroke on the golden pages is 41
constexpr int kInkTolerancePercent = 1;
constexpr int kShiftReach = 2;
constexpr int kMinGlyphPixels = 6; // smaller pieces (dots, commas) are not shift-tested

namespace detail {

// 1 where a pixel lies in a black run of at least kRuleRun across or down.
inline std::vector<std::uint8_t> ruleMask(const Picture& p) {
    std::vector<std::uint8_t> mask(p.px.size(), 0);
    auto mark = [&](int x0, int y0, int dx, int dy, int limit) {
        int run = 0;
        for (int i = 0; i <= limit; ++i) {
            const bool black = i < limit && p.at(x0 + i * dx, y0 + i * dy);
            if (black) {
                ++run;
                continue;
            }
            if (run >= kRuleRun)
                for (int k = i - run; k < i; ++k)
                    mask[std::size_t(y0 + k * dy) * p.width + (x0 + k * dx)] = 1;
            run = 0;
        }
    };
    for (int y = 0; y < p.height; ++y)
        mark(0, y, 1, 0, p.width);
    for (int x = 0; x < p.width; ++x)
        mark(x, 0, 0, 1, p.height);
    return mask;
}

struct Piece {
    int x0, y0, x1, y1; // inclusive bounds
    int pixels;
};

// The 8-connected pieces of ink.
inline std::vector<Piece> pieces(const Picture& ink) {
    std::vector<Piece> out;
    std::vector<std::uint8_t> seen(ink.px.size(), 0);
    std::vector<int> stack;
    for (int start = 0; start < int(ink.px.size()); ++start) {
        if (!ink.px[start] || seen[start])
            continue;
        Piece piece{ink.width, ink.height, -1, -1, 0};
        seen[start] = 1;
        stack.push_back(start);
        while (!stack.empty()) {
            const int at = stack.back();
            stack.pop_back();
            const int x = at % ink.width, y = at / ink.width;
            piece.x0 = std::min(piece.x0, x);
            piece.y0 = std::min(piece.y0, y);
            piece.x1 = std::max(piece.x1, x);
            piece.y1 = std::max(piece.y1, y);
            ++piece.pixels;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    if (!ink.at(x + dx, y + dy))
                        continue;
                    const int next = (y + dy) * ink.width + x + dx;
                    if (!seen[next]) {
                        seen[next] = 1;
                        stack.push_back(next);
                    }
                }
        }
        out.push_back(piece);
    }
    return out;
}

// Pixels of `piece`'s box (widened by the reach) where `from` and `to`
// shifted by (dx, dy) disagree.
inline int mismatch(const Picture& from, const Picture& to, const Piece& piece, int dx, int dy) {
    int n = 0;
    for (int y = piece.y0 - kShiftReach; y <= piece.y1 + kShiftReach; ++y)
        for (int x = piece.x0 - kShiftReach; x <= piece.x1 + kShiftReach; ++x)
            n += from.at(x, y) != to.at(x + dx, y + dy);
    return n;
}

// Pieces of `from` that `to` matches better shifted than in place.
// `differing` counts the pixels where the two pictures differ in
// [0, x) x [0, y) at (y * (width + 1) + x): pieces with no difference in
// their box are passed over without the shift search.
inline void findShifted(const Picture& from, const Picture& to, const std::vector<int>& differing,
                        const char* which, std::vector<std::string>& faults) {
    const int w = from.width + 1;
    auto count = [&](int x0, int y0, int x1, int y1) { // over [x0, x1) x [y0, y1), clipped
        x0 = std::clamp(x0, 0, from.width), x1 = std::clamp(x1, 0, from.width);
        y0 = std::clamp(y0, 0, from.height), y1 = std::clamp(y1, 0, from.height);
        return differing[y1 * w + x1] - differing[y0 * w + x1] - differing[y1 * w + x0] +
               differing[y0 * w + x0];
    };
    for (const Piece& piece : pieces(from)) {
        if (piece.pixels < kMinGlyphPixels ||
            count(piece.x0 - kShiftReach, piece.y0 - kShiftReach, piece.x1 + kShiftReach + 1,
                  piece.y1 + kShiftReach + 1) == 0)
            continue;
        const int inPlace = mismatch(from, to, piece, 0, 0);
        int best = inPlace, bestX = 0, bestY = 0;
        for (int dy = -kShiftReach; dy <= kShiftReach; ++dy)
            for (int dx = -kShiftReach; dx <= kShiftReach; ++dx) {
                const int m = mismatch(from, to, piece, dx, dy);
                if (m < best) {
                    best = m;
                    bestX = dx;
                    bestY = dy;
                }
            }
        if (best < inPlace) {
            faults.push_back(std::string("ink of the ") + which + " picture at (" +
                             std::to_string(piece.x0) + ", " + std::to_string(piece.y0) +
                             ") is found moved by (" + std::to_string(bestX) + ", " +
                             std::to_string(bestY) + ")");
            return;
        }
    }
}

} // namespace detail

inline PageDifference comparePages(const Picture& golden, const Picture& actual) {
    PageDifference d;
    if (golden.width != actual.width || golden.height != actual.height || golden.px.empty()) {
        d.faults.push_back("the pictures differ in size or the golden one is unreadable");
        return d;
    }
    const auto goldenRules = detail::ruleMask(golden);
    const auto actualRules = detail::ruleMask(actual);
    Picture goldenInk = golden, actualInk = actual;
    int ruleDiffering = 0, stray = 0, firstX = -1, firstY = -1;
    for (std::size_t i = 0; i < golden.px.size(); ++i) {
        ruleDiffering += goldenRules[i] != actualRules[i];
        goldenInk.px[i] = golden.px[i] && !goldenRules[i];
        actualInk.px[i] = actual.px[i] && !actualRules[i];
    }
    if (ruleDiffering)
        d.faults.push_back(std::to_string(ruleDiffering) + " pixels of lines and boxes differ");
    auto touches = [](const Picture& p, int x, int y) {
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if (p.at(x + dx, y + dy))
                    return true;
        return false;
    };
    for (int y = 0; y < golden.height; ++y)
        for (int x = 0; x < golden.width; ++x) {
            const bool g = goldenInk.at(x, y), a = actualInk.at(x, y);
            d.inkPixels += g;
            if (g == a)
                continue;
            ++d.inkDiffering;
            if (!touches(g ? actualInk : goldenInk, x, y) && stray++ == 0) {
                firstX = x;
                firstY = y;
            }
        }
    if (std::int64_t(d.inkDiffering) * 100 > std::int64_t(d.inkPixels) * kInkTolerancePercent)
        d.faults.push_back(std::to_string(d.inkDiffering) + " of " + std::to_string(d.inkPixels) +
                           " glyph pixels differ, more than " +
                           std::to_string(kInkTolerancePercent) + "%");
    if (stray)
        d.faults.push_back(std::to_string(stray) +
                           " glyph pixels differ away from any ink of the other picture, the "
                           "first at (" +
                           std::to_string(firstX) + ", " + std::to_string(firstY) + ")");
    const int w = golden.width + 1;
    std::vector<int> differing(std::size_t(w) * (golden.height + 1), 0);
    for (int y = 0; y < golden.height; ++y)
        for (int x = 0; x < golden.width; ++x)
            differing[(y + 1) * w + x + 1] = differing[y * w + x + 1] + differing[(y + 1) * w + x] -
                                             differing[y * w + x] +
                                             (goldenInk.at(x, y) != actualInk.at(x, y));
    detail::findShifted(goldenInk, actualInk, differing, "golden", d.faults);
    detail::findShifted(actualInk, goldenInk, differing, "actual", d.faults);
    return d;
}

} // namespace enginetest
