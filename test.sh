#!/usr/bin/env bash
# Builds everything and runs every test. On a fresh Debian machine it first
# installs what the build needs.  ./test.sh --sanitize does the same in a
# separate build with AddressSanitizer and UndefinedBehaviorSanitizer.
# MARVONI_WERROR=ON in the environment makes every compiler warning an error.
set -euo pipefail
cd "$(dirname "$0")"

builddir=build
cmake_args=()
if [ "${1:-}" = "--sanitize" ]; then
  builddir=build-asan
  cmake_args=(-DMARVONI_SANITIZE=ON -DMARVONI_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug)
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi

if [ -n "${MARVONI_WERROR:-}" ]; then
  cmake_args+=(-DMARVONI_WERROR="$MARVONI_WERROR")
fi

scripts/setup.sh "$builddir" "${cmake_args[@]}"
export QT_QPA_PLATFORM=offscreen
cd "$builddir"
ctest --output-on-failure -j"$(nproc)"
