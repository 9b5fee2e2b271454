#include "kit/KRATableHelpers.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTableView>
#include <QTreeView>

#include <algorithm>
#include <functional>

#include "kit/KRAItemRoles.h"
#include "kit/KRATableCells.h"
#include "kit/KRATableView.h"

namespace {

QHeaderView* HeaderOf(const QAbstractItemView* view)
{
    if (auto* table = qobject_cast<const QTableView*>(view))
        return table->horizontalHeader();
    if (auto* tree = qobject_cast<const QTreeView*>(view))
        return tree->header();
    return nullptr;
}

int ColumnCount(const QAbstractItemView* view)
{
    return view && view->model() ? view->model()->columnCount(view->rootIndex()) : 0;
}

int RowCount(const QAbstractItemView* view)
{
    return view && view->model() ? view->model()->rowCount(view->rootIndex()) : 0;
}

QModelIndex IndexOf(const QAbstractItemView* view, int row, int column)
{
    return view->model()->index(row, column, view->rootIndex());
}

} // namespace

void reloadDataForRowColumn(QAbstractItemView* view, int row, int column)
{
    if (row < 0 || column < 0 || row >= RowCount(view) || column >= ColumnCount(view))
        return;
    view->update(IndexOf(view, row, column));
}

void reloadDataForRow(QAbstractItemView* view, int row)
{
    for (int column = 0; column < ColumnCount(view); ++column)
        reloadDataForRowColumn(view, row, column);
}

void reloadDataForRowIndexes(QAbstractItemView* view, const QList<int>& rows)
{
    for (int row : rows)
        reloadDataForRow(view, row);
}

void reloadDataForView(QAbstractItemView* view, QWidget* widget)
{
    if (!view || !widget || !view->viewport()->isAncestorOf(widget))
        return;
    const QPoint center = widget->mapTo(view->viewport(), widget->rect().center());
    const QModelIndex index = view->indexAt(center);
    if (index.isValid())
        view->update(index);
}

QList<int> allColumnIndexes(const QAbstractItemView* view)
{
    QList<int> columns;
    for (int column = 0; column < ColumnCount(view); ++column)
        columns.append(column);
    return columns;
}

int columnObjectWithIdentifier(const QAbstractItemView* view, const QString& identifier)
{
    if (identifier.isEmpty())
        return -1;
    for (int column = 0; column < ColumnCount(view); ++column) {
        if (view->model()->headerData(column, Qt::Horizontal, KRAColumnIdentifierRole).toString() == identifier)
            return column;
    }
    return -1;
}

bool hasColumnWithIdentifier(const QAbstractItemView* view, const QString& identifier)
{
    return columnObjectWithIdentifier(view, identifier) >= 0;
}

bool removeColumnWithIdentifier(QAbstractItemView* view, const QString& identifier)
{
    QHeaderView* header = HeaderOf(view);
    const int column = columnObjectWithIdentifier(view, identifier);
    if (!header || column < 0 || header->isSectionHidden(column))
        return false;
    header->hideSection(column);
    return true;
}

void removeAllColumns(QAbstractItemView* view)
{
    if (QHeaderView* header = HeaderOf(view)) {
        for (int column = ColumnCount(view) - 1; column >= 0; --column)
            header->hideSection(column);
    }
}

bool removeSingleRow(QAbstractItemView* view, int row)
{
    return view && view->model() && row >= 0 && row < RowCount(view) &&
           view->model()->removeRows(row, 1, view->rootIndex());
}

bool insertSingleRow(QAbstractItemView* view, int row)
{
    return view && view->model() && row >= 0 && row <= RowCount(view) &&
           view->model()->insertRows(row, 1, view->rootIndex());
}

bool shouldSelectRow(const QAbstractItemView* view, int row)
{
    if (auto* table = qobject_cast<const KRATableView*>(view))
        return table->canSelectRow(row);
    return true;
}

void selectRow(QAbstractItemView* view, int row)
{
    if (!view || !view->selectionModel() || row < 0 || row >= RowCount(view))
        return;
    view->selectionModel()->setCurrentIndex(IndexOf(view, row, 0),
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

QList<int> rowsForContextMenu(const QAbstractItemView* view, const QPoint& clickedAt)
{
    QList<int> rows;
    if (!view || !view->model() || !view->selectionModel())
        return rows;
    const QModelIndex clicked = view->indexAt(clickedAt);
    if (clicked.isValid() && !view->selectionModel()->isRowSelected(clicked.row(), clicked.parent()) &&
        (clicked.flags() & Qt::ItemIsSelectable) && shouldSelectRow(view, clicked.row()))
        return {clicked.row()};
    for (const QModelIndex& index : view->selectionModel()->selectedIndexes()) {
        if (!rows.contains(index.row()))
            rows.append(index.row());
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

int sizeToFitWidthOfColumnHelper(const QAbstractItemView* view, int column)
{
    QHeaderView* header = HeaderOf(view);
    if (!header || column < 0 || column >= ColumnCount(view))
        return 0;
    const int rowCount = RowCount(view);
    int firstShown = view->indexAt(QPoint(0, 0)).row();
    if (firstShown < 0)
        firstShown = 0;
    int lastShown = view->indexAt(QPoint(0, view->viewport()->height() - 1)).row();
    if (lastShown < 0)
        lastShown = rowCount - 1;
    const int from = std::max(0, firstShown - 50);
    const int to = std::min(rowCount, lastShown + 1 + 50);
    const int maxWidth = header->maximumSectionSize();
    int width = header->minimumSectionSize();
    for (int row = from; row < to && width < maxWidth; ++row)
        width = std::max(width, view->sizeHintForIndex(IndexOf(view, row, column)).width());
    return std::min(width, maxWidth);
}

namespace {

using CellMaker = std::function<QStyledItemDelegate*(QObject* parent)>;

CellMaker CellNamed(const QString& name)
{
    if (name == QLatin1String("QKTableCellPlain"))
        return [](QObject* parent) { return new QKTableCellPlain(parent); };
    if (name == QLatin1String("QKTableCellImageText"))
        return [](QObject* parent) { return new QKTableCellImageText(parent); };
    if (name == QLatin1String("KRATableCellCombo"))
        return [](QObject* parent) { return new KRATableCellCombo(parent); };
    if (name == QLatin1String("KRATableRowHeader"))
        return [](QObject* parent) { return new KRATableRowHeader(parent); };
    return nullptr;
}

} // namespace

bool registerNibNamed(QAbstractItemView* view, const QString& name, const QString& identifier)
{
    const CellMaker make = CellNamed(name);
    if (!view || !make || identifier.isEmpty())
        return false;
    auto* dispatch = qobject_cast<KRACellDispatchDelegate*>(view->itemDelegate());
    if (!dispatch) {
        dispatch = new KRACellDispatchDelegate(view);
        view->setItemDelegate(dispatch);
    }
    dispatch->setCell(identifier, make(dispatch));
    return true;
}

bool registerNibSimple(QAbstractItemView* view, const QString& name)
{
    return registerNibNamed(view, name, name);
}
