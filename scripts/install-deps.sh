#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# Installs every Debian package the build, the tests and the tools need.
# Idempotent: when everything is present it only asks dpkg and returns.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  clang
  libgtest-dev libgmock-dev libbenchmark-dev
  libfreetype-dev libfontconfig-dev fonts-liberation2 fonts-dejavu-extra
  libtiff-dev libtiff-tools libpng-dev libjpeg-dev libcairo2-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev libxcb1-dev
  poppler-utils netpbm python3
  xvfb openbox x11-utils desktop-file-utils shared-mime-info
  dpkg-dev debhelper lintian autopkgtest debootstrap
  python3-pytest python3-venv python3-setuptools python3-wheel python3-all dh-python pybuild-plugin-pyproject
  libzint-dev zbar-tools zxing-cpp-tools
  libspandsp-dev
  nlohmann-json3-dev
  libcsv-dev
  libmicrohttpd-dev wrk curl
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
updated=0

# The clang runtime (sanitizers, libFuzzer) is named after clang's major
# version, which each release has its own of (14 on Debian 12, 19 on 13):
# the one of the clang installed, or else of the clang apt would install.
clang_major() {
  if command -v clang >/dev/null; then
    clang --version | sed -n 's/.*clang version \([0-9]*\).*/\1/p' | head -1
  else
    apt-cache depends clang 2>/dev/null | sed -n 's/^ *Depends: clang-\([0-9]*\)$/\1/p' | head -1
  fi
}
major=$(clang_major)
if [ -z "$major" ]; then
  $SUDO apt-get update -qq
  updated=1
  major=$(clang_major)
fi
PACKAGES+=("libclang-rt-${major:?install-deps: apt offers no clang}-dev")

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
if [ "$updated" = 0 ]; then $SUDO apt-get update -qq; fi
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
