// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Runs an outside program (poppler's pdftoppm and pdfinfo, which are GPL and
// so are run, never linked) as a child process fenced in: its input given
// through a socket, its output read up to a limit, its memory and CPU
// capped by setrlimit, and killed at a deadline.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace folio {

struct ToolLimits {
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
    // Standard output beyond this many bytes kills the tool.
    std::size_t maxOutput = std::size_t(256) << 20;
    // Address space of the child, bytes.
    std::size_t memory = std::size_t(1) << 30;
};

struct ToolResult {
    // The exit status; -1 when it was killed or died of a signal.
    int status = -1;
    bool notFound = false; // the program is not on PATH
    bool timedOut = false;
    bool tooMuchOutput = false;
    std::string output;
    // The last 4 KiB of its standard error.
    std::string errors;
};

// Runs `argv` (argv[0] looked up on PATH) with `input` on its standard
// input. False with `error` set only when no process could be made.
bool RunTool(const std::vector<std::string>& argv, std::string_view input,
             const ToolLimits& limits, ToolResult& result, std::string& error);

} // namespace folio
