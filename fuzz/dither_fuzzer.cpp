// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Fuzz target: Rastrum's three dithers on an arbitrary block. The input is
// the block's bytes; Dither2, Dither16 and Dither256 each get it in turn. Each
// returns null (the block is outside the DIB model or of a depth it does not
// take) or a new DIB of the same width and height at its own depth, which
// the model check accepts; the source block comes back unchanged.
//
// Cap: 256 KB of block. The pixels must lie in the block, so the work of a
// dither is bounded by the block's size.
#include "Dib.h"
#include "FuzzSupport.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t kMaxInput = 256 * 1024;

void checkResult(HGLOBAL result, const rastrum::DibLayout* source, WORD depth) {
    if (fuzz::Verbose())
        std::fprintf(stderr, "dither to %d bits: %s\n", depth, result ? "made" : "refused");
    if (!result)
        return;
    if (!source)
        std::abort(); // a DIB made from a block the model refuses
    {
        rastrum::LockedDib out(result);
        if (!out)
            std::abort();
        const rastrum::DibLayout& l = out.layout();
        if (l.width != source->width || l.height != source->height || l.bitCount != depth)
            std::abort();
    }
    if (GlobalFree(result) != nullptr)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxInput)
        return 0;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!block)
        return 0;
    if (size)
        std::memcpy(GlobalLock(block), data, size);
    GlobalUnlock(block);

    rastrum::DibLayout layout;
    const bool valid = rastrum::ReadDibLayout(data, size, layout);
    checkResult(Dither2(block), valid ? &layout : nullptr, 1);
    checkResult(Dither16(block), valid ? &layout : nullptr, 4);
    checkResult(Dither256(block), valid ? &layout : nullptr, 8);

    if (size && std::memcmp(GlobalLock(block), data, size) != 0)
        std::abort(); // the source is only read
    GlobalUnlock(block);
    GlobalFree(block);
    return 0;
}
