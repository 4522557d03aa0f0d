// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Templates: a macro whose text holds fields {{name}}, filled from one record
// of data. A name is letters, digits and '_', in parts joined by '.' for the
// members of nested JSON objects ({{customer.city}}). With data, {{{{ sets a
// literal {{; without data a macro is read as it always was, {{ and all.
//
// Fields are filled only where the engine hands text to its line filter
// (LineFilter.h): text lines, the lines of files included with
// FILE=name,TXT, the text of HEADER and FOOTER (whose placeholders such as
// {page} are read only in the template's own text, never in a value) and
// the data of BARCODE. The line has been classified by
// then, so a value is always text: it cannot make a line a command, add an
// argument to one or start a style escape (its backslashes are doubled, and
// a lone backslash of the template right before a field is doubled too).
// A value with line breaks sets that many text lines. A field in any other
// command is reported (field-ignored) and left as written: data never
// chooses files or geometry. A field without a value is reported
// (field-missing) and sets nothing.
//
// Values are UTF-8 and are written in the code page the text is read in
// (CodePage.h); a character that code page lacks is set as '?' and reported
// (no-glyph). Under CODEPAGE=65001 they go in as they are.
#pragma once

#include "LineFilter.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace folio {

// One record: field name to its value (UTF-8). A JSON record's nested
// members are under "a.b"; a CSV record's under its column names.
using Record = std::unordered_map<std::string, std::string>;

// What filling one piece of text met, for reports.
struct FillNotes {
    std::vector<std::string> missing; // names without a value, in order
    std::vector<std::string> ignored; // names seen in a command
    // Per name of a value that lost characters to the code page, how many.
    std::vector<std::pair<std::string, std::size_t>> replaced;
    // The spans of the result that hold values, in order.
    std::vector<TextSpan> values;
};

// Fills the fields of `text` (in `codePage`) from `record` as `place`
// requires and returns the result; `notes` says what was missing or
// replaced. For text places each line break of a value ends a line ('\n' in
// the result). Text without fields (nor {{{{) comes back unchanged.
std::string FillText(std::string_view text, const Record& record, FilterPlace place,
                     std::uint16_t codePage, FillNotes& notes);

// The names of the fields in `text`, in order (for a command line, which is
// never filled).
std::vector<std::string> FieldsIn(std::string_view text);

// The engine's line filter for one record: fills text and barcode data and
// reports fields in commands, missing values and replaced characters.
class FieldFiller : public LineFilter {
  public:
    explicit FieldFiller(const Record& record) : record_(record) {}
    bool Fill(FilterPlace place, std::string_view text, std::uint16_t codePage, int line,
              EngineDiagnostics* diag, std::string& out, std::vector<TextSpan>* values) override;
    void SeeCommand(std::string_view command, int line, EngineDiagnostics* diag) override;

  private:
    const Record& record_;
};

} // namespace folio
