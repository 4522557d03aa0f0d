// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// PNG pictures through libpng: every colour type and bit depth, palettes
// with transparency, 16-bit and interlaced files. libpng expands the file to
// 8-bit grey or RGB (with alpha where it has any), sRGB-encoded: a gAMA
// chunk only corrects the samples to that encoding. Colour becomes grey by
// GreyOfColour, as in every other format, and the alpha is composed over
// white here. The resolution is the pHYs chunk when it is in pixels per
// metre.
#include "PictureDecoders.h"

#include <png.h>

#include <cstdio>
#include <cstring>

namespace folio {

namespace {

struct PngSource {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos;
    char message[160];
};

void onError(png_structp png, png_const_charp text) {
    auto* src = static_cast<PngSource*>(png_get_error_ptr(png));
    std::snprintf(src->message, sizeof src->message, "%s", text);
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

void readData(png_structp png, png_bytep out, std::size_t n) {
    auto* src = static_cast<PngSource*>(png_get_io_ptr(png));
    if (src->size - src->pos < n)
        png_error(png, "the file ends before the picture does");
    std::memcpy(out, src->data + src->pos, n);
    src->pos += n;
}

// Deflate packs at most 1032 bytes into one; a header that asks for more
// pixel bytes than its file could hold in that way lies about its size.
constexpr std::uint64_t kDeflateMaxRatio = 1032;

std::uint8_t overWhite(unsigned grey, unsigned alpha) {
    return std::uint8_t((grey * alpha + 255 * (255 - alpha) + 127) / 255);
}

// libpng reports errors by jumping back here: only trivially destructible
// locals live in this function, and the objects it fills belong to the
// caller. Returns false after such a jump.
bool decode(png_structp png, png_infop info, GreyImage* out, std::vector<std::uint8_t>* scratch,
            std::size_t fileSize, const PictureBudget& budget) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_info(png, info);
    png_uint_32 width = 0, height = 0;
    int depth = 0, colour = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colour, &interlace, nullptr, nullptr);
    CheckPictureSize(width, height, budget);
    const std::uint64_t rowBytes =
        (std::uint64_t(width) * png_get_channels(png, info) * depth + 7) / 8;
    if (std::uint64_t(height) * (rowBytes + 1) > std::uint64_t(fileSize) * kDeflateMaxRatio)
        throw PictureError("the header's " + std::to_string(width) + " x " +
                           std::to_string(height) + " pixels cannot be in a file of " +
                           std::to_string(fileSize) + " bytes");

    png_uint_32 ppmX = 0, ppmY = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &ppmX, &ppmY, &unit) && unit == PNG_RESOLUTION_METER) {
        out->dpiX = UsableDpi(ppmX * 0.0254);
        out->dpiY = UsableDpi(ppmY * 0.0254);
        if (out->dpiX == 0 || out->dpiY == 0)
            out->dpiX = out->dpiY = 0;
    }

    png_set_expand(png); // palette to RGB, grey below 8 bits to 8, tRNS to alpha
    png_set_strip_16(png);
    // To sRGB encoding: a file that states no gamma (or an sRGB chunk) is
    // sRGB already and is left as it is; libpng's own colour-to-grey is not
    // used, since with a gAMA chunk it weights in linear light and would
    // make the same colour another grey than a JPEG or a TIFF of it.
    png_set_gamma(png, PNG_DEFAULT_sRGB, PNG_DEFAULT_sRGB);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const int channels = png_get_channels(png, info);
    if (png_get_bit_depth(png, info) != 8 || channels < 1 || channels > 4)
        throw PictureError("libpng gave an unexpected pixel format");

    out->width = out->storedWidth = int(width);
    out->height = out->storedHeight = int(height);
    out->pixels.assign(std::size_t(width) * height, 255);
    if (channels == 1) {
        // Straight into the picture; interlaced passes fill in the same rows.
        for (int pass = 0; pass < passes; ++pass)
            for (png_uint_32 y = 0; y < height; ++y) {
                CheckPictureTime(budget);
                png_read_row(png, out->Row(int(y)), nullptr);
            }
        return true;
    }
    // Grey and alpha, RGB, RGB and alpha: through a buffer of one row.
    // Each pass of an interlaced file brings some pixels of some rows, and
    // libpng writes only those into the buffer: each is made grey and
    // composed into the picture as its pass brings it, so no more than one
    // row is ever held in colour.
    scratch->assign(std::size_t(width) * std::size_t(channels), 0);
    const bool alpha = channels % 2 == 0;
    for (int pass = 0; pass < passes; ++pass) {
        const png_uint_32 col0 = passes > 1 ? PNG_PASS_START_COL(pass) : 0;
        const png_uint_32 step = passes > 1 ? png_uint_32(1) << PNG_PASS_COL_SHIFT(pass) : 1;
        for (png_uint_32 y = 0; y < height; ++y) {
            CheckPictureTime(budget);
            png_read_row(png, scratch->data(), nullptr);
            if (passes > 1 && !PNG_ROW_IN_INTERLACE_PASS(y, pass))
                continue;
            std::uint8_t* dst = out->Row(int(y));
            for (png_uint_32 x = col0; x < width; x += step) {
                const std::uint8_t* s = scratch->data() + std::size_t(x) * std::size_t(channels);
                const unsigned grey = channels >= 3 ? GreyOfColour(s[0], s[1], s[2]) : s[0];
                dst[x] = overWhite(grey, alpha ? s[channels - 1] : 255);
            }
        }
    }
    return true;
}

} // namespace

GreyImage DecodePng(const std::uint8_t* data, std::size_t size, const PictureBudget& budget) {
    if (!data || size < 8 || png_sig_cmp(data, 0, 8) != 0)
        throw PictureError("the file is not a PNG file");
    PngSource src{data, size, 0, {}};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &src, onError, onWarning);
    if (!png)
        throw PictureError("libpng could not start");
    png_infop info = png_create_info_struct(png);
    struct Release {
        png_structp* png;
        png_infop* info;
        ~Release() { png_destroy_read_struct(png, info, nullptr); }
    } release{&png, &info};
    if (!info)
        throw PictureError("libpng could not start");
    png_set_read_fn(png, &src, readData);
    png_set_user_limits(png, 1000000, 1000000);
    // Chunks that change no pixel are passed over unread: libpng would
    // inflate and keep every text chunk (a thousand zTXt of 8 MB each take
    // minutes and gigabytes). Kept: PLTE, tRNS, pHYs, and gAMA and sRGB,
    // which say how the samples are encoded (cHRM and iCCP change nothing
    // here: colour becomes grey by fixed weights).
    static const png_byte unused[] =
        "tEXt\0zTXt\0iTXt\0tIME\0sPLT\0hIST\0bKGD\0pCAL\0sCAL\0oFFs\0eXIf\0cHRM\0iCCP";
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, unused, int(sizeof unused / 5));
    GreyImage out;
    std::vector<std::uint8_t> scratch;
    if (!decode(png, info, &out, &scratch, size, budget))
        throw PictureError(src.message);
    return out;
}

} // namespace folio
