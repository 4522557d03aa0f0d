# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
"""Folioset: fax macros to fax TIFF files, from Python.

A fax macro is plain text: lines of text set on the page, and command lines
(``@CONVERT:FONT=Arial,12``, ``@CONVERT:BOX=...``, ``@CONVERT:FILE=logo.bmp,BMP``)
that choose fonts, draw lines and boxes and include text and bitmap files.
This package builds macros into multi-page fax TIFF files (TIFF Class F,
204 x 196 or 204 x 98 dpi, Group 3 or Group 4) with Foliolib, the library
behind the foliobuild command, and returns them in memory::

    import folioset

    fax = folioset.build("@CONVERT:FONT=Arial,14\\nHello, world")
    fax.pages            # 1
    fax.save("hello.tif")  # or send fax.tiff (bytes) to a fax server
    fax.png(1)           # a preview of page 1 as PNG bytes
    fax.pngs()           # the previews of every page, from one build

    for d in folioset.check(pathlib.Path("letter.fax")):
        print(d)         # letter.fax:12: warning: ...

Functions: build() returns a Fax (TIFF bytes, PDF bytes when asked, the
page count, the diagnostics, save() and save_pdf() to a path or a binary
file object, png(), pngs()); check() returns only the diagnostics, what
``foliobuild --check`` prints; build_file() builds a macro file into a fax
file as foliobuild does. build(fields={...}) fills a template's fields
{{name}} from a dict, build_many() builds one fax per record. A macro is text, bytes, a binary file object or a
path; name= names it in diagnostics and errors, code_page= sets the code
page it is read in.

Errors by kind: a macro that cannot be built raises BuildError; a missing
macro file, base_dir or include_root raises FileNotFoundError (or
IsADirectoryError / NotADirectoryError), an OSError with errno and
filename; arguments the library would not take raise TypeError or
ValueError. Ctrl-C during a build stops it at the next macro line and
raises KeyboardInterrupt from the call.

The output is byte for byte what foliobuild writes for the same macro and
options. Builds release the GIL: threads build at once, one core each.

The library: libfoliolib.so.1 (the Debian package libfoliolib1, 1.2 or
later), found as the system finds libraries; the environment variable
FOLIOSET_LIBRARY may name another library file. Without it importing this
package raises ImportError.
"""

from ._api import BuildError, Diagnostic, Fax, build, build_file, build_many, check

__all__ = ["build", "build_many", "check", "build_file", "Fax", "Diagnostic", "BuildError"]
__version__ = "1.2.0"
