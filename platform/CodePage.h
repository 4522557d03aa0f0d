// Code-page services for byte strings: stepping from one character to the
// next (one byte, or a lead and a trail byte; whole sequences in UTF-8) and
// the lead-byte tests. The system's ANSI code page is 1252 on every machine,
// so output never depends on the locale.
#pragma once

#include <cstdint>

namespace folio {

inline constexpr std::uint16_t kAnsiCodePage = 1252;
inline constexpr std::uint16_t kUtf8CodePage = 65001;

// The code page 0 stands for: the system's ANSI code page.
inline std::uint16_t EffectiveCodePage(std::uint16_t codePage) {
    return codePage == 0 ? kAnsiCodePage : codePage;
}

// The start of the character after the one at `p` in `codePage` (0 = ANSI).
// At the terminator it returns `p` itself; it never steps past a terminator,
// so a lead byte followed by NUL is one character of one byte.
const char* CharNextExA(std::uint16_t codePage, const char* p, unsigned flags = 0);

// Lead-byte test in the system's ANSI code page (1252: no byte is one).
bool IsDBCSLeadByte(std::uint8_t byte);
// Lead-byte test in any code page; false for single-byte code pages and UTF-8.
bool IsDBCSLeadByteEx(std::uint16_t codePage, std::uint8_t byte);

} // namespace folio
