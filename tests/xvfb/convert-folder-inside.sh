#!/usr/bin/env bash
# The part of convert-folder.sh that runs inside the X server.
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
fail() { echo "xvfb convert-folder: $*" >&2; [ -f "$work/log" ] && cat "$work/log" >&2; exit 1; }
. "$(dirname "$0")/xvfb-common.sh"

cmake --install "$build" --prefix "$work/prefix" >/dev/null
mkdir -p "$work/tree/a/b" "$work/home"
for clip in a/one a/b/two; do
  ffmpeg -v error -nostdin -f lavfi -i testsrc=duration=1:size=320x240:rate=25 -f lavfi -i sine=duration=1 \
    -shortest -c:v mpeg4 -c:a aac "$work/tree/$clip.mkv"
done
echo "not media" >"$work/tree/a/notes.txt"

HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" _APPDATA_OVERRIDE="$work/home" \
  "$work/prefix/bin/marvoni-video" --convert-folder "$work/tree/a" >"$work/log" 2>&1 &
pid=$!
press_return "Batch Converter" || fail "the batch converter never showed"
press_return "Converter Setup" || fail "the converter setup never came after Convert"
for out in a/one a/b/two; do
  wait_file "$work/tree/$out.mp4" || fail "no output for $out"
  ffprobe -v error "$work/tree/$out.mp4" >/dev/null || fail "ffprobe cannot read $out.mp4"
done
wait_window "Finished" >/dev/null || fail "the progress dialog never said it finished"
[ ! -e "$work/tree/a/notes.mp4" ] || fail "the text file was converted"
screenshot "$shot"
echo "converted a folder under Xvfb; screenshot in $shot"
