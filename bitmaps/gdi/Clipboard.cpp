// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The process-wide clipboard with the Win32 calls. It holds one handle per
// format: a global memory block for every format but CF_PALETTE, which holds a
// palette. Handing a handle to SetClipboardData gives it to the clipboard,
// which frees it when the format is replaced or the clipboard emptied; a
// palette on the clipboard cannot be deleted by anyone else meanwhile.
#include "Gdi.h"

#include <map>
#include <mutex>
#include <thread>

namespace rastrum::gdi {
namespace {

struct Clipboard {
    std::mutex mutex;
    bool open = false;
    HWND openedBy = nullptr;
    std::thread::id thread;
    HWND owner = nullptr;
    std::map<UINT, void*> data;
    unsigned openings = 0;
};

Clipboard& clipboard() {
    static Clipboard* c = new Clipboard; // never destroyed, like the table
    return *c;
}

bool OpenedHere(const Clipboard& c) {
    return c.open && c.thread == std::this_thread::get_id();
}

bool IsLiveBlock(void* handle) {
    if (!GlobalLock(handle))
        return false;
    GlobalUnlock(handle);
    return true;
}

// Gives a handle back to the system. Caller holds the clipboard's mutex.
void Release(UINT format, void* handle) {
    if (format == CF_PALETTE) {
        {
            std::lock_guard lock(TableMutex());
            if (Palette* palette = LookupPalette(handle))
                palette->onClipboard = false;
        }
        DeleteObject(handle);
    } else {
        GlobalFree(handle);
    }
}

} // namespace

unsigned ClipboardOpenings() {
    Clipboard& c = clipboard();
    std::lock_guard lock(c.mutex);
    return c.openings;
}

bool ClipboardIsOpen() {
    Clipboard& c = clipboard();
    std::lock_guard lock(c.mutex);
    return c.open;
}

} // namespace rastrum::gdi

using namespace rastrum::gdi;

extern "C" {

BOOL OpenClipboard(HWND owner) {
    Clipboard& c = clipboard();
    std::lock_guard lock(c.mutex);
    if (c.open && (c.openedBy != owner || c.thread != std::this_thread::get_id()))
        return 0;
    c.open = true;
    c.openedBy = owner;
    c.thread = std::this_thread::get_id();
    ++c.openings;
    return 1;
}

BOOL CloseClipboard() {
    Clipboard& c = clipboard();
    std::lock_guard lock(c.mutex);
    if (!OpenedHere(c))
        return 0;
    c.open = false;
    c.openedBy = nullptr;
    return 1;
}

BOOL EmptyClipboard() {
    Clipboard& c = clipboard();
    std::lock_guard lock(c.mutex);
    if (!OpenedHere(c))
        return 0;
    for (auto& [format, handle] : c.data)
        Release(format, handle);
    c.data.clear();
    c.owner = c.openedBy;
    return 1;
}

void* SetClipboardData(UINT format, void* handle) {
    Clipboard& c = clipboard();
    std::lock_guard lock(c.mutex);
    // A null handle would ask for delayed rendering, which this clipboard lacks.
    if (!OpenedHere(c) || !handle)
        return nullptr;
    if (format == CF_PALETTE) {
        std::lock_guard tableLock(TableMutex());
        Palette* palette = LookupPalette(handle);
        if (!palette || palette->stock)
            return nullptr;
        palette->onClipboard = true;
    } else if (!IsLiveBlock(handle)) {
        return nullptr;
    }
    try {
        auto [it, inserted] = c.data.try_emplace(format, handle);
        if (!inserted && it->second != handle) {
            Release(format, it->second);
            it->second = handle;
        }
    } catch (...) {
        if (format == CF_PALETTE) {
            std::lock_guard tableLock(TableMutex());
            if (Palette* palette = LookupPalette(handle))
                palette->onClipboard = false;
        }
        return nullptr;
    }
    return handle;
}

void* GetClipboardData(UINT format) {
    Clipboard& c = clipboard();
    std::lock_guard lock(c.mutex);
    if (!OpenedHere(c))
        return nullptr;
    auto it = c.data.find(format);
    return it == c.data.end() ? nullptr : it->second;
}

BOOL IsClipboardFormatAvailable(UINT format) {
    Clipboard& c = clipboard();
    std::lock_guard lock(c.mutex);
    return c.data.count(format) ? 1 : 0;
}

} // extern "C"
