// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// What the program variant of the engine needs from the desktop program,
// as two small interfaces: the settings dialog's fields (read at the moment
// a value is needed, so an edit takes effect at the next such moment) and
// the viewer window that shows the pages. Neither depends on a toolkit.
#pragma once

// The installed C++ headers need C++20 (std::span, defaulted comparisons):
// compile with -std=c++20 or later, which the CMake targets Folioset::* ask
// for. An older standard stops here with one message, not a page of errors.
#if __cplusplus < 202002L
#error "Folioset's C++ headers need C++20: compile with -std=c++20 or later"
#else

// For clients of libfoliolib.so: installed because FaxImage.h includes it;
// only the desktop program's engine uses these interfaces, the library's
// FaxImage never does.

#include <string>

class PageImage;

// The settings dialog's fields, as the text the user typed.
class FaxSettingsSource {
  public:
    virtual ~FaxSettingsSource() = default;
    virtual std::string WidthText() const = 0;      // efWidth
    virtual std::string HeightText() const = 0;     // efHeight
    virtual std::string LeftMarginText() const = 0; // efLeftMargin
    virtual std::string TopMarginText() const = 0;  // efTopMargin
    virtual std::string FontName() const = 0;       // efFont
    virtual std::string FontSizeText() const = 0;   // efFontSize
    virtual std::string MacroStart() const = 0;     // efMacroStart
    virtual std::string CommentStart() const = 0;   // efCommentStart
};

// The viewer window: its page area, its page counter, its pointer-position
// handler and its Save and Save As menu items.
class FaxViewer {
  public:
    virtual ~FaxViewer() = default;
    // `shown` becomes the page on screen (with the pointer-position handler
    // attached); `hidden`, when not null, is taken off the screen first.
    virtual void ShowPage(PageImage* hidden, PageImage& shown) = 0;
    // The page counter: "<pageNo> of <pageCount>".
    virtual void SetPageLabels(int pageNo, int pageCount) = 0;
    // Enables or disables Save and Save As of the fax file.
    virtual void SetSaveEnabled(bool enabled) = 0;
};

#endif // C++20
