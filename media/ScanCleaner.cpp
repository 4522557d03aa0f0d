// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Cleaning a scanned or photographed page before it is drawn: the paper's
// level is estimated cell by cell, the paper lifted to white and the ink
// thresholded against it, at the picture's own resolution, so that the
// line-art scaler (PictureRender.cpp) then shrinks the clean black and white
// and keeps its thin strokes as it keeps those of any line art.
//
// The method, and why:
// - Background. Each cell (about 40 page pixels, a fifth of an inch: one
//   line of 12-point text with paper above and below) takes as its paper
//   level the grey that 10% of its pixels reach or pass. Ink covers far
//   less than 90% of any cell of text, so this is the paper, noise
//   included, on grey, yellowed and unevenly lit pages alike. Cells with no
//   paper of their own are not cleaned (see below), and the thresholds
//   that follow from the paper are smoothed over 3 x 3 cells and
//   interpolated bilinearly between cell centres, so that a gradient of
//   light has no steps.
// - Threshold: Otsu's split of each cell's histogram (Otsu 1979), taken on
//   the scale of its paper (a pixel is ink when it is darker than a share
//   of the local paper, which is the same as normalising it by the paper
//   and cutting at a fixed grey) and held between 35% and 75% of the paper:
//   a cell of text holds two populations, paper and ink, and Otsu's split
//   is the one that separates them best, pencil and ballpoint included,
//   whereas Sauvola's rule needs a mean and deviation around every pixel
//   (integral images of 16 bytes a pixel, a gigabyte for the largest
//   picture taken) and a contrast constant that a paper of grey 200
//   changes. The bounds keep Otsu from splitting the noise of a cell with
//   a few ink pixels (its split would lie in the paper's noise) and from
//   calling faint shading ink. Cells of paper alone are cut at 60% of
//   their paper.
// - Judgement, per cell rather than for the whole picture, so that no one
//   percentage flips a whole page: paper pixels lie within 15% of the
//   cell's paper level, ink pixels below 60% of it and at least 48 grey
//   levels darker (the 15% is the band IsLineArt grants white, on the
//   paper's own scale). A cell is a document when paper and ink make at
//   least 80% of it, paper at least 40% and ink at least 0.5%; blank when
//   it holds no ink and at least 90% paper (an even tone: blank paper, a
//   dark box, a clear sky); a photo otherwise. A document cell whose ink
//   is mostly blobs (thicker than 8 page pixels every way) is a photo: its
//   "ink" is a photograph's shadows, not writing. A document cell whose 5 x 5
//   neighbourhood holds more than twice as many photo cells as document
//   cells is a photo too (a sharp edge in a photograph). Blank cells join
//   the page through even paper: a blank cell next to a page cell whose
//   paper is within 3% of its own (at least 4 grey levels) is paper too,
//   and so on across the page, as long as the level stays above 60% of
//   the page cell it started from (a shadow across a page darkens its
//   paper by a third and more far from any text). Paper changes that little from one cell
//   to the next even under uneven light, whereas the even parts of a
//   photograph drift faster or lie at other levels, and a dark box or a
//   shaded field is no paper: all those stay photos. A picture without a
//   document cell is left to the diffusion as before; one of mixed cells
//   is cleaned where it is a page and diffused where it is a photo.
// - Light text on dark paper: its cells hold more "ink" than paper and are
//   judged photos. When no cell is a page and the whole picture's tones
//   are two clear populations, mostly the dark one (see looksLightOnDark),
//   its negative is judged as above: when three quarters of its cells are
//   a page there, it is cleaned as that negative, dark strokes on white. A
//   dark photograph fails one test or the other (its tones spread between
//   dark and light, its light parts are blobs or uneven) and is diffused;
//   the cleaning never draws a black field.
#include "ScanCleaner.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

namespace folio {

namespace {

// Cell side in page pixels.
constexpr double kCellPagePixels = 40;

enum class Kind : std::uint8_t { Document, Blank, Photo };

struct Cell {
    Kind kind = Kind::Photo;
    int paper = 255; // grey reached or passed by 10% of its pixels
    int level = 255; // threshold, in grey levels
    int inkTo = 0;   // ink is at or below this grey
};

// Otsu's threshold over the levels [0, top] of a histogram: the level t
// that maximises the between-class variance of [0, t) and [t, top].
int otsu(const std::array<std::uint32_t, 256>& h, int top) {
    double total = 0, sum = 0;
    for (int v = 0; v <= top; ++v) {
        total += h[std::size_t(v)];
        sum += double(v) * h[std::size_t(v)];
    }
    double w0 = 0, s0 = 0, best = -1;
    int at = top / 2;
    for (int t = 1; t <= top; ++t) {
        w0 += h[std::size_t(t - 1)];
        s0 += double(t - 1) * h[std::size_t(t - 1)];
        const double w1 = total - w0;
        if (w0 == 0 || w1 == 0)
            continue;
        const double d = s0 / w0 - (sum - s0) / w1;
        const double between = w0 * w1 * d * d;
        if (between > best) {
            best = between;
            at = t;
        }
    }
    return at;
}

// `h`: the cell's histogram of `n` pixels; `steps`: its histogram of the
// differences between neighbours across.
Cell judge(const std::array<std::uint32_t, 256>& h, std::uint32_t n,
           const std::array<std::uint32_t, 256>& steps) {
    Cell c;
    // The paper: 10% of the pixels at or above it.
    std::uint32_t above = 0;
    int paper = 255;
    while (paper > 0 && (above + h[std::size_t(paper)]) * 10 < n)
        above += h[std::size_t(paper--)];
    c.paper = paper;
    // The noise: the median difference between neighbours is 0.95 standard
    // deviations of normal noise (text and edges are too few to move it, a
    // smooth photograph's gradients too gentle). Paper pixels reach from
    // `paper` (1.28 deviations above the paper's mean) to 3 deviations
    // below its mean: 4.5 median steps, but at least 15% of the paper and
    // at most 30%.
    std::uint32_t counted = 0, total = 0;
    for (const std::uint32_t k : steps)
        total += k;
    int step = 0;
    while (step < 255 && (counted + steps[std::size_t(step)]) * 2 < total)
        counted += steps[std::size_t(step++)];
    const int spread = std::min(paper * 30 / 100, step * 9 / 2);
    const int paperFrom = paper - std::max({8, paper * 15 / 100, spread});
    const int inkTo = std::min(paper * 60 / 100, paper - 48);
    c.inkTo = inkTo;
    std::uint32_t onPaper = 0, ink = 0;
    for (int v = 0; v < 256; ++v) {
        if (v >= paperFrom)
            onPaper += h[std::size_t(v)];
        else if (v <= inkTo)
            ink += h[std::size_t(v)];
    }
    const double p = double(onPaper) / n, i = double(ink) / n;
    if (i < 0.005 && p >= 0.9)
        c.kind = Kind::Blank;
    else if (p >= 0.55 && i >= 0.005 && p + i >= 0.7)
        c.kind = Kind::Document;
    const int split = ink > 0 ? otsu(h, paper) : paper * 60 / 100;
    // (On a nearly black cell the paper band may reach below 35%.)
    const int lowest = paper * 35 / 100;
    c.level = std::clamp(split, lowest, std::max(lowest, std::min(paper * 75 / 100, paperFrom)));
    return c;
}

// A value per cell (the threshold), read with the edge cells repeated
// beyond the picture, for the bilinear interpolation between cell centres.
struct Grid {
    int nx, ny;
    std::vector<float> value;
    float at(int cx, int cy) const {
        return value[std::size_t(std::clamp(cy, 0, ny - 1)) * std::size_t(nx) +
                     std::size_t(std::clamp(cx, 0, nx - 1))];
    }
};

} // namespace

namespace {

// The judgement and cleaning of PlanScan, for the picture as it is; the
// histogram of the whole picture is added to `whole`.
ScanPlan planCells(const GreyImage& picture, DrawnSize size, bool force,
                   std::array<std::uint32_t, 256>& whole) {
    ScanPlan plan;
    const int w = picture.width, h = picture.height;
    if (w <= 0 || h <= 0 || size.width <= 0 || size.height <= 0)
        return plan;
    const double per = std::max(double(w) / double(size.width), double(h) / double(size.height));
    plan.cellSide = int(std::clamp(std::lround(kCellPagePixels * per), 16L, 4096L));
    const int side = plan.cellSide;
    const int nx = (w + side - 1) / side, ny = (h + side - 1) / side;
    plan.cellsX = nx;
    plan.cellsY = ny;
    std::vector<Cell> cells(std::size_t(nx) * std::size_t(ny));
    {
        std::vector<std::array<std::uint32_t, 256>> hist(static_cast<std::size_t>(nx)),
            steps(static_cast<std::size_t>(nx));
        for (int cy = 0; cy < ny; ++cy) {
            for (auto& a : hist)
                a.fill(0);
            for (auto& a : steps)
                a.fill(0);
            const int r1 = std::min(h, (cy + 1) * side);
            for (int y = cy * side; y < r1; ++y) {
                const std::uint8_t* row = picture.Row(y);
                for (int x = 0; x < w; ++x) {
                    ++hist[std::size_t(x / side)][row[x]];
                    if (x + 1 < w && (x + 1) % side != 0)
                        ++steps[std::size_t(x / side)][std::size_t(std::abs(row[x] - row[x + 1]))];
                }
            }
            for (int cx = 0; cx < nx; ++cx) {
                const std::uint32_t n = std::uint32_t(std::min(w, (cx + 1) * side) - cx * side) *
                                        std::uint32_t(r1 - cy * side);
                cells[std::size_t(cy) * std::size_t(nx) + std::size_t(cx)] =
                    judge(hist[std::size_t(cx)], n, steps[std::size_t(cx)]);
                for (int v = 0; v < 256; ++v)
                    whole[std::size_t(v)] += hist[std::size_t(cx)][std::size_t(v)];
            }
        }
    }
    const auto cell = [&](int cx, int cy) -> Cell& {
        return cells[std::size_t(cy) * std::size_t(nx) + std::size_t(cx)];
    };
    // Ink in strokes or in blobs: an ink pixel is in a blob when the pixels
    // `reach` away from it left, right, up and down are ink too, which
    // strokes up to 8 page pixels thick (a 30-point bold letter) never
    // have. A cell whose ink is mostly in blobs is a photo's shadows, not
    // writing.
    if (!force) {
        const int reach = std::max(2, int(std::lround(4 * per)));
        for (int cy = 0; cy < ny; ++cy)
            for (int cx = 0; cx < nx; ++cx) {
                Cell& c = cell(cx, cy);
                if (c.kind != Kind::Document)
                    continue;
                const auto ink = [&](int x, int y) {
                    return x >= 0 && y >= 0 && x < w && y < h && picture.Row(y)[x] <= c.inkTo;
                };
                std::uint64_t inked = 0, blob = 0;
                for (int y = cy * side; y < std::min(h, (cy + 1) * side); ++y)
                    for (int x = cx * side; x < std::min(w, (cx + 1) * side); ++x)
                        if (ink(x, y)) {
                            ++inked;
                            blob += ink(x - reach, y) && ink(x + reach, y) && ink(x, y - reach) &&
                                    ink(x, y + reach);
                        }
                if (blob * 2 > inked)
                    c.kind = Kind::Photo;
            }
    }
    // Counts of document and photo cells around (cx, cy), `r` cells a side.
    const auto votes = [&](const std::vector<Cell>& from, int cx, int cy, int r) {
        std::pair<int, int> v{0, 0};
        for (int y = std::max(0, cy - r); y <= std::min(ny - 1, cy + r); ++y)
            for (int x = std::max(0, cx - r); x <= std::min(nx - 1, cx + r); ++x) {
                const Kind k = from[std::size_t(y) * std::size_t(nx) + std::size_t(x)].kind;
                v.first += k == Kind::Document;
                v.second += k == Kind::Photo;
            }
        return v;
    };
    if (force) {
        for (Cell& c : cells)
            if (c.kind == Kind::Photo)
                c.kind = Kind::Document;
    } else {
        // A page's paper is the lightest even tone around: a document cell
        // whose paper is darker than 80% of the paper of the page and blank
        // cells around it (the upper quartile of their levels, 5 x 5 cells)
        // is a shaded part of a drawing or photograph with marks on it.
        std::vector<Cell> judged = cells;
        std::vector<int> around;
        for (int cy = 0; cy < ny; ++cy)
            for (int cx = 0; cx < nx; ++cx) {
                if (cell(cx, cy).kind != Kind::Document)
                    continue;
                around.clear();
                for (int y = std::max(0, cy - 2); y <= std::min(ny - 1, cy + 2); ++y)
                    for (int x = std::max(0, cx - 2); x <= std::min(nx - 1, cx + 2); ++x) {
                        const Cell& c = judged[std::size_t(y) * std::size_t(nx) + std::size_t(x)];
                        if (c.kind != Kind::Photo)
                            around.push_back(c.paper);
                    }
                const auto q = around.begin() + std::ptrdiff_t(around.size() * 3 / 4);
                std::nth_element(around.begin(), q, around.end());
                if (cell(cx, cy).paper * 100 < *q * 80)
                    cell(cx, cy).kind = Kind::Photo;
            }
        // Lone document cells among photo cells are edges in a photograph.
        judged = cells;
        for (int cy = 0; cy < ny; ++cy)
            for (int cx = 0; cx < nx; ++cx)
                if (cell(cx, cy).kind == Kind::Document) {
                    const auto [doc, photo] = votes(judged, cx, cy, 2);
                    if (photo > doc)
                        cell(cx, cy).kind = Kind::Photo;
                }
    }
    int docs = 0;
    for (const Cell& c : cells)
        docs += c.kind == Kind::Document;
    if (docs == 0 && !force) {
        plan.photo.assign(cells.size(), 1);
        plan.photoCells = int(cells.size());
        return plan;
    }
    // Blank cells join the page through even paper: from each document
    // cell to a blank neighbour whose paper is within 3% (at least 4 grey
    // levels) of its own, and on from there, as long as it stays above 60%
    // of the paper of the document cell it started from.
    {
        std::vector<int> from(cells.size(), 0);
        std::vector<std::size_t> queue;
        for (std::size_t k = 0; k < cells.size(); ++k)
            if (cells[k].kind == Kind::Document) {
                from[k] = cells[k].paper;
                queue.push_back(k);
            }
        for (std::size_t head = 0; head < queue.size(); ++head) {
            const std::size_t k = queue[head];
            const int cx = int(k % std::size_t(nx)), cy = int(k / std::size_t(nx));
            const int ref = cells[k].paper, tolerance = std::max(4, ref * 3 / 100);
            const std::pair<int, int> steps[] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};
            for (const auto& [dx, dy] : steps) {
                const int x = cx + dx, y = cy + dy;
                if (x < 0 || y < 0 || x >= nx || y >= ny)
                    continue;
                Cell& c = cell(x, y);
                if (c.kind != Kind::Blank || std::abs(c.paper - ref) > tolerance ||
                    c.paper * 100 < from[k] * 60)
                    continue;
                c.kind = Kind::Document;
                const std::size_t n = std::size_t(y) * std::size_t(nx) + std::size_t(x);
                from[n] = from[k];
                queue.push_back(n);
            }
        }
    }
    for (Cell& c : cells)
        if (c.kind == Kind::Blank)
            c.kind = force ? Kind::Document : Kind::Photo;
    plan.photo.resize(cells.size());
    std::vector<int> lifted;
    for (std::size_t k = 0; k < cells.size(); ++k) {
        plan.photo[k] = cells[k].kind == Kind::Photo;
        plan.photoCells += plan.photo[k];
        plan.documentCells += !plan.photo[k];
        if (!plan.photo[k])
            lifted.push_back(cells[k].paper);
    }
    // The median paper level of the cleaned cells.
    std::nth_element(lifted.begin(), lifted.begin() + std::ptrdiff_t(lifted.size() / 2),
                     lifted.end());
    plan.paperGrey = lifted.empty() ? 255 : lifted[lifted.size() / 2];
    // The threshold map, smoothed over the 3 x 3 document cells around each
    // cell (a photo cell takes its document neighbours', or its own).
    Grid grid{nx, ny, std::vector<float>(cells.size())};
    for (int cy = 0; cy < ny; ++cy)
        for (int cx = 0; cx < nx; ++cx) {
            double sum = 0;
            int n = 0;
            for (int y = std::max(0, cy - 1); y <= std::min(ny - 1, cy + 1); ++y)
                for (int x = std::max(0, cx - 1); x <= std::min(nx - 1, cx + 1); ++x)
                    if (cell(x, y).kind == Kind::Document) {
                        sum += cell(x, y).level;
                        ++n;
                    }
            grid.value[std::size_t(cy) * std::size_t(nx) + std::size_t(cx)] =
                n > 0 ? float(sum / n) : float(cell(cx, cy).level);
        }
    plan.cleaned.width = w;
    plan.cleaned.height = h;
    plan.cleaned.storedWidth = picture.storedWidth;
    plan.cleaned.storedHeight = picture.storedHeight;
    plan.cleaned.dpiX = picture.dpiX;
    plan.cleaned.dpiY = picture.dpiY;
    plan.cleaned.pixels.resize(picture.pixels.size());
    std::vector<float> across(static_cast<std::size_t>(nx));
    for (int y = 0; y < h; ++y) {
        // Cell rows whose centres bracket this row, and the weight between.
        const double fy = (double(y) + 0.5) / side - 0.5;
        const int cy0 = int(std::floor(fy));
        const float ty = float(fy - cy0);
        for (int cx = 0; cx < nx; ++cx)
            across[std::size_t(cx)] = grid.at(cx, cy0) * (1 - ty) + grid.at(cx, cy0 + 1) * ty;
        const std::uint8_t* src = picture.Row(y);
        std::uint8_t* dst = plan.cleaned.Row(y);
        const std::uint8_t* photoRow = plan.photo.data() + std::size_t(y / side) * std::size_t(nx);
        for (int x = 0; x < w; ++x) {
            const double fx = (double(x) + 0.5) / side - 0.5;
            const int cx0 = int(std::floor(fx));
            const float tx = float(fx - cx0);
            const float level = across[std::size_t(std::clamp(cx0, 0, nx - 1))] * (1 - tx) +
                                across[std::size_t(std::clamp(cx0 + 1, 0, nx - 1))] * tx;
            dst[x] = !photoRow[x / side] && float(src[x]) < level ? 0 : 255;
        }
    }
    return plan;
}

// Whether the tones of a picture, its histogram `h`, are those of light
// strokes on dark paper: two populations (Otsu's split explains at least
// 60% of the variance; a scan's noise and blur take the rest), the darker
// at least 60% of the pixels and at most grey 110 on average, the lighter
// at least 80 grey levels above it and at least 1% of the pixels (a few
// lines of writing, not a few specks of light: stars on a night sky). A
// photograph's tones run between the two and spread its variance; the
// lighter parts of one that passes are judged again as cells.
bool looksLightOnDark(const std::array<std::uint32_t, 256>& h) {
    const int split = otsu(h, 255);
    double n0 = 0, s0 = 0, n1 = 0, s1 = 0, squares = 0;
    for (int v = 0; v < 256; ++v) {
        const double k = h[std::size_t(v)];
        (v < split ? n0 : n1) += k;
        (v < split ? s0 : s1) += k * v;
        squares += k * double(v) * double(v);
    }
    if (n0 == 0 || n1 == 0)
        return false;
    const double n = n0 + n1, m0 = s0 / n0, m1 = s1 / n1, mean = (s0 + s1) / n;
    const double total = squares / n - mean * mean;
    const double between = n0 / n * n1 / n * (m1 - m0) * (m1 - m0);
    return n0 >= 0.6 * n && n1 >= 0.01 * n && m0 <= 110 && m1 - m0 >= 80 && total > 0 &&
           between >= 0.6 * total;
}

} // namespace

ScanPlan PlanScan(const GreyImage& picture, DrawnSize size, bool force) {
    std::array<std::uint32_t, 256> tones{};
    ScanPlan plan = planCells(picture, size, force, tones);
    if (force || plan.documentCells > 0 || !looksLightOnDark(tones))
        return plan;
    // Light strokes on dark paper: judged again as its negative, dark
    // strokes on light paper, it is taken as a page when at least three
    // quarters of its cells are a page there, and cleaned to dark strokes
    // on white. Its photo cells, if any, keep their own tones (the caller
    // diffuses the picture itself there).
    GreyImage negative = picture;
    for (std::uint8_t& v : negative.pixels)
        v = std::uint8_t(255 - v);
    ScanPlan turned = planCells(negative, size, false, tones);
    if (turned.documentCells * 4 < (turned.documentCells + turned.photoCells) * 3)
        return plan;
    turned.lightOnDark = true;
    turned.paperGrey = 255 - turned.paperGrey;
    return turned;
}

} // namespace folio
