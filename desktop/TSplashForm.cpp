// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The splash window: a frameless, always-on-top 434 x 284 window centred on
// the screen, its picture in a panel with a single-line border and three
// labels drawn over it.
#include "TSplashForm.h"

#include "Artwork.h"
#include "ObjectNames.h"
#include "Program.h"
#include "TAboutBox.h"
#include "TCommandForm.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTimer>

namespace {

QLabel* overlayLabel(QWidget* parent, const QString& text, int x, int y, int pixelHeight,
                     bool bold) {
    auto* label = new QLabel(text, parent);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(pixelHeight);
    font.setBold(bold);
    label->setFont(font);
    label->setAttribute(Qt::WA_TranslucentBackground);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(palette);
    label->move(x, y);
    label->adjustSize();
    return label;
}

} // namespace

TSplashForm::TSplashForm(Program& program) : program_(program) {
    setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setWindowTitle(QStringLiteral("Brackwell Folioset"));
    setFixedSize(434, 284);

    Panel1 = new QFrame(this);
    Panel1->setFrameStyle(QFrame::Box | QFrame::Plain);
    Panel1->setLineWidth(2);
    Panel1->setGeometry(0, 0, 434, 284);
    Image1 = new QLabel(Panel1);
    Image1->setPixmap(folio::ui::SplashPicture());
    Image1->setGeometry(2, 2, 430, 280);

    lblProduct = overlayLabel(Panel1, QString(), 8, 8, 32, true);
    lblProduct->setText(QStringLiteral("Folioset"));
    lblProduct->adjustSize();
    lblCopyright =
        overlayLabel(Panel1, QString::fromUtf8(TAboutBox::kCopyright), 8, 244, 11, false);
    lblProtected =
        overlayLabel(Panel1, QString::fromUtf8(TAboutBox::kProtected), 8, 260, 11, false);

    FOLIO_NAME(Panel1);
    FOLIO_NAME(Image1);
    FOLIO_NAME(lblProduct);
    FOLIO_NAME(lblCopyright);
    FOLIO_NAME(lblProtected);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    // Started by the program once every window is made; the tick is
    // handled once the event loop runs.
    Timer1 = new QTimer(this);
    Timer1->setInterval(kShowMs);
    FOLIO_NAME(Timer1);
    connect(Timer1, &QTimer::timeout, this, &TSplashForm::Timer1Timer);
}

void TSplashForm::Timer1Timer() {
    Timer1->stop();
    program_.CommandForm->Timer1->start();
    hide(); // stays the main window
}

void TSplashForm::closeEvent(QCloseEvent* event) {
    event->accept();
    program_.MainWindowClosed();
}
