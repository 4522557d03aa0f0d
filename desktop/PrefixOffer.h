// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The other variant's command prefix. The desktop program reads commands
// after the prefix of its settings (":FAX:" unless changed); foliobuild, the
// library and the server read them after "@CONVERT:". A macro written for
// one and opened in the other has no command line at all: every command is
// set as text. This finds such a macro, says so in the problems list, and
// changes the prefix in the editor when the user accepts the offer; the
// file itself changes only when the user saves it.
#pragma once

#include "Diagnostics.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

class QTextDocument;

namespace folio::ui {

// The two variants' prefixes: the desktop program's default and the one of
// foliobuild and the library.
inline constexpr const char* kProgramPrefix = ":FAX:";
inline constexpr const char* kLibraryPrefix = "@CONVERT:";

// The problems list's kind for the note.
inline constexpr const char* kOtherPrefixKind = "other-prefix";

struct OtherPrefix {
    QString prefix;   // the other variant's prefix the lines use; empty: none
    QList<int> lines; // the lines (0-based) that start with it
    bool Found() const { return !prefix.isEmpty(); }
};

// What `lines` hold under the macro and comment prefixes of the settings
// (code page 1252, compared as the engine compares them: ASCII letters in
// any case). Found only when no line is a command and at least one line
// that is not a comment starts with a prefix of the other variant (of the
// two, the one more lines start with); a prefix equal to the settings' own
// is none. A macro with one command line is left alone: its other lines
// are meant as text.
OtherPrefix FindOtherPrefix(const QStringList& lines, const QByteArray& macroStart,
                            const QByteArray& commentStart);

// The note for the problems list, on the first of the found lines.
folio::Diagnostic OtherPrefixNote(const OtherPrefix& found, const QString& macroStart);

// Who reads commands after `prefix`, for the note and the question.
QString PrefixOwner(const QString& prefix);

// Puts `macroStart` in place of the found prefix at the start of the found
// lines of `document`, as one step of undo. A line that no longer starts
// with the prefix is left alone. Returns the number of lines changed.
int ReplacePrefix(QTextDocument& document, const OtherPrefix& found, const QString& macroStart);

} // namespace folio::ui
