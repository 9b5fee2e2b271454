#include "kit/KRAOutlineView.h"

#include <QItemSelectionModel>
#include <QKeyEvent>

#include <algorithm>

#include "kit/KitKeyEvents.h"

KRAOutlineView::KRAOutlineView(QWidget* parent) : QTreeView(parent) {}

QList<QModelIndex> KRAOutlineView::selectedItems() const
{
    QList<QModelIndex> items;
    if (!selectionModel())
        return items;
    for (const QModelIndex& index : selectionModel()->selectedIndexes()) {
        const QModelIndex item = index.siblingAtColumn(0);
        if (!items.contains(item))
            items.append(item);
    }
    // Top to bottom as shown: an item's place is the chain of row numbers down to it.
    auto path = [](QModelIndex index) {
        QList<int> rows;
        for (; index.isValid(); index = index.parent())
            rows.prepend(index.row());
        return rows;
    };
    std::sort(items.begin(), items.end(),
              [&](const QModelIndex& a, const QModelIndex& b) { return path(a) < path(b); });
    return items;
}

void KRAOutlineView::keyPressEvent(QKeyEvent* event)
{
    const Qt::KeyboardModifiers mods = modifierFlagsDI(event) & ~Qt::KeypadModifier;
    if (event->key() == Qt::Key_Space && mods == Qt::NoModifier && m_delegate) {
        const QList<QModelIndex> items = selectedItems();
        if (!items.isEmpty() && m_delegate->toggleItemCheckboxes(this, items)) {
            event->accept();
            return;
        }
    }
    KRAViewOfferKeyToDelegate(this, event, m_delegate, [this](QKeyEvent* e) { QTreeView::keyPressEvent(e); });
}
