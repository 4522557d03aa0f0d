#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# Installs the build tree into a scratch root (DESTDIR) and uses it as an
# integrator would:
#  - every installed header compiles on its own as <folioset/NAME.h> with only
#    the include root on the path (a header that needs one that is not
#    installed, or that relies on being included after another, fails); the
#    C headers (lower-case names) as C and as C++, the class headers as C++20;
#  - the include folder of 1.0 (-I.../include/folioset, <foliolib.h>) works;
#  - the C++ headers under C++17 stop at one #error that names C++20;
#  - pkg-config builds the example clients, and so does find_package(Folioset)
#    through examples/client/CMakeLists.txt; the clients run and write faxes;
#  - the package version accepts 1.0 to 1.2, refuses 2.0 and 1.3.
#   installed_headers_test.sh CMAKE BUILD_DIR SCRATCH CC CXX
set -euo pipefail
cmake_cmd=$1 build=$2 scratch=$3 cc=$4 cxx=$5
source_dir=$(cd "$(dirname "$0")/../.." && pwd)

rm -rf "$scratch"
mkdir -p "$scratch"
DESTDIR="$scratch/root" "$cmake_cmd" --install "$build" >/dev/null
include=$(find "$scratch/root" -type d -path '*/include/folioset')
[ -n "$include" ] || { echo "no include/folioset installed"; exit 1; }
root_include=$(dirname "$include")
prefix=$(dirname "$root_include")
config=$(find "$prefix" -name FoliosetConfig.cmake)
[ -n "$config" ] || { echo "no FoliosetConfig.cmake installed"; exit 1; }
pcdir=$(dirname "$(find "$prefix" -name foliolib.pc)")
libdir=$(dirname "$pcdir")

status=0
fail() { echo "FAIL: $*"; status=1; }

count=0
for header in "$include"/*.h; do
  name=$(basename "$header")
  count=$((count + 1))
  printf '#include <folioset/%s>\n' "$name" >"$scratch/one.c"
  cp "$scratch/one.c" "$scratch/one.cpp"
  if [[ $name =~ ^[a-z] ]]; then
    "$cc" -std=c99 -Wall -Wextra -Werror -fsyntax-only -I"$root_include" "$scratch/one.c" ||
      fail "C: $name"
  fi
  "$cxx" -std=c++20 -Wall -Wextra -Werror -fsyntax-only -I"$root_include" "$scratch/one.cpp" ||
    fail "C++: $name"
done
[ "$count" -gt 0 ] || { echo "no headers installed"; exit 1; }

for name in foliolib.h FaxImage.h; do
  printf '#include <%s>\n' "$name" >"$scratch/old.cpp"
  "$cxx" -std=c++20 -Wall -Wextra -Werror -fsyntax-only -I"$include" "$scratch/old.cpp" ||
    fail "1.0 include folder: $name"
done

for name in FaxImage.h Diagnostics.h; do
  printf '#include <folioset/%s>\n' "$name" >"$scratch/old.cpp"
  if out=$("$cxx" -std=c++17 -fsyntax-only -I"$root_include" "$scratch/old.cpp" 2>&1); then
    fail "$name compiles under C++17"
  elif [ "$(grep -c 'error:' <<<"$out")" != 1 ] || ! grep -q 'C++20' <<<"$out"; then
    fail "$name under C++17 does not stop at one error naming C++20:"$'\n'"$out"
  fi
done

mkdir "$scratch/run"
cp "$source_dir"/examples/letter.fax "$source_dir"/examples/logo.bmp "$scratch/run"
cp -r "$source_dir/examples/client" "$scratch/client"
export LD_LIBRARY_PATH="$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
# In the sanitizer build the installed library carries the AddressSanitizer
# runtime, which must come first: the plain clients get it preloaded.
asan=$(ldd "$libdir/libfoliolib.so" 2>/dev/null | awk '$1 ~ /^libasan\.so/ {print $3}')
run() { if [ -n "$asan" ]; then LD_PRELOAD="$asan" "$@"; else "$@"; fi; }

# pkg-config through the scratch root; /usr's folders are kept, since here
# they are not the system's.
export PKG_CONFIG_LIBDIR="$pcdir" PKG_CONFIG_PATH="" PKG_CONFIG_SYSROOT_DIR="$scratch/root"
export PKG_CONFIG_ALLOW_SYSTEM_CFLAGS=1 PKG_CONFIG_ALLOW_SYSTEM_LIBS=1
read -r -a flags <<<"$(pkg-config --cflags --libs foliolib)"
unset PKG_CONFIG_LIBDIR PKG_CONFIG_PATH PKG_CONFIG_SYSROOT_DIR
unset PKG_CONFIG_ALLOW_SYSTEM_CFLAGS PKG_CONFIG_ALLOW_SYSTEM_LIBS
"$cc" -Wall -Werror "$scratch/client/buildfax_client.c" "${flags[@]}" -o "$scratch/pc_c" ||
  fail "pkg-config: C client"
"$cxx" -std=c++20 -Wall -Werror "$scratch/client/engine_client.cpp" "${flags[@]}" \
  -o "$scratch/pc_cxx" || fail "pkg-config: C++ client"

# find_package: the examples' own project, configured against the scratch
# prefix only.
if ! "$cmake_cmd" -S "$scratch/client" -B "$scratch/client-build" -G Ninja \
       -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" \
       -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_FIND_USE_CMAKE_SYSTEM_PATH=OFF \
       >"$scratch/client.log" 2>&1 ||
   ! "$cmake_cmd" --build "$scratch/client-build" >>"$scratch/client.log" 2>&1; then
  cat "$scratch/client.log"
  fail "find_package: clients do not build"
fi

cd "$scratch/run"
for program in "$scratch/pc_c" "$scratch/client-build/buildfax_client"; do
  [ -x "$program" ] || continue
  run "$program" letter.fax "$(basename "$program").tif" >/dev/null || fail "$program does not run"
  cmp -s "$(basename "$program").tif" "$(basename "$scratch/pc_c").tif" ||
    fail "$program wrote another fax"
done
for program in "$scratch/pc_cxx" "$scratch/client-build/engine_client"; do
  [ -x "$program" ] || continue
  run "$program" >/dev/null || fail "$program does not run"
  [ -s engine_client.tif ] || fail "$program wrote no fax"
  rm -f engine_client.tif
done

# The version check of the package, as find_package runs it.
version_file=$(dirname "$config")/FoliosetConfigVersion.cmake
for case in 1.0:TRUE 1.1:TRUE 1.2:TRUE 1.3:FALSE 2.0:FALSE; do
  asked=${case%:*} expected=${case#*:}
  printf 'set(PACKAGE_FIND_VERSION %s)\nstring(REPLACE . ";" v %s)\nlist(GET v 0 PACKAGE_FIND_VERSION_MAJOR)\nlist(GET v 1 PACKAGE_FIND_VERSION_MINOR)\nset(CMAKE_SIZEOF_VOID_P 8)\ninclude(%s)\nmessage("${PACKAGE_VERSION_COMPATIBLE}")\n' \
    "$asked" "$asked" "$version_file" >"$scratch/version.cmake"
  got=$("$cmake_cmd" -P "$scratch/version.cmake" 2>&1)
  [ "$got" = "$expected" ] || fail "find_package(Folioset $asked): compatible '$got', expected $expected"
done

[ "$status" = 0 ] && echo "$count installed headers compile on their own; pkg-config and find_package clients build and run"
exit "$status"
