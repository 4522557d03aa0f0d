// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The problems list under the macro editor.
#include "ProblemList.h"

#include "ErrorBox.h"

#include <QHeaderView>
#include <QStyle>

ProblemList::ProblemList(QWidget* parent) : QTreeWidget(parent) {
    setColumnCount(3);
    setHeaderLabels({QStringLiteral("Line"), QStringLiteral("Kind"), QStringLiteral("Message")});
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    header()->setStretchLastSection(true);
    header()->setSectionResizeMode(ColLine, QHeaderView::ResizeToContents);
    header()->setSectionResizeMode(ColKind, QHeaderView::ResizeToContents);
    // Enter (and a double click) activates; a single click chooses too.
    connect(this, &QTreeWidget::itemActivated, this, &ProblemList::choose);
    connect(this, &QTreeWidget::itemClicked, this, &ProblemList::choose);
    hide();
}

void ProblemList::Clear() {
    reports_.clear();
    dropped_ = 0;
    hasError_ = false;
    clear();
    hide();
}

void ProblemList::Report(const folio::Diagnostic& d) {
    if (d.severity == folio::Severity::Error) {
        lastError_ = d;
        hasError_ = true;
    }
    if (reports_.size() >= kMaxEntries) {
        ++dropped_;
        return;
    }
    reports_.push_back(d);
}

const folio::Diagnostic* ProblemList::LastError() const {
    return hasError_ ? &lastError_ : nullptr;
}

void ProblemList::Fill() {
    clear();
    const QIcon icons[] = {style()->standardIcon(QStyle::SP_MessageBoxInformation),
                           style()->standardIcon(QStyle::SP_MessageBoxWarning),
                           style()->standardIcon(QStyle::SP_MessageBoxCritical)};
    static constexpr const char* kSeverity[] = {"note", "warning", "error"};
    QList<QTreeWidgetItem*> items;
    items.reserve(qsizetype(reports_.size()) + 1);
    for (const folio::Diagnostic& d : reports_) {
        const int severity = int(d.severity) % 3;
        auto* item = new QTreeWidgetItem;
        if (d.line > 0)
            item->setText(ColLine, QString::number(d.line));
        item->setData(ColLine, Qt::UserRole, d.line);
        item->setTextAlignment(ColLine, Qt::AlignRight | Qt::AlignVCenter);
        item->setIcon(ColKind, icons[severity]);
        item->setText(ColKind, QString::fromLatin1(d.kind));
        item->setToolTip(ColKind, QString::fromLatin1(kSeverity[severity]));
        item->setText(ColMessage, folio::ui::DecodedText(d.message));
        item->setToolTip(ColMessage, item->text(ColMessage));
        items.append(item);
    }
    if (dropped_ > 0) {
        auto* item = new QTreeWidgetItem;
        item->setData(ColLine, Qt::UserRole, 0);
        item->setText(ColMessage, QStringLiteral("%1 more not listed").arg(dropped_));
        items.append(item);
    }
    addTopLevelItems(items);
    setVisible(!items.isEmpty());
}

void ProblemList::choose(QTreeWidgetItem* item) {
    if (!item)
        return;
    const int line = item->data(ColLine, Qt::UserRole).toInt();
    if (line > 0)
        emit lineChosen(line);
}
