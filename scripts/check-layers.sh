#!/usr/bin/env bash
# Fails when a library includes a library above it. The order (lowest first) is the one the
# libraries are built on: a folder may include itself and the folders before it. Project headers
# are named with their folder ("engine/clFFMPEG.h"), so that every include shows its layer.
# src/xclass and src/image stay free of Qt.
#
# Qt Widgets stays in the windows. Only these may include a Qt Widgets header, directly or
# through a project header that does:
#   src/kit/  src/progress/  src/setup/  src/app/          (the interface kit and the windows)
#   src/media/ui/  src/naming/ui/  src/batch/ui/           (the windows of those libraries)
# Everything else (the engine, the job model, the models of media, naming and batch) must build
# and run without a QApplication.
#
# Usage: check-layers.sh [ROOT]. The Qt Widgets headers are read from the installed Qt
# (QT_WIDGETS_INCLUDE_DIR names another place); without them the check fails rather than pass.
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/.." && pwd)}
order="xclass image platform kit media job naming engine progress setup batch app"
widget_ok="kit progress setup app media/ui naming/ui batch/ui"

qtdir=${QT_WIDGETS_INCLUDE_DIR:-}
if [ -z "$qtdir" ]; then
  for d in /usr/include/x86_64-linux-gnu/qt6/QtWidgets /usr/include/*/qt6/QtWidgets /usr/include/qt6/QtWidgets; do
    [ -d "$d" ] && { qtdir=$d; break; }
  done
fi
if [ -z "$qtdir" ] || [ ! -d "$qtdir" ]; then
  echo "layers: no Qt Widgets headers found (set QT_WIDGETS_INCLUDE_DIR)" >&2
  exit 1
fi

folders=""
for d in "$root"/src/*/; do
  d=${d%/}
  folders="$folders ${d##*/}"
done

# One grep for every include line of src/, one awk for every rule, its findings sorted by place.
# The Qt header list comes first (records "=MODULE/NAME"), so that the awk knows the widget
# headers before it reads any include.
qtbase=${qtdir%/*}
qtheaders=("$qtbase"/Qt*/*)
{
  printf '=%s\n' "${qtheaders[@]#"$qtbase"/}"
  grep -rnHE '^[[:space:]]*#[[:space:]]*include' "$root/src" || true
} | awk -v root="$root/src/" -v order="$order" -v folders="$folders" -v widget_ok="$widget_ok" '
function fail(msg) { print msg; status = 1 }
BEGIN {
  status = 0
  n = split(order, a, " "); for (i = 1; i <= n; i++) rank[a[i]] = i
  n = split(widget_ok, a, " "); for (i = 1; i <= n; i++) ok[a[i]] = 1
  n = split(folders, a, " ")
  for (i = 1; i <= n; i++)
    if (!(a[i] in rank)) fail("src/" a[i] ": a folder outside the known layers")
  nedge = 0
}
/^=/ {
  # A name some other Qt module also has (the compatibility headers qaction.h, qshortcut.h...)
  # is not a widget header when included without its module.
  slash = index($0, "/"); mod = substr($0, 2, slash - 2); name = substr($0, slash + 1)
  if (mod == "QtWidgets") inwidgets[name] = 1; else elsewhere[name] = 1
  next
}
{
  if (substr($0, 1, length(root)) != root) next
  rest = substr($0, length(root) + 1)
  c = index(rest, ":"); file = substr(rest, 1, c - 1); rest = substr(rest, c + 1)
  c = index(rest, ":"); line = substr(rest, 1, c - 1); text = substr(rest, c + 1)
  slash = index(file, "/")
  if (slash == 0) next
  lib = substr(file, 1, slash - 1)
  if (!(lib in rank)) next
  where = "src/" file ":" line

  sub(/^[ \t]*#[ \t]*include[ \t]*/, "", text)
  open = substr(text, 1, 1)
  if (open == "\"") {
    close_at = index(substr(text, 2), "\"")
    if (close_at == 0) next
    inc = substr(text, 2, close_at - 1)
    s = index(inc, "/")
    if (s == 0) {
      fail(where ": include project headers with their folder (\"" lib "/" inc "\")")
      next
    }
    target = substr(inc, 1, s - 1)
    if (!(target in rank) || rank[target] > rank[lib])
      fail(where ": " lib " includes " target ", which is not below it")
    nedge++; efrom[nedge] = file; eto[nedge] = inc; eline[nedge] = line
  } else if (open == "<") {
    close_at = index(text, ">")
    if (close_at == 0) next
    inc = substr(text, 2, close_at - 2)
    if ((lib == "xclass" || lib == "image") && substr(inc, 1, 1) == "Q")
      fail(where ": " lib " uses Qt, which it must not (<" inc ">)")
    name = inc
    if (substr(name, 1, 10) == "QtWidgets/") { name = substr(name, 11); direct = (name in inwidgets) }
    else direct = (name == "QtWidgets") || ((name in inwidgets) && !(name in elsewhere))
    if (direct && !(file in via)) { via[file] = "<" inc ">"; vialine[file] = line }
  }
  seen[file] = 1
}
END {
  # A project header that includes a widget header is one itself.
  do {
    changed = 0
    for (i = 1; i <= nedge; i++)
      if ((eto[i] in via) && !(efrom[i] in via)) {
        via[efrom[i]] = eto[i]; vialine[efrom[i]] = eline[i]; changed = 1
      }
  } while (changed)
  for (file in seen) {
    if (!(file in via)) continue
    slash = index(file, "/"); lib = substr(file, 1, slash - 1); sub2 = substr(file, slash + 1)
    s = index(sub2, "/")
    if ((lib in ok) || (s > 0 && ((lib "/" substr(sub2, 1, s - 1)) in ok))) continue
    chain = via[file]; hop = chain; guard = 0
    while ((hop in via) && guard++ < 100) { hop = via[hop]; chain = chain " -> " hop }
    hint = ((lib "/ui") in ok) ? "a window of " lib " goes into src/" lib "/ui/" : lib " stays free of widgets"
    fail("src/" file ":" vialine[file] ": Qt Widgets outside the windows (" chain "); " hint)
  }
  exit status
}' | sort -t: -k1,1 -k2,2n >&2
echo "layers: every include points down, and Qt Widgets stays in the windows"
