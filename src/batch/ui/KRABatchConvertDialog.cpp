#include "batch/ui/KRABatchConvertDialog.h"

#include "batch/KRABatchFileRowsModel.h"
#include "batch/KRAFileFilter.h"
#include "batch/QKMediaFormatFilter.h"
#include "batch/ui/KRABatchConverterFiltersDialog.h"
#include "batch/ui/KRABatchFileListDialog.h"
#include "batch/ui/KRABatchFileListGrabberDialog.h"
#include "batch/ui/QKNoFilesSelectedMsg.h"
#include "kit/KRAColumnsModel.h"
#include "kit/KRAItemRoles.h"
#include "kit/KRATableColumns.h"
#include "kit/KitHelp.h"
#include "kit/QKStringTools.h"
#include "kit/SheetFallback.h"
#include "media/KRAMetaFieldCache.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"
#include "setup/KRAProfileDialogs.h"
#include "xclass/XMainQueue.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <unordered_map>

namespace {

QStringList PathComponents(const QUrl& url)
{
    return XStrToQString(XPathFromFileURL(url)).split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

Qt::CheckState CheckStateOf(int state)
{
    switch (state) {
    case Recursive:
    case NonRecursive:
    case Checked:
        return Qt::Checked;
    case SubSelected:
    case IndivSelected:
        return Qt::PartiallyChecked;
    default:
        return Qt::Unchecked;
    }
}

QString CheckStateTip(int state)
{
    switch (state) {
    case Recursive:
        return QStringLiteral("Ticked with every sub-folder");
    case NonRecursive:
        return QStringLiteral("Ticked: the files of this folder only");
    case SubSelected:
        return QStringLiteral("Some sub-folders are ticked");
    case IndivSelected:
        return QStringLiteral("Some files are ticked");
    default:
        return QStringLiteral("Not ticked");
    }
}

// Item data of the tree: the picture of the folder's check state.
constexpr int kStatePictureRole = Qt::UserRole + 1;

// Draws the folder's state picture where the style would draw its check box. The rest of the
// row is the base class's, and so are the clicks on the box: they still reach the model as
// check-state changes.
class KRAFolderStateDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const QImage picture = index.data(kStatePictureRole).value<QImage>();
        QStyleOptionViewItem item = option;
        initStyleOption(&item, index);
        if (picture.isNull() || !(item.features & QStyleOptionViewItem::HasCheckIndicator)) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        const QWidget* widget = item.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        const QRect box = style->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &item, widget);
        painter->save();
        // The style's own check box is never drawn, so a picture with clear edges shows the
        // row beneath it rather than that box.
        painter->setClipRegion(QRegion(item.rect).subtracted(QRegion(box)), Qt::IntersectClip);
        QStyledItemDelegate::paint(painter, option, index);
        painter->restore();

        painter->save();
        painter->setClipRect(box, Qt::IntersectClip);
        style->drawPrimitive(QStyle::PE_PanelItemViewItem, &item, painter, widget);
        painter->restore();

        // At its own size when that is the style's box height or up to two pixels more; else
        // scaled into that range, so that it never shrinks below the box nor grows far past it.
        const QSize own = picture.deviceIndependentSize().toSize();
        const int side = std::clamp(own.height(), box.height(), box.height() + 2);
        QRect target(0, 0, side * own.width() / std::max(1, own.height()), side);
        target.moveCenter(box.center());
        painter->drawImage(target, picture);
    }

    // Rows tall enough for the picture with a pixel to spare above and below.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        const QImage picture = index.data(kStatePictureRole).value<QImage>();
        if (!picture.isNull())
            size.setHeight(std::max(size.height(), picture.deviceIndependentSize().toSize().height() + 2));
        return size;
    }
};

} // namespace

// ---- The folder tree's model ----

// The outline's view of the folder tree. It keeps its own copy of each shown folder's
// children, so that the rows it has announced to the view stay what they were until it
// announces a change; the copies also keep the folders alive for the indexes that point at
// them.
class KRAFolderTreeModel : public QAbstractItemModel {
public:
    KRAFolderTreeModel(KRABatchConvertDialog* owner, QObject* parent) : QAbstractItemModel(parent), m_owner(owner) {}

    void setRoots(const QList<clFolderListEntryRef>& roots)
    {
        beginResetModel();
        m_roots = std::vector<clFolderListEntryRef>(roots.begin(), roots.end());
        m_children.clear();
        endResetModel();
    }

    clFolderListEntry* entryAt(const QModelIndex& index) const
    {
        return index.isValid() ? static_cast<clFolderListEntry*>(index.internalPointer()) : nullptr;
    }
    clFolderListEntryRef refAt(const QModelIndex& index) const
    {
        clFolderListEntry* entry = entryAt(index);
        return entry ? entry->shared_from_this() : nullptr;
    }

    QModelIndex indexFor(const clFolderListEntry* entry) const
    {
        if (!entry)
            return {};
        const clFolderListEntryRef parent = entry->parent();
        const std::vector<clFolderListEntryRef>& siblings = parent ? children(parent.get()) : m_roots;
        for (size_t row = 0; row < siblings.size(); ++row)
            if (siblings[row].get() == entry) {
                if (parent && !indexFor(parent.get()).isValid())
                    return {};
                return createIndex(static_cast<int>(row), 0, siblings[row].get());
            }
        return {};
    }

    // The listing of a folder changed its sub-folders.
    void foldersChanged(clFolderListEntry* folder, const clFoldersAddRemove& change)
    {
        const auto it = m_children.find(folder);
        if (it == m_children.end())
            return; // never shown: read fresh when asked
        const QModelIndex parentIndex = indexFor(folder);
        if (folder->parent() && !parentIndex.isValid())
            return;
        std::vector<clFolderListEntryRef>& shown = it->second;
        const bool hadChildren = !shown.empty();
        const std::vector<clFolderListEntryRef> now = folder->folders();
        if (change.numFoldersBefore != shown.size()) {
            replaceAll(parentIndex, shown, now);
        } else {
            QList<int> removed = change.foldersRemoved;
            std::sort(removed.begin(), removed.end(), std::greater<int>());
            for (int row : removed) {
                if (row < 0 || row >= static_cast<int>(shown.size()))
                    continue;
                beginRemoveRows(parentIndex, row, row);
                forget(shown[static_cast<size_t>(row)].get());
                shown.erase(shown.begin() + row);
                endRemoveRows();
            }
            bool samePrefix = shown.size() <= now.size();
            for (size_t i = 0; samePrefix && i < shown.size(); ++i)
                samePrefix = shown[i] == now[i];
            if (!samePrefix) {
                replaceAll(parentIndex, shown, now);
            } else if (now.size() > shown.size()) {
                beginInsertRows(parentIndex, static_cast<int>(shown.size()), static_cast<int>(now.size()) - 1);
                shown = now;
                endInsertRows();
            }
        }
        if (hadChildren != !shown.empty() && parentIndex.isValid())
            emit dataChanged(parentIndex, parentIndex);
    }

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override
    {
        if (column != 0 || row < 0)
            return {};
        const std::vector<clFolderListEntryRef>& list = parent.isValid() ? children(entryAt(parent)) : m_roots;
        if (row >= static_cast<int>(list.size()))
            return {};
        return createIndex(row, 0, list[static_cast<size_t>(row)].get());
    }

    QModelIndex parent(const QModelIndex& child) const override
    {
        clFolderListEntry* entry = entryAt(child);
        if (!entry)
            return {};
        const clFolderListEntryRef parent = entry->parent();
        return parent ? indexFor(parent.get()) : QModelIndex();
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        if (parent.column() > 0)
            return 0;
        return static_cast<int>(parent.isValid() ? children(entryAt(parent)).size() : m_roots.size());
    }
    int columnCount(const QModelIndex& = QModelIndex()) const override { return 1; }
    bool hasChildren(const QModelIndex& parent = QModelIndex()) const override { return rowCount(parent) > 0; }

    QVariant data(const QModelIndex& index, int role) const override
    {
        clFolderListEntry* entry = entryAt(index);
        if (!entry)
            return {};
        switch (role) {
        case Qt::DisplayRole:
            return entry->name();
        case Qt::CheckStateRole:
            return CheckStateOf(entry->checkState());
        case kStatePictureRole:
            return entry->checkImage();
        case Qt::ToolTipRole:
            return QStringLiteral("%1\n%2").arg(entry->path(), CheckStateTip(entry->checkState()));
        case Qt::FontRole:
            if (entry->checkState() == Recursive) {
                QFont font;
                font.setBold(true);
                return font;
            }
            return {};
        default:
            return {};
        }
    }

    bool setData(const QModelIndex& index, const QVariant&, int role) override
    {
        if (role != Qt::CheckStateRole || !entryAt(index))
            return false;
        m_owner->folderCheckClicked(refAt(index));
        return true;
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        if (!index.isValid())
            return Qt::NoItemFlags;
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
    }

private:
    // A folder's children as the view knows them; asking lists the folder in the background.
    const std::vector<clFolderListEntryRef>& children(clFolderListEntry* entry) const
    {
        auto it = m_children.find(entry);
        if (it == m_children.end()) {
            entry->wantFolders();
            it = m_children.emplace(entry, entry->folders()).first;
        }
        return it->second;
    }

    void replaceAll(const QModelIndex& parentIndex, std::vector<clFolderListEntryRef>& shown,
                    const std::vector<clFolderListEntryRef>& now)
    {
        if (!shown.empty()) {
            beginRemoveRows(parentIndex, 0, static_cast<int>(shown.size()) - 1);
            for (const clFolderListEntryRef& child : shown)
                forget(child.get());
            shown.clear();
            endRemoveRows();
        }
        if (!now.empty()) {
            beginInsertRows(parentIndex, 0, static_cast<int>(now.size()) - 1);
            shown = now;
            endInsertRows();
        }
    }

    void forget(clFolderListEntry* entry)
    {
        const auto it = m_children.find(entry);
        if (it == m_children.end())
            return;
        const std::vector<clFolderListEntryRef> children = std::move(it->second);
        m_children.erase(it);
        for (const clFolderListEntryRef& child : children)
            forget(child.get());
    }

    KRABatchConvertDialog* m_owner;
    std::vector<clFolderListEntryRef> m_roots;
    mutable std::unordered_map<clFolderListEntry*, std::vector<clFolderListEntryRef>> m_children;
};

// ---- Construction ----

std::shared_ptr<KRABatchConvertDialog> KRABatchConvertDialog::create(const std::shared_ptr<KRAPanelHostInterface>& host,
                                                                     const std::optional<QList<QUrl>>& selection,
                                                                     const QList<std::pair<QUrl, QString>>& roots)
{
    // The grabber's worker and the tree's workers hold the panel for a moment now and then:
    // should the last hold end on one of them, the panel still goes on the main thread.
    auto dialog = std::shared_ptr<KRABatchConvertDialog>(new KRABatchConvertDialog(host), [](KRABatchConvertDialog* d) {
        if (!qApp || QThread::currentThread() == qApp->thread())
            delete d;
        else
            XPostToMainThread([d] { delete d; });
    });
    dialog->init(selection, roots);
    return dialog;
}

KRABatchConvertDialog::KRABatchConvertDialog(const std::shared_ptr<KRAPanelHostInterface>& host)
    : m_host(host), m_sort(KRASortDescriptor::forColumn(QStringLiteral("Name")))
{
    setTitle(QStringLiteral("Batch Converter"));
}

void KRABatchConvertDialog::init(const std::optional<QList<QUrl>>& selection,
                                 const QList<std::pair<QUrl, QString>>& roots)
{
    const std::weak_ptr<KRAFolderTreeOwner> owner = std::static_pointer_cast<KRAFolderTreeOwner>(shared_from_this());
    if (roots.isEmpty())
        m_rootFolders = clFolderListEntry::rootFoldersWithOwner(owner);
    else
        for (const auto& [url, name] : roots)
            m_rootFolders << clFolderListEntry::rootForURL(url, owner, name);
    m_filter = std::make_shared<KRAFileFilter>();
    loadProfileList();
    if (selection && !selection->isEmpty()) {
        m_startupSelectMe = *selection;
        m_shownProfileName = QString::fromLatin1(kNoneSelected);
    } else {
        const QString name = QSettings().value(QString::fromLatin1(kProfileKey)).toString();
        m_shownProfileName = QString::fromLatin1(kNoneSelected);
        m_currentProfile = KRABatchConverterProfile::noProfileSelected();
        if (!name.isEmpty() && name != QLatin1String(kNoneSelected)) {
            auto profile = std::make_shared<KRABatchConverterProfile>();
            if (profile->loadExisting(name)) {
                m_shownProfileName = name;
                m_currentProfile = profile;
                // The window works with what the pop-up names: the profile's filters, and
                // its ticks as the folders appear.
                profile->getFilters(*m_filter);
                if (profile->saveSelection)
                    for (const clFolderListEntryRef& root : m_rootFolders)
                        root->applySelectionData(profile->selection);
            } else {
                m_pendingProblem = profile->lastError() + QStringLiteral(" No profile is selected.");
                QSettings().remove(QString::fromLatin1(kProfileKey));
            }
        }
    }
    m_startupPending = true;
}

KRABatchConvertDialog::~KRABatchConvertDialog()
{
    if (m_fileChangeNotify)
        m_fileChangeNotify->dispose();
    if (m_fileList)
        m_fileList->setTableDelegate(nullptr);
    if (m_folderTree)
        m_folderTree->setOutlineDelegate(nullptr);
}

std::shared_ptr<KRAMetaFieldCache> KRABatchConvertDialog::metaFieldCache()
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_metaFieldCache) {
        auto formats = std::make_shared<QKMediaFormatFilter>();
        formats->toggleAll(true);
        m_metaFieldCache = std::make_shared<KRAMetaFieldCache>(
            [formats](const QString& path) { return formats->fileTypeOfPath(path).has_value(); },
            KRABatchConverterProfile::metaFieldNames(), KRABatchConverterProfile::infoFieldNames());
    }
    return m_metaFieldCache;
}

std::shared_ptr<KRAFileFilter> KRABatchConvertDialog::filter() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_filter;
}

void KRABatchConvertDialog::setFilter(const std::shared_ptr<KRAFileFilter>& filter)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_filter = filter;
}

QVariant KRABatchConvertDialog::currentSelection() const
{
    // A profile that does not keep ticks still holds, in memory, the data of the ticks it
    // took over, for the folders not listed yet.
    std::lock_guard<std::mutex> guard(m_lock);
    return m_currentProfile ? m_currentProfile->selection : QVariant();
}

void KRABatchConvertDialog::forgetSelection(const QString& path)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_currentProfile)
        clFolderListEntry::forgetInSelection(m_currentProfile->selection, path);
}

void KRABatchConvertDialog::setProfile(const KRABatchConverterProfileRef& profile)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_currentProfile = profile;
}

std::optional<QString> KRABatchConvertDialog::currentProfileName() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_currentProfile && m_currentProfile->name && !m_currentProfile->name->isEmpty())
        return m_currentProfile->name;
    return std::nullopt;
}

QUrl KRABatchConvertDialog::panelHelpURL()
{
    // The maker's page when its server is configured; else the window's own help.
    return KitMakerHelpURL(QStringLiteral("/Help/qKVOSX/FileSelector/"));
}

void KRABatchConvertDialog::panelAttachedToHost(const std::shared_ptr<KRAPanelHostInterface>& host)
{
    m_host = host;
}

void KRABatchConvertDialog::panelBeforeBacktraceFrom(KRAPanel*)
{
    onButtonRefresh();
}

void KRABatchConvertDialog::panelWillClose()
{
    saveProfile();
}

// ---- The view ----

void KRABatchConvertDialog::loadView()
{
    auto* view = new QWidget;
    view->setObjectName(QStringLiteral("KRABatchConvertDialogV2"));
    view->setAcceptDrops(true);
    view->installEventFilter(this);
    auto* layout = new QVBoxLayout(view);
    layout->setContentsMargins(8, 8, 8, 8);

    auto* split = new QSplitter(Qt::Horizontal, view);
    auto* tree = new KRAOutlineView(split);
    tree->setHeaderHidden(true);
    tree->setUniformRowHeights(true);
    tree->setContextMenuPolicy(Qt::CustomContextMenu);
    tree->setOutlineDelegate(this);
    tree->setAccessibleName(QStringLiteral("Folders"));
    m_treeModel = new KRAFolderTreeModel(this, tree);
    m_treeModel->setRoots(m_rootFolders);
    tree->setModel(m_treeModel);
    tree->setItemDelegate(new KRAFolderStateDelegate(tree));

    auto* table = new KRATableView(split);
    table->setTableDelegate(this);
    table->setAccessibleName(QStringLiteral("Files"));
    m_filesModel = KRABatchFileRowsModel::install(table, false, QStringLiteral("Batch Converter"), &m_columns);
    m_filesModel->onSorted = [this] {
        m_curFiles.clear();
        for (int row = 0; row < m_filesModel->rowCount(); ++row)
            m_curFiles.push_back(m_filesModel->fileAt(row));
    };
    m_filesModel->onTick = [this](const clFileListEntryRef& file, bool checked) {
        file->setChecked(checked);
        if (m_folderTree)
            m_folderTree->viewport()->update();
        refreshStatusBar();
    };
    connect(table->horizontalHeader(), &QHeaderView::sortIndicatorChanged, this,
            [this](int section, Qt::SortOrder order) {
                const KRATableColumnRef column = m_filesModel->columnAt(section);
                if (!column)
                    return;
                m_sort = KRASortDescriptor::forColumn(column->identifier());
                m_sort.ascending = order == Qt::AscendingOrder;
            });
    split->addWidget(tree);
    split->addWidget(table);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 3);
    split->setSizes({240, 720});
    layout->addWidget(split, 1);

    auto* help = new QLabel(QStringLiteral("Some folders cannot be read: this program has no permission to read "
                                           "them. Check their owner and mode, or the sandbox the program runs in."),
                            view);
    help->setWordWrap(true);
    help->hide();
    layout->addWidget(help);

    auto* status = new QLabel(view);
    status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(status);

    auto* bar = new QHBoxLayout;
    auto* profileLabel = new QLabel(QStringLiteral("&Profile:"), view);
    auto* popup = new QComboBox(view);
    popup->setMinimumContentsLength(16);
    popup->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    profileLabel->setBuddy(popup);
    auto* filters = new QPushButton(QStringLiteral("&Filters..."), view);
    auto* reset = new QPushButton(QStringLiteral("Clear &All"), view);
    auto* refresh = new QPushButton(QStringLiteral("&Refresh"), view);
    auto* list = new QPushButton(QStringLiteral("&List"), view);
    auto* concat = new QPushButton(QStringLiteral("Concate&nate"), view);
    auto* convert = new QPushButton(QStringLiteral("&Convert"), view);
    convert->setDefault(true);
    for (QPushButton* button : {filters, reset, refresh, list, concat})
        button->setAutoDefault(false);
    bar->addWidget(profileLabel);
    bar->addWidget(popup);
    bar->addWidget(filters);
    bar->addWidget(reset);
    bar->addWidget(refresh);
    bar->addStretch(1);
    bar->addWidget(list);
    bar->addWidget(concat);
    bar->addWidget(convert);
    layout->addLayout(bar);

    QWidget::setTabOrder(tree, table);
    QWidget::setTabOrder(table, popup);
    QWidget::setTabOrder(popup, filters);
    QWidget::setTabOrder(filters, reset);
    QWidget::setTabOrder(reset, refresh);
    QWidget::setTabOrder(refresh, list);
    QWidget::setTabOrder(list, concat);
    QWidget::setTabOrder(concat, convert);

    m_splitView = split;
    m_folderTree = tree;
    m_fileList = table;
    m_statusBar = status;
    m_permissionsHelp = help;
    m_profilePopup = popup;
    m_btnFilters = filters;
    m_btnConvert = convert;
    m_btnList = list;
    m_btnConcatenate = concat;

    popup->addItems(m_profileList);
    showProfileName(m_shownProfileName);
    refreshFiltersButton();
    connect(popup, &QComboBox::activated, this, [this](int index) { onProfileSelected(m_profileList.value(index)); });
    connect(filters, &QPushButton::clicked, this, [this] { onButtonFilter(); });
    connect(reset, &QPushButton::clicked, this, [this] { onButtonReset(); });
    connect(refresh, &QPushButton::clicked, this, [this] { onButtonRefresh(); });
    connect(convert, &QPushButton::clicked, this, [this] { onButtonConvert(); });
    connect(list, &QPushButton::clicked, this, [this] { onButtonList(); });
    connect(concat, &QPushButton::clicked, this, [this] { onButtonConcatenate(); });
    connect(tree->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this] { onFolderSelectionChanged(); });
    connect(tree, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) { showFolderMenu(at); });
    connect(table, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) { showFileMenu(at); });
    setView(view);

    // The start-up selection waits for the first layout, as the views have their sizes then.
    QTimer::singleShot(0, this, [this] {
        if (!m_startupPending)
            return;
        m_startupPending = false;
        const QList<QUrl> items = std::exchange(m_startupSelectMe, {});
        selectTheseItems(items, true);
        if (!m_pendingProblem.isEmpty())
            showProblem(std::exchange(m_pendingProblem, QString()));
    });
    refreshStatusBar();
}

bool KRABatchConvertDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == view() && (event->type() == QEvent::DragEnter || event->type() == QEvent::Drop)) {
        auto* drop = static_cast<QDropEvent*>(event);
        if (!drop->mimeData() || !drop->mimeData()->hasUrls())
            return false;
        QList<QUrl> urls;
        for (const QUrl& url : drop->mimeData()->urls())
            if (url.isLocalFile())
                urls << url;
        if (urls.isEmpty())
            return false;
        drop->setDropAction(Qt::LinkAction);
        drop->accept();
        if (event->type() == QEvent::Drop)
            selectTheseItems(urls, false);
        return true;
    }
    return QKPanelViewController::eventFilter(watched, event);
}

// ---- Profiles ----

void KRABatchConvertDialog::loadProfileList()
{
    m_profileList = KRABatchConverterProfile::listProfileNames();
    m_profileList << QString::fromLatin1(kNoneSelected) << QString::fromLatin1(kCreateProfile)
                  << QString::fromLatin1(kDeleteProfile);
    if (m_profilePopup) {
        const QSignalBlocker blocker(m_profilePopup);
        m_profilePopup->clear();
        m_profilePopup->addItems(m_profileList);
        showProfileName(m_shownProfileName);
    }
}

void KRABatchConvertDialog::showProfileName(const QString& name)
{
    m_shownProfileName = name;
    if (!m_profilePopup)
        return;
    const QSignalBlocker blocker(m_profilePopup);
    const int index = m_profileList.indexOf(name);
    m_profilePopup->setCurrentIndex(index >= 0 ? index : m_profileList.indexOf(QString::fromLatin1(kNoneSelected)));
}

void KRABatchConvertDialog::onProfileSelected(const QString& name)
{
    const QString revertTo = currentProfileName().value_or(QString::fromLatin1(kNoneSelected));
    if (name == QLatin1String(kNoneSelected)) {
        saveProfile();
        const KRABatchConverterProfileRef none = KRABatchConverterProfile::noProfileSelected();
        none->selection = collectSelection();
        setProfile(none);
        onProfileChanged();
        QSettings().remove(QString::fromLatin1(kProfileKey));
        showProfileName(name);
    } else if (name == QLatin1String(kCreateProfile)) {
        showProfileName(revertTo);
        const auto host = m_host.lock();
        auto* sheet = new KRAChooseProfileName(host ? host->mainWindow() : nullptr);
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        sheet->setInvalidValues(m_profileList);
        sheet->setValidator(&KRABatchConverterProfile::nameProblem);
        const std::weak_ptr<KRABatchConvertDialog> weak = weak_from_this();
        QPointer<KRAChooseProfileName> guard(sheet);
        auto done = [weak, guard](int64_t code) {
            const auto self = weak.lock();
            if (!self || !guard || code != 1)
                return;
            self->createProfile(guard->value(), guard->copyCurrent(), guard->saveSelection());
        };
        if (!SheetFallback::beginSheet(sheet, host ? host->mainWindow() : nullptr, done)) {
            sheet->setWindowModality(Qt::ApplicationModal);
            connect(sheet, &QDialog::finished, this, [done](int code) { done(code); });
            sheet->open();
        }
    } else if (name == QLatin1String(kDeleteProfile)) {
        showProfileName(revertTo);
        const std::optional<QString> current = currentProfileName();
        if (!current)
            return;
        const auto host = m_host.lock();
        auto* box = new QMessageBox(QMessageBox::Question, QStringLiteral("Delete Profile"),
                                    QStringLiteral("Delete profile '%1' ?").arg(*current),
                                    QMessageBox::Yes | QMessageBox::No, host ? host->mainWindow() : nullptr);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setEscapeButton(QMessageBox::No);
        box->setDefaultButton(QMessageBox::No);
        box->setWindowModality(Qt::WindowModal);
        const std::weak_ptr<KRABatchConvertDialog> weak = weak_from_this();
        connect(box, &QMessageBox::finished, this, [weak, box](int) {
            const auto self = weak.lock();
            if (!self || box->clickedButton() != box->button(QMessageBox::Yes))
                return;
            self->deleteCurrentProfile();
        });
        box->open();
    } else {
        // A profile that cannot be loaded is not used: saving it later would write an empty
        // profile over whatever its file holds.
        auto next = std::make_shared<KRABatchConverterProfile>();
        if (!next->loadExisting(name)) {
            showProfileName(revertTo);
            showProblem(next->lastError());
            return;
        }
        saveProfile();
        if (!next->saveSelection)
            next->selection = collectSelection();
        setProfile(next);
        onProfileChanged();
        QSettings().setValue(QString::fromLatin1(kProfileKey), name);
        showProfileName(name);
    }
}

bool KRABatchConvertDialog::createProfile(const QString& newName, bool copyCurrent, bool keepTicks)
{
    if (m_profileList.contains(newName) || !KRABatchConverterProfile::nameProblem(newName).isEmpty())
        return false;
    const KRABatchConverterProfileRef current = currentProfile();
    const KRABatchConverterProfileRef profile =
        copyCurrent && current ? current->copyWithName(newName) : KRABatchConverterProfile::newProfileNamed(newName);
    // The filters in force go with it; names this build does not know stay as the copy had them.
    QMap<QString, QSet<QString>> unknown;
    const QStringList known = KRABatchConverterProfile::filterNames();
    for (auto it = profile->filtersData.begin(); it != profile->filtersData.end(); ++it)
        if (!known.contains(it.key()))
            unknown.insert(it.key(), it.value());
    profile->setFilters(*filter());
    profile->filtersData.insert(unknown);
    profile->saveSelection = keepTicks;
    profile->selection = collectSelection();
    if (!saveProfileAs(profile)) {
        showProblem(profile->lastError());
        return false;
    }
    saveProfile();
    setProfile(profile);
    onProfileChanged();
    QSettings().setValue(QString::fromLatin1(kProfileKey), newName);
    m_shownProfileName = newName;
    loadProfileList();
    return true;
}

bool KRABatchConvertDialog::deleteCurrentProfile()
{
    const KRABatchConverterProfileRef profile = currentProfile();
    if (!profile || !profile->name || profile->name->isEmpty())
        return false;
    const QString name = *profile->name;
    if (!profile->deleteProfile()) {
        showProblem(QStringLiteral("The batch profile \"%1\" could not be deleted: %2")
                        .arg(name, QString::fromLocal8Bit(strerror(errno))));
        return false;
    }
    // The new empty profile keeps ticks: applying its empty selection clears every tick.
    const KRABatchConverterProfileRef empty = KRABatchConverterProfile::newProfileNamed(QString());
    empty->name.reset();
    setProfile(empty);
    onProfileChanged();
    QSettings().remove(QString::fromLatin1(kProfileKey));
    m_shownProfileName = QString::fromLatin1(kNoneSelected);
    loadProfileList();
    return true;
}

void KRABatchConvertDialog::showProblem(const QString& text)
{
    m_lastProblem = text;
    const auto host = m_host.lock();
    QKNoFilesSelectedMsg::showWarning(host ? host->mainWindow() : nullptr, text);
}

void KRABatchConvertDialog::onProfileChanged()
{
    const KRABatchConverterProfileRef profile = currentProfile();
    auto updated = std::make_shared<KRAFileFilter>(*filter());
    if (profile)
        profile->getFilters(*updated);
    const bool changed = !updated->isEqualToFilter(*filter());
    if (changed)
        setFilter(updated);
    if (profile && profile->saveSelection) {
        const QVariant selection =
            profile->selection.typeId() == QMetaType::QVariantMap ? profile->selection : QVariant();
        for (const clFolderListEntryRef& root : m_rootFolders)
            root->applySelectionData(selection);
    }
    if (changed) {
        onFiltersChanged();
    } else {
        reloadCheckboxes();
        refreshStatusBar();
    }
}

QVariantMap KRABatchConvertDialog::collectSelection() const
{
    const KRABatchConverterProfileRef profile = currentProfile();
    const QVariantMap previous = profile ? profile->selection.toMap() : QVariantMap();
    QVariantMap data;
    for (const clFolderListEntryRef& root : m_rootFolders)
        root->collectSelectionData(data, previous);
    return data;
}

bool KRABatchConvertDialog::saveProfileAs(const KRABatchConverterProfileRef& profile)
{
    if (!profile || !profile->name || profile->name->isEmpty())
        return true;
    if (profile->saveSelection) {
        const QVariantMap data = collectSelection();
        std::lock_guard<std::mutex> guard(m_lock);
        profile->selection = data;
    }
    return profile->save();
}

void KRABatchConvertDialog::saveProfile()
{
    const KRABatchConverterProfileRef profile = currentProfile();
    if (!saveProfileAs(profile))
        qWarning("Marvoni Video Converter: the batch profile could not be saved: %s",
                 qUtf8Printable(profile->lastError()));
}

// ---- Filters ----

void KRABatchConvertDialog::onButtonFilter()
{
    const auto host = m_host.lock();
    if (!host)
        return;
    host->setCurrentPanel(KRABatchConverterFiltersDialog::startWithDialog(shared_from_this()));
}

void KRABatchConvertDialog::returnFromFiltersDialog(const KRAFileFilter& filter, int status)
{
    if (const auto host = m_host.lock())
        host->panelBacktraceTo(shared_from_this());
    reloadCheckboxes();
    if (status != 1)
        return;
    setFilter(std::make_shared<KRAFileFilter>(filter));
    if (const KRABatchConverterProfileRef profile = currentProfile())
        profile->setFilters(filter);
    saveProfile();
    onFiltersChanged();
}

void KRABatchConvertDialog::refreshFiltersButton()
{
    if (!m_btnFilters)
        return;
    const bool active = filter()->active();
    m_btnFilters->setText(active ? QStringLiteral("&Filters (on)...") : QStringLiteral("&Filters..."));
    QFont font = m_btnFilters->font();
    font.setBold(active);
    m_btnFilters->setFont(font);
}

void KRABatchConvertDialog::onFiltersChanged()
{
    refreshFiltersButton();
    for (const clFolderListEntryRef& root : m_rootFolders)
        root->applyFormatFilterRecur();
    refreshCurrentFiles();
}

// ---- The tree ----

clFolderListEntryRef KRABatchConvertDialog::rootFolderForURL(const QUrl& url) const
{
    const QStringList components = PathComponents(url);
    for (const clFolderListEntryRef& root : m_rootFolders) {
        const QStringList mine = PathComponents(root->url());
        if (mine.size() <= components.size() && components.mid(0, mine.size()) == mine)
            return root;
    }
    return nullptr;
}

clFolderListEntryRef KRABatchConvertDialog::folderForURL(const QUrl& url) const
{
    clFolderListEntryRef folder = rootFolderForURL(url);
    if (!folder)
        return nullptr;
    const QStringList components = PathComponents(url).mid(PathComponents(folder->url()).size());
    for (const QString& name : components) {
        folder = folder->subFolderAt(name);
        if (!folder)
            return nullptr;
    }
    return folder;
}

QList<QUrl> KRABatchConvertDialog::selectedFolders() const
{
    QList<QUrl> folders;
    for (const clFolderListEntryRef& root : m_rootFolders)
        folders << root->collectCheckedFolders();
    if (folders.isEmpty() && m_curFolder)
        folders << m_curFolder->url();
    return folders;
}

void KRABatchConvertDialog::selectTheseItems(const QList<QUrl>& items, bool initial)
{
    Walk walk;
    walk.generation = m_walk.generation + 1;
    if (initial)
        walk.toExpand.assign(m_rootFolders.begin(), m_rootFolders.end());
    if (!items.isEmpty()) {
        QStringList common = PathComponents(items.first());
        for (const QUrl& item : items) {
            const QStringList components = PathComponents(item);
            qsizetype shared = 0;
            while (shared < common.size() && shared < components.size() && common[shared] == components[shared])
                ++shared;
            common = common.mid(0, shared);
        }
        const QString parentPath = QLatin1Char('/') + common.join(QLatin1Char('/'));
        if (!common.isEmpty() && QFileInfo(parentPath).isDir()) {
            const QUrl parentURL = XFileURL(XStrFromQString(parentPath));
            if (const clFolderListEntryRef root = rootFolderForURL(parentURL))
                walk.names = QStringList{root->name()} + common.mid(PathComponents(root->url()).size());
        }
        for (const clFolderListEntryRef& root : m_rootFolders)
            root->setCheckState(Unchecked);
        walk.tickItems = items;
    } else if (initial) {
        walk.names = QSettings().value(QString::fromLatin1(kLocationKey)).toStringList();
    }
    m_walk = walk;
    reloadCheckboxes();
    walkOn();
}

void KRABatchConvertDialog::walkOn()
{
    while (!m_walk.names.isEmpty()) {
        const std::vector<clFolderListEntryRef> level =
            m_walk.at ? m_walk.at->folders()
                      : std::vector<clFolderListEntryRef>(m_rootFolders.begin(), m_rootFolders.end());
        const clFolderListEntryRef next = clFolderListEntry::subFolderAt(m_walk.names.first(), level);
        if (!next) {
            m_walk.names.clear();
            break;
        }
        m_walk.names.removeFirst();
        m_walk.at = next;
        m_walk.toExpand.push_back(next);
        // The folder reached last is listed too when items below it are to be ticked.
        if (m_walk.names.isEmpty() && (m_walk.tickItems.isEmpty() || next->hasListing()))
            break;
        if (!next->hasListing()) {
            // A slow or hung mount must not freeze the window: the walk goes on when the
            // listing arrives, or stops where it is when it takes too long.
            m_walk.waitingFor = next;
            next->wantFolders();
            const uint64_t generation = m_walk.generation;
            const std::weak_ptr<KRABatchConvertDialog> weak = weak_from_this();
            QTimer::singleShot(kListingTimeLimitMs, this, [weak, generation] {
                const auto self = weak.lock();
                if (!self || self->m_walk.generation != generation || !self->m_walk.waitingFor)
                    return;
                self->m_walk.waitingFor.reset();
                self->m_walk.names.clear();
                self->finishWalk();
            });
            return;
        }
    }
    finishWalk();
}

void KRABatchConvertDialog::finishWalk()
{
    m_walk.waitingFor.reset();
    for (const QUrl& item : std::exchange(m_walk.tickItems, {}))
        if (const clFolderListEntryRef folder = folderForURL(item))
            folder->setCheckState(Recursive);
    if (m_folderTree && m_treeModel)
        for (const clFolderListEntryRef& folder : m_walk.toExpand) {
            const QModelIndex index = m_treeModel->indexFor(folder.get());
            if (index.isValid())
                m_folderTree->expand(index);
        }
    m_walk.toExpand.clear();
    const clFolderListEntryRef reached = std::exchange(m_walk.at, nullptr);
    if (reached)
        selectThisFolder(reached);
    reloadCheckboxes();
    refreshStatusBar();
}

void KRABatchConvertDialog::selectThisFolder(const clFolderListEntryRef& folder)
{
    if (!m_folderTree || !m_treeModel) {
        m_curFolder = folder;
        folderSelChanged();
        return;
    }
    const QModelIndex index = m_treeModel->indexFor(folder.get());
    if (!index.isValid())
        return;
    m_folderTree->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    m_folderTree->scrollTo(index);
    if (m_curFolder != folder) {
        m_curFolder = folder;
        folderSelChanged();
    }
    m_folderTree->expand(index);
}

void KRABatchConvertDialog::onFolderSelectionChanged()
{
    const clFolderListEntryRef folder = m_treeModel->refAt(m_folderTree->selectionModel()->currentIndex());
    if (!folder || folder == m_curFolder)
        return;
    folder->beginRefresh();
    m_curFolder = folder;
    folderSelChanged();
    if (QApplication::mouseButtons() != Qt::NoButton)
        m_folderTree->expand(m_folderTree->selectionModel()->currentIndex());
    QStringList names;
    folder->grabRelativePath(names, nullptr);
    QSettings().setValue(QString::fromLatin1(kLocationKey), names);
}

void KRABatchConvertDialog::folderSelChanged()
{
    if (m_fileChangeNotify)
        m_fileChangeNotify->dispose();
    m_fileChangeNotify.reset();
    if (m_curFolder) {
        m_fileChangeNotify = KRAFileChangeNotify::create();
        m_fileChangeNotify->setNotifyClient(std::static_pointer_cast<KRAFileChangeNotifyClient>(shared_from_this()));
        m_fileChangeNotify->setLatency(3.0);
        m_fileChangeNotify->setWatchedFolderURL(m_curFolder->url());
    }
    refreshCurrentFiles();
}

void KRABatchConvertDialog::onFileChangeEventFrom(KRAFileChangeNotify*)
{
    if (!m_curFolder)
        return;
    m_curFolder->beginRefresh();
    // The folder itself renamed, deleted or made again: its parent's listing says so.
    if (const clFolderListEntryRef parent = m_curFolder->parent())
        parent->beginRefresh();
}

void KRABatchConvertDialog::refreshCurrentFiles()
{
    std::vector<clFileListEntryRef> remembered;
    if (m_fileList && m_filesModel)
        for (const QModelIndex& index : m_fileList->selectionModel()->selectedRows())
            remembered.push_back(m_filesModel->fileAt(index.row()));
    if (m_curFolder) {
        m_curFolder->wantFiles();
        m_curFiles = m_curFolder->sortFilesUsingDescriptors({m_sort});
    } else {
        m_curFiles.clear();
    }
    if (m_filesModel) {
        m_filesModel->setRows(std::vector<KRAColumnsRowRef>(m_curFiles.begin(), m_curFiles.end()));
        if (!remembered.empty()) {
            QItemSelection selection;
            for (size_t row = 0; row < m_curFiles.size(); ++row)
                if (std::find(remembered.begin(), remembered.end(), m_curFiles[row]) != remembered.end())
                    selection.select(m_filesModel->index(static_cast<int>(row), 0),
                                     m_filesModel->index(static_cast<int>(row), m_filesModel->columnCount() - 1));
            m_fileList->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
        }
    }
    refreshStatusBar();
}

void KRABatchConvertDialog::folderAddRemoveFolders(clFolderListEntry* folder, const clFoldersAddRemove& change)
{
    // The folder shown (or one above it) is gone from the disk: the table shows its parent,
    // chosen before the rows go, so that the tree does not pick a neighbour by itself.
    for (clFolderListEntryRef node = m_curFolder; node && !change.foldersRemoved.isEmpty();) {
        const clFolderListEntryRef parent = node->parent();
        if (parent.get() == folder) {
            const std::vector<clFolderListEntryRef> now = folder->folders();
            if (std::find(now.begin(), now.end(), node) == now.end())
                selectThisFolder(folder->shared_from_this());
            break;
        }
        node = parent;
    }
    if (m_treeModel)
        m_treeModel->foldersChanged(folder, change);
    if (m_walk.waitingFor.get() == folder) {
        m_walk.waitingFor.reset();
        walkOn();
    }
}

void KRABatchConvertDialog::folderFilesListReady(clFolderListEntry* folder)
{
    if (folder == m_curFolder.get())
        refreshCurrentFiles();
    if (m_folderTree)
        m_folderTree->viewport()->update();
}

void KRABatchConvertDialog::folderFileInfoLoaded(clFolderListEntry* folder, const clFileListEntryRef& file)
{
    m_infosLoaded.emplace_back(folder->weak_from_this(), file);
    if (m_infoFlushScheduled)
        return;
    // Thousands of rows fill their columns one by one: the table redraws at most five
    // times a second.
    m_infoFlushScheduled = true;
    const std::weak_ptr<KRABatchConvertDialog> weak = weak_from_this();
    QTimer::singleShot(200, this, [weak] {
        if (const auto self = weak.lock())
            self->flushInfoUpdates();
    });
}

void KRABatchConvertDialog::flushInfoUpdates()
{
    m_infoFlushScheduled = false;
    const auto pairs = std::exchange(m_infosLoaded, {});
    if (!m_filesModel || !m_curFolder)
        return;
    std::unordered_map<const clFileListEntry*, int> rows;
    for (size_t row = 0; row < m_curFiles.size(); ++row)
        rows.emplace(m_curFiles[row].get(), static_cast<int>(row));
    const int last = m_filesModel->columnCount() - 1;
    bool any = false;
    for (const auto& [folder, file] : pairs) {
        if (folder.lock() != m_curFolder)
            continue;
        const auto it = rows.find(file.get());
        if (it == rows.end())
            continue;
        emit m_filesModel->dataChanged(m_filesModel->index(it->second, 1), m_filesModel->index(it->second, last));
        any = true;
    }
    if (any)
        ++m_infoUpdates;
}

void KRABatchConvertDialog::folderAccessError(clFolderListEntry* folder, const QString&, int errorNumber)
{
    if (errorNumber == EACCES && m_permissionsHelp)
        m_permissionsHelp->show();
    if (m_walk.waitingFor.get() == folder) {
        m_walk.waitingFor.reset();
        m_walk.names.clear();
        finishWalk();
    }
    if (folder == m_curFolder.get())
        refreshStatusBar();
}

// ---- Ticks ----

void KRABatchConvertDialog::reloadCheckboxes()
{
    if (m_filesModel)
        m_filesModel->checksChanged();
    if (m_folderTree)
        m_folderTree->viewport()->update();
}

void KRABatchConvertDialog::folderCheckClicked(const clFolderListEntryRef& folder)
{
    if (folder)
        setFolderCheck(folder, clFolderListEntry::nextCheckStateOnClick(folder->checkState()));
}

void KRABatchConvertDialog::setFolderCheck(const clFolderListEntryRef& folder, int state)
{
    if (!folder)
        return;
    folder->setCheckState(state);
    reloadCheckboxes();
    refreshStatusBar();
}

bool KRABatchConvertDialog::toggleItemCheckboxes(KRAOutlineView*, const QList<QModelIndex>& items)
{
    for (const QModelIndex& index : items)
        folderCheckClicked(m_treeModel->refAt(index));
    return true;
}

bool KRABatchConvertDialog::toggleRowCheckboxes(KRATableView*, const QList<int>& rows)
{
    if (rows.isEmpty())
        return true;
    const clFileListEntryRef first = m_filesModel->fileAt(rows.first());
    const bool checked = first && !first->checked();
    for (int row : rows)
        if (const clFileListEntryRef file = m_filesModel->fileAt(row))
            if (file->checked() != checked)
                file->setChecked(checked);
    reloadCheckboxes();
    refreshStatusBar();
    return true;
}

void KRABatchConvertDialog::onFilesToggleCheckSelected(bool checked)
{
    if (!m_fileList)
        return;
    for (const QModelIndex& index : m_fileList->selectionModel()->selectedRows())
        if (const clFileListEntryRef file = m_filesModel->fileAt(index.row()))
            if (file->checked() != checked)
                file->setChecked(checked);
    reloadCheckboxes();
    refreshStatusBar();
}

void KRABatchConvertDialog::onFilesCheckAll(bool checked)
{
    if (!m_curFolder)
        return;
    m_curFolder->setFilesCheckState(checked ? 1 : 0);
    reloadCheckboxes();
    refreshStatusBar();
}

void KRABatchConvertDialog::onFilesInvertSelection()
{
    if (!m_curFolder)
        return;
    m_curFolder->invertFilesCheckState();
    reloadCheckboxes();
    refreshStatusBar();
}

bool KRABatchConvertDialog::allRootsUnchecked() const
{
    for (const clFolderListEntryRef& root : m_rootFolders)
        if (root->checkState() != Unchecked)
            return false;
    return true;
}

void KRABatchConvertDialog::onButtonReset()
{
    if (allRootsUnchecked())
        return;
    const auto host = m_host.lock();
    auto* box = new QMessageBox(QMessageBox::Question, QStringLiteral("Batch Converter"),
                                QStringLiteral("Clear All Selections?"), QMessageBox::Yes | QMessageBox::No,
                                host ? host->mainWindow() : nullptr);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setEscapeButton(QMessageBox::No);
    box->setWindowModality(Qt::WindowModal);
    const std::weak_ptr<KRABatchConvertDialog> weak = weak_from_this();
    connect(box, &QMessageBox::finished, this, [weak, box](int) {
        const auto self = weak.lock();
        if (!self)
            return;
        if (box->clickedButton() == box->button(QMessageBox::Yes))
            for (const clFolderListEntryRef& root : self->m_rootFolders)
                root->setCheckState(Unchecked);
        self->reloadCheckboxes();
        self->refreshStatusBar();
    });
    box->open();
}

void KRABatchConvertDialog::onButtonRefresh()
{
    for (const clFolderListEntryRef& root : m_rootFolders)
        root->beginRefresh();
    if (m_curFolder && !m_rootFolders.contains(m_curFolder))
        m_curFolder->beginRefresh();
}

// ---- The status line ----

QString KRABatchConvertDialog::statusText() const
{
    if (!m_curFolder)
        return QStringLiteral("Nothing selected.");
    const QString path = m_curFolder->path();
    if (!m_curFolder->filesLoaded() && m_curFolder->accessError().isEmpty())
        return QStringLiteral("Looking for %1 Files in Folder: %2").arg(QStringLiteral("Video"), path);
    uint64_t total = 0, ticked = 0;
    size_t tickedCount = 0;
    for (const clFileListEntryRef& file : m_curFiles) {
        total += file->size();
        if (file->checked()) {
            ++tickedCount;
            ticked += file->size();
        }
    }
    QString text = QStringLiteral("%1 %2 Files Shown").arg(m_curFiles.size()).arg(QStringLiteral("Video"));
    if (total != 0)
        text += QStringLiteral(" (%1)").arg(QKStringTools::formatFileSize(total));
    if (tickedCount > 0) {
        text += QStringLiteral(", %1 Files Selected").arg(tickedCount);
        if (ticked != 0)
            text += QStringLiteral(" (%1)").arg(QKStringTools::formatFileSize(ticked));
    }
    return text + QStringLiteral(" in Folder: %1").arg(path);
}

void KRABatchConvertDialog::refreshStatusBar()
{
    if (m_statusBar)
        m_statusBar->setText(statusText());
}

// ---- Converting ----

void KRABatchConvertDialog::showMessage(const QString& text)
{
    const auto host = m_host.lock();
    QKNoFilesSelectedMsg::runWithWindow(host ? host->mainWindow() : nullptr, text);
}

void KRABatchConvertDialog::startGrabCheckedFiles(unsigned tag, bool justURLs)
{
    if (allRootsUnchecked()) {
        showMessage();
        return;
    }
    saveProfile();
    const auto host = m_host.lock();
    if (!host)
        return;
    auto grabber = std::make_shared<KRABatchFileListGrabberDialog>(weak_from_this(), tag, justURLs, m_rootFolders);
    host->setCurrentPanel(grabber);
    grabber->view(); // starts the worker even where the host shows nothing (tests)
}

void KRABatchConvertDialog::onGrabListDone(unsigned tag, const std::optional<std::vector<clFileListEntryRef>>& results,
                                           const std::vector<clFileListEntryRef>& missing)
{
    const auto host = m_host.lock();
    if (!host)
        return;
    if (!results) {
        host->setCurrentPanel(shared_from_this());
        return;
    }
    if (!missing.empty()) {
        // One message for all of them; their folders are listed again, which drops them.
        QStringList paths;
        std::set<clFolderListEntry*> refreshed;
        for (const clFileListEntryRef& file : missing) {
            paths << file->path();
            if (const clFolderListEntryRef folder = file->parent(); folder && refreshed.insert(folder.get()).second)
                folder->beginRefresh();
        }
        if (results->empty())
            host->setCurrentPanel(shared_from_this());
        showProblem(QKNoFilesSelectedMsg::missingFilesText(paths));
        if (results->empty())
            return;
    }
    if (results->empty()) {
        host->setCurrentPanel(shared_from_this());
        showMessage();
        return;
    }
    QList<QUrl> urls;
    for (const clFileListEntryRef& row : *results)
        urls << row->url();
    const std::vector<clFileListEntryRef>& rows = *results;
    QKAppDelegateMethods* delegate = QKAppDelegateMethods::shared();
    switch (tag) {
    case 1:
        host->setCurrentPanel(KRABatchFileListDialog::create(rows, shared_from_this()));
        break;
    case 2:
        if (delegate)
            delegate->preConvertFrom(urls, host, shared_from_this());
        break;
    case 3:
        if (urls.size() == 1) {
            host->setCurrentPanel(shared_from_this());
            showMessage(QStringLiteral("More than one file required for concatenation."));
        } else if (delegate) {
            delegate->beginConcatenate(urls, host, shared_from_this());
        }
        break;
    default:
        host->setCurrentPanel(shared_from_this());
        break;
    }
}

void KRABatchConvertDialog::onSubDialogDone()
{
    if (const auto host = m_host.lock())
        host->panelBacktraceTo(shared_from_this());
}

// ---- Menus ----

QList<QUrl> KRABatchConvertDialog::actionFiles() const
{
    QList<QUrl> urls;
    if (!m_fileList)
        return urls;
    QList<int> rows;
    for (const QModelIndex& index : m_fileList->selectionModel()->selectedRows())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    if (m_menuRow >= 0 && !rows.contains(m_menuRow))
        rows = {m_menuRow};
    for (int row : rows)
        if (const clFileListEntryRef file = m_filesModel->fileAt(row))
            urls << file->url();
    return urls;
}

void KRABatchConvertDialog::showFolderMenu(const QPoint& at)
{
    m_menuFolder = m_treeModel->refAt(m_folderTree->indexAt(at));
    QMenu menu(m_folderTree);
    const clFolderListEntryRef folder = m_menuFolder;
    auto add = [&](const QString& text, bool enabled, std::function<void()> action) {
        QAction* item = menu.addAction(text);
        item->setEnabled(enabled);
        connect(item, &QAction::triggered, this, std::move(action));
    };
    add(QStringLiteral("Tick With Sub-folders"), folder != nullptr,
        [this, folder] { setFolderCheck(folder, Recursive); });
    add(QStringLiteral("Tick This Folder Only"), folder != nullptr,
        [this, folder] { setFolderCheck(folder, NonRecursive); });
    add(QStringLiteral("Untick"), folder != nullptr, [this, folder] { setFolderCheck(folder, Unchecked); });
    menu.addSeparator();
    add(QStringLiteral("Untick All"), !allRootsUnchecked(), [this] { onButtonReset(); });
    menu.addSeparator();
    add(QStringLiteral("Show in File Manager"), folder != nullptr,
        [folder] { XOpenWithWorkspace(XStrFromQString(folder->path())); });
    menu.exec(m_folderTree->viewport()->mapToGlobal(at));
    m_menuFolder.reset();
}

void KRABatchConvertDialog::showFileMenu(const QPoint& at)
{
    m_menuRow = m_fileList->indexAt(at).row();
    const bool selected = m_fileList->selectionModel()->hasSelection();
    const bool shown = !m_curFiles.empty();
    QMenu menu(m_fileList);
    auto add = [&](const QString& text, bool enabled, std::function<void()> action) {
        QAction* item = menu.addAction(text);
        item->setEnabled(enabled);
        connect(item, &QAction::triggered, this, std::move(action));
    };
    add(QStringLiteral("Tick Selected"), selected, [this] { onFilesToggleCheckSelected(true); });
    add(QStringLiteral("Untick Selected"), selected, [this] { onFilesToggleCheckSelected(false); });
    menu.addSeparator();
    add(QStringLiteral("Tick All"), shown, [this] { onFilesCheckAll(true); });
    add(QStringLiteral("Untick All"), shown, [this] { onFilesCheckAll(false); });
    add(QStringLiteral("Invert Ticks"), shown, [this] { onFilesInvertSelection(); });
    menu.addSeparator();
    const QList<QUrl> files = actionFiles();
    add(QStringLiteral("Show in File Manager"), m_curFolder != nullptr, [this, files] {
        if (!files.isEmpty())
            XRevealInFileManager(files);
        else if (m_curFolder)
            XOpenWithWorkspace(XStrFromQString(m_curFolder->path()));
    });
    add(QStringLiteral("Concatenate..."), m_fileList->selectionModel()->selectedRows().size() > 1, [this, files] {
        const auto host = m_host.lock();
        if (QKAppDelegateMethods* delegate = QKAppDelegateMethods::shared(); delegate && host)
            delegate->beginConcatenate(files, host, shared_from_this());
    });
    menu.exec(m_fileList->viewport()->mapToGlobal(at));
    m_menuRow = -1;
}
