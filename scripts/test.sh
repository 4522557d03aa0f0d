#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# Installs what is missing, builds, and runs the whole test suite.
#   scripts/test.sh               normal build (build/), all tests
#   scripts/test.sh --sanitize    also the AddressSanitizer+UBSan build (build-asan/)
# FOLIO_SANITIZE=1 in the environment does the same as --sanitize.
set -euo pipefail
cd "$(dirname "$0")/.."

sanitize="${FOLIO_SANITIZE:-0}"
for arg in "$@"; do
  case "$arg" in
    --sanitize) sanitize=1 ;;
    *) echo "usage: $0 [--sanitize]" >&2; exit 2 ;;
  esac
done

bash scripts/install-deps.sh

jobs=$(nproc)
run_suite() {
  local dir="$1"; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  QT_QPA_PLATFORM=offscreen ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 300
}

run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo

if [ "$sanitize" = "1" ]; then
  export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:abort_on_error=1"
  # Leaks inside libfontconfig only (see the file for why).
  export LSAN_OPTIONS="suppressions=$(pwd)/scripts/lsan.supp:print_suppressions=0"
  export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
  run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DFOLIO_SANITIZE=ON -DFOLIO_BENCH=OFF
fi
