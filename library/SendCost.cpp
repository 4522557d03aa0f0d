// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Coding the pages in memory for their sending time, and the page-slow
// message. The pages are coded by TiflibCodePage, the call the writer's own
// coded-ahead path takes, so a page's bytes are those of its strip in the
// file written with the same coding and resolution.
#include "SendCost.h"

#include "FaxImage.h"
#include "FaxPage.h"
#include "PageRows.h"
#include "tiflib32.h"

#include <bit>
#include <cstdint>
#include <cstdio>

namespace folio {

namespace {

// The coding our own coders make for `mode`: the _REFERENCE modes write the
// same file through libtiff's coder.
int ownCoding(int mode) {
    switch (mode) {
    case TIFLIB_FAX_G3_1D_REFERENCE:
        return TIFLIB_FAX_G3_1D;
    case TIFLIB_FAX_G3_2D_REFERENCE:
        return TIFLIB_FAX_G3_2D;
    case TIFLIB_FAX_G4_REFERENCE:
        return TIFLIB_FAX_G4;
    default:
        return mode;
    }
}

// Black pixels of `height` rows of `width` pixels, row y at top + y * step,
// the leftmost pixel in the most significant bit; bits past the width are
// not counted, whatever they hold.
std::uint64_t blackPixels(const std::uint8_t* top, std::ptrdiff_t step, int width, int height) {
    const std::size_t whole = std::size_t(width) / 8;
    const unsigned tail = unsigned(width) % 8;
    const std::uint8_t tailMask = std::uint8_t(0xFF00u >> tail);
    std::uint64_t black = 0;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = top + step * std::ptrdiff_t(y);
        for (std::size_t i = 0; i < whole; ++i)
            black += unsigned(std::popcount(row[i]));
        if (tail)
            black += unsigned(std::popcount(std::uint8_t(row[whole] & tailMask)));
    }
    return black;
}

} // namespace

double CallSeconds(const std::vector<PageCost>& pages, int bitRate) {
    double seconds = kCallSetupSeconds;
    for (const PageCost& page : pages)
        seconds += PageSeconds(page.bytes, bitRate);
    return seconds;
}

bool CostPages(const Head& pages, int count, int mode, int resolution, std::vector<PageCost>& costs,
               std::string& error) {
    costs.clear();
    mode = ownCoding(mode);
    std::vector<std::uint8_t> rows; // a parked page's rows, top-down
    int index = 0;
    for (Link* l = pages.First(); l && index < count; l = l->Suc(), ++index) {
        const PageImage& page = static_cast<FaxPage*>(l)->PageImage;
        const int width = page.Width(), height = page.Height();
        PageCost cost;
        if (page.Coded()) {
            // Coded for the file already: its pixels are gone, its size is known.
            cost.bytes = page.Code().size();
            costs.push_back(cost);
            continue;
        }
        if (width <= 0 || height <= 0 || width > 0xFFFF || height > 0xFFFF) {
            error = "page " + std::to_string(index + 1) + " has a size the fax file cannot hold";
            return false;
        }
        std::size_t stride;
        const std::uint8_t* top = folio::RowsToCode(page, rows, stride);
        TiflibCodedPage code{};
        if (!TiflibCodePage(top, std::ptrdiff_t(stride), unsigned(width), unsigned(height), mode,
                            resolution, &code)) {
            const char* why = TiflibLastError();
            error = "page " + std::to_string(index + 1) + " cannot be coded" +
                    (why && *why ? std::string(": ") + why : std::string());
            return false;
        }
        cost.bytes = code.bytes;
        const std::uint64_t all = std::uint64_t(width) * std::uint64_t(height);
        cost.blackPermille =
            int(blackPixels(top, std::ptrdiff_t(stride), width, height) * 1000 / all);
        costs.push_back(cost);
    }
    return true;
}

std::string SlowPageMessage(int number, const PageCost& cost) {
    const double seconds = PageSeconds(cost.bytes, kRateV17);
    if (seconds <= kSlowPageSeconds)
        return {};
    char text[200];
    std::snprintf(text, sizeof text, "page %d takes %.0f s at %d bit/s (%zu bytes coded)", number,
                  seconds, kRateV17, cost.bytes);
    std::string message = text;
    if (cost.blackPermille >= 0) {
        std::snprintf(text, sizeof text, ": %d%% black, ", (cost.blackPermille + 5) / 10);
        // Runs of one colour code short: a page is slow for many short runs,
        // which a large dark share makes likely and a light one leaves to
        // fine detail alone.
        message += text;
        message += cost.blackPermille >= 200
                       ? "a dithered picture or dark area fills it"
                       : "fine detail (a dithered picture, a pattern, small text) fills it";
    }
    return message;
}

} // namespace folio
