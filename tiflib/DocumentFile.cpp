// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Positioned reads and writes over the document file with its tail held in
// memory, up to kHold bytes before it goes out.
#include "DocumentFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <unistd.h>

namespace folio::tiflib {
namespace {

// Bytes held before they are written out: a few pages' strips, and no
// more, as memory the process touches for the first time is slow to come.
constexpr std::size_t kHold = std::size_t(256) << 10;

} // namespace

bool DocumentFile::writeOut(const std::uint8_t* from, std::size_t n, std::uint64_t at) {
    while (n > 0) {
        const ssize_t done = ::pwrite(fd_, from, n, off_t(at));
        if (done < 0) {
            if (errno == EINTR)
                continue;
            error_ = errno;
            return false;
        }
        if (done == 0) {
            error_ = EIO;
            errno = EIO;
            return false;
        }
        from += done;
        n -= std::size_t(done);
        at += std::uint64_t(done);
        writtenOut_ += std::uint64_t(done);
    }
    return true;
}

bool DocumentFile::Flush() {
    if (error_) {
        errno = error_;
        return false;
    }
    if (held_.empty())
        return true;
    const bool ok = writeOut(held_.data(), held_.size(), heldAt_);
    heldAt_ += held_.size();
    held_.clear();
    return ok;
}

std::int64_t DocumentFile::Write(const void* from, std::size_t n) {
    if (error_) {
        errno = error_;
        return -1;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(from);
    // From the first held byte on, as long as it fits: written there (a gap
    // past the end reads as zeros, as in the file; libtiff writes a
    // directory's values just past where the directory itself goes next).
    // Before (a patch of bytes already out), or too much to hold: out at
    // once.
    if (position_ >= heldAt_ && position_ - heldAt_ + n <= kHold) {
        const std::size_t at = std::size_t(position_ - heldAt_);
        try {
            if (at + n > held_.size()) {
                if (held_.capacity() < kHold)
                    held_.reserve(kHold);
                held_.resize(at + n);
            }
        } catch (const std::bad_alloc&) {
            errno = ENOMEM;
            return -1;
        }
        std::memcpy(held_.data() + at, bytes, n);
    } else {
        if (!Flush())
            return -1;
        if (!writeOut(bytes, n, position_))
            return -1;
        // Held bytes start past everything written out, so that holding
        // never covers (and on its way out overwrites) bytes in the file.
        heldAt_ = std::max(heldAt_, position_ + n);
    }
    position_ += n;
    size_ = std::max(size_, position_);
    return std::int64_t(n);
}

std::int64_t DocumentFile::Read(void* to, std::size_t n) {
    const std::uint64_t heldEnd = heldAt_ + held_.size();
    if (position_ >= heldAt_ && position_ + n <= heldEnd) {
        std::memcpy(to, held_.data() + (position_ - heldAt_), n);
        position_ += n;
        return std::int64_t(n);
    }
    if (!Flush())
        return -1;
    std::size_t got = 0;
    auto* bytes = static_cast<std::uint8_t*>(to);
    while (got < n) {
        const ssize_t done = ::pread(fd_, bytes + got, n - got, off_t(position_ + got));
        if (done < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (done == 0)
            break;
        got += std::size_t(done);
    }
    position_ += got;
    return std::int64_t(got);
}

std::uint64_t DocumentFile::Seek(std::uint64_t offset, int whence) {
    switch (whence) {
    case SEEK_SET:
        position_ = offset;
        break;
    case SEEK_CUR:
        position_ += offset; // libtiff passes negative moves as wrapped values
        break;
    case SEEK_END:
        position_ = size_ + offset;
        break;
    default:
        errno = EINVAL;
        return std::uint64_t(-1);
    }
    return position_;
}

std::uint64_t DocumentFile::Size() const {
    return size_;
}

std::uint64_t DocumentFile::TakeWrittenOut() {
    const std::uint64_t n = writtenOut_;
    writtenOut_ = 0;
    return n;
}

bool DocumentFile::Close() {
    return Flush();
}

} // namespace folio::tiflib
