#!/usr/bin/env bash
# Builds the program (installing what is missing on a fresh Debian machine) and starts it.
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh build
exec build/src/app/marvoni-video "$@"
