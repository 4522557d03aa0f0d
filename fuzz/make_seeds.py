#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
"""Writes the seed corpus of every fuzz target into fuzz/corpus/<target>/.

The seeds are small valid (or nearly valid) inputs that reach the main paths
of each target, so that the fuzzer starts from inputs that get past the
first checks. Run it from anywhere; it overwrites the seeds it makes and
leaves other files in the folders alone.
"""
import os
import struct
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def put(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("latin-1")
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def example(name):
    with open(os.path.join(ROOT, "examples", name), "rb") as f:
        return f.read()


# --- BMP files ---------------------------------------------------------------

def bmp(width, height, bits, rows, palette=(), compression=0, header=40,
        masks=None, top_down=False, size_image=None):
    """A BMP file; `rows` is the pixel data as stored (already padded)."""
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    if header == 12:
        table = b"".join(struct.pack("<BBB", b, g, r) for (r, g, b) in palette)
        info = struct.pack("<IHHHH", 12, width, height, 1, bits)
    else:
        h = -height if top_down else height
        info = struct.pack("<IiiHHIIiiII", header, width, h, 1, bits, compression,
                           len(rows) if size_image is None else size_image,
                           3780, 3780, len(palette), 0)
        if header > 40:
            extra = masks or (0, 0, 0)
            info += struct.pack("<III", *extra) + b"\0" * (header - 52)
        elif masks:
            table = struct.pack("<III", *masks) + table
    offset = 14 + len(info) + len(table)
    return b"BM" + struct.pack("<IHHI", offset + len(rows), 0, 0, offset) + info + table + rows


def padded_rows(width, height, bits, pixel):
    stride = (width * bits + 31) // 32 * 4
    out = b""
    for y in range(height):
        row = 0
        for x in range(width):
            row = (row << bits) | pixel(x, y)
        nbits = width * bits
        row <<= stride * 8 - nbits
        out += row.to_bytes(stride, "big")
    return out


BW = [(0, 0, 0), (255, 255, 255)]
GREY16 = [(i * 17, i * 17, i * 17) for i in range(16)]
GREY256 = [(i, i, i) for i in range(256)]


def checker(x, y):
    return (x // 4 + y // 4) & 1


def bmp_seeds():
    put("bmp", "logo.bmp", example("logo.bmp"))
    put("bmp", "bw_40x12.bmp", bmp(40, 12, 1, padded_rows(40, 12, 1, checker), BW))
    put("bmp", "bw_top_down.bmp",
        bmp(33, 5, 1, padded_rows(33, 5, 1, checker), BW, top_down=True))
    put("bmp", "grey4.bmp",
        bmp(21, 7, 4, padded_rows(21, 7, 4, lambda x, y: (x + y) & 15), GREY16))
    put("bmp", "grey8.bmp",
        bmp(19, 6, 8, padded_rows(19, 6, 8, lambda x, y: (x * 13 + y * 7) & 255), GREY256))
    put("bmp", "rgb24.bmp",
        bmp(10, 4, 24, padded_rows(10, 4, 24, lambda x, y: 0xFFFFFF if x > y else 0x102030)))
    put("bmp", "rgb32.bmp",
        bmp(9, 3, 32, padded_rows(9, 3, 32, lambda x, y: 0x00FF8040 * (x & 1))))
    put("bmp", "rgb555.bmp",
        bmp(9, 3, 16, padded_rows(9, 3, 16, lambda x, y: 0x7FFF if (x + y) & 1 else 0)))
    put("bmp", "bitfields565.bmp",
        bmp(8, 3, 16, padded_rows(8, 3, 16, lambda x, y: 0xF800 if x & 2 else 0x07FF),
            compression=3, masks=(0xF800, 0x07E0, 0x001F)))
    put("bmp", "v5_bitfields32.bmp",
        bmp(5, 2, 32, padded_rows(5, 2, 32, lambda x, y: 0xFF00FF00 if x else 0),
            compression=3, header=124, masks=(0x00FF0000, 0x0000FF00, 0x000000FF)))
    put("bmp", "core_8bit.bmp",
        bmp(6, 2, 8, padded_rows(6, 2, 8, lambda x, y: x * 40), GREY256, header=12))
    # RLE8: a run, a literal, a delta, end of line, end of bitmap.
    rle8 = bytes([5, 0, 0, 3, 200, 10, 255, 0, 0, 2, 2, 1, 4, 255, 0, 0, 3, 0, 0, 1])
    put("bmp", "rle8.bmp", bmp(16, 4, 8, rle8, GREY256, compression=1))
    rle4 = bytes([6, 0x0F, 0, 4, 0x12, 0x34, 0, 0, 3, 0xF0, 0, 1])
    put("bmp", "rle4.bmp", bmp(12, 3, 4, rle4, GREY16, compression=2))


# --- macros ------------------------------------------------------------------

COMMANDS = """# every command once, with ordinary arguments
@CONVERT:FONT=Arial,12,0
@CONVERT:FONTSCALE=1.5
@CONVERT:FONTSCALE
@CONVERT:FONT=Liberation Serif,10,204
@CONVERT:MARGIN=150
@CONVERT:X=200
@CONVERT:Y=300
@CONVERT:LINE=100,100,1600,2100
@CONVERT:BOX=100,200,50,20
@CONVERT:TEXTBOX=100,200,300,400
Text in a box that wraps at its right edge and is cut off at its bottom edge.
@CONVERT:TEXT=PARAGRAPH
@CONVERT:MARGIN
@CONVERT:X
@CONVERT:Y
\\BBold\\b \\IItalic\\i \\UUnderline\\u \\\\ backslash
@CONVERT:FONT
@CONVERT:PAGEBREAK
@convert:  y=-5
@CONVERT:LINE=10,,30,40
@CONVERT:END
after the end
"""

EDGES = """@CONVERT:X=2147483647
@CONVERT:Y=-2147483648
@CONVERT:LINE=-2147483648,-2147483648,2147483647,2147483647
@CONVERT:BOX=2147483647,2147483647,2147483647,2147483647
@CONVERT:TEXTBOX=-5,-5,99999999999,-99999999999
words in a strange box
@CONVERT:FONT=Arial,-40
big cell
@CONVERT:FONT=Arial,0
@CONVERT:FONTSCALE=1e308
@CONVERT:FONT=,30000
@CONVERT:FONTSCALE=-0.5
@CONVERT:FONT=Arial,12
@CONVERT:MARGIN=-100000
text left of the page
@CONVERT:TEXT
"""

CODEPAGES = ("@CONVERT:CODEPAGE=932\n\x82\xa0\x82\xa2 \x93\xfa\x96\x7b\x8c\xea \\B\x82\xa4\\b\n"
             "@CONVERT:FONT=MS Mincho,12,128\n\x81\x40\x81\x41,\x82\xa0\n"
             "@CONVERT:CODEPAGE=1252\n\xe9t\xe9 \xa9 \x80\n"
             "@CONVERT:FONT=Symbol,12,2\nabc\xb1\n"
             "@CONVERT:CODEPAGE=65001\n\xc3\xa9t\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\n"
             "@CONVERT:CODEPAGE\n")

INCLUDES = """@CONVERT:FILE=notes.txt,TXT
@CONVERT:FILE=logo.bmp , BMP
@CONVERT:FILE=folder,TXT
@CONVERT:FILE=empty.txt,TXT
@CONVERT:FILE=missing.bmp,BMP
@CONVERT:FILE=notes.txt
@CONVERT:FILE=/etc/passwd,TXT
@CONVERT:FILE=../logo.bmp,bmp
@CONVERT:FILE=logo.bmp,GIF
@CONVERT:Y=2150
@CONVERT:FILE=logo.bmp,BMP
@CONVERT:FILE=empty.txt,BMP
after the error
"""


def macro_seeds():
    for name in ("letter.fax", "form.fax", "report.fax"):
        put("macro", name, example(name))
    put("macro", "commands.fax", COMMANDS)
    put("macro", "edges.fax", EDGES)
    put("macro", "codepages.fax", CODEPAGES)
    put("macro", "includes.fax", INCLUDES)
    put("macro", "long_line.fax", ("word " * 300) + "\n" + ("x" * 1200) + "\r\n" + "y" * 499 + "\n")
    put("macro", "crlf.fax", "@CONVERT:FONT=Arial,40\r\nline one\r\nline two\rstill two\r\n")


def membuild_seeds():
    # The first byte chooses the options (see membuild_fuzzer.cpp).
    put("membuild", "letter_g3", b"\x00" + example("letter.fax"))
    put("membuild", "form_g4_pdf_normal", b"\x0d" + example("form.fax"))
    put("membuild", "crlf_2d_strict", b"\x12" + b"@CONVERT:FONT=Arial,40\r\nline one\r\nline two\rstill two\r\n")
    put("membuild", "utf8_bom_nul", b"\x20\xef\xbb\xbf@CONVERT:CODEPAGE=65001\nna\xc3\xafve\0lost\n@CONVERT:FILE=../x.txt,TXT\n")
    put("membuild", "bad_coding", b"\x06Hello\n")


# --- whole builds --------------------------------------------------------------

def buildfax_seeds():
    logo = example("logo.bmp")
    put("buildfax", "letter_with_logo", example("letter.fax").replace(b"logo.bmp", b"in.bmp")
        + b"\0" + logo)
    put("buildfax", "form", example("form.fax"))
    put("buildfax", "bitmap_twice",
        b"@CONVERT:FILE=in.bmp,BMP\n@CONVERT:X=1700\n@CONVERT:FILE=in.bmp,BMP\n"
        b"@CONVERT:Y=-20\n@CONVERT:FILE=in.bmp,BMP\nText under the picture\n"
        b"@CONVERT:PAGEBREAK\n@CONVERT:FILE=in.bmp,TXT\n\0"
        + bmp(40, 12, 1, padded_rows(40, 12, 1, checker), BW))
    put("buildfax", "bad_bitmap", b"before\n@CONVERT:FILE=in.bmp,BMP\nafter\n\0BM\x10\0\0\0")


# --- page blocks -----------------------------------------------------------------

def block(width, height, rows, colours=2, size_image=0):
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 1, 0, size_image, 0, 0,
                         colours, 0)
    return header + struct.pack("<BBBBBBBB", 0, 0, 0, 0, 255, 255, 255, 0) + rows


def pageblock_seeds():
    rows = padded_rows(64, 16, 1, lambda x, y: 1 if (x + y) % 7 else 0)
    put("pageblock", "g3_1d", b"\x00" + block(64, 16, rows))
    put("pageblock", "g3_2d_top_down", b"\x01" + block(64, -16, rows, colours=0))
    put("pageblock", "g4_two_pages", b"\x06" + block(64, 16, rows, size_image=len(rows)))
    put("pageblock", "reference_two_pages", b"\x07" + block(64, 16, rows))
    put("pageblock", "narrow", b"\x02" + block(1, 3, b"\x80\0\0\0" * 3))
    put("pageblock", "wide", b"\x00" + block(1728, 2, padded_rows(1728, 2, 1, checker)))


# --- pages for the fax encoders ------------------------------------------------

def page(width, height, how, rest):
    """Width and height (each less one), how the pixels are made, their bytes."""
    return struct.pack("<HBB", width - 1, height - 1, how) + rest


def faxcoder_seeds():
    text = bytes([0x00, 0x00, 0x3C, 0x66, 0x60, 0x3C, 0x06, 0x66, 0x3C, 0x00])
    put("faxcoder", "bits_tall", page(200, 80, 0x00, text * 3 + b"\xAA\x55\xFF\x00"))
    put("faxcoder", "runs_wide", page(5300, 5, 0x01, b"\xF4\x20\xFB\x01\x00\x3F\xFF"))
    put("faxcoder", "shifts_bottom_up", page(1728, 90, 0x06, bytes(range(0, 256, 3))))
    put("faxcoder", "shifts_far_groups_of_2",
        page(333, 70, 0x1B, b"\x81\x07\x00\x10\xF0\x0F\x93\x44"))
    put("faxcoder", "narrow", page(1, 9, 0x00, b"\xA5"))
    put("faxcoder", "white", page(64, 65, 0x08, b""))


# --- DIB blocks for the dithers ------------------------------------------------

def dib(width, height, bits, palette, pixel):
    rows = padded_rows(width, height, bits, pixel)
    header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, len(rows), 0, 0,
                         len(palette), 0)
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in palette)
    return header + table + rows


def dither_seeds():
    put("dither", "rgb24", dib(17, 9, 24, [], lambda x, y: (x * 15) << 16 | (y * 28) << 8 | 0x80))
    put("dither", "grey8", dib(16, 8, 8, GREY256, lambda x, y: x * 16 + y))
    put("dither", "colours8_short_table",
        dib(10, 4, 8, [(255, 0, 0), (0, 255, 0), (0, 0, 255)], lambda x, y: (x + y) % 5))
    put("dither", "grey4", dib(9, 5, 4, GREY16, lambda x, y: (x + y) & 15))
    put("dither", "bw1", dib(33, 3, 1, BW, checker))
    put("dither", "empty_rows", dib(0, 3, 24, [], lambda x, y: 0))


# --- pictures (PNG, JPEG, TIFF) ----------------------------------------------

def netpbm(tool, args, pnm):
    """Runs a netpbm converter on a PNM held in memory."""
    return subprocess.run([tool] + args, input=pnm, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, check=True).stdout


def pnm(width, height, kind, pixel):
    """P4 (1-bit), P5 (grey) or P6 (colour) with pixel(x, y) -> grey 0..255."""
    if kind == "P4":
        rows = b""
        for y in range(height):
            bits = [1 if pixel(x, y) < 128 else 0 for x in range(width)]
            bits += [0] * (-width % 8)
            rows += bytes(int("".join(map(str, bits[i:i + 8])), 2) for i in range(0, len(bits), 8))
    else:
        n = 3 if kind == "P6" else 1
        rows = bytes(pixel(x, y) for y in range(height) for x in range(width) for _ in range(n))
    return f"{kind}\n{width} {height}\n".encode() + (b"" if kind == "P4" else b"255\n") + rows


def picture_seeds():
    logo = lambda x, y: 0 if 4 <= x < 20 and 4 <= y < 12 else 255
    ramp = lambda x, y: (x * 9 + y * 5) % 256
    made = {}
    made["png"] = {
        "bw.png": netpbm("pnmtopng", [], pnm(24, 16, "P4", logo)),
        "grey.png": netpbm("pnmtopng", [], pnm(24, 16, "P5", ramp)),
        "rgb_interlaced.png": netpbm("pnmtopng", ["-interlace"], pnm(24, 16, "P6", ramp)),
        "palette_trns.png": netpbm("pnmtopng", ["-transparent", "white"], pnm(24, 16, "P6", logo)),
    }
    made["jpeg"] = {
        "grey.jpg": netpbm("pnmtojpeg", ["-greyscale"], pnm(24, 16, "P5", ramp)),
        "colour.jpg": netpbm("pnmtojpeg", ["-density", "300x300dpi"], pnm(24, 16, "P6", ramp)),
        "progressive.jpg": netpbm("pnmtojpeg", ["-progressive"], pnm(24, 16, "P6", logo)),
    }
    made["tiff"] = {
        "fax_g4.tif": netpbm("pnmtotiff", ["-g4"], pnm(24, 16, "P4", logo)),
        "fax_g3.tif": netpbm("pnmtotiff", ["-g3"], pnm(24, 16, "P4", logo)),
        "grey_lzw.tif": netpbm("pnmtotiff", ["-lzw"], pnm(24, 16, "P5", ramp)),
        "rgb.tif": netpbm("pnmtotiff", [], pnm(24, 16, "P6", ramp)),
    }
    for target, files in made.items():
        for name, data in files.items():
            put(target, name, data)
            # Broken twins: cut in half, and a byte of the header changed.
            put(target, "cut_" + name, data[:len(data) // 2])
            bent = bytearray(data)
            bent[min(20, len(bent) - 1)] ^= 0x40
            put(target, "bent_" + name, bytes(bent))


bmp_seeds()
picture_seeds()
dither_seeds()
macro_seeds()
buildfax_seeds()
membuild_seeds()
pageblock_seeds()
faxcoder_seeds()
