// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Test helpers for Rastrum: pictures as plain pixel arrays, turned into packed
// DIB blocks by hand (not by the library's own routine) and read back, and the
// counters of the link-time hooks around the block, palette and clipboard
// calls (see hooks_test.cpp), which tell whether a call left anything behind.
#pragma once

#include "rastrum.h"

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace rastrum_test {

// Counters and failure injection of the hooks. A FailAt(n) makes the n-th
// call from now fail (1 is the next one); 0 never.
namespace hooks {
long LiveBlocks();
long OutstandingLocks();
long LivePalettes();
void FailAllocAt(int n);
void FailLockAt(int n);
void FailCreatePaletteAt(int n);
void FailOpenClipboardAt(int n);
void ClearFailures();
} // namespace hooks

// A picture in memory order: pixels[y * width + x], row 0 the bottom row.
// At 8 bits or less a pixel is a colour-table index, at 24 bits 0xRRGGBB.
struct Picture {
    int width = 0;
    int height = 0;
    int bitCount = 24;
    std::vector<RGBQUAD> table; // biClrUsed entries
    std::vector<std::uint32_t> pixels;

    std::uint32_t at(int x, int y) const { return pixels[std::size_t(y) * width + x]; }
};

inline std::uint32_t Stride(int width, int bitCount) {
    return std::uint32_t((std::uint64_t(width) * bitCount + 31) / 32 * 4);
}

// A packed DIB block of the picture, biSizeImage and biClrUsed filled in.
inline HGLOBAL MakeDib(const Picture& p, std::size_t extraBytes = 0) {
    const std::uint32_t stride = Stride(p.width, p.bitCount);
    const std::size_t offset = 40 + 4 * p.table.size();
    const std::size_t size = offset + std::size_t(stride) * p.height + extraBytes;
    HGLOBAL block = GlobalAlloc(GHND, size);
    auto* bytes = static_cast<std::uint8_t*>(GlobalLock(block));
    BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = p.width;
    h.biHeight = p.height;
    h.biPlanes = 1;
    h.biBitCount = WORD(p.bitCount);
    h.biCompression = BI_RGB;
    h.biSizeImage = stride * std::uint32_t(p.height);
    h.biClrUsed = DWORD(p.table.size());
    std::memcpy(bytes, &h, 40);
    if (!p.table.empty())
        std::memcpy(bytes + 40, p.table.data(), 4 * p.table.size());
    for (int y = 0; y < p.height; ++y) {
        std::uint8_t* row = bytes + offset + std::size_t(y) * stride;
        for (int x = 0; x < p.width; ++x) {
            const std::uint32_t v = p.at(x, y);
            switch (p.bitCount) {
            case 1:
                row[x / 8] |= std::uint8_t((v & 1) << (7 - x % 8));
                break;
            case 4:
                row[x / 2] |= std::uint8_t(x % 2 ? (v & 15) : (v & 15) << 4);
                break;
            case 8:
                row[x] = std::uint8_t(v);
                break;
            default:
                row[3 * x] = std::uint8_t(v);
                row[3 * x + 1] = std::uint8_t(v >> 8);
                row[3 * x + 2] = std::uint8_t(v >> 16);
            }
        }
    }
    GlobalUnlock(block);
    return block;
}

inline BITMAPINFOHEADER HeaderOf(HGLOBAL block) {
    BITMAPINFOHEADER h{};
    if (const void* data = GlobalLock(block)) {
        std::memcpy(&h, data, 40);
        GlobalUnlock(block);
    }
    return h;
}

// Reads a DIB block back (the header's own sizes are trusted: tests only
// read blocks the library made).
inline Picture ReadDib(HGLOBAL block) {
    Picture p;
    const auto* bytes = static_cast<const std::uint8_t*>(GlobalLock(block));
    if (!bytes)
        return p;
    BITMAPINFOHEADER h;
    std::memcpy(&h, bytes, 40);
    p.width = h.biWidth;
    p.height = h.biHeight;
    p.bitCount = h.biBitCount;
    p.table.resize(h.biClrUsed);
    if (h.biClrUsed)
        std::memcpy(p.table.data(), bytes + 40, 4 * h.biClrUsed);
    const std::uint8_t* bits = bytes + 40 + 4 * h.biClrUsed;
    const std::uint32_t stride = Stride(p.width, p.bitCount);
    p.pixels.resize(std::size_t(p.width) * p.height);
    for (int y = 0; y < p.height; ++y) {
        const std::uint8_t* row = bits + std::size_t(y) * stride;
        for (int x = 0; x < p.width; ++x) {
            std::uint32_t v;
            switch (p.bitCount) {
            case 1:
                v = (row[x / 8] >> (7 - x % 8)) & 1;
                break;
            case 4:
                v = x % 2 ? row[x / 2] & 15 : row[x / 2] >> 4;
                break;
            case 8:
                v = row[x];
                break;
            default:
                v = row[3 * x] | (row[3 * x + 1] << 8) | (std::uint32_t(row[3 * x + 2]) << 16);
            }
            p.pixels[std::size_t(y) * p.width + x] = v;
        }
    }
    GlobalUnlock(block);
    return p;
}

inline std::vector<std::uint8_t> BlockBytes(HGLOBAL block) {
    std::vector<std::uint8_t> out(GlobalSize(block));
    if (const void* data = GlobalLock(block)) {
        std::memcpy(out.data(), data, out.size());
        GlobalUnlock(block);
    }
    return out;
}

// A 24-bit picture of one colour.
inline Picture Solid(int width, int height, std::uint32_t rgb) {
    Picture p;
    p.width = width;
    p.height = height;
    p.pixels.assign(std::size_t(width) * height, rgb);
    return p;
}

// Random pixels; at 8 bits or less a random table of `colours` entries
// (default the full 2^depth) and indices over the whole index range, so that
// some may point past a short table.
inline Picture RandomPicture(std::mt19937& rng, int width, int height, int bitCount,
                             int colours = 0) {
    Picture p;
    p.width = width;
    p.height = height;
    p.bitCount = bitCount;
    if (bitCount <= 8) {
        p.table.resize(colours ? colours : 1 << bitCount);
        for (auto& q : p.table)
            q = RGBQUAD{std::uint8_t(rng()), std::uint8_t(rng()), std::uint8_t(rng()), 0};
    }
    const std::uint32_t mask = bitCount == 24 ? 0xFFFFFF : (1u << bitCount) - 1;
    p.pixels.resize(std::size_t(width) * height);
    for (auto& v : p.pixels)
        v = rng() & mask;
    return p;
}

// Frees a block at the end of a scope.
struct Block {
    HGLOBAL handle;
    explicit Block(HGLOBAL h = nullptr) : handle(h) {}
    ~Block() {
        if (handle)
            GlobalFree(handle);
    }
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;
    HGLOBAL get() const { return handle; }
    explicit operator bool() const { return handle != nullptr; }
};

} // namespace rastrum_test
