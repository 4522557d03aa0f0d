#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# The include root against a symbolic link swapped while builds run: the
# link points in turn at a file inside the root and at a secret outside it
# (by a relative and by an absolute target). Every fax built meanwhile must
# be byte for byte either the fax with the inside file or the fax with the
# include refused; none may hold a line of the secret.
set -u
dir="$1"
rm -rf "$dir" && mkdir -p "$dir/root/macros" "$dir/outside" "$dir/ref" "$dir/out"
cd "$dir/root" || exit 1
fail=0
bad() { echo "FAIL: $*"; fail=1; }

printf 'public text from inside the root\n' > inside.txt
for i in $(seq 1 40); do echo "SECRET $i: a line the macro writer may not read"; done > ../outside/secret.txt
printf 'Before the include\n@CONVERT:FILE=link.txt,TXT\nAfter the include\n' > m.fax
printf 'Before the include\nAfter the include\n' > refused.fax
"$FOLIOBUILD" refused.fax ../ref/refused.tif
ln -s inside.txt link.txt
"$FOLIOBUILD" --include-root . m.fax ../ref/inside.tif
for target in ../outside/secret.txt "$dir/outside/secret.txt"; do
  ln -sfn "$target" link.txt
  warn=$("$FOLIOBUILD" --include-root . m.fax ../ref/out.tif 2>&1) || bad "$target: build failed"
  cmp -s ../ref/out.tif ../ref/refused.tif || bad "$target: read through the link"
  case "$warn" in *"outside the include root"*) ;; *) bad "$target: no warning: $warn" ;; esac
  "$FOLIOBUILD" m.fax ../ref/secret.tif
  cmp -s ../ref/secret.tif ../ref/refused.tif && bad "without a root the secret is not read (test broken)"
done
cmp -s ../ref/inside.tif ../ref/refused.tif && bad "the inside file is not read (test broken)"

# A bitmap through the root is drawn as without one (8 x 8, 1 bit, a checkerboard).
{ printf 'BM\x5e\x00\x00\x00\x00\x00\x00\x00\x3e\x00\x00\x00\x28\x00\x00\x00\x08\x00\x00\x00'
  printf '\x08\x00\x00\x00\x01\x00\x01\x00\x00\x00\x00\x00\x20\x00\x00\x00\x00\x00\x00\x00'
  printf '\x00\x00\x00\x00\x02\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\xff\xff\xff\x00'
  for _ in 1 2 3 4; do printf '\xaa\x00\x00\x00\x55\x00\x00\x00'; done; } > check.bmp
printf 'Before the picture\n@CONVERT:FILE=check.bmp,BMP\nAfter the picture\n' > bmp.fax
"$FOLIOBUILD" bmp.fax ../ref/bmp-free.tif
"$FOLIOBUILD" --include-root . bmp.fax ../ref/bmp-root.tif
cmp -s ../ref/bmp-free.tif ../ref/bmp-root.tif || bad "a bitmap through the root is drawn differently"
printf 'Before the picture\nAfter the picture\n' > nobmp.fax
"$FOLIOBUILD" nobmp.fax ../ref/nobmp.tif
cmp -s ../ref/bmp-root.tif ../ref/nobmp.tif && bad "the bitmap is not drawn"

for i in $(seq 1 100); do cp m.fax "macros/m$i.fax"; done
# Each swap is a rename over the link, so the link always exists.
(
  while [ ! -e ../stop ]; do
    ln -sfn inside.txt .l1 && mv -T .l1 link.txt
    ln -sfn ../outside/secret.txt .l2 && mv -T .l2 link.txt
    ln -sfn inside.txt .l3 && mv -T .l3 link.txt
    ln -sfn "$dir/outside/secret.txt" .l4 && mv -T .l4 link.txt
  done
) &
swapper=$!
inside=0 refused=0
for round in 1 2 3 4; do
  "$FOLIOBUILD" -q -j 2 --include-root . -o ../out macros/*.fax 2> /dev/null || bad "round $round failed"
  for f in ../out/*.tif; do
    if cmp -s "$f" ../ref/inside.tif; then inside=$((inside + 1))
    elif cmp -s "$f" ../ref/refused.tif; then refused=$((refused + 1))
    else bad "$f is neither the inside fax nor the refused one"; fi
  done
  rm -f ../out/*.tif
done
touch ../stop
wait $swapper
echo "400 builds under a swapping link: $inside with the inside file, $refused refused"

if [ $fail = 0 ]; then echo "include root race: all passed"; fi
exit $fail
