// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The coding helper: one thread, started the first time a page is coded in
// two halves and kept for every page after, on which the second half of a
// page is coded while the calling thread codes the first. It serves one page
// at a time; a caller that finds it busy with another document's page, or
// cannot have it (no thread to be had, the process forked since it started,
// the library on its way out), codes both halves itself, one after the other.
// The thread ends when the process exits or the library is unloaded.
#pragma once

#include <exception>
#include <type_traits>
#include <utility>

namespace folio::tiflib {

// A piece of work handed to the helper. `error` holds what it threw.
struct SideJob {
    void (*run)(void*);
    void* context;
    std::exception_ptr error;
    bool done = false;
};

// Starts `job` on the helper and returns true, or returns false when the
// helper cannot take it (the job has not run). After true, AwaitBeside must
// be called before `job` goes out of scope.
bool StartBeside(SideJob& job);
// Waits until a started job has finished.
void AwaitBeside(SideJob& job);

// While one lives, the calling thread codes every page alone, never handing
// half of it to the helper: for a thread that codes pages while another one
// sets the next, when both cores are busy already.
class CodeAlone {
  public:
    CodeAlone();
    ~CodeAlone();
    CodeAlone(const CodeAlone&) = delete;
    CodeAlone& operator=(const CodeAlone&) = delete;

  private:
    bool before_;
};

// Runs `here` on this thread and `beside` on the helper at the same time, or
// both here when the helper cannot take `beside`; returns when both are done.
// What either throws is rethrown here, once both are done (`here`'s first).
template <class Here, class Beside> void RunSideBySide(Here&& here, Beside&& beside) {
    using B = std::remove_reference_t<Beside>;
    SideJob job{[](void* f) { (*static_cast<B*>(f))(); }, &beside, nullptr, false};
    if (!StartBeside(job)) {
        here();
        beside();
        return;
    }
    try {
        here();
    } catch (...) {
        AwaitBeside(job);
        throw;
    }
    AwaitBeside(job);
    if (job.error)
        std::rethrow_exception(job.error);
}

} // namespace folio::tiflib
