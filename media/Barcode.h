// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Barcode symbols as a grid of modules, encoded by libzint: which modules of
// each row are dark, how many module heights each row takes, the quiet zone
// each symbology needs and the human-readable line. Nothing here draws or
// scales; the caller sets each module as a whole number of page pixels.
// Only Barcode.cpp includes the zint header.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace folio {

enum class BarcodeType : std::uint8_t {
    Code128,
    Code39,
    Ean13,
    UpcA,
    Itf,
    Qr,
    DataMatrix,
    Pdf417,
    Aztec
};

// The type named `word` (CODE128, CODE39, EAN13, UPCA, ITF, QR, DATAMATRIX,
// PDF417, AZTEC, ASCII letters in any case); false for any other word.
bool ParseBarcodeType(std::string_view word, BarcodeType& type);
const char* BarcodeTypeName(BarcodeType type);
// Two-dimensional symbols (QR, Data Matrix, PDF417, Aztec): their modules
// are squares and their size comes from the data; the others are rows of
// bars of one height.
bool IsTwoDimensional(BarcodeType type);

struct BarcodeSymbol {
    int columns = 0; // modules per row
    int rows = 0;    // rows of modules
    // rows x columns, row by row; 1 for a dark module.
    std::vector<std::uint8_t> modules;
    // Module heights each row takes (3 for the rows of PDF417, else 1).
    int rowModules = 1;
    // Light modules each side must keep clear (top and bottom: 2-D only).
    int quietLeft = 0, quietRight = 0, quietVertical = 0;
    // The human-readable line of a 1-D symbol (ASCII), empty for none.
    std::string text;
    // The symbology's usual bar height in modules (1-D), before any minimum
    // relative to the symbol's width.
    int usualHeight = 0;

    bool Dark(int row, int column) const {
        return modules[std::size_t(row) * std::size_t(columns) + std::size_t(column)] != 0;
    }
};

struct BarcodeResult {
    bool ok = false;
    // Why nothing can be encoded (libzint's reason where it gave one).
    std::string error;
    // What was changed or added on the way (check digit, padding, ECI).
    std::vector<std::string> notes;
    // What was changed in a way a reader of the symbol sees.
    std::vector<std::string> warnings;
};

// Encodes `utf8` (valid UTF-8) as `type` into `symbol`. 1-D types take
// printable ASCII only; 2-D types take any text, in Latin-1 where it fits and
// else as UTF-8 with an ECI marker (noted). Fails with a reason, leaving
// `symbol` empty.
BarcodeResult EncodeBarcode(BarcodeType type, std::string_view utf8, BarcodeSymbol& symbol);

} // namespace folio
