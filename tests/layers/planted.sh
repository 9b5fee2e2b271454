#!/usr/bin/env bash
# The layering check must catch what it is there for: each planted fault, alone in an otherwise
# clean tree, makes it fail and name the file and line; the clean trees pass. One tree is a
# small one made here (every rule, the windows' exceptions), the other a copy of the real src/.
set -uo pipefail
root=${1:?usage: planted.sh SOURCE_ROOT}
check="$root/scripts/check-layers.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/layers-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0

bad() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# put TREE FILE LINE...: writes FILE (under TREE/src) with these lines.
put() {
  local tree=$1 file=$2
  shift 2
  mkdir -p "$(dirname "$tree/src/$file")"
  printf '%s\n' "$@" >"$tree/src/$file"
}

# expect_pass NAME TREE
expect_pass() {
  local out
  if ! out=$("$check" "$2" 2>&1); then
    bad "$1: a clean tree fails the check:"$'\n'"$out"
  fi
}

# expect_fail NAME TREE WHERE: fails, and its message names WHERE ("src/FILE:LINE").
expect_fail() {
  local out
  if out=$("$check" "$2" 2>&1); then
    bad "$1: the check passed a tree with a planted fault"
  elif ! grep -qF -- "$3" <<<"$out"; then
    bad "$1: the check failed, but did not name $3:"$'\n'"$out"
  fi
}

# A small tree: every layer folder, widgets where they are allowed, reached directly and
# through a project header.
base="$work/base"
for lib in xclass image platform kit media job naming engine progress setup batch app; do
  put "$base" "$lib/Plain.h" '#pragma once' "#include \"xclass/Plain.h\"" '#include <vector>'
done
put "$base" xclass/Plain.h '#pragma once' '#include <string>'
put "$base" kit/Panel.h '#pragma once' '#include <QWidget>' '#include "kit/Plain.h"'
put "$base" kit/Text.h '#pragma once' '#include <QString>' '#include <QImage>'
# A chain of headers in the kit, so that a widget reaches its first link only through the rest.
for i in 1 2 3 4; do
  put "$base" "kit/Chain$i.h" '#pragma once' "#include \"kit/Chain$((i + 1)).h\""
done
put "$base" kit/Chain5.h '#pragma once' '#include "kit/Panel.h"'
put "$base" media/Info.cpp '#include "media/Plain.h"' '#include "kit/Text.h"' '#include <QImage>'
put "$base" media/ui/Art.h '#pragma once' '#include <QtWidgets/QPushButton>'
put "$base" naming/Model.h '#pragma once' '#include "media/Plain.h"' '#include <QAbstractTableModel>'
put "$base" naming/ui/Dialog.h '#pragma once' '#include <QDialog>' '#include "naming/Model.h"' '#include "kit/Panel.h"'
put "$base" naming/ui/Dialog.cpp '#include "naming/ui/Dialog.h"' '#include <QtWidgets>'
put "$base" engine/Run.cpp '#include "naming/Model.h"' '#include <QAction>' '#include <QProcess>' '#  include "job/Plain.h"'
put "$base" progress/View.h '#pragma once' '#include "engine/Plain.h"' '#include <QProgressBar>'
put "$base" setup/Page.cpp '#include "naming/ui/Dialog.h"' '#include "progress/View.h"' '#include <QComboBox>'
put "$base" batch/ui/Window.h '#pragma once' '#include "setup/Plain.h"' '#include "kit/Panel.h"' '#include <QSplitter>'
put "$base" batch/Tree.h '#pragma once' '#include "setup/Plain.h"' '#include "kit/Text.h"'
put "$base" app/Main.cpp '#include "batch/ui/Window.h"' '#include <QApplication>'
expect_pass "small tree" "$base"

# plant NAME FILE WHERE LINE...: the small tree with FILE written (or replaced) by these lines
# must fail at WHERE.
n=0
plant() {
  local name=$1 file=$2 where=$3
  shift 3
  n=$((n + 1))
  local tree="$work/planted$n"
  cp -r "$base" "$tree"
  put "$tree" "$file" "$@"
  expect_fail "$name" "$tree" "$where"
}
plant "widget in engine" engine/Run.cpp src/engine/Run.cpp:2 '#include "naming/Model.h"' '#include <QPushButton>'
plant "widget in engine by module path" engine/Run.h src/engine/Run.h:1 '#include <QtWidgets/QLabel>'
plant "widget module in job" job/Model.cpp src/job/Model.cpp:1 '#include <QtWidgets>'
plant "widget in naming outside ui" naming/Model.h src/naming/Model.h:3 '#pragma once' '#include "media/Plain.h"' '#include <QHeaderView>'
plant "widget in media outside ui" media/Info.cpp src/media/Info.cpp:1 '#include <qwidget.h>'
plant "widget in batch outside ui" batch/Tree.h src/batch/Tree.h:2 '#pragma once' '#include <QDialog>'
plant "widget in platform" platform/Open.cpp src/platform/Open.cpp:1 '#include <QMessageBox>'
plant "window through a kit header" engine/Log.cpp src/engine/Log.cpp:2 '#include "engine/Plain.h"' '#include "kit/Panel.h"'
plant "window through a ui header" naming/Check.cpp src/naming/Check.cpp:1 '#include "naming/ui/Dialog.h"'
plant "window through two headers" job/Deep.h src/job/Deep.h:1 '#include "media/ui/Art.h"'
plant "window through a chain of headers" job/Deep.h src/job/Deep.h:2 '#pragma once' '#include "kit/Chain1.h"'
plant "ui folder where none is allowed" engine/ui/Dialog.h src/engine/ui/Dialog.h:1 '#include <QDialog>'
plant "upward include" media/Info.cpp src/media/Info.cpp:2 '#include "media/Plain.h"' '#include "engine/Plain.h"'
plant "upward include into a ui folder" naming/ui/Dialog.cpp src/naming/ui/Dialog.cpp:1 '#include "batch/ui/Window.h"'
plant "upward include by the kit" kit/Panel.h src/kit/Panel.h:1 '#include "setup/Plain.h"'
plant "unknown folder named" engine/Run.cpp src/engine/Run.cpp:1 '#include "extra/Thing.h"'
plant "header without its folder" batch/Tree.h src/batch/Tree.h:1 '#include "Plain.h"'
plant "Qt in the class library" xclass/Str.cpp src/xclass/Str.cpp:1 '#include <QString>'
plant "Qt in the image library" image/Codec.cpp src/image/Codec.cpp:1 '#include <QtGui/QImage>'
plant "folder outside the layers" extra/Thing.h src/extra '#pragma once'

# The real tree passes, and a widget planted in an engine file that is not on the temporary
# list, or in a naming model, is caught there.
real="$work/real"
mkdir -p "$real"
cp -r "$root/src" "$real/src"
expect_pass "the real tree" "$real"
printf '#include <QWidget>\n' >>"$real/src/engine/clFFMPEG.h"
lines=$(wc -l <"$real/src/engine/clFFMPEG.h")
expect_fail "widget in the real engine" "$real" "src/engine/clFFMPEG.h:$lines"
cp "$root/src/engine/clFFMPEG.h" "$real/src/engine/clFFMPEG.h"
printf '#include "naming/ui/KRAFileAlreadyExistsDialog.h"\n' >>"$real/src/naming/KRAFileNaming.cpp"
lines=$(wc -l <"$real/src/naming/KRAFileNaming.cpp")
expect_fail "window in the real naming model" "$real" "src/naming/KRAFileNaming.cpp:$lines"

# Without the widget header list the check cannot tell, and must say so rather than pass.
if QT_WIDGETS_INCLUDE_DIR="$work/nowhere" "$check" "$base" >/dev/null 2>&1; then
  bad "no Qt headers: the check passed"
fi

if [ "$failures" -gt 0 ]; then
  echo "$failures of the layering check's cases failed" >&2
  exit 1
fi
echo "layering check: every planted fault caught, every clean tree passes"
