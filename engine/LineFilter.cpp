// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The table of line filters by engine. FaxImage is laid out for
// libfoliolib.so.1 and has no room for one more pointer, so the filter of an
// engine is kept here, keyed by the engine's address. Few engines have one
// (one per build thread with data), so a short vector under a mutex serves;
// while none has, a lookup is one atomic load.
#include "LineFilter.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <utility>
#include <vector>

namespace folio {

namespace {

std::mutex gMutex;
std::vector<std::pair<const FaxImage*, LineFilter*>> gFilters;
std::atomic<std::size_t> gCount{0};

} // namespace

void SetLineFilter(const FaxImage& engine, LineFilter* filter) {
    if (!filter && gCount.load(std::memory_order_acquire) == 0)
        return;
    std::lock_guard lock(gMutex);
    auto it = std::find_if(gFilters.begin(), gFilters.end(),
                           [&](const auto& e) { return e.first == &engine; });
    if (it != gFilters.end()) {
        if (filter)
            it->second = filter;
        else
            gFilters.erase(it);
    } else if (filter) {
        gFilters.emplace_back(&engine, filter);
    }
    gCount.store(gFilters.size(), std::memory_order_release);
}

LineFilter* LineFilterOf(const FaxImage& engine) {
    if (gCount.load(std::memory_order_acquire) == 0)
        return nullptr;
    std::lock_guard lock(gMutex);
    for (const auto& [e, f] : gFilters)
        if (e == &engine)
            return f;
    return nullptr;
}

} // namespace folio
