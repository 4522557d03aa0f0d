// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The About box: a fixed 298 x 213 dialog, its texts in a bevelled panel at
// the positions of the classic About dialog.
#include "TAboutBox.h"

#include "Artwork.h"
#include "ObjectNames.h"

#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About"));
    // A fixed dialog frame: caption and close button, nothing to minimise
    // or maximise (a window manager reads the flags as its hints).
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(298, 213);

    Panel1 = new QFrame(this);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setLineWidth(2);
    Panel1->setGeometry(8, 8, 281, 161);

    ProgramIcon = new QLabel(Panel1);
    ProgramIcon->setPixmap(folio::ui::ProgramIcon());
    ProgramIcon->setScaledContents(true);
    ProgramIcon->setGeometry(8, 8, 65, 57);

    ProductName = new QLabel(QStringLiteral("Brackwell Folioset"), Panel1);
    QFont bold = ProductName->font();
    bold.setPixelSize(16);
    bold.setBold(true);
    ProductName->setFont(bold);
    ProductName->move(88, 16);
    Version = new QLabel(QStringLiteral("Version 1.0"), Panel1);
    Version->move(88, 40);
    Copyright = new QLabel(QString::fromUtf8(kCopyright), Panel1);
    Copyright->move(8, 80);
    lblAllRights = new QLabel(QString::fromUtf8(kAllRights), Panel1);
    lblAllRights->move(8, 96);
    Comments = new QLabel(QString::fromUtf8(kComments).arg(QStringLiteral(FOLIO_VERSION)), Panel1);
    Comments->setWordWrap(true);
    Comments->setGeometry(8, 120, 265, 30);
    for (QLabel* l : {ProductName, Version, Copyright, lblAllRights})
        l->adjustSize();

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setDefault(true);
    OKButton->setGeometry(111, 180, 75, 25);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

    FOLIO_NAME(Panel1);
    FOLIO_NAME(ProgramIcon);
    FOLIO_NAME(ProductName);
    FOLIO_NAME(Version);
    FOLIO_NAME(Copyright);
    FOLIO_NAME(lblAllRights);
    FOLIO_NAME(Comments);
    FOLIO_NAME(OKButton);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}
