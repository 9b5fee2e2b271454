#!/usr/bin/env bash
# Real windows under Xvfb on a screen of a laptop's size: the converter setup fits the screen
# with Convert on it, List & Rename is left by each way (Escape, Return, the close button) and
# the setup is still there, the files-already-exist dialog is left by Escape and by its close
# button back to the setup, and the setup then still converts. A screenshot of the setup is
# kept.
#
#   tests/xvfb/ways-back.sh BUILD WxH [SHOT.png]
set -euo pipefail
build=$1
screen=$2
shot=${3:-$build/xvfb-ways-back-$screen.png}
here=$(cd "$(dirname "$0")" && pwd)
exec xvfb-run -a -s "-screen 0 ${screen}x24" "$here/ways-back-inside.sh" "$build" "$screen" "$shot"
