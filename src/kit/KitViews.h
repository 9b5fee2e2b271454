// Helpers the windows share for arranging and finding child widgets: stacks that fill a
// container, finding a child by type and object name, embedding a view so that it fills
// another.
//
// "Child views" are a widget's direct child widgets in child order (the order raise() and
// lower() change). Child widgets that are windows of their own (a dialog parented to a view)
// are not views inside it and are never found or removed here.
#pragma once

#include <QList>
#include <QString>
#include <QWidget>

#include <functional>

class QAbstractButton;

// Takes every child view out of the container and deletes the container's layout. The views
// taken out are deleted on a later turn of the event loop (so that a view may clear the stack
// it stands in from one of its own signals), unless by then they stand in a widget again or
// are shown as windows of their own; whoever holds one through a QPointer sees it go. They
// are hidden: the stacks and embedInView show one again when they take it back, other
// code that takes one must show it.
void clearStack(QWidget* container);

// Replaces the container's child views by the views, top to bottom, in a zero-margin layout
// with the spacing between neighbours; each view fills the container's width, the first one
// starts at its top and the last one ends at its bottom. Views of the list that stood in the
// container already are kept, the others it held are deleted as by clearStack. Null and
// repeated entries are skipped. A negative spacing counts as 0: a layout cannot overlap its
// views, and Qt would take a negative spacing for the style's own. An empty list leaves the
// container empty and without a layout.
void makeVerticalStack(QWidget* container, const QList<QWidget*>& views, int spacing);
// The same left to right: each view fills the container's height.
void makeHorizontalStack(QWidget* container, const QList<QWidget*>& views, int spacing);

// Puts the view into the parent so that it fills the parent and follows its size: a
// zero-margin layout that holds only the view. A layout the parent had is replaced (its
// widgets stay children of the parent). Without a parent the view is only given an empty
// geometry.
void embedInView(QWidget* view, QWidget* parent);

namespace kit_views_detail {
// True for a widget that passes the test and whose object name equals the identifier; an
// empty identifier is not tested.
using ViewTest = std::function<bool(QWidget*)>;
QWidget* findChildView(const QWidget* parent, const QString& identifier, const ViewTest& test);
QWidget* findDescendantView(const QWidget* parent, const QString& identifier, const ViewTest& test);
} // namespace kit_views_detail

// The first child view that is a T (or derives from it) and whose object name equals the
// identifier; an empty identifier is not tested, and T = QWidget takes any type. Null when
// there is none.
template <class T = QWidget>
T* findSubViewOfClass(const QWidget* parent, const QString& identifier = QString())
{
    return dynamic_cast<T*>(kit_views_detail::findChildView(
        parent, identifier, [](QWidget* view) { return dynamic_cast<T*>(view) != nullptr; }));
}

// The same test over all descendant views, breadth-first, so that the shallowest match wins;
// the parent itself is not tested.
template <class T = QWidget>
T* recurFindSubViewOfClass(const QWidget* parent, const QString& identifier = QString())
{
    return dynamic_cast<T*>(kit_views_detail::findDescendantView(
        parent, identifier, [](QWidget* view) { return dynamic_cast<T*>(view) != nullptr; }));
}

// The first child view that is a button (any QAbstractButton).
QAbstractButton* findButton(const QWidget* parent);
// The first child view that is a text view (a QTextEdit, QTextBrowser or QPlainTextEdit).
QWidget* findTextView(const QWidget* parent);
