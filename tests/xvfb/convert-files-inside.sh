#!/usr/bin/env bash
# The part of convert.sh that runs inside the X server.
set -euo pipefail
build=$1
shot=$2
work=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "xvfb convert-files: $*" >&2; [ -f "$work/log" ] && cat "$work/log" >&2; exit 1; }
. "$(dirname "$0")/xvfb-common.sh"

cmake --install "$build" --prefix "$work/prefix" >/dev/null
mkdir "$work/media" "$work/home"
clip="$work/media/clip"$'\xff'" one.mkv"
ffmpeg -v error -nostdin -f lavfi -i testsrc=duration=2:size=320x240:rate=25 -f lavfi -i sine=duration=2 \
  -shortest -c:v mpeg4 -c:a aac "$clip"

HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" _APPDATA_OVERRIDE="$work/home" \
  "$work/prefix/bin/marvoni-video" --convert-files "$clip" >"$work/log" 2>&1 &
pid=$!
press_return "Converter Setup" || fail "the converter setup never showed"
output="$work/media/clip"$'\xff'" one.mp4"
wait_file "$output" || fail "no output next to the source"
wait_window "Finished" >/dev/null || fail "the progress dialog never said it finished"
ffprobe -v error "$output" >/dev/null || fail "ffprobe cannot read the output"
[ -s "$clip" ] || fail "the source is gone"
screenshot "$shot"
echo "converted under Xvfb; screenshot in $shot"
