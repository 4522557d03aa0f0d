// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// fontconfig and FreeType behind the canvas fonts. One FT_Library serves the
// process; every FreeType call runs under one mutex (calls are rare: opening
// a face and loading a glyph on a cache miss), so faces can be shared by
// canvases on any thread. Lock order: the typeface cache or a typeface's own
// mutex first, then the FreeType mutex; never the other way round.
#include "FontLibrary.h"

#include "FontCache.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_BITMAP_H
#include FT_DRIVER_H
#include FT_MODULE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H
#include FT_TRUETYPE_TAGS_H
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <tuple>
#include <unordered_map>
#include <utility>

namespace folio {

namespace {

// Glyph bitmaps up to this size are kept; larger ones are rendered per use.
constexpr std::size_t kMaxCachedGlyphBytes = 64 * 1024;
// Bytes of glyph bitmaps one typeface keeps at most.
constexpr std::size_t kMaxCacheBytesPerFace = 8 * 1024 * 1024;
// Code points above 255 whose glyphs a typeface remembers.
constexpr std::size_t kMaxCodeEntries = 65536;
// Typefaces kept alive by the library when no canvas uses them.
constexpr std::size_t kMaxIdleTypefaces = 32;

std::mutex g_ftMutex;

FT_Library library() {
    // Called with g_ftMutex held.
    static FT_Library lib = [] {
        FT_Library l = nullptr;
        if (FT_Init_FreeType(&l) != 0)
            return FT_Library(nullptr);
        // The TrueType interpreter of the GDI-compatible hinting mode.
        FT_UInt version = TT_INTERPRETER_VERSION_40;
        FT_Property_Set(l, "truetype", "interpreter-version", &version);
        return l;
    }();
    return lib;
}

int floorDiv64(FT_Pos v) {
    return int(v >= 0 ? v / 64 : -((-v + 63) / 64));
}
int ceilDiv64(FT_Pos v) {
    return -floorDiv64(-v);
}

std::uint16_t be16(const std::uint8_t* p) {
    return std::uint16_t(p[0] << 8 | p[1]);
}

// A name that is not UTF-8 is taken as 1252 text (as a macro file gives it)
// and re-encoded, since fontconfig compares UTF-8.
std::string utf8Name(const std::string& name) {
    bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return (c & 0x80) == 0; });
    if (ascii)
        return name;
    int chars = 0, width = 0;
    if (FcUtf8Len(reinterpret_cast<const FcChar8*>(name.c_str()), int(name.size()), &chars, &width))
        return name;
    std::string out;
    for (unsigned char c : name) {
        if (c < 0x80) {
            out += char(c);
        } else {
            // Latin-1 is close enough for matching a family name.
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

} // namespace

bool VdmxLookup(const std::uint8_t* t, std::size_t size, int pixelSize, VdmxEntry& out) {
    if (!t || size < 6 || pixelSize == 0)
        return false;
    const std::size_t numRatios = be16(t + 4);
    const std::size_t ratiosEnd = 6 + numRatios * 4;
    if (ratiosEnd + numRatios * 2 > size)
        return false;
    // The display is 1:1; a 0:0:0 record matches any aspect.
    std::size_t group = 0;
    bool found = false;
    for (std::size_t i = 0; i < numRatios && !found; ++i) {
        const std::uint8_t* r = t + 6 + i * 4;
        const unsigned x = r[1], y0 = r[2], y1 = r[3];
        if ((x == 0 && y0 == 0 && y1 == 0) || (x == 1 && y0 <= 1 && y1 >= 1)) {
            group = be16(t + ratiosEnd + i * 2);
            found = true;
        }
    }
    if (!found || group + 4 > size)
        return false;
    const std::size_t recs = be16(t + group);
    const int startSize = t[group + 2], endSize = t[group + 3];
    if (group + 4 + recs * 6 > size)
        return false;
    auto entry = [&](std::size_t i) {
        const std::uint8_t* e = t + group + 4 + i * 6;
        return VdmxEntry{be16(e), std::int16_t(be16(e + 2)), std::int16_t(be16(e + 4))};
    };
    if (pixelSize > 0) {
        if (pixelSize < startSize || pixelSize > endSize)
            return false;
        for (std::size_t i = 0; i < recs; ++i) {
            if (entry(i).ppem == pixelSize) {
                out = entry(i);
                return true;
            }
        }
        return false;
    }
    const long long cell = -static_cast<long long>(pixelSize);
    for (std::size_t i = 0; i < recs; ++i) {
        const VdmxEntry e = entry(i);
        const long long h = static_cast<long long>(e.yMax) - e.yMin;
        if (h == cell) {
            out = e;
            return true;
        }
        if (h > cell) {
            if (i == 0)
                return false;
            out = entry(i - 1);
            return true;
        }
    }
    return false;
}

struct Typeface::Impl {
    std::string file;
    FT_Face face = nullptr;
    bool synthBold = false;
    bool synthItalic = false;
    FaceMetrics metrics;
    FT_CharMap unicodeMap = nullptr;
    FT_CharMap symbolMap = nullptr;

    // Everything below is guarded by `mutex`.
    std::mutex mutex;
    std::array<std::array<const Glyph*, 256>, 2> low{}; // [symbol][code]
    std::array<std::unordered_map<char32_t, const Glyph*>, 2> high;
    std::unordered_map<unsigned, std::unique_ptr<Glyph>> byIndex;
    std::size_t cachedBytes = 0;

    ~Impl() {
        if (face) {
            std::lock_guard lock(g_ftMutex);
            FT_Done_Face(face);
        }
    }

    // Loads glyph `index` as a hinted outline with the synthesised styles
    // applied, into face->glyph. g_ftMutex must be held.
    bool loadOutline(unsigned index) {
        if (!face || FT_Load_Glyph(face, index, FT_LOAD_TARGET_NORMAL | FT_LOAD_NO_BITMAP) != 0)
            return false;
        FT_GlyphSlot slot = face->glyph;
        if (slot->format != FT_GLYPH_FORMAT_OUTLINE)
            return false;
        if (synthItalic) {
            FT_Matrix shear{0x10000, 0x4000, 0, 0x10000}; // x += y / 4
            FT_Outline_Transform(&slot->outline, &shear);
        }
        if (synthBold)
            FT_Outline_Embolden(&slot->outline, FT_Pos(metrics.ppem) * 64 / 24);
        return true;
    }

    unsigned glyphIndex(char32_t code, bool symbol) {
        // g_ftMutex held.
        if (!face)
            return 0;
        if (symbol && symbolMap) {
            FT_Set_Charmap(face, symbolMap);
            // Symbol fonts place their byte codes at U+F000 + byte, some at the byte.
            unsigned gi = FT_Get_Char_Index(face, 0xF000 + code);
            if (!gi)
                gi = FT_Get_Char_Index(face, code);
            if (unicodeMap)
                FT_Set_Charmap(face, unicodeMap);
            return gi;
        }
        if (!unicodeMap)
            return 0;
        return FT_Get_Char_Index(face, code);
    }

    // Measures glyph `index` and, when it is small enough to keep, renders
    // it. Null when the glyph does not load. g_ftMutex held.
    std::unique_ptr<Glyph> makeGlyph(unsigned index) {
        auto g = std::make_unique<Glyph>();
        g->index = index;
        if (!face) {
            g->advance = metrics.ppem / 2;
            return g;
        }
        if (!loadOutline(index))
            return nullptr;
        FT_GlyphSlot slot = face->glyph;
        g->advance = int((slot->metrics.horiAdvance + 63) >> 6) + (synthBold ? 1 : 0);
        FT_BBox box;
        FT_Outline_Get_CBox(&slot->outline, &box);
        if (box.xMax <= box.xMin || box.yMax <= box.yMin)
            return g; // no ink (a space)
        g->left = floorDiv64(box.xMin);
        g->top = ceilDiv64(box.yMax);
        g->width = ceilDiv64(box.xMax) - g->left;
        g->rows = g->top - floorDiv64(box.yMin);
        g->pitch = (g->width + 7) / 8;
        const std::size_t bytes = std::size_t(g->pitch) * std::size_t(g->rows);
        g->cached = bytes <= kMaxCachedGlyphBytes && cachedBytes + bytes <= kMaxCacheBytesPerFace;
        if (!g->cached)
            return g;
        g->bits.assign(bytes, 0);
        FT_Outline_Translate(&slot->outline, -FT_Pos(g->left) * 64, -FT_Pos(g->top - g->rows) * 64);
        FT_Bitmap bm;
        FT_Bitmap_Init(&bm);
        bm.rows = unsigned(g->rows);
        bm.width = unsigned(g->width);
        bm.pitch = g->pitch;
        bm.buffer = g->bits.data();
        bm.num_grays = 2;
        bm.pixel_mode = FT_PIXEL_MODE_MONO;
        if (FT_Outline_Get_Bitmap(library(), &slot->outline, &bm) != 0)
            std::fill(g->bits.begin(), g->bits.end(), 0);
        if (g->width <= 32) {
            g->rowWords.resize(std::size_t(g->rows));
            for (int r = 0; r < g->rows; ++r) {
                std::uint32_t w = 0;
                for (int j = 0; j < g->pitch; ++j)
                    w |= std::uint32_t(g->bits[std::size_t(r) * g->pitch + j]) << (24 - 8 * j);
                g->rowWords[std::size_t(r)] = w;
            }
        }
        cachedBytes += bytes + 4 * g->rowWords.size();
        return g;
    }

    // The glyph for `index`, made on first use. Mutex held.
    const Glyph* glyphByIndex(unsigned index) {
        auto it = byIndex.find(index);
        if (it != byIndex.end())
            return it->second.get();
        std::unique_ptr<Glyph> g;
        {
            std::lock_guard ft(g_ftMutex);
            g = makeGlyph(index);
            // A glyph that does not load is drawn as the missing glyph.
            if (!g && index != 0)
                g = makeGlyph(0);
        }
        if (!g) {
            g = std::make_unique<Glyph>();
            g->index = index;
        }
        const Glyph* result = g.get();
        byIndex.emplace(index, std::move(g));
        return result;
    }

    const Glyph* glyphForCode(char32_t code, bool symbol) {
        const int table = symbol ? 1 : 0;
        if (code < 256 && low[table][code])
            return low[table][code];
        if (code >= 256) {
            auto it = high[table].find(code);
            if (it != high[table].end())
                return it->second;
        }
        unsigned index;
        {
            std::lock_guard ft(g_ftMutex);
            index = glyphIndex(code, symbol);
        }
        const Glyph* g = glyphByIndex(index);
        if (code < 256) {
            low[table][code] = g;
        } else {
            // Only a look-up table (the glyphs stay in byIndex): start it
            // afresh rather than let a text of every code point grow it.
            if (high[table].size() >= kMaxCodeEntries)
                high[table].clear();
            high[table].emplace(code, g);
        }
        return g;
    }
};

Typeface::Typeface(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Typeface::~Typeface() = default;
const FaceMetrics& Typeface::Metrics() const {
    return impl_->metrics;
}
const std::string& Typeface::File() const {
    return impl_->file;
}
bool Typeface::SyntheticBold() const {
    return impl_->synthBold;
}
bool Typeface::SyntheticItalic() const {
    return impl_->synthItalic;
}

void Typeface::Glyphs(const char32_t* codes, std::size_t n, bool symbol, const Glyph** out) {
    std::lock_guard lock(impl_->mutex);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = impl_->glyphForCode(codes[i], symbol);
}

void Typeface::RenderPart(const Glyph& g, std::int64_t penX, std::int64_t baseline, int clipWidth,
                          int clipHeight, Part& out) {
    out.width = out.rows = 0;
    if (g.width <= 0 || g.rows <= 0)
        return;
    // The glyph's ink box on the target, then the part of it on the target.
    const std::int64_t gx0 = penX + g.left, gy0 = baseline - g.top;
    const std::int64_t vx0 = std::max<std::int64_t>(0, gx0);
    const std::int64_t vy0 = std::max<std::int64_t>(0, gy0);
    const std::int64_t vx1 = std::min<std::int64_t>(clipWidth, gx0 + g.width);
    const std::int64_t vy1 = std::min<std::int64_t>(clipHeight, gy0 + g.rows);
    if (vx0 >= vx1 || vy0 >= vy1)
        return;
    const int vw = int(vx1 - vx0), vh = int(vy1 - vy0);
    const int pitch = (vw + 7) / 8;
    out.bits.assign(std::size_t(pitch) * std::size_t(vh), 0);
    std::lock_guard lock(impl_->mutex);
    std::lock_guard ft(g_ftMutex);
    if (!impl_->loadOutline(g.index))
        return;
    FT_Outline* outline = &impl_->face->glyph->outline;
    // Target column c lies at outline x in [c - penX, c - penX + 1); target
    // row r at outline y in [baseline - r - 1, baseline - r). Shift so that
    // the visible part lands at the bitmap's origin. Both shifts are at most
    // the glyph's size plus the target's, so 26.6 holds them.
    FT_Outline_Translate(outline, FT_Pos(penX - vx0) * 64, FT_Pos(vy1 - baseline) * 64);
    FT_Bitmap bm;
    FT_Bitmap_Init(&bm);
    bm.rows = unsigned(vh);
    bm.width = unsigned(vw);
    bm.pitch = pitch;
    bm.buffer = out.bits.data();
    bm.num_grays = 2;
    bm.pixel_mode = FT_PIXEL_MODE_MONO;
    if (FT_Outline_Get_Bitmap(library(), outline, &bm) != 0)
        return;
    out.x = int(vx0);
    out.y = int(vy0);
    out.width = vw;
    out.rows = vh;
    out.pitch = pitch;
}

namespace {

struct FaceSource {
    std::string file;
    int index = 0;
    bool bold = false;   // asked for
    bool italic = false; // asked for
};

// The files and folders fontconfig read: its configuration and the font
// folders it scanned (with their subfolders), for the lookup cache's fingerprint.
std::vector<std::string> fontconfigInputs() {
    std::vector<std::string> paths;
    for (FcStrList* list : {FcConfigGetConfigFiles(nullptr), FcConfigGetConfigDirs(nullptr),
                            FcConfigGetFontDirs(nullptr)}) {
        if (!list)
            continue;
        while (FcChar8* p = FcStrListNext(list))
            paths.emplace_back(reinterpret_cast<const char*>(p));
        FcStrListDone(list);
    }
    return paths;
}

// fontconfig's choice for a name, weight and slant, from the lookup cache
// when it holds it. Called under the cache mutex.
FaceSource findFace(const std::string& name, bool bold, bool italic) {
    FaceSource src;
    // fontconfig reports its own synthesis in the match; whether the face
    // really is bold or italic is read from the face itself when it opens.
    src.bold = bold;
    src.italic = italic;
    fontcache::FaceAnswer cached;
    if (fontcache::FindFace(name, bold, italic, cached)) {
        src.file = cached.file;
        src.index = cached.index;
        return src;
    }
    FcPattern* pat = FcPatternCreate();
    if (!pat)
        return src;
    const std::string family = utf8Name(name);
    if (!family.empty())
        FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcPatternAddInteger(pat, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pat, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool(pat, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(nullptr, pat, FcMatchPattern);
    FcDefaultSubstitute(pat);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pat, &result);
    FcPatternDestroy(pat);
    if (!match)
        return src;
    FcChar8* file = nullptr;
    if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file)
        src.file = reinterpret_cast<const char*>(file);
    FcPatternGetInteger(match, FC_INDEX, 0, &src.index);
    FcPatternDestroy(match);
    fontcache::AddFace(name, bold, italic, fontcache::FaceAnswer{src.file, src.index},
                       fontconfigInputs());
    return src;
}

// Opens and sizes the face and works out its GDI metrics.
std::unique_ptr<Typeface::Impl> openTypeface(const FaceSource& src, int pixelSize) {
    auto impl = std::make_unique<Typeface::Impl>();
    impl->file = src.file;
    FaceMetrics& m = impl->metrics;
    const long long request = std::clamp<long long>(pixelSize, -kMaxPixelSize, kMaxPixelSize);

    std::lock_guard ft(g_ftMutex);
    FT_Library lib = library();
    FT_Face face = nullptr;
    if (!lib || src.file.empty() || FT_New_Face(lib, src.file.c_str(), src.index, &face) != 0 ||
        !FT_IS_SCALABLE(face) || face->units_per_EM == 0) {
        if (face)
            FT_Done_Face(face);
        // No usable face: plausible metrics, no ink.
        const int em = int(std::max<long long>(1, request < 0 ? -request * 5 / 6 : request));
        m.ppem = em;
        m.ascent = em * 4 / 5;
        m.descent = em - m.ascent;
        m.underlineTop = std::max(1, m.descent / 2);
        m.strikeTop = -m.ascent / 3;
        return impl;
    }
    impl->face = face;
    for (int i = 0; i < face->num_charmaps; ++i) {
        if (face->charmaps[i]->encoding == FT_ENCODING_MS_SYMBOL)
            impl->symbolMap = face->charmaps[i];
    }
    if (FT_Select_Charmap(face, FT_ENCODING_UNICODE) == 0)
        impl->unicodeMap = face->charmap;

    const long long upem = face->units_per_EM;
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    const auto* post = static_cast<const TT_Postscript*>(FT_Get_Sfnt_Table(face, FT_SFNT_POST));
    // A family without the asked-for face: make it from the face found.
    const bool faceBold = (face->style_flags & FT_STYLE_FLAG_BOLD) ||
                          (os2 && os2->version != 0xFFFF && os2->usWeightClass >= 600);
    impl->synthBold = src.bold && !faceBold;
    impl->synthItalic = src.italic && !(face->style_flags & FT_STYLE_FLAG_ITALIC);
    long long winAscent, winDescent;
    if (os2 && os2->version != 0xFFFF && os2->usWinAscent + os2->usWinDescent > 0) {
        winAscent = os2->usWinAscent;
        // Some faces store the descent negated; it is a distance either way.
        winDescent = std::abs(static_cast<std::int16_t>(os2->usWinDescent));
    } else {
        winAscent = face->ascender;
        winDescent = std::abs(face->descender);
    }

    std::vector<std::uint8_t> vdmx;
    FT_ULong vdmxLength = 0;
    if (FT_Load_Sfnt_Table(face, TTAG_VDMX, 0, nullptr, &vdmxLength) == 0 && vdmxLength > 0 &&
        vdmxLength < (1u << 20)) {
        vdmx.resize(vdmxLength);
        if (FT_Load_Sfnt_Table(face, TTAG_VDMX, 0, vdmx.data(), &vdmxLength) != 0)
            vdmx.clear();
    }
    VdmxEntry vd;
    bool haveVdmx = !vdmx.empty() && VdmxLookup(vdmx.data(), vdmx.size(), int(request), vd);

    long long ppem;
    if (request > 0) {
        ppem = request;
    } else if (haveVdmx) {
        ppem = vd.ppem;
    } else {
        // The em whose cell (ascent + descent) is the asked-for height, rounded.
        const long long cell = winAscent + winDescent > 0 ? winAscent + winDescent : upem;
        ppem = (-request * upem + cell / 2) / cell;
    }
    ppem = std::clamp<long long>(ppem, 1, kMaxPixelSize);
    FT_Set_Pixel_Sizes(face, 0, FT_UInt(ppem));
    m.ppem = int(ppem);

    // Font units to pixels, 16.16.
    const FT_Long s = FT_MulDiv(FT_Long(ppem), 65536, FT_Long(upem));
    if (haveVdmx) {
        m.ascent = vd.yMax;
        m.descent = -vd.yMin;
    } else {
        m.ascent = int(FT_MulFix(FT_Long(winAscent), s));
        m.descent = int(FT_MulFix(FT_Long(winDescent), s));
    }

    // Bands are centred on their position; thickness at least one row.
    long long ulPos = post ? post->underlinePosition : -upem / 10;
    long long ulSize = post ? post->underlineThickness : upem / 20;
    long long soPos = os2 && os2->version != 0xFFFF ? os2->yStrikeoutPosition : upem * 3 / 10;
    long long soSize = os2 && os2->version != 0xFFFF ? os2->yStrikeoutSize : ulSize;
    m.underlineThickness = std::max(1, int(FT_MulFix(FT_Long(ulSize), s)));
    m.underlineTop = -int(FT_MulFix(FT_Long(ulPos), s)) - m.underlineThickness / 2;
    m.strikeThickness = std::max(1, int(FT_MulFix(FT_Long(soSize), s)));
    m.strikeTop = -int(FT_MulFix(FT_Long(soPos), s)) - m.strikeThickness / 2;
    return impl;
}

struct CacheKey {
    std::string name;
    int pixelSize;
    bool bold;
    bool italic;
    bool operator<(const CacheKey& o) const {
        return std::tie(name, pixelSize, bold, italic) <
               std::tie(o.name, o.pixelSize, o.bold, o.italic);
    }
};

struct Cache {
    std::mutex mutex;
    std::map<CacheKey, FaceSource> sources; // what fontconfig chose
    struct Entry {
        std::shared_ptr<Typeface> face;
        std::uint64_t lastUse = 0;
    };
    std::map<CacheKey, Entry> faces;
    std::uint64_t clock = 0;
};

Cache& cache() {
    static Cache* c = new Cache; // lives to the end of the process, past static destructors
    return *c;
}

} // namespace

FaceMatch MatchFace(const std::string& name) {
    FaceMatch out;
    std::lock_guard lock(cache().mutex);
    fontcache::MatchAnswer cached;
    if (fontcache::FindMatch(name, cached)) {
        out.kind = FaceMatch::Kind(cached.kind);
        out.family = cached.family;
        return out;
    }
    FcPattern* pat = FcPatternCreate();
    if (!pat)
        return out;
    const std::string family = utf8Name(name);
    FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcPatternAddBool(pat, FC_SCALABLE, FcTrue);
    FcConfigSubstitute(nullptr, pat, FcMatchPattern);
    FcDefaultSubstitute(pat);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pat, &result);
    out.kind = FaceMatch::Substitute;
    if (match) {
        FcChar8* f = nullptr;
        if (FcPatternGetString(match, FC_FAMILY, 0, &f) == FcResultMatch && f)
            out.family = reinterpret_cast<const char*>(f);
        // The face may carry the name among its family names.
        for (int i = 0; FcPatternGetString(match, FC_FAMILY, i, &f) == FcResultMatch; ++i)
            if (FcStrCmpIgnoreCase(f, reinterpret_cast<const FcChar8*>(family.c_str())) == 0)
                out.kind = FaceMatch::Exact;
        // The configuration adds the faces that stand in for a name with
        // its metrics (Arial: Liberation Sans) bound strongly to the name,
        // and fallbacks of every other kind weakly.
        if (out.kind != FaceMatch::Exact) {
            FcValue v;
            FcValueBinding binding;
            for (int i = 0;
                 FcPatternGetWithBinding(pat, FC_FAMILY, i, &v, &binding) == FcResultMatch; ++i) {
                if (v.type == FcTypeString && binding != FcValueBindingWeak &&
                    FcStrCmpIgnoreCase(v.u.s,
                                       reinterpret_cast<const FcChar8*>(out.family.c_str())) == 0) {
                    out.kind = FaceMatch::Alias;
                    break;
                }
            }
        }
        FcPatternDestroy(match);
        fontcache::AddMatch(name, fontcache::MatchAnswer{int(out.kind), out.family},
                            fontconfigInputs());
    }
    FcPatternDestroy(pat);
    return out;
}

void ForgetFontLookups() {
    Cache& c = cache();
    std::lock_guard lock(c.mutex);
    c.sources.clear();
    c.faces.clear();
    fontcache::Forget();
}

std::shared_ptr<Typeface> AcquireTypeface(const std::string& name, int pixelSize, bool bold,
                                          bool italic) {
    if (pixelSize == 0)
        pixelSize = 1;
    pixelSize = std::clamp(pixelSize, -kMaxPixelSize, kMaxPixelSize);
    Cache& c = cache();
    std::lock_guard lock(c.mutex);
    const CacheKey key{name, pixelSize, bold, italic};
    auto it = c.faces.find(key);
    if (it != c.faces.end()) {
        it->second.lastUse = ++c.clock;
        return it->second.face;
    }
    const CacheKey sourceKey{name, 0, bold, italic};
    auto src = c.sources.find(sourceKey);
    if (src == c.sources.end()) {
        if (c.sources.size() > 256)
            c.sources.clear();
        src = c.sources.emplace(sourceKey, findFace(name, bold, italic)).first;
    }
    auto face = std::make_shared<Typeface>(openTypeface(src->second, pixelSize));
    // Keep recently used typefaces; drop the least recently used that no
    // canvas holds once there are too many.
    if (c.faces.size() >= kMaxIdleTypefaces) {
        auto victim = c.faces.end();
        for (auto f = c.faces.begin(); f != c.faces.end(); ++f)
            if (victim == c.faces.end() || f->second.lastUse < victim->second.lastUse)
                victim = f;
        if (victim != c.faces.end())
            c.faces.erase(victim);
    }
    c.faces.emplace(key, Cache::Entry{face, ++c.clock});
    return face;
}

} // namespace folio

// fontconfig 2.14 loses a few hundred bytes while it parses its XML
// configuration, once a process. Programs built with the leak checker that
// use fonts would report it at exit; it is fontconfig's, so it is passed over.
#if defined(__SANITIZE_ADDRESS__)
#define FOLIO_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FOLIO_LEAK_CHECKED 1
#endif
#endif
#ifdef FOLIO_LEAK_CHECKED
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
#endif
