#include "kit/KitScreenFit.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

QRect KitAvailableArea(const QWidget* window)
{
    QScreen* screen = window ? window->screen() : nullptr;
    if (window && !window->isVisible())
        if (QScreen* under = QGuiApplication::screenAt(window->geometry().center()))
            screen = under;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

QRect KitFitFrame(const QRect& frame, const QRect& area)
{
    if (area.isEmpty())
        return frame;
    QRect fitted(frame.topLeft(), frame.size().boundedTo(area.size()));
    if (fitted.right() > area.right())
        fitted.moveRight(area.right());
    if (fitted.bottom() > area.bottom())
        fitted.moveBottom(area.bottom());
    if (fitted.left() < area.left())
        fitted.moveLeft(area.left());
    if (fitted.top() < area.top())
        fitted.moveTop(area.top());
    return fitted;
}

QSize KitDecorationSize(const QWidget* window)
{
    if (!window)
        return QSize(0, 0);
    const QRect frame = window->frameGeometry();
    const QRect client = window->geometry();
    return QSize(std::max(0, frame.width() - client.width()), std::max(0, frame.height() - client.height()));
}

QSize KitLargestClientSize(const QWidget* window)
{
    const QRect area = KitAvailableArea(window);
    if (area.isEmpty())
        return QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    return (area.size() - KitDecorationSize(window)).expandedTo(QSize(1, 1));
}

void KitKeepOnScreen(QWidget* window)
{
    if (!window)
        return;
    const QRect area = KitAvailableArea(window);
    if (area.isEmpty())
        return;
    const QSize decoration = KitDecorationSize(window);
    const QRect frame(window->frameGeometry().topLeft(), window->size() + decoration);
    const QRect fitted = KitFitFrame(frame, area);
    if (fitted.size() != frame.size())
        window->resize((fitted.size() - decoration).expandedTo(window->minimumSize()));
    if (fitted.topLeft() != frame.topLeft())
        window->move(fitted.topLeft());
}
