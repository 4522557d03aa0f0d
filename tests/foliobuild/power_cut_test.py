#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
"""A power cut at every step of the spool's jobs, and a restart after each.

A run of `foliobuild --spool --once --pdf-dir` over three macros (two faxes
and one failure) is recorded by fs_journal_shim.so, once from a fresh spool
and once from one that a kill left with a job in work/ and its fax and PDF
copy already written (so they are replaced, through a named temporary): every name made,
renamed or removed, and every sync. For each cut point k (before the first
call, between any two, after the last) the folders are rebuilt as a disk
would hold them after a power cut there, starting from the folders before
the run:
  - a file holds what it held at its last sync before k (nothing, if it was
    made in the run and never synced);
  - in the run from a client that never synced its macros (written with cp
    or cat), a macro the spool has moved out of in/ holds nothing until the
    spool synced it: delayed allocation writes no data until then. One still
    in in/ holds its whole text (had it been lost there, it would be the
    client's loss, not the spool's);
  - a change of names is certain only once the folder it made a name in has
    been synced after it (a rename is atomic: old or new name, never both);
    each change not yet certain may or may not have happened (all combinations where few are open, otherwise every prefix,
    every one left out and every one alone).
A restart (`--spool --once`) must then leave each macro in exactly one place,
done/ or failed/ (with its reason), under its own name, with its complete fax
and PDF copy, nothing in in/ or work/ and no other files in out/.

    power_cut_test.py FOLIOBUILD SHIM FOLDER
"""
import itertools
import os
import shutil
import subprocess
import sys

foliobuild, shim, top = sys.argv[1:4]


def preload(shim):
    """The shim for LD_PRELOAD; in the sanitizer build after the AddressSanitizer
    runtime, which must come first in the list of libraries."""
    out = subprocess.run(["ldd", foliobuild], capture_output=True, text=True).stdout
    for line in out.splitlines():
        parts = line.split()
        if parts and parts[0].startswith("libasan.so") and len(parts) > 2:
            return parts[2] + ":" + shim
    return shim
shutil.rmtree(top, ignore_errors=True)
os.makedirs(top)
top = os.path.realpath(top)
FOLDERS = ["in", "work", "out", "done", "failed", "pdf"]
MACROS = {
    "one.fax": b"A fax of one page\n",
    "two.fax": b"First page\n@CONVERT:PAGEBREAK\nSecond page\n",
    # Named to come last: the spool claims the three as one batch and builds
    # them in order, so the faxes are written before the failure syncs work/.
    "wrong.fax": b"Broken picture\n@CONVERT:FILE=broken.bmp,BMP\n",
}
GOOD = {"one.fax": 1, "two.fax": 2}

# The faxes the macros must give, built without the spool.
ref = os.path.join(top, "ref")
os.makedirs(ref)
with open(os.path.join(ref, "broken.bmp"), "wb") as f:
    f.write(b"BM not a picture")
for name, text in MACROS.items():
    with open(os.path.join(ref, name), "wb") as f:
        f.write(text)
for name in GOOD:
    stem = name[:-4]
    subprocess.run([foliobuild, "-q", "--pdf", os.path.join(ref, stem + ".pdf"),
                    os.path.join(ref, name), os.path.join(ref, stem + ".tif")], check=True)
reference = {n: open(os.path.join(ref, n[:-4] + ".tif"), "rb").read() for n in GOOD}
old_pdf = open(os.path.join(ref, "one.pdf"), "rb").read()


def spool(base, env=None):
    return subprocess.run([foliobuild, "--spool", os.path.join(base, "spool"), "--once", "-j", "1",
                           "--pdf-dir", os.path.join(base, "pdf")], env=env,
                          stderr=subprocess.PIPE, cwd=ref).returncode


def materialise(base, names, content):
    """Writes the folders: names maps (folder, name) to an inode."""
    shutil.rmtree(base, ignore_errors=True)
    for d in FOLDERS:
        os.makedirs(os.path.join(base, "pdf" if d == "pdf" else "spool/" + d))
    first = {}
    for (folder, name), inode in sorted(names.items()):
        path = os.path.join(base, folder, name)
        if inode in first:
            os.link(first[inode], path)
        else:
            with open(path, "wb") as f:
                f.write(content.get(inode, b""))
            first[inode] = path


def problems(base):
    """What is wrong with the folders after a restart, as a list of lines."""
    found = []
    listing = {d: sorted(os.listdir(os.path.join(base, "pdf" if d == "pdf" else "spool/" + d)))
               for d in FOLDERS}
    for d in ("in", "work"):
        if listing[d]:
            found.append(f"left in {d}/: {listing[d]}")
    for name, text in MACROS.items():
        places = [d for d in ("done", "failed") if name in listing[d]]
        if len(places) != 1:
            found.append(f"{name} is in {places or 'neither done/ nor failed/'}")
            continue
        with open(os.path.join(base, "spool", places[0], name), "rb") as f:
            if f.read() != text:
                found.append(f"{name} changed")
        if (places[0] == "done") != (name in GOOD):
            found.append(f"{name} ended in {places[0]}/")
        err = os.path.join(base, "spool/failed", name + ".err")
        if places[0] == "failed" and (not os.path.exists(err) or os.path.getsize(err) == 0):
            found.append(f"{name}: no reason in failed/")
    extra = set(listing["done"]) - set(MACROS)
    extra |= set(listing["failed"]) - set(MACROS) - {n + ".err" for n in MACROS}
    if extra:
        found.append(f"other files in done/ or failed/: {sorted(extra)}")
    want = sorted(n[:-4] + ".tif" for n in GOOD)
    if listing["out"] != want:
        found.append(f"out/ holds {listing['out']}, not {want}")
    if listing["pdf"] != sorted(n[:-4] + ".pdf" for n in GOOD):
        found.append(f"the PDF folder holds {listing['pdf']}")
    for name in GOOD:
        tif = os.path.join(base, "spool/out", name[:-4] + ".tif")
        if os.path.exists(tif) and open(tif, "rb").read() != reference[name]:
            found.append(f"{name[:-4]}.tif is not the complete fax")
        pdf = os.path.join(base, "pdf", name[:-4] + ".pdf")
        if os.path.exists(pdf) and not open(pdf, "rb").read().rstrip().endswith(b"%%EOF"):
            found.append(f"{name[:-4]}.pdf is not complete")
    return found


def run(label, start, unsynced=()):
    """Records one run from `start` ((folder, name) -> macro or file), then
    restarts the spool after a cut at every point of it. The data of the
    macros in `unsynced` is on the disk only once the spool syncs it."""
    content = dict(MACROS, oldtif=reference["one.fax"], oldpdf=old_pdf)
    base = os.path.join(top, label)
    record = os.path.join(base, "record")
    materialise(record, start, content)
    # The journal names files by inode; these are never freed in the run.
    alias = {"i%d" % os.stat(os.path.join(record, *where)).st_ino: key
             for where, key in start.items() if key in unsynced}
    journal, blobs = os.path.join(base, "journal"), os.path.join(base, "blobs")
    os.makedirs(blobs)
    env = dict(os.environ, LD_PRELOAD=preload(shim), FOLIO_FSLOG=journal, FOLIO_FSLOG_BLOBS=blobs)
    spool(record, env)
    if not os.path.exists(journal):
        sys.exit(f"FAIL: {shim} recorded nothing")
    if problems(record):
        sys.exit(f"FAIL: {label}: the recorded run itself: {problems(record)}")
    recorded = os.path.realpath(record) + "/"
    spool_folders = ["spool/" + d for d in FOLDERS[:-1]] + ["pdf"]

    def place(path):
        """(folder, name) of an absolute path in the recorded tree, or None."""
        path = os.path.normpath(path)
        if not path.startswith(recorded):
            return None
        folder, name = os.path.split(path[len(recorded):])
        return (folder, name) if folder in spool_folders else None

    ops = []  # in order; name changes carry the folder whose sync makes them certain
    for line in open(journal).read().splitlines():
        kind, *args = line.split(" ")
        if kind == "tmpfile" or (kind == "create" and args[2] == "new"):
            ops.append(("fresh", "i" + args[-2 if kind == "create" else 0]))
        if kind in ("create", "link"):
            where = place(args[0])
            if where:
                ops.append(("name", where, None, "i" + args[1], where[0]))
        elif kind == "rename":
            a, b = place(args[0]), place(args[1])
            if a and b:
                ops.append(("name", b, a, None, b[0]))
        elif kind == "unlink":
            where = place(args[0])
            if where:
                ops.append(("name", None, where, None, where[0]))
        elif kind == "syncdir":
            where = os.path.normpath(args[0])
            if where.startswith(recorded):
                ops.append(("syncdir", where[len(recorded):]))
        elif kind == "syncfile":
            ops.append(("syncfile", alias.get("i" + args[0], "i" + args[0]),
                        open(os.path.join(blobs, args[1]), "rb").read()))

    def disk_after(k):
        """Every state a power cut after the first k calls may leave."""
        data = dict(content, **{key: b"" for key in unsynced})
        uncertain = set()
        for i, op in enumerate(ops[:k]):
            if op[0] == "syncfile":
                data[op[1]] = op[2]
            elif op[0] == "fresh":
                data[op[1]] = b""  # a new file (perhaps an inode used again)
            elif op[0] == "syncdir":
                uncertain = {j for j in uncertain if ops[j][4] != op[1]}
            else:
                uncertain.add(i)
        pending = sorted(uncertain)
        n = len(pending)
        if n <= 6:
            choices = [set(c) for r in range(n + 1) for c in itertools.combinations(pending, r)]
        else:
            choices = [set(pending[:r]) for r in range(n + 1)]
            choices += [set(pending) - {p} for p in pending] + [{p} for p in pending]
        states = []
        for chosen in choices:
            names = dict(start)
            for i, op in enumerate(ops[:k]):
                if op[0] != "name" or (i in uncertain and i not in chosen):
                    continue
                _, to, source, inode, _ = op
                if source is not None:
                    inode = names.pop(source, None) if inode is None else inode
                    if inode is None:
                        continue  # a rename of a name whose making was lost
                if to is not None:
                    names[to] = inode
            states.append(names)
        return data, states

    cuts = len(ops) + 1
    tried, failures, seen = 0, [], set()
    cut = os.path.join(base, "cut")
    for k in range(cuts):
        data, states = disk_after(k)
        for names in states:
            held = dict(data)
            for (folder, _), inode in names.items():
                if folder == "spool/in" and inode in unsynced and not data[inode]:
                    held[inode] = content[inode]
            key = tuple(sorted((f, n, held.get(i, b"")) for (f, n), i in names.items()))
            if key in seen:
                continue
            seen.add(key)
            tried += 1
            materialise(cut, names, held)
            spool(cut)
            found = problems(cut)
            if found:
                failures.append(f"{label}: cut {k} of {cuts - 1} (after "
                                f"{ops[k - 1][:2] if k else 'nothing'}), with {sorted(names)}: "
                                f"{'; '.join(found)}")
    print(f"{label}: {len(ops)} recorded calls, {cuts} cut points, "
          f"{tried} distinct states restarted")
    return failures


failures = run("fresh", {("spool/in", n): n for n in MACROS})
failures += run("unsynced", {("spool/in", n): n for n in MACROS}, unsynced=set(MACROS))
failures += run("rebuild", {("spool/work", "one.fax"): "one.fax", ("spool/out", "one.tif"): "oldtif",
                            ("pdf", "one.pdf"): "oldpdf", ("spool/in", "two.fax"): "two.fax",
                            ("spool/in", "wrong.fax"): "wrong.fax"})
for f in failures[:10]:
    print("FAIL:", f)
sys.exit(1 if failures else 0)
