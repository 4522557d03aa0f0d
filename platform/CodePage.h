// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Code-page services for byte strings: stepping from one character to the
// next (one byte, or a lead and a trail byte; whole sequences in UTF-8), the
// lead-byte tests, and turning one character's bytes into a Unicode code
// point. The system's ANSI code page is 1252 on every machine, so output
// never depends on the locale. Lead bytes and character tables come from
// glibc's iconv, built once per code page and shared by all threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace folio {

inline constexpr std::uint16_t kAnsiCodePage = 1252;
inline constexpr std::uint16_t kUtf8CodePage = 65001;
// Bytes of a symbol font: each byte is the font's own symbol code.
inline constexpr std::uint16_t kSymbolCodePage = 42;
// What a byte sequence that forms no character becomes.
inline constexpr char32_t kReplacementChar = 0xFFFD;

// The code page 0 stands for: the system's ANSI code page.
inline std::uint16_t EffectiveCodePage(std::uint16_t codePage) {
    return codePage == 0 ? kAnsiCodePage : codePage;
}

// The code page a font's character set reads its bytes in. DEFAULT_CHARSET
// (and any identifier not in the platform's table) uses `defaultCodePage`
// (0 = the ANSI code page); SYMBOL_CHARSET gives kSymbolCodePage.
std::uint16_t CodePageOfCharset(std::uint8_t charset, std::uint16_t defaultCodePage = 0);

// The start of the character after the one at `p` in `codePage` (0 = ANSI).
// At the terminator it returns `p` itself; it never steps past a terminator,
// so a lead byte followed by NUL is one character of one byte.
const char* CharNextExA(std::uint16_t codePage, const char* p, unsigned flags = 0);

// Whether text in `codePage` is read in that code page; a code page this
// machine cannot convert is read as the ANSI code page instead.
bool IsCodePageSupported(std::uint16_t codePage);

// Lead-byte test in the system's ANSI code page (1252: no byte is one).
bool IsDBCSLeadByte(std::uint8_t byte);
// Lead-byte test in any code page; false for single-byte code pages, UTF-8
// and code pages this machine cannot convert.
bool IsDBCSLeadByteEx(std::uint16_t codePage, std::uint8_t byte);

// Length in bytes (at least 1) of the character that starts at text[pos], as
// CharNextExA steps it, where the end of `text` acts as the terminator.
// 0 when pos is at or past the end.
std::size_t CharLength(std::uint16_t codePage, std::string_view text, std::size_t pos);

// The Unicode code point of one character's bytes (as CharLength delimits
// them) in `codePage`, or kReplacementChar when they form no character
// there. In kSymbolCodePage the result is the byte itself. A code page this
// machine cannot convert reads as the ANSI code page.
char32_t DecodeChar(std::uint16_t codePage, std::string_view bytes);

// UTF-8 text written in `codePage` (0 = ANSI), so that DecodeChar reads the
// same characters back: a character the code page has no bytes for, and a
// byte of `utf8` that starts no well-formed sequence, becomes '?' and is
// counted in `replaced`. In UTF-8 the text is copied as it is. The symbol
// code page and code pages this machine cannot convert are written as the
// ANSI code page, as they are read.
std::string EncodeUtf8(std::uint16_t codePage, std::string_view utf8, std::size_t& replaced);

} // namespace folio
