#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# Installs every Debian package the build, the tests and the tools need.
# Idempotent: when everything is present it only asks dpkg and returns.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libfreetype-dev libfontconfig-dev fonts-liberation2 fonts-dejavu-extra
  libtiff-dev libtiff-tools libpng-dev libjpeg-dev libcairo2-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev libxcb1-dev
  poppler-utils netpbm python3
  xvfb openbox x11-utils desktop-file-utils shared-mime-info
  dpkg-dev debhelper lintian autopkgtest
  python3-pytest python3-venv python3-setuptools python3-wheel python3-all dh-python pybuild-plugin-pyproject
  libzint-dev zbar-tools zxing-cpp-tools
)

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
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
