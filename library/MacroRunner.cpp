// The macro file reader and the build. The file is read in text mode: a
// carriage return right before a line feed is dropped, a lone one stays in
// the line. Errors the engine raises while a line runs end the build with
// the macro file's name and line number in the message.
#include "MacroRunner.h"

#include "Error.h"
#include "FaxImage.h"
#include "tiflib32.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/stat.h>

namespace folio {

namespace {

// The line buffer holds 499 bytes of a line and its terminator.
constexpr int kLineBuffer = 500;

// A macro file larger than this is refused: about 100,000 pages of text.
constexpr long long kMaxMacroBytes = 512LL << 20;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// Reads a file in text mode, one part of a line at a time.
class MacroReader {
  public:
    explicit MacroReader(std::FILE* f) : f_(f) {}

    // Reads the next part of a line into buf: at most size - 1 bytes, up to
    // the line's end (CR LF or LF, not stored). Returns false at the end of
    // the file when nothing was read. A line of exactly size - 1 bytes ends
    // with its terminator rather than in an empty part.
    bool next(char* buf, int size) {
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
            }
        }
        buf[n] = '\0';
        return n > 0 || ended;
    }

    long long consumed() const { return consumed_; }
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
    bool eof_ = false, failed_ = false;
    long long consumed_ = 0;
};

} // namespace

bool BuildFaxFile(const char* macroFile, const char* tiffFile, const BuildOptions& options,
                  std::string& error) {
    error.clear();
    if (!macroFile || !tiffFile) {
        error = "no macro file or no fax file given";
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

    int lineNo = 0;
    try {
        auto fax = std::make_unique<FaxImage>();
        fax->SetFileGate(options.fileGate);
        fax->SetPageLimit(options.maxPages);
        auto reader = std::make_unique<MacroReader>(file.get());
        const long long maxBytes =
            options.maxMacroBytes > 0 ? options.maxMacroBytes : kMaxMacroBytes;
        while (reader->next(line.get(), kLineBuffer)) {
            ++lineNo;
            if (reader->consumed() > maxBytes) {
                error = macroName + ": the macro file is larger than " +
                        (maxBytes % (1 << 20) == 0 ? std::to_string(maxBytes >> 20) + " MiB"
                                                   : std::to_string(maxBytes) + " bytes");
                return false;
            }
            if (!fax->ProcessCommand(line.get()))
                break;
        }
        if (reader->failed()) {
            error = macroName + ": cannot read the macro file: " + std::strerror(errno);
            return false;
        }
        file.reset();
        line.reset();
        if (options.beforeSave && !options.beforeSave(*fax, error))
            return false;
        std::string target = tiffFile;
        if (!fax->SaveFile(target.data())) {
            const char* why = TiflibLastError();
            error = target + ": cannot write the fax file" + (why && *why ? ": " : "") +
                    (why ? why : "");
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
