// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// A 1-bit bitmap: rows top-down in memory, the leftmost pixel in the most
// significant bit, a set bit is black ink and a clear bit white paper. Rows
// are padded to 32 bits (the stride of a 1-bit DIB row) and the padding bits
// stay clear, so a row can be copied into a DIB as it is.
#pragma once

// The installed C++ headers need C++20 (std::span, defaulted comparisons):
// compile with -std=c++20 or later, which the CMake targets Folioset::* ask
// for. An older standard stops here with one message, not a page of errors.
#if __cplusplus < 202002L
#error "Folioset's C++ headers need C++20: compile with -std=c++20 or later"
#else

// For clients of libfoliolib.so: installed because the engine's headers need
// the type; its out-of-line members are the library's own and not exported
// (a client that calls one fails to link).

#include <cstddef>
#include <cstdint>
#include <vector>

namespace folio {

class Bitmap {
  public:
    // Largest side and largest pixel area a bitmap may have. A fax page is at
    // most a few thousand pixels a side; 65535 is also the most a packed DIB
    // can describe.
    static constexpr int kMaxSide = 65535;
    static constexpr std::size_t kMaxBytes = std::size_t(128) << 20;

    Bitmap() = default;

    // Resizes to width x height, all white. Throws folio::Error for a size
    // that is zero, negative or beyond the limits above; the bitmap then
    // keeps its old size and pixels.
    void SetSize(int width, int height);
    // True when SetSize would accept the size.
    static bool IsValidSize(int width, int height);

    int Width() const { return width_; }
    int Height() const { return height_; }
    bool Empty() const { return width_ == 0 || height_ == 0; }
    // Bytes per row: ((width + 31) / 32) * 4.
    int Stride() const { return stride_; }

    std::uint8_t* Row(int y) { return bits_.data() + std::size_t(y) * stride_; }
    const std::uint8_t* Row(int y) const { return bits_.data() + std::size_t(y) * stride_; }
    std::uint8_t* Bits() { return bits_.data(); }
    const std::uint8_t* Bits() const { return bits_.data(); }
    std::size_t ByteCount() const { return bits_.size(); }

    // Pixel access, clipped: outside the bitmap Pixel is white and SetPixel does nothing.
    bool Pixel(int x, int y) const;
    void SetPixel(int x, int y, bool black);

    // Paints [x1, x2) x [y1, y2), clipped to the bitmap, black or white.
    void FillRect(int x1, int y1, int x2, int y2, bool black);
    void Fill(bool black) { FillRect(0, 0, width_, height_, black); }

    // Number of black pixels (tests and diagnostics).
    std::size_t CountBlack() const;

  private:
    int width_ = 0;
    int height_ = 0;
    int stride_ = 0;
    std::vector<std::uint8_t> bits_;
};

} // namespace folio

#endif // C++20
