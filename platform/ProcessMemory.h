// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// How a program that builds one document after another (the spool, a batch,
// the HTTP service) has the C library keep the memory of its pages. Called
// by programs only, once, before their threads start: it sets the allocator
// of the whole process, which a library has no business doing.
#pragma once

namespace folio {

// By default glibc gives each block of 128 KiB or more a mapping of its
// own and unmaps it when freed (or gives the top of a thread's heap back),
// so the page bitmap of every document, half a megabyte at fine
// resolution, came back from the kernel as fresh pages to be faulted in
// and cleared: about 230 page faults for each one-page fax, a third of the
// spool's system time. Blocks up to 4 MiB (a page of any usual size, its
// coding buffers) are now served from the heap and stay there for the next
// document; up to 4 MiB free at the top of a heap is kept. Larger blocks
// keep their own mappings.
void KeepPageMemory();

} // namespace folio
