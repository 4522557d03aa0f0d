// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Text layout of the library variant: lines are set word by word between the
// margins or inside the text box, stepping through characters in CodePage.
// A word is never broken: one wider than the region is set from its left
// edge and runs past the right edge. Fit tests are strict (X + w < right).
#include "FaxImage.h"

#if !FOLIO_PROGRAM_VARIANT

#include "CodePage.h"
#include "Diagnostics.h"
#include "SafeMath.h"
#include "StyleEscape.h"

#include <cstdint>
#include <cstring>
#include <string_view>

namespace {

bool isWhite(char c) {
    return c == ' ' || (c >= 9 && c <= 13);
}

// No strike-out escape in this variant: \S and \s are drawn as they stand.
bool isStyleLetter(char c) {
    return folio::StyleOfEscape(c, false) != 0;
}

// Longest word ExtractWord builds, in bytes. Characters are added while the
// word is shorter, so the last one may end up to 4 bytes (a UTF-8 sequence)
// past it.
constexpr int kMaxWord = 100;
constexpr int kWordBuffer = kMaxWord + 8;

} // namespace

namespace {

// Copies to `out` the characters that the word at `p` draws up to its end or
// its next style escape, and moves `p` there: a doubled backslash draws one
// backslash, and a backslash before anything but a style letter is a
// character by itself. Stops early, at a character boundary, when `out`
// (`room` bytes) is full. Returns the number of bytes written.
std::size_t drawnCharacters(std::uint16_t codePage, const char*& p, char* out, std::size_t room) {
    std::size_t n = 0;
    while (*p && n + 4 <= room) { // a character has at most 4 bytes
        if (*p != '\\') {
            const char* next = folio::CharNextExA(codePage, p, 0);
            while (p < next)
                out[n++] = *p++;
            continue;
        }
        const char e = p[1];
        if (isStyleLetter(e))
            break;
        out[n++] = '\\';
        p += e == '\\' ? 2 : 1; // after a lone backslash the next character stands as it is
    }
    return n;
}

// Whether `p` is at a style escape (drawnCharacters stopped there).
bool atStyleEscape(const char* p) {
    return p[0] == '\\' && isStyleLetter(p[1]);
}

} // namespace

void FaxImage::ExtractWord(const char* line, int* pos, char* word, int maxlen, int* width) {
    int n = 0;
    while (line[*pos] && !isWhite(line[*pos]) && n < maxlen) {
        const char* p = line + *pos;
        if (p[0] == '\\' && (p[1] == '\\' || isStyleLetter(p[1]))) {
            word[n++] = p[0];
            word[n++] = p[1];
            *pos += 2;
        } else {
            int len = int(folio::CharNextExA(CodePage, p, 0) - p);
            std::memcpy(word + n, p, std::size_t(len));
            n += len;
            *pos += len;
        }
    }
    word[n] = '\0';
    // The width of the characters the word draws, all in the current font:
    // style escapes add nothing.
    folio::Canvas& canvas = Image->Canvas();
    char drawn[kWordBuffer];
    int w = 0;
    for (const char* p = word; *p;) {
        const std::size_t k = drawnCharacters(CodePage, p, drawn, sizeof drawn);
        w = folio::SatAdd(w, canvas.TextWidthCharacters(std::string_view(drawn, k), CodePage));
        if (atStyleEscape(p))
            p += 2;
    }
    *width = w;
}

void FaxImage::PrintWord(const char* word) {
    const int x0 = X;
    Image->Canvas().Tally = diag_ ? &diag_->Tally : nullptr;
    char drawn[kWordBuffer];
    for (const char* p = word; *p;) {
        const std::size_t k = drawnCharacters(CodePage, p, drawn, sizeof drawn);
        X = Image->Canvas().TextOutCharacters(X, Y, std::string_view(drawn, k), CodePage);
        if (atStyleEscape(p)) {
            FontStyle = folio::ApplyStyleEscape(FontStyle, p[1], false);
            ApplyStyle();
            p += 2;
        }
    }
    if (diag_)
        diag_->CheckTextOnPage(sourceLine_, word, x0, X, Y, Width, Height);
}

void FaxImage::PrintLine(const char* line) {
    if (!line)
        return;
    folio::Canvas& canvas = Image->Canvas();
    const std::int64_t lh = canvas.TextHeight("Yy");
    const std::int64_t sw = canvas.TextWidth(" ");
    if (diag_)
        diag_->LineHeight = lh;
    const bool inBox = TextMode == TextModes::TextBox;
    // The region; 64-bit so that no sum below can overflow.
    const int left = inBox ? TextBox.Left : Left;
    const std::int64_t right = inBox ? TextBox.Right : Right;
    const std::int64_t bottom = inBox ? TextBox.Bottom : Bottom;
    auto lineFits = [&] { return Y + lh < bottom; };
    auto newLine = [&] {
        Y = folio::Saturate(Y + lh);
        X = left;
    };

    X = left;
    if (!inBox && std::int64_t(Bottom) - Top <= lh) {
        if (diag_)
            diag_->TextDropped(sourceLine_, line, "no room for a line between the margins");
        return;
    }

    if (diag_)
        checkTextSize(line);
    // A word drawn in a text box, checked against the box's right edge: a
    // word wider than the box is drawn from its left edge and runs past it.
    auto printWord = [&](const char* w) {
        const int x0 = X;
        PrintWord(w);
        if (diag_ && inBox)
            diag_->CheckTextInBox(sourceLine_, w, x0, X, right);
    };

    char word[kWordBuffer];
    int pos = 0;
    while (line[pos]) {
        if (isWhite(line[pos])) {
            if (lineFits() && X + sw < right)
                PrintWord(" ");
            ++pos;
            continue;
        }
        if (!lineFits()) {
            if (inBox) {
                if (diag_)
                    diag_->TextDropped(sourceLine_, line + pos, "text box full");
                break;
            }
            NextPage(true);
        }
        const int start = pos;
        int w = 0;
        ExtractWord(line, &pos, word, kMaxWord, &w);
        if (X + std::int64_t(w) < right || X == left) {
            printWord(word);
            continue;
        }
        newLine();
        if (lineFits()) {
            printWord(word);
        } else if (inBox) {
            if (diag_)
                diag_->TextDropped(sourceLine_, line + start, "text box full");
            break;
        } else {
            NextPage(true);
            printWord(word);
        }
    }
    Y = folio::Saturate(Y + lh);
}

void FaxImage::RTrim(char* s) {
    if (!s)
        return;
    // Walk forward over whole characters (lead bytes of the system's ANSI
    // code page start two-byte characters) and remember where the last
    // character that is not whitespace ends.
    char* end = s;
    for (char* p = s; *p;) {
        char* next;
        if (folio::IsDBCSLeadByte(std::uint8_t(*p)) && p[1])
            next = p + 2;
        else
            next = p + 1;
        if (!isWhite(*p))
            end = const_cast<char*>(folio::CharNextExA(CodePage, p, 0));
        p = next;
    }
    *end = '\0';
}

#endif
