// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// BARCODE in both variants: what each bad command reports and that it draws
// nothing, hostile numbers included; where a drawn symbol's modules fall on
// the pixel grid; and that the pen stays where it was. That the symbols read
// is proved by the outside readers (tests/library/barcode_read_test.cpp).
#include "Diagnostics.h"
#include "FaxImage.h"

#include "common/EngineTestSupport.h"
#include "common/VariantEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

using enginetest::kLibrary;
using enginetest::kPrefix;
using enginetest::makeEngine;

struct Recorder : folio::DiagnosticSink {
    std::vector<folio::Diagnostic> seen;
    void Report(const folio::Diagnostic& d) override { seen.push_back(d); }
};

struct BarcodeRun {
    std::unique_ptr<FaxImage> fax = makeEngine();
    Recorder recorder;
    explicit BarcodeRun(const std::string& command) {
        fax->SetDiagnostics(&recorder);
        fax->SetSourceLine(1);
        enginetest::run(*fax, kPrefix + command);
    }
    const folio::Bitmap& page() { return fax->Image->Picture(); }
    std::string all() const {
        std::string s;
        for (const folio::Diagnostic& d : recorder.seen)
            s += std::string(d.kind) + ": " + d.message + "\n";
        return s;
    }
};

struct Refused {
    const char* command;
    const char* kind;
};

const Refused kRefused[] = {
    {"BARCODE=CODE93,100,100,0,ABC", folio::kind::BarcodeType},
    {"BARCODE=,100,100,0,ABC", folio::kind::BarcodeType},
    {"BARCODE", folio::kind::MissingArgument},
    {"BARCODE=QR,100,100", folio::kind::MissingArgument},
    {"BARCODE=QR,100,100,0", folio::kind::MissingArgument},
    {"BARCODE=QR,100,100,0,", folio::kind::MissingArgument},
    {"BARCODE=QR,100,100,0,   \t", folio::kind::MissingArgument},
    {"BARCODE=EAN13,100,100,0,12AB", folio::kind::BarcodeData},
    {"BARCODE=EAN13,100,100,0,5901234123458", folio::kind::BarcodeData}, // wrong check digit
    {"BARCODE=EAN13,100,100,0,590123412345+12", folio::kind::BarcodeData},
    {"BARCODE=UPCA,100,100,0,1234567890123", folio::kind::BarcodeData},
    {"BARCODE=ITF,100,100,0,12-34", folio::kind::BarcodeData},
    {"BARCODE=CODE128,100,100,0,Gr\xFC\xDF"
     "e",
     folio::kind::BarcodeData},
    {"BARCODE=CODE39,100,100,0,tab\there", folio::kind::BarcodeData},
    {"BARCODE=QR,1700,100,0,x", folio::kind::BarcodeClipped},
    {"BARCODE=QR,-1,100,0,x", folio::kind::BarcodeClipped},
    {"BARCODE=QR,100,-1,0,x", folio::kind::BarcodeClipped},
    {"BARCODE=AZTEC,100,2150,0,x", folio::kind::BarcodeClipped},
    {"BARCODE=CODE128,100,2100,0,x", folio::kind::BarcodeClipped}, // its text line
    {"BARCODE=CODE128,100,100,2147483647,x", folio::kind::BarcodeClipped},
    {"BARCODE=PDF417,2147483647,2147483647,0,x", folio::kind::BarcodeClipped},
    {"BARCODE=DATAMATRIX,-2147483648,-2147483648,-2147483648,x", folio::kind::BarcodeClipped},
};

TEST(Barcode, EachRefusedCommandWarnsAndDrawsNothing) {
    std::vector<Refused> cases(std::begin(kRefused), std::end(kRefused));
    const std::string wide = "BARCODE=CODE128,0,100,0," + std::string(60, 'W');
    const std::string tooLong = "BARCODE=QR,0,0,0," + std::string(7100, '7');
    cases.push_back({wide.c_str(), folio::kind::BarcodeClipped});
    cases.push_back({tooLong.c_str(), folio::kind::BarcodeData});
    for (const Refused& c : cases) {
        SCOPED_TRACE(std::string(c.command).substr(0, 60));
        BarcodeRun run(c.command);
        ASSERT_EQ(run.recorder.seen.size(), 1u) << run.all();
        EXPECT_STREQ(run.recorder.seen[0].kind, c.kind) << run.all();
        EXPECT_EQ(run.recorder.seen[0].severity, folio::Severity::Warning);
        EXPECT_EQ(run.recorder.seen[0].line, 1);
        EXPECT_EQ(run.page().CountBlack(), 0u);
    }
}

TEST(Barcode, ChangedValuesAreNotedAndDrawn) {
    const char* noted[] = {"BARCODE=EAN13,100,100,0,400638133393",
                           "BARCODE=EAN13,100,100,0,12345",
                           "BARCODE=UPCA,100,100,0,03600029145",
                           "BARCODE=ITF,100,100,0,123"};
    for (const char* command : noted) {
        SCOPED_TRACE(command);
        BarcodeRun run(command);
        ASSERT_FALSE(run.recorder.seen.empty());
        for (const folio::Diagnostic& d : run.recorder.seen) {
            EXPECT_EQ(d.severity, folio::Severity::Note) << run.all();
            EXPECT_STREQ(d.kind, folio::kind::BarcodeAdjusted);
        }
        EXPECT_GT(run.page().CountBlack(), 0u);
    }
    BarcodeRun plain("BARCODE=EAN13,100,100,0,4006381333931");
    EXPECT_TRUE(plain.recorder.seen.empty()) << plain.all();
}

// Code 128 at (101, 200), 90 rows: the bars start after 10 quiet modules of
// 3 pixels, every bar and gap is a multiple of 3 pixels (the narrowest 3),
// the bars fill rows 200 to 289 and the human-readable line lies below.
TEST(Barcode, BarsAreWholeModulesOfThreePixels) {
    BarcodeRun run("BARCODE=code128 ,101,200,90, CASE-417 ");
    const folio::Bitmap& page = run.page();
    EXPECT_TRUE(run.recorder.seen.empty()) << run.all();
    EXPECT_EQ(run.fax->X, run.fax->Left);
    EXPECT_EQ(run.fax->Y, run.fax->Top);
    EXPECT_EQ(enginetest::blackIn(page, 0, 0, 1728, 200), 0);
    EXPECT_EQ(enginetest::blackIn(page, 0, 200, 131, 290), 0);
    // Code 128: 11 modules per character with start and check, 13 for stop.
    const int modules = 11 * (8 + 2) + 13;
    EXPECT_EQ(enginetest::blackIn(page, 131 + 3 * modules, 200, 1728, 290), 0);
    int run0 = -1, narrowest = 1000;
    for (int x = 131; x <= 131 + 3 * modules; ++x) {
        const bool edge = x == 131 + 3 * modules || page.Pixel(x, 250) != page.Pixel(x - 1, 250);
        if (edge && run0 >= 0) {
            EXPECT_EQ((x - run0) % 3, 0) << "run at " << run0;
            narrowest = std::min(narrowest, x - run0);
        }
        if (edge)
            run0 = x;
    }
    EXPECT_EQ(narrowest, 3);
    for (int x = 131; x < 131 + 3 * modules; ++x)
        ASSERT_EQ(page.Pixel(x, 200), page.Pixel(x, 289)) << x;
    EXPECT_EQ(enginetest::blackIn(page, 131, 290, 131 + 3 * modules, 293), 0);
    EXPECT_GT(enginetest::blackIn(page, 131, 293, 131 + 3 * modules, 360), 0); // "CASE-417"
}

// A QR code at an odd row: its modules are 4 x 4 pixels and start on an even
// row, so that normal resolution merges each into exactly 2 rows; the finder
// pattern's top row is 7 modules (28 pixels) of black.
TEST(Barcode, MatrixModulesStartOnEvenRows) {
    BarcodeRun run("BARCODE=QR,101,101,0,odd place");
    const folio::Bitmap& page = run.page();
    const int left = 101 + 16, top = 101 + 16 + 1;
    EXPECT_EQ(enginetest::blackIn(page, 0, 0, 1728, top), 0);
    EXPECT_EQ(enginetest::blackIn(page, 0, 0, left, 2200), 0);
    EXPECT_EQ(enginetest::blackIn(page, left, top, left + 28, top + 4), 28 * 4);
    EXPECT_FALSE(page.Pixel(left + 28, top));
    EXPECT_EQ(run.fax->X, run.fax->Left);
    EXPECT_EQ(run.fax->Y, run.fax->Top);
}

// The symbol's area, quiet zone included, is painted white over what lay
// there: a reader needs its quiet zone clear.
TEST(Barcode, QuietZoneIsClearedOverEarlierDrawing) {
    BarcodeRun run("BOX=50,50,100,100");
    enginetest::run(*run.fax, std::string(kPrefix) + "BARCODE=QR,100,100,0,clear");
    EXPECT_EQ(enginetest::blackIn(run.page(), 100, 100, 116, 217), 0); // left quiet zone
    EXPECT_TRUE(run.page().Pixel(60, 150)); // the box outside the symbol stays
    ASSERT_FALSE(run.recorder.seen.empty());
    EXPECT_STREQ(run.recorder.seen.back().kind, folio::kind::BarcodeOverInk) << run.all();
}

// Drawn, with a warning: what a scanner reads differs, or may not read.
TEST(Barcode, DoubtfulCommandsWarnAndDraw) {
    const Refused warned[] = {
        {"BARCODE=CODE39,100,100,0,abc", folio::kind::BarcodeAdjusted},
        {"BARCODE=CODE128,100,100,-5,x", folio::kind::BarcodeHeight},
        {"BARCODE=CODE128,100,100,5,x", folio::kind::BarcodeHeight},
        {"BARCODE=CODE128 SIDEWAYS,100,100,0,x", folio::kind::BarcodeType},
    };
    for (const Refused& c : warned) {
        SCOPED_TRACE(c.command);
        BarcodeRun run(c.command);
        bool found = false;
        for (const folio::Diagnostic& d : run.recorder.seen)
            found = found || (d.severity == folio::Severity::Warning && std::string(d.kind) == c.kind);
        EXPECT_TRUE(found) << run.all();
        EXPECT_GT(run.page().CountBlack(), 0u);
    }
}

// The label has its own font: a 24-point bold running text changes nothing;
// NOLABEL leaves it off, LABELSIZE makes it larger.
TEST(Barcode, TheLabelKeepsItsOwnFontOrIsLeftOff) {
    auto drawn = [](const std::string& font, const std::string& type) {
        BarcodeRun run(font);
        enginetest::run(*run.fax, std::string(kPrefix) + "BARCODE=" + type + ",100,100,60,A-1");
        return run.page();
    };
    const folio::Bitmap plain = drawn("FONT=Arial,8", "CODE128");
    const folio::Bitmap heading = drawn("FONT=Arial,24,1", "CODE128");
    EXPECT_EQ(enginetest::blackIn(plain, 0, 0, 1728, 2200),
              enginetest::blackIn(heading, 0, 0, 1728, 2200));
    const auto below = [](const folio::Bitmap& b) { return enginetest::blackIn(b, 0, 161, 1728, 400); };
    EXPECT_GT(below(plain), 0);
    EXPECT_EQ(below(drawn("FONT=Arial,8", "CODE128 NOLABEL")), 0);
    EXPECT_GT(below(drawn("FONT=Arial,8", "CODE128 LABELSIZE=20")), below(plain));
}

} // namespace
