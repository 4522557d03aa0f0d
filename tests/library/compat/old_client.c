// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
/* A client compiled against the 1.0 foliolib.h (kept beside this file as it
 * was released) and run against today's library. 1.0's FolioBuildOptions
 * ends at `strict`, so its tail padding is where 1.1 put `coding`: whatever
 * the compiler left there (zero, one, the 0xAB of an unwritten stack) must
 * not be read, and the coding must stay the process-wide one that 1.0's
 * SetFaxCompression chose. Sizes no release had are refused.
 *   old_client SCRATCH_DIR
 * Prints one line per failed check and "N passed, N failed" at the end. */
#include "foliolib.h"
#include "tiflib32.h"

#include <stdio.h>
#include <string.h>
#include <tiffio.h>

static int passed, failed;

static void check(int ok, const char* what) {
    if (ok) {
        ++passed;
    } else {
        ++failed;
        printf("FAIL: %s (%s)\n", what, BuildFaxLastError());
    }
}

/* The Compression tag of the fax's first page; 0 when it cannot be read. */
static int compressionOf(const char* path) {
    TIFF* tif = TIFFOpen(path, "r");
    uint16_t compression = 0;
    if (!tif)
        return 0;
    if (!TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression))
        compression = 0;
    TIFFClose(tif);
    return compression;
}

int main(int argc, char** argv) {
    char macro[4096], fax[4096], what[128];
    const unsigned char paddings[] = {0x00, 0x01, 0xAB};
    const unsigned refused[] = {0, 4, 8, 24, 44, 76, 80, 92, 104, 4096};
    size_t i;
    FILE* f;
    if (argc != 2)
        return 2;
    snprintf(macro, sizeof macro, "%s/old-client.fax", argv[1]);
    snprintf(fax, sizeof fax, "%s/old-client.tif", argv[1]);
    f = fopen(macro, "w");
    if (!f)
        return 2;
    fputs("A letter from a 1.0 client.\n", f);
    fclose(f);
    TIFFSetWarningHandler(NULL);

    for (i = 0; i < sizeof paddings; ++i) {
        FolioBuildOptions o;
        /* What a compiler may leave in the padding of a structure whose
         * fields are assigned one by one. */
        memset(&o, paddings[i], sizeof o);
        o.size = sizeof o;
        o.resolution = FOLIO_RESOLUTION_FINE;
        o.pdfFile = NULL;
        o.diagnostic = NULL;
        o.diagnosticContext = NULL;
        o.strict = 0;
        SetFaxCompression(TIFLIB_FAX_G4);
        remove(fax);
        snprintf(what, sizeof what, "padding 0x%02X builds", paddings[i]);
        check(BuildFaxWithOptions(macro, fax, &o), what);
        snprintf(what, sizeof what, "padding 0x%02X keeps the process-wide Group 4", paddings[i]);
        check(compressionOf(fax) == COMPRESSION_CCITTFAX4, what);
        SetFaxCompression(TIFLIB_FAX_G3_1D);
        remove(fax);
        check(BuildFaxWithOptions(macro, fax, &o) &&
                  compressionOf(fax) == COMPRESSION_CCITTFAX3,
              "the process-wide Group 3 back again");
    }
    for (i = 0; i < sizeof refused / sizeof refused[0]; ++i) {
        FolioBuildOptions o;
        memset(&o, 0, sizeof o);
        o.size = refused[i];
        snprintf(what, sizeof what, "size %u is refused", refused[i]);
        check(!BuildFaxWithOptions(macro, fax, &o) && strstr(BuildFaxLastError(), "size"), what);
    }
    printf("%d passed, %d failed\n", passed, failed);
    return failed ? 1 : 0;
}
