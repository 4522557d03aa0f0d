// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Where parked pages keep their packed bytes. Packed pages are many, written
// once and mostly kept until the document ends, so they are laid end to end
// in large chunks of memory that the system may back with huge pages: a
// document's pages then cost a handful of page faults instead of one for
// every 4 KiB (fresh memory, faulted in page by page, costs more than the
// packing itself). A span larger than a quarter chunk gets its own block.
// The store is shared by all documents and safe across threads.
#pragma once

// The installed C++ headers need C++20 (std::span, defaulted comparisons):
// compile with -std=c++20 or later, which the CMake targets Folioset::* ask
// for. An older standard stops here with one message, not a page of errors.
#if __cplusplus < 202002L
#error "Folioset's C++ headers need C++20: compile with -std=c++20 or later"
#else

// For clients of libfoliolib.so: installed because FaxPage.h needs it; the
// library's own, nothing here is exported.

#include <cstddef>
#include <cstdint>
#include <span>

namespace folio {

class PackedBytes {
  public:
    PackedBytes() = default;
    // A copy of `bytes` in the store. Throws std::bad_alloc when there is no
    // memory for it.
    static PackedBytes Copy(std::span<const std::uint8_t> bytes);
    ~PackedBytes() { Release(); }
    PackedBytes(PackedBytes&& other) noexcept { *this = static_cast<PackedBytes&&>(other); }
    PackedBytes& operator=(PackedBytes&& other) noexcept;
    PackedBytes(const PackedBytes&) = delete;
    PackedBytes& operator=(const PackedBytes&) = delete;

    std::span<const std::uint8_t> Bytes() const { return {data_, size_}; }
    std::size_t Size() const { return size_; }
    bool Empty() const { return size_ == 0; }
    // Gives the bytes back to the store; the handle is then empty.
    void Release();

  private:
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    void* chunk_ = nullptr; // the chunk holding the bytes; null for a block of their own
};

// Statistics of the store, for tests: chunks held and the bytes of live spans.
struct PackStoreUsage {
    std::size_t chunks = 0;
    std::size_t liveBytes = 0;
};
PackStoreUsage PackStoreUsageNow();

} // namespace folio

#endif // C++20
