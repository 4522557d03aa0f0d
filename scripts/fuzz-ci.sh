#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# CI's fuzzing step: builds every fuzz target with clang and runs each for
# FUZZ_CI_SECONDS (30 by default) from its corpus, failing on any finding.
# It keeps the targets buildable with clang, which nothing else builds with.
set -euo pipefail
cd "$(dirname "$0")/.."
exec bash scripts/fuzz.sh "${FUZZ_CI_SECONDS:-30}"
