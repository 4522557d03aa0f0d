// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Reading a picture FILE command's words after its type.
#include "PictureArgs.h"

#include <cctype>

namespace folio {

namespace {

// The largest side a FILE command may ask for: far past any page, so that
// the size reaches the drawing code, which clips it to the page.
constexpr std::int64_t kMaxDrawnSide = 1'000'000;

std::string upper(std::string s) {
    for (char& c : s)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

} // namespace

PictureArgs ReadPictureArgs(const char* words, bool pdf) {
    PictureArgs args;
    if (!words)
        return args;
    std::vector<std::string> parts(1);
    for (const char* p = words; *p; ++p) {
        if (*p == ',')
            parts.emplace_back();
        else if (!std::isspace(static_cast<unsigned char>(*p)))
            parts.back() += *p;
    }
    int numbers = 0;
    for (const std::string& part : parts) {
        if (part.empty())
            continue;
        const std::string word = upper(part);
        if (word == "FIT") {
            args.fit = true;
            continue;
        }
        if (word == "LINEART" || word == "PHOTO" || word == "SCAN") {
            args.mode = word == "LINEART" ? PictureArgs::Mode::LineArt
                        : word == "PHOTO" ? PictureArgs::Mode::Photo
                                          : PictureArgs::Mode::Scan;
            continue;
        }
        bool digits = part.size() <= 9;
        for (const char c : part)
            digits = digits && std::isdigit(static_cast<unsigned char>(c));
        const std::int64_t n = digits ? std::stoll(part) : -1;
        // The page (for a PDF), then the width, then the height.
        const int slot = pdf ? numbers : numbers + 1;
        if (!digits || slot > 2 || (slot == 0 && n < 1) || n > kMaxDrawnSide) {
            args.ignored.push_back(part);
            continue;
        }
        ++numbers;
        if (slot == 0)
            args.page = int(n);
        else if (slot == 1)
            args.width = n;
        else
            args.height = n;
    }
    return args;
}

PictureArgs& CurrentPictureArgs() {
    thread_local PictureArgs args;
    return args;
}

} // namespace folio
