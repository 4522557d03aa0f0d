// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// TEXTMODE=OVER / OPAQUE: whether an engine sets text with its white cells
// (opaque, the default: text erases what lies under its line) or without
// them (over: text laid on a form leaves the form's lines and boxes whole).
// Kept beside the engine, as its page marks are, so that FaxImage keeps its
// layout; the current page's canvas carries it as its brush (clNone: no
// cells), set again on each new page.
#pragma once

class FaxImage;

namespace folio {

void SetTextOver(const FaxImage& engine, bool over);
bool TextOver(const FaxImage& engine);
// The engine is gone: its setting goes too.
void ForgetTextOver(const FaxImage& engine);

} // namespace folio
