// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The viewer window and its page view. Pages stay owned by the engine; the
// view wraps the current page's 1-bit rows (set bit black, leftmost pixel in
// the most significant bit, the layout of QImage::Format_Mono) and turns
// them into a pixmap once per change, so scrolling costs only a blit.
#include "TFaxForm.h"

#include "ErrorBox.h"
#include "FileDialogLayout.h"
#include "Program.h"
#include "SaveFailure.h"
#include "Shortcuts.h"
#include "TCommandForm.h"
#include "TSettingsForm.h"
#include "WindowFocus.h"

#include "Artwork.h"
#include "Error.h"
#include "ObjectNames.h"
#include "tiflib32.h"

#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QToolButton>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <exception>
#include <vector>

// ---- PageView ---------------------------------------------------------

PageView::PageView(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PageView::SetPage(const PageImage* page) {
    page_ = page;
    MarkStale();
}

QSize PageView::PageSize() const {
    if (!page_)
        return {};
    return {page_->Picture().Width(), page_->Picture().Height()};
}

void PageView::SetScale(double scale) {
    scale_ = scale;
    MarkStale();
}

void PageView::MarkStale() {
    stale_ = true;
    // The size follows the bitmap, which a reused page may have changed,
    // and the scale; at least one pixel, so that the view stays a target.
    if (page_) {
        const QSize page = PageSize();
        const QSize size(std::max(1, qRound(page.width() * scale_)),
                         std::max(1, qRound(page.height() * scale_)));
        if (size != this->size())
            setFixedSize(size);
    }
    update();
}

const QImage& PageView::Picture() {
    if (stale_) {
        stale_ = false;
        if (page_ && !page_->Picture().Empty()) {
            const folio::Bitmap& bits = page_->Picture();
            // Wrap, then copy: the engine goes on drawing into its bitmap.
            QImage wrapped(bits.Bits(), bits.Width(), bits.Height(), bits.Stride(),
                           QImage::Format_Mono);
            wrapped.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
            image_ = wrapped.copy();
        } else {
            image_ = QImage();
        }
        pixmap_ = QPixmap::fromImage(image_);
    }
    return image_;
}

void PageView::paintEvent(QPaintEvent* event) {
    Picture();
    QPainter painter(this);
    painter.fillRect(event->rect(), Qt::white);
    if (scale_ == 1.0) {
        painter.drawPixmap(event->rect(), pixmap_, event->rect());
        return;
    }
    // Reduced, black and white pixels blend to grey rather than vanish.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, scale_ < 1.0);
    const QRectF target(event->rect());
    const QRectF source(target.x() / scale_, target.y() / scale_, target.width() / scale_,
                        target.height() / scale_);
    painter.drawPixmap(target, pixmap_, source);
}

void PageView::mouseMoveEvent(QMouseEvent* event) {
    // Widget coordinates are screen pixels from the page's corner whatever
    // the scroll position; divided by the scale they are page pixels.
    const QPointF at = event->position();
    if (rect().contains(at.toPoint())) {
        const QSize page = PageSize();
        const int x =
            std::clamp(int(std::floor(at.x() / scale_)), 0, std::max(0, page.width() - 1));
        const int y =
            std::clamp(int(std::floor(at.y() / scale_)), 0, std::max(0, page.height() - 1));
        emit PointerMoved(x, y);
    }
    QWidget::mouseMoveEvent(event);
}

// ---- TFaxForm ---------------------------------------------------------

TFaxForm::TFaxForm(Program& program) : program_(program) {
    createActions();
    createControls();
    engine_ = std::make_unique<FaxImage>(*program.SettingsForm, this);
}

TFaxForm::~TFaxForm() {
    // The page view must not paint a page the engine is about to free.
    pageView->SetPage(nullptr);
}

void TFaxForm::createActions() {
    mnuFile = menuBar()->addMenu(QStringLiteral("&File"));
    mnuFileSave = mnuFile->addAction(QStringLiteral("&Save"), this, &TFaxForm::mnuFileSaveClick);
    mnuFileSaveAs =
        mnuFile->addAction(QStringLiteral("Save &As..."), this, &TFaxForm::mnuFileSaveAsClick);
    mnuFile->addSeparator();
    mnuFileClose = mnuFile->addAction(QStringLiteral("&Close"), this, &TFaxForm::mnuFileCloseClick);
    mnuFileSave->setEnabled(false);
    mnuFileSaveAs->setEnabled(false);
    folio::ui::AddWindowKeys(this, mnuFileSave,
                             folio::ui::StandardKeys(QKeySequence::Save, "Ctrl+S"));
    folio::ui::AddWindowKeys(this, mnuFileSaveAs,
                             folio::ui::StandardKeys(QKeySequence::SaveAs, "Ctrl+Shift+S"));

    Options1 = menuBar()->addMenu(QStringLiteral("&Options"));
    mnuOptionsShow = Options1->addAction(QStringLiteral("&Show Command Window"), this,
                                         &TFaxForm::mnuOptionsShowClick);

    // A page is 1728 pixels wide, more than most screens: the view can be
    // reduced to the window's width or to a whole page.
    mnuView = menuBar()->addMenu(QStringLiteral("&View"));
    mnuViewZoomIn =
        mnuView->addAction(QStringLiteral("Zoom &In"), this, &TFaxForm::mnuViewZoomInClick);
    mnuViewZoomOut =
        mnuView->addAction(QStringLiteral("Zoom &Out"), this, &TFaxForm::mnuViewZoomOutClick);
    mnuViewActualSize =
        mnuView->addAction(QStringLiteral("&Actual Size"), this, &TFaxForm::mnuViewActualSizeClick);
    mnuView->addSeparator();
    mnuViewFitWidth =
        mnuView->addAction(QStringLiteral("Fit &Width"), this, &TFaxForm::mnuViewFitWidthClick);
    mnuViewFitPage =
        mnuView->addAction(QStringLiteral("Fit &Page"), this, &TFaxForm::mnuViewFitPageClick);
    // Ctrl+= as well: on many keyboards "+" needs Shift.
    QList<QKeySequence> zoomIn = folio::ui::StandardKeys(QKeySequence::ZoomIn, "Ctrl++");
    zoomIn.append(QKeySequence(QStringLiteral("Ctrl+=")));
    folio::ui::AddWindowKeys(this, mnuViewZoomIn, zoomIn);
    folio::ui::AddWindowKeys(this, mnuViewZoomOut,
                             folio::ui::StandardKeys(QKeySequence::ZoomOut, "Ctrl+-"));
    folio::ui::AddWindowKeys(this, mnuViewActualSize, {QKeySequence(QStringLiteral("Ctrl+0"))});
}

void TFaxForm::createControls() {
    setWindowTitle(QStringLiteral("Brackwell Folioset Viewer"));

    pnlButtonBar = new QWidget;
    pnlButtonBar->setFixedHeight(25);
    auto* bar = new QHBoxLayout(pnlButtonBar);
    bar->setContentsMargins(0, 0, 0, 0);
    bar->setSpacing(5);
    btnPrevPg = new QToolButton;
    btnPrevPg->setIcon(folio::ui::TriangleIcon(true));
    btnPrevPg->setToolTip(QStringLiteral("Previous page"));
    btnNextPg = new QToolButton;
    btnNextPg->setIcon(folio::ui::TriangleIcon(false));
    btnNextPg->setToolTip(QStringLiteral("Next page"));
    for (QToolButton* b : {btnPrevPg, btnNextPg}) {
        b->setAutoRaise(true);
        b->setFixedSize(25, 25);
        b->setIconSize(QSize(12, 12));
        bar->addWidget(b);
    }
    connect(btnPrevPg, &QToolButton::clicked, this, &TFaxForm::btnPrevPgClick);
    connect(btnNextPg, &QToolButton::clicked, this, &TFaxForm::btnNextPgClick);
    lblCurrentPg = new QLabel(QStringLiteral("1"));
    lblCurrentPg->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblCurrentPg->setMinimumWidth(21);
    Label1 = new QLabel(QStringLiteral("of"));
    lblLastPg = new QLabel(QStringLiteral("1"));
    lblLastPg->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblLastPg->setMinimumWidth(21);
    bar->addWidget(lblCurrentPg);
    bar->addSpacing(4);
    bar->addWidget(Label1);
    bar->addWidget(lblLastPg);
    bar->addStretch();

    scrollPage = new QScrollArea;
    scrollPage->setBackgroundRole(QPalette::Dark);
    scrollPage->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    pageView = new PageView;
    scrollPage->setWidget(pageView);
    connect(pageView, &PageView::PointerMoved, this, &TFaxForm::pointerMoved);

    auto* central = new QWidget;
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(pnlButtonBar);
    column->addWidget(scrollPage, 1);
    setCentralWidget(central);

    StatusBar1 = new QStatusBar;
    // Two sunken panels, the first wide enough for five-digit positions.
    pnlPointer = new QLabel;
    pnlSecond = new QLabel;
    for (QLabel* panel : {pnlPointer, pnlSecond}) {
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setMargin(1);
    }
    const int pointerText =
        pnlPointer->fontMetrics().horizontalAdvance(QStringLiteral("X: 99999  Y: 99999"));
    pnlPointer->setFixedWidth(std::max(90, pointerText + 2 * (pnlPointer->frameWidth() + 1) + 4));
    pnlSecond->setFixedWidth(50);
    StatusBar1->addWidget(pnlPointer);
    StatusBar1->addWidget(pnlSecond);
    setStatusBar(StatusBar1);

    dlgFileSave = new QFileDialog(this);
    dlgFileSave->setOption(QFileDialog::DontUseNativeDialog);
    dlgFileSave->setOption(QFileDialog::DontConfirmOverwrite);
    dlgFileSave->setAcceptMode(QFileDialog::AcceptSave);
    folio::ui::FitFileDialogColumns(*dlgFileSave);
    folio::ui::EndCompletionWithDialog(*dlgFileSave);

    FOLIO_NAME(pnlButtonBar);
    FOLIO_NAME(btnPrevPg);
    FOLIO_NAME(btnNextPg);
    FOLIO_NAME(lblCurrentPg);
    FOLIO_NAME(Label1);
    FOLIO_NAME(lblLastPg);
    FOLIO_NAME(scrollPage);
    FOLIO_NAME(pageView);
    FOLIO_NAME(StatusBar1);
    FOLIO_NAME(pnlPointer);
    FOLIO_NAME(pnlSecond);
    FOLIO_NAME(dlgFileSave);
    FOLIO_NAME(mnuFile);
    FOLIO_NAME(mnuFileSave);
    FOLIO_NAME(mnuFileSaveAs);
    FOLIO_NAME(mnuFileClose);
    FOLIO_NAME(Options1);
    FOLIO_NAME(mnuOptionsShow);
    FOLIO_NAME(mnuView);
    FOLIO_NAME(mnuViewZoomIn);
    FOLIO_NAME(mnuViewZoomOut);
    FOLIO_NAME(mnuViewActualSize);
    FOLIO_NAME(mnuViewFitWidth);
    FOLIO_NAME(mnuViewFitPage);
    resize(554 - 8, 426 - 27); // the outer size less a typical frame and caption
}

void TFaxForm::ShowPage(PageImage* /*hidden*/, PageImage& shown) {
    // One view shows whichever page is current: the page taken off the
    // screen needs nothing more.
    pageView->SetPage(&shown);
}

void TFaxForm::SetPageLabels(int pageNo, int pageCount) {
    lblCurrentPg->setText(QString::number(pageNo));
    lblLastPg->setText(QString::number(pageCount));
    if (lblLastPg->isVisible())
        lblLastPg->repaint();
}

void TFaxForm::SetSaveEnabled(bool enabled) {
    mnuFileSave->setEnabled(enabled);
    mnuFileSaveAs->setEnabled(enabled);
    pageView->MarkStale();
}

void TFaxForm::RefreshPage() {
    pageView->MarkStale();
}

QString TFaxForm::PointerText() const {
    return pnlPointer->text();
}

void TFaxForm::pointerMoved(int x, int y) {
    pnlPointer->setText(QString::asprintf("X: %d  Y: %d", x, y));
}

void TFaxForm::btnPrevPgClick() {
    folio::ui::Guarded(this, [&] { engine_->PrevPage(); });
    RefreshPage();
}

void TFaxForm::btnNextPgClick() {
    folio::ui::Guarded(this, [&] { engine_->NextPage(false); });
    RefreshPage();
}

QString TFaxForm::SaveFaxFile(const QString& path) {
    const QString shownPath = QDir::toNativeSeparators(path);
    try {
        const QByteArray encoded = QFile::encodeName(path);
        std::vector<char> name(encoded.begin(), encoded.end());
        name.push_back('\0');
        errno = 0;
        const bool saved = engine_->SaveFile(name.data());
        const int systemError = errno;
        if (saved)
            return {};
        return QStringLiteral("The fax file \"%1\" could not be saved: %2.")
            .arg(shownPath, folio::ui::SaveFailureCause(
                                path, QString::fromLocal8Bit(TiflibLastError()), systemError));
    } catch (const std::exception& e) {
        return QStringLiteral("The fax file \"%1\" could not be saved: %2")
            .arg(shownPath, folio::ui::ErrorText(e));
    }
}

bool TFaxForm::saveShowingErrors(const QString& path) {
    const QString error = SaveFaxFile(path);
    if (error.isEmpty())
        return true;
    folio::ui::ShowError(this, error);
    return false;
}

bool TFaxForm::saveWithDialog() {
    dlgFileSave->setWindowTitle(QStringLiteral("Save Fax File"));
    dlgFileSave->setNameFilters({QStringLiteral("Fax TIFF-F Files (*.tif)")});
    dlgFileSave->setDefaultSuffix(QStringLiteral("tif"));
    if (dlgFileSave->exec() != QDialog::Accepted || dlgFileSave->selectedFiles().isEmpty())
        return false;
    const QString path = dlgFileSave->selectedFiles().first();
    if (!saveShowingErrors(path))
        return false;
    const QByteArray encoded = QFile::encodeName(path);
    auto* name = new char[std::size_t(encoded.size()) + 1];
    std::memcpy(name, encoded.constData(), std::size_t(encoded.size()) + 1);
    delete[] engine_->SaveName;
    engine_->SaveName = name;
    return true;
}

void TFaxForm::mnuFileSaveClick() {
    const char* name = engine_->SaveName;
    if (!name || !*name) {
        if (!saveWithDialog())
            return;
    } else if (!saveShowingErrors(QFile::decodeName(name))) {
        return;
    }
    mnuFileSave->setEnabled(false);
}

void TFaxForm::mnuFileSaveAsClick() {
    if (saveWithDialog())
        mnuFileSave->setEnabled(false);
}

void TFaxForm::mnuFileCloseClick() {
    close();
}

void TFaxForm::mnuOptionsShowClick() {
    folio::ui::ShowKeepingFocus(*program_.CommandForm, *this);
}

// ---- zoom -----------------------------------------------------------------

namespace {
// The zoom range: a page a little over 100 pixels wide up to four screen
// pixels per page pixel. One step is a quarter more or less.
constexpr double kMinScale = 1.0 / 16;
constexpr double kMaxScale = 4.0;
constexpr double kZoomStep = 1.25;
} // namespace

void TFaxForm::setScale(double scale) {
    if (!std::isfinite(scale))
        return;
    scale = std::clamp(scale, kMinScale, kMaxScale);
    const double old = pageView->Scale();
    QScrollBar* h = scrollPage->horizontalScrollBar();
    QScrollBar* v = scrollPage->verticalScrollBar();
    const QSize view = scrollPage->viewport()->size();
    // The page point at the view's centre, in page pixels.
    const double cx = (h->value() + view.width() / 2.0) / old;
    const double cy = (v->value() + view.height() / 2.0) / old;
    pageView->SetScale(scale);
    h->setValue(qRound(cx * scale - view.width() / 2.0));
    v->setValue(qRound(cy * scale - view.height() / 2.0));
}

void TFaxForm::mnuViewZoomInClick() {
    setScale(pageView->Scale() * kZoomStep);
}

void TFaxForm::mnuViewZoomOutClick() {
    setScale(pageView->Scale() / kZoomStep);
}

void TFaxForm::mnuViewActualSizeClick() {
    setScale(1.0);
}

void TFaxForm::mnuViewFitWidthClick() {
    const QSize page = pageView->PageSize();
    if (page.isEmpty())
        return;
    // The room without scroll bars; the page, as tall as it is, will
    // usually need the vertical one, which takes its width from the room.
    const QSize room = scrollPage->maximumViewportSize();
    double scale = double(room.width()) / page.width();
    if (page.height() * scale > room.height())
        scale = double(room.width() - scrollPage->verticalScrollBar()->sizeHint().width()) /
                page.width();
    setScale(scale);
    scrollPage->horizontalScrollBar()->setValue(0);
}

void TFaxForm::mnuViewFitPageClick() {
    const QSize page = pageView->PageSize();
    if (page.isEmpty())
        return;
    const QSize room = scrollPage->maximumViewportSize();
    setScale(std::min(double(room.width()) / page.width(), double(room.height()) / page.height()));
    ScrollToTop();
}

void TFaxForm::ScrollToTop() {
    scrollPage->horizontalScrollBar()->setValue(0);
    scrollPage->verticalScrollBar()->setValue(0);
}
