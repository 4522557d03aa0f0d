// Decides which files FILE commands may read. Without a gate every file the
// process can open may be included; a server that takes macros from others
// gives the engine a gate that keeps them inside one folder.
#pragma once

#include <string>

class FileGate {
  public:
    virtual ~FileGate() = default;
    // True when `path` (as the macro names it) may be read. A refused file
    // is treated as a missing one: the FILE command does nothing.
    virtual bool MayRead(const std::string& path) = 0;
};
