#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
"""PDF to fax: foliobuild against Ghostscript's tiffg3 device at 204 x 196.

For each PDF: wall time (median of --runs), coded size in bytes (both Group 3
1-D), OCR word accuracy (tesseract on pages rendered from each fax, against
the words pdftotext finds in the PDF) and, for the form this script writes
(forty 0.5 pt rules), how many rules each fax keeps at fine and at normal
resolution.

    python3 bench/pdf_bench.py [--build build] [--runs 5] [PDF ...]

Without PDFs it takes two of Debian's own documents under /usr/share/doc.
Needs ghostscript, poppler-utils, tesseract-ocr and ImageMagick.
"""
import argparse
import glob
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time


def run_time(command, runs):
    times = []
    for _ in range(runs):
        start = time.monotonic()
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        times.append(time.monotonic() - start)
    return statistics.median(times)


def words(text):
    return re.findall(r"[A-Za-z]{3,}", text.lower())


def ocr_accuracy(tiff, pdf, pages, work):
    """Share of the PDF's words (pdftotext) that OCR finds on the fax pages."""
    found = total = 0
    for page in range(pages):
        truth = words(subprocess.run(["pdftotext", "-f", str(page + 1), "-l", str(page + 1),
                                      "-layout", pdf, "-"], capture_output=True, text=True).stdout)
        if not truth:
            continue
        png = os.path.join(work, "ocr.png")
        # The fax grid is 204 x 196 dpi: square pixels for OCR, 204 dpi.
        subprocess.run(["convert", f"{tiff}[{page}]", "-resize", "100%x104.08%!", "-density",
                        "204", png], check=True)
        seen = words(subprocess.run(["tesseract", png, "-", "--dpi", "204"],
                                    capture_output=True, text=True).stdout)
        pool = {}
        for w in seen:
            pool[w] = pool.get(w, 0) + 1
        for w in truth:
            total += 1
            if pool.get(w, 0) > 0:
                pool[w] -= 1
                found += 1
    return found / total if total else 0.0


def write_form(path):
    """One Letter page of forty 0.5 pt rules 12 pt apart, and some text."""
    ops = [b"0 g 0.5 w"]
    for i in range(40):
        y = 700 - i * 12
        ops.append(b"72 %d m 540 %d l S" % (y, y))
    ops.append(b"BT /F1 10 Tf 72 720 Td (Order form: fill in each line below) Tj ET")
    content = b"\n".join(ops)
    objs = [b"<</Type/Catalog/Pages 2 0 R>>", b"<</Type/Pages/Kids[3 0 R]/Count 1>>",
            b"<</Type/Page/Parent 2 0 R/MediaBox[0 0 612 792]/Contents 4 0 R"
            b"/Resources<</Font<</F1 5 0 R>>>>>>",
            b"<</Length %d>>stream\n%s\nendstream" % (len(content), content),
            b"<</Type/Font/Subtype/Type1/BaseFont/Helvetica>>"]
    out, offsets = b"%PDF-1.4\n", []
    for i, o in enumerate(objs, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n%s\nendobj\n" % (i, o)
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)
    out += b"".join(b"%010d 00000 n \n" % o for o in offsets)
    out += b"trailer\n<</Size %d/Root 1 0 R>>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, xref)
    with open(path, "wb") as f:
        f.write(out)


def rules_kept(tiff, work):
    """Rows of the first page that are black across most of a rule's length."""
    pgm = os.path.join(work, "rules.pgm")
    subprocess.run(["convert", f"{tiff}[0]", "-depth", "8", pgm], check=True)
    with open(pgm, "rb") as f:
        data = f.read()
    header = re.match(rb"P5\s+(\d+)\s+(\d+)\s+255\s", data)
    w, h = int(header.group(1)), int(header.group(2))
    pixels = data[header.end():]
    # The rules run from 1 in to 7.5 in: pixels 204 to 1530 (centred page).
    rows = [sum(1 for x in range(300, 1400, 4) if pixels[y * w + x] < 128) > 250
            for y in range(h)]
    return sum(1 for y in range(h) if rows[y] and (y == 0 or not rows[y - 1]))


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", default="build")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--ocr-pages", type=int, default=3)
    ap.add_argument("pdfs", nargs="*")
    args = ap.parse_args()
    foliobuild = os.path.abspath(os.path.join(args.build, "bin", "foliobuild"))
    pdfs = args.pdfs or sorted(glob.glob("/usr/share/doc/*/*.pdf"))[:2]
    with tempfile.TemporaryDirectory() as work:
        form = os.path.join(work, "form.pdf")
        write_form(form)
        print(f"{'document':28} {'tool':12} {'pages':>5} {'time s':>7} {'bytes':>9} {'OCR':>6}")
        for pdf in pdfs + [form]:
            pages = int(re.search(r"Pages:\s+(\d+)", subprocess.run(
                ["pdfinfo", pdf], capture_output=True, text=True).stdout).group(1))
            ours, theirs = os.path.join(work, "ours.tif"), os.path.join(work, "gs.tif")
            tools = [("foliobuild", [foliobuild, "-q", pdf, ours], ours),
                     ("gs tiffg3", ["gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER",
                                    "-sDEVICE=tiffg3", "-r204x196", f"-sOutputFile={theirs}", pdf],
                      theirs)]
            for name, command, out in tools:
                seconds = run_time(command, args.runs)
                accuracy = ocr_accuracy(out, pdf, min(pages, args.ocr_pages), work)
                print(f"{os.path.basename(pdf)[:28]:28} {name:12} {pages:5} {seconds:7.3f} "
                      f"{os.path.getsize(out):9} {accuracy:6.1%}")
        for resolution in ("fine", "normal"):
            ours, theirs = os.path.join(work, "r.tif"), os.path.join(work, "g.tif")
            subprocess.run([foliobuild, "-q", "--resolution", resolution, form, ours], check=True)
            subprocess.run(["gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=tiffg3",
                            "-r204x196" if resolution == "fine" else "-r204x98",
                            f"-sOutputFile={theirs}", form], check=True)
            print(f"0.5 pt rules kept of 40 at {resolution}: foliobuild {rules_kept(ours, work)}, "
                  f"gs tiffg3 {rules_kept(theirs, work)}")


if __name__ == "__main__":
    sys.exit(main())
