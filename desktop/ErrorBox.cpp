// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The application's error box and the guard every handler runs through.
#include "ErrorBox.h"

#include "Cp1252.h"

#include <QMessageBox>
#include <QStringDecoder>

#include <new>

namespace folio::ui {

QString ErrorText(const std::string& message) {
    const QByteArray bytes = QByteArray::fromStdString(message);
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        text = FromCp1252(bytes);
    text = text.trimmed();
    if (!text.isEmpty() && !text.endsWith('.') && !text.endsWith('!') && !text.endsWith('?'))
        text += '.';
    return text;
}

QString ErrorText(const std::exception& error) {
    if (dynamic_cast<const std::bad_alloc*>(&error))
        return QStringLiteral("Out of memory.");
    return ErrorText(std::string(error.what()));
}

void ShowError(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Critical, QString::fromLatin1(kAppTitle), text, QMessageBox::Ok,
                    parent);
    box.exec();
}

bool Guarded(QWidget* parent, const std::function<void()>& action) {
    try {
        action();
        return true;
    } catch (const std::exception& e) {
        ShowError(parent, ErrorText(e));
    } catch (...) {
        ShowError(parent, QStringLiteral("An unexpected error occurred."));
    }
    return false;
}

} // namespace folio::ui
