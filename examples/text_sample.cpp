// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Sets a sample page of text through the canvas (faces, sizes, styles,
// character sets, a line erased by a text cell) and writes it as a 1-bit PNG,
// to look at how glyphs come out: folio_text_sample [out.png].
#include "Canvas.h"

#include <png.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

bool writePng(const folio::Bitmap& b, const char* path) {
    std::FILE* f = std::fopen(path, "wb");
    if (!f)
        return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, png_uint_32(b.Width()), png_uint_32(b.Height()), 1, PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    // PNG grey: a set bit is white, so the rows are written inverted.
    png_set_invert_mono(png);
    for (int y = 0; y < b.Height(); ++y)
        png_write_row(png, b.Row(y));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0;
}

} // namespace

int main(int argc, char** argv) {
    const char* out = argc > 1 ? argv[1] : "text_sample.png";
    folio::Bitmap page;
    page.SetSize(1728, 1100);
    folio::Canvas c(page);
    int y = 40;
    auto line = [&](const char* face, int size, folio::FontStyles style, const std::string& text,
                    std::uint8_t charset = folio::DEFAULT_CHARSET) {
        c.Font.Name = face;
        c.Font.Size = size;
        c.Font.Style = style;
        c.Font.Charset = charset;
        c.TextOut(100, y, text);
        y += c.TextHeight("Yy") + 6;
    };
    // A line under the first cell: the cell's white background cuts it.
    c.MoveTo(60, 60);
    c.LineTo(1660, 60);
    line("Arial", 25, 0,
         "Folioset sets text: Arial 25 pt, the quick brown fox jumps over 0123456789");
    line("Arial", 25, folio::fsBold, "Bold: Sphinx of black quartz, judge my vow.");
    line("Arial", 25, folio::fsItalic, "Italic: Pack my box with five dozen liquor jugs.");
    line("Arial", 25, folio::fsUnderline | folio::fsStrikeOut,
         "Underline and strike-out bands, gjpqy");
    line("Times New Roman", 25, 0,
         "Times New Roman 25 pt: Hamburgefonstiv & \x80 \xA9 \xE9\xE8\xFC");
    line("Courier New", 21, 0, "Courier New 21 pt: for (int i = 0; i < n; ++i) {}");
    line("Arial", 12, 0,
         "Arial 12 pt: small text still reads cleanly at fax resolution, 17 px cells.");
    line("Arial", 8, 0, "Arial 8 pt: the smallest size one would print on a fax page.");
    line("MS Sans Serif", 0, 0, "MS Sans Serif at the default size (fontconfig's substitute)");
    line("DejaVu Math TeX Gyre", 25, folio::fsBold | folio::fsItalic,
         "Synthesised bold italic (a family without those faces)");
    line("Arial", 25, 0, "\xC4\xEE\xE1\xF0\xFB\xE9 \xE4\xE5\xED\xFC (1251)",
         folio::RUSSIAN_CHARSET);
    line("Arial", 25, 0, "\xE1\xE3\xE4\xE5 \xCA\xE1\xEB\xE7\xEC\xDD\xF1\xE1 (1253)",
         folio::GREEK_CHARSET);
    c.CodePage = 65001;
    line("Arial", 25, 0,
         "UTF-8: \xC5\x81\xC3\xB3"
         "d\xC5\xBA, na\xC3\xAFve caf\xC3\xA9; bad \xFF byte");
    c.Font.Charset = folio::DEFAULT_CHARSET;
    c.BrushColor = folio::clBlack;
    line("Arial", 25, 0, "Black brush: the cell is black and the text vanishes");
    c.BrushColor = folio::clWhite;
    line("Arial", 100, 0, "Arial 100 Wg");
    if (!writePng(page, out)) {
        std::fprintf(stderr, "cannot write %s\n", out);
        return 1;
    }
    std::printf("%s\n", out);
    return 0;
}
