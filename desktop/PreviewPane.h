// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The live preview beside the macro editor: the pages of the text as it is
// now, built again a moment after each edit. The builds run on a thread of
// their own with an engine of their own (the viewer's engine stays the GUI
// thread's), from a copy of the text and of the settings taken on the GUI
// thread; a newer request makes the build in progress stop at its next
// macro line and its pages are never shown. The view keeps its scroll place
// when new pages replace the old.
#pragma once

#include "Diagnostics.h"

#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <array>
#include <memory>
#include <string>
#include <vector>

class QLabel;
class QScrollArea;

namespace folio::ui {

// What one build needs, copied on the GUI thread.
struct PreviewRequest {
    quint64 generation = 0;
    QStringList lines;   // the editor's lines
    QString folder;      // where FILE names are looked up; empty: the working folder
    // The settings fields in the order of FaxSettingsSource: width, height,
    // left and top margin, font name, font size, macro and comment prefix.
    std::array<std::string, 8> settings;
};

// What one build made.
struct PreviewResult {
    quint64 generation = 0;
    QList<QImage> pages; // the first kMaxPages pages, 1 bit a pixel
    int pageCount = 0;
    std::vector<folio::Diagnostic> diagnostics;
    QString error;  // the error that ended the run; empty when none
    double buildMs = 0; // the run and the copies of its pages
};

class PreviewBuilder;

// `page` (1 bit a pixel, as the engine's pages) reduced to `width` pixels
// across, the height in proportion, in grey.
QImage ReducedPage(const QImage& page, int width);

class PreviewPane : public QWidget {
    Q_OBJECT
  public:
    // Pages past this many are counted, not shown: a preview of thousands
    // of pages would hold gigabytes.
    static constexpr int kMaxPages = 50;

    explicit PreviewPane(QWidget* parent = nullptr);
    ~PreviewPane() override;

    // Starts a build of `request` (its generation is set here), stopping
    // the one in progress. Returns the generation.
    quint64 Request(PreviewRequest request);
    // Forgets the pages shown and any build under way.
    void Clear();
    // The generation of the pages shown; 0 before the first.
    quint64 ShownGeneration() const { return shown_; }
    // The generation of the latest request.
    quint64 RequestedGeneration() const { return requested_; }
    int PageCount() const { return pageCount_; }
    const QList<QImage>& Pages() const { return pages_; }
    QScrollArea* ScrollArea() const { return scroll_; }

  signals:
    // The pages of `result` are on the screen.
    void shown(const folio::ui::PreviewResult& result);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void take(const PreviewResult& result, QList<QImage> scaled);
    void rescale();
    // The width pages are scaled to, in device pixels.
    int pageWidth() const;

    QLabel* status_;
    QScrollArea* scroll_;
    class PageStrip* strip_;
    std::unique_ptr<PreviewBuilder> builder_;
    quint64 requested_ = 0;
    quint64 shown_ = 0;
    int pageCount_ = 0;
    QList<QImage> pages_;
};

} // namespace folio::ui
