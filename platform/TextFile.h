// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Files for the FILE command: the existence test and reading a text file as
// lines (CR LF, LF or CR end a line).
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace folio {

// Largest text file FILE=...,TXT reads. Far above any fax text (1,000 pages
// of 60 full lines are about 5 MB) and low enough that an endless or
// enormous file cannot exhaust memory.
inline constexpr std::size_t kMaxTextFileBytes = std::size_t(64) << 20;

// True for an existing file that is not a directory (devices count).
bool FileExists(const std::string& path);

// Calls `onLine` for each line, without its terminator; a last line without a
// terminator counts, an empty file has no lines. The line is a writable
// string the callee may change. Throws folio::Error("Cannot open file <path>")
// when the file cannot be opened or read, is not a regular file, or is larger
// than kMaxTextFileBytes.
void ReadTextLines(const std::string& path, const std::function<void(std::string&)>& onLine);

// The same for a file already open (read from its current offset; `name`
// only goes into the error). The caller keeps and closes `fd`.
void ReadTextLines(int fd, const std::string& name,
                   const std::function<void(std::string&)>& onLine);

// Splits text held in memory into lines as ReadTextLines does.
void SplitTextLines(const std::string& data, const std::function<void(std::string&)>& onLine);

// Reads a whole regular file of at most `limit` bytes, with the same errors.
std::string ReadWholeFile(const std::string& path, std::size_t limit);
std::string ReadWholeFd(int fd, const std::string& name, std::size_t limit);

} // namespace folio
