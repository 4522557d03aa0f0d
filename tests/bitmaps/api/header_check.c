// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
/* Compiles the public header as C, as a C client would include it. */
#include "rastrum.h"

_Static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER is 40 bytes");
_Static_assert(sizeof(RGBQUAD) == 4, "RGBQUAD is 4 bytes");
_Static_assert(sizeof(PALETTEENTRY) == 4, "PALETTEENTRY is 4 bytes");

int RastrumHeaderIsC(void) { return CF_DIB + CF_PALETTE; }
