// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Fuzz target: the macro interpreter of the library engine. The input is a
// macro text, cut into lines as BuildFax reads a file (LF or CR LF ends a
// line; a line longer than 499 bytes arrives in parts of 499) and fed to one
// FaxImage until END, an error or the page cap. FILE commands run inside a
// scratch folder holding a few fixtures (a bitmap, a text, an empty file, a
// folder) and may read nothing outside it.
//
// Caps, as a server taking macros would set them: 64 KB of macro, 24 pages
// (the engine's page limit) and no new lines once 20 pages exist. A page is
// 475 KB, so the engine's own limit of 4000 pages would let one input take
// 1.9 GB; the fuzzer is meant to explore the interpreter, not the allocator.
//
// Diagnostics are on, so that their code is explored too; each must name
// its kind and say something.
#include "Diagnostics.h"
#include "Error.h"
#include "FaxImage.h"
#include "FuzzSupport.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace {

constexpr std::size_t kMaxInput = 64 * 1024;
constexpr std::size_t kLinePart = 499;
constexpr int kPageLimit = 24;
constexpr int kStopFeedingAt = 20;

struct Fixtures {
    fuzz::Scratch scratch{"macro", true};
    fuzz::ScratchGate gate{scratch};
    Fixtures() {
        fuzz::WriteFile(scratch.File("logo.bmp"), fuzz::SmallBmp(120, 40));
        fuzz::WriteFile(scratch.File("notes.txt"),
                        "First line of notes\r\n\\Bbold\\b and \\Iitalic\\i\n"
                        "@CONVERT:PAGEBREAK\rlast line without end");
        fuzz::WriteFile(scratch.File("empty.txt"), "");
        std::filesystem::create_directories(scratch.Path() / "folder");
    }
};

struct CheckingSink : folio::DiagnosticSink {
    void Report(const folio::Diagnostic& d) override {
        if (d.message.empty() || !d.kind || !*d.kind)
            std::abort();
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Fixtures fixtures;
    size = std::min(size, kMaxInput);

    FaxImage fax;
    fax.SetFileGate(&fixtures.gate);
    fax.SetPageLimit(kPageLimit);
    CheckingSink sink;
    fax.SetDiagnostics(&sink);
    char line[kLinePart + 1];
    std::size_t pos = 0;
    try {
        while (pos < size && fax.PageCount <= kStopFeedingAt) {
            std::size_t n = 0;
            bool ended = false;
            while (pos < size && n < kLinePart) {
                const char c = char(data[pos]);
                if (c == '\n' || (c == '\r' && pos + 1 < size && data[pos + 1] == '\n')) {
                    pos += c == '\n' ? 1 : 2;
                    ended = true;
                    break;
                }
                line[n++] = c;
                ++pos;
            }
            // A part of exactly 499 bytes followed by the line's end takes the end along.
            if (!ended && n == kLinePart && pos < size) {
                if (data[pos] == '\n')
                    pos += 1;
                else if (data[pos] == '\r' && pos + 1 < size && data[pos + 1] == '\n')
                    pos += 2;
            }
            line[n] = '\0';
            if (!fax.ProcessCommand(line))
                break;
        }
    } catch (const folio::Error& e) {
        // A refusal names its cause; an empty message would leave the user guessing.
        if (!*e.what())
            std::abort();
        if (fuzz::Verbose())
            std::fprintf(stderr, "macro: %s\n", e.what());
    }
    if (fuzz::Verbose())
        std::fprintf(stderr, "macro: %d pages, pen at %d, %d\n", fax.PageCount, fax.X, fax.Y);
    // The page list and counters agree whatever happened.
    if (fax.PageCount < 1 || fax.PageCount > kPageLimit || fax.PageNo < 1 ||
        fax.PageNo > fax.PageCount || fax.Pages->Cardinal() != fax.PageCount || !fax.Image)
        std::abort();
    return 0;
}
