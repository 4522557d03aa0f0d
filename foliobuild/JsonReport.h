// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// foliobuild --diagnostics json: what a run did, as one JSON document for the
// programs that call foliobuild. Each macro is one entry, in the order given:
// whether its fax was written, the failure, its diagnostics and, with
// --stats, each page's coded size and sending time. A run of --data has one
// entry per record, in record order, each (and each of its diagnostics)
// naming its record; it is written in parts as the records are done, so
// that its memory does not grow with the data. Text from a macro or data
// may hold any bytes; the document is always valid JSON (UTF-8, bytes that
// form no character replaced by U+FFFD, control characters escaped).
#pragma once

#include <string>
#include <vector>

namespace folio {

class DiagnosticList;
struct PageCost;

// One macro's part of the report. The pointers are kept only while
// JsonReport runs.
struct JsonDocument {
    std::string macro;
    std::string output; // the fax file; empty (null) with --check
    bool ok = false;
    std::string error; // the failure when not ok
    int pages = 0;     // pages built
    const DiagnosticList* diagnostics = nullptr;
    const std::vector<PageCost>* costs = nullptr; // null: no "pages" or "total"
    // With --data: the record (1 for the first) and the data file's line
    // where it begins; 0: not from data, and no "record" keys.
    int record = 0;
    int dataLine = 0;
};

// The document, on one line with a newline after it. `error` is a failure
// of the whole run before any macro was built (an output folder that cannot
// be made); empty gives null. Throws only std::bad_alloc.
std::string JsonReport(const std::vector<JsonDocument>& documents, const std::string& error = {});

// The document of a --data run in parts: the head (up to the opening of
// "files", with the data file's name as "data"), each entry with a comma
// between them, and the tail (with its newline). Written one after the
// other, they make one document on one line.
std::string JsonReportHead(const std::string& data);
std::string JsonReportEntry(const JsonDocument& document);
std::string JsonReportTail();

} // namespace folio
