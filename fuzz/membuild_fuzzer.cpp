// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Fuzz target: a build from memory to memory through the C entry point, as a
// Python or C client makes it. The first input byte chooses the options (bit
// 0: normal resolution, bits 1-2: the coding, bit 3: a PDF copy too, bit 4:
// strict, bit 5: the macro read as UTF-8); the rest is the macro, up to 8 KB.
// FILE commands may only read inside an empty scratch folder.
// Afterwards: a build that succeeded handed back a TIFF (and a PDF when
// asked); one that failed handed back nothing and gave a reason.
#include "FuzzSupport.h"
#include "foliolib.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t kMaxMacro = 8 * 1024;

bool startsWith(const FolioBuffer& b, const char* magic, std::size_t n) {
    return b.data && b.size > n && std::memcmp(b.data, magic, n) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzz::Scratch scratch{"membuild", true};
    if (size < 1 || size - 1 > kMaxMacro)
        return 0;
    const unsigned choice = data[0];
    const std::string root = scratch.Path().string();

    FolioBuildOptions options{};
    options.size = sizeof options;
    options.resolution = choice & 1 ? FOLIO_RESOLUTION_NORMAL : FOLIO_RESOLUTION_FINE;
    options.coding = int((choice >> 1) & 3); // 0: the process-wide coding; 1-3 the codings
    options.strict = (choice >> 4) & 1;
    options.codePage = (choice >> 5) & 1 ? 65001 : 0;
    options.includeRoot = root.c_str();
    options.baseDir = root.c_str();
    const bool wantPdf = (choice >> 3) & 1;

    FolioBuffer tiff{}, pdf{};
    const bool built = BuildFaxInMemory(reinterpret_cast<const char*>(data + 1), size - 1,
                                        &options, &tiff, wantPdf ? &pdf : nullptr);
    if (built) {
        if (!startsWith(tiff, "II*\0", 4) && !startsWith(tiff, "MM\0*", 4))
            std::abort();
        if (wantPdf && !startsWith(pdf, "%PDF-", 5))
            std::abort();
    } else {
        if (tiff.data || tiff.size || pdf.data || pdf.size)
            std::abort(); // a failed build hands back nothing
        const char* why = BuildFaxLastError();
        if (!why || !*why)
            std::abort();
    }
    FolioBufferFree(&tiff);
    FolioBufferFree(&pdf);
    return 0;
}
