#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
"""Draws the pictures of examples/picture-letter.fax: a letterhead and a
signature, as 8-bit grey PNGs at 300 dpi with anti-aliased edges (drawn at
three times the size and averaged), written with zlib alone. Run it from
anywhere; it rewrites letterhead.png and signature.png next to itself.
"""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SS = 3  # supersampling factor per axis

# A 5 x 7 capital font: enough letters for the letterhead.
FONT = {
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "B": ["11110", "10001", "10001", "11110", "10001", "10001", "11110"],
    "C": ["01110", "10001", "10000", "10000", "10000", "10001", "01110"],
    "D": ["11110", "10001", "10001", "10001", "10001", "10001", "11110"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "G": ["01110", "10001", "10000", "10111", "10001", "10001", "01111"],
    "I": ["01110", "00100", "00100", "00100", "00100", "00100", "01110"],
    "K": ["10001", "10010", "10100", "11000", "10100", "10010", "10001"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "N": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "T": ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    "W": ["10001", "10001", "10001", "10101", "10101", "10101", "01010"],
    " ": ["00000"] * 7,
}


def png(path, width, height, grey, dpi=300):
    """Writes an 8-bit grey PNG with a pHYs chunk of `dpi`."""
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    raw = b"".join(b"\0" + bytes(grey[y * width:(y + 1) * width]) for y in range(height))
    ppm = round(dpi / 0.0254)
    data = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0))
            + chunk(b"pHYs", struct.pack(">IIB", ppm, ppm, 1))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))
    with open(path, "wb") as f:
        f.write(data)


def render(width, height, ink):
    """Grey pixels of a picture whose ink(x, y) is true for black, sampled
    SS x SS times a pixel."""
    out = bytearray(width * height)
    for y in range(height):
        for x in range(width):
            n = 0
            for j in range(SS):
                for i in range(SS):
                    n += ink(x + (i + 0.5) / SS, y + (j + 0.5) / SS)
            out[y * width + x] = 255 - n * 255 // (SS * SS)
    return out


def letterhead():
    width, height = 1500, 240
    text, cell, left, top = "BRACKWELL TRADING", 11, 300, 80  # 11 px per font dot

    def ink(x, y):
        # The mark: a ring with a bar through it.
        d = math.hypot(x - 120, y - 120)
        if 70 <= d <= 95 or (abs(y - 120) <= 14 and 40 <= x <= 200):
            return True
        # The name in block capitals, slanted a little.
        gx = x - left + (y - top) * 0.15
        col, row = int(gx // cell), int((y - top) // cell)
        if 0 <= row < 7 and gx >= 0:
            ch, dot = divmod(col, 6)
            if ch < len(text) and dot < 5:
                return FONT[text[ch]][row][dot] == "1"
        # The rule under it.
        return 200 <= y < 206 and 300 <= x < 1480

    png(os.path.join(HERE, "letterhead.png"), width, height, render(width, height, ink))


def signature():
    width, height = 600, 180

    # A hand-like stroke: a loop-y curve sampled densely, drawn with a
    # round pen 5 px wide.
    points = []
    for k in range(2400):
        t = k / 2399
        x = 30 + 520 * t + 28 * math.sin(t * 34)
        y = 95 - 40 * math.sin(t * 17) * math.exp(-t * 1.4) + 30 * math.cos(t * 34) * (1 - t)
        points.append((x, y))
    grid = {}
    for (x, y) in points:
        grid.setdefault((int(x) // 8, int(y) // 8), []).append((x, y))

    def ink(x, y):
        gx, gy = int(x) // 8, int(y) // 8
        for dx in (-1, 0, 1):
            for dy in (-1, 0, 1):
                for (px, py) in grid.get((gx + dx, gy + dy), ()):
                    if (px - x) ** 2 + (py - y) ** 2 <= 6.25:
                        return True
        return False

    png(os.path.join(HERE, "signature.png"), width, height, render(width, height, ink))


letterhead()
signature()
