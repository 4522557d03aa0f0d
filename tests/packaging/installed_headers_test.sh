#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# Installs the build tree into a scratch prefix and compiles every installed
# header on its own, with only the installed include folder on the path: a
# header that needs one that is not installed, or that relies on being
# included after another, fails here. The C headers (lower-case names) are
# compiled as C and as C++, the class headers as C++.
#   installed_headers_test.sh CMAKE BUILD_DIR SCRATCH CC CXX
set -euo pipefail
cmake_cmd=$1 build=$2 scratch=$3 cc=$4 cxx=$5

rm -rf "$scratch"
mkdir -p "$scratch"
"$cmake_cmd" --install "$build" --prefix "$scratch/prefix" >/dev/null
include=$(find "$scratch/prefix" -type d -path '*/include/folioset')
[ -n "$include" ] || { echo "no include/folioset installed"; exit 1; }

status=0
count=0
for header in "$include"/*.h; do
  name=$(basename "$header")
  count=$((count + 1))
  printf '#include <%s>\n' "$name" >"$scratch/one.c"
  cp "$scratch/one.c" "$scratch/one.cpp"
  if [[ $name =~ ^[a-z] ]]; then
    "$cc" -std=c99 -Wall -Wextra -Werror -fsyntax-only -I"$include" "$scratch/one.c" ||
      { echo "FAIL (C): $name"; status=1; }
  fi
  "$cxx" -std=c++20 -Wall -Wextra -Werror -fsyntax-only -I"$include" "$scratch/one.cpp" ||
    { echo "FAIL (C++): $name"; status=1; }
done
[ "$count" -gt 0 ] || { echo "no headers installed"; exit 1; }
echo "$count installed headers compile on their own"
exit "$status"
