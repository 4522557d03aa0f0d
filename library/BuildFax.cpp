// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The plain entry point of libfoliolib.so: BuildFax, also exported as
// _BuildFax, with the C calling convention and a one-byte boolean result.
#include "foliolib.h"

#include "Diagnostics.h"
#include "MacroRunner.h"

#include <cstddef>
#include <string>

namespace {
thread_local std::string tLastError;

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

// Whether a client's options struct, `size` bytes long, holds `field`.
#define HAS_FIELD(options, field)                                                                  \
    ((options)->size >= offsetof(FolioBuildOptions, field) + sizeof((options)->field))

static_assert(int(folio::Severity::Note) == FOLIO_NOTE &&
              int(folio::Severity::Warning) == FOLIO_WARNING &&
              int(folio::Severity::Error) == FOLIO_ERROR);
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
        folio::BuildOptions build;
        build.dryRun = tiffFile == nullptr;
        void (*callback)(void*, const FolioDiagnostic*) = nullptr;
        void* context = nullptr;
        if (options) {
            if (!HAS_FIELD(options, size)) {
                tLastError = "FolioBuildOptions.size is too small";
                return false;
            }
            if (HAS_FIELD(options, resolution))
                build.resolution = options->resolution;
            if (HAS_FIELD(options, pdfFile) && options->pdfFile)
                build.pdfFile = options->pdfFile;
            if (HAS_FIELD(options, diagnostic))
                callback = options->diagnostic;
            if (HAS_FIELD(options, diagnosticContext))
                context = options->diagnosticContext;
            if (HAS_FIELD(options, strict))
                build.strict = options->strict != 0;
        }
        CallbackSink sink(macroFile, callback, context);
        // Strict builds count warnings even when nobody listens.
        NullSink quiet;
        build.diagnostics = callback       ? static_cast<folio::DiagnosticSink*>(&sink)
                            : build.strict ? &quiet
                                           : nullptr;
        return folio::BuildFaxFile(macroFile, tiffFile, build, tLastError);
    } catch (...) {
        tLastError = "unexpected failure";
        return false;
    }
}

bool _BuildFax(const char* macroFile, const char* tiffFile) __attribute__((alias("BuildFax")));

const char* BuildFaxLastError(void) {
    return tLastError.c_str();
}

} // extern "C"
