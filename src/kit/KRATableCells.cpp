#include "kit/KRATableCells.h"

#include <QComboBox>
#include <QIcon>
#include <QImage>
#include <QPixmap>

#include "kit/KRAItemRoles.h"

void QKTableCellPlain::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    option->features &= ~QStyleOptionViewItem::HasDecoration;
    option->icon = QIcon();
}

void QKTableCellImageText::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    option->decorationPosition = QStyleOptionViewItem::Left;
    option->decorationAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    option->displayAlignment = (option->displayAlignment & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter;
}

QWidget* KRATableCellCombo::createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex& index) const
{
    auto* combo = new QComboBox(parent);
    combo->addItems(index.data(KRAComboItemsRole).toStringList());
    // A choice made in the pop-up is the edit: it is stored at once, as a pop-up button would.
    connect(combo, &QComboBox::activated, this, [this, combo] {
        emit const_cast<KRATableCellCombo*>(this)->commitData(combo);
        emit const_cast<KRATableCellCombo*>(this)->closeEditor(combo, QAbstractItemDelegate::NoHint);
    });
    return combo;
}

void KRATableCellCombo::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    if (auto* combo = qobject_cast<QComboBox*>(editor)) {
        const int at = combo->findText(index.data(Qt::EditRole).toString());
        if (at >= 0)
            combo->setCurrentIndex(at);
    }
}

void KRATableCellCombo::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const
{
    if (auto* combo = qobject_cast<QComboBox*>(editor))
        model->setData(index, combo->currentText(), Qt::EditRole);
}

QSize KRATableRowHeader::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(rowHeight());
    return size;
}

void KRATableRowHeader::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    option->font.setBold(true);
    option->displayAlignment = (option->displayAlignment & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter;
}

void KRACellDispatchDelegate::setCell(const QString& identifier, QStyledItemDelegate* cell)
{
    m_cells.insert(identifier, cell);
}

QStyledItemDelegate* KRACellDispatchDelegate::cellFor(const QModelIndex& index) const
{
    QString kind = index.data(KRACellKindRole).toString();
    if (kind.isEmpty() && index.model())
        kind = index.model()->headerData(index.column(), Qt::Horizontal, KRAColumnIdentifierRole).toString();
    return m_cells.value(kind).data();
}

void KRACellDispatchDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const
{
    if (QStyledItemDelegate* cell = cellFor(index))
        cell->paint(painter, option, index);
    else
        QStyledItemDelegate::paint(painter, option, index);
}

QSize KRACellDispatchDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    if (QStyledItemDelegate* cell = cellFor(index))
        return cell->sizeHint(option, index);
    return QStyledItemDelegate::sizeHint(option, index);
}

QWidget* KRACellDispatchDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                               const QModelIndex& index) const
{
    QStyledItemDelegate* cell = cellFor(index);
    if (!cell)
        return QStyledItemDelegate::createEditor(parent, option, index);
    QWidget* editor = cell->createEditor(parent, option, index);
    // The view listens to this delegate: a cell that ends its own edit speaks through it.
    connect(cell, &QAbstractItemDelegate::commitData, this, &QAbstractItemDelegate::commitData, Qt::UniqueConnection);
    connect(cell, &QAbstractItemDelegate::closeEditor, this, &QAbstractItemDelegate::closeEditor, Qt::UniqueConnection);
    return editor;
}

void KRACellDispatchDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    if (QStyledItemDelegate* cell = cellFor(index))
        cell->setEditorData(editor, index);
    else
        QStyledItemDelegate::setEditorData(editor, index);
}

void KRACellDispatchDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const
{
    if (QStyledItemDelegate* cell = cellFor(index))
        cell->setModelData(editor, model, index);
    else
        QStyledItemDelegate::setModelData(editor, model, index);
}
