// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Fuzz target: the reader of the PDF renderer's grey pages (binary PGMs one
// after another, as pdftoppm writes them), with the scaler and the
// black-and-white step behind its first page (PictureFuzz.h).
#include "PdfPage.h"
#include "PictureFuzz.h"

namespace {

folio::GreyImage firstPage(const std::uint8_t* data, std::size_t size,
                           const folio::PictureBudget& budget) {
    std::vector<folio::GreyImage> pages =
        folio::ReadPgmPages(std::string(reinterpret_cast<const char*>(data), size), "1", budget);
    for (const folio::GreyImage& p : pages)
        if (p.pixels.size() != std::size_t(p.width) * std::size_t(p.height))
            std::abort();
    return std::move(pages.front());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzz::RunPictureDecoder(firstPage, "pgm", data, size);
}
