// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The file a fax document is written to, as libtiff sees it through its
// client procedures. libtiff writes a page as a strip and a directory in
// many small writes with a seek before each, and patches the link of the
// directory before; here seeks only move a position, and what is written at
// the end of the file gathers in memory and goes out in large positioned
// writes. A patch of bytes still in memory is made there. Every call on the
// file system costs the more on a virtual machine, where each one traps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>
#include <vector>

namespace folio::tiflib {

class DocumentFile {
  public:
    // Works on `fd`, an empty file open for reading and writing, which stays
    // the caller's: it is never closed here.
    explicit DocumentFile(int fd) : fd_(fd) {}
    DocumentFile(const DocumentFile&) = delete;
    DocumentFile& operator=(const DocumentFile&) = delete;

    int Fd() const { return fd_; }

    // libtiff's procedures: bytes moved, or -1 with errno set.
    std::int64_t Read(void* to, std::size_t n);
    std::int64_t Write(const void* from, std::size_t n);
    std::uint64_t Seek(std::uint64_t offset, int whence);
    std::uint64_t Size() const;

    // Writes out what is held in memory. False, with errno set, on failure;
    // the failure stays, and every later write fails too.
    bool Flush();
    // Bytes written out since the last call (for starting write-back).
    std::uint64_t TakeWrittenOut();
    // libtiff's close: flushes; the descriptor stays open. False, with errno
    // set, when the flush fails.
    bool Close();

  private:
    bool writeOut(const std::uint8_t* from, std::size_t n, std::uint64_t at);

    int fd_;
    std::uint64_t position_ = 0;
    std::uint64_t size_ = 0; // the file's size, held bytes included
    // Bytes not yet written out, from file offset heldAt_ on.
    std::vector<std::uint8_t> held_;
    std::uint64_t heldAt_ = 0;
    std::uint64_t writtenOut_ = 0;
    int error_ = 0; // the first write error, kept
};

} // namespace folio::tiflib
