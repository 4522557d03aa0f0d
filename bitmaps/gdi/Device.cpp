// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Device contexts: creation and deletion, the memory raster with its PNG
// output, the PDF printer with its escapes, and SetDIBitsToDevice, which
// turns DIB rows into device pixels for both. All arithmetic on caller
// coordinates is done in 64 bits and clipped before any loop, so hostile
// offsets and extents cost nothing.
#include "Device.h"

#include "OutputFile.h"

#include <cairo-pdf.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <unistd.h>
#include <utility>
#include <vector>

namespace rastrum::gdi {
namespace {

constexpr int kMaxRasterSide = 32767; // cairo's image limit
constexpr std::int64_t kMaxRasterPixels = std::int64_t(1) << 28;
constexpr int kMaxPageSide = 100000;
constexpr int kMaxDotsPerInch = 10000;

const char* EscapeName(int escape) {
    switch (escape) {
    case NEWFRAME:
        return "NEWFRAME";
    case ABORTDOC:
        return "ABORTDOC";
    case QUERYESCSUPPORT:
        return "QUERYESCSUPPORT";
    case STARTDOC:
        return "STARTDOC";
    case ENDDOC:
        return "ENDDOC";
    default:
        return nullptr;
    }
}

// The document name of STARTDOC: at most inputBytes bytes, up to a NUL, and
// no more than a title needs.
std::string DocumentName(int inputBytes, const char* input) {
    if (!input || inputBytes <= 0)
        return {};
    const std::size_t limit = std::min<std::size_t>(std::size_t(inputBytes), 255);
    const void* nul = std::memchr(input, 0, limit);
    return std::string(input, nul ? static_cast<const char*>(nul) - input : limit);
}

} // namespace

Device::Device(ObjectKind k, int w, int h, int dpi)
    : GdiObject(k), width(w), height(h), dotsPerInch(dpi) {
    Palette* stock = StockPalette();
    std::lock_guard lock(TableMutex());
    palette = stock;
    ++palette->selections;
}

Device::~Device() {
    DeviceReleasesPalette(palette);
}

MemoryDevice::MemoryDevice(int w, int h, cairo_surface_t* s)
    : Device(ObjectKind::MemoryDevice, w, h, 96), surface(s) {}

MemoryDevice::~MemoryDevice() {
    cairo_surface_destroy(surface);
}

bool MemoryDevice::BeginDraw(int x, int y, int, int, PixelBlock& block) {
    cairo_surface_flush(surface);
    unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface) / 4;
    block.data = reinterpret_cast<std::uint32_t*>(data) + std::ptrdiff_t(y) * stride + x;
    block.stride = stride;
    return true;
}

void MemoryDevice::EndDraw() {
    cairo_surface_mark_dirty(surface);
}

PrinterDevice::PrinterDevice(std::string path, int w, int h, int dpi)
    : Device(ObjectKind::PrinterDevice, w, h, dpi), path_(std::move(path)) {}

PrinterDevice::~PrinterDevice() {
    if (pending_)
        cairo_surface_destroy(pending_);
    Abandon();
}

bool PrinterDevice::BeginDraw(int x, int y, int w, int h, PixelBlock& block) {
    if (!context_ || pending_)
        return false;
    cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
    if (cairo_surface_status(image) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(image);
        return false;
    }
    cairo_surface_flush(image);
    block.data = reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(image));
    block.stride = cairo_image_surface_get_stride(image) / 4;
    pending_ = image;
    pendingX_ = x;
    pendingY_ = y;
    return true;
}

void PrinterDevice::EndDraw() {
    if (!pending_)
        return;
    cairo_surface_mark_dirty(pending_);
    // Device pixels to PDF points; nearest-neighbour so that every DIB pixel
    // stays a sharp square on paper.
    const double scale = 72.0 / dotsPerInch;
    cairo_save(context_);
    cairo_scale(context_, scale, scale);
    cairo_set_source_surface(context_, pending_, pendingX_, pendingY_);
    cairo_pattern_set_filter(cairo_get_source(context_), CAIRO_FILTER_NEAREST);
    cairo_rectangle(context_, pendingX_, pendingY_, cairo_image_surface_get_width(pending_),
                    cairo_image_surface_get_height(pending_));
    cairo_fill(context_);
    cairo_restore(context_);
    cairo_surface_destroy(pending_);
    pending_ = nullptr;
}

int PrinterDevice::DoEscape(int escape, int inputBytes, const char* input) {
    switch (escape) {
    case STARTDOC:
        return StartDoc(inputBytes, input);
    case NEWFRAME:
        return NewFrame();
    case ENDDOC:
        return EndDoc();
    case ABORTDOC:
        if (!context_)
            return SP_ERROR;
        Abandon();
        return 1;
    case QUERYESCSUPPORT: {
        // The escape asked about comes as a 16-bit or a 32-bit integer.
        int asked = 0;
        if (input && inputBytes == 2) {
            std::int16_t v;
            std::memcpy(&v, input, 2);
            asked = v;
        } else if (input && inputBytes >= 4) {
            std::memcpy(&asked, input, 4);
        } else {
            return 0;
        }
        return EscapeName(asked) ? 1 : 0;
    }
    default:
        return 0;
    }
}

cairo_status_t PrinterDevice::WriteToFile(void* closure, const unsigned char* data,
                                          unsigned length) {
    auto* self = static_cast<PrinterDevice*>(closure);
    if (!self->file_ || std::fwrite(data, 1, length, self->file_) != length) {
        self->writeFailed_ = true;
        return CAIRO_STATUS_WRITE_ERROR;
    }
    return CAIRO_STATUS_SUCCESS;
}

int PrinterDevice::StartDoc(int inputBytes, const char* input) {
    if (context_)
        return SP_ERROR; // documents do not nest
    // The document goes to an unnamed work file, so that a reader never sees
    // half a document, an older file survives a failure and a killed process
    // leaves nothing; a device, pipe or socket named as the target is
    // written into at ENDDOC, never replaced.
    std::string error;
    std::unique_ptr<folio::OutputFile> output = folio::OutputFile::Create(path_, error);
    if (!output)
        return SP_ERROR;
    const int fd = dup(output->Fd());
    file_ = fd >= 0 ? fdopen(fd, "wb") : nullptr;
    if (!file_) {
        if (fd >= 0)
            close(fd);
        return SP_ERROR;
    }
    output_ = std::move(output);
    writeFailed_ = false;
    const double points = 72.0 / dotsPerInch;
    pdf_ = cairo_pdf_surface_create_for_stream(&PrinterDevice::WriteToFile, this, width * points,
                                               height * points);
    if (cairo_surface_status(pdf_) != CAIRO_STATUS_SUCCESS) {
        Abandon();
        return SP_ERROR;
    }
    const std::string name = DocumentName(inputBytes, input);
    if (!name.empty())
        cairo_pdf_surface_set_metadata(pdf_, CAIRO_PDF_METADATA_TITLE, name.c_str());
    cairo_pdf_surface_set_metadata(pdf_, CAIRO_PDF_METADATA_CREATOR, "Rastrum");
    context_ = cairo_create(pdf_);
    if (cairo_status(context_) != CAIRO_STATUS_SUCCESS) {
        Abandon();
        return SP_ERROR;
    }
    return 1;
}

int PrinterDevice::NewFrame() {
    if (!context_)
        return SP_ERROR;
    cairo_show_page(context_);
    if (cairo_status(context_) != CAIRO_STATUS_SUCCESS || writeFailed_) {
        // As on the platform, a page that cannot be sent ends the job.
        Abandon();
        return SP_ERROR;
    }
    return 1;
}

int PrinterDevice::EndDoc() {
    if (!context_)
        return SP_ERROR;
    cairo_destroy(context_);
    context_ = nullptr;
    cairo_surface_finish(pdf_);
    bool ok = cairo_surface_status(pdf_) == CAIRO_STATUS_SUCCESS && !writeFailed_;
    cairo_surface_destroy(pdf_);
    pdf_ = nullptr;
    ok = std::fflush(file_) == 0 && ok;
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    std::string error;
    ok = ok && output_->Commit(error);
    output_.reset();
    return ok ? 1 : SP_ERROR;
}

void PrinterDevice::Abandon() {
    if (context_) {
        cairo_destroy(context_);
        context_ = nullptr;
    }
    if (pdf_) {
        // Finishing flushes into the file that is about to be removed; the
        // callback must still find it open.
        cairo_surface_finish(pdf_);
        cairo_surface_destroy(pdf_);
        pdf_ = nullptr;
    }
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    output_.reset();
}

void AppendJournal(HDC dc, std::string line) {
    std::lock_guard lock(TableMutex());
    Device* device = LookupDevice(dc);
    if (device && device->journal.size() < kMaxJournal)
        device->journal.push_back(std::move(line));
}

std::vector<std::string> Journal(HDC dc) {
    std::lock_guard lock(TableMutex());
    Device* device = LookupDevice(dc);
    return device ? device->journal : std::vector<std::string>{};
}

void ClearJournal(HDC dc) {
    std::lock_guard lock(TableMutex());
    if (Device* device = LookupDevice(dc))
        device->journal.clear();
}

namespace {

Device* FindDevice(HDC dc) {
    std::lock_guard lock(TableMutex());
    return LookupDevice(dc);
}

// One row of DIB pixels, columns [first, first + count), as 0x00RRGGBB.
void DecodeRow(const std::uint8_t* row, int bitCount, const std::uint32_t* colours,
               std::int64_t first, int count, std::uint32_t* out) {
    switch (bitCount) {
    case 1:
        for (int i = 0; i < count; ++i) {
            const std::int64_t x = first + i;
            out[i] = colours[(row[x >> 3] >> (7 - (x & 7))) & 1];
        }
        break;
    case 4:
        for (int i = 0; i < count; ++i) {
            const std::int64_t x = first + i;
            const std::uint8_t b = row[x >> 1];
            out[i] = colours[(x & 1) ? (b & 0x0F) : (b >> 4)];
        }
        break;
    case 8:
        for (int i = 0; i < count; ++i)
            out[i] = colours[row[first + i]];
        break;
    default: {
        const std::uint8_t* p = row + 3 * first;
        for (int i = 0; i < count; ++i, p += 3)
            out[i] = (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) | p[0];
        break;
    }
    }
}

int DrawDib(HDC dc, std::int64_t xDest, std::int64_t yDest, std::int64_t w, std::int64_t h,
            std::int64_t xSrc, std::int64_t ySrc, std::int64_t startScan, std::int64_t lines,
            const void* bits, const BITMAPINFO* info, UINT colorUse) {
    Device* device = FindDevice(dc);
    if (!device || !bits || !info || colorUse != DIB_RGB_COLORS || !device->CanDraw())
        return 0;
    BITMAPINFOHEADER header;
    std::memcpy(&header, info, sizeof header);
    const int depth = header.biBitCount;
    if (header.biSize < sizeof header || header.biCompression != BI_RGB ||
        (depth != 1 && depth != 4 && depth != 8 && depth != 24) || header.biWidth <= 0 ||
        header.biHeight <= 0)
        return 0;
    const std::int64_t dibWidth = header.biWidth;
    const std::int64_t dibHeight = header.biHeight;

    // Colour table: biClrUsed entries (all 2^depth when 0); an index past its
    // end shows black.
    std::uint32_t colours[256] = {};
    if (depth <= 8) {
        const DWORD full = DWORD(1) << depth;
        const DWORD used = header.biClrUsed ? std::min(header.biClrUsed, full) : full;
        const auto* table = reinterpret_cast<const std::uint8_t*>(info) + header.biSize;
        for (DWORD i = 0; i < used; ++i) {
            RGBQUAD q;
            std::memcpy(&q, table + 4 * i, 4);
            colours[i] =
                (std::uint32_t(q.rgbRed) << 16) | (std::uint32_t(q.rgbGreen) << 8) | q.rgbBlue;
        }
    }
    const std::int64_t stride = (dibWidth * depth + 31) / 32 * 4;

    // Device pixel (dx, dy) shows DIB column xSrc + (dx - xDest) and DIB row
    // ySrc + (h - 1) - (dy - yDest), rows counted from the bottom. Only rows
    // held in bits (startScan onward) and inside the DIB can be shown.
    const std::int64_t rowLo = std::max<std::int64_t>(startScan, 0);
    const std::int64_t rowHi = std::min<std::int64_t>(startScan + lines, dibHeight);
    const std::int64_t x0 = std::max({std::int64_t(0), xDest, xDest - xSrc});
    const std::int64_t x1 =
        std::min({std::int64_t(device->width), xDest + w, xDest - xSrc + dibWidth});
    const std::int64_t y0 = std::max({std::int64_t(0), yDest, yDest + ySrc + h - rowHi});
    const std::int64_t y1 =
        std::min({std::int64_t(device->height), yDest + h, yDest + ySrc + h - rowLo});
    if (x0 >= x1 || y0 >= y1)
        return int(std::min<std::int64_t>(lines, 0x7FFFFFFF));

    PixelBlock block;
    if (!device->BeginDraw(int(x0), int(y0), int(x1 - x0), int(y1 - y0), block))
        return 0;
    const auto* base = static_cast<const std::uint8_t*>(bits);
    for (std::int64_t dy = y0; dy < y1; ++dy) {
        const std::int64_t row = ySrc + (h - 1) - (dy - yDest);
        DecodeRow(base + (row - startScan) * stride, depth, colours, xSrc + (x0 - xDest),
                  int(x1 - x0), block.data + (dy - y0) * block.stride);
    }
    device->EndDraw();
    return int(std::min<std::int64_t>(lines, 0x7FFFFFFF));
}

} // namespace
} // namespace rastrum::gdi

using namespace rastrum::gdi;

extern "C" {

HDC RastrumCreateMemoryDC(int width, int height) {
    if (width < 1 || height < 1 || width > kMaxRasterSide || height > kMaxRasterSide ||
        std::int64_t(width) * height > kMaxRasterPixels)
        return nullptr;
    try {
        cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
        if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
            cairo_surface_destroy(surface);
            return nullptr;
        }
        cairo_t* cr = cairo_create(surface);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_paint(cr);
        cairo_destroy(cr);
        auto* device = new MemoryDevice(width, height, surface);
        if (!Register(device)) {
            delete device;
            return nullptr;
        }
        return reinterpret_cast<HDC>(static_cast<GdiObject*>(device));
    } catch (...) {
        return nullptr;
    }
}

BOOL RastrumSaveDCAsPng(HDC dc, LPCSTR path) {
    if (!path)
        return 0;
    Device* device = FindDevice(dc);
    if (!device || device->kind != ObjectKind::MemoryDevice)
        return 0;
    auto* memory = static_cast<MemoryDevice*>(device);
    cairo_surface_flush(memory->surface);
    try {
        // Whole or not at all, as the printer's PDF: an older picture survives
        // a failure and a device or pipe is written into, not replaced.
        std::string error;
        std::unique_ptr<folio::OutputFile> output = folio::OutputFile::Create(path, error);
        if (!output)
            return 0;
        const auto append = [](void* closure, const unsigned char* data, unsigned length) {
            const int fd = *static_cast<int*>(closure);
            while (length > 0) {
                const ssize_t done = write(fd, data, length);
                if (done < 0 && errno == EINTR)
                    continue;
                if (done <= 0)
                    return CAIRO_STATUS_WRITE_ERROR;
                data += done;
                length -= unsigned(done);
            }
            return CAIRO_STATUS_SUCCESS;
        };
        int fd = output->Fd();
        return cairo_surface_write_to_png_stream(memory->surface, append, &fd) ==
                   CAIRO_STATUS_SUCCESS &&
               output->Commit(error);
    } catch (...) {
        return 0;
    }
}

HDC RastrumCreatePrinterDC(LPCSTR path, int width, int height, int dotsPerInch) {
    if (!path || !*path || width < 1 || height < 1 || width > kMaxPageSide ||
        height > kMaxPageSide || dotsPerInch < 1 || dotsPerInch > kMaxDotsPerInch)
        return nullptr;
    try {
        auto* device = new PrinterDevice(path, width, height, dotsPerInch);
        if (!Register(device)) {
            delete device;
            return nullptr;
        }
        return reinterpret_cast<HDC>(static_cast<GdiObject*>(device));
    } catch (...) {
        return nullptr;
    }
}

BOOL DeleteDC(HDC dc) {
    {
        std::lock_guard lock(TableMutex());
        if (!LookupDevice(dc))
            return 0;
    }
    return Unregister(dc) ? 1 : 0;
}

int GetDeviceCaps(HDC dc, int index) {
    Device* device = FindDevice(dc);
    if (!device)
        return 0;
    switch (index) {
    case HORZRES:
        return device->width;
    case VERTRES:
        return device->height;
    case LOGPIXELSX:
    case LOGPIXELSY:
        return device->dotsPerInch;
    default:
        return 0;
    }
}

COLORREF GetPixel(HDC dc, int x, int y) {
    Device* device = FindDevice(dc);
    if (!device || device->kind != ObjectKind::MemoryDevice || x < 0 || y < 0 ||
        x >= device->width || y >= device->height)
        return CLR_INVALID;
    auto* memory = static_cast<MemoryDevice*>(device);
    cairo_surface_flush(memory->surface);
    const unsigned char* data = cairo_image_surface_get_data(memory->surface);
    std::uint32_t pixel;
    std::memcpy(&pixel,
                data + std::ptrdiff_t(y) * cairo_image_surface_get_stride(memory->surface) + 4 * x,
                4);
    return ((pixel >> 16) & 0xFF) | (pixel & 0xFF00) | ((pixel & 0xFF) << 16);
}

int SetDIBitsToDevice(HDC dc, int xDest, int yDest, DWORD width, DWORD height, int xSrc, int ySrc,
                      UINT startScan, UINT lines, const void* bits, const BITMAPINFO* info,
                      UINT colorUse) {
    int result = 0;
    try {
        result = DrawDib(dc, xDest, yDest, width, height, xSrc, ySrc, startScan, lines, bits, info,
                         colorUse);
        AppendJournal(dc, "SetDIBitsToDevice " + std::to_string(xDest) + " " +
                              std::to_string(yDest) + " " + std::to_string(width) + " " +
                              std::to_string(height) + " " + std::to_string(xSrc) + " " +
                              std::to_string(ySrc) + " " + std::to_string(startScan) + " " +
                              std::to_string(lines) + " -> " + std::to_string(result));
    } catch (...) {
    }
    return result;
}

int Escape(HDC dc, int escape, int inputBytes, LPCSTR input, LPVOID) {
    try {
        Device* device = FindDevice(dc);
        if (!device)
            return SP_ERROR;
        const int result = device->DoEscape(escape, inputBytes, input);
        const char* name = EscapeName(escape);
        std::string line = "Escape ";
        line += name ? name : std::to_string(escape);
        if (escape == STARTDOC)
            line += " " + DocumentName(inputBytes, input);
        AppendJournal(dc, line + " -> " + std::to_string(result));
        return result;
    } catch (...) {
        return SP_ERROR;
    }
}

} // extern "C"
