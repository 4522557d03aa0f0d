#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# foliobuild --check on macros that lose text to their bytes or their
# layout: each loss is named with its line and kind, and --strict refuses
# the macro.
set -u
dir="$1"
rm -rf "$dir" && mkdir -p "$dir"
fail=0
expect() { # description, pattern, text
  case "$3" in *$2*) ;; *) echo "FAIL: $1: no '$2' in: $3"; fail=1 ;; esac
}

printf 'nul\000byte here\n' > "$dir/nul.fax"
printf 'inc\000luded words\n' > "$dir/nul.txt"
printf '@CONVERT:FILE=%s,TXT\n' "$dir/nul.txt" > "$dir/include.fax"
printf '\xef\xbb\xbfHello\n' > "$dir/bom.fax"
printf 'a\rb\r@CONVERT:FOOBAR\rc\r' > "$dir/cr.fax"
printf '@CONVERT:TEXTBOX=100,300,240,50\nIBAN:DE89370400440532013000\n@CONVERT:TEXTBOX=250,300,300,50\n[X:8937 over it\n' > "$dir/box.fax"
printf '@CONVERT:FONT=Arial,1\nsmall print\n' > "$dir/tiny.fax"

while IFS='|' read -r name pattern; do
  out=$("$FOLIOBUILD" --check "$dir/$name.fax" 2>&1)
  expect "$name" "$dir/$name.fax:$pattern" "$out"
  "$FOLIOBUILD" -q --strict "$dir/$name.fax" "$dir/$name.tif" 2>/dev/null &&
    { echo "FAIL: --strict wrote $name"; fail=1; }
done <<'CASES'
nul|1: warning: a NUL byte ends the line; 2 words after it are not read: "byte here"
include|1: warning: a NUL byte ends the line; 2 words after it are not read: "luded words" (in
bom|1: warning: the file begins with a UTF-8 byte-order mark
cr|1: warning: the line holds 4 carriage returns without a line feed
box|2: warning: text runs
box|4: warning: text is set over what was drawn before it
tiny|2: warning: text in "Arial" at 2 points is too small to read on a fax
CASES

# The note on a face with Arial's metrics reads as a whole sentence.
out=$("$FOLIOBUILD" --check "$dir/tiny.fax" 2>&1)
expect "font note" 'set in "Liberation Sans", which has the same metrics' "$out"

if [ $fail = 0 ]; then echo "foliobuild text losses: all passed"; fi
exit $fail
