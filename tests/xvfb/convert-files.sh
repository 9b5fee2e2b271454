#!/usr/bin/env bash
# A real window, end to end: installs the build into a temporary prefix, starts the installed
# program with --convert-files on a generated clip under Xvfb, presses Convert with the
# keyboard, waits for the output, checks it with ffprobe and keeps a screenshot of the
# finished progress dialog.
#
#   tests/xvfb/convert-files.sh BUILD [SHOT.png]
set -euo pipefail
build=$1
shot=${2:-$build/xvfb-convert-files.png}
here=$(cd "$(dirname "$0")" && pwd)
exec xvfb-run -a -s "-screen 0 1280x1024x24" "$here/convert-files-inside.sh" "$build" "$shot"
