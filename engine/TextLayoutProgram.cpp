// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Text layout of the desktop program: four text modes (lines, paragraphs
// that flow across input lines, a text box, up to four columns), one byte a
// character, words wider than the region cut into pieces, and fit tests
// that allow a word to end exactly at the right edge (X + w <= right).
#include "FaxImage.h"

#if FOLIO_PROGRAM_VARIANT

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

bool isEscapeLetter(char c) {
    return c == '\\' || folio::StyleOfEscape(c, true) != 0;
}

// Words are cut below this many bytes: at most 99 and the terminator.
constexpr int kMaxWord = 100;

} // namespace

void FaxImage::NextToken(const char* line, int* pos, char* token, int* length, int* width) {
    folio::Canvas& canvas = Image->Canvas();
    const char* p = line + *pos;
    if (p[0] == '\\' && p[1] && isEscapeLetter(p[1])) {
        token[0] = p[0];
        token[1] = p[1];
        token[2] = '\0';
        *length = 2;
        *width = p[1] == '\\' ? canvas.TextWidth("\\") : 0;
        *pos += 2;
        return;
    }
    token[0] = p[0];
    token[1] = '\0';
    *length = 1;
    *width = canvas.TextWidth(isWhite(p[0]) ? std::string_view(" ") : std::string_view(p, 1));
    *pos += 1;
}

void FaxImage::ExtractWord(const char* line, int* pos, int avail, char* word, int maxlen,
                           int* width) {
    int n = 0;
    std::int64_t w = 0;
    word[0] = '\0';
    int scratch = *pos;
    char token[3];
    int tl = 0, tw = 0;
    NextToken(line, &scratch, token, &tl, &tw);
    if (isWhite(token[0])) {
        // A whitespace character is always a word of its own.
        if (tl < maxlen) {
            std::memcpy(word, token, std::size_t(tl) + 1);
            n = tl;
            w = tw;
            *pos = scratch;
        }
        *width = int(w);
        return;
    }
    for (;;) {
        if (n + tl >= maxlen)
            break;
        if (n > 0 && w + tw > avail)
            break;
        std::memcpy(word + n, token, std::size_t(tl) + 1);
        n += tl;
        w += tw;
        *pos = scratch;
        if (line[*pos] == '\0')
            break;
        NextToken(line, &scratch, token, &tl, &tw);
        if (isWhite(token[0]))
            break;
    }
    *width = folio::Saturate(w);
}

void FaxImage::ExtractSpace(const char* line, int* pos, char* word, int maxlen, int* width) {
    word[0] = '\0';
    *width = 0;
    int scratch = *pos;
    char token[3];
    int tl = 0, tw = 0;
    NextToken(line, &scratch, token, &tl, &tw);
    if (isWhite(token[0]) && tl < maxlen) {
        std::memcpy(word, token, std::size_t(tl) + 1);
        *width = tw;
        *pos = scratch;
    }
}

void FaxImage::PrintWord(const char* word) {
    const int x0 = X;
    Image->Canvas().Tally = diag_ ? &diag_->Tally : nullptr;
    auto draw = [this](const char* p) {
        folio::Canvas& canvas = Image->Canvas();
        // Whitespace (a tab above all) is set as a space: the fonts have
        // no glyph for it and would draw their empty box.
        std::string_view ch = isWhite(*p) ? std::string_view(" ") : std::string_view(p, 1);
        canvas.TextOut(X, Y, ch);
        X = folio::SatAdd(X, canvas.TextWidth(ch));
    };
    const char* p = word;
    while (*p) {
        if (*p != '\\') {
            draw(p++);
            continue;
        }
        const char e = p[1];
        if (folio::StyleOfEscape(e, true)) {
            FontStyle = folio::ApplyStyleEscape(FontStyle, e, true);
            ApplyStyle();
            p += 2;
            continue;
        }
        if (e == '\0') {
            draw(p);
            return;
        }
        // A backslash pair draws one backslash; any other letter is drawn
        // after the backslash.
        draw(p);
        if (e != '\\')
            draw(p + 1);
        p += 2;
    }
    if (diag_)
        diag_->CheckTextOnPage(sourceLine_, word, x0, X, Y, Width, Height);
}

void FaxImage::AdvanceColumn() {
    ++ColumnIndex;
    if (ColumnIndex < ColumnCount) {
        X = ColumnX[ColumnIndex];
        Y = ColumnTop;
        return;
    }
    NextPage(true);
    ColumnIndex = 0;
    ColumnTop = Y;
    X = ColumnX[0];
}

void FaxImage::PrintLine(const char* line) {
    if (!line)
        return;
    const std::int64_t lh = Image->Canvas().TextHeight("Yy");
    const std::int64_t sw = Image->Canvas().TextWidth(" ");
    if (diag_) {
        diag_->LineHeight = lh;
        checkTextSize(line);
    }
    char word[kMaxWord + 2];
    int pos = 0;
    int w = 0;
    auto lineFits = [&](std::int64_t bottom) { return Y + lh <= bottom; };

    switch (TextMode) {
    case TextModes::Text:
    case TextModes::Paragraph: {
        const bool paragraph = TextMode == TextModes::Paragraph;
        auto newLine = [&] {
            Y = folio::Saturate(Y + lh);
            X = Left;
        };
        if (std::int64_t(Bottom) - Top < lh) {
            if (diag_)
                diag_->TextDropped(sourceLine_, line, "no room for a line between the margins");
            return;
        }
        if (X != Left) {
            if (paragraph)
                PrintWord(" ");
            else
                newLine();
        }
        while (line[pos]) {
            const int before = pos;
            ExtractWord(line, &pos, folio::SatSub(Right, Left), word, kMaxWord, &w);
            if (pos == before)
                break;
            if (isWhite(word[0])) {
                if (X + sw <= Right)
                    PrintWord(word);
            } else if (!lineFits(Bottom)) {
                NextPage(true);
                PrintWord(word);
            } else if (X + std::int64_t(w) <= Right) {
                PrintWord(word);
            } else {
                newLine();
                if (!lineFits(Bottom))
                    NextPage(true);
                PrintWord(word);
            }
        }
        if (!paragraph || line[0] == '\0')
            newLine();
        break;
    }
    case TextModes::TextBox: {
        const TextBoxRect box = TextBox;
        X = box.Left;
        // A character wider than the box is drawn from its left edge and
        // runs past it.
        auto printWord = [&](const char* w) {
            const int x0 = X;
            PrintWord(w);
            if (diag_)
                diag_->CheckTextInBox(sourceLine_, w, x0, X, box.Right);
        };
        int dropped = -1; // where the text that found no room starts
        while (line[pos] && lineFits(box.Bottom)) {
            const int before = pos;
            ExtractWord(line, &pos, folio::SatSub(box.Right, box.Left), word, kMaxWord, &w);
            if (pos == before)
                break;
            if (isWhite(word[0])) {
                if (X + sw <= box.Right)
                    PrintWord(word);
            } else if (X + std::int64_t(w) <= box.Right) {
                printWord(word);
            } else {
                Y = folio::Saturate(Y + lh);
                X = box.Left;
                if (lineFits(box.Bottom))
                    printWord(word);
                else
                    dropped = before;
            }
        }
        if (diag_)
            diag_->TextDropped(sourceLine_, line + (dropped >= 0 ? dropped : pos), "text box full");
        Y = folio::Saturate(Y + lh);
        X = box.Left;
        break;
    }
    case TextModes::Columns: {
        if (std::int64_t(Bottom) - Top < lh) {
            if (diag_)
                diag_->TextDropped(sourceLine_, line, "no room for a line between the margins");
            return;
        }
        if (X != ColumnX[ColumnIndex])
            PrintWord(" ");
        while (line[pos]) {
            ExtractSpace(line, &pos, word, kMaxWord, &w);
            if (word[0]) {
                if (X + sw <= ColumnRight[ColumnIndex])
                    PrintWord(word);
                continue;
            }
            if (!lineFits(Bottom))
                AdvanceColumn();
            const int before = pos;
            ExtractWord(line, &pos, folio::SatSub(ColumnRight[ColumnIndex], ColumnX[ColumnIndex]),
                        word, kMaxWord, &w);
            if (pos == before)
                break;
            if (X + std::int64_t(w) <= ColumnRight[ColumnIndex]) {
                PrintWord(word);
            } else {
                Y = folio::Saturate(Y + lh);
                X = ColumnX[ColumnIndex];
                if (!lineFits(Bottom))
                    AdvanceColumn();
                PrintWord(word);
            }
        }
        if (line[0] == '\0') {
            Y = folio::Saturate(Y + lh);
            X = ColumnX[ColumnIndex];
        }
        break;
    }
    }
}

void FaxImage::RTrim(char* s) {
    if (!s)
        return;
    std::size_t n = std::strlen(s);
    while (n > 0 && isWhite(s[n - 1]))
        --n;
    s[n] = '\0';
}

#endif
