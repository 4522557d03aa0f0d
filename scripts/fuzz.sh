#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# Builds the libFuzzer targets with clang (build-fuzz/, AddressSanitizer and
# UBSan) and runs each one for a fixed time, as many at once as there are
# cores (FUZZ_JOBS sets another number; each run is one process on one core).
#   scripts/fuzz.sh [seconds per target] [target...]
# Default: 60 seconds for every target. FUZZ_SECONDS in the environment sets
# the time as well. Each run starts from the seed corpus (fuzz/corpus/<t>)
# plus what earlier runs found (build-fuzz/corpus/<t>, kept between runs).
# Every crash, hang, leak or out-of-memory input is copied to
# fuzz/regressions/<t>/, which the normal test suite replays; the script then
# fails. Logs: build-fuzz/logs/<t>.log.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

seconds="${FUZZ_SECONDS:-60}"
if [ $# -gt 0 ] && [[ "$1" =~ ^[0-9]+$ ]]; then
  seconds="$1"
  shift
fi
# Every fuzz/<t>_fuzzer.cpp is a target, so that a new one is fuzzed (and
# built by CI) without a change here.
all_targets=()
for f in fuzz/*_fuzzer.cpp; do
  t=$(basename "$f" _fuzzer.cpp)
  all_targets+=("$t")
done
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all_targets[@]}")

# Largest input per target (bytes), matching the caps inside each target;
# 1 MiB for a target not listed.
declare -A max_len=([macro]=65536 [bmp]=1048576 [buildfax]=65536 [pageblock]=1048577
                    [dither]=262144 [faxcoder]=65536 [membuild]=8193 [server]=65536)

bash scripts/install-deps.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DFOLIO_FUZZ=ON -DFOLIO_TESTS=OFF -DFOLIO_BENCH=OFF -DFOLIO_DESKTOP=OFF >/dev/null
cmake --build build-fuzz -j 2 --target "${targets[@]/%/_fuzzer}"

export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1"
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"

# One target's run; its exit status goes to build-fuzz/logs/<t>.status.
run_target() {
  local t=$1 corpus="build-fuzz/corpus/$1" artifacts="build-fuzz/artifacts/$1" status=0
  # The macro targets get the keywords of the language as a dictionary; a
  # target with a dictionary of its own (fuzz/<t>.dict) gets that.
  local dict=()
  case "$t" in macro | buildfax) dict=(-dict="$root/fuzz/macro.dict") ;; esac
  [ -f "fuzz/$t.dict" ] && dict=(-dict="$root/fuzz/$t.dict")
  # -timeout: an input that takes longer is a hang. -rss_limit_mb: a run that
  # needs more memory is a finding (the targets cap every size well below).
  "build-fuzz/bin/${t}_fuzzer" "$root/$corpus" "$root/fuzz/corpus/$t" \
    -max_total_time="$seconds" -max_len="${max_len[$t]:-1048576}" -timeout=20 -rss_limit_mb=2048 \
    -artifact_prefix="$root/$artifacts/" -print_final_stats=1 "${dict[@]}" \
    >"build-fuzz/logs/$t.log" 2>&1 || status=$?
  echo "$status" >"build-fuzz/logs/$t.status"
}

jobs="${FUZZ_JOBS:-$(nproc)}"
[[ "$jobs" =~ ^[1-9][0-9]*$ ]] || jobs=1
running=()
# An interrupted script takes its fuzzers (children of the runs) with it.
stop_runs() {
  local p
  for p in "${running[@]}"; do pkill -TERM -P "$p" 2>/dev/null || true; kill "$p" 2>/dev/null || true; done
}
trap stop_runs EXIT
for t in "${targets[@]}"; do
  mkdir -p "build-fuzz/corpus/$t" "build-fuzz/artifacts/$t" build-fuzz/logs "fuzz/regressions/$t"
  rm -f "build-fuzz/artifacts/$t"/* "build-fuzz/logs/$t.status"
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n || true; done
  echo "fuzz: $t for ${seconds}s"
  run_target "$t" &
  running+=($!)
done
wait
trap - EXIT

failed=()
for t in "${targets[@]}"; do
  artifacts="build-fuzz/artifacts/$t"
  status=$(cat "build-fuzz/logs/$t.status" 2>/dev/null || echo "no status")
  found=0
  for f in "$artifacts"/*; do
    [ -e "$f" ] || continue
    cp "$f" "fuzz/regressions/$t/"
    echo "fuzz: $t: kept $(basename "$f") in fuzz/regressions/$t/"
    found=1
  done
  if [ "$status" != 0 ] || [ $found -ne 0 ]; then
    echo "fuzz: $t FAILED (exit $status); see build-fuzz/logs/$t.log" >&2
    grep -E "^==[0-9]+==ERROR|^SUMMARY|runtime error|ALARM|out-of-memory" \
      "build-fuzz/logs/$t.log" | head -5 >&2 || true
    failed+=("$t")
  else
    grep -E "stat::number_of_executed_units|cov:" "build-fuzz/logs/$t.log" | tail -2 | sed "s/^/fuzz: $t: /"
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: findings in ${failed[*]}" >&2
  exit 1
fi
echo "fuzz: no finding in ${targets[*]}"
