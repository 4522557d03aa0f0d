// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Include-root opening with openat2(RESOLVE_BENEATH). The path a macro names
// is first made relative to the root; the kernel then walks it from the
// root's descriptor and fails with EXDEV at the first step ("../", an
// absolute or escaping symbolic link) that would leave the root. Resolving
// the path in user space and opening it afterwards would leave a window in
// which a link could be swapped; there is no such fallback here.
//
// Making the path relative: where it is spelled beneath the root (as given
// or as resolved), its rest is walked from the root as it stands. Otherwise
// ("./R/x", "R//x", a link to R from outside) the kernel finds where the
// path's folder is, without opening it (O_PATH) and without magic links
// (/proc/self/root); a folder found inside the root gives the relative
// path, which is then walked from the root as above. Either way the file
// itself is only ever opened beneath the root.
#include "IncludeRoot.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>

namespace folio {

namespace {

bool resolve(const std::string& path, std::string& out) {
    char* r = ::realpath(path.c_str(), nullptr);
    if (!r)
        return false;
    out = r;
    std::free(r);
    return true;
}

int openBeneath(int dirFd, const char* path, unsigned long long flags) {
#ifdef SYS_openat2
    struct open_how how;
    std::memset(&how, 0, sizeof how);
    how.flags = flags;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    for (;;) {
        const long fd = ::syscall(SYS_openat2, dirFd, path, &how, sizeof how);
        if (fd >= 0 || errno != EINTR)
            return int(fd);
    }
#else
    (void)dirFd, (void)path, (void)flags;
    errno = ENOSYS;
    return -1;
#endif
}

std::string withoutTrailingSlash(std::string s) {
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
    return s;
}

// `path` starts with the folder `dir` (spelled the same way).
bool under(const std::string& path, const std::string& dir, std::string& rest) {
    if (dir == "/") {
        const std::size_t at = path.find_first_not_of('/');
        rest = at == std::string::npos ? "" : path.substr(at);
        return true;
    }
    if (path.size() <= dir.size() || path.compare(0, dir.size(), dir) != 0 ||
        path[dir.size()] != '/')
        return false;
    // "R//x" is "R/x": the rest must not start as an absolute path.
    const std::size_t at = path.find_first_not_of('/', dir.size());
    rest = at == std::string::npos ? "" : path.substr(at);
    return true;
}

} // namespace

IncludeRoot::~IncludeRoot() {
    if (rootFd_ >= 0)
        ::close(rootFd_);
}

bool IncludeRoot::Create(const std::string& folder, std::function<void(const std::string&)> warn,
                         IncludeRoot& out, std::string& error, const std::string& base) {
    std::string resolved;
    char cwd[PATH_MAX];
    if (folder.empty()) {
        error = "the include root is an empty name: give a folder";
        return false;
    }
    if (!resolve(folder, resolved) || !::getcwd(cwd, sizeof cwd)) {
        error = folder + ": not a folder";
        return false;
    }
    const int fd = ::open(resolved.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error = folder + ": not a folder";
        return false;
    }
    // Ask the kernel once now, so that a missing openat2 stops the start
    // rather than quietly refusing every FILE later.
    const int probe = openBeneath(fd, ".", O_PATH | O_CLOEXEC);
    if (probe < 0) {
        const int e = errno;
        ::close(fd);
        error = folder + ": cannot confine FILE commands to it: " +
                (e == ENOSYS ? std::string("this kernel has no openat2 (Linux 5.6 or later is "
                                           "needed for --include-root)")
                             : std::strerror(e));
        return false;
    }
    ::close(probe);
    if (out.rootFd_ >= 0)
        ::close(out.rootFd_);
    out.rootFd_ = fd;
    out.root_ = resolved;
    out.cwd_ = withoutTrailingSlash(cwd);
    out.given_ = withoutTrailingSlash(folder[0] == '/' ? folder : out.cwd_ + "/" + folder);
    if (!base.empty()) {
        // Resolved as the root is, so that the two are spelled alike.
        std::string resolvedBase;
        out.cwd_ = withoutTrailingSlash(resolve(base, resolvedBase) ? resolvedBase
                                        : base[0] == '/'            ? base
                                                                    : out.cwd_ + "/" + base);
    }
    out.warn_ = std::move(warn);
    return true;
}

bool IncludeRoot::beneath(const std::string& path, std::string& relative) const {
    std::string full = withoutTrailingSlash(path[0] == '/' ? path : cwd_ + "/" + path);
    if (full == root_ || full == given_) {
        relative.clear();
        return true;
    }
    return under(full, root_, relative) || under(full, given_, relative);
}

void IncludeRoot::refuse(const std::string& path, const std::string& why) const {
    if (warn_)
        warn_("FILE " + path + why);
}

bool IncludeRoot::resolvedBeneath(const std::string& path, std::string& relative) const {
    const std::string full = path[0] == '/' ? path : cwd_ + "/" + path;
    const std::size_t slash = full.find_last_of('/');
    const std::string folder = slash == 0 ? "/" : full.substr(0, slash);
    const std::string last = full.substr(slash + 1);
    int fd = -1;
#ifdef SYS_openat2
    struct open_how how;
    std::memset(&how, 0, sizeof how);
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_NO_MAGICLINKS;
    do
        fd = int(::syscall(SYS_openat2, AT_FDCWD, folder.c_str(), &how, sizeof how));
    while (fd < 0 && errno == EINTR);
#endif
    if (fd < 0)
        return false;
    char link[64], where[PATH_MAX];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = ::readlink(link, where, sizeof where - 1);
    ::close(fd);
    if (n <= 0 || where[0] != '/')
        return false; // no /proc, or a folder no longer reachable by name
    std::string found(where, std::size_t(n));
    if (!last.empty())
        found += (found == "/" ? "" : "/") + last;
    if (found == root_) {
        relative.clear();
        return true;
    }
    return under(found, root_, relative);
}

int IncludeRoot::Open(const std::string& path) {
    std::string relative;
    if (path.empty() || rootFd_ < 0)
        return kMissing;
    if (!beneath(path, relative) && !resolvedBeneath(path, relative)) {
        refuse(path, " is outside the include root " + root_ + "; ignored");
        return kRefused;
    }
    // The root itself opens as any folder in it does; the engine skips it.
    if (relative.empty())
        relative = ".";
    const int fd = openBeneath(rootFd_, relative.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0)
        return fd;
    switch (errno) {
    case ENOENT:
    case ENOTDIR:
        return kMissing;
    case ELOOP:
        // Links that lead round in a circle (or more than 40 in a row) end
        // in ELOOP without leaving the root; so does a /proc magic link,
        // which would lead out. Asked again without the confinement, only
        // for the message: the O_PATH handle reads nothing and is closed.
        if (const int again = ::openat(rootFd_, relative.c_str(), O_PATH | O_CLOEXEC);
            again >= 0) {
            ::close(again);
        } else if (errno == ELOOP) {
            refuse(path, " is a loop of symbolic links; ignored");
            return kRefused;
        }
        [[fallthrough]];
    case EXDEV:
        refuse(path, " is outside the include root " + root_ + "; ignored");
        return kRefused;
    case ENOSYS:
        refuse(path, " refused: this kernel cannot open files beneath the include root in one "
                     "step (openat2)");
        return kRefused;
    default:
        return kUnreadable;
    }
}

bool IncludeRoot::MayRead(const std::string& path) {
    const int fd = Open(path);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

} // namespace folio
