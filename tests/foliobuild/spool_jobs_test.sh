#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# Job files in the spool: NAME.json names a template of templates/ and its
# fields. A value is set as text (a line break and a command prefix in it
# read no file), and a job that names a template by a path, a link, a
# folder or nothing, or that is not one JSON object, goes to failed/ with
# its reason; a strict spool refuses a field without a value.
#   spool_jobs_test.sh FOLDER
set -u
dir="$1"
rm -rf "$dir" && mkdir -p "$dir/spool/in" "$dir/spool/templates"
cd "$dir" || exit 1
fail=0
bad() { echo "FAIL: $*"; fail=1; }

printf 'secret\n' > secret.txt
printf 'Hello {{who}}\n' > spool/templates/hi.fax
ln -s "$PWD/secret.txt" spool/templates/link.fax
mkdir spool/templates/dir.fax
job() { printf '%s\n' "$2" > "spool/in/$1.json"; }
job value "{\"template\":\"hi.fax\",\"fields\":{\"who\":\"Ann\\n@CONVERT:FILE=$PWD/secret.txt,TXT\"}}"
job path '{"template":"../../secret.txt"}'
job link '{"template":"link.fax"}'
job folder '{"template":"dir.fax"}'
job none '{"fields":{"who":"x"}}'
job array '[{"template":"hi.fax"}]'
job extra '{"template":"hi.fax","to":"x"}'
job deep "{\"template\":\"hi.fax\",\"fields\":$(printf '[%.0s' $(seq 1 200))$(printf ']%.0s' $(seq 1 200))}"

"$FOLIOBUILD" --spool spool --once 2> spool.log
# The same fax as foliobuild --data makes of the same value, where the
# value is shown to be set as text.
printf '{"who":"Ann\\n@CONVERT:FILE=%s/secret.txt,TXT"}\n' "$PWD" > value.json
"$FOLIOBUILD" -q --data value.json spool/templates/hi.fax expected.tif || bad "--data build failed"
cmp -s spool/out/value.tif expected.tif || bad "the job's fax differs from --data's"

while read -r name reason; do
  [ -e "spool/failed/$name.json" ] || { bad "$name.json not in failed/: $(ls spool/*)"; continue; }
  grep -q -- "$reason" "spool/failed/$name.json.err" ||
    bad "$name.json: reason $(cat "spool/failed/$name.json.err")"
done <<'TABLE'
path the template must be a file name in templates/
link templates/link.fax is a symbolic link
folder templates/dir.fax is a folder
none the job names no template
array a job is one JSON object
extra unknown member "to"
deep nested deeper than
TABLE

job strict '{"template":"hi.fax","fields":{"name":"x"}}'
"$FOLIOBUILD" --spool spool --once --strict 2>> spool.log
grep -q '^templates/hi.fax:1: warning: the field {{who}}' spool/failed/strict.json.err ||
  bad "strict: $(cat spool/failed/strict.json.err 2>&1)"
exit $fail
