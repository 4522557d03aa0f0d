// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// What a picture's FILE command says beyond its name and type:
//   FILE=name,PNG|JPG|TIF[,MODE][,W[,H]][,FIT]
//   FILE=name,PDF[,page][,MODE][,W[,H]][,FIT]
// MODE is LINEART (a threshold that keeps thin strokes), PHOTO (error
// diffusion) or SCAN (paper lifted to white, ink thresholded against it);
// without it the picture's tones decide. W and H are the drawn
// size in page pixels (0 or absent: from the other side, keeping the
// picture's shape; both absent: its physical size). FIT scales it down (never
// up) to the text width left of the pen and the page height below it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace folio {

struct PictureArgs {
    enum class Mode { Auto, LineArt, Photo, Scan };
    int page = 1;
    Mode mode = Mode::Auto;
    std::int64_t width = 0, height = 0;
    bool fit = false;
    // Words it did not take, for a warning.
    std::vector<std::string> ignored;
};

// Reads the words after the type (`words` is what follows the type's comma,
// or null). `pdf`: the first number is the page.
PictureArgs ReadPictureArgs(const char* words, bool pdf);

// The words of the FILE command the engine is carrying out on this thread:
// set by the command, read where the picture is drawn, which keeps the
// engine's exported calls as they were.
PictureArgs& CurrentPictureArgs();

} // namespace folio
