#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# One version number for the release: CMake's project version must be what
# foliobuild --version and folioset --version print, what the pkg-config
# files say, the newest debian/changelog entry, the man pages' headers, the
# help document, the version macros of foliolib.h and the newest section of NEWS.md. A release that bumps one and forgets another
# fails here.
#   version_test.sh VERSION SOURCE_DIR BUILD_DIR FOLIOBUILD [FOLIOSET]
set -u
version=$1 source=$2 build=$3 foliobuild=$4 folioset=${5:-}
status=0
expect() { # what, got, wanted
  if [ "$2" != "$3" ]; then echo "FAIL: $1: '$2', expected '$3'"; status=1; fi
}

expect "foliobuild --version" "$("$foliobuild" --version)" "foliobuild (Folioset) $version"
if [ -n "$folioset" ]; then
  expect "folioset --version" "$("$folioset" --version)" "folioset (Folioset) $version"
fi
for pc in foliolib tiflib32 rastrum; do
  expect "$pc.pc" "$(sed -n 's/^Version: //p' "$build/$pc.pc")" "$version"
done
expect "debian/changelog" "$(sed -n '1s/^folioset (\([^-)]*\)-.*/\1/p' "$source/debian/changelog")" "$version"
for page in foliobuild folioset folioset-server; do
  expect "$page.1" "$(sed -n 's/^\.TH .* "Folioset \([^"]*\)".*/\1/p' "$source/packaging/$page.1")" \
    "$version"
done
expect "folioset.hlp" "$(sed -n 's/.*This is Folioset \([0-9][^ ]*\) .*/\1/p' "$source/desktop/folioset.hlp")" \
  "$version"
expect "foliolib.h" "$(sed -n 's/^#define FOLIOSET_VERSION_STRING "\(.*\)"$/\1/p' "$source/library/foliolib.h")" \
  "$version"
IFS=. read -r major minor patch <<<"$version"
for part in MAJOR:$major MINOR:$minor PATCH:$patch; do
  expect "FOLIOSET_VERSION_${part%%:*}" \
    "$(sed -n "s/^#define FOLIOSET_VERSION_${part%%:*} \([0-9]*\)$/\1/p" "$source/library/foliolib.h")" \
    "${part#*:}"
done
expect "NEWS.md" "$(sed -n 's/^## \([0-9][^ ]*\) .*/\1/p' "$source/NEWS.md" | head -1)" "$version"
[ "$status" = 0 ] && echo "version $version everywhere"
exit "$status"
