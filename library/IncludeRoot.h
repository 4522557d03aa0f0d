// A file gate that lets FILE commands read only inside one folder, for
// servers that build macros written by others.
#pragma once

#include "FileGate.h"

#include <functional>
#include <string>

namespace folio {

class IncludeRoot : public FileGate {
  public:
    // `warn` receives one line for each refused file. Fails (Create returns
    // false and sets `error`) when `folder` is not an existing folder.
    static bool Create(const std::string& folder, std::function<void(const std::string&)> warn,
                       IncludeRoot& out, std::string& error);

    // Resolves `path` (symbolic links followed, relative to the current
    // folder) and allows it only when it lies inside the root. A path that
    // does not resolve is refused quietly, like a missing file.
    bool MayRead(const std::string& path) override;

    const std::string& Root() const { return root_; }

  private:
    std::string root_; // resolved, without a trailing slash (except "/")
    std::function<void(const std::string&)> warn_;
};

} // namespace folio
