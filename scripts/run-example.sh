#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# Builds the project and turns the example letter into a fax TIFF, with a
# PNG preview of each page.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)"
mkdir -p out
# FILE commands name files relative to the current folder: run in examples/.
(cd examples && ../build/bin/foliobuild --png ../out letter.fax ../out/letter.tif)
echo "Wrote out/letter.tif; page previews: out/letter-001.png ..."
