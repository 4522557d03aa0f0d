#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
"""folioset-server under load, and under hostile load.

Load: the one-page letter POSTed as text/plain by wrk (Debian's wrk) over
--connections connections for --seconds: faxes a second, p50 and p99
latency, answers that were not 200. Beside it, the same letter built by
running foliobuild once per request, two at a time (the cores), as a
CGI-style wrapper would.

Hostile: --requests requests (20,000 by default) from 16 threads, one in ten
malformed in a rotating way (a form cut off, fields that are not JSON, a
macro naming a missing asset in a strict build, a Content-Length of 2 GB, a
client sending a byte a second); every answer's status is checked, and the
service's resident size and open descriptors are printed at the start and
the end.

    python3 bench/server_bench.py [--build build] [--seconds 15]
"""
import argparse
import concurrent.futures
import os
import re
import socket
import subprocess
import sys
import tempfile
import time


def start(server, tmp, *args):
    proc = subprocess.Popen([server, "--listen", "127.0.0.1:0", *args], stderr=subprocess.PIPE,
                            text=True, env=dict(os.environ, TMPDIR=tmp))
    port = int(proc.stderr.readline().split(", port ")[1].split(",")[0])
    # The request log is read and dropped, or its pipe would fill.
    subprocess.Popen(["cat"], stdin=proc.stderr, stdout=subprocess.DEVNULL)
    return proc, port


def usage(pid):
    with open(f"/proc/{pid}/status") as f:
        rss = int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1))
    return rss, len(os.listdir(f"/proc/{pid}/fd"))


def load(args, letter, tmp):
    proc, port = start(args.server, tmp)
    script = os.path.join(tmp, "post.lua")
    with open(script, "w") as f:
        f.write('wrk.method = "POST"\n'
                'wrk.headers["Content-Type"] = "text/plain"\n'
                f'local f = io.open("{letter}", "rb")\nwrk.body = f:read("*a")\nf:close()\n')
    out = subprocess.run(["wrk", "-t2", f"-c{args.connections}", f"-d{args.seconds}s", "--latency",
                          "-s", script, f"http://127.0.0.1:{port}/v1/fax"],
                         capture_output=True, text=True, check=True).stdout
    proc.terminate()
    proc.wait()
    rate = float(re.search(r"Requests/sec:\s+([\d.]+)", out).group(1))
    p50 = re.search(r"^\s+50%\s+(\S+)", out, re.M).group(1)
    p99 = re.search(r"^\s+99%\s+(\S+)", out, re.M).group(1)
    bad = re.search(r"Non-2xx or 3xx responses:\s+(\d+)", out)
    print(f"server: {rate:.0f} faxes/s, p50 {p50}, p99 {p99}, "
          f"{bad.group(1) if bad else 0} answers not 200 "
          f"({args.connections} connections, {args.seconds} s)")

    # foliobuild per request: two at a time for the same time budget.
    count, start_time = 0, time.monotonic()
    while time.monotonic() - start_time < min(args.seconds, 10):
        procs = [subprocess.Popen([args.foliobuild, letter, os.path.join(tmp, f"o{i}.tif")],
                                  stderr=subprocess.DEVNULL) for i in range(2)]
        for p in procs:
            p.wait()
        count += 2
    per = count / (time.monotonic() - start_time)
    print(f"foliobuild per request, 2 at a time: {per:.0f} faxes/s")


def raw(port, data, slow=False, timeout=30):
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        try:
            if slow:
                for byte in data:
                    s.send(bytes([byte]))
                    time.sleep(1)
            else:
                s.sendall(data)
        except OSError:
            return 0  # cut off by the service, as it should be
        reply = b""
        try:
            while chunk := s.recv(65536):
                reply += chunk
        except OSError:
            pass
    return int(reply.split(b" ", 2)[1]) if reply.startswith(b"HTTP/") else 0


def post(body, ctype, extra=""):
    length = "" if "Content-Length" in extra else f"Content-Length: {len(body)}\r\n"
    return (f"POST /v1/fax HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
            f"Content-Type: {ctype}\r\n{length}{extra}\r\n").encode() + body


def form(parts, cut=False):
    out = b""
    for name, value in parts:
        out += (f'--B\r\nContent-Disposition: form-data; name="{name}"\r\n\r\n').encode() + \
            value + b"\r\n"
    return post(out if cut else out + b"--B--\r\n", "multipart/form-data; boundary=B")


def hostile(args, letter_bytes, tmp):
    proc, port = start(args.server, tmp, "--request-timeout", "2")
    kinds = [
        ("form cut off", form([("macro", letter_bytes)], cut=True), {400}, False),
        ("fields not JSON", form([("macro", b"x"), ("fields", b"{no")]), {400}, False),
        ("missing asset, strict", post(b"@CONVERT:FILE=gone.bmp,BMP\n", "text/plain",
                                       "X-Strict: 1\r\n").replace(b"/v1/fax", b"/v1/fax?strict=1"),
         {422}, False),
        ("2 GB Content-Length", post(b"", "text/plain", "Content-Length: 2147483648\r\n"),
         {413}, False),
        ("a byte a second", b"POST /v1/fax HTTP/1.1\r\nHost: x\r\n", {0}, True),
    ]
    good = post(letter_bytes, "text/plain")
    before = usage(proc.pid)
    print(f"hostile: at the start {before[0]} KiB resident, {before[1]} descriptors")
    wrong, counts, started = [], {}, time.monotonic()

    def one(i):
        if i % 10 == 9:
            what, data, expected, slow = kinds[(i // 10) % len(kinds)]
        else:
            what, data, expected, slow = "letter", good, {200}, False
        status = raw(port, data, slow)
        return what, status, status in expected

    with concurrent.futures.ThreadPoolExecutor(16) as fast, \
            concurrent.futures.ThreadPoolExecutor(64) as slow:
        futures = [(slow if i % 10 == 9 and (i // 10) % len(kinds) == 4 else fast).submit(one, i)
                   for i in range(args.requests)]
        for f in futures:
            what, status, ok = f.result()
            counts[what] = counts.get(what, 0) + 1
            if not ok:
                wrong.append((what, status))
    after = usage(proc.pid)
    alive = proc.poll() is None
    proc.terminate()
    code = proc.wait()
    print(f"hostile: {args.requests} requests in {time.monotonic() - started:.0f} s: "
          + ", ".join(f"{k} {v}" for k, v in counts.items()))
    print(f"hostile: at the end {after[0]} KiB resident, {after[1]} descriptors; "
          f"{len(wrong)} wrong answers; alive until stopped: {alive}; exit status {code}")
    for what, status in wrong[:10]:
        print(f"  wrong: {what}: {status}")
    return not wrong and alive and code == 0


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--build", default="build")
    p.add_argument("--seconds", type=int, default=15)
    p.add_argument("--connections", type=int, default=16)
    p.add_argument("--requests", type=int, default=20000)
    p.add_argument("--skip-load", action="store_true")
    args = p.parse_args()
    args.server = os.path.join(args.build, "bin", "folioset-server")
    args.foliobuild = os.path.join(args.build, "bin", "foliobuild")
    letter = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples",
                          "letter.fax")
    with open(letter, "rb") as f:
        letter_bytes = f.read()
    with tempfile.TemporaryDirectory() as tmp:
        if not args.skip_load:
            load(args, letter, tmp)
        ok = hostile(args, letter_bytes, tmp)
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
