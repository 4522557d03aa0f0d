// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// 1-bit bitmap storage and the clipped span fill every other drawing uses.
#include "Bitmap.h"

#include "Error.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <string>
#include <utility>

namespace folio {

bool Bitmap::IsValidSize(int width, int height) {
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)
        return false;
    std::size_t stride = (std::size_t(width) + 31) / 32 * 4;
    return stride * std::size_t(height) <= kMaxBytes;
}

void Bitmap::SetSize(int width, int height) {
    if (!IsValidSize(width, height))
        throw Error("Page size " + std::to_string(width) + " x " + std::to_string(height) +
                    " is not valid (each side 1 to " + std::to_string(kMaxSide) +
                    " pixels, at most " + std::to_string(kMaxBytes >> 20) + " MiB)");
    int stride = (width + 31) / 32 * 4;
    std::vector<std::uint8_t> bits;
    try {
        bits.assign(std::size_t(stride) * height, 0);
    } catch (const std::bad_alloc&) {
        throw Error("Not enough memory for a page of " + std::to_string(width) + " x " +
                    std::to_string(height) + " pixels");
    }
    bits_ = std::move(bits);
    width_ = width;
    height_ = height;
    stride_ = stride;
}

bool Bitmap::Pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_)
        return false;
    return (Row(y)[x >> 3] >> (7 - (x & 7))) & 1;
}

void Bitmap::SetPixel(int x, int y, bool black) {
    if (x < 0 || y < 0 || x >= width_ || y >= height_)
        return;
    std::uint8_t mask = std::uint8_t(0x80 >> (x & 7));
    if (black)
        Row(y)[x >> 3] |= mask;
    else
        Row(y)[x >> 3] &= std::uint8_t(~mask);
}

void Bitmap::FillRect(int x1, int y1, int x2, int y2, bool black) {
    x1 = std::max(x1, 0);
    y1 = std::max(y1, 0);
    x2 = std::min(x2, width_);
    y2 = std::min(y2, height_);
    if (x1 >= x2 || y1 >= y2)
        return;
    // Whole bytes in the middle, masked bytes at the two ends.
    const int firstByte = x1 >> 3, lastByte = (x2 - 1) >> 3;
    const std::uint8_t headMask = std::uint8_t(0xFF >> (x1 & 7));
    const std::uint8_t tailMask = std::uint8_t(0xFF << (7 - ((x2 - 1) & 7)));
    for (int y = y1; y < y2; ++y) {
        std::uint8_t* row = Row(y);
        if (firstByte == lastByte) {
            std::uint8_t mask = headMask & tailMask;
            row[firstByte] = black ? (row[firstByte] | mask) : (row[firstByte] & ~mask);
            continue;
        }
        row[firstByte] = black ? (row[firstByte] | headMask) : (row[firstByte] & ~headMask);
        if (lastByte - firstByte > 1)
            std::memset(row + firstByte + 1, black ? 0xFF : 0x00, lastByte - firstByte - 1);
        row[lastByte] = black ? (row[lastByte] | tailMask) : (row[lastByte] & ~tailMask);
    }
}

std::size_t Bitmap::CountBlack() const {
    std::size_t n = 0;
    for (std::uint8_t b : bits_)
        n += std::popcount(b);
    return n;
}

} // namespace folio
