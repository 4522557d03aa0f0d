// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Code pages from glibc's iconv: for each code page in use a table is built
// once (single bytes to code points, which bytes are lead bytes, and for a
// double-byte code page every lead/trail pair) and kept for the life of the
// process, so stepping and decoding are table look-ups that any thread may do
// without a lock. UTF-8 is stepped and decoded here directly.
#include "CodePage.h"

#include "Font.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iconv.h>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace folio {

std::uint16_t CodePageOfCharset(std::uint8_t charset, std::uint16_t defaultCodePage) {
    switch (charset) {
    case ANSI_CHARSET:
        return 1252;
    case SYMBOL_CHARSET:
        return kSymbolCodePage;
    case MAC_CHARSET:
        return 10000;
    case SHIFTJIS_CHARSET:
        return 932;
    case HANGEUL_CHARSET:
        return 949;
    case JOHAB_CHARSET:
        return 1361;
    case GB2312_CHARSET:
        return 936;
    case CHINESEBIG5_CHARSET:
        return 950;
    case GREEK_CHARSET:
        return 1253;
    case TURKISH_CHARSET:
        return 1254;
    case VIETNAMESE_CHARSET:
        return 1258;
    case HEBREW_CHARSET:
        return 1255;
    case ARABIC_CHARSET:
        return 1256;
    case BALTIC_CHARSET:
        return 1257;
    case RUSSIAN_CHARSET:
        return 1251;
    case THAI_CHARSET:
        return 874;
    case EASTEUROPE_CHARSET:
        return 1250;
    case OEM_CHARSET:
        return 437;
    default:
        return EffectiveCodePage(defaultCodePage);
    }
}

namespace {

constexpr char32_t kNone = 0xFFFFFFFF;

struct Table {
    bool convertible = false;
    std::array<bool, 256> lead{};
    // Code point of each single byte, kNone where the byte alone is no character.
    std::array<char32_t, 256> single{};
    // For lead byte b, pairs[slot[b] * 256 + trail]; kNone where the pair is none.
    std::array<std::uint8_t, 256> slot{};
    std::vector<char32_t> pairs;
};

// The bytes of 1252 at 0x80..0x9F (0 = undefined there); everything else is
// Latin-1; the same as glibc's CP1252.
constexpr char16_t k1252High[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// Windows' lead-byte ranges, used only when iconv cannot open the code page.
bool windowsLeadByte(std::uint16_t cp, std::uint8_t b) {
    switch (cp) {
    case 932:
        return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    case 936:
    case 949:
    case 950:
        return b >= 0x81 && b <= 0xFE;
    case 1361:
        return (b >= 0x84 && b <= 0xD3) || (b >= 0xD8 && b <= 0xDE) || (b >= 0xE0 && b <= 0xF9);
    default:
        return false;
    }
}

iconv_t openCodePage(std::uint16_t cp) {
    struct Alias {
        std::uint16_t cp;
        const char* name;
    };
    static constexpr Alias kAliases[] = {
        {437, "IBM437"},        {1361, "JOHAB"},        {10000, "MACINTOSH"},
        {20127, "ASCII"},       {20866, "KOI8-R"},      {21866, "KOI8-U"},
        {28591, "ISO-8859-1"},  {28592, "ISO-8859-2"},  {28593, "ISO-8859-3"},
        {28594, "ISO-8859-4"},  {28595, "ISO-8859-5"},  {28596, "ISO-8859-6"},
        {28597, "ISO-8859-7"},  {28598, "ISO-8859-8"},  {28599, "ISO-8859-9"},
        {28603, "ISO-8859-13"}, {28605, "ISO-8859-15"},
    };
    for (const Alias& a : kAliases)
        if (a.cp == cp)
            return iconv_open("UTF-32LE", a.name);
    char name[24];
    for (const char* pattern : {"CP%u", "WINDOWS-%u", "IBM%u"}) {
        std::snprintf(name, sizeof name, pattern, unsigned(cp));
        iconv_t cd = iconv_open("UTF-32LE", name);
        if (cd != iconv_t(-1))
            return cd;
    }
    return iconv_t(-1);
}

enum class Outcome { Char, Incomplete, Invalid };

// Converts `n` bytes as one character from the converter's initial state.
Outcome convertOne(iconv_t cd, const unsigned char* bytes, std::size_t n, char32_t& out) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char in[2];
    std::memcpy(in, bytes, n);
    unsigned char buf[16];
    char* ip = in;
    char* op = reinterpret_cast<char*>(buf);
    std::size_t il = n, ol = sizeof buf;
    std::size_t r = iconv(cd, &ip, &il, &op, &ol);
    if (r == std::size_t(-1))
        return errno == EINVAL ? Outcome::Incomplete : Outcome::Invalid;
    // 1255 and 1258 hold a character back in case a combining mark follows.
    if (iconv(cd, nullptr, nullptr, &op, &ol) == std::size_t(-1))
        return Outcome::Invalid;
    // Exactly one code point, all input used.
    if (il != 0 || sizeof buf - ol != 4)
        return Outcome::Invalid;
    out =
        char32_t(buf[0]) | char32_t(buf[1]) << 8 | char32_t(buf[2]) << 16 | char32_t(buf[3]) << 24;
    return Outcome::Char;
}

std::unique_ptr<Table> buildTable(std::uint16_t cp) {
    auto t = std::make_unique<Table>();
    t->single.fill(kNone);
    t->slot.fill(0xFF);
    // 1252, the default, is built in: glibc maps it the same way, and
    // opening iconv loads two modules, a start-up cost on every run.
    iconv_t cd = cp == kAnsiCodePage ? iconv_t(-1) : openCodePage(cp);
    if (cd == iconv_t(-1)) {
        for (int b = 0; b < 256; ++b)
            t->lead[b] = windowsLeadByte(cp, std::uint8_t(b));
        if (cp == kAnsiCodePage) {
            t->convertible = true;
            for (int b = 0; b < 256; ++b)
                t->single[b] = (b < 0x80 || b >= 0xA0) ? char32_t(b)
                               : k1252High[b - 0x80]   ? char32_t(k1252High[b - 0x80])
                                                       : kNone;
        }
        return t;
    }
    t->convertible = true;
    int leads = 0;
    for (int b = 0; b < 256; ++b) {
        const unsigned char byte = std::uint8_t(b);
        char32_t c = 0;
        Outcome o = convertOne(cd, &byte, 1, c);
        if (o == Outcome::Char)
            t->single[b] = c;
        // A byte that iconv calls the incomplete start of a sequence is a lead byte.
        t->lead[b] = o == Outcome::Incomplete;
        if (t->lead[b])
            t->slot[b] = std::uint8_t(leads++);
    }
    t->pairs.assign(std::size_t(leads) * 256, kNone);
    for (int b = 0; b < 256; ++b) {
        if (!t->lead[b])
            continue;
        for (int trail = 1; trail < 256; ++trail) {
            const unsigned char pair[2] = {std::uint8_t(b), std::uint8_t(trail)};
            char32_t c = 0;
            if (convertOne(cd, pair, 2, c) == Outcome::Char)
                t->pairs[std::size_t(t->slot[b]) * 256 + std::size_t(trail)] = c;
        }
    }
    iconv_close(cd);
    return t;
}

// One table per code page number, made on first use and never freed.
std::atomic<const Table*> g_tables[65536];
std::mutex g_buildMutex;

const Table& tableFor(std::uint16_t cp) {
    const Table* t = g_tables[cp].load(std::memory_order_acquire);
    if (t)
        return *t;
    std::lock_guard lock(g_buildMutex);
    t = g_tables[cp].load(std::memory_order_acquire);
    if (!t) {
        t = buildTable(cp).release();
        g_tables[cp].store(t, std::memory_order_release);
    }
    return *t;
}

// A code page this machine cannot convert reads as the ANSI code page.
const Table& usableTable(std::uint16_t cp) {
    const Table& t = tableFor(cp);
    return t.convertible ? t : tableFor(kAnsiCodePage);
}

// Length of the well-formed UTF-8 sequence at s (n bytes available), or 0.
std::size_t utf8Length(const unsigned char* s, std::size_t n) {
    const unsigned b = s[0];
    if (b < 0x80)
        return 1;
    std::size_t len;
    unsigned lo = 0x80, hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF)
        len = 2;
    else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        if (b == 0xE0)
            lo = 0xA0; // no overlong forms
        else if (b == 0xED)
            hi = 0x9F; // no surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        if (b == 0xF0)
            lo = 0x90;
        else if (b == 0xF4)
            hi = 0x8F; // nothing above U+10FFFF
    } else
        return 0;
    if (n < len || s[1] < lo || s[1] > hi)
        return 0;
    for (std::size_t i = 2; i < len; ++i)
        if ((s[i] & 0xC0) != 0x80)
            return 0;
    return len;
}

} // namespace

bool IsDBCSLeadByteEx(std::uint16_t codePage, std::uint8_t b) {
    const std::uint16_t cp = EffectiveCodePage(codePage);
    if (cp == kUtf8CodePage || cp == kSymbolCodePage || cp == kAnsiCodePage)
        return false;
    return tableFor(cp).lead[b];
}

bool IsCodePageSupported(std::uint16_t codePage) {
    const std::uint16_t cp = EffectiveCodePage(codePage);
    return cp == kUtf8CodePage || cp == kSymbolCodePage || cp == kAnsiCodePage ||
           tableFor(cp).convertible;
}

bool IsDBCSLeadByte(std::uint8_t b) {
    return IsDBCSLeadByteEx(kAnsiCodePage, b);
}

std::size_t CharLength(std::uint16_t codePage, std::string_view text, std::size_t pos) {
    if (pos >= text.size())
        return 0;
    const auto* s = reinterpret_cast<const unsigned char*>(text.data()) + pos;
    const std::size_t n = text.size() - pos;
    const std::uint16_t cp = EffectiveCodePage(codePage);
    if (cp == kUtf8CodePage) {
        std::size_t len = utf8Length(s, n);
        return len ? len : 1;
    }
    if (cp == kAnsiCodePage || cp == kSymbolCodePage)
        return 1;
    // A lead byte takes the next byte with it, whatever it is, unless that is
    // the end of the text or a NUL (which ends a C string).
    return n >= 2 && s[1] != 0 && usableTable(cp).lead[s[0]] ? 2 : 1;
}

const char* CharNextExA(std::uint16_t codePage, const char* p, unsigned) {
    if (!p || *p == '\0')
        return p;
    // Never past the terminator: a UTF-8 character takes at most 4 bytes, a
    // character of another code page at most 2.
    const std::uint16_t cp = EffectiveCodePage(codePage);
    if (cp == kAnsiCodePage || cp == kSymbolCodePage)
        return p + 1;
    const std::size_t n = cp == kUtf8CodePage ? strnlen(p, 4) : p[1] ? 2 : 1;
    return p + CharLength(cp, std::string_view(p, n), 0);
}

char32_t DecodeChar(std::uint16_t codePage, std::string_view bytes) {
    if (bytes.empty())
        return kReplacementChar;
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::uint16_t cp = EffectiveCodePage(codePage);
    if (cp == kSymbolCodePage)
        return bytes.size() == 1 ? char32_t(s[0]) : kReplacementChar;
    if (cp == kUtf8CodePage) {
        const std::size_t len = utf8Length(s, bytes.size());
        if (len == 0 || len != bytes.size())
            return kReplacementChar;
        if (len == 1)
            return s[0];
        char32_t c = s[0] & (0xFF >> (len + 1));
        for (std::size_t i = 1; i < len; ++i)
            c = c << 6 | (s[i] & 0x3F);
        return c;
    }
    const Table& t = usableTable(cp);
    char32_t c = kNone;
    if (bytes.size() == 1)
        c = t.single[s[0]];
    else if (bytes.size() == 2 && t.lead[s[0]])
        c = t.pairs[std::size_t(t.slot[s[0]]) * 256 + s[1]];
    return c == kNone ? kReplacementChar : c;
}

namespace {

// The bytes of each character of a code page, from its reading table: one
// byte (below 0x100) or a lead byte and a trail byte (lead << 8 | trail).
// Where several byte sequences read as one character, the shortest and then
// the lowest is kept. Made on first use and never freed, like the tables.
using Reverse = std::unordered_map<char32_t, std::uint16_t>;
std::atomic<const Reverse*> g_reverse[65536];

const Reverse& reverseFor(std::uint16_t cp) {
    const Reverse* r = g_reverse[cp].load(std::memory_order_acquire);
    if (r)
        return *r;
    const Table& t = usableTable(cp);
    std::lock_guard lock(g_buildMutex);
    r = g_reverse[cp].load(std::memory_order_acquire);
    if (!r) {
        auto made = std::make_unique<Reverse>();
        for (unsigned b = 1; b < 256; ++b)
            if (!t.lead[b] && t.single[b] != kNone)
                made->emplace(t.single[b], std::uint16_t(b));
        for (unsigned lead = 0; lead < 256; ++lead) {
            if (!t.lead[lead] || t.slot[lead] == 0xFF)
                continue;
            for (unsigned trail = 1; trail < 256; ++trail) {
                const char32_t c = t.pairs[std::size_t(t.slot[lead]) * 256 + trail];
                if (c != kNone)
                    made->emplace(c, std::uint16_t(lead << 8 | trail));
            }
        }
        r = made.release();
        g_reverse[cp].store(r, std::memory_order_release);
    }
    return *r;
}

} // namespace

std::string EncodeUtf8(std::uint16_t codePage, std::string_view utf8, std::size_t& replaced) {
    std::uint16_t cp = EffectiveCodePage(codePage);
    if (cp == kUtf8CodePage)
        return std::string(utf8);
    if (cp == kSymbolCodePage || !IsCodePageSupported(cp))
        cp = kAnsiCodePage;
    const Reverse& reverse = reverseFor(cp);
    std::string out;
    out.reserve(utf8.size());
    const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t len = utf8Length(s + i, utf8.size() - i);
        if (len == 0) {
            out += '?';
            ++replaced;
            ++i;
            continue;
        }
        char32_t c = s[i] & (len == 1 ? 0x7F : 0xFF >> (len + 1));
        for (std::size_t k = 1; k < len; ++k)
            c = c << 6 | (s[i + k] & 0x3F);
        i += len;
        if (c == 0) {
            out += '\0';
            continue;
        }
        const auto it = reverse.find(c);
        if (it == reverse.end()) {
            out += '?';
            ++replaced;
        } else if (it->second > 0xFF) {
            out += char(it->second >> 8);
            out += char(it->second & 0xFF);
        } else {
            out += char(it->second);
        }
    }
    return out;
}

} // namespace folio
