// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Movable global memory blocks. Each block is one heap allocation: a header
// followed by the caller's bytes. The table of live headers is what makes a
// freed or foreign handle harmless: only handles found in it are touched.
#include "GlobalMemory.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_set>

namespace {

constexpr std::uint32_t kMagic = 0x464f4c47; // "GLOF"

struct alignas(16) BlockHeader {
    std::uint32_t magic;
    std::uint32_t lockCount;
    SIZE_T size;
    UINT flags;
};

struct BlockTable {
    std::mutex mutex;
    std::unordered_set<BlockHeader*> live;
};

BlockTable& table() {
    // Never destroyed: blocks may be freed from static destructors of clients.
    static BlockTable* t = new BlockTable;
    return *t;
}

// Caller holds the table's mutex.
BlockHeader* findLive(BlockTable& t, HGLOBAL block) {
    if (!block)
        return nullptr;
    auto* header = static_cast<BlockHeader*>(block);
    if (t.live.find(header) == t.live.end())
        return nullptr;
    return header;
}

} // namespace

extern "C" {

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
    if (bytes > folio::kMaxGlobalBlock)
        return nullptr;
    // Windows hands out a block even for zero bytes; keep one byte so the
    // data pointer is always distinct.
    SIZE_T total = sizeof(BlockHeader) + (bytes ? bytes : 1);
    void* raw = (flags & GMEM_ZEROINIT) ? std::calloc(1, total) : std::malloc(total);
    if (!raw)
        return nullptr;
    auto* header = static_cast<BlockHeader*>(raw);
    header->magic = kMagic;
    header->lockCount = 0;
    header->size = bytes;
    header->flags = flags;
    try {
        BlockTable& t = table();
        std::lock_guard lock(t.mutex);
        t.live.insert(header);
    } catch (...) {
        // The table could not grow: the block is not handed out, so free it.
        std::free(raw);
        return nullptr;
    }
    return header;
}

void* GlobalLock(HGLOBAL block) {
    BlockTable& t = table();
    std::lock_guard lock(t.mutex);
    BlockHeader* header = findLive(t, block);
    if (!header)
        return nullptr;
    ++header->lockCount;
    return header + 1;
}

BOOL GlobalUnlock(HGLOBAL block) {
    BlockTable& t = table();
    std::lock_guard lock(t.mutex);
    BlockHeader* header = findLive(t, block);
    if (!header || header->lockCount == 0)
        return 0;
    --header->lockCount;
    return header->lockCount != 0;
}

HGLOBAL GlobalFree(HGLOBAL block) {
    if (!block)
        return nullptr;
    BlockTable& t = table();
    {
        std::lock_guard lock(t.mutex);
        BlockHeader* header = findLive(t, block);
        if (!header)
            return block;
        t.live.erase(header);
        header->magic = 0;
    }
    std::free(block);
    return nullptr;
}

SIZE_T GlobalSize(HGLOBAL block) {
    BlockTable& t = table();
    std::lock_guard lock(t.mutex);
    BlockHeader* header = findLive(t, block);
    return header ? header->size : 0;
}

} // extern "C"
