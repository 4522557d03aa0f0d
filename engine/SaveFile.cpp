// Saving: each page in use becomes a 1-bit packed DIB (rows bottom-up, a set
// bit black) handed to the TIFF writer, one block at a time, so a document
// of any length needs the memory of two page blocks.
#include "FaxImage.h"

#include "PackedDib.h"
#include "PagePacker.h"
#include "tiflib32.h"

#include <cstring>
#include <memory>

namespace {

// A page block and the size it was made for.
struct PageBlock {
    HGLOBAL block = nullptr;
    int width = 0;
    int height = 0;
    bool filled = false;

    void release() {
        if (block)
            GlobalFree(block);
        block = nullptr;
    }

    // Reads `page` into the block, made anew when the size differs. A page
    // over 65535 pixels a side (more than a packed DIB describes) leaves it
    // unfilled, as does a block that cannot be had.
    void fill(const PageImage& page) {
        static const PaletteTriple kBlackWhite[2] = {{0, 0, 0}, {255, 255, 255}};
        filled = false;
        const int w = page.Width(), h = page.Height();
        if (block && (w != width || h != height))
            release();
        if (!block && w > 0 && h > 0 && w <= 0xFFFF && h <= 0xFFFF) {
            block = folio::PackDib(WORD(w), WORD(h), kBlackWhite, 1);
            width = w;
            height = h;
        }
        if (!block)
            return;
        auto* bytes = static_cast<std::uint8_t*>(GlobalLock(block));
        if (!bytes)
            return;
        BITMAPINFOHEADER header;
        std::memcpy(&header, bytes, sizeof header);
        // The block's rows are bottom-up; the page's bits are read as they
        // are (a set bit black), which is the block's colour table inverted,
        // padding bits set as that inversion leaves them.
        const DWORD stride = folio::DibRowStride(header.biWidth, 1);
        std::uint8_t* pixels = bytes + header.biSize + 4 * header.biClrUsed;
        page.ReadRows(pixels + std::size_t(h - 1) * stride, -std::ptrdiff_t(stride), true);
        GlobalUnlock(block);
        filled = true;
    }
};

} // namespace

bool FaxImage::SaveFile(char* name) {
#if FOLIO_PROGRAM_VARIANT
    const int pagesToSave = PageCount;
#else
    const int pagesToSave = Pages->Cardinal();
#endif
    // Two blocks take turns: while the writer codes one page, the packer's
    // thread reads the next page into the other block. Each page is read in
    // whole (every byte of the pixel area is written). Without that thread
    // the next page is read after the writer has returned.
    PageBlock blocks[2];
    auto releaseAll = [&] {
        blocks[0].release();
        blocks[1].release();
    };
    if (pagesToSave > 1 && !packer_)
        packer_ = std::make_unique<folio::PagePacker>();
    Link* l = Pages->First();
    if (l && pagesToSave > 0)
        blocks[0].fill(static_cast<FaxPage*>(l)->PageImage);
    for (int index = 0; l && index < pagesToSave; l = l->Suc(), ++index) {
        PageBlock& current = blocks[index % 2];
        PageBlock& next = blocks[(index + 1) % 2];
        Link* following = index + 1 < pagesToSave ? l->Suc() : nullptr;
        std::shared_ptr<folio::PackJob> ahead;
        if (following && packer_) {
            const PageImage& page = static_cast<FaxPage*>(following)->PageImage;
            ahead = packer_->Run([&next, &page] { next.fill(page); });
        }
        // Without a block the writer is still told, so that it drops the
        // document it has begun and leaves the old file in place.
        const int written =
            WriteGraphicFile(name, current.filled ? current.block : nullptr, index, pagesToSave);
        if (ahead) {
            ahead->Wait();
            if (ahead->failed)
                next.filled = false;
        } else if (following && current.filled && written) {
            next.fill(static_cast<FaxPage*>(following)->PageImage);
        }
        if (!current.filled || !written) {
            releaseAll();
            return false;
        }
    }
    releaseAll();
    return true;
}
