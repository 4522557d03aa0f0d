// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Bounded file reading: only regular files, only up to a size limit, so a
// device, a directory or an endless file ends in an error, not a hang.
#include "TextFile.h"

#include "Error.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace folio {

bool FileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::string ReadWholeFile(const std::string& path, std::size_t limit) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        throw Error("Cannot open file " + path);
    std::string data;
    try {
        data = ReadWholeFd(fd, path, limit);
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
    return data;
}

std::string ReadWholeFd(int fd, const std::string& name, std::size_t limit) {
    const Error cannotOpen("Cannot open file " + name);
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || std::size_t(st.st_size) > limit)
        throw cannotOpen;
    std::string data;
    data.resize(std::size_t(st.st_size));
    std::size_t got = 0;
    // The file may grow while it is read; stop at the size seen above.
    while (got < data.size()) {
        ssize_t n = ::read(fd, data.data() + got, data.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw cannotOpen;
        if (n == 0)
            break;
        got += std::size_t(n);
    }
    data.resize(got);
    return data;
}

void ReadTextLines(const std::string& path, const std::function<void(std::string&)>& onLine) {
    SplitTextLines(ReadWholeFile(path, kMaxTextFileBytes), onLine);
}

void ReadTextLines(int fd, const std::string& name,
                   const std::function<void(std::string&)>& onLine) {
    SplitTextLines(ReadWholeFd(fd, name, kMaxTextFileBytes), onLine);
}

void SplitTextLines(const std::string& data, const std::function<void(std::string&)>& onLine) {
    std::string line;
    std::size_t start = 0;
    const std::size_t n = data.size();
    while (start < n) {
        std::size_t end = start;
        while (end < n && data[end] != '\n' && data[end] != '\r')
            ++end;
        line.assign(data, start, end - start);
        onLine(line);
        if (end < n && data[end] == '\r' && end + 1 < n && data[end + 1] == '\n')
            end += 2;
        else
            end += 1;
        start = end;
    }
}

} // namespace folio
