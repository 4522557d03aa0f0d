#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# scripts/release.sh on a clone of the committed tree: two runs give the same
# bytes, the entries sit under folioset-VERSION/ owned by root with the
# commit's time, SHA256SUMS matches, and a tree with uncommitted changes is
# refused. The script under test is this tree's, copied into the clone under
# a name git does not track. Skipped (77) outside a git work tree, as in a
# build from the release tarball.
#   release_test.sh SOURCE_DIR SCRATCH VERSION
set -euo pipefail
source_dir=$1 scratch=$2 version=$3
git -C "$source_dir" rev-parse --git-dir >/dev/null 2>&1 || { echo "not a git tree"; exit 77; }

rm -rf "$scratch"
mkdir -p "$scratch"
git clone -q --shared --no-checkout "$source_dir" "$scratch/tree"
git -C "$scratch/tree" checkout -q --detach "$(git -C "$source_dir" rev-parse HEAD)"
script=$scratch/tree/scripts/release-under-test.sh
cp "$source_dir/scripts/release.sh" "$script"

status=0
fail() { echo "FAIL: $*"; status=1; }
bash "$script" "$scratch/one" >/dev/null
bash "$script" "$scratch/two" >/dev/null
tarball=folioset-$(sed -n 's/^project(Folioset VERSION \([0-9][0-9.]*\) .*/\1/p' "$scratch/tree/CMakeLists.txt").tar.xz
[ "$tarball" = "folioset-$version.tar.xz" ] || fail "tarball $tarball for version $version"
cmp "$scratch/one/$tarball" "$scratch/two/$tarball" || fail "two runs differ"
(cd "$scratch/one" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match"

commit_time=$(git -C "$scratch/tree" log -1 --format=%ct)
listing=$(tar --list --verbose --numeric-owner --full-time --utc -J -f "$scratch/one/$tarball")
others=$(awk -v p="folioset-$version/" '$2 != "0/0" || index($6, p) != 1' <<<"$listing")
[ -z "$others" ] || fail "entries not owned by 0/0 under folioset-$version/:"$'\n'"$others"
times=$(awk '{print $4 " " $5}' <<<"$listing" | sort -u)
[ "$times" = "$(date -u -d "@$commit_time" '+%Y-%m-%d %H:%M:%S')" ] ||
  fail "entry times are not the commit's: $times"
tar -xJf "$scratch/one/$tarball" -C "$scratch" "folioset-$version/CMakeLists.txt" ||
  fail "no CMakeLists.txt in the tarball"

echo "uncommitted" >>"$scratch/tree/README.md"
if bash "$script" "$scratch/three" >/dev/null 2>&1; then fail "a tree with changes was released"; fi

[ "$status" = 0 ] && echo "$tarball: the same bytes twice, root-owned, dated by the commit"
exit "$status"
