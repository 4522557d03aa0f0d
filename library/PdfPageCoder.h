// Coding the pages of a PDF copy while the macro still runs. A page is done
// once the page after it exists (nothing in a macro returns to an earlier
// page), so each such page is coded in Group 4 on a thread of its own while
// the engine sets the next ones: the second core, little used while text is
// set, takes the work that would otherwise wait for the save. Used when the
// fax itself is not coded in Group 4 (then its own coding is handed over).
#pragma once

#include "PdfWriter.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class FaxImage;
class Link;
class PageImage;

namespace folio {

class PdfPageCoder {
  public:
    // `resolution`: TIFLIB_FAX_FINE or TIFLIB_FAX_NORMAL, as for the fax.
    PdfPageCoder(PdfWriter& pdf, int resolution);
    // Stops the thread; pages not yet coded are dropped.
    ~PdfPageCoder();
    PdfPageCoder(const PdfPageCoder&) = delete;
    PdfPageCoder& operator=(const PdfPageCoder&) = delete;

    // Hands the pages of `fax` that are done and not yet handed over to the
    // thread. Called on the engine's thread, which must not touch those pages
    // again before Finish.
    void Follow(FaxImage& fax);
    // Waits for the thread, codes the pages left (the last one at least) on
    // this thread and completes the PDF. On false, `error` says why.
    bool Finish(FaxImage& fax, std::string& error);

  private:
    void Run();
    // Codes one page and adds it to the PDF; throws on failure.
    void Code(const PageImage& page);

    PdfWriter& pdf_;
    int resolution_;
    Link* handed_ = nullptr; // the last page handed over
    int handedCount_ = 0;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<const PageImage*> queue_;
    bool closing_ = false, stopped_ = false;
    std::exception_ptr failure_;
    std::string error_;
    // Scratch of the coding thread (and of Finish, after it has ended).
    std::vector<std::uint8_t> rows_, merged_, coded_;
    std::thread thread_;
};

} // namespace folio
