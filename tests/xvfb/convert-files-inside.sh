#!/usr/bin/env bash
# The part of convert-files.sh that runs inside the X server.
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

cmake --install "$build" --prefix "$work/prefix" >/dev/null
mkdir "$work/media" "$work/home"
clip="$work/media/clip"$'\xff'" one.mkv"
ffmpeg -v error -nostdin -f lavfi -i testsrc=duration=2:size=320x240:rate=25 -f lavfi -i sine=duration=2 \
  -shortest -c:v mpeg4 -c:a aac "$clip"

# A window appears whose title says what it shows; waits (as a hang guard) up to a minute.
wait_window() {
  for _ in $(seq 1 300); do
    local id
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 || true)
    if [ -n "$id" ]; then echo "$id"; return 0; fi
    sleep 0.2
  done
  return 1
}

HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" _APPDATA_OVERRIDE="$work/home" \
  "$work/prefix/bin/marvoni-video" --convert-files "$clip" >"$work/log" 2>&1 &
pid=$!
setup=$(wait_window "Converter Setup") || fail "the converter setup never showed"
xdotool windowfocus --sync "$setup" 2>/dev/null || true
sleep 0.5
xdotool key --window "$setup" Return
output="$work/media/clip"$'\xff'" one.mp4"
for _ in $(seq 1 300); do
  [ -s "$output" ] && break
  sleep 0.2
done
[ -s "$output" ] || fail "no output next to the source"
wait_window "Finished" >/dev/null || fail "the progress dialog never said it finished"
ffprobe -v error "$output" >/dev/null || fail "ffprobe cannot read the output"
[ -s "$clip" ] || fail "the source is gone"
sleep 0.3
ffmpeg -v error -nostdin -y -f x11grab -video_size 1280x1024 -i "$DISPLAY" -frames:v 1 "$shot"
echo "converted under Xvfb; screenshot in $shot"
