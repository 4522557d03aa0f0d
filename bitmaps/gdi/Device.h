// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The device contexts of Rastrum's GDI layer. Both kinds draw through the
// same interface: SetDIBitsToDevice works out the visible rectangle, asks the
// device for a block of 32-bit pixels (0x00RRGGBB, rows top-down) to fill,
// and hands it back. A memory device context lends its own raster; a printer
// device context lends a fresh image that goes onto the current PDF page.
#pragma once

#include "Gdi.h"

#include <cairo.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace folio {
class OutputFile;
}

namespace rastrum::gdi {

struct PixelBlock {
    std::uint32_t* data = nullptr;
    int stride = 0; // in pixels
};

struct Device : GdiObject {
    Device(ObjectKind kind, int width, int height, int dotsPerInch);
    ~Device() override;

    const int width;
    const int height;
    const int dotsPerInch;
    Palette* palette = nullptr; // selected; the stock palette when none was chosen
    std::vector<std::string> journal;

    // Whether drawing goes anywhere now (a printer only inside a document).
    virtual bool CanDraw() const = 0;
    // A w x h block for the device rectangle at (x, y), already clipped to the device.
    virtual bool BeginDraw(int x, int y, int w, int h, PixelBlock& block) = 0;
    virtual void EndDraw() = 0;
    // Positive on success, SP_ERROR on failure, 0 for an escape the device lacks.
    virtual int DoEscape(int escape, int inputBytes, const char* input) = 0;
};

// Memory device context: one cairo RGB24 image surface, white at creation.
struct MemoryDevice final : Device {
    MemoryDevice(int width, int height, cairo_surface_t* surface);
    ~MemoryDevice() override;
    bool CanDraw() const override { return true; }
    bool BeginDraw(int x, int y, int w, int h, PixelBlock& block) override;
    void EndDraw() override;
    int DoEscape(int, int, const char*) override { return 0; }

    cairo_surface_t* const surface;
};

// Printer device context: STARTDOC opens a PDF (the work file of an
// OutputFile), each NEWFRAME ends a page, ENDDOC finishes the file and puts
// it in place. A failure anywhere abandons the document and its file.
struct PrinterDevice final : Device {
    PrinterDevice(std::string path, int width, int height, int dotsPerInch);
    ~PrinterDevice() override;
    bool CanDraw() const override { return context_ != nullptr; }
    bool BeginDraw(int x, int y, int w, int h, PixelBlock& block) override;
    void EndDraw() override;
    int DoEscape(int escape, int inputBytes, const char* input) override;

  private:
    int StartDoc(int inputBytes, const char* input);
    int NewFrame();
    int EndDoc();
    void Abandon();
    static cairo_status_t WriteToFile(void* closure, const unsigned char* data, unsigned length);

    const std::string path_;
    std::unique_ptr<folio::OutputFile> output_;
    std::FILE* file_ = nullptr; // on a duplicate of output_'s descriptor
    bool writeFailed_ = false;
    cairo_surface_t* pdf_ = nullptr;
    cairo_t* context_ = nullptr;
    cairo_surface_t* pending_ = nullptr; // the image being filled between BeginDraw and EndDraw
    int pendingX_ = 0;
    int pendingY_ = 0;
};

// The device behind a handle, or null. Caller holds TableMutex().
Device* LookupDevice(const void* handle);
// The stock DEFAULT_PALETTE, created on first use and never deleted.
Palette* StockPalette();

} // namespace rastrum::gdi
