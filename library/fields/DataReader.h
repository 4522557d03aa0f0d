// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Readers of the data that fills templates, one record at a time:
//  - CSV (RFC 4180) with a header row naming the columns: quoted fields may
//    hold commas, quotes ("") and line breaks; a UTF-8 byte-order mark
//    before the header is skipped; spaces belong to the field. Read through
//    libcsv in blocks, record by record, so memory stays flat however many
//    rows there are. A row with another number of fields than the header is
//    a bad record; the rows after it are still read.
//  - JSON: one object (one record) or an array of objects (one record
//    each). Strings are values as they are, numbers and true/false their
//    JSON text, null no value; members of nested objects are named "a.b",
//    arrays stand as their JSON text. The file is held in memory (up to
//    kMaxJsonBytes) but each array element is parsed on its own, so a bad
//    element is a bad record and the others are still read.
// A bad record comes with its reason; the caller builds nothing for it.
#pragma once

#include "Fields.h"
#include "JsonRecord.h"

#include <cstddef>
#include <istream>
#include <memory>
#include <string>

namespace folio {

// The largest JSON data file read (the deepest nesting of a record is
// kMaxJsonDepth, JsonRecord.h).
inline constexpr std::size_t kMaxJsonBytes = std::size_t(256) << 20;
// The longest CSV record: past it the file is not read further.
inline constexpr std::size_t kMaxCsvRecordBytes = std::size_t(16) << 20;

struct DataRecord {
    Record values;
    int number = 0;    // 1 for the first record (a CSV's header not counted)
    int line = 0;      // the line of the data file where the record begins
    std::string error; // not empty: a bad record, and why
};

class DataReader {
  public:
    virtual ~DataReader() = default;
    // The next record; false when there is none left.
    virtual bool Next(DataRecord& record) = 0;
};

// Readers over `in`; an empty `error` when they could start. The CSV reader
// reads the header at once (a file without one is an error).
std::unique_ptr<DataReader> ReadCsv(std::unique_ptr<std::istream> in, std::string& error);
std::unique_ptr<DataReader> ReadJson(std::unique_ptr<std::istream> in, std::string& error);

// The reader for the file `path`: CSV for a name ending in .csv, JSON for
// .json, otherwise JSON when the first thing in it is '{' or '[' and CSV
// else. Null with `error` set when it cannot be opened or started.
std::unique_ptr<DataReader> OpenData(const std::string& path, std::string& error);

} // namespace folio
