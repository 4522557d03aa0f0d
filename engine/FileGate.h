// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Decides which files FILE commands may read. Without a gate every file the
// process can open may be included; a server that takes macros from others
// gives the engine a gate that keeps them inside one folder.
#pragma once

// The installed C++ headers need C++20 (std::span, defaulted comparisons):
// compile with -std=c++20 or later, which the CMake targets Folioset::* ask
// for. An older standard stops here with one message, not a page of errors.
#if __cplusplus < 202002L
#error "Folioset's C++ headers need C++20: compile with -std=c++20 or later"
#else

#include <cerrno>
#include <fcntl.h>
#include <string>

// For clients of libfoliolib.so: derive a gate, override MayRead (or Open),
// and hand it to FaxImage::SetFileGate; the engine calls it on the thread
// that runs the macro, once for each FILE command, and never deletes it. An
// exception thrown here leaves through ProcessCommand.
class FileGate {
  public:
    // What Open returns instead of a descriptor.
    static constexpr int kMissing = -1;    // missing: FILE does nothing
    static constexpr int kUnreadable = -2; // exists but cannot be opened: an error
    static constexpr int kRefused = -3;    // outside what the gate allows: as missing

    virtual ~FileGate() = default;
    // True when `path` (as the macro names it) may be read. A refused file
    // is treated as a missing one: the FILE command does nothing.
    virtual bool MayRead(const std::string& path) = 0;
    // Opens `path` for reading and returns the descriptor, which the caller
    // closes; the engine reads the file only through it. The plain gate asks
    // MayRead and then opens the path, which leaves a moment between check
    // and open; a gate that must hold against a path changed in that moment
    // checks and opens in one step here.
    virtual int Open(const std::string& path) {
        if (!MayRead(path))
            return kRefused;
        // Non-blocking, so that a FIFO cannot stall the build; the readers
        // refuse anything but a regular file.
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd >= 0)
            return fd;
        return errno == ENOENT || errno == ENOTDIR ? kMissing : kUnreadable;
    }
};

#endif // C++20
