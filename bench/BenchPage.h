// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// A default fax page (1728 x 2200) with a canvas in Arial 25 pt, the
// library's default text font, for the benchmarks that set text.
#pragma once

#include "Bitmap.h"
#include "Canvas.h"

struct ArialPage {
    ArialPage() : canvas(InitPage(page)) {
        canvas.Font.Name = "Arial";
        canvas.Font.Size = 25;
    }
    folio::Bitmap page;
    folio::Canvas canvas;

  private:
    static folio::Bitmap& InitPage(folio::Bitmap& b) {
        b.SetSize(1728, 2200);
        return b;
    }
};
