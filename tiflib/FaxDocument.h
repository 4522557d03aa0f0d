// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// One multi-page fax TIFF being written. The pages go to the work file of an
// OutputFile, which reaches the target only when the last page is in: renamed
// over a new or regular file, written into a device, pipe or socket. A
// document dropped before that leaves the target as it was.
#pragma once

#include "PageBlock.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace folio {
class OutputFile;
}

namespace folio::tiflib {

class DocumentFile;

enum class FaxCoding {
    G3OneD,          // Group 3 1-D, our own encoder
    G3OneDReference, // Group 3 1-D, libtiff's encoder (the same file)
    G3TwoD,          // Group 3 2-D, our own encoder
    G3TwoDReference, // Group 3 2-D, libtiff's encoder (the same file)
    G4,              // Group 4, our own encoder
    G4Reference,     // Group 4, libtiff's encoder (the same file)
};

enum class FaxResolution {
    Fine,   // 204 x 196 dpi, the rows as handed over
    Normal, // 204 x 98 dpi, each pair of rows merged (RowMerge.h)
};

// Rows in a group of Group 3 2-D coding (K): libtiff's encoder takes 4 above
// 150 rows per inch (fine) and 2 at and below (normal), and ours must match it.
inline std::uint32_t RowsPerGroup(FaxResolution resolution) {
    return resolution == FaxResolution::Normal ? 2 : 4;
}

// Where each page goes once more, coded in Group 4 (see SetFaxPageCopy).
struct PageCopy {
    int (*send)(void* context, int index, int count, unsigned width, unsigned height,
                int rowsPerInch, const unsigned char* g4, std::size_t bytes) = nullptr;
    void* context = nullptr;
};

class FaxDocument {
  public:
    // Prepares the output `target` (see OutputFile: "-" is standard output)
    // for a document of `count` pages (0: a count given at the end, to
    // FinishOpen). Returns null, with `error` set, when
    // it cannot, or when the target is of a kind that is never written.
    static std::unique_ptr<FaxDocument> Start(const std::string& target, int count,
                                              FaxCoding coding, std::string& error);
    // Drops the document unless Finish succeeded.
    ~FaxDocument();
    FaxDocument(const FaxDocument&) = delete;
    FaxDocument& operator=(const FaxDocument&) = delete;

    // Both before the first page.
    void SetResolution(FaxResolution resolution) { resolution_ = resolution; }
    void SetPageCopy(PageCopy copy) { copy_ = copy; }

    int count() const { return count_; }
    // The index the next page must have.
    int nextIndex() const { return next_; }

    // Writes the next page. On failure the document is unusable and must be
    // dropped.
    bool AddPage(const PageView& page, std::string& error);
    // Writes the next page from its strip, coded ahead in the document's
    // coding at its resolution: `width` x `height` are the pixels of the
    // strip (at normal resolution, the merged rows). Same failures as AddPage.
    bool AddCodedPage(std::uint32_t width, std::uint32_t height, const std::uint8_t* strip,
                      std::size_t bytes, std::string& error);
    FaxCoding coding() const { return coding_; }
    FaxResolution resolution() const { return resolution_; }
    // After the last page: puts the file in place. On failure the target is
    // left as it was (a stream may have taken part of the document).
    bool Finish(std::string& error);
    // Finish for a document started without its count: `count` must be the
    // pages written. Each page's number was written with a total of 0; the
    // total is set in every page directory first, so that the file is the
    // one a document started with its count makes.
    bool FinishOpen(int count, std::string& error);

  private:
    FaxDocument(int count, FaxCoding coding);
    void Drop();
    bool SetTags(std::uint32_t width, std::uint32_t height);
    bool WritePixels(const PageView& page);
    // Hands the page, coded in Group 4, to copy_.
    bool SendCopy(const PageView& page, std::string& error);
    // Hands a coded page to libtiff as the page's one strip.
    bool WriteStrip(const std::uint8_t* strip, std::size_t bytes);
    bool SendCopy(std::uint32_t width, std::uint32_t height, const std::uint8_t* g4,
                  std::size_t bytes, std::string& error);
    // After the page's strip and copy: its directory.
    bool EndPage(std::string& error);
    // Sets the total of every page number to count_ in the file.
    bool SetPageTotals(std::string& error);
    // `what`, then strerror(systemError) when it is not 0, then libtiff's message.
    std::string Reason(const char* what, int systemError = 0) const;

    std::unique_ptr<OutputFile> output_;
    int count_;
    int next_ = 0;
    FaxCoding coding_;
    FaxResolution resolution_ = FaxResolution::Fine;
    PageCopy copy_;
    std::vector<std::uint8_t> merged_; // the page's rows at normal resolution
    std::vector<std::uint8_t> copyBuffer_;
    void* tiff_ = nullptr; // TIFF*, kept opaque so that only FaxDocument.cpp sees libtiff
    std::string tiffError_;
    std::vector<std::uint8_t> buffer_;   // coded strip or one scanline
    std::unique_ptr<DocumentFile> file_; // the client handle of tiff_
    std::uint64_t unsyncedBytes_ = 0;    // written out since the last write-back hint
    friend struct TiffCallbacks;
};

} // namespace folio::tiflib
