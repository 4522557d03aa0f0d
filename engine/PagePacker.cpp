// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The packer thread: takes jobs in order, packs each into the packed-page
// store and hands the bitmap back for reuse. One mutex guards the queue, the
// jobs' results and the bitmap waiting for reuse.
#include "PagePacker.h"

#include "PagePack.h"
#include "tiflib32.h"

#include <cstring>
#include <map>
#include <new>
#include <system_error>
#include <utility>

namespace folio {

struct PackJob::Shared {
    std::mutex lock;
    std::condition_variable changed;
    std::deque<std::shared_ptr<PackJob>> queue;
    std::vector<Bitmap> reusable; // packed pages' bitmaps, for the next pages
    int inFlight = 0;             // bitmaps handed over and not yet back
    int codeMode = -1, codeResolution = 0;
    bool stop = false;
    // Writing ahead (PagePacker::WriteAhead).
    struct Early {
        TiflibCodedPage page;
        std::vector<std::uint8_t> code;
    };
    std::string file;           // the fax file written ahead; empty: none
    bool ahead = false;         // pages still go out as they are coded
    bool writing = false;       // a thread is writing pages out, the lock released
    int handedOver = 0;         // pages handed over
    int written = 0;            // pages in the file
    std::map<int, Early> early; // pages coded before one before them
};

void PackJob::Wait() {
    std::unique_lock<std::mutex> hold(shared_->lock);
    shared_->changed.wait(hold, [this] { return done_; });
}

PagePacker::PagePacker() : shared_(std::make_shared<PackJob::Shared>()) {}

PagePacker::~PagePacker() {
    {
        std::lock_guard<std::mutex> hold(shared_->lock);
        shared_->stop = true;
    }
    shared_->changed.notify_all();
    if (thread_.joinable())
        thread_.join();
    // A document that never got to SaveFile (an error, a stop): its file,
    // never named, goes.
    if (!shared_->file.empty())
        DropFaxDocument(shared_->file.c_str());
}

std::shared_ptr<PackJob> PagePacker::Submit(Bitmap& bitmap) {
    if (!thread_.joinable()) {
        try {
            thread_ = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            NotHandedOver(); // parked here instead
            return nullptr;
        }
    }
    auto job = std::make_shared<PackJob>();
    job->shared_ = shared_;
    job->bitmap = std::move(bitmap);
    bitmap = Bitmap();
    {
        std::lock_guard<std::mutex> hold(shared_->lock);
        job->index = shared_->handedOver++;
        shared_->queue.push_back(job);
        ++shared_->inFlight;
    }
    shared_->changed.notify_all();
    return job;
}

void PagePacker::CodeAhead(int mode, int resolution) {
    codeMode_ = mode;
    codeResolution_ = resolution;
    std::lock_guard<std::mutex> hold(shared_->lock);
    shared_->codeMode = mode;
    shared_->codeResolution = resolution;
}

void PagePacker::WriteAhead(const std::string& name) {
    std::lock_guard<std::mutex> hold(shared_->lock);
    shared_->file = name;
    shared_->ahead = shared_->handedOver == 0;
}

void PagePacker::NotHandedOver() {
    std::lock_guard<std::mutex> hold(shared_->lock);
    shared_->ahead = false;
}

int PagePacker::StopWritingAhead(std::string& name) {
    PackJob::Shared& s = *shared_;
    std::unique_lock<std::mutex> hold(s.lock);
    s.ahead = false;
    s.changed.wait(hold, [&s] { return !s.writing; });
    s.early.clear();
    name = std::move(s.file);
    s.file.clear();
    return name.empty() ? -1 : s.written;
}

void PagePacker::writeOut(int index, const TiflibCodedPage& page,
                          std::unique_lock<std::mutex>& hold) {
    PackJob::Shared& s = *shared_;
    if (index != s.written || s.writing) {
        try {
            PackJob::Shared::Early& e = s.early[index];
            e.code.assign(page.code, page.code + page.bytes);
            e.page = page;
            e.page.code = e.code.data();
        } catch (const std::bad_alloc&) {
            s.ahead = false; // SaveFile writes the rest
        }
        return;
    }
    // This thread writes page `index` and those coded early after it; the
    // others keep theirs meanwhile. The name is read under the lock, and
    // stays while `writing` holds StopWritingAhead back.
    s.writing = true;
    const std::string file = s.file;
    TiflibCodedPage next = page;
    std::vector<std::uint8_t> held;
    for (;;) {
        hold.unlock();
        const bool ok = WriteCodedPageAhead(file.c_str(), &next, index) != 0;
        hold.lock();
        if (!ok) {
            // The writer dropped the document: SaveFile writes it whole.
            s.ahead = false;
            s.file.clear();
            s.early.clear();
            break;
        }
        index = ++s.written;
        const auto it = s.early.find(index);
        if (!s.ahead || it == s.early.end())
            break;
        held = std::move(it->second.code);
        next = it->second.page;
        next.code = held.data();
        s.early.erase(it);
    }
    s.writing = false;
    s.changed.notify_all();
}

void PagePacker::StopCodingAhead() {
    std::lock_guard<std::mutex> hold(shared_->lock);
    shared_->codeMode = -1;
}

Bitmap PagePacker::TakeStorage() {
    PackJob::Shared& s = *shared_;
    std::unique_lock<std::mutex> hold(s.lock);
    // Where coding a page takes longer than setting one (pictures, dense
    // pages), the packer falls behind: once five pages wait for it, this
    // thread codes the newest one itself, so that both threads code and the
    // packer still has the others to go on with.
    while (s.reusable.empty() && s.queue.size() >= 5) {
        std::shared_ptr<PackJob> job = std::move(s.queue.back());
        s.queue.pop_back();
        work(std::move(job), hold);
    }
    s.changed.wait(hold, [&s] { return !s.reusable.empty() || s.inFlight < kBitmaps; });
    if (s.reusable.empty())
        return Bitmap();
    Bitmap storage = std::move(s.reusable.back());
    s.reusable.pop_back();
    return storage;
}

void PagePacker::run() {
    PackJob::Shared& s = *shared_;
    std::unique_lock<std::mutex> hold(s.lock);
    for (;;) {
        s.changed.wait(hold, [&s] { return s.stop || !s.queue.empty(); });
        if (s.queue.empty())
            return; // stopped, and nothing left
        std::shared_ptr<PackJob> job = std::move(s.queue.front());
        s.queue.pop_front();
        work(std::move(job), hold);
    }
}

void PagePacker::work(std::shared_ptr<PackJob> job, std::unique_lock<std::mutex>& hold) {
    PackJob::Shared& s = *shared_;
    const int codeMode = s.codeMode, codeResolution = s.codeResolution;
    hold.unlock();
    PackedBytes packed;
    bool failed = false, coded = false;
    const Bitmap& page = job->bitmap;
    TiflibCodedPage code;
    try {
        if (codeMode >= 0 &&
            TiflibCodePage(page.Bits(), page.Stride(), unsigned(page.Width()),
                           unsigned(page.Height()), codeMode, codeResolution, &code)) {
            packed = PackedBytes::Copy({code.code, code.bytes});
            coded = true;
        }
    } catch (const std::bad_alloc&) {
        // packed instead, below
    }
    try {
        if (!coded)
            packed = PackedBytes::Copy(PackPageInPlace(page));
    } catch (const std::bad_alloc&) {
        failed = true; // the page keeps its bitmap: correct, only larger
    }
    // Cleared here for the page that takes it, off that page's thread.
    if (!failed)
        std::memset(job->bitmap.Bits(), 0, job->bitmap.ByteCount());
    hold.lock();
    // The code is still this thread's (TiflibCodePage's buffer).
    if (s.ahead) {
        if (coded)
            writeOut(job->index, code, hold);
        else
            s.ahead = false; // packed: SaveFile codes it, and writes the rest
    }
    job->packed = std::move(packed);
    job->coded = coded;
    job->failed = failed;
    job->done_ = true;
    --s.inFlight;
    if (!failed) {
        if (int(s.reusable.size()) < kBitmaps)
            s.reusable.push_back(std::move(job->bitmap));
        job->bitmap = Bitmap();
    }
    s.changed.notify_all();
}

} // namespace folio
