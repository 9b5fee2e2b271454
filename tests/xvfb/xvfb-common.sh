# What the Xvfb tests share (sourced): waiting for windows and files, keys, screenshots.
# Every wait polls for its condition; the limits (minutes) only guard against hangs, so a
# loaded machine makes the tests slower, never red.

# Runs the command until it succeeds, for up to $XVFB_WAIT_LIMIT seconds (default 300).
wait_until() {
  local end=$((SECONDS + ${XVFB_WAIT_LIMIT:-300}))
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.1
  done
}

# The first visible window whose title contains the text, once one shows.
find_window() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 | grep .; }
wait_window() { wait_until find_window "$1"; }

# Gives the window the input focus and waits until the X server says it has it; keys pressed
# after that reach it, as the server queues the focus change before them.
has_focus() { [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ] || { xdotool windowfocus "$1" 2>/dev/null; false; }; }
focus_window() {
  xdotool windowfocus --sync "$1" 2>/dev/null || true
  wait_until has_focus "$1"
}

# Waits for the window, gives it the focus and presses Return (its default button).
press_return() {
  local id
  id=$(wait_window "$1") || return 1
  focus_window "$id" || return 1
  xdotool key --window "$id" Return
}

wait_file() { wait_until test -s "$1"; }

# The whole screen (WxH, by default 1280x1024), through ffmpeg's X11 grabber.
screenshot() {
  ffmpeg -v error -nostdin -y -f x11grab -video_size "${2:-1280x1024}" -i "$DISPLAY" -frames:v 1 "$1"
}

# xvfb-run starts the program once the server has said it is ready, but on a loaded machine
# a client could still find no server at the display: the tests start only once one answers.
display_answers() { xdotool getdisplaygeometry >/dev/null 2>&1; }
wait_until display_answers || { echo "xvfb: the X server at $DISPLAY never answered" >&2; exit 1; }
