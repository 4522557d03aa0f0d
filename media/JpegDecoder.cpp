// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// JPEG pictures through libjpeg-turbo: grey, YCbCr, RGB and CMYK/YCCK (Adobe
// files store CMYK inverted). A picture drawn smaller than it is stored is
// decoded at the smallest n/8 DCT scale that is still at least its drawn
// size, row by row into the grey picture, so that a large photo costs a
// fraction of its full size. The EXIF orientation is applied afterwards
// (TurnUpright, shared with TIFF), and
// the resolution is the JFIF density, else the EXIF X/YResolution.
#include "PictureDecoders.h"

#include <cstdio>
// jpeglib.h needs size_t and FILE declared before it.
#include <jerror.h>
#include <jpeglib.h>

#include <chrono>
#include <csetjmp>
#include <cstring>

namespace folio {

namespace {

struct JpegErrors {
    jpeg_error_mgr mgr; // first: libjpeg hands back a pointer to it
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    // The first warning, for GreyImage::damage.
    char warning[JMSG_LENGTH_MAX];
    jpeg_progress_mgr progress;
    const PictureBudget* budget;
    // Why the progress monitor stopped the decoding, if it did.
    enum class Stop { None, Scans, Time } stop;
    // Every row is decoded; the rest of the file is being read.
    bool finishing;
};

[[noreturn]] void onError(j_common_ptr cinfo) {
    auto* e = reinterpret_cast<JpegErrors*>(cinfo->err);
    e->mgr.format_message(cinfo, e->message);
    std::longjmp(e->jump, 1);
}

// A file that ends early is decoded by libjpeg as grey to the end with a
// warning; here it is an error like any other damage that stops decoding,
// unless every row was read by then (only the end marker is missing).
// Other warnings are damage libjpeg decoded past (corrupt entropy-coded
// data, bad Huffman codes, scans out of order), drawn shifted or smeared:
// they are counted for a warning of the build. An unknown JFIF revision
// harms no pixel and is not counted.
void onMessage(j_common_ptr cinfo, int level) {
    if (level >= 0)
        return;
    auto* e = reinterpret_cast<JpegErrors*>(cinfo->err);
    if (e->mgr.msg_code == JWRN_JPEG_EOF && !e->finishing)
        onError(cinfo);
    if (e->mgr.msg_code == JWRN_JFIF_MAJOR || e->mgr.msg_code == JWRN_JPEG_EOF)
        return;
    if (e->mgr.num_warnings++ == 0)
        e->mgr.format_message(cinfo, e->warning);
}

// Called by libjpeg before each row of each scan it takes in and before each
// row it puts out. Nothing may be thrown through libjpeg: a stop jumps back
// like an error, with the reason in `stop`.
void onProgress(j_common_ptr cinfo) {
    auto* e = reinterpret_cast<JpegErrors*>(cinfo->err);
    const auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > kMaxJpegScans) {
        std::snprintf(e->message, sizeof e->message,
                      "the file has more than %d scans, the most a picture may have",
                      kMaxJpegScans);
        e->stop = JpegErrors::Stop::Scans;
        std::longjmp(e->jump, 1);
    }
    if (std::chrono::steady_clock::now() > e->budget->deadline) {
        e->stop = JpegErrors::Stop::Time;
        std::longjmp(e->jump, 1);
    }
}

// What the EXIF block says, as far as it is read.
struct Exif {
    int orientation = 1;
    double dpiX = 0, dpiY = 0;
};

// Reads IFD0 of an APP1 "Exif" block: orientation (0x0112), X/YResolution
// (0x011A/0x011B) and ResolutionUnit (0x0128). Every offset is checked
// against the block; anything unreadable is left at its default.
Exif readExif(const std::uint8_t* p, std::size_t n) {
    Exif exif;
    if (n < 14 || std::memcmp(p, "Exif\0\0", 6) != 0)
        return exif;
    p += 6;
    n -= 6;
    const bool little = p[0] == 'I' && p[1] == 'I';
    if (!little && !(p[0] == 'M' && p[1] == 'M'))
        return exif;
    auto u16 = [&](std::size_t at) -> unsigned {
        return at + 2 > n ? 0 : little ? p[at] | p[at + 1] << 8 : p[at] << 8 | p[at + 1];
    };
    auto u32 = [&](std::size_t at) -> std::uint32_t {
        return at + 4 > n
                   ? 0
                   : std::uint32_t(u16(little ? at + 2 : at)) << 16 | u16(little ? at : at + 2);
    };
    auto rational = [&](std::size_t at) -> double {
        const std::uint32_t num = u32(at), den = u32(at + 4);
        return den ? double(num) / den : 0;
    };
    const std::size_t ifd = u32(4);
    if (ifd < 8 || ifd + 2 > n)
        return exif;
    const unsigned entries = u16(ifd);
    double x = 0, y = 0;
    unsigned unit = 2; // inches unless stated otherwise
    for (unsigned i = 0; i < entries && ifd + 2 + (i + 1) * 12 <= n; ++i) {
        const std::size_t e = ifd + 2 + std::size_t(i) * 12;
        const unsigned tag = u16(e), type = u16(e + 2);
        if (tag == 0x0112 && type == 3)
            exif.orientation = int(u16(e + 8));
        else if (tag == 0x0128 && type == 3)
            unit = u16(e + 8);
        else if ((tag == 0x011A || tag == 0x011B) && type == 5)
            (tag == 0x011A ? x : y) = rational(u32(e + 8));
    }
    if (exif.orientation < 1 || exif.orientation > 8)
        exif.orientation = 1;
    const double perInch = unit == 2 ? 1.0 : unit == 3 ? 2.54 : 0;
    exif.dpiX = UsableDpi(x * perInch);
    exif.dpiY = UsableDpi(y * perInch);
    return exif;
}

// libjpeg reports errors by a jump back here: only trivially destructible
// locals live in this function, and the objects it fills belong to the
// caller. Returns false after such a jump.
bool decode(jpeg_decompress_struct* cinfo, const std::uint8_t* data, std::size_t size,
            GreyImage* out, std::vector<std::uint8_t>* row, int* orientation) {
    auto* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
    if (setjmp(errors->jump))
        return false;
    jpeg_create_decompress(cinfo);
    cinfo->progress = &errors->progress; // after create, which clears it
    // Progressive files keep every coefficient of the picture in memory
    // (about 6 bytes a pixel); more than this is refused, never swapped.
    cinfo->mem->max_memory_to_use = 512L << 20;
    jpeg_mem_src(cinfo, data, static_cast<unsigned long>(size));
    jpeg_save_markers(cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_read_header(cinfo, TRUE);
    const std::int64_t w = cinfo->image_width, h = cinfo->image_height;
    if (w <= 0 || h <= 0)
        CheckPictureSize(w, h, *errors->budget);
    Exif exif;
    for (jpeg_saved_marker_ptr m = cinfo->marker_list; m; m = m->next)
        if (m->marker == JPEG_APP0 + 1) {
            exif = readExif(m->data, m->data_length);
            break;
        }
    *orientation = exif.orientation;
    const bool swap = OrientationSwapsSides(exif.orientation);
    // As stored: TurnUpright turns the sides and resolutions with the pixels.
    out->storedWidth = int(w);
    out->storedHeight = int(h);
    const double perInch = cinfo->density_unit == 1 ? 1.0 : cinfo->density_unit == 2 ? 2.54 : 0;
    out->dpiX = UsableDpi(cinfo->X_density * perInch);
    out->dpiY = UsableDpi(cinfo->Y_density * perInch);
    if (out->dpiX == 0 || out->dpiY == 0) {
        out->dpiX = exif.dpiX;
        out->dpiY = exif.dpiY;
    }
    if (out->dpiX == 0 || out->dpiY == 0)
        out->dpiX = out->dpiY = 0;

    // The smallest n/8 scale that keeps the decoded picture at least as
    // large as the drawn one (the upright picture on the page grid), in
    // stored orientation.
    const DrawnSize drawn =
        SizedAs(swap ? DrawnSizeOf(int(h), int(w), out->dpiY, out->dpiX)
                     : DrawnSizeOf(int(w), int(h), out->dpiX, out->dpiY),
                errors->budget->wantWidth, errors->budget->wantHeight);
    const std::int64_t needW = swap ? drawn.height : drawn.width;
    const std::int64_t needH = swap ? drawn.width : drawn.height;
    unsigned scale = 1;
    while (scale < 8 && ((w * scale + 7) / 8 < needW || (h * scale + 7) / 8 < needH))
        ++scale;
    cinfo->scale_num = scale;
    cinfo->scale_denom = 8;
    // The limits count the pixels decoded: a picture over them as stored
    // that is drawn at a fraction of its size is decoded at that fraction.
    const std::int64_t decodedW = (w * scale + 7) / 8, decodedH = (h * scale + 7) / 8;
    if (scale < 8 && std::uint64_t(decodedW) * std::uint64_t(decodedH) > kMaxPicturePixels)
        throw PictureError(std::to_string(w) + " x " + std::to_string(h) +
                           " pixels is more than the 64 million a picture may have, even "
                           "decoded at " + std::to_string(scale) + "/8 of its size for the size "
                           "it is drawn at");
    CheckPictureSize(scale == 8 ? w : decodedW, scale == 8 ? h : decodedH, *errors->budget);
    // Huffman-coded data takes at least 2 bits per 8 x 8 block of the first
    // component in a sequential file (a DC code and an end of block, each at
    // least one bit), and at least 1 bit in a progressive one (its first DC
    // scan; an AC scan may pass over 32767 blocks in one end-of-band run). A
    // header asking for more blocks lies. Arithmetic coding has no such
    // bound.
    const std::uint64_t blocks = std::uint64_t((w + 7) / 8) * std::uint64_t((h + 7) / 8);
    if (!cinfo->arith_code && blocks / (cinfo->progressive_mode ? 8 : 4) > size)
        throw PictureError("the header's " + std::to_string(w) + " x " + std::to_string(h) +
                           " pixels cannot be in a file of " + std::to_string(size) + " bytes");


    const bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
    // Grey out of YCbCr is the stored Y, out of RGB libjpeg's Rec. 601
    // weights: both GreyOfColour's rule, without a pass over colour rows.
    cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_GRAYSCALE;
    jpeg_start_decompress(cinfo);
    const unsigned ow = cinfo->output_width, oh = cinfo->output_height;
    if (ow == 0 || oh == 0 || std::uint64_t(ow) * oh > kMaxPicturePixels)
        throw PictureError("libjpeg gave an unexpected size");
    out->width = int(ow);
    out->height = int(oh);
    out->pixels.assign(std::size_t(ow) * oh, 255);
    row->assign(cmyk ? std::size_t(ow) * 4 : 0, 0);
    // Adobe writes CMYK inverted (0 is full ink); others store ink amounts.
    const bool inverted = cinfo->saw_Adobe_marker;
    while (cinfo->output_scanline < oh) {
        std::uint8_t* dst = out->Row(int(cinfo->output_scanline));
        JSAMPROW target = cmyk ? row->data() : dst;
        if (jpeg_read_scanlines(cinfo, &target, 1) != 1)
            throw PictureError("libjpeg stopped before the last row");
        if (!cmyk)
            continue;
        const std::uint8_t* s = row->data();
        for (unsigned x = 0; x < ow; ++x, s += 4) {
            unsigned c = s[0], m = s[1], y = s[2], k = s[3];
            if (!inverted) {
                c = 255 - c;
                m = 255 - m;
                y = 255 - y;
                k = 255 - k;
            }
            // Paper lets through what neither the colour ink nor black takes.
            dst[x] = GreyOfColour(c * k / 255, m * k / 255, y * k / 255);
        }
    }
    // The file is read on to its end marker, which finds data left over in
    // the last scan (damage libjpeg reports as extraneous bytes). Every row
    // is in the picture by now: an error here is damage, not a refusal, and
    // a file that ends without its end marker lacks no pixel.
    errors->finishing = true;
    if (setjmp(errors->jump)) {
        if (errors->mgr.num_warnings++ == 0)
            std::memcpy(errors->warning, errors->message, sizeof errors->warning);
        return true;
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

} // namespace

GreyImage DecodeJpeg(const std::uint8_t* data, std::size_t size, const PictureBudget& budget) {
    if (!data || size < 4 || data[0] != 0xFF || data[1] != 0xD8)
        throw PictureError("the file is not a JPEG file");
    jpeg_decompress_struct cinfo{};
    JpegErrors errors{};
    cinfo.err = jpeg_std_error(&errors.mgr);
    errors.mgr.error_exit = onError;
    errors.mgr.emit_message = onMessage;
    errors.progress.progress_monitor = onProgress;
    errors.budget = &budget;
    struct Release {
        jpeg_decompress_struct* cinfo;
        ~Release() { jpeg_destroy_decompress(cinfo); }
    } release{&cinfo};
    GreyImage out;
    std::vector<std::uint8_t> row;
    int orientation = 1;
    if (!decode(&cinfo, data, size, &out, &row, &orientation)) {
        if (errors.stop == JpegErrors::Stop::Time)
            PictureOutOfTime();
        throw PictureError(errors.message);
    }
    out.damageCount = int(errors.mgr.num_warnings);
    if (out.damageCount > 0)
        out.damage = errors.warning;
    return TurnUpright(std::move(out), orientation);
}

} // namespace folio
