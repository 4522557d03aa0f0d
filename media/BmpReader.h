// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Reading Windows BMP files into a 1-bit bitmap.
#pragma once

#include "Bitmap.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace folio {

// Largest BMP file read: a 24-bit picture of a whole fax page at 300 dpi is
// about 26 MB.
inline constexpr std::size_t kMaxBmpFileBytes = std::size_t(64) << 20;

// Decodes a BMP held in memory into `out` (black where the luminance is below
// half). Throws folio::Error("Bitmap image is not valid") for anything it
// cannot read; `out` is then unchanged. Palette indices past the colour table
// read as black; RLE runs past the right edge are cut off there.
void DecodeBmp(const std::uint8_t* data, std::size_t size, Bitmap& out);

// Reads and decodes a BMP file. A file that cannot be opened or read, is not
// a regular file or is larger than kMaxBmpFileBytes throws
// folio::Error("Cannot open file <path>").
void LoadBmpFile(const std::string& path, Bitmap& out);
// The same for a file already open; the caller keeps and closes `fd`.
void LoadBmpFile(int fd, const std::string& name, Bitmap& out);

} // namespace folio
