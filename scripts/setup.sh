#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, then configures and
# builds into the folder given as $1 (default build/). Extra arguments go to cmake.
# Fast when everything is already there: apt is only asked when a package is missing.
set -euo pipefail

PACKAGES=(
  g++ cmake ninja-build pkg-config
  libgtest-dev libgmock-dev
  ffmpeg
  qt6-base-dev qt6-base-dev-tools
  locales
  dbus-daemon   # the reveal-in-file-manager test runs a private message bus
  bzip2         # ffmpeg archives are .tar.bz2
  clang-format  # the format check among the tests
  fonts-dejavu-core  # widget pictures and tests draw text with a known font
  libbenchmark-dev   # the image benchmarks
  zlib1g-dev libjpeg-dev libpng-dev libwebp-dev  # the image library's codecs
  libjpeg-turbo-progs  # cjpeg, which the image benchmark compares the JPEG encoder against
  libstb-dev         # stb_image_resize, which the image benchmark compares resampling against
  libssl-dev         # TLS of the HTTP client
  openssl            # the network tests make certificates and run a TLS server
  python3            # the network tests' HTTP server and proxy
  desktop-file-utils # desktop-file-validate checks the .desktop entries
  xvfb xauth xdotool # end-to-end tests of real windows under an X server of their own
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

# The argument scanners of the interface kit are tested under a locale whose decimal mark is
# a comma; Debian ships the locale's data but generates only what /etc/locale.gen asks for.
if ! locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8'; then
  echo "Generating the locale de_DE.UTF-8"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  if [ -f /etc/locale.gen ] && command -v locale-gen >/dev/null; then
    $SUDO sed -i 's/^# *\(de_DE\.UTF-8 UTF-8\)$/\1/' /etc/locale.gen
    grep -q '^de_DE\.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
    $SUDO locale-gen
  else
    $SUDO localedef -i de_DE -f UTF-8 de_DE.UTF-8
  fi
fi

builddir=${1:-build}
shift || true
cmake -S . -B "$builddir" -G Ninja "$@" >/dev/null
cmake --build "$builddir" -j"$(nproc)"
