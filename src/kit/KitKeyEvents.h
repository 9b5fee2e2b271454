// Tests on key events. The program's "Command" shortcuts are Control shortcuts here.
#pragma once

#include <Qt>

class QEvent;
class QKeyEvent;

bool isKeyDown(const QEvent* event);
// The modifiers that say what the user held: Shift, Control, Alt, Meta, and the keypad and
// group-switch flags that make a key a different key.
Qt::KeyboardModifiers modifierFlagsDI(const QKeyEvent* event);
// A key press with exactly Control held (with nothing else, keypad keys included).
bool isCmdKeyDown(const QKeyEvent* event);
// A key press with exactly Shift held.
bool isShiftKeyDown(const QKeyEvent* event);
