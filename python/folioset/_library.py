# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# Loads libfoliolib.so.1 and declares the C entry points of foliolib.h that
# the package calls, with ctypes. ctypes drops the GIL for the length of
# every foreign call, so builds on several threads run at once; the
# diagnostic callback takes it back for each report.
from __future__ import annotations

import ctypes
import os

SONAME = "libfoliolib.so.1"

_INSTALL_HINT = (
    "folioset needs Foliolib 1.2 or later ({}): install the Debian package "
    "libfoliolib1 (apt install libfoliolib1), or set FOLIOSET_LIBRARY to the "
    "path of the library file"
)


class CDiagnostic(ctypes.Structure):
    _fields_ = [
        ("file", ctypes.c_char_p),
        ("line", ctypes.c_int),
        ("severity", ctypes.c_int),
        ("kind", ctypes.c_char_p),
        ("message", ctypes.c_char_p),
    ]


DIAGNOSTIC_CALLBACK = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.POINTER(CDiagnostic))
# FolioPageSink: context, page (from 1), packed rows, width, height; nonzero
# stops the build.
PAGE_SINK = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_int,
                             ctypes.POINTER(ctypes.c_ubyte), ctypes.c_int, ctypes.c_int)


class CBuildOptions(ctypes.Structure):
    _fields_ = [
        ("size", ctypes.c_uint),
        ("resolution", ctypes.c_int),
        ("pdfFile", ctypes.c_char_p),
        ("diagnostic", DIAGNOSTIC_CALLBACK),
        ("diagnosticContext", ctypes.c_void_p),
        ("strict", ctypes.c_int),
        ("coding", ctypes.c_int),
        ("includeRoot", ctypes.c_char_p),
        ("baseDir", ctypes.c_char_p),
        ("codePage", ctypes.c_int),
        ("macroName", ctypes.c_char_p),
        ("pageSize", ctypes.c_int),
        ("fields", ctypes.c_char_p),
        ("maxPages", ctypes.c_int),
        ("timeLimitMs", ctypes.c_int),
    ]


class CBuffer(ctypes.Structure):
    _fields_ = [("data", ctypes.POINTER(ctypes.c_ubyte)), ("size", ctypes.c_size_t)]


def _load() -> ctypes.CDLL:
    path = os.environ.get("FOLIOSET_LIBRARY") or SONAME
    try:
        lib = ctypes.CDLL(path)
    except OSError as e:
        raise ImportError(_INSTALL_HINT.format(f"{path}: {e}")) from e
    try:
        lib.BuildFaxWithOptions.argtypes = [
            ctypes.c_char_p,
            ctypes.c_char_p,
            ctypes.POINTER(CBuildOptions),
        ]
        lib.BuildFaxWithOptions.restype = ctypes.c_bool
        lib.BuildFaxInMemory.argtypes = [
            ctypes.c_char_p,
            ctypes.c_size_t,
            ctypes.POINTER(CBuildOptions),
            ctypes.POINTER(CBuffer),
            ctypes.POINTER(CBuffer),
        ]
        lib.BuildFaxInMemory.restype = ctypes.c_bool
        lib.BuildFaxPageBitmap.argtypes = [
            ctypes.c_char_p,
            ctypes.c_size_t,
            ctypes.POINTER(CBuildOptions),
            ctypes.c_int,
            ctypes.POINTER(CBuffer),
            ctypes.POINTER(ctypes.c_int),
            ctypes.POINTER(ctypes.c_int),
        ]
        lib.BuildFaxPageBitmap.restype = ctypes.c_bool
        lib.BuildFaxPageBitmaps.argtypes = [
            ctypes.c_char_p,
            ctypes.c_size_t,
            ctypes.POINTER(CBuildOptions),
            PAGE_SINK,
            ctypes.c_void_p,
        ]
        lib.BuildFaxPageBitmaps.restype = ctypes.c_bool
        lib.FolioStopBuild.argtypes = []
        lib.FolioStopBuild.restype = None
        lib.FolioBufferFree.argtypes = [ctypes.POINTER(CBuffer)]
        lib.FolioBufferFree.restype = None
        lib.BuildFaxLastError.argtypes = []
        lib.BuildFaxLastError.restype = ctypes.c_char_p
    except AttributeError as e:
        raise ImportError(_INSTALL_HINT.format(f"{path} is an older version: {e}")) from e
    return lib


lib = _load()


def take(buffer: CBuffer) -> bytes:
    """The bytes of a buffer the library filled, which is then freed."""
    try:
        return ctypes.string_at(buffer.data, buffer.size) if buffer.data else b""
    finally:
        lib.FolioBufferFree(ctypes.byref(buffer))
