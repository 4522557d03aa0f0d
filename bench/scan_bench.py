#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
"""Scan benchmark: grey-paper scans and a photo drawn on a fax page by
foliobuild's automatic choice, against ImageMagick's plain threshold
(-threshold 50%) and local adaptive threshold (-lat) of the same picture at
the same drawn size.

The pictures are made here. A page of known text (a letter of 180 words) is
built by foliobuild itself to PNG, enlarged to 300 dpi and turned into a
scan with ImageMagick: paper grey 200 and 225 of 255, ink 40, slight blur,
light noise; an uneven paper (grey 235 at the top left to 165 at the
bottom right); a dark paper (grey 120, ink 30); a page in shadow (paper
215 to 95); and a photographed page (paper 200 to 150, ink 90, more
blur and noise). The photos are a smooth random field (ImageMagick's
plasma, blurred) and ImageMagick's built-in rose, enlarged.

Each picture is drawn with FILE=scan.png,PNG at its physical size (300 dpi
on the 204 x 196 page), and as it was drawn before the scan treatment
(LINEART when 90% of its pixels are within 15% of black or white, else
PHOTO: the "before" column). ImageMagick's outputs are made at that same drawn
size and drawn by foliobuild pixel for pixel as 1-bit PNGs, so that all
three go through the same page and the same Group 3 coder. Measured: the
words tesseract reads on the fax page that are in the known text, the
fax TIFF's bytes, and for the photo its black share against the picture's
mean darkness (in points of 100).

Also the time the cleaning takes: the grey paper 200 scan is built --runs
times as it is (judged, cleaned, then thresholded) and as LINEART (only
thresholded, the same drawing after the cleaning), turn about; the
difference of the medians is the cleaning's time (wall and CPU). With
--cleaning-only nothing else is measured (no tesseract needed).

usage: scan_bench.py [--build-dir build] [--keep DIR] [--runs 11] [--cleaning-only]
"""
import argparse
import collections
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from run_bench import run_once  # noqa: E402

TEXT = """Dear Ms Carter,

Thank you for your letter of the third of November about the delivery of
order 4471. We have checked the shipment against our records and found that
two of the forty cartons were packed with the wrong labels. The cartons
themselves left our warehouse complete, but the labels sent them to the
Northfield depot instead of your purchasing office. Our driver has already
collected both cartons and they will reach you on Friday morning before
noon.

We are sorry for the trouble this has caused your staff. To make up for the
delay we have taken ten per cent off the invoice for this order, and the
corrected invoice is enclosed with this letter. Please sign the attached
confirmation and return it by fax so that we can close the case.

If anything else is missing or damaged, call our customer desk on the
number above between eight in the morning and six in the evening, Monday to
Saturday, and quote the case number printed at the top of this page.

Yours sincerely,

Peter Lindqvist
Dispatch Manager
"""

# (name, ImageMagick operators turning the clean 300-dpi page, white paper
# and black ink, into the scan)
SCANS = [
    ("grey paper 200", "-blur 0x0.7 +level 16%,78.4% -attenuate 0.35 +noise Gaussian"),
    ("grey paper 225", "-blur 0x0.7 +level 16%,88.2% -attenuate 0.35 +noise Gaussian"),
    ("uneven paper 235-165",
     "-blur 0x0.7 +level 16%,100% \\( +clone -sparse-color Barycentric "
     "'0,0 gray(92%) %[fx:w-1],%[fx:h-1] gray(65%)' \\) -compose Multiply -composite "
     "-attenuate 0.35 +noise Gaussian"),
    ("dark paper 120", "-blur 0x0.7 +level 12%,47% -attenuate 0.35 +noise Gaussian"),
    ("shadowed page 215-95",
     "-blur 0x1.0 +level 16%,100% \\( +clone -sparse-color Barycentric "
     "'0,0 gray(84%) %[fx:w-1],%[fx:h-1] gray(37%)' \\) -compose Multiply -composite "
     "-attenuate 0.35 +noise Gaussian"),
    ("photographed page",
     "-blur 0x1.4 +level 35%,78% \\( +clone -sparse-color Barycentric "
     "'0,0 gray(100%) %[fx:w-1],%[fx:h-1] gray(76%)' \\) -compose Multiply -composite "
     "-attenuate 0.5 +noise Gaussian"),
]


def run(cmd, cwd, **kw):
    return subprocess.run(cmd, cwd=cwd, check=True, shell=isinstance(cmd, str),
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **kw)


def words(text):
    return [w for w in re.findall(r"[a-z0-9]+", text.lower())]


def ocr_words(fax, work, known):
    """Words of `known` tesseract reads on the first page of the fax TIFF,
    made square (204 x 204 dpi) for it, as a multiset intersection."""
    png = os.path.join(work, "ocr.png")
    run([CONVERT, fax + "[0]", "-resize", "100%x104.08%", "-density", "204", png], work)
    out = run(["tesseract", png, "-", "--psm", "4"], work).stdout
    got = collections.Counter(words(out))
    want = collections.Counter(known)
    return sum(min(n, got[w]) for w, n in want.items())


# The pictures are drawn 8 pixels in from the left edge (their right edge,
# white paper, is cut off): a full 1728-pixel row that begins black and
# alternates every pixel, which a diffused grey can make, has 1729 runs, one
# more than libtiff's Group 3 decoder holds ("Buffer overflow"), and the
# page could not be read back for the OCR.
def build(foliobuild, work, picture, words_after="PNG", name="page"):
    macro = os.path.join(work, name + ".fax")
    with open(macro, "w") as f:
        f.write(f"@CONVERT:X=8\n@CONVERT:Y=20\n@CONVERT:FILE={picture},{words_after}\n")
    tif = os.path.join(work, name + ".tif")
    r = run([foliobuild, "--g3", macro, tif], work)
    return tif, r.stderr.strip()


def black_share(fax, work, box):
    """Black share (0..100) of the box (x, y, w, h) of the fax page."""
    x, y, w, h = box
    mean = run([CONVERT, fax + "[0]", "-crop", f"{w}x{h}+{x}+{y}", "-format", "%[fx:mean]",
                "info:"], work).stdout
    return (1 - float(mean)) * 100


def main():
    global CONVERT
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build-dir", default=os.path.join(os.path.dirname(HERE), "build"))
    ap.add_argument("--keep", help="work in this folder and keep it")
    ap.add_argument("--runs", type=int, default=11, help="builds timed for the cleaning time")
    ap.add_argument("--cleaning-only", action="store_true",
                    help="measure the cleaning time alone")
    args = ap.parse_args()
    foliobuild = os.path.join(os.path.abspath(args.build_dir), "bin", "foliobuild")
    if not os.path.exists(foliobuild):
        sys.exit(f"no {foliobuild}: build first (cmake --build {args.build_dir})")
    CONVERT = "/usr/bin/convert" if os.path.exists("/usr/bin/convert") else "convert"
    for tool in (CONVERT,) + (() if args.cleaning_only else ("tesseract",)):
        if not shutil.which(tool):
            sys.exit(f"{tool} is needed (Debian packages imagemagick, tesseract-ocr)")
    work = os.path.abspath(args.keep or tempfile.mkdtemp(prefix="folio-scan-bench-"))
    os.makedirs(work, exist_ok=True)

    # The clean page, built by foliobuild, then enlarged to 300 dpi square
    # pixels: the "paper original".
    with open(os.path.join(work, "letter.fax"), "w") as f:
        f.write("@CONVERT:FONT=Arial,12\n" + TEXT)
    run([foliobuild, "--png", work, "letter.fax", "letter.tif"], work)
    known = words(TEXT)
    run([CONVERT, "letter-001.png", "-colorspace", "Gray", "-depth", "8", "-crop", "1728x1000+0+0",
         "+repage", "-filter", "Triangle", "-resize", "147.06%x153.06%", "-depth", "8",
         "original.png"], work)

    rows = []
    for i, (name, ops) in enumerate(SCANS):
        if args.cleaning_only and i > 0:
            break
        scan = f"scan{i}.png"
        run(f"{CONVERT} original.png -seed {i + 1} {ops} -depth 8 -colorspace Gray "
            f"-units PixelsPerInch -density 300 {scan}", work)
        if i == 0:
            cleaning = cleaning_time(foliobuild, work, name, scan, args.runs)
        if not args.cleaning_only:
            rows.append(compare(foliobuild, work, name, scan, known))
    if args.cleaning_only:
        print(cleaning)
        return
    # The photo: a smooth random field.
    run(f"{CONVERT} -size 1200x900 -seed 7 plasma:fractal -blur 0x3 -colorspace Gray "
        f"-depth 8 -units PixelsPerInch -density 300 photo.png", work)
    rows.append(compare(foliobuild, work, "photo (plasma)", "photo.png", None))
    # A real photograph: ImageMagick's built-in rose, enlarged.
    run(f"{CONVERT} rose: -filter Lanczos -resize 1000% -colorspace Gray -depth 8 "
        f"-units PixelsPerInch -density 300 rose.png", work)
    rows.append(compare(foliobuild, work, "photo (rose)", "rose.png", None))

    print(f"{'picture':21} {'treatment':41} {'OCR words of ' + str(len(known)):>24} "
          f"{'coded bytes (Group 3)':>38}")
    print(f"{'':21} {'':41} {'ours thr50 -lat before':>24} "
          f"{'ours   thr50    -lat  before ratio':>38}")
    for r in rows:
        if r["ocr"]:
            o = r["ocr"]
            ocr = f"{o[0]:4} {o[1]:5} {o[2]:4} {o[3]:6}"
        else:
            ocr = f"tone {r['tone'][0]:.1f} vs {r['tone'][1]:.1f}"
        b = r["bytes"]
        print(f"{r['name']:21} {r['note'][:41]:41} {ocr:>24} "
              f"{b[0]:7} {b[1]:7} {b[2]:7} {b[3]:7} {b[0] / b[1]:5.2f}")
    for r in rows:
        print(f"{r['name']}: {r['note']}")
    print(cleaning)
    print(f"(work folder {work}; load average {os.getloadavg()[0]:.2f})")


def cleaning_time(foliobuild, work, name, picture, runs):
    """The cleaning's time for `picture`: the median build drawing it as it
    is (a scan: judged, cleaned, thresholded) less the median build drawing
    it as LINEART (thresholded alone), built turn about; a line to print."""
    _, log = build(foliobuild, work, picture, name="timed-scan")
    if "as a scan" not in log:
        sys.exit(f"{name} was not cleaned as a scan: {log}")
    build(foliobuild, work, picture, "PNG,LINEART", name="timed-lineart")
    times = {"timed-scan": [], "timed-lineart": []}
    for _ in range(runs):
        for macro, got in times.items():
            got.append(run_once(f"'{foliobuild}' -q --g3 {macro}.fax {macro}.tif", work))
    wall = {m: statistics.median(t[0] for t in got) for m, got in times.items()}
    cpu = {m: statistics.median(t[2] for t in got) for m, got in times.items()}
    size = run([CONVERT, picture, "-format", "%w x %h", "info:"], work).stdout
    drawn = re.search(r"drawn (\d+ x \d+) pixels", log).group(1)
    return (f"cleaning {name} ({size} pixels at 300 dpi, drawn {drawn}): "
            f"{(wall['timed-scan'] - wall['timed-lineart']) * 1000:.1f} ms wall, "
            f"{(cpu['timed-scan'] - cpu['timed-lineart']) * 1000:.1f} ms CPU "
            f"(median of {runs} builds: as a scan {wall['timed-scan'] * 1000:.1f} ms, "
            f"as LINEART {wall['timed-lineart'] * 1000:.1f} ms; "
            f"load average {os.getloadavg()[0]:.2f})")


def compare(foliobuild, work, name, picture, known):
    ours, log = build(foliobuild, work, picture, name="ours")
    m = re.search(r"drawn (\d+) x (\d+) pixels", log)
    w, h = int(m.group(1)), int(m.group(2))
    m = re.search(r"dpi(, .*)?$", log.splitlines()[0] if log else "")
    note = "as a scan" + log.split("as a scan", 1)[1] if "as a scan" in log else "diffused"
    note = note.split("\n")[0]
    outs = []
    for tag, op in (("thr", ["-threshold", "50%"]), ("lat", ["-lat", "25x25-5%"])):
        png = f"{tag}.png"
        run([CONVERT, picture, "-filter", "Box", "-resize", f"{w}x{h}!"] + op +
            ["-type", "bilevel", "-units", "Undefined", "-density", "0", png], work)
        outs.append(build(foliobuild, work, png, name=tag)[0])
    # Before the scan treatment: line art when 90% of the pixels are within
    # 15% of black or white, else diffused (PHOTO).
    hist = run([CONVERT, picture, "-depth", "8", "-format", "%c", "histogram:info:-"], work).stdout
    near = total = 0
    for count, grey in re.findall(r"^\s*(\d+): \(\s*(\d+)", hist, re.M):
        total += int(count)
        near += int(count) if int(grey) <= 38 or int(grey) >= 217 else 0
    before = build(foliobuild, work, picture,
                   "PNG,LINEART" if near * 10 >= total * 9 else "PNG,PHOTO", name="before")[0]
    faxes = [ours] + outs + [before]
    row = {"name": name, "note": note, "bytes": [os.path.getsize(f) for f in faxes]}
    if known:
        row["ocr"] = [ocr_words(f, work, known) for f in faxes]
    else:
        row["ocr"] = None
        mean = run([CONVERT, picture, "-format", "%[fx:mean]", "info:"], work).stdout
        row["tone"] = (black_share(ours, work, (8, 20, w, h)), (1 - float(mean)) * 100)
    for f in faxes:
        shutil.copy(f, os.path.join(work, f"{name.replace(' ', '-')}-{os.path.basename(f)}"))
    return row


if __name__ == "__main__":
    main()
