// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Rastrum's stand-in for the Windows GDI and clipboard: device contexts
// (memory rasters and PDF printers), logical palettes and a process-wide
// clipboard. The public calls are declared in rastrum.h with their Win32
// names; this header adds what the library and its tests need to look
// inside: the object table, a per-device journal of the calls made on it, and
// counts of live objects and clipboard openings.
#pragma once

#include "rastrum.h"

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace rastrum::gdi {

enum class ObjectKind { MemoryDevice, PrinterDevice, Palette };

// Every handle this layer gives out is the address of one of these, entered
// in a process-wide table; a handle not found there is refused.
struct GdiObject {
    explicit GdiObject(ObjectKind k) : kind(k) {}
    virtual ~GdiObject() = default;
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;
    const ObjectKind kind;
};

struct Palette : GdiObject {
    Palette() : GdiObject(ObjectKind::Palette) {}
    std::vector<PALETTEENTRY> entries;
    int selections = 0;       // device contexts that hold it selected
    bool onClipboard = false; // owned by the clipboard
    bool stock = false;       // never deleted
};

// The calls a device context has seen, as short lines such as
// "Escape STARTDOC Document -> 1" or "SetDIBitsToDevice 20 20 5 3 0 0 0 3 -> 3".
// Kept to the first kMaxJournal lines.
inline constexpr std::size_t kMaxJournal = 4096;

// The table's lock; held only while a handle is looked up or entered.
std::mutex& TableMutex();
// Enters an object and returns its handle; null if it cannot be stored.
void* Register(GdiObject* object);
// Removes and destroys an object, if the handle is in the table.
bool Unregister(void* handle);
// The object behind a handle of the given kind, or null. Caller holds TableMutex().
GdiObject* Lookup(const void* handle);
Palette* LookupPalette(const void* handle);
inline HPALETTE ToHandle(Palette* palette) {
    return reinterpret_cast<HPALETTE>(static_cast<GdiObject*>(palette));
}

// Hooks between the parts of the layer.
void DeviceReleasesPalette(Palette* palette);
void AppendJournal(HDC dc, std::string line);

// Inspection, for tests and diagnostics.
std::vector<std::string> Journal(HDC dc);
void ClearJournal(HDC dc);
std::size_t LiveObjectCount(); // device contexts and palettes not deleted (stock ones excluded)
HPALETTE SelectedPalette(HDC dc);
unsigned ClipboardOpenings(); // successful OpenClipboard calls so far
bool ClipboardIsOpen();

} // namespace rastrum::gdi
