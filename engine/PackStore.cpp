// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The packed-page store: 4 MiB chunks aligned to 2 MiB (the huge page size on
// x86-64), spans handed out from the end of the current chunk. The store
// does not ask for huge pages: the kernel clears a whole one at its first
// touch and splits it when part of it is given back, and the parts given
// back came back freshly cleared when the chunk was filled again; a
// 1,230-page build took 0.9 to 1.4 s instead of 0.65 s, most of it in the
// kernel. A chunk counts its live spans; it is unmapped when the last one
// goes, except that one empty chunk is kept for the next document. Freed
// spans in a chunk that still holds others are noted, and once they add up
// to half the chunk their whole pages go back to the system in one go
// (lazily, see giveBack), so a page parked again and again (a viewer paging
// back and forth) costs about its live bytes. A document that ends frees its
// chunks whole before that, without a call.
#include "PackStore.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define FOLIO_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FOLIO_ASAN 1
#endif
#endif
#ifdef FOLIO_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace folio {
namespace {

constexpr std::size_t kHugePage = std::size_t(2) << 20;
constexpr std::size_t kChunkBytes = 2 * kHugePage;
constexpr std::size_t kOwnBlock = kChunkBytes / 4;
// Spans start on 16 bytes. Under AddressSanitizer a poisoned gap follows
// each span, so that reading past one is caught as on any heap block.
constexpr std::size_t kAlign = 16;
#ifdef FOLIO_ASAN
constexpr std::size_t kGap = 32;
#else
constexpr std::size_t kGap = 0;
#endif

void poison(void* p, std::size_t n) {
#ifdef FOLIO_ASAN
    ASAN_POISON_MEMORY_REGION(p, n);
#else
    (void)p;
    (void)n;
#endif
}
void unpoison(void* p, std::size_t n) {
#ifdef FOLIO_ASAN
    ASAN_UNPOISON_MEMORY_REGION(p, n);
#else
    (void)p;
    (void)n;
#endif
}

struct Chunk {
    std::uint8_t* base = nullptr;
    std::size_t used = 0;  // bytes handed out from the start
    std::size_t spans = 0; // live spans
    // Freed spans not yet given back, adjacent ones joined; their bytes.
    std::vector<std::pair<std::uint8_t*, std::size_t>> freed;
    std::size_t freedBytes = 0;
};

// Maps a chunk on a huge-page boundary (where the system gives huge pages
// unasked, a chunk takes whole ones): twice the size, then the ends cut.
Chunk* mapChunk() {
    const std::size_t extra = kChunkBytes + kHugePage;
    void* raw = ::mmap(nullptr, extra, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const auto aligned = (start + kHugePage - 1) & ~std::uintptr_t(kHugePage - 1);
    if (aligned > start)
        ::munmap(raw, aligned - start);
    const std::uintptr_t end = start + extra, chunkEnd = aligned + kChunkBytes;
    if (end > chunkEnd)
        ::munmap(reinterpret_cast<void*>(chunkEnd), end - chunkEnd);
    auto* base = reinterpret_cast<std::uint8_t*>(aligned);
    poison(base, kChunkBytes);
    Chunk* chunk = new (std::nothrow) Chunk{base, 0, 0, {}, 0};
    if (!chunk)
        ::munmap(base, kChunkBytes);
    return chunk;
}

void unmapChunk(Chunk* chunk) {
    unpoison(chunk->base, kChunkBytes);
    ::munmap(chunk->base, kChunkBytes);
    delete chunk;
}

struct Store {
    std::mutex lock;
    Chunk* current = nullptr;
    Chunk* spare = nullptr; // empty, kept for reuse
    std::size_t chunks = 0;
    std::size_t liveBytes = 0;
};

// Never destroyed: parked pages may outlive static destruction.
Store& store() {
    static Store* s = new Store;
    return *s;
}

std::size_t roundUp(std::size_t n, std::size_t to) {
    return (n + to - 1) / to * to;
}

// Gives pages back to the system lazily: MADV_FREE lets it take them only
// when it needs memory, and pages written again before then cost nothing.
// A chunk's freed pages are written again as soon as the chunk empties and
// is refilled, which for a long document is every few pages: with
// MADV_DONTNEED each of those pages faulted in freshly cleared, a cost of
// about a tenth of the whole build. Kernels without MADV_FREE drop them.
void giveBack(void* at, std::size_t bytes) {
#ifdef MADV_FREE
    if (::madvise(at, bytes, MADV_FREE) == 0)
        return;
#endif
    ::madvise(at, bytes, MADV_DONTNEED);
}

// Notes a freed span of a chunk that still holds others; gives the whole
// pages of the noted spans back when they add up to half the chunk (the
// chunk's end never comes back to them: spans are only added at its end).
// A failed note (no memory) only keeps the pages longer.
void noteFreed(Chunk& c, std::uint8_t* p, std::size_t n) {
    try {
        if (!c.freed.empty() && c.freed.back().first + c.freed.back().second == p)
            c.freed.back().second += n;
        else
            c.freed.emplace_back(p, n);
    } catch (const std::bad_alloc&) {
        return;
    }
    c.freedBytes += n;
    if (c.freedBytes < kChunkBytes / 2)
        return;
    static const std::uintptr_t page = std::uintptr_t(::sysconf(_SC_PAGESIZE));
    for (const auto& [at, bytes] : c.freed) {
        const auto from = (reinterpret_cast<std::uintptr_t>(at) + page - 1) & ~(page - 1);
        const auto to = (reinterpret_cast<std::uintptr_t>(at) + bytes) & ~(page - 1);
        if (to > from)
            giveBack(reinterpret_cast<void*>(from), to - from);
    }
    c.freed.clear();
    c.freedBytes = 0;
}

} // namespace

PackedBytes PackedBytes::Copy(std::span<const std::uint8_t> bytes) {
    PackedBytes out;
    if (bytes.empty())
        return out;
    const std::size_t n = bytes.size();
    if (n > kOwnBlock) {
        out.data_ = static_cast<std::uint8_t*>(std::malloc(n));
        if (!out.data_)
            throw std::bad_alloc();
    } else {
        Store& s = store();
        const std::size_t need = roundUp(n + kGap, kAlign);
        std::lock_guard<std::mutex> hold(s.lock);
        if (!s.current || s.current->used + need > kChunkBytes) {
            Chunk* next = s.spare;
            s.spare = nullptr;
            if (!next) {
                next = mapChunk();
                if (!next)
                    throw std::bad_alloc();
                ++s.chunks;
            }
            // The chunk left behind is unmapped once its last span goes.
            Chunk* old = s.current;
            s.current = next;
            if (old && old->spans == 0) {
                unmapChunk(old);
                --s.chunks;
            }
        }
        Chunk* c = s.current;
        out.data_ = c->base + c->used;
        out.chunk_ = c;
        c->used += need;
        ++c->spans;
        s.liveBytes += n;
        unpoison(out.data_, n);
    }
    std::memcpy(out.data_, bytes.data(), n);
    out.size_ = n;
    return out;
}

PackedBytes& PackedBytes::operator=(PackedBytes&& other) noexcept {
    if (this != &other) {
        Release();
        data_ = other.data_;
        size_ = other.size_;
        chunk_ = other.chunk_;
        other.data_ = nullptr;
        other.size_ = 0;
        other.chunk_ = nullptr;
    }
    return *this;
}

void PackedBytes::Release() {
    if (!data_)
        return;
    if (!chunk_) {
        std::free(data_);
    } else {
        Store& s = store();
        std::lock_guard<std::mutex> hold(s.lock);
        auto* c = static_cast<Chunk*>(chunk_);
        s.liveBytes -= size_;
        poison(data_, size_);
        if (--c->spans == 0) {
            c->freed.clear();
            c->freedBytes = 0;
            if (c == s.current) {
                c->used = 0; // start over in the same, already mapped chunk
            } else if (!s.spare) {
                c->used = 0;
                s.spare = c;
            } else {
                unmapChunk(c);
                --s.chunks;
            }
        } else {
            noteFreed(*c, data_, roundUp(size_ + kGap, kAlign)); // with its padding
        }
    }
    data_ = nullptr;
    size_ = 0;
    chunk_ = nullptr;
}

PackStoreUsage PackStoreUsageNow() {
    Store& s = store();
    std::lock_guard<std::mutex> hold(s.lock);
    return {s.chunks, s.liveBytes};
}

} // namespace folio
