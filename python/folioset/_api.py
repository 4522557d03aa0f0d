# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# The package's functions and classes over the C entry points: arguments are
# checked here, before the library is called; the library's failures come
# back as BuildError, missing files and folders as OSError. An exception
# raised while the library calls back (Ctrl-C above all) stops the build and
# is raised when the call returns. The docstrings are the package's manual.
from __future__ import annotations

import codecs
import ctypes
import dataclasses
import errno
import fcntl
import json
import os
import re
import stat
import struct
import sys
import tempfile
import zlib
from dataclasses import dataclass
from typing import (IO, Any, Iterable, Iterator, List, Literal, Mapping, NamedTuple, Optional,
                    Union)

from . import _library
from ._library import CBuffer, CBuildOptions, CDiagnostic, DIAGNOSTIC_CALLBACK, PAGE_SINK

PathLike = Union[str, "os.PathLike[str]", bytes, "os.PathLike[bytes]"]
Macro = Union[str, bytes, bytearray, memoryview, "os.PathLike[str]", "os.PathLike[bytes]",
              IO[bytes]]
Resolution = Literal["fine", "normal"]
Coding = Literal["g3", "g3-2d", "g4"]
PageSize = Literal["default", "a4", "letter", "legal"]

_RESOLUTIONS = {"fine": 0, "normal": 1}
_CODINGS = {"g3": 3, "g3-2d": 1, "g4": 2}
# FOLIO_PAGE_*; rows at fine resolution: 2200, 2286, 2151, 2738.
_PAGE_SIZES = {"default": 0, "a4": 1, "letter": 2, "legal": 3}
_SEVERITIES = ("note", "warning", "error")
# A macro file larger than this is refused, as the library refuses it.
_MAX_MACRO_BYTES = 512 << 20
_ANSI_CODE_PAGE, _UTF8_CODE_PAGE = 0, 65001


class Diagnostic(NamedTuple):
    """One thing a macro lost or could not do, at one line of the macro.

    file: the macro's name: name= when given, else the macro file's path
    as given (or a file object's name), else None for a macro given as
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
    page: int = 0
    fields: Optional[bytes] = None
    max_pages: int = 0  # 0: the library's own limit
    time_limit_ms: int = 0  # 0: none


# --- calls back from the library --------------------------------------------


class _Callback:
    """What the library calls back during one build, on the building thread.

    An exception raised in the callback (a KeyboardInterrupt when Ctrl-C
    arrives while the library builds) would be printed and dropped by
    ctypes; the first one is kept here instead, the build is stopped
    (FolioStopBuild) and raise_kept() raises it once the call has
    returned. A signal that is pending when ctypes enters the callback is
    raised before its first line, outside any try: _unraisable catches that
    one from sys.unraisablehook, which ctypes calls before it returns to
    the library.
    """

    def __init__(self) -> None:
        self.kept: Optional[BaseException] = None
        _install_unraisable_hook()

    def fail(self, error: BaseException, argument: object) -> None:
        if self.kept is None:
            self.kept = error
        _library.lib.FolioStopBuild()

    def raise_kept(self) -> None:
        if self.kept is not None:
            kept, self.kept = self.kept, None
            raise kept


class _Diagnostics(_Callback):
    """Collects a build's diagnostics as Diagnostic values."""

    def __init__(self, name: Optional[str]) -> None:
        super().__init__()
        self.name = name
        self.list: List[Diagnostic] = []
        self._recorded: object = None
        self.function = DIAGNOSTIC_CALLBACK(self.report)

    def report(self, _context: object, d: "ctypes._Pointer[CDiagnostic]") -> None:
        try:
            self._record(d)
        except BaseException as e:  # noqa: B036 - kept and raised after the call
            self.fail(e, d)

    def _record(self, d: "ctypes._Pointer[CDiagnostic]") -> None:
        c = d.contents
        diagnostic = Diagnostic(
            self.name, int(c.line),
            _SEVERITIES[c.severity] if 0 <= c.severity < 3 else str(c.severity),
            _text(c.kind), _text(c.message))
        # Marked before the append, which the interpreter cannot interrupt,
        # so that a signal right after it does not record the report twice.
        self._recorded = d
        self.list.append(diagnostic)

    def fail(self, error: BaseException, argument: object) -> None:
        # The diagnostic the exception interrupted is kept before it.
        if argument is not None and argument is not self._recorded:
            try:
                self._record(argument)  # type: ignore[arg-type]
            except BaseException:  # noqa: B036 - a second Ctrl-C: the first is kept
                pass
        super().fail(error, argument)


class _Pages(_Callback):
    """Receives every page's pixels from BuildFaxPageBitmaps as PNG bytes."""

    def __init__(self, wanted: Optional[set]) -> None:
        super().__init__()
        self.wanted = wanted
        self.pngs: dict = {}
        self.done = False
        self.function = PAGE_SINK(self.report)

    def report(self, _context: object, page: int, rows: object, width: int, height: int) -> int:
        try:
            if self.wanted is None or page in self.wanted:
                size = (width + 7) // 8 * height
                self.pngs[page] = _png(ctypes.string_at(rows, size), width, height)
            # The pages after the last one wanted are not drawn.
            self.done = self.wanted is not None and len(self.pngs) == len(self.wanted)
            return int(self.done)
        except BaseException as e:  # noqa: B036 - kept and raised after the call
            self.fail(e, None)
            return 1


def _unraisable(unraisable: object) -> bool:
    """Takes an exception that escaped one of this package's callbacks."""
    error = getattr(unraisable, "exc_value", None)
    if error is None:
        return False
    # Python 3.12 names the callback (the bound method) as the object;
    # 3.13 gives only a message. Either way the callback's own frame is in
    # the traceback, with its arguments bound before its first line runs:
    # the owner and the diagnostic it was given are found there.
    owner = getattr(getattr(unraisable, "object", None), "__self__", None)
    argument = None
    tb = getattr(unraisable, "exc_traceback", None)
    while tb is not None:
        frame = tb.tb_frame
        candidate = owner if isinstance(owner, _Callback) else frame.f_locals.get("self")
        if isinstance(candidate, _Callback) and frame.f_code is type(candidate).report.__code__:
            owner = candidate
            argument = frame.f_locals.get("d")
        tb = tb.tb_next
    if not isinstance(owner, _Callback):
        return False
    owner.fail(error, argument)
    return True


class _UnraisableHook:
    """sys.unraisablehook: this package's callbacks first, the rest to the
    hook that was there before."""

    def __init__(self, previous) -> None:  # type: ignore[no-untyped-def]
        self.previous = previous

    def __call__(self, unraisable: object) -> None:
        if not _unraisable(unraisable):
            self.previous(unraisable)


def _install_unraisable_hook() -> None:
    # Checked at each build: a test runner or the application may have set
    # a hook of its own since; ours goes in front of it.
    if not isinstance(sys.unraisablehook, _UnraisableHook):
        sys.unraisablehook = _UnraisableHook(sys.unraisablehook)


# --- the fax ------------------------------------------------------------------


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

    def save(self, target: Union[PathLike, IO[bytes]]) -> None:
        """Writes the TIFF to `target`, a path or a binary file object.

        A path is written whole or not at all, as foliobuild writes: the
        bytes go to an unnamed temporary file in the same folder (a hidden
        ``.NAME.*.part`` file where the file system has no unnamed files,
        which the next save of the same name removes if a killed process
        left it), synced to disk and renamed over the path, and the folder
        is synced; a file that had the name keeps its permissions, a new
        file gets the umask's. A symbolic link is followed to the file it
        names. A character device or named pipe is written into, never
        replaced. An object with a write() method (a file opened "wb", a
        BytesIO, a socket's makefile("wb")) gets the bytes written into it
        at its position; it is neither flushed nor closed.
        Raises OSError, naming the path given, when the file cannot be
        written; the earlier file is then left as it was.
        """
        _save(target, self.tiff)

    def save_pdf(self, target: Union[PathLike, IO[bytes]]) -> None:
        """Writes the PDF copy to `target` as save() writes the TIFF.

        Raises ValueError when the fax was built without pdf=True.
        """
        if self.pdf is None:
            raise ValueError("this fax was built without a PDF copy (build it with pdf=True)")
        _save(target, self.pdf)

    def png(self, page: int = 1) -> bytes:
        """Page `page` (1 for the first) as a 1-bit greyscale PNG image.

        The page as the macro draws it, at 204 x 196 dots per inch (also for
        resolution="normal", whose TIFF merges each pair of rows), like
        foliobuild --png. The library builds the macro again to draw the
        page, so included files are read again: for previews of several
        pages, pngs() builds once for all of them. Raises IndexError for a
        page the fax does not have, BuildError when the build fails now.
        """
        self._check_page(page)
        bitmap = CBuffer()
        width, height = ctypes.c_int(), ctypes.c_int()
        r = self._request
        options = _options(r, None)
        ok = _library.lib.BuildFaxPageBitmap(r.macro, len(r.macro), ctypes.byref(options), page,
                                             ctypes.byref(bitmap), ctypes.byref(width),
                                             ctypes.byref(height))
        if not ok:
            raise _error(r.name, [])
        rows = _library.take(bitmap)
        return _png(rows, width.value, height.value)

    def pngs(self, pages: Optional[Iterable[int]] = None) -> List[bytes]:
        """Previews of several pages, as png() makes them, from one build.

        pages: the page numbers (from 1), in the order wanted; None for
        every page. Returns one PNG (bytes) for each, in that order. The
        macro is built once whatever the number of pages (png() builds it
        once a page), and only the pages asked for are turned into PNG
        images; nothing is kept after the call. Raises IndexError for a
        page the fax does not have, BuildError when the build fails now.
        """
        wanted = list(range(1, self.pages + 1)) if pages is None else list(pages)
        for page in wanted:
            self._check_page(page)
        if not wanted:
            return []
        r = self._request
        options = _options(r, None)
        sink = _Pages(set(wanted))
        ok = _library.lib.BuildFaxPageBitmaps(r.macro, len(r.macro), ctypes.byref(options),
                                              sink.function, None)
        sink.raise_kept()
        if not ok and not sink.done:
            raise _error(r.name, [])
        try:
            return [sink.pngs[page] for page in wanted]
        except KeyError:
            raise BuildError(f"{r.name or '<macro>'}: the build gave fewer pages than before "
                             "(an included file changed)") from None

    def _check_page(self, page: object) -> None:
        if isinstance(page, bool) or not isinstance(page, int):
            raise TypeError(f"page must be an int, not {type(page).__name__}")
        if not 1 <= page <= self.pages:
            raise IndexError(f"page {page} of a fax of {self.pages} page"
                             f"{'s' if self.pages != 1 else ''} (pages count from 1)")


def build(macro: Macro, *, resolution: Resolution = "fine", coding: Coding = "g3",
          pdf: bool = False, include_root: Optional[PathLike] = None,
          base_dir: Optional[PathLike] = None, strict: bool = False,
          name: Optional[str] = None, code_page: Optional[int] = None,
          page: PageSize = "default",
          fields: Optional[Mapping[str, Any]] = None,
          max_pages: Optional[int] = None, time_limit_ms: Optional[int] = None) -> Fax:
    """Builds a fax from a macro and returns it as a Fax.

    macro: the macro as text (str), as the bytes of a macro file (bytes,
    bytearray, memoryview), a binary file object (anything with a read()
    method that returns bytes: an open file, io.BytesIO, a request body),
    read to its end, or a path to a macro file (pathlib.Path or any
    os.PathLike; a plain str is always macro text, never a path). Bytes and
    files are read exactly as foliobuild reads a macro file: lines end at LF
    or CR LF, a line longer than 499 bytes is read in parts, the text is in
    code page 1252 (or code_page) until a CODEPAGE command, nothing after
    END is read. Text (str) is encoded in code page 1252 when every
    character has a place there, which gives the bytes the macro would have
    as a Windows text file; otherwise it is encoded as UTF-8 and read as
    UTF-8 (code page 65001) from its first line. A CODEPAGE command in the
    text still switches the code page for the lines after it: give a macro
    that depends on one as bytes.

    resolution: "fine" (204 x 196 dpi) or "normal" (204 x 98 dpi, each pair
    of rows merged). coding: "g3" (CCITT Group 3 1-D, which every fax
    reader takes), "g3-2d" (Group 3 2-D) or "g4" (Group 4, smallest).
    pdf: also make the PDF copy (Fax.pdf). include_root: a folder that FILE
    commands may not read outside of (refused files are warnings of kind
    "file-refused"). base_dir: the folder relative FILE names are taken
    from (default: the current folder). strict: a warning fails the build.
    name: what the macro is called in diagnostics (Diagnostic.file) and
    errors; default: the path or the file object's name, else "<macro>".
    code_page: the code page (0 to 65535; 0 is 1252, 65001 UTF-8) the macro
    is read in until a CODEPAGE command; text (str) is then encoded in it.
    Default: 1252, or UTF-8 for text that 1252 cannot hold.
    page: the paper, until a PAGE command in the macro changes it: "a4"
    (2286 rows; most of the world), "letter" (2151) or "legal" (2738; both
    North America), or "default" (2200 rows, the length of earlier
    releases, which matches no paper). Rows at 204 x 196 dpi; "normal"
    resolution has half as many, rounded down. Every page is 1728 pixels
    wide.
    fields: makes the macro a template whose fields {{name}} are filled
    from this mapping (a dict, as json.loads gives it): str values are set
    as they are, numbers and True/False as their JSON text, None as no
    value, nested mappings as {{outer.inner}}. A value is always set as
    text, never read as a command; a field without a value is a
    "field-missing" warning. None (the default): the macro is read as it
    stands, {{ and all.
    max_pages: the most pages the fax may have (1 or more); a page break
    past it fails the build with BuildError ("The fax has more than N
    pages"). None: the library's own limit of 4,000. For macros written by
    others, as a server builds them.
    time_limit_ms: the longest the build may take, in milliseconds (1 or
    more); past it the build stops before its next macro line and raises
    BuildError ("stopped: the build took longer than its limit of N ms").
    None: no limit. The library of release 1.2.0 has neither and refuses
    them with BuildError; without them it builds as before.

    The GIL is released while the library builds: threads build at once.
    Raises BuildError when the macro cannot be built; FileNotFoundError,
    IsADirectoryError, NotADirectoryError (OSError, with errno and filename)
    when the macro file, base_dir or include_root is missing or is not the
    kind of file it should be; TypeError or ValueError for arguments the
    library would not take, such as a code page it does not know. An
    exception raised while the library builds (KeyboardInterrupt on
    Ctrl-C) stops the build and is raised as it is.
    """
    if not isinstance(pdf, bool):
        raise TypeError(f"pdf must be True or False, not {type(pdf).__name__}")
    record = _fields(fields)
    request = _request(macro, resolution, coding, include_root, base_dir, strict, name,
                       code_page, page, max_pages, time_limit_ms)
    if record is not None:
        request = dataclasses.replace(request, fields=record)
    return _build(request, pdf)


def _build(request: _Request, pdf: bool) -> Fax:
    diagnostics = _Diagnostics(request.name)
    options = _options(request, diagnostics)
    tiff, pdf_buffer = CBuffer(), CBuffer()
    ok = _library.lib.BuildFaxInMemory(request.macro, len(request.macro),
                                       ctypes.byref(options), ctypes.byref(tiff),
                                       ctypes.byref(pdf_buffer) if pdf else None)
    if ok:
        tiff_bytes = _library.take(tiff)
        pdf_bytes = _library.take(pdf_buffer) if pdf else None
    diagnostics.raise_kept()
    if not ok:
        raise _error(request.name, diagnostics.list)
    return Fax(tiff_bytes, pdf_bytes, diagnostics.list, request)


def build_many(template: Macro, records: Iterable[Mapping[str, Any]], *,
               resolution: Resolution = "fine", coding: Coding = "g3", pdf: bool = False,
               include_root: Optional[PathLike] = None, base_dir: Optional[PathLike] = None,
               strict: bool = False, name: Optional[str] = None,
               code_page: Optional[int] = None,
               page: PageSize = "default", max_pages: Optional[int] = None,
               time_limit_ms: Optional[int] = None) -> Iterator[Fax]:
    """Builds one fax per record of `records` from the template `template`.

    A mail merge: yields a Fax for each record (a mapping, as for build()'s
    fields), in order. The template and the arguments are read and checked
    at the call (errors as for build()); the records are taken one at a
    time and each fax is built only when the iterator gets to it, so a long
    iterable (a generator, csv.DictReader) never needs to be in memory. A
    record that is not a mapping raises TypeError, one that cannot be built
    BuildError, from the iterator when it gets there: the faxes before it
    have been yielded, and the records after it can be built by calling
    build_many on the rest of the iterable. max_pages and time_limit_ms
    apply to each fax on its own.
    """
    if not isinstance(pdf, bool):
        raise TypeError(f"pdf must be True or False, not {type(pdf).__name__}")
    request = _request(template, resolution, coding, include_root, base_dir, strict, name,
                       code_page, page, max_pages, time_limit_ms)
    iterator = iter(records)

    def faxes() -> Iterator[Fax]:
        for record in iterator:
            if not isinstance(record, Mapping):
                raise TypeError(f"a record must be a mapping (dict), not {type(record).__name__}")
            fields = _fields(record)
            yield _build(dataclasses.replace(request, fields=fields), pdf)

    return faxes()


def _fields(value: object) -> Optional[bytes]:
    """A template's record as the JSON object text the library reads."""
    if value is None:
        return None
    if not isinstance(value, Mapping):
        raise TypeError(f"fields must be a mapping (dict), not {type(value).__name__}")
    try:
        # ensure_ascii: only \u escapes, so that a lone surrogate in a str
        # cannot make bytes that are no UTF-8.
        return json.dumps(value, ensure_ascii=True, allow_nan=False).encode("ascii")
    except (TypeError, ValueError) as e:
        raise TypeError(f"fields cannot be written as JSON: {e}") from None


def check(macro: Macro, *, resolution: Resolution = "fine", coding: Coding = "g3",
          include_root: Optional[PathLike] = None, base_dir: Optional[PathLike] = None,
          strict: bool = False, name: Optional[str] = None,
          code_page: Optional[int] = None, page: PageSize = "default",
          max_pages: Optional[int] = None,
          time_limit_ms: Optional[int] = None) -> List[Diagnostic]:
    """Builds a macro without making a fax and returns its diagnostics.

    What foliobuild --check reports for the same macro, as Diagnostic
    values. Arguments and exceptions as for build(); BuildError when the
    macro cannot be built (with strict=True: when it has a warning).
    """
    request = _request(macro, resolution, coding, include_root, base_dir, strict, name,
                       code_page, page, max_pages, time_limit_ms)
    diagnostics = _Diagnostics(request.name)
    options = _options(request, diagnostics)
    ok = _library.lib.BuildFaxInMemory(request.macro, len(request.macro),
                                       ctypes.byref(options), None, None)
    diagnostics.raise_kept()
    if not ok:
        raise _error(request.name, diagnostics.list)
    return diagnostics.list


def build_file(src: PathLike, dst: PathLike, *, resolution: Resolution = "fine",
               coding: Coding = "g3", pdf: Union[bool, PathLike, None] = False,
               include_root: Optional[PathLike] = None, base_dir: Optional[PathLike] = None,
               strict: bool = False, page: PageSize = "default",
               max_pages: Optional[int] = None,
               time_limit_ms: Optional[int] = None) -> List[Diagnostic]:
    """Builds the macro file `src` into the fax TIFF file `dst`.

    The library reads and writes the files itself, exactly as foliobuild
    does: `dst` appears whole or not at all, a device or pipe is written
    into. pdf: False or None for no PDF copy, True for `dst` with the
    suffix .pdf, or the path of the PDF file; the TIFF and the PDF are
    written both or neither. Other arguments as for build(). Returns the
    diagnostics; raises BuildError when nothing was written, and
    FileNotFoundError or IsADirectoryError when `src` is missing or a
    folder (and as build() for the folders).
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
                       _folder(include_root, "include_root"),
                       _folder(base_dir, "base_dir"), _flag(strict, "strict"),
                       _choice(page, _PAGE_SIZES, "page"),
                       max_pages=_limit(max_pages, "max_pages"),
                       time_limit_ms=_limit(time_limit_ms, "time_limit_ms"))
    try:
        src_mode = os.stat(src_b).st_mode
    except OSError as e:
        raise type(e)(e.errno, e.strerror, os.fsdecode(src_b)) from None
    if stat.S_ISDIR(src_mode):
        raise IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR), os.fsdecode(src_b))
    diagnostics = _Diagnostics(request.name)
    options = _options(request, diagnostics)
    options.pdfFile = pdf_b
    ok = _library.lib.BuildFaxWithOptions(src_b, dst_b, ctypes.byref(options))
    diagnostics.raise_kept()
    if not ok:
        raise _error(request.name, diagnostics.list)
    return diagnostics.list


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


def _folder(value: object, name: str) -> Optional[bytes]:
    """A folder argument, which must exist: a missing one is the caller's
    configuration, reported as OSError rather than as the macro's fault."""
    path = _optional_path(value, name)
    if path is None:
        return None
    try:
        mode = os.stat(path).st_mode
    except OSError as e:
        raise type(e)(e.errno, e.strerror, os.fsdecode(path)) from None
    if not stat.S_ISDIR(mode):
        raise NotADirectoryError(errno.ENOTDIR, os.strerror(errno.ENOTDIR), os.fsdecode(path))
    return path


def _limit(value: object, name: str) -> int:
    """A limit argument as the C field takes it: 0 for None (no limit of
    the caller's), else a whole number of 1 to 2**31 - 1."""
    if value is None:
        return 0
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"{name} must be an int or None, not {type(value).__name__}")
    if not 1 <= value <= 0x7FFFFFFF:
        raise ValueError(f"{name} must be 1 to {0x7FFFFFFF}, not {value}")
    return value


def _code_page(value: object) -> Optional[int]:
    if value is None:
        return None
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"code_page must be an int, not {type(value).__name__}")
    if not 0 <= value <= 0xFFFF:
        raise ValueError(f"code_page must be 0 to 65535, not {value}")
    return value


def _encode(text: str, code_page: Optional[int]) -> "tuple[bytes, int]":
    """Macro text as bytes, and the code page the library reads them in."""
    if code_page is None:
        try:
            return text.encode("cp1252"), _ANSI_CODE_PAGE
        except UnicodeEncodeError:
            pass
        try:
            return text.encode("utf-8"), _UTF8_CODE_PAGE
        except UnicodeEncodeError as e:
            raise ValueError(f"the macro text cannot be encoded: {e.reason}") from None
    codec = {0: "cp1252", _UTF8_CODE_PAGE: "utf-8"}.get(code_page, f"cp{code_page}")
    try:
        codecs.lookup(codec)
        return text.encode(codec), code_page
    except LookupError:
        raise ValueError(f"Python cannot encode text in code page {code_page}: "
                         "give the macro as bytes") from None
    except UnicodeEncodeError as e:
        raise ValueError(f"the macro text cannot be encoded in code page {code_page}: "
                         f"{e.reason}") from None


def _read_limited(read, name: Optional[str]) -> bytes:  # type: ignore[no-untyped-def]
    data = read(_MAX_MACRO_BYTES + 1)
    if not isinstance(data, (bytes, bytearray, memoryview)):
        raise TypeError("a macro file object must be binary (read() returning bytes), not "
                        f"one whose read() returns {type(data).__name__}")
    if len(data) > _MAX_MACRO_BYTES:
        raise BuildError(f"{name or '<macro>'}: the macro file is larger than 512 MiB")
    return bytes(data)


def _macro_bytes(macro: object, code_page: Optional[int]) -> "tuple[bytes, Optional[str], int]":
    """The macro's bytes, its name (None for text and bytes) and the code
    page the library starts reading it in."""
    given = code_page if code_page is not None else _ANSI_CODE_PAGE
    if isinstance(macro, str):
        data, used = _encode(macro, code_page)
        return data, None, used
    if isinstance(macro, (bytes, bytearray, memoryview)):
        return bytes(macro), None, given
    if isinstance(macro, os.PathLike):
        path = os.fspath(macro)
        name = os.fsdecode(path)
        # A missing file or a folder raises OSError as open() raises it.
        with open(path, "rb") as f:
            if os.fstat(f.fileno()).st_size > _MAX_MACRO_BYTES:
                raise BuildError(f"{name}: the macro file is larger than 512 MiB")
            return _read_limited(f.read, name), name, given
    read = getattr(macro, "read", None)
    if callable(read):
        file_name = getattr(macro, "name", None)
        name = file_name if isinstance(file_name, str) else None
        return _read_limited(read, name), name, given
    raise TypeError("macro must be str (text), bytes, a path (os.PathLike) or a binary file "
                    f"object, not {type(macro).__name__}")


def _request(macro: object, resolution: object, coding: object, include_root: object,
             base_dir: object, strict: object, name: object = None,
             code_page: object = None, page: object = "default", max_pages: object = None,
             time_limit_ms: object = None) -> _Request:
    # Arguments first, so that a wrong one never costs reading a file.
    res = _choice(resolution, _RESOLUTIONS, "resolution")
    paper = _choice(page, _PAGE_SIZES, "page")
    cod = _choice(coding, _CODINGS, "coding")
    strict_flag = _flag(strict, "strict")
    most_pages = _limit(max_pages, "max_pages")
    most_ms = _limit(time_limit_ms, "time_limit_ms")
    if name is not None and not isinstance(name, str):
        raise TypeError(f"name must be a str, not {type(name).__name__}")
    if name is not None and "\0" in name:
        raise ValueError("name holds a NUL character")
    page = _code_page(code_page)
    root = _folder(include_root, "include_root")
    base = _folder(base_dir, "base_dir")
    data, found_name, used_page = _macro_bytes(macro, page)
    return _Request(data, name if name is not None else found_name, res, cod, used_page, root,
                    base, strict_flag, paper, max_pages=most_pages, time_limit_ms=most_ms)


def _options(r: _Request, diagnostics: Optional[_Diagnostics]) -> CBuildOptions:
    """The C options for `r`; `diagnostics` must live as long as the call."""
    options = CBuildOptions()
    # Without limits the structure is given as 1.2.0's library knows it
    # (up to `fields`), so that such a library still builds.
    limited = r.max_pages or r.time_limit_ms
    options.size = ctypes.sizeof(CBuildOptions) if limited else CBuildOptions.maxPages.offset
    options.resolution = r.resolution
    options.strict = int(r.strict)
    options.coding = r.coding
    options.includeRoot = r.include_root
    options.baseDir = r.base_dir
    options.codePage = r.code_page
    options.macroName = os.fsencode(r.name) if r.name is not None else None
    options.pageSize = r.page
    options.fields = r.fields
    options.maxPages = r.max_pages
    options.timeLimitMs = r.time_limit_ms
    if diagnostics is not None:
        options.diagnostic = diagnostics.function
    return options


def _text(raw: Optional[bytes]) -> str:
    # Messages quote macro text in its own code page; bytes that are not
    # UTF-8 are kept as escapes rather than lost.
    return raw.decode("utf-8", "backslashreplace") if raw else ""


def _error(name: Optional[str], diagnostics: List[Diagnostic]) -> Exception:
    message = _text(_library.lib.BuildFaxLastError()) or "the build failed"
    # The library refuses an option before it reads the macro.
    if message.startswith("unknown code page "):
        return ValueError(message)
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


_INVERT = bytes(255 - b for b in range(256))


def _png(rows: bytes, width: int, height: int) -> bytes:
    """A 1-bit greyscale PNG of `rows` ((width + 7) // 8 bytes each, a set
    bit black). PNG takes a set bit as white, so every byte is inverted;
    the bits past the last pixel of a row are ignored by readers."""
    stride = (width + 7) // 8
    inverted = rows[:stride * height].translate(_INVERT)
    # Each row behind its filter type byte, 0 (None).
    raw = b"".join(b"\0" + inverted[y * stride:(y + 1) * stride] for y in range(height))

    def chunk(kind: bytes, data: bytes) -> bytes:
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 1, 0, 0, 0, 0))
            # 204 x 196 dots per inch in pixels per metre.
            + chunk(b"pHYs", struct.pack(">IIB", 8031, 7717, 1))
            + chunk(b"IDAT", zlib.compress(raw, 6))
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


def _save(target: object, data: bytes) -> None:
    write = getattr(target, "write", None)
    if callable(write) and not isinstance(target, (str, bytes, os.PathLike)):
        view = memoryview(data)
        while view:
            # A raw file may take part of the bytes; None: it would block.
            written = write(view)
            if written is None:
                raise BlockingIOError(errno.EAGAIN, "the file object would block")
            if written == len(view) or not isinstance(written, int) or written <= 0:
                break
            view = view[written:]
        return
    given = _path_bytes(target, "target")
    try:
        _write_atomically(given, data)
    except OSError as e:
        # The path asked for, not the temporary file's name.
        if e.filename is not None and e.filename != given and e.errno is not None:
            raise type(e)(e.errno, e.strerror, os.fsdecode(given)) from None
        raise


def _leftovers(folder: bytes, name: bytes) -> None:
    """Removes the temporary files of earlier saves of `name` that were
    killed: a live save holds a lock on its own, so it is never taken."""
    prefix = b"." + name + b"."
    try:
        entries = [e for e in os.listdir(folder) if e.startswith(prefix) and e.endswith(b".part")]
    except OSError:
        return
    for entry in entries:
        path = os.path.join(folder, entry)
        try:
            fd = os.open(path, os.O_RDONLY | os.O_NOFOLLOW | os.O_NONBLOCK)
        except OSError:
            continue
        try:
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
            if os.fstat(fd).st_nlink and os.path.samestat(os.fstat(fd), os.lstat(path)):
                os.unlink(path)
        except OSError:
            pass
        finally:
            os.close(fd)


def _temporary(folder: bytes, name: bytes, mode: int) -> "tuple[int, Optional[bytes]]":
    """A file to write the document into before it takes its name: unnamed
    (O_TMPFILE) where the file system allows, else a hidden .part file.
    Either is locked (flock) from before it has a name until it is renamed,
    so that _leftovers can tell it from one that a killed save left."""
    _leftovers(folder, name)
    try:
        fd = os.open(folder, os.O_TMPFILE | os.O_WRONLY | os.O_CLOEXEC, mode)
        fcntl.flock(fd, fcntl.LOCK_EX)
        return fd, None
    except (OSError, AttributeError) as e:
        if isinstance(e, OSError) and e.errno not in (errno.EOPNOTSUPP, errno.EISDIR,
                                                      errno.EINVAL):
            raise
    while True:
        fd, temporary = tempfile.mkstemp(prefix=b"." + name + b".", suffix=b".part", dir=folder)
        fcntl.flock(fd, fcntl.LOCK_EX)
        # Another save's _leftovers may have taken it before it was locked.
        try:
            if os.path.samestat(os.fstat(fd), os.lstat(temporary)):
                return fd, temporary
        except FileNotFoundError:
            pass
        os.close(fd)


def _write_atomically(path: bytes, data: bytes) -> None:
    target = os.path.realpath(path)
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
                                os.fsdecode(path))
    folder, name = os.path.split(target)
    mode = stat.S_IMODE(st.st_mode) if st is not None else 0o666 & ~_umask()
    fd, temporary = _temporary(folder, name, mode)
    # Closed (and unlocked) only once the file has its name.
    f = os.fdopen(fd, "wb")
    try:
        f.write(data)
        f.flush()
        os.fchmod(fd, mode)
        os.fsync(fd)
        if temporary is None:
            # The unnamed file gets a name only now, complete: a hidden one,
            # renamed over the target right after, since linkat cannot
            # replace a file.
            # (A folder descriptor makes os.link use linkat, which follows
            # the /proc link to the unnamed file; link() would not.)
            hidden = b"." + name + b"." + os.urandom(6).hex().encode() + b".part"
            folder_fd = os.open(folder, os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC)
            try:
                os.link(b"/proc/self/fd/%d" % fd, hidden, dst_dir_fd=folder_fd,
                        follow_symlinks=True)
            finally:
                os.close(folder_fd)
            temporary = os.path.join(folder, hidden)
        os.replace(temporary, target)
        temporary = None
    except BaseException:
        if temporary is not None:
            try:
                os.unlink(temporary)
            except OSError:
                pass
        raise
    finally:
        f.close()
    folder_fd = os.open(folder, os.O_RDONLY | os.O_DIRECTORY)
    try:
        os.fsync(folder_fd)
    finally:
        os.close(folder_fd)
