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
#include "tiflib32.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
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
    int index = 0; // pages handed over before this one

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

    // From now on each page coded here is also written to the fax file
    // `name`, which tiflib's BeginCodedDocument has started, as soon as it
    // and every page before it are coded: a long document's file is then
    // written while its later pages are set, rather than all of it after
    // the last. Called before the first page is handed over. Writing ahead
    // stops for good at the first page handed over that is not coded (one
    // packed instead, or set again), or that is parked without the packer.
    void WriteAhead(const std::string& name);
    // Stops writing ahead once the page being written is out. Returns the
    // pages in the file (the first ones), or -1 when there is no file being
    // written ahead (none was begun, or a failed write dropped it). The file
    // is then the caller's to finish (FinishCodedDocument) or drop; until
    // this is called the packer drops it when it is destroyed.
    int StopWritingAhead(std::string& name);
    // A page was parked without being handed over: writing ahead stops.
    void NotHandedOver();
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
    // With the lock held: writes page `index`, whose code is `page`, to the
    // file written ahead when every page before it is there (then the pages
    // coded early that follow it), else keeps a copy for later.
    void writeOut(int index, const TiflibCodedPage& page, std::unique_lock<std::mutex>& hold);

    std::shared_ptr<PackJob::Shared> shared_;
    std::thread thread_;
    int codeMode_ = -1, codeResolution_ = 0;
};

} // namespace folio
