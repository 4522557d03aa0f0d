#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# foliobuild --reserve-top N: text, a LINE, a BOX and a second page's drawing
# in the top N rows warn reserved-strip at their line and are white in the
# written TIFF, while row N itself keeps its ink; a macro that stays below
# the strip is written byte for byte as without the option; --strict and
# the spool's --strict refuse; a bad N is a usage error (exit 2).
set -u
dir="$1"
rm -rf "$dir" && mkdir -p "$dir/spool/in"
fail=0
bad() { echo "FAIL: $*"; fail=1; }
command -v tiffcp >/dev/null || { echo "SKIP: tiffcp not installed (libtiff-tools)"; exit 77; }

# Black pixels of each page of TIFF above row ROWS and in row ROWS, as
# "above:at" per page: the file is made uncompressed first (one strip a
# page), whose bytes are counted whatever their bit order.
ink() { # tiff rows
  tiffcp -c none -r 100000 "$1" "$1.raw" && python3 - "$1.raw" "$2" <<'PY'
import struct, sys
data, rows = open(sys.argv[1], "rb").read(), int(sys.argv[2])
e = "<" if data[:2] == b"II" else ">"
ifd, pages = struct.unpack(e + "I", data[4:8])[0], []
while ifd:
    n = struct.unpack(e + "H", data[ifd:ifd + 2])[0]
    tags = {}
    for i in range(n):
        tag, typ, cnt, val = struct.unpack(e + "HHII", data[ifd + 2 + 12 * i:ifd + 14 + 12 * i])
        tags[tag] = val >> 16 if typ == 3 and e == ">" else val & 0xFFFF if typ == 3 else val
    stride, off, white = (tags[256] + 7) // 8, tags[273], tags.get(262, 0) == 0
    count = lambda b: sum(bin(x if white else x ^ 0xFF).count("1") for x in b)
    pages.append("%d:%d" % (count(data[off:off + rows * stride]),
                            count(data[off + rows * stride:off + (rows + 1) * stride])))
    ifd = struct.unpack(e + "I", data[ifd + 2 + 12 * n:ifd + 6 + 12 * n])[0]
print(" ".join(pages))
PY
}

# name | N | options | macro lines (';' between) | warned lines | ink per page
while IFS='|' read -r name rows options macro lines pages; do
  tr ';' '\n' <<<"$macro" > "$dir/$name.fax"
  "$FOLIOBUILD" --reserve-top "$rows" $options "$dir/$name.fax" "$dir/$name.tif" 2> "$dir/$name.err" ||
    bad "$name: build failed: $(cat "$dir/$name.err")"
  got=$(sed -n 's/^[^:]*:\([0-9]*\): warning: page [0-9]*: .* top '"$rows"' rows.*/\1/p' "$dir/$name.err" | xargs)
  [ "$got" = "$lines" ] || bad "$name: reserved-strip warnings at lines '$got', not '$lines'"
  [[ "$options" == *normal* ]] && file_rows=$((rows / 2)) || file_rows=$rows
  got=$(ink "$dir/$name.tif" "$file_rows")
  [[ "$got" =~ ^$pages$ ]] || bad "$name: ink above:at row $rows per page is '$got', not '$pages'"
done <<'TABLE'
text|40||@CONVERT:Y=2;Header text in the strip;@CONVERT:Y=300;Body|2|0:[0-9]+
line|40||@CONVERT:LINE=0,39,1700,39;@CONVERT:LINE=0,40,1700,40|1|0:1700
box|100||Page one;@CONVERT:PAGEBREAK;@CONVERT:BOX=10,10,200,150|3|0:[0-9]+ 0:2
normal|40|--resolution normal|@CONVERT:LINE=0,30,1000,30;@CONVERT:LINE=0,40,1000,40|1|0:1000
below|40||@CONVERT:LINE=0,40,1700,40;Text at the top margin|||0:1700
TABLE

# Nothing drawn in the strip: the same bytes as without the option.
"$FOLIOBUILD" -q "$dir/below.fax" "$dir/below-plain.tif"
cmp -s "$dir/below.tif" "$dir/below-plain.tif" || bad "--reserve-top changed a fax that stays below it"

"$FOLIOBUILD" --strict --reserve-top 40 "$dir/text.fax" "$dir/strict.tif" 2>/dev/null
[ $? = 1 ] && [ ! -e "$dir/strict.tif" ] || bad "--strict wrote a fax that drew in the strip"
"$FOLIOBUILD" --check --reserve-top 40 "$dir/text.fax" | grep -q ': 1 page, 1 warning' ||
  bad "--check does not count the warning"
cp "$dir/text.fax" "$dir/spool/in/"
"$FOLIOBUILD" --spool "$dir/spool" --once --strict --reserve-top 40 2>/dev/null
grep -q 'reserved-strip\|top 40 rows' "$dir/spool/failed/text.fax.err" 2>/dev/null ||
  bad "the spool's --strict took a macro that drew in the strip"

for arg in -1 401 abc 40x "" 99999999999999999999; do
  "$FOLIOBUILD" --reserve-top "$arg" "$dir/text.fax" "$dir/x.tif" 2>/dev/null
  [ $? = 2 ] || bad "--reserve-top '$arg' is no usage error"
done
"$FOLIOBUILD" "$dir/text.fax" "$dir/x.tif" --reserve-top 2>/dev/null
[ $? = 2 ] || bad "--reserve-top without a value is no usage error"
exit "$fail"
