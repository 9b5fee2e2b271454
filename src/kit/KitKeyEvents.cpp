#include "kit/KitKeyEvents.h"

#include <QKeyEvent>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>

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

bool KitPressFocusedButton(QWidget* window)
{
    QWidget* focus = window ? window->focusWidget() : nullptr;
    if (!focus || !focus->isEnabled() || !focus->isVisible())
        return false;
    if (auto* push = qobject_cast<QPushButton*>(focus)) {
        if (push->menu())
            push->showMenu();
        else
            push->animateClick();
        return true;
    }
    if (auto* tool = qobject_cast<QToolButton*>(focus)) {
        if (tool->menu() && tool->popupMode() != QToolButton::DelayedPopup)
            tool->showMenu();
        else
            tool->animateClick();
        return true;
    }
    return false;
}

QWidget* KitFirstTabStop(QWidget* view)
{
    if (!view)
        return nullptr;
    for (QWidget* widget = view->nextInFocusChain(); widget && widget != view; widget = widget->nextInFocusChain()) {
        if (!view->isAncestorOf(widget))
            continue;
        if ((widget->focusPolicy() & Qt::TabFocus) && widget->isEnabled() && widget->isVisibleTo(view) &&
            !widget->focusProxy())
            return widget;
    }
    return nullptr;
}

namespace {

bool TakesTab(const QWidget* widget)
{
    return (widget->focusPolicy() & Qt::TabFocus) && !widget->focusProxy();
}

} // namespace

void KitChainTabs(const QList<QWidget*>& sections)
{
    QList<QWidget*> order;
    for (QWidget* section : sections) {
        if (!section)
            continue;
        QList<QWidget*> inside;
        for (QWidget* widget = section->nextInFocusChain(); widget && widget != section;
             widget = widget->nextInFocusChain())
            if (section->isAncestorOf(widget) && TakesTab(widget) && !inside.contains(widget))
                inside.append(widget);
        if (inside.isEmpty() && TakesTab(section))
            inside.append(section);
        for (QWidget* widget : inside)
            if (!order.contains(widget))
                order.append(widget);
    }
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}
