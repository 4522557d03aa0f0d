// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// Typefaces for the canvas: fontconfig finds the face file for a name, weight
// and slant; FreeType sizes it and renders hinted monochrome glyphs. A
// Typeface is one face at one pixel size with its synthesised styles; it
// keeps the GDI metrics (ascent and descent from the OS/2 table, underline
// and strike-out bands) and a cache of rendered glyphs, so that after a
// character's first use setting it costs a look-up and a blit. Typefaces are
// shared between canvases and threads; every member is safe to call
// concurrently. No FreeType type appears here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace folio {

// The largest em FreeType can size a face to, in pixels. Larger requests are
// set at this size; it already exceeds the largest side a bitmap may have.
inline constexpr int kMaxPixelSize = 65535;

// Pixel metrics of a sized face. Offsets run down the page from the
// baseline (negative = above it).
struct FaceMetrics {
    int ppem = 0;
    int ascent = 0;
    int descent = 0;
    int underlineTop = 0;
    int underlineThickness = 1;
    int strikeTop = 0;
    int strikeThickness = 1;
};

// One glyph as it is set: the ink box relative to the pen on the baseline
// (left, top = rows above the baseline) and, when the glyph is small enough
// to keep, its bits (1 bit a pixel, the leftmost pixel in the most
// significant bit, rows top-down, `pitch` bytes a row, padding bits clear).
struct Glyph {
    unsigned index = 0;
    int advance = 0;
    int left = 0;
    int top = 0;
    int width = 0;
    int rows = 0;
    int pitch = 0;
    // False for a glyph too large to keep: it is rendered at each use,
    // clipped to the target (Typeface::RenderPart).
    bool cached = true;
    std::vector<std::uint8_t> bits;
    // For a cached glyph at most 32 pixels wide, each row again as one
    // number with the leftmost pixel in bit 31, so that a row is set on a
    // page with one shift and at most two word operations; else empty.
    std::vector<std::uint32_t> rowWords;
};

class Typeface {
  public:
    struct Impl;
    explicit Typeface(std::unique_ptr<Impl> impl);
    ~Typeface();
    Typeface(const Typeface&) = delete;
    Typeface& operator=(const Typeface&) = delete;

    const FaceMetrics& Metrics() const;
    // The face's file and whether bold or italic is synthesised (diagnostics, tests).
    const std::string& File() const;
    bool SyntheticBold() const;
    bool SyntheticItalic() const;

    // The glyphs of `n` characters, loaded on first use. `symbol`: the codes
    // are a symbol font's byte codes rather than Unicode. A character the
    // face lacks gives the face's missing glyph. The pointers stay valid as
    // long as this Typeface lives.
    void Glyphs(const char32_t* codes, std::size_t n, bool symbol, const Glyph** out);

    // Renders the part of a glyph whose bits are not cached that falls on a
    // clipWidth x clipHeight target when its pen is at (penX, baseline) there.
    // The part's top-left corner on the target is (x, y); its bits are laid
    // out as a Glyph's. Empty when nothing of the glyph falls on the target,
    // so the work is bounded by the target's size, whatever the glyph's.
    struct Part {
        int x = 0;
        int y = 0;
        int width = 0;
        int rows = 0;
        int pitch = 0;
        std::vector<std::uint8_t> bits;
    };
    void RenderPart(const Glyph& glyph, std::int64_t penX, std::int64_t baseline, int clipWidth,
                    int clipHeight, Part& out);

  private:
    std::unique_ptr<Impl> impl_;
};

// The typeface for a face name, a pixel size (> 0: the em in pixels; < 0:
// the cell height, ascent + descent, in pixels; clamped to kMaxPixelSize)
// and a weight and slant. A name the machine lacks gets fontconfig's
// substitute. Never fails: without any usable face the typeface has metrics
// but draws nothing.
std::shared_ptr<Typeface> AcquireTypeface(const std::string& name, int pixelSize, bool bold,
                                          bool italic);

// How fontconfig serves a face name: the family of the face it picks, and
// whether that is the name itself (Exact), a face configured to stand in
// for it with the same metrics (Alias: Arial is served by Liberation Sans)
// or a fallback of another kind (Substitute).
struct FaceMatch {
    enum Kind { Exact, Alias, Substitute };
    Kind kind = Exact;
    std::string family;
};
FaceMatch MatchFace(const std::string& name);

// Forgets the faces found so far and what was read of the font lookup cache
// file (FontCache.h), so that later look-ups go to the file and fontconfig
// afresh: after the environment naming the file changed.
void ForgetFontLookups();

// One entry of a face's VDMX table: the em `ppem` and the ascent (yMax) and
// descent (-yMin) that the face's designer fixed for it.
struct VdmxEntry {
    int ppem = 0;
    int yMax = 0;
    int yMin = 0;
};

// Looks `pixelSize` (as for AcquireTypeface) up in the raw bytes of a VDMX
// table, for the 1:1 aspect ratio of the display. An em matches only its own
// entry; a cell height takes the entry of that height, else the largest
// entry below it. False when the table has no fitting entry or is malformed.
bool VdmxLookup(const std::uint8_t* table, std::size_t size, int pixelSize, VdmxEntry& out);

} // namespace folio
