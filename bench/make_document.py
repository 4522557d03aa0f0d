#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
"""Writes the benchmark document: plain text lines (no commands), 68
characters a line on average, from a fixed seed so every run and every
converter gets the same bytes.

usage: make_document.py LINES OUT
"""
import random
import sys

WORDS = """the of and to in is that for it as with was on be by this are at from or
have an they which one you were all we can her has there been if more when will
would who so no out up into do any time about than only other new some could its
these two may then first also after years between many even most made over such
where being through well under back much before right three world work life down
account invoice delivery freight order payment customer warehouse schedule quantity
December January Portsmouth Manchester reference confirmation document pages""".split()


def line(rng):
    # Lengths spread from 20 to 116 characters around a mean of 68.
    target = int(rng.triangular(20, 116, 68))
    words = []
    length = 0
    while length < target:
        w = rng.choice(WORDS)
        if rng.random() < 0.08:
            w = w.capitalize()
        if rng.random() < 0.05:
            w += rng.choice(",.;:")
        words.append(w)
        length += len(w) + 1
    return " ".join(words)[:target].rstrip()


def main():
    lines, out = int(sys.argv[1]), sys.argv[2]
    rng = random.Random(20261207)
    with open(out, "w") as f:
        for _ in range(lines):
            f.write(line(rng) + "\n")


if __name__ == "__main__":
    main()
