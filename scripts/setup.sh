#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, then configures and
# builds into the folder given as $1 (default build/). Extra arguments go to cmake.
# Fast when everything is already there: apt is only asked when a package is missing.
set -euo pipefail

PACKAGES=(
  g++ cmake ninja-build pkg-config
  libgtest-dev libgmock-dev
  ffmpeg
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y "${missing[@]}"
fi

builddir=${1:-build}
shift || true
cmake -S . -B "$builddir" -G Ninja "$@" >/dev/null
cmake --build "$builddir" -j"$(nproc)"
