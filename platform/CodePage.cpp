// Lead-byte ranges of the double-byte code pages and UTF-8 stepping.
#include "CodePage.h"

namespace folio {

bool IsDBCSLeadByteEx(std::uint16_t codePage, std::uint8_t b) {
    switch (EffectiveCodePage(codePage)) {
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

bool IsDBCSLeadByte(std::uint8_t b) { return IsDBCSLeadByteEx(kAnsiCodePage, b); }

const char* CharNextExA(std::uint16_t codePage, const char* p, unsigned) {
    if (!p || *p == '\0')
        return p;
    const auto b = static_cast<std::uint8_t>(*p);
    const std::uint16_t cp = EffectiveCodePage(codePage);
    if (cp == kUtf8CodePage) {
        int len = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 1;
        // Only continuation bytes extend a sequence; a broken one is one byte.
        int i = 1;
        while (i < len && (static_cast<std::uint8_t>(p[i]) & 0xC0) == 0x80)
            ++i;
        return p + (i == len ? len : 1);
    }
    if (IsDBCSLeadByteEx(cp, b) && p[1] != '\0')
        return p + 2;
    return p + 1;
}

} // namespace folio
