// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Pictures painted with QPainter. The splash shows a fax page leaving a
// machine: a soft blue ground, a white sheet with text lines and a wave.
#include "Artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <cmath>

namespace folio::ui {

namespace {

// A sheet of paper with grey text lines, its top-left corner at (x, y).
void paintSheet(QPainter& p, QRectF sheet, int lines) {
    p.setPen(QPen(QColor(90, 100, 120), 1));
    p.setBrush(Qt::white);
    p.drawRect(sheet);
    p.setPen(QPen(QColor(150, 155, 165), sheet.width() > 60 ? 3 : 1));
    const qreal margin = sheet.width() * 0.12;
    const qreal step = (sheet.height() - 2 * margin) / (lines + 1);
    for (int i = 1; i <= lines; ++i) {
        const qreal y = sheet.top() + margin + i * step;
        const qreal end = (i % 4 == 0) ? 0.55 : 0.88;
        p.drawLine(QPointF(sheet.left() + margin, y),
                   QPointF(sheet.left() + sheet.width() * end, y));
    }
}

} // namespace

QPixmap SplashPicture() {
    QPixmap pixmap(430, 280);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient ground(0, 0, 430, 280);
    ground.setColorAt(0, QColor(214, 228, 245));
    ground.setColorAt(1, QColor(139, 170, 212));
    p.fillRect(pixmap.rect(), ground);

    // Two sheets, slightly turned, on the right half.
    p.save();
    p.translate(270, 40);
    p.rotate(-6);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 40));
    p.drawRect(QRectF(6, 6, 120, 160));
    paintSheet(p, QRectF(0, 0, 120, 160), 12);
    p.restore();
    p.save();
    p.translate(300, 70);
    p.rotate(5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 50));
    p.drawRect(QRectF(6, 6, 110, 150));
    paintSheet(p, QRectF(0, 0, 110, 150), 11);
    p.restore();

    // A signal wave from the left edge towards the sheets.
    QPainterPath wave;
    wave.moveTo(20, 180);
    for (int x = 20; x <= 250; x += 10)
        wave.lineTo(x, 180 + 14 * std::sin(x / 14.0) * (x / 250.0));
    p.setPen(QPen(QColor(40, 70, 130, 170), 2.5));
    p.setBrush(Qt::NoBrush);
    p.drawPath(wave);
    p.end();
    return pixmap;
}

QPixmap ProgramIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setPen(QPen(QColor(30, 50, 90), 1));
    p.setBrush(QColor(70, 110, 170));
    p.drawRoundedRect(QRectF(1.5, 14.5, 29, 15), 2, 2); // the machine
    paintSheet(p, QRectF(7.5, 2.5, 17, 18), 4);         // the page leaving it
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 50, 90));
    p.drawRect(QRectF(5, 21, 22, 2)); // the slot
    p.end();
    return pixmap;
}

QIcon TriangleIcon(bool left) {
    QPixmap pixmap(12, 12);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(20, 20, 20));
    QPolygonF triangle;
    if (left)
        triangle << QPointF(2, 6) << QPointF(10, 1) << QPointF(10, 11);
    else
        triangle << QPointF(10, 6) << QPointF(2, 1) << QPointF(2, 11);
    p.drawPolygon(triangle);
    p.end();
    return QIcon(pixmap);
}

QIcon FontButtonIcon() {
    QPixmap pixmap(24, 22);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::TextAntialiasing);
    QFont serif(QStringLiteral("Serif"));
    serif.setPixelSize(17);
    serif.setBold(true);
    p.setFont(serif);
    p.setPen(QColor(20, 20, 20));
    p.drawText(QRect(0, 0, 15, 20), Qt::AlignCenter, QStringLiteral("A"));
    QFont small(QStringLiteral("Sans Serif"));
    small.setPixelSize(11);
    p.setFont(small);
    p.setPen(QColor(40, 80, 160));
    p.drawText(QRect(12, 6, 12, 15), Qt::AlignCenter, QStringLiteral("a"));
    p.end();
    return QIcon(pixmap);
}

} // namespace folio::ui
