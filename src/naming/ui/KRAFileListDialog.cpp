#include "naming/ui/KRAFileListDialog.h"

#include <QAction>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "kit/QKStringTools.h"
#include "naming/KRAFileNaming.h"
#include "naming/KRALocationDescriptor.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"

namespace {

enum Column { ColCheck, ColSource, ColDestination, ColDuration, ColType, ColSize, ColCount };

} // namespace

KRAFileListOwner::~KRAFileListOwner() = default;

KRAFileListDialog::KRAFileListDialog(KRAFileListOwner* owner) : m_owner(owner)
{
    setTitle(QStringLiteral("List & Rename Files"));
}

KRAFileListDialog::~KRAFileListDialog()
{
    if (m_table)
        m_table->setTableDelegate(nullptr);
    if (m_cache && m_callback)
        m_cache->removeCallback(m_callback);
}

void KRAFileListDialog::loadView()
{
    auto* view = new QWidget;
    auto* layout = new QVBoxLayout(view);
    m_labelConverting = new QLabel(view);
    layout->addWidget(m_labelConverting);
    m_model = new QStandardItemModel(0, ColCount, view);
    m_model->setHorizontalHeaderLabels({QString(), QStringLiteral("Source"), QStringLiteral("Destination"),
                                        QStringLiteral("Duration"), QStringLiteral("Type"),
                                        QStringLiteral("Estimated Size")});
    m_table = new KRATableView(view);
    m_table->setModel(m_model);
    m_table->setTableDelegate(this);
    m_table->horizontalHeader()->setSectionResizeMode(ColCheck, QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setSectionResizeMode(ColSource, QHeaderView::Stretch);
    m_table->horizontalHeader()->setSectionResizeMode(ColDestination, QHeaderView::Stretch);
    m_table->verticalHeader()->hide();
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    m_table->setContextMenuPolicy(Qt::ActionsContextMenu);
    m_table->setWordWrap(false);
    m_table->setTextElideMode(Qt::ElideMiddle);
    layout->addWidget(m_table, 1);
    m_labelTotal = new QLabel(view);
    layout->addWidget(m_labelTotal);

    const auto action = [this](const QString& title, void (KRAFileListDialog::*slot)()) {
        auto* item = new QAction(title, m_table);
        connect(item, &QAction::triggered, this, slot);
        m_table->addAction(item);
        return item;
    };
    action(QStringLiteral("Check All"), &KRAFileListDialog::onMenuCheckAll);
    action(QStringLiteral("Uncheck All"), &KRAFileListDialog::onMenuUncheckAll);
    action(QStringLiteral("Invert Check"), &KRAFileListDialog::onInvertCheck);
    QAction* only = action(QStringLiteral("Check Only Selected"), &KRAFileListDialog::onCheckOnlySelected);
    QAction* toggle = action(QStringLiteral("Toggle Selected Item"), &KRAFileListDialog::onToggleSelected);
    action(QStringLiteral("Append Date and Time to All"), &KRAFileListDialog::onMenuAppendDateTime);
    QAction* reveal =
        action(QStringLiteral("Reveal Source File in File Manager"), &KRAFileListDialog::onRevealSourceInFileManager);
    const auto validate = [this, only, toggle, reveal] {
        const qsizetype selected = selectedRows().size();
        for (QAction* item : {only, toggle, reveal})
            item->setEnabled(selected > 0);
        toggle->setText(selected < 2 ? QStringLiteral("Toggle Selected Item")
                                     : QStringLiteral("Toggle Selected Items"));
        reveal->setText(selected < 2 ? QStringLiteral("Reveal Source File in File Manager")
                                     : QStringLiteral("Reveal Source Files in File Manager"));
    };
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this, validate);
    validate();

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, view);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &KRAFileListDialog::onOK);
    connect(buttons, &QDialogButtonBox::rejected, this, &KRAFileListDialog::onCancel);
    layout->addWidget(buttons);
    connect(m_model, &QStandardItemModel::itemChanged, this, [this](QStandardItem* item) {
        if (m_filling)
            return;
        if (item->column() == ColCheck)
            setCheckedAt(item->row(), item->checkState() == Qt::Checked);
        else if (item->column() == ColDestination && !setDestinationAt(item->row(), item->text()))
            refreshRow(item->row());
    });
    setView(view);

    if (m_cache && !m_callback) {
        QPointer<KRAFileListDialog> self(this);
        m_callback = m_cache->addCallback([self](int64_t count) {
            if (self)
                self->onInfosLoaded(count);
        });
    }
    reloadTable();
}

std::optional<bool> KRAFileListDialog::editEnterToNextRow(KRATableView*)
{
    // A refused name is still on screen in its alert: the user fixes that row first.
    return m_lastRefusal.isEmpty();
}

void KRAFileListDialog::refreshDialog()
{
    m_items = m_owner ? m_owner->fileListItems() : QList<KRAFileListItem>();
    m_encoder = m_owner ? m_owner->fileListEncoder() : nullptr;
    m_encoderInstance = m_encoder && m_encoder->outputsFiles ? m_encoder->instantiate() : nullptr;
    const QKFileInfoCacheRef cache = m_owner ? m_owner->fileListInfoCache() : nullptr;
    if (cache != m_cache) {
        if (m_cache && m_callback)
            m_cache->removeCallback(m_callback);
        m_callback = 0;
        m_cache = cache;
        if (m_cache && isViewLoaded()) {
            QPointer<KRAFileListDialog> self(this);
            m_callback = m_cache->addCallback([self](int64_t count) {
                if (self)
                    self->onInfosLoaded(count);
            });
        }
    }
    m_edits.clear();
    m_estimatedSizes.clear();
    refreshEstimatedSize();
    if (isViewLoaded())
        reloadTable();
}

KRAFileListEdit& KRAFileListDialog::editItemAt(int row)
{
    auto it = m_edits.find(row);
    if (it == m_edits.end()) {
        KRAFileListEdit edit;
        edit.checked = m_items[row].checked;
        edit.destinationUser = m_items[row].destinationUser;
        it = m_edits.insert(row, edit);
    }
    return it.value();
}

bool KRAFileListDialog::itemCheckedAt(int row) const
{
    const auto it = m_edits.constFind(row);
    return it != m_edits.constEnd() ? it->checked : m_items.value(row).checked;
}

QString KRAFileListDialog::destinationUserAt(int row) const
{
    if (!m_encoder || !m_encoder->outputsFiles)
        return QStringLiteral("< %1 >").arg(m_encoder ? m_encoder->name() : QString());
    const auto it = m_edits.constFind(row);
    const std::optional<QString> user =
        it != m_edits.constEnd() ? it->destinationUser : m_items.value(row).destinationUser;
    if (user)
        return *user;
    const KRAFileNamingRef naming = m_owner ? m_owner->fileListNaming() : nullptr;
    const QKFileInfoCache::Result* result = m_cache ? m_cache->infoForIndex(row) : nullptr;
    if (!naming)
        return QString();
    return naming->userStringFor(m_items.value(row).url, result ? result->info.get() : nullptr).value_or(QString());
}

void KRAFileListDialog::setCheckedAt(int row, bool checked)
{
    if (row < 0 || row >= m_items.size())
        return;
    editItemAt(row).checked = checked;
    refreshRow(row);
    refreshTotals();
}

bool KRAFileListDialog::setDestinationAt(int row, const QString& text)
{
    m_lastRefusal.clear();
    if (row < 0 || row >= m_items.size())
        return false;
    if (!m_encoder || !m_encoder->outputsFiles)
        m_lastRefusal = QStringLiteral("This encoder writes no files of its own: there is no name to change.");
    else if (text.trimmed().isEmpty())
        m_lastRefusal = QStringLiteral("Please type a name for the file.");
    if (!m_lastRefusal.isEmpty()) {
        auto* alert = new QMessageBox(QMessageBox::Warning, panelName(), m_lastRefusal, QMessageBox::Ok,
                                      isViewLoaded() ? view()->window() : nullptr);
        alert->setAttribute(Qt::WA_DeleteOnClose);
        alert->setWindowModality(Qt::WindowModal);
        alert->open();
        return false;
    }
    editItemAt(row).destinationUser = text;
    refreshRow(row);
    return true;
}

QList<int> KRAFileListDialog::selectedRows() const
{
    QList<int> rows;
    if (m_table)
        for (const QModelIndex& index : m_table->selectionModel()->selectedRows())
            rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void KRAFileListDialog::onMenuCheckAll()
{
    for (int row = 0; row < m_items.size(); ++row)
        editItemAt(row).checked = true;
    reloadTable();
}

void KRAFileListDialog::onMenuUncheckAll()
{
    for (int row = 0; row < m_items.size(); ++row)
        editItemAt(row).checked = false;
    reloadTable();
}

void KRAFileListDialog::onInvertCheck()
{
    for (int row = 0; row < m_items.size(); ++row)
        editItemAt(row).checked = !itemCheckedAt(row);
    reloadTable();
}

void KRAFileListDialog::onCheckOnlySelected()
{
    const QList<int> selected = selectedRows();
    bool changed = false;
    for (int row = 0; row < m_items.size(); ++row) {
        const bool want = selected.contains(row);
        if (itemCheckedAt(row) != want) {
            editItemAt(row).checked = want;
            changed = true;
        }
    }
    if (changed)
        reloadTable();
}

void KRAFileListDialog::onToggleSelected()
{
    const QList<int> selected = selectedRows();
    if (selected.isEmpty())
        return;
    const bool state = !itemCheckedAt(selected.first());
    for (int row : selected)
        editItemAt(row).checked = state;
    reloadTable();
}

void KRAFileListDialog::onMenuAppendDateTime()
{
    QString date = QLocale().toString(QDateTime::currentDateTime(), QLocale::ShortFormat);
    date.replace(QLatin1Char('/'), QLatin1Char('-'));
    appendToAll(QStringLiteral(" - %1").arg(date));
}

void KRAFileListDialog::appendToAll(const QString& suffix)
{
    if (!m_encoder || !m_encoder->outputsFiles)
        return;
    for (int row = 0; row < m_items.size(); ++row) {
        const QString current = destinationUserAt(row);
        editItemAt(row).destinationUser = current + suffix;
    }
    reloadTable();
}

void KRAFileListDialog::onRevealSourceInFileManager()
{
    QList<QUrl> files;
    for (int row : selectedRows())
        files.append(m_items.value(row).url);
    if (!files.isEmpty())
        XRevealInFileManager(files);
}

void KRAFileListDialog::reloadTable()
{
    if (!m_table)
        return;
    m_filling = true;
    m_model->setRowCount(static_cast<int>(m_items.size()));
    const bool editable = m_encoder && m_encoder->outputsFiles;
    for (int row = 0; row < m_items.size(); ++row) {
        for (int column = 0; column < ColCount; ++column) {
            auto* item = new QStandardItem;
            Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
            if (column == ColCheck)
                flags |= Qt::ItemIsUserCheckable;
            if (column == ColDestination && editable)
                flags |= Qt::ItemIsEditable;
            if (column >= ColDuration)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            item->setFlags(flags);
            m_model->setItem(row, column, item);
        }
    }
    m_filling = false;
    for (int row = 0; row < m_items.size(); ++row)
        refreshRow(row);
    refreshTotals();
}

void KRAFileListDialog::refreshRow(int row)
{
    if (!m_model || row < 0 || row >= m_model->rowCount())
        return;
    m_filling = true;
    const KRAFileListItem& file = m_items[row];
    const QKFileInfoCache::Result* result = m_cache ? m_cache->infoForIndex(row) : nullptr;
    m_model->item(row, ColCheck)->setCheckState(itemCheckedAt(row) ? Qt::Checked : Qt::Unchecked);
    QString source = UrlProps::friendlyNameExt(file.url);
    if (!file.specialActionDesc.isEmpty())
        source = QStringLiteral("%1 [%2]").arg(source, file.specialActionDesc);
    m_model->item(row, ColSource)->setText(source);
    m_model->item(row, ColSource)->setToolTip(file.url.toLocalFile());
    m_model->item(row, ColDestination)->setText(destinationUserAt(row));
    const uint64_t length = result && result->info ? result->info->lengthMS() : 0;
    m_model->item(row, ColDuration)->setText(length ? QKStringTools::formatDuration(length) : QStringLiteral("N/A"));
    const QString type = result && result->info ? result->info->formatName() : QString();
    m_model->item(row, ColType)->setText(type.isEmpty() ? QStringLiteral("N/A") : type);
    const uint64_t estimate = m_estimatedSizes.value(row, 0);
    m_model->item(row, ColSize)->setText(estimate ? QKStringTools::formatFileSize(estimate) : QStringLiteral("N/A"));
    m_filling = false;
}

void KRAFileListDialog::refreshEstimatedSize()
{
    if (!m_encoderInstance || !m_cache)
        return;
    const QString args = m_owner ? m_owner->fileListEncoderArgs() : QString();
    for (int64_t row = m_estimatedSizes.size(); row < m_cache->countLoaded(); ++row) {
        const QKFileInfoCache::Result* result = m_cache->infoForIndex(row);
        const QString file = result && result->info ? XStrToQString(result->info->path()) : QString();
        m_estimatedSizes.append(m_encoderInstance->estimateOutputSizeFor(file, args));
    }
    if (m_cache->countLoaded() == m_cache->count())
        m_encoderInstance.reset();
}

void KRAFileListDialog::onInfosLoaded(int64_t count)
{
    refreshEstimatedSize();
    const int64_t loaded = m_cache ? m_cache->countLoaded() : 0;
    for (int64_t row = std::max<int64_t>(0, loaded - count); row < loaded; ++row)
        refreshRow(static_cast<int>(row));
    refreshTotals();
}

QString KRAFileListDialog::convertingLabel() const
{
    int checked = 0;
    for (int row = 0; row < m_items.size(); ++row)
        checked += itemCheckedAt(row) ? 1 : 0;
    return QStringLiteral("Converting %1 %2 to %3")
        .arg(checked)
        .arg(checked == 1 ? QStringLiteral("File") : QStringLiteral("Files"))
        .arg(m_encoder ? m_encoder->name() : QString());
}

QString KRAFileListDialog::estimatedTotalLabel() const
{
    uint64_t sum = 0;
    for (int row = 0; row < m_items.size(); ++row) {
        if (!itemCheckedAt(row) || !m_cache || row >= m_cache->countLoaded())
            continue;
        const uint64_t estimate = m_estimatedSizes.value(row, 0);
        if (estimate == 0)
            return QString(); // one unknown makes the total unknown
        sum += estimate;
    }
    return sum ? QStringLiteral("Estimated Total: %1").arg(QKStringTools::formatFileSize(sum)) : QString();
}

void KRAFileListDialog::refreshTotals()
{
    if (m_labelConverting)
        m_labelConverting->setText(convertingLabel());
    if (m_labelTotal)
        m_labelTotal->setText(estimatedTotalLabel());
}

void KRAFileListDialog::exitDialog(int code)
{
    if (isViewLoaded())
        if (QWidget* focus = view()->window()->focusWidget())
            focus->clearFocus();
    if (m_cache && m_callback)
        m_cache->removeCallback(m_callback);
    m_callback = 0;
    if (!m_owner)
        return;
    if (code == 1) {
        QMap<int, KRAFileListEdit> edits = m_edits;
        // An encoder without files has no destinations to give back.
        if (!m_encoder || !m_encoder->outputsFiles)
            for (auto it = edits.begin(); it != edits.end(); ++it)
                it->destinationUser = m_items.value(it.key()).destinationUser;
        m_owner->fileListApply(edits);
    }
    m_owner->onSubDialogClose();
}

void KRAFileListDialog::onOK()
{
    exitDialog(1);
}

void KRAFileListDialog::onCancel()
{
    exitDialog(0);
}

void KRAFileListDialog::cancelOperation(QObject* sender)
{
    (void)sender;
    onCancel();
}
