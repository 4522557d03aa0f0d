#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# foliobuild --reserve-top N: text, LINEs, a BOX on a second page drawn in
# the top N rows warn reserved-strip at their line, and the fax written is
# byte for byte that of the macro without them (row N itself keeps its
# ink); a macro that stays below the strip is written as without the
# option; --strict, --check and the spool's --strict count the warning; a
# bad N is a usage error (exit 2).
set -u
dir="$1"
rm -rf "$dir" && mkdir -p "$dir/spool/in"
fail=0
bad() { echo "FAIL: $*"; fail=1; }

# name | N | options | macro (';' between lines) | warned lines | the same
# macro without what it draws in the strip
while IFS='|' read -r name rows options macro lines without; do
  tr ';' '\n' <<<"$macro" > "$dir/$name.fax"
  tr ';' '\n' <<<"$without" > "$dir/$name-ref.fax"
  "$FOLIOBUILD" --reserve-top "$rows" $options "$dir/$name.fax" "$dir/$name.tif" 2> "$dir/$name.err" ||
    bad "$name: build failed: $(cat "$dir/$name.err")"
  "$FOLIOBUILD" -q $options "$dir/$name-ref.fax" "$dir/$name-ref.tif"
  got=$(sed -n 's/^[^:]*:\([0-9]*\): warning: page [0-9]*: .* top '"$rows"' rows.*/\1/p' "$dir/$name.err" | xargs)
  [ "$got" = "$lines" ] || bad "$name: reserved-strip warnings at lines '$got', not '$lines'"
  cmp -s "$dir/$name.tif" "$dir/$name-ref.tif" || bad "$name: the strip is not as if nothing were drawn there"
done <<'TABLE'
text|100||@CONVERT:Y=2;Header text in the strip;@CONVERT:Y=300;Body|2|@CONVERT:Y=300;Body
line|40||@CONVERT:LINE=0,39,1700,39;@CONVERT:LINE=0,40,1700,40|1|@CONVERT:LINE=0,40,1700,40
box|100||Page one;@CONVERT:PAGEBREAK;@CONVERT:BOX=10,10,200,50|3|Page one;@CONVERT:PAGEBREAK
normal|40|--resolution normal|@CONVERT:LINE=0,38,1000,38;@CONVERT:LINE=0,40,1000,40|1|@CONVERT:LINE=0,40,1000,40
below|40||@CONVERT:LINE=0,40,1700,40;Text at the top margin||@CONVERT:LINE=0,40,1700,40;Text at the top margin
TABLE

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
