// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// libzint's side of barcodes: the data checked and prepared for each
// symbology, the symbol encoded (never rendered: zint's own pictures are
// scaled, ours are drawn module by module) and its modules read out of
// zint's encoded rows, one bit per module, least significant bit first.
#include "Barcode.h"

#include <zint.h>

#include <algorithm>
#include <memory>

namespace folio {

namespace {

struct TypeEntry {
    const char* name;
    BarcodeType type;
};

constexpr TypeEntry kTypes[] = {
    {"CODE128", BarcodeType::Code128}, {"CODE39", BarcodeType::Code39},
    {"EAN13", BarcodeType::Ean13},     {"UPCA", BarcodeType::UpcA},
    {"ITF", BarcodeType::Itf},         {"QR", BarcodeType::Qr},
    {"DATAMATRIX", BarcodeType::DataMatrix}, {"PDF417", BarcodeType::Pdf417},
    {"AZTEC", BarcodeType::Aztec},
};

char upperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? char(c - 32) : c;
}

bool allDigits(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Module counts of each symbology's quiet zones: left, right, and above and
// below (2-D), the least each standard asks. Aztec needs none; it gets one
// module so that drawing next to it cannot touch its finder.
struct Quiet {
    int left, right, vertical;
};
Quiet quietZone(BarcodeType type) {
    switch (type) {
    case BarcodeType::Ean13:
        return {11, 7, 0};
    case BarcodeType::UpcA:
        return {9, 9, 0};
    case BarcodeType::Qr:
        return {4, 4, 4};
    case BarcodeType::DataMatrix:
    case BarcodeType::Aztec:
        return {1, 1, 1};
    case BarcodeType::Pdf417:
        return {2, 2, 2};
    default:
        return {10, 10, 0};
    }
}

int zintSymbology(BarcodeType type) {
    switch (type) {
    case BarcodeType::Code128:
        return BARCODE_CODE128;
    case BarcodeType::Code39:
        return BARCODE_CODE39;
    case BarcodeType::Ean13:
        return BARCODE_EANX;
    case BarcodeType::UpcA:
        return BARCODE_UPCA;
    case BarcodeType::Itf:
        return BARCODE_C25INTER;
    case BarcodeType::Qr:
        return BARCODE_QRCODE;
    case BarcodeType::DataMatrix:
        return BARCODE_DATAMATRIX;
    case BarcodeType::Pdf417:
        return BARCODE_PDF417;
    case BarcodeType::Aztec:
        return BARCODE_AZTEC;
    }
    return BARCODE_CODE128;
}

// True when every character of valid UTF-8 `s` is in Latin-1 (U+0000 to
// U+00FF): 2-D symbols then carry it in their default character set.
bool fitsLatin1(std::string_view s) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto b = std::uint8_t(s[i]);
        if (b >= 0x80 && b != 0xC2 && b != 0xC3 && (b & 0xC0) != 0x80)
            return false;
    }
    return true;
}

struct SymbolDeleter {
    void operator()(zint_symbol* s) const { ZBarcode_Delete(s); }
};

} // namespace

bool ParseBarcodeType(std::string_view word, BarcodeType& type) {
    for (const TypeEntry& t : kTypes) {
        const std::string_view name = t.name;
        if (word.size() == name.size() &&
            std::equal(word.begin(), word.end(), name.begin(),
                       [](char a, char b) { return upperAscii(a) == b; })) {
            type = t.type;
            return true;
        }
    }
    return false;
}

const char* BarcodeTypeName(BarcodeType type) {
    for (const TypeEntry& t : kTypes)
        if (t.type == type)
            return t.name;
    return "";
}

bool IsTwoDimensional(BarcodeType type) {
    return type == BarcodeType::Qr || type == BarcodeType::DataMatrix ||
           type == BarcodeType::Pdf417 || type == BarcodeType::Aztec;
}

BarcodeResult EncodeBarcode(BarcodeType type, std::string_view utf8, BarcodeSymbol& symbol) {
    BarcodeResult result;
    symbol = BarcodeSymbol{};
    const char* name = BarcodeTypeName(type);
    if (utf8.empty()) {
        result.error = std::string(name) + " has no data to encode";
        return result;
    }
    std::string data(utf8);
    const bool twoD = IsTwoDimensional(type);
    if (!twoD) {
        for (char c : data)
            if (std::uint8_t(c) < 32 || std::uint8_t(c) > 126) {
                result.error = std::string(name) +
                               " takes printable ASCII characters only (a 2-D type such as QR "
                               "takes any text)";
                return result;
            }
    }
    // Values each symbology would change silently are changed here, so that
    // the change is told.
    switch (type) {
    case BarcodeType::Ean13:
    case BarcodeType::UpcA: {
        if (data.find('+') != std::string::npos) {
            result.error = std::string(name) + " add-on symbols (after \"+\") are not drawn";
            return result;
        }
        const std::size_t digits = type == BarcodeType::Ean13 ? 12 : 11;
        if (data.size() < digits && allDigits(data)) {
            result.notes.push_back(std::string(name) + " value " + data +
                                   " padded with leading zeros to " + std::to_string(digits) +
                                   " digits");
            data.insert(0, digits - data.size(), '0');
        }
        break;
    }
    case BarcodeType::Itf:
        if (data.size() % 2 == 1 && allDigits(data)) {
            result.notes.push_back("ITF value " + data +
                                   " padded with a leading zero to an even number of digits");
            data.insert(0, 1, '0');
        }
        break;
    case BarcodeType::Code39:
        if (std::any_of(data.begin(), data.end(), [](char c) { return c >= 'a' && c <= 'z'; })) {
            // A warning, not a note: a scanner reads back other text.
            result.warnings.push_back("CODE39 has no small letters; they are encoded as capitals, "
                                      "which is what a scanner reads back");
            for (char& c : data)
                c = upperAscii(c);
        }
        break;
    default:
        break;
    }

    std::unique_ptr<zint_symbol, SymbolDeleter> z(ZBarcode_Create());
    if (!z) {
        result.error = "no memory to encode the barcode";
        return result;
    }
    z->symbology = zintSymbology(type);
    z->input_mode = UNICODE_MODE;
    z->show_hrt = 1;
    // Square Data Matrix symbols only: readers find them more surely than
    // the oblong ones zint may pick for short data.
    if (type == BarcodeType::DataMatrix)
        z->option_3 = DM_SQUARE;
    if (twoD && !fitsLatin1(data))
        z->eci = 26; // UTF-8, said so in the symbol
    const int rc = ZBarcode_Encode(z.get(), reinterpret_cast<const unsigned char*>(data.data()),
                                   int(data.size()));
    if (rc >= ZINT_ERROR) {
        result.error = std::string(name) + " cannot encode this data: " + z->errtxt;
        return result;
    }
    if (z->rows < 1 || z->rows > 200 || z->width < 1 || z->width > 144 * 8) {
        result.error = std::string(name) + " gave a symbol of no size";
        return result;
    }
    if (z->eci == 26)
        result.notes.push_back(std::string(name) +
                               " data holds characters beyond Latin-1: encoded as UTF-8 with "
                               "ECI 26");

    const std::string text(reinterpret_cast<const char*>(z->text));
    if (type == BarcodeType::Ean13 || type == BarcodeType::UpcA) {
        const std::size_t digits = type == BarcodeType::Ean13 ? 12 : 11;
        if (data.size() == digits)
            result.notes.push_back(std::string(name) + " check digit added: " + text);
    }

    symbol.columns = z->width;
    symbol.rows = z->rows;
    symbol.modules.resize(std::size_t(symbol.rows) * std::size_t(symbol.columns));
    for (int r = 0; r < symbol.rows; ++r)
        for (int c = 0; c < symbol.columns; ++c)
            symbol.modules[std::size_t(r) * std::size_t(symbol.columns) + std::size_t(c)] =
                (z->encoded_data[r][c >> 3] >> (c & 7)) & 1;
    symbol.rowModules = type == BarcodeType::Pdf417 ? 3 : 1;
    const Quiet q = quietZone(type);
    symbol.quietLeft = q.left;
    symbol.quietRight = q.right;
    symbol.quietVertical = q.vertical;
    if (!twoD) {
        // zint's text of EAN and UPC may carry spaces between its groups.
        const bool eanUpc = type == BarcodeType::Ean13 || type == BarcodeType::UpcA;
        for (char c : text)
            if (!(eanUpc && c == ' '))
                symbol.text += c;
    }
    // EAN-13 and UPC-A stand about 69 modules tall (22.85 mm at 0.33 mm);
    // the other codes get 50, zint's own default.
    symbol.usualHeight =
        (type == BarcodeType::Ean13 || type == BarcodeType::UpcA) ? 69 : twoD ? 0 : 50;
    result.ok = true;
    return result;
}

} // namespace folio
