// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The C entry points of libfoliolib.so: BuildFax, also exported as
// _BuildFax, with the C calling convention and a one-byte boolean result;
// BuildFaxWithOptions; the builds from memory to memory, BuildFaxInMemory
// and BuildFaxPageBitmap, and FolioBufferFree; BuildFaxPageBitmaps and
// FolioStopBuild.
#include "foliolib.h"

#include "BaseFolder.h"
#include "CodePage.h"
#include "Diagnostics.h"
#include "FaxImage.h"
#include "FaxPage.h"
#include "Fields.h"
#include "IncludeRoot.h"
#include "JsonRecord.h"
#include "MacroRunner.h"
#include "PipeCapture.h"
#include "tiflib32.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {
thread_local std::string tLastError;

// What a macro held in memory is called in errors and diagnostics when the
// client gives it no name.
constexpr const char* kMemoryMacro = "<macro>";

// The longest FolioBuildOptions.fields text read, in bytes: a record, not a
// data file.
constexpr std::size_t kMaxFieldsBytes = std::size_t(64) << 20;

// Hands the engine's diagnostics to the client's callback.
class CallbackSink : public folio::DiagnosticSink {
  public:
    CallbackSink(const char* file, void (*callback)(void*, const FolioDiagnostic*), void* context)
        : file_(file), callback_(callback), context_(context) {}
    void Report(const folio::Diagnostic& d) override {
        FolioDiagnostic out{file_, d.line, int(d.severity), d.kind, d.message.c_str()};
        callback_(context_, &out);
    }

  private:
    const char* file_;
    void (*callback_)(void*, const FolioDiagnostic*);
    void* context_;
};

class NullSink : public folio::DiagnosticSink {
  public:
    void Report(const folio::Diagnostic&) override {}
};

// FolioBuildOptions as the 1.0 header declared it: the fields up to
// `strict`. Its tail padding is where 1.1 put `coding`, so a 1.0 caller's
// bytes there are whatever its compiler left (often not zero).
struct OptionsOf1_0 {
    unsigned size;
    int resolution;
    const char* pdfFile;
    void (*diagnostic)(void*, const FolioDiagnostic*);
    void* diagnosticContext;
    int strict;
};
// 1.1 added the fields up to `macroName` (spelled out: a derived structure
// would not reuse the tail padding where 1.1 put `coding`).
struct OptionsOf1_1 {
    unsigned size;
    int resolution;
    const char* pdfFile;
    void (*diagnostic)(void*, const FolioDiagnostic*);
    void* diagnosticContext;
    int strict;
    int coding;
    const char* includeRoot;
    const char* baseDir;
    int codePage;
    const char* macroName;
};
// 1.2 added `pageSize`, `fields`, `maxPages` and `timeLimitMs`; its
// header had the first two alone for a while (88 bytes on LP64), which
// stays a 1.2 size. A release that adds fields lists its size here too, and
// older ones stay.
constexpr std::size_t kSizeOf1_0 = sizeof(OptionsOf1_0);
constexpr std::size_t kEndOf1_0 = offsetof(OptionsOf1_0, strict) + sizeof(int);
constexpr std::size_t kSizeOf1_1 = sizeof(OptionsOf1_1);
constexpr std::size_t kSizeOf1_2 = sizeof(FolioBuildOptions);
constexpr std::size_t kSizeOf1_2Early = offsetof(FolioBuildOptions, maxPages);
static_assert(offsetof(FolioBuildOptions, strict) == offsetof(OptionsOf1_0, strict));
static_assert(offsetof(FolioBuildOptions, coding) >= kEndOf1_0);
static_assert(offsetof(FolioBuildOptions, macroName) == offsetof(OptionsOf1_1, macroName));
// 1.1's structure ended with its last pointer: `pageSize` lies past it.
static_assert(offsetof(FolioBuildOptions, pageSize) >= kSizeOf1_1);
static_assert(offsetof(FolioBuildOptions, fields) > offsetof(FolioBuildOptions, pageSize));
static_assert(kSizeOf1_2Early > kSizeOf1_1 && kSizeOf1_2 > kSizeOf1_2Early);

// The bytes of the client's structure that hold fields of its release:
// 0 for a size that no release's header ever gave the structure.
std::size_t fieldBytes(unsigned size) {
    if (size == kEndOf1_0 || size == kSizeOf1_0)
        return kEndOf1_0;
    if (size == kSizeOf1_1 || size == kSizeOf1_2Early || size == kSizeOf1_2)
        return size;
    return 0;
}

// Whether the client's release has `field`, given fieldBytes.
#define HAS_FIELD(bytes, field)                                                                    \
    ((bytes) >= offsetof(FolioBuildOptions, field) + sizeof(FolioBuildOptions::field))

static_assert(int(folio::Severity::Note) == FOLIO_NOTE &&
              int(folio::Severity::Warning) == FOLIO_WARNING &&
              int(folio::Severity::Error) == FOLIO_ERROR);

// The tiflib coding for a client's `coding`; -1 for the process-wide one,
// -2 for a value no release defined.
int tiflibCoding(int coding) {
    switch (coding) {
    case FOLIO_CODING_DEFAULT:
        return -1;
    case FOLIO_CODING_G3:
        return TIFLIB_FAX_G3_1D;
    case FOLIO_CODING_G3_2D:
        return TIFLIB_FAX_G3_2D;
    case FOLIO_CODING_G4:
        return TIFLIB_FAX_G4;
    default:
        return -2;
    }
}

// A client's options turned into the runner's, with the gates and the
// diagnostic sink they need; lives as long as the build.
class Build {
  public:
    // False, with tLastError set, for options that cannot be used.
    // `file` names the macro file; null for a macro in memory.
    bool Read(const FolioBuildOptions* options, const char* file) {
        name_ = file ? file : kMemoryMacro;
        if (!options)
            return finish();
        const std::size_t bytes = fieldBytes(options->size);
        if (bytes == 0)
            return fail("FolioBuildOptions.size " + std::to_string(options->size) +
                        " is no release's size of the structure (" + std::to_string(kSizeOf1_0) +
                        " for 1.0, " + std::to_string(kSizeOf1_1) + " for 1.1, " +
                        std::to_string(kSizeOf1_2) +
                        " for 1.2 and later): set it to sizeof(FolioBuildOptions)");
        build.resolution = options->resolution;
        if (options->pdfFile)
            build.pdfFile = options->pdfFile;
        callback_ = options->diagnostic;
        context_ = options->diagnosticContext;
        build.strict = options->strict != 0;
        if (HAS_FIELD(bytes, coding)) {
            build.coding = tiflibCoding(options->coding);
            if (build.coding == -2)
                return fail("unknown coding " + std::to_string(options->coding));
        }
        if (HAS_FIELD(bytes, codePage)) {
            if (options->codePage < 0 || options->codePage > 0xFFFF)
                return fail("code page " + std::to_string(options->codePage) + " is out of range");
            // The same test as the CODEPAGE command's, which warns where an
            // option can refuse.
            if (!folio::IsCodePageSupported(std::uint16_t(options->codePage)))
                return fail("unknown code page " + std::to_string(options->codePage));
            build.codePage = std::uint16_t(options->codePage);
        }
        if (HAS_FIELD(bytes, pageSize)) {
            // MacroRunner refuses the numbers no release defined.
            static_assert(FOLIO_PAGE_A4 == int(FaxImage::PageSize::A4) &&
                          FOLIO_PAGE_LETTER == int(FaxImage::PageSize::Letter) &&
                          FOLIO_PAGE_LEGAL == int(FaxImage::PageSize::Legal) &&
                          FOLIO_PAGE_DEFAULT == int(FaxImage::PageSize::Default));
            build.pageSize = options->pageSize;
        }
        if (HAS_FIELD(bytes, fields) && options->fields && !readFields(options->fields))
            return false;
        if (HAS_FIELD(bytes, maxPages)) {
            if (options->maxPages < 0)
                return fail("maxPages " + std::to_string(options->maxPages) + " is negative");
            build.maxPages = options->maxPages;
        }
        if (HAS_FIELD(bytes, timeLimitMs)) {
            if (options->timeLimitMs < 0)
                return fail("timeLimitMs " + std::to_string(options->timeLimitMs) +
                            " is negative");
            build.timeLimitMs = options->timeLimitMs;
        }
        if (HAS_FIELD(bytes, macroName) && options->macroName && !file)
            name_ = options->macroName;
        std::string base, error;
        if (HAS_FIELD(bytes, baseDir) && options->baseDir && *options->baseDir) {
            base = options->baseDir;
            if (!(baseFolder_ = folio::BaseFolder::Create(base, error)))
                return fail(error);
            build.fileGate = baseFolder_.get();
        }
        if (HAS_FIELD(bytes, includeRoot) && options->includeRoot) {
            // Refusals reach the client as diagnostics, with their line.
            if (!folio::IncludeRoot::Create(options->includeRoot, nullptr, root_, error, base))
                return fail(error);
            build.fileGate = &root_;
        }
        return finish();
    }

    const char* Name() const { return name_.c_str(); }
    folio::BuildOptions build;

  private:
    bool finish() {
        sink_ = std::make_unique<CallbackSink>(name_.c_str(), callback_, context_);
        // Strict builds count warnings even when nobody listens.
        build.diagnostics = callback_      ? static_cast<folio::DiagnosticSink*>(sink_.get())
                            : build.strict ? &quiet_
                                           : nullptr;
        return true;
    }
    static bool fail(std::string why) {
        tLastError = std::move(why);
        return false;
    }
    // The record of a template build; the filler reports through the
    // engine's diagnostics like any other line.
    bool readFields(const char* json) {
        const std::string_view text(json, ::strnlen(json, kMaxFieldsBytes + 1));
        if (text.size() > kMaxFieldsBytes)
            return fail("fields: not a JSON object: longer than " +
                        std::to_string(kMaxFieldsBytes >> 20) + " MiB");
        std::string detail;
        switch (folio::ReadJsonRecord(text, record_, detail)) {
        case folio::JsonRecordFault::None:
            break;
        case folio::JsonRecordFault::NotObject:
            return fail("fields: not a JSON object: it is " + (detail == "null" ? detail
                                                               : detail == "array"
                                                                   ? "an " + detail
                                                                   : "a " + detail));
        default:
            return fail("fields: not a JSON object: " + detail);
        }
        filler_ = std::make_unique<folio::FieldFiller>(record_);
        build.lineFilter = filler_.get();
        return true;
    }

    std::string name_;
    void (*callback_)(void*, const FolioDiagnostic*) = nullptr;
    void* context_ = nullptr;
    std::unique_ptr<CallbackSink> sink_;
    NullSink quiet_;
    std::unique_ptr<folio::BaseFolder> baseFolder_;
    folio::IncludeRoot root_;
    folio::Record record_;
    std::unique_ptr<folio::FieldFiller> filler_;
};

// Hands `bytes` to the client as a buffer of its own (malloc'd).
bool giveBuffer(const std::string& bytes, FolioBuffer* to) {
    void* data = std::malloc(bytes.empty() ? 1 : bytes.size());
    if (!data) {
        tLastError = "out of memory";
        return false;
    }
    if (!bytes.empty())
        std::memcpy(data, bytes.data(), bytes.size());
    to->data = static_cast<unsigned char*>(data);
    to->size = bytes.size();
    return true;
}

bool buildInMemory(const char* macro, size_t length, const FolioBuildOptions* options,
                   FolioBuffer* tiff, FolioBuffer* pdf) {
    if (tiff)
        *tiff = FolioBuffer{nullptr, 0};
    if (pdf)
        *pdf = FolioBuffer{nullptr, 0};
    Build b;
    if (!b.Read(options, nullptr))
        return false;
    if (!b.build.pdfFile.empty()) {
        tLastError = "FolioBuildOptions.pdfFile is not used here: the PDF comes back in `pdf`";
        return false;
    }
    if (pdf && !tiff) {
        tLastError = "a PDF is only made together with the TIFF";
        return false;
    }
    b.build.dryRun = tiff == nullptr;
    std::unique_ptr<folio::PipeCapture> tiffPipe, pdfPipe;
    if (tiff && !(tiffPipe = folio::PipeCapture::Create(tLastError)))
        return false;
    if (pdf && !(pdfPipe = folio::PipeCapture::Create(tLastError)))
        return false;
    if (pdfPipe)
        b.build.pdfFile = pdfPipe->Name();
    if (!folio::BuildFaxBytes(macro, length, b.Name(),
                              tiffPipe ? tiffPipe->Name().c_str() : nullptr, b.build, tLastError))
        return false;
    FolioBuffer tiffOut{}, pdfOut{};
    if ((tiffPipe && !tiffPipe->Finish(tiffOut.data, tiffOut.size)) ||
        (pdfPipe && !pdfPipe->Finish(pdfOut.data, pdfOut.size))) {
        FolioBufferFree(&tiffOut);
        tLastError = "out of memory";
        return false;
    }
    // Failures of the writers reach the pipe as a short document or none.
    if (tiffPipe && tiffOut.size == 0) {
        FolioBufferFree(&tiffOut);
        FolioBufferFree(&pdfOut);
        tLastError = std::string(b.Name()) + ": the fax came back empty";
        return false;
    }
    if (tiff)
        *tiff = tiffOut;
    if (pdf)
        *pdf = pdfOut;
    return true;
}

// The rows of `picture` packed without the bitmap's padding, (width + 7) / 8
// bytes each: the bitmap's own bytes when its rows have no padding, else a
// copy in `scratch`.
const unsigned char* packedRows(const folio::Bitmap& picture, std::string& scratch) {
    const int h = picture.Height();
    const std::size_t rowBytes = (std::size_t(picture.Width()) + 7) / 8;
    if (h > 0 && std::size_t(picture.Stride()) == rowBytes)
        return picture.Row(0);
    scratch.resize(rowBytes * std::size_t(h));
    for (int y = 0; y < h; ++y)
        std::memcpy(&scratch[rowBytes * std::size_t(y)], picture.Row(y), rowBytes);
    return reinterpret_cast<const unsigned char*>(scratch.data());
}

// Builds the macro in memory and hands each page (numbered from 1) to
// `each`, then calls it once more with page 0 and no page; a false from
// it fails the build with the error it set. `each` also gets the macro's
// name and the number of pages.
template <class Each>
bool buildPages(const char* macro, size_t length, const FolioBuildOptions* options, Each each) {
    Build b;
    if (!b.Read(options, nullptr))
        return false;
    if (!b.build.pdfFile.empty()) {
        tLastError = "FolioBuildOptions.pdfFile is not used here";
        return false;
    }
    b.build.dryRun = true;
    b.build.beforeSave = [&](FaxImage& fax, std::string& error) {
        const int pages = fax.Pages->Cardinal();
        Link* l = fax.Pages->First();
        // The page, not its picture: a packed page is unpacked to draw it,
        // which only the pages that are needed should cost.
        for (int page = 1; l && page <= pages; ++page, l = l->Suc())
            if (!each(b.Name(), page, pages, static_cast<FaxPage*>(l), error))
                return false;
        return each(b.Name(), 0, pages, nullptr, error);
    };
    return folio::BuildFaxBytes(macro, length, b.Name(), nullptr, b.build, tLastError);
}

bool buildPageBitmap(const char* macro, size_t length, const FolioBuildOptions* options, int page,
                     FolioBuffer* bitmap, int* width, int* height) {
    if (!bitmap || !width || !height) {
        tLastError = "no place for the page given";
        return false;
    }
    *bitmap = FolioBuffer{nullptr, 0};
    *width = *height = 0;
    std::string rows;
    int w = 0, h = 0;
    bool found = false;
    auto take = [&](const char*, int at, int pages, FaxPage* faxPage, std::string& error) {
        if (!faxPage && !found) {
            error = "there is no page " + std::to_string(page) + "; the fax has " +
                    std::to_string(pages);
            return false;
        }
        if (!faxPage || at != page)
            return true;
        found = true;
        const folio::Bitmap* picture = &faxPage->PageImage.Picture();
        w = picture->Width();
        h = picture->Height();
        std::string scratch;
        rows.assign(reinterpret_cast<const char*>(packedRows(*picture, scratch)),
                    (std::size_t(w) + 7) / 8 * std::size_t(h));
        return true;
    };
    if (!buildPages(macro, length, options, take))
        return false;
    if (!giveBuffer(rows, bitmap))
        return false;
    *width = w;
    *height = h;
    return true;
}

bool buildPageBitmaps(const char* macro, size_t length, const FolioBuildOptions* options,
                      FolioPageSink sink, void* context) {
    if (!sink) {
        tLastError = "no page sink given";
        return false;
    }
    std::vector<unsigned char> rows;
    auto give = [&](const char* name, int page, int, FaxPage* faxPage, std::string& error) {
        if (!faxPage)
            return true;
        // Read without unparking: an unparked page would stay unpacked, and
        // a long document would end up whole in memory.
        const PageImage& image = faxPage->PageImage;
        const int w = image.Width(), h = image.Height();
        // Rows come as the bitmap holds them, padded to 32 bits, and are
        // then packed to (w + 7) / 8 bytes in place.
        const std::size_t stride = (std::size_t(w) + 31) / 32 * 4;
        const std::size_t rowBytes = (std::size_t(w) + 7) / 8;
        rows.resize(stride * std::size_t(h) + 1);
        if (h > 0)
            image.ReadRows(rows.data(), std::ptrdiff_t(stride), false);
        if (stride != rowBytes)
            for (int y = 1; y < h; ++y)
                std::memmove(&rows[rowBytes * std::size_t(y)], &rows[stride * std::size_t(y)],
                             rowBytes);
        if (sink(context, page, rows.data(), w, h) != 0 || folio::StopRequested()) {
            error = std::string(name) + ": stopped by the caller at page " + std::to_string(page);
            return false;
        }
        return true;
    };
    return buildPages(macro, length, options, give);
}

} // namespace

extern "C" {

bool BuildFax(const char* macroFile, const char* tiffFile) {
    try {
        return folio::BuildFaxFile(macroFile, tiffFile, {}, tLastError);
    } catch (...) {
        tLastError = "unexpected failure";
        return false;
    }
}

bool BuildFaxWithOptions(const char* macroFile, const char* tiffFile,
                         const FolioBuildOptions* options) {
    try {
        Build b;
        if (!b.Read(options, macroFile ? macroFile : ""))
            return false;
        b.build.dryRun = tiffFile == nullptr;
        return folio::BuildFaxFile(macroFile, tiffFile, b.build, tLastError);
    } catch (...) {
        tLastError = "unexpected failure";
        return false;
    }
}

bool _BuildFax(const char* macroFile, const char* tiffFile) __attribute__((alias("BuildFax")));

int FolioVersion(void) {
    return FOLIOSET_VERSION;
}

const char* FolioVersionString(void) {
    return FOLIOSET_VERSION_STRING;
}

const char* BuildFaxLastError(void) {
    return tLastError.c_str();
}

bool BuildFaxInMemory(const char* macro, size_t length, const FolioBuildOptions* options,
                      FolioBuffer* tiff, FolioBuffer* pdf) {
    try {
        return buildInMemory(macro, length, options, tiff, pdf);
    } catch (...) {
        tLastError = "unexpected failure";
        return false;
    }
}

bool BuildFaxPageBitmap(const char* macro, size_t length, const FolioBuildOptions* options,
                        int page, FolioBuffer* bitmap, int* width, int* height) {
    try {
        return buildPageBitmap(macro, length, options, page, bitmap, width, height);
    } catch (...) {
        tLastError = "unexpected failure";
        return false;
    }
}

bool BuildFaxPageBitmaps(const char* macro, size_t length, const FolioBuildOptions* options,
                         FolioPageSink sink, void* context) {
    try {
        return buildPageBitmaps(macro, length, options, sink, context);
    } catch (...) {
        tLastError = "unexpected failure";
        return false;
    }
}

void FolioStopBuild(void) {
    folio::StopBuild();
}

void FolioBufferFree(FolioBuffer* buffer) {
    if (!buffer)
        return;
    std::free(buffer->data);
    buffer->data = nullptr;
    buffer->size = 0;
}

} // extern "C"
