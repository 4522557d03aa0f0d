// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// A file that appears under its name complete or not at all, in two steps:
// written and synced (Complete), then put in place only when asked (Commit).
// The file itself is an OutputFile: an unnamed file in the target's folder,
// so a killed run leaves nothing, and a device, pipe or socket named as the
// target is written into, never replaced. Dropped before Commit, it leaves
// the target as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "OutputFile.h"

namespace folio {

class PendingFile {
  public:
    // Creates the temporary file beside `target`. Returns null, with `error`
    // naming the target and the cause, when it cannot.
    static std::unique_ptr<PendingFile> Create(const std::string& target, std::string& error);
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // Buffered; a failure shows here or at Complete.
    bool Write(const void* data, std::size_t bytes);
    bool Write(const std::string& text) { return Write(text.data(), text.size()); }
    // Bytes written so far.
    std::uint64_t Offset() const { return offset_; }
    // Flushes, syncs to the disk and closes the file.
    bool Complete(std::string& error);
    // After Complete: the file takes the target's name.
    bool Commit(std::string& error);

  private:
    PendingFile(std::string target, std::unique_ptr<OutputFile> output, std::FILE* file);

    std::string target_;
    std::unique_ptr<OutputFile> output_;
    std::FILE* file_; // buffered writes into a duplicate of output_'s descriptor
    std::uint64_t offset_ = 0;
    std::uint64_t hinted_ = 0; // offset_ at the last write-back hint
    bool complete_ = false;
};

} // namespace folio
