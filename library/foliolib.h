// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
/* Foliolib: turns a fax macro file into a multi-page fax TIFF file.
 * For C and C++ clients of libfoliolib.so. C++ clients may also drive the
 * engine class FaxImage themselves (FaxImage.h): construct it, hand each line
 * to ProcessCommand until it returns false or the lines end, call SaveFile,
 * destroy it.
 *
 * Include it as <folioset/foliolib.h>; link with -lfoliolib -ltiflib32
 * (pkg-config foliolib) or the CMake target Folioset::foliolib. Plain C99 or
 * any C++; no entry point throws.
 * Threads: every entry point may be called from several threads at once;
 * each call builds in an engine of its own, and the last error is kept per
 * thread. The coding of the fax (Group 3 1-D unless SetFaxCompression in
 * tiflib32.h says otherwise) is a setting of the whole process.
 * Strings passed in are only read during the call and stay the caller's. */
#ifndef FOLIO_FOLIOLIB_H
#define FOLIO_FOLIOLIB_H

#include <stddef.h>

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

/* The release these declarations come from, for #if in a client:
 * FOLIOSET_VERSION is MAJOR * 10000 + MINOR * 100 + PATCH (10200 for 1.2.0).
 * FolioVersion() is the same number for the library the program runs with,
 * which may be a later 1.x than the one it was compiled against. */
#define FOLIOSET_VERSION_MAJOR 1
#define FOLIOSET_VERSION_MINOR 2
#define FOLIOSET_VERSION_PATCH 0
#define FOLIOSET_VERSION_STRING "1.2.0"
#define FOLIOSET_VERSION                                                                          \
    (FOLIOSET_VERSION_MAJOR * 10000 + FOLIOSET_VERSION_MINOR * 100 + FOLIOSET_VERSION_PATCH)

/* Since 1.2. The running library's FOLIOSET_VERSION and FOLIOSET_VERSION_STRING
 * ("1.2.0"); the string is static. Never throw. */
FOLIOLIB_API int FolioVersion(void);
FOLIOLIB_API const char* FolioVersionString(void);

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
 * Returns true when the document was built and written; false when a name
 * is null, the macro file cannot be read, an included file cannot be read, a bitmap is not
 * valid, or the TIFF file cannot be written. On false no TIFF file is put in
 * place and a file that had the name before is left as it was (a device,
 * pipe or socket may have received part of the document). Never throws.
 * Also exported as _BuildFax. */
FOLIOLIB_API bool BuildFax(const char* macroFile, const char* tiffFile);
FOLIOLIB_API bool _BuildFax(const char* macroFile, const char* tiffFile);

/* Why the calling thread's last BuildFax or BuildFaxWithOptions returned
 * false, as one line naming the file and the cause; an empty string after a
 * success and before the thread's first call. The string belongs to the
 * library and stays valid until the thread's next BuildFax or
 * BuildFaxWithOptions call; copy it to keep it. Never null. */
FOLIOLIB_API const char* BuildFaxLastError(void);

/* One thing the macro lost or could not do: text dropped or clipped, a file
 * not included, a command not understood, a font or character replaced.
 * The record and its strings belong to the library and live until the
 * callback returns: copy what you keep. */
typedef struct FolioDiagnostic {
    const char* file;    /* the macro file */
    int line;            /* its 1-based line; 0 for the file as a whole */
    int severity;        /* FOLIO_NOTE, FOLIO_WARNING or FOLIO_ERROR */
    const char* kind;    /* short stable name: "text-dropped", "file-missing", ... */
    const char* message; /* one line of English */
} FolioDiagnostic;

enum { FOLIO_NOTE = 0, FOLIO_WARNING = 1, FOLIO_ERROR = 2 };

enum { FOLIO_RESOLUTION_FINE = 0, FOLIO_RESOLUTION_NORMAL = 1 };

/* Options of BuildFaxWithOptions. Start from FOLIO_BUILD_OPTIONS_INIT (or set
 * `size` to sizeof(FolioBuildOptions) and every other field to 0), then set
 * the fields you use. Fields are only ever added at the end; `size` says
 * which release's structure the caller was compiled with, and the fields
 * past it take their defaults. The sizes accepted are those a release's
 * header gave the structure: on x86-64 and other LP64 systems 40 (1.0,
 * which ended at `strict`; 36, its last field's end, is taken as 1.0 too)
 * and 72 (1.1) and 96 (1.2; 88, its size before `maxPages` and
 * `timeLimitMs` were added, is taken as 1.2 without them). Any other size
 * fails the build. A 0 in any
 * field means what it meant in the release that added the field. */
typedef struct FolioBuildOptions {
    unsigned size;
    /* FOLIO_RESOLUTION_FINE (204 x 196 dpi, the default) or
     * FOLIO_RESOLUTION_NORMAL (204 x 98 dpi: each pair of rows merged into
     * one, a pixel black when black in either). */
    int resolution;
    /* When not null, the pages are also written as this PDF file. The TIFF
     * and the PDF are written both or neither. */
    const char* pdfFile;
    /* Called on the calling thread for each diagnostic, in macro order,
     * before BuildFaxWithOptions returns; null: none are delivered. It must
     * return normally (no C++ exception, no longjmp out of the build). */
    void (*diagnostic)(void* context, const FolioDiagnostic* d);
    /* Passed to `diagnostic` as it is; the library never reads it. */
    void* diagnosticContext;
    /* Nonzero: a warning fails the build (false, nothing written). */
    int strict;
    /* Since 1.1. The coding of this build's pages: FOLIO_CODING_DEFAULT (0:
     * the process-wide coding of libtiflib32, which is Group 3 1-D unless
     * SetFaxCompression changed it, as in 1.0), FOLIO_CODING_G3 (CCITT Group
     * 3 one-dimensional; every fax reader takes it), FOLIO_CODING_G3_2D
     * (Group 3 two-dimensional, smaller) or FOLIO_CODING_G4 (Group 4,
     * smallest). Another value fails the build. A 1.0 caller (`size` 40)
     * has padding here, which is never read: it gets the process-wide
     * coding. (In 1.1, 0 meant Group 3 1-D whatever SetFaxCompression said.) */
    int coding;
    /* Since 1.1. When not null, FILE commands may only read files inside
     * this folder (a relative name is taken from the current folder): a
     * file outside it, reached through "../", an absolute name or a
     * symbolic link, is not included and is reported as a "file-refused"
     * warning at its line. Each file is checked and opened in one step
     * (openat2, Linux 5.6 or later), so a link swapped meanwhile cannot lead
     * out. The build fails when the folder does not exist or the kernel
     * cannot confine opening to it. The macro file named to
     * BuildFaxWithOptions, or a PDF named in its place, is read wherever it
     * lies: only what FILE commands read is confined. */
    const char* includeRoot;
    /* Since 1.1. When not null and not empty, the folder relative FILE names
     * are taken from instead of the current folder (for a macro built from
     * memory, or a server whose threads share one current folder). The
     * build fails when it is not a folder. */
    const char* baseDir;
    /* Since 1.1. The code page the macro's text is read in until a CODEPAGE
     * command changes it, 0 to 65535: 0 (the default) is the ANSI code page
     * 1252, as for a macro file; 65001 reads the text as UTF-8. A code
     * page this machine does not know (the CODEPAGE command warns for the
     * same numbers) fails the build: "unknown code page N". */
    int codePage;
    /* Since 1.1. The name BuildFaxInMemory and BuildFaxPageBitmap give the
     * macro in errors and in FolioDiagnostic.file; null: "<macro>". The
     * file builds name the macro file and ignore this field. */
    const char* macroName;
    /* Since 1.2. The paper of the pages until a PAGE command in the macro
     * changes it: FOLIO_PAGE_DEFAULT (0: 2200 rows, as before 1.2),
     * FOLIO_PAGE_A4 (2286 rows), FOLIO_PAGE_LETTER (2151) or
     * FOLIO_PAGE_LEGAL (2738), rows at 196 per inch (half, rounded down,
     * at FOLIO_RESOLUTION_NORMAL); every page is 1728 pixels wide. Another
     * value fails the build: "unknown page size N". A 1.0 or 1.1 caller
     * gets the default. */
    int pageSize;
    /* Since 1.2. When not null, the macro is a template and this is the
     * record that fills its fields {{name}}: a JSON object as UTF-8 text
     * (up to 64 MiB), e.g. {"name": "Ada", "order": {"id": 7}} for
     * {{name}} and {{order.id}}. Strings are set as they are, numbers and
     * true/false as their JSON text, null as no value. A value is always
     * set as text: it can never make a line a command or a style escape,
     * and a value with line breaks sets that many text lines (see
     * "Templates and data" in the README). A field without a value is a
     * "field-missing" warning, a field in a command a "field-ignored"
     * one, reported as every diagnostic is. Text that is not a JSON
     * object fails the build: "fields: not a JSON object: ...". Null (the
     * default, and a 1.0 or 1.1 caller): the macro is read as it always
     * was, {{ and all. */
    const char* fields;
    /* Since 1.2. The most pages the fax may have, for a server that builds
     * macros from others: a page break past it fails the build ("The fax
     * has more than N pages"). 0 (the default) or a number above the
     * library's own limit of 4,000 keeps that limit; a negative number
     * fails the build. */
    int maxPages;
    /* Since 1.2. The longest the build may take, in milliseconds: past it
     * the build stops before its next line and fails ("MACRO:LINE: stopped:
     * the build took longer than its limit of N ms"), and the pictures it
     * decodes share the time left (in whole seconds). 0 (the default): no
     * limit beyond the pictures' own; a negative number fails the build. */
    int timeLimitMs;
} FolioBuildOptions;

enum {
    FOLIO_CODING_DEFAULT = 0,
    FOLIO_CODING_G3_2D = 1,
    FOLIO_CODING_G4 = 2,
    FOLIO_CODING_G3 = 3
};

/* Since 1.2. */
enum { FOLIO_PAGE_DEFAULT = 0, FOLIO_PAGE_A4 = 1, FOLIO_PAGE_LETTER = 2, FOLIO_PAGE_LEGAL = 3 };

/* Since 1.2. Every field of FolioBuildOptions zero but `size`:
 *   FolioBuildOptions options = FOLIO_BUILD_OPTIONS_INIT;
 * Each field is named, so that C++ with -Wextra does not warn. */
#define FOLIO_BUILD_OPTIONS_INIT                                                                  \
    { sizeof(FolioBuildOptions), 0, NULL, NULL, NULL, 0, 0, NULL, NULL, 0, NULL, 0, NULL, 0, 0 }

/* BuildFax with options; `options` may be NULL (the defaults) and is only
 * read during the call. With `tiffFile` NULL the macro is built in memory
 * and nothing is written (a check: true when it builds, and with `strict`
 * when it has no warning). Returns false, with the reason in
 * BuildFaxLastError, in every case BuildFax does, and also for an unknown
 * resolution, coding or page size, `fields` that are not a JSON object,
 * a `size` that no release gave the structure, a PDF file that cannot be
 * written (then no TIFF file either), or a warning under `strict`.
 * Never throws. */
FOLIOLIB_API bool BuildFaxWithOptions(const char* macroFile, const char* tiffFile,
                                      const FolioBuildOptions* options);

/* Bytes the library hands to the caller: `size` bytes at `data`, allocated
 * by the library and owned by the caller, who releases them with
 * FolioBufferFree. A buffer the library did not fill holds NULL and 0. */
typedef struct FolioBuffer {
    unsigned char* data;
    size_t size;
} FolioBuffer;

/* Releases the bytes of `buffer` (if any) and sets it to NULL and 0; a NULL
 * `buffer`, or one already released, is left alone. Never throws. */
FOLIOLIB_API void FolioBufferFree(FolioBuffer* buffer);

/* Builds a fax from a macro held in memory into memory. `macro` is the
 * contents of a macro file, `length` bytes (NUL bytes included as they are;
 * `macro` may be NULL when `length` is 0), read exactly as BuildFax reads a
 * file: lines end at LF or CR LF, a text line longer than 499 bytes is
 * read in parts of 499 bytes (a command line is not: see "line-cut" in the
 * README), the text is read in the code page of
 * `options->codePage` until a CODEPAGE command, and nothing after END is
 * read. Relative FILE names are taken from `options->baseDir`, or else from
 * the current folder. `options` may be NULL (the defaults); its `pdfFile`
 * must be NULL.
 * On success `*tiff` receives the fax TIFF, byte for byte the file that
 * BuildFaxWithOptions writes for a file of these bytes with these options,
 * and, when `pdf` is not NULL, `*pdf` the PDF copy it would write. The
 * caller owns both and frees them with FolioBufferFree. With `tiff` NULL
 * the macro is only built and checked (diagnostics, strict), as with
 * BuildFaxWithOptions and a NULL `tiffFile`; `pdf` must then be NULL too.
 * Nothing is written to disk and no file is left behind: the documents are
 * assembled in unnamed temporary files (in $TMPDIR, or in memory) and come
 * back through pipes; /proc must be mounted.
 * A `macro` that begins with the bytes "%PDF-" is a PDF, as a file given
 * to BuildFax that begins so is: the fax has a page for each of its pages,
 * byte for byte the one BuildFaxWithOptions makes of a file of these
 * bytes. poppler's pdfinfo and pdftoppm (poppler-utils), run as
 * separate processes, are given the bytes from memory; no file is read, so
 * `includeRoot` and `baseDir` have nothing to refuse or find, while
 * `maxPages` and `timeLimitMs` hold (pdfinfo's reading of the pages counts).
 * Returns false, with both buffers set to NULL and 0 and the cause in
 * BuildFaxLastError, for the failures of BuildFaxWithOptions (an unknown
 * resolution, coding, page size or code page, `fields` that are not a JSON
 * object, a missing base folder or
 * include root, an included file that cannot be read, a bitmap that is not
 * valid, a warning in a strict build, more pages than allowed), for a macro larger
 * than 512 MiB, and when memory runs out. Diagnostics go to
 * `options->diagnostic` on the calling thread, FolioDiagnostic.file being
 * `options->macroName` or "<macro>". Safe to call from several threads at
 * once, each with its own options, buffers and coding. Never throws. */
FOLIOLIB_API bool BuildFaxInMemory(const char* macro, size_t length,
                                   const FolioBuildOptions* options, FolioBuffer* tiff,
                                   FolioBuffer* pdf);

/* Builds the macro as BuildFaxInMemory does (nothing is coded or written)
 * and hands back the pixels of page `page` (1 for the first), as drawn at
 * 204 x 196 dpi whatever `options->resolution` says: `*width` x `*height`
 * pixels, rows from the top, each row (width + 7) / 8 bytes, the leftmost
 * pixel in the most significant bit, a set bit black. The caller frees
 * `*bitmap` with FolioBufferFree. False, with `*bitmap` NULL and 0, the
 * sizes 0 and the cause in BuildFaxLastError, when the build fails (as for
 * BuildFaxInMemory) or the fax has no page `page`. For previews: a preview
 * of each page builds the macro again; BuildFaxPageBitmaps gives all pages
 * from one build. Thread safety as BuildFaxInMemory.
 * Never throws. */
FOLIOLIB_API bool BuildFaxPageBitmap(const char* macro, size_t length,
                                     const FolioBuildOptions* options, int page,
                                     FolioBuffer* bitmap, int* width, int* height);

/* Since 1.2. Called from inside a FolioBuildOptions.diagnostic callback or
 * a FolioPageSink (both run on the building thread), makes the calling
 * thread's current build stop as soon as it can, before the macro's next
 * line at the latest: the entry point that builds returns false with
 * BuildFaxLastError "MACRO:LINE: stopped by the caller", nothing is
 * written and no file is left. For a client whose callback cannot carry
 * on (Python's Ctrl-C, an exception that may not cross the library).
 * When one build's callback starts another build, it stops the inner one.
 * Called outside a build it does nothing. Never throws. */
FOLIOLIB_API void FolioStopBuild(void);

/* Since 1.2. Receives one page of BuildFaxPageBitmaps: page `page` (1 for
 * the first) as `width` x `height` pixels, rows from the top, each row
 * (width + 7) / 8 bytes, the leftmost pixel in the most significant bit, a
 * set bit black (as BuildFaxPageBitmap gives it). The rows belong to the
 * library and live until the sink returns: copy what you keep. Returns 0
 * to go on; anything else stops the build. */
typedef int (*FolioPageSink)(void* context, int page, const unsigned char* rows, int width,
                             int height);

/* Builds the macro as BuildFaxPageBitmap does, once, and hands every page
 * in order to `sink` on the calling thread, with `context` as it is: the
 * previews of all pages for the price of one build. Returns true when
 * every page was handed over; false, with the cause in BuildFaxLastError,
 * when `sink` is NULL, the build fails (as for BuildFaxInMemory), or the
 * sink returned nonzero or called FolioStopBuild ("stopped by the caller
 * at page N"; the pages before it were delivered). Diagnostics go to
 * `options->diagnostic` as for BuildFaxInMemory, all of them before the
 * first page. Thread safety as BuildFaxInMemory. Never throws. */
FOLIOLIB_API bool BuildFaxPageBitmaps(const char* macro, size_t length,
                                      const FolioBuildOptions* options, FolioPageSink sink,
                                      void* context);

#ifdef __cplusplus
}
#endif

#endif
