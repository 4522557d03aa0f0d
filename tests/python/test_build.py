# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# folioset.build, check and build_file against foliobuild: the same bytes in
# every coding and resolution and with the PDF copy, the same diagnostics;
# macros as text, bytes and paths; argument errors before the library is
# called; build errors; include-root refusals; threads; saving and previews;
# the page and time limits in every entry point.
import io
import os
import stat
import struct
import subprocess
import sys
import threading
import zlib

import pytest

import folioset
from conftest import EXAMPLES

# Macros that exercise how a macro's bytes are read: CR LF, a line cut at
# 499 bytes, text after END, cp1252 characters, a blank macro.
MACROS = {
    "plain": "@CONVERT:FONT=Arial,14\nHello, world\n",
    "crlf": "First line\r\nSecond line\r\n@CONVERT:LINE=100,300,900,300\r\n",
    "long-line": "x" * 1200 + "\nafter\n",
    "after-end": "Shown\n@CONVERT:END\nnot read\n",
    "cp1252": "Größe: 12 €, naïve façade — “quoted”\n",
    "two-pages": "Page one\n@CONVERT:PAGEBREAK\nPage two\n",
    "empty": "",
}


@pytest.mark.parametrize("name", sorted(MACROS))
def test_text_bytes_and_path_give_the_same_fax(name, tmp_path):
    text = MACROS[name]
    path = tmp_path / "m.fax"
    path.write_bytes(text.encode("cp1252"))
    faxes = [folioset.build(text), folioset.build(text.encode("cp1252")),
             folioset.build(bytearray(text.encode("cp1252"))), folioset.build(path)]
    assert all(f.tiff == faxes[0].tiff for f in faxes)
    assert faxes[0].tiff[:4] == b"II*\0"
    assert faxes[0].pages == (2 if name == "two-pages" else 1)
    assert faxes[3].diagnostics == [d._replace(file=str(path)) for d in faxes[0].diagnostics]


def test_text_outside_cp1252_is_read_as_utf8():
    text = "Snow ☃ and Кириллица\n"
    expected = folioset.build(b"@CONVERT:CODEPAGE=65001\n" + text.encode("utf-8"))
    fax = folioset.build(text)
    assert fax.tiff == expected.tiff
    # Without the code page the same bytes set other characters.
    assert folioset.build(text.encode("utf-8")).tiff != fax.tiff
    assert all(d.line == 1 for d in fax.diagnostics)


@pytest.mark.parametrize("example", ["form.fax", "letter.fax", "report.fax"])
def test_same_bytes_as_foliobuild(example, foliobuild, tmp_path):
    for coding in ("g3", "g3-2d", "g4"):
        for resolution in ("fine", "normal"):
            tif, pdf = tmp_path / "f.tif", tmp_path / "f.pdf"
            foliobuild("-q", "--" + coding, "--resolution", resolution,
                       "--pdf", pdf, example, tif, cwd=EXAMPLES)
            fax = folioset.build(EXAMPLES / example, coding=coding, resolution=resolution,
                                 pdf=True, base_dir=EXAMPLES)
            assert fax.tiff == tif.read_bytes(), (coding, resolution)
            assert fax.pdf == pdf.read_bytes(), (coding, resolution)
            plain = folioset.build(EXAMPLES / example, coding=coding, resolution=resolution,
                                   base_dir=EXAMPLES)
            assert plain.tiff == fax.tiff and plain.pdf is None


def test_build_file_writes_what_foliobuild_writes(foliobuild, tmp_path):
    foliobuild("-q", "--g4", "--pdf", tmp_path / "cli.pdf", EXAMPLES / "report.fax",
               tmp_path / "cli.tif")
    diagnostics = folioset.build_file(EXAMPLES / "report.fax", tmp_path / "py.tif", coding="g4",
                                      pdf=True)
    assert (tmp_path / "py.tif").read_bytes() == (tmp_path / "cli.tif").read_bytes()
    assert (tmp_path / "py.pdf").read_bytes() == (tmp_path / "cli.pdf").read_bytes()
    assert [d.kind for d in diagnostics] == ["font-substituted"]
    assert diagnostics[0].file == str(EXAMPLES / "report.fax")


def test_diagnostics_equal_foliobuild_check(foliobuild, tmp_path):
    macro = tmp_path / "lossy.fax"
    macro.write_bytes(b"@CONVERT:X=12px\n@CONVERT:FONT=NoSuchFont,12\nText\n"
                      b"@CONVERT:FILE=missing.bmp,BMP\n@CONVERT:FILE=x,DOC\n"
                      b"@CONVERT:BOX=100,100,5000,50\n" + b"y" * 700 + b"\n@CONVERT:END\nmore\n")
    out = foliobuild("--check", macro, check=False).stdout.decode().splitlines()
    expected = out[:-1]  # the last line is the summary
    assert len(expected) >= 5
    assert [str(d) for d in folioset.check(macro)] == expected
    assert [str(d) for d in folioset.build(macro).diagnostics] == expected


BAD_ARGUMENTS = [
    ({"macro": 17}, TypeError),
    ({"macro": None}, TypeError),
    ({"resolution": "high"}, ValueError),
    ({"resolution": 0}, TypeError),
    ({"coding": "g5"}, ValueError),
    ({"page": "A5"}, ValueError),
    ({"page": 1}, TypeError),
    ({"pdf": "yes"}, TypeError),
    ({"strict": 1}, TypeError),
    ({"include_root": ""}, ValueError),
    ({"base_dir": 3}, TypeError),
    ({"base_dir": "a\0b"}, ValueError),
    ({"macro": "text \udc80 with a lone surrogate"}, ValueError),
    ({"max_pages": 0}, ValueError),
    ({"max_pages": True}, TypeError),
    ({"time_limit_ms": 1 << 31}, ValueError),
    ({"time_limit_ms": 1.5}, TypeError),
]


@pytest.mark.parametrize("arguments,error", BAD_ARGUMENTS)
def test_bad_arguments_raise_before_the_library_is_called(arguments, error, monkeypatch):
    def refuse(*_):
        raise AssertionError("the library was called")

    monkeypatch.setattr(folioset._api._library, "lib", type("L", (), {
        "BuildFaxInMemory": refuse, "BuildFaxWithOptions": refuse}))
    arguments = dict(arguments)
    macro = arguments.pop("macro", "Hello")
    with pytest.raises(error):
        folioset.build(macro, **arguments)


def test_build_errors_carry_message_line_and_diagnostics(tmp_path):
    (tmp_path / "bad.bmp").write_bytes(b"BM not a bitmap")
    with pytest.raises(folioset.BuildError) as e:
        folioset.build("Hello\n@CONVERT:X=1px\n@CONVERT:FILE=bad.bmp,BMP\n", base_dir=tmp_path)
    assert e.value.line == 3
    assert e.value.message.startswith("<macro>:3: ")
    assert [d.kind for d in e.value.diagnostics][:1] == ["not-a-number"]
    assert isinstance(e.value, Exception) and str(e.value) == e.value.message

    with pytest.raises(folioset.BuildError) as e:
        folioset.check("@CONVERT:X=1px\n", strict=True)
    assert e.value.line is None and "strict" in e.value.message
    assert len(e.value.diagnostics) == 1



# A missing file or folder is the caller's, not the macro's: an OSError of
# its kind, naming it.
MISSING = [
    ("build", {"macro": "none.fax"}, FileNotFoundError, "none.fax"),
    ("build", {"macro": "."}, IsADirectoryError, "."),
    ("build_file", {"src": "none.fax"}, FileNotFoundError, "none.fax"),
    ("build_file", {"src": "."}, IsADirectoryError, "."),
    ("check", {"base_dir": "none"}, FileNotFoundError, "none"),
    ("build", {"base_dir": "file"}, NotADirectoryError, "file"),
    ("build", {"include_root": "none"}, FileNotFoundError, "none"),
]


@pytest.mark.parametrize("function,arguments,error,name", MISSING)
def test_missing_files_and_folders_are_os_errors(function, arguments, error, name, tmp_path):
    (tmp_path / "file").write_text("x")
    arguments = {k: tmp_path / v for k, v in arguments.items()}
    if function == "build_file":
        call = lambda: folioset.build_file(arguments["src"], tmp_path / "out.tif")  # noqa: E731
    else:
        call = lambda: getattr(folioset, function)(arguments.pop("macro", "Hello"),  # noqa: E731
                                                    **arguments)
    with pytest.raises(error) as e:
        call()
    assert e.value.filename == str(tmp_path / name) and e.value.errno
    assert not (tmp_path / "out.tif").exists()


def test_include_root_refuses_files_outside(tmp_path):
    root = tmp_path / "root"
    root.mkdir()
    (root / "inside.txt").write_text("inside\n")
    (tmp_path / "secret.txt").write_text("secret\n")
    (root / "link.txt").symlink_to(tmp_path / "secret.txt")
    macro = ("@CONVERT:FILE=inside.txt,TXT\n@CONVERT:FILE=../secret.txt,TXT\n"
             f"@CONVERT:FILE={tmp_path}/secret.txt,TXT\n@CONVERT:FILE=link.txt,TXT\n")
    fax = folioset.build(macro, include_root=root, base_dir=root)
    refused = [d.line for d in fax.diagnostics if d.kind == "file-refused"]
    assert refused == [2, 3, 4]
    assert fax.tiff == folioset.build("@CONVERT:FILE=inside.txt,TXT\n", base_dir=root).tiff
    with pytest.raises(folioset.BuildError):
        folioset.build(macro, include_root=root, base_dir=root, strict=True)
    with pytest.raises(FileNotFoundError):
        folioset.build(macro, include_root=tmp_path / "nowhere")


def test_threads_build_at_once_with_the_same_results():
    macros = [MACROS["two-pages"] * (i + 1) for i in range(4)]
    codings = ["g3", "g3-2d", "g4", "g3"]
    expected = [folioset.build(m, coding=c).tiff for m, c in zip(macros, codings)]
    results = [None] * 16

    def work(i):
        results[i] = folioset.build(macros[i % 4], coding=codings[i % 4]).tiff

    threads = [threading.Thread(target=work, args=(i,)) for i in range(16)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == expected * 4


def test_save_is_atomic_and_keeps_the_mode(tmp_path):
    fax = folioset.build("Hello", pdf=True)
    target = tmp_path / "out.tif"
    target.write_bytes(b"old")
    target.chmod(0o640)
    fax.save(target)
    assert target.read_bytes() == fax.tiff
    assert stat.S_IMODE(target.stat().st_mode) == 0o640
    fax.save_pdf(tmp_path / "out.pdf")
    assert (tmp_path / "out.pdf").read_bytes() == fax.pdf
    assert sorted(p.name for p in tmp_path.iterdir()) == ["out.pdf", "out.tif"]
    with pytest.raises(OSError):
        fax.save(tmp_path / "no" / "such" / "folder.tif")
    with pytest.raises(OSError):
        fax.save(tmp_path)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["out.pdf", "out.tif"]
    with pytest.raises(ValueError):
        folioset.build("Hello").save_pdf(tmp_path / "x.pdf")


def _png_size_and_black(png):
    assert png[:8] == b"\x89PNG\r\n\x1a\n"
    pos, idat, header = 8, b"", None
    while pos < len(png):
        length, kind = struct.unpack_from(">I4s", png, pos)
        data = png[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", data)
        elif kind == b"IDAT":
            idat += data
        pos += 12 + length
    width, height = header[:2]
    raw = zlib.decompress(idat)
    stride = (width + 7) // 8
    assert len(raw) == height * (stride + 1)
    black = sum(8 - bin(b).count("1") for y in range(height)
                for b in raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)][:width // 8])
    return width, height, black


def test_png_previews_each_page():
    fax = folioset.build("@CONVERT:BOX=100,100,200,200\n@CONVERT:PAGEBREAK\nsecond\n",
                         resolution="normal")
    width, height, black = _png_size_and_black(fax.png(1))
    assert (width, height) == (1728, 2200)
    assert black > 0
    assert _png_size_and_black(folioset.build("").png(1))[2] == 0
    assert _png_size_and_black(fax.png(2))[2] > 0
    for page in (0, 3):
        with pytest.raises(IndexError):
            fax.png(page)
    with pytest.raises(TypeError):
        fax.png("1")


@pytest.mark.parametrize("page,rows", [("a4", 2286), ("letter", 2151), ("legal", 2738),
                                       ("default", 2200)])
def test_page_sizes_reach_the_library_as_foliobuild_gives_them(page, rows, foliobuild, tmp_path):
    macro = tmp_path / "m.fax"
    macro.write_bytes(b"Hello\n")
    foliobuild("-q", "--page", page, "--resolution", "normal", macro, tmp_path / "cli.tif")
    fax = folioset.build(macro, page=page, resolution="normal")
    assert fax.tiff == (tmp_path / "cli.tif").read_bytes()
    assert _png_size_and_black(fax.png(1))[:2] == (1728, rows)
    folioset.build_file(macro, tmp_path / "py.tif", page=page, resolution="normal")
    assert (tmp_path / "py.tif").read_bytes() == fax.tiff
    assert folioset.check("Text\n@CONVERT:PAGE=A4\n", page=page)[0].kind == "page-late"


def test_a_missing_library_is_an_import_error_that_says_what_to_install():
    env = dict(os.environ, FOLIOSET_LIBRARY="/nonexistent/libfoliolib.so.1")
    r = subprocess.run([sys.executable, "-c", "import folioset"], env=env,
                       capture_output=True, text=True)
    assert r.returncode != 0
    assert "ImportError" in r.stderr and "libfoliolib1" in r.stderr


CODE_PAGES = [
    (12345, ValueError, "unknown code page 12345"),
    (70000, ValueError, "0 to 65535"),
    (True, TypeError, "int"),
]


@pytest.mark.parametrize("code_page,error,match", CODE_PAGES)
def test_code_pages_the_library_does_not_know_are_refused(code_page, error, match):
    with pytest.raises(error, match=match):
        folioset.build(b"Hello", code_page=code_page)


def test_code_page_and_name_reach_the_library():
    text = "Snow ☃\n"
    utf8 = folioset.build(text.encode("utf-8"), code_page=65001, name="order-17")
    assert utf8.tiff == folioset.build(text).tiff
    assert folioset.build(text, code_page=65001).tiff == utf8.tiff
    lossy = folioset.check(b"@CONVERT:X=1px\n", name="order-17")
    assert [str(d) for d in lossy][0].startswith("order-17:1: warning:")
    with pytest.raises(folioset.BuildError, match="^order-17: 1 warning"):
        folioset.check(b"@CONVERT:X=1px\n", name="order-17", strict=True)


def test_file_objects_in_and_out(tmp_path):
    macro = MACROS["two-pages"].encode()
    fax = folioset.build(io.BytesIO(macro), pdf=True)
    assert fax.tiff == folioset.build(macro).tiff and fax.diagnostics == []
    (tmp_path / "m.fax").write_bytes(b"@CONVERT:X=1px\n")
    with open(tmp_path / "m.fax", "rb") as f:
        assert folioset.check(f)[0].file == str(tmp_path / "m.fax")
    with pytest.raises(TypeError, match="binary"):
        folioset.build(io.StringIO("Hello"))
    out, pdf = io.BytesIO(b"head:"), io.BytesIO()
    out.seek(0, io.SEEK_END)
    fax.save(out)
    fax.save_pdf(pdf)
    assert out.getvalue() == b"head:" + fax.tiff and pdf.getvalue() == fax.pdf


def test_save_names_the_path_asked_for_and_clears_what_a_killed_save_left(tmp_path):
    fax = folioset.build("Hello")
    with pytest.raises(FileNotFoundError) as e:
        fax.save(tmp_path / "no" / "out.tif")
    assert e.value.filename == str(tmp_path / "no" / "out.tif")
    # What a save killed before its rename leaves; the next save removes it.
    (tmp_path / ".out.tif.k1ll3d.part").write_bytes(b"partial")
    fax.save(tmp_path / "out.tif")
    assert [p.name for p in tmp_path.iterdir()] == ["out.tif"]


def test_pngs_gives_every_preview_from_one_build():
    fax = folioset.build("@CONVERT:BOX=100,100,200,200\n@CONVERT:PAGEBREAK\nsecond\n"
                         "@CONVERT:PAGEBREAK\nthird\n")
    each = [fax.png(page) for page in (1, 2, 3)]
    assert fax.pngs() == each
    assert fax.pngs([3, 1]) == [each[2], each[0]] and fax.pngs([]) == []
    with pytest.raises(IndexError):
        fax.pngs([4])


@pytest.mark.parametrize("function", ["build", "build_many", "check", "build_file"])
def test_page_and_time_limits_reach_the_library(function, tmp_path):
    three = "One\n@CONVERT:PAGEBREAK\nTwo\n@CONVERT:PAGEBREAK\nThree\n"
    # About 100 pages: far more than a millisecond's work.
    long = "A line of text\n" * 6000

    def run(macro, **limits):
        if function == "build_many":
            return list(folioset.build_many(macro, [{}], **limits))
        if function == "build_file":
            (tmp_path / "m.fax").write_text(macro)
            return folioset.build_file(tmp_path / "m.fax", tmp_path / "m.tif", **limits)
        return getattr(folioset, function)(macro, **limits)

    run(three, max_pages=3, time_limit_ms=60000)
    with pytest.raises(folioset.BuildError, match="more than 2 pages"):
        run(three, max_pages=2)
    with pytest.raises(folioset.BuildError, match="limit of 1 ms"):
        run(long, time_limit_ms=1)
