#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# Makes the source release from the committed tree (HEAD):
# folioset-VERSION.tar.xz, its top folder folioset-VERSION/, and SHA256SUMS,
# in out/release/ or the folder given. VERSION is the project version of
# CMakeLists.txt. The bytes depend on the commit alone: git archive writes
# every entry in tree order with the commit's time, owner and group 0 (root)
# and modes from the fixed umask below, and xz runs single-threaded with
# fixed settings. Two runs give the same tarball; the Debian packages build
# from it as the orig tarball (folioset_VERSION.orig.tar.xz).
#   scripts/release.sh [OUTDIR]
set -euo pipefail
cd "$(dirname "$0")/.."

version=$(sed -n 's/^project(Folioset VERSION \([0-9][0-9.]*\) .*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "release.sh: no project version in CMakeLists.txt" >&2; exit 1; }
# The tarball holds HEAD; a change not committed would be silently left out.
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "release.sh: the tree has changes that are not committed" >&2
  exit 1
fi

out=${1:-out/release}
name=folioset-$version
mkdir -p "$out"
tmp=$(mktemp "$out/.$name.XXXXXX")
trap 'rm -f "$tmp"' EXIT
git -c tar.umask=0022 archive --format=tar --prefix="$name/" HEAD |
  xz -9e --threads=1 --check=crc64 -c >"$tmp"
mv "$tmp" "$out/$name.tar.xz"
(cd "$out" && sha256sum "$name.tar.xz" >SHA256SUMS)
echo "$out/$name.tar.xz ($(git rev-parse --short HEAD))"
cat "$out/SHA256SUMS"
