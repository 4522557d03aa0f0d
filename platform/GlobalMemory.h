// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Movable global memory blocks with the Win32 names and meanings. Every DIB
// that crosses a library boundary lives in such a block. A handle is the
// address of a small header (magic word, size, lock count) in front of the
// data; live handles are kept in a process-wide table, so locking a null,
// freed or foreign handle returns null instead of touching stray memory.
// Memory never moves: GMEM_MOVEABLE is accepted and changes nothing.
#pragma once

#include "Export.h"

#include <cstddef>
#include <cstdint>

typedef void* HGLOBAL;
typedef unsigned int UINT;
typedef int BOOL;
typedef std::size_t SIZE_T;

enum : UINT {
    GMEM_FIXED = 0x0000,
    GMEM_MOVEABLE = 0x0002,
    GMEM_ZEROINIT = 0x0040,
    GMEM_DISCARDABLE = 0x0100,
    GHND = GMEM_MOVEABLE | GMEM_ZEROINIT,
};

extern "C" {
// Returns a new block of `bytes` bytes (zeroed with GMEM_ZEROINIT), or null.
FOLIO_EXPORT HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
// Returns the block's data and counts one lock, or null for a bad handle.
FOLIO_EXPORT void* GlobalLock(HGLOBAL block);
// Drops one lock; nonzero while the block is still locked, else 0.
FOLIO_EXPORT BOOL GlobalUnlock(HGLOBAL block);
// Frees the block; null on success, the handle itself when it is not a block.
FOLIO_EXPORT HGLOBAL GlobalFree(HGLOBAL block);
// The size asked for at allocation, or 0 for a bad handle.
FOLIO_EXPORT SIZE_T GlobalSize(HGLOBAL block);
}

namespace folio {

// Sizes above this are refused by GlobalAlloc: no fax page or DIB the system
// makes comes near it, and it keeps hostile sizes from reaching the heap.
inline constexpr SIZE_T kMaxGlobalBlock = SIZE_T(1) << 31;

// Locks a block for the lifetime of the guard.
class GlobalLockGuard {
  public:
    explicit GlobalLockGuard(HGLOBAL block) : block_(block), data_(GlobalLock(block)) {}
    ~GlobalLockGuard() {
        if (data_)
            GlobalUnlock(block_);
    }
    GlobalLockGuard(const GlobalLockGuard&) = delete;
    GlobalLockGuard& operator=(const GlobalLockGuard&) = delete;
    std::uint8_t* data() const { return static_cast<std::uint8_t*>(data_); }
    explicit operator bool() const { return data_ != nullptr; }

  private:
    HGLOBAL block_;
    void* data_;
};

} // namespace folio
