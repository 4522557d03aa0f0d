// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The fax spool: a service that watches DIR/in for macros dropped by other
// systems and turns each into DIR/out/<name>.tif, moving the macro to
// DIR/done (or to DIR/failed with <name>.err holding the reason). A macro is
// claimed by a rename into DIR/work before it is built, so a run that is
// killed at any moment leaves every macro in exactly one folder, and the
// next run finishes what the last one had in hand.
#pragma once

#include "MacroRunner.h"

#include <functional>
#include <string>

namespace folio {

struct SpoolOptions {
    std::string folder; // the spool: in, work, out, done, failed below it
    int jobs = 1;       // documents built at once, one engine and thread each
    // Drain in/ and work/, then return, rather than wait for more macros.
    bool once = false;
    BuildOptions build; // passed to every build (include root, limits)
    // When not empty, each fax is also written as PDFDIR/<name>.pdf.
    std::string pdfDir;
    // Receives the service log, one line at a time without a line feed.
    std::function<void(const std::string&)> log;
};

// Runs the spool until SIGTERM or SIGINT arrives (the jobs in hand are then
// finished) or, with `once`, until nothing is left. Returns the exit status:
// 0, or 1 when the spool could not start or, with `once`, when a job failed
// or was kept in work/ for a later retry. SIGTERM and SIGINT are blocked in
// the calling thread while it runs.
int RunSpool(const SpoolOptions& options);

} // namespace folio
