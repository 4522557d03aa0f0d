// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Fuzz target: a whole build, as BuildFax does it, of a macro that may
// include a bitmap. The input is the macro text, a NUL byte, then the bytes
// of the bitmap file "in.bmp" (without a NUL the whole input is the macro).
// Both go to files in a scratch folder, which also holds the output "out.tif"
// from before. Afterwards: a build that succeeded left a TIFF file; one that
// failed gave a message and left the earlier "out.tif" untouched; either way
// no temporary file stays behind.
//
// Caps, as a server would set them: 8 KB of macro, 56 KB of bitmap, 24 pages,
// and FILE commands confined to the scratch folder.
#include "FuzzSupport.h"
#include "MacroRunner.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr std::size_t kMaxMacro = 8 * 1024;
constexpr std::size_t kMaxBitmap = 56 * 1024;
constexpr int kPageLimit = 24;
constexpr const char* kEarlier = "the fax of an earlier build";

struct Fixtures {
    fuzz::Scratch scratch{"buildfax", true};
    fuzz::ScratchGate gate{scratch};
};

bool isTiff(const std::string& bytes) {
    return bytes.size() > 8 &&
           (bytes.compare(0, 4, "II*\0", 4) == 0 || bytes.compare(0, 4, "MM\0*", 4) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Fixtures fixtures;
    const auto* nul = static_cast<const std::uint8_t*>(std::memchr(data, 0, size));
    const std::size_t macroSize = nul ? std::size_t(nul - data) : size;
    const std::size_t bitmapSize = nul ? size - macroSize - 1 : 0;
    if (macroSize > kMaxMacro || bitmapSize > kMaxBitmap)
        return 0;

    const std::string macro = fixtures.scratch.File("in.fax");
    const std::string bitmap = fixtures.scratch.File("in.bmp");
    const std::string output = fixtures.scratch.File("out.tif");
    fuzz::WriteFile(macro, data, macroSize);
    fuzz::WriteFile(bitmap, nul ? nul + 1 : data, bitmapSize);
    fuzz::WriteFile(output, kEarlier);

    folio::BuildOptions options;
    options.fileGate = &fixtures.gate;
    options.maxPages = kPageLimit;
    std::string error;
    const bool built = folio::BuildFaxFile(macro.c_str(), output.c_str(), options, error);

    if (fuzz::Verbose())
        std::fprintf(stderr, "buildfax: %s\n", built ? "built" : error.c_str());
    const std::string result = fuzz::ReadFile(output);
    if (built ? !(error.empty() && isTiff(result)) : (error.empty() || result != kEarlier))
        std::abort();
    if (fuzz::CountEntries(fixtures.scratch.Path()) != 3)
        std::abort(); // a temporary file was left behind
    return 0;
}
