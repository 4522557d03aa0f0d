// The plain entry point of libfoliolib.so: BuildFax, also exported as
// _BuildFax, with the C calling convention and a one-byte boolean result.
#include "foliolib.h"

#include "MacroRunner.h"

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

bool _BuildFax(const char* macroFile, const char* tiffFile) __attribute__((alias("BuildFax")));

const char* BuildFaxLastError(void) {
    return tLastError.c_str();
}

} // extern "C"
