// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Group 3 one-dimensional coding. Each row's changes of colour are listed a
// 64-bit word at a time and its runs coded from the shared tables into a
// buffer sized for the worst row in advance, so the inner loop never checks
// for room. A row that repeats the one before copies its codes. A tall page
// is coded in two halves at once, the second on the coding helper thread.
#include "G3Encoder.h"

#include "CodingHelper.h"
#include "FaxCodes.h"

#include <algorithm>
#include <cstddef>

namespace folio::tiflib {
namespace {

using namespace fax;

// Codes rows [y0, y1) into `out` as if they were a page of their own and
// returns how many bits of the last byte are code (0: it ends on a byte).
FOLIO_CODER_INLINE unsigned encodeRowsAt(const PageView& page, std::uint32_t y0, std::uint32_t y1,
                                         std::vector<std::uint8_t>& out) {
    if (page.width == 0 || y0 >= y1) {
        out.clear();
        return 0;
    }
    const std::uint32_t width = page.width;
    ChangeFinder finder(page);
    // change[0] is the row's start, then the changes, then the row's end.
    std::vector<std::uint32_t> change(ChangeFinder::listSize(width));

    const std::size_t worstRow = worstOneDRowBytes(width);
    // A typical page codes to a small fraction of its pixel bytes: start with
    // a quarter of them (at most 4 MB) and grow when a row might not fit.
    const std::size_t guess = std::min<std::size_t>(page.rowBytes * (y1 - y0) / 4, 4 << 20);
    // Every byte is written before it is read; `out` is not emptied first,
    // so that a buffer kept from the page before is not cleared again.
    out.resize(guess + 2 * worstRow);
    BitWriter bits(out.data());
    // Where the run codes of the row before begin (just after its EOL, on a
    // byte boundary) and how many bits they take: a row that repeats the row
    // before repeats its codes, copied rather than worked out again.
    std::size_t previousStart = 0, previousBits = 0;
    const std::uint8_t* previousRow = nullptr;

    for (std::uint32_t y = y0; y < y1; ++y) {
        ensureRoom(out, bits, worstRow);
        const std::uint8_t* row = page.row(y);
        bits.putAlignedEol();
        const std::size_t start = std::size_t(bits.position() - out.data());
        if (previousRow && finder.same(row, previousRow)) {
            bits.copyAligned(out.data() + previousStart, previousBits);
            previousStart = start;
            continue;
        }
        previousRow = row;
        change[0] = 0;
        std::size_t n = 1 + finder.find(row, change.data() + 1);
        if (n > width && width % 32 == 0) {
            // Only a row whose pixels all alternate, black first, has more
            // runs than pixels (a white run of 0 leads). libtiff's
            // one-dimensional decoder, and with it the fax servers' and
            // image tools' readers, overflows on such a row at widths of
            // a multiple of 32 (1728 among them). Its first pixel is coded
            // white, which leaves it one run fewer than its width.
            std::copy(change.begin() + 3, change.begin() + std::ptrdiff_t(n), change.begin() + 1);
            n -= 2;
        }
        change[n] = width;
        putRuns(bits, change.data(), n);
        previousStart = start;
        previousBits = std::size_t(bits.position() - out.data() - start) * 8 + bits.pending();
    }
    const unsigned tail = bits.pending();
    std::uint8_t* end = bits.finish();
    out.resize(std::size_t(end - out.data()));
    return tail;
}

FOLIO_ENCODER_LEVELS(unsigned, encodeRows, encodeRowsAt,
                     (const PageView& page, std::uint32_t y0, std::uint32_t y1,
                      std::vector<std::uint8_t>& out),
                     (page, y0, y1, out))

} // namespace

// Rows are coded independently of each other, so a tall page is coded in two
// halves at once and the halves joined as appendCodedHalf describes.
void EncodeG3OneD(const PageView& page, std::vector<std::uint8_t>& out) {
    constexpr std::uint32_t kSplitRows = 64;
    if (page.height < kSplitRows) {
        encodeRows(page, 0, page.height, out);
        return;
    }
    const std::uint32_t middle = page.height / 2;
    // Kept by the calling thread from page to page: fresh memory would be
    // cleared by the system, and resizing it cleared again, at every page.
    // Named through a reference, which the lambda captures: the name of a
    // thread_local would mean the helper thread's own vector there.
    thread_local std::vector<std::uint8_t> kept;
    std::vector<std::uint8_t>& second = kept;
    unsigned tail = 0;
    RunSideBySide([&] { tail = encodeRows(page, 0, middle, out); },
                  [&] { encodeRows(page, middle, page.height, second); });
    appendCodedHalf(out, tail, second);
}

} // namespace folio::tiflib
