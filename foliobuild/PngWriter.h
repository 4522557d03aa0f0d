// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Writing a page bitmap as a 1-bit greyscale PNG, for a quick look at pages.
#pragma once

#include "Bitmap.h"

#include <string>

namespace folio {

// Writes `page` to `path` (black ink as black). False with `error` set when
// the file cannot be written.
bool WritePng(const Bitmap& page, const std::string& path, std::string& error);

} // namespace folio
