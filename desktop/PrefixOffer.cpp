// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The other variant's command prefix: finding it, the note, the change.
#include "PrefixOffer.h"

#include "Cp1252.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <string>

namespace folio::ui {

namespace {

char upperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? char(c - 32) : c;
}

// Whether the engine would find `prefix` at the start of `line`. The engine
// sees the line in code page 1252, where each character is one byte and a
// pair of surrogates one '?', so the first prefix.size() bytes come from at
// most twice as many characters. The prefix ends at a NUL byte, as the
// engine's C string does.
bool startsLikeEngine(const QString& line, QByteArray prefix) {
    const qsizetype nul = prefix.indexOf('\0');
    if (nul >= 0)
        prefix.truncate(nul);
    if (prefix.isEmpty())
        return true;
    const QByteArray start = ToCp1252(line.left(2 * prefix.size()));
    if (start.size() < prefix.size())
        return false;
    for (qsizetype i = 0; i < prefix.size(); ++i)
        if (upperAscii(start[i]) != upperAscii(prefix[i]))
            return false;
    return true;
}

bool samePrefix(const QByteArray& a, const QByteArray& b) {
    return a.size() == b.size() && startsLikeEngine(FromCp1252(a), b);
}

} // namespace

OtherPrefix FindOtherPrefix(const QStringList& lines, const QByteArray& macroStart,
                            const QByteArray& commentStart) {
    QList<QByteArray> candidates;
    for (const char* known : {kProgramPrefix, kLibraryPrefix})
        if (!samePrefix(known, macroStart))
            candidates.append(known);
    QList<int> found[2];
    for (int i = 0; i < lines.size(); ++i) {
        const QString& line = lines[i];
        if (startsLikeEngine(line, macroStart))
            return {}; // a command: the macro is this variant's
        if (startsLikeEngine(line, commentStart))
            continue;
        for (int c = 0; c < candidates.size(); ++c)
            if (startsLikeEngine(line, candidates[c]))
                found[c].append(i);
    }
    const int best = found[1].size() > found[0].size() ? 1 : 0;
    if (best >= candidates.size() || found[best].isEmpty())
        return {};
    return {QString::fromLatin1(candidates[best]), found[best]};
}

QString PrefixOwner(const QString& prefix) {
    return prefix.compare(QLatin1String(kLibraryPrefix), Qt::CaseInsensitive) == 0
               ? QStringLiteral("the command prefix of foliobuild and the library")
               : QStringLiteral("the desktop program's default command prefix");
}

folio::Diagnostic OtherPrefixNote(const OtherPrefix& found, const QString& macroStart) {
    folio::Diagnostic d;
    d.line = found.lines.isEmpty() ? 0 : found.lines.first() + 1;
    d.severity = folio::Severity::Note;
    d.kind = kOtherPrefixKind;
    const qsizetype n = found.lines.size();
    d.message = QStringLiteral("%1 with \"%2\", %3, and none with the macro prefix \"%4\": "
                               "%5 set as text, not run as commands")
                    .arg(n == 1 ? QStringLiteral("1 line starts")
                                : QStringLiteral("%1 lines start").arg(n),
                         found.prefix, PrefixOwner(found.prefix), macroStart,
                         n == 1 ? QStringLiteral("it is") : QStringLiteral("they are"))
                    .toStdString();
    return d;
}

int ReplacePrefix(QTextDocument& document, const OtherPrefix& found, const QString& macroStart) {
    const QByteArray prefix = ToCp1252(found.prefix);
    QTextCursor cursor(&document);
    int changed = 0;
    cursor.beginEditBlock();
    for (const int index : found.lines) {
        const QTextBlock block = document.findBlockByNumber(index);
        if (!block.isValid() || !startsLikeEngine(block.text(), prefix))
            continue;
        cursor.setPosition(block.position());
        cursor.setPosition(block.position() + int(found.prefix.size()), QTextCursor::KeepAnchor);
        cursor.insertText(macroStart);
        ++changed;
    }
    cursor.endEditBlock();
    return changed;
}

} // namespace folio::ui
