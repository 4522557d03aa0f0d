#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# PDF in: a whole PDF made a fax (its paper, a page each), one page drawn by
# FILE=name,PDF,page, the PDF named outside an include root, a document of
# mixed pages read ahead against its pages drawn alone, a crop box, and the
# ways a PDF fails, each with its reason: a page it lacks, a damaged file, a
# picture of another kind named as PDF, and poppler's tools missing from
# PATH. The PDFs are written here; the first has two Letter pages, each with
# a black box 2 x 1 inches, 1 inch from the top left.
set -u
dir="$1"
rm -rf "$dir" && mkdir -p "$dir"
fail=0
bad() { echo "FAIL: $*"; fail=1; }
python3 - "$dir/two.pdf" <<'PY'
import sys
objs = [b"<</Type/Catalog/Pages 2 0 R>>", b"<</Type/Pages/Kids[3 0 R 5 0 R]/Count 2>>"]
box = b"0 g 72 648 144 72 re f"
for page in (3, 5):
    objs.append(b"<</Type/Page/Parent 2 0 R/MediaBox[0 0 612 792]/Contents %d 0 R>>" % (page + 1))
    objs.append(b"<</Length %d>>stream\n%s\nendstream" % (len(box), box))
out, offsets = b"%PDF-1.4\n", []
for i, o in enumerate(objs, 1):
    offsets.append(len(out))
    out += b"%d 0 obj\n%s\nendobj\n" % (i, o)
xref = len(out)
out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)
out += b"".join(b"%010d 00000 n \n" % o for o in offsets)
out += b"trailer\n<</Size %d/Root 1 0 R>>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, xref)
open(sys.argv[1], "wb").write(out)
PY
cd "$dir"

# A whole PDF: two pages on Letter paper (2151 rows), the box black.
"$FOLIOBUILD" -q --png . two.pdf two.tif || bad "whole PDF: build failed"
[ "$(tiffinfo two.tif 2>/dev/null | grep -c 'Image Length: 2151')" = 2 ] ||
  bad "whole PDF: not two Letter pages"
python3 - two-002.png <<'PY' || bad "whole PDF: the box of page 2 is not where it belongs"
import sys, zlib, struct
data = open(sys.argv[1], "rb").read()
w, h = struct.unpack(">II", data[16:24])
raw = b"".join(data[i + 8:i + 8 + struct.unpack(">I", data[i:i + 4])[0]]
               for i in [j - 4 for j in range(len(data)) if data[j:j + 4] == b"IDAT"])
rows, stride = zlib.decompress(raw), (w + 7) // 8 + 1
black = lambda x, y: not (rows[y * stride + 1 + x // 8] >> (7 - x % 8)) & 1
# 1 in = 204 px across (centred: +(1728-1728)/2) and 196 rows down.
inside = sum(black(x, y) for x in range(220, 590, 10) for y in range(210, 380, 10))
outside = sum(black(x, y) for x in range(0, w, 16) for y in range(600, h, 16))
sys.exit(0 if inside == 37 * 17 and outside == 0 else 1)
PY

# The PDF named on the command line is read whatever --include-root says,
# as a macro named there is; the root only confines FILE commands.
mkdir -p emptyroot
"$FOLIOBUILD" -q --include-root emptyroot two.pdf rooted.tif || bad "include root: build failed"
cmp -s rooted.tif two.tif || bad "include root: the PDF outside the root lost its pages"

# name | macro line | what the build must say (grep -E), or OK
head -c 200 two.pdf > damaged.pdf
while IFS='|' read -r name macro says; do
  printf '%s\n' "$macro" > "$name.fax"
  out=$("$FOLIOBUILD" "$name.fax" "$name.tif" 2>&1)
  status=$?
  if [ "$says" = OK ]; then
    [ $status = 0 ] || bad "$name: failed: $out"
  else
    [ $status != 0 ] || bad "$name: built"
    grep -Eq "$says" <<<"$out" || bad "$name: $out"
  fi
done <<TABLE
page2|@CONVERT:FILE=two.pdf,PDF,2,FIT|OK
nopage|@CONVERT:FILE=two.pdf,PDF,3|page 3.*(Wrong page range|not)
damaged|@CONVERT:FILE=damaged.pdf,PDF|pdftoppm cannot draw page 1
png|@CONVERT:FILE=two-001.png,PDF|is a PNG
TABLE

# A document of mixed pages (Letter four times, landscape A4, a Letter page
# turned a quarter, Letter, A4), each with a box 2 x 1 inches: made whole,
# it is read ahead by two renderers, and each page is the page drawn alone
# (pages drawn out of order are rendered one by one) at the size and place
# the whole document gives it. A page with a crop box shows the crop box.
# Pages turned each way keep their shape when drawn at their own size.
python3 - mixed.pdf crop.pdf turned.pdf <<'PY'
import sys
def write(path, pages):
    objs = [b"<</Type/Catalog/Pages 2 0 R>>", b"<</Type/Pages/Kids[%s]/Count %d>>" % (
        b" ".join(b"%d 0 R" % (3 + 2 * i) for i in range(len(pages))), len(pages))]
    for i, (box, extra, ink) in enumerate(pages):
        objs.append(b"<</Type/Page/Parent 2 0 R/MediaBox[0 0 %s]%s/Contents %d 0 R>>" %
                    (box, extra, 4 + 2 * i))
        objs.append(b"<</Length %d>>stream\n%s\nendstream" % (len(ink), ink))
    out, offsets = b"%PDF-1.4\n", []
    for i, o in enumerate(objs, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n%s\nendobj\n" % (i, o)
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objs) + 1)
    out += b"".join(b"%010d 00000 n \n" % o for o in offsets)
    out += b"trailer\n<</Size %d/Root 1 0 R>>\nstartxref\n%d\n%%%%EOF\n" % (len(objs) + 1, xref)
    open(path, "wb").write(out)
sizes = [(b"612 792", b"")] * 4 + [(b"842 595", b""), (b"612 792", b"/Rotate 90"),
                                   (b"612 792", b""), (b"595 842", b"")]
write(sys.argv[1], [(box, extra, b"0 g %d 400 144 72 re f 0.5 w 72 300 m 500 300 l S" %
                     (72 + 30 * i)) for i, (box, extra) in enumerate(sizes)])
write(sys.argv[2], [(b"612 792", b"/CropBox[100 100 400 500]", b"0 g 150 150 100 100 re f")])
write(sys.argv[3], [(b"612 792", turn, b"0 g 72 400 144 72 re f")
                    for turn in (b"", b"/Rotate 90", b"/Rotate 180", b"/Rotate 270")])
PY
mkdir -p whole alone
"$FOLIOBUILD" --png whole mixed.pdf mixed.tif > mixed.out 2>&1 || bad "mixed PDF: build failed"
sizes=$(sed -n 's/.* drawn \([0-9]*\) x \([0-9]*\) pixels.*/\1 \2/p' mixed.out)
[ "$(sed -n 6p <<<"$sizes")" = "1728 1282" ] || bad "mixed PDF: the turned page is not drawn landscape: $sizes"
{
  echo "@CONVERT:PAGE=LETTER"
  first=1
  for page in 6 1 3 8 2 5 4 7; do
    read -r w h <<<"$(sed -n "${page}p" <<<"$sizes")"
    [ $first = 1 ] || echo "@CONVERT:PAGEBREAK"
    first=0
    printf '@CONVERT:X=%d\n@CONVERT:Y=0\n@CONVERT:FILE=mixed.pdf,PDF,%d,%d,%d\n' \
      $(((1728 - w) / 2)) "$page" "$w" "$h"
  done
} > alone.fax
"$FOLIOBUILD" -q --png alone alone.fax alone.tif || bad "pages drawn alone: build failed"
at=1
for page in 6 1 3 8 2 5 4 7; do
  cmp -s "whole/mixed-00$page.png" "alone/alone-00$at.png" ||
    bad "mixed PDF: page $page of the whole document is not the page drawn alone"
  at=$((at + 1))
done
# A Letter page drawn at its own size, turned a quarter or not, has the
# shape it is shown with (8.5 x 11 in or 11 x 8.5 in at 204 x 196 dpi),
# within 1%, at either resolution: pdftoppm applies its dots per inch
# before it turns the page.
# page | drawn width | drawn height
for resolution in normal fine; do
  while read -r page w h; do
    printf '@CONVERT:FILE=turned.pdf,PDF,%d\n' "$page" > turned.fax
    got=$("$FOLIOBUILD" --resolution $resolution turned.fax turned.tif 2>&1 |
      sed -n 's/.* drawn \([0-9]*\) x \([0-9]*\) pixels.*/\1 \2/p')
    read -r gw gh <<<"$got"
    [ -n "$gw" ] && [ $((100 * (gw - w) / w)) = 0 ] && [ $((100 * (gh - h) / h)) = 0 ] ||
      bad "turned page $page at $resolution resolution: drawn $got, not about $w x $h"
  done <<TABLE
1 1734 2156
2 2244 1666
3 1734 2156
4 2244 1666
TABLE
done
"$FOLIOBUILD" -q --png . crop.pdf crop.tif || bad "cropped PDF: build failed"
python3 - crop-001.png <<'PY' || bad "cropped PDF: the crop box is not what is drawn"
import sys, zlib, struct
data = open(sys.argv[1], "rb").read()
w, h = struct.unpack(">II", data[16:24])
raw = b"".join(data[i + 8:i + 8 + struct.unpack(">I", data[i:i + 4])[0]]
               for i in [j - 4 for j in range(len(data)) if data[j:j + 4] == b"IDAT"])
rows, stride = zlib.decompress(raw), (w + 7) // 8 + 1
black = lambda x, y: not (rows[y * stride + 1 + x // 8] >> (7 - x % 8)) & 1
# The crop box, 300 x 400 points, is drawn 850 x 1088 pixels, centred (from
# x 439); the box lies 50 points in from its left and 250 down from its top.
inside = sum(black(x, y) for x in range(600, 850, 10) for y in range(700, 940, 10))
outside = sum(black(x, y) for x in range(0, w, 8) for y in range(0, h, 8)
              if not (575 <= x <= 870 and 675 <= y <= 960))
sys.exit(0 if inside == 25 * 24 and outside == 0 else 1)
PY

# Without poppler's tools on PATH: the reason names the package.
mkdir -p nopoppler && ln -sf "$(command -v python3)" nopoppler/python3
out=$(PATH="$dir/nopoppler" "$FOLIOBUILD" two.pdf none.tif 2>&1) && bad "no pdfinfo: built"
grep -q "poppler-utils" <<<"$out" || bad "no pdfinfo: $out"
out=$(PATH="$dir/nopoppler" "$FOLIOBUILD" page2.fax none.tif 2>&1) && bad "no pdftoppm: built"
grep -q "poppler-utils" <<<"$out" || bad "no pdftoppm: $out"
exit "$fail"
