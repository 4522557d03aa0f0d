// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Private per-request folders. Files are made and removed relative to the
// folder's descriptor, so no name is ever resolved through a link.
#include "RequestFolder.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace folio::server {

bool IsAssetName(const std::string& name) {
    if (name.empty() || name.size() > 255 || name[0] == '.')
        return false;
    for (const char c : name)
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return false;
    return true;
}

std::unique_ptr<RequestFolder> RequestFolder::Create(const std::string& parent,
                                                     std::string& error) {
    std::vector<char> path(parent.begin(), parent.end());
    const char tail[] = "/request-XXXXXX";
    path.insert(path.end(), tail, tail + sizeof tail);
    if (!::mkdtemp(path.data())) {
        error = std::string("cannot make the request's folder: ") + std::strerror(errno);
        return nullptr;
    }
    const int fd = ::open(path.data(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        error = std::string("cannot open the request's folder: ") + std::strerror(errno);
        ::rmdir(path.data());
        return nullptr;
    }
    return std::unique_ptr<RequestFolder>(new RequestFolder(path.data(), fd));
}

RequestFolder::~RequestFolder() {
    // Only this process writes here, and only plain files.
    const int listFd = ::dup(fd_);
    if (DIR* dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr) {
        std::vector<std::string> names;
        while (const dirent* e = ::readdir(dir))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.emplace_back(e->d_name);
        ::closedir(dir);
        for (const std::string& n : names)
            ::unlinkat(fd_, n.c_str(), 0);
    } else if (listFd >= 0) {
        ::close(listFd);
    }
    ::close(fd_);
    ::rmdir(path_.c_str());
}

int RequestFolder::CreateFile(const std::string& name, std::string& error, int& status) {
    status = 400;
    if (!IsAssetName(name)) {
        error = "asset name \"" + name +
                "\" is not a plain file name (1 to 255 bytes, no slash, backslash or control "
                "character, not starting with a dot)";
        return -1;
    }
    const int fd =
        ::openat(fd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) {
        error = "asset \"" + name + "\" is posted twice";
    } else if (fd < 0) {
        status = 500;
        error = "cannot store asset \"" + name + "\": " + std::strerror(errno);
    }
    return fd;
}

} // namespace folio::server
