#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# foliobuild --stats: for each coding and resolution, each page's bytes are
# its strip in the file written with the same options, the pages add up to
# the total (6 s of call set-up on top), --check prints the same figures,
# Group 4 pages are smaller than Group 3 ones and asking for the figures
# leaves the fax file as it was. A page of a fine checkerboard warns
# page-slow with --stats or --check (failing --strict), not in a plain build.
set -u
dir="$1"
rm -rf "$dir" && mkdir -p "$dir"
fail=0
bad() { echo "FAIL: $*"; fail=1; }

{ echo 'A first page of text, set in the default font.'
  echo '@CONVERT:BOX=100,400,1500,300'
  echo '@CONVERT:PAGEBREAK'
  echo 'The second page, a little more text on it than on the first one.'
  echo 'And a second line.'; } > "$dir/text.fax"
# A 1-bit BMP of 1200 x 1600 pixels, every other pixel black on each row, the
# rows offset by one: the shortest runs a page can have, on half the page
# (a quarter of its pixels black).
python3 - "$dir/check.bmp" <<'PY'
import struct, sys
w, h = 1200, 1600
stride = (w + 31) // 32 * 4
rows = b"".join((b"\x55" if y % 2 else b"\xaa") * stride for y in range(h))
head = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 1, 0, len(rows), 0, 0, 2, 2)
pal = bytes([0, 0, 0, 0, 255, 255, 255, 0])
off = 14 + len(head) + len(pal)
open(sys.argv[1], "wb").write(b"BM" + struct.pack("<IHHI", off + len(rows), 0, 0, off) + head + pal + rows)
PY
printf 'Before the picture\n@CONVERT:FILE=%s,BMP\n' "$dir/check.bmp" > "$dir/dark.fax"

# The page figures of --stats output ("page N: BYTES bytes, S s ..., T s ..."),
# one line each: N BYTES S T; the total line as "total BYTES S T".
figures() {
  awk '/: page [0-9]+: / { sub(/.*: page /, ""); gsub(/[:,]/, ""); print $1, $2, $4, $9 }
       /: total: / { sub(/.*: total: /, ""); gsub(/,/, ""); print "total", $3, $5, $10 }'
}

declare -A g3bytes
for options in "" "--g4" "--g3-2d" "--resolution normal" "--g4 --resolution normal"; do
  name=$(tr -d ' -' <<<"x$options")
  out=$("$FOLIOBUILD" -q --stats $options "$dir/text.fax" "$dir/$name.tif") || bad "$options: build failed"
  "$FOLIOBUILD" -q $options "$dir/text.fax" "$dir/$name-plain.tif"
  cmp -s "$dir/$name.tif" "$dir/$name-plain.tif" || bad "$options: --stats changed the fax file"
  checked=$("$FOLIOBUILD" -q --check --stats $options "$dir/text.fax" | grep -v ' warnings')
  [ "$checked" = "$out" ] || bad "$options: --check prints other figures: $checked"
  figures <<<"$out" > "$dir/$name.txt"
  [ "$(grep -c -v total "$dir/$name.txt")" = 2 ] || bad "$options: not two page lines: $out"
  # Sums: bytes exactly; seconds within the rounding of the printed tenths.
  awk -v what="$options" '
    $1 != "total" { b += $2; s += $3; t += $4; n++ }
    $1 == "total" { if (b != $2) print "FAIL: " what ": pages have " b " bytes, total " $2
                    if ((s + 6 - $3) ^ 2 > (0.05 * (n + 1)) ^ 2 || (t + 6 - $4) ^ 2 > (0.05 * (n + 1)) ^ 2)
                      print "FAIL: " what ": page times do not add up to the total: " $0 }' \
    "$dir/$name.txt" | grep . && fail=1
  if command -v tiffdump >/dev/null; then
    strips=$(tiffdump "$dir/$name.tif" | sed -n 's/^StripByteCounts.*<\([0-9]*\)>$/\1/p' | paste -sd' ')
    pages=$(grep -v total "$dir/$name.txt" | cut -d' ' -f2 | paste -sd' ')
    [ "$strips" = "$pages" ] || bad "$options: strips of $strips bytes, --stats says $pages"
  fi
  while read -r page bytes _; do
    case "$options" in
      "") g3bytes[$page]=$bytes ;;
      "--g4") [ "$bytes" -lt "${g3bytes[$page]}" ] || bad "G4 page $page: $bytes bytes, G3 ${g3bytes[$page]}" ;;
    esac
  done < "$dir/$name.txt"
done
command -v tiffdump >/dev/null || echo "note: tiffdump not installed (libtiff-tools): strips not compared"

# The checkerboard page: a warning with --check and --stats, none in a plain build.
out=$("$FOLIOBUILD" --check "$dir/dark.fax"); [ $? = 1 ] || bad "--check of a slow page did not fail"
case "$out" in *"dark.fax: warning: page 1 takes "*" s at 14400 bit/s ("*"bytes coded): 25% black, a dithered picture"*) ;;
  *) bad "no page-slow warning in: $out" ;; esac
err=$("$FOLIOBUILD" --stats "$dir/dark.fax" "$dir/dark.tif" 2>&1 >/dev/null) || bad "--stats build failed"
case "$err" in *"warning: page 1 takes "*) ;; *) bad "no page-slow warning with --stats: $err" ;; esac
err=$("$FOLIOBUILD" "$dir/dark.fax" "$dir/dark-plain.tif" 2>&1) || bad "plain build failed"
[ -z "$err" ] || bad "a plain build warned: $err"
"$FOLIOBUILD" -q --strict --stats "$dir/dark.fax" "$dir/strict.tif" >/dev/null 2>&1 && bad "--strict took a slow page"
[ ! -e "$dir/strict.tif" ] || bad "--strict wrote the slow fax"
"$FOLIOBUILD" --stats "$dir/text.fax" - >/dev/null 2>&1; [ $? = 2 ] || bad "--stats with the fax on standard output"

[ $fail = 0 ] && echo "foliobuild --stats: all passed"
exit $fail
