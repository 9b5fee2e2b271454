# What the Xvfb tests share (sourced): waiting for windows and files, keys, screenshots.

# The first visible window whose title contains the text; waits (a hang guard) up to a minute.
wait_window() {
  for _ in $(seq 1 300); do
    local id
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 || true)
    if [ -n "$id" ]; then echo "$id"; return 0; fi
    sleep 0.2
  done
  return 1
}

# Waits for the window, gives it the focus and presses Return (its default button).
press_return() {
  local id
  id=$(wait_window "$1") || return 1
  xdotool windowfocus --sync "$id" 2>/dev/null || true
  sleep 0.5
  xdotool key --window "$id" Return
}

wait_file() {
  for _ in $(seq 1 300); do
    [ -s "$1" ] && return 0
    sleep 0.2
  done
  return 1
}

# The whole screen (WxH, by default 1280x1024), through ffmpeg's X11 grabber.
screenshot() {
  sleep 0.3
  ffmpeg -v error -nostdin -y -f x11grab -video_size "${2:-1280x1024}" -i "$DISPLAY" -frames:v 1 "$1"
}
