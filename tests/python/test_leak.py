# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# A thousand builds, with PDF, diagnostics and errors, leave the resident
# memory where it was: nothing the library hands over is kept.
import os

import folioset


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def one_round(i):
    fax = folioset.build(f"@CONVERT:X=1px\nPage {i}\n@CONVERT:PAGEBREAK\nmore\n", pdf=i % 2 == 0)
    assert fax.pages == 2 and fax.diagnostics
    try:
        folioset.check("@CONVERT:X=1px\n", strict=True)
    except folioset.BuildError:
        pass


def test_a_thousand_builds_keep_memory_flat():
    for i in range(100):  # warm up: caches, fonts, the allocator's arenas
        one_round(i)
    before = resident_bytes()
    for i in range(1000):
        one_round(i)
    grown = resident_bytes() - before
    assert grown < 2 << 20, f"resident memory grew by {grown} bytes"
