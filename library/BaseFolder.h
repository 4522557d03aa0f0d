// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// A file gate that takes the relative names of FILE commands from a folder
// other than the current one, for clients that build macros held in memory
// or that must not change the process's current folder (a server's threads
// share it). Every file the process can open may still be read.
#pragma once

#include "FileGate.h"

#include <memory>
#include <string>

namespace folio {

class BaseFolder : public FileGate {
  public:
    // Null, with `error` naming the folder and the cause, when `folder` is
    // not a folder that can be opened.
    static std::unique_ptr<BaseFolder> Create(const std::string& folder, std::string& error);
    ~BaseFolder() override;
    BaseFolder(const BaseFolder&) = delete;
    BaseFolder& operator=(const BaseFolder&) = delete;

    // An absolute path as it is; a relative one beneath the folder.
    int Open(const std::string& path) override;
    bool MayRead(const std::string& path) override;

  private:
    explicit BaseFolder(int fd) : fd_(fd) {}
    int fd_; // O_PATH descriptor of the folder
};

} // namespace folio
