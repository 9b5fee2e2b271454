#include "batch/KRABatchFileRowsModel.h"

#include "kit/KRATableColumns.h"
#include "kit/KRATableView.h"

#include <QHeaderView>

KRABatchFileRowsModel* KRABatchFileRowsModel::install(KRATableView* table, bool haveFolder, const QString& autosaveName,
                                                      KRATableColumns** columns)
{
    table->verticalHeader()->hide();
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setAlternatingRowColors(true);
    table->setShowGrid(false);
    table->setWordWrap(false);
    table->setContextMenuPolicy(Qt::CustomContextMenu);
    auto* manager = new KRATableColumns(table, haveFolder, autosaveName, table);
    auto tick = KRATableColumn::textColumnWithID(QStringLiteral("Checkbox"), QStringLiteral(" "));
    tick->setKRADefaultWidth(24);
    tick->setWidth(24);
    std::vector<KRATableColumnRef> all{tick};
    all.insert(all.end(), manager->columns().begin(), manager->columns().end());
    auto* model = new KRABatchFileRowsModel(all, table);
    table->setModel(model);
    table->setColumnWidth(0, 24);
    table->setSortingEnabled(true);
    table->horizontalHeader()->setSortIndicator(model->columnFor(QStringLiteral("Name")), Qt::AscendingOrder);
    if (columns)
        *columns = manager;
    return model;
}
