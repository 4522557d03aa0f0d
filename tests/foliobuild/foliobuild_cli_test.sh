#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# foliobuild's command line: exit codes, the one-line error, --png, --help.
set -u
dir="$1"
rm -rf "$dir" && mkdir -p "$dir/png"
fail=0
check() { # description, expected status, actual status
  if [ "$2" != "$3" ]; then echo "FAIL: $1 (status $3, expected $2)"; fail=1; fi
}

printf 'Hello\n@CONVERT:PAGEBREAK\nWorld\n' > "$dir/ok.fax"
"$FOLIOBUILD" --png "$dir/png" "$dir/ok.fax" "$dir/ok.tif"; check "build" 0 $?
[ -s "$dir/ok.tif" ] || { echo "FAIL: no TIFF"; fail=1; }
[ -s "$dir/png/ok-001.png" ] && [ -s "$dir/png/ok-002.png" ] || { echo "FAIL: no PNGs"; fail=1; }
"$FOLIOBUILD" --g4 "$dir/ok.fax" "$dir/g4.tif"; check "g4" 0 $?
"$FOLIOBUILD" --g3-2d "$dir/ok.fax" "$dir/g32d.tif"; check "g3-2d" 0 $?

err=$("$FOLIOBUILD" "$dir/missing.fax" "$dir/x.tif" 2>&1); check "missing macro" 1 $?
[ "$(printf '%s\n' "$err" | wc -l)" = 1 ] || { echo "FAIL: not one line: $err"; fail=1; }
case "$err" in *missing.fax*) ;; *) echo "FAIL: file not named: $err"; fail=1 ;; esac
[ ! -e "$dir/x.tif" ] || { echo "FAIL: TIFF written on failure"; fail=1; }

"$FOLIOBUILD" "$dir/ok.fax" 2>/dev/null; check "one file" 2 $?
"$FOLIOBUILD" --bogus "$dir/ok.fax" "$dir/y.tif" 2>/dev/null; check "bad option" 2 $?
"$FOLIOBUILD" --help | grep -q "Usage: foliobuild"; check "help" 0 $?
"$FOLIOBUILD" --version | grep -Eq "^foliobuild \(Folioset\) [0-9]+\.[0-9]+\.[0-9]+$"; check "version" 0 $?
"$FOLIOBUILD" "$dir/ok.fax" "$dir/no/such/dir/z.tif" 2>/dev/null; check "unwritable" 1 $?

if [ $fail = 0 ]; then echo "foliobuild command line: all passed"; fi
exit $fail
