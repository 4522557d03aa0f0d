// The help window over QTextBrowser. The help file keeps its historical name
// "folioset.hlp" but holds HTML, so it is read as text and given to the
// browser with its folder as the search path for any linked file.
#include "HelpWindow.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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

void HelpWindow::ShowContents(const QString& path) {
    QFile file(path);
    if (file.open(QIODevice::ReadOnly) && file.size() < (qint64(8) << 20)) {
        browser_->setSearchPaths({QFileInfo(path).absolutePath()});
        browser_->setHtml(QString::fromUtf8(file.readAll()));
        browser_->moveCursor(QTextCursor::Start); // the title and the contents list
    } else {
        browser_->setHtml(QStringLiteral("<h2>Help is not available</h2><p>The help file "
                                         "<b>%1</b> could not be opened.</p>")
                              .arg(QDir::toNativeSeparators(path).toHtmlEscaped()));
    }
    show();
    raise();
    activateWindow();
}

} // namespace folio::ui
