// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The C entry points of libtiflib32.so. Open documents are kept by file name,
// each behind its own mutex, so several documents can be written at once from
// different threads while calls for one document stay in order. Every failure
// drops the document of that name; nothing thrown inside leaves these calls.
#include "tiflib32.h"

#include "CodingHelper.h"
#include "FaxDocument.h"
#include "G3Encoder.h"
#include "G3TwoDEncoder.h"
#include "G4Encoder.h"
#include "GlobalMemory.h"
#include "OutputFile.h"
#include "PageBlock.h"
#include "RowMerge.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace {

using folio::tiflib::FaxCoding;
using folio::tiflib::FaxDocument;
using folio::tiflib::FaxResolution;

std::atomic<int> gCoding{TIFLIB_FAX_G3_1D};

thread_local std::string tLastError;
// Settings of the calling thread for the documents it starts.
thread_local int tResolution = TIFLIB_FAX_FINE;
// -1: the process-wide coding.
thread_local int tCoding = -1;
thread_local folio::tiflib::PageCopy tPageCopy;

struct OpenDocument {
    std::mutex mutex;
    std::unique_ptr<FaxDocument> doc; // null once finished or dropped
};

// Documents in progress by file name. The registry's mutex is never held while
// waiting for a document's mutex, except for a document just made and not yet
// visible to anyone else, so the two cannot deadlock.
class Registry {
  public:
    std::shared_ptr<OpenDocument> find(const std::string& name) {
        std::lock_guard lock(mutex_);
        auto it = open_.find(name);
        return it == open_.end() ? nullptr : it->second;
    }

    // Puts `fresh` under `name`, returning the document it replaces.
    std::shared_ptr<OpenDocument> replace(const std::string& name,
                                          std::shared_ptr<OpenDocument> fresh) {
        std::lock_guard lock(mutex_);
        std::shared_ptr<OpenDocument>& slot = open_[name];
        std::shared_ptr<OpenDocument> old = std::move(slot);
        slot = std::move(fresh);
        return old;
    }

    // Removes `entry` if it is still the document of `name`.
    void remove(const std::string& name, const std::shared_ptr<OpenDocument>& entry) {
        std::lock_guard lock(mutex_);
        auto it = open_.find(name);
        if (it != open_.end() && it->second == entry)
            open_.erase(it);
    }

    std::shared_ptr<OpenDocument> take(const std::string& name) {
        std::lock_guard lock(mutex_);
        auto it = open_.find(name);
        if (it == open_.end())
            return nullptr;
        std::shared_ptr<OpenDocument> entry = std::move(it->second);
        open_.erase(it);
        return entry;
    }

    // At exit, documents never completed remove their temporary files.
    ~Registry() {
        for (auto& [name, entry] : open_) {
            std::lock_guard lock(entry->mutex);
            entry->doc.reset();
        }
    }

  private:
    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<OpenDocument>> open_;
};

Registry& registry() {
    static Registry r;
    return r;
}

void dropDocument(const std::string& name) {
    if (std::shared_ptr<OpenDocument> entry = registry().take(name)) {
        std::lock_guard lock(entry->mutex);
        entry->doc.reset();
    }
}

// Closes the document of the locked `entry` (dropping its file if it was not
// finished) and forgets it.
void closeEntry(const std::string& name, const std::shared_ptr<OpenDocument>& entry) {
    entry->doc.reset();
    registry().remove(name, entry);
}

bool fail(std::string text) {
    tLastError = std::move(text);
    return false;
}

FaxCoding codingFor(int mode) {
    switch (mode) {
    case TIFLIB_FAX_G3_2D:
        return FaxCoding::G3TwoD;
    case TIFLIB_FAX_G4:
        return FaxCoding::G4;
    case TIFLIB_FAX_G3_1D_REFERENCE:
        return FaxCoding::G3OneDReference;
    case TIFLIB_FAX_G3_2D_REFERENCE:
        return FaxCoding::G3TwoDReference;
    case TIFLIB_FAX_G4_REFERENCE:
        return FaxCoding::G4Reference;
    default:
        return FaxCoding::G3OneD;
    }
}

// Adds the page to the locked document with `add(doc, error)` and completes
// the document after the last page. On failure the document is dropped.
template <class Add>
bool writeLocked(const std::string& name, const std::shared_ptr<OpenDocument>& entry, Add& add) {
    std::string error;
    FaxDocument& doc = *entry->doc;
    bool ok = add(doc, error);
    bool last = ok && doc.nextIndex() == doc.count();
    if (last)
        ok = doc.Finish(error);
    if (!ok || last)
        closeEntry(name, entry);
    return ok || fail(error);
}

// Checks the name and the page's place; false, with the document of that name
// dropped, when they are wrong.
bool checkPlace(const char* fileName, int index, int count) {
    if (!fileName || !*fileName)
        return fail("no file name");
    if (count <= 0 || index < 0 || index >= count) {
        dropDocument(fileName);
        return fail("page " + std::to_string(index) + " of " + std::to_string(count) +
                    " is out of range");
    }
    if (count > int(folio::tiflib::kMaxPageSide)) {
        // The TIFF page number holds 16 bits.
        dropDocument(fileName);
        return fail("more than 65535 pages in one document");
    }
    return true;
}

// Starts the document of `name` anew, for `count` pages (0: a count given at
// the end), in `coding` at `resolution`, in place of any of that name; the
// entry comes back locked by `lock`, or null with the reason kept.
std::shared_ptr<OpenDocument> startDocument(const std::string& name, int count, FaxCoding coding,
                                            FaxResolution resolution,
                                            std::unique_lock<std::mutex>& lock) {
    auto fresh = std::make_shared<OpenDocument>();
    lock = std::unique_lock(fresh->mutex);
    if (std::shared_ptr<OpenDocument> old = registry().replace(name, fresh)) {
        std::lock_guard oldLock(old->mutex);
        old->doc.reset();
    }
    std::string error;
    fresh->doc = FaxDocument::Start(name, count, coding, error);
    if (!fresh->doc) {
        registry().remove(name, fresh);
        fail(error);
        return nullptr;
    }
    fresh->doc->SetResolution(resolution);
    fresh->doc->SetPageCopy(tPageCopy);
    return fresh;
}

// Writes page `index` of `count` with `add`: index 0 starts the document
// anew in `coding` at `resolution`; a later page must find the document
// waiting for it, and `fits(doc)` true.
template <class Fits, class Add>
bool writeDocumentPage(const std::string& name, int index, int count, FaxCoding coding,
                       FaxResolution resolution, Fits&& fits, Add&& add) {
    if (index == 0) {
        std::unique_lock<std::mutex> freshLock;
        const std::shared_ptr<OpenDocument> fresh =
            startDocument(name, count, coding, resolution, freshLock);
        return fresh && writeLocked(name, fresh, add);
    }

    std::shared_ptr<OpenDocument> entry = registry().find(name);
    if (!entry)
        return fail("page " + std::to_string(index) + " of a document that was not started");
    std::unique_lock entryLock(entry->mutex);
    if (!entry->doc)
        return fail("page " + std::to_string(index) + " of a document that was not started");
    if (entry->doc->count() != count || entry->doc->nextIndex() != index) {
        std::string text = "page " + std::to_string(index) + " of " + std::to_string(count) +
                           " where page " + std::to_string(entry->doc->nextIndex()) + " of " +
                           std::to_string(entry->doc->count()) + " was due";
        closeEntry(name, entry);
        return fail(text);
    }
    if (!fits(*entry->doc)) {
        closeEntry(name, entry);
        return fail("page " + std::to_string(index) +
                    " is coded otherwise than the document's pages before it");
    }
    return writeLocked(name, entry, add);
}

FaxResolution resolutionFor(int value) {
    return value == TIFLIB_FAX_NORMAL ? FaxResolution::Normal : FaxResolution::Fine;
}

bool writePage(const char* fileName, HGLOBAL block, int index, int count) {
    if (!checkPlace(fileName, index, count))
        return false;
    const std::string name(fileName);

    // The block is checked, and stays locked, before the document is touched.
    const SIZE_T size = GlobalSize(block);
    folio::GlobalLockGuard lock(size ? block : nullptr);
    folio::tiflib::PageView page;
    const char* refused = lock ? folio::tiflib::ReadPageBlock(lock.data(), size, page)
                               : "page block is not a valid memory block";
    if (refused) {
        dropDocument(name);
        return fail(refused);
    }
    return writeDocumentPage(
        name, index, count, codingFor(tCoding >= 0 ? tCoding : gCoding.load()),
        resolutionFor(tResolution), [](const FaxDocument&) { return true; },
        [&page](FaxDocument& doc, std::string& error) { return doc.AddPage(page, error); });
}

// The codings our own coders make, the ones a page can be coded ahead in.
bool codesAhead(int mode) {
    return mode == TIFLIB_FAX_G3_1D || mode == TIFLIB_FAX_G3_2D || mode == TIFLIB_FAX_G4;
}

bool validCode(const TiflibCodedPage* page) {
    return page && page->width >= 1 && page->width <= folio::tiflib::kMaxPageSide &&
           page->height >= 1 && page->height <= folio::tiflib::kMaxPageSide &&
           codesAhead(page->mode) &&
           (page->resolution == TIFLIB_FAX_FINE || page->resolution == TIFLIB_FAX_NORMAL) &&
           page->code && page->bytes > 0;
}

// The rows a coded page has in the file: a normal-resolution page's rows are
// merged in pairs.
std::uint32_t codedRows(const TiflibCodedPage& page) {
    return page.resolution == TIFLIB_FAX_NORMAL ? folio::tiflib::MergedRows(page.height)
                                                : page.height;
}

bool writeCodedPage(const char* fileName, const TiflibCodedPage* page, int index, int count) {
    if (!checkPlace(fileName, index, count))
        return false;
    const std::string name(fileName);
    if (!validCode(page)) {
        dropDocument(name);
        return fail("not a page coded by TiflibCodePage");
    }
    const FaxCoding coding = codingFor(page->mode);
    const FaxResolution resolution = resolutionFor(page->resolution);
    const std::uint32_t rows = codedRows(*page);
    return writeDocumentPage(
        name, index, count, coding, resolution,
        [&](const FaxDocument& doc) {
            return doc.coding() == coding && doc.resolution() == resolution;
        },
        [&](FaxDocument& doc, std::string& error) {
            return doc.AddCodedPage(page->width, rows, page->code, page->bytes, error);
        });
}

// A document written as its pages are coded, its count given at the end.
bool beginCoded(const char* fileName, int mode, int resolution) {
    if (!fileName || !*fileName)
        return fail("no file name");
    const std::string name(fileName);
    if (!codesAhead(mode) || (resolution != TIFLIB_FAX_FINE && resolution != TIFLIB_FAX_NORMAL)) {
        dropDocument(name);
        return fail("a coding or resolution that pages cannot be coded ahead in");
    }
    std::unique_lock<std::mutex> freshLock;
    return startDocument(name, 0, codingFor(mode), resolutionFor(resolution), freshLock) != nullptr;
}

// The document of `name` started by beginCoded, locked; null (with the
// reason kept) when there is none.
std::shared_ptr<OpenDocument> openCoded(const std::string& name,
                                        std::unique_lock<std::mutex>& lock) {
    std::shared_ptr<OpenDocument> entry = registry().find(name);
    if (entry)
        lock = std::unique_lock(entry->mutex);
    if (!entry || !entry->doc || entry->doc->count() != 0) {
        fail("a document that was not started");
        return nullptr;
    }
    return entry;
}

bool writeCodedAhead(const char* fileName, const TiflibCodedPage* page, int index) {
    if (!fileName || !*fileName)
        return fail("no file name");
    const std::string name(fileName);
    std::unique_lock<std::mutex> lock;
    const std::shared_ptr<OpenDocument> entry = openCoded(name, lock);
    if (!entry)
        return false;
    FaxDocument& doc = *entry->doc;
    std::string error;
    bool ok = false;
    if (!validCode(page) || codingFor(page->mode) != doc.coding() ||
        resolutionFor(page->resolution) != doc.resolution())
        error = "page " + std::to_string(index) + " is not coded as the document's pages";
    else if (index != doc.nextIndex())
        error = "page " + std::to_string(index) + " where page " + std::to_string(doc.nextIndex()) +
                " was due";
    else
        ok = doc.AddCodedPage(page->width, codedRows(*page), page->code, page->bytes, error);
    if (!ok) {
        closeEntry(name, entry);
        return fail(error);
    }
    return true;
}

bool finishCoded(const char* fileName, int count) {
    if (!fileName || !*fileName)
        return fail("no file name");
    const std::string name(fileName);
    std::unique_lock<std::mutex> lock;
    const std::shared_ptr<OpenDocument> entry = openCoded(name, lock);
    if (!entry)
        return false;
    std::string error;
    const bool ok = entry->doc->FinishOpen(count, error);
    closeEntry(name, entry);
    return ok || fail(error);
}

bool codePage(const unsigned char* top, std::ptrdiff_t step, unsigned width, unsigned height,
              int mode, int resolution, TiflibCodedPage* result) {
    using namespace folio::tiflib;
    if (!top || !result || width < 1 || width > kMaxPageSide || height < 1 ||
        height > kMaxPageSide || !codesAhead(mode) ||
        (resolution != TIFLIB_FAX_FINE && resolution != TIFLIB_FAX_NORMAL))
        return fail("a page that cannot be coded ahead");
    PageView page;
    page.width = width;
    page.height = height;
    page.top = top;
    page.step = step;
    page.rowBytes = (std::size_t(width) + 31) / 32 * 4;
    // Kept by the thread from page to page, so that neither buffer is fresh
    // memory the system clears again at every page.
    thread_local std::vector<std::uint8_t> merged, code;
    if (resolution == TIFLIB_FAX_NORMAL)
        page = MergeRowPairs(page, merged);
    CodeAlone alone;
    switch (mode) {
    case TIFLIB_FAX_G3_2D:
        EncodeG3TwoD(page, RowsPerGroup(resolutionFor(resolution)), code);
        break;
    case TIFLIB_FAX_G4:
        EncodeG4(page, code);
        break;
    default:
        EncodeG3OneD(page, code);
        break;
    }
    *result = TiflibCodedPage{width, height, mode, resolution, code.data(), code.size()};
    return true;
}

// Runs the work of one C entry point: 1 on success, 0 on failure with the
// reason kept for TiflibLastError. Only allocation throws; the document
// `name` (when not null) it hit may be half written, so it is dropped.
template <typename Work> int guardedCall(const char* name, Work work) {
    try {
        tLastError.clear();
        return work() ? 1 : 0;
    } catch (const std::exception& e) {
        try {
            if (name)
                dropDocument(name);
            tLastError = e.what();
        } catch (...) {
        }
    } catch (...) {
    }
    return 0;
}

} // namespace

extern "C" {

int WriteGraphicFile(const char* name, HGLOBAL block, int index, int count) {
    return guardedCall(name, [&] { return writePage(name, block, index, count); });
}

int SetFaxCompression(int mode) {
    switch (mode) {
    case TIFLIB_FAX_G3_1D:
    case TIFLIB_FAX_G3_2D:
    case TIFLIB_FAX_G4:
    case TIFLIB_FAX_G3_1D_REFERENCE:
    case TIFLIB_FAX_G3_2D_REFERENCE:
    case TIFLIB_FAX_G4_REFERENCE:
        gCoding.store(mode);
        return 1;
    default:
        return 0;
    }
}

int GetFaxCompression(void) {
    return gCoding.load();
}

int SetFaxThreadCompression(int mode) {
    if (mode == -1) {
        tCoding = -1;
        return 1;
    }
    switch (mode) {
    case TIFLIB_FAX_G3_1D:
    case TIFLIB_FAX_G3_2D:
    case TIFLIB_FAX_G4:
    case TIFLIB_FAX_G3_1D_REFERENCE:
    case TIFLIB_FAX_G3_2D_REFERENCE:
    case TIFLIB_FAX_G4_REFERENCE:
        tCoding = mode;
        return 1;
    default:
        return 0;
    }
}

int SetFaxResolution(int resolution) {
    if (resolution != TIFLIB_FAX_FINE && resolution != TIFLIB_FAX_NORMAL)
        return 0;
    tResolution = resolution;
    return 1;
}

int GetFaxResolution(void) {
    return tResolution;
}

void SetFaxPageCopy(TiflibPageCopy copy, void* context) {
    tPageCopy.send = copy;
    tPageCopy.context = copy ? context : nullptr;
}

int SetFaxFolderSync(int sync) {
    return folio::OutputFile::SetThreadFolderSync(sync != 0) ? 1 : 0;
}

int TiflibCodePage(const unsigned char* top, ptrdiff_t step, unsigned width, unsigned height,
                   int mode, int resolution, TiflibCodedPage* page) {
    return guardedCall(nullptr,
                       [&] { return codePage(top, step, width, height, mode, resolution, page); });
}

int WriteCodedPage(const char* name, const TiflibCodedPage* page, int index, int count) {
    return guardedCall(name, [&] { return writeCodedPage(name, page, index, count); });
}

int BeginCodedDocument(const char* name, int mode, int resolution) {
    return guardedCall(name, [&] { return beginCoded(name, mode, resolution); });
}

int WriteCodedPageAhead(const char* name, const TiflibCodedPage* page, int index) {
    return guardedCall(name, [&] { return writeCodedAhead(name, page, index); });
}

int FinishCodedDocument(const char* name, int count) {
    return guardedCall(name, [&] { return finishCoded(name, count); });
}

void DropFaxDocument(const char* name) {
    guardedCall(nullptr, [&] {
        if (name && *name)
            dropDocument(name);
        return true;
    });
}

const char* TiflibLastError(void) {
    return tLastError.c_str();
}

} // extern "C"
