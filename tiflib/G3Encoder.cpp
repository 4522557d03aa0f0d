// Group 3 one-dimensional coding. Runs are found a machine word at a time:
// each row is loaded as 64-bit words with its first pixel in the top bit, each
// word is turned into a mask of the places where the colour changes, and the
// changes are taken from it one by one by counting leading zeros. Each run is
// then one look-up (make-up and terminating code joined in one table entry)
// and one branch-free append to a buffer sized for the worst row in advance,
// so the inner loop never checks for room.
#include "G3Encoder.h"

#include <algorithm>
#include <cstring>

namespace folio::tiflib {
namespace {

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
// and more) followed by its terminating code, at most 13 + 12 = 25 bits. An
// entry is the bits shifted left by 5 and the length in the low 5 bits.
struct RunTable {
    std::uint32_t entry[kLongestMakeup];
};

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
        t.entry[run] = bits << 5 | length;
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

    // Appends the low `length` bits of `code` (length at most 32; no bits
    // above them set).
    void put(std::uint32_t code, unsigned length) {
        acc_ |= std::uint64_t(code) << (64 - pending_ - length);
        pending_ += length;
        const std::uint64_t bytes = __builtin_bswap64(acc_);
        std::memcpy(at_, &bytes, 8);
        at_ += pending_ >> 3;
        acc_ <<= pending_ & ~7u;
        pending_ &= 7;
    }

    // An EOL preceded by the zero fill bits that make it end on a byte
    // boundary: it must start at bit 4 of a byte.
    void putAlignedEol() { put(1, ((12 - pending_) & 7) + kEolLength); }

    // Pads the last byte with zeros and returns the end of the output.
    std::uint8_t* finish() {
        if (pending_ > 0)
            *at_++ = std::uint8_t(acc_ >> 56);
        acc_ = 0;
        pending_ = 0;
        return at_;
    }

    std::uint8_t* position() const { return at_; }
    void moveTo(std::uint8_t* at) { at_ = at; }

  private:
    std::uint8_t* at_;
    std::uint64_t acc_ = 0;
    unsigned pending_ = 0;
};

inline void putRun(BitWriter& out, const RunTable& table, std::uint32_t run) {
    while (run >= kLongestMakeup) {
        out.put(kMakeup2560.bits, kMakeup2560.length);
        run -= kLongestMakeup;
    }
    const std::uint32_t entry = table.entry[run];
    out.put(entry >> 5, entry & 31);
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

} // namespace

void EncodeG3OneD(const PageView& page, std::vector<std::uint8_t>& out) {
    out.clear();
    if (page.width == 0 || page.height == 0)
        return;
    const std::uint32_t width = page.width;
    const std::size_t wordCount = (std::size_t(width) + 63) / 64;
    const std::size_t rowLoad = std::min(page.rowBytes, (std::size_t(width) + 7) / 8);
    std::vector<std::uint64_t> words(wordCount);
    // The bits of the last word that are pixels; the rest are padding.
    const std::uint64_t lastWordMask = ~std::uint64_t(0) << (64 * wordCount - width);
    constexpr std::uint64_t kFirstBit = std::uint64_t(1) << 63;
    const RunTable* const runs[2] = {&kWhiteRuns, &kBlackRuns};

    const std::size_t worstRow = worstRowBytes(width);
    // A typical page codes to a small fraction of its pixel bytes: start with
    // a quarter of them (at most 4 MB) and grow when a row might not fit.
    const std::size_t guess = std::min<std::size_t>(page.rowBytes * page.height / 4, 4 << 20);
    out.resize(guess + 2 * worstRow);
    BitWriter bits(out.data());

    for (std::uint32_t y = 0; y < page.height; ++y) {
        std::size_t used = std::size_t(bits.position() - out.data());
        if (out.size() - used < worstRow) {
            out.resize(std::max(out.size() * 2, used + worstRow));
            bits.moveTo(out.data() + used);
        }

        words[wordCount - 1] = 0;
        std::memcpy(words.data(), page.row(y), rowLoad);

        bits.putAlignedEol();
        // Bit p of `changes` is set where pixel p differs from pixel p - 1
        // (white before the row); runs lie between successive changes.
        std::uint32_t start = 0;
        unsigned colour = 0;
        std::uint64_t before = 0; // the previous pixel, in the top bit
        for (std::size_t i = 0; i < wordCount; ++i) {
            const std::uint64_t pixels = __builtin_bswap64(words[i]);
            std::uint64_t changes = pixels ^ (pixels >> 1 | before);
            before = pixels << 63;
            if (i + 1 == wordCount)
                changes &= lastWordMask;
            while (changes) {
                const unsigned at = unsigned(__builtin_clzll(changes));
                const std::uint32_t change = std::uint32_t(i * 64 + at);
                putRun(bits, *runs[colour], change - start);
                start = change;
                colour ^= 1;
                changes &= ~(kFirstBit >> at);
            }
        }
        putRun(bits, *runs[colour], width - start);
    }
    std::uint8_t* end = bits.finish();
    out.resize(std::size_t(end - out.data()));
}

} // namespace folio::tiflib
