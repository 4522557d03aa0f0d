// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Fuzz target: the BMP reader. The input is a BMP file as FILE=name,BMP would
// read it. A file is decoded or refused with "Bitmap image is not valid"; a
// refusal leaves the target bitmap as it was, and a decoded bitmap keeps the
// bitmap's rules (size within the limits, row padding bits clear).
//
// Cap: 1 MB of file (the reader's own limit is 64 MiB; the decoding work is
// bounded by the file size and the picture size, which the reader caps at
// 128 MiB of pixels).
#include "BmpReader.h"
#include "Error.h"
#include "FuzzSupport.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t kMaxInput = 1 << 20;

bool paddingClear(const folio::Bitmap& b) {
    const int used = b.Width() / 8;
    const int bits = b.Width() % 8;
    for (int y = 0; y < b.Height(); ++y) {
        const std::uint8_t* row = b.Row(y);
        if (bits && (row[used] & (0xFF >> bits)))
            return false;
        for (int i = used + (bits ? 1 : 0); i < b.Stride(); ++i)
            if (row[i])
                return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxInput)
        return 0;
    folio::Bitmap out;
    out.SetSize(3, 2);
    out.SetPixel(1, 1, true);
    try {
        folio::DecodeBmp(data, size, out);
    } catch (const folio::Error& e) {
        if (fuzz::Verbose())
            std::fprintf(stderr, "bmp: %s\n", e.what());
        if (std::strcmp(e.what(), "Bitmap image is not valid") != 0)
            std::abort();
        if (out.Width() != 3 || out.Height() != 2 || out.CountBlack() != 1 || !out.Pixel(1, 1))
            std::abort();
        return 0;
    }
    if (fuzz::Verbose())
        std::fprintf(stderr, "bmp: %d x %d, %zu black\n", out.Width(), out.Height(),
                     out.CountBlack());
    if (!folio::Bitmap::IsValidSize(out.Width(), out.Height()) || !paddingClear(out))
        std::abort();
    return 0;
}
