// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The strict text-to-integer conversion of the settings fields.
#pragma once

#include <string_view>

namespace folio {

// An optional sign and decimal digits, nothing else, within the 32-bit range.
// Anything else throws folio::Error("'<text>' is not a valid integer value").
int StrToInt(std::string_view text);

} // namespace folio
