// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Pages and drawing: making, reusing, clearing and moving between pages,
// and the two drawing commands. The library makes a fresh page for every
// page break; the program keeps the pages of earlier runs as spares and
// takes them into use again, showing the current page in its viewer.
#include "FaxImage.h"

#include "Error.h"
#include "PagePacker.h"
#include "SafeMath.h"
#include "TextOver.h"
#include "tiflib32.h"

#include <memory>
#include <string>

// Appends a new page to the list and makes it current.
void FaxImage::MakePage() {
    if (PageCount >= pageLimit_)
        throw folio::Error("The fax has more than " + std::to_string(pageLimit_) + " pages");
    auto* page = new FaxPage;
    Pages->AddLast(page);
#if FOLIO_PROGRAM_VARIANT
    PageImage* shownBefore = Image;
#endif
    CurrentPage = page;
    Image = &page->PageImage;
#if FOLIO_PROGRAM_VARIANT
    try {
        Image->Picture().SetSize(Width, Height);
    } catch (...) {
        delete page; // takes itself out of the list
        CurrentPage = static_cast<FaxPage*>(Pages->Last());
        Image = shownBefore;
        throw;
    }
    Image->Canvas().BrushColor = folio::TextOver(*this) ? folio::clNone : folio::clWhite;
    Image->Canvas().PenColor = folio::clBlack;
    if (viewer_)
        viewer_->ShowPage(shownBefore, *Image);
    if (shownBefore)
        shownBefore->Park();
    ++PageCount;
    ++PageNo;
    if (viewer_)
        viewer_->SetPageLabels(PageNo, PageCount);
#else
    ++PageCount;
    ++PageNo;
#endif
}

#if !FOLIO_PROGRAM_VARIANT

void FaxImage::NextPage(bool create) {
    if (CurrentPage && CurrentPage->Suc()) {
        ++PageNo;
        CurrentPage = static_cast<FaxPage*>(CurrentPage->Suc());
        Image->Park();
        Image = &CurrentPage->PageImage;
        return;
    }
    if (!create)
        return;
    // The page left behind is packed while the new page is set, on the
    // bitmap of a page packed before, which the packer cleared: once two
    // bitmaps are made no page allocates or clears one here. A new bitmap
    // is white too.
    folio::Bitmap storage;
    bool white = true;
    if (Image) {
        if (!packer_)
            packer_ = std::make_unique<folio::PagePacker>();
        white = Image->ParkWith(*packer_, storage) || storage.Empty();
    }
    MakePage();
    Image->Blank(Width, Height, &storage);
    ResetPage();
    ClearPage(white);
}

void FaxImage::PrevPage() {
    if (!CurrentPage || !CurrentPage->Pred())
        return;
    // A page coded ahead is final.
    if (static_cast<FaxPage*>(CurrentPage->Pred())->PageImage.Coded())
        return;
    --PageNo;
    CurrentPage = static_cast<FaxPage*>(CurrentPage->Pred());
    Image->Park();
    Image = &CurrentPage->PageImage;
}

void FaxImage::CodeAhead(int mode, int resolution) {
    if (!packer_)
        packer_ = std::make_unique<folio::PagePacker>();
    packer_->CodeAhead(mode, resolution);
}

bool FaxImage::WriteAheadTo(const char* name) {
    if (!packer_ || !packer_->CodesAhead() || !name || !*name ||
        !BeginCodedDocument(name, packer_->CodeMode(), packer_->CodeResolution()))
        return false;
    packer_->WriteAhead(name);
    return true;
}

void FaxImage::ResetPage() {
    folio::Bitmap& picture = Image->Picture();
    if (picture.Width() != Width || picture.Height() != Height)
        picture.SetSize(Width, Height);
    X = Left;
    Y = Top;
    TextMode = TextModes::Text;
    Image->Canvas().CodePage = CodePage;
    DefaultFont();
}

#else // program variant

void FaxImage::NextPage(bool create) {
    if (CurrentPage && CurrentPage->Suc()) {
        if (PageNo == PageCount && create) {
            // A spare page of an earlier run is taken into use. It is
            // cleared at once, so its parked pixels are dropped unread.
            ++PageCount;
            ++PageNo;
            CurrentPage = static_cast<FaxPage*>(CurrentPage->Suc());
            CurrentPage->PageImage.Blank(Width, Height);
            ShowCurrentPage();
            ClearPage();
        } else if (PageNo < PageCount) {
            ++PageNo;
            CurrentPage = static_cast<FaxPage*>(CurrentPage->Suc());
            ShowCurrentPage();
        }
    } else if (create) {
        MakePage();
        ClearPage();
    }
    X = Left;
    Y = Top;
    Image->Canvas().Font = *Font;
}

void FaxImage::PrevPage() {
    if (!CurrentPage || !CurrentPage->Pred())
        return;
    --PageNo;
    CurrentPage = static_cast<FaxPage*>(CurrentPage->Pred());
    ShowCurrentPage();
}

void FaxImage::RewindPages() {
    auto* first = static_cast<FaxPage*>(Pages->First());
    if (first && first != CurrentPage) {
        CurrentPage = first;
        PageNo = 1;
        ShowCurrentPage();
    }
}

void FaxImage::ShowCurrentPage() {
    UpdatePageLabels();
    PageImage* shownBefore = Image;
    Image = &CurrentPage->PageImage;
    if (viewer_)
        viewer_->ShowPage(shownBefore == Image ? nullptr : shownBefore, *Image);
    if (shownBefore && shownBefore != Image)
        shownBefore->Park();
}

void FaxImage::UpdatePageLabels() {
    if (viewer_)
        viewer_->SetPageLabels(PageNo, PageCount);
}

#endif

void FaxImage::ClearPage(bool alreadyWhite) {
    folio::Canvas& canvas = Image->Canvas();
    folio::Bitmap& picture = Image->Picture();
    // A page taken into use again after the page size settings changed
    // takes the new size.
    if (picture.Width() != Width || picture.Height() != Height) {
        picture.SetSize(Width, Height);
        alreadyWhite = true;
    }
    canvas.BrushColor = folio::clWhite;
    canvas.PenColor = folio::clWhite;
    if (!alreadyWhite)
        canvas.Rectangle(0, 0, Width, Height);
    else
        canvas.PaperCleared();
    canvas.PenColor = folio::clBlack;
    if (folio::TextOver(*this))
        canvas.BrushColor = folio::clNone;
#if FOLIO_PROGRAM_VARIANT
    if (viewer_)
        viewer_->SetSaveEnabled(false);
#endif
}

void FaxImage::DrawLine(int x1, int y1, int x2, int y2) {
    folio::Canvas& canvas = Image->Canvas();
    canvas.MoveTo(x1, y1);
    canvas.LineTo(x2, y2);
}

void FaxImage::DrawBox(int top, int left, int width, int height) {
    using folio::SatAdd;
    folio::Canvas& canvas = Image->Canvas();
    const int right = SatAdd(left, width), bottom = SatAdd(top, height);
    canvas.MoveTo(left, top);
    canvas.LineTo(right, top);
    canvas.LineTo(right, bottom);
    canvas.LineTo(left, bottom);
    canvas.LineTo(left, top);
}
