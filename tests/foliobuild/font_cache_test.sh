#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# The font lookup cache changes no output: every example fax built with the
# cache off, with a cold cache (fontconfig answers and the file is written)
# and with a warm one (the file answers) is the same to the byte. Also run
# with --check, whose font notes come from the cache when it is warm.
set -u
dir="$1" examples="$2"
rm -rf "$dir" && mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
cd "$examples" || exit 1
fail=0
for macro in *.fax; do
  [ "$macro" = confirm.fax ] && continue # a mail-merge template, built from data
  rm -f "$dir/cache"
  for run in off cold warm; do
    setting="$dir/cache"; [ $run = off ] && setting=0
    FOLIOSET_FONT_CACHE=$setting "$FOLIOBUILD" -q "$macro" "$dir/$macro.$run.tif" \
      || { echo "FAIL: $macro ($run) did not build"; fail=1; }
    FOLIOSET_FONT_CACHE=$setting "$FOLIOBUILD" --check "$macro" > "$dir/$macro.$run.check" 2>&1
  done
  [ -s "$dir/cache" ] || { echo "FAIL: $macro: no cache file written"; fail=1; }
  for run in cold warm; do
    cmp -s "$dir/$macro.off.tif" "$dir/$macro.$run.tif" \
      || { echo "FAIL: $macro: the fax built with a $run cache differs"; fail=1; }
    cmp -s "$dir/$macro.off.check" "$dir/$macro.$run.check" \
      || { echo "FAIL: $macro: --check with a $run cache says otherwise"; fail=1; }
  done
done
exit $fail
