// The plain entry point of libfoliolib.so: BuildFax, also exported as
// _BuildFax, with the C calling convention and a one-byte boolean result.
#include "foliolib.h"

#include "MacroRunner.h"

#include <cstddef>
#include <string>

namespace {
thread_local std::string tLastError;
}

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
        if (options) {
            // A field counts only when the caller's structure reaches past it.
            auto has = [&](std::size_t offset, std::size_t bytes) {
                return options->size >= offset + bytes;
            };
            if (!has(0, sizeof options->size)) {
                tLastError = "FolioBuildOptions.size is too small";
                return false;
            }
            if (has(offsetof(FolioBuildOptions, resolution), sizeof options->resolution))
                build.resolution = options->resolution;
            if (has(offsetof(FolioBuildOptions, pdfFile), sizeof options->pdfFile) &&
                options->pdfFile)
                build.pdfFile = options->pdfFile;
        }
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
