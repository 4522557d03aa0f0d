#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
"""The four performance figures in one run, against the peers.

1. One page: `foliobuild -q letter.fax` (its logo included) and a one-line
   macro, whole processes, against efax's efix setting the letter's text;
   median wall and CPU of --runs runs, taken in turn; the letter once more
   written to tmpfs, to show the disk's part in the wall time.
2. Long document: the 6,600-line bench document (bench/make_document.py)
   against efix; wall and CPU medians and their ratios; once more written
   to tmpfs.
3. Spool: bench/spool_bench.py's burst of 500 one-page macros and its
   single-drop latency (its own lines, passed through).
4. Library: 8 builds on 8 threads of one process (the folioset package over
   libfoliolib) against the same 8 on one thread: the throughput ratio.

    python3 bench/perf_figures.py [--build build] [--runs 21]
"""
import argparse
import concurrent.futures
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def timed(command, cwd):
    """Wall and CPU seconds of one whole process (its children included)."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    subprocess.run(command, cwd=cwd, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu


def paired(commands, runs, cwd):
    """Medians (wall, cpu) of each command, the commands taken in turn."""
    samples = {name: [] for name in commands}
    for _ in range(runs):
        for name, command in commands.items():
            samples[name].append(timed(command, cwd))
    return {name: (statistics.median(w for w, _ in s), statistics.median(c for _, c in s))
            for name, s in samples.items()}


def show(results, yardstick):
    base_wall, base_cpu = results[yardstick]
    for name, (wall, cpu) in results.items():
        ratio = "" if name == yardstick else \
            f"   wall {wall / base_wall:.2f} and CPU {cpu / base_cpu:.2f} of efix's"
        print(f"  {name:32} wall {wall * 1000:7.1f} ms  CPU {cpu * 1000:7.1f} ms{ratio}")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--runs", type=int, default=21)
    ap.add_argument("--skip-spool", action="store_true")
    args = ap.parse_args()
    foliobuild = os.path.abspath(os.path.join(args.build, "bin", "foliobuild"))
    if not shutil.which("efix"):
        sys.exit("perf_figures: efix is not installed (apt-get install efax)")
    print(f"perf_figures: {time.strftime('%Y-%m-%d')}, {os.cpu_count()} cores, "
          f"load {os.getloadavg()[0]:.1f}")
    shm_root = "/dev/shm" if os.path.isdir("/dev/shm") else None
    with tempfile.TemporaryDirectory() as work, tempfile.TemporaryDirectory(dir=shm_root) as shm:
        examples = os.path.join(ROOT, "examples")
        letter_text = os.path.join(work, "letter.txt")
        with open(os.path.join(examples, "letter.fax"), encoding="latin-1") as f, \
                open(letter_text, "w", encoding="latin-1") as out:
            out.writelines(l for l in f if not l.startswith(("@", "#")))
        one_line = os.path.join(work, "one.fax")
        with open(one_line, "w") as f:
            f.write("Hello\n")
        print("1. One page (whole processes):")
        show(paired({"efix, the letter's text": ["efix", "-i", "text", "-o", "tiffg3", "-n",
                                                 os.path.join(work, "e%03d"), letter_text],
                     "foliobuild letter.fax (logo)": [foliobuild, "-q", "letter.fax",
                                                      os.path.join(work, "l.tif")],
                     "foliobuild one-line macro": [foliobuild, "-q", one_line,
                                                   os.path.join(work, "o.tif")],
                     # The same letter written to memory (tmpfs): the wall
                     # time without the disk's latency for the two syncs
                     # (file, then folder) that make the fax survive a
                     # power cut, which efix does not do.
                     "foliobuild letter.fax to tmpfs": [foliobuild, "-q", "letter.fax",
                                                        os.path.join(shm, "l.tif")]},
                    args.runs, examples), "efix, the letter's text")

        doc = os.path.join(work, "doc.txt")
        subprocess.run([sys.executable, os.path.join(HERE, "make_document.py"), "6600", doc],
                       check=True)
        print("2. Long document (6,600 lines):")
        show(paired({"efix": ["efix", "-i", "text", "-o", "tiffg3", "-n",
                              os.path.join(work, "p%03d"), doc],
                     "foliobuild": [foliobuild, "-q", doc, os.path.join(work, "doc.tif")],
                     # As for the letter: without the disk's syncs.
                     "foliobuild to tmpfs": [foliobuild, "-q", doc, os.path.join(shm, "doc.tif")]},
                    max(5, args.runs // 3), work), "efix")

    if not args.skip_spool:
        print("3. Spool (bench/spool_bench.py --documents 500 --one-page --drops 200):")
        out = subprocess.run([sys.executable, os.path.join(HERE, "spool_bench.py"),
                              "--foliobuild", foliobuild, "--documents", "500", "--one-page",
                              "--drops", "200", "--repeat", "3"],
                             capture_output=True, text=True).stdout
        for line in out.splitlines():
            print("  " + line)

    print("4. Library, 8 builds on 8 threads against one thread:")
    env = dict(os.environ, FOLIOSET_LIBRARY=os.path.join(args.build, "lib", "libfoliolib.so.1"),
               PYTHONPATH=os.path.join(ROOT, "python"))
    code = """
import concurrent.futures, statistics, subprocess, sys, time, folioset
macro = open(sys.argv[1], 'rb').read()
def one(): folioset.build(macro)
def serial():
    for _ in range(8): one()
pool = concurrent.futures.ThreadPoolExecutor(8)
def threads(): list(pool.map(lambda _: one(), range(8)))
one()
rounds = {'serial': [], 'threads': []}
for _ in range(5):
    for name, work in (('serial', serial), ('threads', threads)):
        start = time.monotonic(); work(); rounds[name].append(time.monotonic() - start)
s, t = statistics.median(rounds['serial']), statistics.median(rounds['threads'])
print(f'  one thread {s:.3f} s, 8 threads {t:.3f} s: {s / t:.2f} times the throughput')
"""
    with tempfile.TemporaryDirectory() as work:
        doc = os.path.join(work, "doc.txt")
        subprocess.run([sys.executable, os.path.join(HERE, "make_document.py"), "1320", doc],
                       check=True)
        subprocess.run([sys.executable, "-c", code, doc], env=env, check=True)


if __name__ == "__main__":
    main()
