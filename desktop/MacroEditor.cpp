// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The macro editor's line-number margin and its line colours.
#include "MacroEditor.h"

#include <QPainter>
#include <QTextBlock>

namespace folio::ui {

// ---- colours ------------------------------------------------------------

MacroHighlighter::MacroHighlighter(QTextDocument* document) : QSyntaxHighlighter(document) {
    command_.setForeground(QColor(0x1a, 0x4f, 0xa0)); // dark blue
    prefix_ = command_;
    prefix_.setFontWeight(QFont::Bold);
    comment_.setForeground(QColor(0x2e, 0x7d, 0x32)); // dark green
    comment_.setFontItalic(true);
}

void MacroHighlighter::SetPrefixes(const QString& macroStart, const QString& commentStart) {
    if (macroStart == macroStart_ && commentStart == commentStart_)
        return;
    macroStart_ = macroStart;
    commentStart_ = commentStart;
    rehighlight();
}

MacroHighlighter::LineKind MacroHighlighter::KindOf(const QString& line) const {
    // An empty prefix matches every line, as it does in the engine.
    if (line.startsWith(macroStart_, Qt::CaseInsensitive))
        return Command;
    if (line.startsWith(commentStart_, Qt::CaseInsensitive))
        return Comment;
    return Text;
}

void MacroHighlighter::highlightBlock(const QString& text) {
    const LineKind kind = KindOf(text);
    setCurrentBlockState(kind);
    if (kind == Command) {
        setFormat(0, int(macroStart_.size()), prefix_);
        setFormat(int(macroStart_.size()), int(text.size() - macroStart_.size()), command_);
    } else if (kind == Comment) {
        setFormat(0, int(text.size()), comment_);
    }
}

// ---- the line-number margin ---------------------------------------------

class NumberMargin : public QWidget {
  public:
    explicit NumberMargin(MacroEditor* editor) : QWidget(editor), editor_(editor) {}
    QSize sizeHint() const override { return {editor_->NumberMarginWidth(), 0}; }

  protected:
    void paintEvent(QPaintEvent* event) override { editor_->paintNumbers(event); }

  private:
    MacroEditor* editor_;
};

MacroEditor::MacroEditor(QWidget* parent) : QPlainTextEdit(parent) {
    margin_ = new NumberMargin(this);
    margin_->setObjectName(QStringLiteral("numberMargin"));
    highlighter_ = new MacroHighlighter(document());
    connect(this, &QPlainTextEdit::blockCountChanged, this, &MacroEditor::fitMargin);
    connect(this, &QPlainTextEdit::updateRequest, this, [this](const QRect& rect, int dy) {
        if (dy)
            margin_->scroll(0, dy);
        else
            margin_->update(0, rect.y(), margin_->width(), rect.height());
    });
    // The current line's number is bold.
    connect(this, &QPlainTextEdit::cursorPositionChanged, margin_, [this] { margin_->update(); });
    fitMargin();
}

int MacroEditor::NumberMarginWidth() const {
    int digits = 1;
    for (int n = std::max(1, blockCount()); n >= 10; n /= 10)
        ++digits;
    return 8 + fontMetrics().horizontalAdvance(QLatin1Char('9')) * std::max(3, digits);
}

void MacroEditor::fitMargin() {
    setViewportMargins(NumberMarginWidth(), 0, 0, 0);
    const QRect inside = contentsRect();
    margin_->setGeometry(inside.left(), inside.top(), NumberMarginWidth(), inside.height());
}

void MacroEditor::resizeEvent(QResizeEvent* event) {
    QPlainTextEdit::resizeEvent(event);
    fitMargin();
}

void MacroEditor::paintNumbers(QPaintEvent* event) {
    QPainter painter(margin_);
    painter.fillRect(event->rect(), palette().color(QPalette::AlternateBase));
    painter.setPen(palette().color(QPalette::PlaceholderText));
    const int width = margin_->width() - 4;
    const int height = fontMetrics().height();
    const int current = textCursor().blockNumber();
    QTextBlock block = firstVisibleBlock();
    qreal top = blockBoundingGeometry(block).translated(contentOffset()).top();
    while (block.isValid() && top <= event->rect().bottom()) {
        const qreal bottom = top + blockBoundingRect(block).height();
        if (block.isVisible() && bottom >= event->rect().top()) {
            QFont font = painter.font();
            font.setBold(block.blockNumber() == current);
            painter.setFont(font);
            painter.drawText(0, int(top), width, height, Qt::AlignRight,
                             QString::number(block.blockNumber() + 1));
        }
        block = block.next();
        top = bottom;
    }
}

} // namespace folio::ui
