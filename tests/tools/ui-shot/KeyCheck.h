// The keyboard check of a window: the Alt+letter mnemonics of the controls it shows now, and
// those used by more than one control.
#pragma once

#include <QStringList>

class QWidget;

// One line per letter that more than one visible control of the window claims:
// "Alt+A: &Add, &Append".
QStringList DuplicateMnemonics(QWidget* window);
