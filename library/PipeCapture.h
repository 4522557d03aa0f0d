// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Catches a file the writers put out into memory. The writers take any
// pipe as an output they write the finished document into from start to
// end (OutputFile's stream kind: no temporary file beside it, no sync to
// the disk), so a pipe named through /proc/self/fd, drained by a thread of
// its own, hands over exactly the bytes a file of that name would hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

namespace folio {

class PipeCapture {
  public:
    // Null, with `error` set, when no pipe or thread can be had.
    static std::unique_ptr<PipeCapture> Create(std::string& error);
    ~PipeCapture();
    PipeCapture(const PipeCapture&) = delete;
    PipeCapture& operator=(const PipeCapture&) = delete;

    // The name to write to: the pipe's write end in /proc/self/fd.
    const std::string& Name() const { return name_; }

    // Ends the capture once every writer has let go of the pipe: `data`
    // receives every byte written (`size` of them) in a block of malloc'd
    // memory the caller frees, never null. False when the bytes could not
    // all be kept (memory ran out).
    bool Finish(unsigned char*& data, std::size_t& size);

  private:
    PipeCapture(int readFd, int writeFd, int stopFd);
    void drain();

    int readFd_, writeFd_;
    int stopFd_; // an eventfd: the destructor's signal to stop reading
    std::string name_;
    // What came so far, read straight into a block that doubles as it
    // fills: no copy between the pipe and the caller.
    unsigned char* data_ = nullptr;
    std::size_t size_ = 0, capacity_ = 0;
    bool lost_ = false; // memory ran out: the rest was read and dropped
    std::thread reader_;
};

} // namespace folio
