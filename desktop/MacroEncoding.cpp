// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Encoding detection and line conversion of macro files.
#include "MacroEncoding.h"

#include "Cp1252.h"

#include <QList>
#include <QStringDecoder>

namespace folio::ui {

namespace {

constexpr char kMark[] = "\xEF\xBB\xBF";

bool hasHighByte(const QByteArray& bytes) {
    for (const char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80)
            return true;
    return false;
}

} // namespace

MacroEncoding DetectEncoding(const QByteArray& bytes, MacroEncoding plain) {
    if (bytes.startsWith(kMark))
        return MacroEncoding::Utf8WithMark;
    if (!hasHighByte(bytes))
        return plain == MacroEncoding::Cp1252 ? plain : MacroEncoding::Utf8;
    // Qt's decoder refuses overlong forms, surrogates and code points past
    // U+10FFFF, as a strict reader does.
    // (The decoder works when its result is taken as a string.)
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    return decoder.hasError() ? MacroEncoding::Cp1252 : MacroEncoding::Utf8;
}

int MarkLength(MacroEncoding encoding) {
    return encoding == MacroEncoding::Utf8WithMark ? 3 : 0;
}

QString DecodeLine(const QByteArray& line, MacroEncoding encoding) {
    return IsUtf8(encoding) ? QString::fromUtf8(line) : FromCp1252(line);
}

QByteArray EncodeLine(const QString& line, MacroEncoding encoding) {
    return IsUtf8(encoding) ? line.toUtf8() : ToCp1252(line);
}

qsizetype FirstOutsideCp1252(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
            continue;
        if (ToCp1252(QString(text[i])) != "?")
            continue;
        return i;
    }
    return -1;
}

bool OutsideCp1252Report(const QString& text, int line, folio::Diagnostic& d) {
    const qsizetype at = FirstOutsideCp1252(text);
    if (at < 0)
        return false;
    const char32_t c = QStringView(text).mid(at).toUcs4().value(0);
    d.line = line;
    d.severity = folio::Severity::Warning;
    d.kind = folio::kind::NoGlyph;
    d.message = QStringLiteral("\"%1\" (U+%2) is not in code page 1252, which this program "
                               "sets text in; it is set as '?'")
                    .arg(QString::fromUcs4(&c, 1),
                         QString::number(uint(c), 16).toUpper().rightJustified(4, '0'))
                    .toStdString();
    return true;
}

QString EncodingName(MacroEncoding encoding) {
    return IsUtf8(encoding) ? QStringLiteral("UTF-8") : QStringLiteral("Windows-1252");
}

MacroEncoding EncodingOfName(const QString& name) {
    return name.trimmed().compare(QStringLiteral("UTF-8"), Qt::CaseInsensitive) == 0
               ? MacroEncoding::Utf8
               : MacroEncoding::Cp1252;
}

} // namespace folio::ui
