// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The file dialogs' detail view laid out so that its columns show their
// headers and typical entries whole at the dialog's first size, and its
// name completion ended with the dialog.
#pragma once

class QFileDialog;

namespace folio::ui {

// Sizes the Name, Size, Type and Date Modified columns for their headers
// and for typical entries (a size in KiB, a common type, a date and time
// in the locale's short form), and widens the dialog to hold them, when the
// dialog is first shown.
void FitFileDialogColumns(QFileDialog& dialog);

// Closes the name field's completion list when the dialog closes. Qt leaves
// it open when Enter accepts a typed name while the list shows: the list
// keeps the keyboard, so the first key typed in the window below only
// closes it and is lost.
void EndCompletionWithDialog(QFileDialog& dialog);

} // namespace folio::ui
