#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# HEADER= and FOOTER= through foliobuild: each fax is byte for byte the fax
# of a macro that sets the text the marks stand for at their place, with
# pages coded as they are left (--g4, a header given on page 3), with fields
# filled from --data and below the rows --reserve-top keeps white.
set -u
dir="$1"
rm -rf "$dir" && mkdir -p "$dir"
fail=0
bad() { echo "FAIL: $*"; fail=1; }
echo '{"order": "4471", "name": "Ada"}' > "$dir/one.json"

# name | options | macro (';' between lines) | the same pages set plainly
while IFS='|' read -r name options macro plain; do
  tr ';' '\n' <<<"$macro" > "$dir/$name.fax"
  tr ';' '\n' <<<"$plain" > "$dir/$name-ref.fax"
  "$FOLIOBUILD" -q $options "$dir/$name.fax" "$dir/$name.tif" ||
    bad "$name: build failed"
  "$FOLIOBUILD" -q ${options/--data*json/} "$dir/$name-ref.fax" "$dir/$name-ref.tif"
  cmp -s "$dir/$name.tif" "$dir/$name-ref.tif" || bad "$name: the marks are not the plain text"
done <<TABLE
late|--g4|A;@CONVERT:PAGEBREAK;B;@CONVERT:PAGEBREAK;@CONVERT:HEADER=H {page}/{pages};C;@CONVERT:PAGEBREAK;D|A;@CONVERT:PAGEBREAK;B;@CONVERT:PAGEBREAK;@CONVERT:Y=30;H 3/4;@CONVERT:Y;C;@CONVERT:PAGEBREAK;@CONVERT:Y=30;H 4/4;@CONVERT:Y;D
fields|--data $dir/one.json|@CONVERT:HEADER=Order {{order}} for {{name}};Body|@CONVERT:Y=30;Order 4471 for Ada;@CONVERT:Y;Body
reserved|--reserve-top 60|@CONVERT:HEADER=Mark;@CONVERT:Y=200;Body|@CONVERT:Y=60;Mark;@CONVERT:Y=200;Body
TABLE
exit "$fail"
