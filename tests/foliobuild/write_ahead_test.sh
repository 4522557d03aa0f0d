#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# A fax file is written while its later pages are still set: each document
# comes out byte for byte as the one written to standard output (which is
# written whole at the end), also when a header stops the coding ahead half
# way; a build that fails after pages went out leaves the old file as it was
# and nothing else in the folder.
set -u
dir="$1"
rm -rf "$dir" && mkdir -p "$dir/out"
cd "$dir" || exit 1
fail=0
bad() { echo "FAIL: $*"; fail=1; }

for i in $(seq 1 400); do echo "Line $i of a long document, set across many pages."; done > long.fax
{ head -n 150 long.fax; echo "@CONVERT:HEADER=Page {page} of {pages}"; tail -n 250 long.fax; } > header.fax
{ echo "@CONVERT:NEWPAGE"; head -n 200 long.fax; echo "@CONVERT:NEWPAGE"; echo "@CONVERT:NEWPAGE"; } > blank.fax

for macro in long header blank; do
  for options in "" "--g3-2d" "--g4" "--resolution normal"; do
    # shellcheck disable=SC2086
    "$FOLIOBUILD" -q $options "$macro.fax" out/file.tif || bad "$macro $options: not built"
    # shellcheck disable=SC2086
    "$FOLIOBUILD" -q $options "$macro.fax" - > out/stdout.tif
    cmp -s out/file.tif out/stdout.tif || bad "$macro $options: written ahead, the file differs"
  done
done

# Strict, with a warning at the end: nothing is written, the old file stays.
{ cat long.fax; echo "@CONVERT:NOSUCHCOMMAND"; } > late.fax
echo before > out/old.tif
"$FOLIOBUILD" -q --strict late.fax out/old.tif 2> /dev/null && bad "a strict build with a warning succeeded"
[ "$(cat out/old.tif)" = before ] || bad "a failed build replaced the old file"
left=$(ls -A out | grep -v -x -e file.tif -e stdout.tif -e old.tif)
[ -z "$left" ] || bad "left behind: $left"
exit $fail
