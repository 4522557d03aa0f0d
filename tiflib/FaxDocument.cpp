// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Writing a fax TIFF with libtiff. Every page is one directory: TIFF Class F
// tags, one strip holding the whole page, 204 x 196 dots per inch (or 98 rows
// per inch, the page's row pairs merged). libtiff's
// messages never reach stderr: each open file has its own handlers, which keep
// the last error for the failure report and drop warnings.
#include "FaxDocument.h"

#include "DocumentFile.h"
#include "G3Encoder.h"
#include "G3TwoDEncoder.h"
#include "G4Encoder.h"
#include "OutputFile.h"
#include "RowMerge.h"

#include <tiffio.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <vector>

namespace folio::tiflib {

struct TiffCallbacks {
    static int Error(TIFF*, void* self, const char* module, const char* format, va_list args) {
        char text[512];
        std::vsnprintf(text, sizeof text, format, args);
        auto* doc = static_cast<FaxDocument*>(self);
        doc->tiffError_ = module && *module ? std::string(module) + ": " + text : text;
        return 1; // handled: nothing more is printed
    }
    static int Warning(TIFF*, void*, const char*, const char*, va_list) { return 1; }
};

namespace {

// Fax resolution: 204 dots per inch across, 196 or 98 rows per inch.
constexpr double kXResolution = 204.0;
int rowsPerInch(FaxResolution resolution) {
    return resolution == FaxResolution::Normal ? 98 : 196;
}

TIFF* asTiff(void* p) {
    return static_cast<TIFF*>(p);
}

// libtiff's client procedures over the document's file.
DocumentFile& fileOf(thandle_t h) {
    return *static_cast<DocumentFile*>(h);
}
tmsize_t readProc(thandle_t h, void* to, tmsize_t n) {
    return n < 0 ? -1 : tmsize_t(fileOf(h).Read(to, std::size_t(n)));
}
tmsize_t writeProc(thandle_t h, void* from, tmsize_t n) {
    return n < 0 ? -1 : tmsize_t(fileOf(h).Write(from, std::size_t(n)));
}
toff_t seekProc(thandle_t h, toff_t offset, int whence) {
    return fileOf(h).Seek(offset, whence);
}
int closeProc(thandle_t h) {
    return fileOf(h).Close() ? 0 : -1;
}
toff_t sizeProc(thandle_t h) {
    return fileOf(h).Size();
}
int mapProc(thandle_t, void**, toff_t*) {
    return 0; // not mapped: read through readProc
}
void unmapProc(thandle_t, void*, toff_t) {}

} // namespace

FaxDocument::FaxDocument(int count, FaxCoding coding) : count_(count), coding_(coding) {}

std::unique_ptr<FaxDocument> FaxDocument::Start(const std::string& target, int count,
                                                FaxCoding coding, std::string& error) {
    std::unique_ptr<FaxDocument> doc(new FaxDocument(count, coding));
    doc->output_ = OutputFile::Create(target, error);
    if (!doc->output_)
        return nullptr;
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options) {
        error = "out of memory";
        return nullptr;
    }
    TIFFOpenOptionsSetErrorHandlerExtR(options, &TiffCallbacks::Error, doc.get());
    TIFFOpenOptionsSetWarningHandlerExtR(options, &TiffCallbacks::Warning, doc.get());
    doc->file_ = std::make_unique<DocumentFile>(doc->output_->Fd());
    // Little-endian, as fax software mostly expects ("l").
    TIFF* tif = TIFFClientOpenExt(target.c_str(), "wl", doc->file_.get(), readProc, writeProc,
                                  seekProc, closeProc, sizeProc, mapProc, unmapProc, options);
    TIFFOpenOptionsFree(options);
    if (!tif) {
        error = doc->Reason("cannot start the TIFF file");
        return nullptr;
    }
    doc->tiff_ = tif;
    return doc;
}

FaxDocument::~FaxDocument() {
    Drop();
}

void FaxDocument::Drop() {
    if (tiff_) {
        TIFFClose(asTiff(tiff_));
        tiff_ = nullptr;
    }
    output_.reset();
}

std::string FaxDocument::Reason(const char* what, int systemError) const {
    std::string text = what;
    // The system's reason first (a full disk, a file size limit), then libtiff's.
    if (systemError != 0)
        text += std::string(": ") + std::strerror(systemError);
    if (!tiffError_.empty())
        text += " (" + tiffError_ + ")";
    return text;
}

bool FaxDocument::SetTags(std::uint32_t width, std::uint32_t height) {
    TIFF* tif = asTiff(tiff_);
    // The page number is two 16-bit values; the caller keeps counts in range.
    const auto index = std::uint16_t(next_);
    const auto total = std::uint16_t(count_);
    bool ok = TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE) &&
              TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width) &&
              TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height) &&
              TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1) &&
              TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1) &&
              TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
              TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE) &&
              TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB) &&
              TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
              TIFFSetField(tif, TIFFTAG_XRESOLUTION, kXResolution) &&
              TIFFSetField(tif, TIFFTAG_YRESOLUTION, double(rowsPerInch(resolution_))) &&
              TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) &&
              TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, height) &&
              TIFFSetField(tif, TIFFTAG_PAGENUMBER, index, total) &&
              TIFFSetField(tif, TIFFTAG_SOFTWARE, "Folioset");
    if (!ok)
        return false;
    // The codec's own tags exist only once the compression is set.
    if (coding_ == FaxCoding::G4 || coding_ == FaxCoding::G4Reference) {
        ok = TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4) &&
             TIFFSetField(tif, TIFFTAG_GROUP4OPTIONS, 0);
    } else {
        std::uint32_t options = GROUP3OPT_FILLBITS;
        if (coding_ == FaxCoding::G3TwoD || coding_ == FaxCoding::G3TwoDReference)
            options |= GROUP3OPT_2DENCODING;
        ok = TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3) &&
             TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, options);
    }
    // Class F: no RTC after the last row of a page.
    return ok && TIFFSetField(tif, TIFFTAG_FAXMODE, FAXMODE_CLASSF) &&
           TIFFSetField(tif, TIFFTAG_CLEANFAXDATA, CLEANFAXDATA_CLEAN);
}

bool FaxDocument::WritePixels(const PageView& page) {
    TIFF* tif = asTiff(tiff_);
    switch (coding_) {
    case FaxCoding::G3OneD:
        EncodeG3OneD(page, buffer_);
        return WriteStrip(buffer_.data(), buffer_.size());
    case FaxCoding::G3TwoD:
        EncodeG3TwoD(page, RowsPerGroup(resolution_), buffer_);
        return WriteStrip(buffer_.data(), buffer_.size());
    case FaxCoding::G4:
        EncodeG4(page, buffer_);
        return WriteStrip(buffer_.data(), buffer_.size());
    case FaxCoding::G3OneDReference:
    case FaxCoding::G3TwoDReference:
    case FaxCoding::G4Reference:
        break;
    }
    // libtiff's own codecs take top-down rows of (width + 7) / 8 bytes; they
    // may scribble on the row they are given, so hand them a copy.
    const std::size_t rowBytes = (std::size_t(page.width) + 7) / 8;
    buffer_.resize(rowBytes);
    for (std::uint32_t y = 0; y < page.height; ++y) {
        std::memcpy(buffer_.data(), page.row(y), rowBytes);
        if (TIFFWriteScanline(tif, buffer_.data(), y, 0) < 0)
            return false;
    }
    return true;
}

bool FaxDocument::WriteStrip(const std::uint8_t* strip, std::size_t bytes) {
    const auto size = tmsize_t(bytes);
    // libtiff only reads the strip.
    return TIFFWriteRawStrip(asTiff(tiff_), 0, const_cast<std::uint8_t*>(strip), size) == size;
}

bool FaxDocument::SendCopy(const PageView& page, std::string& error) {
    const bool ownStrip = coding_ == FaxCoding::G4;
    if (!ownStrip)
        EncodeG4(page, copyBuffer_);
    const std::vector<std::uint8_t>& g4 = ownStrip ? buffer_ : copyBuffer_;
    return SendCopy(page.width, page.height, g4.data(), g4.size(), error);
}

bool FaxDocument::SendCopy(std::uint32_t width, std::uint32_t height, const std::uint8_t* g4,
                           std::size_t bytes, std::string& error) {
    if (copy_.send(copy_.context, next_, count_, width, height, rowsPerInch(resolution_), g4,
                   bytes))
        return true;
    error = "the copy of the page was refused";
    return false;
}

bool FaxDocument::AddPage(const PageView& fine, std::string& error) {
    if (!tiff_ || next_ >= (count_ > 0 ? count_ : int(kMaxPageSide))) {
        error = "document is closed";
        return false;
    }
    const PageView page =
        resolution_ == FaxResolution::Normal ? MergeRowPairs(fine, merged_) : fine;
    if (!SetTags(page.width, page.height)) {
        error = Reason("cannot set the page tags");
        return false;
    }
    errno = 0;
    if (!WritePixels(page)) {
        error = Reason("cannot write the page", errno);
        return false;
    }
    if (copy_.send && !SendCopy(page, error))
        return false;
    return EndPage(error);
}

bool FaxDocument::AddCodedPage(std::uint32_t width, std::uint32_t height, const std::uint8_t* strip,
                               std::size_t bytes, std::string& error) {
    if (!tiff_ || next_ >= (count_ > 0 ? count_ : int(kMaxPageSide))) {
        error = "document is closed";
        return false;
    }
    // The copy is Group 4; a page coded otherwise has no pixels left to code it from.
    if (copy_.send && coding_ != FaxCoding::G4) {
        error = "a page coded ahead in Group 3 cannot be copied";
        return false;
    }
    if (!SetTags(width, height)) {
        error = Reason("cannot set the page tags");
        return false;
    }
    errno = 0;
    if (!WriteStrip(strip, bytes)) {
        error = Reason("cannot write the page", errno);
        return false;
    }
    if (copy_.send && !SendCopy(width, height, strip, bytes, error))
        return false;
    return EndPage(error);
}

bool FaxDocument::EndPage(std::string& error) {
    errno = 0;
    if (!TIFFWriteDirectory(asTiff(tiff_))) {
        error = Reason("cannot write the page directory", errno);
        return false;
    }
    ++next_;
#ifdef __linux__
    // Start writing what has gone out to the file on to the disk now, without
    // waiting for it, a few megabytes at a time: the sync before the rename
    // then finds most of the file already written instead of all of it. Only
    // a hint; failures show at the sync. A stream's work file is never synced.
    unsyncedBytes_ += file_->TakeWrittenOut();
    if (unsyncedBytes_ >= (std::uint64_t(4) << 20) &&
        output_->kind() == OutputFile::Kind::Replace) {
        ::sync_file_range(file_->Fd(), 0, 0, SYNC_FILE_RANGE_WRITE);
        unsyncedBytes_ = 0;
    }
#endif
    return true;
}

bool FaxDocument::FinishOpen(int count, std::string& error) {
    if (!tiff_ || count_ != 0 || count < 1 || count != next_) {
        error = "document is not complete";
        return false;
    }
    errno = 0;
    if (!TIFFFlush(asTiff(tiff_)) || !file_->Flush()) {
        error = Reason("cannot write the TIFF file", errno);
        return false;
    }
    count_ = count;
    return SetPageTotals(error) && Finish(error);
}

bool FaxDocument::SetPageTotals(std::string& error) {
    // Little-endian ("wl"): the header's first directory offset at byte 4;
    // each directory is a 16-bit entry count, 12-byte entries (tag, type,
    // count, value) and the next directory's offset. The page number is
    // two SHORTs in the entry's value: the index, then the total.
    constexpr std::uint16_t kPageNumberTag = 297, kShort = 3;
    const auto read = [&](std::uint64_t at, void* to, std::size_t n) {
        return file_->Seek(at, SEEK_SET) == at && file_->Read(to, n) == std::int64_t(n);
    };
    const auto le16 = [](const std::uint8_t* p) { return std::uint16_t(p[0] | p[1] << 8); };
    const auto le32 = [](const std::uint8_t* p) {
        return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
               std::uint32_t(p[3]) << 24;
    };
    const std::uint8_t total[2] = {std::uint8_t(count_ & 0xFF), std::uint8_t(count_ >> 8)};
    std::uint8_t word[4];
    if (!read(4, word, 4)) {
        error = Reason("cannot read the TIFF file back", errno);
        return false;
    }
    std::uint64_t at = le32(word);
    std::vector<std::uint8_t> entries;
    for (int page = 0; page < count_; ++page) {
        std::uint8_t head[2];
        if (at == 0 || !read(at, head, 2)) {
            error = Reason("cannot read a page directory back", errno);
            return false;
        }
        const std::size_t n = le16(head);
        entries.resize(12 * n + 4);
        if (!read(at + 2, entries.data(), entries.size())) {
            error = Reason("cannot read a page directory back", errno);
            return false;
        }
        std::size_t k = 0;
        while (k < n && le16(&entries[12 * k]) != kPageNumberTag)
            ++k;
        if (k == n || le16(&entries[12 * k + 2]) != kShort || le32(&entries[12 * k + 4]) != 2) {
            error = "a page directory holds no page number";
            return false;
        }
        const std::uint64_t value = at + 2 + 12 * k + 8;
        if (file_->Seek(value + 2, SEEK_SET) != value + 2 || file_->Write(total, 2) != 2) {
            error = Reason("cannot write the page count", errno);
            return false;
        }
        at = le32(&entries[12 * n]);
    }
    return true;
}

bool FaxDocument::Finish(std::string& error) {
    if (!tiff_ || next_ != count_) {
        error = "document is not complete";
        return false;
    }
    errno = 0;
    if (!TIFFFlush(asTiff(tiff_)) || !file_->Flush()) {
        error = Reason("cannot write the TIFF file", errno);
        return false;
    }
    // Everything is out: closing writes nothing more.
    TIFFClose(asTiff(tiff_));
    tiff_ = nullptr;
    if (!output_->Commit(error))
        return false;
    output_.reset();
    return true;
}

} // namespace folio::tiflib
