// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The problems list under the macro editor: what the engine dropped, cut,
// ignored, replaced or refused during the last Process, one entry a report,
// with its macro line, its kind and its message. The list is the engine's
// diagnostic sink while a run lasts; it keeps the reports and shows them
// when the run is over. A click on an entry, or Enter on it, asks for its
// line to be shown.
#pragma once

#include "Diagnostics.h"

#include <QString>
#include <QTreeWidget>

#include <cstddef>
#include <vector>

class ProblemList : public QTreeWidget, public folio::DiagnosticSink {
    Q_OBJECT
  public:
    // A macro can report on every one of its lines; more reports than this
    // are counted, not kept, and the list ends with one entry saying how
    // many more there were.
    static constexpr std::size_t kMaxEntries = 1000;

    enum Column { ColLine, ColKind, ColMessage };

    explicit ProblemList(QWidget* parent = nullptr);

    // Forgets the kept reports and empties the list.
    void Clear();
    // Shows the reports kept since Clear; hides the list when there are none.
    void Fill();
    // The last report of severity Error since Clear, for the error box: the
    // run stopped there. Null when there is none.
    const folio::Diagnostic* LastError() const;

    void Report(const folio::Diagnostic& d) override;

  signals:
    // The user chose an entry about macro line `line` (1-based).
    void lineChosen(int line);

  private:
    void choose(QTreeWidgetItem* item);

    std::vector<folio::Diagnostic> reports_;
    std::size_t dropped_ = 0;
    folio::Diagnostic lastError_;
    bool hasError_ = false;
};
