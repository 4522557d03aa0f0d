// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// PDF pages as grey pictures on the fax grid: poppler's pdftoppm renders
// pages at 204 x 196 dots per inch, or at the size they are drawn, in fenced
// child processes (ToolProcess), and pdfinfo lists the pages' sizes.
#pragma once

#include "Picture.h"

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace folio {

// The fax grid's dots per inch, across and down.
inline constexpr int kPdfDpiX = 204, kPdfDpiY = 196;

// The size of a PDF page in points (1/72 inch), as it is shown: its crop
// box, a quarter turn swapping its sides.
struct PdfPageSize {
    double width = 0, height = 0;
    // Turned a quarter (/Rotate 90 or 270): pdftoppm applies its dots per
    // inch across and down to the page before it turns it, so such a page
    // is rendered with the two swapped.
    bool quarterTurned = false;
};

// Page `page` (1 for the first) of the PDF `bytes`, its crop box, as an
// 8-bit grey picture at kPdfDpiX x kPdfDpiY as it is shown (pdfinfo tells
// which pages are turned a quarter); when budget.wantWidth and
// wantHeight are both given and no larger than that, rendered at that size
// instead (its stored size stays the one at the fax grid's dpi, as a JPEG
// decoded small keeps its own). Text and lines are drawn without
// anti-aliasing, black or white, for the threshold to keep whole. Throws PictureError with the renderer's reason for a PDF it
// cannot draw (damaged, encrypted, no such page, pdftoppm not installed)
// and PictureBudgetError when rendering would pass the budget's deadline or
// pixels. `name` is for messages. Pages asked for one after another are
// rendered ahead (see ReleasePdfRenderers).
GreyImage RenderPdfPage(const std::string& bytes, const std::string& name, int page,
                        const PictureBudget& budget);

// Stops the renderers this thread keeps running for pages not yet asked
// for. A fax's engine calls it when it is destroyed, so that no renderer
// outlives its build.
void ReleasePdfRenderers();

// While one lives on a thread, the PDF drawn there is read from its first
// page to its last, every page (a whole PDF made a fax): it is rendered
// ahead from its first page, where a page 1 asked for alone is otherwise
// rendered alone. `sizes` are its pages' sizes as ReadPdfPageSizes gave
// them, so that they are not read again.
class WholePdfScope {
  public:
    explicit WholePdfScope(std::vector<PdfPageSize> sizes);
    ~WholePdfScope();
    WholePdfScope(const WholePdfScope&) = delete;
    WholePdfScope& operator=(const WholePdfScope&) = delete;

    const std::vector<PdfPageSize>& Sizes() const { return sizes_; }

  private:
    std::vector<PdfPageSize> sizes_;
    const WholePdfScope* outer_;
};

// The pages of pdftoppm's grey output: binary PGMs (P5, maxval 255) one
// after another, each checked against the bytes and `budget`. Throws
// PictureError for anything else (`page` names the first for messages).
std::vector<GreyImage> ReadPgmPages(const std::string& output, const std::string& page,
                                    const PictureBudget& budget);

// The size of each page of a PDF in points (1/72 inch), from pdfinfo, at
// most `maxPages` of them: the PDF file `path`, or when `bytes` is not
// empty those bytes, given to pdfinfo on its standard input (`path` then
// only names them in messages). pdfinfo is stopped at `deadline`. False with
// `error` set when pdfinfo cannot read it in time (or is not installed).
bool ReadPdfPageSizes(const std::string& path, std::string_view bytes, int maxPages,
                      std::chrono::steady_clock::time_point deadline,
                      std::vector<PdfPageSize>& sizes, std::string& error);

} // namespace folio
