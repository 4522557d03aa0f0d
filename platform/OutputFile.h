// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// An output file written in full or not at all, which never destroys what
// its name points at. A new name or a regular file (through any chain of
// symbolic links) is written as an unnamed temporary file in the target's
// folder and renamed over it only when complete, so a failed or killed run
// leaves the older file and no debris. A character device, a named pipe, a
// socket or standard output ("-") cannot be replaced: the document is
// assembled in an unnamed temporary file and then written into it from
// start to end. A folder or any other kind of file is refused before
// anything is written. Needs no TIFF knowledge: every writer of finished
// files (fax TIFFs, PDF copies, spooled outputs) can use it.
#pragma once

#include <memory>
#include <string>

namespace folio {

class OutputFile {
  public:
    enum class Kind {
        Replace, // a new name or a regular file: renamed over at Commit
        Stream,  // a device, pipe, socket or standard output: written into
    };

    // Prepares writing to `path` ("-" is standard output). Returns null,
    // with `error` set to the reason (without the path itself), when the
    // target is of a kind that is not written or the work file cannot be
    // made. A named pipe is opened here, so this waits for its reader.
    static std::unique_ptr<OutputFile> Create(const std::string& path, std::string& error);
    // Without a successful Commit the work file goes and the target is left
    // as it was.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // The work file: empty at first, open for reading and writing, seekable.
    // It stays this object's; the caller writes into it and never closes it.
    int Fd() const { return fd_; }
    Kind kind() const { return kind_; }

    // Puts the work file's bytes in place: synced to disk, given the owner,
    // group and mode of the file it replaces (where the process may), named
    // and renamed over the target, and the folder synced so that the name
    // survives a power cut; or written into the device, pipe or socket in order
    // (a broken pipe is an error, never a signal). False, with `error` set,
    // on failure, after which the target is as it was, except that a stream
    // may have taken part of the bytes.
    bool Commit(std::string& error);

    // Whether the outputs the calling thread creates afterwards sync their
    // folder at Commit (true, the default). With false, a Commit that names
    // the file in the folder of the path it was given (no symbolic link
    // followed) leaves that folder to the caller, who syncs it once for all
    // the files named there together before anything relies on their names;
    // the file's own bytes are synced either way. Returns the setting it
    // replaces.
    static bool SetThreadFolderSync(bool sync);

  private:
    OutputFile() = default;
    bool commitReplace(std::string& error);
    bool commitStream(std::string& error);
    bool syncFolder(std::string& error);

    Kind kind_ = Kind::Replace;
    int fd_ = -1;
    std::string final_;     // Replace: the file renamed over (links followed)
    std::string temporary_; // Replace: the named work file, where unnamed ones are refused
    int sink_ = -1;         // Stream: the device, pipe, socket or standard output
    bool ownsSink_ = false;
    bool committed_ = false;
    bool leaveFolder_ = false; // Replace: the folder's sync is the caller's
};

// Syncs a folder's entries (names made, renamed or removed in it) to the
// disk. True where the file system has nothing to sync for folders.
bool SyncFolder(const std::string& folder);
bool SyncFolder(int folderFd);

} // namespace folio
