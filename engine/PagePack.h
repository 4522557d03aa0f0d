// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The compact form a page is held in while it is not the current page: each
// row is kept as its difference (exclusive or) from the row above, and of
// that difference only the bytes that are not zero. Text pages repeat most of
// each row in the next one (stems, blank gaps between lines), so a page of
// text shrinks to about a sixth of its bitmap, and packing or unpacking costs
// a few word operations a row: far less than any fax coding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace folio {

class Bitmap;

// The packed rows of `page`, in memory of the calling thread that the next
// call on the thread reuses. The bits that pad each row past the width are
// not kept (they read back clear). Throws std::bad_alloc when the packed
// form cannot be held.
std::span<const std::uint8_t> PackPageInPlace(const Bitmap& page);
// The same, copied to `out`.
void PackPage(const Bitmap& page, std::vector<std::uint8_t>& out);

// Unpacks rows packed from a page of `width` x `height` pixels with rows of
// `stride` bytes (as PackPage found them) into `height` rows of `stride`
// bytes, row y at `top + y * step` (`step` may be negative, for bottom-up
// rows). With `setPadding` the bits past the width come out set, else clear.
// The packed bytes must be PackPage's output for a page of that size; a short
// or damaged form leaves the remaining rows as copies of the last good one.
void UnpackPage(std::span<const std::uint8_t> packed, int width, int height, int stride,
                std::uint8_t* top, std::ptrdiff_t step, bool setPadding);

} // namespace folio
