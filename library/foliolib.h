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
 * Returns true when the document was built and written; false when the macro
 * file cannot be read, an included file cannot be read, a bitmap is not
 * valid, or the TIFF file cannot be written. On false no TIFF is written and
 * a file that had the name before is left as it was. Never throws. Also
 * exported as _BuildFax. */
FOLIOLIB_API bool BuildFax(const char* macroFile, const char* tiffFile);
FOLIOLIB_API bool _BuildFax(const char* macroFile, const char* tiffFile);

/* Why the calling thread's last BuildFax returned false, as one line naming
 * the file and the cause; an empty string after a success. */
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

/* Options of BuildFaxWithOptions. Set `size` to sizeof(FolioBuildOptions) and
 * every field you do not use to 0: fields may be added at the end. */
typedef struct FolioBuildOptions {
    unsigned size;
    /* Called on the calling thread for each diagnostic, in macro order. */
    void (*diagnostic)(void* context, const FolioDiagnostic* d);
    void* diagnosticContext;
    /* Nonzero: a warning fails the build (false, nothing written). */
    int strict;
} FolioBuildOptions;

/* BuildFax with options; `options` may be NULL. With `tiffFile` NULL the
 * macro is built in memory and nothing is written (a check). Never throws. */
FOLIOLIB_API bool BuildFaxWithOptions(const char* macroFile, const char* tiffFile,
                                      const FolioBuildOptions* options);

#ifdef __cplusplus
}
#endif

#endif
