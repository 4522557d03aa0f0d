// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Relative FILE names opened with openat() from a descriptor of the base
// folder, so that the folder is the one named at the start of the build even
// if its name is moved meanwhile.
#include "BaseFolder.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace folio {

std::unique_ptr<BaseFolder> BaseFolder::Create(const std::string& folder, std::string& error) {
    const int fd = folder.empty() ? -1 : ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error = folder + ": not a folder" +
                (errno && !folder.empty() ? std::string(": ") + std::strerror(errno) : "");
        return nullptr;
    }
    return std::unique_ptr<BaseFolder>(new BaseFolder(fd));
}

BaseFolder::~BaseFolder() {
    ::close(fd_);
}

int BaseFolder::Open(const std::string& path) {
    if (path.empty())
        return kMissing;
    // Non-blocking, as the plain gate opens: a FIFO cannot stall the build.
    const int fd = ::openat(fd_, path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0)
        return fd;
    return errno == ENOENT || errno == ENOTDIR ? kMissing : kUnreadable;
}

bool BaseFolder::MayRead(const std::string& path) {
    const int fd = Open(path);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

} // namespace folio
