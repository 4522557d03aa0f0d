// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Find and replace in the macro editor.
#include "FindBar.h"

#include "ObjectNames.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QToolButton>

namespace folio::ui {

FindBar::FindBar(QPlainTextEdit& editor, QWidget* parent) : QWidget(parent), editor_(editor) {
    auto* lblFind = new QLabel(QStringLiteral("F&ind:"), this);
    efFind = new QLineEdit(this);
    lblFind->setBuddy(efFind);
    lblReplace_ = new QLabel(QStringLiteral("Replace &with:"), this);
    efReplace = new QLineEdit(this);
    lblReplace_->setBuddy(efReplace);
    cbMatchCase = new QCheckBox(QStringLiteral("&Match case"), this);
    btnNext = new QPushButton(QStringLiteral("Find &Next"), this);
    btnReplace = new QPushButton(QStringLiteral("&Replace"), this);
    btnReplaceAll = new QPushButton(QStringLiteral("Replace &All"), this);
    btnClose = new QToolButton(this);
    btnClose->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));
    btnClose->setAutoRaise(true);
    btnClose->setToolTip(QStringLiteral("Close (Esc)"));
    lblResult = new QLabel(this);
    for (QPushButton* b : {btnNext, btnReplace, btnReplaceAll})
        b->setAutoDefault(false);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(4, 2, 4, 2);
    grid->setVerticalSpacing(2);
    grid->addWidget(lblFind, 0, 0);
    grid->addWidget(efFind, 0, 1);
    grid->addWidget(btnNext, 0, 2);
    grid->addWidget(cbMatchCase, 0, 3);
    grid->addWidget(btnClose, 0, 5, Qt::AlignRight);
    grid->addWidget(lblReplace_, 1, 0);
    grid->addWidget(efReplace, 1, 1);
    grid->addWidget(btnReplace, 1, 2);
    grid->addWidget(btnReplaceAll, 1, 3);
    grid->addWidget(lblResult, 1, 4, 1, 2);
    grid->setColumnStretch(1, 1);

    connect(efFind, &QLineEdit::returnPressed, this, [this] { FindNext(); });
    connect(efReplace, &QLineEdit::returnPressed, this, &FindBar::ReplaceOne);
    connect(btnNext, &QPushButton::clicked, this, [this] { FindNext(); });
    connect(btnReplace, &QPushButton::clicked, this, &FindBar::ReplaceOne);
    connect(btnReplaceAll, &QPushButton::clicked, this, &FindBar::ReplaceAll);
    connect(btnClose, &QToolButton::clicked, this, [this] {
        hide();
        editor_.setFocus();
    });
    connect(efFind, &QLineEdit::textEdited, this, [this] { say({}); });

    FOLIO_NAME(efFind);
    FOLIO_NAME(efReplace);
    FOLIO_NAME(cbMatchCase);
    FOLIO_NAME(btnNext);
    FOLIO_NAME(btnReplace);
    FOLIO_NAME(btnReplaceAll);
    FOLIO_NAME(btnClose);
    FOLIO_NAME(lblResult);
    hide();
}

void FindBar::Open(bool replace) {
    const QString selected = editor_.textCursor().selectedText();
    // A selection across lines holds U+2029 for each break: no search text.
    if (!selected.isEmpty() && !selected.contains(QChar::ParagraphSeparator))
        efFind->setText(selected);
    for (QWidget* w : std::initializer_list<QWidget*>{lblReplace_, efReplace, btnReplace,
                                                      btnReplaceAll})
        w->setVisible(replace);
    say({});
    show();
    efFind->setFocus();
    efFind->selectAll();
}

void FindBar::say(const QString& text, bool bad) {
    lblResult->setText(text);
    lblResult->setStyleSheet(bad ? QStringLiteral("color: #b00020") : QString());
}

bool FindBar::FindNext(bool backwards) {
    const QString what = efFind->text();
    if (what.isEmpty())
        return false;
    QTextDocument::FindFlags flags;
    if (cbMatchCase->isChecked())
        flags |= QTextDocument::FindCaseSensitively;
    if (backwards)
        flags |= QTextDocument::FindBackward;
    QTextDocument* doc = editor_.document();
    QTextCursor found = doc->find(what, editor_.textCursor(), flags);
    if (found.isNull()) {
        // Once round: from the other end.
        QTextCursor from(doc);
        if (backwards)
            from.movePosition(QTextCursor::End);
        found = doc->find(what, from, flags);
    }
    if (found.isNull()) {
        say(QStringLiteral("Not found"), true);
        return false;
    }
    say({});
    editor_.setTextCursor(found);
    editor_.ensureCursorVisible();
    return true;
}

bool FindBar::selectionMatches() const {
    const QString selected = editor_.textCursor().selectedText();
    return !selected.isEmpty() &&
           selected.compare(efFind->text(), cbMatchCase->isChecked() ? Qt::CaseSensitive
                                                                    : Qt::CaseInsensitive) == 0;
}

bool FindBar::ReplaceOne() {
    if (efFind->text().isEmpty())
        return false;
    if (selectionMatches())
        editor_.textCursor().insertText(efReplace->text());
    return FindNext();
}

int FindBar::ReplaceAll() {
    const QString what = efFind->text();
    if (what.isEmpty())
        return 0;
    QTextDocument::FindFlags flags;
    if (cbMatchCase->isChecked())
        flags |= QTextDocument::FindCaseSensitively;
    QTextDocument* doc = editor_.document();
    QTextCursor edit(doc);
    edit.beginEditBlock(); // one step of undo
    int count = 0;
    // Each search starts after the text put in, so a replacement that holds
    // the search text is not replaced again.
    for (QTextCursor at(doc);;) {
        at = doc->find(what, at, flags);
        if (at.isNull())
            break;
        at.insertText(efReplace->text());
        ++count;
    }
    edit.endEditBlock();
    say(count == 1 ? QStringLiteral("1 replaced") : QStringLiteral("%1 replaced").arg(count),
        count == 0);
    return count;
}

void FindBar::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        hide();
        editor_.setFocus();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace folio::ui
