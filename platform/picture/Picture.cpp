// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Picture sizes on the page grid, the picture limits, and reading a picture
// file into the decoder of its type.
#include "Picture.h"
#include "PictureDecoders.h"
#include "PictureRender.h"
#include "TextFile.h"

#include <cmath>

namespace folio {

namespace {

std::int64_t drawnSide(int pixels, double dpi, double pageDpi) {
    if (dpi <= 0)
        return pixels;
    const double side = std::round(double(pixels) * pageDpi / dpi);
    return side < 1 ? 1 : std::int64_t(side);
}

GreyImage decode(const std::string& data, PictureType type, const PictureBudget& budget) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
    switch (type) {
    case PictureType::Png:
        return DecodePng(bytes, data.size(), budget);
    case PictureType::Jpeg:
        return DecodeJpeg(bytes, data.size(), budget);
    case PictureType::Tiff:
        break;
    }
    return DecodeTiff(bytes, data.size(), budget);
}

} // namespace

DrawnSize DrawnSizeOf(int width, int height, double dpiX, double dpiY) {
    return {drawnSide(width, dpiX, kPageDpiX), drawnSide(height, dpiY, kPageDpiY)};
}

void CheckPictureSize(std::int64_t width, std::int64_t height, const PictureBudget& budget) {
    if (width <= 0 || height <= 0)
        throw PictureError("the picture has no pixels");
    const std::uint64_t pixels = std::uint64_t(width) * std::uint64_t(height);
    if (pixels > kMaxPicturePixels)
        throw PictureError(std::to_string(width) + " x " + std::to_string(height) +
                           " pixels is more than the 64 million a picture may have");
    if (pixels > budget.pixels)
        throw PictureBudgetError("its " + std::to_string(width) + " x " + std::to_string(height) +
                                 " pixels are more than the " + std::to_string(budget.pixels) +
                                 " left");
}

void CheckPictureTime(const PictureBudget& budget) {
    if (std::chrono::steady_clock::now() > budget.deadline)
        PictureOutOfTime();
}

void PictureOutOfTime() {
    throw PictureBudgetError("decoding it takes longer than the time left");
}

double UsableDpi(double dpi) {
    return std::isfinite(dpi) && dpi >= kMinPictureDpi && dpi <= kMaxPictureDpi ? dpi : 0;
}

GreyImage LoadPicture(const std::string& path, PictureType type, const PictureBudget& budget) {
    return decode(ReadWholeFile(path, kMaxPictureFileBytes), type, budget);
}

GreyImage LoadPicture(int fd, const std::string& name, PictureType type,
                      const PictureBudget& budget) {
    return decode(ReadWholeFd(fd, name, kMaxPictureFileBytes), type, budget);
}

} // namespace folio
