#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks the layout a desktop expects: the
# program in bin/, its data files (the format lists included) in share/marvoni-video/, the
# desktop entries (valid) in share/applications/ and the icon in the hicolor theme; then the
# installed program answers --help, and a program beside it (XCLASS-TOOL, when given) finds
# the format list through <bin>/../share/marvoni-video/.
#   check-install.sh BUILD-DIR [XCLASS-TOOL]
set -euo pipefail
build=$1
tool=${2:-}
resources=$(cd "$(dirname "$0")/../resources" && pwd)
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
fail() { echo "check-install: $*" >&2; exit 1; }
[ -x "$prefix/bin/marvoni-video" ] || fail "no bin/marvoni-video"
for f in decoders.bin decoders-audio.bin "Frame Rate Data.txt" VideoConverter.png; do
  [ -s "$prefix/share/marvoni-video/$f" ] || fail "no share/marvoni-video/$f"
done
# Every data file and logo of resources/ is there; the lists' sources and the build's own files
# are not.
while IFS= read -r -d '' f; do
  name=$(basename "$f")
  case "$name" in
    CMakeLists.txt|decoders.txt|decoders-audio.txt|*.desktop|marvoni-video.svg)
      [ ! -e "$prefix/share/marvoni-video/$name" ] || fail "$name was installed among the data files" ;;
    *) [ -s "$prefix/share/marvoni-video/$name" ] || fail "no share/marvoni-video/$name" ;;
  esac
done < <(find "$resources" -maxdepth 1 -type f -print0)
[ ! -e "$prefix/share/marvoni-video/build-tools" ] || fail "the build's tools were installed"
for f in marvoni-video marvoni-video-convert-files marvoni-video-convert-folder; do
  desktop-file-validate "$prefix/share/applications/$f.desktop" || fail "$f.desktop is not valid"
done
[ -s "$prefix/share/icons/hicolor/scalable/apps/marvoni-video.svg" ] || fail "no icon"
QT_QPA_PLATFORM=offscreen "$prefix/bin/marvoni-video" --help | grep -q -- "--convert-folder" || fail "--help"
if [ -n "$tool" ]; then
  cp "$tool" "$prefix/bin/"
  found=$("$prefix/bin/$(basename "$tool")" find-program decoders.bin)
  [ "$found" = "$prefix/share/marvoni-video/decoders.bin" ] ||
    fail "a program in bin/ finds decoders.bin at '$found', not in share/marvoni-video/"
fi
echo "installed layout ok"
