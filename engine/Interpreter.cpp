// The macro interpreter. A line is a command (it starts with the macro
// prefix), a comment (the comment prefix) or text for the layout. Commands
// are a keyword and optional "=" with comma-separated arguments; commands
// that cannot be carried out are ignored or take their default action.
#include "FaxImage.h"

#include "BmpReader.h"
#include "CodePage.h"
#include "SafeMath.h"
#include "TextFile.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

bool isWhite(char c) {
    return c == ' ' || (c >= 9 && c <= 13);
}

char upperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? char(c - 32) : c;
}

// True when `text` begins with `word`, ASCII letters in any case.
bool beginsWith(const char* text, const char* word) {
    for (; *word; ++text, ++word)
        if (*text == '\0' || upperAscii(*text) != upperAscii(*word))
            return false;
    return true;
}

// The integer rule of arguments: optional leading whitespace, an optional
// sign and decimal digits; anything after the digits is ignored and no
// digits read as 0. Values beyond the 32-bit range stop at its ends.
int readInt(const char* p) {
    while (isWhite(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    std::int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        if (value <= INT64_C(1) << 40)
            value = value * 10 + (*p - '0');
    return folio::Saturate(negative ? -value : value);
}

// A decimal number with optional sign, fraction and exponent (2.5, -1e1);
// text that does not begin with one reads as 0. Magnitudes beyond double
// become infinite; "inf" and "nan" are not numbers here.
double readFloat(const char* p) {
    while (isWhite(*p))
        ++p;
    const char* start = p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    if (!((*p >= '0' && *p <= '9') || (*p == '.' && p[1] >= '0' && p[1] <= '9')))
        return 0;
    (void)start;
    double value = 0;
    auto [end, ec] = std::from_chars(p, p + std::strlen(p), value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        // Either far too large or far too small: tell them apart by the exponent.
        const char* e = p;
        while (e < end && *e != 'e' && *e != 'E')
            ++e;
        value = (e < end && e[1] == '-') ? 0.0 : HUGE_VAL;
    } else if (ec != std::errc()) {
        return 0;
    }
    return negative ? -value : value;
}

enum class Keyword {
    None,
    End,
    CodePage,
    FontScale,
    Font,
    Margin,
    X,
    Y,
    Line,
    Box,
    TextBox,
    Text,
    Columns,
    PageBreak,
    File
};

struct KeywordEntry {
    const char* text;
    Keyword keyword;
};

// Tried in this order, the first match wins: FONTSCALE before FONT and
// TEXTBOX before TEXT; X and Y take every word that starts with them.
// CODEPAGE is a command of the library only, COLUMNS of the program only.
constexpr KeywordEntry kKeywords[] = {
    {"END", Keyword::End},
#if !FOLIO_PROGRAM_VARIANT
    {"CODEPAGE", Keyword::CodePage},
#endif
    {"FONTSCALE", Keyword::FontScale},
    {"FONT", Keyword::Font},
    {"MARGIN", Keyword::Margin},
    {"X", Keyword::X},
    {"Y", Keyword::Y},
    {"LINE", Keyword::Line},
    {"BOX", Keyword::Box},
    {"TEXTBOX", Keyword::TextBox},
    {"TEXT", Keyword::Text},
#if FOLIO_PROGRAM_VARIANT
    {"COLUMNS", Keyword::Columns},
#endif
    {"PAGEBREAK", Keyword::PageBreak},
    {"FILE", Keyword::File},
};

#if !FOLIO_PROGRAM_VARIANT
// Character sets FONT accepts; every other number is DEFAULT_CHARSET.
std::uint8_t charsetFromNumber(int n) {
    switch (n) {
    case 0:
    case 1:
    case 2:
    case 77:
    case 128:
    case 129:
    case 130:
    case 134:
    case 136:
    case 161:
    case 162:
    case 163:
    case 177:
    case 178:
    case 186:
    case 204:
    case 222:
    case 238:
    case 255:
        return std::uint8_t(n);
    default:
        return folio::DEFAULT_CHARSET;
    }
}
#endif

} // namespace

// One character on in the line: a byte in the program, a character of
// CodePage in the library. Never past the terminator.
const char* FaxImage::NextChar(const char* p) const {
#if FOLIO_PROGRAM_VARIANT
    return *p ? p + 1 : p;
#else
    return folio::CharNextExA(CodePage, p, 0);
#endif
}

bool FaxImage::MatchesPrefix(const char* line, const char* prefix) const {
    return beginsWith(line, prefix);
}

bool FaxImage::LineGetInt(char* line, int* pos, int* value) {
    char* text = nullptr;
    bool ok = LineGetStr(line, pos, &text);
    *value = ok ? readInt(text) : 0;
    return ok;
}

bool FaxImage::LineGetStr(char* line, int* pos, char** value) {
    const char* p = line + *pos;
    while (isWhite(*p))
        p = NextChar(p);
    *pos = int(p - line);
    // The first comma from here on, found character by character so that a
    // trail byte is never taken for one.
    const char* comma = p;
    while (*comma && *comma != ',')
        comma = NextChar(comma);
    if (*comma == ',') {
        line[comma - line] = '\0';
        *value = line + *pos;
        *pos = int(comma - line) + 1;
        return true;
    }
    if (*p == '\0') {
        *value = nullptr;
        return false;
    }
    *value = line + *pos;
    *pos = int(comma - line);
    return true;
}

bool FaxImage::ProcessCommand(char* line) {
    if (!line)
        return true;
#if FOLIO_PROGRAM_VARIANT
    const std::string macroStart = settings_.MacroStart();
    const std::string commentStart = settings_.CommentStart();
    const char* ms = macroStart.c_str();
    const char* cs = commentStart.c_str();
#else
    const char* ms = MacroStart;
    const char* cs = CommentStart;
#endif
    if (!MatchesPrefix(line, ms)) {
        if (!MatchesPrefix(line, cs))
            PrintLine(line);
        return true;
    }

    auto skip = [&](int p) {
        while (isWhite(line[p]))
            p = int(NextChar(line + p) - line);
        return p;
    };
    int pos = skip(int(std::strlen(ms)));

    Keyword keyword = Keyword::None;
    for (const KeywordEntry& k : kKeywords) {
        if (beginsWith(line + pos, k.text)) {
            keyword = k.keyword;
            pos += int(std::strlen(k.text));
            break;
        }
    }
    if (keyword == Keyword::None)
        return true;
    if (keyword == Keyword::End)
        return false;

    pos = skip(pos);
    const bool hasArgs = line[pos] == '=';
    if (hasArgs)
        ++pos;

    switch (keyword) {
#if !FOLIO_PROGRAM_VARIANT
    case Keyword::CodePage:
        // Linux has no console code page to set; the command sets CodePage only.
        CodePage = hasArgs ? std::uint16_t(std::uint32_t(readInt(line + pos)) & 0xFFFF) : 0;
        // Text in the default character set is read in this code page too.
        Image->Canvas().CodePage = CodePage;
        break;
#endif
    case Keyword::FontScale:
        if (hasArgs) {
            char* value = nullptr;
            if (LineGetStr(line, &pos, &value)) {
                FontScale = readFloat(value);
                ApplyFontSize(folio::TruncToInt(CurFontSize * FontScale));
            }
        } else {
            FontScale = 2.138;
        }
        break;
    case Keyword::Font:
        if (hasArgs) {
            char* name = nullptr;
            if (!LineGetStr(line, &pos, &name))
                break;
            ApplyFontName(name);
            int size = 0;
            if (!LineGetInt(line, &pos, &size))
                break;
            CurFontSize = size;
            ApplyFontSize(folio::TruncToInt(size * FontScale));
#if !FOLIO_PROGRAM_VARIANT
            int charset = 0;
            if (!LineGetInt(line, &pos, &charset))
                break;
            Image->Canvas().Font.Charset = charsetFromNumber(charset);
#endif
        } else {
            DefaultFont();
        }
        break;
    case Keyword::Margin:
        Left = hasArgs ? readInt(line + pos) : DefLeft;
        break;
    case Keyword::X:
        X = hasArgs ? readInt(line + pos) : DefLeft;
        break;
    case Keyword::Y:
        Y = hasArgs ? readInt(line + pos) : Top;
        break;
    case Keyword::Line:
    case Keyword::Box:
    case Keyword::TextBox: {
        if (!hasArgs)
            break;
        int v[4];
        for (int& n : v)
            if (!LineGetInt(line, &pos, &n))
                return true;
        if (keyword == Keyword::Line) {
            DrawLine(v[0], v[1], v[2], v[3]);
        } else if (keyword == Keyword::Box) {
            DrawBox(v[1], v[0], v[2], v[3]);
        } else {
            TextMode = TextModes::TextBox;
            TextBox = {v[0], v[1], folio::SatAdd(v[0], v[2]), folio::SatAdd(v[1], v[3])};
            Y = v[1];
        }
        break;
    }
    case Keyword::Text:
#if FOLIO_PROGRAM_VARIANT
        // A partly filled line is finished first.
        if (X != Left)
            Y = folio::SatAdd(Y, Image->Canvas().TextHeight("Yy"));
        if (hasArgs) {
            pos = skip(pos);
            TextMode = beginsWith(line + pos, "PARAGRAPH") ? TextModes::Paragraph : TextModes::Text;
        } else {
            TextMode = TextModes::Text;
        }
        X = Left;
#else
        TextMode = TextModes::Text;
#endif
        break;
#if FOLIO_PROGRAM_VARIANT
    case Keyword::Columns: {
        if (!hasArgs)
            break;
        ColumnCount = 0;
        ColumnIndex = 0;
        pos = skip(pos);
        bool failed = false;
        while (line[pos] && !failed && ColumnCount < 4) {
            if (LineGetInt(line, &pos, &ColumnX[ColumnCount]) &&
                LineGetInt(line, &pos, &ColumnRight[ColumnCount]))
                ++ColumnCount;
            else
                failed = true;
            pos = skip(pos);
        }
        if (failed || ColumnCount == 0)
            break;
        TextMode = TextModes::Columns;
        // A partly filled line is finished first, as TEXT does: the columns'
        // opaque text would otherwise be drawn over it.
        if (X != Left)
            Y = folio::SatAdd(Y, Image->Canvas().TextHeight("Yy"));
        ColumnTop = Y;
        X = ColumnX[0];
        break;
    }
#endif
    case Keyword::PageBreak:
        NextPage(true);
        break;
    case Keyword::File:
        if (hasArgs)
            IncludeFile(line, skip(pos));
        break;
    default:
        break;
    }
    return true;
}

// FILE=name,TXT includes the text lines of a file; FILE=name,BMP draws a
// bitmap at the pen and moves the pen below it. A missing file or another
// type does nothing; a file that exists but cannot be read is an error.
void FaxImage::IncludeFile(char* line, int pos) {
    char* name = line + pos;
    char* type = nullptr;
    char* comma = name;
    while (*comma && *comma != ',')
        comma = const_cast<char*>(NextChar(comma));
    if (*comma == ',') {
        *comma = '\0';
        type = comma + 1;
        while (isWhite(*type))
            ++type;
    }
    RTrim(line);
    if (!type)
        return;
    const std::string path = name;
    if (fileGate_ && (beginsWith(type, "TXT") || beginsWith(type, "BMP")) &&
        !fileGate_->MayRead(path))
        return;
    if (beginsWith(type, "TXT")) {
        if (!folio::FileExists(path))
            return;
        folio::ReadTextLines(path, [this](std::string& text) { PrintLine(text.c_str()); });
    } else if (beginsWith(type, "BMP")) {
        if (!folio::FileExists(path))
            return;
        folio::Bitmap picture;
        folio::LoadBmpFile(path, picture);
        Image->Canvas().Draw(X, Y, picture);
        Y = folio::SatAdd(Y, picture.Height());
    }
}
