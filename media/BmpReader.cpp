// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Decoding Windows BMP files into a 1-bit bitmap. Every size in the file is
// checked against the buffer before it is used, and the output is allocated
// only once the file has been shown to hold the pixels it claims (for
// uncompressed data) or the header has passed every test (for RLE, whose
// decoding work is bounded by the data size and the output size).
//
// Decisions for files that bend the format:
// - bfSize and biSizeImage of uncompressed files are ignored (writers often
//   get them wrong); the pixel rows must lie in the file, each padded to 4
//   bytes, the last one included.
// - The colour table must end at or before the pixel offset. Palette entries
//   the table does not hold (biClrUsed below 2^bits) read as black.
// - RLE: a run past the right edge is cut off there (it does not wrap), and
//   pixels moved above the top of the picture by a delta are dropped. The
//   data must end with the end-of-bitmap escape; running out of data before it
//   is a truncated file. Pixels no command writes keep colour 0.
// - Bit fields must be contiguous and lie within the pixel; the alpha channel
//   is ignored.
#include "BmpReader.h"

#include "DibTypes.h"
#include "Error.h"
#include "TextFile.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <iterator>
#include <utility>

namespace folio {

namespace {

[[noreturn]] void invalid() {
    throw Error("Bitmap image is not valid");
}

std::uint32_t u16(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8;
}
std::uint32_t u32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

// The black-and-white rule every colour goes through (same weights as
// IsDarkColor).
bool isDark(std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    return 299 * r + 587 * g + 114 * b < 128 * 1000;
}

constexpr std::size_t kFileHeaderBytes = 14;
constexpr std::uint32_t kCoreHeaderBytes = 12;
constexpr std::uint32_t kInfoHeaderBytes = 40;

// One colour channel of a bit-field pixel, scaled to 0..255.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    std::uint64_t max = 0; // mask >> shift

    // A mask must be one run of set bits within the pixel's `bits`.
    static Channel make(std::uint32_t mask, int bits) {
        Channel c;
        if (mask == 0)
            return c;
        if (bits < 32 && (mask >> bits) != 0)
            invalid();
        c.mask = mask;
        c.shift = std::countr_zero(mask);
        c.max = mask >> c.shift;
        if ((c.max & (c.max + 1)) != 0)
            invalid();
        return c;
    }
    std::uint32_t value(std::uint32_t pixel) const {
        return max ? std::uint32_t(((pixel & mask) >> shift) * 255 / max) : 0;
    }
};

struct Header {
    int width = 0;
    int height = 0;
    bool topDown = false;
    unsigned bitCount = 0;
    std::uint32_t compression = BI_RGB;
    Channel red, green, blue;
    // For 1 to 8 bits: whether each palette index is black.
    bool black[256] = {};
    std::size_t pixelOffset = 0;
    std::uint32_t sizeImage = 0;
};

Header parseHeader(const std::uint8_t* data, std::size_t size) {
    if (size < kFileHeaderBytes + 4 || data[0] != 'B' || data[1] != 'M')
        invalid();
    Header h;
    const std::uint32_t pixelOffset = u32(data + 10);
    const std::uint32_t headerBytes = u32(data + 14);
    switch (headerBytes) {
    case kCoreHeaderBytes: // BITMAPCOREHEADER
    case kInfoHeaderBytes: // BITMAPINFOHEADER
    case 52:               // with red, green and blue masks
    case 56:               // with an alpha mask as well
    case 108:              // BITMAPV4HEADER
    case 124:              // BITMAPV5HEADER
        break;
    default:
        invalid();
    }
    if (size - kFileHeaderBytes < headerBytes)
        invalid();
    const std::uint8_t* info = data + kFileHeaderBytes;
    const bool core = headerBytes == kCoreHeaderBytes;

    std::int64_t width, height;
    unsigned planes;
    std::uint32_t colorsUsed = 0;
    if (core) {
        width = u16(info + 4);
        height = u16(info + 6);
        planes = u16(info + 8);
        h.bitCount = u16(info + 10);
        if (h.bitCount != 1 && h.bitCount != 4 && h.bitCount != 8 && h.bitCount != 24)
            invalid();
    } else {
        width = std::int32_t(u32(info + 4));
        height = std::int32_t(u32(info + 8));
        planes = u16(info + 12);
        h.bitCount = u16(info + 14);
        h.compression = u32(info + 16);
        h.sizeImage = u32(info + 20);
        colorsUsed = u32(info + 32);
    }
    if (planes != 1)
        invalid();
    h.topDown = height < 0;
    height = h.topDown ? -height : height;
    if (width <= 0 || height <= 0 || width > Bitmap::kMaxSide || height > Bitmap::kMaxSide ||
        !Bitmap::IsValidSize(int(width), int(height)))
        invalid();
    h.width = int(width);
    h.height = int(height);

    // The colour table (or a 40-byte header's masks) follows the header.
    std::size_t tableStart = kFileHeaderBytes + headerBytes;
    switch (h.compression) {
    case BI_RGB:
        switch (h.bitCount) {
        case 1:
        case 4:
        case 8:
        case 24:
        case 32:
            break;
        case 16: // 5 bits each of red, green, blue
            h.red = Channel::make(0x7C00, 16);
            h.green = Channel::make(0x03E0, 16);
            h.blue = Channel::make(0x001F, 16);
            break;
        default:
            invalid();
        }
        break;
    case BI_RLE8:
    case BI_RLE4:
        // Compressed pictures are always stored bottom-up.
        if (h.bitCount != (h.compression == BI_RLE8 ? 8u : 4u) || h.topDown)
            invalid();
        break;
    case BI_BITFIELDS: {
        if (h.bitCount != 16 && h.bitCount != 32)
            invalid();
        const std::uint8_t* masks = info + 40;
        if (headerBytes == kInfoHeaderBytes) {
            if (size - tableStart < 12)
                invalid();
            masks = data + tableStart;
            tableStart += 12;
        }
        h.red = Channel::make(u32(masks), int(h.bitCount));
        h.green = Channel::make(u32(masks + 4), int(h.bitCount));
        h.blue = Channel::make(u32(masks + 8), int(h.bitCount));
        break;
    }
    default:
        invalid();
    }

    std::size_t tableEnd = tableStart;
    if (h.bitCount <= 8) {
        const std::uint32_t full = std::uint32_t(1) << h.bitCount;
        const std::uint32_t count = colorsUsed != 0 && colorsUsed < full ? colorsUsed : full;
        const std::size_t entryBytes = core ? 3 : 4;
        tableEnd = tableStart + count * entryBytes;
        if (tableEnd > size)
            invalid();
        // Entries are blue, green, red (and a reserved byte); missing ones are black.
        std::fill(std::begin(h.black), std::end(h.black), true);
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint8_t* e = data + tableStart + i * entryBytes;
            h.black[i] = isDark(e[2], e[1], e[0]);
        }
    }
    if (pixelOffset < tableEnd || pixelOffset > size)
        invalid();
    h.pixelOffset = pixelOffset;
    return h;
}

// Clears the bits of a row beyond the picture's width, which a 1-bit source
// row may have set.
void clearPadding(std::uint8_t* row, int width, int stride) {
    if (width & 7)
        row[width >> 3] &= std::uint8_t(0xFF00 >> (width & 7));
    const int used = (width + 7) >> 3;
    std::memset(row + used, 0, std::size_t(stride - used));
}

// Decodes one uncompressed row into a cleared 1-bit row.
void decodeRow(const Header& h, const std::uint8_t* src, std::uint8_t* dst, int stride) {
    const int w = h.width;
    if (h.bitCount == 1) {
        // Same bit order and row padding as the bitmap: copy or invert whole
        // bytes, unless both colours are the same.
        const bool black0 = h.black[0], black1 = h.black[1];
        if (black0 == black1)
            std::memset(dst, black0 ? 0xFF : 0x00, std::size_t(stride));
        else if (black1)
            std::memcpy(dst, src, std::size_t(stride));
        else
            for (int i = 0; i < stride; ++i)
                dst[i] = std::uint8_t(~src[i]);
        clearPadding(dst, w, stride);
        return;
    }
    auto set = [dst](int x) { dst[x >> 3] |= std::uint8_t(0x80 >> (x & 7)); };
    switch (h.bitCount) {
    case 4:
        for (int x = 0; x < w; ++x) {
            const std::uint8_t b = src[x >> 1];
            if (h.black[(x & 1) ? (b & 0x0F) : (b >> 4)])
                set(x);
        }
        break;
    case 8:
        for (int x = 0; x < w; ++x)
            if (h.black[src[x]])
                set(x);
        break;
    case 16:
        for (int x = 0; x < w; ++x) {
            const std::uint32_t p = u16(src + 2 * x);
            if (isDark(h.red.value(p), h.green.value(p), h.blue.value(p)))
                set(x);
        }
        break;
    case 24:
        for (int x = 0; x < w; ++x, src += 3)
            if (isDark(src[2], src[1], src[0]))
                set(x);
        break;
    case 32:
        if (h.compression == BI_RGB) {
            for (int x = 0; x < w; ++x, src += 4)
                if (isDark(src[2], src[1], src[0]))
                    set(x);
        } else {
            for (int x = 0; x < w; ++x) {
                const std::uint32_t p = u32(src + 4 * x);
                if (isDark(h.red.value(p), h.green.value(p), h.blue.value(p)))
                    set(x);
            }
        }
        break;
    }
}

void decodeUncompressed(const Header& h, const std::uint8_t* data, std::size_t size, Bitmap& out) {
    const std::uint64_t rowBytes = (std::uint64_t(h.width) * h.bitCount + 31) / 32 * 4;
    if (rowBytes * std::uint64_t(h.height) > size - h.pixelOffset)
        invalid();
    out.SetSize(h.width, h.height);
    const std::uint8_t* src = data + h.pixelOffset;
    for (int r = 0; r < h.height; ++r, src += rowBytes)
        decodeRow(h, src, out.Row(h.topDown ? r : h.height - 1 - r), out.Stride());
}

// RLE8 and RLE4: pairs (count, value) give a run; (0, 0) ends a line, (0, 1)
// the picture, (0, 2, dx, dy) moves the position, (0, n >= 3) is followed by
// n literal pixels padded to a 16-bit boundary. Line 0 is the bottom row.
void decodeRle(const Header& h, const std::uint8_t* data, std::size_t size, Bitmap& out) {
    std::size_t end = size;
    if (h.sizeImage != 0) {
        if (h.sizeImage > size - h.pixelOffset)
            invalid();
        end = h.pixelOffset + h.sizeImage;
    }
    const bool four = h.compression == BI_RLE4;
    out.SetSize(h.width, h.height);
    if (h.black[0])
        out.Fill(true);

    // Positions are 64-bit: deltas and runs may carry them far past the picture.
    std::int64_t x = 0, line = 0;
    auto put = [&](std::int64_t px, unsigned index) {
        if (px >= h.width || line >= h.height)
            return;
        std::uint8_t* row = out.Row(int(h.height - 1 - line));
        const std::uint8_t mask = std::uint8_t(0x80 >> (px & 7));
        if (h.black[index])
            row[px >> 3] |= mask;
        else
            row[px >> 3] &= std::uint8_t(~mask);
    };
    std::size_t p = h.pixelOffset;
    for (;;) {
        if (end - p < 2)
            invalid();
        const unsigned count = data[p], value = data[p + 1];
        p += 2;
        if (count > 0) {
            // Only the part of the run left of the right edge is visited.
            const std::int64_t stop =
                line < h.height ? std::min<std::int64_t>(x + count, h.width) : x;
            for (std::int64_t px = x; px < stop; ++px)
                put(px, four ? (((px - x) & 1) ? (value & 0x0F) : (value >> 4)) : value);
            x += count;
            continue;
        }
        if (value == 0) {
            x = 0;
            ++line;
        } else if (value == 1) {
            break;
        } else if (value == 2) {
            if (end - p < 2)
                invalid();
            x += data[p];
            line += data[p + 1];
            p += 2;
        } else {
            const std::size_t bytes = four ? (value + 1) / 2 : value;
            const std::size_t padded = bytes + (bytes & 1);
            if (end - p < padded)
                invalid();
            const std::int64_t stop =
                line < h.height ? std::min<std::int64_t>(x + value, h.width) : x;
            for (std::int64_t px = x; px < stop; ++px) {
                const std::size_t i = std::size_t(px - x);
                const std::uint8_t b = data[p + (four ? i / 2 : i)];
                put(px, four ? ((i & 1) ? (b & 0x0F) : (b >> 4)) : b);
            }
            x += value;
            p += padded;
        }
    }
}

} // namespace

void DecodeBmp(const std::uint8_t* data, std::size_t size, Bitmap& out) {
    if (!data)
        invalid();
    const Header h = parseHeader(data, size);
    Bitmap result;
    if (h.compression == BI_RLE8 || h.compression == BI_RLE4)
        decodeRle(h, data, size, result);
    else
        decodeUncompressed(h, data, size, result);
    out = std::move(result);
}

void LoadBmpFile(const std::string& path, Bitmap& out) {
    const std::string data = ReadWholeFile(path, kMaxBmpFileBytes);
    DecodeBmp(reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), out);
}

void LoadBmpFile(int fd, const std::string& name, Bitmap& out) {
    const std::string data = ReadWholeFd(fd, name, kMaxBmpFileBytes);
    DecodeBmp(reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), out);
}

} // namespace folio
