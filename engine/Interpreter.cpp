// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The macro interpreter. A line is a command (it starts with the macro
// prefix), a comment (the comment prefix) or text for the layout. Commands
// are a keyword and optional "=" with comma-separated arguments; commands
// that cannot be carried out are ignored or take their default action.
#include "FaxImage.h"

#include "BmpReader.h"
#include "CodePage.h"
#include "Diagnostics.h"
#include "PictureArgs.h"
#include "Error.h"
#include "LineFilter.h"
#include "PageMarks.h"
#include "PagePacker.h"
#include "Picture.h"
#include "SafeMath.h"
#include "TextOver.h"
#include "TextFile.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

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
    Page,
    Header,
    Footer,
    FontScale,
    Font,
    Margin,
    X,
    Y,
    Line,
    Box,
    TextBox,
    TextMode,
    Text,
    Columns,
    PageBreak,
    File,
    Barcode
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
    {"TEXTMODE", Keyword::TextMode},
    {"TEXT", Keyword::Text},
#if FOLIO_PROGRAM_VARIANT
    {"COLUMNS", Keyword::Columns},
#endif
    {"PAGEBREAK", Keyword::PageBreak},
#if !FOLIO_PROGRAM_VARIANT
    // Only as a word of its own (see takesWord).
    {"PAGE", Keyword::Page},
    // Also words of their own: HEADERS=... stays an unknown command.
    {"HEADER", Keyword::Header},
    {"FOOTER", Keyword::Footer},
#endif
    {"FILE", Keyword::File},
    // Tried last: a line that no keyword above takes was ignored before
    // BARCODE came, so no older macro changes meaning.
    {"BARCODE", Keyword::Barcode},
};

#if !FOLIO_PROGRAM_VARIANT
// PAGE, HEADER and FOOTER came after macros were written in which a word
// beginning with one (PAGENUMBER=3, HEADERS=2) was an unknown command,
// ignored: such a word stays one. `after` is the text right after the keyword.
bool takesWord(Keyword keyword, const char* after) {
    const char c = *after;
    const bool late =
        keyword == Keyword::Page || keyword == Keyword::Header || keyword == Keyword::Footer;
    return !late || !((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == '_');
}

// The paper a PAGE argument names, any case, blanks around it allowed;
// false for a word that is none.
bool pageSizeNamed(const char* text, FaxImage::PageSize& size) {
    static constexpr struct {
        const char* name;
        FaxImage::PageSize size;
    } kSizes[] = {{"A4", FaxImage::PageSize::A4},
                  {"LETTER", FaxImage::PageSize::Letter},
                  {"LEGAL", FaxImage::PageSize::Legal},
                  {"DEFAULT", FaxImage::PageSize::Default}};
    while (isWhite(*text))
        ++text;
    for (const auto& k : kSizes) {
        if (!beginsWith(text, k.name))
            continue;
        const char* rest = text + std::strlen(k.name);
        while (isWhite(*rest))
            ++rest;
        if (*rest)
            continue;
        size = k.size;
        return true;
    }
    return false;
}

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

// Sets `line` as text, through the engine's line filter when it has one:
// each line the filter gives back is set on its own, and only as text.
void printFiltered(FaxImage& fax, folio::FilterPlace place, const char* line, int sourceLine,
                   folio::EngineDiagnostics* diag) {
    folio::LineFilter* filter = folio::LineFilterOf(fax);
#if FOLIO_PROGRAM_VARIANT
    const std::uint16_t codePage = 0;
#else
    const std::uint16_t codePage = fax.CodePage;
#endif
    std::string out;
    if (!filter || !filter->Fill(place, line, codePage, sourceLine, diag, out, nullptr)) {
        fax.PrintLine(line);
        return;
    }
    for (std::size_t start = 0;;) {
        const std::size_t end = out.find('\n', start);
        fax.PrintLine(out.substr(start, end == std::string::npos ? end : end - start).c_str());
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
}

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
        if (!MatchesPrefix(line, cs)) {
#if !FOLIO_PROGRAM_VARIANT
            // A blank line sets nothing: PAGE may still follow it.
            if (line[std::strspn(line, " \t\n\v\f\r")])
                pageStarted_ = true;
#endif
            printFiltered(*this, folio::FilterPlace::Text, line, sourceLine_, diag_.get());
            if (diag_)
                diag_->FlushTally(sourceLine_, Image->Canvas().Font.Name);
        }
        return true;
    }

    auto skip = [&](int p) {
        while (isWhite(line[p]))
            p = int(NextChar(line + p) - line);
        return p;
    };
    int pos = skip(int(std::strlen(ms)));

    Keyword keyword = Keyword::None;
    const char* name = "";
    const int keywordStart = pos;
    for (const KeywordEntry& k : kKeywords) {
#if !FOLIO_PROGRAM_VARIANT
        if (beginsWith(line + pos, k.text) &&
            !takesWord(k.keyword, line + pos + std::strlen(k.text)))
            continue;
#endif
        if (beginsWith(line + pos, k.text)) {
            keyword = k.keyword;
            name = k.text;
            pos += int(std::strlen(k.text));
            break;
        }
    }
    // Letters or digits right after a keyword: the word was read as the
    // keyword it begins with (FONTSIZE as FONT, XRAY as X).
    bool guessed = false;
    if (diag_)
        guessed = diag_->CheckKeyword(sourceLine_, line + keywordStart,
                                      keyword == Keyword::None ? nullptr : name);
    // Data never goes into a command: the filter may only report on one. A
    // barcode's data and the text of a header or footer are the exceptions,
    // handed over below.
    folio::LineFilter* const filter = folio::LineFilterOf(*this);
    if (filter && keyword != Keyword::Barcode && keyword != Keyword::Header &&
        keyword != Keyword::Footer)
        filter->SeeCommand(line, sourceLine_, diag_.get());
    if (keyword == Keyword::None)
        return true;
    if (keyword == Keyword::End)
        return false;

    pos = skip(pos);
    const bool hasArgs = line[pos] == '=';
    if (hasArgs)
        ++pos;
    if (diag_ && !hasArgs && !guessed)
        diag_->CheckNoEquals(sourceLine_, name,
                             keyword == Keyword::Line || keyword == Keyword::Box ||
                                 keyword == Keyword::TextBox || keyword == Keyword::Columns ||
                                 keyword == Keyword::File || keyword == Keyword::Barcode,
                             line + pos);

    // Numbers are read with the integer rule; a text that is not quite a
    // number is reported, once per command.
    auto checkNumber = [&](const char* text, bool fraction) {
        if (diag_)
            diag_->CheckNumber(sourceLine_, name, text, fraction, readInt(text));
    };
    auto argInt = [&](const char* text) {
        checkNumber(text, false);
        return readInt(text);
    };
    // LineGetInt, with the argument's text looked at.
    auto getInt = [&](int* value) {
        char* text = nullptr;
        const bool ok = LineGetStr(line, &pos, &text);
        *value = ok ? argInt(text) : 0;
        return ok;
    };
    auto missing = [&](const std::string& what) {
        if (diag_)
            diag_->Warn(sourceLine_, folio::kind::MissingArgument, std::string(name) + " " + what);
    };

#if !FOLIO_PROGRAM_VARIANT
    // What puts something on a page (or starts the next) fixes the page size.
    if (keyword == Keyword::Line || keyword == Keyword::Box || keyword == Keyword::File ||
        keyword == Keyword::Barcode || keyword == Keyword::PageBreak)
        pageStarted_ = true;
#endif

    switch (keyword) {
#if !FOLIO_PROGRAM_VARIANT
    case Keyword::Page: {
        PageSize size = PageSize::Default;
        if (hasArgs && !pageSizeNamed(line + pos, size)) {
            if (diag_)
                diag_->Warn(sourceLine_, folio::kind::PageUnknown,
                            "unknown page size " + folio::Quoted(line + pos) +
                                " (A4, LETTER, LEGAL or DEFAULT); the page size stays");
            break;
        }
        if (!SetPageSize(size) && diag_)
            diag_->Warn(sourceLine_, folio::kind::PageLate,
                        "PAGE comes after text or drawing; it is ignored (give it before the "
                        "first text line)");
        break;
    }
    case Keyword::Header:
    case Keyword::Footer: {
        // Drawn when the pages are all made (PageMarks.h), from the page in
        // progress on, in what is in force now. Without text it ends the mark.
        folio::PageMark mark;
        mark.footer = keyword == Keyword::Footer;
        mark.firstPage = PageNo;
        mark.font = Image->Canvas().Font;
        mark.codePage = CodePage;
        mark.left = Left;
        mark.line = sourceLine_;
        if (hasArgs) {
            const char* text = line + skip(pos);
            std::string filled;
            // Fields are filled as in a text line; the mark is one line.
            // The spans of values are kept so that a value of "{page}" sets
            // those characters rather than the page's number.
            if (filter && filter->Fill(folio::FilterPlace::Text, text, CodePage, sourceLine_,
                                       diag_.get(), filled, &mark.values)) {
                std::replace(filled.begin(), filled.end(), '\n', ' ');
                mark.text = std::move(filled);
            } else {
                mark.text = text;
            }
        }
        // Pages from this one on change at the end: none is coded before.
        if (packer_)
            packer_->StopCodingAhead();
        folio::AddPageMark(*this, std::move(mark));
        break;
    }
    case Keyword::CodePage:
        // Linux has no console code page to set; the command sets CodePage only.
        CodePage = hasArgs ? std::uint16_t(std::uint32_t(argInt(line + pos)) & 0xFFFF) : 0;
        if (diag_ && !folio::IsCodePageSupported(CodePage))
            diag_->Warn(sourceLine_, folio::kind::CharsetUnknown,
                        "code page " + std::to_string(CodePage) +
                            " is not known here; text is read in code page 1252");
        // Text in the default character set is read in this code page too.
        Image->Canvas().CodePage = CodePage;
        break;
#endif
    case Keyword::FontScale:
        if (hasArgs) {
            char* value = nullptr;
            if (LineGetStr(line, &pos, &value)) {
                checkNumber(value, true);
                FontScale = readFloat(value);
                ApplyFontSize(folio::TruncToInt(CurFontSize * FontScale));
            } else {
                missing("without a value does nothing");
            }
        } else {
            FontScale = 2.138;
        }
        break;
    case Keyword::Font:
        if (hasArgs) {
            char* face = nullptr;
            if (!LineGetStr(line, &pos, &face)) {
                missing("without a name does nothing");
                break;
            }
            ApplyFontName(face);
            if (diag_)
                diag_->CheckFont(sourceLine_, face);
            int size = 0;
            if (!getInt(&size))
                break;
            CurFontSize = size;
            ApplyFontSize(folio::TruncToInt(size * FontScale));
#if !FOLIO_PROGRAM_VARIANT
            int charset = 0;
            if (!getInt(&charset))
                break;
            Image->Canvas().Font.Charset = charsetFromNumber(charset);
            if (diag_ && charset != folio::DEFAULT_CHARSET &&
                Image->Canvas().Font.Charset == folio::DEFAULT_CHARSET)
                diag_->Warn(sourceLine_, folio::kind::CharsetUnknown,
                            "character set " + std::to_string(charset) +
                                " is not known; the default character set is used");
#endif
        } else {
            DefaultFont();
        }
        break;
    case Keyword::Margin:
        Left = hasArgs ? argInt(line + pos) : DefLeft;
        break;
    case Keyword::X:
        X = hasArgs ? argInt(line + pos) : DefLeft;
        break;
    case Keyword::Y:
        Y = hasArgs ? argInt(line + pos) : Top;
        break;
    case Keyword::Line:
    case Keyword::Box:
    case Keyword::TextBox: {
        if (!hasArgs)
            break;
        int v[4];
        for (int i = 0; i < 4; ++i) {
            if (!getInt(&v[i])) {
                missing("needs 4 numbers, " + std::to_string(i) + " given; it does nothing");
                return true;
            }
        }
        if (keyword == Keyword::Line) {
            DrawLine(v[0], v[1], v[2], v[3]);
            if (diag_)
                diag_->CheckDrawingOnPage(sourceLine_, "LINE", v[0], v[1], v[2], v[3], true, Width,
                                          Height);
        } else if (keyword == Keyword::Box) {
            DrawBox(v[1], v[0], v[2], v[3]);
            if (diag_)
                diag_->CheckDrawingOnPage(sourceLine_, "BOX", v[0], v[1], folio::SatAdd(v[0], v[2]),
                                          folio::SatAdd(v[1], v[3]), false, Width, Height);
        } else {
            TextMode = TextModes::TextBox;
            TextBox = {v[0], v[1], folio::SatAdd(v[0], v[2]), folio::SatAdd(v[1], v[3])};
            Y = v[1];
        }
        break;
    }
    case Keyword::TextMode: {
        // OVER sets text without its white cells, OPAQUE (the default) with
        // them; for the rest of the macro, on every page.
        pos = skip(pos);
        const bool over = beginsWith(line + pos, "OVER");
        if (over || beginsWith(line + pos, "OPAQUE")) {
            folio::SetTextOver(*this, over);
            Image->Canvas().BrushColor = over ? folio::clNone : folio::clWhite;
        } else if (diag_) {
            diag_->Warn(sourceLine_, folio::kind::KeywordGuess,
                        "TEXTMODE takes OVER or OPAQUE, not " + folio::Quoted(line + pos) +
                            "; the text mode stays as it was");
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
        if (diag_ && hasArgs)
            diag_->Report(sourceLine_, folio::Severity::Note, folio::kind::KeywordGuess,
                          "TEXT takes no argument here (paragraphs are a mode of the desktop "
                          "program); " +
                              folio::Quoted(line + pos) + " is ignored");
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
            if (getInt(&ColumnX[ColumnCount]) && getInt(&ColumnRight[ColumnCount]))
                ++ColumnCount;
            else
                failed = true;
            pos = skip(pos);
        }
        if (failed || ColumnCount == 0) {
            missing("needs pairs of numbers; the text mode stays as it was");
            break;
        }
        if (line[pos] && diag_)
            diag_->Warn(sourceLine_, folio::kind::MissingArgument,
                        "COLUMNS takes at most 4 columns; " + folio::Quoted(line + pos) +
                            " is ignored");
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
        if (diag_)
            diag_->FlushTally(sourceLine_, Image->Canvas().Font.Name);
        break;
    case Keyword::Barcode: {
        // type, x, y, height, then the data: the rest of the line, commas
        // and all. Only the data is filled; the line up to it is seen by
        // the filter as a command (its original, before the arguments are cut).
        const std::string original = filter ? std::string(line) : std::string();
        if (!hasArgs) {
            if (filter)
                filter->SeeCommand(original, sourceLine_, diag_.get());
            break;
        }
        char* type = nullptr;
        char* height = nullptr;
        int v[3] = {0, 0, 0};
        bool ok = LineGetStr(line, &pos, &type) && getInt(&v[0]) && getInt(&v[1]) &&
                  LineGetStr(line, &pos, &height);
        // An empty height asks for the usual one.
        if (ok && height[std::strspn(height, " \t\n\v\f\r")])
            v[2] = argInt(height);
        if (filter)
            filter->SeeCommand(
                std::string_view(original).substr(0, ok ? std::size_t(pos) : std::string::npos),
                sourceLine_, diag_.get());
        if (!ok || !line[pos]) {
            missing("needs a type, x, y, height and data; it draws nothing");
            break;
        }
        std::string filled;
#if FOLIO_PROGRAM_VARIANT
        const std::uint16_t codePage = 0;
#else
        const std::uint16_t codePage = CodePage;
#endif
        if (filter && filter->Fill(folio::FilterPlace::BarcodeData, line + pos, codePage,
                                   sourceLine_, diag_.get(), filled, nullptr)) {
            DrawBarcode(type, v[0], v[1], v[2], filled.data());
            break;
        }
        DrawBarcode(type, v[0], v[1], v[2], line + pos);
        break;
    }
    default:
        break;
    }
    return true;
}

// A FILE command behind a gate: the gate opens the file and the engine reads
// only through that descriptor, so the file checked is the file read.
void FaxImage::IncludeGated(const std::string& path, const char* name, const char* type,
                            Included what) {
    const bool text = what == Included::Text;
    const int fd = fileGate_->Open(path);
    if (fd == FileGate::kMissing || fd == FileGate::kRefused) {
        if (diag_)
            diag_->FileNotIncluded(sourceLine_,
                                   fd == FileGate::kMissing ? folio::kind::FileMissing
                                                            : folio::kind::FileRefused,
                                   name, type);
        return;
    }
    if (fd < 0) {
        const std::string why = "Cannot open file " + path;
        if (diag_)
            diag_->FileFailed(sourceLine_, name, !text, why.c_str());
        throw folio::Error(why);
    }
    struct FdCloser {
        int fd;
        ~FdCloser() { ::close(fd); }
    } closer{fd};
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        // like FileExists: a folder is no file
        if (diag_)
            diag_->FileNotIncluded(sourceLine_, folio::kind::FileMissing, name, type);
        return;
    }
    IncludeOpened(fd, path, name, what);
}

namespace {

// The picture format a file's first bytes announce (PictureFormatOf), read
// through `fd` from its start, or through `path` when `fd` is negative;
// null when it cannot be read.
const char* formatOfFile(int fd, const std::string& path) {
    char head[12];
    const int own = fd >= 0 ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    const ssize_t n = ::pread(fd >= 0 ? fd : own, head, sizeof head, 0);
    if (own >= 0)
        ::close(own);
    return n > 0 ? folio::PictureFormatOf(std::string_view(head, std::size_t(n))) : nullptr;
}

} // namespace

// Sets the lines of a text file or draws a bitmap or picture, read through
// `fd`, or through `path` when `fd` is negative.
void FaxImage::IncludeOpened(int fd, const std::string& path, const char* name, Included what) {
    const bool text = what == Included::Text;
    try {
        if (text) {
            auto read = [&](const std::function<void(std::string&)>& onLine) {
                if (fd >= 0)
                    folio::ReadTextLines(fd, path, onLine);
                else
                    folio::ReadTextLines(path, onLine);
            };
            // Reports from the included lines name the file and its line.
            if (diag_) {
                diag_->IncludeName = path;
                diag_->IncludeLine = 0;
            }
            bool first = true;
            read([&](std::string& l) {
                bool mark = first && folio::StartsWithUtf8Mark(l);
                first = false;
#if !FOLIO_PROGRAM_VARIANT
                // Text read as UTF-8 starts after the mark, which is not
                // part of it.
                if (mark && CodePage == folio::kUtf8CodePage) {
                    l.erase(0, 3);
                    mark = false;
                }
#endif
                if (!diag_) {
                    printFiltered(*this, folio::FilterPlace::IncludedText, l.c_str(), sourceLine_,
                                  nullptr);
                    return;
                }
                ++diag_->IncludeLine;
                if (mark)
#if FOLIO_PROGRAM_VARIANT
                    diag_->Warn(sourceLine_, folio::kind::ByteOrderMark,
                                folio::Utf8MarkMessage(0) + ": this program reads text in that "
                                                            "code page");
#else
                    diag_->Warn(sourceLine_, folio::kind::ByteOrderMark,
                                folio::Utf8MarkMessage(CodePage) +
                                    "; CODEPAGE=65001 before the FILE command reads the file "
                                    "as UTF-8 and skips the mark");
#endif
                // A NUL byte ends the line, as in the macro.
                if (const std::size_t nul = std::strlen(l.c_str()); nul < l.size()) {
                    const std::string lost =
                        folio::NulByteMessage(std::string_view(l).substr(nul + 1));
                    if (!lost.empty())
                        diag_->Warn(sourceLine_, folio::kind::BadBytes, lost);
                }
                printFiltered(*this, folio::FilterPlace::IncludedText, l.c_str(), sourceLine_,
                              diag_.get());
                diag_->FlushTally(sourceLine_, Image->Canvas().Font.Name);
            });
            if (diag_)
                diag_->IncludeName.clear();
        } else if (what != Included::Bmp) {
            DrawPicture(fd, path, name, what);
        } else {
            folio::Bitmap picture;
            if (fd >= 0)
                folio::LoadBmpFile(fd, path, picture);
            else
                folio::LoadBmpFile(path, picture);
            Image->Canvas().Draw(X, Y, picture);
            if (diag_)
                diag_->CheckDrawingOnPage(sourceLine_, ("bitmap " + folio::Quoted(name)).c_str(), X,
                                          Y, folio::SatAdd(X, picture.Width() - 1),
                                          folio::SatAdd(Y, picture.Height() - 1), false, Width,
                                          Height);
            Y = folio::SatAdd(Y, picture.Height());
        }
    } catch (const folio::PictureError& e) {
        if (diag_)
            diag_->Report(sourceLine_, folio::Severity::Error, folio::kind::BitmapInvalid,
                          folio::Quoted(name) + " is not a valid picture: " + e.Reason());
        throw;
    } catch (const folio::PictureBudgetError& e) {
        if (diag_)
            diag_->Report(sourceLine_, folio::Severity::Error, folio::kind::PictureBudget,
                          e.what());
        throw;
    } catch (const folio::Error& e) {
        // A BMP that is another format says what it is, as a picture does.
        const char* is = diag_ && what == Included::Bmp && std::strncmp(e.what(), "Bitmap", 6) == 0
                             ? formatOfFile(fd, path)
                             : nullptr;
        if (is && std::strcmp(is, "BMP") != 0)
            diag_->Report(sourceLine_, folio::Severity::Error, folio::kind::BitmapInvalid,
                          folio::Quoted(name) +
                              " is not a valid bitmap: " + folio::WrongFormatReason(is, "BMP"));
        else if (diag_)
            diag_->FileFailed(sourceLine_, name, !text, e.what());
        throw;
    } catch (...) {
        if (diag_)
            diag_->IncludeName.clear();
        throw;
    }
}

// FILE=name,TXT includes the text lines of a file; FILE=name,BMP (or PNG,
// JPG, JPEG, TIF, TIFF) draws a picture at the pen and moves the pen below
// it. A missing file or another type does nothing; a file that exists but
// cannot be read is an error.
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
    namespace kind = folio::kind;
    const std::string path = name;
    if (!type) {
        if (diag_)
            diag_->FileNotIncluded(sourceLine_, kind::FileType, name, nullptr);
        return;
    }
    Included what = Included::Text;
    if (beginsWith(type, "BMP"))
        what = Included::Bmp;
    else if (beginsWith(type, "PNG"))
        what = Included::Png;
    else if (beginsWith(type, "JPG") || beginsWith(type, "JPEG"))
        what = Included::Jpeg;
    else if (beginsWith(type, "TIF"))
        what = Included::Tiff;
    else if (beginsWith(type, "PDF"))
        what = Included::Pdf;
    else if (!beginsWith(type, "TXT")) {
        if (diag_)
            diag_->FileNotIncluded(sourceLine_, kind::FileType, name, type);
        return;
    }
    // A picture's words after its type (page, mode, size) reach DrawPicture
    // through the thread's current arguments, for this command only.
    struct ArgsScope {
        explicit ArgsScope(folio::PictureArgs args) { folio::CurrentPictureArgs() = std::move(args); }
        ~ArgsScope() { folio::CurrentPictureArgs() = folio::PictureArgs{}; }
    };
    const char* words = std::strchr(type, ',');
    const ArgsScope argsScope(what == Included::Text || what == Included::Bmp
                                  ? folio::PictureArgs{}
                                  : folio::ReadPictureArgs(words ? words + 1 : nullptr,
                                                           what == Included::Pdf));
    if (fileGate_) {
        IncludeGated(path, name, type, what);
        return;
    }
    if (!folio::FileExists(path)) {
        if (diag_)
            diag_->FileNotIncluded(sourceLine_, kind::FileMissing, name, type);
        return;
    }
    IncludeOpened(-1, path, name, what);
}
