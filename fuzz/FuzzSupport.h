// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// What the fuzz targets share: a scratch folder per process (under /dev/shm
// when it can be written, so the many small files a run writes stay in
// memory), a file gate that lets FILE commands read only files inside that
// folder, and small file helpers. The folder is removed when the process
// ends normally; a crashed run leaves it behind for inspection.
#pragma once

#include "FileGate.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>
#include <unistd.h>

namespace fuzz {

class Scratch {
  public:
    // Makes /dev/shm/folio-fuzz-<name>-<pid> (or the same under the system's
    // temporary folder) and, when `enter`, makes it the working folder, so
    // relative file names in macros land there.
    Scratch(const char* name, bool enter) {
        namespace fs = std::filesystem;
        const std::string leaf =
            "folio-fuzz-" + std::string(name) + "-" + std::to_string(::getpid());
        // /dev/shm may be missing or not writable (a build chroot): then
        // the temporary folder.
        std::error_code ec;
        path_ = fs::path("/dev/shm") / leaf;
        if (!fs::create_directories(path_, ec) && !fs::is_directory(path_, ec)) {
            path_ = fs::temp_directory_path() / leaf;
            fs::create_directories(path_);
        }
        path_ = fs::canonical(path_);
        if (enter)
            fs::current_path(path_);
    }
    ~Scratch() {
        std::error_code ec;
        std::filesystem::current_path("/", ec);
        std::filesystem::remove_all(path_, ec);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::string File(const char* name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

// Allows a file only when its real path lies inside the scratch folder: no
// devices, nothing of the machine's own files, however the macro names it.
class ScratchGate : public FileGate {
  public:
    explicit ScratchGate(const Scratch& scratch) : prefix_(scratch.Path().string() + "/") {}
    bool MayRead(const std::string& path) override {
        char* real = ::realpath(path.c_str(), nullptr);
        if (!real)
            return false;
        const bool inside = std::string_view(real).substr(0, prefix_.size()) == prefix_;
        std::free(real);
        return inside;
    }

  private:
    std::string prefix_;
};

// True when FOLIO_FUZZ_VERBOSE is set: targets then tell what became of each
// input (for looking at a finding or a seed by hand).
inline bool Verbose() {
    static const bool verbose = std::getenv("FOLIO_FUZZ_VERBOSE") != nullptr;
    return verbose;
}

inline void WriteFile(const std::string& path, const void* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), std::streamsize(size));
}

inline void WriteFile(const std::string& path, std::string_view text) {
    WriteFile(path, text.data(), text.size());
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The number of entries in a folder.
inline std::size_t CountEntries(const std::filesystem::path& dir) {
    std::error_code ec;
    std::size_t n = 0;
    for (auto it = std::filesystem::directory_iterator(dir, ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
        ++n;
    return n;
}

// A 1-bit BMP file of `width` x `height` pixels with a diagonal and a frame
// in black, for fixtures.
inline std::string SmallBmp(int width, int height) {
    const int stride = (width + 31) / 32 * 4;
    const std::uint32_t offset = 14 + 40 + 8;
    const std::uint32_t fileSize = offset + std::uint32_t(stride * height);
    std::string b;
    auto u16 = [&b](std::uint32_t v) {
        b += char(v & 0xFF);
        b += char((v >> 8) & 0xFF);
    };
    auto u32 = [&](std::uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    b += "BM";
    u32(fileSize);
    u32(0);
    u32(offset);
    u32(40);
    u32(std::uint32_t(width));
    u32(std::uint32_t(height));
    u16(1);
    u16(1);
    u32(0);
    u32(std::uint32_t(stride * height));
    u32(3780);
    u32(3780);
    u32(2);
    u32(0);
    u32(0x000000); // colour 0 black
    u32(0xFFFFFF); // colour 1 white
    for (int y = height - 1; y >= 0; --y) {
        std::string row(std::size_t(stride), '\0');
        for (int x = 0; x < width; ++x) {
            const bool black =
                x == 0 || y == 0 || x == width - 1 || y == height - 1 || x * height == y * width;
            if (!black)
                row[std::size_t(x / 8)] = char(row[std::size_t(x / 8)] | (0x80 >> (x % 8)));
        }
        b += row;
    }
    return b;
}

} // namespace fuzz
