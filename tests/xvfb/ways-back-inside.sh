#!/usr/bin/env bash
# The part of ways-back.sh that runs inside the X server.
set -euo pipefail
[ -n "${XVFB_TRACE:-}" ] && set -x
build=$1
screen=$2
shot=$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "xvfb ways-back ($screen): $*" >&2; [ -f "$work/log" ] && cat "$work/log" >&2; exit 1; }
. "$here/xvfb-common.sh"
xclose() { python3 "$here/../tools/x-close/x-close.py" "$1"; }

# Presses a key in the window (given the focus first).
key_in() {
  focus_window "$1" || fail "the window $1 never got the focus"
  xdotool key "$2"
}
alive() { kill -0 "$pid" 2>/dev/null || fail "the program ended: $1"; }
# The setup window again, and the program still running.
back_to_setup() {
  alive "$1"
  local id
  id=$(wait_window "Converter Setup") || fail "not back on the setup after $1"
  echo "$id"
}

cmake --install "$build" --prefix "$work/prefix" >/dev/null
mkdir "$work/media" "$work/home"
clip="$work/media/clip.mkv"
ffmpeg -v error -nostdin -f lavfi -i testsrc=duration=2:size=320x240:rate=25 -f lavfi -i sine=duration=2 \
  -shortest -c:v mpeg4 -c:a aac "$clip"
# An output that exists already, so that Convert asks first.
echo "old" >"$work/media/clip.mp4"

HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" _APPDATA_OVERRIDE="$work/home" \
  "$work/prefix/bin/marvoni-video" --convert-files "$clip" >"$work/log" 2>&1 &
pid=$!
setup=$(wait_window "Converter Setup") || fail "the converter setup never showed"
width=${screen%x*}
height=${screen#*x}
# The window is placed and sized to fit after it first shows: wait until it fits.
fits() {
  eval "$(xdotool getwindowgeometry --shell "$setup")"
  [ "$X" -ge 0 ] && [ "$Y" -ge 0 ] && [ $((X + WIDTH)) -le "$width" ] && [ $((Y + HEIGHT)) -le "$height" ]
}
XVFB_WAIT_LIMIT=60 wait_until fits || fail "the setup (${WIDTH}x${HEIGHT} at $X,$Y) does not fit the screen"
screenshot "$shot" "$screen"

# List & Rename: the keyboard starts on the encoder pop-up; Tab reaches the files button.
open_list() {
  key_in "$1" Tab
  key_in "$1" Return
  wait_window "List & Rename Files" || fail "List & Rename never showed"
}
list=$(open_list "$setup")
key_in "$list" Escape
setup=$(back_to_setup "Escape in List & Rename")
list=$(open_list "$setup")
key_in "$list" Return
setup=$(back_to_setup "Return in List & Rename")
list=$(open_list "$setup")
xclose "$list"
setup=$(back_to_setup "the close button of List & Rename")

# Convert (the default button) finds the existing output and asks.
key_in "$setup" Return
dialog=$(wait_window "Files Already Exist") || fail "the files-already-exist dialog never showed"
key_in "$dialog" Escape
setup=$(back_to_setup "Escape in Files Already Exist")
key_in "$setup" Return
dialog=$(wait_window "Files Already Exist") || fail "the dialog did not come again"
xclose "$dialog"
setup=$(back_to_setup "the close button of Files Already Exist")

# And the setup still converts: this time Overwrite (the dialog's default).
key_in "$setup" Return
dialog=$(wait_window "Files Already Exist") || fail "the dialog did not come a third time"
key_in "$dialog" Return
wait_window "Finished" >/dev/null || fail "the conversion never finished"
ffprobe -v error "$work/media/clip.mp4" >/dev/null || fail "ffprobe cannot read the output"
alive "the conversion"
echo "ways back under Xvfb at $screen; screenshot in $shot"
