// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Scratch files for the platform tests: a directory under FOLIO_TEST_TMP (or
// the system's temporary directory when the tests run by hand) and a helper
// that writes bytes to a file there.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace folio::test {

inline std::filesystem::path ScratchDir() {
    const char* env = std::getenv("FOLIO_TEST_TMP");
    std::filesystem::path dir = env && *env
                                    ? std::filesystem::path(env)
                                    : std::filesystem::temp_directory_path() / "folio-tests";
    dir /= "platform";
    std::filesystem::create_directories(dir);
    return dir;
}

inline std::string WriteScratchFile(const std::string& name, std::string_view bytes) {
    const std::filesystem::path path = ScratchDir() / name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    return path.string();
}

} // namespace folio::test
