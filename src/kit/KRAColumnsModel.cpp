#include "kit/KRAColumnsModel.h"

#include "kit/KRAItemRoles.h"
#include "kit/KRATableColumns.h"

#include <algorithm>
#include <numeric>

KRAColumnsRow::~KRAColumnsRow() = default;

void KRAColumnsValueRow::setValue(const QString& identifier, const QString& display, const QVariant& sort)
{
    m_values.insert(identifier, {display, sort.isValid() ? sort : QVariant(display)});
}

QString KRAColumnsValueRow::displayValue(const QString& identifier) const
{
    return m_values.value(identifier).first;
}

QVariant KRAColumnsValueRow::sortValue(const QString& identifier) const
{
    return m_values.value(identifier).second;
}

KRAColumnsModel::KRAColumnsModel(std::vector<KRATableColumnRef> columns, QObject* parent)
    : QAbstractTableModel(parent), m_columns(std::move(columns))
{
    m_columns.erase(std::remove(m_columns.begin(), m_columns.end(), nullptr), m_columns.end());
    for (const KRATableColumnRef& column : m_columns)
        m_identifiers.push_back(column->identifier());
}

KRAColumnsModel::KRAColumnsModel(const KRATableColumns& manager, QObject* parent)
    : KRAColumnsModel(manager.columns(), parent)
{
}

KRAColumnsModel::~KRAColumnsModel() = default;

KRATableColumnRef KRAColumnsModel::columnAt(int section) const
{
    if (section < 0 || static_cast<size_t>(section) >= m_columns.size())
        return nullptr;
    return m_columns[static_cast<size_t>(section)];
}

int KRAColumnsModel::columnFor(const QString& identifier) const
{
    const auto found = std::find(m_identifiers.begin(), m_identifiers.end(), identifier);
    return found == m_identifiers.end() ? -1 : static_cast<int>(found - m_identifiers.begin());
}

void KRAColumnsModel::setRows(std::vector<KRAColumnsRowRef> rows)
{
    beginResetModel();
    m_rows = std::move(rows);
    m_rows.erase(std::remove(m_rows.begin(), m_rows.end(), nullptr), m_rows.end());
    endResetModel();
}

KRAColumnsRowRef KRAColumnsModel::rowAt(int row) const
{
    if (row < 0 || static_cast<size_t>(row) >= m_rows.size())
        return nullptr;
    return m_rows[static_cast<size_t>(row)];
}

void KRAColumnsModel::sort(int column, Qt::SortOrder order)
{
    const KRATableColumnRef sortColumn = columnAt(column);
    if (!sortColumn)
        return;
    KRASortDescriptor descriptor = sortColumn->sortDescriptorPrototype();
    descriptor.ascending = order == Qt::AscendingOrder;
    sortWith(descriptor);
}

void KRAColumnsModel::sortWith(const KRASortDescriptor& descriptor)
{
    if (m_rows.size() < 2 || descriptor.identifier().isEmpty())
        return;
    applyOrder(sortedOrder(descriptor));
}

std::vector<int> KRAColumnsModel::sortedOrder(const KRASortDescriptor& descriptor) const
{
    const QString identifier = descriptor.identifier();
    const size_t count = m_rows.size();
    std::vector<int> order(count);
    std::iota(order.begin(), order.end(), 0);
    const bool ascending = descriptor.ascending;

    if (descriptor.comparison == KRASortComparison::Natural) {
        // One key per row, made here once; the comparisons below are plain text comparisons.
        struct Keyed {
            QString key;
            QString text;
        };
        std::vector<Keyed> keyed(count);
        for (size_t i = 0; i < count; ++i) {
            keyed[i].text = m_rows[i]->sortValue(identifier).toString();
            keyed[i].key = KRANaturalSortKey(keyed[i].text);
        }
        std::sort(order.begin(), order.end(), [&](int a, int b) {
            const Keyed& x = keyed[static_cast<size_t>(a)];
            const Keyed& y = keyed[static_cast<size_t>(b)];
            const int byName = KRACompareNatural(x.key, x.text, y.key, y.text);
            if (byName != 0)
                return ascending ? byName < 0 : byName > 0;
            return a < b; // the same name twice: the earlier row stays first
        });
        return order;
    }

    std::vector<QVariant> values(count);
    for (size_t i = 0; i < count; ++i)
        values[i] = m_rows[i]->sortValue(identifier);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const int byValue = KRAComparePlain(values[static_cast<size_t>(a)], values[static_cast<size_t>(b)]);
        return ascending ? byValue < 0 : byValue > 0;
    });
    return order;
}

void KRAColumnsModel::applyOrder(const std::vector<int>& order)
{
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<KRAColumnsRowRef> sorted;
    sorted.reserve(order.size());
    std::vector<int> newPosition(order.size());
    for (size_t position = 0; position < order.size(); ++position) {
        sorted.push_back(m_rows[static_cast<size_t>(order[position])]);
        newPosition[static_cast<size_t>(order[position])] = static_cast<int>(position);
    }
    m_rows.swap(sorted);
    const QModelIndexList from = persistentIndexList();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& index : from)
        to.append(index.isValid() ? createIndex(newPosition[static_cast<size_t>(index.row())], index.column())
                                  : QModelIndex());
    changePersistentIndexList(from, to);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int KRAColumnsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int KRAColumnsModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QVariant KRAColumnsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount())
        return QVariant();
    const KRAColumnsRow& row = *m_rows[static_cast<size_t>(index.row())];
    const QString& identifier = m_identifiers[static_cast<size_t>(index.column())];
    switch (role) {
    case Qt::DisplayRole:
        return row.displayValue(identifier);
    case Qt::ToolTipRole: {
        const QString text = row.displayValue(identifier);
        return text.isEmpty() ? QVariant() : QVariant(text);
    }
    case Qt::TextAlignmentRole:
        return static_cast<int>(m_columns[static_cast<size_t>(index.column())]->alignment() | Qt::AlignVCenter);
    case KRASortValueRole:
        return row.sortValue(identifier);
    default:
        return QVariant();
    }
}

QVariant KRAColumnsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return QAbstractTableModel::headerData(section, orientation, role);
    const KRATableColumnRef column = columnAt(section);
    if (!column)
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
        return column->title();
    case KRAColumnIdentifierRole:
        return column->identifier();
    case Qt::TextAlignmentRole:
        return static_cast<int>(column->alignment() | Qt::AlignVCenter);
    default:
        return QVariant();
    }
}

Qt::ItemFlags KRAColumnsModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}
