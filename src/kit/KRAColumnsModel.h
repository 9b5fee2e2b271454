// The model of a file table: one row object per file, one model column per column of the
// catalogue, in catalogue order (the table's KRATableColumns shows, hides and orders them).
//
// A row answers, for a column identifier, the text its cell shows and the value it sorts by
// (what the sort key "sort-<identifier>" names): the file's size as a number while its cell
// shows "1.2 GB", its dates as dates. Rows are shared, so a file record can be a row of a
// table and an item of other work at the same time.
//
// Sorting by Name is natural (case-insensitive, digit runs by value): each row's collation key
// is made once per sort and the keys are compared as plain text; names with equal keys are
// ordered by their text, so the order is total and the same whatever order the rows came in.
// Names that are not UTF-8 (bytes kept as U+DC80..U+DCFF) sort and show like any other text
// and stay each row's own.
#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QString>
#include <QVariant>

#include <memory>
#include <utility>
#include <vector>

#include "kit/KRASortDescriptor.h"
#include "kit/KRATableColumn.h"

class KRATableColumns;

class KRAColumnsRow {
public:
    virtual ~KRAColumnsRow();
    virtual QString displayValue(const QString& identifier) const = 0;
    // Numbers, dates or texts; an invalid value when the row has none (it sorts first).
    virtual QVariant sortValue(const QString& identifier) const = 0;
};
using KRAColumnsRowRef = std::shared_ptr<KRAColumnsRow>;

// A row that simply holds its values, for tables whose rows are not records of their own.
class KRAColumnsValueRow : public KRAColumnsRow {
public:
    // Without a sort value the row sorts by the text it shows.
    void setValue(const QString& identifier, const QString& display, const QVariant& sort = QVariant());

    QString displayValue(const QString& identifier) const override;
    QVariant sortValue(const QString& identifier) const override;

private:
    QHash<QString, std::pair<QString, QVariant>> m_values;
};

class KRAColumnsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit KRAColumnsModel(std::vector<KRATableColumnRef> columns, QObject* parent = nullptr);
    // The manager's whole catalogue.
    explicit KRAColumnsModel(const KRATableColumns& manager, QObject* parent = nullptr);
    ~KRAColumnsModel() override;

    const std::vector<KRATableColumnRef>& columns() const { return m_columns; }
    KRATableColumnRef columnAt(int section) const;
    // The model column of the identifier, or -1.
    int columnFor(const QString& identifier) const;

    // Replaces every row at once (one model reset, however many rows), in the order given.
    void setRows(std::vector<KRAColumnsRowRef> rows);
    const std::vector<KRAColumnsRowRef>& rows() const { return m_rows; }
    KRAColumnsRowRef rowAt(int row) const;

    // Sorts by the column's descriptor in the given direction (what a header click asks).
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    // Sorts by the value the descriptor's key names; rows the descriptor cannot tell apart keep
    // their order. Selections and other persistent indexes follow their rows.
    void sortWith(const KRASortDescriptor& descriptor);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    // Display: the row's text. ToolTip: the same text in full (the table shows it where the cell
    // cuts it short). TextAlignment: the column's. KRASortValueRole: the row's sort value.
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    // Horizontal: the title, the identifier (KRAColumnIdentifierRole) and the alignment.
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    // The row order a sort gives: order[new position] = old position.
    std::vector<int> sortedOrder(const KRASortDescriptor& descriptor) const;
    void applyOrder(const std::vector<int>& order);

    std::vector<KRATableColumnRef> m_columns;
    std::vector<QString> m_identifiers;
    std::vector<KRAColumnsRowRef> m_rows;
};
