// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The viewer window. It holds the program's fax page engine and is the
// engine's FaxViewer: it shows the engine's current page at one screen pixel
// per page pixel, the page counter and the pointer position in page pixels,
// pages back and forth, and saves all pages as one fax TIFF file.
#pragma once

#include "FaxImage.h"

#include <QMainWindow>
#include <QPixmap>

#include <memory>

class Program;
class QAction;
class QFileDialog;
class QLabel;
class QMenu;
class QScrollArea;
class QStatusBar;
class QToolButton;

// The image control of the current page. It reads the page's bits when it
// is next painted after being marked stale, so a page the engine draws on
// during a run is copied once, after the run. It shows the page at a scale
// (screen pixels per page pixel, 1 at start) and reports the pointer in page
// pixels whatever the scale.
class PageView : public QWidget {
    Q_OBJECT
  public:
    explicit PageView(QWidget* parent = nullptr);
    void SetPage(const PageImage* page);
    const PageImage* Page() const { return page_; }
    // The page's bits have changed (or may have): copy them at the next paint.
    void MarkStale();
    // The picture as shown (copied from the page now if stale).
    const QImage& Picture();
    double Scale() const { return scale_; }
    void SetScale(double scale);
    // The page's size in page pixels (empty without a page).
    QSize PageSize() const;

  signals:
    void PointerMoved(int x, int y);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    const PageImage* page_ = nullptr;
    QImage image_;
    QPixmap pixmap_;
    bool stale_ = true;
    double scale_ = 1.0;
};

class TFaxForm : public QMainWindow, public FaxViewer {
    Q_OBJECT
  public:
    // Creates the window hidden and sets up the engine from the settings
    // dialog, which makes a blank page 1 of 1. Throws folio::Error when a
    // page setting is not a whole number or no page of that size can be made.
    explicit TFaxForm(Program& program);
    ~TFaxForm() override;

    FaxImage& Engine() { return *engine_; }

    // FaxViewer.
    void ShowPage(PageImage* hidden, PageImage& shown) override;
    void SetPageLabels(int pageNo, int pageCount) override;
    void SetSaveEnabled(bool enabled) override;

    // The engine has drawn on the current page: show its bits anew.
    void RefreshPage();
    // Writes all pages in use to `path`. Returns an empty text on success,
    // else what went wrong, for the caller to show.
    QString SaveFaxFile(const QString& path);
    // The text of the pointer position panel.
    QString PointerText() const;

    QWidget* pnlButtonBar;
    QToolButton* btnPrevPg;
    QToolButton* btnNextPg;
    QLabel* lblCurrentPg;
    QLabel* Label1;
    QLabel* lblLastPg;
    QScrollArea* scrollPage;
    PageView* pageView;
    QStatusBar* StatusBar1;
    QLabel* pnlPointer; // the first status panel
    QLabel* pnlSecond;  // the second, always empty
    QFileDialog* dlgFileSave;
    QMenu* mnuFile;
    QAction* mnuFileSave;
    QAction* mnuFileSaveAs;
    QAction* mnuFileClose;
    QMenu* Options1;
    QAction* mnuOptionsShow;
    QMenu* mnuView;
    QAction* mnuViewZoomIn;
    QAction* mnuViewZoomOut;
    QAction* mnuViewActualSize;
    QAction* mnuViewFitWidth;
    QAction* mnuViewFitPage;

  public slots:
    void btnPrevPgClick();
    void btnNextPgClick();
    void mnuFileSaveClick();
    void mnuFileSaveAsClick();
    void mnuFileCloseClick();
    void mnuOptionsShowClick();
    void mnuViewZoomInClick();
    void mnuViewZoomOutClick();
    void mnuViewActualSizeClick();
    void mnuViewFitWidthClick();
    void mnuViewFitPageClick();
    // Scrolls to the page's top-left corner.
    void ScrollToTop();

  private:
    void createActions();
    void createControls();
    // Asks for a file name, saves and records the name. False when the
    // dialog was cancelled or the save failed (the failure is shown).
    bool saveWithDialog();
    bool saveShowingErrors(const QString& path);
    void pointerMoved(int x, int y);
    // Shows the page at `scale`, clipped to the zoom range, keeping the
    // point at the centre of the view where it was.
    void setScale(double scale);

    Program& program_;
    std::unique_ptr<FaxImage> engine_;
};
