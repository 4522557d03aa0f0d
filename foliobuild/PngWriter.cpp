// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// 1-bit PNG output with libpng. PNG greyscale takes a set bit as white, the
// page a set bit as black, so each row is inverted on its way out; the bits
// past the last pixel of a row are ignored by readers.
#include "PngWriter.h"

#include "OutputFile.h"

#include <png.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unistd.h>
#include <vector>

namespace folio {

namespace {

// The part that libpng may leave by longjmp: nothing in it has a destructor.
bool writeImage(png_structp png, png_infop info, std::FILE* f, const Bitmap& page, png_byte* row) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_init_io(png, f);
    png_set_IHDR(png, info, png_uint_32(page.Width()), png_uint_32(page.Height()), 1,
                 PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    // 204 x 196 dots per inch in pixels per metre.
    png_set_pHYs(png, info, 8031, 7717, PNG_RESOLUTION_METER);
    png_write_info(png, info);
    for (int y = 0; y < page.Height(); ++y) {
        const std::uint8_t* src = page.Row(y);
        for (int i = 0; i < page.Stride(); ++i)
            row[i] = png_byte(~src[i]);
        png_write_row(png, row);
    }
    png_write_end(png, nullptr);
    return true;
}

} // namespace

bool WritePng(const Bitmap& page, const std::string& path, std::string& error) {
    std::vector<png_byte> row(std::size_t(page.Stride()));
    // Written whole or not at all, like the fax itself: an earlier picture
    // survives a failure, and a device or pipe is written into, not replaced.
    std::unique_ptr<OutputFile> output = OutputFile::Create(path, error);
    if (!output) {
        error = path + ": " + error;
        return false;
    }
    const int fd = ::dup(output->Fd());
    std::FILE* f = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
    if (!f) {
        error = path + ": " + std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool ok = png && info && writeImage(png, info, f, page, row.data());
    png_destroy_write_struct(&png, info ? &info : nullptr);
    if (std::fclose(f) != 0)
        ok = false;
    if (!ok) {
        error = path + ": cannot write the PNG file";
        return false;
    }
    if (!output->Commit(error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

} // namespace folio
