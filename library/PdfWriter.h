// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// A PDF copy of a fax document. Every page is one image holding the page's
// Group 4 coding as it is (CCITTFaxDecode, nothing decoded or drawn again),
// the page the size of the image at its resolution: 1728 pixels at 204 dpi
// are 8.47 inches, 2200 rows at 196 rows per inch 11.22 inches. The pages go
// out as they come, so a document of any length needs the memory of one
// page; the file appears under its name only on Commit.
#pragma once

#include "PendingFile.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace folio {

class PdfWriter {
  public:
    // Starts the PDF file `target`. Returns null, with `error` set, when it
    // cannot be created.
    static std::unique_ptr<PdfWriter> Create(const std::string& target, std::string& error);

    // Writes page `index` of `count` (in order from 0): `g4` is its Group 4
    // coding, `width` x `height` pixels at 204 x `rowsPerInch` dpi. After the
    // last page the file is completed and synced. On failure the writer is
    // unusable; Error() says why.
    bool AddPage(int index, int count, unsigned width, unsigned height, int rowsPerInch,
                 const std::uint8_t* g4, std::size_t bytes);
    // After the last page: the file takes its name.
    bool Commit(std::string& error);
    const std::string& Error() const { return error_; }

    // AddPage as tiflib's page copy (SetFaxPageCopy); `self` is the writer.
    // Never throws.
    static int TakePage(void* self, int index, int count, unsigned width, unsigned height,
                        int rowsPerInch, const unsigned char* g4, std::size_t bytes);

  private:
    explicit PdfWriter(std::string target, std::unique_ptr<PendingFile> file);
    // Starts object `number` at the current offset.
    void BeginObject(std::size_t number);
    bool Finish();
    bool Fail(const std::string& what);

    std::string target_;
    std::unique_ptr<PendingFile> file_;
    std::vector<std::uint64_t> offsets_; // of objects 1, 2, ..., 0 until written
    int next_ = 0;
    int count_ = 0;
    bool failed_ = false;
    std::string error_;
};

} // namespace folio
