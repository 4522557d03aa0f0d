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
#include "FaxPage.h"
#include "FileGate.h"
#include "LineFilter.h"
#include "OutputFile.h"
#include "PageMarks.h"
#include "PdfPage.h"
#include "PdfWriter.h"
#include "SendCost.h"
#include "tiflib32.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace folio {

namespace {

// The line buffer holds 499 bytes of a line and its terminator.
constexpr int kLineBuffer = 500;
// A BARCODE line is read whole up to this many bytes, so that a symbol holds
// all of its data (a QR code takes up to 2,953 bytes, a PDF417 1,850).
constexpr std::size_t kMaxBarcodeLine = 4096;

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

// The stop flag of the build running on this thread; null between builds.
// Each build has a flag of its own, so that a build started from another's
// callback neither clears nor takes the outer one's request.
thread_local bool* tStop = nullptr;

class StopScope {
  public:
    StopScope() : outer_(tStop) { tStop = &stop_; }
    ~StopScope() { tStop = outer_; }
    StopScope(const StopScope&) = delete;
    StopScope& operator=(const StopScope&) = delete;

  private:
    bool stop_ = false;
    bool* outer_;
};

// A macro file larger than this is refused: about 100,000 pages of text.
constexpr long long kMaxMacroBytes = 512LL << 20;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// Whether this thread's outputs sync their folders, for one save: the PDF
// copy's here, the fax's in the writer, put back afterwards.
class FolderSyncSetting {
  public:
    explicit FolderSyncSetting(bool sync)
        : own_(OutputFile::SetThreadFolderSync(sync)), fax_(SetFaxFolderSync(sync ? 1 : 0)) {}
    ~FolderSyncSetting() {
        SetFaxFolderSync(fax_);
        OutputFile::SetThreadFolderSync(own_);
    }
    FolderSyncSetting(const FolderSyncSetting&) = delete;
    FolderSyncSetting& operator=(const FolderSyncSetting&) = delete;

  private:
    bool own_;
    int fax_;
};

// The writer's settings of this thread for one save, put back afterwards.
class WriterSettings {
  public:
    WriterSettings(int resolution, int coding, PdfWriter* pdf)
        : resolution_(GetFaxResolution()), coding_(coding) {
        SetFaxResolution(resolution);
        if (coding_ >= 0)
            SetFaxThreadCompression(coding_);
        SetFaxPageCopy(pdf ? &PdfWriter::TakePage : nullptr, pdf);
    }
    ~WriterSettings() {
        SetFaxPageCopy(nullptr, nullptr);
        if (coding_ >= 0)
            SetFaxThreadCompression(-1);
        SetFaxResolution(resolution_);
    }
    WriterSettings(const WriterSettings&) = delete;
    WriterSettings& operator=(const WriterSettings&) = delete;

  private:
    int resolution_;
    int coding_; // -1: the process-wide coding, left alone
};

// The calling thread's writer resolution for one build, put back afterwards.
class ThreadResolution {
  public:
    explicit ThreadResolution(int resolution) : before_(GetFaxResolution()) {
        SetFaxResolution(resolution);
    }
    ~ThreadResolution() { SetFaxResolution(before_); }
    ThreadResolution(const ThreadResolution&) = delete;
    ThreadResolution& operator=(const ThreadResolution&) = delete;

  private:
    int before_;
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
        loneCR_ = 0;
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
            loneCR_ += c == '\r';
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
        length_ = n;
        return n > 0 || ended;
    }

    bool cut() const { return cut_; }
    // The bytes of the last part (NUL bytes in it included).
    int length() const { return length_; }
    // Carriage returns in the last part that end no line (not before a LF).
    int loneCR() const { return loneCR_; }
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
    int length_ = 0, loneCR_ = 0;
    long long consumed_ = 0;
};

bool isWhite(char c) {
    return c == ' ' || (c >= 9 && c <= 13);
}

// Moves `p` past `word` when the text there begins with it, ASCII letters in
// any case, as the interpreter compares prefixes and keywords.
bool skipWord(const char*& p, const char* word) {
    const char* q = p;
    for (; *word; ++q, ++word)
        if (*q == '\0' || (*q & ~0x20) != (*word & ~0x20))
            return false;
    p = q;
    return true;
}

// Whether `line` is the command CODEPAGE=65001 (UTF-8) as the interpreter
// reads it: the macro prefix, CODEPAGE, "=" and the number 65001.
bool setsUtf8(const char* line, const char* macroStart) {
    const char* p = line;
    if (!skipWord(p, macroStart))
        return false;
    while (isWhite(*p))
        ++p;
    if (!skipWord(p, "CODEPAGE"))
        return false;
    while (isWhite(*p))
        ++p;
    if (*p++ != '=')
        return false;
    while (isWhite(*p))
        ++p;
    if (*p == '+')
        ++p;
    long value = 0;
    for (; *p >= '0' && *p <= '9' && value < 1000000; ++p)
        value = value * 10 + (*p - '0');
    return value == 65001;
}

// The command word of a macro line ("BARCODE", as written), or empty when
// the line is no command. Only what the word is made of is looked at: the
// interpreter still decides what it means.
std::string commandWord(const char* line, const char* macroStart) {
    const char* p = line;
    if (!skipWord(p, macroStart))
        return {};
    while (isWhite(*p))
        ++p;
    const char* end = p;
    while ((*end >= 'A' && *end <= 'Z') || (*end >= 'a' && *end <= 'z'))
        ++end;
    return std::string(p, std::size_t(end - p));
}

// What a part of a macro line loses to carriage returns that end no line:
// the first command after one is set as text. Empty when there is none.
std::string commandAfterCR(const char* line, const char* macroStart) {
    for (const char* p = std::strchr(line, '\r'); p; p = std::strchr(p + 1, '\r')) {
        const char* q = p + 1;
        if (skipWord(q, macroStart)) {
            const char* end = std::strchr(p + 1, '\r');
            return Quoted(std::string(p + 1, end ? end : p + std::strlen(p)).c_str());
        }
    }
    return {};
}

// Clears the top `rows` rows of `bitmap` (clipped to its height) and returns
// how many black pixels they held. Bitmap rows: a set bit is black, and the
// padding bits past the width are always clear, so whole rows are counted.
// The rows lie one after another in memory: a clean strip, the usual case
// after each macro line, costs one pass of 64-bit ORs without a branch.
long long clearStrip(folio::Bitmap& bitmap, int rows) {
    rows = std::min(rows, bitmap.Height());
    if (rows <= 0)
        return 0;
    std::uint8_t* bits = bitmap.Bits();
    const std::size_t bytes = std::size_t(rows) * std::size_t(bitmap.Stride());
    std::uint64_t any = 0;
    std::size_t i = 0;
    for (std::uint64_t word; i + 8 <= bytes; i += 8) {
        std::memcpy(&word, bits + i, 8);
        any |= word;
    }
    for (; i < bytes; ++i)
        any |= bits[i];
    if (!any)
        return 0;
    long long black = 0;
    for (i = 0; i < bytes; ++i)
        black += std::popcount(unsigned(bits[i]));
    std::memset(bits, 0, bytes);
    return black;
}

// Checks what does not depend on the macro: false with `error` set.
bool checkTargets(const char* tiffFile, const BuildOptions& options, std::string& error) {
    if (!tiffFile && !options.dryRun) {
        error = "no fax file given";
        return false;
    }
    if (options.resolution != TIFLIB_FAX_FINE && options.resolution != TIFLIB_FAX_NORMAL) {
        error = "unknown resolution " + std::to_string(options.resolution);
        return false;
    }
    if (options.pageSize < int(FaxImage::PageSize::Default) ||
        options.pageSize > int(FaxImage::PageSize::Legal)) {
        error = "unknown page size " + std::to_string(options.pageSize);
        return false;
    }
    if (options.reserveTop < 0 || options.reserveTop > kMaxReserveTop) {
        error = "reserved rows " + std::to_string(options.reserveTop) + " not within 0 to " +
                std::to_string(kMaxReserveTop);
        return false;
    }
    if (options.coding != -1 && options.coding != TIFLIB_FAX_G3_1D &&
        options.coding != TIFLIB_FAX_G3_2D && options.coding != TIFLIB_FAX_G4) {
        error = "unknown coding " + std::to_string(options.coding);
        return false;
    }
    if (!options.pdfFile.empty() && tiffFile && sameFile(options.pdfFile.c_str(), tiffFile)) {
        error = options.pdfFile + ": the PDF file and the fax file are the same file";
        return false;
    }
    return true;
}

// Builds from the open macro `file`, closed as soon as it has been read.
// The time limit counts from `start`.
bool buildFrom(std::unique_ptr<std::FILE, FileCloser> file, const std::string& macroName,
               const char* tiffFile, const BuildOptions& options, std::string& error,
               std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now());

// Whether `length` bytes at `data` are a PDF rather than a macro.
bool beginsPdf(const char* data, std::size_t length) {
    return data && length >= 5 && std::memcmp(data, "%PDF-", 5) == 0;
}

// The macro of a whole PDF: the pages `pages` (in points), each drawn as
// FILE=`file`,PDF,n at its size, scaled down to fit the page and centred.
std::string pdfMacro(const std::vector<PdfPageSize>& pages, const std::string& file, int pageSize) {
    // Every fax page is 1728 pixels wide.
    constexpr int kFaxWidth = 1728;
    // The paper: the one asked for, else the one the first page is nearest
    // to (A4 595 x 842 points, Letter 612 x 792, Legal 612 x 1008).
    FaxImage::PageSize paper = FaxImage::PageSize(pageSize);
    if (paper == FaxImage::PageSize::Default) {
        const double w = pages[0].width, h = pages[0].height;
        auto near = [&](double pw, double ph) {
            return std::fabs(w - pw) < 0.04 * pw && std::fabs(h - ph) < 0.04 * ph;
        };
        paper = near(595, 842)    ? FaxImage::PageSize::A4
                : near(612, 792)  ? FaxImage::PageSize::Letter
                : near(612, 1008) ? FaxImage::PageSize::Legal
                                  : FaxImage::PageSize::Default;
    }
    static const char* const names[] = {"DEFAULT", "A4", "LETTER", "LEGAL"};
    const int rows = FaxImage::PageRows(paper);
    std::string macro = "@CONVERT:PAGE=" + std::string(names[int(paper) & 3]) + "\n";
    for (std::size_t i = 0; i < pages.size(); ++i) {
        // Each page at its size on the fax grid, scaled down to fit the
        // page's width and length, centred across.
        const double wide = pages[i].width / 72.0 * kPdfDpiX;
        const double tall = pages[i].height / 72.0 * kPdfDpiY;
        const double scale = std::min({1.0, double(kFaxWidth) / wide, rows / tall});
        const long width = std::max(1L, long(wide * scale)),
                   height = std::max(1L, long(tall * scale));
        macro += "@CONVERT:X=" + std::to_string((kFaxWidth - width) / 2) +
                 "\n@CONVERT:Y=0\n@CONVERT:FILE=" + file + ",PDF," + std::to_string(i + 1) + "," +
                 std::to_string(width) + "," + std::to_string(height) + "\n";
        if (i + 1 < pages.size())
            macro += "@CONVERT:PAGEBREAK\n";
    }
    return macro;
}

// A whole PDF is read through this gate: the one name its macro draws from
// opens the document, and every other name is refused. A PDF built from
// memory is held in an anonymous file in memory (memfd), so that the build
// reads no file at all; a PDF file the caller named is the file opened when
// it was named, read whatever the build's own gate allows, as a macro file
// the caller names is (the gate confines what a macro includes, not the
// document the caller gives).
class DocumentGate : public FileGate {
  public:
    ~DocumentGate() override {
        if (fd_ >= 0)
            ::close(fd_);
    }
    // False with `error` set when no memory file could be made.
    bool Hold(const std::string& name, const char* data, std::size_t length, std::string& error) {
        name_ = name;
        fd_ = ::memfd_create("folioset-pdf", MFD_CLOEXEC);
        for (std::size_t done = 0; fd_ >= 0 && done < length;) {
            const ssize_t n = ::write(fd_, data + done, length - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                ::close(fd_);
                fd_ = -1;
                if (n == 0)
                    errno = EIO;
                break;
            }
            done += std::size_t(n);
        }
        if (fd_ < 0)
            error = name + ": cannot hold the PDF in memory: " + std::strerror(errno);
        return fd_ >= 0;
    }
    // The document as the descriptor `fd` reads it, which the gate now
    // owns; named by Name.
    void Take(int fd) { fd_ = fd; }
    void Name(const std::string& name) { name_ = name; }
    bool MayRead(const std::string& path) override { return path == name_; }
    int Open(const std::string& path) override {
        if (path != name_)
            return kRefused;
        // The copies share one file offset: each reader starts at the top.
        const int fd = fd_ < 0 ? -1 : ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
        if (fd < 0 || ::lseek(fd, 0, SEEK_SET) != 0) {
            if (fd >= 0)
                ::close(fd);
            return kUnreadable;
        }
        return fd;
    }

  private:
    std::string name_;
    int fd_ = -1;
};

// What a PDF held in memory is called in its macro's FILE lines: the
// build's name when a FILE command carries it unchanged (printable ASCII,
// no comma, no space at either end), else "document.pdf".
std::string memoryPdfName(const std::string& name) {
    bool plain = !name.empty() && name.front() != ' ' && name.back() != ' ' && name.size() < 200;
    for (const char c : name)
        plain = plain && c >= 0x20 && c < 0x7F && c != ',';
    return plain ? name : "document.pdf";
}

// Builds a fax of every page of a PDF: the file `name`, opened as `fd`
// (which this closes), or when `bytes` is not null the `length` bytes there,
// which `name` only names. pdfinfo's reading of the pages counts against the
// build's time limit.
bool buildPdf(const std::string& name, const char* bytes, std::size_t length, int fd,
              const char* tiffFile, const BuildOptions& options, std::string& error) {
    DocumentGate gate;
    if (!bytes)
        gate.Take(fd);
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const Clock::time_point limit = options.timeLimitMs > 0
                                        ? start + std::chrono::milliseconds(options.timeLimitMs)
                                        : Clock::time_point::max();
    if (bytes && length > kMaxPictureFileBytes) {
        error = name + ": a PDF larger than " + std::to_string(kMaxPictureFileBytes >> 20) +
                " MiB cannot be built";
        return false;
    }
    std::vector<PdfPageSize> pages;
    if (!ReadPdfPageSizes(name, std::string_view(bytes, bytes ? length : 0), FaxImage::kMaxPages,
                          std::min(limit, start + std::chrono::seconds(30)), pages, error)) {
        if (Clock::now() >= limit)
            error = name + ": stopped: the build took longer than its limit of " +
                    std::to_string(options.timeLimitMs) + " ms";
        return false;
    }
    BuildOptions rest = options;
    rest.fileGate = &gate;
    std::string file;
    if (bytes) {
        file = memoryPdfName(name);
        if (!gate.Hold(file, bytes, length, error))
            return false;
    } else {
        char* whole = ::realpath(name.c_str(), nullptr);
        file = whole ? whole : name;
        std::free(whole);
        if (file.find(',') != std::string::npos || file.find('\n') != std::string::npos ||
            file.find('\r') != std::string::npos) {
            error = name + ": a PDF whose path holds a comma or a line break cannot be built";
            return false;
        }
        gate.Name(file);
    }
    const std::string macro = pdfMacro(pages, file, options.pageSize);
    std::unique_ptr<std::FILE, FileCloser> in(
        ::fmemopen(const_cast<char*>(macro.data()), macro.size(), "rb"));
    if (!in) {
        error = name + ": cannot read the macro: " + std::strerror(errno);
        return false;
    }
    const WholePdfScope whole(std::move(pages));
    return buildFrom(std::move(in), name, tiffFile, rest, error, start);
}

} // namespace

void StopBuild() {
    if (tStop)
        *tStop = true;
}

bool StopRequested() {
    return tStop && *tStop;
}

bool BuildFaxFile(const char* macroFile, const char* tiffFile, const BuildOptions& options,
                  std::string& error) {
    error.clear();
    if (!macroFile) {
        error = "no macro file given";
        return false;
    }
    if (!checkTargets(tiffFile, options, error))
        return false;
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
    char head[5] = {};
    if (std::fread(head, 1, sizeof head, file.get()) == sizeof head &&
        beginsPdf(head, sizeof head)) {
        // The PDF is read through the file opened here, as the macro would be.
        const int fd = ::fcntl(fileno(file.get()), F_DUPFD_CLOEXEC, 0);
        if (fd < 0) {
            error = macroName + ": cannot open the macro file: " + std::strerror(errno);
            return false;
        }
        file.reset();
        return buildPdf(macroName, nullptr, 0, fd, tiffFile, options, error);
    }
    std::rewind(file.get());
    return buildFrom(std::move(file), macroName, tiffFile, options, error);
}

bool BuildFaxBytes(const char* macro, std::size_t length, const std::string& name,
                   const char* tiffFile, const BuildOptions& options, std::string& error) {
    error.clear();
    if (!macro && length > 0) {
        error = name + ": no macro given";
        return false;
    }
    if (!checkTargets(tiffFile, options, error))
        return false;
    if (beginsPdf(macro, length))
        return buildPdf(name, macro, length, -1, tiffFile, options, error);
    // The stream only reads; an empty macro still needs a buffer to point at.
    static char empty[1];
    std::unique_ptr<std::FILE, FileCloser> file(
        ::fmemopen(length ? const_cast<char*>(macro) : empty, length, "rb"));
    if (!file) {
        error = name + ": cannot read the macro: " + std::strerror(errno);
        return false;
    }
    return buildFrom(std::move(file), name, tiffFile, options, error);
}

namespace {

bool buildFrom(std::unique_ptr<std::FILE, FileCloser> file, const std::string& macroName,
               const char* tiffFile, const BuildOptions& options, std::string& error,
               std::chrono::steady_clock::time_point start) {
    std::unique_ptr<char[]> line(new (std::nothrow) char[kLineBuffer]);
    if (!line) {
        error = "out of memory";
        return false;
    }

    StopScope stopScope;
    // Lines are counted as the file has them: the parts of a line longer
    // than the buffer share its number.
    int lineNo = 0;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = options.timeLimitMs > 0
                                           ? start + std::chrono::milliseconds(options.timeLimitMs)
                                           : Clock::time_point::max();
    auto stopped = [&] {
        const bool caller = StopRequested();
        if (!caller && (options.timeLimitMs <= 0 || Clock::now() <= deadline))
            return false;
        error = macroName + (lineNo ? ":" + std::to_string(lineNo) : "") +
                (caller ? ": stopped by the caller"
                        : ": stopped: the build took longer than its limit of " +
                              std::to_string(options.timeLimitMs) + " ms");
        return true;
    };
    CountingSink counter(options.diagnostics);
    DiagnosticSink* sink = options.diagnostics ? &counter : nullptr;
    auto report = [&](int at, Severity severity, const char* kind, const std::string& message) {
        if (sink)
            sink->Report(Diagnostic{at, severity, kind, message});
    };
    try {
        // The engine diffuses pictures for the resolution the pages are
        // written at, which it reads from this thread's writer setting when
        // pages are not coded ahead: set for the whole run.
        const ThreadResolution resolution(options.resolution);
        auto fax = std::make_unique<FaxImage>();
        // As a CODEPAGE command sets it: the engine and the first page's
        // canvas (later pages take it from the engine).
        fax->CodePage = options.codePage;
        if (fax->Image)
            fax->Image->Canvas().CodePage = options.codePage;
        fax->SetPageSize(FaxImage::PageSize(options.pageSize));
        fax->SetFileGate(options.fileGate);
        fax->SetPageLimit(options.maxPages);
        // Pictures are decoded inside one line: they get the time limit as
        // their own budget (whole seconds, at least one), which the line
        // check after them then finds spent.
        if (options.timeLimitMs > 0 && options.timeLimitMs < FaxImage::kPictureSeconds * 1000)
            fax->SetPictureLimits(-1, (options.timeLimitMs + 999) / 1000);
        fax->SetDiagnostics(sink);
        SetLineFilter(*fax, options.lineFilter);
        // Pages are coded as they are finished when nothing but the fax file
        // needs their pixels: a PDF copy of a Group 3 file codes them again,
        // beforeSave may read them and their costs count black pixels.
        const int coding = options.coding >= 0 ? options.coding : GetFaxCompression();
        // Kept rows are checked after each line, on every page it drew on:
        // a page must not be coded before then.
        if (!options.dryRun && !options.beforeSave && !options.pageCosts &&
            options.reserveTop == 0 &&
            (coding == TIFLIB_FAX_G4 ||
             (options.pdfFile.empty() &&
              (coding == TIFLIB_FAX_G3_1D || coding == TIFLIB_FAX_G3_2D)))) {
            fax->CodeAhead(coding, options.resolution);
            // The fax file is written as its pages are coded, rather than
            // all of it after the last page; it is named only at the end,
            // as before. Started here, on this thread, with this build's
            // folder sync. Not for standard output, nor with a PDF copy
            // (its pages go to the writer from this thread's settings).
            if (tiffFile && std::strcmp(tiffFile, "-") != 0 && options.pdfFile.empty()) {
                const FolderSyncSetting folders(options.syncFolders);
                fax->WriteAheadTo(tiffFile);
            }
        }
        auto reader = std::make_unique<MacroReader>(file.get());
        const long long maxBytes =
            options.maxMacroBytes > 0 ? options.maxMacroBytes : kMaxMacroBytes;
        bool continued = false, started = false, crReported = false;
        // The first line's byte-order mark: a UTF-8 mark before the command
        // CODEPAGE=65001 is taken off (the macro reads itself as UTF-8);
        // any other is text as the macro's code page reads it, reported.
        int skippedMark = 0;
        auto firstPart = [&](FaxImage& engine, char* text, int length) {
            const std::string_view start(text, std::size_t(length));
            if (StartsWithUtf8Mark(start)) {
                if (setsUtf8(text + 3, engine.MacroStart)) {
                    std::memmove(text, text + 3, std::size_t(length - 3 + 1));
                    skippedMark = 3;
                } else {
                    report(1, Severity::Warning, kind::ByteOrderMark,
                           Utf8MarkMessage(engine.CodePage) +
                               "; to read the file as UTF-8, begin it with the line " +
                               engine.MacroStart + "CODEPAGE=65001 (the mark is then skipped)");
                }
            } else if (start.substr(0, 2) == "\xFF\xFE" || start.substr(0, 2) == "\xFE\xFF") {
                report(1, Severity::Warning, kind::ByteOrderMark,
                       "the file is UTF-16 text, which is not decoded: its bytes are read one "
                       "by one, and the NUL byte in each character ends the line; save it as "
                       "UTF-8 and begin it with the line " +
                           std::string(engine.MacroStart) + "CODEPAGE=65001");
            }
        };
        auto tooLarge = [&] {
            error = macroName + ": the macro file is larger than " +
                    (maxBytes % (1 << 20) == 0 ? std::to_string(maxBytes >> 20) + " MiB"
                                               : std::to_string(maxBytes) + " bytes");
            return false;
        };
        // --reserve-top: the kept rows of the pages line `at` drew on, from
        // page `first` to the current one, made white again, each page that
        // held black pixels there reported. The engine only goes forward
        // (NextPage makes each new page at the end), so those are all the
        // pages a line can reach; a page it passed is parked, and is
        // unpacked for the check and packed again. Clearing after each line
        // rather than at the page's end leaves the same page, and lets each
        // line that draws there be named. Taking ink away behind the
        // canvas's back is safe for its text overlap check, which only
        // trusts the paper to hold no more than the text set on it.
        auto keepRowsWhite = [&](int first, int at) {
            Link* l = fax->CurrentPage;
            int page = fax->PageNo;
            for (; l && page > first && l->Pred(); --page)
                l = l->Pred();
            for (; l; l = l->Suc(), ++page) {
                PageImage& image = static_cast<FaxPage*>(l)->PageImage;
                const bool parked = l != fax->CurrentPage && image.Parked();
                if (image.Coded())
                    break; // not with reserved rows: CodeAhead is off
                const long long black = clearStrip(image.Picture(), options.reserveTop);
                if (parked)
                    image.Park();
                if (black > 0)
                    report(at, Severity::Warning, kind::ReservedStrip,
                           "page " + std::to_string(page) + ": the line drew " +
                               std::to_string(black) +
                               (black == 1 ? " black pixel" : " black pixels") + " into the top " +
                               std::to_string(options.reserveTop) +
                               " rows, which are kept white for the fax header; they were cleared");
                if (l == fax->CurrentPage)
                    break;
            }
        };
        std::unique_ptr<char[]> part;
        std::string whole; // a long command line, read to its end
        while (reader->next(line.get(), kLineBuffer)) {
            // A callback of the line before may have asked to stop.
            if (stopped())
                return false;
            if (!continued)
                ++lineNo;
            // A command's parts are never lines of their own: its tail set
            // as text would put a command's arguments (a barcode's data) on
            // the page. Text lines are read in parts, as they always were.
            const std::string command = reader->cut() && !continued
                                            ? commandWord(line.get(), fax->MacroStart)
                                            : std::string();
            if (reader->cut() && !continued && command.empty())
                report(lineNo, Severity::Warning, kind::LineCut,
                       "the line is longer than " + std::to_string(kLineBuffer - 1) +
                           " bytes; it is read in parts of that length, each as a line of its own");
            continued = reader->cut();
            if (reader->consumed() > maxBytes)
                return tooLarge();
            char* text = line.get();
            if (!command.empty()) {
                // The rest of the line, kept for BARCODE up to its limit.
                const char* word = command.c_str();
                const bool barcode = skipWord(word, "BARCODE") && !*word;
                whole.assign(text, std::size_t(reader->length()));
                bool fits = barcode;
                long long rest = 0;
                if (!part)
                    part.reset(new char[kLineBuffer]);
                while (continued && reader->next(part.get(), kLineBuffer)) {
                    continued = reader->cut();
                    if (reader->consumed() > maxBytes)
                        return tooLarge();
                    rest += reader->length();
                    fits = fits && whole.size() + std::size_t(reader->length()) <= kMaxBarcodeLine;
                    if (fits)
                        whole.append(part.get(), std::size_t(reader->length()));
                }
                continued = false;
                const long long length = (kLineBuffer - 1) + rest;
                if (fits) {
                    text = whole.data();
                } else if (barcode) {
                    report(lineNo, Severity::Error, kind::LineCut,
                           "the BARCODE line is longer than " + std::to_string(kMaxBarcodeLine) +
                               " bytes (" + std::to_string(length) +
                               "); no symbol is drawn, since it could not hold all of its data");
                    continue;
                } else {
                    report(lineNo, Severity::Error, kind::LineCut,
                           "the " + command + " command is longer than " +
                               std::to_string(kLineBuffer - 1) + " bytes; its first " +
                               std::to_string(kLineBuffer - 1) +
                               " bytes are carried out and the "
                               "rest of the line (" +
                               std::to_string(rest) + " bytes) is not read");
                }
            }
            if (lineNo == 1 && !started)
                firstPart(*fax, line.get(), reader->length());
            started = true;
            if (sink && reader->loneCR() && !crReported) {
                // Reported once: a file with CR line ends is one long line.
                crReported = true;
                const std::string command = commandAfterCR(line.get(), fax->MacroStart);
                report(
                    lineNo, Severity::Warning, kind::LineEnds,
                    "the line holds " + std::to_string(reader->loneCR()) +
                        (reader->loneCR() == 1 ? " carriage return" : " carriage returns") +
                        " without a line feed; only LF and CR LF end a line, so text with CR "
                        "line ends runs on as one line" +
                        (command.empty() ? "" : " and the command " + command + " is set as text") +
                        "; convert the file to LF line ends");
            }
            if (sink) {
                const char* text = line.get();
                const int length = int(std::strlen(text));
                if (const int full = reader->length() - skippedMark; length < full) {
                    const std::string lost =
                        NulByteMessage(std::string_view(text + length + 1, full - length - 1));
                    if (!lost.empty())
                        report(lineNo, Severity::Warning, kind::BadBytes, lost);
                }
            }
            skippedMark = 0;
            const int pageBefore = fax->PageNo;
            fax->SetSourceLine(lineNo);
            const bool more = fax->ProcessCommand(text);
            if (options.reserveTop > 0)
                keepRowsWhite(pageBefore, lineNo);
            if (!more) {
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
        if (stopped())
            return false;
        // Headers and footers, now that the page count is known: before the
        // pages are costed, shown to beforeSave or written; a header goes
        // below the rows kept white.
        DrawPageMarks(*fax, options.reserveTop);
        if (options.pageCount)
            *options.pageCount = fax->PageCount;
        if (options.pageCosts) {
            std::string why;
            if (!CostPages(*fax->Pages, fax->Pages->Cardinal(), coding, options.resolution,
                           *options.pageCosts, why)) {
                error = macroName + ": " + why;
                return false;
            }
            for (std::size_t i = 0; i < options.pageCosts->size(); ++i)
                if (std::string slow = SlowPageMessage(int(i + 1), (*options.pageCosts)[i]);
                    !slow.empty())
                    report(0, Severity::Warning, kind::PageSlow, slow);
        }
        if (options.strict && counter.problems > 0) {
            error = macroName + ": " + std::to_string(counter.problems) +
                    (counter.problems == 1 ? " warning" : " warnings") +
                    " (strict); nothing written";
            return false;
        }
        if (options.beforeSave && !options.beforeSave(*fax, error))
            return false;
        if (stopped())
            return false;
        if (options.dryRun)
            return true;
        std::string target = tiffFile;
        const FolderSyncSetting folders(options.syncFolders);
        std::unique_ptr<PdfWriter> pdf;
        if (!options.pdfFile.empty() && !(pdf = PdfWriter::Create(options.pdfFile, error)))
            return false;
        bool saved;
        {
            WriterSettings settings(options.resolution, options.coding, pdf.get());
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

} // namespace

} // namespace folio
