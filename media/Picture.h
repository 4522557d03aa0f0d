// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Pictures drawn by FILE=name,PNG / JPG / TIF: the grey image the decoders
// make, the limits every decoder keeps, and the size a picture takes on the
// page's 204 x 196 dpi grid.
#pragma once

#include "Error.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace folio {

// A picture that would decode to more pixels than this is refused before
// any pixel memory is taken (a 64-megapixel photo is about 9200 x 6900).
inline constexpr std::uint64_t kMaxPicturePixels = 64'000'000;
// Largest picture file read.
inline constexpr std::size_t kMaxPictureFileBytes = std::size_t(64) << 20;
// A progressive JPEG of more scans than this is refused: common encoders
// write about 10, and every scan is a pass over the whole picture, so a
// file of thousands of tiny scans costs minutes (libjpeg-turbo's djpeg
// offers the same refusal as -maxscan).
inline constexpr int kMaxJpegScans = 100;
// The page grid in dots per inch.
inline constexpr double kPageDpiX = 204.0, kPageDpiY = 196.0;
// A stated resolution outside this range is taken as no resolution: it is a
// placeholder (JFIF 1:1, pHYs of 1 pixel per metre), not a size.
inline constexpr double kMinPictureDpi = 10.0, kMaxPictureDpi = 20000.0;

// A file that is not a valid picture of its type. Its message is the one a
// bad BMP gives; Reason() says what the decoder found, for diagnostics.
class PictureError : public Error {
  public:
    explicit PictureError(std::string reason)
        : Error("Bitmap image is not valid"), reason_(std::move(reason)) {}
    const std::string& Reason() const { return reason_; }

  private:
    std::string reason_;
};

// What one picture may still cost of its build's budget: the pixels it may
// have as stored, and the time by which its decoding must be done. The
// default is one picture alone, limited only by kMaxPicturePixels.
struct PictureBudget {
    std::uint64_t pixels = kMaxPicturePixels;
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
    // The size the FILE command draws the picture at, in page pixels (0: its
    // own size on that side, see SizedAs). A decoder that can decode smaller
    // (JPEG's DCT scaling) decodes no larger than that needs, and the pixel
    // limits count the pixels decoded.
    std::int64_t wantWidth = 0, wantHeight = 0;
};

// A picture that would go beyond its build's budget. Unlike PictureError the
// file is not at fault: the message says which limit it reached.
class PictureBudgetError : public Error {
  public:
    explicit PictureBudgetError(const std::string& message) : Error(message) {}
};

// An 8-bit grey picture, rows top-down, 0 black and 255 white, already
// turned upright and composed over white. `width` x `height` is what the
// decoder produced, which may be a reduction of the picture as stored
// (JPEG DCT scaling); the drawn size is worked out from the stored size.
struct GreyImage {
    int width = 0, height = 0;
    std::vector<std::uint8_t> pixels;

    // The picture as stored, upright, in pixels.
    int storedWidth = 0, storedHeight = 0;
    // Stated resolution in dots per inch; 0 when none is stated (or it is
    // outside kMinPictureDpi..kMaxPictureDpi).
    double dpiX = 0, dpiY = 0;
    // More images in the file than the one drawn (TIFF pages after the first).
    int moreImages = 0;
    // Damage the decoder read past, drawn as well as it could be: the first
    // warning of the decoding library, and how many it gave (0: none).
    std::string damage;
    int damageCount = 0;

    std::uint8_t* Row(int y) { return pixels.data() + std::size_t(y) * std::size_t(width); }
    const std::uint8_t* Row(int y) const {
        return pixels.data() + std::size_t(y) * std::size_t(width);
    }
};

// The grey of a colour, for every decoder (and so every format): 8-bit
// samples are taken as sRGB-encoded (a PNG with another gAMA is brought to
// sRGB by its decoder first) and weighted as Rec. 601 luma, 0.299 R +
// 0.587 G + 0.114 B, on the encoded values, rounded. Why this rule: it is
// the Y a JPEG stores (libjpeg decodes a colour JPEG to grey by keeping Y,
// or by these weights for an RGB one), so a JPEG costs nothing and agrees
// exactly; the result stays in the encoding the dither's 0..255 scale
// already assumes for grey pictures, so a grey pixel keeps its value; and
// it needs no table or power function. Rec. 709 weights in linear light
// would make saturated colours up to a fifth lighter (pure red 51% black
// against 70%), a difference a black-and-white fax does not gain from.
inline std::uint8_t GreyOfColour(unsigned red, unsigned green, unsigned blue) {
    return std::uint8_t((77 * red + 150 * green + 29 * blue + 128) >> 8);
}

// Size in page pixels of a picture of `width` x `height` stored pixels at
// the given resolution (0: pixel for pixel), rounded to the nearest pixel
// and at least 1. 64-bit: a low resolution makes a picture far larger than
// any page.
struct DrawnSize {
    std::int64_t width = 0, height = 0;
};
DrawnSize DrawnSizeOf(int width, int height, double dpiX, double dpiY);
// `natural` drawn at `width` x `height` page pixels instead: one side alone
// (the other 0) takes the other from the picture's shape; neither keeps it.
DrawnSize SizedAs(DrawnSize natural, std::int64_t width, std::int64_t height);

// Throws PictureError when width x height is empty or above
// kMaxPicturePixels, PictureBudgetError when it is above budget.pixels.
void CheckPictureSize(std::int64_t width, std::int64_t height, const PictureBudget& budget);
// Throws PictureBudgetError once budget.deadline has passed. The decoders
// call it between rows and scans: a picture stops within a row of its
// deadline.
void CheckPictureTime(const PictureBudget& budget);
// The PictureBudgetError of a picture past its deadline.
[[noreturn]] void PictureOutOfTime();

// A resolution read from a file, in dots per inch, or 0 when it is no usable
// resolution.
double UsableDpi(double dpi);

// Orientation as TIFF tag 274 and EXIF tag 0x0112 give it: where the stored
// row 0 and column 0 belong on the upright picture. 1 is upright, 2 to 4
// mirror or turn it half, 5 to 8 turn it a quarter (mirrored or not) and so
// swap its sides. Any other value is taken as 1.
bool OrientationSwapsSides(int orientation);
// A picture decoded as stored, turned upright: its pixels, and with a
// quarter turn its stored sides and its resolutions as well (a 150 x 300
// dpi picture turned a quarter is 300 x 150 dpi upright).
GreyImage TurnUpright(GreyImage stored, int orientation);

// The picture format the first bytes of a file (at least 12 of them when
// it has them) announce: "PNG", "JPEG", "TIFF", "BMP", "GIF", "WebP" or
// "PDF"; null when they announce none of these.
const char* PictureFormatOf(std::string_view head);
// The reason a file of `format` is no picture of the `expected` format, and
// the FILE type word that draws it where there is one: "the file is a PNG
// file, not a JPEG file; its type word is PNG".
std::string WrongFormatReason(const char* format, const char* expected);

} // namespace folio
