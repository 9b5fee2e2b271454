// The model of the batch converter's file tables: a tick column ("Checkbox") in front of the
// columns of the kit's catalogue, over file rows of the folder tree.
#pragma once

#include "batch/clFileListEntry.h"
#include "kit/KRAColumnsModel.h"

class KRATableColumns;
class KRATableView;

#include <functional>
#include <vector>

class KRABatchFileRowsModel : public KRAColumnsModel {
public:
    KRABatchFileRowsModel(std::vector<KRATableColumnRef> columns, QObject* parent)
        : KRAColumnsModel(std::move(columns), parent)
    {
    }

    // Makes the table's column set (remembered under autosaveName) and this model over it, and
    // gives the table the look of a dense file list, sorted by name. Defined with the windows
    // (batch/ui/) since it sets up the view; the model itself needs no widgets.
    static KRABatchFileRowsModel* install(KRATableView* table, bool haveFolder, const QString& autosaveName,
                                          KRATableColumns** columns);

    std::function<void()> onSorted;
    std::function<void(const clFileListEntryRef&, bool)> onTick;

    clFileListEntryRef fileAt(int row) const { return std::static_pointer_cast<clFileListEntry>(rowAt(row)); }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (index.isValid() && index.column() == 0) {
            const clFileListEntryRef file = fileAt(index.row());
            if (!file)
                return {};
            if (role == Qt::CheckStateRole)
                return file->checked() ? Qt::Checked : Qt::Unchecked;
            return {};
        }
        return KRAColumnsModel::data(index, role);
    }

    bool setData(const QModelIndex& index, const QVariant& value, int role) override
    {
        if (!index.isValid() || index.column() != 0 || role != Qt::CheckStateRole)
            return false;
        const clFileListEntryRef file = fileAt(index.row());
        if (!file)
            return false;
        const bool checked = value.toInt() == Qt::Checked;
        if (onTick)
            onTick(file, checked);
        emit dataChanged(index, index);
        return true;
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        Qt::ItemFlags flags = KRAColumnsModel::flags(index);
        if (index.isValid() && index.column() == 0)
            flags |= Qt::ItemIsUserCheckable;
        return flags;
    }

    void sort(int column, Qt::SortOrder order) override
    {
        KRAColumnsModel::sort(column, order);
        if (onSorted)
            onSorted();
    }

    void checksChanged()
    {
        if (rowCount() > 0)
            emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {Qt::CheckStateRole});
    }
};
