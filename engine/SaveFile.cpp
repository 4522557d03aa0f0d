// Saving: each page in use becomes a 1-bit packed DIB (rows bottom-up, a set
// bit black) handed to the TIFF writer, one block at a time, so a document
// of any length needs the memory of one page block.
#include "FaxImage.h"

#include "PackedDib.h"
#include "tiflib32.h"

#include <cstring>

namespace {

// Copies the page into the block's pixel area. The page keeps a set bit for
// black, the block's colour table says colour 0 is black: the rows are the
// page's bits read as a DIB (set = white) and then inverted, which is the
// page's own bits again. The bits that pad each row come out set, as the
// inversion of a whole pixel area leaves them.
void copyPageIntoBlock(const folio::Bitmap& page, std::uint8_t* pixels, DWORD stride) {
    const int width = page.Width();
    const int usedBytes = (width + 7) / 8;
    const std::uint8_t tailMask = (width & 7) ? std::uint8_t(0xFF >> (width & 7)) : 0;
    for (int y = 0; y < page.Height(); ++y) {
        // Bottom row first.
        std::uint8_t* dst = pixels + std::size_t(page.Height() - 1 - y) * stride;
        std::memcpy(dst, page.Row(y), std::size_t(usedBytes));
        dst[usedBytes - 1] |= tailMask;
        std::memset(dst + usedBytes, 0xFF, stride - std::size_t(usedBytes));
    }
}

} // namespace

bool FaxImage::SaveFile(char* name) {
    static const PaletteTriple kBlackWhite[2] = {{0, 0, 0}, {255, 255, 255}};
#if FOLIO_PROGRAM_VARIANT
    const int pagesToSave = PageCount;
#else
    const int pagesToSave = Pages->Cardinal();
#endif
    int index = 0;
    for (Link* l = Pages->First(); l && index < pagesToSave; l = l->Suc(), ++index) {
        const folio::Bitmap& page = static_cast<FaxPage*>(l)->PageImage.Picture();
        // A packed DIB describes at most 65535 pixels a side; a larger page
        // is refused rather than written cut off.
        HGLOBAL block = nullptr;
        if (page.Width() > 0 && page.Height() > 0 && page.Width() <= 0xFFFF &&
            page.Height() <= 0xFFFF)
            block = folio::PackDib(WORD(page.Width()), WORD(page.Height()), kBlackWhite, 1);
        if (block) {
            if (auto* bytes = static_cast<std::uint8_t*>(GlobalLock(block))) {
                BITMAPINFOHEADER header;
                std::memcpy(&header, bytes, sizeof header);
                copyPageIntoBlock(page, bytes + header.biSize + 4 * header.biClrUsed,
                                  folio::DibRowStride(header.biWidth, 1));
                GlobalUnlock(block);
            } else {
                GlobalFree(block);
                block = nullptr;
            }
        }
        // Without a block the writer is still told, so that it drops the
        // document it has begun and leaves the old file in place.
        const int written = WriteGraphicFile(name, block, index, pagesToSave);
        if (block)
            GlobalFree(block);
        if (!block || !written)
            return false;
    }
    return true;
}
