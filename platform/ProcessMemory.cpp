// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The allocator settings of a program that builds many documents (see
// ProcessMemory.h).
#include "ProcessMemory.h"

#include <malloc.h>

namespace folio {

void KeepPageMemory() {
    // Setting either also stops glibc from moving the thresholds itself.
    constexpr int kKept = 4 << 20; // bytes
    ::mallopt(M_MMAP_THRESHOLD, kKept);
    ::mallopt(M_TRIM_THRESHOLD, kKept);
}

} // namespace folio
