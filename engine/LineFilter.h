// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// A hook between the interpreter and whatever fills text with data. The
// engine decides what a line is (command, comment, text) first and only
// then hands a filter the text it is about to set, an included file's line
// or a barcode's data; whatever the filter gives back is set as text (or
// drawn as the symbol's data) and never read as a command. Command lines are
// shown to the filter for reporting only: it cannot change them.
//
// The engine knows nothing of where the data comes from; the fields module
// (library/fields) implements the filter. The hook is the engine's own side:
// it is not part of libfoliolib.so's exported interface, and FaxImage keeps
// its size (a filter is found through a table keyed by the engine).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class FaxImage;

namespace folio {

class EngineDiagnostics;

// What the text handed to a filter is.
enum class FilterPlace : std::uint8_t {
    Text,         // a text line of the macro
    IncludedText, // a line of a file included with FILE=name,TXT
    BarcodeData,  // the data of a BARCODE command (no style escapes there)
};

// Bytes [begin, end) of a filled text.
struct TextSpan {
    std::size_t begin = 0, end = 0;
};

class LineFilter {
  public:
    virtual ~LineFilter() = default;
    // `text` in `codePage` is about to be set (or drawn as barcode data).
    // False: it is used as it is. True: `out` is used instead; for text,
    // each '\n' in `out` ends a line set on its own, and every one of them is
    // text. `diag` (null without diagnostics) takes reports, and `line` is the
    // macro line for them. `values`, when not null, takes the spans of `out`
    // that came from the data rather than from `text`, in order: a header's
    // placeholders ({page}) are read only outside them.
    virtual bool Fill(FilterPlace place, std::string_view text, std::uint16_t codePage, int line,
                      EngineDiagnostics* diag, std::string& out, std::vector<TextSpan>* values) = 0;
    // A command line as written (for BARCODE, up to its data), which is
    // carried out as it stands: a filter may only report on it.
    virtual void SeeCommand(std::string_view command, int line, EngineDiagnostics* diag) = 0;
};

// Gives `engine` a filter (null: none, the default). The filter must outlive
// the engine's use of it; the engine forgets it when it is destroyed.
void SetLineFilter(const FaxImage& engine, LineFilter* filter);
// The filter of `engine`, or null. Costs one atomic load when no engine in
// the process has a filter.
LineFilter* LineFilterOf(const FaxImage& engine);

} // namespace folio
