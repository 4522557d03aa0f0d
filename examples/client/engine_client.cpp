// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// A C++ client that drives the Foliolib engine line by line, the way
// BuildFax does, and reports how many pages the text made.
//   c++ -std=c++20 engine_client.cpp $(pkg-config --cflags --libs foliolib)
// or with CMake and the CMakeLists.txt beside it (find_package(Folioset)).
#include <folioset/FaxImage.h>

#include <cstdio>
#include <string>

int main() {
    const char* lines[] = {"@CONVERT:FONT=Arial,16", "Hello from a C++ client.",
                           "@CONVERT:PAGEBREAK", "Page two.", "@CONVERT:END", "never set"};
    FaxImage fax;
    for (const char* text : lines) {
        std::string line = text; // ProcessCommand writes into its line
        if (!fax.ProcessCommand(line.data()))
            break;
    }
    char name[] = "engine_client.tif";
    bool saved = fax.SaveFile(name);
    std::printf("%d pages, %s\n", fax.PageCount, saved ? "saved" : "not saved");
    return saved ? 0 : 1;
}
