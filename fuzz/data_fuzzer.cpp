// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Fuzz target: the data readers of templates and the filling of fields. The
// first byte picks the reader (low bit: JSON or CSV) and the code page the
// values are written in (next bit: 65001 or 1252); the rest, up to 64 KB, is
// the data. Every record read (at most 64) fills a template holding each of
// its fields, as text and as barcode data. Whatever the data, records are
// numbered 1, 2, ... on lines that never go back, a bad record has a reason
// and no values, and a filled text line holds no NUL byte and no backslash
// that the text setter could take for the start of a style escape.
#include "DataReader.h"
#include "Fields.h"

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kMaxInput = 64 * 1024;
constexpr int kMaxRecords = 64;

// Whether a text line in 1252 (one byte a character) keeps every backslash
// paired: the setter reads "\\" as one backslash, so a value's backslash
// doubled is always followed by another.
bool backslashesPaired(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\')
            continue;
        if (i + 1 >= text.size() || text[i + 1] != '\\')
            return false;
        ++i;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size - 1 > kMaxInput)
        return 0;
    const bool json = data[0] & 1;
    const std::uint16_t codePage = data[0] & 2 ? 65001 : 1252;
    auto in = std::make_unique<std::istringstream>(
        std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
    std::string error;
    auto reader =
        json ? folio::ReadJson(std::move(in), error) : folio::ReadCsv(std::move(in), error);
    if (!reader) {
        if (error.empty())
            std::abort();
        return 0;
    }
    folio::DataRecord record;
    int last = 0, lastLine = 0;
    while (last < kMaxRecords && reader->Next(record)) {
        if (record.number != last + 1 || record.line < lastLine || record.line < 1)
            std::abort();
        last = record.number;
        lastLine = record.line;
        if (!record.error.empty()) {
            if (!record.values.empty())
                std::abort();
            continue;
        }
        // The template: every field of the record that can be named in one
        // (a CSV header may hold anything), so that it fills to values alone.
        std::string templ;
        for (const auto& [name, value] : record.values)
            if (const std::string field = "{{" + name + "}}";
                folio::FieldsIn(field) == std::vector<std::string>{name})
                templ += field;
        for (folio::FilterPlace place :
             {folio::FilterPlace::Text, folio::FilterPlace::BarcodeData}) {
            folio::FillNotes notes;
            const std::string out = folio::FillText(templ, record.values, place, codePage, notes);
            if (out.find('\0') != std::string::npos)
                std::abort();
            if (place == folio::FilterPlace::Text && codePage == 1252 && !backslashesPaired(out))
                std::abort();
        }
    }
    return 0;
}
