// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The file's objects: 1 the catalog, 2 the page tree, 3 the document
// information, then three for each page in order (the page, its content
// stream, its image). The page tree and the catalog are written last, when
// the pages are known; the cross-reference table lists every object's byte
// offset, 20 bytes an entry.
#include "PdfWriter.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

namespace folio {

namespace {

constexpr std::size_t kFirstPageObject = 4;

std::size_t pageObject(int index) {
    return kFirstPageObject + 3 * std::size_t(index);
}

// Points (1/72 inch) for `pixels` at `perInch`, cut (not rounded) to four
// decimals, so that a reader turning the page back into pixels at the same
// resolution gets the pixel count and never one more.
std::string points(unsigned pixels, int perInch) {
    const double value = std::floor(double(pixels) * 72.0 / perInch * 1e4) / 1e4;
    char text[32];
    std::snprintf(text, sizeof text, "%.4f", value);
    return text;
}

} // namespace

PdfWriter::PdfWriter(std::string target, std::unique_ptr<PendingFile> file)
    : target_(std::move(target)), file_(std::move(file)) {}

std::unique_ptr<PdfWriter> PdfWriter::Create(const std::string& target, std::string& error) {
    std::unique_ptr<PendingFile> file = PendingFile::Create(target, error);
    if (!file)
        return nullptr;
    std::unique_ptr<PdfWriter> pdf(new PdfWriter(target, std::move(file)));
    // The second line's bytes above 127 mark the file as binary to tools
    // that guess.
    if (!pdf->file_->Write("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n")) {
        error = target + ": cannot write the file: " + std::strerror(errno);
        return nullptr;
    }
    return pdf;
}

bool PdfWriter::Fail(const std::string& what) {
    failed_ = true;
    error_ = target_ + ": " + what;
    return false;
}

void PdfWriter::BeginObject(std::size_t number) {
    if (offsets_.size() < number)
        offsets_.resize(number, 0);
    offsets_[number - 1] = file_->Offset();
}

bool PdfWriter::AddPage(int index, int count, unsigned width, unsigned height, int rowsPerInch,
                        const std::uint8_t* g4, std::size_t bytes) {
    if (failed_)
        return false;
    if (index != next_ || count < 1 || index >= count || (index > 0 && count != count_) ||
        width == 0 || height == 0 || rowsPerInch <= 0)
        return Fail("page " + std::to_string(index) + " of " + std::to_string(count) +
                    " out of order");
    count_ = count;
    const std::string w = std::to_string(width), h = std::to_string(height);
    const std::string wide = points(width, 204), high = points(height, rowsPerInch);
    const std::size_t page = pageObject(index);
    const std::string content = "q " + wide + " 0 0 " + high + " 0 0 cm /Im0 Do Q\n";

    bool ok = true;
    BeginObject(page);
    ok = ok &&
         file_->Write(std::to_string(page) + " 0 obj\n<< /Type /Page /Parent 2 0 R " +
                      "/MediaBox [0 0 " + wide + " " + high + "] /Resources << " +
                      "/XObject << /Im0 " + std::to_string(page + 2) + " 0 R >> >> /Contents " +
                      std::to_string(page + 1) + " 0 R >>\nendobj\n");
    BeginObject(page + 1);
    ok = ok && file_->Write(std::to_string(page + 1) + " 0 obj\n<< /Length " +
                            std::to_string(content.size()) + " >>\nstream\n" + content +
                            "endstream\nendobj\n");
    // BlackIs1 false: the decoded 0 bits are the black pixels, which is
    // black in DeviceGray.
    BeginObject(page + 2);
    ok = ok &&
         file_->Write(std::to_string(page + 2) + " 0 obj\n<< /Type /XObject /Subtype /Image " +
                      "/Width " + w + " /Height " + h +
                      " /ColorSpace /DeviceGray /BitsPerComponent 1 /Filter /CCITTFaxDecode " +
                      "/DecodeParms << /K -1 /Columns " + w + " /Rows " + h +
                      " /BlackIs1 false >> /Length " + std::to_string(bytes) + " >>\nstream\n") &&
         file_->Write(g4, bytes) && file_->Write("\nendstream\nendobj\n");
    if (!ok)
        return Fail(std::string("cannot write the file: ") + std::strerror(errno));
    ++next_;
    return next_ == count_ ? Finish() : true;
}

bool PdfWriter::Finish() {
    std::string kids;
    for (int i = 0; i < count_; ++i)
        kids += (i ? " " : "") + std::to_string(pageObject(i)) + " 0 R";
    bool ok = true;
    BeginObject(1);
    ok = ok && file_->Write("1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n");
    BeginObject(2);
    ok = ok && file_->Write("2 0 obj\n<< /Type /Pages /Kids [" + kids + "] /Count " +
                            std::to_string(count_) + " >>\nendobj\n");
    BeginObject(3);
    ok = ok && file_->Write("3 0 obj\n<< /Producer (Folioset) >>\nendobj\n");
    const std::uint64_t xref = file_->Offset();
    std::string table =
        "xref\n0 " + std::to_string(offsets_.size() + 1) + "\n0000000000 65535 f \n";
    char entry[24];
    for (std::uint64_t offset : offsets_) {
        std::snprintf(entry, sizeof entry, "%010llu 00000 n \n",
                      static_cast<unsigned long long>(offset));
        table += entry;
    }
    table += "trailer\n<< /Size " + std::to_string(offsets_.size() + 1) +
             " /Root 1 0 R /Info 3 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    ok = ok && file_->Write(table);
    if (!ok)
        return Fail(std::string("cannot write the file: ") + std::strerror(errno));
    std::string error;
    if (!file_->Complete(error)) {
        failed_ = true;
        error_ = error;
        return false;
    }
    return true;
}

bool PdfWriter::Commit(std::string& error) {
    if (failed_ || next_ == 0 || next_ != count_) {
        error = failed_ ? error_ : target_ + ": the PDF file is not complete";
        return false;
    }
    return file_->Commit(error);
}

int PdfWriter::TakePage(void* self, int index, int count, unsigned width, unsigned height,
                        int rowsPerInch, const unsigned char* g4, std::size_t bytes) {
    auto* pdf = static_cast<PdfWriter*>(self);
    try {
        return pdf->AddPage(index, count, width, height, rowsPerInch, g4, bytes) ? 1 : 0;
    } catch (...) {
        pdf->failed_ = true;
        try {
            pdf->error_ = pdf->target_ + ": out of memory";
        } catch (...) {
        }
    }
    return 0;
}

} // namespace folio
