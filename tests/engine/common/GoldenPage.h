// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Golden pages: a region of a page compared with a PBM file checked in under
// tests/engine/golden/, layout exactly and glyph shapes within the tolerance
// PageCompare.h gives (FreeType releases rasterise glyph edges a little
// differently). With FOLIO_UPDATE_GOLDEN=1 in the environment the test
// writes the file afresh instead (and passes), for a deliberate change of
// the layout; review the new pictures before committing them.
#pragma once

#include "Bitmap.h"
#include "PageCompare.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace enginetest {

// The region [0, width) x [0, height) of `page` as a binary PBM (P4): rows
// top-down, 1 is black, most significant bit first.
inline std::string toPbm(const folio::Bitmap& page, int width, int height) {
    std::string out = "P4\n" + std::to_string(width) + " " + std::to_string(height) + "\n";
    const int rowBytes = (width + 7) / 8;
    for (int y = 0; y < height; ++y) {
        std::string row(std::size_t(rowBytes), '\0');
        for (int x = 0; x < width; ++x)
            if (page.Pixel(x, y))
                row[std::size_t(x / 8)] |= char(0x80 >> (x % 8));
        out += row;
    }
    return out;
}

inline void expectGolden(const folio::Bitmap& page, int width, int height,
                         const std::string& name) {
    const std::string path = std::string(FOLIO_SOURCE_DIR) + "/tests/engine/golden/" + name;
    const std::string actual = toPbm(page, width, height);
    const char* update = std::getenv("FOLIO_UPDATE_GOLDEN");
    if (update && std::string(update) == "1") {
        std::ofstream(path, std::ios::binary) << actual;
        return;
    }
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in) << "no golden page " << path << " (FOLIO_UPDATE_GOLDEN=1 writes it)";
    std::stringstream expected;
    expected << in.rdbuf();
    if (expected.str() == actual)
        return;
    const PageDifference difference = comparePages(fromPbm(expected.str()), fromPbm(actual));
    if (difference.faults.empty()) {
        std::cout << name << ": " << difference.inkDiffering << " of " << difference.inkPixels
                  << " glyph pixels differ (glyph edges only, within tolerance)\n";
        return;
    }
    const std::string failed = std::string(FOLIO_BINARY_DIR) + "/" + name + ".actual.pbm";
    std::ofstream(failed, std::ios::binary) << actual;
    std::string faults;
    for (const std::string& fault : difference.faults)
        faults += "\n  " + fault;
    ADD_FAILURE() << "page differs from " << path << ":" << faults << "\nthis run's page is in "
                  << failed;
}

} // namespace enginetest
