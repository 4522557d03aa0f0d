// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Filling fields: the scanner of {{name}} and {{{{, the escaping that keeps a
// value text, and the line filter the engine calls (see Fields.h).
#include "Fields.h"

#include "CodePage.h"
#include "Diagnostics.h"

#include <algorithm>

namespace folio {

namespace {

// Longest field name read; a longer run of name characters is no field.
constexpr std::size_t kMaxName = 128;

bool nameChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

// The length of the field "{{name}}" at text[i], or 0 when none starts there.
// The name is parts of name characters joined by single dots.
std::size_t fieldAt(std::string_view text, std::size_t i, std::string_view& name) {
    if (text.compare(i, 2, "{{") != 0)
        return 0;
    std::size_t j = i + 2;
    const std::size_t start = j;
    bool partEmpty = true;
    for (; j < text.size() && j - start <= kMaxName; ++j) {
        if (nameChar(text[j])) {
            partEmpty = false;
        } else if (text[j] == '.' && !partEmpty) {
            partEmpty = true;
        } else {
            break;
        }
    }
    if (partEmpty || j - start > kMaxName || text.compare(j, 2, "}}") != 0)
        return 0;
    name = text.substr(start, j - start);
    return j + 2 - i;
}

// A value made ready for `place`: written in `codePage`, NUL bytes dropped
// (they would end the line), and for text each line break made '\n' and
// each backslash doubled so that the text setter draws it as itself.
std::string prepared(std::string_view value, FilterPlace place, std::uint16_t codePage,
                     std::size_t& replaced) {
    const std::string bytes = EncodeUtf8(codePage, value, replaced);
    const bool text = place != FilterPlace::BarcodeData;
    std::string out;
    out.reserve(bytes.size() + 8);
    for (std::size_t i = 0; i < bytes.size();) {
        const char c = bytes[i];
        if (c == '\0') {
            ++i;
            continue;
        }
        if (text && (c == '\r' || c == '\n')) {
            // CR LF, LF or CR: one line break.
            out += '\n';
            i += c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n' ? 2 : 1;
            continue;
        }
        // Whole characters, so that a trail byte equal to '\' (in a
        // two-byte code page) is never taken for one.
        const std::size_t len = std::max<std::size_t>(1, CharLength(codePage, bytes, i));
        if (text && len == 1 && c == '\\')
            out += '\\';
        out.append(bytes, i, len);
        i += len;
    }
    return out;
}

} // namespace

std::string FillText(std::string_view text, const Record& record, FilterPlace place,
                     std::uint16_t codePage, FillNotes& notes) {
    const bool styled = place != FilterPlace::BarcodeData;
    std::string out;
    out.reserve(text.size());
    // A backslash of the template that the setter would join with the
    // character after it ("\B" is bold, "\\" one backslash): before a value
    // it is doubled, so that it cannot join the value's first character.
    bool loneBackslash = false;
    for (std::size_t i = 0; i < text.size();) {
        if (text.compare(i, 4, "{{{{") == 0) {
            out += "{{";
            loneBackslash = false;
            i += 4;
            continue;
        }
        std::string_view name;
        if (const std::size_t n = fieldAt(text, i, name)) {
            i += n;
            const auto it = record.find(std::string(name));
            if (it == record.end()) {
                notes.missing.emplace_back(name);
                continue;
            }
            if (styled && loneBackslash)
                out += '\\';
            loneBackslash = false;
            std::size_t replaced = 0;
            const std::size_t begin = out.size();
            out += prepared(it->second, place, codePage, replaced);
            if (out.size() > begin)
                notes.values.push_back({begin, out.size()});
            if (replaced)
                notes.replaced.emplace_back(std::string(name), replaced);
            continue;
        }
        const std::size_t len = std::max<std::size_t>(1, CharLength(codePage, text, i));
        if (len == 1 && text[i] == '\\')
            loneBackslash = !loneBackslash;
        else
            loneBackslash = false;
        out.append(text, i, len);
        i += len;
    }
    return out;
}

std::vector<std::string> FieldsIn(std::string_view text) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < text.size();) {
        if (text.compare(i, 4, "{{{{") == 0) {
            i += 4;
            continue;
        }
        std::string_view name;
        if (const std::size_t n = fieldAt(text, i, name)) {
            names.emplace_back(name);
            i += n;
        } else {
            ++i;
        }
    }
    return names;
}

bool FieldFiller::Fill(FilterPlace place, std::string_view text, std::uint16_t codePage, int line,
                       EngineDiagnostics* diag, std::string& out, std::vector<TextSpan>* values) {
    // Most lines hold no field: they are set as they are.
    if (text.find("{{") == std::string_view::npos)
        return false;
    FillNotes notes;
    out = FillText(text, record_, place, codePage, notes);
    if (values)
        *values = std::move(notes.values);
    if (diag) {
        for (const std::string& name : notes.missing)
            diag->Warn(line, kind::FieldMissing,
                       "the field {{" + name + "}} has no value in this record; it sets nothing");
        for (const auto& [name, count] : notes.replaced)
            diag->Warn(line, kind::NoGlyph,
                       "the value of {{" + name + "}} has " + std::to_string(count) +
                           (count == 1 ? " character" : " characters") + " that code page " +
                           std::to_string(EffectiveCodePage(codePage)) +
                           " cannot write; each is set as ?");
    }
    return true;
}

void FieldFiller::SeeCommand(std::string_view command, int line, EngineDiagnostics* diag) {
    if (!diag || command.find("{{") == std::string_view::npos)
        return;
    const std::vector<std::string> names = FieldsIn(command);
    if (names.empty())
        return;
    std::string list;
    for (const std::string& name : names)
        list += (list.empty() ? "{{" : ", {{") + name + "}}";
    diag->Warn(line, kind::FieldIgnored,
               list + " in a command " + (names.size() == 1 ? "is" : "are") +
                   " not filled (data fills only text and barcode data, never a file name, "
                   "number or other argument); the command is carried out as written");
}

} // namespace folio
