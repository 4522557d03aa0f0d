// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Find and replace for the macro editor: a bar under the editor, not a
// dialog, so the text stays in reach while it is open. Find goes on from the
// cursor and wraps past the end (and past the start, backwards); Replace
// replaces the match that is selected and finds the next; Replace All
// replaces every match as one step of undo. Escape closes the bar.
#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QToolButton;

namespace folio::ui {

class FindBar : public QWidget {
    Q_OBJECT
  public:
    explicit FindBar(QPlainTextEdit& editor, QWidget* parent = nullptr);

    // Shows the bar with the find field (and with `replace`, the replace
    // field) and puts the keyboard focus in the find field, which takes the
    // editor's selection when it is within one line.
    void Open(bool replace);
    // Selects the next match after the cursor (before it with `backwards`);
    // false, with the bar saying so, when the text holds none.
    bool FindNext(bool backwards = false);
    bool ReplaceOne();
    // The number of matches replaced.
    int ReplaceAll();

    QLineEdit* efFind;
    QLineEdit* efReplace;
    QCheckBox* cbMatchCase;
    QPushButton* btnNext;
    QPushButton* btnReplace;
    QPushButton* btnReplaceAll;
    QToolButton* btnClose;
    QLabel* lblResult;

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    bool selectionMatches() const;
    void say(const QString& text, bool bad = false);

    QPlainTextEdit& editor_;
    QLabel* lblReplace_;
};

} // namespace folio::ui
