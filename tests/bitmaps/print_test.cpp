// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Printing: the escape sequence and the one drawing call, what a failing
// device does to the sequence, and the PDF file the printer device writes.
#include "TestDib.h"
#include "gdi/Gdi.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace rastrum_test;
namespace fs = std::filesystem;

fs::path TempDir() {
    const char* env = std::getenv("FOLIO_TEST_TMP");
    fs::path dir = env ? fs::path(env) : fs::temp_directory_path() / "rastrum_tests";
    fs::create_directories(dir);
    return dir;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// What poppler's pdfinfo reads of `pdf`: the page count and the first page's
// media box in points. It reads every form cairo writes (newer cairo puts
// the page objects into compressed object streams), however it spaces them.
struct PdfInfo {
    int pages = -1;
    std::vector<double> box;
};

PdfInfo ReadPdfInfo(const fs::path& pdf) {
    PdfInfo info;
    const std::string command = "pdfinfo -box '" + pdf.string() + "' 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return info;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) {
        std::istringstream in(line);
        std::string key;
        in >> key;
        if (key == "Pages:") {
            in >> info.pages;
        } else if (key == "MediaBox:") {
            for (double v; in >> v;)
                info.box.push_back(v);
        }
    }
    ::pclose(pipe);
    return info;
}

TEST(PrintBitmap, OnePageDocumentWithThePictureAtTwentyTwenty) {
    std::mt19937 rng(12);
    for (int depth : {1, 4, 8, 24}) {
        SCOPED_TRACE(depth);
        const fs::path pdf = TempDir() / ("print" + std::to_string(depth) + ".pdf");
        fs::remove(pdf);
        Block dib(MakeDib(RandomPicture(rng, 37, 23, depth)));
        HDC printer = RastrumCreatePrinterDC(pdf.c_str(), 850, 1100, 100);
        ASSERT_NE(printer, nullptr);
        EXPECT_EQ(PrintBitmap(printer, dib.get()), 1);
        const std::vector<std::string> expected = {
            "Escape STARTDOC Document -> 1",
            "SetDIBitsToDevice 20 20 37 23 0 0 0 23 -> 23",
            "Escape NEWFRAME -> 1",
            "Escape ENDDOC -> 1",
        };
        EXPECT_EQ(rastrum::gdi::Journal(printer), expected);
        EXPECT_EQ(hooks::OutstandingLocks(), 0);
        DeleteDC(printer);

        const std::string text = ReadFile(pdf);
        EXPECT_EQ(text.rfind("%PDF-", 0), 0u);
        const PdfInfo info = ReadPdfInfo(pdf);
        EXPECT_EQ(info.pages, 1);
        // 850 x 1100 pixels at 100 dpi is 612 x 792 points (US Letter).
        EXPECT_EQ(info.box, (std::vector<double>{0, 0, 612, 792}));
    }
}

TEST(PrintBitmap, LargerThanThePageIsClippedNotScaled) {
    const fs::path pdf = TempDir() / "clipped.pdf";
    Block dib(MakeDib(Solid(300, 200, 0x336699)));
    HDC printer = RastrumCreatePrinterDC(pdf.c_str(), 100, 80, 72);
    EXPECT_EQ(PrintBitmap(printer, dib.get()), 1);
    EXPECT_EQ(rastrum::gdi::Journal(printer)[1],
              "SetDIBitsToDevice 20 20 300 200 0 0 0 200 -> 200");
    DeleteDC(printer);
    EXPECT_TRUE(fs::exists(pdf));
}

TEST(PrintBitmap, NullOrRefusedPictureSendsNoEscape) {
    HDC printer = RastrumCreatePrinterDC((TempDir() / "never.pdf").c_str(), 100, 100, 72);
    EXPECT_EQ(PrintBitmap(printer, nullptr), 0);
    EXPECT_TRUE(rastrum::gdi::Journal(printer).empty());
    DeleteDC(printer);
    EXPECT_FALSE(fs::exists(TempDir() / "never.pdf"));
    Block dib(MakeDib(Solid(2, 2, 0)));
    EXPECT_EQ(PrintBitmap(nullptr, dib.get()), 0);
}

TEST(PrintBitmap, DocumentThatCannotStartEndsTheCallAndLeavesNoFile) {
    // The target's folder does not exist: STARTDOC fails and nothing else is sent.
    const fs::path pdf = TempDir() / "missing-folder" / "x.pdf";
    Block dib(MakeDib(Solid(3, 3, 0xFFFFFF)));
    HDC printer = RastrumCreatePrinterDC(pdf.c_str(), 100, 100, 72);
    EXPECT_EQ(PrintBitmap(printer, dib.get()), 0);
    const std::vector<std::string> expected = {"Escape STARTDOC Document -> -1"};
    EXPECT_EQ(rastrum::gdi::Journal(printer), expected);
    DeleteDC(printer);
    EXPECT_FALSE(fs::exists(pdf));
}

TEST(PrinterDevice, EscapesOutsideADocumentFailAndAbandonedDocumentsLeaveNoFile) {
    const fs::path pdf = TempDir() / "abandoned.pdf";
    fs::remove(pdf);
    HDC printer = RastrumCreatePrinterDC(pdf.c_str(), 200, 200, 72);
    EXPECT_EQ(Escape(printer, NEWFRAME, 0, nullptr, nullptr), SP_ERROR);
    EXPECT_EQ(Escape(printer, ENDDOC, 0, nullptr, nullptr), SP_ERROR);
    EXPECT_EQ(Escape(printer, 4711, 0, nullptr, nullptr), 0);
    const int asked = NEWFRAME;
    EXPECT_EQ(
        Escape(printer, QUERYESCSUPPORT, sizeof asked, reinterpret_cast<LPCSTR>(&asked), nullptr),
        1);
    // Hostile name lengths are clipped.
    EXPECT_EQ(Escape(printer, STARTDOC, 1 << 30, "Name", nullptr), 1);
    EXPECT_EQ(Escape(printer, STARTDOC, 4, "Name", nullptr), SP_ERROR); // no nesting
    Block dib(MakeDib(Solid(3, 3, 0)));
    EXPECT_EQ(ShowDib(printer, dib.get(), 0, 0), 1);
    EXPECT_EQ(Escape(printer, NEWFRAME, 0, nullptr, nullptr), 1);
    DeleteDC(printer); // before ENDDOC
    EXPECT_FALSE(fs::exists(pdf));
    for (const auto& entry : fs::directory_iterator(TempDir()))
        EXPECT_EQ(entry.path().filename().string().find("abandoned.pdf"), std::string::npos);
}

// Regression: a named pipe (or a device) named as the printer's file was
// renamed over; now it receives the PDF and stays a pipe. The reading end is
// open before the document starts, and a small PDF fits the pipe's buffer.
TEST(PrintBitmap, PipeNamedAsTheTargetReceivesTheDocument) {
    const fs::path fifo = TempDir() / "printer.fifo";
    fs::remove(fifo);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int end = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(end, 0);
    Block dib(MakeDib(Solid(4, 4, 0)));
    HDC printer = RastrumCreatePrinterDC(fifo.c_str(), 100, 100, 72);
    EXPECT_EQ(PrintBitmap(printer, dib.get()), 1);
    DeleteDC(printer);
    std::string received;
    char buffer[4096];
    for (ssize_t n; (n = ::read(end, buffer, sizeof buffer)) > 0;)
        received.append(buffer, std::size_t(n));
    ::close(end);
    EXPECT_EQ(received.rfind("%PDF", 0), 0u);
    EXPECT_NE(received.find("%%EOF"), std::string::npos);
    EXPECT_TRUE(fs::is_fifo(fifo));
    fs::remove(fifo);
}

TEST(PrinterDevice, CreationRefusesNonsense) {
    EXPECT_EQ(RastrumCreatePrinterDC(nullptr, 10, 10, 72), nullptr);
    EXPECT_EQ(RastrumCreatePrinterDC("", 10, 10, 72), nullptr);
    EXPECT_EQ(RastrumCreatePrinterDC("x.pdf", 0, 10, 72), nullptr);
    EXPECT_EQ(RastrumCreatePrinterDC("x.pdf", 10, -1, 72), nullptr);
    EXPECT_EQ(RastrumCreatePrinterDC("x.pdf", 10, 10, 0), nullptr);
    EXPECT_EQ(RastrumCreateMemoryDC(0, 5), nullptr);
    EXPECT_EQ(RastrumCreateMemoryDC(40000, 5), nullptr);
    EXPECT_EQ(RastrumCreateMemoryDC(30000, 30000), nullptr);
    EXPECT_EQ(DeleteDC(nullptr), 0);
}

TEST(MemoryDevice, SavesItsRasterAsPng) {
    const fs::path png = TempDir() / "raster.png";
    HDC dc = RastrumCreateMemoryDC(7, 3);
    ASSERT_TRUE(RastrumSaveDCAsPng(dc, png.c_str()));
    const std::string text = ReadFile(png);
    EXPECT_EQ(text.substr(1, 3), "PNG");
    EXPECT_FALSE(RastrumSaveDCAsPng(dc, (TempDir() / "no" / "such.png").c_str()));
    DeleteDC(dc);
    EXPECT_FALSE(RastrumSaveDCAsPng(dc, png.c_str()));
}

TEST(SetDIBitsToDevice, HostileRectanglesAreClippedBeforeDrawing) {
    Block dib(MakeDib(Solid(4, 4, 0x102030)));
    const auto* bytes = static_cast<const std::uint8_t*>(GlobalLock(dib.get()));
    const auto* info = reinterpret_cast<const BITMAPINFO*>(bytes);
    HDC dc = RastrumCreateMemoryDC(4, 4);
    struct {
        int xd, yd;
        DWORD w, h;
        int xs, ys;
        UINT start, lines;
    } const cases[] = {
        {0x7FFFFFFF, 0, 4, 4, 0, 0, 0, 4},
        {-0x7FFFFFFF, -0x7FFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0, 0, 0, 4},
        {0, 0, 4, 4, -0x7FFFFFFF, 0x7FFFFFFF, 0, 4},
        {0, 0, 4, 4, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF},
        {0, 0, 4, 4, 0, 0, 2, 0},
    };
    for (auto c : cases)
        SetDIBitsToDevice(dc, c.xd, c.yd, c.w, c.h, c.xs, c.ys, c.start, c.lines, bytes + 40, info,
                          DIB_RGB_COLORS);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(GetPixel(dc, x, y), 0xFFFFFFu);
    // Scan lines 1 and 2 only: the device rows showing DIB rows 1 and 2.
    EXPECT_EQ(SetDIBitsToDevice(dc, 0, 0, 4, 4, 0, 0, 1, 2, bytes + 40 + 12, info, DIB_RGB_COLORS),
              2);
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(GetPixel(dc, 0, y), (y == 1 || y == 2) ? 0x302010u : 0xFFFFFFu) << y;
    GlobalUnlock(dib.get());
    DeleteDC(dc);
}

} // namespace
