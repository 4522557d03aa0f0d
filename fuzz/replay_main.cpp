// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The replay program of a fuzz target: the target's LLVMFuzzerTestOneInput
// behind a plain main() instead of libFuzzer. Each argument is a file or a
// folder whose files (not those whose names begin with a dot) are fed to the
// target one at a time, in name order. A finding aborts the program as it
// would the fuzzer; a folder that does not exist is an error, so a mistyped
// path cannot make the test pass without replaying anything.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    // Absolute names first: a target may change the working folder.
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        std::error_code ec;
        const fs::path arg = fs::absolute(argv[i], ec);
        if (fs::is_regular_file(arg, ec)) {
            files.push_back(arg);
        } else if (fs::is_directory(arg, ec)) {
            std::vector<fs::path> inFolder;
            for (const fs::directory_entry& e : fs::directory_iterator(arg))
                if (e.is_regular_file() && e.path().filename().string()[0] != '.')
                    inFolder.push_back(e.path());
            std::sort(inFolder.begin(), inFolder.end());
            files.insert(files.end(), inFolder.begin(), inFolder.end());
        } else {
            std::fprintf(stderr, "replay: %s is neither a file nor a folder\n", argv[i]);
            return 2;
        }
    }
    for (const fs::path& f : files) {
        std::ifstream in(f, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                      std::istreambuf_iterator<char>());
        std::printf("replay: %s (%zu bytes)\n", f.c_str(), bytes.size());
        std::fflush(stdout);
        // A fresh heap copy of exactly the file's size, so that the sanitizer
        // build catches a read past its end.
        std::unique_ptr<std::uint8_t[]> data(new std::uint8_t[bytes.size()]);
        std::copy(bytes.begin(), bytes.end(), data.get());
        LLVMFuzzerTestOneInput(data.get(), bytes.size());
    }
    std::printf("replay: %zu inputs, no finding\n", files.size());
    return 0;
}
