#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# What foliobuild's outputs are made as: a fax or PDF copy rebuilt over an
# older file keeps its mode, owner and group (owner and group where this
# process may set them: as root); a new one gets 0666 less the umask; the
# folders of -o, --pdf-dir and --png are made with their parents as the
# spool makes its own (0777 less the umask), or the real reason is given.
set -u
dir="$1"
rm -rf "$dir" && mkdir -p "$dir"
cd "$dir" || exit 1
fail=0
bad() { echo "FAIL: $*"; fail=1; }
printf 'Hello\n' > letter.fax
modeof() { stat -c '%a %U %G' "$1"; }

umask 027
"$FOLIOBUILD" -q --pdf new.pdf letter.fax new.tif || bad "new.tif not written"
[ "$(stat -c %a new.tif)" = 640 ] && [ "$(stat -c %a new.pdf)" = 640 ] ||
  bad "new files with umask 027: $(stat -c %a new.tif new.pdf)"

if [ "$(id -u)" = 0 ] && id nobody > /dev/null 2>&1; then
  owner="nobody $(id -gn nobody)"
  chown nobody:"$(id -gn nobody)" new.tif new.pdf
else
  owner="$(id -un) $(id -gn)"
fi
chmod 600 new.tif && chmod 604 new.pdf
"$FOLIOBUILD" -q --pdf new.pdf letter.fax new.tif || bad "new.tif not rebuilt"
[ "$(modeof new.tif)" = "600 $owner" ] || bad "rebuilt fax: $(modeof new.tif), not 600 $owner"
[ "$(modeof new.pdf)" = "604 $owner" ] || bad "rebuilt PDF: $(modeof new.pdf), not 604 $owner"

umask 022
"$FOLIOBUILD" -q -o outb/sub --pdf-dir pdfs/a --png pngs letter.fax ||
  bad "-o outb/sub with missing folders failed"
[ -s outb/sub/letter.tif ] && [ -s pdfs/a/letter.pdf ] && [ -s pngs/letter-001.png ] ||
  bad "outputs missing: $(find . | sort | tr '\n' ' ')"
[ "$(stat -c %a outb outb/sub pdfs/a pngs | sort -u)" = 755 ] || bad "folder modes: $(stat -c %a outb/sub pngs)"
"$FOLIOBUILD" -q -o letter.fax/sub letter.fax 2> notdir.log
[ $? = 1 ] && grep -q "letter.fax: not a folder" notdir.log || bad "a file in the way: $(cat notdir.log)"

if [ $fail = 0 ]; then echo "output modes: all passed"; fi
exit $fail
