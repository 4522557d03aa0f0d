// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// BARCODE=type,x,y,height,data: a barcode or 2-D symbol drawn on the page
// for the fax grid. The modules come from the barcode module (libzint); the
// size and placement are ours: every module a whole number of page pixels,
// the narrowest bar 3 pixels wide (0.37 mm at 204 dpi), 2-D modules 4 x 4
// pixels so that they keep 2 rows when normal resolution merges row pairs,
// and the quiet zones painted white. (x, y) is the top-left corner of the
// symbol with its quiet zone; 1-D codes set their human-readable line under
// the bars in the current font. The pen does not move. A symbol that cannot
// be encoded, or would not lie wholly on the page, is not drawn at all: a
// cut barcode reads wrong or not at all.
#include "FaxImage.h"

#include "Barcode.h"
#include "CodePage.h"
#include "Diagnostics.h"
#include "SafeMath.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace {

bool isWhite(char c) {
    return c == ' ' || (c >= 9 && c <= 13);
}

// Bar widths in page pixels: the narrowest bar of a 1-D code, and the
// module of a 2-D symbol across and down (an even number of rows, so that
// the row pairs of normal resolution never split a module unevenly).
constexpr int kBarPixels = 3;
constexpr int kModulePixels = 4;
constexpr int kModuleRows = 4;

// `bytes` in `codePage` as UTF-8; false when a character's bytes form none.
bool toUtf8(std::uint16_t codePage, std::string_view bytes, std::string& out) {
    for (std::size_t pos = 0; pos < bytes.size();) {
        const std::size_t n = folio::CharLength(codePage, bytes, pos);
        const char32_t c = folio::DecodeChar(codePage, bytes.substr(pos, n));
        if (c == folio::kReplacementChar && bytes.substr(pos, n) != "\xEF\xBF\xBD")
            return false;
        pos += n;
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return true;
}

// The label's size in points unless LABELSIZE says, and the sizes it takes.
constexpr int kLabelPoints = 10, kMinLabelPoints = 4, kMaxLabelPoints = 72;

std::string upperCase(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return out;
}

// Whether any pixel of [x0, x1) x [y0, y1), inside the page, is black: whole
// bytes first, the edge bytes masked (leftmost pixel in the high bit).
bool anyInk(const folio::Bitmap& page, int x0, int y0, int x1, int y1) {
    for (int y = y0; y < y1; ++y) {
        const std::uint8_t* row = page.Row(y);
        for (int x = x0; x < x1;) {
            if (x % 8 == 0 && x + 8 <= x1) {
                if (row[x / 8])
                    return true;
                x += 8;
                continue;
            }
            if (row[x / 8] & (0x80 >> (x % 8)))
                return true;
            ++x;
        }
    }
    return false;
}

bool readSize(const std::string& text, int& size) {
    if (text.empty() || text.size() > 2)
        return false;
    size = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        size = size * 10 + (c - '0');
    }
    return size >= kMinLabelPoints && size <= kMaxLabelPoints;
}

} // namespace

void FaxImage::DrawBarcode(char* typeText, int x, int y, int height, char* data) {
    namespace kind = folio::kind;
    // The type word without the blanks around it; the data without the
    // blanks around it.
    while (isWhite(*typeText))
        ++typeText;
    std::string_view typeWord(typeText);
    while (!typeWord.empty() && isWhite(typeWord.back()))
        typeWord.remove_suffix(1);
    // Words after the type: NOLABEL leaves a 1-D code's text line off,
    // LABELSIZE=n sets it n points high (10 unless said), in the plain
    // face of the default font whatever the running text's font and style.
    bool label = true;
    int labelSize = kLabelPoints;
    if (const std::size_t gap = typeWord.find_first_of(" \t"); gap != std::string_view::npos) {
        std::string_view words = typeWord.substr(gap);
        typeWord = typeWord.substr(0, gap);
        while (!words.empty()) {
            while (!words.empty() && isWhite(words.front()))
                words.remove_prefix(1);
            std::size_t end = 0;
            while (end < words.size() && !isWhite(words[end]))
                ++end;
            const std::string word = upperCase(words.substr(0, end));
            words.remove_prefix(end);
            if (word.empty())
                break;
            int size = 0;
            if (word == "NOLABEL")
                label = false;
            else if (word.rfind("LABELSIZE=", 0) == 0 && readSize(word.substr(10), size))
                labelSize = size;
            else if (diag_)
                diag_->Warn(sourceLine_, kind::BarcodeType,
                            "BARCODE word " + folio::Quoted(word.c_str()) +
                                " is not known (NOLABEL, LABELSIZE=4 to 72); it is ignored");
        }
    }
    std::string_view value(data);
    while (!value.empty() && isWhite(value.front()))
        value.remove_prefix(1);
    while (!value.empty() && isWhite(value.back()))
        value.remove_suffix(1);

    folio::BarcodeType type;
    if (!folio::ParseBarcodeType(typeWord, type)) {
        if (diag_)
            diag_->Warn(sourceLine_, kind::BarcodeType,
                        "BARCODE type " + folio::Quoted(std::string(typeWord).c_str()) +
                            " is not known (CODE128, CODE39, EAN13, UPCA, ITF, QR, DATAMATRIX, "
                            "PDF417, AZTEC); nothing is drawn");
        return;
    }
    if (value.empty()) {
        if (diag_)
            diag_->Warn(sourceLine_, kind::MissingArgument,
                        "BARCODE has no data after the fourth comma; nothing is drawn");
        return;
    }
    const std::string quoted = folio::Quoted(std::string(value).c_str());

#if FOLIO_PROGRAM_VARIANT
    const std::uint16_t codePage = 0; // each byte one character of the ANSI code page
#else
    const std::uint16_t codePage = CodePage;
#endif
    std::string utf8;
    if (!toUtf8(codePage, value, utf8)) {
        if (diag_)
            diag_->Warn(sourceLine_, kind::BarcodeData,
                        "BARCODE data " + quoted + " holds bytes that form no character in code page " +
                            std::to_string(folio::EffectiveCodePage(codePage)) +
                            "; nothing is drawn");
        return;
    }

    folio::BarcodeSymbol symbol;
    const folio::BarcodeResult encoded = folio::EncodeBarcode(type, utf8, symbol);
    if (!encoded.ok) {
        if (diag_)
            diag_->Warn(sourceLine_, kind::BarcodeData,
                        encoded.error + " (data " + quoted + "); nothing is drawn");
        return;
    }

    if (diag_ && !folio::IsTwoDimensional(type) && height < 0)
        diag_->Warn(sourceLine_, kind::BarcodeHeight,
                    "BARCODE height " + std::to_string(height) +
                        " is negative; the usual height is used");
    else if (diag_ && !folio::IsTwoDimensional(type) && height > 0 && height < 10)
        diag_->Warn(sourceLine_, kind::BarcodeHeight,
                    "BARCODE height " + std::to_string(height) +
                        " pixels is under 10; scanners may not read bars that short");

    // The symbol's pixels, in 64 bits: no macro value can overflow them.
    const bool twoD = folio::IsTwoDimensional(type);
    const std::int64_t across = twoD ? kModulePixels : kBarPixels;
    const std::int64_t down = twoD ? kModuleRows : 0;
    const std::int64_t barsWidth = std::int64_t(symbol.columns) * across;
    const std::int64_t left = x, top = y;
    const std::int64_t barsLeft = left + std::int64_t(symbol.quietLeft) * across;
    const std::int64_t right = barsLeft + barsWidth + std::int64_t(symbol.quietRight) * across;
    std::int64_t barsTop = top + std::int64_t(symbol.quietVertical) * down;
    std::int64_t barsHeight, bottom;
    if (twoD) {
        if (barsTop % 2 != 0)
            ++barsTop; // rows start on an even row: row pairs hold whole modules
        barsHeight = std::int64_t(symbol.rows) * symbol.rowModules * down;
        bottom = barsTop + barsHeight + std::int64_t(symbol.quietVertical) * down;
    } else {
        barsHeight = height > 0 ? std::int64_t(height)
                                : std::max<std::int64_t>(std::int64_t(symbol.usualHeight) * across,
                                                         (barsWidth * 15 + 99) / 100);
        bottom = barsTop + barsHeight;
    }

    folio::Canvas& canvas = Image->Canvas();
    // The label's font stands in for the running text's while it is set.
    struct FontSwap {
        folio::Canvas& canvas;
        folio::Font saved;
        FontSwap(folio::Canvas& c, const folio::Font& f) : canvas(c), saved(c.Font) { c.Font = f; }
        ~FontSwap() { canvas.Font = saved; }
    };
    if (!label)
        symbol.text.clear();
    folio::Font labelFont = canvas.Font;
    labelFont.Name = "Arial";
    labelFont.Style = 0;
    labelFont.Size = folio::TruncToInt(labelSize * FontScale);
    const FontSwap swap(canvas, labelFont);
    std::int64_t textLeft = 0, textTop = bottom + kBarPixels, textRight = 0, textBottom = 0;
    if (!symbol.text.empty()) {
        const std::int64_t w = canvas.TextWidth(symbol.text), h = canvas.TextHeight(symbol.text);
        textLeft = barsLeft + (barsWidth - w) / 2;
        textRight = textLeft + w;
        textBottom = textTop + h;
    }
    const std::int64_t areaLeft = symbol.text.empty() ? left : std::min(left, textLeft);
    const std::int64_t areaRight = symbol.text.empty() ? right : std::max(right, textRight);
    const std::int64_t areaBottom = symbol.text.empty() ? bottom : textBottom;
    if (areaLeft < 0 || top < 0 || areaRight > Width || areaBottom > Height) {
        if (diag_)
            diag_->Warn(sourceLine_, kind::BarcodeClipped,
                        std::string(folio::BarcodeTypeName(type)) + " " + quoted + " at (" +
                            std::to_string(x) + ", " + std::to_string(y) + "), " +
                            std::to_string(areaRight - areaLeft) + " x " +
                            std::to_string(areaBottom - top) +
                            " pixels with its quiet zone, would run past the edge of the page (" +
                            std::to_string(Width) + " x " + std::to_string(Height) +
                            "); nothing is drawn");
        return;
    }
    if (diag_)
        for (const std::string& note : encoded.notes)
            diag_->Report(sourceLine_, folio::Severity::Note, kind::BarcodeAdjusted, note);
    if (diag_)
        for (const std::string& warning : encoded.warnings)
            diag_->Warn(sourceLine_, kind::BarcodeAdjusted, warning);

    // Everything is on the page now, so every value fits an int.
    folio::Bitmap& page = canvas.Target();
    // The quiet zone is painted white: ink already there is lost.
    if (diag_ && anyInk(page, int(areaLeft), int(top), int(areaRight), int(areaBottom)))
        diag_->Warn(sourceLine_, kind::BarcodeOverInk,
                    std::string(folio::BarcodeTypeName(type)) + " " + quoted + " at (" +
                        std::to_string(x) + ", " + std::to_string(y) +
                        ") is painted over ink already on the page, which its white quiet zone "
                        "and label erase");
    page.FillRect(int(left), int(top), int(right), int(bottom), false);
    const std::int64_t rowHeight = twoD ? std::int64_t(symbol.rowModules) * down : barsHeight;
    for (int r = 0; r < symbol.rows; ++r) {
        const int y0 = int(barsTop + r * rowHeight), y1 = int(y0 + rowHeight);
        for (int c = 0; c < symbol.columns;) {
            if (!symbol.Dark(r, c)) {
                ++c;
                continue;
            }
            const int start = c;
            while (c < symbol.columns && symbol.Dark(r, c))
                ++c;
            page.FillRect(int(barsLeft + start * across), y0, int(barsLeft + c * across), y1, true);
        }
    }
    if (!symbol.text.empty()) {
        canvas.TextOut(int(textLeft), int(textTop), symbol.text);
        if (diag_)
            diag_->FlushTally(sourceLine_, canvas.Font.Name);
    }
}
