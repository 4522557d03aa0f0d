// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The program's pictures, drawn when first needed instead of stored as
// files: the splash picture, the program icon, the viewer's two triangles and
// the font button's glyph.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace folio::ui {

QPixmap SplashPicture();       // 430 x 280
QPixmap ProgramIcon();         // 32 x 32
QIcon TriangleIcon(bool left); // 12 x 12, pointing left or right
QIcon FontButtonIcon();        // 24 x 22

} // namespace folio::ui
