// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// One JSON object read as a record of fields (Fields.h): strings are values
// as they are, numbers and true/false their JSON text, null no value,
// members of nested objects named "a.b", arrays their JSON text. Shared by
// the JSON data reader (DataReader.h) and libfoliolib.so's
// FolioBuildOptions.fields, which has no CSV and so no libcsv.
#pragma once

#include "Fields.h"

#include <string>
#include <string_view>

namespace folio {

enum class JsonRecordFault {
    None,
    TooDeep,   // nested deeper than kMaxJsonDepth: never handed to the parser
    NotJson,   // `detail`: the parser's reason, without its tag
    NotObject, // `detail`: what it is instead ("array", "string", ...)
};

// The deepest nesting read (objects and arrays), which bounds the parser's
// recursion.
inline constexpr int kMaxJsonDepth = 64;

// Reads `text` into `out` (added to what it holds). `detail` explains a
// fault; `out` may hold part of the record after one.
JsonRecordFault ReadJsonRecord(std::string_view text, Record& out, std::string& detail);

// Whether `text` nests objects and arrays deeper than kMaxJsonDepth,
// brackets inside strings not counted.
bool JsonTooDeep(std::string_view text);

} // namespace folio
