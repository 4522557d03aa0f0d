// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Code page 1252, the byte encoding of macro files and of the text the
// engine compares and draws. The editor works in Unicode; these two
// functions carry text across, so that loading and saving a file leaves
// every byte as it was.
#pragma once

#include <QByteArray>
#include <QString>

namespace folio::ui {

// Each byte becomes one character. The five bytes the code page leaves
// unassigned (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the C1 control characters
// of the same value, so they survive a round trip.
QString FromCp1252(const QByteArray& bytes);

// Each character becomes one byte; a character the code page cannot hold
// (including one outside the Basic Multilingual Plane) becomes '?'.
QByteArray ToCp1252(const QString& text);

} // namespace folio::ui
