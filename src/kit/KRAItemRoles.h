// Item-data roles the kit's tables and models share beyond Qt's own.
#pragma once

#include <Qt>

enum KRAItemRole : int {
    // Header data (horizontal): the column's identifier, its English name, which is also the
    // key of its remembered width and of the visible-column list.
    KRAColumnIdentifierRole = Qt::UserRole + 100,
    // Item data: the value a row is sorted by in that column (what "sort-<identifier>" names).
    KRASortValueRole = Qt::UserRole + 101,
    // Item data: the name of the cell kind that draws the item ("QKTableCellPlain",
    // "QKTableCellImageText", ...); none: the kind registered for the item's column.
    KRACellKindRole = Qt::UserRole + 102,
    // Item data: the choices a pop-up cell (KRATableCellCombo) offers, a QStringList.
    KRAComboItemsRole = Qt::UserRole + 103,
    // Item data: the item's styled text as HTML (KRARichComboBox).
    KRARichTextRole = Qt::UserRole + 104,
};
