// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// FILE=name,PNG / JPG / TIF in both variants. The pictures are written by
// the tests through libpng, libjpeg and libtiff into a temporary folder:
// every PNG colour type and depth, JPEG grey, colour, Adobe CMYK and
// EXIF-turned, TIFF fax, grey and colour. Checked: drawn size and place,
// the pen after the picture, threshold versus diffusion, a fax page drawn
// back pixel for pixel, and broken files refused with the decoder's reason.
#include "Diagnostics.h"
#include "FaxImage.h"

#include "Error.h"
#include "common/EngineTestSupport.h"
#include "common/PictureFiles.h"
#include "common/VariantEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

using enginetest::kLibrary;
using enginetest::kPrefix;
using enginetest::makeEngine;

using namespace picturetest;

struct Recorder : folio::DiagnosticSink {
    std::vector<folio::Diagnostic> seen;
    void Report(const folio::Diagnostic& d) override { seen.push_back(d); }
    const folio::Diagnostic* find(const char* kind) const {
        for (const auto& d : seen)
            if (std::string(d.kind) == kind)
                return &d;
        return nullptr;
    }
};

struct AllowAll : FileGate {
    bool MayRead(const std::string&) override { return true; }
};

// A file in a folder of the test's own, removed at exit.
std::string scratch(const std::string& name) {
    static const struct Folder {
        std::string path;
        Folder() {
            path = ::testing::TempDir() + "pictures-XXXXXX";
            EXPECT_NE(::mkdtemp(path.data()), nullptr);
        }
        ~Folder() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    } folder;
    return folder.path + "/" + name;
}

struct Drawn {
    std::unique_ptr<FaxImage> fax;
    Recorder diags;
    bool threw = false;
    std::string error;
    const folio::Bitmap& page() const { return fax->Image->Canvas().Target(); }
};

// Draws `file` as `type` with the pen at (x, y).
std::unique_ptr<Drawn> draw(const std::string& file, const std::string& type, int x, int y,
                            bool gated = false) {
    static AllowAll allow;
    auto d = std::make_unique<Drawn>();
    d->fax = makeEngine();
    d->fax->SetDiagnostics(&d->diags);
    if (gated)
        d->fax->SetFileGate(&allow);
    try {
        enginetest::run(*d->fax, std::string(kPrefix) + "X=" + std::to_string(x));
        enginetest::run(*d->fax, std::string(kPrefix) + "Y=" + std::to_string(y));
        enginetest::run(*d->fax, std::string(kPrefix) + "FILE=" + file + "," + type);
    } catch (const folio::Error& e) {
        d->threw = true;
        d->error = e.what();
    }
    return d;
}

// 48 x 24, white, with a black 16 x 8 box at (8, 8): edges on the JPEG
// block grid. `clear`: the white is transparent black instead.
Source box(bool clear = false) {
    return [clear](int x, int y) {
        const bool in = x >= 8 && x < 24 && y >= 8 && y < 16;
        if (in)
            return Pixel{0, 255};
        return clear ? Pixel{0, 0} : Pixel{255, 255};
    };
}

struct DrawCase {
    const char* name;
    const char* type;
    std::function<bool(const std::string&)> make;
};

const std::vector<DrawCase>& drawCases() {
    static const std::vector<DrawCase> cases = [] {
        std::vector<DrawCase> c;
        auto png = [&](const char* name, int colour, int depth, bool clear, bool interlace,
                       bool alpha = false) {
            c.push_back({name, "PNG", [=](const std::string& p) {
                             return writePng(p, 48, 24, colour, depth, box(clear), interlace, 0,
                                             alpha);
                         }});
        };
        for (int depth : {1, 2, 4, 8, 16})
            png(("grey-" + std::to_string(depth)).c_str(), PNG_COLOR_TYPE_GRAY, depth, false,
                false);
        png("grey-alpha-8", PNG_COLOR_TYPE_GRAY_ALPHA, 8, true, false);
        png("grey-alpha-16", PNG_COLOR_TYPE_GRAY_ALPHA, 16, true, false);
        png("rgb-8", PNG_COLOR_TYPE_RGB, 8, false, false);
        png("rgb-16", PNG_COLOR_TYPE_RGB, 16, false, false);
        png("rgba-8", PNG_COLOR_TYPE_RGBA, 8, true, false);
        png("rgba-16", PNG_COLOR_TYPE_RGBA, 16, true, false);
        for (int depth : {1, 2, 4, 8})
            png(("palette-" + std::to_string(depth)).c_str(), PNG_COLOR_TYPE_PALETTE, depth, false,
                false);
        png("palette-trns", PNG_COLOR_TYPE_PALETTE, 8, true, false, true);
        png("grey-interlaced", PNG_COLOR_TYPE_GRAY, 8, false, true);
        png("rgba-interlaced", PNG_COLOR_TYPE_RGBA, 8, true, true);
        png("grey-alpha-interlaced", PNG_COLOR_TYPE_GRAY_ALPHA, 16, true, true);
        png("rgb-interlaced", PNG_COLOR_TYPE_RGB, 8, false, true);
        for (auto [name, kind] : {std::pair{"jpeg-grey", JpegKind::Grey},
                                  {"jpeg-colour", JpegKind::Colour},
                                  {"jpeg-cmyk", JpegKind::AdobeCmyk}})
            c.push_back({name, "JPG", [kind = kind](const std::string& p) {
                             return writeJpeg(p, 48, 24, kind, box());
                         }});
        for (auto [name, kind] : {std::pair{"tiff-g4", TiffKind::FaxG4},
                                  {"tiff-g3", TiffKind::FaxG3},
                                  {"tiff-grey", TiffKind::Grey},
                                  {"tiff-rgb", TiffKind::Rgb}})
            c.push_back({name, "TIF", [kind = kind](const std::string& p) {
                             return writeTiff(p, 48, 24, kind, box());
                         }});
        return c;
    }();
    return cases;
}

// Each kind of file, drawn pixel for pixel at the pen: exactly the box is
// black, and the pen moves down by the picture's height; the same through
// a file gate.
TEST(Pictures, EveryKindIsDrawnAtThePenAndMovesItDown) {
    for (const DrawCase& c : drawCases()) {
        const std::string file = scratch(std::string(c.name) + ".pic");
        ASSERT_TRUE(c.make(file)) << c.name;
        for (bool gated : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (gated ? " gated" : ""));
            const auto d = draw(file, c.type, 100, 300, gated);
            ASSERT_FALSE(d->threw) << d->error;
            EXPECT_EQ(d->fax->Y, 324);
            EXPECT_EQ(d->fax->X, 100);
            EXPECT_EQ(enginetest::blackIn(d->page(), 108, 308, 124, 316), 128);
            EXPECT_EQ(d->page().CountBlack(), 128u);
            const folio::Diagnostic* note = d->diags.find(folio::kind::PictureSize);
            ASSERT_NE(note, nullptr);
            // Fax TIFFs state the page's own resolution; the rest none.
            EXPECT_NE(note->message.find(std::string(c.name) == "tiff-g3" ||
                                                 std::string(c.name) == "tiff-g4"
                                             ? "drawn 48 x 24 pixels (0.24 x 0.12 in) from its "
                                               "204 x 196 dpi"
                                             : "drawn 48 x 24 pixels (0.24 x 0.12 in) pixel for "
                                               "pixel: it states no resolution"),
                      std::string::npos)
                << note->message;
        }
    }
}

// A stated resolution gives the physical size on the 204 x 196 grid.
TEST(Pictures, AStatedResolutionGivesThePhysicalSize) {
    const Source logo = [](int x, int y) {
        return Pixel{x >= 100 && x < 500 && y >= 50 && y < 150 ? 0 : 255, 255};
    };
    struct {
        const char* name;
        const char* type;
        std::function<bool(const std::string&)> make;
    } cases[] = {
        {"logo.png", "png",
         [&](const std::string& p) {
             return writePng(p, 600, 200, PNG_COLOR_TYPE_GRAY, 8, logo, false, 11811);
         }},
        {"logo.jpg", "jpeg",
         [&](const std::string& p) {
             return writeJpeg(p, 600, 200, JpegKind::Grey, logo, 0, 300);
         }},
        {"logo.tif", "tiff",
         [&](const std::string& p) {
             return writeTiff(p, 600, 200, TiffKind::Grey, logo, 1, 300);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = scratch(c.name);
        ASSERT_TRUE(c.make(file));
        const auto d = draw(file, c.type, 0, 0);
        ASSERT_FALSE(d->threw) << d->error;
        EXPECT_EQ(d->fax->Y, 131);
        const folio::Diagnostic* note = d->diags.find(folio::kind::PictureSize);
        ASSERT_NE(note, nullptr);
        EXPECT_EQ(note->severity, folio::Severity::Note);
        EXPECT_EQ(note->message,
                  file + " drawn 408 x 131 pixels (2.00 x 0.67 in) from its 300 dpi");
        // The black 400 x 100 at (100, 50) becomes 272 x 65 at (68, 33); the
        // edge rows and columns may go either way.
        EXPECT_EQ(enginetest::blackIn(d->page(), 69, 34, 339, 97), 270 * 63);
        EXPECT_EQ(enginetest::blackIn(d->page(), 0, 0, 1728, 32), 0);
        EXPECT_EQ(enginetest::blackIn(d->page(), 0, 99, 1728, 300), 0);
        EXPECT_EQ(enginetest::blackIn(d->page(), 341, 0, 1728, 300), 0);
    }
}

// The EXIF orientation of a JPEG and the Orientation tag of a TIFF (fax,
// grey and colour: the 1-bit and the RGBA reader) turn the stored picture
// upright, each of the eight once. Stored: 48 x 24 with the box in the
// top-left corner.
TEST(Pictures, OrientationIsHonoured) {
    const Source corner = [](int x, int y) { return Pixel{x < 16 && y < 8 ? 0 : 255, 255}; };
    struct {
        int orientation, width, height, bx, by, bw, bh;
    } cases[] = {
        {1, 48, 24, 0, 0, 16, 8},   {2, 48, 24, 32, 0, 16, 8}, {3, 48, 24, 32, 16, 16, 8},
        {4, 48, 24, 0, 16, 16, 8},  {5, 24, 48, 0, 0, 8, 16},  {6, 24, 48, 16, 0, 8, 16},
        {7, 24, 48, 16, 32, 8, 16}, {8, 24, 48, 0, 32, 8, 16},
    };
    const std::pair<const char*, std::function<bool(const std::string&, int)>> kinds[] = {
        {"jpeg", [&](const std::string& p,
                     int o) { return writeJpeg(p, 48, 24, JpegKind::Colour, corner, o); }},
        {"tiff-1bit",
         [&](const std::string& p, int o) {
             return writeTiff(p, 48, 24, TiffKind::Bilevel, corner, 1, 0, COMPRESSION_NONE, o);
         }},
        {"tiff-grey",
         [&](const std::string& p, int o) {
             return writeTiff(p, 48, 24, TiffKind::Grey, corner, 1, 0, COMPRESSION_LZW, o);
         }},
        {"tiff-rgb",
         [&](const std::string& p, int o) {
             return writeTiff(p, 48, 24, TiffKind::Rgb, corner, 1, 0, COMPRESSION_LZW, o);
         }},
    };
    for (const auto& [kind, make] : kinds)
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(kind) + " " + std::to_string(c.orientation));
            const std::string file = scratch("turned" + std::to_string(c.orientation) + kind);
            ASSERT_TRUE(make(file, c.orientation));
            const auto d = draw(file, kind[0] == 'j' ? "JPG" : "TIF", 200, 400);
            ASSERT_FALSE(d->threw) << d->error;
            EXPECT_EQ(d->fax->Y, 400 + c.height);
            EXPECT_EQ(enginetest::blackIn(d->page(), 200 + c.bx, 400 + c.by, 200 + c.bx + c.bw,
                                          400 + c.by + c.bh),
                      c.bw * c.bh);
            EXPECT_EQ(d->page().CountBlack(), std::size_t(c.bw * c.bh));
        }
}

// A colour or grey TIFF above 16 MiB of RGBA is read in bands of rows; it
// is turned as a whole, not band by band. Stored 2100 x 2100 with the box
// in the bottom-right corner: turned half, it lands at the top left.
TEST(Pictures, ATiffReadInBandsIsTurnedAsAWhole) {
    const Source corner = [](int x, int y) { return Pixel{x >= 2084 && y >= 2092 ? 0 : 255, 255}; };
    const std::string file = scratch("banded.tif");
    ASSERT_TRUE(writeTiff(file, 2100, 2100, TiffKind::Grey, corner, 1, 0, COMPRESSION_LZW, 3));
    const auto d = draw(file, "TIF", 0, 0);
    ASSERT_FALSE(d->threw) << d->error;
    EXPECT_EQ(enginetest::blackIn(d->page(), 0, 0, 16, 8), 128);
    EXPECT_EQ(d->page().CountBlack(), 128u);
}

// A quarter turn turns the resolutions with the sides: 384 x 512 stored at
// 150 x 300 dpi is 512 x 384 at 300 x 150 dpi upright.
TEST(Pictures, AQuarterTurnSwapsUnequalResolutions) {
    const Source white = [](int, int) { return Pixel{}; };
    for (const char* type : {"JPG", "TIF"})
        for (const auto& [orientation, drawn] :
             {std::pair{1, "drawn 522 x 335 pixels (2.56 x 1.71 in) from its 150 x 300 dpi"},
              std::pair{6, "drawn 348 x 502 pixels (1.71 x 2.56 in) from its 300 x 150 dpi"},
              std::pair{7, "drawn 348 x 502 pixels (1.71 x 2.56 in) from its 300 x 150 dpi"}}) {
            SCOPED_TRACE(std::string(type) + " " + std::to_string(orientation));
            const std::string file = scratch("dense" + std::to_string(orientation) + type);
            ASSERT_TRUE(type[0] == 'J' ? writeJpeg(file, 384, 512, JpegKind::Grey, white,
                                                   orientation, 150, false, 300)
                                       : writeTiff(file, 384, 512, TiffKind::Grey, white, 1, 150,
                                                   COMPRESSION_LZW, orientation, 300));
            const auto d = draw(file, type, 0, 0);
            ASSERT_FALSE(d->threw) << d->error;
            const folio::Diagnostic* note = d->diags.find(folio::kind::PictureSize);
            ASSERT_NE(note, nullptr);
            EXPECT_EQ(note->message, file + " " + drawn);
            EXPECT_EQ(d->fax->Y, orientation == 1 ? 335 : 502);
        }
}

// A picture that draws no black on the page is a warning naming it.
TEST(Pictures, APictureThatDrawsNoBlackIsReported) {
    const Source whiteLogo = [](int x, int) { return Pixel{255, x < 20 ? 255 : 0}; };
    const Source pale = [](int, int) { return Pixel{230, 255}; };
    const Source blackBottom = [](int, int y) { return Pixel{y >= 90 ? 0 : 255, 255}; };
    struct {
        const char* name;
        Source source;
        int y;
        const char* warning; // null: none
    } cases[] = {
        {"white-logo.png", whiteLogo, 0, "\" draws no black: it is white, transparent"},
        {"pale.png", pale, 0, "\" draws no black: it is white, transparent"},
        {"black-bottom.png", blackBottom, 0, nullptr},
        {"cut-off.png", blackBottom, 2150, "the part of \""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = scratch(c.name);
        ASSERT_TRUE(writePng(file, 40, 100, PNG_COLOR_TYPE_RGBA, 8, c.source));
        const auto d = draw(file, "PNG", 0, c.y);
        ASSERT_FALSE(d->threw) << d->error;
        const folio::Diagnostic* w = d->diags.find("picture-blank");
        ASSERT_EQ(w != nullptr, c.warning != nullptr);
        if (w) {
            EXPECT_EQ(w->severity, folio::Severity::Warning);
            EXPECT_NE(w->message.find(c.warning), std::string::npos) << w->message;
            EXPECT_NE(w->message.find(c.name), std::string::npos) << w->message;
        }
    }
}

// Line art is thresholded at mid grey; a picture of greys is diffused.
TEST(Pictures, LineArtIsThresholdedAndGreysAreDiffused) {
    // 64 x 64 white with a black box; column 60 grey 100, column 61 grey
    // 160: 3% of the pixels in between, so line art.
    const Source lineArt = [](int x, int y) {
        if (x == 60)
            return Pixel{100, 255};
        if (x == 61)
            return Pixel{160, 255};
        return Pixel{x < 32 && y < 32 ? 0 : 255, 255};
    };
    const Source photo = [](int, int) { return Pixel{100, 255}; };
    const std::string art = scratch("art.png"), grey = scratch("grey.png");
    ASSERT_TRUE(writePng(art, 64, 64, PNG_COLOR_TYPE_GRAY, 8, lineArt));
    ASSERT_TRUE(writePng(grey, 64, 64, PNG_COLOR_TYPE_GRAY, 8, photo));
    const auto a = draw(art, "PNG", 0, 0);
    EXPECT_EQ(enginetest::blackIn(a->page(), 60, 0, 61, 64), 64);
    EXPECT_EQ(enginetest::blackIn(a->page(), 61, 0, 62, 64), 0);
    EXPECT_EQ(a->page().CountBlack(), 32u * 32 + 64);
    // Grey 100 is 61% ink: diffusion sets about that share, in every region.
    const auto g = draw(grey, "PNG", 0, 0);
    const int black = enginetest::blackIn(g->page(), 0, 0, 64, 64);
    EXPECT_GT(black, 64 * 64 * 55 / 100);
    EXPECT_LT(black, 64 * 64 * 67 / 100);
    EXPECT_GT(enginetest::blackIn(g->page(), 0, 0, 32, 32), 32 * 32 / 2);
    EXPECT_LT(enginetest::blackIn(g->page(), 32, 32, 64, 64), 32 * 32 * 3 / 4);
}

// Scans: text-like strokes (rows of 3-pixel bars, ink 40) on a paper tone
// with light noise, drawn pixel for pixel; `paper` gives the tone at (x, y).
// Paper pixels (2 or more pixels from any stroke) must come out white and
// stroke pixels black. The photo part of a mixed page, a smooth gradient
// and dark night photos (bright lights; stars) must keep their tone,
// diffused. Grey 100 with SCAN is all paper. Light strokes on dark paper
// come out black on white too.
bool inStroke(int x, int y) {
    return y % 40 >= 10 && y % 40 < 26 && x % 60 < 50 && (x % 7 < 3 || y % 40 >= 23);
}
bool nearStroke(int x, int y) {
    for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx)
            if (inStroke(x + dx, y + dy))
                return true;
    return false;
}
int noise(int x, int y) {
    return int((unsigned(x) * 2654435761u ^ unsigned(y) * 40503u) >> 9 & 15) - 8;
}

constexpr int W = 480, H = 400;

TEST(Pictures, ScansComeOutAsInkOnWhitePaper) {
    const auto scan = [](std::function<int(int, int)> paper, int photoFrom = H) -> Source {
        return [=](int x, int y) {
            if (y >= photoFrom)
                return Pixel{40 + (x + y) * 180 / (W + H), 255};
            return Pixel{std::clamp((inStroke(x, y) ? 40 : paper(x, y)) + noise(x, y), 0, 255),
                         255};
        };
    };
    // Strokes lighter than the paper.
    const auto lightOnDark = [](int paper, int strokes) -> Source {
        return [=](int x, int y) {
            return Pixel{std::clamp((inStroke(x, y) ? strokes : paper) + noise(x, y), 0, 255),
                         255};
        };
    };
    // A night photo: a dark sky brightening to the horizon, with lit
    // windows and a lamp (smooth-edged discs) on it; two clear tones,
    // mostly the dark one.
    const Source night = [](int x, int y) {
        int v = 15 + y * 40 / H + noise(x, y);
        if (x % 80 >= 20 && x % 80 < 50 && y % 100 >= 30 && y % 100 < 70)
            v = 200 + noise(x, y);
        const double d = std::hypot(x - 400, y - 80);
        if (d < 60)
            v = std::max(v, int(235 - d * d / 60));
        return Pixel{std::clamp(v, 0, 255), 255};
    };
    struct Case {
        const char* name;
        Source source;
        const char* words;
        const char* note;      // in the size note; null: none of ", as a"
        int photoFrom;         // rows from here are a photo, diffused
        bool lightInk = false; // its strokes are lighter than its paper
    } cases[] = {
        {"paper 200", scan([](int, int) { return 200; }), "PNG", "as a scan (paper grey 2", H},
        {"paper 225", scan([](int, int) { return 225; }), "PNG", "as a scan (paper grey 2", H},
        {"uneven paper", scan([](int x, int y) { return 235 - (x + y) * 70 / (W + H); }), "PNG",
         "as a scan (paper grey", H},
        {"dark paper", scan([](int, int) { return 120; }), "PNG", "as a scan (paper grey 1", H},
        {"forced", scan([](int, int) { return 200; }), "PNG,SCAN", "as a scan (SCAN; paper", H},
        {"text over a photo", scan([](int, int) { return 200; }, 240), "PNG",
         "% of it diffused as a photo)", 240},
        {"gradient photo", scan([](int, int) { return 0; }, 0), "PNG", nullptr, 0},
        {"grey 100, SCAN", [](int, int) { return Pixel{100, 255}; }, "PNG,SCAN",
         "as a scan (SCAN; paper grey 100 lifted to white)", H},
        {"white text on near-black", lightOnDark(45, 225), "PNG",
         "as a scan (light strokes on dark paper grey", H, true},
        {"light text on dark grey", lightOnDark(70, 190), "PNG",
         "as a scan (light strokes on dark paper grey", H, true},
        {"dark night photo", night, "PNG", nullptr, 0},
        {"stars", [](int x, int y) {
             const bool star = (x / 2 * 7 + y / 2 * 13) % 211 == 0;
             return Pixel{std::clamp((star ? 230 : 50) + noise(x, y), 0, 255), 255};
         }, "PNG", nullptr, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = scratch("scan.png");
        ASSERT_TRUE(writePng(file, W, H, PNG_COLOR_TYPE_GRAY, 8, c.source));
        const auto d = draw(file, c.words, 0, 0);
        ASSERT_FALSE(d->threw) << d->error;
        int paper = 0, paperWhite = 0, ink = 0, inkBlack = 0;
        double tone = 0;
        for (int y = 0; y < c.photoFrom; ++y)
            for (int x = 0; x < W; ++x) {
                const bool black = d->page().Pixel(x, y);
                if (inStroke(x, y) && (c.lightInk || c.source(x, y).grey < 100))
                    ++ink, inkBlack += black;
                else if (!nearStroke(x, y))
                    ++paper, paperWhite += !black;
            }
        for (int y = c.photoFrom; y < H; ++y)
            for (int x = 0; x < W; ++x)
                tone += (255 - c.source(x, y).grey) / 2.55;
        if (c.photoFrom < H) {
            const int n = W * (H - c.photoFrom);
            EXPECT_NEAR(enginetest::blackIn(d->page(), 0, c.photoFrom, W, H) * 100.0 / n, tone / n,
                        5);
        }
        EXPECT_GE(paperWhite * 1000, paper * 990) << paperWhite << " of " << paper;
        EXPECT_GE(inkBlack * 100, ink * 90) << inkBlack << " of " << ink;
        const folio::Diagnostic* note = d->diags.find(folio::kind::PictureSize);
        ASSERT_NE(note, nullptr);
        EXPECT_EQ(note->message.find(c.note ? c.note : ", as a") != std::string::npos,
                  c.note != nullptr)
            << note->message;
    }
}

// A scan shrunk to the page keeps its thin lines as line art does: 100
// one-pixel rules 4 pixels apart on grey paper at 300 dpi all stay whole.
TEST(Pictures, ThinRulesOfAShrunkScanSurvive) {
    const std::string file = scratch("rules-scan.png");
    ASSERT_TRUE(writePng(file, 600, 420, PNG_COLOR_TYPE_GRAY, 8, [](int x, int y) {
        return Pixel{(y % 4 == 0 && y < 400 ? 60 : 200) + noise(x, y), 255};
    }, false, 11811));
    const auto d = draw(file, "PNG", 0, 0);
    ASSERT_NE(d->diags.find(folio::kind::PictureSize)->message.find("as a scan"),
              std::string::npos);
    int lines = 0;
    bool was = false;
    for (int y = 0; y < 290; ++y) {
        const bool full = enginetest::blackIn(d->page(), 2, y, 400, y + 1) == 398;
        lines += full && !was;
        was = full;
    }
    EXPECT_EQ(lines, 100);
}

// No cliff: with this noise and ink, paper 224 has 84.6% of its pixels near
// black or white and 226 has 94.9%, either side of the line-art rule's 90%;
// they come out all but the same.
TEST(Pictures, APaperToneAcrossTheLineArtRuleChangesLittle) {
    std::vector<std::unique_ptr<Drawn>> pages;
    for (const int tone : {224, 226}) {
        const std::string file = scratch("tone" + std::to_string(tone) + ".png");
        ASSERT_TRUE(writePng(file, 480, 400, PNG_COLOR_TYPE_GRAY, 8, [tone](int x, int y) {
            return Pixel{(inStroke(x, y) ? 20 : tone) + noise(x, y) * 6 / 5, 255};
        }));
        pages.push_back(draw(file, "PNG", 0, 0));
    }
    // The two sides of the rule are taken.
    EXPECT_NE(pages[0]->diags.find(folio::kind::PictureSize)->message.find("as a scan"),
              std::string::npos);
    EXPECT_EQ(pages[1]->diags.find(folio::kind::PictureSize)->message.find("as a scan"),
              std::string::npos);
    int differ = 0;
    for (int y = 0; y < 400; ++y)
        for (int x = 0; x < 480; ++x)
            differ += pages[0]->page().Pixel(x, y) != pages[1]->page().Pixel(x, y);
    EXPECT_LT(differ, 480 * 400 / 100);
}

// The FILE command's words after the type: a width, a height, both, FIT
// into the room right of the pen (the program variant's right margin
// included), a mode, and words it does not take. The 300-dpi logo is 408 x
// 131 on the page by itself; an all-grey picture tells the modes apart.
TEST(Pictures, TheFileCommandSizesAndModesAPicture) {
    const Source logo = [](int x, int y) {
        return Pixel{x >= 100 && x < 500 && y >= 50 && y < 150 ? 0 : 255, 255};
    };
    const std::string file = scratch("sized.png"), grey = scratch("grey100.png");
    ASSERT_TRUE(writePng(file, 600, 200, PNG_COLOR_TYPE_GRAY, 8, logo, false, 11811));
    ASSERT_TRUE(writePng(grey, 64, 64, PNG_COLOR_TYPE_GRAY, 8,
                         [](int, int) { return Pixel{100, 255}; }));
    struct Case {
        const char* words;
        int x;
        std::int64_t width, height;
        const char* noteHas;
    } cases[] = {
        {"PNG,204", 0, 204, 66, "sized by the FILE command"},
        {"png, 0 ,262", 0, 816, 262, "sized by the FILE command"},
        {"PNG,100,50", 0, 100, 50, "sized by the FILE command"},
        {"PNG,FIT", 0, 408, 131, "from its 300 dpi"},
        {"PNG,2000,FIT", 0, 1628, 523, "sized by the FILE command"},
        {"PNG,5000", 0, 5000, 1605, "more than twice the page's"},
        {"PNG,LINEART,204", 0, 204, 66, "as line art (LINEART)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words);
        const auto d = draw(file, c.words, c.x, 0);
        ASSERT_FALSE(d->threw) << d->error;
        EXPECT_EQ(d->fax->Y, c.height);
        std::string notes;
        for (const folio::Diagnostic& n : d->diags.seen)
            notes += n.message + "\n";
        EXPECT_NE(notes.find("drawn " + std::to_string(c.width) + " x " +
                             std::to_string(c.height) + " pixels"),
                  std::string::npos)
            << notes;
        EXPECT_NE(notes.find(c.noteHas), std::string::npos) << notes;
    }
    // Grey 100 is a photo to the picture's own judgement: LINEART makes it
    // solid black, PHOTO keeps it diffused.
    EXPECT_EQ(enginetest::blackIn(draw(grey, "PNG,LINEART", 0, 0)->page(), 0, 0, 64, 64), 4096);
    EXPECT_LT(enginetest::blackIn(draw(grey, "PNG,PHOTO", 0, 0)->page(), 0, 0, 64, 64), 3000);
    // A JPEG of 72 million pixels, over the 64 million a picture may have,
    // is decoded at 1/8 of its size when it is drawn that small.
    const std::string huge = scratch("huge.jpg");
    ASSERT_TRUE(writeJpeg(huge, 9000, 8000, JpegKind::Grey,
                          [](int x, int) { return Pixel{x < 4500 ? 0 : 255, 255}; }, 0, 0));
    EXPECT_TRUE(draw(huge, "JPG", 0, 0)->threw);
    const auto small = draw(huge, "JPG,1000", 0, 0);
    ASSERT_FALSE(small->threw) << small->error;
    EXPECT_EQ(small->fax->Y, 889);
    EXPECT_EQ(enginetest::blackIn(small->page(), 0, 0, 500, 889), 500 * 889);
    const auto odd = draw(file, "PNG,SEPIA,1,2,3", 0, 0);
    const folio::Diagnostic* ignored = odd->diags.find(folio::kind::FileType);
    ASSERT_NE(ignored, nullptr);
    EXPECT_NE(ignored->message.find("ignored SEPIA, 3"), std::string::npos) << ignored->message;
}

// One-pixel rules and diagonals of line art shrunk to the page grid all
// stay, rules at every offset of the scale pattern (4 pixels apart: all
// phases mod 75 at 300 dpi); a checkerboard keeps about its half share.
TEST(Pictures, ThinRulesOfLineArtSurviveShrinking) {
    const Source art = [](int x, int y) {
        const bool band = x >= 420 && x < 600, down = y >= 420 && y < 600;
        return Pixel{(y % 4 == 0 && y < 400 && band) || (x % 4 == 0 && x < 400 && down) ||
                             (band && down && (x + y) % 2 == 0) ||
                             (x < 400 && y < 400 && (x - y) % 16 == 0)
                         ? 0
                         : 255};
    };
    for (auto [kind, dpi] :
         {std::pair{TiffKind::Bilevel, 300}, {TiffKind::Bilevel, 200}, {TiffKind::Grey, 300}}) {
        const std::string file = scratch("rules.tif");
        ASSERT_TRUE(writeTiff(file, 620, 620, kind, art, 1, dpi,
                              kind == TiffKind::Bilevel ? COMPRESSION_CCITTFAX4 : COMPRESSION_LZW));
        const auto d = draw(file, "TIF", 0, 0);
        const int lo = 420 * 204 / dpi + 2, hi = 600 * 196 / dpi - 2; // inside both bands
        int lines[2] = {0, 0}, was[2] = {0, 0}, i = 0;
        for (int t = 0; t < 400 * 204 / dpi; ++t, i = 0)
            for (const bool full : {enginetest::blackIn(d->page(), lo, t, hi, t + 1) == hi - lo,
                                    enginetest::blackIn(d->page(), t, lo, t + 1, hi) == hi - lo})
                lines[i] += full && !was[i], was[i++] = full;
        EXPECT_EQ(lines[0] * 1000 + lines[1], 100100) << "rows, columns at " << dpi << " dpi";
        // 45-degree lines 16 apart cross each row of the corner between them.
        int thinnest = 1000;
        for (int y = 20; y < 240 * 196 / dpi; ++y)
            thinnest =
                std::min(thinnest, enginetest::blackIn(d->page(), 20, y, 230 * 204 / dpi, y + 1));
        EXPECT_GE(thinnest, 12) << dpi << " dpi";
        const int checker = enginetest::blackIn(d->page(), lo, lo, hi, hi) * 100 / (hi - lo);
        EXPECT_NEAR(checker / (hi - lo), 50, 20) << dpi << " dpi";
    }
}

// A colour comes out the same grey whatever format holds it: a PNG's gamma
// only brings it to sRGB encoding, it does not change the weights.
TEST(Pictures, AColourIsTheSameGreyInEveryFormat) {
    for (const int rgb : {0xFF0000, 0x808080, 0x283CDC, 0x0000FF}) {
        const Source colour = [rgb](int, int) { return Pixel{255, 255, rgb}; };
        const std::string file = scratch("colour");
        const std::vector<std::function<bool()>> writers = {
            [&] { return writePng(file, 64, 64, PNG_COLOR_TYPE_RGB, 8, colour, 0, 0, 0, true); },
            [&] { return writePng(file, 64, 64, PNG_COLOR_TYPE_RGB, 8, colour); },
            [&] { return writeJpeg(file, 64, 64, JpegKind::Colour, colour); },
            [&] { return writeTiff(file, 64, 64, TiffKind::Rgb, colour); }};
        std::vector<int> shares;
        for (std::size_t i = 0; i < writers.size(); ++i) {
            ASSERT_TRUE(writers[i]());
            const auto d = draw(file, i < 2 ? "PNG" : i == 2 ? "JPG" : "TIF", 0, 0);
            shares.push_back(int(d->page().CountBlack() * 100 / (64 * 64)));
        }
        const auto [least, most] = std::minmax_element(shares.begin(), shares.end());
        EXPECT_LE(*most - *least, 2) << std::hex << rgb << ": " << ::testing::PrintToString(shares);
    }
}

// A whole fax page at 204 x 196 dpi comes back pixel for pixel; a second
// image in the file is reported.
TEST(Pictures, AFaxPageIsDrawnBackIdentical) {
    const Source pattern = [](int x, int y) {
        const unsigned h = unsigned(x) * 2654435761u ^ unsigned(y) * 40503u;
        return Pixel{(h >> 7) % 5 == 0 || (y % 50 < 3 && x > 100) ? 0 : 255, 255};
    };
    const std::string file = scratch("page.tif");
    ASSERT_TRUE(writeTiff(file, 1728, 2200, TiffKind::FaxG4, pattern, 2));
    const auto d = draw(file, "TIFF", 0, 0);
    ASSERT_FALSE(d->threw) << d->error;
    EXPECT_EQ(d->fax->Y, 2200);
    int wrong = 0;
    for (int y = 0; y < 2200; ++y)
        for (int x = 0; x < 1728; ++x)
            wrong += d->page().Pixel(x, y) != (pattern(x, y).grey == 0);
    EXPECT_EQ(wrong, 0);
    EXPECT_NE(d->diags.find(folio::kind::PictureImages), nullptr);
    EXPECT_EQ(d->diags.find(folio::kind::DrawingClipped), nullptr);
}

// A picture reaching past the page is drawn clipped with a warning.
TEST(Pictures, APictureLargerThanThePageIsClipped) {
    const std::string file = scratch("wide.png");
    ASSERT_TRUE(writePng(file, 100, 100, PNG_COLOR_TYPE_GRAY, 1, [](int, int) {
        return Pixel{0, 255};
    }));
    const auto d = draw(file, "PNG", 1700, 2150);
    ASSERT_FALSE(d->threw) << d->error;
    EXPECT_EQ(d->page().CountBlack(), 28u * 50);
    EXPECT_EQ(d->fax->Y, 2250);
    const folio::Diagnostic* clipped = d->diags.find(folio::kind::DrawingClipped);
    ASSERT_NE(clipped, nullptr);
    // Both edges it runs past, not the first alone.
    EXPECT_NE(clipped->message.find("runs past the right and bottom edges"), std::string::npos)
        << clipped->message;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Puts a big-endian 16-bit width and height into the JPEG's SOF0 (or
// progressive SOF2) marker.
std::string jpegSized(std::string jpeg, int w, int h) {
    std::size_t sof = jpeg.find("\xFF\xC0");
    if (sof == std::string::npos)
        sof = jpeg.find("\xFF\xC2");
    jpeg[sof + 5] = char(h >> 8);
    jpeg[sof + 6] = char(h);
    jpeg[sof + 7] = char(w >> 8);
    jpeg[sof + 8] = char(w);
    return jpeg;
}

// Broken, truncated, oversized and lying pictures: the BMP error, the
// decoder's reason in the diagnostic, nothing drawn.
TEST(Pictures, BadPicturesAreRefusedWithTheirReason) {
    const std::string png = scratch("good.png"), jpg = scratch("good.jpg"),
                      tif = scratch("good.tif");
    ASSERT_TRUE(writePng(png, 48, 24, PNG_COLOR_TYPE_RGB, 8, box()));
    ASSERT_TRUE(writeJpeg(jpg, 48, 24, JpegKind::Colour, box()));
    ASSERT_TRUE(writeTiff(tif, 300, 300, TiffKind::FaxG4, [](int x, int y) {
        return Pixel{(x ^ y) & 4 ? 0 : 255, 255};
    }));
    // An LZW TIFF of 60000 x 1000 grey pixels of which one row is written.
    const std::string lyingTif = scratch("lying.tif");
    {
        TIFF* t = TIFFOpen(lyingTif.c_str(), "w");
        ASSERT_NE(t, nullptr);
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 60000);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, 1000);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 1000);
        std::vector<std::uint8_t> row(60000, 0);
        TIFFWriteScanline(t, row.data(), 0, 0);
        TIFFClose(t);
    }
    const std::string pngBytes = readAll(png), jpgBytes = readAll(jpg), tifBytes = readAll(tif);
    struct {
        const char* name;
        const char* type;
        std::string bytes;
        const char* reason;
    } cases[] = {
        {"text.png", "PNG", "hello, not a picture", "not a PNG file"},
        {"half.png", "PNG", pngBytes.substr(0, pngBytes.size() / 2), ""},
        {"header.png", "PNG", pngBytes.substr(0, 40), ""},
        {"text.jpg", "JPG", "hello", "not a JPEG file"},
        {"half.jpg", "JPG", jpgBytes.substr(0, jpgBytes.size() / 2), "Premature end"},
        {"huge.jpg", "JPG", jpegSized(jpgBytes, 9000, 9000), "64 million"},
        {"lying.jpg", "JPG", jpegSized(jpgBytes, 4000, 4000), "cannot be in a file"},
        {"text.tif", "TIF", "II*\0garbage", ""},
        // Another format than the type word: what the file is, and its word.
        {"png.jpg", "JPG", pngBytes,
         "the file is a PNG file, not a JPEG file; its type word is PNG"},
        {"jpeg.png", "PNG", jpgBytes,
         "the file is a JPEG file, not a PNG file; its type word is JPG"},
        {"tiff.png", "PNG", tifBytes,
         "the file is a TIFF file, not a PNG file; its type word is TIF"},
        {"png.tif", "TIF", pngBytes,
         "the file is a PNG file, not a TIFF file; its type word is PNG"},
        {"gif.jpg", "JPG", "GIF89a", "the file is a GIF file, not a JPEG file"},
        {"png.bmp", "BMP", pngBytes,
         "the file is a PNG file, not a BMP file; its type word is PNG"},
        {"half.tif", "TIF", tifBytes.substr(0, tifBytes.size() / 2), ""},
        {"lying.tif", "TIF", readAll(lyingTif), "cannot be in a file"},
    };
    for (const auto& c : cases)
        for (bool gated : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (gated ? " gated" : ""));
            const std::string file = scratch(c.name);
            writeAll(file, c.bytes);
            const auto d = draw(file, c.type, 100, 100, gated);
            EXPECT_TRUE(d->threw);
            EXPECT_EQ(d->error, "Bitmap image is not valid");
            EXPECT_EQ(d->page().CountBlack(), 0u);
            const folio::Diagnostic* e = d->diags.find(folio::kind::BitmapInvalid);
            ASSERT_NE(e, nullptr);
            EXPECT_EQ(e->severity, folio::Severity::Error);
            EXPECT_NE(e->message.find(std::string(c.type) == "BMP" ? "is not a valid bitmap: "
                                                                   : "is not a valid picture: "),
                      std::string::npos)
                << e->message;
            EXPECT_NE(e->message.find(c.reason), std::string::npos) << e->message;
        }
}

// A PNG whose header is changed to `w` x `h` (its CRC made right again).
std::string pngSized(std::string png, std::uint32_t w, std::uint32_t h) {
    for (int i = 0; i < 4; ++i) {
        png[16 + i] = char(w >> (24 - 8 * i));
        png[20 + i] = char(h >> (24 - 8 * i));
    }
    std::uint32_t crc = 0xFFFFFFFFu;
    for (int i = 12; i < 29; ++i) {
        crc ^= std::uint8_t(png[std::size_t(i)]);
        for (int k = 0; k < 8; ++k)
            crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    crc = ~crc;
    for (int i = 0; i < 4; ++i)
        png[29 + i] = char(crc >> (24 - 8 * i));
    return png;
}

// Hostile pictures that used to hold a build for seconds to minutes, or be
// drawn as garbage with success, each within a few seconds: refused with
// the decoder's reason (`kind` bitmap-invalid), drawn with a warning
// (picture-damaged), or drawn as it is (no kind).
TEST(Pictures, HostilePicturesAreRefusedOrReportedQuickly) {
    const Source white = [](int, int) { return Pixel{}; };
    const std::string jpg = scratch("white.jpg"), prog = scratch("prog.jpg"),
                      big = scratch("big.jpg"), png = scratch("tiny.png");
    ASSERT_TRUE(writeJpeg(jpg, 300, 200, JpegKind::Colour, box()));
    ASSERT_TRUE(writeJpeg(prog, 48, 24, JpegKind::Grey, white, 0, 0, true));
    ASSERT_TRUE(writeJpeg(big, 4000, 4000, JpegKind::Grey, white, 0, 0, true));
    ASSERT_TRUE(writePng(png, 10, 10, PNG_COLOR_TYPE_GRAY, 8, white));
    struct Case {
        std::string name, type, bytes, kind, reason;
    };
    std::vector<Case> cases = {
        {"scans.jpg", "JPG", repeatLastScan(readAll(big), 2000), "bitmap-invalid", "100 scans"},
        {"lying.jpg", "JPG", jpegSized(readAll(prog), 8000, 8000), "bitmap-invalid",
         "cannot be in a file"},
        {"scrambled.jpg", "JPG", scrambleScan(readAll(jpg), 300), "picture-damaged",
         "Corrupt JPEG data"},
        {"ztxt.png", "PNG",
         withTextChunks(readAll(png), std::string("zTXtComment\0\0", 13), 150, 7'900'000), "", ""},
        {"itxt.png", "PNG",
         withTextChunks(readAll(png), std::string("iTXtComment\0\1\0\0\0", 16), 150, 7'900'000), "",
         ""},
    };
    // Grey and colour TIFFs in each coding with their strips cut or zeroed.
    const std::string good = scratch("good.tif"), bad = scratch("bad.tif");
    for (TiffKind kind : {TiffKind::Grey, TiffKind::Rgb})
        for (int coding : {COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE, COMPRESSION_JPEG})
            for (StripDamage damage : {StripDamage::Cut, StripDamage::Zeroed}) {
                ASSERT_TRUE(writeTiff(good, 64, 64, kind, box(), 1, 0, coding));
                ASSERT_TRUE(damageStrips(good, bad, damage));
                cases.push_back({"damaged-" + std::to_string(cases.size()) + ".tif", "TIF",
                                 readAll(bad), "bitmap-invalid", ""});
            }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = scratch(c.name);
        writeAll(file, c.bytes);
        const auto start = std::chrono::steady_clock::now();
        const auto d = draw(file, c.type, 0, 0);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_EQ(d->threw, c.kind == "bitmap-invalid") << d->error;
        const folio::Diagnostic* found = d->diags.find(c.kind.c_str());
        EXPECT_EQ(found != nullptr, !c.kind.empty());
        if (found) {
            EXPECT_NE(found->message.find(c.reason), std::string::npos) << found->message;
        } else {
            EXPECT_EQ(d->diags.find("picture-damaged"), nullptr);
        }
    }
}

// The pictures of one document share a budget of pixels and decoding time;
// the picture beyond it fails the run, named.
TEST(Pictures, APictureBeyondTheBuildsBudgetIsRefusedByName) {
    const std::string png = scratch("budget.png");
    ASSERT_TRUE(writePng(png, 800, 800, PNG_COLOR_TYPE_GRAY, 8, box()));
    for (const auto& [megapixels, seconds, drawn, reason] :
         {std::tuple{1, 30, 1, "pixels are more than the 360000 left"},
          std::tuple{512, 0, 0, "takes longer than the time left"}}) {
        auto fax = makeEngine();
        Recorder diags;
        fax->SetDiagnostics(&diags);
        fax->SetPictureLimits(megapixels, seconds);
        std::string error;
        for (int i = 0; i < 2 && error.empty(); ++i)
            try {
                enginetest::run(*fax, std::string(kPrefix) + "FILE=" + png + ",PNG");
            } catch (const folio::Error& e) {
                EXPECT_EQ(i, drawn);
                error = e.what();
            }
        EXPECT_NE(error.find("Picture \"" + png + "\" is over the budget"), std::string::npos)
            << error;
        EXPECT_NE(error.find(reason), std::string::npos) << error;
        const folio::Diagnostic* e = diags.find(folio::kind::PictureBudget);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->message, error);
    }
}

// PNG headers that ask for too much are refused before pixels are read: too
// many pixels, or more than deflate could have packed into the file.
TEST(Pictures, OversizedPngHeadersAreRefusedBeforeDecoding) {
    const std::string small = scratch("small.png");
    ASSERT_TRUE(writePng(small, 48, 24, PNG_COLOR_TYPE_GRAY, 1, box()));
    const std::string bytes = readAll(small);
    struct {
        const char* name;
        std::uint32_t side;
        const char* reason;
    } cases[] = {{"big.png", 9000, "64 million"},
                 {"lying.png", 6000, "cannot be in a file of"},
                 {"taller.png", 48, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = scratch(c.name);
        writeAll(file, pngSized(bytes, c.side, c.side));
        const auto d = draw(file, "PNG", 0, 0);
        EXPECT_TRUE(d->threw);
        const folio::Diagnostic* e = d->diags.find(folio::kind::BitmapInvalid);
        ASSERT_NE(e, nullptr);
        EXPECT_NE(e->message.find(c.reason), std::string::npos) << e->message;
    }
}

} // namespace
