// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
/* Rastrum, the DIB library: the public interface of librastrum.so.
 *
 * Rastrum works on device-independent bitmaps (DIBs) held in global memory
 * blocks: dithering to 2, 16 and 256 colours, display on a device context,
 * printing, and transfer through the clipboard. Every function here is a plain
 * C function; the header serves C and C++ clients and needs nothing else of
 * the system.
 *
 * A DIB is a packed DIB in one block: a 40-byte BITMAPINFOHEADER, biClrUsed
 * RGBQUAD colour-table entries, then the pixel rows bottom-up, each padded to
 * a multiple of 4 bytes. Depths 1, 4, 8 and 24 bits, BI_RGB only, positive
 * height, width and height at most 65535, at 8 bits or less 1 to 2^depth
 * colour-table entries, at 24 bits none, biSizeImage 0 or row stride x height,
 * and a block at least as large as all of that. Anything else is refused with
 * 0 or a null handle. A handle passed in is only locked and unlocked; a handle
 * returned belongs to the caller, who frees it with GlobalFree.
 *
 * Device contexts. Rastrum brings its own small GDI layer with two kinds:
 *
 *   Memory device context: an RGB raster that starts white.
 *       HDC dc = RastrumCreateMemoryDC(width, height);
 *       ShowDib(dc, dib, 0, 0);
 *       RastrumSaveDCAsPng(dc, "picture.png");
 *       DeleteDC(dc);
 *
 *   Printer device context: its escapes STARTDOC, NEWFRAME and ENDDOC collect
 *   pages and write them as one PDF file; the page is given in device pixels at
 *   a resolution in dots per inch (A4 at 300 dpi is 2480 x 3508). The file
 *   appears, complete, when ENDDOC succeeds; a document that is aborted or whose
 *   device context is deleted before ENDDOC leaves no file.
 *       HDC printer = RastrumCreatePrinterDC("out.pdf", 2480, 3508, 300);
 *       PrintBitmap(printer, dib);
 *       DeleteDC(printer);
 *
 * The clipboard is one per process; CopyPictureToClipboard and
 * PastePictureFromClipboard use it, and so can the client through the Win32
 * calls below. All calls are safe with null or stale handles: they fail.
 *
 * Include it as <folioset/rastrum.h>; link with -lrastrum (pkg-config
 * rastrum) or the CMake target Folioset::rastrum. Plain C99 or any C++.
 * Errors: every call reports failure in its result alone (0, FALSE, null,
 * SP_ERROR, GDI_ERROR or CLR_INVALID as given below); nothing throws, and
 * there is no last-error call. Threads: the calls may be made from any
 * thread; a device context, palette or DIB is used by one thread at a
 * time, and the clipboard is held open by one owner at a time.
 */
#ifndef RASTRUM_H
#define RASTRUM_H

#define RASTRUM_API __attribute__((visibility("default")))
/* The Windows calling convention has no meaning on this platform. */
#define WINAPI

#ifdef RASTRUM_BUILDING
/* The library itself takes the records and the block calls from its platform
 * layer; clients get identical declarations below. */
#include "DibTypes.h"
#include "GlobalMemory.h"
#else
#include <stddef.h>
#include <stdint.h>

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef unsigned int UINT;
typedef int BOOL;
typedef size_t SIZE_T;
typedef void* HGLOBAL;

enum {
    GMEM_FIXED = 0x0000,
    GMEM_MOVEABLE = 0x0002,
    GMEM_ZEROINIT = 0x0040,
    GMEM_DISCARDABLE = 0x0100,
    GHND = 0x0042
};

#pragma pack(push, 1)
typedef struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
} BITMAPINFOHEADER;

typedef struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
} RGBQUAD;
#pragma pack(pop)

enum { BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3 };
#endif /* RASTRUM_BUILDING */

#ifdef __cplusplus
extern "C" {
#endif

typedef struct HDC__* HDC;
typedef struct HPALETTE__* HPALETTE;
typedef struct HWND__* HWND;
typedef void* HGDIOBJ;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef DWORD COLORREF; /* 0x00BBGGRR */

typedef struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
} BITMAPINFO;

typedef struct PALETTEENTRY {
    BYTE peRed;
    BYTE peGreen;
    BYTE peBlue;
    BYTE peFlags;
} PALETTEENTRY;

/* palNumEntries entries follow the header; allocate 4 + 4 x n bytes or more. */
typedef struct LOGPALETTE {
    WORD palVersion;
    WORD palNumEntries;
    PALETTEENTRY palPalEntry[1];
} LOGPALETTE;

#define CF_DIB 8
#define CF_PALETTE 9

#define NEWFRAME 1
#define ABORTDOC 2
#define QUERYESCSUPPORT 8
#define STARTDOC 10
#define ENDDOC 11
#define SP_ERROR (-1)

#define DIB_RGB_COLORS 0
#define DEFAULT_PALETTE 15
#define GDI_ERROR 0xFFFFFFFFu
#define CLR_INVALID 0xFFFFFFFFu

#define HORZRES 8
#define VERTRES 10
#define LOGPIXELSX 88
#define LOGPIXELSY 90

/* ---- The DIB library ---------------------------------------------------- */

/* Draws the DIB with the pixel x columns from the left and y rows from the
 * top at the device origin, clipped by the device. At 8 bits or less the DIB's
 * colour table is selected into the device context as a foreground palette and
 * realized for the drawing, and the previous palette selected back after.
 * 1 when drawn, 0 for a null, stale or refused DIB or device context. */
RASTRUM_API WORD WINAPI ShowDib(HDC dc, HGLOBAL dib, WORD x, WORD y);
/* The DIB library's interface version, 0x0100 (1.0); always succeeds. */
RASTRUM_API WORD WINAPI GetDibLibraryVersion(void);
/* A constant NUL-terminated notice; do not free or change it. */
RASTRUM_API LPCSTR WINAPI GetDibCopyright(void);

/* Black and white (1 bit) by ordered dithering of a tone-stretched grey
 * level. Sources of 4, 8 and 24 bits. A new DIB, or null. */
RASTRUM_API HGLOBAL WINAPI Dither2(HGLOBAL dib);
/* The eight corners of the colour cube in a 4-bit DIB by ordered dithering of
 * each component. Sources of 8 and 24 bits. A new DIB, or null. */
RASTRUM_API HGLOBAL WINAPI Dither16(HGLOBAL dib);
/* The 256-colour cube (index bits RRRGGGBB) in an 8-bit DIB by error
 * diffusion. Sources of 24 bits. A new DIB, or null. */
RASTRUM_API HGLOBAL WINAPI Dither256(HGLOBAL dib);

/* Prints the DIB unscaled at device position (20, 20) as a one-page document
 * on a printer device context the caller created. 1 when the page was printed
 * and the document ended, 0 otherwise. */
RASTRUM_API WORD WINAPI PrintBitmap(HDC printer, HGLOBAL dib);

/* Puts a copy of the DIB on the clipboard as CF_DIB with a CF_PALETTE palette
 * (the colour table at 8 bits or less, the 256-colour cube at 24 bits). The
 * caller keeps its DIB. 1 when both went to the clipboard, 0 otherwise. */
RASTRUM_API WORD WINAPI CopyPictureToClipboard(HWND owner, HGLOBAL dib);
/* A copy of the clipboard's CF_DIB, which the caller owns, or null. */
RASTRUM_API HGLOBAL WINAPI PastePictureFromClipboard(HWND owner);

/* ---- Global memory blocks ---------------------------------------------- */

/* The block calls of tiflib32.h, on the same blocks (see there): GlobalAlloc
 * gives a block the caller owns (0 to 2 GiB; null beyond or without memory),
 * GlobalLock its address (null for a refused handle; locks nest),
 * GlobalUnlock undoes one lock (nonzero while locks remain), GlobalFree frees
 * it (null when freed, the handle when refused), GlobalSize gives its size
 * (0 when refused). Safe from any thread. */

RASTRUM_API HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
RASTRUM_API void* GlobalLock(HGLOBAL block);
RASTRUM_API BOOL GlobalUnlock(HGLOBAL block);
RASTRUM_API HGLOBAL GlobalFree(HGLOBAL block);
RASTRUM_API SIZE_T GlobalSize(HGLOBAL block);

/* ---- Device contexts ------------------------------------------------------ */

/* A memory device context of width x height pixels (1 to 32767 each), white;
 * null when the size is out of range or cannot be allocated. */
RASTRUM_API HDC RastrumCreateMemoryDC(int width, int height);
/* Writes a memory device context's raster as an 8-bit RGB PNG file at
 * `path`. FALSE for another kind of device context, a null path or a file
 * that cannot be written. */
RASTRUM_API BOOL RastrumSaveDCAsPng(HDC dc, LPCSTR path);
/* A printer device context that writes its document to the PDF file at path.
 * The page is width x height device pixels (1 to 100000 each) at
 * dotsPerInch (1 to 10000). Nothing is written before STARTDOC. */
RASTRUM_API HDC RastrumCreatePrinterDC(LPCSTR path, int width, int height, int dotsPerInch);
/* Deletes either kind; an unfinished document is abandoned. */
RASTRUM_API BOOL DeleteDC(HDC dc);
/* HORZRES, VERTRES (pixels), LOGPIXELSX, LOGPIXELSY (dots per inch). */
RASTRUM_API int GetDeviceCaps(HDC dc, int index);
/* The colour of a memory device context's pixel, or CLR_INVALID. */
RASTRUM_API COLORREF GetPixel(HDC dc, int x, int y);

/* Win32 semantics: source rectangle from (xSrc, ySrc) counted from the DIB's
 * lower-left corner; bits holds scan lines startScan to startScan + lines - 1.
 * Returns the number of scan lines given, or 0. Only DIB_RGB_COLORS. */
RASTRUM_API int SetDIBitsToDevice(HDC dc, int xDest, int yDest, DWORD width, DWORD height, int xSrc,
                                  int ySrc, UINT startScan, UINT lines, const void* bits,
                                  const BITMAPINFO* info, UINT colorUse);
/* NEWFRAME, ABORTDOC, QUERYESCSUPPORT, STARTDOC (input: the document name and
 * its length), ENDDOC. Positive on success, SP_ERROR on failure, 0 when the
 * device does not know the escape. */
RASTRUM_API int Escape(HDC dc, int escape, int inputBytes, LPCSTR input, LPVOID output);

/* ---- Palettes -------------------------------------------------------------- */

/* A palette of the given entries (copied; the caller keeps `palette`),
 * which the caller deletes with DeleteObject; null for a null palette, a
 * palVersion other than 0x300, no entries, or without memory. */
RASTRUM_API HPALETTE CreatePalette(const LOGPALETTE* palette);
/* Returns the previously selected palette, or null. */
RASTRUM_API HPALETTE SelectPalette(HDC dc, HPALETTE palette, BOOL forceBackground);
/* Entries of the selected palette mapped, or GDI_ERROR. */
RASTRUM_API UINT RealizePalette(HDC dc);
/* With entries null, the palette's entry count. */
RASTRUM_API UINT GetPaletteEntries(HPALETTE palette, UINT start, UINT count, PALETTEENTRY* entries);
/* As in Win32, palettes are not selected with SelectObject (use SelectPalette):
 * this layer has no other objects, so the call returns null. */
RASTRUM_API HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
/* Refused (FALSE) while the palette is selected into a device context or held
 * by the clipboard. Stock objects are never deleted. */
RASTRUM_API BOOL DeleteObject(HGDIOBJ object);
/* DEFAULT_PALETTE, the stock palette (never deleted); null for anything
 * else. */
RASTRUM_API HGDIOBJ GetStockObject(int which);

/* ---- Clipboard ---------------------------------------------------------------- */

/* Fails while another owner or thread holds the clipboard open. */
RASTRUM_API BOOL OpenClipboard(HWND owner);
/* FALSE when the calling thread does not hold the clipboard open. */
RASTRUM_API BOOL CloseClipboard(void);
/* Frees every handle the clipboard holds; the opener becomes the owner. */
RASTRUM_API BOOL EmptyClipboard(void);
/* The clipboard must be open. On success the clipboard owns the handle (a
 * global block, or an HPALETTE for CF_PALETTE) and frees it when replaced or
 * emptied; on failure (null) the caller still owns it. */
RASTRUM_API void* SetClipboardData(UINT format, void* data);
/* The clipboard must be open; the handle stays the clipboard's. */
RASTRUM_API void* GetClipboardData(UINT format);
/* Whether the clipboard holds `format`; needs no open clipboard. */
RASTRUM_API BOOL IsClipboardFormatAvailable(UINT format);

#ifdef __cplusplus
}
#endif

#endif /* RASTRUM_H */
