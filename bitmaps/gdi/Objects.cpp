// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The GDI object table and the palette calls. Handles are object addresses,
// valid only while entered in the table, so a stale or made-up handle is
// refused instead of followed. Palettes count the device contexts they are
// selected into; one that is selected or held by the clipboard cannot be
// deleted, so no device context is ever left pointing at a freed palette.
#include "Device.h"

#include <algorithm>
#include <cstddef>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>

namespace rastrum::gdi {
namespace {

struct Table {
    std::mutex mutex;
    std::unordered_map<const void*, GdiObject*> objects;
    std::size_t stockCount = 0;
};

Table& table() {
    // Never destroyed: clients may delete objects from their static destructors.
    static Table* t = new Table;
    return *t;
}

// The twenty static colours of the Windows default palette.
constexpr PALETTEENTRY kDefaultColours[20] = {
    {0, 0, 0, 0},       {128, 0, 0, 0},     {0, 128, 0, 0},     {128, 128, 0, 0},
    {0, 0, 128, 0},     {128, 0, 128, 0},   {0, 128, 128, 0},   {192, 192, 192, 0},
    {192, 220, 192, 0}, {166, 202, 240, 0}, {255, 251, 240, 0}, {160, 160, 164, 0},
    {128, 128, 128, 0}, {255, 0, 0, 0},     {0, 255, 0, 0},     {255, 255, 0, 0},
    {0, 0, 255, 0},     {255, 0, 255, 0},   {0, 255, 255, 0},   {255, 255, 255, 0},
};

} // namespace

std::mutex& TableMutex() {
    return table().mutex;
}

void* Register(GdiObject* object) {
    Table& t = table();
    std::lock_guard lock(t.mutex);
    try {
        t.objects.emplace(object, object);
    } catch (...) {
        return nullptr;
    }
    return object;
}

bool Unregister(void* handle) {
    Table& t = table();
    GdiObject* object = nullptr;
    {
        std::lock_guard lock(t.mutex);
        auto it = t.objects.find(handle);
        if (it == t.objects.end())
            return false;
        object = it->second;
        t.objects.erase(it);
    }
    delete object;
    return true;
}

GdiObject* Lookup(const void* handle) {
    if (!handle)
        return nullptr;
    auto& objects = table().objects;
    auto it = objects.find(handle);
    return it == objects.end() ? nullptr : it->second;
}

Palette* LookupPalette(const void* handle) {
    GdiObject* object = Lookup(handle);
    return object && object->kind == ObjectKind::Palette ? static_cast<Palette*>(object) : nullptr;
}

Device* LookupDevice(const void* handle) {
    GdiObject* object = Lookup(handle);
    if (!object || object->kind == ObjectKind::Palette)
        return nullptr;
    return static_cast<Device*>(object);
}

Palette* StockPalette() {
    // Built once under the static-initialisation guard; entered in the table
    // so that SelectPalette and GetPaletteEntries accept its handle.
    static Palette* stock = [] {
        auto* p = new Palette;
        p->stock = true;
        p->entries.assign(std::begin(kDefaultColours), std::end(kDefaultColours));
        Table& t = table();
        std::lock_guard lock(t.mutex);
        t.objects.emplace(p, p);
        ++t.stockCount;
        return p;
    }();
    return stock;
}

void DeviceReleasesPalette(Palette* palette) {
    std::lock_guard lock(TableMutex());
    if (palette && palette->selections > 0)
        --palette->selections;
}

std::size_t LiveObjectCount() {
    Table& t = table();
    std::lock_guard lock(t.mutex);
    return t.objects.size() - t.stockCount;
}

HPALETTE SelectedPalette(HDC dc) {
    std::lock_guard lock(TableMutex());
    Device* device = LookupDevice(dc);
    return device ? ToHandle(device->palette) : nullptr;
}

} // namespace rastrum::gdi

using namespace rastrum::gdi;

extern "C" {

HPALETTE CreatePalette(const LOGPALETTE* logical) {
    if (!logical || logical->palVersion != 0x300 || logical->palNumEntries == 0)
        return nullptr;
    try {
        auto* palette = new Palette;
        palette->entries.assign(logical->palPalEntry,
                                logical->palPalEntry + logical->palNumEntries);
        if (!Register(palette)) {
            delete palette;
            return nullptr;
        }
        return ToHandle(palette);
    } catch (...) {
        return nullptr;
    }
}

HPALETTE SelectPalette(HDC dc, HPALETTE handle, BOOL forceBackground) {
    HPALETTE previous = nullptr;
    {
        std::lock_guard lock(TableMutex());
        Device* device = LookupDevice(dc);
        Palette* palette = LookupPalette(handle);
        if (!device || !palette)
            return nullptr;
        Palette* old = device->palette;
        if (old && old->selections > 0)
            --old->selections;
        ++palette->selections;
        device->palette = palette;
        previous = old ? ToHandle(old) : nullptr;
    }
    AppendJournal(dc,
                  std::string("SelectPalette ") + (forceBackground ? "background" : "foreground"));
    return previous;
}

UINT RealizePalette(HDC dc) {
    UINT mapped = 0;
    {
        std::lock_guard lock(TableMutex());
        Device* device = LookupDevice(dc);
        if (!device)
            return GDI_ERROR;
        // A true-colour device shows every entry as it is.
        mapped = device->palette ? UINT(device->palette->entries.size()) : 0;
    }
    AppendJournal(dc, "RealizePalette -> " + std::to_string(mapped));
    return mapped;
}

UINT GetPaletteEntries(HPALETTE handle, UINT start, UINT count, PALETTEENTRY* entries) {
    std::lock_guard lock(TableMutex());
    Palette* palette = LookupPalette(handle);
    if (!palette)
        return 0;
    const UINT size = UINT(palette->entries.size());
    if (!entries)
        return size;
    if (start >= size)
        return 0;
    const UINT n = std::min(count, size - start);
    std::copy_n(palette->entries.begin() + start, n, entries);
    return n;
}

HGDIOBJ SelectObject(HDC, HGDIOBJ) {
    // Palettes go through SelectPalette only, as on Windows; this layer has
    // no pens, brushes, fonts or bitmaps.
    return nullptr;
}

BOOL DeleteObject(HGDIOBJ handle) {
    {
        std::lock_guard lock(TableMutex());
        Palette* palette = LookupPalette(handle);
        if (!palette)
            return 0;
        if (palette->stock)
            return 1;
        if (palette->selections > 0 || palette->onClipboard)
            return 0;
    }
    return Unregister(handle) ? 1 : 0;
}

HGDIOBJ GetStockObject(int which) {
    return which == DEFAULT_PALETTE ? static_cast<GdiObject*>(StockPalette()) : nullptr;
}

} // extern "C"
