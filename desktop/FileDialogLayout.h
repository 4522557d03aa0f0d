// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The file dialogs' detail view laid out so that its columns show their
// headers and typical entries whole at the dialog's first size.
#pragma once

class QFileDialog;

namespace folio::ui {

// Sizes the Name, Size, Type and Date Modified columns for their headers
// and for typical entries (a size in KiB, a common type, a date and time
// in the locale's short form), and widens the dialog to hold them, when the
// dialog is first shown.
void FitFileDialogColumns(QFileDialog& dialog);

} // namespace folio::ui
