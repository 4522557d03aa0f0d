// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
/* The fax TIFF writer, libtiflib32.so. A client hands over a document one page
 * at a time as a packed 1-bit DIB in a memory block (a set bit is a black
 * pixel, rows bottom-up); the writer turns the pages into one multi-page TIFF
 * Class F file. The file appears under its name only when the last page is in:
 * until then the pages go to an unnamed temporary file in its folder, so a
 * reader never sees half a document, an earlier file survives a failed run and
 * a killed process leaves nothing; a symbolic link is followed to the file it
 * names. An existing character device, named pipe or socket, and the name "-"
 * (standard output), are never replaced: the finished document is written
 * into them from start to end, SIGPIPE held off the calling thread. A folder
 * or any other kind of file is refused at the first page. Plain C, usable
 * from C and C++. */
#ifndef FOLIO_TIFLIB32_H
#define FOLIO_TIFLIB32_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define TIFLIB_API __attribute__((visibility("default")))
#else
#define TIFLIB_API
#endif

/* Include it as <folioset/tiflib32.h>; link with -ltiflib32 (pkg-config
 * tiflib32) or the CMake target Folioset::tiflib32. Plain C99 or any C++; no
 * function throws. Errors are return values, with the reason of a failed
 * write in TiflibLastError. */

/* A memory block handle, as made by GlobalAlloc below. */
typedef void* HGLOBAL;

/* Writes page `index` (0 .. count-1) of the document `name`. Index 0 starts the
 * document anew; the call with index count-1 completes it and puts the file in
 * place. `block` stays the caller's: it is only read, never freed or kept.
 * Returns 1 on success, 0 on failure. Any failure (a block that is not a 1-bit
 * packed DIB, a call out of order, a file that cannot be written or renamed, a
 * full device) abandons the document: its temporary file is removed and the
 * file that had the name before, if any, is left as it was. Safe to call from
 * several threads, for different documents at once. */
TIFLIB_API int WriteGraphicFile(const char* name, HGLOBAL block, int index, int count);

/* Coding of the pages of documents started after the call (process-wide). */
enum {
    TIFLIB_FAX_G3_1D = 0,           /* CCITT Group 3, one-dimensional (default) */
    TIFLIB_FAX_G3_2D = 1,           /* CCITT Group 3, two-dimensional */
    TIFLIB_FAX_G4 = 2,              /* CCITT Group 4 */
    TIFLIB_FAX_G3_1D_REFERENCE = 3, /* Group 3 1-D through libtiff's own encoder:
                                       the same file, written more slowly */
    TIFLIB_FAX_G3_2D_REFERENCE = 4, /* the same for Group 3 2-D */
    TIFLIB_FAX_G4_REFERENCE = 5     /* the same for Group 4 */
};
/* Sets the coding for following documents of every thread (the setting is
 * read once, when a document starts, so a document never mixes codings; safe
 * from any thread). Returns 1, or 0 for an unknown mode (the setting is then
 * unchanged). */
TIFLIB_API int SetFaxCompression(int mode);
/* The coding following documents will use (a TIFLIB_FAX_ mode above). */
TIFLIB_API int GetFaxCompression(void);
/* Sets the coding of the documents the calling thread starts afterwards, in
 * place of the process-wide one, so that threads building at once can code
 * differently; -1 makes the thread follow SetFaxCompression again. Returns 1,
 * or 0 for an unknown mode (the setting is then unchanged). */
TIFLIB_API int SetFaxThreadCompression(int mode);

/* Vertical resolution of the documents the calling thread starts afterwards
 * (a setting of each thread, so that library callers on several threads can
 * differ). Pages are always handed over at 196 rows per inch. */
enum {
    TIFLIB_FAX_FINE = 0,  /* 204 x 196 dpi: every row of the block (default) */
    TIFLIB_FAX_NORMAL = 1 /* 204 x 98 dpi: each pair of rows merged into one, a
                             pixel black when black in either; an odd last row
                             joins the last pair (since 1.2; it stayed alone
                             before), so a page of h rows has h / 2 */
};
/* Sets the calling thread's resolution. Returns 1, or 0 for an unknown value
 * (the setting is then unchanged). */
TIFLIB_API int SetFaxResolution(int resolution);
/* The calling thread's resolution, TIFLIB_FAX_FINE unless set. */
TIFLIB_API int GetFaxResolution(void);

/* A receiver of every page of a document as written: its Group 4 coding
 * (Group4Options 0, ending with the end-of-block code) of `width` x `height`
 * pixels at 204 x `rowsPerInch` dpi, exactly the pixels of the TIFF page.
 * Called once per page, in order, before the page's WriteGraphicFile returns;
 * for the last page (index == count - 1) before the file is put in place. A
 * result of 0 fails the write (the document is dropped as on any failure). */
typedef int (*TiflibPageCopy)(void* context, int index, int count, unsigned width, unsigned height,
                              int rowsPerInch, const unsigned char* g4, size_t bytes);
/* Sets the receiver for documents the calling thread starts afterwards; a
 * null `copy` sends no pages. When the document is itself coded in Group 4,
 * its own strips are handed over; otherwise each page is coded once more. */
TIFLIB_API void SetFaxPageCopy(TiflibPageCopy copy, void* context);

/* Whether the documents the calling thread starts afterwards sync their
 * folder once named (1, the default), so that the name survives a power cut,
 * or leave that to the caller (0), who syncs the folder once for all the
 * documents put there together before relying on their names. The file's
 * own bytes are synced before it is named either way, and a name reached
 * through a symbolic link has its folder synced all the same. Returns the
 * setting it replaces (since 1.2). */
TIFLIB_API int SetFaxFolderSync(int sync);

/* Why the calling thread's last failed WriteGraphicFile failed (an empty string
 * after a success). Valid until the thread's next call into the writer. */
TIFLIB_API const char* TiflibLastError(void);

/* Pages coded ahead: a client that draws a long document page by page can code
 * each page as soon as it is finished, on a thread of its own while it draws
 * the next, and write the document from the codes at the end. The file is the
 * one WriteGraphicFile writes for the same pages, byte for byte. */
typedef struct TiflibCodedPage {
    unsigned width, height; /* the page as handed to TiflibCodePage (fine rows) */
    int mode;               /* TIFLIB_FAX_G3_1D, TIFLIB_FAX_G3_2D or TIFLIB_FAX_G4 */
    int resolution;         /* TIFLIB_FAX_FINE or TIFLIB_FAX_NORMAL */
    const unsigned char* code;
    size_t bytes;
} TiflibCodedPage;
/* Codes a page of `width` x `height` pixels (1 to 65535 each), row y (0 = top)
 * at `top + y * step`, each row ((width + 31) / 32) * 4 readable bytes, the
 * leftmost pixel in the most significant bit, a set bit black (bits past the
 * width are ignored), as a document in `mode` at `resolution` codes it. The
 * page is coded on the calling thread alone. Fills `page`, whose code stays
 * valid until the thread's next call; returns 1, or 0 for sizes, a mode or a
 * resolution out of range or when memory runs out. Safe on any thread. */
TIFLIB_API int TiflibCodePage(const unsigned char* top, ptrdiff_t step, unsigned width,
                              unsigned height, int mode, int resolution, TiflibCodedPage* page);
/* WriteGraphicFile with the page coded ahead: index 0 starts the document in
 * the page's mode and resolution, and every later page must have them too.
 * With a page copy receiver set (SetFaxPageCopy) only Group 4 pages can be
 * written this way. Same results and failures as WriteGraphicFile. */
TIFLIB_API int WriteCodedPage(const char* name, const TiflibCodedPage* page, int index, int count);
/* Pages coded ahead and written as soon as they are coded, before the count
 * of pages is known, so that a long document's file is written while its
 * later pages are drawn. BeginCodedDocument starts the document `name` anew
 * for pages in `mode` at `resolution`, with the calling thread's settings
 * (as page 0 of WriteCodedPage would); WriteCodedPageAhead adds page
 * `index`, which must be the next, from any thread; FinishCodedDocument
 * gives the count, which must be the number of pages written, and puts the
 * file in place. Until then nothing is named: DropFaxDocument, or a failed
 * call, drops the document and leaves the target as it was. The file is
 * the one WriteCodedPage makes of the same pages, byte for byte. Each
 * returns 1, or 0 with the reason in TiflibLastError. */
TIFLIB_API int BeginCodedDocument(const char* name, int mode, int resolution);
TIFLIB_API int WriteCodedPageAhead(const char* name, const TiflibCodedPage* page, int index);
TIFLIB_API int FinishCodedDocument(const char* name, int count);
TIFLIB_API void DropFaxDocument(const char* name);

/* Memory blocks, so that a client loading only this library can make pages.
 * The same calls, on the same blocks, are exported by librastrum (rastrum.h)
 * and used by libfoliolib. All are safe from any thread; a handle that is
 * null, freed or never made is refused, never followed.
 * GlobalAlloc: a new block of `bytes` (0 to 2 GiB) that the caller owns and
 *   frees with GlobalFree; zero-filled with TIFLIB_GMEM_ZEROINIT. Null for
 *   a larger size or when the memory cannot be had.
 * GlobalLock: the block's address (blocks never move), valid until it is
 *   freed; null for a refused handle. Locks nest.
 * GlobalUnlock: undoes one GlobalLock; returns nonzero while locks remain,
 *   0 when none does or for a refused handle.
 * GlobalFree: frees the block (locked or not); returns null when freed (and
 *   for null), the handle itself when it was refused.
 * GlobalSize: the block's size in bytes, 0 for a refused handle. */
TIFLIB_API HGLOBAL GlobalAlloc(unsigned int flags, size_t bytes);
TIFLIB_API void* GlobalLock(HGLOBAL block);
TIFLIB_API int GlobalUnlock(HGLOBAL block);
TIFLIB_API HGLOBAL GlobalFree(HGLOBAL block);
TIFLIB_API size_t GlobalSize(HGLOBAL block);

/* GlobalAlloc flags: movable (blocks never move here) and zero-filled. */
#define TIFLIB_GMEM_MOVEABLE 0x0002
#define TIFLIB_GMEM_ZEROINIT 0x0040

#ifdef __cplusplus
}
#endif

#endif
