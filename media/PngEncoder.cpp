// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// 1-bit PNG output with libpng into a byte vector. PNG greyscale takes a set
// bit as white, the page a set bit as black, so each row is inverted on its
// way out; the bits past the last pixel of a row are ignored by readers.
#include "PngEncoder.h"

#include <png.h>

namespace folio {

namespace {

void appendBytes(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void flushNothing(png_structp) {}

// The part that libpng may leave by longjmp: nothing in it has a destructor
// (the vectors are the caller's and are only appended to).
bool encode(png_structp png, png_infop info, const std::uint8_t* rows, int width, int height,
            std::size_t stride, std::vector<std::uint8_t>* out, png_byte* row) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_write_fn(png, out, appendBytes, flushNothing);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 1, PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // 204 x 196 dots per inch in pixels per metre.
    png_set_pHYs(png, info, 8031, 7717, PNG_RESOLUTION_METER);
    png_write_info(png, info);
    const std::size_t rowBytes = (std::size_t(width) + 7) / 8;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* src = rows + std::size_t(y) * stride;
        for (std::size_t i = 0; i < rowBytes; ++i)
            row[i] = png_byte(~src[i]);
        png_write_row(png, row);
    }
    png_write_end(png, nullptr);
    return true;
}

} // namespace

bool EncodeBilevelPng(const std::uint8_t* rows, int width, int height, std::size_t stride,
                      std::vector<std::uint8_t>& out) {
    out.clear();
    if (!rows || width <= 0 || height <= 0 || stride < (std::size_t(width) + 7) / 8)
        return false;
    std::vector<png_byte> row((std::size_t(width) + 7) / 8);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    const bool ok = png && info && encode(png, info, rows, width, height, stride, &out, row.data());
    png_destroy_write_struct(&png, info ? &info : nullptr);
    if (!ok)
        out.clear();
    return ok;
}

} // namespace folio
