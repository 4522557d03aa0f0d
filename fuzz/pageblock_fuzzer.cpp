// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Fuzz target: the page block check of the TIFF writer, through
// WriteGraphicFile as a client calls it. The first input byte chooses the
// coding (bits 0-1) and whether the block is sent as a one-page or a
// two-page document (bit 2); the rest is the block's bytes. A block is
// written or refused with a reason; a refused one leaves the earlier file of
// that name untouched, and no temporary file stays behind.
//
// Cap: 1 MB of block; a page the check accepts then has at most 8 million
// pixels, which bounds the coding work.
#include "FuzzSupport.h"
#include "tiflib32.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr std::size_t kMaxInput = 1 << 20;
constexpr const char* kEarlier = "the fax of an earlier build";

bool isTiff(const std::string& bytes) {
    return bytes.size() > 8 && bytes.compare(0, 4, "II*\0", 4) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzz::Scratch scratch("pageblock", false);
    if (size < 1 || size > kMaxInput)
        return 0;
    const int coding = data[0] & 3;
    const int count = (data[0] & 4) ? 2 : 1;
    const std::size_t blockSize = size - 1;

    HGLOBAL block = GlobalAlloc(TIFLIB_GMEM_MOVEABLE, blockSize);
    if (block && blockSize) {
        std::memcpy(GlobalLock(block), data + 1, blockSize);
        GlobalUnlock(block);
    }
    const std::string output = scratch.File("out.tif");
    fuzz::WriteFile(output, kEarlier);
    SetFaxCompression(coding);

    bool written = true;
    for (int index = 0; index < count && written; ++index)
        written = WriteGraphicFile(output.c_str(), block, index, count) == 1;
    GlobalFree(block);

    if (fuzz::Verbose())
        std::fprintf(stderr, "pageblock: %s\n", written ? "written" : TiflibLastError());
    const std::string result = fuzz::ReadFile(output);
    if (written ? !isTiff(result) : (!*TiflibLastError() || result != kEarlier))
        std::abort();
    if (fuzz::CountEntries(scratch.Path()) != 1)
        std::abort(); // a temporary file was left behind
    return 0;
}
