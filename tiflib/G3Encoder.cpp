// Group 3 one-dimensional coding. Each row is loaded as 64-bit words, each
// word is turned into a mask of the places where the colour changes, and the
// changes are listed branch-free. Each run is then one look-up (make-up and
// terminating code joined in one table entry); the codes of two or four runs
// are joined and appended with one branch-free store to a buffer sized for
// the worst row in advance, so the inner loop never checks for room. A row
// that repeats the one before copies its codes.
#include "G3Encoder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <exception>
#include <system_error>
#include <thread>

namespace folio::tiflib {
namespace {

// Rows are read as little-endian words.
static_assert(std::endian::native == std::endian::little);

struct Code {
    std::uint16_t bits; // the code, right-aligned
    std::uint8_t length;
};

// Terminating codes for white runs of 0..63 pixels.
constexpr Code kWhiteTerminating[64] = {
    {0x35, 8}, {0x07, 6}, {0x07, 4}, {0x08, 4}, {0x0B, 4}, {0x0C, 4}, {0x0E, 4}, {0x0F, 4},
    {0x13, 5}, {0x14, 5}, {0x07, 5}, {0x08, 5}, {0x08, 6}, {0x03, 6}, {0x34, 6}, {0x35, 6},
    {0x2A, 6}, {0x2B, 6}, {0x27, 7}, {0x0C, 7}, {0x08, 7}, {0x17, 7}, {0x03, 7}, {0x04, 7},
    {0x28, 7}, {0x2B, 7}, {0x13, 7}, {0x24, 7}, {0x18, 7}, {0x02, 8}, {0x03, 8}, {0x1A, 8},
    {0x1B, 8}, {0x12, 8}, {0x13, 8}, {0x14, 8}, {0x15, 8}, {0x16, 8}, {0x17, 8}, {0x28, 8},
    {0x29, 8}, {0x2A, 8}, {0x2B, 8}, {0x2C, 8}, {0x2D, 8}, {0x04, 8}, {0x05, 8}, {0x0A, 8},
    {0x0B, 8}, {0x52, 8}, {0x53, 8}, {0x54, 8}, {0x55, 8}, {0x24, 8}, {0x25, 8}, {0x58, 8},
    {0x59, 8}, {0x5A, 8}, {0x5B, 8}, {0x4A, 8}, {0x4B, 8}, {0x32, 8}, {0x33, 8}, {0x34, 8},
};

// Terminating codes for black runs of 0..63 pixels.
constexpr Code kBlackTerminating[64] = {
    {0x37, 10}, {0x02, 3},  {0x03, 2},  {0x02, 2},  {0x03, 3},  {0x03, 4},  {0x02, 4},  {0x03, 5},
    {0x05, 6},  {0x04, 6},  {0x04, 7},  {0x05, 7},  {0x07, 7},  {0x04, 8},  {0x07, 8},  {0x18, 9},
    {0x17, 10}, {0x18, 10}, {0x08, 10}, {0x67, 11}, {0x68, 11}, {0x6C, 11}, {0x37, 11}, {0x28, 11},
    {0x17, 11}, {0x18, 11}, {0xCA, 12}, {0xCB, 12}, {0xCC, 12}, {0xCD, 12}, {0x68, 12}, {0x69, 12},
    {0x6A, 12}, {0x6B, 12}, {0xD2, 12}, {0xD3, 12}, {0xD4, 12}, {0xD5, 12}, {0xD6, 12}, {0xD7, 12},
    {0x6C, 12}, {0x6D, 12}, {0xDA, 12}, {0xDB, 12}, {0x54, 12}, {0x55, 12}, {0x56, 12}, {0x57, 12},
    {0x64, 12}, {0x65, 12}, {0x52, 12}, {0x53, 12}, {0x24, 12}, {0x37, 12}, {0x38, 12}, {0x27, 12},
    {0x28, 12}, {0x58, 12}, {0x59, 12}, {0x2B, 12}, {0x2C, 12}, {0x5A, 12}, {0x66, 12}, {0x67, 12},
};

// Make-up codes for runs of 64 * k pixels, k = 1..40 at index k - 1. From
// 1792 (k = 28) on both colours share the extended codes.
constexpr Code kWhiteMakeup[40] = {
    {0x1B, 5},  {0x12, 5},  {0x17, 6},  {0x37, 7},  {0x36, 8},  {0x37, 8},  {0x64, 8},  {0x65, 8},
    {0x68, 8},  {0x67, 8},  {0xCC, 9},  {0xCD, 9},  {0xD2, 9},  {0xD3, 9},  {0xD4, 9},  {0xD5, 9},
    {0xD6, 9},  {0xD7, 9},  {0xD8, 9},  {0xD9, 9},  {0xDA, 9},  {0xDB, 9},  {0x98, 9},  {0x99, 9},
    {0x9A, 9},  {0x18, 6},  {0x9B, 9},  {0x08, 11}, {0x0C, 11}, {0x0D, 11}, {0x12, 12}, {0x13, 12},
    {0x14, 12}, {0x15, 12}, {0x16, 12}, {0x17, 12}, {0x1C, 12}, {0x1D, 12}, {0x1E, 12}, {0x1F, 12},
};

constexpr Code kBlackMakeup[40] = {
    {0x0F, 10}, {0xC8, 12}, {0xC9, 12}, {0x5B, 12}, {0x33, 12}, {0x34, 12}, {0x35, 12}, {0x6C, 13},
    {0x6D, 13}, {0x4A, 13}, {0x4B, 13}, {0x4C, 13}, {0x4D, 13}, {0x72, 13}, {0x73, 13}, {0x74, 13},
    {0x75, 13}, {0x76, 13}, {0x77, 13}, {0x52, 13}, {0x53, 13}, {0x54, 13}, {0x55, 13}, {0x5A, 13},
    {0x5B, 13}, {0x64, 13}, {0x65, 13}, {0x08, 11}, {0x0C, 11}, {0x0D, 11}, {0x12, 12}, {0x13, 12},
    {0x14, 12}, {0x15, 12}, {0x16, 12}, {0x17, 12}, {0x1C, 12}, {0x1D, 12}, {0x1E, 12}, {0x1F, 12},
};

constexpr std::uint32_t kLongestMakeup = 2560;
constexpr unsigned kEolLength = 12; // 0000 0000 0001

// Each run shorter than 2560 as one code word: its make-up code (runs of 64
// and more) followed by its terminating code, at most 13 + 12 = 25 bits. The
// code word is kept left-aligned in 64 bits, so that it is put with one shift
// and two of them are joined with one more.
struct RunTable {
    std::uint64_t code[kLongestMakeup];
    std::uint8_t length[kLongestMakeup];
};

constexpr std::uint64_t leftAligned(std::uint32_t bits, std::uint32_t length) {
    return std::uint64_t(bits) << (64 - length);
}

constexpr RunTable makeRunTable(const Code* terminating, const Code* makeup) {
    RunTable t{};
    for (std::uint32_t run = 0; run < kLongestMakeup; ++run) {
        const Code& term = terminating[run % 64];
        std::uint32_t bits = term.bits, length = term.length;
        if (run >= 64) {
            const Code& up = makeup[run / 64 - 1];
            bits |= std::uint32_t(up.bits) << length;
            length += up.length;
        }
        t.code[run] = leftAligned(bits, length);
        t.length[run] = std::uint8_t(length);
    }
    return t;
}

constexpr RunTable kWhiteRuns = makeRunTable(kWhiteTerminating, kWhiteMakeup);
constexpr RunTable kBlackRuns = makeRunTable(kBlackTerminating, kBlackMakeup);
// The make-up code for 2560, the same for both colours.
constexpr Code kMakeup2560 = kWhiteMakeup[kLongestMakeup / 64 - 1];

// Bits of the output, most significant first. Fewer than 8 bits wait in the
// top of the accumulator between calls; each put stores all 8 accumulator
// bytes and moves on by the whole bytes among them, so there is no branch,
// and the buffer needs 8 bytes of slack past the last byte.
class BitWriter {
  public:
    explicit BitWriter(std::uint8_t* at) : at_(at) {}

    // Appends a left-aligned code of `length` bits: at most 56, so that with
    // the (fewer than 8) bits waiting the accumulator never fills; two runs'
    // codes (50 bits) always fit.
    void put(std::uint64_t code, unsigned length) {
        acc_ |= code >> pending_;
        pending_ += length;
        const std::uint64_t bytes = __builtin_bswap64(acc_);
        std::memcpy(at_, &bytes, 8);
        at_ += pending_ >> 3;
        acc_ <<= pending_ & ~7u;
        pending_ &= 7;
    }

    // An EOL preceded by the zero fill bits that make it end on a byte
    // boundary: it must start at bit 4 of a byte.
    void putAlignedEol() {
        const unsigned length = ((12 - pending_) & 7) + kEolLength;
        put(leftAligned(1, length), length);
    }

    // Appends `bits` bits copied from `from`, most significant first, when
    // the output is at a byte boundary (as after putAlignedEol).
    void copyAligned(const std::uint8_t* from, std::size_t bits) {
        std::memmove(at_, from, bits >> 3);
        at_ += bits >> 3;
        pending_ = unsigned(bits & 7);
        acc_ = pending_ ? std::uint64_t(from[bits >> 3] >> (8 - pending_)) << (64 - pending_) : 0;
    }

    // Pads the last byte with zeros and returns the end of the output.
    std::uint8_t* finish() {
        if (pending_ > 0)
            *at_++ = std::uint8_t(acc_ >> 56);
        acc_ = 0;
        pending_ = 0;
        return at_;
    }

    std::uint8_t* position() const { return at_; }
    unsigned pending() const { return pending_; }
    void moveTo(std::uint8_t* at) { at_ = at; }

  private:
    std::uint8_t* at_;
    std::uint64_t acc_ = 0;
    unsigned pending_ = 0;
};

inline void putRun(BitWriter& out, const RunTable& table, std::uint32_t run) {
    while (run >= kLongestMakeup) {
        out.put(leftAligned(kMakeup2560.bits, kMakeup2560.length), kMakeup2560.length);
        run -= kLongestMakeup;
    }
    out.put(table.code[run], table.length[run]);
}

// Most bytes one row can take. A run of n pixels costs at most 12 bits for
// every 2560 in it plus a make-up and a terminating code (25 bits); a row of w
// pixels has at most w + 1 runs. Then the fill bits and the EOL, the bits left
// from the row before, and the 8 bytes every store touches.
std::size_t worstRowBytes(std::uint32_t width) {
    const std::uint64_t bits =
        25 * (std::uint64_t(width) + 1) + 12 * (width / kLongestMakeup) + 7 + kEolLength + 7;
    return std::size_t(bits / 8 + 1 + 8);
}

// Reverses the bits of each byte, so that a word loaded in little-endian
// order has pixel p of its 64 in bit p and the changes can be taken from the
// low end, where clearing the lowest set bit is one short operation.
inline std::uint64_t pixelsFirstLow(std::uint64_t w) {
    w = ((w >> 1) & 0x5555555555555555ull) | ((w & 0x5555555555555555ull) << 1);
    w = ((w >> 2) & 0x3333333333333333ull) | ((w & 0x3333333333333333ull) << 2);
    return ((w >> 4) & 0x0F0F0F0F0F0F0F0Full) | ((w & 0x0F0F0F0F0F0F0F0Full) << 4);
}

// Appends the positions of the set bits of `bits`, plus `base`, at `out`, in
// ascending order, and returns how many. Four positions are written whatever
// their number (the loop exit of a bit-by-bit scan would be mispredicted at
// nearly every word), so `out` needs room for 4 more than the count.
inline std::size_t positionsOf(std::uint64_t bits, std::uint32_t base, std::uint32_t* out) {
    constexpr std::uint64_t kLast = std::uint64_t(1) << 63;
    const std::size_t count = std::size_t(__builtin_popcountll(bits));
    out[0] = base + std::uint32_t(__builtin_ctzll(bits | kLast));
    bits &= bits - 1;
    out[1] = base + std::uint32_t(__builtin_ctzll(bits | kLast));
    bits &= bits - 1;
    out[2] = base + std::uint32_t(__builtin_ctzll(bits | kLast));
    bits &= bits - 1;
    out[3] = base + std::uint32_t(__builtin_ctzll(bits | kLast));
    bits &= bits - 1;
    for (std::size_t k = 4; k < count; ++k) {
        out[k] = base + std::uint32_t(__builtin_ctzll(bits));
        bits &= bits - 1;
    }
    return count;
}

} // namespace

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
// Bit counts and shifts by a register are single instructions from the
// x86-64-v3 level (POPCNT, LZCNT, BMI2) on; older processors take the default.
#define FOLIO_ENCODER_CLONES __attribute__((target_clones("default", "arch=x86-64-v3")))
#else
#define FOLIO_ENCODER_CLONES
#endif

// Each row is coded in two steps. First the places where the colour changes
// are listed: pixel p's change bit is set where it differs from pixel p - 1
// (white before the row), and the set bits are read out a word at a time.
// Then the runs between changes are coded a white and black pair at a time:
// the two code words are joined off the critical path and put with one
// shift, which halves the chain of dependent operations through the output.
namespace {

// Codes rows [y0, y1) into `out` as if they were a page of their own and
// returns how many bits of the last byte are code (0: it ends on a byte).
FOLIO_ENCODER_CLONES unsigned encodeRows(const PageView& page, std::uint32_t y0, std::uint32_t y1,
                                         std::vector<std::uint8_t>& out) {
    out.clear();
    if (page.width == 0 || y0 >= y1)
        return 0;
    const std::uint32_t width = page.width;
    const std::size_t wordCount = (std::size_t(width) + 63) / 64;
    const std::size_t rowLoad = std::min(page.rowBytes, (std::size_t(width) + 7) / 8);
    std::vector<std::uint64_t> words(wordCount);
    // The change bits of the last word that are pixels; the rest are padding.
    const unsigned lastPixels = unsigned(width - 64 * (wordCount - 1));
    const std::uint64_t lastWordMask =
        lastPixels == 64 ? ~std::uint64_t(0) : (std::uint64_t(1) << lastPixels) - 1;
    // change[0] is the row's start, then the changes, then the row's end;
    // room for every pixel to change and for positionsOf's spare writes.
    std::vector<std::uint32_t> change(std::size_t(width) + 8);

    const std::size_t worstRow = worstRowBytes(width);
    // A typical page codes to a small fraction of its pixel bytes: start with
    // a quarter of them (at most 4 MB) and grow when a row might not fit.
    const std::size_t guess = std::min<std::size_t>(page.rowBytes * (y1 - y0) / 4, 4 << 20);
    out.resize(guess + 2 * worstRow);
    BitWriter bits(out.data());
    // Where the run codes of the row before begin (just after its EOL, on a
    // byte boundary) and how many bits they take: a row that repeats the row
    // before repeats its codes, copied rather than worked out again.
    std::size_t previousStart = 0, previousBits = 0;
    const std::uint8_t* previousRow = nullptr;
    const std::size_t pixelBytes = width / 8;
    const unsigned tailBits = width % 8;
    const RunTable& white = kWhiteRuns;
    const RunTable& black = kBlackRuns;

    for (std::uint32_t y = y0; y < y1; ++y) {
        std::size_t used = std::size_t(bits.position() - out.data());
        if (out.size() - used < worstRow) {
            out.resize(std::max(out.size() * 2, used + worstRow));
            bits.moveTo(out.data() + used);
        }
        const std::uint8_t* row = page.row(y);
        bits.putAlignedEol();
        const std::size_t start = std::size_t(bits.position() - out.data());
        if (previousRow && std::memcmp(row, previousRow, pixelBytes) == 0 &&
            (tailBits == 0 ||
             ((row[pixelBytes] ^ previousRow[pixelBytes]) & (0xFF00u >> tailBits)) == 0)) {
            bits.copyAligned(out.data() + previousStart, previousBits);
            previousStart = start;
            continue;
        }
        previousRow = row;

        words[wordCount - 1] = 0;
        std::memcpy(words.data(), row, rowLoad);
        std::size_t n = 1; // change[0] = 0, the row's start
        change[0] = 0;
        std::uint64_t before = 0; // the previous pixel, in bit 0
        for (std::size_t i = 0; i < wordCount; ++i) {
            const std::uint64_t pixels = pixelsFirstLow(words[i]);
            std::uint64_t changes = pixels ^ (pixels << 1 | before);
            before = pixels >> 63;
            if (i + 1 == wordCount)
                changes &= lastWordMask;
            // Margins and the gaps between words change nowhere.
            if (changes)
                n += positionsOf(changes, std::uint32_t(64 * i), change.data() + n);
        }
        change[n] = width;
        // Runs j = 0 .. n - 1 lie between change[j] and change[j + 1]; even
        // runs are white, odd runs black. Text runs are short and their
        // codes a few bits each, so two pairs mostly fit one put as well.
        std::size_t j = 0;
        for (; j + 3 < n; j += 4) {
            const std::uint32_t w0 = change[j + 1] - change[j];
            const std::uint32_t b0 = change[j + 2] - change[j + 1];
            const std::uint32_t w1 = change[j + 3] - change[j + 2];
            const std::uint32_t b1 = change[j + 4] - change[j + 3];
            if ((w0 | b0 | w1 | b1) >= kLongestMakeup) [[unlikely]] {
                putRun(bits, white, w0);
                putRun(bits, black, b0);
                putRun(bits, white, w1);
                putRun(bits, black, b1);
                continue;
            }
            const unsigned lw0 = white.length[w0], lw1 = white.length[w1];
            const unsigned l0 = lw0 + black.length[b0], l1 = lw1 + black.length[b1];
            const std::uint64_t c0 = white.code[w0] | black.code[b0] >> lw0;
            const std::uint64_t c1 = white.code[w1] | black.code[b1] >> lw1;
            if (l0 + l1 <= 56) {
                bits.put(c0 | c1 >> l0, l0 + l1);
            } else {
                bits.put(c0, l0);
                bits.put(c1, l1);
            }
        }
        for (; j + 1 < n; j += 2) {
            const std::uint32_t w = change[j + 1] - change[j];
            const std::uint32_t b = change[j + 2] - change[j + 1];
            if ((w | b) >= kLongestMakeup) [[unlikely]] {
                putRun(bits, white, w);
                putRun(bits, black, b);
                continue;
            }
            const unsigned lw = white.length[w];
            bits.put(white.code[w] | black.code[b] >> lw, lw + black.length[b]);
        }
        if (j < n)
            putRun(bits, white, change[j + 1] - change[j]);
        previousStart = start;
        previousBits = std::size_t(bits.position() - out.data() - start) * 8 + bits.pending();
    }
    const unsigned tail = bits.pending();
    std::uint8_t* end = bits.finish();
    out.resize(std::size_t(end - out.data()));
    return tail;
}

} // namespace

// Rows are coded independently of each other, so a tall page is coded in two
// halves at once, on this thread and one more. Joining them: the second half
// was coded from a byte boundary, so it begins with 4 fill bits and the EOL,
// the bytes 0x00 0x01. Where the first half ends p bits into a byte, the
// EOL's fill in one piece would take 4 - p bits for p from 1 to 4, one byte
// less than the padded first half and those two bytes: that 0x00 is dropped.
// For p of 0 or 5 to 7 the bytes are the same either way.
void EncodeG3OneD(const PageView& page, std::vector<std::uint8_t>& out) {
    constexpr std::uint32_t kSplitRows = 64;
    if (page.height < kSplitRows) {
        encodeRows(page, 0, page.height, out);
        return;
    }
    const std::uint32_t middle = page.height / 2;
    std::vector<std::uint8_t> second;
    std::exception_ptr failure;
    std::thread helper;
    try {
        helper = std::thread([&] {
            try {
                encodeRows(page, middle, page.height, second);
            } catch (...) {
                failure = std::current_exception();
            }
        });
    } catch (const std::system_error&) {
        // No thread to be had: code the page in one piece.
        encodeRows(page, 0, page.height, out);
        return;
    }
    unsigned tail = 0;
    try {
        tail = encodeRows(page, 0, middle, out);
    } catch (...) {
        helper.join();
        throw;
    }
    helper.join();
    if (failure)
        std::rethrow_exception(failure);
    const std::size_t skip = (tail >= 1 && tail <= 4) ? 1 : 0;
    out.insert(out.end(), second.begin() + std::ptrdiff_t(skip), second.end());
}

} // namespace folio::tiflib
