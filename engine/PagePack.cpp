// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Packing pages. A row is read as 64-bit words in memory order (byte i of a
// word is byte i of the row whatever the machine's byte order, since only
// exclusive or and zero tests touch them). The packed form is, for each row:
//   - a word mask, one bit per word of the row's used bytes (bit i of byte
//     i / 8 for word i), set where the word differs from the row above;
//   - for each such word, in order, a byte mask (bit k for byte k of the
//     word);
//   - then for each such word, in order, the bytes of the difference that
//     are not zero.
// The byte masks come before all the bytes so that the reader finds where
// each word's bytes begin from the masks alone, without waiting on the load
// of the mask before it: one addition a word.
// The row above the first row is white. The padding past the width is left
// out: the last used word is masked, words wholly past it are not looked at.
#include "PagePack.h"

#include "Bitmap.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#include <sys/platform/x86.h>
#endif

#if defined(__clang__) && defined(__SSSE3__)
#include <tmmintrin.h>
#endif

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

// Reorders the 8 bytes of x by one of the tables above. On a processor with
// byte shuffles (SSSE3 and later, NEON) this is one instruction.
#if defined(__GNUC__) && !defined(__clang__)
typedef std::uint8_t Bytes16 __attribute__((vector_size(16)));
typedef std::uint64_t Words2 __attribute__((vector_size(16)));

// GCC picks the instruction for the clone it compiles (see
// FOLIO_SHUFFLE_LEVELS below) and lowers the shuffle itself elsewhere.
inline __attribute__((always_inline)) std::uint64_t shuffle(std::uint64_t x,
                                                            const std::uint8_t* order) {
    // Built in registers: going through memory would stall on forwarding.
    const Words2 w = {x, 0};
    Bytes16 m;
    std::memcpy(&m, order, 16);
    const Bytes16 r = __builtin_shuffle(Bytes16(w), m);
    return Words2(r)[0];
}
#elif defined(__SSSE3__)
// Other compilers (clang) have no shuffle by a run-time order but the
// processor's own instruction, when the build targets it.
inline __attribute__((always_inline)) std::uint64_t shuffle(std::uint64_t x,
                                                            const std::uint8_t* order) {
    const __m128i r = _mm_shuffle_epi8(_mm_cvtsi64_si128(static_cast<long long>(x)),
                                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(order)));
    return static_cast<std::uint64_t>(_mm_cvtsi128_si64(r));
}
#else
// One byte at a time: the same result, for builds without byte shuffles.
// The orders hold only 0..7 for the word's bytes and 15 for a zero byte.
inline std::uint64_t shuffle(std::uint64_t x, const std::uint8_t* order) {
    std::uint8_t in[16] = {};
    std::memcpy(in, &x, 8);
    std::uint8_t out[8];
    for (unsigned k = 0; k < 8; ++k)
        out[k] = in[order[k] & 15];
    std::uint64_t r;
    std::memcpy(&r, out, 8);
    return r;
}
#endif

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

// Appends one word's difference: its byte mask at `masks` (always stored,
// kept only when not zero) and its bytes that are not zero at `bytes` (a
// whole word stored, kept as far as those go). No branch: rows differ from
// the row above at random.
inline __attribute__((always_inline)) void putWord(std::uint8_t*& masks, std::uint8_t*& bytes,
                                                   std::uint8_t* wordMask, std::size_t i,
                                                   std::uint64_t diff) {
    const unsigned nonZero = nonZeroBytes(diff);
    const unsigned changed = nonZero != 0;
    wordMask[i >> 3] |= std::uint8_t(changed << (i & 7));
    *masks = std::uint8_t(nonZero);
    masks += changed;
    const std::uint64_t packed = shuffle(diff, kShuffle.gather[nonZero]);
    std::memcpy(bytes, &packed, 8);
    bytes += kShuffle.count[nonZero];
}

} // namespace

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
// Byte shuffles came with SSSE3; older processors take the portable code.
// Both are built from one body; the C library says which the processor
// runs (it asked at start, so no CPUID here: under a hypervisor each one
// leaves the guest).
#define FOLIO_SHUFFLE_BODY [[gnu::always_inline]] inline
#define FOLIO_SHUFFLE_LEVELS(ret, name, body, params, args)                                        \
    static __attribute__((target("ssse3"))) ret name##Ssse3 params {                               \
        return body args;                                                                          \
    }                                                                                              \
    static ret name##Base params {                                                                 \
        return body args;                                                                          \
    }                                                                                              \
    ret name params {                                                                              \
        static const bool ssse3 = CPU_FEATURE_ACTIVE(SSSE3);                                       \
        return ssse3 ? name##Ssse3 args : name##Base args;                                         \
    }
#else
#define FOLIO_SHUFFLE_BODY inline
#define FOLIO_SHUFFLE_LEVELS(ret, name, body, params, args)                                        \
    ret name params {                                                                              \
        return body args;                                                                          \
    }
#endif

namespace {

FOLIO_SHUFFLE_BODY std::span<const std::uint8_t> packPageAt(const Bitmap& page) {
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
    // A row's bytes are gathered here first, behind its byte masks.
    std::vector<std::uint8_t> rowBytes(8 * shape.words + 8);
    const std::uint8_t* above = white.data();
    for (int y = 0; y < page.Height(); ++y) {
        const std::uint8_t* row = page.Row(y);
        std::uint8_t* mask = at;
        std::memset(mask, 0, shape.maskBytes);
        at += shape.maskBytes;
        // Blank gaps and the insides of stems repeat whole rows.
        if (std::memcmp(row, above, shape.used) != 0) {
            std::uint8_t* bytes = rowBytes.data();
            for (std::size_t i = 0; i < full; ++i)
                putWord(at, bytes, mask, i, loadWord(row + 8 * i, 8) ^ loadWord(above + 8 * i, 8));
            putWord(at, bytes, mask, full,
                    (loadWord(row + 8 * full, shape.lastBytes) ^
                     loadWord(above + 8 * full, shape.lastBytes)) &
                        shape.lastMask);
            const std::size_t kept = std::size_t(bytes - rowBytes.data());
            std::memcpy(at, rowBytes.data(), kept);
            at += kept;
        }
        above = row;
    }
    std::memset(at, 0, kSlack);
    return {buffer.data(), at + kSlack};
}

} // namespace

FOLIO_SHUFFLE_LEVELS(std::span<const std::uint8_t>, PackPageInPlace, packPageAt,
                     (const Bitmap& page), (page))

void PackPage(const Bitmap& page, std::vector<std::uint8_t>& out) {
    const std::span<const std::uint8_t> packed = PackPageInPlace(page);
    out.assign(packed.begin(), packed.end());
}

namespace {

FOLIO_SHUFFLE_BODY void unpackPageAt(std::span<const std::uint8_t> packed, int width, int height,
                                     int stride, std::uint8_t* top, std::ptrdiff_t step,
                                     bool setPadding) {
    if (width <= 0 || height <= 0)
        return;
    const RowShape shape(width, stride);
    const std::size_t rowBytes = std::size_t(stride);
    // The row being built, as words, starting as the white row above the
    // first with its padding as asked (the packed differences never touch
    // padding bits, so every row inherits it). Each row's differences go into
    // it here and the row is then written out once, never read back.
    std::vector<std::uint64_t> current(std::max(shape.words, (rowBytes + 7) / 8), 0);
    auto* currentBytes = reinterpret_cast<std::uint8_t*>(current.data());
    if (setPadding) {
        std::memset(currentBytes + shape.used, 0xFF, rowBytes - shape.used);
        if (width & 7)
            currentBytes[shape.used - 1] = std::uint8_t(0xFF >> (width & 7));
    }
    // Mask bits past the last word mark a damaged form.
    const unsigned pastWords = shape.words % 8 ? unsigned(0xFF << (shape.words % 8)) & 0xFF : 0;
    const std::uint8_t* in = packed.data();
    const std::uint8_t* const end = in + packed.size();
    for (int y = 0; y < height; ++y) {
        // The row's parts are checked against the end before any is used; a
        // damaged row is left out, and the rest repeat the row above it.
        bool good = std::size_t(end - in) >= shape.maskBytes + kSlack;
        const std::uint8_t* mask = in;
        std::size_t changed = 0;
        if (good) {
            for (std::size_t m = 0; m < shape.maskBytes; ++m)
                changed += kShuffle.count[mask[m]]; // no population count in the default build
            good = (mask[shape.maskBytes - 1] & pastWords) == 0 &&
                   std::size_t(end - in) - shape.maskBytes >= changed + kSlack;
        }
        const std::uint8_t* masks = in + shape.maskBytes;
        const std::uint8_t* bytes = masks + changed;
        if (good) {
            std::size_t kept = 0;
            for (std::size_t j = 0; j < changed; ++j)
                kept += kShuffle.count[masks[j]];
            good = std::size_t(end - bytes) >= kept + kSlack;
        }
        if (good) {
            for (std::size_t m = 0; m < shape.maskBytes; ++m) {
                for (unsigned bits = mask[m]; bits; bits &= bits - 1) {
                    const std::size_t i = 8 * m + std::size_t(std::countr_zero(bits));
                    const unsigned nonZero = *masks++;
                    const std::uint64_t diff =
                        shuffle(loadWord(bytes, 8), kShuffle.spread[nonZero]);
                    bytes += kShuffle.count[nonZero];
                    current[i] ^= i + 1 < shape.words ? diff : diff & shape.lastMask;
                }
            }
            in = bytes;
        } else {
            in = end;
        }
        std::memcpy(top + step * std::ptrdiff_t(y), currentBytes, rowBytes);
    }
}

} // namespace

FOLIO_SHUFFLE_LEVELS(void, UnpackPage, unpackPageAt,
                     (std::span<const std::uint8_t> packed, int width, int height, int stride,
                      std::uint8_t* top, std::ptrdiff_t step, bool setPadding),
                     (packed, width, height, stride, top, step, setPadding))

} // namespace folio
