#!/usr/bin/env bash
# Real windows, end to end, under Xvfb: installs the build into a temporary prefix and starts
# the installed program on generated media, presses the default buttons with the keyboard,
# waits for the outputs, checks them with ffprobe and keeps a screenshot of the finished
# progress dialog.
#   files:  --convert-files on a clip whose name is not UTF-8;
#   folder: --convert-folder on a tree with two clips and a text file.
#
#   tests/xvfb/convert.sh files|folder BUILD [SHOT.png]
set -euo pipefail
mode=$1
build=$2
shot=${3:-$build/xvfb-convert-$mode.png}
here=$(cd "$(dirname "$0")" && pwd)
exec xvfb-run -a -s "-screen 0 1280x1024x24" "$here/convert-$mode-inside.sh" "$build" "$shot"
