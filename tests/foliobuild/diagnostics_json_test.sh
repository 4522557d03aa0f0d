#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# foliobuild --diagnostics json: for each case the exit status is as without
# the option and standard output is one JSON document (Python's parser reads
# it) that holds what the case asks of it: diagnostics with their kinds and
# lines, a failed macro of a batch, bytes that form no UTF-8 character and
# control characters from a hostile macro, --stats figures; with --data one
# entry per record in record order (-j too), each diagnostic naming its
# record, a bad record an entry of its own. With the fax on standard output
# the option is refused.
set -u
dir="$1"
rm -rf "$dir" && mkdir -p "$dir" && cd "$dir" || exit 1
fail=0

printf 'Only text here.\n' > clean.fax
printf 'Text\n@CONVERT:FROBNICATE=1\n@CONVERT:FILE=gone.bmp,BMP\n' > warn.fax
# A command word with bytes that are no UTF-8 and a macro name with a tab
# and a control character: both reach messages.
printf '@CONVERT:X\xff\xc3Y\n' > $'bad\t\x01\xfe.fax'
# Record 2 is ragged; every good record lacks {{extra}}.
printf 'Dear {{name}}\n{{extra}}\n' > t.fax
printf 'name,v\nAnn,{page}\nragged\n"Cy\nJr",x\n' > rows.csv
printf 'Dear {{name}}\n' > clean-t.fax
{ echo name; seq 8; } > many.csv
printf '{"name": "Ann"}' > one.json

# NAME STATUS CHECK ARGS...: CHECK is a Python expression on the document d.
cases=(
  'clean|0|d["version"] == 1 and [f["ok"] for f in d["files"]] == [True] and d["files"][0]["diagnostics"] == []|clean.fax clean.tif'
  'warnings|0|[(x["line"], x["kind"], x["severity"]) for x in d["files"][0]["diagnostics"]] == [(2, "unknown-command", "warning"), (3, "file-missing", "warning")]|warn.fax warn.tif'
  'quiet|1|len(d["files"][0]["diagnostics"]) == 2 and d["files"][0]["output"] is None|-q --check warn.fax'
  'batch|1|[(f["macro"], f["ok"], f["error"] is None) for f in d["files"]] == [("clean.fax", True, True), ("none.fax", False, False), ("warn.fax", True, True)]|-j 2 -o out clean.fax none.fax warn.fax'
  'hostile|0|"\"\ufffd\ufffdY\"" in d["files"][0]["diagnostics"][0]["message"] and d["files"][0]["diagnostics"][0]["file"] == "bad\t\x01\ufffd.fax"|bad*.fax hostile.tif'
  'stats|0|[p["page"] for p in d["files"][0]["pages"]] == [1] and d["files"][0]["total"]["bytes"] == d["files"][0]["pages"][0]["bytes"] > 0 and d["files"][0]["total"]["seconds_14400"] > d["files"][0]["pages"][0]["seconds_14400"]|--stats clean.fax stats.tif'
  'no-stats|0|"pages" not in d["files"][0]|clean.fax nostats.tif'
  'data|1|d["data"] == "rows.csv" and [(f["record"], f["data_line"], f["ok"], f["output"] is None) for f in d["files"]] == [(1, 2, True, False), (2, 3, False, True), (3, 4, True, False)] and [(x["record"], x["kind"]) for f in d["files"] for x in f["diagnostics"]] == [(1, "field-missing"), (3, "field-missing")] and "line 3" in d["files"][1]["error"] and [f["total"]["pages"] for f in d["files"]] == [1, 0, 1]|--stats --data rows.csv -o dout t.fax'
  'data-jobs|0|[(f["record"], f["output"]) for f in d["files"]] == [(n, None) for n in range(1, 9)] and "pages" not in d["files"][0]|--check -j 2 --data many.csv clean-t.fax'
  'data-one|0|[(f["record"], f["output"], f["page_count"]) for f in d["files"]] == [(1, "one.tif", 1)]|--data one.json clean-t.fax one.tif'
)
for row in "${cases[@]}"; do
  IFS='|' read -r name status check args <<<"$row"
  # shellcheck disable=SC2086 # args split on purpose; bad*.fax is a glob
  "$FOLIOBUILD" --diagnostics json $args > "$name.json" 2>/dev/null
  got=$?
  [ "$got" = "$status" ] || { echo "FAIL: $name: exit $got, not $status"; fail=1; }
  python3 -c 'import json, sys
d = json.load(open(sys.argv[1], encoding="utf-8"))
sys.exit(0 if eval(sys.argv[2]) else 1)' "$name.json" "$check" ||
    { echo "FAIL: $name: $check in $(cat "$name.json")"; fail=1; }
done

for args in "clean.fax -" "--data one.json clean-t.fax -"; do
  # shellcheck disable=SC2086 # args split on purpose
  "$FOLIOBUILD" --diagnostics json $args > stdout.tif 2>/dev/null
  [ $? = 2 ] && [ ! -s stdout.tif ] || { echo "FAIL: json with the fax on standard output: $args"; fail=1; }
done

[ $fail = 0 ] && echo "foliobuild --diagnostics json: all passed"
exit $fail
