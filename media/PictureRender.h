// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// From file to page: reading a picture file of a FILE type, scaling it to
// its drawn size and making it black and white, line art by a threshold and
// everything else by error diffusion.
#pragma once

#include "Bitmap.h"
#include "Picture.h"

#include <string>

namespace folio {

enum class PictureType { Png, Jpeg, Tiff };

// Reads and decodes a picture file. A file that cannot be opened or read,
// is not a regular file or is larger than kMaxPictureFileBytes throws
// folio::Error("Cannot open file <path>"); one that is not a valid picture
// throws PictureError, one beyond `budget` PictureBudgetError.
GreyImage LoadPicture(const std::string& path, PictureType type, const PictureBudget& budget);
// The same for a file already open; the caller keeps and closes `fd`.
GreyImage LoadPicture(int fd, const std::string& name, PictureType type,
                      const PictureBudget& budget);

// Line art: at least kLineArtPercent per cent of the pixels lie within 15%
// of black or white (grey value <= 38 or >= 217 of 255).
inline constexpr int kLineArtPercent = 90;
inline constexpr int kNearBlack = 38, kNearWhite = 217;
bool IsLineArt(const GreyImage& picture);

// The part [x0, x1) x [y0, y1) of the picture scaled to `size` (area
// average down, bilinear up), black where the scaled grey is below 128 when
// `lineArt` (shrunk line art also where the source pixels a page pixel
// stands for hold a stroke, so that no thin line is lost), else
// Floyd-Steinberg error-diffused. The window must lie inside `size` and be
// at most Bitmap::kMaxSide a side.
Bitmap RenderPicture(const GreyImage& picture, DrawnSize size, std::int64_t x0, std::int64_t y0,
                     std::int64_t x1, std::int64_t y1, bool lineArt);

} // namespace folio
