#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks the layout a desktop expects: the
# program in bin/, its data files (the format lists included) in share/marvoni-video/, the
# desktop entries (valid) in share/applications/ and the icon in the hicolor theme; then the
# installed program answers --help.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
fail() { echo "check-install: $*" >&2; exit 1; }
[ -x "$prefix/bin/marvoni-video" ] || fail "no bin/marvoni-video"
for f in decoders.bin decoders-audio.bin "Frame Rate Data.txt" VideoConverter.png; do
  [ -s "$prefix/share/marvoni-video/$f" ] || fail "no share/marvoni-video/$f"
done
[ ! -e "$prefix/share/marvoni-video/decoders.txt" ] || fail "the format list's source was installed"
for f in marvoni-video marvoni-video-convert-files marvoni-video-convert-folder; do
  desktop-file-validate "$prefix/share/applications/$f.desktop" || fail "$f.desktop is not valid"
done
[ -s "$prefix/share/icons/hicolor/scalable/apps/marvoni-video.svg" ] || fail "no icon"
QT_QPA_PLATFORM=offscreen "$prefix/bin/marvoni-video" --help | grep -q -- "--convert-folder" || fail "--help"
echo "installed layout ok"
