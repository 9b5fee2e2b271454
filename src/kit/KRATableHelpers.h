// Row and column helpers shared by the program's tables and outlines. Columns are found by the
// identifier the model gives as header data (KRAColumnIdentifierRole); a removed column is a
// hidden one, since the model keeps every column.
#pragma once

#include <QList>
#include <QPoint>
#include <QString>

class QAbstractItemView;
class QHeaderView;
class QStyledItemDelegate;
class QWidget;

// Repaints the row (every column), the rows, one cell, or the cell that holds the widget
// (nothing when the widget is in no cell) from the model.
void reloadDataForRow(QAbstractItemView* view, int row);
void reloadDataForRowIndexes(QAbstractItemView* view, const QList<int>& rows);
void reloadDataForRowColumn(QAbstractItemView* view, int row, int column);
void reloadDataForView(QAbstractItemView* view, QWidget* widget);

QList<int> allColumnIndexes(const QAbstractItemView* view);
// The logical column with the identifier, or -1.
int columnObjectWithIdentifier(const QAbstractItemView* view, const QString& identifier);
bool hasColumnWithIdentifier(const QAbstractItemView* view, const QString& identifier);
// Hides the column; true when a shown one was hidden.
bool removeColumnWithIdentifier(QAbstractItemView* view, const QString& identifier);
// Hides every column, the last first.
void removeAllColumns(QAbstractItemView* view);
// Removes or inserts one top-level row of the model (Qt's views do not animate them).
bool removeSingleRow(QAbstractItemView* view, int row);
bool insertSingleRow(QAbstractItemView* view, int row);

// The delegate's answer for the row; true when the view has no such delegate.
bool shouldSelectRow(const QAbstractItemView* view, int row);
// Selects exactly that row and makes it current.
void selectRow(QAbstractItemView* view, int row);
// The rows a context-menu command clicked at the position (viewport coordinates) acts on: the
// clicked row alone when it is not selected and may be selected, else the selected rows.
QList<int> rowsForContextMenu(const QAbstractItemView* view, const QPoint& clickedAt);
// The width the column needs for the rows shown now and 50 on each side, between the header's
// smallest and largest section sizes.
int sizeToFitWidthOfColumnHelper(const QAbstractItemView* view, int column);

// Cell kinds by name: "QKTableCellPlain", "QKTableCellImageText", "KRATableCellCombo",
// "KRATableRowHeader". Registering one on a view makes it draw the items whose
// KRACellKindRole is the identifier, and the items of the column with that identifier.
// False for an unknown name.
bool registerNibNamed(QAbstractItemView* view, const QString& name, const QString& identifier);
bool registerNibSimple(QAbstractItemView* view, const QString& name);
