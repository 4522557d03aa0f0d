#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# foliobuild --data: a CSV of three rows, one ragged, writes two faxes, names
# the bad record with its line and exits 1 with a summary; --name-field
# names are safe (no leading dot, no control byte) and unique; a hostile
# value (a line break and a FILE command, a style escape) sets text only,
# byte for byte as the same lines included as text, and reads no file;
# fields are filled in included text and barcode data, in the code page; a
# field in a command is reported and not filled; a missing field fails
# --strict and names its record; a JSON object goes to one fax, an array
# does not; a bad JSON element fails alone.
set -u
dir="$1"
rm -rf "$dir" && mkdir -p "$dir"
cd "$dir" || exit 1
fail=0
bad() { echo "FAIL: $*"; fail=1; }

printf 'SECRET SECRET SECRET\n' > secret.txt
printf 'Order {{id}}\nDear {{name}},\n' > t.fax
printf 'id,name\nA/1,Ann\nragged\nA/1,"Cy, Jr."\n' > rows.csv
"$FOLIOBUILD" --data rows.csv --name-field id -o out t.fax 2> rows.err
[ $? = 1 ] || bad "a ragged row does not fail the run"
[ "$(cd out && ls | xargs)" = "A_1-2.tif A_1.tif" ] || bad "faxes written: $(cd out && ls | xargs)"
grep -q '^foliobuild: rows.csv: record 2 (line 3): the row has 1 field where the header has 2' rows.err ||
  bad "the ragged row is not named: $(cat rows.err)"
grep -q '^foliobuild: 1 of 3 records failed$' rows.err || bad "no summary: $(cat rows.err)"
"$FOLIOBUILD" -q --data rows.csv -o numbered t.fax 2>/dev/null
[ "$(cd numbered && ls | xargs)" = "t-0001.tif t-0003.tif" ] ||
  bad "numbered faxes: $(cd numbered && ls | xargs)"
printf '[{"id": ".hidden"}, {"id": "t-0003"}, {}, {"id": "a\\u0001b"}]\n' > names.json
"$FOLIOBUILD" -q --data names.json --name-field id -o named t.fax 2>/dev/null
[ "$(cd named && ls | xargs)" = "_hidden.tif a_b.tif t-0003-2.tif t-0003.tif" ] ||
  bad "names from a field: $(cd named && ls | xargs)"

# name | value (JSON string) | the text lines it must set, included as text
while IFS='|' read -r name value lines; do
  printf '{"v": %s}\n' "$value" > "$name.json"
  printf '{{v}}\n' > "$name.fax"
  printf "$lines" > "$name.txt"
  printf '@CONVERT:FILE=%s.txt,TXT\n' "$name" > "$name-ref.fax"
  "$FOLIOBUILD" --strict --data "$name.json" "$name.fax" "$name.tif" 2> "$name.err" ||
    bad "$name: not built: $(cat "$name.err")"
  "$FOLIOBUILD" -q "$name-ref.fax" "$name-ref.tif"
  cmp -s "$name.tif" "$name-ref.tif" || bad "$name: the value did not set the text lines '$lines'"
done <<TABLE
command|"x\\n@CONVERT:FILE=$dir/secret.txt,TXT"|x\n@CONVERT:FILE=$dir/secret.txt,TXT\n
escape|"\\\\Bold"|\\\\\\\\Bold\n
TABLE
# Where fields are filled: name | template (';' between lines) | record |
# the macro it must build as
printf 'Dear {{who}},\n' > letter.txt
printf 'Caf\351\n' > cafe1252.txt
while IFS='|' read -r name template record plain; do
  tr ';' '\n' <<<"$template" > "$name.fax"
  tr ';' '\n' <<<"$plain" > "$name-ref.fax"
  printf '%s\n' "$record" > "$name.json"
  "$FOLIOBUILD" -q --data "$name.json" "$name.fax" "$name.tif" || bad "$name: not built"
  "$FOLIOBUILD" -q "$name-ref.fax" "$name-ref.tif"
  cmp -s "$name.tif" "$name-ref.tif" || bad "$name: not filled as '$plain'"
done <<'TABLE'
included|@CONVERT:FILE=letter.txt,TXT|{"who": "Ann"}|Dear Ann,
barcode|@CONVERT:BARCODE=CODE128,100,100,80,{{n}}-{{m}}|{"n": 42, "m": "X"}|@CONVERT:BARCODE=CODE128,100,100,80,42-X
nested|{{a.b}} {{{{a.b}} {{gone}}|{"a": {"b": true}, "gone": null}|true {{a.b}}
codepage|{{w}}|{"w": "Caf\u00e9"}|@CONVERT:FILE=cafe1252.txt,TXT
TABLE

printf '@CONVERT:FILE=%s/secret.txt,TXT\n' "$dir" > read.fax
"$FOLIOBUILD" -q read.fax read.tif
cmp -s command.tif read.tif && bad "the hostile value read the file"

# A field in a command is not filled: the data cannot name the file to read.
printf '@CONVERT:FILE={{f}},TXT\n@CONVERT:Y={{y}}\nText\n' > command.fax
printf '{"f": "secret.txt", "y": 900}\n' > command.json
"$FOLIOBUILD" --data command.json command.fax in-command.tif 2> in-command.err
"$FOLIOBUILD" -q command.fax as-written.tif
cmp -s in-command.tif as-written.tif || bad "a field in a command was filled"
[ "$(grep -c '^command.fax:[12]: record 1: warning: {{[fy]}} in a command is not filled' in-command.err)" = 2 ] ||
  bad "fields in commands are not reported: $(cat in-command.err)"

printf 'Hello {{name}} {{nope}}\n' > missing.fax
printf '[{"name": "Ann", "nope": "x"}, {"name": "Bo"}, 7]\n' > two.json
"$FOLIOBUILD" --strict --data two.json -o strict missing.fax 2> strict.err
[ $? = 1 ] || bad "--strict does not fail a missing field"
[ "$(cd strict && ls | xargs)" = "missing-0001.tif" ] || bad "--strict wrote: $(cd strict && ls | xargs)"
grep -q '^missing.fax:1: record 2: warning: the field {{nope}} has no value' strict.err ||
  bad "the missing field is not named with its record: $(cat strict.err)"
grep -q 'two.json: record 3 (line 1): the record is not a JSON object' strict.err ||
  bad "the bad element is not named: $(cat strict.err)"
grep -q '^foliobuild: 2 of 3 records failed$' strict.err || bad "no summary: $(cat strict.err)"
"$FOLIOBUILD" --data two.json missing.fax one.tif 2>/dev/null
[ $? = 1 ] && [ ! -e one.tif ] || bad "an array was written to one fax"

exit $fail
