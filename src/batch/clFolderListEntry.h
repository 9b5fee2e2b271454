// One folder of the batch converter's tree. It lists its sub-folders and media files lazily on
// the shared worker pool, filters the files by format and by the window's filter, keeps a
// six-valued check state, passes check changes up and down the tree, turns the checks into a
// profile's selection data and back, and collects the ticked files for a conversion.
//
// Only the main thread changes the tree: the workers that list folders hand their results to
// it, and a result for a node that is gone, or for a load that a newer one replaced, is
// dropped. The collection runs on the grabber's worker: it reads the tree under each node's
// lock (check states and ticks are atomics) and reads from the disk what was never listed,
// without storing it in the tree.
#pragma once

#include "batch/clFileListEntry.h"
#include "kit/KRASortDescriptor.h"
#include "kit/KillSwitch.h"

#include <QDateTime>
#include <QImage>
#include <QList>
#include <QSet>
#include <QString>
#include <QUrl>
#include <QVariant>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

class KRAFileFilter;
class QKMediaFormatFilter;
class clFolderListEntry;
using clFolderListEntryRef = std::shared_ptr<clFolderListEntry>;

enum FolderCheckState : int32_t {
    Recursive = 0,
    NonRecursive = 1,
    SubSelected = 2,
    IndivSelected = 3,
    Unchecked = 4,
    Checked = 5,
};

// What a merge of a listing did to a folder's sub-folders.
struct clFoldersAddRemove {
    uint64_t numFoldersBefore = 0;
    QList<int> foldersAdded;   // indexes in the new list
    QList<int> foldersRemoved; // indexes in the old list
    QList<clFolderListEntryRef> foldersToRefresh;
};

// The window that owns a tree: its filter, its current profile's selection, and what it is
// told as loads finish. Main thread only.
class KRAFolderTreeOwner {
public:
    virtual ~KRAFolderTreeOwner();
    // Read fresh at every use; none: no restriction.
    virtual std::shared_ptr<KRAFileFilter> filter() const = 0;
    // The current profile's selection data (path -> word); none or not a map: no selection.
    virtual QVariant currentSelection() const = 0;
    virtual void folderAddRemoveFolders(clFolderListEntry* folder, const clFoldersAddRemove& change)
    {
        (void)folder;
        (void)change;
    }
    virtual void folderFilesListReady(clFolderListEntry* folder) { (void)folder; }
    virtual void folderFileInfoLoaded(clFolderListEntry* folder, const clFileListEntryRef& file)
    {
        (void)folder;
        (void)file;
    }
    virtual void folderAccessError(clFolderListEntry* folder, const QString& error, int errorNumber)
    {
        (void)folder;
        (void)error;
        (void)errorNumber;
    }
    // The tree no longer holds ticks at the path or below it (gone from the disk, or set
    // anew by the user): the selection data must not bring them back later.
    virtual void forgetSelection(const QString& path) { (void)path; }
};

// The six check-box pictures of the tree, loaded once from the resources.
class folderStateImageHelper {
public:
    folderStateImageHelper();
    // The picture of states 0-5; a null image for any other value.
    QImage checkBoxImageForState(int state) const;

private:
    QImage m_images[6];
};

// Shared by every node below one root.
class folderListGlobals {
public:
    explicit folderListGlobals(const std::weak_ptr<KRAFolderTreeOwner>& owner);
    ~folderListGlobals();
    // Every format enabled. Read-only once made, so workers may use it.
    const QKMediaFormatFilter& formats() const { return *m_formats; }
    std::shared_ptr<KRAFolderTreeOwner> owner() const { return m_owner.lock(); }
    std::shared_ptr<KRAFileFilter> fileFilter() const;
    const folderStateImageHelper& images() const { return m_images; }
    // Whether the files' lite information is read after listing, for the table's columns.
    bool loadInfoForColumns = true;

private:
    std::unique_ptr<QKMediaFormatFilter> m_formats;
    std::weak_ptr<KRAFolderTreeOwner> m_owner;
    folderStateImageHelper m_images;
};
using folderListGlobalsRef = std::shared_ptr<folderListGlobals>;

// Receives the collected files on the grabber's worker.
class KRACollectSink {
public:
    virtual ~KRACollectSink();
    virtual bool aborting() const = 0;
    virtual void addFile(const clFileListEntryRef& file) = 0;
    // A ticked file of the tree that is no longer on the disk: it is not handed over.
    virtual void fileMissing(const clFileListEntryRef& file) { (void)file; }
};

class clFolderListEntry : public std::enable_shared_from_this<clFolderListEntry> {
public:
    // The roots: the home folder ("%1's Home", when HOME and USER are set), the whole
    // computer ("Computer", "/"), mounted volumes ("Volumes", the first of /run/media/$USER
    // and /media/$USER that has entries) and network mounts ("Network", the desktop's
    // network folder when it has entries).
    static QList<clFolderListEntryRef> rootFoldersWithOwner(const std::weak_ptr<KRAFolderTreeOwner>& owner);
    static clFolderListEntryRef rootForURL(const QUrl& url, const std::weak_ptr<KRAFolderTreeOwner>& owner,
                                           const QString& customName = QString());
    // A child of parent (it starts ticked recursively when the parent is, else unticked).
    static clFolderListEntryRef create(const QUrl& url, const clFolderListEntryRef& parent);
    ~clFolderListEntry();

    QUrl url() const { return m_url; }
    QString path() const { return m_path; }
    folderListGlobalsRef globals() const { return m_globals; }
    clFolderListEntryRef parent() const { return m_parent.lock(); }
    QString customName() const { return m_customName; }
    QString name() const;
    // Natural order of names (case-insensitive, digit runs by value).
    bool lessThan(const clFolderListEntry& other) const;

    std::vector<clFileListEntryRef> files() const;
    std::vector<clFolderListEntryRef> folders() const;
    QList<QUrl> fileURLs() const;
    clFolderListEntryRef subFolderAt(const QString& name) const;
    static clFolderListEntryRef subFolderAt(const QString& name, const std::vector<clFolderListEntryRef>& folders);
    // Names from the child of ancestor (from the root without one) down to this node.
    void grabRelativePath(QStringList& names, const clFolderListEntry* ancestor) const;
    std::vector<clFileListEntryRef> sortFilesUsingDescriptors(const QList<KRASortDescriptor>& descriptors);

    // ---- Loading (main thread) ----
    void wantFolders();
    void wantFiles();
    // Lists the folder again; while a load runs, once that load is done (the change may have
    // come after it read the disk).
    void beginRefresh();
    bool isWorking() const;
    bool hasListing() const;
    bool filesLoaded() const { return m_wantFiles && m_filesReady; }
    // The sub-folders, listed now when they never were; a folder that takes longer than the
    // time limit (a hung mount) gives what there is, and its listing arrives later.
    std::vector<clFolderListEntryRef> getFoldersSynchronously(int timeLimitMs = 3000);
    QString accessError() const { return m_accessError; }

    // ---- Checks (main thread) ----
    FolderCheckState checkState() const { return static_cast<FolderCheckState>(m_checkState.load()); }
    void setCheckState(int state);
    bool allChildrenUnchecked() const;
    // 0: no file or none ticked; 1: all ticked; -1: some.
    int filesCheckState() const;
    void setFilesCheckState(int state);
    void invertFilesCheckState();
    void onFileChecked(bool checked);
    void onHaveFileChecked(bool any);
    void postRefresh();
    // What a click on the folder's check box makes of a state.
    static int nextCheckStateOnClick(int state);
    static QString imageNameForState(int state);
    // The picture of the current state (null for a node made without a root).
    QImage checkImage() const;
    int64_t checkedFileCount() const { return m_checkedFiles; }

    // ---- Selection data: path -> "Recursive", "NonRecursive", "SubSelected",
    // "IndivSelected", "Checked" ----
    // previous: the selection data the tree was made from; its entries stand for the folders
    // the tree never listed, so that saving again loses nothing of them.
    void collectSelectionData(QVariantMap& data, const QVariantMap& previous = {}) const;
    // Sets this folder and everything below it from the data, whatever it showed before: a
    // child of a folder ticked with everything below is ticked so too, a child of an
    // unticked one is unticked, the others take the data's word.
    void applySelectionData(const QVariant& data);
    // Removes the path and everything below it from selection data (a map; anything else
    // stays). False when there was nothing to remove.
    static bool forgetInSelection(QVariant& selection, const QString& path);

    // ---- Collecting (the grabber's worker) ----
    // Ticked files, depth-first: a folder's own files, then its sub-folders in tree order.
    // Each real folder is collected once (links to folders are not followed, and a folder
    // reached again through another root is skipped); one that cannot be read is skipped
    // with a log line. Stops before the next folder once the sink is aborting.
    void collectCheckedFiles(KRACollectSink& sink);
    // The same over several roots in order, each real folder once across all of them.
    static void collectCheckedFiles(const QList<clFolderListEntryRef>& roots, KRACollectSink& sink);
    // The folders whose files count: states 0, 1, 3, 5 give the folder, 2 its children's.
    QList<QUrl> collectCheckedFolders() const;

    // ---- Filtering (main thread) ----
    void filterFileList();
    void applyFormatFilterRecur();

    // A folder's listing: its sub-folders and its files, each sorted naturally by path, or
    // the error. Each file is stat'ed once, here (a link to a file counts as that file; links
    // to folders are left out); the records go on to the scan and into the rows as they are.
    struct Listing {
        std::vector<QString> folders;
        std::vector<clAsyncReadFileRef> files;
        QString error;
        int errorNumber = 0;
        bool ok() const { return error.isEmpty(); }
    };
    static Listing listFolder(const QString& path);
    // Scans the files of a listing: entries without a date skipped, records reused from hints
    // whose date is unchanged (with getMeta only those with information), the lite
    // information read with getMeta (a file whose information cannot be read left out). None
    // when the kill switch was raised.
    static std::optional<std::vector<clAsyncReadFileRef>> readFromURLs(const std::vector<clAsyncReadFileRef>& files,
                                                                       const std::vector<clAsyncReadFileRef>& hints,
                                                                       bool getMeta, const KillSwitchRef& killSwitch);
    // Orders rows by the descriptors (each row's sort values made once, not per comparison);
    // rows the descriptors cannot tell apart keep their order.
    static void sortRows(std::vector<clFileListEntryRef>& rows, const QList<KRASortDescriptor>& descriptors);

private:
    clFolderListEntry(const QUrl& url, const folderListGlobalsRef& globals, const clFolderListEntryRef& parent);

    void beginLoadFolders();
    void beginLoadFiles();
    void beginLoadFileInfo();
    struct FilesResult;
    struct FilesJob;
    std::shared_ptr<const FilesJob> filesJob();
    // None when the kill switch was raised.
    static std::shared_ptr<FilesResult> runFilesJob(const FilesJob& job, const std::vector<clAsyncReadFileRef>& files,
                                                    const KillSwitchRef& cookie);
    void contentLoaded(Listing listing, const KillSwitchRef& cookie,
                       const std::shared_ptr<FilesResult>& files = nullptr);
    void filesLoaded(FilesResult& result, const KillSwitchRef& cookie);
    void deliverInfo(const QString& path, const QKMediaFileInfoRef& info, const KillSwitchRef& cookie);
    std::optional<clFoldersAddRemove> makeFolders();
    void makeFoldersRefreshOwner();
    void afterFilesChanged(bool newTicks);
    void recountChecked();
    void settleAfterFileChange();
    void demoteRecursive();
    void setFileChecksDown(bool checked);
    void applyState(int state, const QVariantMap& data);
    void settleAfterRemoval();
    void forget(const QString& path) const;
    void finishLoad();

    const QUrl m_url;
    const QString m_path;
    const folderListGlobalsRef m_globals;
    const std::weak_ptr<clFolderListEntry> m_parent;
    QString m_customName;

    mutable std::mutex m_lock; // guards the four lists below
    std::vector<clAsyncReadFileRef> m_filesIntermediate;
    std::vector<clFileListEntryRef> m_files;
    std::vector<clFolderListEntryRef> m_folders;
    std::shared_ptr<const Listing> m_allContent;

    std::atomic<int32_t> m_checkState{Unchecked};
    std::atomic<int64_t> m_checkedFiles{0};
    bool m_wantFolders = false;
    bool m_wantFiles = false;
    bool m_refreshPending = false;         // a change came in while a load ran
    std::atomic<bool> m_filesReady{false}; // read by the collection's worker
    // Under m_lock: m_files holds the loaded listing. The listing is ready a moment before its
    // files are filtered into m_files, and a collection in between must not take the empty list.
    bool m_filesInList = false;
    std::unique_ptr<KillSwitchHolder> m_loader;
    std::unique_ptr<KillSwitchHolder> m_infoLoader;
    std::vector<QString> m_infoPaths;                    // the names of the files the reader above probes, in order
    size_t m_infoFileCursor = 0, m_infoRecordCursor = 0; // where its last delivery was found
    // Bumped whenever the rows, the filter or what new rows are ticked with may have changed
    // on the main thread: a file list built meanwhile on a worker is then built again here.
    uint64_t m_filesGeneration = 0;
    // The order m_files is in, and the order the table asked for last.
    QList<KRASortDescriptor> m_filesSortedBy, m_sortWanted;
    std::shared_ptr<std::atomic<bool>> m_infoRunning; // cleared when it has done them all
    QString m_accessError;
};
