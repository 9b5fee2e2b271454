// The batch converter window: a tree of folders with tick boxes on the left, the media files
// of the selected folder on the right, a status line, the batch profile pop-up, Filters and
// the Convert, List and Concatenate buttons. The ticked files are collected by the file
// grabber and handed to the converter window (or the file list, or the concatenation order).
//
// A panel of a window host, owned by a shared pointer made by create(): the folder tree and
// the folder watcher hold it weakly, so that whatever they deliver after the window has gone
// is dropped. The panel itself runs on the main thread; filter() and currentSelection() are
// also read by the file grabber's worker, under the panel's lock.
#pragma once

#include "batch/KRABatchConverterProfile.h"
#include "batch/KRAFileChangeNotify.h"
#include "batch/clFolderListEntry.h"
#include "kit/KRAOutlineView.h"
#include "kit/KRAPanel.h"
#include "kit/KRASortDescriptor.h"
#include "kit/KRATableView.h"
#include "kit/QKAppDelegateMethods.h"

#include <QComboBox>
#include <QHash>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSplitter>

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class KRAMetaFieldCache;
class KRATableColumns;
class KRABatchFileRowsModel;
class KRAFolderTreeModel;
class QMenu;

class KRABatchConvertDialog : public QKPanelViewController,
                              public KRAFolderTreeOwner,
                              public KRAFileChangeNotifyClient,
                              public QKBatchConverterProfileSource,
                              public KRATableViewDelegate,
                              public KRAOutlineViewDelegate,
                              public std::enable_shared_from_this<KRABatchConvertDialog> {
    Q_OBJECT
public:
    static constexpr const char* kNoneSelected = "(none selected)";
    static constexpr const char* kCreateProfile = "Create Profile";
    static constexpr const char* kDeleteProfile = "Delete Profile";
    static constexpr const char* kProfileKey = "FileSelectorProfile";
    static constexpr const char* kLocationKey = "FileSelectorLocation";
    // How long the start-up selection waits for one folder's listing before it stops there
    // (a hung mount), while the window goes on.
    static constexpr int kListingTimeLimitMs = 3000;

    // With start-up folders (files too): those are ticked, everything else unticked, and
    // their common parent selected. Without: the last profile and the last folder. roots
    // (URL, name) replace the usual ones (home, computer, volumes, network).
    static std::shared_ptr<KRABatchConvertDialog> create(const std::shared_ptr<KRAPanelHostInterface>& host,
                                                         const std::optional<QList<QUrl>>& selection = std::nullopt,
                                                         const QList<std::pair<QUrl, QString>>& roots = {});
    ~KRABatchConvertDialog() override;

    const QList<clFolderListEntryRef>& rootFolders() const { return m_rootFolders; }
    clFolderListEntryRef currentFolder() const { return m_curFolder; }
    const std::vector<clFileListEntryRef>& currentFiles() const { return m_curFiles; }
    KRABatchConverterProfileRef currentProfile() const { return m_currentProfile; }
    std::shared_ptr<KRAMetaFieldCache> metaFieldCache();
    std::shared_ptr<KRAPanelHostInterface> host() const { return m_host.lock(); }

    // The folders whose files are ticked; with none, the current folder.
    QList<QUrl> selectedFolders() const;
    clFolderListEntryRef rootFolderForURL(const QUrl& url) const;
    clFolderListEntryRef folderForURL(const QUrl& url) const;

    // Ticks exactly the folders among the items and selects their common parent (initial:
    // also the remembered location when there are no items, and every root expanded). The
    // folders on the way are listed in the background; the selection follows as they arrive.
    void selectTheseItems(const QList<QUrl>& items, bool initial);
    // Whether a start-up or dropped selection is still waiting for listings.
    bool isSelecting() const { return !m_walk.names.isEmpty() || m_walk.waitingFor; }
    void selectThisFolder(const clFolderListEntryRef& folder);

    // ---- Commands ----
    void onButtonConvert() { startGrabCheckedFiles(2, true); }
    void onButtonList() { startGrabCheckedFiles(1, false); }
    void onButtonConcatenate() { startGrabCheckedFiles(3, true); }
    void onButtonFilter();
    void onButtonReset();
    void onButtonRefresh();
    void folderCheckClicked(const clFolderListEntryRef& folder);
    void setFolderCheck(const clFolderListEntryRef& folder, int state);
    void onFilesToggleCheckSelected(bool checked);
    void onFilesCheckAll(bool checked);
    void onFilesInvertSelection();
    void onProfileSelected(const QString& name);
    void startGrabCheckedFiles(unsigned tag, bool justURLs);
    // missing: ticked files that were no longer on the disk; they are named in one message.
    void onGrabListDone(unsigned tag, const std::optional<std::vector<clFileListEntryRef>>& results,
                        const std::vector<clFileListEntryRef>& missing = {});
    // What the name sheet's OK does: a new profile of that name with the filters in force,
    // from a copy of the current one or empty, keeping the ticks or not. False (and a
    // message when the file cannot be written) when nothing was made.
    bool createProfile(const QString& name, bool copyCurrent, bool keepTicks);
    // What Yes to "Delete profile" does: the file goes, and every tick with the profile.
    bool deleteCurrentProfile();
    // The last warning shown (a profile that cannot be loaded, files that are gone).
    QString lastProblem() const { return m_lastProblem; }
    // The filters dialog ended (1: OK) with its filter.
    void returnFromFiltersDialog(const KRAFileFilter& filter, int status);
    void onSubDialogDone();
    // Table updates of the information columns so far (tests).
    int infoUpdateCount() const { return m_infoUpdates; }

    // ---- What the status line says, the buttons and the views (tests, pictures) ----
    QString statusText() const;
    void refreshStatusBar();
    void refreshCurrentFiles();
    QComboBox* profilePopup() const { return m_profilePopup; }
    QPushButton* convertButton() const { return m_btnConvert; }
    QPushButton* filtersButton() const { return m_btnFilters; }
    KRAOutlineView* folderTree() const { return m_folderTree; }
    KRATableView* fileList() const { return m_fileList; }
    QLabel* permissionsHelp() const { return m_permissionsHelp; }
    QStringList profileList() const { return m_profileList; }

    // ---- KRAFolderTreeOwner (filter and selection: any thread) ----
    std::shared_ptr<KRAFileFilter> filter() const override;
    QVariant currentSelection() const override;
    void forgetSelection(const QString& path) override;
    void folderAddRemoveFolders(clFolderListEntry* folder, const clFoldersAddRemove& change) override;
    void folderFilesListReady(clFolderListEntry* folder) override;
    void folderFileInfoLoaded(clFolderListEntry* folder, const clFileListEntryRef& file) override;
    void folderAccessError(clFolderListEntry* folder, const QString& error, int errorNumber) override;

    // ---- KRAFileChangeNotifyClient ----
    void onFileChangeEventFrom(KRAFileChangeNotify* watcher) override;

    // ---- QKBatchConverterProfileSource ----
    std::optional<QString> currentProfileName() const override;

    // ---- The views' keys ----
    std::optional<int> checkboxColumn(KRATableView*) override { return 0; }
    bool toggleRowCheckboxes(KRATableView*, const QList<int>& rows) override;
    bool toggleItemCheckboxes(KRAOutlineView*, const QList<QModelIndex>& items) override;

    // ---- KRAPanel ----
    QSize panelMinSize() override { return QSize(600, 300); }
    QSize panelPreferredSize() override { return QSize(960, 560); }
    bool panelSizeToHost() override { return true; }
    QString panelSizeClass() override { return QStringLiteral("Batch Converter"); }
    bool panelIsRoot() override { return true; }
    bool panelAllowsOpenFileMenu() override { return true; }
    QUrl panelHelpURL() override;
    void panelAttachedToHost(const std::shared_ptr<KRAPanelHostInterface>& host) override;
    void panelBeforeBacktraceFrom(KRAPanel* from) override;
    void panelWillClose() override;

protected:
    void loadView() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit KRABatchConvertDialog(const std::shared_ptr<KRAPanelHostInterface>& host);
    void init(const std::optional<QList<QUrl>>& selection, const QList<std::pair<QUrl, QString>>& roots);
    void loadProfileList();
    void showProfileName(const QString& name);
    void onProfileChanged();
    void saveProfile();
    bool saveProfileAs(const KRABatchConverterProfileRef& profile);
    // The ticks of the whole tree as selection data, the folders never listed included.
    QVariantMap collectSelection() const;
    void showProblem(const QString& text);
    void refreshFiltersButton();
    void onFiltersChanged();
    void folderSelChanged();
    void onFolderSelectionChanged();
    void reloadCheckboxes();
    void flushInfoUpdates();
    void walkOn();
    void finishWalk();
    void showMessage(const QString& text = QString());
    QList<QUrl> actionFiles() const;
    clFolderListEntryRef clickedFolder() const;
    void showFolderMenu(const QPoint& at);
    void showFileMenu(const QPoint& at);
    void setProfile(const KRABatchConverterProfileRef& profile);
    void setFilter(const std::shared_ptr<KRAFileFilter>& filter);
    bool allRootsUnchecked() const;

    std::weak_ptr<KRAPanelHostInterface> m_host;
    QList<clFolderListEntryRef> m_rootFolders;
    clFolderListEntryRef m_curFolder;
    std::vector<clFileListEntryRef> m_curFiles;
    std::shared_ptr<KRAFileChangeNotify> m_fileChangeNotify;
    std::shared_ptr<KRAMetaFieldCache> m_metaFieldCache;
    KRASortDescriptor m_sort;
    QList<QUrl> m_startupSelectMe;
    bool m_startupPending = false;
    bool m_startupInitial = false;

    mutable std::mutex m_lock; // the filter and the profile, which the grabber's worker reads
    std::shared_ptr<KRAFileFilter> m_filter;
    KRABatchConverterProfileRef m_currentProfile;

    QStringList m_profileList;
    QString m_shownProfileName;
    QString m_pendingProblem; // found before the window was shown
    QString m_lastProblem;

    // Lite-information rows waiting for the next table update.
    std::vector<std::pair<std::weak_ptr<clFolderListEntry>, clFileListEntryRef>> m_infosLoaded;
    bool m_infoFlushScheduled = false;
    int m_infoUpdates = 0;

    // The selection walk: the folder reached, the names still to find, the folder whose
    // listing it waits for, and the folders to expand once it ends.
    struct Walk {
        QStringList names;
        clFolderListEntryRef at;
        clFolderListEntryRef waitingFor;
        std::vector<clFolderListEntryRef> toExpand;
        QList<QUrl> tickItems;
        uint64_t generation = 0;
    } m_walk;

    QPointer<QSplitter> m_splitView;
    QPointer<KRAOutlineView> m_folderTree;
    QPointer<KRATableView> m_fileList;
    QPointer<QLabel> m_statusBar;
    QPointer<QLabel> m_permissionsHelp;
    QPointer<QComboBox> m_profilePopup;
    QPointer<QPushButton> m_btnFilters;
    QPointer<QPushButton> m_btnConvert;
    QPointer<QPushButton> m_btnList;
    QPointer<QPushButton> m_btnConcatenate;
    KRAFolderTreeModel* m_treeModel = nullptr;
    KRABatchFileRowsModel* m_filesModel = nullptr;
    KRATableColumns* m_columns = nullptr;
    clFolderListEntryRef m_menuFolder;
    int m_menuRow = -1;
};
