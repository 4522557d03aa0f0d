#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
"""The fax spool against a plain batch, and a soak run.

Throughput: the same documents (two or three pages each, or one with
--one-page) built by `foliobuild -j 2 -o` and through a running
`foliobuild --spool -j 2` (all dropped at once, timed until the last macro
is in done/), and by `--spool --once` over a filled in/. Medians of
--repeat runs, in documents per second.

Latency: --drops macros of one page dropped one at a time into a running
spool, each after the last is done; the time from its rename into in/ to
its "done" line in the log (written once it is in done/ and synced), p50
and p99 in milliseconds.

Soak: --soak jobs (5,000 by default) fed to one running spool a hundred at a
time, a tenth of them failing; the service's resident size, open descriptors
and threads after 500 jobs and after all of them.

    python3 bench/spool_bench.py [--foliobuild build/bin/foliobuild]
        [--documents 500 --one-page] [--drops 300] [--soak 0]
"""
import argparse
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time


def make_documents(folder, count, first=0, failing_every=0, one_page=False):
    names = []
    for i in range(first, first + count):
        name = f"d{i:05d}.fax"
        with open(os.path.join(folder, name), "w") as f:
            if failing_every and i % failing_every == failing_every - 1:
                f.write("Broken picture\n@CONVERT:FILE=broken.bmp,BMP\n")
            else:
                f.write(f"Order confirmation {i}\n\n")
                for j in range(10 + i % 30 if one_page else 40 + i * 37 % 80):
                    f.write(f"Item {j}: a line of an order with its quantity and price {j * 3.5:.2f}\n")
        names.append(name)
    return names


def wait_settled(spool, total, timeout=600):
    """Waits until `total` macros are in done/ or failed/ (polled every 5 ms)."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        done = len(os.listdir(os.path.join(spool, "done")))
        failed = sum(1 for n in os.listdir(os.path.join(spool, "failed")) if not n.endswith(".err"))
        if done + failed >= total:
            return
        time.sleep(0.005)
    sys.exit(f"spool did not settle: {total} expected")


def start_spool(foliobuild, spool, log):
    proc = subprocess.Popen([foliobuild, "--spool", spool, "-j", "2"], stderr=log)
    while not os.path.isdir(os.path.join(spool, "failed")):
        time.sleep(0.005)
    time.sleep(0.05)  # the watch is set after the folders are made
    return proc


def throughput(foliobuild, work, repeat, count, one_page):
    src = os.path.join(work, "src")
    os.makedirs(src)
    names = make_documents(src, count, one_page=one_page)
    batch, service, once = [], [], []
    for _ in range(repeat):
        out = os.path.join(work, "batch")
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(out)
        t = time.monotonic()
        subprocess.run([foliobuild, "-q", "-j", "2", "-o", out] + [os.path.join(src, n) for n in names],
                       check=True)
        batch.append(count / (time.monotonic() - t))

        spool = os.path.join(work, "spool")
        shutil.rmtree(spool, ignore_errors=True)
        stage = os.path.join(work, "stage")
        shutil.copytree(src, stage)
        with open(os.path.join(work, "spool.log"), "w") as log:
            proc = start_spool(foliobuild, spool, log)
            t = time.monotonic()
            for n in names:
                os.rename(os.path.join(stage, n), os.path.join(spool, "in", n))
            wait_settled(spool, count)
            service.append(count / (time.monotonic() - t))
            proc.send_signal(signal.SIGTERM)
            proc.wait()
        shutil.rmtree(stage)

        shutil.rmtree(spool)
        shutil.copytree(src, os.path.join(spool, "in"))
        t = time.monotonic()
        subprocess.run([foliobuild, "--spool", spool, "--once", "-j", "2"], check=True,
                       stderr=subprocess.DEVNULL)
        once.append(count / (time.monotonic() - t))
    b, s, o = statistics.median(batch), statistics.median(service), statistics.median(once)
    print(f"{count} documents{' of one page' if one_page else ''}, medians of {repeat}:")
    print(f"  foliobuild -j 2 -o          {b:7.1f} documents/s")
    print(f"  spool -j 2 (running)        {s:7.1f} documents/s  ({(s / b - 1) * 100:+.1f}%)")
    print(f"  spool -j 2 --once           {o:7.1f} documents/s  ({(o / b - 1) * 100:+.1f}%)")


def latency(foliobuild, work, drops):
    spool = os.path.join(work, "latency")
    stage = os.path.join(work, "latency-stage")
    os.makedirs(stage)
    proc = subprocess.Popen([foliobuild, "--spool", spool, "-j", "2"], stderr=subprocess.PIPE)
    while not os.path.isdir(os.path.join(spool, "failed")):
        time.sleep(0.005)
    time.sleep(0.05)
    times = []
    for i in range(drops):
        name = f"single{i:05d}.fax"
        with open(os.path.join(stage, name), "w") as f:
            f.write(f"Order confirmation {i}\n\nOne line of an order, on one page\n")
        t = time.monotonic()
        os.rename(os.path.join(stage, name), os.path.join(spool, "in", name))
        while True:
            line = proc.stderr.readline().decode(errors="replace")
            if not line:
                sys.exit("the spool stopped")
            if line.startswith(name + ":"):
                break
        times.append((time.monotonic() - t) * 1000)
        if "done" not in line:
            sys.exit(f"not built: {line.strip()}")
        time.sleep(0.02)  # a drop alone, not a burst
    proc.send_signal(signal.SIGTERM)
    proc.wait()
    times.sort()
    p50 = times[len(times) // 2]
    p99 = times[min(len(times) - 1, int(len(times) * 0.99))]
    print(f"single drops: {drops}, latency p50 {p50:.2f} ms, p99 {p99:.2f} ms, most {times[-1]:.2f} ms")


def probe(pid):
    status = {}
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            key, _, value = line.partition(":")
            status[key] = value.split()
    fds = len(os.listdir(f"/proc/{pid}/fd"))
    return int(status["VmRSS"][0]), fds, int(status["Threads"][0])


def soak(foliobuild, work, jobs):
    spool = os.path.join(work, "soak")
    stage = os.path.join(work, "soak-stage")
    os.makedirs(stage)
    with open(os.path.join(work, "broken.bmp"), "w") as f:
        f.write("BM this is no bitmap")
    log = open(os.path.join(work, "soak.log"), "w")
    proc = subprocess.Popen([foliobuild, "--spool", spool, "-j", "2"], stderr=log, cwd=work)
    while not os.path.isdir(os.path.join(spool, "failed")):
        time.sleep(0.005)
    time.sleep(0.05)
    samples = {}
    t = time.monotonic()
    fed = 0
    while fed < jobs:
        names = make_documents(stage, 100, fed, failing_every=10)
        for n in names:
            os.rename(os.path.join(stage, n), os.path.join(spool, "in", n))
        fed += len(names)
        wait_settled(spool, len(names))
        if fed in (500, jobs):
            samples[fed] = probe(proc.pid)
        # Keep the folders small, as a fax server that takes its files would.
        for sub in ("out", "done", "failed"):
            folder = os.path.join(spool, sub)
            for n in os.listdir(folder):
                os.unlink(os.path.join(folder, n))
    elapsed = time.monotonic() - t
    proc.send_signal(signal.SIGTERM)
    status = proc.wait()
    log.close()
    (rss1, fd1, th1), (rss2, fd2, th2) = samples[500], samples[jobs]
    print(f"soak: {jobs} jobs (a tenth failing) in {elapsed:.1f} s, exit status {status}")
    print(f"  after   500: resident {rss1:7d} KiB, {fd1} descriptors, {th1} threads")
    print(f"  after {jobs:5d}: resident {rss2:7d} KiB, {fd2} descriptors, {th2} threads"
          f"  (resident {(rss2 / rss1 - 1) * 100:+.1f}%)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser.add_argument("--foliobuild", default=os.path.join(root, "build", "bin", "foliobuild"))
    parser.add_argument("--documents", type=int, default=300)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--one-page", action="store_true",
                        help="documents of one page (10 to 39 lines) rather than two or three")
    parser.add_argument("--drops", type=int, default=300)
    parser.add_argument("--soak", type=int, default=5000)
    args = parser.parse_args()
    foliobuild = os.path.abspath(args.foliobuild)
    with tempfile.TemporaryDirectory(prefix="spool-bench-") as work:
        throughput(foliobuild, work, args.repeat, args.documents, args.one_page)
        if args.drops:
            latency(foliobuild, work, args.drops)
        if args.soak:
            soak(foliobuild, work, args.soak)


if __name__ == "__main__":
    main()
