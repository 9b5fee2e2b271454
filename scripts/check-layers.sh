#!/usr/bin/env bash
# Fails when a library includes a library above it. The order (lowest first) is the one the
# libraries are built on: a folder may include itself and the folders before it.
# src/xclass and src/image stay free of Qt.
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
order=(xclass image platform kit media job naming engine progress setup batch app)
rank() { local i; for i in "${!order[@]}"; do [ "${order[$i]}" = "$1" ] && { echo "$i"; return; }; done; echo -1; }

status=0
for dir in "$root"/src/*/; do
  lib=$(basename "$dir")
  own=$(rank "$lib")
  if [ "$own" -lt 0 ]; then
    echo "src/$lib: a folder outside the known layers" >&2; status=1; continue
  fi
  while IFS= read -r hit; do
    [ -z "$hit" ] && continue
    file=${hit%%:*}; rest=${hit#*:}; line=${rest%%:*}
    target=$(sed -E 's/.*#[[:space:]]*include[[:space:]]+"([a-z]+)\/.*/\1/' <<<"$rest")
    other=$(rank "$target")
    if [ "$other" -lt 0 ] || [ "$other" -gt "$own" ] || { [ "$other" -eq "$own" ] && [ "$target" != "$lib" ]; }; then
      echo "${file#$root/}:$line: $lib includes $target, which is not below it" >&2; status=1
    fi
  done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[a-z]+/' "$dir" || true)
  # A project header named without its folder hides its layer.
  if grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]+"[^/"]+"' "$dir" >&2; then
    echo "src/$lib: include project headers with their folder (\"$lib/Name.h\")" >&2; status=1
  fi
  if [ "$lib" = xclass ] || [ "$lib" = image ]; then
    if grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q' "$dir" >&2; then
      echo "src/$lib: uses Qt, which it must not" >&2; status=1
    fi
  fi
done
[ "$status" -eq 0 ] && echo "layers: every include points down"
exit "$status"
