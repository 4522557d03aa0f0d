// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// A request's private folder: the asset files it posted, and the only
// folder its macro may read (its include root and base folder). Made fresh
// with mode 0700 under the service's own folder and removed with
// everything in it when the request ends.
#pragma once

#include <memory>
#include <string>

namespace folio::server {

class RequestFolder {
  public:
    // A new folder inside `parent`; null with `error` set when it cannot be
    // made.
    static std::unique_ptr<RequestFolder> Create(const std::string& parent, std::string& error);
    ~RequestFolder();
    RequestFolder(const RequestFolder&) = delete;
    RequestFolder& operator=(const RequestFolder&) = delete;

    const std::string& Path() const { return path_; }
    // A new file `name` in the folder, open for writing; -1 with `error`
    // and the HTTP `status` set: 400 when the name is not a plain file name
    // (IsAssetName) or is taken, 500 when the file cannot be made.
    int CreateFile(const std::string& name, std::string& error, int& status);

  private:
    RequestFolder(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
    std::string path_;
    int fd_;
};

// Whether `name` may name an asset: 1 to 255 bytes, no slash or backslash,
// no control character, and not starting with a dot (no "..", no hidden
// files).
bool IsAssetName(const std::string& name);

} // namespace folio::server
