// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// foliobuild: the command-line tool over Foliolib. Builds one fax TIFF from a
// macro file, or a batch of them into a folder on several threads (one engine
// per document and thread). On failure it names the file and the cause, one
// line each, and exits non-zero.
#include "DataReader.h"
#include "DiagnosticList.h"
#include "FaxImage.h"
#include "Fields.h"
#include "IncludeRoot.h"
#include "JsonReport.h"
#include "MacroRunner.h"
#include "PngWriter.h"
#include "ProcessMemory.h"
#include "SendCost.h"
#include "Spool.h"
#include "tiflib32.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr const char* kUsage =
    "Usage: foliobuild [OPTIONS] MACRO TIFF\n"
    "       foliobuild [OPTIONS] -o OUTDIR MACRO...\n"
    "       foliobuild --check [OPTIONS] MACRO...\n"
    "       foliobuild --data DATA [OPTIONS] -o OUTDIR TEMPLATE\n"
    "       foliobuild --spool DIR [-j N] [--include-root DIR] [--once]\n"
    "Turns fax macro files into multi-page fax TIFF files (TIFF Class F,\n"
    "204 x 196 dpi). With -o, each MACRO becomes OUTDIR/<name>.tif. TIFF may be\n"
    "'-' for standard output; a device, pipe or socket is written into.\n"
    "\n"
    "Options:\n"
    "  -o, --output-dir DIR   batch mode: write the fax files into DIR\n"
    "  -j, --jobs N           build N documents at a time (batch mode, spool)\n"
    "  --spool DIR            run as a service: build each macro dropped into\n"
    "                         DIR/in into DIR/out/<name>.tif, then move it to\n"
    "                         DIR/done (or DIR/failed with <name>.err)\n"
    "  --once                 with --spool: build what is there, then exit\n"
    "  --data FILE            fill the fields {{name}} of the macro TEMPLATE from\n"
    "                         each record of FILE (CSV with a header row, or\n"
    "                         JSON: an object or an array of objects) and\n"
    "                         write one fax per record, OUTDIR/TEMPLATE-0001.tif\n"
    "                         and on; a single record may go to one TIFF\n"
    "  --name-field NAME      with --data: name each fax after the record's\n"
    "                         field NAME (made safe and unique)\n"
    "  --include-root DIR     FILE commands may only read files inside DIR;\n"
    "                         others are ignored with a warning\n"
    "  --max-macro-size N     refuse macro files larger than N bytes\n"
    "                         (default 512 MiB)\n"
    "  --png DIR              also write each page as DIR/<name>-<page>.png\n"
    "  --pdf FILE             also write the pages as the PDF file FILE\n"
    "  --pdf-dir DIR          also write each fax as DIR/<name>.pdf\n"
    "  --resolution RES       fine (204 x 196 dpi, the default) or normal\n"
    "                         (204 x 98 dpi: each pair of rows merged into one)\n"
    "  --page SIZE            the paper: a4 (2286 rows), letter (2151), legal\n"
    "                         (2738) or default (2200); a PAGE command in the\n"
    "                         macro changes it\n"
    "  --g3                   CCITT Group 3 one-dimensional coding (the default;\n"
    "                         every fax reader takes it)\n"
    "  --g3-2d                CCITT Group 3 two-dimensional coding (smaller)\n"
    "  --g4                   CCITT Group 4 coding (smallest)\n"
    "  --check                build in memory, write nothing; print what each\n"
    "                         macro loses and one summary line per macro on\n"
    "                         standard output; exit 1 if any has a warning\n"
    "  --reserve-top N        keep the top N rows of each page (0 to 400, 196 to\n"
    "                         the inch) white for a fax server's header line;\n"
    "                         what the macro draws there is cleared, with a\n"
    "                         warning\n"
    "  --stats                print each page's coded size and sending time at\n"
    "                         9600 and 14400 bit/s, and a total, on standard\n"
    "                         output (with --check too); warn of a page that\n"
    "                         takes over 60 s at 14400 bit/s\n"
    "  --strict               a warning fails the build: nothing is written\n"
    "  --diagnostics FORMAT   text (the default: lines on standard error) or\n"
    "                         json: one JSON document on standard output,\n"
    "                         with each macro's (with --data, each record's)\n"
    "                         result, diagnostics and --stats figures (not\n"
    "                         with TIFF '-')\n"
    "  -q, --quiet            no warnings, notes or progress line\n"
    "  -h, --help             show this help and exit\n"
    "  --version              show the version and exit\n"
    "\n"
    "FILE commands name files relative to the current folder. What a macro\n"
    "loses (text that does not fit, files not included, commands not\n"
    "understood, fonts replaced) is printed as MACRO:LINE: warning: MESSAGE.\n"
    "Exit status: 0 when every fax was written, 1 when one or more were not\n"
    "(each is named with the reason), 2 for a wrong command line.\n";

std::mutex gOutput; // one line at a time on stderr

void say(const std::string& line) {
    std::lock_guard lock(gOutput);
    std::fprintf(stderr, "%s\n", line.c_str());
}

// The name of a file without its folder and its last extension.
std::string stem(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::size_t dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// An output folder, made with its parents where missing (mode 0777 less the
// umask, as the spool makes its own). Empty, or the reason it cannot be had.
std::string makeFolder(const std::string& path) {
    for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string part = path.substr(0, end);
        if (::mkdir(part.c_str(), 0777) != 0) {
            // A part that exists may refuse mkdir with another reason (a
            // read-only file system, no write permission in its parent).
            const int why = errno;
            struct stat st;
            if (::stat(part.c_str(), &st) != 0)
                return part + ": cannot create the folder: " + std::strerror(why);
            if (!S_ISDIR(st.st_mode))
                return part + ": not a folder";
        }
        if (end == std::string::npos)
            return {};
    }
}

// The FaxImage::PageSize of a --page value (any case); -1 for none.
int pageSizeNamed(const char* name) {
    static constexpr std::pair<const char*, FaxImage::PageSize> kSizes[] = {
        {"default", FaxImage::PageSize::Default},
        {"a4", FaxImage::PageSize::A4},
        {"letter", FaxImage::PageSize::Letter},
        {"legal", FaxImage::PageSize::Legal}};
    for (const auto& [word, size] : kSizes)
        if (::strcasecmp(name, word) == 0)
            return int(size);
    return -1;
}

int usageError(const std::string& message) {
    say("foliobuild: " + message + "\nTry 'foliobuild --help' for more information.");
    return 2;
}

struct Job {
    std::string macro, tiff;
    bool ok = false;
    std::string error;
    folio::DiagnosticList diagnostics;
    int pages = 0;
    std::vector<folio::PageCost> costs; // with --stats or --check
    // With --data: the record that fills the template, and its number.
    const folio::Record* values = nullptr;
    int record = 0;
};

struct Settings {
    std::string pngDir, pdfFile, pdfDir;
    int resolution = TIFLIB_FAX_FINE;
    int pageSize = 0;   // a FaxImage::PageSize
    int reserveTop = 0; // page rows kept white at the top (--reserve-top)
    FileGate* gate = nullptr;
    bool check = false, strict = false, quiet = false, stats = false;
    bool json = false; // --diagnostics json: reported at the end, not printed
    long long maxMacroBytes = 0;
};

void buildOne(Job& job, const Settings& settings) {
    folio::BuildOptions options;
    options.fileGate = settings.gate;
    options.resolution = settings.resolution;
    options.pageSize = settings.pageSize;
    options.reserveTop = settings.reserveTop;
    if (!settings.check)
        options.pdfFile = settings.pdfDir.empty() ? settings.pdfFile
                                                  : settings.pdfDir + "/" + stem(job.tiff) + ".pdf";
    options.strict = settings.strict;
    options.dryRun = settings.check;
    options.pageCount = &job.pages;
    // A check reports slow pages too, as it reports what a macro loses.
    if (settings.stats || settings.check)
        options.pageCosts = &job.costs;
    options.maxMacroBytes = settings.maxMacroBytes;
    if (settings.check || settings.strict || !settings.quiet || settings.json)
        options.diagnostics = &job.diagnostics;
    if (!settings.pngDir.empty() && !settings.check) {
        const std::string base = settings.pngDir + "/" + stem(job.tiff);
        options.beforeSave = [base](FaxImage& fax, std::string& error) {
            int index = 1;
            for (Link* l = fax.Pages->First(); l; l = l->Suc(), ++index) {
                char number[16];
                std::snprintf(number, sizeof number, "-%03d.png", index);
                if (!folio::WritePng(static_cast<FaxPage*>(l)->PageImage.Picture(), base + number,
                                     error))
                    return false;
            }
            return true;
        };
    }
    std::unique_ptr<folio::FieldFiller> filler;
    if (job.values) {
        filler = std::make_unique<folio::FieldFiller>(*job.values);
        options.lineFilter = filler.get();
    }
    job.ok = folio::BuildFaxFile(job.macro.c_str(), settings.check ? nullptr : job.tiff.c_str(),
                                 options, job.error);
}

// --stats: one line per page and a total, on standard output. Seconds are
// rounded to tenths; the total is reckoned from the unrounded figures.
void printStats(const Job& job) {
    using folio::kRateV17, folio::kRateV29;
    // With --data each record's lines name it, as its diagnostics do.
    const std::string name =
        job.record ? job.macro + ": record " + std::to_string(job.record) : job.macro;
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < job.costs.size(); ++i) {
        const std::size_t b = job.costs[i].bytes;
        bytes += b;
        std::printf("%s: page %zu: %zu bytes, %.1f s at %d bit/s, %.1f s at %d bit/s\n",
                    name.c_str(), i + 1, b, folio::PageSeconds(b, kRateV29), kRateV29,
                    folio::PageSeconds(b, kRateV17), kRateV17);
    }
    std::printf("%s: total: %zu %s, %zu bytes, %.1f s at %d bit/s, %.1f s at %d bit/s\n",
                name.c_str(), job.costs.size(), job.costs.size() == 1 ? "page" : "pages",
                bytes, folio::CallSeconds(job.costs, kRateV29), kRateV29,
                folio::CallSeconds(job.costs, kRateV17), kRateV17);
    std::fflush(stdout);
}

// A document's diagnostics (unless quiet) and, with --check, its summary.
// Called with gOutput held.
void printReport(const Job& job, const Settings& settings) {
    if (settings.json)
        return; // all in the document at the end
    std::FILE* out = settings.check ? stdout : stderr;
    if (!settings.quiet)
        for (const std::string& line : job.diagnostics.Lines(job.macro, job.record))
            std::fprintf(out, "%s\n", line.c_str());
    if (settings.stats && !job.costs.empty())
        printStats(job);
    if (settings.check)
        std::fprintf(stdout, "%s\n",
                     folio::CheckSummary(job.record
                                             ? job.macro + ": record " + std::to_string(job.record)
                                             : job.macro,
                                         job.ok, job.pages, job.diagnostics)
                         .c_str());
    std::fflush(out);
}

// --diagnostics json: the document on standard output. False (and said on
// stderr) when it cannot be written whole.
bool writeReport(const std::string& report) {
    if (std::fwrite(report.data(), 1, report.size(), stdout) != report.size() ||
        std::fflush(stdout) != 0) {
        say(std::string("foliobuild: cannot write the report: ") + std::strerror(errno));
        return false;
    }
    return true;
}

// A failure before any macro is built (exit 1): said on stderr and, for a
// program reading --diagnostics json, as the document's error.
int runFailed(const Settings& settings, const std::string& why) {
    say("foliobuild: " + why);
    if (settings.json)
        writeReport(folio::JsonReport({}, why));
    return 1;
}

// --diagnostics json with --data: each record's entry goes to standard
// output once it and every record before it are done, so that the document
// is in record order however the threads finish and only the entries that
// wait for an earlier record are held in memory.
class RecordReport {
  public:
    explicit RecordReport(std::string data) : data_(std::move(data)) {}

    // The entry of record `number`; the records are numbered 1, 2, ... with
    // none left out.
    void Add(int number, std::string entry) {
        std::lock_guard lock(mutex_);
        waiting_.emplace(number, std::move(entry));
        for (auto it = waiting_.begin(); it != waiting_.end() && it->first == next_;
             it = waiting_.erase(it), ++next_)
            put((next_ == 1 ? folio::JsonReportHead(data_) : std::string(",")) + it->second);
    }
    // Ends the document begun by Add (nothing when none was added). False
    // when some of it could not be written.
    bool Finish() {
        std::lock_guard lock(mutex_);
        if (next_ > 1)
            put(folio::JsonReportTail());
        return ok_;
    }

  private:
    void put(const std::string& text) {
        ok_ = ok_ && writeReport(text); // said once, then nothing more
    }

    std::string data_;
    std::mutex mutex_;
    std::map<int, std::string> waiting_;
    int next_ = 1;
    bool ok_ = true;
};

// --data: what the run fills and where it writes.
struct DataRun {
    std::string data, macro;
    std::string outDir; // one fax per record; or
    std::string tiff;   // the one fax of a single record (none with --check)
    std::string nameField;
    int jobs = 1;
};

// A fax's name made from a record's field: no '/' or '\\', control bytes
// made '_', no leading dot, at most 100 bytes (cut where a UTF-8 character
// starts). Empty when the value is.
std::string safeName(std::string name) {
    for (char& c : name)
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 32 || c == 127)
            c = '_';
    if (!name.empty() && name[0] == '.')
        name[0] = '_';
    if (name.size() > 100) {
        std::size_t n = 100;
        while (n > 0 && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80)
            --n;
        name.resize(n);
    }
    return name;
}

// Whether the existing files `a` and `b` are one file.
bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// Builds the template once per record of the data, on `run.jobs` threads
// that take the records in turn from one reader (read one at a time, so
// memory does not grow with the data). A bad record or a failed build is
// named and counted (and, with --diagnostics json, is an entry of its own);
// the others go on. Exit status 1 when any failed (with
// --check, also when any record has a warning).
int runData(const Settings& settings, const DataRun& run) {
    std::string error;
    std::unique_ptr<folio::DataReader> reader = folio::OpenData(run.data, error);
    if (!reader)
        return runFailed(settings, error);
    const bool single = run.outDir.empty();
    std::mutex readLock;
    std::set<std::string> taken; // the faxes' names so far
    const std::string base = stem(run.macro);
    std::atomic<int> total{0}, failed{0}, warned{0};
    std::optional<RecordReport> report;
    if (settings.json)
        report.emplace(run.data);
    auto reportJob = [&](const Job& job, const folio::DataRecord& record) {
        if (report)
            report->Add(record.number,
                        folio::JsonReportEntry(
                            {run.macro, job.tiff, job.ok, job.error, job.pages, &job.diagnostics,
                             settings.stats ? &job.costs : nullptr, record.number, record.line}));
    };

    // A single fax: the data must hold one record, which is known before
    // anything is built.
    std::optional<folio::DataRecord> first;
    if (single) {
        folio::DataRecord one, another;
        if (reader->Next(one)) {
            if (reader->Next(another))
                return runFailed(settings, run.data + " holds more than one record: give -o DIR "
                                                      "to write one fax per record");
            first = std::move(one);
        }
    }
    // The next record and the fax it is written to, under readLock.
    auto take = [&](folio::DataRecord& record, std::string& tiff) {
        if (single) {
            if (!first)
                return false;
            record = std::move(*first);
            first.reset();
        } else if (!reader->Next(record)) {
            return false;
        }
        ++total;
        if (!record.error.empty() || settings.check)
            return true;
        if (single) {
            tiff = run.tiff;
            return true;
        }
        std::string name;
        if (!run.nameField.empty())
            if (const auto it = record.values.find(run.nameField); it != record.values.end())
                name = safeName(it->second);
        if (name.empty()) {
            char number[16];
            std::snprintf(number, sizeof number, "-%04d", record.number);
            name = base + number;
        }
        std::string unique = name;
        for (int k = 2; !taken.insert(unique).second; ++k)
            unique = name + "-" + std::to_string(k);
        tiff = run.outDir + "/" + unique + ".tif";
        return true;
    };
    auto worker = [&] {
        for (;;) {
            folio::DataRecord record;
            Job job;
            {
                std::lock_guard lock(readLock);
                if (!take(record, job.tiff))
                    return;
            }
            const std::string which = "record " + std::to_string(record.number);
            if (!record.error.empty()) {
                ++failed;
                job.error = run.data + ": " + which + " (line " + std::to_string(record.line) +
                            "): " + record.error + "; nothing is built for it";
                say("foliobuild: " + job.error);
                reportJob(job, record);
                continue;
            }
            if (!job.tiff.empty() &&
                (sameFile(job.tiff, run.macro) || sameFile(job.tiff, run.data))) {
                ++failed;
                job.error = which + ": " + job.tiff +
                            " is the template or the data file itself; nothing is written there";
                say("foliobuild: " + job.error);
                reportJob(job, record);
                continue;
            }
            job.macro = run.macro;
            job.values = &record.values;
            job.record = record.number;
            buildOne(job, settings);
            {
                std::lock_guard lock(gOutput);
                printReport(job, settings);
            }
            if (job.diagnostics.Count(folio::Severity::Warning) > 0 ||
                job.diagnostics.Count(folio::Severity::Error) > 0)
                ++warned;
            if (!job.ok) {
                ++failed;
                say("foliobuild: " + which + ": " + job.error);
            }
            reportJob(job, record);
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < run.jobs; ++t)
        pool.emplace_back(worker);
    worker();
    for (std::thread& t : pool)
        t.join();
    if (total == 0)
        return runFailed(settings, run.data + ": no records");
    if (failed)
        say("foliobuild: " + std::to_string(failed.load()) + " of " + std::to_string(total.load()) +
            " records failed");
    else if (!settings.quiet && !settings.check && total > 1)
        say("foliobuild: " + std::to_string(total.load()) + " records, all written");
    if (report && !report->Finish())
        return 1;
    return failed || (settings.check && warned) ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
    // Past a file size limit (ulimit -f) the kernel would end the process in
    // the middle of a write and leave a temporary file behind; ignored, the
    // write fails like one to a full disk and the build reports it.
    std::signal(SIGXFSZ, SIG_IGN);
    folio::KeepPageMemory();
    Settings settings;
    std::string outDir, includeRoot;
    bool rootGiven = false; // an empty --include-root is refused, not taken as none
    int coding = TIFLIB_FAX_G3_1D;
    int jobsWanted = 1;
    bool quiet = false, optionsEnd = false, once = false;
    std::string spoolDir, dataFile, nameField;
    long long maxMacroBytes = 0;
    std::vector<std::string> files;

    auto value = [&](int& i) -> const char* { return ++i < argc ? argv[i] : nullptr; };
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (optionsEnd || arg.size() < 2 || arg[0] != '-') {
            files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnd = true;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--version") {
            std::printf("foliobuild (Folioset) %s\n", FOLIO_VERSION);
            return 0;
        } else if (arg == "--g3") {
            coding = TIFLIB_FAX_G3_1D;
        } else if (arg == "--g3-2d") {
            coding = TIFLIB_FAX_G3_2D;
        } else if (arg == "--g4") {
            coding = TIFLIB_FAX_G4;
        } else if (arg == "-q" || arg == "--quiet") {
            quiet = true;
        } else if (arg == "--check") {
            settings.check = true;
        } else if (arg == "--strict") {
            settings.strict = true;
        } else if (arg == "--stats") {
            settings.stats = true;
        } else if (arg == "--once") {
            once = true;
        } else if (arg == "--reserve-top" || arg.rfind("--reserve-top=", 0) == 0) {
            // A whole number of rows, nothing after it: "40px" or "1e2" is
            // more likely a mistake than a row count.
            const char* v = arg.size() > 13 ? arg.c_str() + 14 : value(i);
            char* end = nullptr;
            errno = 0;
            const long rows = v && *v >= '0' && *v <= '9' ? std::strtol(v, &end, 10) : -1;
            if (rows < 0 || *end || errno || rows > folio::kMaxReserveTop)
                return usageError("--reserve-top needs a number of rows from 0 to " +
                                  std::to_string(folio::kMaxReserveTop));
            settings.reserveTop = int(rows);
        } else if (arg == "--diagnostics" || arg.rfind("--diagnostics=", 0) == 0) {
            const char* v = arg == "--diagnostics" ? value(i) : argv[i] + 14;
            if (!v || (std::strcmp(v, "text") && std::strcmp(v, "json")))
                return usageError("--diagnostics takes text or json");
            settings.json = std::strcmp(v, "json") == 0;
        } else if (arg == "--data" || arg == "--name-field") {
            const char* v = value(i);
            if (!v || !*v)
                return usageError(arg + " needs a value");
            (arg == "--data" ? dataFile : nameField) = v;
        } else if (arg == "--spool" || arg == "--max-macro-size") {
            const char* v = value(i);
            if (!v)
                return usageError(arg + " needs a value");
            if (arg == "--spool")
                spoolDir = v;
            else if ((maxMacroBytes = std::atoll(v)) <= 0)
                return usageError("--max-macro-size needs a number of bytes");
        } else if (arg == "--png" || arg == "-o" || arg == "--output-dir" ||
                   arg == "--include-root" || arg == "-j" || arg == "--jobs" || arg == "--pdf" ||
                   arg == "--pdf-dir" || arg == "--resolution" || arg == "--page") {
            const char* v = value(i);
            if (!v)
                return usageError(arg + " needs a value");
            if (arg == "--pdf")
                settings.pdfFile = v;
            else if (arg == "--pdf-dir")
                settings.pdfDir = v;
            else if (arg == "--resolution" && std::strcmp(v, "fine") && std::strcmp(v, "normal"))
                return usageError("--resolution takes fine or normal");
            else if (arg == "--resolution")
                settings.resolution =
                    std::strcmp(v, "normal") ? TIFLIB_FAX_FINE : TIFLIB_FAX_NORMAL;
            else if (arg == "--page" && (settings.pageSize = pageSizeNamed(v)) < 0)
                return usageError("--page takes a4, letter, legal or default");
            else if (arg == "--png")
                settings.pngDir = v;
            else if (arg == "--include-root")
                includeRoot = v, rootGiven = true;
            else if (arg == "-j" || arg == "--jobs")
                jobsWanted = std::atoi(v) > 0 ? std::atoi(v) : -1;
            else if (arg == "-o" || arg == "--output-dir")
                outDir = v;
        } else if (arg.rfind("-j", 0) == 0 && arg.size() > 2 && arg[1] == 'j') {
            jobsWanted = std::atoi(arg.c_str() + 2) > 0 ? std::atoi(arg.c_str() + 2) : -1;
        } else if (arg.rfind("--png=", 0) == 0) {
            settings.pngDir = arg.substr(6);
        } else if (arg.rfind("--include-root=", 0) == 0) {
            includeRoot = arg.substr(15);
            rootGiven = true;
        } else if (arg.rfind("--output-dir=", 0) == 0) {
            outDir = arg.substr(13);
        } else if (arg.rfind("--jobs=", 0) == 0) {
            jobsWanted = std::atoi(arg.c_str() + 7) > 0 ? std::atoi(arg.c_str() + 7) : -1;
        } else {
            return usageError("unknown option '" + arg + "'");
        }
    }
    if (jobsWanted < 1 || jobsWanted > 256)
        return usageError("-j needs a number from 1 to 256");
    if (once && spoolDir.empty())
        return usageError("--once needs --spool");
    if (!spoolDir.empty() &&
        (!files.empty() || !outDir.empty() || !settings.pngDir.empty() || settings.check ||
         !settings.pdfFile.empty() || settings.stats || settings.json || !dataFile.empty()))
        return usageError("--spool takes no macro files, -o, --png, --pdf, --check, --stats, "
                          "--data or --diagnostics json");
    if (!nameField.empty() && dataFile.empty())
        return usageError("--name-field needs --data");

    settings.quiet = quiet;
    std::vector<Job> jobs;
    DataRun dataRun;
    if (!spoolDir.empty()) {
        // the spool finds its macros itself
    } else if (!dataFile.empty()) {
        // One template; the records say how many faxes.
        const bool toFolder = !outDir.empty() || settings.check;
        if (files.size() != (toFolder ? 1u : 2u))
            return usageError("--data needs one template and -o DIR (or --check), or a template "
                              "and a fax file for a single record");
        if (settings.stats && !toFolder && files[1] == "-")
            return usageError("--stats prints on standard output, where the fax would go");
        if (settings.json && !toFolder && files[1] == "-")
            return usageError(
                "--diagnostics json prints on standard output, where the fax would go");
        if (!outDir.empty() && !settings.check)
            if (const std::string why = makeFolder(outDir); !why.empty())
                return runFailed(settings, why);
        dataRun.data = dataFile;
        dataRun.macro = files[0];
        dataRun.outDir = settings.check ? std::string() : outDir;
        dataRun.tiff = toFolder ? std::string() : files[1];
        dataRun.nameField = nameField;
        dataRun.jobs = jobsWanted;
        if (settings.check)
            dataRun.outDir = "."; // not written; only marks the run as one of many
    } else if (settings.check) {
        // Every file is a macro; nothing is written.
        if (files.empty())
            return usageError("no macro files given");
        for (const std::string& f : files)
            jobs.push_back(Job{f, {}, false, {}, {}, 0, {}});
    } else if (outDir.empty()) {
        if (files.size() != 2)
            return usageError("a macro file and a fax file are needed (or -o DIR and macros)");
        if (settings.stats && files[1] == "-")
            return usageError("--stats prints on standard output, where the fax would go");
        if (settings.json && files[1] == "-")
            return usageError(
                "--diagnostics json prints on standard output, where the fax would go");
        jobs.push_back(Job{files[0], files[1], false, {}, {}, 0, {}});
    } else {
        if (files.empty())
            return usageError("no macro files given");
        if (const std::string why = makeFolder(outDir); !why.empty())
            return runFailed(settings, why);
        std::map<std::string, std::string> taken;
        for (const std::string& f : files) {
            std::string tiff = outDir + "/" + stem(f) + ".tif";
            auto [it, fresh] = taken.emplace(tiff, f);
            if (!fresh)
                return usageError(it->second + " and " + f + " would both be written to " + tiff);
            jobs.push_back(Job{f, tiff, false, {}, {}, 0, {}});
        }
    }
    if (!settings.pdfFile.empty() && (!outDir.empty() || !settings.pdfDir.empty()))
        return usageError("--pdf names one file: with -o or --pdf-dir, use --pdf-dir only");
    for (const std::string& dir : {settings.pngDir, settings.pdfDir}) {
        if (dir.empty())
            continue;
        if (const std::string why = makeFolder(dir); !why.empty())
            return runFailed(settings, why);
    }
    // A fax written over its own macro would lose the macro: refused before
    // anything is built. Compared by file identity, so that other spellings
    // and links of the same file are caught too.
    for (const Job& j : jobs) {
        for (const std::string& out : {j.tiff, j.tiff.empty() ? std::string() : settings.pdfFile,
                                       settings.pdfDir.empty() || j.tiff.empty()
                                           ? std::string()
                                           : settings.pdfDir + "/" + stem(j.tiff) + ".pdf"}) {
            struct stat in {}, to {};
            if (!out.empty() && out != "-" && ::stat(j.macro.c_str(), &in) == 0 &&
                ::stat(out.c_str(), &to) == 0 && in.st_dev == to.st_dev &&
                in.st_ino == to.st_ino && S_ISREG(in.st_mode)) {
                say("foliobuild: " + out + " is the macro file " + j.macro +
                    " itself; writing the fax there would destroy the macro");
                return 2;
            }
        }
    }
    folio::IncludeRoot gate;
    if (rootGiven) {
        std::string error;
        if (!folio::IncludeRoot::Create(includeRoot, nullptr, gate,
                                        error)) // refusals are reported with their line
            return runFailed(settings, error);
        settings.gate = &gate;
    }
    SetFaxCompression(coding);
    settings.maxMacroBytes = maxMacroBytes;
    if (!dataFile.empty())
        return runData(settings, dataRun);
    if (!spoolDir.empty()) {
        folio::SpoolOptions spool;
        spool.folder = spoolDir;
        spool.jobs = jobsWanted;
        spool.once = once;
        spool.build.fileGate = settings.gate;
        spool.build.maxMacroBytes = maxMacroBytes;
        spool.build.resolution = settings.resolution;
        spool.build.pageSize = settings.pageSize;
        spool.build.reserveTop = settings.reserveTop;
        spool.build.strict = settings.strict;
        spool.pdfDir = settings.pdfDir;
        spool.log = [](const std::string& line) { say(line); };
        return folio::RunSpool(spool);
    }

    // Documents are taken in order by as many threads as asked for; each
    // thread builds one document at a time with an engine of its own.
    const bool progress = !quiet && jobs.size() > 1 && isatty(STDERR_FILENO);
    std::atomic<std::size_t> next{0}, done{0}, failed{0};
    auto worker = [&] {
        for (std::size_t i; (i = next++) < jobs.size();) {
            buildOne(jobs[i], settings);
            {
                std::lock_guard lock(gOutput);
                if (progress)
                    std::fputs("\r\033[K", stderr);
                printReport(jobs[i], settings);
            }
            if (!jobs[i].ok) {
                ++failed;
                say("foliobuild: " + jobs[i].error);
            }
            std::size_t d = ++done;
            if (progress) {
                std::lock_guard lock(gOutput);
                std::fprintf(stderr, "\r[%zu/%zu] %zu failed", d, jobs.size(), failed.load());
                if (d == jobs.size())
                    std::fputc('\n', stderr);
            }
        }
    };
    const int threads = int(std::min<std::size_t>(std::size_t(jobsWanted), jobs.size()));
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t)
        pool.emplace_back(worker);
    worker();
    for (std::thread& t : pool)
        t.join();
    if (settings.json) {
        std::vector<folio::JsonDocument> documents;
        for (const Job& j : jobs)
            documents.push_back({j.macro, j.tiff, j.ok, j.error, j.pages, &j.diagnostics,
                                 settings.stats ? &j.costs : nullptr});
        if (!writeReport(folio::JsonReport(documents)))
            return 1;
    }

    if (settings.check) {
        bool problems = failed > 0;
        for (const Job& j : jobs)
            problems = problems || j.diagnostics.Count(folio::Severity::Warning) > 0 ||
                       j.diagnostics.Count(folio::Severity::Error) > 0;
        return problems ? 1 : 0;
    }
    if (jobs.size() > 1) {
        std::string summary = "foliobuild: " + std::to_string(jobs.size()) + " documents, " +
                              std::to_string(jobs.size() - failed) + " written, " +
                              std::to_string(failed.load()) + " failed";
        if (failed) {
            summary += ":";
            for (const Job& j : jobs)
                if (!j.ok)
                    summary += " " + j.macro;
        }
        if (failed || !quiet)
            say(summary);
    }
    return failed ? 1 : 0;
}
