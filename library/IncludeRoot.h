// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// A file gate that lets FILE commands read only inside one folder, for
// servers that build macros written by others.
#pragma once

#include "FileGate.h"

#include <functional>
#include <string>

namespace folio {

class IncludeRoot : public FileGate {
  public:
    IncludeRoot() = default;
    IncludeRoot(const IncludeRoot&) = delete;
    IncludeRoot& operator=(const IncludeRoot&) = delete;
    ~IncludeRoot() override;

    // `warn` receives one line for each refused file. Fails (Create returns
    // false and sets `error`) when `folder` is not an existing folder or the
    // kernel cannot open files beneath a folder in one step (openat2, Linux
    // 5.6 and later).
    // Relative FILE names are taken from `base` when it is not empty, from
    // the current folder otherwise; a relative `folder` always from the
    // current folder.
    static bool Create(const std::string& folder, std::function<void(const std::string&)> warn,
                       IncludeRoot& out, std::string& error, const std::string& base = {});

    // Opens `path` (relative to the base folder given to Create) beneath the
    // root in one step: the kernel resolves every component, symbolic links
    // and "../" included, and refuses any that leads out of the root, so a
    // link swapped between the check and the read cannot lead outside. A
    // missing file gives kMissing quietly; one outside the root kRefused
    // with a warning (the engine treats both as nothing to include).
    int Open(const std::string& path) override;

    // Open, and the descriptor closed again.
    bool MayRead(const std::string& path) override;

    const std::string& Root() const { return root_; }

  private:
    // `path` relative to the root ("" for the root itself), or false when it
    // is not spelled as starting inside it.
    bool beneath(const std::string& path, std::string& relative) const;
    // The same, from where the kernel finds the path's folder.
    bool resolvedBeneath(const std::string& path, std::string& relative) const;
    void refuse(const std::string& path, const std::string& why) const;

    std::string root_;  // resolved, without a trailing slash (except "/")
    std::string given_; // as given, absolute, without a trailing slash
    std::string cwd_;   // the folder relative paths start from
    int rootFd_ = -1;
    std::function<void(const std::string&)> warn_;
};

} // namespace folio
