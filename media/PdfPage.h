// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// PDF pages as grey pictures on the fax grid: poppler's pdftoppm renders one
// page at 204 x 196 dots per inch in a fenced child process (ToolProcess),
// and pdfinfo lists the pages' sizes.
#pragma once

#include "Picture.h"

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace folio {

// The fax grid's dots per inch, across and down.
inline constexpr int kPdfDpiX = 204, kPdfDpiY = 196;

// Page `page` (1 for the first) of the PDF `bytes`, as an 8-bit grey picture
// at kPdfDpiX x kPdfDpiY. Throws PictureError with the renderer's reason
// for a PDF it cannot draw (damaged, encrypted, no such page, pdftoppm not
// installed) and PictureBudgetError when rendering would pass the budget's
// deadline or pixels. `name` is for messages.
GreyImage RenderPdfPage(const std::string& bytes, const std::string& name, int page,
                        const PictureBudget& budget);

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
struct PdfPageSize {
    double width = 0, height = 0;
};
bool ReadPdfPageSizes(const std::string& path, std::string_view bytes, int maxPages,
                      std::chrono::steady_clock::time_point deadline,
                      std::vector<PdfPageSize>& sizes, std::string& error);

} // namespace folio
