// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Showing one window of the program in front of the others while the
// keyboard focus stays where the user is typing.
#pragma once

class QWidget;

namespace folio::ui {

// Makes `window` visible and brings it to the front; the keyboard focus
// stays with (or goes back to) `keeper`.
void ShowKeepingFocus(QWidget& window, QWidget& keeper);

} // namespace folio::ui
