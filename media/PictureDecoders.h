// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The picture decoders, one file each: PNG through libpng, JPEG through
// libjpeg-turbo, TIFF through libtiff. Each takes the whole file in memory
// and returns the picture as a GreyImage, or throws PictureError with the
// reason; nothing is half-returned. A picture the decoder could
// read only past damage comes back with GreyImage::damage set.
#pragma once

#include "Picture.h"

namespace folio {

// A picture beyond `budget` throws PictureBudgetError.
GreyImage DecodePng(const std::uint8_t* data, std::size_t size, const PictureBudget& budget);
// Decodes a reduction (DCT scaling by n/8) when the picture is drawn smaller
// than it is stored, never smaller than its drawn size.
GreyImage DecodeJpeg(const std::uint8_t* data, std::size_t size, const PictureBudget& budget);
GreyImage DecodeTiff(const std::uint8_t* data, std::size_t size, const PictureBudget& budget);

} // namespace folio
