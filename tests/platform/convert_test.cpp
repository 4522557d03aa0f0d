// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Strict decimal conversion of settings fields.
#include "Convert.h"
#include "Error.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace folio {
namespace {

TEST(StrToInt, AcceptsSignAndDigitsOnly) {
    struct Case {
        std::string text;
        bool valid;
        int value;
    };
    const std::vector<Case> cases = {
        {"12", true, 12},
        {"-5", true, -5},
        {"+7", true, 7},
        {"0", true, 0},
        {"-0", true, 0},
        {"007", true, 7},
        {"2147483647", true, INT_MAX},
        {"-2147483648", true, INT_MIN},
        {"00000000000000000000042", true, 42},
        {"2147483648", false, 0},
        {"-2147483649", false, 0},
        {"99999999999999999999999", false, 0},
        {" 1", false, 0},
        {"1 ", false, 0},
        {"", false, 0},
        {"-", false, 0},
        {"+", false, 0},
        {"+-1", false, 0},
        {"--1", false, 0},
        {"1e3", false, 0},
        {"0x10", false, 0},
        {"$10", false, 0},
        {"1.0", false, 0},
        {"١", false, 0},
    };
    for (const Case& c : cases) {
        if (c.valid) {
            EXPECT_EQ(StrToInt(c.text), c.value) << c.text;
            continue;
        }
        try {
            StrToInt(c.text);
            ADD_FAILURE() << "accepted '" << c.text << "'";
        } catch (const Error& e) {
            EXPECT_EQ(std::string(e.what()), "'" + c.text + "' is not a valid integer value");
        }
    }
}

} // namespace
} // namespace folio
