// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Strict decimal conversion.
#include "Convert.h"

#include "Error.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace folio {

int StrToInt(std::string_view text) {
    auto fail = [&]() -> int {
        throw Error("'" + std::string(text) + "' is not a valid integer value");
    };
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    if (i == text.size())
        return fail();
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c < '0' || c > '9')
            return fail();
        value = value * 10 + (c - '0');
        if (value > std::int64_t(INT32_MAX) + 1)
            return fail();
    }
    if (negative)
        value = -value;
    if (value > INT32_MAX || value < INT32_MIN)
        return fail();
    return int(value);
}

} // namespace folio
