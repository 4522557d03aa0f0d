// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// TIFF pictures through libtiff, the first image of the file. This decoder
// and tiflib/ are the only places that include libtiff: tiflib writes fax
// files, this reads pictures. A 1-bit picture (fax pages among them) is read
// scanline by scanline and comes out exactly black and white; every other
// photometric and compression libtiff knows goes through its RGBA reader, a
// band of rows at a time. The resolution is XResolution / YResolution in
// the ResolutionUnit (inches when absent; none for unit 1). Both readers
// give the picture as stored; the Orientation tag is then applied by
// TurnUpright, as the EXIF orientation of a JPEG is.
#include "PictureDecoders.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace folio {

namespace {

struct TiffSource {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos;
    std::string message; // the first error libtiff reported
    bool endedEarly;     // the fax decoder met the end of a strip's data
    // The pixels are being read: a JPEG codec warning is then damage.
    bool reading;
};

tmsize_t readProc(thandle_t h, void* buf, tmsize_t n) {
    auto* s = static_cast<TiffSource*>(h);
    if (n < 0)
        return -1;
    const std::size_t take = std::min(std::size_t(n), s->pos < s->size ? s->size - s->pos : 0);
    std::memcpy(buf, s->data + s->pos, take);
    s->pos += take;
    return tmsize_t(take);
}
tmsize_t writeProc(thandle_t, void*, tmsize_t) {
    return -1;
}
toff_t seekProc(thandle_t h, toff_t off, int whence) {
    auto* s = static_cast<TiffSource*>(h);
    std::uint64_t base = whence == SEEK_CUR ? s->pos : whence == SEEK_END ? s->size : 0;
    if (off > UINT64_MAX - base)
        return toff_t(-1);
    base += off;
    // Seeking past the end is allowed; reading there gives nothing.
    s->pos = base > s->size ? s->size : std::size_t(base);
    return base;
}
int closeProc(thandle_t) {
    return 0;
}
toff_t sizeProc(thandle_t h) {
    return static_cast<TiffSource*>(h)->size;
}
int mapProc(thandle_t, void**, toff_t*) {
    return 0;
}
void unmapProc(thandle_t, void*, toff_t) {}

int onError(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
    auto* s = static_cast<TiffSource*>(user);
    if (s->message.empty()) {
        char text[200];
        std::vsnprintf(text, sizeof text, fmt, ap);
        s->message = std::string(module ? module : "libtiff") + ": " + text;
    }
    return 1;
}
// Warnings pass, except that a fax strip's data ended early: libtiff then
// makes the rest of the page white, which would draw half a picture. The
// same for libjpeg's warnings on a JPEG strip (data cut short or corrupt),
// which libtiff passes on and decodes past: they count as errors.
int onWarning(TIFF* tif, void* user, const char* module, const char* fmt, va_list ap) {
    auto* s = static_cast<TiffSource*>(user);
    if (std::strstr(fmt, "Premature EOF"))
        s->endedEarly = true;
    else if (s->reading && module && std::strcmp(module, "JPEGLib") == 0)
        return onError(tif, user, module, fmt, ap);
    return 1;
}

[[noreturn]] void fail(const TiffSource& s, const char* fallback) {
    throw PictureError(s.message.empty() ? fallback : s.message);
}

void readBilevel(TIFF* tif, TiffSource& src, std::uint32_t w, std::uint32_t h, bool minIsWhite,
                 const PictureBudget& budget, GreyImage& out) {
    const tmsize_t line = TIFFScanlineSize(tif);
    if (line <= 0 || std::uint64_t(line) * 8 < w)
        fail(src, "the scanline size does not fit the width");
    std::vector<std::uint8_t> bits(std::size_t(line), 0);
    for (std::uint32_t y = 0; y < h; ++y) {
        CheckPictureTime(budget);
        if (TIFFReadScanline(tif, bits.data(), y, 0) < 0)
            fail(src, "a row cannot be read");
        std::uint8_t* dst = out.Row(int(y));
        for (std::uint32_t x = 0; x < w; ++x) {
            const bool set = (bits[x >> 3] >> (7 - (x & 7))) & 1;
            dst[x] = set == minIsWhite ? 0 : 255;
        }
    }
}

void readRgba(TIFF* tif, TiffSource& src, std::uint32_t w, std::uint32_t h,
              const PictureBudget& budget, GreyImage& out) {
    char why[1024] = "";
    if (!TIFFRGBAImageOK(tif, why))
        throw PictureError(std::string("libtiff cannot read it: ") + why);
    TIFFRGBAImage img;
    // Stop on error: otherwise a strip that cannot be decoded is left as
    // whatever the raster held, black or noise, and the reader succeeds.
    if (!TIFFRGBAImageBegin(&img, tif, 1, why))
        throw PictureError(std::string("libtiff cannot read it: ") + why);
    struct End {
        TIFFRGBAImage* img;
        ~End() { TIFFRGBAImageEnd(img); }
    } end{&img};
    // The raster as stored, rows top-down. Asked for top-left, libtiff
    // would flip a picture of another orientation within each band read
    // (not across the bands) and never turn it a quarter; TurnUpright does
    // the whole turn afterwards, as for every other picture.
    img.req_orientation = img.orientation;
    // Bands of whole strips (or tile rows), so that no strip is decoded
    // twice, but no band above 16 MiB of RGBA unless one strip is larger.
    std::uint32_t unit = h;
    if (TIFFIsTiled(tif))
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &unit);
    else
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &unit);
    unit = std::clamp<std::uint32_t>(unit, 1, h);
    const std::uint32_t fit = std::max<std::uint32_t>(1, (16u << 20) / (w * 4u));
    const std::uint32_t band =
        std::min(h, unit >= fit ? unit : unit * std::max<std::uint32_t>(1, fit / unit));
    if (std::uint64_t(band) * w > kMaxPicturePixels)
        throw PictureError("a strip of the picture is too large");
    std::vector<std::uint32_t> raster(std::size_t(band) * w);
    for (std::uint32_t top = 0; top < h; top += band) {
        const std::uint32_t rows = std::min(band, h - top);
        img.row_offset = int(top);
        img.col_offset = 0;
        CheckPictureTime(budget);
        if (!TIFFRGBAImageGet(&img, raster.data(), w, rows) || !src.message.empty())
            fail(src, "the picture's data cannot be read");
        for (std::uint32_t r = 0; r < rows; ++r) {
            const std::uint32_t* s = raster.data() + std::size_t(r) * w;
            std::uint8_t* dst = out.Row(int(top + r));
            for (std::uint32_t x = 0; x < w; ++x) {
                // Colours come premultiplied by alpha: over white adds the
                // light the picture lets through.
                const unsigned a = 255 - TIFFGetA(s[x]);
                const unsigned grey = GreyOfColour(TIFFGetR(s[x]), TIFFGetG(s[x]), TIFFGetB(s[x]));
                dst[x] = std::uint8_t(std::min(255u, grey + a));
            }
        }
    }
}

// Refuses a header that asks for more pixels than the file can hold: the
// strips (or tiles) must lie within the file, and their bytes, expanded at
// the most a codec can expand them, must cover the picture. Fax and JPEG
// codings have no such bound and are checked for the first only.
void checkDataFits(TIFF* tif, std::uint32_t w, std::uint32_t h, std::uint64_t bitsPerPixel,
                   std::uint16_t compression, std::size_t fileSize) {
    const bool tiled = TIFFIsTiled(tif);
    std::uint64_t* counts = nullptr;
    if (!TIFFGetField(tif, tiled ? TIFFTAG_TILEBYTECOUNTS : TIFFTAG_STRIPBYTECOUNTS, &counts) ||
        !counts)
        throw PictureError("the picture has no data");
    const std::uint32_t n = TIFFNumberOfStrips(tif);
    std::uint64_t total = 0;
    for (std::uint32_t i = 0; i < n && total <= fileSize; ++i)
        total += std::min<std::uint64_t>(counts[i], fileSize + 1);
    const std::string lie = "the header's " + std::to_string(w) + " x " + std::to_string(h) +
                            " pixels cannot be in a file of " + std::to_string(fileSize) + " bytes";
    if (total > fileSize)
        throw PictureError(lie);
    std::uint64_t ratio = 0; // largest expansion of the coding; 0: unbounded
    switch (compression) {
    case COMPRESSION_NONE:
        ratio = 1;
        break;
    case COMPRESSION_PACKBITS:
        ratio = 64; // 2 bytes give at most 128
        break;
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
        ratio = 1032;
        break;
    case COMPRESSION_LZW:
        ratio = 3641; // 9-bit codes for strings of up to 4096 bytes
        break;
    default:
        break;
    }
    const std::uint64_t bytes = std::uint64_t(h) * ((std::uint64_t(w) * bitsPerPixel + 7) / 8);
    if (ratio && bytes > total * ratio)
        throw PictureError(lie);
}

} // namespace

GreyImage DecodeTiff(const std::uint8_t* data, std::size_t size, const PictureBudget& budget) {
    if (!data || size < 8 ||
        !((data[0] == 'I' && data[1] == 'I') || (data[0] == 'M' && data[1] == 'M')))
        throw PictureError("the file is not a TIFF file");
    TiffSource src{data, size, 0, {}, false, false};
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options)
        throw PictureError("libtiff could not start");
    TIFFOpenOptionsSetErrorHandlerExtR(options, onError, &src);
    TIFFOpenOptionsSetWarningHandlerExtR(options, onWarning, &src);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(256) << 20);
    TIFF* tif = TIFFClientOpenExt("picture", "rm", &src, readProc, writeProc, seekProc, closeProc,
                                  sizeProc, mapProc, unmapProc, options);
    TIFFOpenOptionsFree(options);
    if (!tif)
        fail(src, "libtiff cannot open it");
    struct Close {
        TIFF* tif;
        ~Close() { TIFFClose(tif); }
    } close{tif};

    std::uint32_t w = 0, h = 0;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h))
        fail(src, "the picture has no size");
    CheckPictureSize(w, h, budget);
    std::uint16_t bits = 1, samples = 1, photometric = 0, compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    const bool hasPhotometric = TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
    checkDataFits(tif, w, h, std::uint64_t(bits) * samples, compression, size);

    GreyImage out;
    out.width = out.storedWidth = int(w);
    out.height = out.storedHeight = int(h);
    float rx = 0, ry = 0;
    std::uint16_t unit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &rx) &&
        TIFFGetField(tif, TIFFTAG_YRESOLUTION, &ry) &&
        (unit == RESUNIT_INCH || unit == RESUNIT_CENTIMETER)) {
        const double perInch = unit == RESUNIT_CENTIMETER ? 2.54 : 1.0;
        out.dpiX = UsableDpi(rx * perInch);
        out.dpiY = UsableDpi(ry * perInch);
        if (out.dpiX == 0 || out.dpiY == 0)
            out.dpiX = out.dpiY = 0;
    }
    out.pixels.assign(std::size_t(w) * h, 255);
    const bool bilevel = bits == 1 && samples == 1 && !TIFFIsTiled(tif) &&
                         (!hasPhotometric || photometric == PHOTOMETRIC_MINISWHITE ||
                          photometric == PHOTOMETRIC_MINISBLACK);
    // From here any error libtiff reports is damage to the pixels; what it
    // said while reading the header did not stop it.
    src.message.clear();
    src.reading = true;
    if (bilevel)
        readBilevel(tif, src, w, h, !hasPhotometric || photometric == PHOTOMETRIC_MINISWHITE,
                    budget, out);
    else
        readRgba(tif, src, w, h, budget, out);
    if (!src.message.empty())
        fail(src, "");
    if (src.endedEarly)
        throw PictureError("the data of the picture ends early");
    out.moreImages = std::max(0, int(TIFFNumberOfDirectories(tif)) - 1);
    return TurnUpright(std::move(out), orientation);
}

} // namespace folio
