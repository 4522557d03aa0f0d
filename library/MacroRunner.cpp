// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The macro file reader and the build. The file is read in text mode: a
// carriage return right before a line feed is dropped, a lone one stays in
// the line. Errors the engine raises while a line runs end the build with
// the macro file's name and line number in the message.
#include "MacroRunner.h"

#include "Diagnostics.h"
#include "Error.h"
#include "FaxImage.h"
#include "PdfWriter.h"
#include "tiflib32.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <system_error>

namespace folio {

namespace {

// The line buffer holds 499 bytes of a line and its terminator.
constexpr int kLineBuffer = 500;

// Counts what it passes on, so that a strict build can refuse warnings.
class CountingSink : public DiagnosticSink {
  public:
    explicit CountingSink(DiagnosticSink* out) : out_(out) {}
    void Report(const Diagnostic& d) override {
        if (d.severity != Severity::Note)
            ++problems;
        out_->Report(d);
    }
    int problems = 0;

  private:
    DiagnosticSink* out_;
};

// A macro file larger than this is refused: about 100,000 pages of text.
constexpr long long kMaxMacroBytes = 512LL << 20;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// The writer's settings of this thread for one save, put back afterwards.
class WriterSettings {
  public:
    WriterSettings(int resolution, PdfWriter* pdf) : resolution_(GetFaxResolution()) {
        SetFaxResolution(resolution);
        SetFaxPageCopy(pdf ? &PdfWriter::TakePage : nullptr, pdf);
    }
    ~WriterSettings() {
        SetFaxPageCopy(nullptr, nullptr);
        SetFaxResolution(resolution_);
    }
    WriterSettings(const WriterSettings&) = delete;
    WriterSettings& operator=(const WriterSettings&) = delete;

  private:
    int resolution_;
};

// Whether two paths name one file: the same path once "." and ".." and
// symbolic links are resolved (the files need not exist yet), or the same
// file under two names.
bool sameFile(const char* a, const char* b) {
    std::error_code ea, eb;
    const auto pa = std::filesystem::weakly_canonical(a, ea);
    const auto pb = std::filesystem::weakly_canonical(b, eb);
    if (!ea && !eb && pa == pb)
        return true;
    struct stat sa, sb;
    return std::strcmp(a, b) == 0 || (::stat(a, &sa) == 0 && ::stat(b, &sb) == 0 &&
                                      sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino);
}

// Reads a file in text mode, one part of a line at a time.
class MacroReader {
  public:
    explicit MacroReader(std::FILE* f) : f_(f) {}

    // Reads the next part of a line into buf: at most size - 1 bytes, up to
    // the line's end (CR LF or LF, not stored). Returns false at the end of
    // the file when nothing was read. A line of exactly size - 1 bytes ends
    // with its terminator rather than in an empty part. cut() tells whether
    // the line goes on in the next part.
    bool next(char* buf, int size) {
        cut_ = false;
        int n = 0;
        bool ended = false;
        while (n < size - 1) {
            int c = get();
            if (c == EOF)
                break;
            if (c == '\n' || (c == '\r' && peek() == '\n')) {
                if (c == '\r')
                    get();
                ended = true;
                break;
            }
            buf[n++] = char(c);
        }
        if (!ended && n == size - 1) {
            if (peek() == '\n') {
                get();
            } else if (peek() == '\r' && peek2() == '\n') {
                get();
                get();
            } else {
                cut_ = peek() != EOF;
            }
        }
        buf[n] = '\0';
        return n > 0 || ended;
    }

    bool cut() const { return cut_; }
    long long consumed() const { return consumed_; }

    // Skips blank lines after the current position and returns how many
    // line ends it passed, or -1 when nothing but whitespace is left. Stops
    // at the first other byte, so it reads no more than that.
    long long skipBlank() {
        long long ends = 0;
        for (int c; (c = peek()) != EOF; get()) {
            if (c == '\n')
                ++ends;
            else if (!(c == ' ' || (c >= 9 && c <= 13)))
                return ends;
        }
        return -1;
    }
    bool failed() const { return failed_; }

  private:
    bool fill() {
        if (pos_ < len_)
            return true;
        if (eof_)
            return false;
        // Keep one unread byte when refilling for peek2.
        len_ = std::fread(buf_, 1, sizeof buf_, f_);
        pos_ = 0;
        if (len_ == 0) {
            eof_ = true;
            failed_ = std::ferror(f_) != 0;
            return false;
        }
        return true;
    }
    int get() {
        if (!fill())
            return EOF;
        ++consumed_;
        return static_cast<unsigned char>(buf_[pos_++]);
    }
    int peek() { return fill() ? static_cast<unsigned char>(buf_[pos_]) : EOF; }
    // The byte after the next one, for CR LF at a buffer edge.
    int peek2() {
        if (!fill())
            return EOF;
        if (pos_ + 1 < len_)
            return static_cast<unsigned char>(buf_[pos_ + 1]);
        // Move the one pending byte to the front and read more behind it.
        buf_[0] = buf_[pos_];
        std::size_t more = std::fread(buf_ + 1, 1, sizeof buf_ - 1, f_);
        pos_ = 0;
        len_ = 1 + more;
        return more ? static_cast<unsigned char>(buf_[1]) : EOF;
    }

    std::FILE* f_;
    char buf_[1 << 16];
    std::size_t pos_ = 0, len_ = 0;
    bool eof_ = false, failed_ = false, cut_ = false;
    long long consumed_ = 0;
};

} // namespace

bool BuildFaxFile(const char* macroFile, const char* tiffFile, const BuildOptions& options,
                  std::string& error) {
    error.clear();
    if (!macroFile || (!tiffFile && !options.dryRun)) {
        error = "no macro file or no fax file given";
        return false;
    }
    if (options.resolution != TIFLIB_FAX_FINE && options.resolution != TIFLIB_FAX_NORMAL) {
        error = "unknown resolution " + std::to_string(options.resolution);
        return false;
    }
    if (!options.pdfFile.empty() && sameFile(options.pdfFile.c_str(), tiffFile)) {
        error = options.pdfFile + ": the PDF file and the fax file are the same file";
        return false;
    }
    const std::string macroName = macroFile;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(macroFile, "rb"));
    if (!file) {
        error = macroName + ": cannot open the macro file: " + std::strerror(errno);
        return false;
    }
    struct stat st;
    if (fstat(fileno(file.get()), &st) == 0 && S_ISDIR(st.st_mode)) {
        error = macroName + ": cannot open the macro file: it is a directory";
        return false;
    }
    std::unique_ptr<char[]> line(new (std::nothrow) char[kLineBuffer]);
    if (!line) {
        error = "out of memory";
        return false;
    }

    // Lines are counted as the file has them: the parts of a line longer
    // than the buffer share its number.
    int lineNo = 0;
    CountingSink counter(options.diagnostics);
    DiagnosticSink* sink = options.diagnostics ? &counter : nullptr;
    auto report = [&](int at, Severity severity, const char* kind, const std::string& message) {
        if (sink)
            sink->Report(Diagnostic{at, severity, kind, message});
    };
    try {
        auto fax = std::make_unique<FaxImage>();
        fax->SetFileGate(options.fileGate);
        fax->SetPageLimit(options.maxPages);
        fax->SetDiagnostics(sink);
        // Pages are coded as they are finished when nothing but the fax file
        // needs their pixels: a PDF copy of a Group 3 file codes them again,
        // and beforeSave may read them.
        const int coding = GetFaxCompression();
        if (!options.dryRun && !options.beforeSave &&
            (coding == TIFLIB_FAX_G4 || (options.pdfFile.empty() && (coding == TIFLIB_FAX_G3_1D ||
                                                                     coding == TIFLIB_FAX_G3_2D))))
            fax->CodeAhead(coding, options.resolution);
        auto reader = std::make_unique<MacroReader>(file.get());
        const long long maxBytes =
            options.maxMacroBytes > 0 ? options.maxMacroBytes : kMaxMacroBytes;
        bool continued = false;
        while (reader->next(line.get(), kLineBuffer)) {
            if (!continued)
                ++lineNo;
            if (reader->cut() && !continued)
                report(lineNo, Severity::Warning, kind::LineCut,
                       "the line is longer than " + std::to_string(kLineBuffer - 1) +
                           " bytes; it is read in parts of that length, each as a line of its own");
            continued = reader->cut();
            if (reader->consumed() > maxBytes) {
                error = macroName + ": the macro file is larger than " +
                        (maxBytes % (1 << 20) == 0 ? std::to_string(maxBytes >> 20) + " MiB"
                                                   : std::to_string(maxBytes) + " bytes");
                return false;
            }
            fax->SetSourceLine(lineNo);
            if (!fax->ProcessCommand(line.get())) {
                if (sink) {
                    // The rest of an END line is ignored, like the lines after it.
                    const long long blank = continued ? 0 : reader->skipBlank();
                    if (blank >= 0)
                        report(lineNo, Severity::Note, kind::AfterEnd,
                               "the text after END (from line " +
                                   std::to_string(long(lineNo + (continued ? 0 : blank + 1))) +
                                   " on) is not read");
                }
                break;
            }
        }
        if (reader->failed()) {
            error = macroName + ": cannot read the macro file: " + std::strerror(errno);
            return false;
        }
        file.reset();
        line.reset();
        if (options.pageCount)
            *options.pageCount = fax->PageCount;
        if (options.strict && counter.problems > 0) {
            error = macroName + ": " + std::to_string(counter.problems) +
                    (counter.problems == 1 ? " warning" : " warnings") +
                    " (strict); nothing written";
            return false;
        }
        if (options.beforeSave && !options.beforeSave(*fax, error))
            return false;
        if (options.dryRun)
            return true;
        std::string target = tiffFile;
        std::unique_ptr<PdfWriter> pdf;
        if (!options.pdfFile.empty() && !(pdf = PdfWriter::Create(options.pdfFile, error)))
            return false;
        bool saved;
        {
            WriterSettings settings(options.resolution, pdf.get());
            saved = fax->SaveFile(target.data());
        }
        if (!saved && pdf && !pdf->Error().empty()) {
            error = pdf->Error();
            return false;
        }
        if (saved && pdf)
            return pdf->Commit(error);
        if (!saved) {
            const char* why = TiflibLastError();
            error = (target == "-" ? "standard output" : target) + ": cannot write the fax file" +
                    (why && *why ? ": " : "") + (why ? why : "");
            return false;
        }
        return true;
    } catch (const Error& e) {
        error = macroName + (lineNo ? ":" + std::to_string(lineNo) : "") + ": " + e.what();
    } catch (const std::bad_alloc&) {
        error = macroName + ": out of memory";
    } catch (const std::exception& e) {
        error = macroName + ": " + e.what();
    }
    return false;
}

} // namespace folio
