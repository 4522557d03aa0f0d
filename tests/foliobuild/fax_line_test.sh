#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# foliobuild's fax files sent through a real T.30 fax engine over a simulated
# telephone line (t30_line: two spandsp fax engines trading audio samples)
# arrive unchanged: a two-page fax of each paper size (default, A4, Letter,
# Legal) at fine and normal resolution, in each of the three codings, is
# sent three ways (Group 3 2-D without error correction, 1-D without, and
# Group 4 with ECM); the call must end OK on both sides and the received
# file must hold the same pages, page by page of the same width, length and
# decoded pixels, at the resolution that was asked for.
# Skipped (77) where spandsp was not there to build t30_line.
set -u
dir="$1"
line="${2:-}"
if [ -z "$line" ] || [ ! -x "$line" ]; then
  echo "SKIP: t30_line was not built (spandsp missing: install libspandsp-dev)"
  exit 77
fi
rm -rf "$dir" && mkdir -p "$dir"
fail=0

# Page 1 has black pels in the first and last columns down to the last row,
# and a diagonal that makes every row differ from its neighbours, so a row
# lost, doubled or cut off at the end shows in the pixels too.
cat > "$dir/doc.fax" <<'EOF'
@CONVERT:FONT=Arial,11
@CONVERT:LINE=0,0,1727,0
@CONVERT:LINE=0,0,0,4000
@CONVERT:LINE=1727,0,1727,4000
@CONVERT:LINE=0,0,1727,4000
@CONVERT:Y=120
Invoice 4471 for Northfield Supplies, Purchasing: 12 boxes of paper, 3 toner cartridges.
\BPlease note\b the new delivery address from 1 January; \Iitalic\i and \Uunderlined\u text.
@CONVERT:PAGEBREAK
@CONVERT:FONT=Arial,24
\BFAX\b
@CONVERT:FONT=Arial,11
@CONVERT:BOX=100,260,1528,420
@CONVERT:LINE=864,260,864,680
@CONVERT:TEXTBOX=120,280,720,100
To: St Aldhelm Hospital, Claims Office
@CONVERT:TEXTBOX=884,280,720,100
From: Northfield Mutual, Claims
@CONVERT:TEXT
@CONVERT:Y=800
Page two of two.
EOF

for page in default a4 letter legal; do
  for res in fine normal; do
    lpi=196; [ $res = normal ] && lpi=98
    for coding in g3 g3-2d g4; do
      name=$page-$res-$coding
      sent="$dir/$name.tif"
      "$FOLIOBUILD" -q --page $page --resolution $res --$coding "$dir/doc.fax" "$sent" ||
        { echo "FAIL: build $name"; fail=1; continue; }
      for way in "2d" "1d" "t6 --ecm"; do
        set -- $way
        received="$dir/$name-line-$1.tif"
        if ! "$line" send --line $* "$sent" "$received" > "$received.log" 2>&1; then
          echo "FAIL: $name over the line ($way): the call did not end OK:"; cat "$received.log"
          fail=1; continue
        fi
        # At the resolution asked for: the one the fax engine read from our
        # file and sent on.
        verdict=$("$line" compare --lpi $lpi "$sent" "$received" 2>&1) ||
          { echo "FAIL: $name over the line ($way): $verdict"; fail=1; }
      done
    done
  done
done

# The comparison sees one word changed.
sed 's/Page two/Page 2/' "$dir/doc.fax" > "$dir/changed.fax"
"$FOLIOBUILD" -q "$dir/changed.fax" "$dir/changed.tif" || { echo "FAIL: build changed"; fail=1; }
if "$line" compare "$dir/changed.tif" "$dir/default-fine-g3-line-2d.tif" > /dev/null; then
  echo "FAIL: a changed page compares the same"; fail=1
fi

if [ $fail = 0 ]; then echo "every paper size and resolution crossed the line unchanged"; fi
exit $fail
