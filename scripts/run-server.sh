#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# Builds the project and runs folioset-server on 127.0.0.1:8080 with the
# examples folder as its templates (template=confirm). Further arguments go
# to the server (--listen 127.0.0.1:9090, ...). Ctrl-C stops it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)"
exec build/bin/folioset-server --templates examples "$@"
