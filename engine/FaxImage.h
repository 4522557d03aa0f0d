// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The fax page engine: the state a macro run works on (prefixes, page
// geometry, pen, font, text mode, the page list) and every operation on it:
// the macro interpreter, the text layout, pages and drawing, and saving.
//
// One body of code, two variants chosen when the engine is compiled:
//  - the library variant (FOLIO_PROGRAM_VARIANT == 0) is the exported class
//    FaxImage of libfoliolib.so, derived from FaxSettings with fixed
//    defaults; it steps through text in a code page and never breaks words;
//  - the program variant (FOLIO_PROGRAM_VARIANT == 1) is the engine of the
//    desktop program: it reads its settings from the settings dialog through
//    FaxSettingsSource, drives the viewer through FaxViewer, keeps a font of
//    its own, knows paragraphs and columns, and reuses the pages of earlier
//    runs.
// A build-time switch keeps the shared algorithms (pages, drawing, the
// interpreter) in one place and lets each variant carry only its own fields;
// where the algorithms differ wholesale (the text layout) each variant has
// its own file. The two variants are never linked into one program.
//
// For clients of libfoliolib.so (#include <folioset/FaxImage.h>, C++20):
//  - Use: construct a FaxImage (it starts with a blank page 1 in the default
//    settings), hand each macro line to ProcessCommand until it returns
//    false (END) or the lines end, call SaveFile, destroy the object.
//    BuildFax (foliolib.h) does exactly this for a macro file.
//  - Ownership: the engine owns its pages, its page list and SaveName; the
//    pointers in "Engine state" below are the engine's and stay valid only
//    until the next call that changes pages. A FileGate or DiagnosticSink
//    handed in stays the caller's and must outlive the engine's use of it.
//    Strings passed in are only read, except the `char*` lines that
//    ProcessCommand, LineGetInt and LineGetStr cut in place.
//  - Errors: calls that read files, make pages or write the fax throw
//    std::runtime_error (a one-line message for a user: "Cannot open file
//    x", "Bitmap image is not valid", "The fax has more than 4000 pages",
//    "Page size ... is too large") or std::bad_alloc. A call that throws
//    leaves the engine usable: the page it was setting keeps what was drawn
//    before, and it can still be saved or destroyed. SaveFile reports a
//    failed write with false (the writer's reason is TiflibLastError() on
//    the same thread, tiflib32.h). Nothing else fails: out-of-range numbers
//    are clipped, unknown commands ignored.
//  - Threads: one FaxImage belongs to one thread at a time; different
//    FaxImage objects may run on different threads at once (fonts and the
//    store of parked pages are shared safely). The engine starts one helper
//    thread of its own at the first page break, to pack pages left behind;
//    it ends with the engine. SaveFile codes with the process-wide coding
//    of SetFaxCompression and the calling thread's SetFaxResolution; FILE
//    diffuses a grey or colour picture for the resolution CodeAhead gave,
//    else the calling thread's at the time it draws it (at normal
//    resolution on the grid of row pairs, so that the merge of each pair
//    into one row does not darken it).
//  - Coordinates are page pixels (204 dpi across, 196 dpi down; 1728 pixels
//    across a default page), 0,0 at the top-left corner of the page.
#pragma once

// The installed C++ headers need C++20 (std::span, defaulted comparisons):
// compile with -std=c++20 or later, which the CMake targets Folioset::* ask
// for. An older standard stops here with one message, not a page of errors.
#if __cplusplus < 202002L
#error "Folioset's C++ headers need C++20: compile with -std=c++20 or later"
#else

#include "Export.h"
#include "FaxPage.h"
#include "FaxViewer.h"
#include "FileGate.h"
#include "Font.h"
#include "List.h"

#include <cstdint>
#include <memory>
#include <string>

class FaxImage;

namespace folio {
class DiagnosticSink;
class EngineDiagnostics;
// Draws the headers and footers of a library build (the engine's own side).
void DrawPageMarks(FaxImage& engine, int keepTop);
} // namespace folio

// Clients of libfoliolib.so see the library variant.
#ifndef FOLIO_PROGRAM_VARIANT
#define FOLIO_PROGRAM_VARIANT 0
#endif

#if !FOLIO_PROGRAM_VARIANT
// The library's settings: fixed defaults, each string in its own heap buffer
// sized to its text.
class FOLIO_EXPORT FaxSettings {
  public:
    FaxSettings();
    ~FaxSettings();
    FaxSettings(const FaxSettings&) = delete;
    FaxSettings& operator=(const FaxSettings&) = delete;

    char* MacroStart;   // "@CONVERT:": a line starting with it is a command
    char* CommentStart; // "#": a line starting with it is skipped
    char* FontName;     // "Arial"
    int FontSize;       // 12: nominal size of the default font
    // Code page for stepping through a line; 0 is the system's ANSI code page.
    std::uint16_t CodePage;
};
#endif

enum class TextModes : std::uint8_t { Text, Paragraph, TextBox, Columns };

struct TextBoxRect {
    int Left, Top, Right, Bottom;
};

#if FOLIO_PROGRAM_VARIANT
class FaxImage {
#else
class FOLIO_EXPORT FaxImage : public FaxSettings {
#endif
  public:
    // Pages never exceed this many in one document: with a default page of
    // 475 KB it bounds a run's memory whatever the macro asks for.
    static constexpr int kMaxPages = 4000;

#if FOLIO_PROGRAM_VARIANT
    // Engine set-up at the viewer's creation. `settings` must outlive the
    // engine; `viewer` may be null (no window, as in tests).
    FaxImage(FaxSettingsSource& settings, FaxViewer* viewer);
#else
    // A fresh engine with the defaults of FaxSettings and a blank page 1.
    // Throws std::bad_alloc, or std::runtime_error when the page cannot be
    // made; no object is left half made.
    FaxImage();
#endif
    ~FaxImage();
    FaxImage(const FaxImage&) = delete;
    FaxImage& operator=(const FaxImage&) = delete;

    // Settings and defaults. ResetDefaults sets the page size and margins,
    // the pen and the text mode back to the defaults and selects the default
    // font (DefaultFont: FontName at FontSize, plain, black on white) on the
    // current page; the pages drawn so far stay.
    void ResetDefaults();
    void DefaultFont();
#if FOLIO_PROGRAM_VARIANT
    void ResetAll();
#else
    // The paper a page stands for. Every page is 1728 pixels (8.47 inches)
    // wide at 204 dpi; its length in rows at 196 rows per inch is the one a
    // fax machine at fine resolution gives that paper: A4 2286, Letter 2151,
    // Legal 2738. Default keeps the 2200 rows of earlier releases, which
    // match no paper.
    enum class PageSize : std::uint8_t { Default, A4, Letter, Legal };
    static constexpr int PageRows(PageSize size) {
        return size == PageSize::A4       ? 2286
               : size == PageSize::Letter ? 2151
               : size == PageSize::Legal  ? 2738
                                          : 2200;
    }
    // Gives this and every later page (and ResetDefaults) the length of
    // `size`, the bottom margin staying 100 rows from the page's end; page 1
    // is made white at the new size. Only before anything is on a page:
    // false, changing nothing, once ProcessCommand has set text or carried
    // out LINE, BOX, FILE, BARCODE or PAGEBREAK, or a second page exists (a
    // client that draws by itself calls it first). Throws std::bad_alloc
    // without memory for the page.
    bool SetPageSize(PageSize size);
#endif

    // The macro interpreter: one line per call; false only for END. The
    // line is written into (argument separators become NUL bytes), so it
    // must be a writable, NUL-terminated copy the caller owns; null is
    // ignored (true). A command line (MacroStart) is carried out, a comment
    // line (CommentStart) skipped, any other line set as text. Throws as
    // described above, for a file that cannot be included or a page past
    // the page limit; the line's effects up to the failure remain.
    bool ProcessCommand(char* line);
    // Argument readers of the interpreter, for lines in the same form:
    // LineGetStr skips blanks from line[*pos], cuts the argument at the next
    // comma (written as NUL), points *value at it and moves *pos past the
    // comma; the last argument runs to the end of the line. False, with
    // *value null, when nothing is left. LineGetInt does the same and reads
    // the argument as a whole number (0 when it is none; *value 0 on false).
    bool LineGetInt(char* line, int* pos, int* value);
    bool LineGetStr(char* line, int* pos, char** value);

    // Text layout. PrintLine sets one line of text at the pen in the current
    // font and text mode, word by word, and moves the pen to the next line;
    // a word that does not fit the line's room is dropped (never broken).
    // PrintWord sets one word at the pen, moving the pen right. Both read
    // the text in CodePage; `\` escapes switch styles within it. Null is
    // ignored.
    void PrintLine(const char* line);
    void PrintWord(const char* word);
#if FOLIO_PROGRAM_VARIANT
    void ExtractWord(const char* line, int* pos, int avail, char* word, int maxlen, int* width);
    void ExtractSpace(const char* line, int* pos, char* word, int maxlen, int* width);
    void NextToken(const char* line, int* pos, char* token, int* length, int* width);
#else
    // Copies the word at line[*pos] (up to the next blank) into `word`:
    // whole characters (up to 4 bytes each) while fewer than `maxlen` bytes
    // are copied, then the NUL, so `word` must hold maxlen + 4 bytes.
    // Advances *pos past them and gives their width in pixels in the
    // current font in *width.
    void ExtractWord(const char* line, int* pos, char* word, int maxlen, int* width);
#endif
    // Cuts trailing blanks off `s` in place (whole characters); null is
    // ignored.
    void RTrim(char* s);

    // Pages and drawing. NextPage goes to the following page, or with
    // `create` makes a new blank one at the end (throws std::runtime_error
    // past the page limit, std::bad_alloc without memory); the pen goes to
    // the top-left margin. PrevPage goes back one page (not past page 1,
    // nor to a page already coded by CodeAhead).
    void NextPage(bool create);
    void PrevPage();
    // Makes the current page white. `alreadyWhite` says it is, which saves
    // filling it again.
    void ClearPage(bool alreadyWhite = false);
    // A one-pixel black line from (x1, y1) to (x2, y2), and the outline of
    // a box; any int is allowed, drawing is clipped to the page.
    void DrawLine(int x1, int y1, int x2, int y2);
    void DrawBox(int top, int left, int width, int height);
#if FOLIO_PROGRAM_VARIANT
    void RewindPages();
    void ShowCurrentPage();
    void UpdatePageLabels();
#else
    // Gives the current page the current size, puts the pen at the top-left
    // margin in text mode and selects the default font.
    void ResetPage();
#endif

    // Writes the pages in use as one fax TIFF file `name` (only read; the
    // writer's rules for names, devices and pipes are WriteGraphicFile's in
    // tiflib32.h). The headers and footers that HEADER= and FOOTER= gave
    // are drawn on the pages first, once (the first save draws them). False
    // when a page could not be handed over or written: the file is then
    // left as it was and TiflibLastError() says why. Throws std::bad_alloc
    // without memory for a page.
    bool SaveFile(char* name);
#if !FOLIO_PROGRAM_VARIANT
    // For a build that only goes forward and then saves: from now on each
    // page left behind is coded for the fax file at once, on the packer's
    // thread while the next page is set, in the writer's `mode`
    // (TIFLIB_FAX_G3_1D, _G3_2D or _G4) at `resolution`; SaveFile then
    // writes the whole document in them, whatever the writer's settings are
    // by then, and only codes the pages not coded yet. A coded page is final:
    // PrevPage does not return to it, and reading its pixels fails. Without a
    // thread, or memory for a page's code, pages are parked as before.
    void CodeAhead(int mode, int resolution);
    // After CodeAhead, before the first page is left behind: the pages
    // coded ahead are also written to the fax file `name` as they are
    // coded, its page count set when SaveFile(name) finishes it. Nothing is
    // named before then; a document that never gets there drops the file.
    // Returns false, writing nothing ahead, when the writer cannot start
    // the file (SaveFile then writes it as before, and reports why).
    bool WriteAheadTo(const char* name);
#endif

    // Confines FILE commands to what `gate` allows; null allows every file.
    // The gate must outlive the engine's use of it.
    void SetFileGate(FileGate* gate) {
        fileGate_ = gate;
    }

    // Lowers the page limit of this document below kMaxPages (a server that
    // takes macros from others may allow fewer); values outside
    // 1..kMaxPages select kMaxPages. A page break past the limit raises an
    // error, as one past kMaxPages does.
    void SetPageLimit(int pages) {
        pageLimit_ = pages >= 1 && pages <= kMaxPages ? pages : kMaxPages;
    }
    int PageLimit() const {
        return pageLimit_;
    }

    // What the pictures of one document (FILE=name,PNG / JPG / TIF) may
    // cost in all, so that no macro holds a builder for minutes: pixels as
    // stored, and time spent decoding. 512 million pixels: the decoders take
    // 50 to 100 million a second on one core, so 5 to 10 s, room for eight
    // pictures of the 64-million maximum or forty 12-megapixel photos. 30 s
    // of decoding: the pixels bound the work on a machine of ordinary speed;
    // the time bounds a slow or loaded one, and what costs time beyond the
    // pixels (a progressive JPEG's scans). A picture beyond either fails
    // the run with an error naming it; one that fails or is refused still
    // spends the time it took.
    static constexpr int kPictureMegapixels = 512;
    static constexpr int kPictureSeconds = 30;
    // Lowers those budgets for this document; values outside
    // 0..kPictureMegapixels and 0..kPictureSeconds select the defaults.
    void SetPictureLimits(int megapixels, int seconds) {
        picturePixelsLeft_ = std::uint32_t(megapixels >= 0 && megapixels <= kPictureMegapixels
                                               ? megapixels
                                               : kPictureMegapixels) *
                             1'000'000u;
        pictureMicrosLeft_ =
            std::uint32_t(seconds >= 0 && seconds <= kPictureSeconds ? seconds : kPictureSeconds) *
            1'000'000u;
    }

    // Sends what the run drops, clips, ignores, replaces or guesses to
    // `sink` (Diagnostics.h); null sends nothing and costs nothing. The sink
    // must outlive the engine's use of it. Drawing is the same either way.
    void SetDiagnostics(folio::DiagnosticSink* sink);
    // The macro line the next ProcessCommand call carries out, for reports.
    void SetSourceLine(int line) {
        sourceLine_ = line;
    }

    // Engine state, readable by clients; change it only through the calls
    // above. Pages: the page list (List.h), owned by the engine. Image,
    // CurrentPage: the current page (FaxPage.h). PageCount pages exist,
    // PageNo (1-based) is current. Def*: the default page size and margins;
    // Width, Height, Left, Top, Right, Bottom: the current ones; X, Y: the
    // pen. All in page pixels.
    Head* Pages;
    PageImage* Image;
    FaxPage* CurrentPage;
    char* SaveName;
    int PageCount;
    int PageNo;
    int DefWidth, DefHeight;
    int DefLeft, DefTop;
    int DefRight, DefBottom;
    int Width, Height;
    int X, Y;
    int Left, Top, Right, Bottom;
    double FontScale;
    int CurFontSize;
    folio::FontStyles FontStyle;
    TextModes TextMode;
#if !FOLIO_PROGRAM_VARIANT
  private:
    // Two bytes in the hole the alignment of TextBox leaves after TextMode,
    // so that the object keeps the size and layout of libfoliolib.so.1
    // (its tail padding holds the pictures' time budget).
    PageSize pageSize_ = PageSize::Default;
    // Text or a drawing is on a page: SetPageSize comes too late.
    bool pageStarted_ = false;

  public:
#endif
    TextBoxRect TextBox;
#if FOLIO_PROGRAM_VARIANT
    folio::Font* Font;
    int ColumnCount;
    int ColumnIndex;
    int ColumnTop;
    int ColumnX[4];
    int ColumnRight[4];
#endif

  private:
    friend void folio::DrawPageMarks(FaxImage& engine, int keepTop);
    FileGate* fileGate_ = nullptr;
    int pageLimit_ = kMaxPages;
    // The pictures' budget still left (SetPictureLimits). Both counters sit
    // in holes the alignment of the members around them leaves, so that the
    // class keeps the size and layout of libfoliolib.so.1.
    std::uint32_t picturePixelsLeft_ = std::uint32_t(kPictureMegapixels) * 1'000'000u;
    // Packs the pages left behind while the next is set (made at the first
    // page break).
    std::unique_ptr<folio::PagePacker> packer_;
    std::unique_ptr<folio::EngineDiagnostics> diag_;
    int sourceLine_ = 0;
    std::uint32_t pictureMicrosLeft_ = std::uint32_t(kPictureSeconds) * 1'000'000u;

    void MakePage();
    void ApplyFontSize(int size);
    void ApplyFontName(const char* name);
    void ApplyStyle();
    bool MatchesPrefix(const char* line, const char* prefix) const;
    const char* NextChar(const char* p) const;
    void IncludeFile(char* line, int pos);
    // What a FILE command includes: text lines, a BMP or another picture.
    enum class Included { Text, Bmp, Png, Jpeg, Tiff, Pdf };
    void IncludeGated(const std::string& path, const char* name, const char* type, Included what);
    void IncludeOpened(int fd, const std::string& path, const char* name, Included what);
    void DrawPicture(int fd, const std::string& path, const char* name, Included what);
    // BARCODE: draws the symbol of `data` (BarcodeCommand.cpp).
    void DrawBarcode(char* type, int x, int y, int height, char* data);
    // Reports text of `line` set in a font too small to read (diagnostics).
    void checkTextSize(const char* line);
#if FOLIO_PROGRAM_VARIANT
    void AdvanceColumn();
    FaxSettingsSource& settings_;
    FaxViewer* viewer_;
#endif
};

#endif // C++20
