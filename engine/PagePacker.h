// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Packing the pages a document leaves behind on a thread of its own, so that
// packing one page overlaps setting the next. A page handed over is parked
// at once; its packed form arrives when the packer gets to it, and any use
// of the page waits for that first. Bitmaps whose pages are packed come back
// as storage for new pages, so a few bitmaps take turns whatever the length of
// the document.
#pragma once

#include "Bitmap.h"
#include "PackStore.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace folio {

class PagePacker;

// One page's packing, shared by the page and the packer.
class PackJob {
  public:
    // Waits until the page is packed. On success `packed` holds the packed
    // form and the bitmap is gone; when there was no memory for the packed
    // form the bitmap is back in `bitmap`.
    void Wait();
    Bitmap bitmap;
    PackedBytes packed;
    bool coded = false; // `packed` holds the page's fax code (PagePacker::CodeAhead)
    bool failed = false;

  private:
    friend class PagePacker;
    struct Shared;
    std::shared_ptr<Shared> shared_;
    bool done_ = false;
};

class PagePacker {
  public:
    PagePacker();
    // Finishes the pages handed over, then stops the thread.
    ~PagePacker();
    PagePacker(const PagePacker&) = delete;
    PagePacker& operator=(const PagePacker&) = delete;

    // Hands `bitmap` over to be packed. Returns null, with the bitmap left
    // where it was, when no thread can be had: the caller then packs it.
    std::shared_ptr<PackJob> Submit(Bitmap& bitmap);
    // From now on pages are coded for the fax writer in `mode` at
    // `resolution` (tiflib32.h's TiflibCodePage) instead of packed; a page
    // that cannot be coded is packed.
    void CodeAhead(int mode, int resolution);
    // Pages handed over from now on are packed, not coded (their pixels are
    // still to change); CodeMode and CodeResolution stay, for the pages
    // coded before and for SaveFile to code the rest.
    void StopCodingAhead();
    bool CodesAhead() const { return codeMode_ >= 0; }
    int CodeMode() const { return codeMode_; }
    int CodeResolution() const { return codeResolution_; }

    // A bitmap for the next page: one whose page is packed, cleared to
    // white, or an empty bitmap while fewer than kBitmaps are handed over.
    // When five pages wait for the packer, packs the newest one here; waits
    // for a packing when kBitmaps are handed over.
    Bitmap TakeStorage();

  private:
    // Bitmaps handed over at most before TakeStorage waits for one back.
    // Six: a text page is set in about the time the packer codes one, some
    // pages faster, some slower, and a few pages of slack keep the packer
    // busy across them (with three, the setting thread coded a third of the
    // pages itself while the packer waited, and a 123-page document took
    // 77 ms instead of 66).
    static constexpr int kBitmaps = 6;
    void run();
    // Packs or codes `job` with the lock `hold` released, then completes it
    // under the lock again.
    void work(std::shared_ptr<PackJob> job, std::unique_lock<std::mutex>& hold);

    std::shared_ptr<PackJob::Shared> shared_;
    std::thread thread_;
    int codeMode_ = -1, codeResolution_ = 0;
};

} // namespace folio
