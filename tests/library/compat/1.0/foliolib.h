// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
/* Foliolib: turns a fax macro file into a multi-page fax TIFF file.
 * For C and C++ clients of libfoliolib.so. C++ clients may also drive the
 * engine class FaxImage themselves (FaxImage.h): construct it, hand each line
 * to ProcessCommand until it returns false or the lines end, call SaveFile,
 * destroy it. */
#ifndef FOLIO_FOLIOLIB_H
#define FOLIO_FOLIOLIB_H

#ifdef __cplusplus
extern "C" {
#else
#include <stdbool.h>
#endif

#if defined(__GNUC__)
#define FOLIOLIB_API __attribute__((visibility("default")))
#else
#define FOLIOLIB_API
#endif

/* Reads the macro file `macroFile` line by line into a fresh engine and writes
 * its pages to the fax TIFF file `tiffFile`. Relative paths, and the files
 * that FILE commands name, are taken from the current directory.
 * A new name or a regular file (a symbolic link is followed to the file it
 * names) gets the document through an unnamed file in its folder, renamed
 * over it when complete: a killed process leaves nothing behind. An existing
 * character device, named pipe or socket, and "-" for standard output, get
 * the finished document written into them from start to end and are never
 * replaced; a broken pipe there is a failure, never a SIGPIPE. A folder or
 * any other kind of file is refused.
 * Returns true when the document was built and written; false when the macro
 * file cannot be read, an included file cannot be read, a bitmap is not
 * valid, or the TIFF file cannot be written. On false no TIFF file is put in
 * place and a file that had the name before is left as it was (a device,
 * pipe or socket may have received part of the document). Never throws.
 * Also exported as _BuildFax. */
FOLIOLIB_API bool BuildFax(const char* macroFile, const char* tiffFile);
FOLIOLIB_API bool _BuildFax(const char* macroFile, const char* tiffFile);

/* Why the calling thread's last BuildFax or BuildFaxWithOptions returned
 * false, as one line naming the file and the cause; an empty string after a
 * success. */
FOLIOLIB_API const char* BuildFaxLastError(void);

/* One thing the macro lost or could not do: text dropped or clipped, a file
 * not included, a command not understood, a font or character replaced.
 * The strings live until the callback returns. */
typedef struct FolioDiagnostic {
    const char* file;    /* the macro file */
    int line;            /* its 1-based line; 0 for the file as a whole */
    int severity;        /* FOLIO_NOTE, FOLIO_WARNING or FOLIO_ERROR */
    const char* kind;    /* short stable name: "text-dropped", "file-missing", ... */
    const char* message; /* one line of English */
} FolioDiagnostic;

enum { FOLIO_NOTE = 0, FOLIO_WARNING = 1, FOLIO_ERROR = 2 };

enum { FOLIO_RESOLUTION_FINE = 0, FOLIO_RESOLUTION_NORMAL = 1 };

/* Options of BuildFaxWithOptions. Set `size` to sizeof(FolioBuildOptions) and
 * every field you do not use to 0: fields may be added at the end, and
 * fields past `size` take their defaults. */
typedef struct FolioBuildOptions {
    unsigned size;
    /* FOLIO_RESOLUTION_FINE (204 x 196 dpi, the default) or
     * FOLIO_RESOLUTION_NORMAL (204 x 98 dpi: each pair of rows merged into
     * one, a pixel black when black in either). */
    int resolution;
    /* When not null, the pages are also written as this PDF file. The TIFF
     * and the PDF are written both or neither. */
    const char* pdfFile;
    /* Called on the calling thread for each diagnostic, in macro order. */
    void (*diagnostic)(void* context, const FolioDiagnostic* d);
    void* diagnosticContext;
    /* Nonzero: a warning fails the build (false, nothing written). */
    int strict;
} FolioBuildOptions;

/* BuildFax with options; `options` may be NULL (the defaults). With
 * `tiffFile` NULL the macro is built in memory and nothing is written (a
 * check). Also false for an unknown resolution or a size that is too small
 * for `size` itself. Never throws. */
FOLIOLIB_API bool BuildFaxWithOptions(const char* macroFile, const char* tiffFile,
                                      const FolioBuildOptions* options);

#ifdef __cplusplus
}
#endif

#endif
