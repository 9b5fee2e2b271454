#!/usr/bin/env bash
# Runs fuzz targets of a libFuzzer build (see the README) for SECONDS each, at most three at a
# time, and keeps corpora, findings and logs outside the source tree:
#
#   fuzz/run-all.sh SECONDS [TARGET...]     (all targets when none is named: json, gif, ...)
#
# FUZZ_BUILD names the build folder (default build-fuzz of the checkout), FUZZ_OUT where the
# results go (default /tmp/fuzz-out), FUZZ_JOBS how many run at once (1 to 3, default 3), and
# FUZZ_ARGS adds options for libFuzzer. Every target starts from its seeds in fuzz/seeds/NAME
# (and, for the image decoders, pictures ffmpeg writes) plus what earlier runs found. A run
# that finds something starts again until its time is used, so that one finding does not end
# the search. Findings go to FUZZ_OUT/findings/NAME/; the summary names the new ones, and the exit
# status is 1 when there is any.
set -uo pipefail

if [ $# -lt 1 ] || ! [[ $1 =~ ^[0-9]+$ ]] || [ "$1" -lt 1 ]; then
  echo "usage: $0 SECONDS [TARGET...]" >&2
  exit 2
fi
seconds=$1
shift
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD:-$root/build-fuzz}
out=${FUZZ_OUT:-/tmp/fuzz-out}
jobs=${FUZZ_JOBS:-3}
if ! [[ $jobs =~ ^[1-3]$ ]]; then
  echo "FUZZ_JOBS must be 1, 2 or 3" >&2
  exit 2
fi
case "$(realpath -m "$out")/" in
  "$root"/*) echo "FUZZ_OUT must lie outside the source tree" >&2; exit 2 ;;
esac

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for program in "$build"/fuzz/fuzz-*; do
    [ -x "$program" ] && targets+=("${program##*/fuzz-}")
  done
fi
if [ ${#targets[@]} -eq 0 ]; then
  echo "no fuzz targets in $build/fuzz: build them first (see the README)" >&2
  exit 2
fi
for name in "${targets[@]}"; do
  if [ ! -x "$build/fuzz/fuzz-$name" ]; then
    echo "no target $name in $build/fuzz" >&2
    exit 2
  fi
  help=$("$build/fuzz/fuzz-$name" -help=1 2>&1)
  if [[ $help != *max_total_time* ]]; then
    echo "$build/fuzz/fuzz-$name is not a libFuzzer program: configure with -DMARVONI_FUZZ=ON" >&2
    exit 2
  fi
done

mkdir -p "$out/corpus" "$out/findings" "$out/logs" "$out/seeds"

# The seed folders of one target.
seed_folders() {
  local name=$1 kind=""
  [ -d "$root/fuzz/seeds/$name" ] && echo "$root/fuzz/seeds/$name"
  case "$name" in
    bmp | jpg | webp | png | tga | pcx | gif | ico) kind=$name ;;
    imageinfo) kind=headers ;;
  esac
  if [ -n "$kind" ]; then
    local folder="$out/seeds/$name"
    if [ -d "$folder" ] || "$root/scripts/make-image-seeds.sh" "$folder" "$kind" >/dev/null 2>&1; then
      echo "$folder"
    fi
  fi
}

# One target for its time: libFuzzer again after each finding, until the time is used.
run_target() {
  local name=$1 program="$build/fuzz/fuzz-$name" log="$out/logs/$name.log"
  local corpus="$out/corpus/$name" findings="$out/findings/$name/"
  mkdir -p "$corpus" "$findings"
  local -a seeds
  mapfile -t seeds < <(seed_folders "$name")
  local -a environment=()
  # The settings store target writes many small files: memory, not the disk.
  [ "$name" = store ] && environment=(TMPDIR=/dev/shm)
  local start=$SECONDS left=$seconds runs=0
  : >"$log"
  touch "$log.start"
  while [ "$left" -gt 0 ]; do
    runs=$((runs + 1))
    local status=0
    # shellcheck disable=SC2086
    env "${environment[@]}" "$program" -max_total_time="$left" -rss_limit_mb=2048 -timeout=10 \
      -print_final_stats=1 -artifact_prefix="$findings" ${FUZZ_ARGS:-} "$corpus" "${seeds[@]}" >>"$log" 2>&1 ||
      status=$?
    left=$((seconds - (SECONDS - start)))
    # libFuzzer ends with 0 when its time is used; otherwise it stopped at a finding (the same
    # input found again keeps its name) or could not start at all.
    [ "$status" -ne 0 ] || break
    [ "$runs" -lt 50 ] || break
  done
  local executions found
  executions=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | awk '{n += $2} END {print n + 0}')
  find "$findings" -type f -newer "$log.start" >"$out/logs/$name.found"
  found=$(wc -l <"$out/logs/$name.found")
  rm -f "$log.start"
  printf '%-14s %6ss %12s executions %3s findings\n' "$name" "$((SECONDS - start))" "$executions" "$found" \
    >"$out/logs/$name.summary"
}

echo "fuzzing ${#targets[@]} targets for ${seconds}s each, $jobs at a time, into $out"
running=0
for name in "${targets[@]}"; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
  run_target "$name" &
  running=$((running + 1))
done
wait

status=0
for name in "${targets[@]}"; do
  cat "$out/logs/$name.summary"
  while read -r finding; do
    echo "  $finding"
    status=1
  done <"$out/logs/$name.found"
done
exit $status
