// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Printing a DIB as a one-page document through the printer escapes:
// STARTDOC, the picture unscaled at device position (20, 20), NEWFRAME, and
// ENDDOC only when the page went out. The result says whether the page was
// printed, not merely whether the picture was handed to the device.
#include "Dib.h"

namespace {

constexpr int kMargin = 20; // device pixels from the top-left corner of the page
constexpr char kDocumentName[] = "Document";

WORD Print(HDC printer, HGLOBAL dib) {
    rastrum::LockedDib picture(dib);
    if (!picture || GetDeviceCaps(printer, HORZRES) <= 0)
        return 0;
    if (Escape(printer, STARTDOC, sizeof kDocumentName - 1, kDocumentName, nullptr) <= 0)
        return 0;

    const rastrum::DibLayout& layout = picture.layout();
    if (layout.width && layout.height &&
        SetDIBitsToDevice(printer, kMargin, kMargin, layout.width, layout.height, 0, 0, 0,
                          layout.height, picture.bits(), picture.info(), DIB_RGB_COLORS) == 0) {
        Escape(printer, ABORTDOC, 0, nullptr, nullptr);
        return 0;
    }
    picture.Release();

    // A page that cannot be sent ends the job on the device's side; nothing
    // more is sent then.
    if (Escape(printer, NEWFRAME, 0, nullptr, nullptr) <= 0)
        return 0;
    return Escape(printer, ENDDOC, 0, nullptr, nullptr) > 0 ? 1 : 0;
}

} // namespace

extern "C" WORD PrintBitmap(HDC printer, HGLOBAL dib) {
    try {
        return Print(printer, dib);
    } catch (...) {
        return 0;
    }
}
