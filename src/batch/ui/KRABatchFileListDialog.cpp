#include "batch/ui/KRABatchFileListDialog.h"

#include "batch/KRABatchFileRowsModel.h"
#include "batch/KRAWorkerPool.h"
#include "batch/QKMediaFormatFilter.h"
#include "batch/ui/KRABatchConvertDialog.h"
#include "batch/ui/QKNoFilesSelectedMsg.h"
#include "kit/KRATableColumns.h"
#include "kit/QKAppDelegateMethods.h"
#include "kit/QKStringTools.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"
#include "xclass/XMainQueue.h"

#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

#include <limits>

std::shared_ptr<KRABatchFileListDialog>
KRABatchFileListDialog::create(const std::vector<clFileListEntryRef>& files,
                               const std::shared_ptr<KRABatchConvertDialog>& host)
{
    auto dialog = std::shared_ptr<KRABatchFileListDialog>(new KRABatchFileListDialog(host));
    // Rows of their own: ticks changed here must not change the folder tree's.
    std::vector<clFileListEntryRef> rows;
    rows.reserve(files.size());
    for (const clFileListEntryRef& file : files) {
        auto row =
            std::make_shared<clFileListEntry>(file->record(), file->formatName(), std::weak_ptr<clFolderListEntry>());
        row->setCheckedInner(true);
        rows.push_back(std::move(row));
    }
    dialog->setFiles(rows);
    return dialog;
}

KRABatchFileListDialog::KRABatchFileListDialog(const std::shared_ptr<KRABatchConvertDialog>& host) : m_host(host) {}

KRABatchFileListDialog::~KRABatchFileListDialog()
{
    if (m_table)
        m_table->setTableDelegate(nullptr);
}

void KRABatchFileListDialog::loadView()
{
    auto* view = new QWidget;
    view->setObjectName(QStringLiteral("KRABatchFileListDialog"));
    auto* layout = new QVBoxLayout(view);
    layout->setContentsMargins(8, 8, 8, 8);
    auto* table = new KRATableView(view);
    table->setTableDelegate(this);
    m_model = KRABatchFileRowsModel::install(table, true, QStringLiteral("Batch Converter File List"), &m_columns);
    m_model->onSorted = [this] {
        m_fileIndexMap.clear();
        m_files.clear();
        for (int row = 0; row < m_model->rowCount(); ++row)
            m_files.push_back(m_model->fileAt(row));
    };
    m_model->onTick = [this](const clFileListEntryRef& file, bool checked) {
        file->setCheckedInner(checked);
        refreshStatus();
    };
    m_model->setRows(std::vector<KRAColumnsRowRef>(m_files.begin(), m_files.end()));
    connect(table, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) { showMenu(at); });
    layout->addWidget(table, 1);

    auto* label = new QLabel(view);
    layout->addWidget(label);
    auto* bar = new QHBoxLayout;
    auto* ok = new QPushButton(QStringLiteral("&Back"), view);
    auto* convert = new QPushButton(QStringLiteral("&Convert"), view);
    ok->setAutoDefault(false);
    convert->setDefault(true);
    bar->addWidget(ok);
    bar->addStretch(1);
    bar->addWidget(convert);
    layout->addLayout(bar);
    QWidget::setTabOrder(table, ok);
    QWidget::setTabOrder(ok, convert);
    connect(ok, &QPushButton::clicked, this, [this] { onButtonOK(); });
    connect(convert, &QPushButton::clicked, this, [this] { onButtonConvert(); });
    m_table = table;
    m_label = label;
    m_buttonConvert = convert;
    setView(view);
    refreshStatus();
}

void KRABatchFileListDialog::setFiles(const std::vector<clFileListEntryRef>& files)
{
    m_killSwitch = std::make_unique<KillSwitchHolder>(); // stops the reader of the rows before
    m_files = files;
    m_fileIndexMap.clear();
    m_infoDone = false;
    if (m_model)
        m_model->setRows(std::vector<KRAColumnsRowRef>(m_files.begin(), m_files.end()));
    std::vector<clFileListEntryRef> missing;
    for (const clFileListEntryRef& file : m_files)
        if (!file->info())
            missing.push_back(file);
    if (missing.empty()) {
        m_infoDone = true;
        return;
    }
    const KillSwitchRef cookie = m_killSwitch->killSwitch();
    const std::weak_ptr<KRABatchFileListDialog> weak = weak_from_this();
    auto deliver = [weak, cookie](std::vector<std::pair<clFileListEntryRef, QKMediaFileInfoRef>> pairs, bool last) {
        XPostToMainThread([weak, cookie, pairs = std::move(pairs), last] {
            if (cookie->die())
                return;
            if (const auto self = weak.lock())
                self->deliverInfo(pairs, cookie, last);
        });
    };
    KRAWorkerPool::shared().post([missing = std::move(missing), cookie, deliver] {
        QElapsedTimer since;
        since.start();
        std::vector<std::pair<clFileListEntryRef, QKMediaFileInfoRef>> batch;
        for (const clFileListEntryRef& file : missing) {
            if (cookie->die())
                return;
            const QKMediaFileInfoRef info = QKMediaFileInfo::readLiteInfoFromFile(XStrFromQString(file->path()));
            batch.emplace_back(file, info ? info : QKMediaFileInfo::empty());
            if (since.elapsed() > kDeliveryIntervalMs) {
                deliver(std::exchange(batch, {}), false);
                since.restart();
            }
        }
        deliver(std::move(batch), true);
    });
}

void KRABatchFileListDialog::deliverInfo(const std::vector<std::pair<clFileListEntryRef, QKMediaFileInfoRef>>& pairs,
                                         const KillSwitchRef& cookie, bool last)
{
    if (!m_killSwitch || !m_killSwitch->isCurrent(cookie))
        return;
    ++m_deliveries;
    m_infoDone = last;
    static const QKMediaFormatFilter formats;
    bool anyChecked = false;
    const int lastColumn = m_model ? m_model->columnCount() - 1 : 0;
    for (const auto& [file, info] : pairs) {
        const QUrl url = file->url();
        // The size and dates stay the ones the row came with: no stat per row here.
        file->refreshInfo(formats.fileTypeOfPath(file->path()).value_or(file->formatName()), info);
        anyChecked = anyChecked || file->checked();
        const int64_t row = indexOfURL(url);
        if (m_model && row < static_cast<int64_t>(m_files.size()))
            emit m_model->dataChanged(m_model->index(static_cast<int>(row), 1),
                                      m_model->index(static_cast<int>(row), lastColumn));
    }
    if (anyChecked)
        refreshStatus();
}

clFileListEntryRef KRABatchFileListDialog::fileAtIndex(size_t index) const
{
    return index < m_files.size() ? m_files[index] : nullptr;
}

bool KRABatchFileListDialog::isItemChecked(size_t index) const
{
    const clFileListEntryRef file = fileAtIndex(index);
    return file && file->checked();
}

void KRABatchFileListDialog::setItemChecked(size_t index, bool checked)
{
    if (const clFileListEntryRef file = fileAtIndex(index))
        file->setCheckedInner(checked);
}

int64_t KRABatchFileListDialog::indexOfURL(const QUrl& url)
{
    if (m_fileIndexMap.isEmpty())
        for (size_t i = 0; i < m_files.size(); ++i)
            m_fileIndexMap.insert(m_files[i]->url(), static_cast<int64_t>(i));
    return m_fileIndexMap.value(url, std::numeric_limits<int64_t>::max());
}

QString KRABatchFileListDialog::statusText() const
{
    uint64_t count = 0, bytes = 0, ms = 0;
    for (const clFileListEntryRef& file : m_files) {
        if (!file->checked())
            continue;
        ++count;
        bytes += file->size();
        if (const QKMediaFileInfoRef info = file->info())
            ms += info->lengthMS();
    }
    return QStringLiteral("Converting %1 Files, Source Size: %2, Length: %3")
        .arg(count)
        .arg(QKStringTools::formatFileSize(bytes), QKStringTools::formatDurationLong(ms));
}

void KRABatchFileListDialog::refreshStatus()
{
    if (m_label)
        m_label->setText(statusText());
    if (m_buttonConvert) {
        bool any = false;
        for (const clFileListEntryRef& file : m_files)
            any = any || file->checked();
        m_buttonConvert->setEnabled(any);
    }
}

void KRABatchFileListDialog::afterCheckChange()
{
    if (m_model)
        m_model->checksChanged();
    refreshStatus();
}

void KRABatchFileListDialog::setAll(const std::function<bool(bool)>& rule)
{
    for (const clFileListEntryRef& file : m_files)
        file->setCheckedInner(rule(file->checked()));
    afterCheckChange();
}

QList<int> KRABatchFileListDialog::selectedRows() const
{
    QList<int> rows;
    if (m_table)
        for (const QModelIndex& index : m_table->selectionModel()->selectedRows())
            rows << index.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

void KRABatchFileListDialog::onCheckOnlySelected()
{
    const QList<int> rows = selectedRows();
    bool changed = false;
    for (size_t i = 0; i < m_files.size(); ++i) {
        const bool checked = rows.contains(static_cast<int>(i));
        if (m_files[i]->checked() != checked) {
            m_files[i]->setCheckedInner(checked);
            changed = true;
        }
    }
    if (changed)
        afterCheckChange();
}

void KRABatchFileListDialog::onToggleSelected()
{
    toggleRowCheckboxes(m_table, selectedRows());
}

bool KRABatchFileListDialog::toggleRowCheckboxes(KRATableView*, const QList<int>& rows)
{
    if (rows.isEmpty())
        return true;
    const bool checked = !isItemChecked(static_cast<size_t>(rows.first()));
    for (int row : rows)
        setItemChecked(static_cast<size_t>(row), checked);
    afterCheckChange();
    return true;
}

void KRABatchFileListDialog::onButtonConvert()
{
    QList<QUrl> urls;
    QStringList missing;
    for (const clFileListEntryRef& file : m_files)
        if (file->checked()) {
            if (file->existsAsFile())
                urls << file->url();
            else
                missing << file->path();
        }
    const auto host = m_host.lock();
    const auto window = host ? host->host() : nullptr;
    if (!missing.isEmpty()) {
        // Gone since they were listed: named in one message and left out.
        m_lastMissing = missing;
        QKNoFilesSelectedMsg::showWarning(window ? window->mainWindow() : nullptr,
                                          QKNoFilesSelectedMsg::missingFilesText(missing));
        if (urls.isEmpty())
            return;
    }
    if (urls.isEmpty()) {
        QKNoFilesSelectedMsg::runWithWindow(window ? window->mainWindow() : nullptr);
        return;
    }
    if (QKAppDelegateMethods* delegate = QKAppDelegateMethods::shared(); delegate && window)
        delegate->preConvertFrom(urls, window, shared_from_this());
}

void KRABatchFileListDialog::onButtonOK()
{
    if (const auto host = m_host.lock())
        host->onSubDialogDone();
}

void KRABatchFileListDialog::onRevealInFinder()
{
    QList<QUrl> urls;
    for (int row : selectedRows())
        if (const clFileListEntryRef file = fileAtIndex(static_cast<size_t>(row)))
            urls << file->url();
    if (!urls.isEmpty())
        XRevealInFileManager(urls);
}

void KRABatchFileListDialog::showMenu(const QPoint& at)
{
    QMenu menu(m_table);
    const int selected = static_cast<int>(selectedRows().size());
    auto add = [&](const QString& text, bool enabled, void (KRABatchFileListDialog::*action)()) {
        QAction* item = menu.addAction(text);
        item->setEnabled(enabled);
        connect(item, &QAction::triggered, this, [this, action] { (this->*action)(); });
    };
    add(selected == 1 ? QStringLiteral("Toggle Selected Item") : QStringLiteral("Toggle Selected Items"), selected > 0,
        &KRABatchFileListDialog::onToggleSelected);
    add(QStringLiteral("Tick Only Selected"), true, &KRABatchFileListDialog::onCheckOnlySelected);
    menu.addSeparator();
    add(QStringLiteral("Tick All"), true, &KRABatchFileListDialog::onMenuCheckAll);
    add(QStringLiteral("Untick All"), true, &KRABatchFileListDialog::onMenuUncheckAll);
    add(QStringLiteral("Invert Ticks"), true, &KRABatchFileListDialog::onMenuInvertSelection);
    menu.addSeparator();
    add(QStringLiteral("Show in File Manager"), selected > 0, &KRABatchFileListDialog::onRevealInFinder);
    menu.exec(m_table->viewport()->mapToGlobal(at));
}
