// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// What the three fax encoders share: the code words (run lengths, the EOL
// and the modes of two-dimensional coding) as tables, the bit writer, the
// listing of a row's colour changes a 64-bit word at a time, and the coding of
// one row either by its runs (one-dimensional) or against the row above it
// (two-dimensional). Bits go out most significant first (FillOrder 1). A row
// is read as PageView gives it: a set bit black, the leftmost pixel in the
// most significant bit, bits past the width ignored.
#pragma once

#include "PageBlock.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#include <sys/platform/x86.h>
// Bit counts and shifts by a register are single instructions from the
// x86-64-v3 level (POPCNT, LZCNT, BMI2) on; older processors take the base
// build. Each encoder is built twice from one body, and the functions below
// are forced inline so that each build gets its own copy built for its
// level: called out of line, they would be built for the base level only (a
// population count then being a call).
//
// The level is asked of the C library, which learnt it from the processor
// when the program started. GCC's target_clones asked the processor again
// in every library that used them, a dozen CPUID instructions at each
// start; under a hypervisor each one is a trip out of the guest (6 to 10 us
// here), a few per cent of the time a one-page fax takes.
#define FOLIO_CODER_INLINE [[gnu::always_inline]] inline
#define FOLIO_LEVEL_V3 __attribute__((target("arch=x86-64-v3")))
// Defines `name` with `params` as `body(args)`, built twice: for x86-64-v3
// and for the base level, the first taken where the processor has it.
#define FOLIO_ENCODER_LEVELS(ret, name, body, params, args)                                        \
    FOLIO_LEVEL_V3 ret name##V3 params {                                                           \
        return body args;                                                                          \
    }                                                                                              \
    ret name##Base params {                                                                        \
        return body args;                                                                          \
    }                                                                                              \
    ret name params {                                                                              \
        return ::folio::tiflib::fax::RunsV3() ? name##V3 args : name##Base args;                   \
    }
#else
#define FOLIO_CODER_INLINE inline
#define FOLIO_ENCODER_LEVELS(ret, name, body, params, args)                                        \
    ret name params {                                                                              \
        return body args;                                                                          \
    }
#endif

namespace folio::tiflib::fax {

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
// Whether the processor runs x86-64-v3 code, the system's support for the
// AVX registers included (the C library's "active" features).
inline bool RunsV3() {
    static const bool v3 =
        CPU_FEATURE_ACTIVE(SSE3) && CPU_FEATURE_ACTIVE(SSSE3) && CPU_FEATURE_ACTIVE(SSE4_1) &&
        CPU_FEATURE_ACTIVE(SSE4_2) && CPU_FEATURE_ACTIVE(POPCNT) &&
        CPU_FEATURE_ACTIVE(CMPXCHG16B) && CPU_FEATURE_ACTIVE(LAHF64_SAHF64) &&
        CPU_FEATURE_ACTIVE(AVX) && CPU_FEATURE_ACTIVE(AVX2) && CPU_FEATURE_ACTIVE(BMI1) &&
        CPU_FEATURE_ACTIVE(BMI2) && CPU_FEATURE_ACTIVE(F16C) && CPU_FEATURE_ACTIVE(FMA) &&
        CPU_FEATURE_ACTIVE(LZCNT) && CPU_FEATURE_ACTIVE(MOVBE) && CPU_FEATURE_ACTIVE(XSAVE) &&
        CPU_FEATURE_ACTIVE(OSXSAVE);
    return v3;
}
#endif

// Rows are read as little-endian words.
static_assert(std::endian::native == std::endian::little);

struct Code {
    std::uint16_t bits; // the code, right-aligned
    std::uint8_t length;
};

// Terminating codes for white runs of 0..63 pixels.
inline constexpr Code kWhiteTerminating[64] = {
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
inline constexpr Code kBlackTerminating[64] = {
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
inline constexpr Code kWhiteMakeup[40] = {
    {0x1B, 5},  {0x12, 5},  {0x17, 6},  {0x37, 7},  {0x36, 8},  {0x37, 8},  {0x64, 8},  {0x65, 8},
    {0x68, 8},  {0x67, 8},  {0xCC, 9},  {0xCD, 9},  {0xD2, 9},  {0xD3, 9},  {0xD4, 9},  {0xD5, 9},
    {0xD6, 9},  {0xD7, 9},  {0xD8, 9},  {0xD9, 9},  {0xDA, 9},  {0xDB, 9},  {0x98, 9},  {0x99, 9},
    {0x9A, 9},  {0x18, 6},  {0x9B, 9},  {0x08, 11}, {0x0C, 11}, {0x0D, 11}, {0x12, 12}, {0x13, 12},
    {0x14, 12}, {0x15, 12}, {0x16, 12}, {0x17, 12}, {0x1C, 12}, {0x1D, 12}, {0x1E, 12}, {0x1F, 12},
};

inline constexpr Code kBlackMakeup[40] = {
    {0x0F, 10}, {0xC8, 12}, {0xC9, 12}, {0x5B, 12}, {0x33, 12}, {0x34, 12}, {0x35, 12}, {0x6C, 13},
    {0x6D, 13}, {0x4A, 13}, {0x4B, 13}, {0x4C, 13}, {0x4D, 13}, {0x72, 13}, {0x73, 13}, {0x74, 13},
    {0x75, 13}, {0x76, 13}, {0x77, 13}, {0x52, 13}, {0x53, 13}, {0x54, 13}, {0x55, 13}, {0x5A, 13},
    {0x5B, 13}, {0x64, 13}, {0x65, 13}, {0x08, 11}, {0x0C, 11}, {0x0D, 11}, {0x12, 12}, {0x13, 12},
    {0x14, 12}, {0x15, 12}, {0x16, 12}, {0x17, 12}, {0x1C, 12}, {0x1D, 12}, {0x1E, 12}, {0x1F, 12},
};

inline constexpr std::uint32_t kLongestMakeup = 2560;
inline constexpr unsigned kEolLength = 12; // 0000 0000 0001

constexpr std::uint64_t leftAligned(std::uint32_t bits, std::uint32_t length) {
    return std::uint64_t(bits) << (64 - length);
}

// A code word kept left-aligned in 64 bits, ready for BitWriter::put.
struct Word {
    std::uint64_t bits;
    unsigned length;
};

constexpr Word word(Code c) {
    return {leftAligned(c.bits, c.length), c.length};
}

// The modes of two-dimensional coding. Vertical mode is indexed by a1 - b1
// + 3: the changing element of the coded row 3 pixels left of the one above
// it (VL3) .. 3 pixels right of it (VR3).
inline constexpr Word kPass = word({0x1, 4});       // 0001
inline constexpr Word kHorizontal = word({0x1, 3}); // 001
inline constexpr Word kVertical[7] = {
    word({0x02, 7}), word({0x02, 6}), word({0x2, 3}),  word({0x1, 1}),
    word({0x3, 3}),  word({0x03, 6}), word({0x03, 7}),
};
// The end of a Group 4 page: two EOLs.
inline constexpr Word kEndOfBlock = {leftAligned(0x001001, 2 * kEolLength), 2 * kEolLength};

// Each run shorter than 2560 as one code word: its make-up code (runs of 64
// and more) followed by its terminating code, at most 13 + 12 = 25 bits. The
// code word is kept left-aligned in 64 bits, so that it is put with one shift
// and two of them are joined with one more.
struct RunTable {
    std::uint64_t code[kLongestMakeup];
    std::uint8_t length[kLongestMakeup];
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
        t.code[run] = leftAligned(bits, length);
        t.length[run] = std::uint8_t(length);
    }
    return t;
}

inline constexpr RunTable kWhiteRuns = makeRunTable(kWhiteTerminating, kWhiteMakeup);
inline constexpr RunTable kBlackRuns = makeRunTable(kBlackTerminating, kBlackMakeup);
// The make-up code for 2560, the same for both colours.
inline constexpr Word kMakeup2560 = word(kWhiteMakeup[kLongestMakeup / 64 - 1]);

// Bits of the output, most significant first. Fewer than 8 bits wait in the
// top of the accumulator between calls; each put stores all 8 accumulator
// bytes and moves on by the whole bytes among them, so there is no branch,
// and the buffer needs 8 bytes of slack past the last byte.
class BitWriter {
  public:
    explicit BitWriter(std::uint8_t* at) : at_(at) {}

    // Appends a left-aligned code of `length` bits: at most 56, so that with
    // the (fewer than 8) bits waiting the accumulator never fills; two runs'
    // codes (50 bits) and the horizontal mode's prefix always fit.
    FOLIO_CODER_INLINE void put(std::uint64_t code, unsigned length) {
        acc_ |= code >> pending_;
        pending_ += length;
        const std::uint64_t bytes = __builtin_bswap64(acc_);
        std::memcpy(at_, &bytes, 8);
        at_ += pending_ >> 3;
        acc_ <<= pending_ & ~7u;
        pending_ &= 7;
    }
    FOLIO_CODER_INLINE void put(Word w) { put(w.bits, w.length); }

    // An EOL preceded by the zero fill bits that make it end on a byte
    // boundary (it must start at bit 4 of a byte), then `tagLength` (0 or 1)
    // bits of `tag`: in two-dimensional coding, 1 when the row after it is
    // coded by its runs.
    FOLIO_CODER_INLINE void putAlignedEol(unsigned tag = 0, unsigned tagLength = 0) {
        const unsigned length = ((12 - pending_) & 7) + kEolLength + tagLength;
        put(leftAligned((1u << tagLength) | tag, length), length);
    }

    // Appends `count` one bits (V0 codes).
    FOLIO_CODER_INLINE void putOnes(std::size_t count) {
        for (; count > 56; count -= 56)
            put(~std::uint64_t(0) << 8, 56);
        if (count > 0)
            put(~std::uint64_t(0) << (64 - count), unsigned(count));
    }

    // Appends `bits` bits copied from `from`, most significant first, when
    // the output is at a byte boundary (as after putAlignedEol without tag).
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

FOLIO_CODER_INLINE void putRun(BitWriter& out, const RunTable& table, std::uint32_t run) {
    while (run >= kLongestMakeup) {
        out.put(kMakeup2560);
        run -= kLongestMakeup;
    }
    out.put(table.code[run], table.length[run]);
}

// Most bytes one row can take, coded by its runs. A run of n pixels costs at
// most 12 bits for every 2560 in it plus a make-up and a terminating code (25
// bits); a row of w pixels has at most w + 1 runs. Then the fill bits, the EOL
// and its tag bit, the bits left from the row before, and the 8 bytes every
// store touches.
inline std::size_t worstOneDRowBytes(std::uint32_t width) {
    const std::uint64_t bits =
        25 * (std::uint64_t(width) + 1) + 12 * (width / kLongestMakeup) + 7 + kEolLength + 1 + 7;
    return std::size_t(bits / 8 + 1 + 8);
}

// The same for a row coded against the row above. With n changes in the row,
// there are at most n + 1 vertical codes (7 bits) or (n + 2) / 2 horizontal
// ones (3 bits and two runs: at most 53 bits, and 12 bits for every 2560
// pixels in the row), and a pass code (4 bits) for at most every second
// change of the row above: below 40 bits a pixel, with 4 pixels to spare.
inline std::size_t worstTwoDRowBytes(std::uint32_t width) {
    const std::uint64_t bits = 40 * (std::uint64_t(width) + 4) + 7 + kEolLength + 1 + 7;
    return std::size_t(bits / 8 + 1 + 8);
}

// Makes sure `out` has room for `need` more bytes past where `bits` writes,
// growing it (at least twice) when not.
inline void ensureRoom(std::vector<std::uint8_t>& out, BitWriter& bits, std::size_t need) {
    const std::size_t used = std::size_t(bits.position() - out.data());
    if (out.size() - used < need) {
        out.resize(std::max(out.size() * 2, used + need));
        bits.moveTo(out.data() + used);
    }
}

// Where a page coded in two halves is joined, for the Group 3 codings: the
// second half was coded from a byte boundary, so it begins with 4 fill bits
// and the EOL, the bytes 0x00 0x01. Where the first half ends `tail` bits
// into a byte, the EOL's fill in one piece would take 4 - tail bits for tail
// from 1 to 4, one byte less than the padded first half and those two bytes:
// that 0x00 is dropped. For a tail of 0 or 5 to 7 the bytes are the same
// either way. (The tag bit of two-dimensional coding follows the EOL and does
// not change this.)
inline void appendCodedHalf(std::vector<std::uint8_t>& out, unsigned tail,
                            const std::vector<std::uint8_t>& second) {
    const std::size_t skip = (tail >= 1 && tail <= 4 && !second.empty()) ? 1 : 0;
    out.insert(out.end(), second.begin() + std::ptrdiff_t(skip), second.end());
}

// For each byte value, the positions of its set bits counted from the most
// significant bit (bit 7 is position 0, as pixels are in a row's bytes),
// ascending, padded with zeros, and how many there are. Kept 32 bits wide (8 KiB), ready to be
// added to and stored: widening bytes in the vector unit would need instructions the default build
// does not have.
struct BitPositions {
    std::uint32_t at[256][8];
    std::uint8_t count[256];
};

constexpr BitPositions makeBitPositions() {
    BitPositions t{};
    for (unsigned b = 0; b < 256; ++b) {
        unsigned n = 0;
        for (unsigned p = 0; p < 8; ++p)
            if (b & (0x80u >> p))
                t.at[b][n++] = p;
        t.count[b] = std::uint8_t(n);
    }
    return t;
}

inline constexpr BitPositions kBitPositions = makeBitPositions();

typedef std::uint32_t Positions8 __attribute__((vector_size(32)));

// Appends the positions of the set bits of `bits`, counted from the most
// significant bit, plus `base`, at `out`, in ascending order, and returns how
// many. The word is taken a byte at a time, from the top:
// each byte's positions come from a table, widened and written as 8 entries
// whatever their number, and the next byte's overwrite the surplus. Text rows
// change about 11 times in a word of 64 pixels, so a bit-by-bit scan would
// leave its loop at a different count at nearly every word (mispredicted);
// this has no branch at all. `out` needs room for 8 more than the count.
FOLIO_CODER_INLINE std::size_t positionsOf(std::uint64_t bits, std::uint32_t base,
                                           std::uint32_t* out) {
    std::uint32_t* at = out;
    for (unsigned k = 0; k < 64; k += 8) {
        const unsigned byte = unsigned(bits >> (56 - k)) & 0xFF;
        Positions8 positions;
        std::memcpy(&positions, kBitPositions.at[byte], sizeof positions);
        positions += base + k;
        std::memcpy(at, &positions, sizeof positions);
        at += kBitPositions.count[byte];
    }
    return std::size_t(at - out);
}

// Lists where the colour of a row changes. Pixel p's change bit is set where
// it differs from pixel p - 1 (white before the row); the row is loaded as
// 64-bit words and the set bits are read out a word at a time.
class ChangeFinder {
  public:
    // Room a change list needs: a leading slot, every pixel a change, and
    // the 8 entries positionsOf may write past the last change (more than
    // the 4 copies of the width that end a list).
    static std::size_t listSize(std::uint32_t width) { return std::size_t(width) + 9; }

    explicit ChangeFinder(const PageView& page)
        : width_(page.width), wordCount_((std::size_t(page.width) + 63) / 64),
          rowLoad_(std::min(page.rowBytes, (std::size_t(page.width) + 7) / 8)),
          pixelBytes_(page.width / 8), tailBits_(page.width % 8), words_(wordCount_) {
        const unsigned lastPixels = unsigned(page.width - 64 * (wordCount_ - 1));
        lastWordMask_ = lastPixels == 64 ? ~std::uint64_t(0) : ~(~std::uint64_t(0) >> lastPixels);
    }

    // Writes the changes of `row` at `out`, ascending, and returns how many.
    // `out` needs room for width + 8 entries.
    FOLIO_CODER_INLINE std::size_t find(const std::uint8_t* row, std::uint32_t* out) {
        words_[wordCount_ - 1] = 0;
        std::memcpy(words_.data(), row, rowLoad_);
        std::size_t n = 0;
        std::uint64_t before = 0; // the previous pixel, in bit 0
        for (std::size_t i = 0; i < wordCount_; ++i) {
            // A word all of the colour before it (white margins, black
            // bars) changes nowhere.
            if (words_[i] == 0 - before)
                continue;
            // The word's first pixel in the most significant bit.
            const std::uint64_t pixels = __builtin_bswap64(words_[i]);
            std::uint64_t changes = pixels ^ (pixels >> 1 | before << 63);
            before = pixels & 1;
            if (i + 1 == wordCount_)
                changes &= lastWordMask_; // the change bits past the width are padding
            if (changes)
                n += positionsOf(changes, std::uint32_t(64 * i), out + n);
        }
        return n;
    }

    // Whether two rows have the same pixels (the bits past the width aside).
    FOLIO_CODER_INLINE bool same(const std::uint8_t* a, const std::uint8_t* b) const {
        return std::memcmp(a, b, pixelBytes_) == 0 &&
               (tailBits_ == 0 ||
                ((a[pixelBytes_] ^ b[pixelBytes_]) & (0xFF00u >> tailBits_)) == 0);
    }

    // Ends a list of `n` changes at `list` with copies of the width, which the
    // coding of a row reads as changes past its end.
    void close(std::uint32_t* list, std::size_t n) const {
        for (std::size_t k = 0; k < 4; ++k)
            list[n + k] = width_;
    }

  private:
    std::uint32_t width_;
    std::size_t wordCount_, rowLoad_, pixelBytes_;
    unsigned tailBits_;
    std::uint64_t lastWordMask_;
    std::vector<std::uint64_t> words_;
};

// Codes a row by its runs. change[0] is the row's start (0), change[1 .. n-1]
// the changes and change[n] the width: runs j = 0 .. n - 1 lie between
// change[j] and change[j + 1]; even runs are white, odd runs black. The runs
// are coded a white and black pair at a time: the two code words are joined
// off the critical path and put with one shift, which halves the chain of
// dependent operations through the output. Text runs are short and their
// codes a few bits each, so two pairs mostly fit one put as well.
FOLIO_CODER_INLINE void putRuns(BitWriter& bits, const std::uint32_t* change, std::size_t n) {
    const RunTable& white = kWhiteRuns;
    const RunTable& black = kBlackRuns;
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
}

// Codes a row against the row above it (the reference). `a` lists the
// row's changes and `b` the reference's, each closed by ChangeFinder::close.
// a0 is where coding stands (before the row at first), a1 the next change
// of the row after a0; b1 the first change of the reference after a0 to the
// colour opposite a0's, b2 the change after b1. Then pass mode when b2 lies
// left of a1, vertical mode when a1 is within 3 pixels of b1, else horizontal
// mode with the runs a0..a1 and a1..a2.
//
// The colour at a0 is the parity of i, the index of a1 in `a` (even: white).
// The changes of the reference alternate to black (even index) and to white
// (odd index), so b1 is the first change past a0 whose index has the parity
// of i: j is kept at the first change past a0 and moved on by one when its
// parity is the wrong one. j only grows, as a0 does.
FOLIO_CODER_INLINE void putTwoDRow(BitWriter& bits, const std::uint32_t* a, const std::uint32_t* b,
                                   std::uint32_t width) {
    const RunTable& white = kWhiteRuns;
    const RunTable& black = kBlackRuns;
    std::int64_t a0 = -1;
    std::size_t i = 0, j = 0;
    for (;;) {
        while (std::int64_t(b[j]) <= a0)
            ++j;
        const std::size_t jb = j + ((j ^ i) & 1);
        const std::uint32_t a1 = a[i], b1 = b[jb], b2 = b[jb + 1];
        if (b2 < a1) {
            bits.put(kPass);
            a0 = b2; // left of a1, so within the row
            j = jb + 2;
            continue;
        }
        const std::uint32_t shift = a1 - b1 + 3; // vertical offset + 3, if within 0..6
        if (shift <= 6) {
            bits.put(kVertical[shift]);
            a0 = a1;
            ++i;
        } else {
            const std::uint32_t start = a0 < 0 ? 0 : std::uint32_t(a0);
            const std::uint32_t a2 = a[i + 1];
            const RunTable& first = (i & 1) ? black : white;
            const RunTable& second = (i & 1) ? white : black;
            const std::uint32_t r0 = a1 - start, r1 = a2 - a1;
            if ((r0 | r1) >= kLongestMakeup) [[unlikely]] {
                bits.put(kHorizontal);
                putRun(bits, first, r0);
                putRun(bits, second, r1);
            } else {
                const unsigned l0 = kHorizontal.length + first.length[r0];
                const std::uint64_t c0 = kHorizontal.bits | first.code[r0] >> kHorizontal.length;
                bits.put(c0 | second.code[r1] >> l0, l0 + second.length[r1]);
            }
            a0 = a2;
            i += 2;
        }
        if (a0 >= std::int64_t(width))
            return;
    }
}

// Codes the rows of a page one after another, each by its runs or against
// the row coded before it (against a white row when it is the first). A
// row that repeats the row before is not looked at again: against the row
// before it is all V0 codes, one for each change and one for the end, and by
// its runs it has the runs of the row before.
class RowSequenceCoder {
  public:
    explicit RowSequenceCoder(const PageView& page)
        : finder_(page), width_(page.width), lists_(2 * ChangeFinder::listSize(page.width)) {
        current_ = lists_.data();
        reference_ = current_ + ChangeFinder::listSize(page.width);
        // Each list: the row's start (0) for putRuns, then the changes.
        reference_[0] = 0;
        finder_.close(reference_ + 1, 0);
    }

    // Takes `row` as the row before the next one, without coding it.
    void startBelow(const std::uint8_t* row) {
        referenceCount_ = finder_.find(row, reference_ + 1);
        finder_.close(reference_ + 1, referenceCount_);
        previous_ = row;
    }

    FOLIO_CODER_INLINE void put(BitWriter& bits, const std::uint8_t* row, bool byRuns) {
        if (previous_ && finder_.same(row, previous_)) {
            if (byRuns)
                putRuns(bits, reference_, referenceCount_ + 1);
            else
                bits.putOnes(referenceCount_ + 1);
            return;
        }
        current_[0] = 0;
        const std::size_t n = finder_.find(row, current_ + 1);
        finder_.close(current_ + 1, n);
        if (byRuns)
            putRuns(bits, current_, n + 1);
        else
            putTwoDRow(bits, current_ + 1, reference_ + 1, width_);
        std::swap(current_, reference_);
        referenceCount_ = n;
        previous_ = row;
    }

  private:
    ChangeFinder finder_;
    std::uint32_t width_;
    std::vector<std::uint32_t> lists_;
    std::uint32_t* current_;
    std::uint32_t* reference_;
    std::size_t referenceCount_ = 0;
    const std::uint8_t* previous_ = nullptr;
};

} // namespace folio::tiflib::fax
