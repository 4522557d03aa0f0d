// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Fuzz target: the writer's three fax encoders (Group 3 1-D and 2-D, Group
// 4) against libtiff. The input makes a page; each encoder codes it, libtiff
// must decode the coded strip to exactly the page's pixels without a single
// message (but for the first pixel of the one kind of 1-D row its decoder
// refuses, see codedOneD), and the strip must be the bytes libtiff's own
// encoder writes for the same pixels and tags. Any difference aborts. The TIFF files live in
// memory.
//
// Input: bytes 0-1 the width - 1 (little-endian, modulo 5400), byte 2 the
// height - 1 (modulo 100), byte 3 how the pixels are made from the bytes
// after it (taken in turn, over again when they run out; no bytes: a white
// page):
//   bits 0-1: 0 the bits themselves, row after row, most significant first;
//             1 runs of alternating colour, white first, a byte b giving
//             b + 1 pixels, or (b & 15) * 700 + 1 from 0xF0 on;
//             2 and 3: the first row as for 0, each next row the one above
//             shifted sideways by -3 .. 3 (2) or -8 .. 8 (3) pixels by a
//             byte, one pixel flipped when that byte's top bit is set;
//   bit 2: rows stored bottom-up, as in a DIB;
//   bit 3: the bits past the width all set, else taken from the bytes;
//   bit 4: Group 3 2-D at 98 rows per inch (groups of 2 rows), else at 196
//          (groups of 4), as libtiff chooses from the resolution.
//
// Cap: 300 000 pixels (the height is cut to fit), 64 KB of input.
#include "G3Encoder.h"
#include "G3TwoDEncoder.h"
#include "G4Encoder.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using folio::tiflib::PageView;

constexpr std::uint32_t kMaxWidth = 5400, kMaxHeight = 100;
constexpr std::size_t kMaxPixels = 300000, kMaxInput = 64 * 1024;

// The input bytes after the header, taken in turn and over again.
class Bytes {
  public:
    Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return size_ == 0; }
    std::uint8_t next() {
        if (size_ == 0)
            return 0;
        const std::uint8_t b = data_[at_];
        at_ = (at_ + 1) % size_;
        return b;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_, at_ = 0;
};

// The page, one byte a pixel (1 black), row after row.
std::vector<std::uint8_t> makePixels(std::uint32_t w, std::uint32_t h, unsigned how, Bytes& in) {
    std::vector<std::uint8_t> black(std::size_t(w) * h);
    if (in.empty())
        return black;
    auto bitsInto = [&](std::uint8_t* row, std::size_t count) {
        std::uint8_t byte = 0;
        for (std::size_t x = 0; x < count; ++x) {
            if (x % 8 == 0)
                byte = in.next();
            row[x] = (byte >> (7 - x % 8)) & 1;
        }
    };
    if (how == 0) {
        bitsInto(black.data(), black.size());
    } else if (how == 1) {
        std::uint8_t colour = 1;
        std::size_t left = 0; // pixels left in the current run
        for (std::uint8_t& p : black) {
            if (left == 0) {
                const std::uint8_t b = in.next();
                left = (b >= 0xF0 ? std::size_t(b & 15) * 700 : b) + 1;
                colour ^= 1;
            }
            p = colour;
            --left;
        }
    } else {
        const int reach = how == 2 ? 3 : 8;
        bitsInto(black.data(), w);
        for (std::uint32_t y = 1; y < h; ++y) {
            const std::uint8_t b = in.next();
            const int shift = int(b % (2 * reach + 1)) - reach;
            const std::uint8_t* above = black.data() + std::size_t(y - 1) * w;
            std::uint8_t* row = black.data() + std::size_t(y) * w;
            for (std::int64_t x = 0; x < std::int64_t(w); ++x) {
                const std::int64_t from = x - shift;
                row[x] = from >= 0 && from < std::int64_t(w) ? above[from] : 0;
            }
            if (b & 0x80) {
                const std::uint32_t at = (in.next() | std::uint32_t(in.next()) << 8) % w;
                row[at] ^= 1;
            }
        }
    }
    return black;
}

// A TIFF file in memory, for libtiff's client calls.
struct MemoryFile {
    std::vector<std::uint8_t> bytes;
    std::size_t at = 0;
    int messages = 0; // errors and warnings libtiff gave

    static MemoryFile& of(thandle_t h) { return *static_cast<MemoryFile*>(h); }
    static tmsize_t read(thandle_t h, void* to, tmsize_t n) {
        MemoryFile& f = of(h);
        const std::size_t count =
            std::min(std::size_t(n), f.bytes.size() - std::min(f.at, f.bytes.size()));
        if (count)
            std::memcpy(to, f.bytes.data() + f.at, count);
        f.at += count;
        return tmsize_t(count);
    }
    static tmsize_t write(thandle_t h, void* from, tmsize_t n) {
        MemoryFile& f = of(h);
        if (f.bytes.size() < f.at + std::size_t(n))
            f.bytes.resize(f.at + std::size_t(n));
        std::memcpy(f.bytes.data() + f.at, from, std::size_t(n));
        f.at += std::size_t(n);
        return n;
    }
    static toff_t seek(thandle_t h, toff_t offset, int whence) {
        MemoryFile& f = of(h);
        const std::int64_t base = whence == SEEK_CUR   ? std::int64_t(f.at)
                                  : whence == SEEK_END ? std::int64_t(f.bytes.size())
                                                       : 0;
        f.at = std::size_t(base + std::int64_t(offset));
        return toff_t(f.at);
    }
    static int close(thandle_t) { return 0; }
    static toff_t size(thandle_t h) { return toff_t(of(h).bytes.size()); }
    static int map(thandle_t, void**, toff_t*) { return 0; }
    static void unmap(thandle_t, void*, toff_t) {}
    static int message(TIFF*, void* user, const char*, const char*, va_list) {
        ++static_cast<MemoryFile*>(user)->messages;
        return 1;
    }

    TIFF* open(const char* mode) {
        at = 0;
        TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
        TIFFOpenOptionsSetErrorHandlerExtR(options, message, this);
        TIFFOpenOptionsSetWarningHandlerExtR(options, message, this);
        TIFF* tif = TIFFClientOpenExt("fuzz", mode, this, read, write, seek, close, size, map,
                                      unmap, options);
        TIFFOpenOptionsFree(options);
        return tif;
    }
};

enum class Coding { G3OneD, G3TwoD, G4 };

// Writes the page with the writer's tags for `coding`: `coded` as the strip
// when given, else the rows through libtiff's own encoder.
void writeTiff(MemoryFile& file, const PageView& page, Coding coding, double yResolution,
               const std::vector<std::uint8_t>* coded) {
    TIFF* tif = file.open("wl");
    if (!tif)
        std::abort();
    bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, page.width) &&
              TIFFSetField(tif, TIFFTAG_IMAGELENGTH, page.height) &&
              TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1) &&
              TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1) &&
              TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE) &&
              TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB) &&
              TIFFSetField(tif, TIFFTAG_XRESOLUTION, 204.0) &&
              TIFFSetField(tif, TIFFTAG_YRESOLUTION, yResolution) &&
              TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) &&
              TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, page.height);
    if (coding == Coding::G4) {
        ok = ok && TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4) &&
             TIFFSetField(tif, TIFFTAG_GROUP4OPTIONS, 0);
    } else {
        const std::uint32_t options =
            GROUP3OPT_FILLBITS | (coding == Coding::G3TwoD ? GROUP3OPT_2DENCODING : 0);
        ok = ok && TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3) &&
             TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, options);
    }
    ok = ok && TIFFSetField(tif, TIFFTAG_FAXMODE, FAXMODE_CLASSF);
    if (coded) {
        const auto size = tmsize_t(coded->size());
        ok =
            ok && TIFFWriteRawStrip(tif, 0, const_cast<std::uint8_t*>(coded->data()), size) == size;
    } else {
        std::vector<std::uint8_t> row((page.width + 7) / 8);
        for (std::uint32_t y = 0; ok && y < page.height; ++y) {
            std::memcpy(row.data(), page.row(y), row.size());
            ok = TIFFWriteScanline(tif, row.data(), y, 0) >= 0;
        }
    }
    if (!ok)
        std::abort();
    TIFFClose(tif);
}

// The file's strip as stored, and its pixels as libtiff decodes them (false
// when libtiff cannot decode a row).
bool readTiff(MemoryFile& file, std::vector<std::uint8_t>& strip,
              std::vector<std::uint8_t>* pixels) {
    TIFF* tif = file.open("r");
    if (!tif)
        std::abort();
    const tmsize_t size = tmsize_t(TIFFRawStripSize(tif, 0));
    strip.assign(std::size_t(std::max<tmsize_t>(size, 0)), 0);
    if (size <= 0 || TIFFReadRawStrip(tif, 0, strip.data(), size) != size)
        std::abort();
    if (pixels) {
        std::uint32_t w = 0, h = 0;
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
        pixels->assign(std::size_t(w) * h, 0);
        std::vector<std::uint8_t> line(std::size_t(TIFFScanlineSize(tif)));
        for (std::uint32_t y = 0; y < h; ++y) {
            if (TIFFReadScanline(tif, line.data(), y, 0) < 0) {
                TIFFClose(tif);
                return false;
            }
            for (std::uint32_t x = 0; x < w; ++x)
                (*pixels)[std::size_t(y) * w + x] = (line[x / 8] >> (7 - x % 8)) & 1;
        }
    }
    TIFFClose(tif);
    return true;
}

// libtiff 4.5's Group 3 1-D decoder (Debian 12's) keeps room for as many runs
// as the row has pixels when the width is a multiple of 32, so it refuses
// ("Buffer overflow") a row of one run a pixel that starts black: width + 1
// runs with the leading white run of 0. The 1-D coder codes such a row's
// first pixel white; these are the pixels it codes.
std::vector<std::uint8_t> codedOneD(std::vector<std::uint8_t> black, std::uint32_t w,
                                    std::uint32_t h) {
    if (w % 32 != 0)
        return black;
    for (std::uint32_t y = 0; y < h; ++y) {
        std::uint8_t* row = black.data() + std::size_t(y) * w;
        bool everyPixelARun = row[0] == 1;
        for (std::uint32_t x = 1; everyPixelARun && x < w; ++x)
            everyPixelARun = row[x] != row[x - 1];
        if (everyPixelARun)
            row[0] = 0;
    }
    return black;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4 || size > kMaxInput)
        return 0;
    const std::uint32_t width = 1 + (data[0] | std::uint32_t(data[1]) << 8) % kMaxWidth;
    std::uint32_t height = 1 + data[2] % kMaxHeight;
    height = std::max<std::uint32_t>(1, std::min<std::uint32_t>(height, kMaxPixels / width));
    const unsigned flags = data[3];
    Bytes in(data + 4, size - 4);
    const std::vector<std::uint8_t> black = makePixels(width, height, flags & 3, in);

    // The page block's rows: 4-byte multiples, padded as bit 3 says.
    const std::size_t rowBytes = (std::size_t(width) + 31) / 32 * 4;
    std::vector<std::uint8_t> block(rowBytes * height);
    for (std::uint8_t& b : block)
        b = (flags & 8) ? 0xFF : in.next();
    const bool bottomUp = flags & 4;
    PageView page;
    page.width = width;
    page.height = height;
    page.rowBytes = rowBytes;
    page.top = block.data() + (bottomUp ? rowBytes * (height - 1) : 0);
    page.step = bottomUp ? -std::ptrdiff_t(rowBytes) : std::ptrdiff_t(rowBytes);
    for (std::uint32_t y = 0; y < height; ++y) {
        auto* row = const_cast<std::uint8_t*>(page.row(y));
        for (std::uint32_t x = 0; x < width; ++x) {
            const auto bit = std::uint8_t(0x80 >> (x % 8));
            row[x / 8] = black[std::size_t(y) * width + x] ? row[x / 8] | bit : row[x / 8] & ~bit;
        }
    }

    // The pixels the 1-D coder codes, and a page block of them for libtiff.
    const std::vector<std::uint8_t> blackOneD = codedOneD(black, width, height);
    std::vector<std::uint8_t> blockOneD = block;
    PageView pageOneD = page;
    pageOneD.top = blockOneD.data() + (page.top - block.data());
    for (std::uint32_t y = 0; y < height; ++y)
        if (blackOneD[std::size_t(y) * width] != black[std::size_t(y) * width])
            const_cast<std::uint8_t*>(pageOneD.row(y))[0] &= 0x7F;

    const double yResolution = (flags & 16) ? 98.0 : 196.0;
    const std::uint32_t rowsPerGroup = yResolution > 150 ? 4 : 2;
    std::vector<std::uint8_t> coded, strip, theirs, pixels;
    for (Coding coding : {Coding::G3OneD, Coding::G3TwoD, Coding::G4}) {
        switch (coding) {
        case Coding::G3OneD:
            folio::tiflib::EncodeG3OneD(page, coded);
            break;
        case Coding::G3TwoD:
            folio::tiflib::EncodeG3TwoD(page, rowsPerGroup, coded);
            break;
        case Coding::G4:
            folio::tiflib::EncodeG4(page, coded);
            break;
        }
        MemoryFile ours;
        writeTiff(ours, page, coding, yResolution, &coded);
        const bool decoded = readTiff(ours, strip, &pixels);
        const std::vector<std::uint8_t>& want = coding == Coding::G3OneD ? blackOneD : black;
        if (strip != coded || !decoded || ours.messages != 0 || pixels != want) {
            std::fprintf(stderr, "faxcoder: coding %d of a %ux%u page does not decode to it\n",
                         int(coding), width, height);
            std::abort();
        }
        MemoryFile libtiff;
        writeTiff(libtiff, coding == Coding::G3OneD ? pageOneD : page, coding, yResolution,
                  nullptr);
        readTiff(libtiff, theirs, nullptr);
        if (theirs != coded) {
            std::fprintf(stderr, "faxcoder: coding %d of a %ux%u page is not libtiff's\n",
                         int(coding), width, height);
            std::abort();
        }
    }
    return 0;
}
