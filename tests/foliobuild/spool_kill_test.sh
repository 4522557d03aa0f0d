#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# The spool under kills: 200 macros (a tenth of them failing: a broken
# bitmap, an include that cannot be read, a macro over the size limit) go
# into a spool with two builders, half before it starts and half while it
# runs. The service is killed with SIGKILL twice while it works and started
# again, then stopped with SIGTERM. Every good macro must end in done/ with
# exactly one complete fax in out/, every bad one in failed/ with its reason,
# and nothing may stay in in/ or work/, nor any temporary file.
set -u
dir="$1"
rm -rf "$dir" && mkdir -p "$dir/src" "$dir/spool"
cd "$dir" || exit 1
fail=0
bad() { echo "FAIL: $*"; fail=1; }

printf 'BM this is no bitmap' > broken.bmp
mkfifo pipe.txt
good=() failing=()
for i in $(seq 1 200); do
  name=$(printf 'm%03d.fax' "$i")
  case $((i % 10)) in
  0)
    failing+=("$name")
    case $((i / 10 % 3)) in
    0) printf 'Broken picture\n@CONVERT:FILE=broken.bmp,BMP\n' ;;
    1) printf 'Unreadable include\n@CONVERT:FILE=pipe.txt,TXT\n' ;;
    2) for j in $(seq 1 2000); do echo "Line $j of a macro over the limit of this spool"; done ;;
    esac > "src/$name"
    continue ;;
  3) # a missing include does nothing: built
    printf '@CONVERT:FILE=no-such-file.txt,TXT\nAfter the missing file\n' > "src/$name" ;;
  5) # binary garbage is printed as text: built
    head -c 3000 /dev/urandom > "src/$name" ;;
  *)
    { echo "Document $i"; for j in $(seq 1 $((i * 7 % 150 + 1))); do
        echo "Line $j of document $i, with enough words to fill a good part of the line"
      done; } > "src/$name" ;;
  esac
  good+=("$name")
done

# Half the clients write under a dot name and rename; the others write in place.
drop() {
  for name in "$@"; do
    if [ $((10#${name:1:3} % 2)) = 0 ]; then
      cp "src/$name" "spool/in/.$name" && mv "spool/in/.$name" "spool/in/$name"
    else
      cat "src/$name" > "spool/in/$name"
    fi
  done
}
settled() { echo $(( $(ls spool/done 2>/dev/null | wc -l) + $(ls spool/failed 2>/dev/null | grep -vc '\.err$') )); }
# Waits (at most a minute) until at least $1 macros are in done/ or failed/.
wait_for() {
  for _ in $(seq 1 600); do
    [ "$(settled)" -ge "$1" ] && return 0
    sleep 0.1
  done
  bad "only $(settled) of $1 macros settled"; return 1
}
start() {
  "$FOLIOBUILD" --spool spool -j 2 --include-root "$dir" --max-macro-size 65536 2>> spool.log &
  pid=$!
}

mkdir -p spool/in
all=("${good[@]}" "${failing[@]}")
IFS=$'\n' sorted=($(printf '%s\n' "${all[@]}" | sort)); unset IFS
drop "${sorted[@]:0:100}"
start
wait_for 30 && kill -KILL $pid; wait $pid 2>/dev/null
start
drop "${sorted[@]:100:100}"
wait_for 130 && kill -KILL $pid; wait $pid 2>/dev/null
start
wait_for 200
kill -TERM $pid; wait $pid; status=$?
[ $status = 0 ] || bad "SIGTERM: exit status $status"

[ -z "$(ls -A spool/in spool/work | grep -v ':$' | grep -v '^$')" ] || bad "left in in/ or work/: $(ls -A spool/in spool/work)"
for name in "${good[@]}"; do
  tif="spool/out/${name%.fax}.tif"
  cmp -s "src/$name" "spool/done/$name" || bad "$name not in done/ as dropped"
  tiffinfo -D "$tif" > /dev/null 2>&1 || bad "$tif missing or not a complete TIFF"
done
for name in "${failing[@]}"; do
  cmp -s "src/$name" "spool/failed/$name" || bad "$name not in failed/ as dropped"
  grep -q "^$name" "spool/failed/$name.err" || bad "$name.err missing or not naming it"
done
[ "$(ls -A spool/out | wc -l)" = ${#good[@]} ] || bad "out/ holds other files: $(ls -A spool/out | grep -v '^m...\.tif$')"
[ "$(ls -A spool/done | wc -l)" = ${#good[@]} ] || bad "done/ holds other files"
[ "$(ls -A spool/failed | wc -l)" = $((2 * ${#failing[@]})) ] || bad "failed/ holds other files"
grep -q "^m010.fax: 0 pages, .* ms, failed: m010.fax:2: Cannot open file pipe.txt" spool.log ||
  bad "no log line for m010.fax"
grep -q "^m020.fax: .*failed: m020.fax: the macro file is larger than 65536 bytes" spool.log ||
  bad "no log line for m020.fax"
grep -q "^m030.fax: .*failed: m030.fax:2: Bitmap image is not valid" spool.log ||
  bad "no log line for m030.fax"

# A strict spool refuses what loses something: a missing include and binary
# garbage go to failed/, each reason listing what the macro lost.
mkdir -p strict/in
printf '@CONVERT:FILE=no-such-file.txt,TXT\nAfter the missing file\n' > strict/in/missing.fax
head -c 3000 /dev/urandom > strict/in/garbage.fax
printf 'Nothing lost here\n' > strict/in/clean.fax
"$FOLIOBUILD" --spool strict --once --strict 2>> spool.log && bad "strict --once: exit 0 with failures"
for name in missing garbage; do
  [ -f "strict/failed/$name.fax" ] || bad "strict: $name.fax not in failed/"
  grep -q "^$name.fax:[0-9]*: warning: " "strict/failed/$name.fax.err" ||
    bad "strict: $name.fax.err lists no warning"
done
grep -q "^missing.fax:1: warning: .*no-such-file.txt" strict/failed/missing.fax.err ||
  bad "strict: the missing include is not named at its line"
tiffinfo -D strict/out/clean.tif > /dev/null 2>&1 && [ -f strict/done/clean.fax ] ||
  bad "strict: clean.fax not built"

if [ $fail = 0 ]; then echo "spool under kills: all passed"; else tail -20 spool.log; fi
exit $fail
