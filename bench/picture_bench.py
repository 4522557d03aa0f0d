#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
"""Picture benchmark: what a 4000 x 3000 JPEG photo drawn 600 pixels wide
adds to a one-page letter. The photo (netpbm's camouflage pattern, a colour
picture with texture everywhere, at a JFIF density of 1360 dpi so that it is
drawn 600 x 450 pixels) is made once; foliobuild then builds the letter
with and without FILE=photo.jpg,JPG --runs times each. Printed: the median
wall and CPU time and the peak resident memory of both, and the difference.

usage: picture_bench.py [--build-dir build] [--runs 9] [--keep DIR]
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from run_bench import run_once  # noqa: E402

LETTER = """@CONVERT:FONT=Arial,12
Dear Ms Carter,

Here is the photograph of the delivery as it left our warehouse.
{picture}
Yours sincerely,
Peter Lindqvist
"""


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build-dir", default=os.path.join(os.path.dirname(HERE), "build"))
    ap.add_argument("--runs", type=int, default=9)
    ap.add_argument("--keep", help="work in this folder and keep it")
    args = ap.parse_args()
    foliobuild = os.path.join(os.path.abspath(args.build_dir), "bin", "foliobuild")
    if not os.path.exists(foliobuild):
        sys.exit(f"no {foliobuild}: build first (cmake --build {args.build_dir})")
    work = args.keep or tempfile.mkdtemp(prefix="folio-picture-bench-")
    os.makedirs(work, exist_ok=True)
    photo = os.path.join(work, "photo.jpg")
    if not os.path.exists(photo):
        subprocess.run("ppmpat -camo -randomseed=1 4000 3000 | "
                       "pnmtojpeg -quality=90 -density=1360x1360dpi > photo.jpg",
                       shell=True, check=True, cwd=work)
    for name, picture in (("plain.fax", ""), ("photo.fax", "@CONVERT:FILE=photo.jpg,JPG\n")):
        with open(os.path.join(work, name), "w") as f:
            f.write(LETTER.format(picture=picture))

    results = {}
    for name in ("plain.fax", "photo.fax"):
        runs = [run_once(f"'{foliobuild}' -q {name} out.tif", work) for _ in range(args.runs)]
        results[name] = (statistics.median(r[0] for r in runs),
                         statistics.median(r[2] for r in runs),
                         max(r[1] for r in runs))
    print(f"photo: 4000 x 3000 JPEG, {os.path.getsize(photo)} bytes, drawn 600 x 450; "
          f"median of {args.runs} runs, load average {os.getloadavg()[0]:.2f}")
    for name, (wall, cpu, rss) in results.items():
        print(f"{name:10} wall {wall * 1000:7.1f} ms  cpu {cpu * 1000:7.1f} ms  "
              f"peak {rss / 1024:6.1f} MiB")
    (w0, c0, r0), (w1, c1, r1) = results["plain.fax"], results["photo.fax"]
    print(f"the photo adds {(w1 - w0) * 1000:.1f} ms wall, {(c1 - c0) * 1000:.1f} ms CPU and "
          f"{(r1 - r0) / 1024:.1f} MiB peak memory (budget: 80 ms, 40 MiB)")


if __name__ == "__main__":
    main()
