#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# Every diagnostic kind the engine reports (engine/Diagnostics.h) is named
# in the README's list and in foliobuild's man page, so that a program that
# reads the kinds finds each one explained.
#   kinds_documented_test.sh SOURCE_DIR
set -u
source=$1
status=0
kinds=$(sed -n 's/^inline constexpr const char\* [A-Za-z]* = "\([a-z-]*\)";$/\1/p' \
  "$source/engine/Diagnostics.h")
[ -n "$kinds" ] || { echo "FAIL: no kinds found in engine/Diagnostics.h"; exit 1; }
for kind in $kinds; do
  grep -q "\`$kind\`" "$source/README.md" || { echo "FAIL: README.md does not name $kind"; status=1; }
  grep -qF "\\fB${kind//-/\\-}\\fR" "$source/packaging/foliobuild.1" ||
    { echo "FAIL: foliobuild.1 does not name $kind"; status=1; }
done
[ "$status" = 0 ] && echo "$(wc -w <<<"$kinds") kinds documented"
exit "$status"
