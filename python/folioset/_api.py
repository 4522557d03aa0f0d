# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# The package's functions and classes over the C entry points: arguments are
# checked here, before the library is called, and the library's failures
# come back as BuildError. The docstrings are the package's manual.
from __future__ import annotations

import ctypes
import os
import re
import stat
import struct
import tempfile
import zlib
from dataclasses import dataclass
from typing import List, NamedTuple, Optional, Union

from . import _library
from ._library import CBuffer, CBuildOptions, CDiagnostic, DIAGNOSTIC_CALLBACK

PathLike = Union[str, "os.PathLike[str]", bytes, "os.PathLike[bytes]"]
Macro = Union[str, bytes, bytearray, memoryview, "os.PathLike[str]", "os.PathLike[bytes]"]

_RESOLUTIONS = {"fine": 0, "normal": 1}
_CODINGS = {"g3": 3, "g3-2d": 1, "g4": 2}
_SEVERITIES = ("note", "warning", "error")
# A macro file larger than this is refused, as the library refuses it.
_MAX_MACRO_BYTES = 512 << 20
_ANSI_CODE_PAGE, _UTF8_CODE_PAGE = 0, 65001


class Diagnostic(NamedTuple):
    """One thing a macro lost or could not do, at one line of the macro.

    file: the macro file's path as given, or None for a macro given as
    text or bytes. line: the 1-based macro line, 0 for the macro as a
    whole. severity: "note", "warning" or "error". kind: a short stable
    name such as "text-dropped", "file-missing", "file-refused",
    "line-cut". message: one line of English.

    ``str(d)`` reads as foliobuild prints it: ``FILE:LINE: warning: MESSAGE``.
    """

    file: Optional[str]
    line: int
    severity: str
    kind: str
    message: str

    def __str__(self) -> str:
        where = self.file if self.file is not None else "<macro>"
        if self.line:
            where += f":{self.line}"
        return f"{where}: {self.severity}: {self.message}"


class BuildError(Exception):
    """A macro could not be built (or, with strict=True, had a warning).

    message: one line naming the macro and the cause, as foliobuild prints
    it. line: the macro line where the build stopped, or None when the
    cause belongs to no line. diagnostics: the Diagnostic list reported up
    to the failure.
    """

    def __init__(self, message: str, line: Optional[int] = None,
                 diagnostics: Optional[List[Diagnostic]] = None) -> None:
        super().__init__(message)
        self.message = message
        self.line = line
        self.diagnostics: List[Diagnostic] = list(diagnostics or [])


@dataclass(frozen=True)
class _Request:
    """A macro's bytes and the options it is built with."""

    macro: bytes
    name: Optional[str]
    resolution: int
    coding: int
    code_page: int
    include_root: Optional[bytes]
    base_dir: Optional[bytes]
    strict: bool


class Fax:
    """A built fax: the TIFF bytes, the PDF bytes when asked, the pages.

    Made by build(); not meant to be constructed directly.

    tiff: the fax TIFF (TIFF Class F), byte for byte what foliobuild writes
    for the same macro and options. pdf: the PDF copy (bytes) when built
    with pdf=True, else None. pages: the number of pages. diagnostics: the
    Diagnostic list of the build.
    """

    def __init__(self, tiff: bytes, pdf: Optional[bytes], diagnostics: List[Diagnostic],
                 request: _Request) -> None:
        self.tiff: bytes = tiff
        self.pdf: Optional[bytes] = pdf
        self.diagnostics: List[Diagnostic] = diagnostics
        self.pages: int = _count_pages(tiff)
        self._request = request

    def __repr__(self) -> str:
        return (f"<folioset.Fax {self.pages} page{'s' if self.pages != 1 else ''}, "
                f"{len(self.tiff)} bytes TIFF{', PDF' if self.pdf is not None else ''}>")

    def save(self, path: PathLike) -> None:
        """Writes the TIFF to `path`, whole or not at all.

        As foliobuild writes: the bytes go to a temporary file in the same
        folder, synced to disk and renamed over `path`, and the folder is
        synced; a file that had the name keeps its permissions, a new file
        gets the umask's. A symbolic link is followed to the file it names.
        A character device or named pipe is written into, never replaced.
        Raises OSError when the file cannot be written; the earlier file is
        then left as it was.
        """
        _write_atomically(path, self.tiff)

    def save_pdf(self, path: PathLike) -> None:
        """Writes the PDF copy to `path` as save() writes the TIFF.

        Raises ValueError when the fax was built without pdf=True.
        """
        if self.pdf is None:
            raise ValueError("this fax was built without a PDF copy (build it with pdf=True)")
        _write_atomically(path, self.pdf)

    def png(self, page: int = 1) -> bytes:
        """Page `page` (1 for the first) as a 1-bit greyscale PNG image.

        The page as the macro draws it, at 204 x 196 dots per inch (also for
        resolution="normal", whose TIFF merges each pair of rows), like
        foliobuild --png. The library builds the macro again to draw the
        page, so included files are read again. Raises IndexError for a page
        the fax does not have, BuildError when the build fails now.
        """
        if isinstance(page, bool) or not isinstance(page, int):
            raise TypeError(f"page must be an int, not {type(page).__name__}")
        if not 1 <= page <= self.pages:
            raise IndexError(f"page {page} of a fax of {self.pages} page"
                             f"{'s' if self.pages != 1 else ''} (pages count from 1)")
        bitmap = CBuffer()
        width, height = ctypes.c_int(), ctypes.c_int()
        r = self._request
        options, _ = _options(r, collect=None)
        ok = _library.lib.BuildFaxPageBitmap(r.macro, len(r.macro), ctypes.byref(options), page,
                                             ctypes.byref(bitmap), ctypes.byref(width),
                                             ctypes.byref(height))
        if not ok:
            raise _error(r.name, [])
        rows = _library.take(bitmap)
        return _png(rows, width.value, height.value)


def build(macro: Macro, *, resolution: str = "fine", coding: str = "g3", pdf: bool = False,
          include_root: Optional[PathLike] = None, base_dir: Optional[PathLike] = None,
          strict: bool = False) -> Fax:
    """Builds a fax from a macro and returns it as a Fax.

    macro: the macro as text (str), as the bytes of a macro file (bytes,
    bytearray, memoryview), or a path to a macro file (pathlib.Path or any
    os.PathLike; a plain str is always macro text, never a path). Bytes and
    files are read exactly as foliobuild reads a macro file: lines end at LF
    or CR LF, a line longer than 499 bytes is read in parts, the text is in
    code page 1252 until a CODEPAGE command, nothing after END is read.
    Text (str) is encoded in code page 1252 when every character has a
    place there, which gives the bytes the macro would have as a Windows
    text file; otherwise it is encoded as UTF-8 and read as UTF-8 (code
    page 65001) from its first line. A CODEPAGE command in the text still
    switches the code page for the lines after it: give a macro that
    depends on one as bytes.

    resolution: "fine" (204 x 196 dpi) or "normal" (204 x 98 dpi, each pair
    of rows merged). coding: "g3" (CCITT Group 3 1-D, which every fax
    reader takes), "g3-2d" (Group 3 2-D) or "g4" (Group 4, smallest).
    pdf: also make the PDF copy (Fax.pdf). include_root: a folder that FILE
    commands may not read outside of (refused files are warnings of kind
    "file-refused"). base_dir: the folder relative FILE names are taken
    from (default: the current folder). strict: a warning fails the build.

    The GIL is released while the library builds: threads build at once.
    Raises BuildError when the macro cannot be built, TypeError or
    ValueError for arguments the library would not take (before it is
    called).
    """
    if not isinstance(pdf, bool):
        raise TypeError(f"pdf must be True or False, not {type(pdf).__name__}")
    request = _request(macro, resolution, coding, include_root, base_dir, strict)
    diagnostics: List[Diagnostic] = []
    options, keep = _options(request, diagnostics)
    tiff, pdf_buffer = CBuffer(), CBuffer()
    ok = _library.lib.BuildFaxInMemory(request.macro, len(request.macro),
                                       ctypes.byref(options), ctypes.byref(tiff),
                                       ctypes.byref(pdf_buffer) if pdf else None)
    del keep
    if not ok:
        raise _error(request.name, diagnostics)
    tiff_bytes = _library.take(tiff)
    pdf_bytes = _library.take(pdf_buffer) if pdf else None
    return Fax(tiff_bytes, pdf_bytes, diagnostics, request)


def check(macro: Macro, *, resolution: str = "fine", coding: str = "g3",
          include_root: Optional[PathLike] = None, base_dir: Optional[PathLike] = None,
          strict: bool = False) -> List[Diagnostic]:
    """Builds a macro without making a fax and returns its diagnostics.

    What foliobuild --check reports for the same macro, as Diagnostic
    values. Arguments as for build(). Raises BuildError when the macro
    cannot be built (with strict=True: when it has a warning).
    """
    request = _request(macro, resolution, coding, include_root, base_dir, strict)
    diagnostics: List[Diagnostic] = []
    options, keep = _options(request, diagnostics)
    ok = _library.lib.BuildFaxInMemory(request.macro, len(request.macro),
                                       ctypes.byref(options), None, None)
    del keep
    if not ok:
        raise _error(request.name, diagnostics)
    return diagnostics


def build_file(src: PathLike, dst: PathLike, *, resolution: str = "fine", coding: str = "g3",
               pdf: Union[bool, PathLike, None] = False, include_root: Optional[PathLike] = None,
               base_dir: Optional[PathLike] = None, strict: bool = False) -> List[Diagnostic]:
    """Builds the macro file `src` into the fax TIFF file `dst`.

    The library reads and writes the files itself, exactly as foliobuild
    does: `dst` appears whole or not at all, a device or pipe is written
    into. pdf: False or None for no PDF copy, True for `dst` with the
    suffix .pdf, or the path of the PDF file; the TIFF and the PDF are
    written both or neither. Other arguments as for build(). Returns the
    diagnostics; raises BuildError when nothing was written.
    """
    src_b, dst_b = _path_bytes(src, "src"), _path_bytes(dst, "dst")
    if pdf is True:
        pdf_b: Optional[bytes] = os.path.splitext(dst_b)[0] + b".pdf"
    elif pdf is False or pdf is None:
        pdf_b = None
    else:
        pdf_b = _path_bytes(pdf, "pdf")
    request = _Request(b"", os.fsdecode(src_b), _choice(resolution, _RESOLUTIONS, "resolution"),
                       _choice(coding, _CODINGS, "coding"), _ANSI_CODE_PAGE,
                       _optional_path(include_root, "include_root"),
                       _optional_path(base_dir, "base_dir"), _flag(strict, "strict"))
    diagnostics: List[Diagnostic] = []
    options, keep = _options(request, diagnostics)
    options.pdfFile = pdf_b
    ok = _library.lib.BuildFaxWithOptions(src_b, dst_b, ctypes.byref(options))
    del keep
    if not ok:
        raise _error(request.name, diagnostics)
    return diagnostics


# --- arguments ------------------------------------------------------------


def _choice(value: object, table: dict, name: str) -> int:
    if not isinstance(value, str):
        raise TypeError(f"{name} must be a str, not {type(value).__name__}")
    try:
        return table[value]
    except KeyError:
        raise ValueError(f"{name} must be one of {', '.join(map(repr, table))}, "
                         f"not {value!r}") from None


def _flag(value: object, name: str) -> bool:
    if not isinstance(value, bool):
        raise TypeError(f"{name} must be True or False, not {type(value).__name__}")
    return value


def _path_bytes(value: object, name: str) -> bytes:
    if not isinstance(value, (str, bytes, os.PathLike)):
        raise TypeError(f"{name} must be a path, not {type(value).__name__}")
    path = os.fsencode(value)
    if not path:
        raise ValueError(f"{name} is an empty path")
    if b"\0" in path:
        raise ValueError(f"{name} holds a NUL character")
    return path


def _optional_path(value: object, name: str) -> Optional[bytes]:
    return None if value is None else _path_bytes(value, name)


def _macro_bytes(macro: object) -> "tuple[bytes, Optional[str], int]":
    """The macro's bytes, its file name (None for text and bytes) and the
    code page the library starts reading it in."""
    if isinstance(macro, str):
        try:
            return macro.encode("cp1252"), None, _ANSI_CODE_PAGE
        except UnicodeEncodeError:
            pass
        try:
            return macro.encode("utf-8"), None, _UTF8_CODE_PAGE
        except UnicodeEncodeError as e:
            raise ValueError(f"the macro text cannot be encoded: {e.reason}") from None
    if isinstance(macro, (bytes, bytearray, memoryview)):
        return bytes(macro), None, _ANSI_CODE_PAGE
    if isinstance(macro, os.PathLike):
        path = os.fspath(macro)
        name = os.fsdecode(path)
        try:
            with open(path, "rb") as f:
                if os.fstat(f.fileno()).st_size > _MAX_MACRO_BYTES:
                    raise BuildError(f"{name}: the macro file is larger than 512 MiB")
                data = f.read(_MAX_MACRO_BYTES + 1)
        except IsADirectoryError:
            raise BuildError(f"{name}: cannot open the macro file: it is a directory") from None
        except OSError as e:
            raise BuildError(f"{name}: cannot open the macro file: {e.strerror}") from None
        if len(data) > _MAX_MACRO_BYTES:
            raise BuildError(f"{name}: the macro file is larger than 512 MiB")
        return data, name, _ANSI_CODE_PAGE
    raise TypeError("macro must be str (text), bytes or a path (os.PathLike), not "
                    f"{type(macro).__name__}")


def _request(macro: object, resolution: object, coding: object, include_root: object,
             base_dir: object, strict: object) -> _Request:
    # Arguments first, so that a wrong one never costs reading a file.
    res = _choice(resolution, _RESOLUTIONS, "resolution")
    cod = _choice(coding, _CODINGS, "coding")
    root = _optional_path(include_root, "include_root")
    base = _optional_path(base_dir, "base_dir")
    strict_flag = _flag(strict, "strict")
    data, name, code_page = _macro_bytes(macro)
    return _Request(data, name, res, cod, code_page, root, base, strict_flag)


def _options(r: _Request, collect: Optional[List[Diagnostic]]):
    """The C options for `r`, and what must live as long as the call."""
    options = CBuildOptions()
    options.size = ctypes.sizeof(CBuildOptions)
    options.resolution = r.resolution
    options.strict = int(r.strict)
    options.coding = r.coding
    options.includeRoot = r.include_root
    options.baseDir = r.base_dir
    options.codePage = r.code_page
    options.macroName = os.fsencode(r.name) if r.name is not None else None
    callback = None
    if collect is not None:
        def report(_context: object, d: "ctypes._Pointer[CDiagnostic]") -> None:
            c = d.contents
            collect.append(Diagnostic(
                r.name, int(c.line),
                _SEVERITIES[c.severity] if 0 <= c.severity < 3 else str(c.severity),
                _text(c.kind), _text(c.message)))

        callback = DIAGNOSTIC_CALLBACK(report)
        options.diagnostic = callback
    return options, callback


def _text(raw: Optional[bytes]) -> str:
    # Messages quote macro text in its own code page; bytes that are not
    # UTF-8 are kept as escapes rather than lost.
    return raw.decode("utf-8", "backslashreplace") if raw else ""


def _error(name: Optional[str], diagnostics: List[Diagnostic]) -> BuildError:
    message = _text(_library.lib.BuildFaxLastError()) or "the build failed"
    spelled = name if name is not None else "<macro>"
    line = None
    m = re.match(re.escape(spelled) + r":(\d+): ", message)
    if m:
        line = int(m.group(1))
    return BuildError(message, line, diagnostics)


# --- output ---------------------------------------------------------------


def _count_pages(tiff: bytes) -> int:
    """The number of images (directories) in a TIFF."""
    if len(tiff) < 8 or tiff[:2] not in (b"II", b"MM"):
        return 0
    order = "<" if tiff[:2] == b"II" else ">"
    offset = struct.unpack_from(order + "I", tiff, 4)[0]
    pages, seen = 0, set()
    while offset and offset not in seen and offset + 2 <= len(tiff):
        seen.add(offset)
        entries = struct.unpack_from(order + "H", tiff, offset)[0]
        pages += 1
        end = offset + 2 + 12 * entries
        if end + 4 > len(tiff):
            break
        offset = struct.unpack_from(order + "I", tiff, end)[0]
    return pages


def _png(rows: bytes, width: int, height: int) -> bytes:
    """A 1-bit greyscale PNG of `rows` ((width + 7) // 8 bytes each, a set
    bit black). PNG takes a set bit as white, so every byte is inverted;
    the bits past the last pixel of a row are ignored by readers."""
    stride = (width + 7) // 8
    invert = bytes(255 - b for b in range(256))
    raw = bytearray()
    for y in range(height):
        raw.append(0)  # filter type None
        raw += rows[y * stride:(y + 1) * stride].translate(invert)

    def chunk(kind: bytes, data: bytes) -> bytes:
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 1, 0, 0, 0, 0))
            # 204 x 196 dots per inch in pixels per metre.
            + chunk(b"pHYs", struct.pack(">IIB", 8031, 7717, 1))
            + chunk(b"IDAT", zlib.compress(bytes(raw), 6))
            + chunk(b"IEND", b""))


def _umask() -> int:
    # Read, not set and set back: os.umask is process-wide and would race
    # with other threads creating files.
    try:
        with open("/proc/self/status", "rb") as f:
            for line in f:
                if line.startswith(b"Umask:"):
                    return int(line.split()[1], 8)
    except (OSError, ValueError):
        pass
    return 0o022


def _write_atomically(path: PathLike, data: bytes) -> None:
    target = os.path.realpath(_path_bytes(path, "path"))
    try:
        st: Optional[os.stat_result] = os.stat(target)
    except FileNotFoundError:
        st = None
    if st is not None and (stat.S_ISCHR(st.st_mode) or stat.S_ISFIFO(st.st_mode)):
        with open(target, "wb") as f:
            f.write(data)
        return
    if st is not None and not stat.S_ISREG(st.st_mode):
        raise IsADirectoryError(21 if stat.S_ISDIR(st.st_mode) else 22,
                                "only files, character devices and pipes are written",
                                os.fsdecode(target))
    folder, name = os.path.split(target)
    fd, temporary = tempfile.mkstemp(prefix=b"." + name + b".", suffix=b".part", dir=folder)
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data)
            f.flush()
            os.fchmod(f.fileno(), stat.S_IMODE(st.st_mode) if st is not None
                      else 0o666 & ~_umask())
            os.fsync(f.fileno())
        os.replace(temporary, target)
    except BaseException:
        try:
            os.unlink(temporary)
        except OSError:
            pass
        raise
    folder_fd = os.open(folder, os.O_RDONLY | os.O_DIRECTORY)
    try:
        os.fsync(folder_fd)
    finally:
        os.close(folder_fd)
