// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Bilevel pages as 1-bit greyscale PNG bytes in memory, for previews written
// to files (foliobuild) and sent over the network (folioset-server).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace folio {

// Encodes `height` rows of `width` pixels, each row `stride` bytes from the
// last, the leftmost pixel in a byte's most significant bit, a set bit
// black (the fax's own order). The PNG records 204 x 196 dots per inch.
// False, with `out` empty, when libpng fails (memory) or the sizes are not
// positive.
bool EncodeBilevelPng(const std::uint8_t* rows, int width, int height, std::size_t stride,
                      std::vector<std::uint8_t>& out);

} // namespace folio
