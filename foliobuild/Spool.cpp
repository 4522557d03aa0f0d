// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The spool's service loop. One thread waits on inotify (in/), a signalfd
// (SIGTERM, SIGINT) and an eventfd rung when a job ends; it alone claims
// macros, what waits in in/ taken together, up to kInHand a builder, so the
// jobs in hand are exactly those in work/. Each builder thread builds one
// document at a time with an engine of its own; a failed macro it moves on
// itself, a fax written it hands to the archiver thread, which moves the
// macros of the faxes written meanwhile to done/ together.
//
// Where a kill or a power cut can strike and what the next run does:
//  - before the claim: the macro is still in in/ and is taken at start;
//    a claim that fails (work/ not writable, no free name) leaves it there
//    and is tried again later, as a job kept in work/ is;
//  - after the claim (in work/), before or during the build: built again;
//    the fax file is replaced in one step, so out/ never shows a part;
//  - after out/NAME.tif is written, before the move to done/: built again
//    and written again over its own earlier copy, then moved;
//  - a failure: the reason goes to work/.NAME.err first, then the macro
//    moves to failed/, then the reason beside it. A run that finds
//    work/.NAME.err with its macro in failed/ finishes the move; with the
//    macro still in work/ it builds again; with neither it drops the file.
// Each move is a rename within one file system, so a macro is always in
// exactly one folder.
//
// A power cut also undoes what had not reached the disk: a file's data
// until the file is synced, a name made, renamed or removed until its
// folder is. So every step that a later one relies on is synced first,
// and each state a cut can leave is one of those above:
//  1. claim: sync the macro's data, rename in/NAME -> work/JOB, sync
//     work/. Until then the cut may undo the claim; nothing of the job
//     exists elsewhere yet: its build may start, but waits for that sync
//     before it names anything (the fax, the PDF copy, a reason). Clients that write with cp or cat never sync,
//     and with delayed allocation (ext4's default) a cut could keep the
//     rename but not the data: an empty macro in work/, built into a blank
//     fax and reported done. The data is synced before the rename rather
//     than after it, because any other sync (a builder's, another
//     program's) may commit the rename to the journal at any moment. So
//     every macro in work/, done/ or failed/ is whole on the disk.
//  2. build: the fax (and the PDF copy) is written unnamed, synced, named
//     in out/ (the PDF directory), and that folder synced. A cut undoes at
//     most the naming, and the macro is still in work/ (step 1 is on the
//     disk), so it is built again under the same JOB name. A folder sync
//     that fails keeps the job in work/ for a retry.
//  3. done: rename work/JOB -> done/JOB, sync done/, and only then the
//     "done" line of the log (step 2 returned, so the fax is on the disk). A cut before the sync leaves the
//     macro in work/ (built again, its fax replaced by an equal one) or in
//     done/ with its fax already on the disk.
//  4. failed: work/.JOB.err written and synced, work/ synced (the reason
//     is on the disk before the macro can be seen in failed/); rename
//     work/JOB -> failed/JOB, sync failed/; rename the reason to
//     failed/JOB.err, sync failed/. A cut between them is the "reason in
//     work/" case above.
// A rename is taken to be atomic, as the journal of ext4, XFS or Btrfs
// makes it: a cut shows the old name or the new one, never both, so
// syncing the folder it went to makes the whole move durable.
//
// Each sync costs a flush of the disk's cache, about as long as building a
// page, so the folder syncs are shared (group commit): the macros found in
// in/ together are claimed as a batch, their data synced at once, each
// renamed, then work/ synced once for all of them. A builder syncs its fax
// and names it in out/ but leaves out/ unsynced; the archiver takes the
// faxes written since its last batch, syncs out/ (and the PDF folder) once,
// renames their macros into done/ and syncs done/ once. The syncs of files
// stay one a file. A batch is durable only once its one sync returns, and
// nothing that relies on it happens before that, so a cut leaves each job
// of a batch in one of the states above, as it would a job alone.
#include "Spool.h"

#include "DiagnosticList.h"

#include "DataReader.h"
#include "FaxImage.h"
#include "Fields.h"
#include "OutputFile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <set>
#include <signal.h>
#include <sstream>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace folio {

namespace {

using Clock = std::chrono::steady_clock;

// A job that could not be finished for a reason outside the macro (out/
// full or not writable, done/ not writable) is tried again after this long,
// doubling up to the most.
constexpr std::chrono::seconds kFirstRetry{5}, kLastRetry{300};

// Jobs in hand (claimed into work/, not yet archived) a builder: enough that
// a burst is claimed in batches and a builder never waits for a claim, few
// enough that SIGTERM finishes them quickly (a few milliseconds each). A
// new batch is claimed once half of them are done, so that a burst is
// claimed many at a time rather than one as each job ends, and the builders
// still have work while it is synced.
constexpr int kInHand = 16;

// Most threads syncing the macros of one claim batch at once. A sync is
// mostly a wait for the disk, and the kernel serves the waits of several
// with one flush of its cache.
constexpr int kSyncers = 4;

class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    void reset(int fd = -1) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

// The name of the fax for a macro: the macro's name without its last
// extension ("invoice.fax" -> "invoice").
std::string stemOf(const std::string& name) {
    const std::size_t dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// "invoice.fax", 2 -> "invoice-2.fax"
std::string withNumber(const std::string& name, int k) {
    const std::string stem = stemOf(name);
    return stem + "-" + std::to_string(k) + name.substr(stem.size());
}

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// True unless `name` is certainly absent from the folder: an entry that
// cannot be looked at counts as present.
bool exists(int dirFd, const std::string& name) {
    struct stat st;
    return ::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT;
}

std::vector<std::string> listFolder(int dirFd) {
    std::vector<std::string> names;
    // A descriptor of its own, so that reading does not move dirFd's offset.
    const int fd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return names;
    DIR* d = ::fdopendir(fd);
    if (!d) {
        ::close(fd);
        return names;
    }
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

enum class Writers { None, Some, Unknown };

// Whether another process holds the file open for writing. The kernel
// refuses a read lease on such a file (EAGAIN). Where no lease can be taken
// at all (the file belongs to another user and CAP_LEASE is missing, or the
// file system has no leases) it cannot be told.
Writers writersOf(int fd) {
    if (fd < 0)
        return Writers::Unknown;
    // A client that opens the file for writing while the lease is held makes
    // the kernel send the holder SIGIO, whose default action ends the
    // process: the spool died so when a drop raced the check. The lease is
    // let go at once anyway, so the signal is ignored.
    static const bool sigioIgnored = ::signal(SIGIO, SIG_IGN) != SIG_ERR;
    (void)sigioIgnored;
    if (::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
        ::fcntl(fd, F_SETLEASE, F_UNLCK);
        return Writers::None;
    }
    return errno == EAGAIN ? Writers::Some : Writers::Unknown;
}

// Read-only, never blocking: a FIFO put there in its place is not waited on.
int openMacro(int dirFd, const std::string& name) {
    return ::openat(dirFd, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
}

// Longest name a job may have: work/ also holds ".JOB.err" beside it.
constexpr std::size_t kLongestJob = NAME_MAX - 5;

// `name` with "-k" (k > 1) before its extension, shortened where needed to
// kLongestJob bytes: the extension is kept (unless it is itself long), the
// stem cut at a whole UTF-8 character.
std::string jobName(const std::string& name, int k) {
    const std::string suffix = k == 1 ? "" : "-" + std::to_string(k);
    if (name.size() + suffix.size() <= kLongestJob)
        return k == 1 ? name : withNumber(name, k);
    std::string stem = stemOf(name);
    std::string ext = name.substr(stem.size());
    if (ext.size() > 16) {
        stem = name;
        ext.clear();
    }
    std::size_t keep = kLongestJob - ext.size() - suffix.size();
    while (keep > 0 && (static_cast<unsigned char>(stem[keep]) & 0xC0) == 0x80)
        --keep;
    return stem.substr(0, keep) + suffix + ext;
}

// What a non-regular file in in/ is, for its reason in failed/.
const char* notAMacro(mode_t mode) {
    switch (mode & S_IFMT) {
    case S_IFLNK:
        return "a symbolic link";
    case S_IFDIR:
        return "a folder";
    case S_IFIFO:
        return "a named pipe";
    case S_IFSOCK:
        return "a socket";
    case S_IFCHR:
    case S_IFBLK:
        return "a device";
    default:
        return "not a regular file";
    }
}

// A job file, NAME.json in in/: {"template": "confirm.fax", "fields": {...}}
// builds templates/confirm.fax with those fields. It is small by nature;
// the limit keeps a hostile one from filling a builder's memory.
constexpr off_t kMaxJobBytes = off_t(1) << 20;

bool isJob(const std::string& name) {
    return name.size() > 5 && name.compare(name.size() - 5, 5, ".json") == 0;
}

// Reads work/NAME as a job: the template's path under templates/ and the
// fields. False with the reason otherwise. The template is named, never
// reached by a path: a name with a slash, a dot name or anything but a
// regular file in templates/ (a link, a folder) is refused, so a job
// cannot make the spool read a file outside that folder.
bool readJob(int workFd, const std::string& name, const std::string& templates, Record& fields,
             std::string& templatePath, std::string& error) {
    Fd fd(::openat(workFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (!fd || ::fstat(fd.get(), &st) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (st.st_size > kMaxJobBytes) {
        error = "the job file is larger than 1 MiB";
        return false;
    }
    std::string text(std::size_t(st.st_size), '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::read(fd.get(), text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = n < 0 ? std::strerror(errno) : "the job file shrank while read";
            return false;
        }
        got += std::size_t(n);
    }
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos || text[first] != '{') {
        error = "not a job: a job is one JSON object, {\"template\": NAME, \"fields\": {...}}";
        return false;
    }
    // The data reader gives the object's members flattened ("fields.a.b"),
    // with its limits on depth and its rules for numbers and nulls.
    std::string why;
    auto reader = ReadJson(std::make_unique<std::istringstream>(std::move(text)), why);
    DataRecord record;
    if (!reader || !reader->Next(record) || !record.error.empty()) {
        error = "not a job: " + (!why.empty() ? why : record.error);
        return false;
    }
    std::string templ;
    for (auto& [key, value] : record.values) {
        if (key == "template")
            templ = value;
        else if (key.compare(0, 7, "fields.") == 0)
            fields.emplace(key.substr(7), value);
        else {
            error = "unknown member \"" + key + "\" in the job (template, fields)";
            return false;
        }
    }
    if (templ.empty() || templ.find('/') != std::string::npos || templ[0] == '.' ||
        templ.size() > NAME_MAX) {
        error = templ.empty()
                    ? "the job names no template"
                    : "the template must be a file name in templates/, not \"" + templ + "\"";
        return false;
    }
    templatePath = templates + "/" + templ;
    struct stat ts;
    if (::lstat(templatePath.c_str(), &ts) != 0) {
        error = errno == ENOENT ? "no template \"" + templ + "\" in templates/"
                                : "templates/" + templ + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(ts.st_mode)) {
        error = "templates/" + templ + " is " + notAMacro(ts.st_mode) +
                "; a template is a regular file";
        return false;
    }
    return true;
}

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += std::size_t(n);
    }
    return true;
}

// Built: the fax is written and the job is the archiver's, which ends it.
enum class Outcome { Done, Failed, Retry, Gone, Built };

// 5 s, 10 s, 20 s ... up to kLastRetry after the first, second... failure.
Clock::duration retryAfter(int failures) {
    return std::min<Clock::duration>(kFirstRetry * (1 << std::min(failures, 8)), kLastRetry);
}

class Spool {
  public:
    explicit Spool(const SpoolOptions& options) : options_(options) {}
    int Run();

  private:
    // A job in hand: its name in work/, and the claim batch whose sync of
    // work/ makes it durable (0: already on the disk).
    struct Job {
        std::string name;
        std::uint64_t batch = 0;
    };
    // A fax written, for the archiver: the job and the start of its log line.
    struct Built {
        std::string name, head;
    };
    struct Claim {
        std::string name, job;
        Fd data;       // the macro, open for its sync; none for a non-regular file
        int synced = 0; // the sync's errno, 0 when it succeeded
    };

    bool start();
    void recover();
    void scanIn();
    void addPending(const std::string& name);
    int claimSome(int room);
    bool prepare(const std::string& name, Claim& claim);
    bool claim(Claim& claim, std::uint64_t batch);
    void hand(std::string job, std::uint64_t batch);
    void claimLater(const std::string& name, const std::string& why);
    void waitClaimed(std::uint64_t batch);
    void archiver();
    std::string freeName(const std::string& name) const;
    void readWatch();
    void created(const std::string& name);
    void sync(const Fd& folder, const char* name) const;
    bool leftBehind() const;
    void finished(const std::string& name, Outcome outcome);
    void builder();
    Outcome build(const Job& job);
    void report(std::vector<std::pair<std::string, Outcome>> results);
    Outcome keep(const std::string& line);
    void log(std::string line) const {
        // File names come from clients: a line feed in one must not forge
        // a line of the log.
        for (char& c : line)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
                c = '?';
        if (options_.log)
            options_.log(line);
    }

    const SpoolOptions& options_;
    Fd top_, in_, work_, out_, done_, failed_;
    Fd watch_, signals_, wake_;

    // Main thread only.
    std::deque<std::string> recovered_; // in work/, to be built
    std::deque<std::string> pending_;   // seen in in/, not yet claimed
    std::set<std::string> pendingSet_;
    std::set<std::string> workStems_;                       // fax names of every job in work/
    std::multimap<Clock::time_point, std::string> retries_; // kept in work/, by time due
    std::map<std::string, int> attempts_;
    // Names in in/ whose claim failed, by time due; not taken before then.
    std::multimap<Clock::time_point, std::string> claimRetries_;
    std::set<std::string> claimWaiting_;
    std::map<std::string, int> claimAttempts_;
    int inFlight_ = 0;
    std::uint64_t batches_ = 0; // claim batches begun
    bool stopping_ = false, anyFailed_ = false, broken_ = false;

    // Shared with the builders and the archiver.
    std::mutex mutex_;
    std::condition_variable ready_, claimed_, archive_;
    std::deque<Job> queue_;
    std::uint64_t durable_ = 0; // claim batches whose work/ sync returned
    std::deque<Built> built_;   // for the archiver
    std::deque<std::pair<std::string, Outcome>> results_;
    bool quit_ = false;
};

bool Spool::start() {
    const std::string& dir = options_.folder;
    if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) {
        log("spool " + dir + ": cannot create the folder: " + std::strerror(errno));
        return false;
    }
    top_.reset(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!top_) {
        log("spool " + dir + ": cannot open the folder: " + std::strerror(errno));
        return false;
    }
    // Two services on one spool would each rebuild what the other has in
    // hand; the lock goes with the process, so a killed run leaves none.
    if (::flock(top_.get(), LOCK_EX | LOCK_NB) != 0) {
        log("spool " + dir + ": " +
            (errno == EWOULDBLOCK
                 ? std::string("another spool is running on this folder")
                 : std::string("cannot lock the folder: ") + std::strerror(errno)));
        return false;
    }
    const std::pair<const char*, Fd*> folders[] = {
        {"in", &in_}, {"work", &work_}, {"out", &out_}, {"done", &done_}, {"failed", &failed_}};
    for (const auto& [name, fd] : folders) {
        if (::mkdirat(top_.get(), name, 0777) != 0 && errno != EEXIST) {
            log("spool " + dir + ": cannot create " + name + "/: " + std::strerror(errno));
            return false;
        }
        fd->reset(::openat(top_.get(), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!*fd) {
            log("spool " + dir + ": cannot open " + name + "/: " + std::strerror(errno));
            return false;
        }
    }
    watch_.reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    // Watched before the first look, so that no file slips in between.
    if (!watch_ || ::inotify_add_watch(watch_.get(), (dir + "/in").c_str(),
                                       IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_ONLYDIR |
                                           IN_DONT_FOLLOW) < 0) {
        log("spool " + dir + ": cannot watch in/: " + std::strerror(errno));
        return false;
    }
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    signals_.reset(::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
    wake_.reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!signals_ || !wake_) {
        log(std::string("spool: ") + std::strerror(errno));
        return false;
    }
    return true;
}

// Jobs an earlier run had in hand, and what it left half done.
void Spool::recover() {
    for (const std::string& name : listFolder(work_.get())) {
        if (name[0] != '.') {
            recovered_.push_back(name);
            workStems_.insert(stemOf(name));
            continue;
        }
        if (!endsWith(name, ".err") || name.size() <= 5)
            continue;
        const std::string macro = name.substr(1, name.size() - 5);
        if (exists(work_.get(), macro))
            continue; // built again; the new reason replaces this one
        if (exists(failed_.get(), macro)) {
            if (::renameat(work_.get(), name.c_str(), failed_.get(), (macro + ".err").c_str()) != 0)
                log(macro + ": cannot move its reason to failed/: " + std::strerror(errno));
            sync(failed_, "failed");
        } else {
            ::unlinkat(work_.get(), name.c_str(), 0);
        }
    }
    // A run killed while writing a fax file leaves the writer's temporary
    // file (NAME.tif.partXXXXXX) beside it; out/ is the spool's own.
    for (const std::string& name : listFolder(out_.get())) {
        const std::size_t at = name.rfind(".tif.part");
        if (at != std::string::npos && at + 15 == name.size())
            ::unlinkat(out_.get(), name.c_str(), 0);
    }
    // The same beside the PDF copies, a folder shared with others: only
    // those of the jobs in work/, which are written again.
    if (options_.pdfDir.empty())
        return;
    const Fd pdf(::open(options_.pdfDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (pdf)
        for (const std::string& name : listFolder(pdf.get())) {
            const std::size_t at = name.rfind(".pdf.part");
            if (at != std::string::npos && at + 15 == name.size() &&
                workStems_.count(name.substr(0, at)))
                ::unlinkat(pdf.get(), name.c_str(), 0);
        }
}

void Spool::scanIn() {
    for (const std::string& name : listFolder(in_.get()))
        addPending(name);
}

void Spool::addPending(const std::string& name) {
    if (name.empty() || name[0] == '.')
        return; // a client writes .name and renames it when complete
    if (!claimWaiting_.count(name) && pendingSet_.insert(name).second)
        pending_.push_back(name);
}

void Spool::hand(std::string job, std::uint64_t batch) {
    std::lock_guard lock(mutex_);
    queue_.push_back({std::move(job), batch});
    ++inFlight_;
    ready_.notify_one();
}

// Puts up to `room` jobs in hand: those kept in work/ first, then the
// macros waiting in in/, claimed as one batch (see the protocol above).
// Returns how many.
int Spool::claimSome(int room) {
    int taken = 0;
    for (; taken < room && !recovered_.empty(); ++taken) {
        hand(std::move(recovered_.front()), 0);
        recovered_.pop_front();
    }
    std::deque<Claim> claims;
    while (taken + int(claims.size()) < room && !pending_.empty()) {
        std::string name = std::move(pending_.front());
        pending_.pop_front();
        pendingSet_.erase(name);
        if (!prepare(name, claims.emplace_back())) {
            claims.pop_back();
            if (!claimWaiting_.count(name))
                claimAttempts_.erase(name); // gone, or still being written
        }
    }
    if (claims.empty())
        return taken;
    // The data of all of them to the disk at once. One the spool cannot
    // open is claimed unsynced: its build cannot read it either, and sends
    // it to failed/ with the reason. fdatasync writes the data and the size
    // and blocks that find it, all that is needed.
    std::atomic<std::size_t> next{0};
    const auto syncSome = [&] {
        for (std::size_t i; (i = next++) < claims.size();) {
            Claim& c = claims[i];
            if (c.data && ::fdatasync(c.data.get()) != 0 && errno != EINVAL)
                c.synced = errno;
        }
    };
    {
        std::vector<std::thread> helpers;
        const std::size_t more = std::min<std::size_t>(claims.size(), kSyncers) - 1;
        try {
            for (std::size_t i = 0; i < more; ++i)
                helpers.emplace_back(syncSome);
        } catch (const std::system_error&) { // no thread: this one syncs them all
        }
        syncSome();
        for (std::thread& t : helpers)
            t.join();
    }
    const std::uint64_t batch = ++batches_;
    int claimed = 0;
    for (Claim& c : claims)
        if (claim(c, batch))
            ++claimed;
    if (claimed > 0)
        sync(work_, "work");
    // Also when the sync failed (logged): the builders go on, as before any
    // batch, rather than wait for ever.
    {
        std::lock_guard lock(mutex_);
        durable_ = batch;
    }
    claimed_.notify_all();
    return taken + claimed;
}

// Whether `name` in in/ can be claimed now, and under which job name. The
// name is held in workStems_ until the claim is made or given up.
bool Spool::prepare(const std::string& name, Claim& c) {
    struct stat st;
    if (::fstatat(in_.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return false; // gone
    // Anything else than a regular file (a folder, a link, a pipe) is
    // claimed all the same and goes on to failed/ with its reason; it is
    // never opened. Still open for writing: its close brings it back.
    if (S_ISREG(st.st_mode)) {
        c.data.reset(openMacro(in_.get(), name));
        if (!c.data && errno == ENOENT)
            return false;
        // One that cannot be told counts as complete once its writer closed
        // it or it was moved in (the events that bring it here).
        if (writersOf(c.data.get()) == Writers::Some)
            return false;
    }
    c.job = freeName(name);
    if (c.job.empty()) {
        claimLater(name, "no free name for it in out/");
        return false;
    }
    c.name = name;
    workStems_.insert(stemOf(c.job));
    return true;
}

// Moves a macro whose data is synced into work/ and hands it to the
// builders; the caller then syncs work/ for the whole batch.
bool Spool::claim(Claim& c, std::uint64_t batch) {
    const std::string& name = c.name;
    const std::string& job = c.job;
    if (c.synced != 0) {
        workStems_.erase(stemOf(job));
        claimLater(name, std::string("cannot sync it: ") + std::strerror(c.synced));
        return false;
    }
    if (::renameat2(in_.get(), name.c_str(), work_.get(), job.c_str(), RENAME_NOREPLACE) != 0 &&
        (errno != EINVAL || ::renameat(in_.get(), name.c_str(), work_.get(), job.c_str()) != 0)) {
        const int why = errno;
        workStems_.erase(stemOf(job));
        if (why != ENOENT || exists(in_.get(), name))
            claimLater(name, std::string("cannot move it to work/: ") + std::strerror(why));
        else
            claimAttempts_.erase(name);
        return false;
    }
    // A client that replaced in/NAME between the sync and the rename: the
    // file claimed is another one, synced now.
    struct stat synced, claimed;
    if (c.data && (::fstat(c.data.get(), &synced) != 0 ||
                   ::fstatat(work_.get(), job.c_str(), &claimed, AT_SYMLINK_NOFOLLOW) != 0 ||
                   synced.st_ino != claimed.st_ino || synced.st_dev != claimed.st_dev)) {
        c.data.reset(openMacro(work_.get(), job));
        if (c.data && ::fdatasync(c.data.get()) != 0 && errno != EINVAL)
            log(job + ": cannot sync it in work/: " + std::strerror(errno));
    }
    c.data.reset();
    claimAttempts_.erase(name);
    if (job != name)
        log(name + ": taken as " + job +
            (job.size() < name.size() || jobName(name, 1) != name ? " (the name is too long)"
                                                                  : " (the name was in use)"));
    hand(job, batch);
    return true;
}

// A name for the job that no other job in work/, fax in out/ or macro in
// done/ or failed/ has: the macro's own, or with "-2", "-3"... before its
// extension, shortened where the names made from it would not fit.
// Decided at the claim, it stays the job's name through any number of
// restarts, so a rebuild replaces only its own fax.
std::string Spool::freeName(const std::string& name) const {
    for (int k = 1; k <= 100000; ++k) {
        const std::string candidate = jobName(name, k);
        const std::string stem = stemOf(candidate);
        if (!workStems_.count(stem) && !exists(work_.get(), candidate) &&
            !exists(work_.get(), "." + candidate + ".err") && !exists(out_.get(), stem + ".tif") &&
            !exists(done_.get(), candidate) && !exists(failed_.get(), candidate) &&
            !exists(failed_.get(), candidate + ".err"))
            return candidate;
    }
    return {};
}

// A claim that failed for a reason outside the macro: the macro stays in
// in/ and is tried again after the same waits as a job kept in work/,
// while later macros go on. --once leaves it for the next run.
void Spool::claimLater(const std::string& name, const std::string& why) {
    if (options_.once) {
        log(name + ": " + why + "; left in in/");
        return;
    }
    const auto wait = retryAfter(claimAttempts_[name]++);
    log(name + ": " + why + "; left in in/, tried again in " +
        std::to_string(std::chrono::duration_cast<std::chrono::seconds>(wait).count()) + " s");
    claimRetries_.emplace(Clock::now() + wait, name);
    claimWaiting_.insert(name);
}

void Spool::readWatch() {
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(watch_.get(), buffer, sizeof buffer);
        if (n <= 0)
            return; // EAGAIN: all read
        for (ssize_t at = 0; at < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
            if (e->mask & IN_Q_OVERFLOW) {
                scanIn(); // events were lost: look at the folder itself
            } else if (e->mask & IN_IGNORED) {
                log("spool " + options_.folder + ": in/ was removed; stopping");
                stopping_ = broken_ = true;
            } else if (e->len && (e->mask & IN_CREATE)) {
                created(e->name);
            } else if (e->len) {
                addPending(e->name);
            }
            at += ssize_t(sizeof(inotify_event) + e->len);
        }
    }
}

// A name made in in/ in one step. A hard link to a complete file (more
// than one link, or no writer) is taken at once; so is anything that is
// no regular file, which goes on to failed/. A file created empty is left
// until its writer closes it (IN_CLOSE_WRITE).
void Spool::created(const std::string& name) {
    struct stat st;
    if (name.empty() || name[0] == '.' ||
        ::fstatat(in_.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    if (!S_ISREG(st.st_mode) || st.st_nlink > 1 ||
        writersOf(Fd(openMacro(in_.get(), name)).get()) == Writers::None)
        addPending(name);
}

// A folder's entries to the disk; see the protocol above.
void Spool::sync(const Fd& folder, const char* name) const {
    if (!SyncFolder(folder.get()))
        log("spool " + options_.folder + ": cannot sync " + name + "/: " + std::strerror(errno));
}

// A macro (no dot name) still in in/ or work/.
bool Spool::leftBehind() const {
    for (const Fd* folder : {&in_, &work_})
        for (const std::string& name : listFolder(folder->get()))
            if (name[0] != '.')
                return true;
    return false;
}

void Spool::finished(const std::string& name, Outcome outcome) {
    --inFlight_;
    if (outcome == Outcome::Retry) {
        if (options_.once) {
            anyFailed_ = true; // stays in work/ for the next run
            return;
        }
        retries_.emplace(Clock::now() + retryAfter(attempts_[name]++), name);
        return;
    }
    attempts_.erase(name);
    workStems_.erase(stemOf(name));
    if (outcome == Outcome::Failed)
        anyFailed_ = true;
}

// Jobs ended, to the main thread.
void Spool::report(std::vector<std::pair<std::string, Outcome>> results) {
    if (results.empty())
        return;
    {
        std::lock_guard lock(mutex_);
        for (auto& result : results)
            results_.push_back(std::move(result));
    }
    const std::uint64_t one = 1;
    (void)!::write(wake_.get(), &one, sizeof one);
}

// Until the claim of `batch` is on the disk (step 1 of the protocol).
void Spool::waitClaimed(std::uint64_t batch) {
    std::unique_lock lock(mutex_);
    claimed_.wait(lock, [&] { return durable_ >= batch; });
}

void Spool::builder() {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            ready_.wait(lock, [this] { return quit_ || !queue_.empty(); });
            if (queue_.empty())
                return;
            job = std::move(queue_.front());
            queue_.pop_front();
        }
        Outcome outcome;
        try {
            outcome = build(job);
        } catch (...) { // out of memory: the macro stays in work/
            outcome = Outcome::Retry;
        }
        if (outcome != Outcome::Built)
            report({{std::move(job.name), outcome}});
    }
}

// Steps 2 (its end) and 3 of the protocol for the faxes written since the
// last batch: out/ synced, each macro renamed into done/, then done/ synced
// once for all of them, and only then their "done" lines.
void Spool::archiver() {
    for (;;) {
        std::deque<Built> batch;
        {
            std::unique_lock lock(mutex_);
            archive_.wait(lock, [this] { return quit_ || !built_.empty(); });
            if (built_.empty())
                return;
            batch.swap(built_);
        }
        std::vector<std::pair<std::string, Outcome>> results;
        // Step 2's folder syncs, for the whole batch. One that fails keeps
        // every job of the batch in work/: the names of their faxes may not
        // be on the disk.
        std::string why;
        if (!SyncFolder(out_.get()))
            why = std::string("cannot sync out/: ") + std::strerror(errno);
        else if (!options_.pdfDir.empty() && !SyncFolder(options_.pdfDir))
            why = "cannot sync " + options_.pdfDir + ": " + std::strerror(errno);
        if (!why.empty()) {
            for (const Built& b : batch)
                results.emplace_back(b.name, keep(b.head + "written, but " + why));
            report(std::move(results));
            continue;
        }
        std::vector<const Built*> moved;
        for (const Built& b : batch) {
            if (::renameat(work_.get(), b.name.c_str(), done_.get(), b.name.c_str()) == 0)
                moved.push_back(&b);
            else
                results.emplace_back(
                    b.name, keep(b.head + "written, but cannot move it to done/: " +
                                 std::strerror(errno)));
        }
        if (!moved.empty())
            sync(done_, "done");
        for (const Built* b : moved) {
            // From an earlier attempt; a cut that brings it back leaves it to
            // the next start, which drops it.
            ::unlinkat(work_.get(), ("." + b->name + ".err").c_str(), 0);
            log(b->head + "done: out/" + stemOf(b->name) + ".tif");
            results.emplace_back(b->name, Outcome::Done);
        }
        report(std::move(results));
    }
}

Outcome Spool::keep(const std::string& line) {
    log(line + "; kept in work/ for a retry");
    return Outcome::Retry;
}

Outcome Spool::build(const Job& job) {
    const std::string& name = job.name;
    const auto started = Clock::now();
    const std::string macro = options_.folder + "/work/" + name;
    const std::string stem = stemOf(name);
    const std::string tiff = options_.folder + "/out/" + stem + ".tif";
    int pages = 0;
    std::string error, details;
    bool ok = false;
    struct stat st;
    if (::fstatat(work_.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) {
            log(name + ": gone from work/; nothing to do");
            return Outcome::Gone;
        }
        error = name + ": " + std::strerror(errno);
    } else if (!S_ISREG(st.st_mode)) {
        error = name + ": " + notAMacro(st.st_mode) + "; only a regular file is a macro";
    } else {
        BuildOptions build = options_.build;
        build.syncFolders = false; // the archiver's, for a batch
        // A job builds its template with its fields; the diagnostics and
        // the reason name the job.
        Record fields;
        std::string templatePath;
        std::unique_ptr<FieldFiller> filler;
        if (isJob(name)) {
            if (!readJob(work_.get(), name, options_.folder + "/templates", fields, templatePath,
                         error)) {
                error = name + ": " + error;
                goto built;
            }
            filler = std::make_unique<FieldFiller>(fields);
            build.lineFilter = filler.get();
        }
        // The fax and its PDF copy are named only after this.
        build.beforeSave = [&](FaxImage& fax, std::string&) {
            pages = fax.PageCount;
            waitClaimed(job.batch);
            return true;
        };
        // A strict spool refuses macros that lose something: the reason file
        // then lists what was lost, line by line, before the refusal.
        if (!options_.pdfDir.empty())
            build.pdfFile = options_.pdfDir + "/" + stem + ".pdf";
        DiagnosticList diagnostics;
        if (build.strict)
            build.diagnostics = &diagnostics;
        const std::string& source = templatePath.empty() ? macro : templatePath;
        ok = BuildFaxFile(source.c_str(), tiff.c_str(), build, error);
        if (!ok && build.strict)
            // A job's lines are the template's.
            for (const std::string& line : diagnostics.Lines(
                     templatePath.empty() ? name : templatePath.substr(options_.folder.size() + 1)))
                details += line + "\n";
        if (!ok && !templatePath.empty() && error.compare(0, source.size(), source) == 0)
            error = name + ": templates/" + error.substr(options_.folder.size() + 11);
    }
built:
    const long long ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count();
    const std::string head = name + ": " + std::to_string(pages) +
                             (pages == 1 ? " page, " : " pages, ") + std::to_string(ms) + " ms, ";

    if (ok) {
        {
            std::lock_guard lock(mutex_);
            built_.push_back({name, head});
        }
        archive_.notify_one();
        return Outcome::Built;
    }
    // The reason as foliobuild gives it, with the macro named as it is in
    // the spool rather than by its path in work/.
    if (error.compare(0, macro.size(), macro) == 0)
        error = name + error.substr(macro.size());
    // A fax file that cannot be written is no fault of the macro (out/ full
    // or not writable): it is built again later.
    if (error.compare(0, tiff.size() + 27, tiff + ": cannot write the fax file") == 0)
        return keep(head + "not written: " + error);
    // Nor is a PDF copy that cannot be written (the PDF folder full, not
    // writable or gone): the fax is not given out half archived.
    if (!options_.pdfDir.empty()) {
        const std::string pdf = options_.pdfDir + "/" + stem + ".pdf";
        if (error.compare(0, pdf.size() + 1, pdf + ":") == 0 ||
            error.compare(0, pdf.size() + 13, "cannot write " + pdf + ":") == 0)
            return keep(head + "PDF copy not written: " + error);
    }

    waitClaimed(job.batch);
    const std::string reason = "." + name + ".err";
    const int fd = ::openat(work_.get(), reason.c_str(),
                            O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    bool written = fd >= 0 && writeAll(fd, details + error + "\n") && ::fsync(fd) == 0;
    int why = errno;
    if (fd >= 0 && ::close(fd) != 0 && written) {
        written = false;
        why = errno;
    }
    if (!written) {
        ::unlinkat(work_.get(), reason.c_str(), 0);
        return keep(head + "failed: " + error +
                    "; cannot write the reason to work/: " + std::strerror(why));
    }
    sync(work_, "work");
    if (::renameat(work_.get(), name.c_str(), failed_.get(), name.c_str()) != 0)
        return keep(head + "failed: " + error +
                    "; cannot move it to failed/: " + std::strerror(errno));
    sync(failed_, "failed");
    if (::renameat(work_.get(), reason.c_str(), failed_.get(), (name + ".err").c_str()) != 0)
        log(name +
            ": cannot move its reason to failed/ (the next start does): " + std::strerror(errno));
    sync(failed_, "failed");
    log(head + "failed: " + error);
    return Outcome::Failed;
}

int Spool::Run() {
    // Blocked before the builders start, so that they inherit the mask and
    // the signals reach only the signalfd.
    sigset_t set, old;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set, &old);
    struct Restore {
        sigset_t* old;
        ~Restore() { pthread_sigmask(SIG_SETMASK, old, nullptr); }
    } restore{&old};
    if (!start())
        return 1;
    recover();
    scanIn();
    const int jobs = std::clamp(options_.jobs, 1, 256);
    log("spool " + options_.folder + ": " + std::to_string(jobs) + " at a time, " +
        std::to_string(recovered_.size()) + " left in work/ by an earlier run, " +
        std::to_string(pending_.size()) + " waiting in in/");

    std::vector<std::thread> builders;
    for (int i = 0; i < jobs; ++i)
        builders.emplace_back([this] { builder(); });
    std::thread archiving([this] { archiver(); });

    const int inHand = jobs * kInHand;
    for (;;) {
        if (!stopping_) {
            while (inFlight_ <= inHand / 2 && claimSome(inHand - inFlight_) > 0) {
            }
            if (options_.once && inFlight_ == 0) {
                scanIn(); // what came in while the last jobs ran
                while (inFlight_ < inHand && claimSome(inHand - inFlight_) > 0) {
                }
                if (inFlight_ == 0)
                    break;
            }
        }
        if (stopping_ && inFlight_ == 0)
            break;

        int timeout = -1;
        if ((!retries_.empty() || !claimRetries_.empty()) && !stopping_) {
            auto due = Clock::time_point::max();
            if (!retries_.empty())
                due = retries_.begin()->first;
            if (!claimRetries_.empty())
                due = std::min(due, claimRetries_.begin()->first);
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now()).count();
            timeout = int(std::clamp<long long>(left + 1, 0, 3600 * 1000));
        }
        pollfd fds[3] = {
            {watch_.get(), POLLIN, 0}, {signals_.get(), POLLIN, 0}, {wake_.get(), POLLIN, 0}};
        if (::poll(fds, 3, timeout) < 0 && errno != EINTR) {
            log(std::string("spool: poll: ") + std::strerror(errno));
            stopping_ = broken_ = true;
        }
        if (fds[1].revents & POLLIN) {
            signalfd_siginfo info;
            while (::read(signals_.get(), &info, sizeof info) == ssize_t(sizeof info)) {
                if (!stopping_)
                    log("spool " + options_.folder + ": " + strsignal(int(info.ssi_signo)) +
                        "; finishing " + std::to_string(inFlight_) + " jobs in hand");
                stopping_ = true;
            }
        }
        if (fds[0].revents & POLLIN)
            readWatch();
        if (fds[2].revents & POLLIN) {
            std::uint64_t count;
            (void)!::read(wake_.get(), &count, sizeof count);
            std::deque<std::pair<std::string, Outcome>> results;
            {
                std::lock_guard lock(mutex_);
                results.swap(results_);
            }
            for (const auto& [name, outcome] : results)
                finished(name, outcome);
        }
        // Jobs whose wait is over go back to the front.
        const auto now = Clock::now();
        while (!retries_.empty() && retries_.begin()->first <= now) {
            recovered_.push_back(retries_.begin()->second);
            retries_.erase(retries_.begin());
        }
        // Behind the macros that came in meanwhile, which are not held up.
        while (!claimRetries_.empty() && claimRetries_.begin()->first <= now) {
            claimWaiting_.erase(claimRetries_.begin()->second);
            addPending(claimRetries_.begin()->second);
            claimRetries_.erase(claimRetries_.begin());
        }
    }

    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    ready_.notify_all();
    archive_.notify_all();
    for (std::thread& t : builders)
        t.join();
    archiving.join();
    // A macro left in in/ (no free name, not movable) or work/ (kept for a
    // retry) is not finished: --once says so.
    return broken_ || (options_.once && (anyFailed_ || leftBehind())) ? 1 : 0;
}

} // namespace

int RunSpool(const SpoolOptions& options) {
    Spool spool(options);
    return spool.Run();
}

} // namespace folio
