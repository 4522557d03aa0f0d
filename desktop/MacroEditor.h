// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The macro editor of the command window: a plain text editor with the
// line numbers in a margin on its left (the numbers the problems list and
// the diagnostics give) and the lines coloured as the engine reads them:
// command lines (those that start with the macro prefix) in one colour,
// comment lines in another, text as it is. The prefixes are the settings'
// and are compared as the engine compares them, without regard to case,
// the macro prefix first.
#pragma once

#include <QPlainTextEdit>
#include <QSyntaxHighlighter>

namespace folio::ui {

class MacroHighlighter : public QSyntaxHighlighter {
    Q_OBJECT
  public:
    enum LineKind { Text = 0, Command = 1, Comment = 2 };

    explicit MacroHighlighter(QTextDocument* document);
    // New prefixes colour the whole text again.
    void SetPrefixes(const QString& macroStart, const QString& commentStart);
    // What the engine takes `line` for under the current prefixes.
    LineKind KindOf(const QString& line) const;

  protected:
    void highlightBlock(const QString& text) override;

  private:
    QString macroStart_, commentStart_;
    QTextCharFormat command_, prefix_, comment_;
};

class MacroEditor : public QPlainTextEdit {
    Q_OBJECT
  public:
    explicit MacroEditor(QWidget* parent = nullptr);
    MacroHighlighter* Highlighter() const { return highlighter_; }
    // The width of the line-number margin, in pixels: room for the digits
    // of the last line number, at least three.
    int NumberMarginWidth() const;

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    friend class NumberMargin;
    void paintNumbers(QPaintEvent* event);
    void fitMargin();

    QWidget* margin_;
    MacroHighlighter* highlighter_;
};

} // namespace folio::ui
