#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# The desktop entry and the fax macro file type: the entry is valid, carries
# the product name and opens the program's own type, not every text file;
# the type is declared for *.fax files and shared-mime-info accepts it.
#   desktop_entry_test.sh PACKAGING_DIR WORK_DIR
set -euo pipefail
packaging="$1" work="$2"
entry="$packaging/folioset.desktop"
fail() { echo "desktop_entry_test: $*" >&2; exit 1; }

desktop-file-validate "$entry" || fail "the desktop entry is not valid"
grep -qx 'Name=Brackwell Folioset' "$entry" || fail "Name is not 'Brackwell Folioset'"
types=$(sed -n 's/^MimeType=//p' "$entry")
[ "$types" = "text/x-fax-macro;" ] || fail "MimeType is '$types'"

rm -rf "$work"
mkdir -p "$work/mime/packages"
cp "$packaging/folioset-mime.xml" "$work/mime/packages/folioset.xml"
# Given its own data folders, so that it does not warn that the folder
# is not one of the machine's.
XDG_DATA_HOME="$work" XDG_DATA_DIRS="$work" update-mime-database "$work/mime" 2>"$work/errors"
[ ! -s "$work/errors" ] || fail "update-mime-database: $(cat "$work/errors")"
grep -qx 'text/x-fax-macro:\*\.fax' "$work/mime/globs" || fail "*.fax is not a fax macro"
grep -qx 'text/x-fax-macro text/plain' "$work/mime/subclasses" || fail "not a kind of text"
