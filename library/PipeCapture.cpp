// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The reader thread reads until every write end is closed; the writer's own
// descriptor (opened through the name) closes when its document is complete
// or dropped, ours in Finish. A build that failed may leave a writer holding
// the pipe, so the destructor stops the reader through an event instead of
// waiting for the end; a writer still writing then gets EPIPE.
#include "PipeCapture.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace folio {

std::unique_ptr<PipeCapture> PipeCapture::Create(std::string& error) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return nullptr;
    }
    const int stop = ::eventfd(0, EFD_CLOEXEC);
    if (stop < 0) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        ::close(fds[0]);
        ::close(fds[1]);
        return nullptr;
    }
    std::unique_ptr<PipeCapture> capture;
    try {
        capture.reset(new PipeCapture(fds[0], fds[1], stop));
        capture->reader_ = std::thread([p = capture.get()] { p->drain(); });
    } catch (...) {
        if (!capture) {
            ::close(fds[0]);
            ::close(fds[1]);
            ::close(stop);
        }
        error = "cannot start a thread to read the output";
        return nullptr;
    }
    return capture;
}

PipeCapture::PipeCapture(int readFd, int writeFd, int stopFd)
    : readFd_(readFd), writeFd_(writeFd), stopFd_(stopFd),
      name_("/proc/self/fd/" + std::to_string(writeFd)) {}

PipeCapture::~PipeCapture() {
    if (writeFd_ >= 0)
        ::close(writeFd_);
    if (reader_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(stopFd_, &one, sizeof one);
        reader_.join();
    }
    ::close(readFd_);
    ::close(stopFd_);
    std::free(data_);
}

void PipeCapture::drain() {
    // A larger pipe means fewer turns between writer and reader; a refusal
    // only costs speed.
    ::fcntl(readFd_, F_SETPIPE_SZ, 1 << 20);
    constexpr std::size_t kFirst = std::size_t(1) << 20, kLeast = std::size_t(64) << 10;
    unsigned char spill[1 << 12]; // read into once memory ran out
    for (;;) {
        pollfd watch[2] = {{readFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        if (::poll(watch, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (watch[1].revents)
            break;
        if (!lost_ && capacity_ - size_ < kLeast) {
            const std::size_t grown = capacity_ ? capacity_ * 2 : kFirst;
            void* more = grown > capacity_ ? std::realloc(data_, grown) : nullptr;
            if (more) {
                data_ = static_cast<unsigned char*>(more);
                capacity_ = grown;
            } else {
                // Read on, so that the writer is never left waiting.
                lost_ = true;
            }
        }
        const ssize_t got = lost_ ? ::read(readFd_, spill, sizeof spill)
                                  : ::read(readFd_, data_ + size_, capacity_ - size_);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        if (!lost_)
            size_ += std::size_t(got);
    }
}

bool PipeCapture::Finish(unsigned char*& data, std::size_t& size) {
    data = nullptr;
    size = 0;
    if (writeFd_ >= 0) {
        ::close(writeFd_);
        writeFd_ = -1;
    }
    if (reader_.joinable())
        reader_.join();
    if (lost_)
        return false;
    if (!data_ && !(data_ = static_cast<unsigned char*>(std::malloc(1))))
        return false;
    data = data_;
    size = size_;
    data_ = nullptr;
    size_ = capacity_ = 0;
    return true;
}

} // namespace folio
