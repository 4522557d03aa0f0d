#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
"""Text-to-fax benchmark: foliobuild against the text-to-fax converters found
on this machine, on the same plain-text document (bench/make_document.py,
fixed seed). Each converter runs --runs times (5 by default); the table shows
the median wall time, the pages and bytes per page of its output and its
peak resident memory (the largest process of its pipeline), side by side.
Then foliobuild's scaling from a tenth of the document to the whole, and,
when the pipeline_bench program is built, the machine's floor for the pages
(clearing, reading out and writing them).

usage: run_bench.py [--build-dir build] [--lines 6600] [--runs 5]
                    [--install-peers] [--slow-peers] [--keep DIR]

--install-peers  installs the peers with apt-get first (efax, hylafax-client,
                 ghostscript, netpbm, imagemagick, libtiff-tools); they are
                 not dependencies of the project.
--slow-peers     also runs ImageMagick (about a page a second), once.
"""
import argparse
import glob
import json
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
PEER_PACKAGES = ["efax", "hylafax-client", "ghostscript", "netpbm", "imagemagick",
                 "libtiff-tools"]


def tiff_pages(path):
    """Number of images (IFDs) in a TIFF file; 0 when it is no TIFF."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError:
        return 0
    if len(data) < 8 or data[:2] not in (b"II", b"MM"):
        return 0
    e = "<" if data[:2] == b"II" else ">"
    offset = struct.unpack(e + "I", data[4:8])[0]
    pages, seen = 0, set()
    while offset and offset + 2 <= len(data) and offset not in seen:
        seen.add(offset)
        pages += 1
        n = struct.unpack(e + "H", data[offset:offset + 2])[0]
        at = offset + 2 + 12 * n
        if at + 4 > len(data):
            break
        offset = struct.unpack(e + "I", data[at:at + 4])[0]
    return pages


def run_once(command, cwd):
    """Runs a shell command; returns (wall seconds, peak RSS in KiB, CPU
    seconds, user and system, of all its processes). GNU time
    reports the shell's rusage, which takes in its waited-for children, so the
    peak is that of the largest process of the pipeline; it is started by
    time itself, a small process (a child forked from this interpreter would
    count the interpreter's own memory)."""
    report = os.path.join(cwd, ".time")
    start = time.perf_counter()
    proc = subprocess.run(["/usr/bin/time", "-f", "%M %U %S", "-o", report, "/bin/sh", "-c", command],
                          cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    wall = time.perf_counter() - start
    if proc.returncode != 0:
        err = proc.stderr.decode(errors="replace")
        raise RuntimeError(f"{command!r} failed ({proc.returncode}): {err.strip()[:300]}")
    with open(report) as f:
        peak, user, system = f.read().split()[-3:]
    os.remove(report)
    return wall, int(peak), float(user) + float(system)


class Peer:
    def __init__(self, name, what, tools, command, outputs, runs=None):
        self.name, self.what, self.tools = name, what, tools
        self.command, self.outputs, self.runs = command, outputs, runs

    def available(self):
        return all(shutil.which(t) for t in self.tools)


def measure(peer, work, runs):
    """Median wall, median peak RSS, pages and bytes of the last run, runs,
    median CPU time."""
    walls, rss, cpu = [], [], []
    for _ in range(peer.runs or runs):
        out = os.path.join(work, "out")
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)
        wall, peak, used = run_once(peer.command, out)
        walls.append(wall)
        rss.append(peak)
        cpu.append(used)
    files = sorted(glob.glob(os.path.join(work, "out", peer.outputs)))
    pages = sum(tiff_pages(f) for f in files)
    size = sum(os.path.getsize(f) for f in files)
    return (statistics.median(walls), statistics.median(rss), pages, size, len(walls),
            statistics.median(cpu))


def gslp_path():
    found = sorted(glob.glob("/usr/share/ghostscript/*/lib/gslp.ps"))
    return found[-1] if found else None


def peers(doc, foliobuild, lines_per_page=60):
    q = lambda p: "'" + p.replace("'", "'\\''") + "'"
    d = q(doc)
    gs_tiff = "gs -q -dNOPAUSE -dBATCH -sDEVICE=tiffg3 -sOutputFile=out.tif"
    netpbm = (f"split -l {lines_per_page} {d} chunk. && "
              "for c in chunk.*; do pbmtext < $c | pamtotiff -g3 > $c.tif || exit 1; done")
    gslp = gslp_path()
    return [
        Peer("foliobuild", "Arial 25 pt, 37-pixel lines, one TIFF (G3 1-D)",
             [foliobuild], f"{q(foliobuild)} -q {d} out.tif", "out.tif"),
        Peer("efix -n p.%03d", "efax, built-in font, one TIFF per page", ["efix"],
             f"efix -i text -o tiffg3 -n p.%03d {d}", "p.*"),
        Peer("efix + tiffcp", "the same, joined into one file", ["efix", "tiffcp"],
             f"efix -i text -o tiffg3 -n p.%03d {d} && tiffcp p.* all.tif && rm p.*",
             "all.tif"),
        Peer("textfmt | gs tiffg3", "HylaFAX's PostScript route", ["textfmt", "gs"],
             f"textfmt < {d} | {gs_tiff} -", "out.tif"),
        Peer("gs gslp.ps", "Ghostscript's text printer", ["gs"] if gslp else ["gslp.ps"],
             f"{gs_tiff} -dNOSAFER -- {q(gslp or '')} {d}", "out.tif"),
        Peer("pbmtext | pamtotiff", f"netpbm, {lines_per_page} lines a page",
             ["pbmtext", "pamtotiff", "split"], netpbm, "chunk.*.tif"),
    ]


def slow_peers(doc):
    return [Peer("convert text:", "ImageMagick", ["convert"],
                 f"convert text:'{doc}' -compress Group3 out.tif", "out.tif", runs=1)]


def fsync_cost(size, work):
    """Seconds an fsync of a freshly written file of `size` bytes takes here."""
    path = os.path.join(work, "fsync.bin")
    with open(path, "wb") as f:
        f.write(os.urandom(min(size, 1 << 20)) * max(1, size >> 20))
        f.flush()
        start = time.perf_counter()
        os.fsync(f.fileno())
        spent = time.perf_counter() - start
    os.remove(path)
    return spent


def floor_per_page(build):
    """Microseconds the machine needs at the least per page (clear, one copy,
    write the coded bytes), from pipeline_bench; None when it is not built."""
    program = os.path.join(build, "bin", "pipeline_bench")
    if not os.path.exists(program):
        return None
    out = subprocess.run([program, "--benchmark_filter=Floor", "--benchmark_format=json",
                          "--benchmark_repetitions=3", "--benchmark_report_aggregates_only=true"],
                         capture_output=True, text=True, check=True).stdout
    parts = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name") == "median":
            parts[b["run_name"]] = b["real_time"]  # microseconds
    return parts


def pdf_cost(foliobuild, doc, work, runs):
    """What --pdf adds to a run: wall and CPU time against the same coding
    without it (Group 3 codes every page once more in Group 4 for the PDF;
    Group 4 hands its own coding over)."""
    q = lambda p: "'" + p.replace("'", "'\\''") + "'"
    for coding in ("--g3", "--g4"):
        base = f"{q(foliobuild)} -q {coding} {q(doc)} out.tif"
        plain = measure(Peer("", "", [], base, "out.tif"), work, runs)
        pdf = measure(Peer("", "", [], f"{base} --pdf out.pdf", "out.tif"), work, runs)
        print(f"--pdf with {coding}: {pdf[0]:.3f} s against {plain[0]:.3f} s wall "
              f"({(pdf[0] / plain[0] - 1) * 100:+.0f}%), CPU {pdf[5]:.2f} s against "
              f"{plain[5]:.2f} s ({(pdf[5] / max(plain[5], 1e-9) - 1) * 100:+.0f}%)")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build-dir", default=os.path.join(os.path.dirname(HERE), "build"))
    ap.add_argument("--lines", type=int, default=6600)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--install-peers", action="store_true")
    ap.add_argument("--slow-peers", action="store_true")
    ap.add_argument("--keep", help="work in this folder and keep it")
    args = ap.parse_args()

    if not os.path.exists("/usr/bin/time"):
        sys.exit("GNU time (/usr/bin/time, package time) is needed for the memory figures")
    if args.install_peers:
        subprocess.run(["apt-get", "install", "-y", "--no-install-recommends"] + PEER_PACKAGES,
                       check=True, env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))
    foliobuild = os.path.join(os.path.abspath(args.build_dir), "bin", "foliobuild")
    if not os.path.exists(foliobuild):
        sys.exit(f"no {foliobuild}: build first (cmake --build {args.build_dir})")

    work = args.keep or tempfile.mkdtemp(prefix="folio-bench-")
    os.makedirs(work, exist_ok=True)
    doc = os.path.join(work, "document.txt")
    small = os.path.join(work, "document-tenth.txt")
    subprocess.run([sys.executable, os.path.join(HERE, "make_document.py"), str(args.lines), doc],
                   check=True)
    subprocess.run([sys.executable, os.path.join(HERE, "make_document.py"),
                    str(args.lines // 10), small], check=True)
    with open(doc, "rb") as f:
        text = f.read()
    lines = text.count(b"\n")
    load = os.getloadavg()[0]
    print(f"load average {load:.2f} (wall times grow with it; CPU times less so)")
    print(f"document: {lines} lines, {len(text) / max(lines, 1):.1f} bytes a line, "
          f"{len(text)} bytes; {os.cpu_count()} cores; median of {args.runs} runs each")
    print()

    candidates = peers(doc, foliobuild) + (slow_peers(doc) if args.slow_peers else [])
    rows = []
    for peer in candidates:
        if not peer.available():
            rows.append((peer, None))
            continue
        try:
            rows.append((peer, measure(peer, work, args.runs)))
        except RuntimeError as e:
            print(f"{peer.name}: {e}", file=sys.stderr)
            rows.append((peer, None))

    ours = rows[0][1]
    header = f"{'converter':22} {'wall s':>8} {'vs ours':>8} {'cpu s':>7} {'pages':>6} " \
             f"{'bytes/page':>11} {'peak RSS':>10}  what"
    print(header)
    print("-" * len(header))
    for peer, m in rows:
        if m is None:
            print(f"{peer.name:22} {'(not installed)':>44}  {peer.what}")
            continue
        wall, rss, pages, size, runs, cpu = m
        ratio = wall / ours[0] if ours else float("nan")
        note = "" if runs == args.runs else f" ({runs} run)"
        print(f"{peer.name:22} {wall:8.3f} {ratio:7.1f}x {cpu:7.2f} {pages:6d} "
              f"{size / max(pages, 1):11.0f} "
              f"{rss / 1024:8.1f} MiB  {peer.what}{note}")
    print()

    # Scaling: a tenth of the document against the whole.
    tenth = Peer("foliobuild", "", [foliobuild], f"'{foliobuild}' -q '{small}' out.tif", "out.tif")
    t = measure(tenth, work, args.runs)
    if ours:
        wall, rss, pages, size, _, _ = ours
        print(f"scaling: {t[2]} pages in {t[0]:.3f} s, {t[1] / 1024:.1f} MiB; "
              f"{pages} pages in {wall:.3f} s, {rss / 1024:.1f} MiB: "
              f"{pages / max(t[2], 1):.1f} times the pages in {wall / t[0]:.2f} times the time, "
              f"memory {(rss - t[1]) * 1024 / max(pages - t[2], 1) / 1000:.0f} KB a page more")
        print(f"fsync of a {size / 1e6:.1f} MB file here: {fsync_cost(size, work) * 1000:.1f} ms "
              "(foliobuild syncs its output before putting it in place)")
        pdf_cost(foliobuild, doc, work, args.runs)
        floor = floor_per_page(args.build_dir)
        if floor:
            per_page = sum(floor.values())
            print("floor per page: " + ", ".join(f"{k[8:]} {v:.1f} us" for k, v in
                                                 sorted(floor.items())) +
                  f"; for {pages} pages {per_page * pages / 1000:.1f} ms, "
                  f"foliobuild takes {wall * 1000:.0f} ms ({wall * 1e6 / per_page / pages:.1f}x)")
    if not args.keep:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
