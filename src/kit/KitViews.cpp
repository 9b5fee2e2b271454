#include "kit/KitViews.h"

#include <QAbstractButton>
#include <QBoxLayout>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QSet>
#include <QTextEdit>
#include <QVariant>

#include <vector>

namespace {

constexpr char kTakenOut[] = "kitTakenOutOfStack";

QList<QWidget*> ChildViews(const QWidget* parent)
{
    QList<QWidget*> views;
    if (!parent)
        return views;
    for (QObject* child : parent->children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (widget && !widget->isWindow())
            views.append(widget);
    }
    return views;
}

// A view taken out is deleted on a later turn of the event loop, unless by then it has found
// a place again (a stack, a window host) or is shown as a window of its own. Deleting it at
// once would pull it from under a signal it may be sending (a button that rebuilds the stack
// it stands in), and a plain deleteLater could not be taken back by putting it in again.
void DeleteIfUnused(QWidget* view)
{
    QMetaObject::invokeMethod(
        view,
        [view] {
            if (!view->parent() && view->isHidden())
                view->deleteLater();
        },
        Qt::QueuedConnection);
}

// Adds the view to the layout; a view this file took out and hid is shown again.
void PutIn(QLayout* layout, QWidget* view)
{
    layout->addWidget(view);
    if (view->property(kTakenOut).toBool()) {
        view->setProperty(kTakenOut, QVariant());
        view->show();
    }
}

void ClearKeeping(QWidget* container, const QSet<QWidget*>& keep)
{
    // Removing children changes the child list: work on a copy.
    const QList<QWidget*> views = ChildViews(container);
    delete container->layout();
    for (QWidget* view : views) {
        if (keep.contains(view))
            continue;
        // Hidden on purpose: a show the container's layout still has pending would otherwise
        // make it a window of its own.
        view->hide();
        view->setParent(nullptr);
        view->setProperty(kTakenOut, true);
        DeleteIfUnused(view);
    }
}

void MakeStack(QWidget* container, const QList<QWidget*>& views, int spacing, QBoxLayout::Direction direction)
{
    if (!container)
        return;
    QList<QWidget*> stacked;
    QSet<QWidget*> seen;
    for (QWidget* view : views) {
        if (!view || view == container || seen.contains(view))
            continue;
        seen.insert(view);
        stacked.append(view);
    }
    ClearKeeping(container, seen);
    if (stacked.isEmpty())
        return;
    auto* layout = new QBoxLayout(direction, container);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(qMax(0, spacing));
    for (QWidget* view : stacked)
        PutIn(layout, view);
}

bool Passes(QWidget* view, const QString& identifier, const kit_views_detail::ViewTest& test)
{
    return (identifier.isEmpty() || view->objectName() == identifier) && (!test || test(view));
}

} // namespace

void clearStack(QWidget* container)
{
    if (container)
        ClearKeeping(container, {});
}

void makeVerticalStack(QWidget* container, const QList<QWidget*>& views, int spacing)
{
    MakeStack(container, views, spacing, QBoxLayout::TopToBottom);
}

void makeHorizontalStack(QWidget* container, const QList<QWidget*>& views, int spacing)
{
    MakeStack(container, views, spacing, QBoxLayout::LeftToRight);
}

void embedInView(QWidget* view, QWidget* parent)
{
    if (!view || view == parent)
        return;
    if (!parent) {
        view->setGeometry(QRect());
        return;
    }
    delete parent->layout();
    view->setGeometry(parent->rect());
    auto* layout = new QVBoxLayout(parent);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    PutIn(layout, view);
}

QWidget* kit_views_detail::findChildView(const QWidget* parent, const QString& identifier, const ViewTest& test)
{
    for (QWidget* view : ChildViews(parent)) {
        if (Passes(view, identifier, test))
            return view;
    }
    return nullptr;
}

QWidget* kit_views_detail::findDescendantView(const QWidget* parent, const QString& identifier, const ViewTest& test)
{
    // Breadth-first. Entries already examined are dropped from the front in batches, so a
    // wide tree does not keep every examined view in the queue.
    constexpr size_t kKeepExamined = 200;
    const QList<QWidget*> first = ChildViews(parent);
    std::vector<QWidget*> queue(first.begin(), first.end());
    for (size_t at = 0; at < queue.size(); ++at) {
        QWidget* view = queue[at];
        if (Passes(view, identifier, test))
            return view;
        const QList<QWidget*> children = ChildViews(view);
        queue.insert(queue.end(), children.begin(), children.end());
        if (at >= kKeepExamined) {
            queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(at));
            at = 0;
        }
    }
    return nullptr;
}

QAbstractButton* findButton(const QWidget* parent)
{
    return findSubViewOfClass<QAbstractButton>(parent);
}

QWidget* findTextView(const QWidget* parent)
{
    return kit_views_detail::findChildView(parent, QString(), [](QWidget* view) {
        return qobject_cast<QTextEdit*>(view) != nullptr || qobject_cast<QPlainTextEdit*>(view) != nullptr;
    });
}
