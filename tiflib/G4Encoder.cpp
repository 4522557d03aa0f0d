// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Group 4 coding: each row's changes are listed a word at a time and the row
// coded against the row above with the shared tables (FaxCodes.h). The code
// of a row depends only on the pixels of the row above, not on the bits
// before it, and nothing is aligned to bytes: so a tall page is coded in two
// halves at once, the second (on the coding helper thread) starting from the
// last row of the first, and its bits shifted into place behind the first.
#include "G4Encoder.h"

#include "CodingHelper.h"
#include "FaxCodes.h"

#include <algorithm>
#include <cstddef>

namespace folio::tiflib {
namespace {

using namespace fax;

// Codes rows [y0, y1) into `out`, the first against row y0 - 1 (a white row
// when y0 is 0), ending with the end-of-block code when `last`. Returns how
// many bits of the last byte are code (0: all 8).
FOLIO_CODER_INLINE unsigned encodeRowsAt(const PageView& page, std::uint32_t y0, std::uint32_t y1,
                                         bool last, std::vector<std::uint8_t>& out) {
    if (page.width == 0 || y0 >= y1) {
        out.clear();
        return 0;
    }
    RowSequenceCoder coder(page);
    if (y0 > 0)
        coder.startBelow(page.row(y0 - 1));
    const std::size_t worstRow = worstTwoDRowBytes(page.width);
    // Rows coded against the row above take less than by their runs: start
    // with an eighth of the pixel bytes (at most 4 MB) and grow as needed.
    const std::size_t guess = std::min<std::size_t>(page.rowBytes * (y1 - y0) / 8, 4 << 20);
    // Every byte is written before it is read; `out` is not emptied first,
    // so that a buffer kept from the page before is not cleared again.
    out.resize(guess + 2 * worstRow);
    BitWriter bits(out.data());
    for (std::uint32_t y = y0; y < y1; ++y) {
        ensureRoom(out, bits, worstRow);
        coder.put(bits, page.row(y), false);
    }
    if (last)
        bits.put(kEndOfBlock);
    const unsigned tail = bits.pending();
    std::uint8_t* end = bits.finish();
    out.resize(std::size_t(end - out.data()));
    return tail;
}

FOLIO_ENCODER_LEVELS(unsigned, encodeRows, encodeRowsAt,
                     (const PageView& page, std::uint32_t y0, std::uint32_t y1, bool last,
                      std::vector<std::uint8_t>& out),
                     (page, y0, y1, last, out))

// Appends the bits of `second` (its last byte holding `secondTail` bits of
// code, 0: all 8) to `out`, whose last byte holds `tail` bits of code in its
// top and zeros below: every byte of `second` is split over two.
void appendShifted(std::vector<std::uint8_t>& out, unsigned tail,
                   const std::vector<std::uint8_t>& second, unsigned secondTail) {
    if (tail == 0 || out.empty() || second.empty()) {
        out.insert(out.end(), second.begin(), second.end());
        return;
    }
    const std::size_t first = out.size() - 1;
    std::uint8_t carry = out.back();
    out.resize(first + second.size() + 1);
    std::uint8_t* to = out.data() + first;
    for (const std::uint8_t byte : second) {
        *to++ = std::uint8_t(carry | byte >> tail);
        carry = std::uint8_t(byte << (8 - tail));
    }
    *to = carry;
    // The last byte holds code only when the two tails overflow one byte.
    if (tail + (secondTail ? secondTail : 8) <= 8)
        out.pop_back();
}

} // namespace

void EncodeG4(const PageView& page, std::vector<std::uint8_t>& out) {
    constexpr std::uint32_t kSplitRows = 64;
    if (page.height < kSplitRows) {
        encodeRows(page, 0, page.height, true, out);
        return;
    }
    const std::uint32_t middle = page.height / 2;
    // Kept by the calling thread from page to page: fresh memory would be
    // cleared by the system, and resizing it cleared again, at every page.
    // Named through a reference, which the lambda captures: the name of a
    // thread_local would mean the helper thread's own vector there.
    thread_local std::vector<std::uint8_t> kept;
    std::vector<std::uint8_t>& second = kept;
    unsigned tail = 0, secondTail = 0;
    RunSideBySide([&] { tail = encodeRows(page, 0, middle, false, out); },
                  [&] { secondTail = encodeRows(page, middle, page.height, true, second); });
    appendShifted(out, tail, second, secondTail);
}

} // namespace folio::tiflib
