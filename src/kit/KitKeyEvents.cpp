#include "kit/KitKeyEvents.h"

#include <QKeyEvent>

bool isKeyDown(const QEvent* event)
{
    return event && event->type() == QEvent::KeyPress;
}

Qt::KeyboardModifiers modifierFlagsDI(const QKeyEvent* event)
{
    return event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier |
                                 Qt::KeypadModifier | Qt::GroupSwitchModifier);
}

bool isCmdKeyDown(const QKeyEvent* event)
{
    return isKeyDown(event) && modifierFlagsDI(event) == Qt::ControlModifier;
}

bool isShiftKeyDown(const QKeyEvent* event)
{
    return isKeyDown(event) && modifierFlagsDI(event) == Qt::ShiftModifier;
}
