// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The About box: product name, version and the maker's notices, shown
// modally from Help > About.
#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

class TAboutBox : public QDialog {
    Q_OBJECT
  public:
    // The notices, shared with the splash window.
    static constexpr const char* kCopyright = "Copyright \u00A9 1998 Tessaly";
    // The rights line and the notice state the licence the program is given
    // under: a claim that copying it is an offence would be false.
    static constexpr const char* kAllRights = "Licensed under the Apache License 2.0.";
    static constexpr const char* kProtected =
        "This program is protected by copyright law and international treaties.";
    // "%1" is the release (1.2.0).
    static constexpr const char* kComments =
        "Folioset %1: you may copy, change and share it under the licence's terms.";

    explicit TAboutBox(QWidget* parent = nullptr);

    QFrame* Panel1;
    QLabel* ProgramIcon;
    QLabel* ProductName;
    QLabel* Version;
    QLabel* Copyright;
    QLabel* lblAllRights;
    QLabel* Comments;
    QPushButton* OKButton;
};
