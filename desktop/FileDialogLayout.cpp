// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Qt's own file dialog gives the Name column most of its width and cuts the
// others at its first size. The widths here come from the view's font, so
// they hold for any font size.
#include "FileDialogLayout.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QDateTime>
#include <QEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QLocale>
#include <QTreeView>

#include <algorithm>

namespace folio::ui {

namespace {

void fitColumns(QFileDialog& dialog) {
    auto* view = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
    if (!view)
        return;
    QHeaderView* header = view->header();
    const QFontMetrics metrics(view->font());
    // Room for the cell's margins and, in the header, the sort arrow.
    const int pad = 3 * metrics.averageCharWidth() + 16;
    const QString date =
        QLocale().toString(QDateTime(QDate(2028, 12, 28), QTime(23, 58)), QLocale::ShortFormat);
    const QString samples[] = {QStringLiteral("a fax macro file name.txt"),
                               QStringLiteral("1023.9 KiB"), QStringLiteral("plain text document"),
                               date};
    header->setStretchLastSection(false);
    int total = 0;
    for (int column = 0; column < 4 && column < header->count(); ++column) {
        const int width = std::max(header->sectionSizeHint(column),
                                   metrics.horizontalAdvance(samples[column]) + pad);
        header->resizeSection(column, width);
        total += width;
    }
    header->setStretchLastSection(true);
    // The dialog grows by what the columns lack in the view's viewport,
    // and a little more for the vertical scroll bar.
    const int lacking = total + 20 - view->viewport()->width();
    if (lacking > 0)
        dialog.resize(dialog.width() + lacking, dialog.height());
}

// Fits the columns when the dialog is first shown: only then has the view
// the width of the dialog's first size.
class FitOnFirstShow : public QObject {
  public:
    explicit FitOnFirstShow(QFileDialog& dialog) : QObject(&dialog) {
        dialog.installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show) {
            watched->removeEventFilter(this);
            fitColumns(*static_cast<QFileDialog*>(watched));
            deleteLater();
        }
        return false;
    }
};

} // namespace

void FitFileDialogColumns(QFileDialog& dialog) {
    new FitOnFirstShow(dialog);
}

void EndCompletionWithDialog(QFileDialog& dialog) {
    QObject::connect(&dialog, &QDialog::finished, &dialog, [&dialog] {
        for (QCompleter* completer : dialog.findChildren<QCompleter*>())
            if (QAbstractItemView* list = completer->popup(); list && list->isVisible())
                list->hide();
    });
}

} // namespace folio::ui
