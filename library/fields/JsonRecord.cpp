// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// A JSON object as a record of fields, through nlohmann-json; the nesting
// is checked before parsing, so a hostile text cannot exhaust the stack.
#include "JsonRecord.h"

#include <nlohmann/json.hpp>

namespace folio {

namespace {

using nlohmann::json;

// A JSON value's members as fields: "a.b" for nested objects. The depth is
// bounded by the scan before parsing.
void flatten(const json& value, const std::string& name, Record& out) {
    switch (value.type()) {
    case json::value_t::null:
        return; // no value
    case json::value_t::string:
        out.insert_or_assign(name, value.get<std::string>());
        return;
    case json::value_t::object:
        for (const auto& [key, member] : value.items())
            flatten(member, name.empty() ? key : name + "." + key, out);
        return;
    default:
        // Numbers, true and false, arrays: their JSON text.
        out.insert_or_assign(name, value.dump(-1, ' ', false, json::error_handler_t::replace));
        return;
    }
}

} // namespace

bool JsonTooDeep(std::string_view text) {
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if ((c == '{' || c == '[') && ++depth > kMaxJsonDepth) {
            return true;
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return false;
}

JsonRecordFault ReadJsonRecord(std::string_view text, Record& out, std::string& detail) {
    detail.clear();
    if (JsonTooDeep(text)) {
        detail = "nested deeper than " + std::to_string(kMaxJsonDepth) + " levels";
        return JsonRecordFault::TooDeep;
    }
    try {
        const json value = json::parse(text);
        if (!value.is_object()) {
            detail = value.type_name();
            return JsonRecordFault::NotObject;
        }
        flatten(value, {}, out);
        return JsonRecordFault::None;
    } catch (const json::exception& e) {
        // "[json.exception.parse_error.101] parse error at line 1, ...": the
        // reason without the library's tag.
        detail = e.what();
        if (const std::size_t tag = detail.find("] "); tag != std::string::npos)
            detail.erase(0, tag + 2);
        return JsonRecordFault::NotJson;
    }
}

} // namespace folio
