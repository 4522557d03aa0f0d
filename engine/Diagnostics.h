// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Diagnostics of a macro run: what the engine dropped, cut, clipped, ignored,
// replaced or guessed while it carried the macro out (text that did not fit,
// files not included, commands not understood, fonts and characters
// replaced). The engine reports each through a sink its caller gives it;
// without a sink a report costs the test of a null pointer. Reporting never
// changes what the engine draws or returns.
#pragma once

// The installed C++ headers need C++20 (std::span, defaulted comparisons):
// compile with -std=c++20 or later, which the CMake targets Folioset::* ask
// for. An older standard stops here with one message, not a page of errors.
#if __cplusplus < 202002L
#error "Folioset's C++ headers need C++20: compile with -std=c++20 or later"
#else

#include "Canvas.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// For clients of libfoliolib.so (<folioset/Diagnostics.h>, C++20): derive a
// DiagnosticSink, hand it to FaxImage::SetDiagnostics, and read each
// Diagnostic it receives; FormatDiagnostic prints one. Severity, the kinds,
// Diagnostic, DiagnosticSink and FormatDiagnostic are the client's part; the
// functions and the class after them are the engine's own side and are not
// exported by the library.
namespace folio {

// Note: something was replaced or guessed, the page still says what the
// macro meant. Warning: something the macro asked for is lost from the page.
// Error: the run stopped there (the call throws as well).
enum class Severity : std::uint8_t { Note, Warning, Error };

// The kinds reported, as stable short names for tools and tests.
namespace kind {
inline constexpr const char* TextDropped = "text-dropped";
inline constexpr const char* TextClipped = "text-clipped";
inline constexpr const char* DrawingClipped = "drawing-clipped";
inline constexpr const char* FileMissing = "file-missing";
inline constexpr const char* FileUnreadable = "file-unreadable";
inline constexpr const char* FileRefused = "file-refused";
inline constexpr const char* FileType = "file-type";
inline constexpr const char* BitmapInvalid = "bitmap-invalid";
inline constexpr const char* PictureSize = "picture-size";
inline constexpr const char* PictureImages = "picture-images";
inline constexpr const char* PictureDamaged = "picture-damaged";
inline constexpr const char* PictureBudget = "picture-budget";
inline constexpr const char* PictureBlank = "picture-blank";
inline constexpr const char* UnknownCommand = "unknown-command";
inline constexpr const char* KeywordGuess = "keyword-guess";
inline constexpr const char* MissingArgument = "missing-argument";
inline constexpr const char* NotANumber = "not-a-number";
inline constexpr const char* FontSubstituted = "font-substituted";
inline constexpr const char* CharsetUnknown = "charset-unknown";
inline constexpr const char* NoGlyph = "no-glyph";
inline constexpr const char* BadBytes = "bad-bytes";
inline constexpr const char* LineCut = "line-cut";
inline constexpr const char* AfterEnd = "after-end";
inline constexpr const char* BarcodeType = "barcode-type";
inline constexpr const char* BarcodeData = "barcode-data";
inline constexpr const char* BarcodeClipped = "barcode-clipped";
inline constexpr const char* BarcodeAdjusted = "barcode-adjusted";
inline constexpr const char* BarcodeOverInk = "barcode-over-ink";
inline constexpr const char* BarcodeHeight = "barcode-height";
inline constexpr const char* TextOverlap = "text-overlap";
inline constexpr const char* TextTiny = "text-tiny";
inline constexpr const char* ByteOrderMark = "byte-order-mark";
inline constexpr const char* LineEnds = "line-ends";
inline constexpr const char* PageLate = "page-late";
inline constexpr const char* PageUnknown = "page-unknown";
inline constexpr const char* PageSlow = "page-slow";
inline constexpr const char* ReservedStrip = "reserved-strip";
inline constexpr const char* FieldMissing = "field-missing";
inline constexpr const char* FieldIgnored = "field-ignored";
} // namespace kind

struct Diagnostic {
    int line = 0; // 1-based macro line; 0 for the macro as a whole
    Severity severity = Severity::Warning;
    const char* kind = ""; // one of folio::kind
    std::string message;
};

// Receives the engine's reports. Report is called synchronously on the
// thread that made the engine call (ProcessCommand, PrintLine, ...), in macro
// order, never from the engine's helper thread. `d` and its strings live
// until Report returns: copy what you keep. An exception thrown by Report
// leaves through the engine call that reported, like the engine's own. The
// engine only uses the sink; it never deletes it.
class DiagnosticSink {
  public:
    virtual ~DiagnosticSink() = default;
    virtual void Report(const Diagnostic& d) = 0;
};

// "MACRO:LINE: warning: MESSAGE" (notes "note:", errors "error:"; without
// a line "MACRO: warning: ..."), as compilers print theirs. `macro` is the
// name to print. Throws only std::bad_alloc.
inline std::string FormatDiagnostic(const std::string& macro, const Diagnostic& d) {
    static constexpr const char* kLabel[] = {"note", "warning", "error"};
    return macro + (d.line > 0 ? ":" + std::to_string(d.line) : "") + ": " +
           kLabel[int(d.severity) % 3] + ": " + d.message;
}

// `text` in quotes for a message, cut to about 40 bytes.
std::string Quoted(const char* text);

// Why an included file that exists cannot be read (not a regular file,
// larger than `limit` bytes, or the system's reason), for a report.
std::string WhyUnreadable(const std::string& path, std::size_t limit);

bool IsFolder(const std::string& path);

// A NUL byte ends a line for the engine. The message for the text after
// one (`after`, further NUL bytes counting as blanks), or empty when only
// whitespace follows and nothing is lost.
std::string NulByteMessage(std::string_view after);

// Whether `line` begins with the UTF-8 byte-order mark EF BB BF.
inline bool StartsWithUtf8Mark(std::string_view line) {
    return line.size() >= 3 && line[0] == '\xEF' && line[1] == '\xBB' && line[2] == '\xBF';
}
// The warning for a file whose first line begins with that mark while text
// is read in `codePage` (0: the ANSI code page).
std::string Utf8MarkMessage(std::uint16_t codePage);

// Capital letters shorter than this many pixels do not read on a fax at
// fine resolution (about 1 mm at 196 lines an inch; at normal resolution,
// half as many rows).
inline constexpr int kLeastCapHeight = 8;

// The engine's side of the channel: the sink, what the canvas counted, and
// the little memory that keeps one cause from being reported over and over.
class EngineDiagnostics {
  public:
    explicit EngineDiagnostics(DiagnosticSink& sink) : sink_(sink) {}

    void Report(int line, Severity severity, const char* kind, std::string message);
    void Warn(int line, const char* kind, std::string message) {
        Report(line, Severity::Warning, kind, std::move(message));
    }

    // The command word at `word` matches no keyword (`keyword` null) or was
    // read as `keyword`, which it only begins with (FONTSIZE as FONT): true
    // for the latter. Called once per command line; starts CheckNumber's
    // count afresh.
    bool CheckKeyword(int line, const char* word, const char* keyword);
    // A command without "=": one that needs arguments does nothing; text
    // after any other is ignored.
    void CheckNoEquals(int line, const char* name, bool needsArguments, const char* rest);
    // An argument read as the number `readAs` whose text is not quite a
    // number (empty, not a number, or with text after it); reported once
    // per command.
    void CheckNumber(int line, const char* name, const char* text, bool fraction, int readAs);
    // A FILE command that includes nothing, `why` being kind::FileType
    // (`type` null when none is given), FileRefused or FileMissing.
    void FileNotIncluded(int line, const char* why, const char* name, const char* type);
    // An included file that exists failed with `error`: it could not be read
    // or is no valid bitmap. Reported as an error, as the run ends there.
    void FileFailed(int line, const char* name, bool bitmap, const char* error);

    // The text from `rest` on is lost: counts its words and quotes the first
    // ones. Nothing is reported for whitespace alone.
    void TextDropped(int line, std::string_view rest, const char* why);
    // A word set from x0 to x1 in the line at y0 (LineHeight high) reaches
    // past the page (width x height): reported once per macro line.
    void CheckTextOnPage(int line, std::string_view word, std::int64_t x0, std::int64_t x1,
                         std::int64_t y0, int width, int height) {
        if (x0 < 0 || x1 > width || y0 < 0 || y0 + LineHeight > height)
            textOffPage(line, word, x0, x1, y0, y0 + LineHeight, width, height);
    }
    // A word drawn inside a text box from x0 to x1 whose right edge is
    // `right`: reported once per macro line when it runs past that edge.
    void CheckTextInBox(int line, std::string_view word, std::int64_t x0, std::int64_t x1,
                        std::int64_t right) {
        if (x1 > right)
            textPastBox(line, word, x0, x1, right);
    }
    // Text (not whitespace alone) about to be set in the canvas's font:
    // reported when the font's capitals are too small to read on a fax, once
    // each time such a font comes into use. Measures only when the font has
    // changed since the last call.
    void CheckTextSize(int line, Canvas& canvas);
    // A LINE (`line`: the end point is not drawn) from (x1, y1) to (x2, y2),
    // or a box or bitmap with the corners (x1, y1) and (x2, y2) drawn,
    // reaching past the page (width x height).
    void CheckDrawingOnPage(int line, const char* what, int x1, int y1, int x2, int y2,
                            bool lineEnd, int width, int height);
    // Reports and clears what the canvas counted (characters without a
    // glyph, bytes that form no character) while `fontName` was in use.
    void FlushTally(int line, const std::string& fontName);
    // A face named by the macro: reported when another face is used instead,
    // once per name.
    void CheckFont(int line, const std::string& name);

    // The canvas counts here while text is set.
    TextTally Tally;
    // The height of the text line being set, as the layout measured it.
    std::int64_t LineHeight = 0;
    // Inside FILE=name,TXT: the included file and its line, for messages.
    std::string IncludeName;
    int IncludeLine = 0;

  private:
    std::string where() const;
    void textPastBox(int line, std::string_view word, std::int64_t x0, std::int64_t x1,
                     std::int64_t right);
    void textOffPage(int line, std::string_view word, std::int64_t x0, std::int64_t x1,
                     std::int64_t y0, std::int64_t y1, int width, int height);
    DiagnosticSink& sink_;
    int clippedLine_ = -1;
    int pastBoxLine_ = -1;
    std::string sizeChecked_; // the font CheckTextSize last looked at
    bool numberReported_ = false;
    std::vector<std::string> fontsChecked_; // at most 65 names
};

} // namespace folio

#endif // C++20
