// Building menus in one call, and check marks of menu items and buttons read and set as
// booleans.
#pragma once

#include <QAbstractButton>
#include <QAction>
#include <QMenu>
#include <QObject>
#include <QString>

#include <utility>

// Qt takes a single "&" in the text of a menu item, a button, a check box, a tab, a group box
// or a label with a buddy for the marker of a keyboard mnemonic: "Tom & Jerry.mkv" would show
// as "Tom  Jerry.mkv" with the blank underlined. A text that is a name (of a file, an effect,
// an encoder, a profile: anything not written as a control's caption) goes through this
// first, which doubles each "&" so that it shows as it is and claims no key.
QString mnemonicFree(const QString& text);

// Titles are shown letter for letter (through mnemonicFree).

// Appends an item with the title and no shortcut; it does nothing when chosen.
QAction* addItemWithTitle(QMenu* menu, const QString& title);

// Appends an item with the title and no shortcut that calls the receiver's slot (a member
// function pointer or any callable) when chosen, for as long as the receiver lives.
template <class Slot>
QAction* addItemWithTitle(QMenu* menu, const QString& title, const QObject* receiver, Slot&& slot)
{
    QAction* action = addItemWithTitle(menu, title);
    if (action && receiver)
        QObject::connect(action, &QAction::triggered, receiver, std::forward<Slot>(slot));
    return action;
}

// Appends an item that calls the function when chosen.
template <class Function>
QAction* addItemWithTitle(QMenu* menu, const QString& title, Function&& function)
{
    QAction* action = addItemWithTitle(menu, title);
    if (action)
        QObject::connect(action, &QAction::triggered, action, std::forward<Function>(function));
    return action;
}

QAction* addSeparator(QMenu* menu);

// Appends an item with the title that opens the submenu; returns the item. A submenu without
// an owner becomes the menu's, and goes with it. Without a submenu the item is a plain one.
QAction* addSubMenu(QMenu* menu, QMenu* submenu, const QString& title);

// Whether the item or button is on. A tri-state check box in its middle state is not.
bool checked(const QAction* action);
bool checked(const QAbstractButton* button);
// Turns it on or off. Turning on makes it checkable first: Qt keeps no state for an item or
// button that is not.
void setChecked(QAction* action, bool on);
void setChecked(QAbstractButton* button, bool on);
