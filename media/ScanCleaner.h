// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The scan treatment of a picture: a page of text or drawings on a paper
// tone (grey, yellowed, unevenly lit, photographed) is cleaned to black ink
// on white paper instead of being error-diffused into a dot screen. The
// picture is looked at in cells: each cell is judged document (paper and
// ink), blank (paper only, or an even tone) or photo (tones throughout);
// document cells and the blank ones around them have their paper lifted to
// white and their ink thresholded, photo cells stay for the diffusion.
#pragma once

#include "Picture.h"

#include <cstdint>
#include <vector>

namespace folio {

struct ScanPlan {
    // Cells of `cellSide` x `cellSide` source pixels, `cellsX` x `cellsY` of
    // them, row by row; 1 where the cell stays a photo.
    int cellSide = 1, cellsX = 0, cellsY = 0;
    std::vector<std::uint8_t> photo;
    int documentCells = 0, photoCells = 0;
    // The paper's grey, the median background of the document cells (0 to
    // 255): what the note reports as lifted to white.
    int paperGrey = 255;
    // Light strokes on dark paper (paperGrey), cleaned to dark strokes on
    // white.
    bool lightOnDark = false;
    // The picture with the document cells made black (0) and white (255)
    // and the photo cells white; empty when no cell is a document.
    GreyImage cleaned;

    bool PhotoAt(int x, int y) const {
        return photo[std::size_t(y / cellSide) * std::size_t(cellsX) + std::size_t(x / cellSide)] !=
               0;
    }
};

// Judges and cleans `picture`, to be drawn at `size` (the cells are about a
// fifth of an inch on the page). `force`: every cell is cleaned as a
// document, whatever it holds (FILE=...,SCAN). Without it, a page of light
// strokes on dark paper is cleaned to dark strokes on white (lightOnDark).
ScanPlan PlanScan(const GreyImage& picture, DrawnSize size, bool force);

} // namespace folio
