// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The encodings a macro file is read and saved in. Files made on Windows are
// code page 1252; editors on Linux save UTF-8, some with a byte-order mark.
// A file is taken as UTF-8 when it starts with the mark, or when its bytes
// are valid UTF-8 and at least one is not ASCII (code page 1252 text with
// accents is almost never valid UTF-8). The editor remembers which one a
// file was read in, and saving writes it back the same way, so a file
// keeps its bytes through Open and Save.
#pragma once

#include "Diagnostics.h"

#include <QByteArray>
#include <QString>

namespace folio::ui {

enum class MacroEncoding { Cp1252, Utf8, Utf8WithMark };

// How `bytes` (a whole file) are read. Pure ASCII says nothing: it is read
// as `plain`, the encoding chosen for new files.
MacroEncoding DetectEncoding(const QByteArray& bytes, MacroEncoding plain);

// Whether `encoding` is one of the two UTF-8 forms.
inline bool IsUtf8(MacroEncoding encoding) {
    return encoding != MacroEncoding::Cp1252;
}

// The number of bytes the mark of `encoding` takes at a file's start.
int MarkLength(MacroEncoding encoding);

// One line's bytes as text and back; the mark is not part of a line.
QString DecodeLine(const QByteArray& line, MacroEncoding encoding);
QByteArray EncodeLine(const QString& line, MacroEncoding encoding);

// The first character of `text` that code page 1252 cannot hold (a whole
// surrogate pair counts as one), or -1 when every one fits. The desktop
// engine sets text in that code page, whatever the file was read in.
qsizetype FirstOutsideCp1252(const QString& text);
// The warning for macro line `line` (1-based) when `text` holds a character
// that code page lacks; false, leaving `d` alone, when it holds none.
bool OutsideCp1252Report(const QString& text, int line, folio::Diagnostic& d);

// The names the encoding setting is stored under, and the encoding of one.
// A name not known reads as code page 1252.
QString EncodingName(MacroEncoding encoding);
MacroEncoding EncodingOfName(const QString& name);

} // namespace folio::ui
