// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Picture sizes on the page grid, the picture limits, and reading a picture
// file into the decoder of its type.
#include "Picture.h"
#include "PictureDecoders.h"
#include "PictureRender.h"
#include "TextFile.h"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <utility>

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
    // A file whose content is another format than its type word says (a PNG
    // named .jpg and drawn as JPG) is refused as before, but saying what
    // the file is rather than only what it is not.
    const char* want = type == PictureType::Png    ? "PNG"
                       : type == PictureType::Jpeg ? "JPEG"
                                                   : "TIFF";
    if (const char* is = PictureFormatOf(data); is && std::string_view(is) != want) {
        throw PictureError(WrongFormatReason(is, want));
    }
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

DrawnSize SizedAs(DrawnSize natural, std::int64_t width, std::int64_t height) {
    const double w = double(std::max<std::int64_t>(1, natural.width));
    const double h = double(std::max<std::int64_t>(1, natural.height));
    if (width > 0 && height > 0)
        return {width, height};
    if (width > 0)
        return {width, std::max<std::int64_t>(1, std::llround(double(width) * h / w))};
    if (height > 0)
        return {std::max<std::int64_t>(1, std::llround(double(height) * w / h)), height};
    return natural;
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

bool OrientationSwapsSides(int orientation) {
    return orientation >= 5 && orientation <= 8;
}

GreyImage TurnUpright(GreyImage stored, int orientation) {
    if (orientation < 2 || orientation > 8)
        return stored;
    const int w = stored.width, h = stored.height;
    const std::vector<std::uint8_t> in = std::move(stored.pixels);
    GreyImage& out = stored;
    out.pixels.assign(in.size(), 255);
    if (OrientationSwapsSides(orientation)) {
        std::swap(out.width, out.height);
        std::swap(out.storedWidth, out.storedHeight);
        std::swap(out.dpiX, out.dpiY);
    }
    // Stored pixel (x, y) lands at (u, v) of the upright picture.
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* src = in.data() + std::size_t(y) * std::size_t(w);
        for (int x = 0; x < w; ++x) {
            int u = x, v = y;
            switch (orientation) {
            case 2: // row 0 at the top, column 0 at the right
                u = w - 1 - x;
                break;
            case 3: // row 0 at the bottom, column 0 at the right
                u = w - 1 - x;
                v = h - 1 - y;
                break;
            case 4: // row 0 at the bottom, column 0 at the left
                v = h - 1 - y;
                break;
            case 5: // row 0 at the left, column 0 at the top
                u = y;
                v = x;
                break;
            case 6: // row 0 at the right, column 0 at the top
                u = h - 1 - y;
                v = x;
                break;
            case 7: // row 0 at the right, column 0 at the bottom
                u = h - 1 - y;
                v = w - 1 - x;
                break;
            default: // 8: row 0 at the left, column 0 at the bottom
                u = y;
                v = w - 1 - x;
                break;
            }
            out.pixels[std::size_t(v) * std::size_t(out.width) + std::size_t(u)] = src[x];
        }
    }
    return std::move(out);
}

const char* PictureFormatOf(std::string_view data) {
    const std::string_view head = data.substr(0, 12);
    if (head.starts_with("\x89PNG\r\n\x1A\n"))
        return "PNG";
    if (head.starts_with("\xFF\xD8\xFF"))
        return "JPEG";
    if (head.starts_with(std::string_view("II*\0", 4)) ||
        head.starts_with(std::string_view("MM\0*", 4)) ||
        head.starts_with(std::string_view("II+\0", 4)) ||
        head.starts_with(std::string_view("MM\0+", 4)))
        return "TIFF";
    if (head.starts_with("BM"))
        return "BMP";
    if (head.starts_with("%PDF-"))
        return "PDF";
    if (head.starts_with("GIF8"))
        return "GIF";
    if (head.size() == 12 && head.starts_with("RIFF") && head.substr(8) == "WEBP")
        return "WebP";
    if (head.starts_with("%PDF"))
        return "PDF";
    return nullptr;
}

std::string WrongFormatReason(const char* format, const char* expected) {
    // The type word of FILE that draws a picture of `format`, if any.
    const std::string_view f = format;
    const char* word = f == "PNG"    ? "PNG"
                       : f == "JPEG" ? "JPG"
                       : f == "TIFF" ? "TIF"
                       : f == "BMP"  ? "BMP"
                                     : nullptr;
    return std::string("the file is a ") + format + " file, not a " + expected + " file" +
           (word ? std::string("; its type word is ") + word : "");
}

GreyImage LoadPicture(const std::string& path, PictureType type, const PictureBudget& budget) {
    return decode(ReadWholeFile(path, kMaxPictureFileBytes), type, budget);
}

GreyImage LoadPicture(int fd, const std::string& name, PictureType type,
                      const PictureBudget& budget) {
    return decode(ReadWholeFd(fd, name, kMaxPictureFileBytes), type, budget);
}

} // namespace folio
