// An outline whose Space key toggles the check boxes of the selected items: the delegate gets
// the items and decides. Key equivalents the outline does not use go to the delegate too.
#pragma once

#include <QList>
#include <QModelIndex>
#include <QTreeView>

#include "kit/KRATableView.h"

class KRAOutlineView;

class KRAOutlineViewDelegate : public QKPerformKeyEquivalentInView {
public:
    // Space on a selection: the items (column 0) of the selected rows, top to bottom; true when
    // implemented.
    virtual bool toggleItemCheckboxes(KRAOutlineView*, const QList<QModelIndex>& items)
    {
        (void)items;
        return false;
    }
    bool performKeyEquivalent(QKeyEvent*, QAbstractItemView*) override { return false; }
};

class KRAOutlineView : public QTreeView {
    Q_OBJECT
public:
    explicit KRAOutlineView(QWidget* parent = nullptr);

    // Kept as a plain pointer: the owner clears it before the delegate goes.
    KRAOutlineViewDelegate* outlineDelegate() const { return m_delegate; }
    void setOutlineDelegate(KRAOutlineViewDelegate* delegate) { m_delegate = delegate; }

    // The items of the selected rows in the order they are shown.
    QList<QModelIndex> selectedItems() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    KRAOutlineViewDelegate* m_delegate = nullptr;
};
