// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Collecting, printing and counting one document's diagnostics.
#include "DiagnosticList.h"

#include <cstddef>

namespace folio {

namespace {

std::string count(int n, const char* one) {
    return std::to_string(n) + " " + one + (n == 1 ? "" : "s");
}

} // namespace

void DiagnosticList::Report(const Diagnostic& d) {
    ++counts_[int(d.severity) % 3];
    if (kept_.size() < kMaxKept)
        kept_.push_back(d);
}

std::vector<std::string> DiagnosticList::Lines(const std::string& macro, int record) const {
    std::vector<std::string> lines;
    for (const Diagnostic& d : kept_) {
        std::string line = FormatDiagnostic(macro, d);
        if (record > 0) {
            const std::size_t place =
                macro.size() + (d.line > 0 ? 1 + std::to_string(d.line).size() : 0);
            line.insert(place + 2, "record " + std::to_string(record) + ": ");
        }
        lines.push_back(std::move(line));
    }
    if (Omitted() > 0)
        lines.push_back(macro + ": note: " + std::to_string(Omitted()) +
                        " more diagnostics not shown");
    return lines;
}

std::string CheckSummary(const std::string& macro, bool built, int pages,
                         const DiagnosticList& list) {
    std::string line = macro + ": ";
    line += built ? count(pages, "page") : std::string("not built");
    line += ", " + count(list.Count(Severity::Warning), "warning");
    if (list.Count(Severity::Error))
        line += ", " + count(list.Count(Severity::Error), "error");
    if (list.Count(Severity::Note))
        line += ", " + count(list.Count(Severity::Note), "note");
    return line;
}

} // namespace folio
