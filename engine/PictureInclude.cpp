// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// FILE=name,PNG / JPG / TIF: draws a picture at the pen at its physical size
// on the page grid (pixel for pixel when it states no resolution), only the
// part that lands on the page, and moves the pen below it, as a BMP does.
#include "FaxImage.h"

#include "Diagnostics.h"
#include "PagePacker.h"
#include "PdfPage.h"
#include "PictureArgs.h"
#include "PictureRender.h"
#include "SafeMath.h"
#include "ScanCleaner.h"
#include "TextFile.h"
#include "tiflib32.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

std::string dpiText(double dpi) {
    char text[32];
    if (std::fabs(dpi - std::round(dpi)) < 0.05)
        std::snprintf(text, sizeof text, "%.0f", dpi);
    else
        std::snprintf(text, sizeof text, "%.1f", dpi);
    return text;
}

// "logo.png drawn 408 x 131 pixels (2.00 x 0.67 in) from its 300 dpi"
std::string sizeNote(const char* name, const folio::GreyImage& p, folio::DrawnSize size) {
    char drawn[160];
    std::snprintf(drawn, sizeof drawn, " drawn %lld x %lld pixels (%.2f x %.2f in) ",
                  static_cast<long long>(size.width), static_cast<long long>(size.height),
                  double(size.width) / folio::kPageDpiX, double(size.height) / folio::kPageDpiY);
    std::string from;
    if (p.dpiX <= 0)
        from = "pixel for pixel: it states no resolution";
    else if (dpiText(p.dpiX) == dpiText(p.dpiY))
        from = "from its " + dpiText(p.dpiX) + " dpi";
    else
        from = "from its " + dpiText(p.dpiX) + " x " + dpiText(p.dpiY) + " dpi";
    return std::string(name) + drawn + from;
}

// What the note says of a picture drawn as a scan: the paper lifted to
// white (or light strokes on dark paper turned dark on white), and the
// share left to the diffusion in a picture of mixed parts.
std::string scanNote(const folio::ScanPlan& scan, bool forced) {
    std::string note = ", as a scan (";
    note += forced ? "SCAN; " : "";
    note += scan.lightOnDark ? "light strokes on dark paper grey " +
                                   std::to_string(scan.paperGrey) + ", drawn dark on white"
            : scan.paperGrey >= 250 ? std::string("white paper")
                                    : "paper grey " + std::to_string(scan.paperGrey) +
                                          " lifted to white";
    if (scan.photoCells > 0)
        note += "; " +
                std::to_string(std::max(1, 100 * scan.photoCells /
                                               (scan.photoCells + scan.documentCells))) +
                "% of it diffused as a photo";
    return note + ")";
}

// The window [x0, x1) x [y0, y1) of a picture of drawn `size` whose top is
// on page row `top`, diffused for a page written at normal resolution. The
// writer merges each pair of page rows (2k, 2k + 1) into one, black where
// either is black, so that one-pixel lines stay (tiflib's RowMerge). Two
// rows diffused on their own are independent patterns, and their merge is
// far darker than either (two rows of 50% make one of 75%). So the picture
// is diffused on the grid of row pairs, at about half its height, and each
// of those rows is drawn into both page rows of its pair, or the one the
// picture covers: the merge gives it back exactly, and a row of the pair
// outside the picture (a rule beside it) is left as it is. The last row of
// a page of odd length joins the pair above it, as the writer joins it.
folio::Bitmap diffuseOnRowPairs(const folio::GreyImage& picture, folio::DrawnSize size,
                                std::int64_t top, std::int64_t x0, std::int64_t y0, std::int64_t x1,
                                std::int64_t y1, int pageRows) {
    // Pairs of the picture's rows and of the window's (>> 1 rounds down for
    // a picture above the page, too).
    const std::int64_t first = top >> 1, last = (top + size.height - 1) >> 1;
    const std::int64_t from = ((top + y0) >> 1) - first, to = ((top + y1 - 1) >> 1) + 1 - first;
    const folio::Bitmap pairs =
        folio::RenderPicture(picture, {size.width, last - first + 1}, x0, from, x1, to, false);
    folio::Bitmap part;
    part.SetSize(int(x1 - x0), int(y1 - y0));
    for (int y = 0; y < part.Height(); ++y) {
        const std::int64_t row = top + y0 + y;
        const bool joins = pageRows % 2 == 1 && row == pageRows - 1 && y > 0;
        std::memcpy(part.Row(y), pairs.Row(int(((joins ? row - 1 : row) >> 1) - first - from)),
                    std::size_t(part.Stride()));
    }
    return part;
}

// The drawn size after the FILE command's width, height and FIT: one side
// given takes the other from the picture's shape on the page grid; FIT
// scales down (never up) into `room` across and `below` down.
folio::DrawnSize sizedByCommand(folio::DrawnSize natural, const folio::PictureArgs& args,
                                std::int64_t room, std::int64_t below) {
    folio::DrawnSize size = folio::SizedAs(natural, args.width, args.height);
    if (args.fit && room > 0 && below > 0) {
        const double scale = std::min({1.0, double(room) / double(size.width),
                                       double(below) / double(size.height)});
        if (scale < 1.0)
            size = {std::clamp<std::int64_t>(std::llround(double(size.width) * scale), 1, room),
                    std::clamp<std::int64_t>(std::llround(double(size.height) * scale), 1, below)};
    }
    return size;
}

} // namespace

void FaxImage::DrawPicture(int fd, const std::string& path, const char* name, Included what) {
    const folio::PictureType type = what == Included::Png    ? folio::PictureType::Png
                                    : what == Included::Jpeg ? folio::PictureType::Jpeg
                                                             : folio::PictureType::Tiff;
    const folio::PictureArgs& args = folio::CurrentPictureArgs();
    // The picture may spend what is left of the document's budget; the
    // time it took is spent however it ends.
    using Clock = std::chrono::steady_clock;
    folio::PictureBudget budget;
    budget.pixels = std::min<std::uint64_t>(budget.pixels, picturePixelsLeft_);
    const Clock::time_point start = Clock::now();
    budget.deadline = start + std::chrono::microseconds(pictureMicrosLeft_);
    budget.wantWidth = args.width;
    budget.wantHeight = args.height;
    struct Spend {
        std::uint32_t& left;
        Clock::time_point start;
        ~Spend() {
            const auto took =
                std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
            left = took >= left ? 0 : left - std::uint32_t(took);
        }
    };
    folio::GreyImage picture;
    try {
        const Spend spend{pictureMicrosLeft_, start};
        if (what == Included::Pdf) {
            const std::string bytes =
                fd >= 0 ? folio::ReadWholeFd(fd, path, folio::kMaxPictureFileBytes)
                        : folio::ReadWholeFile(path, folio::kMaxPictureFileBytes);
            if (const char* is = folio::PictureFormatOf(bytes); is && std::strcmp(is, "PDF") != 0)
                throw folio::PictureError(folio::WrongFormatReason(is, "PDF"));
            picture = folio::RenderPdfPage(bytes, name, args.page, budget);
        } else {
            picture = fd >= 0 ? folio::LoadPicture(fd, path, type, budget)
                              : folio::LoadPicture(path, type, budget);
        }
    } catch (const folio::PictureBudgetError& e) {
        throw folio::PictureBudgetError("Picture " + folio::Quoted(name) +
                                        " is over the budget of this fax's pictures: " + e.what());
    }
    // The pixels decoded (a JPEG drawn small is decoded small).
    const std::uint64_t pixels = std::uint64_t(picture.width) * std::uint64_t(picture.height);
    picturePixelsLeft_ -= std::uint32_t(std::min<std::uint64_t>(pixels, picturePixelsLeft_));
    const folio::DrawnSize natural =
        folio::DrawnSizeOf(picture.storedWidth, picture.storedHeight, picture.dpiX, picture.dpiY);
    const folio::DrawnSize size = sizedByCommand(natural, args, Right - X > 0 ? Right - X : Width - X,
                                                 Height - Y);
    // The window of the drawn picture that lands on the page, in picture
    // coordinates; the rest is never computed.
    const folio::Bitmap& page = Image->Canvas().Target();
    const std::int64_t x0 = std::max<std::int64_t>(0, -std::int64_t(X));
    const std::int64_t y0 = std::max<std::int64_t>(0, -std::int64_t(Y));
    const std::int64_t x1 = std::min<std::int64_t>(size.width, std::int64_t(page.Width()) - X);
    const std::int64_t y1 = std::min<std::int64_t>(size.height, std::int64_t(page.Height()) - Y);
    // Whether what lands on the page draws no black at all (a white logo
    // on transparency, a picture too light for the threshold).
    bool blank = false;
    // Line art is judged first and thresholded as it always was; a picture
    // that is not goes to the scan cleaner's judgement, which cleans the
    // parts that are a page on a paper tone and leaves the rest (all of a
    // photograph) to the diffusion.
    using Mode = folio::PictureArgs::Mode;
    const bool lineArt =
        args.mode == Mode::Auto ? folio::IsLineArt(picture) : args.mode == Mode::LineArt;
    folio::ScanPlan scan;
    if (!lineArt && args.mode != Mode::Photo)
        scan = folio::PlanScan(picture, size, args.mode == Mode::Scan);
    const bool cleaned = scan.documentCells > 0;
    if (x0 < x1 && y0 < y1) {
        // Pages are written at the resolution they are coded at ahead, else
        // at the calling thread's (SaveFile's). Line art and cleaned scans
        // are thresholded on the page's rows: their thin lines are what the
        // row merge keeps.
        const int resolution =
            packer_ && packer_->CodesAhead() ? packer_->CodeResolution() : GetFaxResolution();
        const auto diffused = [&] {
            return resolution == TIFLIB_FAX_NORMAL
                       ? diffuseOnRowPairs(picture, size, Y, x0, y0, x1, y1, page.Height())
                       : folio::RenderPicture(picture, size, x0, y0, x1, y1, false);
        };
        folio::Bitmap part = lineArt    ? folio::RenderPicture(picture, size, x0, y0, x1, y1, true)
                             : !cleaned ? diffused()
                                        : folio::RenderPicture(scan.cleaned, size, x0, y0, x1,
                                                               y1, true);
        if (cleaned && scan.photoCells > 0) {
            // The photo cells of a mixed picture: each page pixel takes the
            // diffusion where the source pixel at its centre is in one.
            const folio::Bitmap photo = diffused();
            std::vector<int> column(std::size_t(part.Width()));
            for (int x = 0; x < part.Width(); ++x)
                column[std::size_t(x)] = int(std::min<std::int64_t>(
                    picture.width - 1, (2 * (x0 + x) + 1) * picture.width / (2 * size.width)));
            for (int y = 0; y < part.Height(); ++y) {
                const int row = int(std::min<std::int64_t>(
                    picture.height - 1, (2 * (y0 + y) + 1) * picture.height / (2 * size.height)));
                for (int x = 0; x < part.Width(); ++x)
                    if (scan.PhotoAt(column[std::size_t(x)], row))
                        part.SetPixel(x, y, photo.Pixel(x, y));
            }
        }
        Image->Canvas().Draw(int(X + x0), int(Y + y0), part);
        blank = diag_ && part.CountBlack() == 0;
    }
    if (diag_) {
        std::string note = sizeNote(name, picture, size);
        if (size.width != natural.width || size.height != natural.height)
            note += args.fit && args.width == 0 && args.height == 0
                        ? ", fitted to the space left"
                        : ", sized by the FILE command";
        if (args.mode == Mode::LineArt || args.mode == Mode::Photo)
            note += args.mode == Mode::LineArt ? ", as line art (LINEART)" : ", as a photo (PHOTO)";
        else if (cleaned)
            note += scanNote(scan, args.mode == Mode::Scan);
        diag_->Report(sourceLine_, folio::Severity::Note, folio::kind::PictureSize, note);
        if (size.width > 2 * std::int64_t(Width))
            diag_->Report(sourceLine_, folio::Severity::Note, folio::kind::PictureSize,
                          folio::Quoted(name) + " is drawn " + std::to_string(size.width) +
                              " pixels wide, more than twice the page's " +
                              std::to_string(Width) + ": give the width it should have (" +
                              "FILE=name,TYPE,WIDTH) or FIT");
        if (!args.ignored.empty()) {
            std::string words;
            for (const std::string& w : args.ignored)
                words += (words.empty() ? "" : ", ") + w;
            diag_->Warn(sourceLine_, folio::kind::FileType,
                        "FILE " + folio::Quoted(name) + ": ignored " + words +
                            " (after the type: a page for a PDF, LINEART, PHOTO or SCAN, the width "
                            "and height in pixels, FIT)");
        }
        if (picture.damageCount > 0)
            diag_->Warn(sourceLine_, folio::kind::PictureDamaged,
                        folio::Quoted(name) + " is damaged and drawn as far as it could be read (" +
                            picture.damage +
                            (picture.damageCount > 1
                                 ? "; " + std::to_string(picture.damageCount) + " faults in all"
                                 : "") +
                            ")");
        if (blank) {
            const bool whole = x0 == 0 && y0 == 0 && x1 == size.width && y1 == size.height;
            diag_->Warn(sourceLine_, folio::kind::PictureBlank,
                        whole
                            ? folio::Quoted(name) +
                                  " draws no black: it is white, transparent or too light "
                                  "throughout"
                            : "the part of " + folio::Quoted(name) + " on the page draws no black");
        }
        if (picture.moreImages > 0)
            diag_->Warn(sourceLine_, folio::kind::PictureImages,
                        folio::Quoted(name) + " holds " + std::to_string(picture.moreImages + 1) +
                            " images; only the first is drawn");
        diag_->CheckDrawingOnPage(sourceLine_, ("picture " + folio::Quoted(name)).c_str(), X, Y,
                                  folio::Saturate(std::int64_t(X) + size.width - 1),
                                  folio::Saturate(std::int64_t(Y) + size.height - 1), false, Width,
                                  Height);
    }
    Y = folio::Saturate(std::int64_t(Y) + size.height);
}
