// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The help window: the program's stand-in for the platform help system. It
// shows the help document folioset.hlp (HTML) from its contents page, with
// back, forward and contents buttons; links within the document work.
#pragma once

#include <QMainWindow>

class QTextBrowser;

namespace folio::ui {

class HelpWindow : public QMainWindow {
    Q_OBJECT
  public:
    explicit HelpWindow(QWidget* parent = nullptr);

    // Shows the contents page of the help file at `path`; when the file is
    // missing the window says so.
    void ShowContents(const QString& path);

    QTextBrowser* Browser() const { return browser_; }

  private:
    void placeOnScreen();

    QTextBrowser* browser_;
    bool placed_ = false;
};

} // namespace folio::ui
