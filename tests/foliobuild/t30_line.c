// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// A fax call over a simulated telephone line, for foliobuild's fax files:
// two spandsp fax engines, one calling and sending a TIFF, one answering and
// receiving it into another, trade 8 kHz audio samples until both T.30 sides
// have hung up; and a page-by-page comparison of two fax TIFFs (width,
// length, vertical resolution and decoded pixels, whatever their coding).
//
//   t30_line send [--ecm] [--line 1d|2d|t6] [-v] SENT.tif RECEIVED.tif
//   t30_line compare [--lpi N] SENT.tif RECEIVED.tif
// (--lpi: every page of both files must also be at N lines per inch).
//
// Exit status: 0 when the call ended with T.30 completion code OK on both
// sides (send) or the files hold the same pages (compare), 1 otherwise,
// 2 for a wrong command line.
#include <spandsp.h>
#include <tiffio.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// 20 ms of audio at 8,000 samples a second.
enum { BLOCK = 160 };
// The hard cap on the call: 100,000 blocks are 2,000 s (33 minutes) of line
// time, far beyond two Legal pages at the slowest modem (V.27ter, 2,400
// bit/s), so a call that never ends is cut off instead of hanging the test.
enum { MAX_BLOCKS = 100000 };

typedef struct {
    const char* name;
    int done;            // phase E reached
    int completion_code; // T30_ERR_*
} side_t;

static void phase_e(t30_state_t* t30, void* user_data, int completion_code) {
    (void)t30;
    side_t* side = user_data;
    side->done = 1;
    side->completion_code = completion_code;
}

static void report(side_t* side, t30_state_t* t30) {
    t30_stats_t st;
    t30_get_transfer_statistics(t30, &st);
    printf("%s: %s (code %d); %d bit/s, ECM %s, line coding %d, pages sent %d, received %d, "
           "last page %dx%d, %d bad rows\n",
           side->name, side->done ? t30_completion_code_to_str(side->completion_code) : "no end",
           side->completion_code, st.bit_rate, st.error_correcting_mode ? "on" : "off", st.encoding,
           st.pages_tx, st.pages_rx, st.width, st.length, st.bad_rows);
}

// Both ends offer the same: every modem, fine and normal rows at 204 dpi
// (and the finer ones), the 215 mm width of a 1,728-pel row and pages of
// any length, so a page is never refused for its size; the codings allowed
// on the line are the caller's choice.
static void configure(t30_state_t* t30, int ecm, int compressions, int verbose) {
    t30_set_supported_modems(t30, T30_SUPPORT_V27TER | T30_SUPPORT_V29 | T30_SUPPORT_V17);
    t30_set_supported_compressions(t30, compressions);
    t30_set_supported_resolutions(t30, T30_SUPPORT_STANDARD_RESOLUTION |
                                           T30_SUPPORT_FINE_RESOLUTION |
                                           T30_SUPPORT_SUPERFINE_RESOLUTION |
                                           T30_SUPPORT_R8_RESOLUTION | T30_SUPPORT_R16_RESOLUTION);
    t30_set_supported_image_sizes(
        t30, T30_SUPPORT_215MM_WIDTH | T30_SUPPORT_255MM_WIDTH | T30_SUPPORT_303MM_WIDTH |
                 T30_SUPPORT_UNLIMITED_LENGTH | T30_SUPPORT_A4_LENGTH | T30_SUPPORT_B4_LENGTH |
                 T30_SUPPORT_US_LETTER_LENGTH | T30_SUPPORT_US_LEGAL_LENGTH);
    t30_set_ecm_capability(t30, ecm);
    if (verbose) {
        logging_state_t* log = t30_get_logging_state(t30);
        span_log_set_level(log, SPAN_LOG_SHOW_SEVERITY | SPAN_LOG_SHOW_PROTOCOL |
                                    SPAN_LOG_SHOW_TAG | SPAN_LOG_FLOW);
    }
}

static int send_fax(const char* sent, const char* received, int ecm, int compressions,
                    int verbose) {
    side_t caller = {"caller (sends)", 0, -1};
    side_t answerer = {"answerer (receives)", 0, -1};
    fax_state_t* fax[2] = {fax_init(NULL, 1), fax_init(NULL, 0)};
    if (!fax[0] || !fax[1]) {
        fprintf(stderr, "t30_line: cannot set up the fax engines\n");
        return 1;
    }
    side_t* side[2] = {&caller, &answerer};
    for (int i = 0; i < 2; i++) {
        t30_state_t* t30 = fax_get_t30_state(fax[i]);
        // Silence rather than nothing while a side has no signal to send, as a
        // real line would carry.
        fax_set_transmit_on_idle(fax[i], 1);
        fax_set_tep_mode(fax[i], 0);
        configure(t30, ecm, compressions, verbose);
        t30_set_tx_ident(t30, i == 0 ? "+1 555 0100" : "+1 555 0199");
        t30_set_phase_e_handler(t30, phase_e, side[i]);
    }
    t30_set_tx_file(fax_get_t30_state(fax[0]), sent, -1, -1);
    t30_set_rx_file(fax_get_t30_state(fax[1]), received, -1);

    int16_t audio[2][BLOCK];
    long blocks = 0;
    while (blocks < MAX_BLOCKS && !(caller.done && answerer.done)) {
        for (int i = 0; i < 2; i++) {
            int n = fax_tx(fax[i], audio[i], BLOCK);
            if (n < 0)
                n = 0;
            memset(audio[i] + n, 0, sizeof(int16_t) * (BLOCK - n));
        }
        // Each side hears what the other just sent.
        fax_rx(fax[0], audio[1], BLOCK);
        fax_rx(fax[1], audio[0], BLOCK);
        blocks++;
    }
    int finished = caller.done && answerer.done;
    printf("call: %.1f s of line time%s\n", blocks * (double)BLOCK / SAMPLE_RATE,
           finished ? "" : " (cut off: the call did not end)");
    report(&caller, fax_get_t30_state(fax[0]));
    report(&answerer, fax_get_t30_state(fax[1]));
    int ok =
        finished && caller.completion_code == T30_ERR_OK && answerer.completion_code == T30_ERR_OK;
    // Freeing the answerer closes the received TIFF.
    fax_free(fax[0]);
    fax_free(fax[1]);
    return ok ? 0 : 1;
}

// --- comparison -----------------------------------------------------------

// Rows wider than this are not fax rows; refusing them keeps the row
// buffers small whatever a damaged file claims.
enum { MAX_WIDTH = 1 << 16 };

typedef struct {
    uint32_t width, length;
    double ydpi; // 0 when the file gives no unit
    int black_is_one;
    tmsize_t row_bytes;
} page_t;

static int read_page(TIFF* tif, const char* path, int page, page_t* p) {
    uint16_t bps = 1, spp = 1, photometric = PHOTOMETRIC_MINISWHITE, unit = RESUNIT_INCH;
    float yres = 0;
    if (!TIFFSetDirectory(tif, (tdir_t)page) || !TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &p->width) ||
        !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &p->length)) {
        fprintf(stderr, "%s: page %d: cannot read its size\n", path, page + 1);
        return 0;
    }
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    p->ydpi = 0;
    if (TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yres) && unit != RESUNIT_NONE)
        p->ydpi = unit == RESUNIT_CENTIMETER ? yres * 2.54 : yres;
    p->black_is_one = photometric != PHOTOMETRIC_MINISBLACK;
    p->row_bytes = TIFFScanlineSize(tif);
    if (bps != 1 || spp != 1 || p->width == 0 || p->width > MAX_WIDTH ||
        p->row_bytes < (tmsize_t)((p->width + 7) / 8)) {
        fprintf(stderr, "%s: page %d: not a 1-bit page (%u bits, %u samples, %u pels wide)\n", path,
                page + 1, bps, spp, p->width);
        return 0;
    }
    return 1;
}

// One decoded row in a common form: 1 bits black, first pel in the top bit,
// the bits past the row's end cleared.
static int read_row(TIFF* tif, const page_t* p, uint32_t row, unsigned char* buf) {
    if (TIFFReadScanline(tif, buf, row, 0) < 0)
        return 0;
    size_t bytes = (p->width + 7) / 8;
    if (!p->black_is_one)
        for (size_t i = 0; i < bytes; i++)
            buf[i] = (unsigned char)~buf[i];
    if (p->width % 8)
        buf[bytes - 1] &= (unsigned char)(0xFF00u >> (p->width % 8));
    return 1;
}

// Within 2%: covers the metric rounding of 3.85 and 7.7 lines per mm.
static int same_resolution(double x, double y) {
    return x >= y * 0.98 && x <= y * 1.02;
}

static int compare_page(TIFF* ta, TIFF* tb, const char* a, const char* b, int page, int lpi) {
    page_t pa, pb;
    if (!read_page(ta, a, page, &pa) || !read_page(tb, b, page, &pb))
        return 0;
    if (pa.width != pb.width || pa.length != pb.length) {
        printf("page %d: %ux%u sent, %ux%u received\n", page + 1, pa.width, pa.length, pb.width,
               pb.length);
        return 0;
    }
    // Normal (98 lines per inch) and fine (196) pages must stay what they
    // are, and be what was asked for.
    if (pa.ydpi > 0 && pb.ydpi > 0 && !same_resolution(pb.ydpi, pa.ydpi)) {
        printf("page %d: %.1f lines per inch sent, %.1f received\n", page + 1, pa.ydpi, pb.ydpi);
        return 0;
    }
    if (lpi && !(same_resolution(pa.ydpi, lpi) && same_resolution(pb.ydpi, lpi))) {
        printf("page %d: %.1f lines per inch sent, %.1f received, not %d\n", page + 1, pa.ydpi,
               pb.ydpi, lpi);
        return 0;
    }
    unsigned char *ra = malloc((size_t)pa.row_bytes), *rb = malloc((size_t)pb.row_bytes);
    int same = ra && rb;
    uint32_t differing = 0, first = 0;
    size_t bytes = (pa.width + 7) / 8;
    for (uint32_t row = 0; same && row < pa.length; row++) {
        if (!read_row(ta, &pa, row, ra) || !read_row(tb, &pb, row, rb)) {
            printf("page %d: row %u cannot be decoded\n", page + 1, row);
            same = 0;
        } else if (memcmp(ra, rb, bytes) != 0 && differing++ == 0) {
            first = row;
        }
    }
    free(ra);
    free(rb);
    if (same && differing) {
        printf("page %d: %u of %u rows differ, the first is row %u\n", page + 1, differing,
               pa.length, first);
        same = 0;
    }
    return same;
}

static int compare(const char* a, const char* b, int lpi) {
    TIFF* ta = TIFFOpen(a, "r");
    TIFF* tb = ta ? TIFFOpen(b, "r") : NULL;
    if (!ta || !tb) {
        if (ta)
            TIFFClose(ta);
        return 1;
    }
    int pages = TIFFNumberOfDirectories(ta), pages_b = TIFFNumberOfDirectories(tb);
    int same = pages == pages_b;
    if (!same)
        printf("%d pages sent, %d received\n", pages, pages_b);
    for (int page = 0; same && page < pages; page++)
        same = compare_page(ta, tb, a, b, page, lpi);
    if (same)
        printf("%d pages, the same\n", pages);
    TIFFClose(ta);
    TIFFClose(tb);
    return same ? 0 : 1;
}

static int usage(void) {
    fprintf(stderr, "usage: t30_line send [--ecm] [--line 1d|2d|t6] [-v] SENT.tif RECEIVED.tif\n"
                    "       t30_line compare [--lpi N] SENT.tif RECEIVED.tif\n");
    return 2;
}

int main(int argc, char** argv) {
    if (argc < 2)
        return usage();
    if (strcmp(argv[1], "compare") == 0) {
        if (argc == 6 && strcmp(argv[2], "--lpi") == 0 && atoi(argv[3]) > 0)
            return compare(argv[4], argv[5], atoi(argv[3]));
        return argc == 4 ? compare(argv[2], argv[3], 0) : usage();
    }
    if (strcmp(argv[1], "send") != 0)
        return usage();
    int ecm = 0, verbose = 0;
    int compressions = T30_SUPPORT_T4_1D_COMPRESSION | T30_SUPPORT_T4_2D_COMPRESSION;
    int i = 2;
    for (; i < argc && argv[i][0] == '-'; i++) {
        if (strcmp(argv[i], "--ecm") == 0) {
            ecm = 1;
        } else if (strcmp(argv[i], "-v") == 0) {
            verbose = 1;
        } else if (strcmp(argv[i], "--line") == 0 && i + 1 < argc) {
            const char* c = argv[++i];
            if (strcmp(c, "1d") == 0)
                compressions = T30_SUPPORT_T4_1D_COMPRESSION;
            else if (strcmp(c, "2d") == 0)
                compressions = T30_SUPPORT_T4_1D_COMPRESSION | T30_SUPPORT_T4_2D_COMPRESSION;
            else if (strcmp(c, "t6") == 0) // Group 4 on the line needs ECM
                compressions = T30_SUPPORT_T4_1D_COMPRESSION | T30_SUPPORT_T6_COMPRESSION;
            else
                return usage();
        } else {
            return usage();
        }
    }
    if (argc - i != 2)
        return usage();
    return send_fax(argv[i], argv[i + 1], ecm, compressions, verbose);
}
