// Keeping windows inside the screen: every window is placed in the available area of its
// screen (without the panels and docks of the desktop), and one that is larger than that area
// shrinks to it rather than leave its buttons where nobody can reach them.
#pragma once

#include <QRect>
#include <QSize>

class QWidget;

// The available area of the screen the window is on (else of the screen under the window's
// centre, else of the main screen); an empty rectangle without any screen.
QRect KitAvailableArea(const QWidget* window);

// The frame moved, and shrunk where it is larger, so that it lies inside the area. An empty
// area changes nothing.
QRect KitFitFrame(const QRect& frame, const QRect& area);

// The window's decorations (title bar, borders) added to a client size; none before the window
// has been shown by a window manager.
QSize KitDecorationSize(const QWidget* window);

// The largest client size whose frame fits the window's screen.
QSize KitLargestClientSize(const QWidget* window);

// Moves the window inside its screen's available area, shrinking it where it is too large.
void KitKeepOnScreen(QWidget* window);
