// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The application's error box and the guard every handler runs through.
#include "ErrorBox.h"

#include "Cp1252.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>
#include <QStringDecoder>

#include <new>

namespace folio::ui {

QString DecodedText(const std::string& message) {
    const QByteArray bytes = QByteArray::fromStdString(message);
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        text = FromCp1252(bytes);
    return text;
}

QString ErrorText(const std::string& message) {
    QString text = DecodedText(message).trimmed();
    if (!text.isEmpty() && !text.endsWith('.') && !text.endsWith('!') && !text.endsWith('?'))
        text += '.';
    return text;
}

QString ErrorText(const std::exception& error) {
    if (dynamic_cast<const std::bad_alloc*>(&error))
        return QStringLiteral("Out of memory.");
    return ErrorText(std::string(error.what()));
}

int CaptionWidth(const QString& caption) {
    QFont font = QApplication::font("QMdiSubWindowTitleBar");
    font.setBold(true);
    if (font.pointSizeF() > 0 && font.pointSizeF() < 10)
        font.setPointSizeF(10);
    else if (font.pixelSize() > 0 && font.pixelSize() < 14)
        font.setPixelSize(14);
    const QFontMetrics metrics(font);
    // Icon, minimise, maximise and close buttons, each about a line high
    // and square, and the frame's padding on both sides.
    const int buttons = 4 * (metrics.height() + 6);
    return metrics.horizontalAdvance(caption) + buttons + 2 * 16;
}

void FitCaption(QMessageBox& box) {
    // QMessageBox sets its own size when shown, ignoring a minimum width
    // set on it; a spacer across its layout's grid widens it instead.
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid)
        return;
    grid->addItem(new QSpacerItem(CaptionWidth(box.windowTitle()), 0, QSizePolicy::Minimum,
                                  QSizePolicy::Minimum),
                  grid->rowCount(), 0, 1, grid->columnCount());
}

void ShowError(QWidget* parent, const QString& text, const QString& details) {
    QMessageBox box(QMessageBox::Critical, QString::fromLatin1(kAppTitle), text, QMessageBox::Ok,
                    parent);
    box.setInformativeText(details);
    FitCaption(box);
    box.exec();
}

bool Guarded(QWidget* parent, const std::function<void()>& action,
             const std::function<QString()>& details) {
    try {
        action();
        return true;
    } catch (const std::exception& e) {
        ShowError(parent, ErrorText(e), details ? details() : QString());
    } catch (...) {
        ShowError(parent, QStringLiteral("An unexpected error occurred."));
    }
    return false;
}

} // namespace folio::ui
