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

// Byte shuffles by a byte mask, for gathering the bytes a mask marks to the
// front of a word and spreading them back. Index 15 picks a byte known to be
// zero (the upper half of the vector is never loaded).
struct ShuffleTables {
    std::uint8_t gather[256][16];
    std::uint8_t spread[256][16];
    std::uint8_t count[256];
};

constexpr ShuffleTables makeShuffleTables() {
    ShuffleTables t{};
    for (unsigned m = 0; m < 256; ++m) {
        unsigned k = 0;
        for (unsigned i = 0; i < 16; ++i) {
            t.gather[m][i] = 15;
            t.spread[m][i] = 15;
        }
        for (unsigned p = 0; p < 8; ++p) {
            if (m & (1u << p)) {
                t.gather[m][k] = std::uint8_t(p);
                t.spread[m][p] = std::uint8_t(k);
                ++k;
            }
        }
        t.count[m] = std::uint8_t(k);
    }
    return t;
}

constexpr ShuffleTables kShuffle = makeShuffleTables();

typedef std::uint8_t Bytes16 __attribute__((vector_size(16)));
typedef std::uint64_t Words2 __attribute__((vector_size(16)));

// Reorders the 8 bytes of x by one of the tables above. On a processor with
// byte shuffles (SSSE3 and later, NEON) this is one instruction.
inline __attribute__((always_inline)) std::uint64_t shuffle(std::uint64_t x,
                                                            const std::uint8_t* order) {
    // Built in registers: going through memory would stall on forwarding.
    const Words2 w = {x, 0};
    Bytes16 m;
    std::memcpy(&m, order, 16);
    const Bytes16 r = __builtin_shuffle(Bytes16(w), m);
    return Words2(r)[0];
}

// The layout of a row's words, the same for packing and unpacking.
struct RowShape {
    std::size_t used = 0;       // bytes holding pixels
    std::size_t words = 0;      // words holding used bytes
    std::size_t lastBytes = 0;  // bytes of the last such word inside the row (4 or 8)
    std::uint64_t lastMask = 0; // the pixel bits of the last word
    std::size_t maskBytes = 0;  // bytes of the word mask

    RowShape(int width, int stride) {
        used = (std::size_t(width) + 7) / 8;
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

// Bytes the packed form keeps past its last byte, so that the reader can
// always load a whole word.
constexpr std::size_t kSlack = 8;

// Thread-owned room for the worst case of one page, kept between pages so
// that packing a page allocates only its result.
std::vector<std::uint8_t>& scratch() {
    thread_local std::vector<std::uint8_t> buffer;
    return buffer;
}

// Appends one word's difference: its byte mask (always stored, kept only
// when not zero) and its bytes that are not zero (a whole word stored, kept
// as far as those go). No branch: rows differ from the row above at random.
inline __attribute__((always_inline)) std::uint8_t* putWord(std::uint8_t* at, std::uint8_t* mask,
                                                            std::size_t i, std::uint64_t diff) {
    const unsigned bytes = nonZeroBytes(diff);
    const unsigned changed = bytes != 0;
    mask[i >> 3] |= std::uint8_t(changed << (i & 7));
    *at = std::uint8_t(bytes);
    at += changed;
    const std::uint64_t packed = shuffle(diff, kShuffle.gather[bytes]);
    std::memcpy(at, &packed, 8);
    return at + kShuffle.count[bytes];
}

} // namespace

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
// Byte shuffles came with SSSE3; older processors take the portable code.
#define FOLIO_SHUFFLE_CLONES __attribute__((target_clones("default", "ssse3")))
#else
#define FOLIO_SHUFFLE_CLONES
#endif

FOLIO_SHUFFLE_CLONES
std::span<const std::uint8_t> PackPageInPlace(const Bitmap& page) {
    if (page.Empty())
        return {};
    const RowShape shape(page.Width(), page.Stride());
    const std::size_t full = shape.words - 1; // words read whole, without a mask
    // Each word stores its mask byte and a whole word, however little of it
    // is kept.
    const std::size_t worstRow = shape.maskBytes + 9 * shape.words;
    std::vector<std::uint8_t>& buffer = scratch();
    const std::size_t worst = worstRow * std::size_t(page.Height()) + kSlack;
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
        // Blank gaps and the insides of stems repeat whole rows.
        if (std::memcmp(row, above, shape.used) != 0) {
            for (std::size_t i = 0; i < full; ++i)
                at = putWord(at, mask, i, loadWord(row + 8 * i, 8) ^ loadWord(above + 8 * i, 8));
            at = putWord(at, mask, full,
                         (loadWord(row + 8 * full, shape.lastBytes) ^
                          loadWord(above + 8 * full, shape.lastBytes)) &
                             shape.lastMask);
        }
        above = row;
    }
    std::memset(at, 0, kSlack);
    return {buffer.data(), at + kSlack};
}

void PackPage(const Bitmap& page, std::vector<std::uint8_t>& out) {
    const std::span<const std::uint8_t> packed = PackPageInPlace(page);
    out.assign(packed.begin(), packed.end());
}

FOLIO_SHUFFLE_CLONES
void UnpackPage(std::span<const std::uint8_t> packed, int width, int height, int stride,
                std::uint8_t* top, std::ptrdiff_t step, bool setPadding) {
    if (width <= 0 || height <= 0)
        return;
    const RowShape shape(width, stride);
    const std::size_t rowBytes = std::size_t(stride);
    // The white row above the first, its padding as asked. The packed
    // differences never touch padding bits, so every row inherits it.
    std::vector<std::uint8_t> white(rowBytes, 0);
    if (setPadding) {
        std::fill(white.begin() + std::ptrdiff_t(shape.used), white.end(), std::uint8_t(0xFF));
        if (width & 7)
            white[shape.used - 1] = std::uint8_t(0xFF >> (width & 7));
    }
    const std::uint8_t* in = packed.data();
    const std::uint8_t* const end = in + packed.size();
    const std::uint8_t* above = white.data();
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = top + step * std::ptrdiff_t(y);
        std::memcpy(row, above, rowBytes);
        above = row;
        if (std::size_t(end - in) < shape.maskBytes + kSlack) {
            in = end; // damaged: the rest repeats this row
            continue;
        }
        const std::uint8_t* mask = in;
        in += shape.maskBytes;
        for (std::size_t m = 0; m < shape.maskBytes; ++m) {
            for (unsigned bits = mask[m]; bits; bits &= bits - 1) {
                const std::size_t i = 8 * m + std::size_t(std::countr_zero(bits));
                // A valid form leaves at least kSlack bytes after each word's.
                if (i >= shape.words || std::size_t(end - in) < 1 + kSlack) {
                    in = end;
                    break;
                }
                const unsigned bytes = *in++;
                const std::uint64_t diff = shuffle(loadWord(in, 8), kShuffle.spread[bytes]);
                in += kShuffle.count[bytes];
                if (i + 1 < shape.words) {
                    const std::uint64_t word = loadWord(row + 8 * i, 8) ^ diff;
                    std::memcpy(row + 8 * i, &word, 8);
                } else {
                    const std::uint64_t word =
                        loadWord(row + 8 * i, shape.lastBytes) ^ (diff & shape.lastMask);
                    std::memcpy(row + 8 * i, &word, shape.lastBytes);
                }
            }
        }
    }
}

} // namespace folio
