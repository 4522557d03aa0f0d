// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The golden-page comparison itself: the library golden page as another
// FreeType release sets it (2.13, whose rasteriser moves a few glyph edge
// pixels) matches, and every kind of layout change, made by hand on either
// picture, still fails: a line or a box side one pixel off, a word one
// pixel off, a word on another line, a line of text gone to another page.
#include "common/PageCompare.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using enginetest::Picture;

Picture load(const std::string& name) {
    std::ifstream in(std::string(FOLIO_SOURCE_DIR) + "/tests/engine/golden/" + name,
                     std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return enginetest::fromPbm(bytes.str());
}

void clear(Picture& p, int x0, int y0, int x1, int y1) {
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            p.px[std::size_t(y) * p.width + x] = 0;
}

// Moves the black pixels of [x0, x1) x [y0, y1) by (dx, dy), leaving white.
void move(Picture& p, int x0, int y0, int x1, int y1, int dx, int dy) {
    const Picture before = p;
    clear(p, x0, y0, x1, y1);
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            if (before.at(x, y))
                p.px[std::size_t(y + dy) * p.width + x + dx] = 1;
}

struct Case {
    const char* name;
    std::function<void(Picture&)> change;
};

// Places on library-macro.pbm: the line runs along y = 330 from x = 100 to
// 899; the box's left side is x = 100, y 350..609; "Serif" is the first word
// at (102..163, 216..245) and "line." the last of that line (432..486);
// "Bold" lies in (650..800, 360..416); the text box's last line of text in
// y 558..590.
const std::vector<Case> kLayoutChanges = {
    {"the line one pixel lower", [](Picture& p) { move(p, 100, 330, 900, 331, 0, 1); }},
    {"the box's left side one pixel right", [](Picture& p) { move(p, 100, 350, 101, 610, 1, 0); }},
    {"a word one pixel right", [](Picture& p) { move(p, 100, 214, 166, 248, 1, 0); }},
    {"a word one pixel up", [](Picture& p) { move(p, 650, 360, 800, 416, 0, -1); }},
    {"a word on the next line", [](Picture& p) { move(p, 430, 214, 490, 248, -330, 32); }},
    {"a line of text on the next page", [](Picture& p) { clear(p, 104, 558, 496, 591); }},
};

TEST(GoldenCompare, AnotherFreeTypeReleaseMatchesTheGoldenPage) {
    const Picture golden = load("library-macro.pbm");
    const Picture other = load("freetype-2.13/library-macro.pbm");
    ASSERT_FALSE(golden.px.empty());
    ASSERT_TRUE(golden.px != other.px); // the case is worth testing only while they differ
    for (const auto& [from, to] : {std::pair{&golden, &other}, std::pair{&other, &golden}}) {
        const auto difference = enginetest::comparePages(*from, *to);
        EXPECT_TRUE(difference.faults.empty()) << difference.faults.front();
        EXPECT_GT(difference.inkDiffering, 0);
    }
}

TEST(GoldenCompare, EveryLayoutChangeFailsOnEitherFreeTypeRelease) {
    for (const char* base : {"library-macro.pbm", "freetype-2.13/library-macro.pbm"}) {
        const Picture golden = load(base);
        for (const Case& c : kLayoutChanges) {
            SCOPED_TRACE(std::string(base) + ": " + c.name);
            Picture changed = golden;
            c.change(changed);
            ASSERT_TRUE(changed.px != golden.px);
            EXPECT_FALSE(enginetest::comparePages(golden, changed).faults.empty());
            EXPECT_FALSE(enginetest::comparePages(changed, golden).faults.empty());
            // Against the other release's golden page too.
            const Picture other =
                load(base[0] == 'l' ? "freetype-2.13/library-macro.pbm" : "library-macro.pbm");
            EXPECT_FALSE(enginetest::comparePages(other, changed).faults.empty());
        }
    }
}

TEST(GoldenCompare, MalformedOrMismatchedPicturesFail) {
    const Picture golden = load("library-macro.pbm");
    EXPECT_TRUE(enginetest::fromPbm("P4\n10 10\n").px.empty()); // too short
    EXPECT_TRUE(enginetest::fromPbm("P5\n1 1\n\x01").px.empty());
    EXPECT_FALSE(enginetest::comparePages(golden, Picture{}).faults.empty());
    EXPECT_FALSE(enginetest::comparePages(Picture{}, Picture{}).faults.empty());
}

} // namespace
