// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Code pages: character stepping in single-byte, double-byte and UTF-8 text,
// the lead-byte tests, decoding to code points and the character-set table.
#include "CodePage.h"
#include "Font.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

using namespace folio;

namespace {

// Character lengths of `text` as CharNextExA steps it (text is NUL-free).
std::vector<int> steps(std::uint16_t cp, const std::string& text) {
    std::vector<int> out;
    const char* p = text.c_str();
    while (*p) {
        const char* next = CharNextExA(cp, p);
        out.push_back(int(next - p));
        if (next == p)
            break;
        p = next;
    }
    return out;
}

std::vector<int> lengths(std::uint16_t cp, std::string_view text) {
    std::vector<int> out;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t n = CharLength(cp, text, pos);
        out.push_back(int(n));
        pos += n;
    }
    return out;
}

} // namespace

TEST(CodePageStep, CharactersInEachCodePage) {
    struct Case {
        std::uint16_t cp;
        std::string text;
        std::vector<int> expected;
    };
    const std::vector<Case> cases = {
        // 1252 (and 0, the ANSI code page): every byte is a character.
        {1252, "A\x81\x82\xFF", {1, 1, 1, 1}},
        {0, "\x82\xA0\xE0\x40", {1, 1, 1, 1}},
        {1251, "\xC0\xC1", {1, 1}},
        // 932: lead bytes 81-9F and E0-FC take the next byte.
        {932,
         "A\x82\xA0"
         "B",
         {1, 2, 1}},
        {932, "\x9F\xFC\xE0\x40\xFC\xFC", {2, 2, 2}},
        {932, "\xA0\xDF\xFD\x80", {1, 1, 1, 1}},
        // A lead byte takes any trail byte, even one that makes no character.
        {932, "\x81\x20", {2}},
        {936, "\x81\x40\xFE\xFE", {2, 2}},
        // UTF-8: whole well-formed sequences, one byte for anything else.
        {65001, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", {1, 2, 3, 4}},
        {65001, "\xC0\x80\xC1\xBF", {1, 1, 1, 1}}, // overlong
        {65001, "\xE0\x80\xAF", {1, 1, 1}},        // overlong
        {65001, "\xED\xA0\x80", {1, 1, 1}},        // surrogate
        {65001, "\xF4\x90\x80\x80", {1, 1, 1, 1}}, // above U+10FFFF
        {65001,
         "\xE2\x82"
         "A",
         {1, 1, 1}}, // cut short
        {65001, "\x80\xBF\xF8\x88\x80\x80\x80\xFF", {1, 1, 1, 1, 1, 1, 1, 1}},
        {65001, "\xF4\x8F\xBF\xBF\xEF\xBF\xBF", {4, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "code page " << c.cp << " text " << c.text);
        EXPECT_EQ(steps(c.cp, c.text), c.expected);
        EXPECT_EQ(lengths(c.cp, c.text), c.expected);
    }
}

TEST(CodePageStep, NeverPastTheTerminator) {
    EXPECT_EQ(CharNextExA(932, nullptr), nullptr);
    const char empty[] = "";
    EXPECT_EQ(CharNextExA(932, empty), empty);
    // Exactly sized heap blocks: any read past the NUL would be caught by
    // the address sanitizer.
    for (std::uint16_t cp : {std::uint16_t(932), std::uint16_t(936), std::uint16_t(65001)}) {
        for (const char* lead : {"\x82", "\xE3", "\xF0", "\xF0\x9F", "\xF0\x9F\x98"}) {
            const std::size_t n = std::strlen(lead);
            auto buf = std::make_unique<char[]>(n + 1);
            std::memcpy(buf.get(), lead, n + 1);
            const char* p = buf.get();
            while (*p)
                p = CharNextExA(cp, p);
            EXPECT_EQ(p, buf.get() + n);
            EXPECT_EQ(CharNextExA(cp, p), p);
        }
    }
    // A lead byte at the end of a view (or before a NUL in it) is one byte.
    EXPECT_EQ(CharLength(932, std::string_view("\x82", 1), 0), 1u);
    EXPECT_EQ(CharLength(932, std::string_view("\x82\0\xA0", 3), 0), 1u);
    EXPECT_EQ(CharLength(932, "ab", 2), 0u);
    EXPECT_EQ(CharLength(932, "ab", 7), 0u);
}

TEST(CodePageLeadByte, AnsiCodePageHasNone) {
    for (int b = 0; b < 256; ++b) {
        EXPECT_FALSE(IsDBCSLeadByte(std::uint8_t(b))) << b;
        EXPECT_FALSE(IsDBCSLeadByteEx(0, std::uint8_t(b))) << b;
    }
}

TEST(CodePageLeadByte, RangesOfTheDoubleByteCodePages) {
    // The ranges glibc's converters take as lead bytes: 932 and 936 as on
    // the platform; 949, 950 and 1361 leave out the user-defined areas
    // (C9, FE; 81-A0, FA-FE; D8), whose pairs convert to nothing here.
    struct Range {
        int lo, hi;
    };
    struct Case {
        std::uint16_t cp;
        std::vector<Range> ranges;
    };
    const std::vector<Case> cases = {
        {932, {{0x81, 0x9F}, {0xE0, 0xFC}}},
        {936, {{0x81, 0xFE}}},
        {949, {{0x81, 0xC8}, {0xCA, 0xFD}}},
        {950, {{0xA1, 0xF9}}},
        {1361, {{0x84, 0xD3}, {0xD9, 0xDE}, {0xE0, 0xF9}}},
        {1250, {}},
        {1251, {}},
        {874, {}},
        {437, {}},
        {10000, {}},
        {65001, {}},
        {kSymbolCodePage, {}},
    };
    for (const Case& c : cases) {
        for (int b = 0; b < 256; ++b) {
            bool expected = false;
            for (const Range& r : c.ranges)
                expected |= b >= r.lo && b <= r.hi;
            EXPECT_EQ(IsDBCSLeadByteEx(c.cp, std::uint8_t(b)), expected)
                << "code page " << c.cp << " byte " << b;
        }
    }
}

TEST(CodePageDecode, BytesToCodePoints) {
    struct Case {
        std::uint16_t cp;
        std::string bytes;
        char32_t expected;
    };
    const std::vector<Case> cases = {
        {1252, "A", U'A'},
        {1252, "\x80", 0x20AC},
        {0, "\x9F", 0x0178},
        {1252, "\xE9", 0x00E9},
        {1252, "\x81", kReplacementChar}, // undefined in 1252
        {1250, "\x8A", 0x0160},
        {1251, "\xC0", 0x0410},
        {1253, "\xE1", 0x03B1},
        {1254, "\xF0", 0x011F},
        {1255, "\xE0", 0x05D0},
        {1256, "\xC7", 0x0627},
        {1257, "\xE0", 0x0105},
        {1258, "\xF5", 0x01A1},
        {874, "\xA1", 0x0E01},
        {437, "\xB0", 0x2591},
        {10000, "\xA5", 0x2022},
        {932, "\x82\xA0", 0x3042},
        {932, "\xB1", 0xFF71}, // half-width katakana, one byte
        {932, "\x82", kReplacementChar},
        {932, "\x81\x20", kReplacementChar},
        {936, "\xB0\xA1", 0x554A},
        {949, "\xB0\xA1", 0xAC00},
        {950, "\xA4\x40", 0x4E00},
        {1361, "\x88\x61", 0xAC00},
        {65001, "\xE2\x82\xAC", 0x20AC},
        {65001, "\xF0\x9F\x98\x80", 0x1F600},
        {65001, "\xC3", kReplacementChar},
        {65001, "\xC0\x80", kReplacementChar},
        {65001, "\xFF", kReplacementChar},
        {kSymbolCodePage, "\xF0", 0xF0},
        {1252, "", kReplacementChar},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DecodeChar(c.cp, c.bytes), c.expected) << "code page " << c.cp;
}

// 1252 is decoded from a table of its own, not through iconv; it must read
// every byte as glibc does.
TEST(CodePageDecode, BuiltIn1252AgreesWithIconv) {
    iconv_t cd = iconv_open("UTF-32LE", "CP1252");
    if (cd == iconv_t(-1))
        GTEST_SKIP() << "this machine's iconv has no CP1252";
    for (int b = 0; b < 256; ++b) {
        char in[1] = {char(b)};
        unsigned char out[8] = {};
        char* ip = in;
        char* op = reinterpret_cast<char*>(out);
        std::size_t il = 1, ol = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        const bool ok = iconv(cd, &ip, &il, &op, &ol) != std::size_t(-1) && ol == 4;
        const char32_t expected =
            ok ? char32_t(out[0] | out[1] << 8 | out[2] << 16 | out[3] << 24) : kReplacementChar;
        EXPECT_EQ(DecodeChar(1252, std::string(1, char(b))), expected) << "byte " << b;
    }
    iconv_close(cd);
}

TEST(CodePageDecode, UnknownCodePageReadsAsAnsi) {
    EXPECT_EQ(DecodeChar(12345, "\x80"), char32_t(0x20AC));
    EXPECT_FALSE(IsDBCSLeadByteEx(12345, 0x82));
    EXPECT_EQ(lengths(12345, "\x82\xA0"), (std::vector<int>{1, 1}));
}

TEST(CodePageCharset, CharsetsToCodePages) {
    struct Case {
        std::uint8_t charset;
        std::uint16_t cp;
    };
    const Case cases[] = {
        {ANSI_CHARSET, 1252},       {SYMBOL_CHARSET, kSymbolCodePage},
        {MAC_CHARSET, 10000},       {SHIFTJIS_CHARSET, 932},
        {HANGEUL_CHARSET, 949},     {JOHAB_CHARSET, 1361},
        {GB2312_CHARSET, 936},      {CHINESEBIG5_CHARSET, 950},
        {GREEK_CHARSET, 1253},      {TURKISH_CHARSET, 1254},
        {VIETNAMESE_CHARSET, 1258}, {HEBREW_CHARSET, 1255},
        {ARABIC_CHARSET, 1256},     {BALTIC_CHARSET, 1257},
        {RUSSIAN_CHARSET, 1251},    {THAI_CHARSET, 874},
        {EASTEUROPE_CHARSET, 1250}, {OEM_CHARSET, 437},
        {DEFAULT_CHARSET, 1252},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CodePageOfCharset(c.charset), c.cp) << int(c.charset);
    // DEFAULT_CHARSET (and an identifier outside the table) follows the
    // code page the canvas is told.
    EXPECT_EQ(CodePageOfCharset(DEFAULT_CHARSET, 932), 932);
    EXPECT_EQ(CodePageOfCharset(99, 65001), 65001);
    EXPECT_EQ(CodePageOfCharset(ANSI_CHARSET, 932), 1252);
}

TEST(CodePageDecode, TablesAreBuiltOnceForConcurrentCallers) {
    // Code pages no other test touches, first used from several threads at once.
    const std::uint16_t pages[] = {1257, 850, 866, 949};
    std::vector<std::thread> threads;
    std::vector<int> leadCounts(8, 0);
    std::vector<char32_t> decoded(8, 0);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            const std::uint16_t cp = pages[t % 4];
            for (int b = 0; b < 256; ++b)
                leadCounts[t] += IsDBCSLeadByteEx(cp, std::uint8_t(b));
            decoded[t] = DecodeChar(cp, cp == 949 ? "\xB0\xA1" : "\xE0");
        });
    }
    for (auto& th : threads)
        th.join();
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(leadCounts[t], leadCounts[t + 4]);
        EXPECT_EQ(decoded[t], decoded[t + 4]);
    }
    EXPECT_EQ(decoded[3], char32_t(0xAC00));
    EXPECT_EQ(leadCounts[3], 0xC8 - 0x81 + 1 + 0xFD - 0xCA + 1);
}
