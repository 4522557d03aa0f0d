// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Building a fax from a macro file: the line reader (a 500-byte buffer, so a
// line longer than 499 bytes arrives in parts), the engine run and the save.
// BuildFax and foliobuild both build through here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class FaxImage;
class FileGate;

namespace folio {

class DiagnosticSink;
class LineFilter;
struct PageCost;

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
    // The longest the build may run, in milliseconds, counted from its
    // start: past it the build stops before its next line (or before it
    // saves) and fails; the pictures share what is left, in whole seconds.
    // 0: no limit but the pictures' own.
    int timeLimitMs = 0;
    // TIFLIB_FAX_FINE (204 x 196 dpi) or TIFLIB_FAX_NORMAL (204 x 98).
    int resolution = 0;
    // TIFLIB_FAX_G3_1D, _G3_2D or _G4 for this build alone; -1 takes the
    // writer's process-wide setting (SetFaxCompression).
    int coding = -1;
    // The paper of the pages until a PAGE command changes it: a
    // FaxImage::PageSize as a number (0 Default, 1 A4, 2 Letter, 3 Legal,
    // the values of FOLIO_PAGE_*). Another number fails the build.
    int pageSize = 0;
    // The code page text is read in until a CODEPAGE command changes it
    // (0: the ANSI code page, as a macro file starts).
    std::uint16_t codePage = 0;
    // Also writes the pages as this PDF file (PdfWriter.h) when not empty.
    // Both files are written or neither: a PDF that cannot be written fails
    // the build before the TIFF is put in place.
    std::string pdfFile;
    // Receives what the macro lost or could not do, each with its line
    // (Diagnostics.h); null: nothing is reported. Lines longer than the
    // line buffer and text after END are reported here too.
    DiagnosticSink* diagnostics = nullptr;
    // A warning fails the build: nothing is written.
    bool strict = false;
    // Build in memory only: the fax file is not written.
    bool dryRun = false;
    // Receives the number of pages built, when not null.
    int* pageCount = nullptr;
    // When not null, receives what each page costs to send (SendCost.h),
    // coded in memory as the fax file would hold it, before `strict` counts
    // the warnings: a page too slow to send is reported (kind::PageSlow) and
    // fails a strict build. The fax file's bytes do not change.
    std::vector<PageCost>* pageCosts = nullptr;
    // Largest macro file read, in bytes; 0 keeps the default of 512 MiB. A
    // larger macro fails the build.
    long long maxMacroBytes = 0;
    // Rows at the top of every page kept white, for the header line a fax
    // server stamps there (sender, date, page): 0 to kMaxReserveTop page rows
    // (196 per inch; at normal resolution the file's top reserveTop / 2
    // rows). Whatever a macro line draws into them is cleared after the line
    // and reported (kind::ReservedStrip), once per page and line; another
    // number fails the build. 0 reserves nothing and changes nothing.
    int reserveTop = 0;
    // Fills the text the engine sets (LineFilter.h), as a template is filled
    // from a record of data; null sets the macro's text as it stands.
    LineFilter* lineFilter = nullptr;
    // Whether the folders the fax and the PDF copy are named in are synced
    // once they are (so that a power cut keeps the names). False leaves that
    // to the caller, who syncs them once for all the documents it built
    // together before relying on their names (SetFaxFolderSync); the files'
    // own bytes are synced either way.
    bool syncFolders = true;
};

// The most rows BuildOptions::reserveTop takes: about 2 inches.
inline constexpr int kMaxReserveTop = 400;

// Asks the build running on the calling thread (the innermost one, when a
// callback of one build starts another) to stop: before its next line, or
// before it saves when its lines are done, it fails with "stopped by the
// caller" and writes nothing. Outside a build it does nothing.
void StopBuild();
// Whether StopBuild was called during the calling thread's current build.
bool StopRequested();

// Builds `tiffFile` from `macroFile`. Returns true on success; on failure
// `error` holds one line naming the file and the cause, and no TIFF (nor PDF)
// is written. Only when the PDF cannot take its name after the TIFF has taken
// its own does the TIFF stay (and the build fails). `tiffFile` may be null
// with options.dryRun. A file that begins "%PDF-" is not a macro but a PDF,
// made a fax of all its pages: each drawn (FILE=path,PDF,n) at its size,
// scaled down to fit the page and centred, on the paper options.pageSize
// names, or for Default the one its first page is nearest to; poppler's
// pdfinfo reads the pages' sizes, within the build's time limit. Like a
// macro file, the PDF is read whatever options.fileGate allows: the gate
// confines what a macro's FILE commands read, not the file named here.
bool BuildFaxFile(const char* macroFile, const char* tiffFile, const BuildOptions& options,
                  std::string& error);

// BuildFaxFile with the macro file's bytes in memory, `length` of them at
// `macro`, read exactly as a file of those bytes is read. `name` stands for
// the macro file in errors. Bytes that begin "%PDF-" make the fax a file of
// those bytes makes, byte for byte; the renderer gets them from memory and
// the build reads no file (options.fileGate is never asked).
bool BuildFaxBytes(const char* macro, std::size_t length, const std::string& name,
                   const char* tiffFile, const BuildOptions& options, std::string& error);

} // namespace folio
