#!/usr/bin/env bash
# Builds the program (installing what is missing on a fresh Debian machine) and starts it.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh build
if [ -x build/src/app/marvoni-video ]; then
  exec build/src/app/marvoni-video "$@"
fi
echo "The libraries and tests are built, but there is no program to start yet:"
echo "the application itself (marvoni-video) is not written so far."
