// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Saturating arithmetic for page coordinates. Pen positions, margins and
// command arguments are 32-bit and may come from hostile macros; sums such
// as X + width stop at the ends of the range instead of wrapping.
#pragma once

#include <climits>
#include <cmath>
#include <cstdint>

namespace folio {

inline int Saturate(std::int64_t v) {
    return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : int(v);
}

inline int SatAdd(int a, int b) {
    return Saturate(std::int64_t(a) + b);
}
inline int SatSub(int a, int b) {
    return Saturate(std::int64_t(a) - b);
}

// trunc(v) as an int: NaN becomes 0, values beyond the range stop at its ends.
inline int TruncToInt(double v) {
    if (std::isnan(v))
        return 0;
    if (v >= 2147483647.0)
        return INT_MAX;
    if (v <= -2147483648.0)
        return INT_MIN;
    return int(std::trunc(v));
}

} // namespace folio
