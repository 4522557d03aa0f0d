#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# foliobuild's diagnostics: MACRO:LINE: warning lines on standard error with
# the fax written all the same, --check (nothing written, a summary line per
# macro, exit 1 on a warning), --strict, -q, and line numbers that count the
# file's lines even when a line is read in parts.
set -u
dir="$1"
rm -rf "$dir" && mkdir -p "$dir"
fail=0
check() { # description, expected status, actual status
  if [ "$2" != "$3" ]; then echo "FAIL: $1 (status $3, expected $2)"; fail=1; fi
}
expect() { # description, pattern, text
  case "$3" in *$2*) ;; *) echo "FAIL: $1: no '$2' in: $3"; fail=1 ;; esac
}

long=$(printf 'word%.0s ' $(seq 1 150)) # 750 bytes: read in two parts
printf '@CONVERT:TEXTBOX=100,100,300,40\n%s\n@CONVERT:TEXT\n%s\n@CONVERT:FILE=nowhere.txt,TXT\n@CONVERT:END\nnever read\n' \
  "one two three four five six seven eight nine ten eleven twelve" "$long" > "$dir/lossy.fax"
printf 'Hello\n@CONVERT:LINE=100,100,1628,100\n' > "$dir/clean.fax"

err=$("$FOLIOBUILD" "$dir/lossy.fax" "$dir/lossy.tif" 2>&1); check "build with warnings" 0 $?
[ -s "$dir/lossy.tif" ] || { echo "FAIL: fax not written"; fail=1; }
expect "text box" "lossy.fax:2: warning: text box full:" "$err"
expect "long line" "lossy.fax:4: warning: the line is longer than 499 bytes" "$err"
expect "line after a long one" "lossy.fax:5: warning: included file \"nowhere.txt\" does not exist" "$err"
expect "after END" "lossy.fax:6: note: the text after END (from line 7 on) is not read" "$err"

out=$("$FOLIOBUILD" --check "$dir/lossy.fax" "$dir/clean.fax" 2>/dev/null); check "check" 1 $?
expect "summary" "lossy.fax: 1 page, 3 warnings, 1 note" "$out"
expect "clean summary" "clean.fax: 1 page, 0 warnings" "$out"
expect "diagnostics on stdout" "lossy.fax:2: warning" "$out"
out=$("$FOLIOBUILD" --check -j 2 "$dir/clean.fax" "$dir/clean.fax" 2>&1); check "check clean" 0 $?
[ "$out" = "$dir/clean.fax: 1 page, 0 warnings
$dir/clean.fax: 1 page, 0 warnings" ] || { echo "FAIL: clean check printed: $out"; fail=1; }
ls "$dir" | grep -q "^clean.*\.tif$" && { echo "FAIL: --check wrote a file"; fail=1; }

"$FOLIOBUILD" --strict "$dir/lossy.fax" "$dir/strict.tif" 2>/dev/null; check "strict" 1 $?
[ ! -e "$dir/strict.tif" ] || { echo "FAIL: --strict wrote the fax"; fail=1; }
"$FOLIOBUILD" --strict "$dir/clean.fax" "$dir/strict.tif"; check "strict clean" 0 $?

err=$("$FOLIOBUILD" -q "$dir/lossy.fax" "$dir/quiet.tif" 2>&1); check "quiet" 0 $?
[ -z "$err" ] || { echo "FAIL: -q printed: $err"; fail=1; }

if [ $fail = 0 ]; then echo "foliobuild diagnostics: all passed"; fi
exit $fail
