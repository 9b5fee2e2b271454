// The cells of the program's tables and outlines, as item delegates.
#pragma once

#include <QHash>
#include <QPointer>
#include <QStyledItemDelegate>

// Text only: an item's image, if any, is not drawn.
class QKTableCellPlain : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

// The item's image (Qt::DecorationRole: an icon, pixmap or image) before its text, both
// centred vertically.
class QKTableCellImageText : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

// A cell edited with a pop-up of the choices the item gives as KRAComboItemsRole.
class KRATableCellCombo : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;
};

// A header row of fixed height with its text in the bold system font.
class KRATableRowHeader : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    static int rowHeight() { return 40; }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

// The view's item delegate once cell kinds are registered: each item is drawn and edited by
// the cell of its KRACellKindRole, else of its column's identifier, else as a plain item.
class KRACellDispatchDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void setCell(const QString& identifier, QStyledItemDelegate* cell);
    QStyledItemDelegate* cellFor(const QModelIndex& index) const;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;

private:
    QHash<QString, QPointer<QStyledItemDelegate>> m_cells;
};
