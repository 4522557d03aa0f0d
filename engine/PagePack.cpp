// Packing pages. A row is read as 64-bit words in memory order (byte i of a
// word is byte i of the row whatever the machine's byte order, since only
// exclusive or and zero tests touch them). The packed form is, for each row:
//   - a word mask, one bit per word of the row's used bytes (bit i of byte
//     i / 8 for word i), set where the word differs from the row above;
//   - for each such word, in order, a byte mask (bit k for byte k of the
//     word) and the bytes of the difference that are not zero.
// The row above the first row is white. The padding past the width is left
// out: the last used word is masked, words wholly past it are not looked at.
#include "PagePack.h"

#include "Bitmap.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace folio {
namespace {

constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
constexpr std::uint64_t kHigh1 = 0x8080808080808080ull;

// Bit k set where byte k of x is not zero. The high bit of each byte marks it,
// then one multiplication gathers the eight marks into the top byte (every
// partial product lands on its own bit, so nothing carries).
inline unsigned nonZeroBytes(std::uint64_t x) {
    const std::uint64_t marks = (((x & kLow7) + kLow7) | x) & kHigh1;
    return unsigned(((marks >> 7) * 0x0102040810204080ull) >> 56);
}

// The layout of a row's words, the same for packing and unpacking.
struct RowShape {
    std::size_t words = 0;     // words holding used bytes
    std::size_t lastBytes = 0; // bytes of the last such word inside the row (4 or 8)
    std::uint64_t lastMask = 0; // the pixel bits of the last word
    std::size_t maskBytes = 0; // bytes of the word mask

    RowShape(int width, int stride) {
        const std::size_t used = (std::size_t(width) + 7) / 8;
        words = (used + 7) / 8;
        lastBytes = std::min<std::size_t>(8, std::size_t(stride) - 8 * (words - 1));
        // Pixel bits of the last word: the whole bytes before the last used
        // byte, then the high bits of that byte.
        const std::size_t bytesInLast = used - 8 * (words - 1);
        const unsigned tailBits = unsigned(width & 7);
        std::uint8_t bytes[8] = {};
        for (std::size_t k = 0; k < bytesInLast; ++k)
            bytes[k] = 0xFF;
        if (tailBits)
            bytes[bytesInLast - 1] = std::uint8_t(0xFF << (8 - tailBits));
        std::memcpy(&lastMask, bytes, 8);
        maskBytes = (words + 7) / 8;
    }
};

inline std::uint64_t loadWord(const std::uint8_t* p, std::size_t bytes) {
    std::uint64_t w = 0;
    std::memcpy(&w, p, bytes);
    return w;
}

// Thread-owned room for the worst case of one page, kept between pages so
// that packing a page allocates only its result.
std::vector<std::uint8_t>& scratch() {
    thread_local std::vector<std::uint8_t> buffer;
    return buffer;
}

} // namespace

void PackPage(const Bitmap& page, std::vector<std::uint8_t>& out) {
    out.clear();
    if (page.Empty())
        return;
    const RowShape shape(page.Width(), page.Stride());
    const std::size_t full = shape.words - 1; // words read whole, without a mask
    const std::size_t worstRow = shape.maskBytes + 9 * shape.words;
    std::vector<std::uint8_t>& buffer = scratch();
    const std::size_t worst = worstRow * std::size_t(page.Height());
    if (buffer.size() < worst)
        buffer.resize(worst);
    std::uint8_t* at = buffer.data();

    const std::vector<std::uint8_t> white(std::size_t(page.Stride()), 0);
    const std::uint8_t* above = white.data();
    for (int y = 0; y < page.Height(); ++y) {
        const std::uint8_t* row = page.Row(y);
        std::uint8_t* mask = at;
        std::memset(mask, 0, shape.maskBytes);
        at += shape.maskBytes;
        auto put = [&](std::size_t i, std::uint64_t diff) {
            mask[i >> 3] |= std::uint8_t(1u << (i & 7));
            unsigned bytes = nonZeroBytes(diff);
            *at++ = std::uint8_t(bytes);
            while (bytes) {
                const int k = std::countr_zero(bytes);
                *at++ = std::uint8_t(diff >> (8 * k));
                bytes &= bytes - 1;
            }
        };
        for (std::size_t i = 0; i < full; ++i) {
            const std::uint64_t diff = loadWord(row + 8 * i, 8) ^ loadWord(above + 8 * i, 8);
            if (diff)
                put(i, diff);
        }
        const std::uint64_t diff =
            (loadWord(row + 8 * full, shape.lastBytes) ^ loadWord(above + 8 * full, shape.lastBytes)) &
            shape.lastMask;
        if (diff)
            put(full, diff);
        above = row;
    }
    out.assign(buffer.data(), at);
}

void UnpackPage(const std::vector<std::uint8_t>& packed, int width, int height, int stride,
                std::uint8_t* top, std::ptrdiff_t step, bool setPadding) {
    if (width <= 0 || height <= 0)
        return;
    const RowShape shape(width, stride);
    const std::size_t rowBytes = std::size_t(stride);
    // The white row above the first, its padding as asked. The packed
    // differences never touch padding bits, so every row inherits it.
    std::vector<std::uint8_t> white(rowBytes, 0);
    if (setPadding) {
        const std::size_t used = (std::size_t(width) + 7) / 8;
        std::fill(white.begin() + std::ptrdiff_t(used), white.end(), std::uint8_t(0xFF));
        if (width & 7)
            white[used - 1] = std::uint8_t(0xFF >> (width & 7));
    }
    const std::uint8_t* in = packed.data();
    const std::uint8_t* const end = in + packed.size();
    const std::uint8_t* above = white.data();
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = top + step * std::ptrdiff_t(y);
        std::memcpy(row, above, rowBytes);
        above = row;
        if (std::size_t(end - in) < shape.maskBytes) {
            in = end;
            continue;
        }
        const std::uint8_t* mask = in;
        in += shape.maskBytes;
        for (std::size_t m = 0; m < shape.maskBytes; ++m) {
            unsigned bits = mask[m];
            while (bits) {
                const std::size_t i = 8 * m + std::size_t(std::countr_zero(bits));
                bits &= bits - 1;
                if (i >= shape.words || in == end)
                    break;
                unsigned bytes = *in++;
                if (std::size_t(end - in) < std::size_t(std::popcount(bytes))) {
                    in = end;
                    break;
                }
                std::uint64_t diff = 0;
                while (bytes) {
                    diff |= std::uint64_t(*in++) << (8 * std::countr_zero(bytes));
                    bytes &= bytes - 1;
                }
                const std::size_t n = i + 1 == shape.words ? shape.lastBytes : 8;
                const std::uint64_t word = loadWord(row + 8 * i, n) ^ (diff & (i + 1 == shape.words ? shape.lastMask : ~std::uint64_t(0)));
                std::memcpy(row + 8 * i, &word, n);
            }
        }
    }
}

} // namespace folio
