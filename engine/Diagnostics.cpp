// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The engine's reports: the wording of each kind, the quoting of lost text,
// and the memory that reports a clipped line or a replaced font only once.
#include "Diagnostics.h"

#include "BmpReader.h"
#include "FontLibrary.h"
#include "TextFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace folio {

namespace {

bool isWhite(char c) {
    return c == ' ' || (c >= 9 && c <= 13);
}

// Lost text is quoted up to about this many bytes.
constexpr std::size_t kQuoteBytes = 40;

// The first words of `text` (leading whitespace skipped, control bytes shown
// as blanks), cut after a word where the quote grows too long.
std::string quote(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isWhite(text[i]))
        ++i;
    std::string out;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (out.size() >= kQuoteBytes && isWhite(c))
            break;
        if (out.size() >= kQuoteBytes + 20) // one very long word
            break;
        out += (static_cast<unsigned char>(c) < 32) ? ' ' : c;
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    const bool cut = text.find_first_not_of(" \t\n\v\f\r", i) != std::string_view::npos;
    return "\"" + out + (cut ? "...\"" : "\"");
}

std::size_t countWords(std::string_view text) {
    std::size_t words = 0;
    bool inWord = false;
    for (char c : text) {
        if (isWhite(c)) {
            inWord = false;
        } else if (!inWord) {
            inWord = true;
            ++words;
        }
    }
    return words;
}

std::string plural(std::uint64_t n, const char* one, const char* many) {
    return std::to_string((unsigned long)n) + " " + (n == 1 ? one : many);
}

// How an argument's text reads as a number, for diagnostics: cleanly, empty
// (reads as 0), with text after the number (ignored), or not at all (0).
enum class NumberText { Clean, Empty, Trailing, None };

NumberText classifyNumber(const char* p, bool fraction) {
    while (isWhite(*p))
        ++p;
    if (*p == '\0')
        return NumberText::Empty;
    if (*p == '+' || *p == '-')
        ++p;
    const char* digits = p;
    while (*p >= '0' && *p <= '9')
        ++p;
    if (fraction) {
        if (*p == '.')
            for (++p; *p >= '0' && *p <= '9';)
                ++p;
        if (p > digits && (*p == 'e' || *p == 'E')) {
            const char* e = p + 1;
            if (*e == '+' || *e == '-')
                ++e;
            if (*e >= '0' && *e <= '9') {
                while (*e >= '0' && *e <= '9')
                    ++e;
                p = e;
            }
        }
        if (p == digits || (p == digits + 1 && *digits == '.'))
            return NumberText::None;
    } else if (p == digits) {
        return NumberText::None;
    }
    while (isWhite(*p))
        ++p;
    return *p ? NumberText::Trailing : NumberText::Clean;
}

bool isWordChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

bool beginsWith(const char* text, const char* word) {
    for (; *word; ++text, ++word)
        if (*text == '\0' || (*text & ~0x20) != (*word & ~0x20))
            return false;
    return true;
}

} // namespace

std::string EngineDiagnostics::where() const {
    if (IncludeName.empty())
        return {};
    return " (in " + IncludeName + ", line " + std::to_string(IncludeLine) + ")";
}

void EngineDiagnostics::Report(int line, Severity severity, const char* kind, std::string message) {
    Diagnostic d;
    d.line = line;
    d.severity = severity;
    d.kind = kind;
    d.message = std::move(message) + where();
    // Text from the macro may hold control bytes; a terminal showing the
    // message must not take them as commands.
    for (char& c : d.message)
        if (static_cast<unsigned char>(c) < 32 || c == 127)
            c = '?';
    sink_.Report(d);
}

std::string Quoted(const char* text) {
    std::string s(text, strnlen(text, 41));
    if (s.size() > 40)
        s.replace(37, std::string::npos, "...");
    return "\"" + s + "\"";
}

bool EngineDiagnostics::CheckKeyword(int line, const char* word, const char* keyword) {
    numberReported_ = false;
    std::string w;
    for (const char* p = word; *p && !isWhite(*p) && *p != '=' && w.size() < 24; ++p)
        w += *p;
    if (!keyword) {
        if (w.empty()) {
            Report(line, Severity::Note, kind::UnknownCommand,
                   "a command line without a command is ignored");
            return false;
        }
#if FOLIO_PROGRAM_VARIANT
        const char* other = beginsWith(word, "CODEPAGE") ? "CODEPAGE" : nullptr;
        const char* which = "the library";
#else
        const char* other = beginsWith(word, "COLUMNS") ? "COLUMNS" : nullptr;
        const char* which = "the desktop program";
#endif
        if (other)
            Warn(line, kind::UnknownCommand,
                 std::string(other) + " is a command of " + which + " only; ignored");
        else
            Warn(line, kind::UnknownCommand,
                 "unknown command " + Quoted(w.c_str()) + " is ignored");
        return false;
    }
    if (!isWordChar(word[std::strlen(keyword)]))
        return false;
    w.clear();
    for (const char* p = word; isWordChar(*p) && w.size() < 24; ++p)
        w += *p;
    Warn(line, kind::KeywordGuess, Quoted(w.c_str()) + " is read as the command " + keyword);
    return true;
}

void EngineDiagnostics::CheckNoEquals(int line, const char* name, bool needsArguments,
                                      const char* rest) {
    if (needsArguments) {
        Warn(line, kind::MissingArgument, std::string(name) + " without \"=\" does nothing");
        return;
    }
    while (isWhite(*rest))
        ++rest;
    if (*rest)
        Warn(line, kind::MissingArgument,
             std::string(name) + " has no \"=\"; " + Quoted(rest) + " after it is ignored");
}

void EngineDiagnostics::CheckNumber(int line, const char* name, const char* text, bool fraction,
                                    int readAs) {
    if (numberReported_)
        return;
    const NumberText t = classifyNumber(text, fraction);
    if (t == NumberText::Clean)
        return;
    numberReported_ = true;
    const std::string what = std::string(name) + ": ";
    if (t == NumberText::Empty)
        Report(line, Severity::Note, kind::NotANumber, what + "an empty argument reads as 0");
    else if (t == NumberText::None)
        Warn(line, kind::NotANumber, what + Quoted(text) + " is not a number; read as 0");
    else if (fraction)
        Warn(line, kind::NotANumber, what + Quoted(text) + " is read as the number it begins with");
    else
        Warn(line, kind::NotANumber, what + Quoted(text) + " is read as " + std::to_string(readAs));
}

void EngineDiagnostics::FileNotIncluded(int line, const char* why, const char* name,
                                        const char* type) {
    const auto is = [why](const char* k) { return std::strcmp(why, k) == 0; };
    std::string m;
    if (is(kind::FileType))
        m = type ? "FILE type " + Quoted(type) + " is not TXT, BMP, PNG, JPG or TIF"
                 : "FILE " + Quoted(name) + " names no type (TXT, BMP, PNG, JPG or TIF)";
    else if (is(kind::FileRefused))
        m = "included file " + Quoted(name) + " is refused (outside the include root)";
    else
        m = "included file " + Quoted(name) + (IsFolder(name) ? " is a folder" : " does not exist");
    Warn(line, why, m + "; nothing is included");
}

void EngineDiagnostics::FileFailed(int line, const char* name, bool bitmap, const char* error) {
    IncludeName.clear();
    if (bitmap && std::strncmp(error, "Bitmap", 6) == 0)
        Report(line, Severity::Error, kind::BitmapInvalid, Quoted(name) + " is not a valid bitmap");
    else
        Report(line, Severity::Error, kind::FileUnreadable,
               "included file " + Quoted(name) + " cannot be read: " +
                   WhyUnreadable(name, bitmap ? kMaxBmpFileBytes : kMaxTextFileBytes));
}

void EngineDiagnostics::TextDropped(int line, std::string_view rest, const char* why) {
    const std::size_t words = countWords(rest);
    if (words == 0)
        return;
    Report(line, Severity::Warning, kind::TextDropped,
           std::string(why) + ": " + plural(words, "word", "words") + " dropped from " +
               quote(rest));
}

void EngineDiagnostics::textOffPage(int line, std::string_view word, std::int64_t x0,
                                    std::int64_t x1, std::int64_t y0, std::int64_t y1, int width,
                                    int height) {
    if (clippedLine_ == line || countWords(word) == 0)
        return;
    clippedLine_ = line;
    const char* edge = x1 > width ? "right" : x0 < 0 ? "left" : y1 > height ? "bottom" : "top";
    const bool gone = x0 >= width || x1 <= 0 || y0 >= height || y1 <= 0;
    Report(line, Severity::Warning, kind::TextClipped,
           std::string(gone ? "text lies beyond the " : "text runs past the ") + edge +
               " edge of the page: " + quote(word));
}

void EngineDiagnostics::textPastBox(int line, std::string_view word, std::int64_t,
                                    std::int64_t x1, std::int64_t right) {
    if (pastBoxLine_ == line || countWords(word) == 0)
        return;
    pastBoxLine_ = line;
    Report(line, Severity::Warning, kind::TextClipped,
           "text runs " + plural(std::uint64_t(x1 - right), "pixel", "pixels") +
               " past the right edge of its text box (x = " + std::to_string(right) +
               "): " + quote(word));
}

void EngineDiagnostics::CheckTextSize(int line, Canvas& canvas) {
    const Font& f = canvas.Font;
    std::string key = f.Name;
    key += '\0';
    key += std::to_string(f.Size);
    key += char('0' + (f.Style & (fsBold | fsItalic)));
    if (key == sizeChecked_)
        return;
    sizeChecked_ = std::move(key);
    const int cap = canvas.CapHeight();
    if (cap <= 0 || cap >= kLeastCapHeight)
        return;
    Report(line, Severity::Warning, kind::TextTiny,
           "text in \"" + f.Name + "\" at " + std::to_string(f.Size) +
               " points is too small to read on a fax: its capitals are " +
               plural(std::uint64_t(cap), "pixel", "pixels") + " high, under the " +
               std::to_string(kLeastCapHeight) + " that read at fine resolution");
}

std::string NulByteMessage(std::string_view after) {
    std::string text(after);
    for (char& c : text)
        if (c == '\0')
            c = ' ';
    const std::size_t words = countWords(text);
    if (words == 0)
        return {};
    return "a NUL byte ends the line; " + plural(words, "word", "words") + " after it " +
           (words == 1 ? "is" : "are") + " not read: " + quote(text);
}

std::string Utf8MarkMessage(std::uint16_t codePage) {
    std::string m = "the file begins with a UTF-8 byte-order mark, which is set as text in code "
                    "page " +
                    std::to_string(codePage ? codePage : 1252);
    if (codePage == 0 || codePage == 1252)
        m += " (\"\xC3\xAF\xC2\xBB\xC2\xBF\")";
    return m;
}

void EngineDiagnostics::CheckDrawingOnPage(int line, const char* what, int x1, int y1, int x2,
                                           int y2, bool lineEnd, int width, int height) {
    // The pixels drawn span [lo, hi] on each axis. A line leaves its end
    // point unset: along its longer axis it stops one pixel short.
    std::int64_t xlo = std::min(x1, x2), xhi = std::max(x1, x2);
    std::int64_t ylo = std::min(y1, y2), yhi = std::max(y1, y2);
    if (lineEnd) {
        if (x1 == x2 && y1 == y2)
            return;
        const bool alongX = xhi - xlo >= yhi - ylo;
        std::int64_t& lo = alongX ? xlo : ylo;
        std::int64_t& hi = alongX ? xhi : yhi;
        const int from = alongX ? x1 : y1, to = alongX ? x2 : y2;
        (to > from ? hi : lo) += to > from ? -1 : 1;
    }
    if (xlo >= 0 && xhi < width && ylo >= 0 && yhi < height)
        return;
    const bool gone = xhi < 0 || xlo >= width || yhi < 0 || ylo >= height;
    // Every edge it runs past, so that one move puts it on the page.
    std::string edges;
    int count = 0;
    for (const auto& [past, name] : {std::pair{xhi >= width, "right"}, {xlo < 0, "left"},
                                     {yhi >= height, "bottom"}, {ylo < 0, "top"}})
        if (past)
            edges += (count++ ? " and " : "") + std::string(name);
    Report(line, Severity::Warning, kind::DrawingClipped,
           std::string(what) + " at (" + std::to_string(x1) + ", " + std::to_string(y1) + ")" +
               (gone ? " lies beyond the " : " runs past the ") + edges +
               (count > 1 ? " edges" : " edge") + " of the page");
}

void EngineDiagnostics::FlushTally(int line, const std::string& fontName) {
    if (Tally.noGlyph) {
        char code[16];
        std::snprintf(code, sizeof code, "U+%04X", unsigned(Tally.firstNoGlyph));
        Report(line, Severity::Warning, kind::NoGlyph,
               plural(Tally.noGlyph, "character has", "characters have") +
                   " no glyph in the font \"" + fontName + "\" (the first is " + code + ")");
    }
    if (Tally.badBytes) {
        char byte[8];
        std::snprintf(byte, sizeof byte, "0x%02X", unsigned(Tally.firstBadByte));
        Report(line, Severity::Warning, kind::BadBytes,
               plural(Tally.badBytes, "character", "characters") + " of bytes that form no " +
                   "character in code page " + std::to_string(Tally.badCodePage) +
                   " (the first byte is " + byte + ")");
    }
    if (Tally.overlaps)
        Report(line, Severity::Warning, kind::TextOverlap,
               "text is set over what was drawn before it at (" +
                   std::to_string(Tally.firstOverlapX) + ", " +
                   std::to_string(Tally.firstOverlapY) +
                   "): its white background erases the text or lines underneath");
    Tally = TextTally{};
}

void EngineDiagnostics::CheckFont(int line, const std::string& name) {
    if (name.empty() || fontsChecked_.size() > 64 ||
        std::find(fontsChecked_.begin(), fontsChecked_.end(), name) != fontsChecked_.end())
        return;
    fontsChecked_.push_back(name);
    const FaceMatch m = MatchFace(name);
    if (m.kind == FaceMatch::Exact)
        return;
    if (m.kind == FaceMatch::Alias)
        Report(line, Severity::Note, kind::FontSubstituted,
               "font \"" + name + "\" is set in \"" + m.family + "\", which has the same metrics");
    else
        Report(line, Severity::Warning, kind::FontSubstituted,
               "font \"" + name + "\" is not installed; \"" + m.family + "\" is used instead");
}

bool IsFolder(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string WhyUnreadable(const std::string& path, std::size_t limit) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return std::strerror(errno);
    if (!S_ISREG(st.st_mode))
        return "it is not a regular file";
    if (std::uintmax_t(st.st_size) > limit)
        return "it is larger than " + std::to_string((unsigned long)(limit >> 20)) + " MiB";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return std::strerror(errno);
    ::close(fd);
    return "read error";
}

} // namespace folio
