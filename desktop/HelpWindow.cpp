// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The help window over QTextBrowser. The help file keeps its historical name
// "folioset.hlp" but holds HTML, so it is read as text and given to the
// browser with its folder as the search path for any linked file.
#include "HelpWindow.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QTextBrowser>
#include <QToolBar>

namespace folio::ui {

HelpWindow::HelpWindow(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("Brackwell Folioset Help"));
    browser_ = new QTextBrowser;
    browser_->setOpenExternalLinks(true);
    setCentralWidget(browser_);
    QToolBar* bar = addToolBar(QStringLiteral("Navigation"));
    bar->setMovable(false);
    QAction* contents = bar->addAction(QStringLiteral("&Contents"));
    QAction* back = bar->addAction(QStringLiteral("&Back"), browser_, &QTextBrowser::backward);
    QAction* forward = bar->addAction(QStringLiteral("&Forward"), browser_, &QTextBrowser::forward);
    back->setEnabled(false);
    forward->setEnabled(false);
    connect(browser_, &QTextBrowser::backwardAvailable, back, &QAction::setEnabled);
    connect(browser_, &QTextBrowser::forwardAvailable, forward, &QAction::setEnabled);
    connect(contents, &QAction::triggered, this,
            [this] { browser_->scrollToAnchor(QStringLiteral("contents")); });
    resize(640, 560);
}

void HelpWindow::placeOnScreen() {
    // Once, at the first showing: centred on the screen and no larger than
    // it, frame included (the frame's size is a guess before the window
    // manager has framed the window).
    if (placed_)
        return;
    placed_ = true;
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect room = screen->availableGeometry();
    const QSize frame(16, 48);
    const QSize size = QSize(640, 560).boundedTo(room.size() - frame);
    resize(size);
    move(room.center() -
         QPoint((size.width() + frame.width()) / 2, (size.height() + frame.height()) / 2));
}

void HelpWindow::ShowContents(const QString& path) {
    QFile file(path);
    if (file.open(QIODevice::ReadOnly) && file.size() < (qint64(8) << 20)) {
        // Loaded as the browser's source, so that links within it make a
        // history for Back and Forward; the name says nothing of HTML.
        browser_->setSearchPaths({QFileInfo(path).absolutePath()});
        browser_->setSource(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()),
                            QTextDocument::HtmlResource);
        browser_->clearHistory();
        browser_->moveCursor(QTextCursor::Start); // the title and the contents list
    } else {
        browser_->setHtml(QStringLiteral("<h2>Help is not available</h2><p>The help file "
                                         "<b>%1</b> could not be opened.</p>")
                              .arg(QDir::toNativeSeparators(path).toHtmlEscaped()));
    }
    placeOnScreen();
    show();
    raise();
    activateWindow();
}

} // namespace folio::ui
