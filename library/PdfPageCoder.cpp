// The pages are read as the save reads them (PageImage::ReadRows, which
// unpacks a parked page without changing it) and merged and coded with the
// fax writer's own routines, so the PDF's pixels are the TIFF's by
// construction.
#include "PdfPageCoder.h"

#include "FaxImage.h"
#include "G4Encoder.h"
#include "PackedDib.h"
#include "RowMerge.h"
#include "tiflib32.h"

#include <stdexcept>

namespace folio {

PdfPageCoder::PdfPageCoder(PdfWriter& pdf, int resolution) : pdf_(pdf), resolution_(resolution) {
    thread_ = std::thread([this] { Run(); });
}

PdfPageCoder::~PdfPageCoder() {
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void PdfPageCoder::Follow(FaxImage& fax) {
    // Every page but the current (last) one is done.
    if (fax.PageCount - 1 <= handedCount_)
        return;
    Link* next = handed_ ? handed_->Suc() : fax.Pages->First();
    std::vector<const PageImage*> done;
    for (; next && next->Suc(); next = next->Suc()) {
        done.push_back(&static_cast<FaxPage*>(next)->PageImage);
        handed_ = next;
    }
    handedCount_ += int(done.size());
    {
        std::lock_guard lock(mutex_);
        queue_.insert(queue_.end(), done.begin(), done.end());
    }
    wake_.notify_one();
}

void PdfPageCoder::Run() {
    for (;;) {
        const PageImage* page;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stopped_ || closing_ || !queue_.empty(); });
            if (stopped_ || failure_ || queue_.empty())
                return;
            page = queue_.front();
            queue_.pop_front();
        }
        try {
            Code(*page);
        } catch (...) {
            std::lock_guard lock(mutex_);
            failure_ = std::current_exception();
            return;
        }
    }
}

void PdfPageCoder::Code(const PageImage& page) {
    tiflib::PageView view;
    view.width = std::uint32_t(page.Width());
    view.height = std::uint32_t(page.Height());
    view.rowBytes = DibRowStride(view.width, 1);
    rows_.resize(view.rowBytes * view.height);
    page.ReadRows(rows_.data(), std::ptrdiff_t(view.rowBytes), false);
    view.top = rows_.data();
    view.step = std::ptrdiff_t(view.rowBytes);
    const bool normal = resolution_ == TIFLIB_FAX_NORMAL;
    const tiflib::PageView coded = normal ? tiflib::MergeRowPairs(view, merged_) : view;
    tiflib::EncodeG4(coded, coded_);
    if (!pdf_.AddPage(coded.width, coded.height, normal ? 98 : 196, coded_.data(), coded_.size()))
        throw std::runtime_error(pdf_.Error());
}

bool PdfPageCoder::Finish(FaxImage& fax, std::string& error) {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    wake_.notify_all();
    thread_.join();
    try {
        if (failure_)
            std::rethrow_exception(failure_);
        // The pages the thread did not get to, and those never handed over.
        for (const PageImage* page : queue_)
            Code(*page);
        queue_.clear();
        for (Link* l = handed_ ? handed_->Suc() : fax.Pages->First(); l; l = l->Suc())
            Code(static_cast<FaxPage*>(l)->PageImage);
        if (pdf_.Finish())
            return true;
        error = pdf_.Error();
    } catch (const std::bad_alloc&) {
        error = pdf_.Error().empty() ? "out of memory while coding the PDF" : pdf_.Error();
    } catch (const std::exception& e) {
        error = pdf_.Error().empty() ? e.what() : pdf_.Error();
    }
    return false;
}

} // namespace folio
