// Tests on key events. The program's "Command" shortcuts are Control shortcuts here.
#pragma once

#include <QList>
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

class QWidget;

// Return on a focused push button or tool button (a launcher tile) presses it, as Space does;
// a button with a menu opens the menu. True when the window's focus widget was such a button
// (enabled and shown) and was pressed.
bool KitPressFocusedButton(QWidget* window);

// The control a window's keyboard starts on: the first one the Tab key reaches inside view
// (enabled, shown, taking the focus by Tab).
QWidget* KitFirstTabStop(QWidget* view);

// Puts the Tab order in the order of the sections (reading order): every control inside a
// section, in the order Tab already visits them there, comes before those of the next
// section. A section without controls of its own that takes the focus stands for itself.
void KitChainTabs(const QList<QWidget*>& sections);
