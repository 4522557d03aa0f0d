// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The JSON report of a foliobuild run, written with nlohmann-json.
#include "JsonReport.h"

#include "DiagnosticList.h"
#include "SendCost.h"

#include <cmath>
#include <nlohmann/json.hpp>

namespace folio {

namespace {

// Keys in the order written, so that a person reading the report finds
// "macro" first.
using json = nlohmann::ordered_json;

// Seconds to the millisecond: the model is no finer, and 3.083 reads better
// than 3.0833333333333335.
double seconds(double s) {
    return std::round(s * 1000.0) / 1000.0;
}

json nullOr(const std::string& text) {
    return text.empty() ? json(nullptr) : json(text);
}

json documentJson(const JsonDocument& doc) {
    static constexpr const char* kSeverity[] = {"note", "warning", "error"};
    json entry = {{"macro", doc.macro}};
    if (doc.record > 0) {
        entry["record"] = doc.record;
        entry["data_line"] = doc.dataLine;
    }
    entry["output"] = nullOr(doc.output);
    entry["ok"] = doc.ok;
    entry["error"] = doc.ok ? json(nullptr) : json(doc.error);
    entry["page_count"] = doc.pages;
    entry["diagnostics"] = json::array();
    entry["diagnostics_omitted"] = 0;
    if (doc.diagnostics) {
        json& list = entry["diagnostics"];
        for (const Diagnostic& d : doc.diagnostics->Kept()) {
            json item = {{"file", doc.macro}, {"line", d.line > 0 ? json(d.line) : json(nullptr)}};
            if (doc.record > 0)
                item["record"] = doc.record;
            item["kind"] = d.kind ? d.kind : "";
            item["severity"] = kSeverity[int(d.severity) % 3];
            item["message"] = d.message;
            list.push_back(std::move(item));
        }
        entry["diagnostics_omitted"] = doc.diagnostics->Omitted();
    }
    if (doc.costs) {
        json pages = json::array();
        std::size_t bytes = 0;
        for (std::size_t i = 0; i < doc.costs->size(); ++i) {
            const PageCost& cost = (*doc.costs)[i];
            bytes += cost.bytes;
            json page = {{"page", i + 1},
                         {"bytes", cost.bytes},
                         {"seconds_9600", seconds(PageSeconds(cost.bytes, kRateV29))},
                         {"seconds_14400", seconds(PageSeconds(cost.bytes, kRateV17))}};
            if (cost.blackPermille >= 0)
                page["black_permille"] = cost.blackPermille;
            pages.push_back(std::move(page));
        }
        entry["pages"] = std::move(pages);
        // Reckoned from the unrounded page figures, as --stats prints it.
        entry["total"] = {{"pages", doc.costs->size()},
                          {"bytes", bytes},
                          {"seconds_9600", seconds(CallSeconds(*doc.costs, kRateV29))},
                          {"seconds_14400", seconds(CallSeconds(*doc.costs, kRateV17))}};
    }
    return entry;
}

// ensure_ascii off: text stays UTF-8 as it came; `replace` turns each byte
// that forms no UTF-8 character into U+FFFD instead of throwing.
std::string text(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

} // namespace

std::string JsonReport(const std::vector<JsonDocument>& documents, const std::string& error) {
    json files = json::array();
    for (const JsonDocument& doc : documents)
        files.push_back(documentJson(doc));
    const json report = {{"version", 1}, {"error", nullOr(error)}, {"files", std::move(files)}};
    return text(report) + "\n";
}

std::string JsonReportHead(const std::string& data) {
    const json report = {
        {"version", 1}, {"error", nullptr}, {"data", data}, {"files", json::array()}};
    std::string head = text(report);
    head.resize(head.size() - 2); // the empty array's "]" and the object's "}"
    return head;
}

std::string JsonReportEntry(const JsonDocument& document) {
    return text(documentJson(document));
}

std::string JsonReportTail() {
    return "]}\n";
}

} // namespace folio
