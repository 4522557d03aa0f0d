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
#pragma once

#include "Export.h"
#include "FaxPage.h"
#include "FaxViewer.h"
#include "FileGate.h"
#include "Font.h"
#include "List.h"

#include <cstdint>
#include <memory>
#include <string>

namespace folio {
class DiagnosticSink;
class EngineDiagnostics;
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
    FaxImage();
#endif
    ~FaxImage();
    FaxImage(const FaxImage&) = delete;
    FaxImage& operator=(const FaxImage&) = delete;

    // Settings and defaults.
    void ResetDefaults();
    void DefaultFont();
#if FOLIO_PROGRAM_VARIANT
    void ResetAll();
#endif

    // The macro interpreter: one line per call; false only for END. The
    // line is written into (argument separators become NUL bytes).
    bool ProcessCommand(char* line);
    bool LineGetInt(char* line, int* pos, int* value);
    bool LineGetStr(char* line, int* pos, char** value);

    // Text layout.
    void PrintLine(const char* line);
    void PrintWord(const char* word);
#if FOLIO_PROGRAM_VARIANT
    void ExtractWord(const char* line, int* pos, int avail, char* word, int maxlen, int* width);
    void ExtractSpace(const char* line, int* pos, char* word, int maxlen, int* width);
    void NextToken(const char* line, int* pos, char* token, int* length, int* width);
#else
    void ExtractWord(const char* line, int* pos, char* word, int maxlen, int* width);
#endif
    void RTrim(char* s);

    // Pages and drawing.
    void NextPage(bool create);
    void PrevPage();
    // Makes the current page white. `alreadyWhite` says it is, which saves
    // filling it again.
    void ClearPage(bool alreadyWhite = false);
    void DrawLine(int x1, int y1, int x2, int y2);
    void DrawBox(int top, int left, int width, int height);
#if FOLIO_PROGRAM_VARIANT
    void RewindPages();
    void ShowCurrentPage();
    void UpdatePageLabels();
#else
    void ResetPage();
#endif

    // Writes the pages in use as one fax TIFF. False when a page could not
    // be handed over or written (the file is then left as it was).
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

    // Sends what the run drops, clips, ignores, replaces or guesses to
    // `sink` (Diagnostics.h); null sends nothing and costs nothing. The sink
    // must outlive the engine's use of it. Drawing is the same either way.
    void SetDiagnostics(folio::DiagnosticSink* sink);
    // The macro line the next ProcessCommand call carries out, for reports.
    void SetSourceLine(int line) {
        sourceLine_ = line;
    }

    // Engine state.
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
    FileGate* fileGate_ = nullptr;
    int pageLimit_ = kMaxPages;
    // Packs the pages left behind while the next is set (made at the first
    // page break).
    std::unique_ptr<folio::PagePacker> packer_;
    std::unique_ptr<folio::EngineDiagnostics> diag_;
    int sourceLine_ = 0;

    void MakePage();
    void ApplyFontSize(int size);
    void ApplyFontName(const char* name);
    void ApplyStyle();
    bool MatchesPrefix(const char* line, const char* prefix) const;
    const char* NextChar(const char* p) const;
    void IncludeFile(char* line, int pos);
    void IncludeGated(const std::string& path, const char* name, const char* type, bool text);
    void IncludeOpened(int fd, const std::string& path, const char* name, bool text);
#if FOLIO_PROGRAM_VARIANT
    void AdvanceColumn();
    FaxSettingsSource& settings_;
    FaxViewer* viewer_;
#endif
};
