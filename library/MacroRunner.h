// Building a fax from a macro file: the line reader (a 500-byte buffer, so a
// line longer than 499 bytes arrives in parts), the engine run and the save.
// BuildFax and foliobuild both build through here.
#pragma once

#include <functional>
#include <string>

class FaxImage;
class FileGate;

namespace folio {

struct BuildOptions {
    // Called after the macro has run and before the pages are saved; may
    // inspect the pages (foliobuild writes PNG previews here). Returning
    // false stops the build with `error` as the cause.
    std::function<bool(FaxImage&, std::string& error)> beforeSave;
    // Confines FILE commands (see FileGate); null allows every file.
    FileGate* fileGate = nullptr;
    // Most pages the fax may have (see FaxImage::SetPageLimit); 0 keeps
    // FaxImage::kMaxPages. A macro that asks for more fails the build.
    int maxPages = 0;
};

// Builds `tiffFile` from `macroFile`. Returns true on success; on failure
// `error` holds one line naming the file and the cause, and no TIFF is written.
bool BuildFaxFile(const char* macroFile, const char* tiffFile, const BuildOptions& options,
                  std::string& error);

} // namespace folio
