// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Buffered writing into an OutputFile's work file. Complete does the slow
// part (the flush and the sync) before the caller's other file is put in
// place, so that Commit, which names this one, is quick and rarely fails.
#include "PendingFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace folio {

PendingFile::PendingFile(std::string target, std::unique_ptr<OutputFile> output, std::FILE* file)
    : target_(std::move(target)), output_(std::move(output)), file_(file) {}

std::unique_ptr<PendingFile> PendingFile::Create(const std::string& target, std::string& error) {
    std::string why;
    std::unique_ptr<OutputFile> output = OutputFile::Create(target, why);
    if (!output) {
        error = target + ": cannot write the file: " + why;
        return nullptr;
    }
    // The stdio stream gets its own descriptor: the work file stays the
    // OutputFile's, which still needs it at Commit.
    int fd = ::fcntl(output->Fd(), F_DUPFD_CLOEXEC, 0);
    std::FILE* file = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
    if (!file) {
        error = target + ": " + std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<PendingFile>(new PendingFile(target, std::move(output), file));
}

PendingFile::~PendingFile() {
    if (file_)
        std::fclose(file_);
}

bool PendingFile::Write(const void* data, std::size_t bytes) {
    if (!file_ || (bytes && std::fwrite(data, 1, bytes, file_) != bytes))
        return false;
    offset_ += bytes;
#ifdef __linux__
    // Every few megabytes, start writing what has gone out on to the disk
    // without waiting for it: the sync in Complete then finds most of the
    // file written. Only a hint; failures show at the sync.
    if (offset_ - hinted_ >= (std::uint64_t(4) << 20)) {
        if (std::fflush(file_) != 0)
            return false;
        ::sync_file_range(::fileno(file_), 0, 0, SYNC_FILE_RANGE_WRITE);
        hinted_ = offset_;
    }
#endif
    return true;
}

bool PendingFile::Complete(std::string& error) {
    errno = 0;
    bool ok = file_ && std::fflush(file_) == 0 && !std::ferror(file_);
    // A stream's work file is a scratch copy: only a file that stays needs
    // to be on the disk.
    if (ok && output_->kind() == OutputFile::Kind::Replace)
        ok = ::fsync(::fileno(file_)) == 0;
    const int why = errno;
    if (file_ && std::fclose(file_) != 0 && ok)
        ok = false;
    file_ = nullptr;
    if (!ok) {
        error = target_ + ": cannot write the file" +
                (why ? std::string(": ") + std::strerror(why) : "");
        return false;
    }
    complete_ = true;
    return true;
}

bool PendingFile::Commit(std::string& error) {
    if (!complete_) {
        error = target_ + ": the file is not complete";
        return false;
    }
    std::string why;
    if (!output_->Commit(why)) {
        error = "cannot write " + target_ + ": " + why;
        return false;
    }
    return true;
}

} // namespace folio
