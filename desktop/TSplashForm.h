// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The splash window: the program's main window. It shows the product name
// and picture for three seconds, then starts the command window's start
// timer and hides; closing it ends the program.
#pragma once

#include <QWidget>

class Program;
class QFrame;
class QLabel;
class QTimer;

class TSplashForm : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kShowMs = 3000;

    explicit TSplashForm(Program& program);

    QFrame* Panel1;
    QLabel* Image1;
    QLabel* lblProduct;
    QLabel* lblCopyright;
    QLabel* lblProtected;
    QTimer* Timer1;

  public slots:
    void Timer1Timer();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    Program& program_;
};
