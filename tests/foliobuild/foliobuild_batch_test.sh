#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# foliobuild in batch mode: output names, the exit status when one document
# fails, parallel builds byte-identical to serial ones, and the include root.
set -u
dir="$1"
rm -rf "$dir" && mkdir -p "$dir/in" "$dir/serial" "$dir/parallel" "$dir/root/sub" "$dir/secret"
fail=0
check() { if [ "$2" != "$3" ]; then echo "FAIL: $1 (status $3, expected $2)"; fail=1; fi; }

for i in 1 2 3 4 5 6; do
  { echo "Document $i"; for j in $(seq 1 $((i * 40))); do echo "Line $j of document $i with some words"; done; } > "$dir/in/doc$i.fax"
done
"$FOLIOBUILD" -q -o "$dir/serial" "$dir"/in/doc*.fax; check "serial batch" 0 $?
"$FOLIOBUILD" -q -j 3 -o "$dir/parallel" "$dir"/in/doc*.fax; check "parallel batch" 0 $?
for i in 1 2 3 4 5 6; do
  [ -s "$dir/serial/doc$i.tif" ] || { echo "FAIL: doc$i.tif missing"; fail=1; }
  cmp -s "$dir/serial/doc$i.tif" "$dir/parallel/doc$i.tif" || { echo "FAIL: doc$i differs"; fail=1; }
done

# One failing document: the others are written, the failure is named.
printf '@CONVERT:FILE=/dev/zero,TXT\n' > "$dir/in/bad.fax"
out=$("$FOLIOBUILD" -j 2 -o "$dir/parallel" "$dir/in/doc1.fax" "$dir/in/bad.fax" "$dir/in/doc2.fax" 2>&1)
check "batch with a failure" 1 $?
case "$out" in *bad.fax*"Cannot open file /dev/zero"*) ;; *) echo "FAIL: failure not named: $out"; fail=1 ;; esac
case "$out" in *"3 documents, 2 written, 1 failed"*) ;; *) echo "FAIL: no summary: $out"; fail=1 ;; esac

# Two inputs with the same name would overwrite each other: refused.
mkdir -p "$dir/in/other" && cp "$dir/in/doc1.fax" "$dir/in/other/doc1.fax"
"$FOLIOBUILD" -o "$dir/parallel" "$dir/in/doc1.fax" "$dir/in/other/doc1.fax" 2>/dev/null
check "clashing names" 2 $?

# Include root: inside is read, ../ and symbolic links out of it are not.
echo "SECRET TEXT" > "$dir/secret/secret.txt"
echo "public text" > "$dir/root/sub/ok.txt"
ln -s "$dir/secret/secret.txt" "$dir/root/link.txt"
cd "$dir/root"
printf '@CONVERT:FILE=sub/ok.txt,TXT\n' > inside.fax
printf '@CONVERT:FILE=../secret/secret.txt,TXT\n' > dotdot.fax
printf '@CONVERT:FILE=link.txt,TXT\n' > symlink.fax
printf '' > empty.fax
"$FOLIOBUILD" --include-root . empty.fax "$dir/empty.tif"; check "empty" 0 $?
"$FOLIOBUILD" --include-root . inside.fax "$dir/inside.tif"; check "inside" 0 $?
cmp -s "$dir/empty.tif" "$dir/inside.tif" && { echo "FAIL: inside file not included"; fail=1; }
for m in dotdot symlink; do
  warn=$("$FOLIOBUILD" --include-root . $m.fax "$dir/$m.tif" 2>&1); check "$m" 0 $?
  cmp -s "$dir/empty.tif" "$dir/$m.tif" || { echo "FAIL: $m escaped the root"; fail=1; }
  case "$warn" in *warning*"outside the include root"*) ;; *) echo "FAIL: no warning for $m: $warn"; fail=1 ;; esac
done
"$FOLIOBUILD" dotdot.fax "$dir/free.tif"; check "no root" 0 $?
cmp -s "$dir/empty.tif" "$dir/free.tif" && { echo "FAIL: without a root the file is read"; fail=1; }
"$FOLIOBUILD" --include-root "$dir/nope" empty.fax "$dir/x.tif" 2>/dev/null; check "bad root" 1 $?
"$FOLIOBUILD" --include-root "" dotdot.fax "$dir/x.tif" 2>/dev/null; check "empty root" 1 $?

# A fax written over its own macro, by any spelling or link: refused, the
# macro kept.
cp inside.fax same.fax && ln -f same.fax hard.fax
for out in same.fax ./same.fax "$dir/root/hard.fax" ""; do
  if [ -z "$out" ]; then
    err=$("$FOLIOBUILD" --pdf same.fax same.fax "$dir/x.tif" 2>&1)
  else
    err=$("$FOLIOBUILD" same.fax "$out" 2>&1)
  fi
  check "over its macro: ${out:---pdf}" 2 $?
  case "$err" in *"is the macro file"*) ;; *) echo "FAIL: not named: $err"; fail=1 ;; esac
  cmp -s same.fax inside.fax || { echo "FAIL: the macro was overwritten (${out:---pdf})"; fail=1; }
done

if [ $fail = 0 ]; then echo "foliobuild batch: all passed"; fi
exit $fail
