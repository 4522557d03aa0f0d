// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Engine construction, destruction and the defaults: ResetDefaults,
// DefaultFont and, in the program variant, ResetAll.
#include "FaxImage.h"
#include "TextOver.h"

#include "LineFilter.h"
#include "PageMarks.h"

#include "Convert.h"
#include "Diagnostics.h"
#include "PagePacker.h"
#include "PdfPage.h"
#include "SafeMath.h"

#include <cstring>

namespace {

#if !FOLIO_PROGRAM_VARIANT
char* copyString(const char* text) {
    std::size_t n = std::strlen(text) + 1;
    char* s = new char[n];
    std::memcpy(s, text, n);
    return s;
}
#endif

// The page limits always lie this many pixels inside the page edges.
constexpr int kEdgeDistance = 100;
constexpr double kDefaultFontScale = 2.138;

} // namespace

#if !FOLIO_PROGRAM_VARIANT
FaxSettings::FaxSettings()
    : MacroStart(copyString("@CONVERT:")), CommentStart(copyString("#")),
      FontName(copyString("Arial")), FontSize(12), CodePage(0) {}

FaxSettings::~FaxSettings() {
    delete[] MacroStart;
    delete[] CommentStart;
    delete[] FontName;
}
#endif

#if FOLIO_PROGRAM_VARIANT
FaxImage::FaxImage(FaxSettingsSource& settings, FaxViewer* viewer)
    : settings_(settings), viewer_(viewer)
#else
FaxImage::FaxImage()
#endif
{
    // Every field starts at zero; the steps below set the ones that matter.
    Pages = nullptr;
    Image = nullptr;
    CurrentPage = nullptr;
    SaveName = nullptr;
    PageCount = PageNo = 0;
    DefWidth = DefHeight = DefLeft = DefTop = DefRight = DefBottom = 0;
    Width = Height = X = Y = Left = Top = Right = Bottom = 0;
    FontScale = 0;
    CurFontSize = 0;
    TextMode = TextModes::Text;
    TextBox = {0, 0, 0, 0};
#if FOLIO_PROGRAM_VARIANT
    Font = nullptr;
    ColumnCount = ColumnIndex = ColumnTop = 0;
    for (int i = 0; i < 4; ++i)
        ColumnX[i] = ColumnRight[i] = 0;
#endif

    FontStyle = 0;
    Pages = new Head;
    try {
#if FOLIO_PROGRAM_VARIANT
        Font = new folio::Font;
#endif
        ResetDefaults();
        PageCount = 0;
        PageNo = 0;
        NextPage(true);
    } catch (...) {
        delete Pages;
#if FOLIO_PROGRAM_VARIANT
        delete Font;
#endif
        throw;
    }
}

FaxImage::~FaxImage() {
    folio::ReleasePdfRenderers();
    folio::SetLineFilter(*this, nullptr);
    folio::ForgetTextOver(*this);
#if !FOLIO_PROGRAM_VARIANT
    folio::ForgetPageMarks(*this);
#endif
    delete[] SaveName;
    delete Pages;
#if FOLIO_PROGRAM_VARIANT
    delete Font;
#endif
}

void FaxImage::ResetDefaults() {
    FontStyle = 0;
#if FOLIO_PROGRAM_VARIANT
    Font->Style = 0;
    // Read in this order; a field that is not a whole number stops here
    // with an error, and the fields set before it keep their new values.
    DefWidth = folio::StrToInt(settings_.WidthText());
    DefHeight = folio::StrToInt(settings_.HeightText());
    DefLeft = folio::StrToInt(settings_.LeftMarginText());
    DefRight = folio::SatSub(DefWidth, kEdgeDistance);
    DefTop = folio::StrToInt(settings_.TopMarginText());
    DefBottom = folio::SatSub(DefHeight, kEdgeDistance);
#else
    DefWidth = 1728;
    DefHeight = PageRows(pageSize_);
    DefLeft = 100;
    DefTop = 100;
    DefRight = DefWidth - kEdgeDistance;
    DefBottom = DefHeight - kEdgeDistance;
#endif
    Width = DefWidth;
    Height = DefHeight;
    Left = DefLeft;
    Top = DefTop;
    Right = DefRight;
    Bottom = DefBottom;
    X = Left;
    Y = Top;
    TextMode = TextModes::Text;
    FontScale = kDefaultFontScale;
}

#if !FOLIO_PROGRAM_VARIANT
bool FaxImage::SetPageSize(PageSize size) {
    if (pageStarted_ || PageCount != 1 || PageNo != 1 || !Image)
        return false;
    pageSize_ = size;
    // Only the length changes: margins, pen, font and mode set so far stay.
    DefHeight = PageRows(size);
    DefBottom = DefHeight - kEdgeDistance;
    Height = DefHeight;
    Bottom = DefBottom;
    // ClearPage gives the page the new size, white.
    if (Image->Picture().Height() != Height)
        ClearPage();
    return true;
}
#endif

void FaxImage::DefaultFont() {
#if FOLIO_PROGRAM_VARIANT
    CurFontSize = folio::StrToInt(settings_.FontSizeText());
    Font->Size = folio::TruncToInt(CurFontSize * FontScale);
    Font->Name = settings_.FontName();
    Image->Canvas().Font = *Font;
#else
    CurFontSize = FontSize;
    folio::Canvas& canvas = Image->Canvas();
    canvas.Font.Size = folio::TruncToInt(CurFontSize * FontScale);
    canvas.Font.Name = FontName;
    canvas.BrushColor = folio::TextOver(*this) ? folio::clNone : folio::clWhite;
    canvas.PenColor = folio::clBlack;
#endif
}

void FaxImage::SetDiagnostics(folio::DiagnosticSink* sink) {
    diag_ = sink ? std::make_unique<folio::EngineDiagnostics>(*sink) : nullptr;
}

void FaxImage::checkTextSize(const char* line) {
    const char* p = line;
    while (*p == ' ' || (*p >= 9 && *p <= 13))
        ++p;
    if (*p)
        diag_->CheckTextSize(sourceLine_, Image->Canvas());
}

#if FOLIO_PROGRAM_VARIANT
void FaxImage::ResetAll() {
    ResetDefaults();
    // TEXTMODE holds for the rest of the run it is set in; this engine
    // lives on through the runs of the program, each of which starts
    // opaque, as it starts with the other defaults.
    folio::SetTextOver(*this, false);
    // Each run of the macro has the pictures' whole budget.
    SetPictureLimits(kPictureMegapixels, kPictureSeconds);
    PageCount = 1;
    RewindPages();
    UpdatePageLabels();
    DefaultFont();
    ClearPage();
}
#endif

// Font changes of commands and escapes. The library changes the current
// page's canvas font; the program changes its own Font and copies it there.
void FaxImage::ApplyFontSize(int size) {
#if FOLIO_PROGRAM_VARIANT
    Font->Size = size;
#endif
    Image->Canvas().Font.Size = size;
}

void FaxImage::ApplyFontName(const char* name) {
#if FOLIO_PROGRAM_VARIANT
    Font->Name = name;
#endif
    Image->Canvas().Font.Name = name;
}

void FaxImage::ApplyStyle() {
#if FOLIO_PROGRAM_VARIANT
    Font->Style = FontStyle;
#endif
    Image->Canvas().Font.Style = FontStyle;
}
