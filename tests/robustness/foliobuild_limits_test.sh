#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# foliobuild at the limits of its surroundings: a full disk (a 64 KB tmpfs,
# when the test may mount one), a file size limit (ulimit -f) and a macro
# that is a folder. Each fails with one line naming the file, exit status 1,
# the earlier output left as it was and no temporary file beside it.
set -u
dir="$1"
umount "$dir/full" 2>/dev/null
rm -rf "$dir" && mkdir -p "$dir"
fail=0
check() { # description, expected status, actual status
  if [ "$2" != "$3" ]; then echo "FAIL: $1 (status $3, expected $2)"; fail=1; fi
}
only() { # description, expected listing of $dir
  local got
  got=$(cd "$dir" && ls -A | tr '\n' ' ')
  [ "$got" = "$2" ] || { echo "FAIL: $1: files are '$got', expected '$2'"; fail=1; }
}

# A page of 400 vertical lines codes to far more than 16 KB.
for x in $(seq 100 4 1696); do echo "@CONVERT:LINE=$x,100,$x,2100"; done > "$dir/dense.fax"
echo "earlier" > "$dir/out.tif"

err=$( (ulimit -f 16; "$FOLIOBUILD" "$dir/dense.fax" "$dir/out.tif") 2>&1 )
check "file size limit" 1 $?
[ "$(printf '%s\n' "$err" | wc -l)" = 1 ] || { echo "FAIL: not one line: $err"; fail=1; }
case "$err" in *out.tif*"File too large"*) ;; *) echo "FAIL: no file or cause: $err"; fail=1 ;; esac
[ "$(cat "$dir/out.tif")" = "earlier" ] || { echo "FAIL: earlier output changed"; fail=1; }
only "file size limit" "dense.fax out.tif "

"$FOLIOBUILD" "$dir/dense.fax" "$dir/out.tif"; check "without the limit" 0 $?

mkdir "$dir/full"
if mount -t tmpfs -o size=64k tmpfs "$dir/full" 2>/dev/null; then
  echo "earlier" > "$dir/full/out.tif"
  err=$("$FOLIOBUILD" "$dir/dense.fax" "$dir/full/out.tif" 2>&1); check "disk full" 1 $?
  case "$err" in *"No space left on device"*) ;; *) echo "FAIL: no cause: $err"; fail=1 ;; esac
  [ "$(cat "$dir/full/out.tif")" = "earlier" ] || { echo "FAIL: earlier output changed"; fail=1; }
  [ "$(ls -A "$dir/full")" = "out.tif" ] || { echo "FAIL: left in full: $(ls -A "$dir/full")"; fail=1; }
  umount "$dir/full"
else
  echo "disk full on a tmpfs: skipped (cannot mount here)"
fi
rmdir "$dir/full"

mkdir "$dir/folder.fax"
err=$("$FOLIOBUILD" "$dir/folder.fax" "$dir/out2.tif" 2>&1); check "macro is a folder" 1 $?
case "$err" in *"is a directory"*) ;; *) echo "FAIL: no reason: $err"; fail=1 ;; esac
only "macro is a folder" "dense.fax folder.fax out.tif "

if [ $fail = 0 ]; then echo "foliobuild at its limits: all passed"; fi
exit $fail
