// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Include-root opening with openat2(RESOLVE_BENEATH). The path a macro names
// is first made relative to the root by its spelling alone; the kernel then
// walks it from the root's descriptor and fails with EXDEV at the first step
// ("../", an absolute or escaping symbolic link) that would leave the root.
// Resolving the path in user space and opening it afterwards would leave a
// window in which a link could be swapped; there is no such fallback here.
#include "IncludeRoot.h"

#include <cerrno>
#include <climits>
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
        rest = path.substr(1);
        return true;
    }
    if (path.size() <= dir.size() || path.compare(0, dir.size(), dir) != 0 ||
        path[dir.size()] != '/')
        return false;
    rest = path.substr(dir.size() + 1);
    return true;
}

} // namespace

IncludeRoot::~IncludeRoot() {
    if (rootFd_ >= 0)
        ::close(rootFd_);
}

bool IncludeRoot::Create(const std::string& folder, std::function<void(const std::string&)> warn,
                         IncludeRoot& out, std::string& error) {
    std::string resolved;
    char cwd[PATH_MAX];
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
    out.warn_ = std::move(warn);
    return true;
}

bool IncludeRoot::beneath(const std::string& path, std::string& relative) const {
    const std::string full = path[0] == '/' ? path : cwd_ + "/" + path;
    return under(full, root_, relative) || under(full, given_, relative);
}

void IncludeRoot::refuse(const std::string& path, const std::string& why) const {
    if (warn_)
        warn_("FILE " + path + why);
}

int IncludeRoot::Open(const std::string& path) {
    std::string relative;
    if (path.empty() || rootFd_ < 0)
        return kMissing;
    if (!beneath(path, relative) || relative.empty()) {
        refuse(path, " is outside the include root " + root_ + "; ignored");
        return kRefused;
    }
    const int fd = openBeneath(rootFd_, relative.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0)
        return fd;
    switch (errno) {
    case ENOENT:
    case ENOTDIR:
        return kMissing;
    case EXDEV:
    case ELOOP:
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
