#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# foliobuild --resolution and --pdf as archives and fax servers take them:
# the normal page is the fine page with each row pair merged (one-pixel lines
# on odd and even rows, text and a dithered bitmap all kept), the PDF's pages
# decode with poppler to exactly the TIFF's pixels at the TIFF's size, and a
# PDF that cannot be written fails the build with no file put in place; a
# Letter page's PDF has Letter's length.
set -u
dir="$1"
for tool in pdfimages pdfinfo tiffsplit tifftopnm python3; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool not installed (poppler-utils, libtiff-tools, netpbm)"; exit 77; }
done
rm -rf "$dir" && mkdir -p "$dir/pdf" "$dir/pages"
fail=0
check() { if [ "$2" != "$3" ]; then echo "FAIL: $1 (status $3, expected $2)"; fail=1; fi; }

# A 1-bit BMP of 160 x 41 pixels, an ordered dither: black on even rows only
# in its left half, on odd rows only in its right half.
python3 - "$dir/dither.bmp" <<'PY'
import struct, sys
w, h = 160, 41
stride = (w + 31) // 32 * 4
rows = b""
for y in reversed(range(h)):  # bottom-up
    bits = [(x < w // 2 and y % 2 == 0 and x % 2 == 0) or (x >= w // 2 and y % 2 == 1 and x % 3 == 0)
            for x in range(w)]
    row = bytearray(stride)
    for x, b in enumerate(bits):
        if not b:  # colour 1 (white) where there is no dot
            row[x // 8] |= 0x80 >> (x % 8)
    rows += bytes(row)
head = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 1, 0, len(rows), 0, 0, 2, 2)
pal = bytes([0, 0, 0, 0, 255, 255, 255, 0])
off = 14 + len(head) + len(pal)
open(sys.argv[1], "wb").write(b"BM" + struct.pack("<IHHI", off + len(rows), 0, 0, off) + head + pal + rows)
PY
cat > "$dir/doc.fax" <<FAX
@CONVERT:LINE=100,501,1600,501
@CONVERT:LINE=100,600,1600,600
@CONVERT:LINE=300,2199,1300,2199
@CONVERT:Y=700
Some text on the first page, set in the default font.
@CONVERT:X=401
@CONVERT:Y=901
@CONVERT:FILE=$dir/dither.bmp,BMP
@CONVERT:PAGEBREAK
A second page.
FAX

# PBM pages of a TIFF (libtiff decodes) and of a PDF (poppler decodes).
tiff_pages() { # tiff prefix
  tiffsplit "$1" "$2-" && for t in "$2"-*.tif; do tifftopnm -quiet "$t" > "${t%.tif}.pbm" && rm "$t"; done
}
for res in fine normal; do
  for coding in g3 g3-2d g4; do
    name="$res-$coding"
    "$FOLIOBUILD" --$coding --resolution $res --pdf "$dir/pdf/$name.pdf" "$dir/doc.fax" "$dir/$name.tif"
    check "build $name" 0 $?
    tiff_pages "$dir/$name.tif" "$dir/pages/$name-tif"
    pdfimages "$dir/pdf/$name.pdf" "$dir/pages/$name-pdf"
    pdfinfo "$dir/pdf/$name.pdf" > "$dir/pages/$name.info" || { echo "FAIL: pdfinfo $name"; fail=1; }
  done
done

python3 - "$dir/pages" <<'PY' || fail=1
import glob, os, sys
d = sys.argv[1]
def pbm(path):
    data = open(path, "rb").read()
    fields, at = [], 0
    while len(fields) < 3:  # magic, width, height; comments skipped
        while data[at:at + 1].isspace(): at += 1
        if data[at:at + 1] == b"#":
            at = data.index(b"\n", at)
            continue
        end = at
        while not data[end:end + 1].isspace(): end += 1
        fields.append(data[at:end]); at = end
    assert fields[0] == b"P4", path
    w, h = int(fields[1]), int(fields[2])
    rb = (w + 7) // 8
    body = data[at + 1:at + 1 + rb * h]
    return w, h, [body[y * rb:(y + 1) * rb] for y in range(h)]
def pages(prefix):
    return [pbm(p) for p in sorted(glob.glob(os.path.join(d, prefix + "-*.pbm")))]
bad = []
size = {"fine": ("609.882 x 808.163", 2200), "normal": ("609.882 x 808.163", 1100)}
for res in ("fine", "normal"):
    for coding in ("g3", "g3-2d", "g4"):
        name = f"{res}-{coding}"
        tif, pdf = pages(name + "-tif"), pages(name + "-pdf")
        if len(tif) != 2 or len(pdf) != 2:
            bad.append(f"{name}: {len(tif)} TIFF pages, {len(pdf)} PDF pages, not 2")
            continue
        if tif != pdf:
            bad.append(f"{name}: the PDF's pixels differ from the TIFF's")
        if tif[0][:2] != (1728, size[res][1]):
            bad.append(f"{name}: page is {tif[0][:2]}")
        info = open(os.path.join(d, name + ".info")).read()
        if "Pages:           2" not in info or size[res][0] not in info:
            bad.append(f"{name}: pdfinfo says {info}")
fine, normal = pages("fine-g3-tif"), pages("normal-g3-tif")
for p, (f, n) in enumerate(zip(fine, normal)):
    rows = f[2]
    want = [bytes(a | b for a, b in zip(rows[2 * y], rows[2 * y + 1] if 2 * y + 1 < len(rows) else bytes(len(rows[0]))))
            for y in range(len(n[2]))]
    if n[2] != want:
        bad.append(f"page {p + 1}: the normal rows are not the fine row pairs merged")
    black = lambda rs: sum(bin(b).count("1") for r in rs for b in r)
    # The page holds lines on rows 501 and 600, the last row, the dither on
    # odd and even rows: every one of them must show in the merged page.
    if p == 0 and not (n[2][250] != bytes(len(n[2][0])) and n[2][300] != bytes(len(n[2][0]))
                       and n[2][1099] != bytes(len(n[2][0])) and black(rows[901:942]) > 0):
        bad.append("page 1: a hairline or the bitmap is missing")
for b in bad:
    print("FAIL:", b)
sys.exit(1 if bad else 0)
PY

# A PDF that cannot be written fails the build: exit 1, the PDF named, and
# neither file put in place; a TIFF that was there stays as it was.
echo earlier > "$dir/kept.tif"
mkdir -p "$dir/pdf/folder.pdf"
# The last two are the fax file itself, under its own name and another.
for target in "$dir/no/such/folder/x.pdf" "$dir/pdf/folder.pdf" "$dir/kept.tif" "$dir/pdf/../kept.tif"; do
  err=$("$FOLIOBUILD" --pdf "$target" "$dir/doc.fax" "$dir/kept.tif" 2>&1); check "PDF $target" 1 $?
  case "$err" in *"$target"*) ;; *) echo "FAIL: PDF not named: $err"; fail=1 ;; esac
  [ "$(cat "$dir/kept.tif")" = earlier ] || { echo "FAIL: TIFF replaced for $target"; fail=1; }
done
"$FOLIOBUILD" --pdf "$dir/no/such/folder/x.pdf" "$dir/doc.fax" "$dir/new.tif" 2>/dev/null
[ ! -e "$dir/new.tif" ] || { echo "FAIL: TIFF written though the PDF failed"; fail=1; }
# A TIFF that cannot be written leaves no PDF.
"$FOLIOBUILD" --pdf "$dir/lone.pdf" "$dir/doc.fax" "$dir/no/such/y.tif" 2>/dev/null; check "TIFF fails" 1 $?
[ ! -e "$dir/lone.pdf" ] || { echo "FAIL: PDF written though the TIFF failed"; fail=1; }
leftovers=$(find "$dir" -name '*.part*')
[ -z "$leftovers" ] || { echo "FAIL: temporary files left: $leftovers"; fail=1; }

# Batch: --pdf-dir names each PDF after its document; wrong uses are refused.
mkdir -p "$dir/batch" "$dir/batchpdf" && cp "$dir/doc.fax" "$dir/a.fax" && cp "$dir/doc.fax" "$dir/b.fax"
"$FOLIOBUILD" -q -j 2 -o "$dir/batch" --pdf-dir "$dir/batchpdf" "$dir/a.fax" "$dir/b.fax"; check "batch" 0 $?
[ -s "$dir/batchpdf/a.pdf" ] && [ -s "$dir/batchpdf/b.pdf" ] || { echo "FAIL: batch PDFs missing"; fail=1; }
"$FOLIOBUILD" -o "$dir/batch" --pdf "$dir/x.pdf" "$dir/a.fax" 2>/dev/null; check "--pdf with -o" 2 $?
"$FOLIOBUILD" --resolution coarse "$dir/a.fax" "$dir/x.tif" 2>/dev/null; check "bad resolution" 2 $?
"$FOLIOBUILD" --pdf-dir "$dir/a.fax/none" -o "$dir/batch" "$dir/a.fax" 2>/dev/null; check "PDF folder under a file" 1 $?

# --page: the PDF page takes the page's length (Letter: 2151 rows at 196 rows
# an inch, 1075 at 98); only the papers' names (any case) are taken.
for res in fine normal; do
  "$FOLIOBUILD" -q --page LETTER --resolution $res --pdf "$dir/letter-$res.pdf" "$dir/doc.fax" "$dir/letter-$res.tif"
  check "letter $res" 0 $?
  case "$(pdfinfo "$dir/letter-$res.pdf")" in
    *"609.882 x 790.163"* | *"609.882 x 789.796"*) ;;
    *) echo "FAIL: letter $res PDF page: $(pdfinfo "$dir/letter-$res.pdf" | grep 'Page size')"; fail=1 ;;
  esac
done
"$FOLIOBUILD" --page a5 "$dir/a.fax" "$dir/x.tif" 2>/dev/null; check "bad page size" 2 $?
"$FOLIOBUILD" --page default "$dir/doc.fax" "$dir/default.tif" && cmp -s "$dir/default.tif" "$dir/fine-g3.tif" ||
  { echo "FAIL: --page default changed the TIFF"; fail=1; }

# Without the new options the fax is what it always was.
"$FOLIOBUILD" "$dir/doc.fax" "$dir/plain.tif" && "$FOLIOBUILD" --resolution fine "$dir/doc.fax" "$dir/fine.tif"
cmp -s "$dir/plain.tif" "$dir/fine.tif" && cmp -s "$dir/plain.tif" "$dir/fine-g3.tif" ||
  { echo "FAIL: --resolution fine or --pdf changed the TIFF"; fail=1; }

if [ $fail = 0 ]; then echo "foliobuild resolution and PDF: all passed"; fi
exit $fail
