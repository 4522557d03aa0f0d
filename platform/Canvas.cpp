// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Lines, rectangles and bitmap copies on a 1-bit canvas, clipped first.
#include "Canvas.h"

#include "TextRenderer.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <utility>

namespace folio {

Canvas::Canvas(Bitmap& bitmap) : bitmap_(bitmap) {}
Canvas::~Canvas() = default;

namespace {

// Floor and ceiling division for a positive divisor.
__int128 floorDiv128(__int128 a, __int128 b) {
    __int128 q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}
__int128 ceilDiv128(__int128 a, __int128 b) {
    return -floorDiv128(-a, b);
}

// Copies `n` pixels of the row `src` from pixel `from` to the row `dst` at
// pixel `to`, black and white alike (rows hold 8 pixels a byte, the first
// in the high bit). Single pixels up to a byte boundary of `dst`, then a
// whole byte at a time, put together from the two source bytes it spans.
void copyBits(std::uint8_t* dst, std::int64_t to, const std::uint8_t* src, std::int64_t from,
              std::int64_t n) {
    const auto one = [&] {
        const bool black = (src[from >> 3] >> (7 - (from & 7))) & 1;
        const std::uint8_t mask = std::uint8_t(0x80 >> (to & 7));
        dst[to >> 3] = black ? std::uint8_t(dst[to >> 3] | mask) : std::uint8_t(dst[to >> 3] & ~mask);
        ++from;
        ++to;
        --n;
    };
    while (n > 0 && (to & 7) != 0)
        one();
    const int shift = int(from & 7);
    std::uint8_t* d = dst + (to >> 3);
    const std::uint8_t* s = src + (from >> 3);
    const std::int64_t bytes = n >> 3;
    if (shift == 0) {
        std::copy(s, s + bytes, d);
    } else {
        // The second byte holds the last of the eight pixels, which lie in
        // the row: it is read only when some of them are in it.
        for (std::int64_t i = 0; i < bytes; ++i)
            d[i] = std::uint8_t(s[i] << shift | s[i + 1] >> (8 - shift));
    }
    from += bytes * 8;
    to += bytes * 8;
    n -= bytes * 8;
    while (n > 0)
        one();
}

} // namespace

// Step i (0 <= i < n, n = the longer side) sets the pixel at major = m0 + i*sm,
// minor = n0 + sn * floor((2*i*dn + n) / (2*n)): the Bresenham line, computed
// directly so the loop can start and stop at the page edges.
void Canvas::LineTo(int x, int y) {
    OtherInk();
    const std::int64_t x0 = penX_, y0 = penY_;
    penX_ = x;
    penY_ = y;
    const bool black = IsDarkColor(PenColor);
    const std::int64_t dx = std::int64_t(x) - x0, dy = std::int64_t(y) - y0;
    const std::int64_t adx = std::llabs(dx), ady = std::llabs(dy);
    const bool xMajor = adx >= ady;
    const std::int64_t n = xMajor ? adx : ady;
    if (n == 0 || bitmap_.Empty())
        return;
    const std::int64_t m0 = xMajor ? x0 : y0, n0 = xMajor ? y0 : x0;
    const std::int64_t sm = (xMajor ? dx : dy) < 0 ? -1 : 1;
    const std::int64_t sn = (xMajor ? dy : dx) < 0 ? -1 : 1;
    const std::int64_t dn = xMajor ? ady : adx;
    const std::int64_t mLimit = xMajor ? bitmap_.Width() : bitmap_.Height();
    const std::int64_t nLimit = xMajor ? bitmap_.Height() : bitmap_.Width();

    // Steps whose major coordinate lies on the bitmap: 0 <= m0 + i*sm < mLimit.
    std::int64_t iFirst = 0, iLast = n - 1;
    if (sm > 0) {
        iFirst = std::max(iFirst, -m0);
        iLast = std::min(iLast, mLimit - 1 - m0);
    } else {
        iFirst = std::max(iFirst, m0 - (mLimit - 1));
        iLast = std::min(iLast, m0);
    }
    // Steps whose minor coordinate lies on the bitmap. The offset
    // k(i) = floor((2*i*dn + n) / (2*n)) grows with i; solve k >= kmin and
    // k <= kmax for i.
    if (dn > 0) {
        std::int64_t kMin, kMax;
        if (sn > 0) {
            kMin = -n0;
            kMax = nLimit - 1 - n0;
        } else {
            kMin = n0 - (nLimit - 1);
            kMax = n0;
        }
        // k(i) >= kMin  <=>  2*i*dn + n >= 2*n*kMin  <=>  i >= ceil((2*n*kMin - n) / (2*dn))
        // k(i) <= kMax  <=>  2*i*dn + n < 2*n*(kMax+1) <=> i <= floor((2*n*(kMax+1) - n - 1) /
        // (2*dn)) n and |kMin|, |kMax| are below 2^33, so the products need 128 bits.
        using i128 = __int128;
        const i128 lo = ceilDiv128(i128(2) * n * kMin - n, i128(2) * dn);
        const i128 hi = floorDiv128(i128(2) * n * (kMax + 1) - n - 1, i128(2) * dn);
        if (lo > iLast || hi < iFirst)
            return;
        // lo and hi may lie beyond 64 bits; clamped to [iFirst, iLast] they fit.
        iFirst = std::int64_t(std::max<i128>(iFirst, lo));
        iLast = std::int64_t(std::min<i128>(iLast, hi));
    } else if (n0 < 0 || n0 >= nLimit) {
        return;
    }
    for (std::int64_t i = iFirst; i <= iLast; ++i) {
        std::int64_t major = m0 + i * sm;
        std::int64_t minor =
            n0 + sn * std::int64_t(floorDiv128(__int128(2) * i * dn + n, __int128(2) * n));
        if (xMajor)
            bitmap_.SetPixel(int(major), int(minor), black);
        else
            bitmap_.SetPixel(int(minor), int(major), black);
    }
}

void Canvas::Rectangle(int x1, int y1, int x2, int y2) {
    if (x1 > x2)
        std::swap(x1, x2);
    if (y1 > y2)
        std::swap(y1, y2);
    if (x1 == x2 || y1 == y2)
        return;
    if (x1 <= 0 && y1 <= 0 && x2 >= bitmap_.Width() && y2 >= bitmap_.Height() &&
        !IsDarkColor(BrushColor) && !IsDarkColor(PenColor))
        PaperCleared();
    else
        OtherInk();
    bitmap_.FillRect(x1, y1, x2, y2, IsDarkColor(BrushColor));
    const bool pen = IsDarkColor(PenColor);
    // x2 - 1 and y2 - 1 cannot overflow: x2 > x1 >= INT_MIN.
    bitmap_.FillRect(x1, y1, x2, y1 + 1, pen);
    bitmap_.FillRect(x1, y2 - 1, x2, y2, pen);
    bitmap_.FillRect(x1, y1, x1 + 1, y2, pen);
    bitmap_.FillRect(x2 - 1, y1, x2, y2, pen);
}

void Canvas::Draw(int x, int y, const Bitmap& src) {
    if (src.Empty() || bitmap_.Empty())
        return;
    OtherInk();
    // Source rows and columns that land on this bitmap, in 64 bits.
    const std::int64_t sx0 = std::max<std::int64_t>(0, -std::int64_t(x));
    const std::int64_t sy0 = std::max<std::int64_t>(0, -std::int64_t(y));
    const std::int64_t sx1 = std::min<std::int64_t>(src.Width(), std::int64_t(bitmap_.Width()) - x);
    const std::int64_t sy1 =
        std::min<std::int64_t>(src.Height(), std::int64_t(bitmap_.Height()) - y);
    if (sx0 >= sx1 || sy0 >= sy1)
        return;
    for (std::int64_t sy = sy0; sy < sy1; ++sy)
        copyBits(bitmap_.Row(int(sy + y)), sx0 + x, src.Row(int(sy)), sx0, sx1 - sx0);
}

} // namespace folio
