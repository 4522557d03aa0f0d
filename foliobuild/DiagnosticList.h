// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// foliobuild's diagnostics of one document: collected while the document
// builds (a batch builds several at a time on as many threads), printed in
// one piece when it is done, and counted for --check's summary and --strict.
#pragma once

#include "Diagnostics.h"

#include <cstddef>
#include <string>
#include <vector>

namespace folio {

class DiagnosticList : public DiagnosticSink {
  public:
    // Diagnostics kept for printing; past this many only counted, so that
    // a hostile macro cannot fill memory with them.
    static constexpr std::size_t kMaxKept = 1000;

    void Report(const Diagnostic& d) override;

    // The kept diagnostics as lines, and a line for any that were not kept.
    // With a `record` (a template filled from data) each line names it after
    // its place: "MACRO:LINE: record 7: warning: ...".
    std::vector<std::string> Lines(const std::string& macro, int record = 0) const;
    int Count(Severity severity) const { return counts_[int(severity)]; }
    // The kept diagnostics, in the order reported, and how many were only
    // counted.
    const std::vector<Diagnostic>& Kept() const { return kept_; }
    int Omitted() const { return counts_[0] + counts_[1] + counts_[2] - int(kept_.size()); }

  private:
    std::vector<Diagnostic> kept_;
    int counts_[3] = {};
};

// --check's line for one document: "MACRO: 3 pages, 2 warnings" (with notes
// and errors when there are any), or "MACRO: not built" after an error.
std::string CheckSummary(const std::string& macro, bool built, int pages,
                         const DiagnosticList& list);

} // namespace folio
