#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
"""Whether folioset.build releases the GIL: the same 8 documents built by 8
threads of one process and by 2 processes (4 each, one after the other),
best of a few rounds each. With the GIL released the threads take no longer
than the processes on a machine of 2 cores.

usage: FOLIOSET_LIBRARY=build/lib/libfoliolib.so.1 PYTHONPATH=python \\
       python3 bench/python_threads_bench.py [LINES] [ROUNDS]
"""
import concurrent.futures
import multiprocessing
import os
import pathlib
import subprocess
import sys
import tempfile
import time

import folioset

DOCUMENTS = 8


def build_all(macro, count):
    for _ in range(count):
        folioset.build(macro)


def with_threads(macro, pool):
    list(pool.map(lambda _: folioset.build(macro), range(DOCUMENTS)))


def with_processes(macro, pool):
    pool.starmap(build_all, [(macro, DOCUMENTS // 2)] * 2)


def best(rounds, work):
    times = []
    for _ in range(rounds):
        start = time.perf_counter()
        work()
        times.append(time.perf_counter() - start)
    return min(times)


def main():
    lines = int(sys.argv[1]) if len(sys.argv) > 1 else 3000
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    here = pathlib.Path(__file__).resolve().parent
    with tempfile.TemporaryDirectory() as tmp:
        path = pathlib.Path(tmp) / "bench.fax"
        subprocess.run([sys.executable, str(here / "make_document.py"), str(lines), str(path)],
                       check=True)
        macro = path.read_bytes()
    fax = folioset.build(macro)
    print(f"document: {lines} lines, {fax.pages} pages, {len(fax.tiff)} bytes TIFF; "
          f"{os.cpu_count()} cores")
    one = best(rounds, lambda: folioset.build(macro))
    # The processes and the threads are started before the clock runs, as a
    # server's are (a fresh thread also gets fresh allocator memory).
    with multiprocessing.get_context("fork").Pool(2) as pool:
        pool.starmap(build_all, [(macro, 1)] * 2)
        processes = best(rounds, lambda: with_processes(macro, pool))
    with concurrent.futures.ThreadPoolExecutor(DOCUMENTS) as pool:
        with_threads(macro, pool)
        threads = best(rounds, lambda: with_threads(macro, pool))
    print(f"1 document, 1 thread:     {one:7.3f} s")
    print(f"8 documents, 2 processes: {processes:7.3f} s")
    print(f"8 documents, 8 threads:   {threads:7.3f} s  "
          f"({threads / processes:.2f} x the processes' time)")
    return 0 if threads <= processes * 1.10 else 1


if __name__ == "__main__":
    sys.exit(main())
