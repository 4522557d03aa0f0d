// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The engines whose text is set over the page: a short list, looked at
// only when a page or the default font is made, never per line of text.
#include "TextOver.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

namespace folio {

namespace {

std::mutex gMutex;
std::vector<const FaxImage*> gOver;
// Engines on the list: none in nearly every process, which then takes no lock.
std::atomic<std::size_t> gCount{0};

} // namespace

void SetTextOver(const FaxImage& engine, bool over) {
    std::lock_guard lock(gMutex);
    const auto it = std::find(gOver.begin(), gOver.end(), &engine);
    if (over && it == gOver.end())
        gOver.push_back(&engine);
    else if (!over && it != gOver.end())
        gOver.erase(it);
    gCount.store(gOver.size(), std::memory_order_release);
}

bool TextOver(const FaxImage& engine) {
    if (gCount.load(std::memory_order_acquire) == 0)
        return false;
    std::lock_guard lock(gMutex);
    return std::find(gOver.begin(), gOver.end(), &engine) != gOver.end();
}

void ForgetTextOver(const FaxImage& engine) {
    if (gCount.load(std::memory_order_acquire) != 0)
        SetTextOver(engine, false);
}

} // namespace folio
