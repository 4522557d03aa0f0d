// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The work file of an output and how it reaches its target: renamed over a
// regular file, or copied into a device, pipe or socket with SIGPIPE held
// off for the calling thread only (a library must not change the process's
// signal dispositions).
#include "OutputFile.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <new>
#include <poll.h>
#include <random>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace folio {
namespace {

std::string reason(int error) {
    return std::strerror(error);
}

// The folder a path names its file in.
std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Follows `path` through symbolic links to the name that is not one, which
// need not exist yet. Relative link contents count from the link's folder.
bool followLinks(std::string path, std::string& final, int& error) {
    for (int hops = 0;; ++hops) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            final = std::move(path);
            return true;
        }
        if (hops == 40) { // the kernel's own limit
            error = ELOOP;
            return false;
        }
        char to[4096];
        const ssize_t n = ::readlink(path.c_str(), to, sizeof to);
        if (n < 0 || n == ssize_t(sizeof to)) {
            error = n < 0 ? errno : ENAMETOOLONG;
            return false;
        }
        std::string next(to, std::size_t(n));
        if (next.empty() || next[0] != '/') {
            const std::size_t slash = path.find_last_of('/');
            if (slash != std::string::npos)
                next = path.substr(0, slash + 1) + next;
        }
        path = std::move(next);
    }
}

// `target`.partXXXXXX: the name a work file takes beside its target.
std::string partName(const std::string& target) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937_64 random{std::random_device{}()};
    std::string path = target + ".part";
    for (int i = 0; i < 6; ++i)
        path += kLetters[random() % (sizeof kLetters - 1)];
    return path;
}

// A new named file beside the target, for file systems without unnamed
// ones. open() with O_EXCL and mode 0666 leaves the permissions to the
// umask, as for any new file, which mkstemp's fixed 0600 would not.
int createNamed(const std::string& target, std::string& path) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        path = partName(target);
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

// A work file for a stream: unnamed in the temporary folder, or in memory
// where that folder takes no unnamed files.
int createScratch() {
    const char* folder = std::getenv("TMPDIR");
    if (!folder || !*folder)
        folder = "/tmp";
    const int fd = ::open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    return fd >= 0 ? fd : ::memfd_create("folio-output", MFD_CLOEXEC);
}

const char* kindOf(mode_t mode) {
    switch (mode & S_IFMT) {
    case S_IFDIR:
        return "a folder";
    case S_IFBLK:
        return "a block device";
    default:
        return "a file of an unknown kind";
    }
}

bool streamable(mode_t mode) {
    return S_ISCHR(mode) || S_ISFIFO(mode) || S_ISSOCK(mode);
}

// Opens the device or pipe `path` for writing, or connects to the socket.
int openSink(const std::string& path, mode_t expected, std::string& error) {
    int fd;
    if (S_ISSOCK(expected)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path.size() >= sizeof address.sun_path) {
            error = "the socket's name is too long to connect to";
            return -1;
        }
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd >= 0 &&
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            const int e = errno;
            ::close(fd);
            errno = e;
            fd = -1;
        }
        if (fd < 0)
            error = "cannot connect to the socket: " + reason(errno);
        return fd;
    }
    // A pipe's open waits for its reader; a signal may cut the wait short.
    do
        fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error = "cannot open it for writing: " + reason(errno);
        return -1;
    }
    // The node may have been swapped between the look and the open.
    struct stat st;
    if (::fstat(fd, &st) != 0 || (st.st_mode & S_IFMT) != (expected & S_IFMT)) {
        ::close(fd);
        error = "it changed while being opened; nothing written";
        return -1;
    }
    return fd;
}

// Holds SIGPIPE off the calling thread while a stream is written, so that a
// reader that went away shows as EPIPE. The signal a failed write raised is
// taken again before the thread's mask is restored.
class PipeSignalBlock {
  public:
    PipeSignalBlock() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t pending;
        sigemptyset(&pending);
        wasPending_ = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
    }
    ~PipeSignalBlock() {
        if (broken_ && !wasPending_) {
            const int saved = errno;
            const timespec now{};
            while (sigtimedwait(&pipe_, nullptr, &now) < 0 && errno == EINTR) {
            }
            errno = saved;
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    void broken() { broken_ = true; }

  private:
    sigset_t pipe_, old_;
    bool wasPending_ = false;
    bool broken_ = false;
};

// Writes all `n` bytes, waiting where the descriptor is non-blocking.
bool writeAll(int fd, const char* from, std::size_t n) {
    while (n > 0) {
        const ssize_t done = ::write(fd, from, n);
        if (done < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                pollfd p{fd, POLLOUT, 0};
                if (::poll(&p, 1, -1) < 0 && errno != EINTR)
                    return false;
                continue;
            }
            return false;
        }
        if (done == 0) {
            errno = EIO;
            return false;
        }
        from += done;
        n -= std::size_t(done);
    }
    return true;
}

} // namespace

namespace {
thread_local bool tFolderSync = true;
} // namespace

bool OutputFile::SetThreadFolderSync(bool sync) {
    return std::exchange(tFolderSync, sync);
}

std::unique_ptr<OutputFile> OutputFile::Create(const std::string& path, std::string& error) {
    if (path.empty()) {
        error = "no file name";
        return nullptr;
    }
    std::unique_ptr<OutputFile> out(new OutputFile);
    struct stat st;
    if (path == "-") {
        if (::fstat(STDOUT_FILENO, &st) != 0) {
            error = "standard output is not open: " + reason(errno);
            return nullptr;
        }
        // Redirected to a file, standard output is written in order from
        // where it stands, as any program's output.
        if (!streamable(st.st_mode) && !S_ISREG(st.st_mode)) {
            error = std::string("standard output is ") + kindOf(st.st_mode) +
                    "; only files, character devices, pipes and sockets are written";
            return nullptr;
        }
        out->kind_ = Kind::Stream;
        out->sink_ = STDOUT_FILENO;
    } else if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        if (!streamable(st.st_mode)) {
            error = std::string("it is ") + kindOf(st.st_mode) +
                    "; only files, character devices, pipes and sockets are written";
            return nullptr;
        }
        out->kind_ = Kind::Stream;
        out->sink_ = openSink(path, st.st_mode, error);
        if (out->sink_ < 0)
            return nullptr;
        out->ownsSink_ = true;
    } else {
        // A new name or a regular file; where the look failed (no search
        // permission, a loop), creating the work file names the reason.
        int failure = 0;
        if (!followLinks(path, out->final_, failure)) {
            error = "cannot follow its symbolic links: " + reason(failure);
            return nullptr;
        }
        out->leaveFolder_ = !tFolderSync && out->final_ == path;
        const std::string folder = folderOf(out->final_);
        out->fd_ = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        // Refused where the file system has no unnamed files (EOPNOTSUPP),
        // or the kernel does not know the flag (EISDIR, EINVAL).
        if (out->fd_ < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL))
            out->fd_ = createNamed(out->final_, out->temporary_);
        if (out->fd_ < 0) {
            error = "cannot create a file in " + folder + ": " + reason(errno);
            out->temporary_.clear();
            return nullptr;
        }
        return out;
    }
    out->fd_ = createScratch();
    if (out->fd_ < 0) {
        error = "cannot create a temporary file: " + reason(errno);
        return nullptr;
    }
    return out;
}

OutputFile::~OutputFile() {
    if (fd_ >= 0)
        ::close(fd_);
    if (!temporary_.empty())
        ::unlink(temporary_.c_str());
    if (ownsSink_ && sink_ >= 0)
        ::close(sink_);
}

bool OutputFile::Commit(std::string& error) {
    if (committed_ || fd_ < 0) {
        error = "the output is already complete";
        return false;
    }
    return kind_ == Kind::Replace ? commitReplace(error) : commitStream(error);
}

bool OutputFile::commitReplace(std::string& error) {
    struct stat st;
    const bool replacing = ::lstat(final_.c_str(), &st) == 0;
    if (replacing && !S_ISREG(st.st_mode)) {
        error = final_ + " is no longer a regular file; it was left as it is";
        return false;
    }
    // A file replaced keeps its owner, group and mode, as far as this
    // process may set them: the group alone where the owner is refused (a
    // member may give a file to any group of its own). The owner goes first,
    // as a change of owner clears the set-user-ID bits. A new file keeps the
    // mode its creation gave it (0666 less the umask).
    if (replacing) {
        if (::fchown(fd_, st.st_uid, st.st_gid) != 0 &&
            ::fchown(fd_, uid_t(-1), st.st_gid) != 0) {
            // Neither may be given: the file keeps this process's owner and
            // group, which is no reason to fail the write.
        }
        (void)::fchmod(fd_, st.st_mode & 07777);
    }
    // Synced before it is named, so that the name never points at a file
    // whose data is still only in memory or was never written.
    if (::fsync(fd_) != 0) {
        error = "cannot write the file: " + reason(errno);
        return false;
    }
    if (temporary_.empty()) {
        // A new name is given to the file at once; an existing file is
        // replaced through a name of the work file's own, renamed over it.
        char self[48];
        std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd_);
        const auto link = [&](const std::string& name) {
            int rc = ::linkat(AT_FDCWD, self, AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW);
            // Without /proc, naming a descriptor needs CAP_DAC_READ_SEARCH.
            if (rc != 0 && errno == ENOENT)
                rc = ::linkat(fd_, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH);
            return rc == 0;
        };
        if (link(final_)) {
            committed_ = true;
            return leaveFolder_ || syncFolder(error);
        }
        for (int attempt = 0; errno == EEXIST && attempt < 100; ++attempt) {
            std::string name = partName(final_);
            if (link(name)) {
                temporary_ = std::move(name);
                break;
            }
        }
        if (temporary_.empty()) {
            error = "cannot name the file in " + folderOf(final_) + ": " + reason(errno);
            return false;
        }
    }
    if (::rename(temporary_.c_str(), final_.c_str()) != 0) {
        error = "cannot replace " + final_ + ": " + reason(errno);
        return false; // the destructor removes the named work file
    }
    temporary_.clear();
    committed_ = true;
    return leaveFolder_ || syncFolder(error);
}

// The new name is on the disk only once its folder is: until then a power
// cut may leave the folder as it was before the link or rename.
bool OutputFile::syncFolder(std::string& error) {
    if (SyncFolder(folderOf(final_)))
        return true;
    error = "cannot sync the folder " + folderOf(final_) + ": " + reason(errno);
    return false;
}

bool SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = SyncFolder(fd);
    const int e = errno;
    ::close(fd);
    errno = e;
    return ok;
}

bool SyncFolder(int folderFd) {
    if (::fsync(folderFd) == 0)
        return true;
    // File systems that keep no folders to sync (some network and FUSE
    // ones) refuse the call; there is nothing more to be done there.
    return errno == EINVAL || errno == EROFS || errno == ENOTSUP;
}

bool OutputFile::commitStream(std::string& error) {
    struct stat st;
    if (::fstat(fd_, &st) != 0) {
        error = "cannot read the temporary file: " + reason(errno);
        return false;
    }
    constexpr std::size_t kChunk = std::size_t(256) << 10;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kChunk]);
    if (!buffer) {
        error = "out of memory";
        return false;
    }
    PipeSignalBlock block;
    for (off_t at = 0; at < st.st_size;) {
        const std::size_t want = std::size_t(std::min<off_t>(off_t(kChunk), st.st_size - at));
        const ssize_t got = ::pread(fd_, buffer.get(), want, at);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            error = "cannot read the temporary file: " + reason(got < 0 ? errno : EIO);
            return false;
        }
        if (!writeAll(sink_, buffer.get(), std::size_t(got))) {
            if (errno == EPIPE)
                block.broken();
            error = "cannot write into it: " + reason(errno);
            return false;
        }
        at += got;
    }
    // The reader sees the end now, not when the writer lets go of this.
    if (ownsSink_) {
        const int rc = ::close(sink_);
        sink_ = -1;
        if (rc != 0 && errno != EINTR) {
            error = "cannot write into it: " + reason(errno);
            return false;
        }
    }
    committed_ = true;
    return true;
}

} // namespace folio
