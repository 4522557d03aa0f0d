// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Saving: each page in use becomes a 1-bit packed DIB (rows bottom-up, a set
// bit black) handed to the TIFF writer, one block at a time, so a document
// of any length needs the memory of one page block.
#include "FaxImage.h"

#include "PackedDib.h"
#include "PageMarks.h"
#include "PagePacker.h"
#include "PageRows.h"
#include "tiflib32.h"

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#if !FOLIO_PROGRAM_VARIANT
namespace {

// Writes the first `count` pages from their codes, coding here the pages not
// coded ahead (the current page, and any that had to be packed instead).
// With `ahead` of them already in the file written ahead (-1: none is), the
// rest go there and its count is set.
bool saveCoded(Head& pages, int count, const folio::PagePacker& packer, char* name, int ahead) {
    std::vector<std::uint8_t> rows; // a parked page's rows, top-down
    int index = 0;
    for (Link* l = pages.First(); l && index < count; l = l->Suc(), ++index) {
        if (index < ahead)
            continue;
        const PageImage& page = static_cast<FaxPage*>(l)->PageImage;
        const int width = page.Width(), height = page.Height();
        TiflibCodedPage code{};
        bool ok = width > 0 && height > 0 && width <= 0xFFFF && height <= 0xFFFF;
        if (ok && page.Coded()) {
            const std::span<const std::uint8_t> bytes = page.Code();
            code = {unsigned(width),         unsigned(height), packer.CodeMode(),
                    packer.CodeResolution(), bytes.data(),     bytes.size()};
        } else if (ok) {
            std::size_t stride;
            const std::uint8_t* top = folio::RowsToCode(page, rows, stride);
            ok = TiflibCodePage(top, std::ptrdiff_t(stride), unsigned(width), unsigned(height),
                                packer.CodeMode(), packer.CodeResolution(), &code);
        }
        if (ahead >= 0) {
            if (!ok) {
                DropFaxDocument(name);
                return false;
            }
            if (!WriteCodedPageAhead(name, &code, index))
                return false;
            continue;
        }
        // Without a code the writer is still told, so that it drops the
        // document it has begun and leaves the old file in place.
        if (!WriteCodedPage(name, ok ? &code : nullptr, index, count) || !ok)
            return false;
    }
    return ahead < 0 || FinishCodedDocument(name, count);
}

} // namespace
#endif

bool FaxImage::SaveFile(char* name) {
    static const PaletteTriple kBlackWhite[2] = {{0, 0, 0}, {255, 255, 255}};
#if FOLIO_PROGRAM_VARIANT
    const int pagesToSave = PageCount;
#else
    const int pagesToSave = Pages->Cardinal();
    // Headers and footers need the page count: drawn now, once.
    folio::DrawPageMarks(*this, 0);
    if (packer_ && packer_->CodesAhead()) {
        // The file written ahead, when it is this one: its first pages are
        // there already.
        std::string ahead;
        int written = packer_->StopWritingAhead(ahead);
        if (written >= 0 && (ahead != name || written > pagesToSave)) {
            DropFaxDocument(ahead.c_str());
            written = -1;
        }
        return saveCoded(*Pages, pagesToSave, *packer_, name, written);
    }
#endif
    // One block serves every page of its size: each page is read into it
    // whole (every byte of the pixel area is written), handed over, and the
    // next page read in after the writer has returned.
    HGLOBAL block = nullptr;
    int blockWidth = 0, blockHeight = 0;
    auto freeBlock = [&] {
        if (block)
            GlobalFree(block);
        block = nullptr;
    };
    int index = 0;
    for (Link* l = Pages->First(); l && index < pagesToSave; l = l->Suc(), ++index) {
        const PageImage& page = static_cast<FaxPage*>(l)->PageImage;
        const int width = page.Width(), height = page.Height();
        if (block && (width != blockWidth || height != blockHeight))
            freeBlock();
        // A packed DIB describes at most 65535 pixels a side; a larger page
        // is refused rather than written cut off.
        if (!block && width > 0 && height > 0 && width <= 0xFFFF && height <= 0xFFFF) {
            block = folio::PackDib(WORD(width), WORD(height), kBlackWhite, 1);
            blockWidth = width;
            blockHeight = height;
        }
        bool filled = false;
        if (block) {
            if (auto* bytes = static_cast<std::uint8_t*>(GlobalLock(block))) {
                BITMAPINFOHEADER header;
                std::memcpy(&header, bytes, sizeof header);
                // The block's rows are bottom-up; the page's bits are read as
                // they are (a set bit black), which is the block's colour table
                // inverted, padding bits set as that inversion leaves them.
                const DWORD stride = folio::DibRowStride(header.biWidth, 1);
                std::uint8_t* pixels = bytes + header.biSize + 4 * header.biClrUsed;
                page.ReadRows(pixels + std::size_t(height - 1) * stride, -std::ptrdiff_t(stride),
                              true);
                GlobalUnlock(block);
                filled = true;
            }
        }
        // Without a block the writer is still told, so that it drops the
        // document it has begun and leaves the old file in place.
        const int written = WriteGraphicFile(name, filled ? block : nullptr, index, pagesToSave);
        if (!filled || !written) {
            freeBlock();
            return false;
        }
    }
    freeBlock();
    return true;
}
