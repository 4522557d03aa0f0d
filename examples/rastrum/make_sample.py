#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
"""Writes sample.bmp, the 24-bit picture the Rastrum example dithers: a sky
gradient with a sun, a hue wheel, a grey ramp and saturated colour bars, so
that each reduction shows its character (tone stretch, eight corners, cube)."""
import colorsys
import math
import struct
import sys

W, H = 320, 200


def pixel(x, y):
    # y counted from the top of the picture.
    if y >= 170:  # grey ramp
        v = round(255 * x / (W - 1))
        return v, v, v
    if y >= 145:  # colour bars
        bars = [(255, 0, 0), (255, 128, 0), (255, 255, 0), (0, 200, 0), (0, 160, 255),
                (0, 0, 200), (160, 0, 200), (255, 255, 255)]
        return bars[x * len(bars) // W]
    cx, cy, r = 245, 72, 62  # hue wheel
    dx, dy = x - cx, y - cy
    d = math.hypot(dx, dy)
    if d <= r:
        hue = (math.atan2(dy, dx) / (2 * math.pi)) % 1.0
        rr, gg, bb = colorsys.hsv_to_rgb(hue, d / r, 1.0)
        return round(rr * 255), round(gg * 255), round(bb * 255)
    if math.hypot(x - 70, y - 50) <= 26:  # sun
        return 255, 220, 90
    t = y / 145  # sky to ground
    if y < 100:
        return round(40 + 120 * t), round(90 + 120 * t), round(200 + 40 * t)
    g = (y - 100) / 45
    return round(60 + 60 * g), round(120 - 40 * g), round(40 + 10 * g)


def main(path):
    stride = (W * 24 + 31) // 32 * 4
    rows = []
    for y in range(H - 1, -1, -1):  # bottom-up
        row = bytearray()
        for x in range(W):
            r, g, b = pixel(x, y)
            row += bytes((b, g, r))
        row += bytes(stride - len(row))
        rows.append(bytes(row))
    image = b"".join(rows)
    header = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 24, 0, len(image), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(struct.pack("<2sIHHI", b"BM", 14 + 40 + len(image), 0, 0, 54))
        f.write(header)
        f.write(image)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "sample.bmp")
