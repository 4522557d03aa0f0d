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
    static constexpr const char* kAllRights = "All rights reserved.";
    static constexpr const char* kProtected =
        "This program is protected by copyright law and international treaties.";
    static constexpr const char* kComments =
        "Unauthorised copying or distribution of this program, or of any part of it, "
        "is an offence.";

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
