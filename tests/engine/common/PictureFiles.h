// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Writers of small PNG, JPEG and TIFF files for the picture tests, through
// libpng, libjpeg and libtiff themselves, so that no picture file is kept in
// the tree. A picture is given as a function from (x, y) to grey and alpha.
#pragma once

#include <png.h>
#include <tiffio.h>
#include <zlib.h>

#include <cstdio>
// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace picturetest {

struct Pixel {
    int grey = 255;  // 0 black .. 255 white
    int alpha = 255; // 0 transparent .. 255 opaque
    int rgb = -1;    // 0xRRGGBB in a colour file (-1: grey in every sample)
};
// Sample i (0 red, 1 green, 2 blue) of a pixel.
inline int sample(const Pixel& p, int i) {
    return p.rgb < 0 ? p.grey : p.rgb >> (16 - 8 * i) & 255;
}
using Source = std::function<Pixel(int x, int y)>;

// PNG of any colour type and depth. Palette files get the palette
// {black, white, grey 128, black} ({black, white} at 1 bit) and, with
// `alpha`, index 0 transparent. `gamma`: with a gAMA chunk of 1/2.2.
inline bool writePng(const std::string& path, int w, int h, int colour, int depth,
                     const Source& src, bool interlace = false, unsigned ppm = 0,
                     bool alpha = false, bool gamma = false) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, w, h, depth, colour,
                 interlace ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (colour == PNG_COLOR_TYPE_PALETTE) {
        // 0 black (transparent with `alpha`), 1 white, 2 grey, 3 opaque black
        png_color pal[4] = {{0, 0, 0}, {255, 255, 255}, {128, 128, 128}, {0, 0, 0}};
        png_set_PLTE(png, info, pal, depth == 1 ? 2 : 4);
        if (alpha) {
            png_byte trns[1] = {0};
            png_set_tRNS(png, info, trns, 1, nullptr);
        }
    }
    if (gamma)
        png_set_gAMA_fixed(png, info, 45455);
    if (ppm)
        png_set_pHYs(png, info, ppm, ppm, PNG_RESOLUTION_METER);
    png_write_info(png, info);
    const int channels = colour == PNG_COLOR_TYPE_GRAY         ? 1
                         : colour == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                         : colour == PNG_COLOR_TYPE_RGB        ? 3
                         : colour == PNG_COLOR_TYPE_RGBA       ? 4
                                                               : 1;
    const int passes = png_set_interlace_handling(png);
    const std::size_t rowBytes = (std::size_t(w) * channels * depth + 7) / 8;
    std::vector<png_byte> row(rowBytes);
    for (int pass = 0; pass < passes; ++pass)
        for (int y = 0; y < h; ++y) {
            std::fill(row.begin(), row.end(), 0);
            for (int x = 0; x < w; ++x) {
                const Pixel p = src(x, y);
                unsigned samples[4] = {};
                int n = 0;
                const unsigned max = (1u << depth) - 1;
                if (colour == PNG_COLOR_TYPE_PALETTE) {
                    const bool two = depth == 1;
                    samples[n++] = p.alpha == 0    ? 0
                                   : p.grey == 0   ? (alpha && !two ? 3 : 0)
                                   : p.grey == 255 ? 1
                                   : two           ? (p.grey < 128 ? 0 : 1)
                                                   : 2;
                } else {
                    for (int i = 0; i < (channels >= 3 ? 3 : 1); ++i)
                        samples[n++] = unsigned(sample(p, i)) * max / 255;
                    if (channels == 2 || channels == 4)
                        samples[n++] = unsigned(p.alpha) * max / 255;
                }
                for (int i = 0; i < n; ++i) {
                    const std::size_t bit = (std::size_t(x) * channels + i) * depth;
                    if (depth == 16) {
                        row[bit / 8] = png_byte(samples[i] >> 8);
                        row[bit / 8 + 1] = png_byte(samples[i]);
                    } else {
                        row[bit / 8] |= png_byte(samples[i] << (8 - depth - bit % 8));
                    }
                }
            }
            png_write_row(png, row.data());
        }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0;
}

enum class JpegKind { Grey, Colour, AdobeCmyk };

// JPEG at quality 95; `orientation` other than 0 adds an EXIF block with
// that tag, `dpi` a JFIF density in dots per inch (`dpiY` down, when not
// the same); `progressive`: the scans are all of the DC and then all of the
// AC coefficients.
inline bool writeJpeg(const std::string& path, int w, int h, JpegKind kind, const Source& src,
                      int orientation = 0, int dpi = 0, bool progressive = false, int dpiY = 0) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = JDIMENSION(w);
    c.image_height = JDIMENSION(h);
    c.input_components = kind == JpegKind::Grey ? 1 : kind == JpegKind::Colour ? 3 : 4;
    c.in_color_space = kind == JpegKind::Grey     ? JCS_GRAYSCALE
                       : kind == JpegKind::Colour ? JCS_RGB
                                                  : JCS_CMYK;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 95, TRUE);
    static const jpeg_scan_info scans[2] = {{1, {0}, 0, 0, 0, 0}, {1, {0}, 1, 63, 0, 0}};
    if (progressive) {
        c.scan_info = scans;
        c.num_scans = kind == JpegKind::Grey ? 2 : 0;
    }
    if (dpi) {
        c.density_unit = 1;
        c.X_density = UINT16(dpi);
        c.Y_density = UINT16(dpiY ? dpiY : dpi);
    }
    jpeg_start_compress(&c, TRUE);
    if (orientation) {
        // "Exif\0\0", little-endian TIFF header, IFD0 with one SHORT entry.
        const unsigned char exif[] = {'E', 'x',  'i',  'f', 0,
                                      0,   'I',  'I',  42,  0,
                                      8,   0,    0,    0,   1,
                                      0,   0x12, 0x01, 3,   0,
                                      1,   0,    0,    0,   static_cast<unsigned char>(orientation),
                                      0,   0,    0,    0,   0,
                                      0,   0};
        jpeg_write_marker(&c, JPEG_APP0 + 1, exif, sizeof exif);
    }
    std::vector<JSAMPLE> row(std::size_t(w) * c.input_components);
    while (c.next_scanline < c.image_height) {
        const int y = int(c.next_scanline);
        for (int x = 0; x < w; ++x) {
            const Pixel p = src(x, y);
            const int g = p.grey;
            JSAMPLE* s = row.data() + std::size_t(x) * c.input_components;
            if (kind == JpegKind::AdobeCmyk) {
                // Adobe stores 255 - ink: black ink only, no colour.
                s[0] = s[1] = s[2] = 255;
                s[3] = JSAMPLE(g);
            } else {
                for (int i = 0; i < c.input_components; ++i)
                    s[i] = JSAMPLE(sample(p, i));
            }
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    return std::fclose(f) == 0;
}

enum class TiffKind { FaxG4, FaxG3, Bilevel, Grey, Rgb };

// TIFF with `pages` images (each the same picture); fax kinds are 1-bit
// min-is-white at 204 x 196 dpi, Bilevel 1-bit min-is-black in `coding`, the
// others 8-bit in `coding` (LZW unless given), both without resolution
// unless `dpi` is given (`dpiY` down, when not the same). `orientation`
// other than 0 is written as the Orientation tag.
inline bool writeTiff(const std::string& path, int w, int h, TiffKind kind, const Source& src,
                      int pages = 1, int dpi = 0, int coding = COMPRESSION_LZW, int orientation = 0,
                      int dpiY = 0) {
    TIFF* t = TIFFOpen(path.c_str(), "w");
    if (!t)
        return false;
    const bool fax = kind == TiffKind::FaxG4 || kind == TiffKind::FaxG3;
    const bool bilevel = fax || kind == TiffKind::Bilevel;
    const int spp = kind == TiffKind::Rgb ? 3 : 1;
    for (int page = 0; page < pages; ++page) {
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bilevel ? 1 : 8);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, spp);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC,
                     fax                     ? PHOTOMETRIC_MINISWHITE
                     : kind == TiffKind::Rgb ? PHOTOMETRIC_RGB
                                             : PHOTOMETRIC_MINISBLACK);
        TIFFSetField(t, TIFFTAG_COMPRESSION,
                     kind == TiffKind::FaxG4   ? COMPRESSION_CCITTFAX4
                     : kind == TiffKind::FaxG3 ? COMPRESSION_CCITTFAX3
                                               : coding);
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, fax ? h : coding == COMPRESSION_JPEG ? 16 : 7);
        if (fax || dpi) {
            TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
            TIFFSetField(t, TIFFTAG_XRESOLUTION, fax ? 204.0f : float(dpi));
            TIFFSetField(t, TIFFTAG_YRESOLUTION, fax ? 196.0f : float(dpiY ? dpiY : dpi));
        }
        if (orientation)
            TIFFSetField(t, TIFFTAG_ORIENTATION, orientation);
        if (pages > 1) {
            TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
            TIFFSetField(t, TIFFTAG_PAGENUMBER, page, pages);
        }
        std::vector<std::uint8_t> row(bilevel ? (std::size_t(w) + 7) / 8 : std::size_t(w) * spp);
        for (int y = 0; y < h; ++y) {
            std::fill(row.begin(), row.end(), 0);
            for (int x = 0; x < w; ++x) {
                const Pixel p = src(x, y);
                const int g = p.grey;
                if (bilevel) {
                    if ((g < 128) == fax) // a set bit is black on a fax
                        row[std::size_t(x) / 8] |= std::uint8_t(0x80 >> (x % 8));
                } else {
                    for (int i = 0; i < spp; ++i)
                        row[std::size_t(x) * spp + i] = std::uint8_t(sample(p, i));
                }
            }
            if (TIFFWriteScanline(t, row.data(), std::uint32_t(y), 0) < 0) {
                TIFFClose(t);
                return false;
            }
        }
        TIFFWriteDirectory(t);
    }
    TIFFClose(t);
    return true;
}

// Hostile files, made from good ones. A progressive JPEG with its last scan
// (an AC scan of a white picture: end-of-band runs, a few dozen bytes)
// repeated until it has `scans` scans.
inline std::string repeatLastScan(const std::string& jpeg, int scans) {
    const std::size_t last = jpeg.rfind("\xFF\xDA"), end = jpeg.rfind("\xFF\xD9");
    std::string out = jpeg.substr(0, end);
    for (int i = 2; i < scans; ++i)
        out += jpeg.substr(last, end - last);
    return out + "\xFF\xD9";
}

// A JPEG with `count` random bytes (no 0xFF: no marker) in the middle of
// its last scan's data.
inline std::string scrambleScan(std::string jpeg, std::size_t count) {
    const std::size_t sos = jpeg.rfind("\xFF\xDA"), end = jpeg.rfind("\xFF\xD9");
    std::mt19937 random(7);
    for (std::size_t i = 0, at = sos + (end - sos - count) / 2; i < count; ++i)
        jpeg[at + i] = char(random() % 255);
    return jpeg;
}

// A PNG with `count` copies of one text chunk after its header: `head` (the
// type, keyword and flags of a zTXt or iTXt chunk), then `bytes` spaces
// deflated.
inline std::string withTextChunks(const std::string& png, const std::string& head, int count,
                                  std::size_t bytes) {
    const std::string text(bytes, ' ');
    uLongf n = compressBound(uLong(bytes));
    std::string body = head + std::string(n, '\0');
    compress(reinterpret_cast<Bytef*>(&body[head.size()]), &n,
             reinterpret_cast<const Bytef*>(text.data()), uLong(bytes));
    body.resize(head.size() + n);
    const auto be32 = [](uLong v) {
        return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    };
    const std::string chunk =
        be32(body.size() - 4) + body +
        be32(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size())));
    std::string out = png.substr(0, 33); // signature and header
    for (int i = 0; i < count; ++i)
        out += chunk;
    return out + png.substr(33);
}

enum class StripDamage { Cut, Zeroed };

// The 8-bit TIFF `tiff` copied to `path` with every strip cut to half its
// bytes or zeroed.
inline bool damageStrips(const std::string& tiff, const std::string& path, StripDamage damage) {
    TIFF* in = TIFFOpen(tiff.c_str(), "r");
    TIFF* out = TIFFOpen(path.c_str(), "w");
    if (!in || !out)
        return false;
    for (ttag_t tag : {TIFFTAG_IMAGEWIDTH, TIFFTAG_IMAGELENGTH, TIFFTAG_ROWSPERSTRIP}) {
        std::uint32_t v = 0;
        TIFFGetField(in, tag, &v);
        TIFFSetField(out, tag, v);
    }
    for (ttag_t tag : {TIFFTAG_BITSPERSAMPLE, TIFFTAG_SAMPLESPERPIXEL, TIFFTAG_PHOTOMETRIC,
                       TIFFTAG_PLANARCONFIG, TIFFTAG_COMPRESSION}) {
        std::uint16_t v = 0;
        TIFFGetField(in, tag, &v);
        TIFFSetField(out, tag, v);
    }
    std::uint32_t n = 0;
    void* tables = nullptr;
    if (TIFFGetField(in, TIFFTAG_JPEGTABLES, &n, &tables))
        TIFFSetField(out, TIFFTAG_JPEGTABLES, n, tables);
    for (tstrip_t strip = 0; strip < TIFFNumberOfStrips(in); ++strip) {
        std::vector<std::uint8_t> raw(std::size_t(TIFFRawStripSize(in, strip)));
        TIFFReadRawStrip(in, strip, raw.data(), tmsize_t(raw.size()));
        if (damage == StripDamage::Zeroed)
            std::fill(raw.begin(), raw.end(), 0);
        TIFFWriteRawStrip(out, strip, raw.data(),
                          tmsize_t(damage == StripDamage::Cut ? raw.size() / 2 : raw.size()));
    }
    TIFFClose(in);
    TIFFClose(out);
    return true;
}

} // namespace picturetest
