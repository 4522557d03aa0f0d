#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# Builds the Debian packages from a copy of the committed tree in a scratch
# folder (dpkg-buildpackage writes beside the tree it builds) and checks them
# with lintian. The packages, .changes and .buildinfo end up in out/debs/.
#   scripts/build-debs.sh                  build with the test suite
#   scripts/build-debs.sh --nocheck        build without it (it ran already)
#   scripts/build-debs.sh --autopkgtest    also install them and run the
#                                          autopkgtest here (changes the machine:
#                                          only on a throwaway one, as root)
set -euo pipefail
cd "$(dirname "$0")/.."

nocheck=0 autopkgtest=0
for arg in "$@"; do
  case "$arg" in
    --nocheck) nocheck=1 ;;
    --autopkgtest) autopkgtest=1 ;;
    *) echo "usage: $0 [--nocheck] [--autopkgtest]" >&2; exit 2 ;;
  esac
done

bash scripts/install-deps.sh

# Debian's own tools only: a Python (or compiler) earlier on the caller's PATH,
# such as a pyenv one, is not what the packages are built for and lacks the
# modules Debian's build tools install for /usr/bin/python3.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin

scratch=$(mktemp -d "${TMPDIR:-/tmp}/folioset-debs.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/folioset"
# The committed files only: no build folders, nothing left over.
git ls-files -z | xargs -0 cp --parents -t "$scratch/folioset"

(
  cd "$scratch/folioset"
  if [ "$nocheck" = 1 ]; then export DEB_BUILD_OPTIONS="nocheck ${DEB_BUILD_OPTIONS:-}"; fi
  dpkg-buildpackage -us -uc -b
)
mkdir -p out/debs
rm -f out/debs/*
cp "$scratch"/*.deb "$scratch"/*.changes "$scratch"/*.buildinfo out/debs/
ls out/debs
changes=out/debs/$(basename "$scratch"/*.changes)
lintian --fail-on error,warning --info "$changes"

if [ "$autopkgtest" = 1 ]; then
  # The tests come from this tree (debian/tests), the packages from the .changes.
  autopkgtest "$changes" ./ -- null
fi
