// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Group 3 two-dimensional coding: each row's changes are listed a word at a
// time and the row coded by its runs or against the row above with the
// shared tables (FaxCodes.h). A group of K rows needs nothing from the rows
// before it, so a tall page is coded in two halves at once, split at a group's
// first row, the second half on the coding helper thread.
#include "G3TwoDEncoder.h"

#include "CodingHelper.h"
#include "FaxCodes.h"

#include <algorithm>
#include <cstddef>

namespace folio::tiflib {
namespace {

using namespace fax;

// Codes rows [y0, y1), y0 the first row of a group, into `out` as if they
// were a page of their own and returns how many bits of the last byte are
// code (0: it ends on a byte).
FOLIO_CODER_INLINE unsigned encodeRowsAt(const PageView& page, std::uint32_t rowsPerGroup,
                                         std::uint32_t y0, std::uint32_t y1,
                                         std::vector<std::uint8_t>& out) {
    if (page.width == 0 || y0 >= y1) {
        out.clear();
        return 0;
    }
    RowSequenceCoder coder(page);
    const std::size_t worstRow = worstTwoDRowBytes(page.width);
    // As for one-dimensional coding: a quarter of the pixel bytes, grown when
    // a row might not fit.
    const std::size_t guess = std::min<std::size_t>(page.rowBytes * (y1 - y0) / 4, 4 << 20);
    // Every byte is written before it is read; `out` is not emptied first,
    // so that a buffer kept from the page before is not cleared again.
    out.resize(guess + 2 * worstRow);
    BitWriter bits(out.data());
    std::uint32_t inGroup = 0; // rows of the group coded so far
    for (std::uint32_t y = y0; y < y1; ++y) {
        ensureRoom(out, bits, worstRow);
        const bool byRuns = inGroup == 0;
        bits.putAlignedEol(byRuns ? 1 : 0, 1);
        coder.put(bits, page.row(y), byRuns);
        if (++inGroup == rowsPerGroup)
            inGroup = 0;
    }
    const unsigned tail = bits.pending();
    std::uint8_t* end = bits.finish();
    out.resize(std::size_t(end - out.data()));
    return tail;
}

FOLIO_ENCODER_LEVELS(unsigned, encodeRows, encodeRowsAt,
                     (const PageView& page, std::uint32_t rowsPerGroup, std::uint32_t y0,
                      std::uint32_t y1, std::vector<std::uint8_t>& out),
                     (page, rowsPerGroup, y0, y1, out))

} // namespace

void EncodeG3TwoD(const PageView& page, std::uint32_t rowsPerGroup,
                  std::vector<std::uint8_t>& out) {
    constexpr std::uint32_t kSplitRows = 64;
    const std::uint32_t k = std::max<std::uint32_t>(rowsPerGroup, 1);
    const std::uint32_t middle = page.height / 2 / k * k;
    if (page.height < kSplitRows || middle == 0) {
        encodeRows(page, k, 0, page.height, out);
        return;
    }
    // Kept by the calling thread from page to page: fresh memory would be
    // cleared by the system, and resizing it cleared again, at every page.
    // Named through a reference, which the lambda captures: the name of a
    // thread_local would mean the helper thread's own vector there.
    thread_local std::vector<std::uint8_t> kept;
    std::vector<std::uint8_t>& second = kept;
    unsigned tail = 0;
    RunSideBySide([&] { tail = encodeRows(page, k, 0, middle, out); },
                  [&] { encodeRows(page, k, middle, page.height, second); });
    appendCodedHalf(out, tail, second);
}

} // namespace folio::tiflib
