// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The application's error handler: an error raised while a user action or a
// timer tick is handled ends that action and is shown in a message box with
// the application title and a stop icon; the program goes on. Every handler
// that reaches the engine or the file system runs its work through Guarded,
// so no exception ever crosses the Qt event loop.
#pragma once

#include <QString>

#include <exception>
#include <functional>
#include <string>

class QMessageBox;
class QWidget;

namespace folio::ui {

// Caption of the task-bar entry and of every error box.
inline constexpr const char* kAppTitle = "Brackwell Folioset";

// A message of the engine or the system as the user reads it: UTF-8, or
// where it is not valid UTF-8, code page 1252 (the encoding of macro lines
// it may quote).
QString DecodedText(const std::string& message);

// The text of an error as the user reads it: the message decoded as UTF-8
// (or, where it is not valid UTF-8, as code page 1252, the encoding of macro
// lines it may quote) with a full stop added when it ends without one.
QString ErrorText(const std::exception& error);
QString ErrorText(const std::string& message);

// Widens `box` so that a window manager can show its whole caption: the
// caption's width in a title bar's font (bold, at least 10 points, as
// common themes set it) with room for the frame's buttons and margins. A
// box is otherwise only as wide as its text, and the manager shortens a
// longer caption ("Wri...rror").
void FitCaption(QMessageBox& box);
// The width FitCaption gives a box at least, in pixels.
int CaptionWidth(const QString& caption);

// Shows `text` in a modal message box: caption kAppTitle, stop icon, OK;
// `details`, when given, below it.
void ShowError(QWidget* parent, const QString& text, const QString& details = {});

// Runs `action`; an exception it throws is shown with ShowError, with the
// text `details` returns (when given) as the details. Returns false when the
// action was ended by an error.
bool Guarded(QWidget* parent, const std::function<void()>& action,
             const std::function<QString()>& details = {});

} // namespace folio::ui
