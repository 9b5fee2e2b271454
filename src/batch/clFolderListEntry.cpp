#include "batch/clFolderListEntry.h"

#include "batch/KRAFileFilter.h"
#include "batch/KRAWorkerPool.h"
#include "batch/QKMediaFormatFilter.h"
#include "kit/QKNamedImages.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"
#include "xclass/XMainQueue.h"

#include <QHash>
#include <QSet>
#include <QtDebug>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <map>
#include <set>

namespace {

const char* const kWords[] = {"Recursive", "NonRecursive", "SubSelected", "IndivSelected"};

std::string Bytes(const QString& path)
{
    return XStrFromQString(path).ToUTF8String();
}

QString Text(const char* bytes)
{
    // Most names are plain ASCII: those need none of the lossless decoding's work.
    bool ascii = true;
    size_t length = 0;
    for (; bytes[length]; ++length)
        ascii = ascii && static_cast<unsigned char>(bytes[length]) < 0x80;
    if (ascii)
        return QString::fromLatin1(bytes, static_cast<qsizetype>(length));
    return XStrToQString(XStr::FromUTF8(bytes));
}

QDateTime FromStatx(const statx_timestamp& time)
{
    return QDateTime::fromMSecsSinceEpoch(time.tv_sec * 1000LL + time.tv_nsec / 1000000, Qt::UTC);
}

// The state a selection word stands for; Unchecked for anything else.
int StateOfWord(const QVariant& value)
{
    if (value.typeId() != QMetaType::QString)
        return Unchecked;
    const QString word = value.toString();
    for (int state = Recursive; state <= IndivSelected; ++state)
        if (word == QLatin1String(kWords[state]))
            return state;
    return Unchecked;
}

// A time in the file-time units of the media information: 100 ns since 1601.
uint64_t FileTime(const QDateTime& time)
{
    constexpr int64_t kSeconds1601To1970 = 11644473600LL;
    return static_cast<uint64_t>((time.toMSecsSinceEpoch() + kSeconds1601To1970 * 1000) * 10000);
}

bool Readable(int state)
{
    return state == Recursive || state == NonRecursive || state == IndivSelected || state == Checked;
}

} // namespace

// The rows a worker made of a listing, for the main thread to take.
struct clFolderListEntry::FilesResult {
    std::vector<clAsyncReadFileRef> records;
    std::vector<clFileListEntryRef> files;
    std::vector<clFileListEntryRef> gone; // ticked rows whose file is no longer listed
    QList<KRASortDescriptor> sortedBy;
    uint64_t generation = 0;
    bool newTicks = false;
};

KRAFolderTreeOwner::~KRAFolderTreeOwner() = default;
KRACollectSink::~KRACollectSink() = default;

// ---- Globals ----

folderStateImageHelper::folderStateImageHelper()
{
    for (int state = Recursive; state <= Checked; ++state)
        m_images[state] = QKNamedImages::imageNamed(clFolderListEntry::imageNameForState(state));
}

QImage folderStateImageHelper::checkBoxImageForState(int state) const
{
    return state >= Recursive && state <= Checked ? m_images[state] : QImage();
}

folderListGlobals::folderListGlobals(const std::weak_ptr<KRAFolderTreeOwner>& owner)
    : m_formats(std::make_unique<QKMediaFormatFilter>()), m_owner(owner)
{
    m_formats->toggleAll(true);
}

folderListGlobals::~folderListGlobals() = default;

std::shared_ptr<KRAFileFilter> folderListGlobals::fileFilter() const
{
    const auto owner = m_owner.lock();
    return owner ? owner->filter() : nullptr;
}

// ---- Construction ----

clFolderListEntry::clFolderListEntry(const QUrl& url, const folderListGlobalsRef& globals,
                                     const clFolderListEntryRef& parent)
    : m_url(url), m_path(XStrToQString(XPathFromFileURL(url))), m_globals(globals), m_parent(parent)
{
    if (parent && parent->checkState() == Recursive)
        m_checkState = Recursive;
}

clFolderListEntry::~clFolderListEntry() = default;

clFolderListEntryRef clFolderListEntry::create(const QUrl& url, const clFolderListEntryRef& parent)
{
    return clFolderListEntryRef(new clFolderListEntry(url, parent ? parent->m_globals : nullptr, parent));
}

clFolderListEntryRef clFolderListEntry::rootForURL(const QUrl& url, const std::weak_ptr<KRAFolderTreeOwner>& owner,
                                                   const QString& customName)
{
    auto root = clFolderListEntryRef(new clFolderListEntry(url, std::make_shared<folderListGlobals>(owner), nullptr));
    root->m_customName = customName;
    return root;
}

QList<clFolderListEntryRef> clFolderListEntry::rootFoldersWithOwner(const std::weak_ptr<KRAFolderTreeOwner>& owner)
{
    auto hasEntries = [](const std::string& path) {
        DIR* dir = opendir(path.c_str());
        if (!dir)
            return false;
        bool any = false;
        while (const dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.') {
                any = true;
                break;
            }
        closedir(dir);
        return any;
    };
    QList<clFolderListEntryRef> roots;
    const char* home = getenv("HOME");
    const char* user = getenv("USER");
    if (home && user && *home)
        roots << rootForURL(XFileURL(XStr::FromUTF8(home)), owner, QStringLiteral("%1's Home").arg(Text(user)));
    roots << rootForURL(XFileURL(XStr(L"/")), owner, QStringLiteral("Computer"));
    if (user && *user)
        for (const std::string& volumes : {std::string("/run/media/") + user, std::string("/media/") + user})
            if (hasEntries(volumes)) {
                roots << rootForURL(XFileURL(XStr::FromUTF8(volumes.c_str())), owner, QStringLiteral("Volumes"));
                break;
            }
    const std::string network = "/run/user/" + std::to_string(getuid()) + "/gvfs";
    if (hasEntries(network))
        roots << rootForURL(XFileURL(XStr::FromUTF8(network.c_str())), owner, QStringLiteral("Network"));
    return roots;
}

QString clFolderListEntry::name() const
{
    if (!m_customName.isEmpty())
        return m_customName;
    const qsizetype slash = m_path.lastIndexOf(QLatin1Char('/'));
    return slash >= 0 ? m_path.mid(slash + 1) : m_path;
}

bool clFolderListEntry::lessThan(const clFolderListEntry& other) const
{
    return KRACompareNatural(name(), other.name()) < 0;
}

std::vector<clFileListEntryRef> clFolderListEntry::files() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_files;
}

std::vector<clFolderListEntryRef> clFolderListEntry::folders() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_folders;
}

QList<QUrl> clFolderListEntry::fileURLs() const
{
    QList<QUrl> urls;
    for (const clFileListEntryRef& file : files())
        urls << file->url();
    return urls;
}

clFolderListEntryRef clFolderListEntry::subFolderAt(const QString& name) const
{
    return subFolderAt(name, folders());
}

clFolderListEntryRef clFolderListEntry::subFolderAt(const QString& name,
                                                    const std::vector<clFolderListEntryRef>& folders)
{
    for (const clFolderListEntryRef& folder : folders)
        if (folder->name() == name)
            return folder;
    return nullptr;
}

void clFolderListEntry::grabRelativePath(QStringList& names, const clFolderListEntry* ancestor) const
{
    QStringList mine;
    for (const clFolderListEntry* node = this; node && node != ancestor;) {
        mine.prepend(node->name());
        const clFolderListEntryRef parent = node->parent();
        node = parent.get();
    }
    names << mine;
}

std::vector<clFileListEntryRef>
clFolderListEntry::sortFilesUsingDescriptors(const QList<KRASortDescriptor>& descriptors)
{
    m_sortWanted = descriptors;
    std::vector<clFileListEntryRef> sorted;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_filesSortedBy == descriptors)
            return m_files; // already in that order: a big folder is not sorted again on every refresh
        sorted = m_files;
    }
    sortRows(sorted, descriptors);
    std::lock_guard<std::mutex> lock(m_lock);
    m_files = sorted;
    m_filesSortedBy = descriptors;
    return sorted;
}

void clFolderListEntry::sortRows(std::vector<clFileListEntryRef>& rows, const QList<KRASortDescriptor>& descriptors)
{
    if (rows.size() < 2 || descriptors.isEmpty())
        return;
    struct Value {
        QString key, text;
        QVariant plain;
    };
    const size_t count = rows.size();
    std::vector<std::vector<Value>> values(static_cast<size_t>(descriptors.size()), std::vector<Value>(count));
    for (qsizetype d = 0; d < descriptors.size(); ++d) {
        const KRASortDescriptor& descriptor = descriptors[d];
        const QString column = descriptor.identifier();
        for (size_t i = 0; i < count; ++i) {
            Value& value = values[static_cast<size_t>(d)][i];
            if (descriptor.comparison == KRASortComparison::Natural) {
                value.text = rows[i]->attribByName(column, true).toString();
                value.key = KRANaturalSortKey(value.text);
            } else {
                value.plain = rows[i]->attribByName(column, true);
            }
        }
    }
    std::vector<size_t> order(count);
    for (size_t i = 0; i < count; ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        for (qsizetype d = 0; d < descriptors.size(); ++d) {
            const KRASortDescriptor& descriptor = descriptors[d];
            const Value& x = values[static_cast<size_t>(d)][a];
            const Value& y = values[static_cast<size_t>(d)][b];
            const int result = descriptor.comparison == KRASortComparison::Natural
                                   ? KRACompareNatural(x.key, x.text, y.key, y.text)
                                   : KRAComparePlain(x.plain, y.plain);
            if (result != 0)
                return descriptor.ascending ? result < 0 : result > 0;
        }
        return false;
    });
    std::vector<clFileListEntryRef> sorted;
    sorted.reserve(count);
    for (size_t i : order)
        sorted.push_back(std::move(rows[i]));
    rows.swap(sorted);
}

// ---- Listing and scanning (any thread) ----

clFolderListEntry::Listing clFolderListEntry::listFolder(const QString& path)
{
    Listing listing;
    const std::string folder = Bytes(path);
    DIR* dir = opendir(folder.c_str());
    if (!dir) {
        listing.errorNumber = errno;
        listing.error = QString::fromLocal8Bit(strerror(errno));
        return listing;
    }
    const int fd = dirfd(dir);
    struct Keyed {
        QString key;
        QString name;
        std::shared_ptr<clAsyncReadFile> file; // none for a folder
    };
    std::vector<Keyed> keyed;
    const QString prefix = path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') // hidden, and "." and ".."
            continue;
        const QString name = Text(entry->d_name);
        if (entry->d_type == DT_DIR) { // a folder needs no stat: nothing of it is shown
            keyed.push_back({KRANaturalSortKey(name), name, nullptr});
            continue;
        }
        struct statx st {};
        constexpr unsigned int kWanted = STATX_TYPE | STATX_SIZE | STATX_MTIME | STATX_ATIME | STATX_BTIME;
        if (statx(fd, entry->d_name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, kWanted, &st) != 0)
            continue;
        if (S_ISLNK(st.stx_mode)) {
            // A link to a file counts as that file; a link to a folder is not followed, so
            // that a ticked tree cannot loop or wander off to the whole disk.
            if (statx(fd, entry->d_name, AT_NO_AUTOMOUNT, kWanted, &st) != 0 || S_ISDIR(st.stx_mode))
                continue;
        }
        if (S_ISDIR(st.stx_mode)) {
            keyed.push_back({KRANaturalSortKey(name), name, nullptr});
            continue;
        }
        auto file = std::make_shared<clAsyncReadFile>();
        file->size = st.stx_size;
        file->lastModified = FromStatx(st.stx_mtime);
        file->accessed = FromStatx(st.stx_atime);
        if (st.stx_mask & STATX_BTIME)
            file->created = FromStatx(st.stx_btime);
        keyed.push_back({KRANaturalSortKey(name), name, std::move(file)});
    }
    closedir(dir);
    std::sort(keyed.begin(), keyed.end(),
              [](const Keyed& a, const Keyed& b) { return KRACompareNatural(a.key, a.name, b.key, b.name) < 0; });
    size_t files = 0;
    for (const Keyed& item : keyed)
        files += item.file ? 1 : 0;
    listing.files.reserve(files);
    listing.folders.reserve(keyed.size() - files);
    for (Keyed& item : keyed) {
        if (item.file) {
            item.file->folder = prefix;
            item.file->name = std::move(item.name);
            listing.files.push_back(std::move(item.file));
        } else {
            listing.folders.push_back(prefix + item.name);
        }
    }
    return listing;
}

std::optional<std::vector<clAsyncReadFileRef>>
clFolderListEntry::readFromURLs(const std::vector<clAsyncReadFileRef>& files,
                                const std::vector<clAsyncReadFileRef>& hints, bool getMeta,
                                const KillSwitchRef& killSwitch)
{
    QHash<QString, clAsyncReadFileRef> byPath;
    byPath.reserve(static_cast<qsizetype>(hints.size()));
    for (const clAsyncReadFileRef& hint : hints)
        byPath.insert(hint->name, hint); // the hints are of the same folder
    std::vector<clAsyncReadFileRef> records;
    records.reserve(files.size());
    for (const clAsyncReadFileRef& file : files) {
        if (killSwitch && killSwitch->die())
            return std::nullopt;
        if (!file->lastModified.isValid())
            continue;
        const auto hint = byPath.constFind(file->name);
        if (hint != byPath.constEnd() && hint.value()->lastModified == file->lastModified &&
            (!getMeta || hint.value()->info)) {
            const clAsyncReadFile& old = *hint.value();
            if (old.size == file->size && old.created == file->created && old.accessed == file->accessed) {
                records.push_back(hint.value());
            } else {
                // The information still holds; the facts shown are the ones just read.
                auto record = std::make_shared<clAsyncReadFile>(*file);
                record->info = old.info;
                records.push_back(std::move(record));
            }
            continue;
        }
        if (getMeta) {
            auto record = std::make_shared<clAsyncReadFile>(*file);
            record->info = QKMediaFileInfo::readLiteInfoFromFile(XStrFromQString(file->path()));
            if (!record->info)
                continue;
            records.push_back(std::move(record));
            continue;
        }
        records.push_back(file);
    }
    return records;
}

// ---- Loading (main thread) ----

bool clFolderListEntry::hasListing() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_allContent != nullptr;
}

bool clFolderListEntry::isWorking() const
{
    return m_loader != nullptr;
}

void clFolderListEntry::wantFolders()
{
    if (!m_wantFolders)
        beginLoadFolders();
}

void clFolderListEntry::wantFiles()
{
    if (!m_wantFolders) {
        m_wantFiles = true; // the first listing makes the rows as well
        beginLoadFolders();
        return;
    }
    if (!m_wantFiles)
        beginLoadFiles();
}

void clFolderListEntry::beginRefresh()
{
    if (m_loader)
        m_refreshPending = true;
    else
        beginLoadFolders();
}

void clFolderListEntry::finishLoad()
{
    if (m_refreshPending && !m_loader) {
        m_refreshPending = false;
        beginLoadFolders();
    }
}

void clFolderListEntry::beginLoadFolders()
{
    m_wantFolders = true;
    m_loader = std::make_unique<KillSwitchHolder>(); // raises the switch of the load it replaces
    const KillSwitchRef cookie = m_loader->killSwitch();
    const std::weak_ptr<clFolderListEntry> weak = weak_from_this();
    const QString path = m_path;
    // With the files wanted too, their rows are made in the same visit to the worker: a
    // tree listed folder after folder does not wait for two round trips each.
    const std::shared_ptr<const FilesJob> job = m_wantFiles ? filesJob() : nullptr;
    const bool posted = KRAWorkerPool::shared().post([weak, path, job, cookie] {
        if (cookie->die())
            return;
        Listing listing = listFolder(path);
        std::shared_ptr<FilesResult> files;
        if (job && listing.ok())
            files = runFilesJob(*job, listing.files, cookie);
        XPostToMainThread([weak, listing = std::move(listing), files, cookie]() mutable {
            if (const auto self = weak.lock())
                self->contentLoaded(std::move(listing), cookie, files);
        });
    });
    if (!posted)
        m_loader.reset();
}

void clFolderListEntry::contentLoaded(Listing listing, const KillSwitchRef& cookie,
                                      const std::shared_ptr<FilesResult>& files)
{
    if (!m_loader || !m_loader->isCurrent(cookie))
        return;
    m_loader.reset();
    // A folder that is gone has nothing in it any more; one that cannot be read for another
    // reason (a permission, a mount that went away for a moment) keeps what it showed.
    const bool gone = listing.errorNumber == ENOENT || listing.errorNumber == ENOTDIR;
    if (!listing.ok() && !gone) {
        m_accessError = listing.error;
        if (const auto owner = m_globals->owner())
            owner->folderAccessError(this, listing.error, listing.errorNumber);
        finishLoad();
        return;
    }
    m_accessError = listing.error;
    const QString error = listing.error;
    const int errorNumber = listing.errorNumber;
    {
        auto content = std::make_shared<const Listing>(std::move(listing));
        std::lock_guard<std::mutex> lock(m_lock);
        m_allContent = std::move(content);
    }
    makeFoldersRefreshOwner();
    if (m_wantFiles) {
        if (files && files->generation == m_filesGeneration) {
            m_loader = std::make_unique<KillSwitchHolder>();
            filesLoaded(*files, m_loader->killSwitch());
        } else {
            beginLoadFiles();
        }
    }
    if (gone)
        if (const auto owner = m_globals->owner())
            owner->folderAccessError(this, error, errorNumber);
    finishLoad();
}

std::vector<clFolderListEntryRef> clFolderListEntry::getFoldersSynchronously(int timeLimitMs)
{
    m_wantFolders = true;
    if (!hasListing()) {
        struct Waiter {
            std::mutex mutex;
            std::condition_variable done;
            std::optional<Listing> listing;
        };
        auto waiter = std::make_shared<Waiter>();
        m_loader = std::make_unique<KillSwitchHolder>();
        const KillSwitchRef cookie = m_loader->killSwitch();
        const std::weak_ptr<clFolderListEntry> weak = weak_from_this();
        const QString path = m_path;
        const bool posted = KRAWorkerPool::shared().post([weak, path, cookie, waiter] {
            Listing listing = listFolder(path);
            {
                std::lock_guard<std::mutex> lock(waiter->mutex);
                waiter->listing = listing;
            }
            waiter->done.notify_all();
            // Too late for the caller: it arrives like any background listing.
            XPostToMainThread([weak, listing = std::move(listing), cookie]() mutable {
                if (const auto self = weak.lock())
                    self->contentLoaded(std::move(listing), cookie);
            });
        });
        std::optional<Listing> got;
        if (posted) {
            std::unique_lock<std::mutex> lock(waiter->mutex);
            waiter->done.wait_for(lock, std::chrono::milliseconds(std::max(timeLimitMs, 0)),
                                  [&] { return waiter->listing.has_value(); });
            got = waiter->listing;
        } else {
            m_loader.reset();
        }
        if (got)
            contentLoaded(*got, cookie); // the posted copy is then stale and dropped
    }
    return folders();
}

std::optional<clFoldersAddRemove> clFolderListEntry::makeFolders()
{
    std::shared_ptr<const Listing> listing;
    std::vector<clFolderListEntryRef> old;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_allContent)
            return std::nullopt;
        listing = m_allContent;
        old = m_folders;
    }
    std::map<QString, clFolderListEntryRef> byPath;
    for (const clFolderListEntryRef& child : old)
        byPath[child->path()] = child;
    const QVariant selection = [&] {
        const auto owner = m_globals->owner();
        return owner ? owner->currentSelection() : QVariant();
    }();
    std::vector<clFolderListEntryRef> added;
    for (const QString& path : listing->folders) {
        const auto it = byPath.find(path);
        if (it != byPath.end()) {
            byPath.erase(it);
            continue;
        }
        auto child = create(XFileURL(XStrFromQString(path)), shared_from_this());
        child->applySelectionData(selection);
        added.push_back(child);
    }
    std::stable_sort(added.begin(), added.end(),
                     [](const clFolderListEntryRef& a, const clFolderListEntryRef& b) { return a->lessThan(*b); });
    clFoldersAddRemove change;
    change.numFoldersBefore = old.size();
    std::vector<clFolderListEntryRef> kept;
    bool tickedGone = false;
    for (size_t i = 0; i < old.size(); ++i) {
        if (byPath.count(old[i]->path())) {
            change.foldersRemoved << static_cast<int>(i);
            if (old[i]->checkState() != Unchecked) {
                // A ticked folder that is gone takes its ticks along: made again, it comes
                // back unticked rather than from stale data.
                tickedGone = true;
                forget(old[i]->path());
            }
        } else {
            kept.push_back(old[i]);
        }
    }
    for (size_t i = 0; i < added.size(); ++i)
        change.foldersAdded << static_cast<int>(kept.size() + i);
    change.foldersToRefresh = QList<clFolderListEntryRef>(kept.begin(), kept.end());
    kept.insert(kept.end(), added.begin(), added.end());
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_folders = std::move(kept);
    }
    if (tickedGone)
        settleAfterRemoval();
    return change;
}

void clFolderListEntry::makeFoldersRefreshOwner()
{
    const std::optional<clFoldersAddRemove> change = makeFolders();
    if (!change)
        return;
    if (const auto owner = m_globals->owner())
        owner->folderAddRemoveFolders(this, *change);
}

namespace {

// What decides the ticks of rows a folder has not shown before.
struct TickRule {
    int state = Unchecked;
    QVariantMap selection;
    bool tick(const clAsyncReadFile& file) const
    {
        return state == Recursive || state == NonRecursive || (!selection.isEmpty() && selection.contains(file.path()));
    }
};

} // namespace

namespace {

// The rows of the scanned records that pass the format list and the filter: rows the folder
// already has are refreshed (their ticks kept), the others are made with the rule's ticks.
// Runs on a worker for a load and on the main thread after a filter change.
void BuildRows(const std::vector<clAsyncReadFileRef>& records, const std::vector<clFileListEntryRef>& existing,
               const QKMediaFormatFilter& formats, const KRAFileFilter* filter, const TickRule& rule,
               const std::weak_ptr<clFolderListEntry>& folder, std::vector<clFileListEntryRef>& files,
               std::vector<clFileListEntryRef>& gone, bool& newTicks)
{
    QHash<QString, clFileListEntryRef> byPath;
    byPath.reserve(static_cast<qsizetype>(existing.size()));
    for (const clFileListEntryRef& file : existing)
        byPath.insert(file->name(), file); // rows of this folder
    if (!byPath.isEmpty()) {
        QSet<QString> onDisk;
        onDisk.reserve(static_cast<qsizetype>(records.size()));
        for (const clAsyncReadFileRef& record : records)
            onDisk.insert(record->name);
        for (auto it = byPath.cbegin(); it != byPath.cend(); ++it)
            if (it.value()->checked() && !onDisk.contains(it.key()))
                gone.push_back(it.value());
    }
    files.reserve(records.size());
    for (const clAsyncReadFileRef& record : records) {
        const std::optional<QString> format = formats.fileTypeOfPath(record->name);
        if (!format)
            continue;
        if (filter && !filter->testPath(record->name, record->info.get(), FileTime(record->lastModified)))
            continue;
        const auto it = byPath.constFind(record->name);
        if (it != byPath.constEnd()) {
            it.value()->refresh(record, *format);
            files.push_back(it.value());
            continue;
        }
        auto file = std::make_shared<clFileListEntry>(record, *format, folder);
        if (rule.tick(*record)) {
            file->setCheckedInner(true);
            newTicks = true;
        }
        files.push_back(std::move(file));
    }
}

// The order rows of a listing come in, listing order being natural order of names.
const QList<KRASortDescriptor>& ListingOrder()
{
    static const QList<KRASortDescriptor> order{KRASortDescriptor::forColumn(QStringLiteral("Name"))};
    return order;
}

} // namespace

// What a worker needs to make the rows of a listing, taken on the main thread.
struct clFolderListEntry::FilesJob {
    std::weak_ptr<clFolderListEntry> folder;
    folderListGlobalsRef globals;
    std::vector<clAsyncReadFileRef> hints;
    std::vector<clFileListEntryRef> existing;
    std::shared_ptr<const KRAFileFilter> filter;
    bool getMeta = false;
    TickRule rule;
    QList<KRASortDescriptor> sortBy;
    uint64_t generation = 0;

    // None when the kill switch was raised.
    std::shared_ptr<FilesResult> run(const std::vector<clAsyncReadFileRef>& files, const KillSwitchRef& cookie) const
    {
        auto records = readFromURLs(files, hints, getMeta, cookie);
        if (!records || cookie->die())
            return nullptr;
        auto result = std::make_shared<FilesResult>();
        result->records = std::move(*records);
        result->generation = generation;
        BuildRows(result->records, existing, globals->formats(), filter.get(), rule, folder, result->files,
                  result->gone, result->newTicks);
        if (sortBy != ListingOrder())
            sortRows(result->files, sortBy);
        result->sortedBy = sortBy;
        return result;
    }
};

std::shared_ptr<clFolderListEntry::FilesResult>
clFolderListEntry::runFilesJob(const FilesJob& job, const std::vector<clAsyncReadFileRef>& files,
                               const KillSwitchRef& cookie)
{
    return job.run(files, cookie);
}

std::shared_ptr<const clFolderListEntry::FilesJob> clFolderListEntry::filesJob()
{
    auto job = std::make_shared<FilesJob>();
    job->folder = weak_from_this();
    job->globals = m_globals;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        job->hints = m_filesIntermediate;
        job->existing = m_files;
    }
    // The worker works on copies: the window may change its filter and its selection meanwhile
    // (and then the rows are built again on arrival).
    const std::shared_ptr<KRAFileFilter> current = m_globals->fileFilter();
    job->filter = current ? std::make_shared<const KRAFileFilter>(*current) : nullptr;
    job->getMeta = job->filter && job->filter->needsInfo();
    job->rule.state = checkState();
    if (job->rule.state != Recursive && job->rule.state != NonRecursive)
        if (const auto owner = m_globals->owner())
            job->rule.selection = owner->currentSelection().toMap();
    job->sortBy = m_sortWanted.isEmpty() ? ListingOrder() : m_sortWanted;
    job->generation = m_filesGeneration;
    return job;
}

void clFolderListEntry::beginLoadFiles()
{
    m_wantFiles = true;
    std::shared_ptr<const Listing> listing;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (!m_allContent)
            return;
        listing = m_allContent;
    }
    const std::shared_ptr<const FilesJob> job = filesJob();
    m_loader = std::make_unique<KillSwitchHolder>();
    const KillSwitchRef cookie = m_loader->killSwitch();
    const std::weak_ptr<clFolderListEntry> weak = weak_from_this();
    const bool posted = KRAWorkerPool::shared().post([weak, listing = std::move(listing), job, cookie] {
        const std::shared_ptr<FilesResult> result = runFilesJob(*job, listing->files, cookie);
        if (!result)
            return;
        XPostToMainThread([weak, result, cookie] {
            if (const auto self = weak.lock())
                self->filesLoaded(*result, cookie);
        });
    });
    if (!posted)
        m_loader.reset();
}

void clFolderListEntry::filesLoaded(FilesResult& result, const KillSwitchRef& cookie)
{
    if (!m_loader || !m_loader->isCurrent(cookie))
        return;
    m_loader.reset();
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_filesIntermediate = std::move(result.records);
    }
    m_filesReady = true;
    if (result.generation != m_filesGeneration) {
        filterFileList();
    } else {
        for (const clFileListEntryRef& file : result.gone)
            if (file->checked())
                forget(file->path());
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_files = std::move(result.files);
            m_filesSortedBy = result.sortedBy;
            m_filesInList = true;
        }
        afterFilesChanged(result.newTicks);
    }
    beginLoadFileInfo();
    finishLoad();
}

void clFolderListEntry::afterFilesChanged(bool newTicks)
{
    recountChecked();
    if (newTicks)
        onHaveFileChecked(true);
    // Individual ticks of files gone from the disk, or from the list by the filter, leave
    // nothing ticked here.
    if (checkState() == IndivSelected && m_checkedFiles <= 0)
        settleAfterRemoval();
    if (const auto owner = m_globals->owner())
        owner->folderFilesListReady(this);
}

void clFolderListEntry::beginLoadFileInfo()
{
    if (!m_globals->loadInfoForColumns) {
        m_infoLoader.reset();
        return;
    }
    // Names of this folder's files, in listing order, which is path order.
    std::vector<QString> paths;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        for (const clAsyncReadFileRef& record : m_filesIntermediate)
            if (!record->info)
                paths.push_back(record->name);
    }
    // A reader still at work on these files goes on: a rescan of an unchanged folder must
    // not start the probing over.
    if (m_infoLoader && m_infoRunning && *m_infoRunning) {
        size_t at = 0;
        bool all = true;
        for (const QString& path : paths) {
            while (at < m_infoPaths.size() && m_infoPaths[at] != path)
                ++at;
            if (at == m_infoPaths.size()) {
                all = false;
                break;
            }
        }
        if (all)
            return;
    }
    m_infoLoader.reset();
    m_infoPaths.clear();
    if (paths.empty())
        return;
    m_infoLoader = std::make_unique<KillSwitchHolder>();
    m_infoPaths = paths;
    m_infoFileCursor = m_infoRecordCursor = 0;
    m_infoRunning = std::make_shared<std::atomic<bool>>(true);
    const KillSwitchRef cookie = m_infoLoader->killSwitch();
    const std::weak_ptr<clFolderListEntry> weak = weak_from_this();
    const std::shared_ptr<std::atomic<bool>> running = m_infoRunning;
    const QString prefix = m_path.endsWith(QLatin1Char('/')) ? m_path : m_path + QLatin1Char('/');
    const bool posted = KRAWorkerPool::shared().post([weak, prefix, paths = std::move(paths), cookie, running] {
        struct Done {
            std::atomic<bool>& running;
            ~Done() { running = false; }
        } done{*running};
        for (const QString& path : paths) {
            if (cookie->die())
                return;
            const QKMediaFileInfoRef info = QKMediaFileInfo::readLiteInfoFromFile(XStrFromQString(prefix + path));
            if (!info)
                continue;
            XPostToMainThread([weak, path, info, cookie] {
                if (const auto self = weak.lock())
                    self->deliverInfo(path, info, cookie);
            });
        }
    });
    if (!posted) {
        *m_infoRunning = false;
        m_infoLoader.reset();
    }
}

namespace {

// The index of the first element at or after the cursor (then from the start) that matches.
template <typename T, typename Match>
size_t FindFrom(const std::vector<T>& items, size_t cursor, Match match)
{
    for (size_t n = 0; n < items.size(); ++n) {
        const size_t i = (cursor + n) % items.size();
        if (match(items[i]))
            return i;
    }
    return items.size();
}

} // namespace

void clFolderListEntry::deliverInfo(const QString& name, const QKMediaFileInfoRef& info, const KillSwitchRef& cookie)
{
    if (!m_infoLoader || !m_infoLoader->isCurrent(cookie))
        return;
    // The reader goes in listing order: the next record is almost always the one after the
    // last, so a big folder is not searched from the start for every file.
    clFileListEntryRef file;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        const size_t record = FindFrom(m_filesIntermediate, m_infoRecordCursor,
                                       [&](const clAsyncReadFileRef& item) { return item->name == name; });
        if (record < m_filesIntermediate.size()) {
            auto updated = std::make_shared<clAsyncReadFile>(*m_filesIntermediate[record]);
            updated->info = info;
            m_filesIntermediate[record] = std::move(updated);
            m_infoRecordCursor = record + 1;
        }
        const size_t row =
            FindFrom(m_files, m_infoFileCursor, [&](const clFileListEntryRef& item) { return item->name() == name; });
        if (row < m_files.size()) {
            file = m_files[row];
            m_infoFileCursor = row + 1;
            // The media columns' values change with it: an order by one of them no longer holds
            // (names, sizes and dates stay as they are).
            if (m_filesSortedBy != ListingOrder())
                m_filesSortedBy.clear();
        }
    }
    if (!file)
        return;
    file->refreshInfo(m_globals->formats().fileTypeOfPath(name).value_or(QString()), info);
    if (const auto owner = m_globals->owner())
        owner->folderFileInfoLoaded(this, file);
}

// ---- Filtering ----

void clFolderListEntry::filterFileList()
{
    std::vector<clAsyncReadFileRef> records;
    std::vector<clFileListEntryRef> existing;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        records = m_filesIntermediate;
        existing = m_files;
    }
    ++m_filesGeneration;
    const std::shared_ptr<KRAFileFilter> filter = m_globals->fileFilter();
    TickRule rule;
    rule.state = checkState();
    if (rule.state != Recursive && rule.state != NonRecursive)
        if (const auto owner = m_globals->owner())
            rule.selection = owner->currentSelection().toMap();
    std::vector<clFileListEntryRef> files, gone;
    bool newTicks = false;
    BuildRows(records, existing, m_globals->formats(), filter.get(), rule, weak_from_this(), files, gone, newTicks);
    // The ticks of files that are no longer on the disk go with them.
    for (const clFileListEntryRef& file : gone)
        forget(file->path());
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_files = std::move(files);
        m_filesSortedBy = ListingOrder();
        m_filesInList = true;
    }
    afterFilesChanged(newTicks);
}

void clFolderListEntry::applyFormatFilterRecur()
{
    ++m_filesGeneration; // a load under way used the filter as it was
    const std::shared_ptr<KRAFileFilter> filter = m_globals->fileFilter();
    bool missingInfo = false;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        for (const clAsyncReadFileRef& record : m_filesIntermediate)
            missingInfo = missingInfo || !record->info;
    }
    if (filter && filter->needsInfo() && missingInfo) {
        if (m_wantFiles && hasListing())
            beginLoadFiles();
    } else if (m_filesReady) {
        filterFileList();
    }
    for (const clFolderListEntryRef& child : folders())
        child->applyFormatFilterRecur();
}

// ---- Checks ----

void clFolderListEntry::recountChecked()
{
    int64_t count = 0;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        for (const clFileListEntryRef& file : m_files)
            count += file->checked() ? 1 : 0;
    }
    m_checkedFiles = count;
}

void clFolderListEntry::setFileChecksDown(bool checked)
{
    const std::vector<clFileListEntryRef> all = files();
    for (const clFileListEntryRef& file : all)
        file->setCheckedInner(checked);
    m_checkedFiles = checked ? static_cast<int64_t>(all.size()) : 0;
}

void clFolderListEntry::setCheckState(int state)
{
    if (state == m_checkState.load() || state < Recursive || state > Checked)
        return;
    m_checkState = state;
    ++m_filesGeneration; // rows a load makes meanwhile would take the old state's ticks
    if (state == Unchecked || state == NonRecursive || state == Recursive) {
        // Everything below is now what this state says: no older data may tick it again.
        forget(m_path);
        const int childState = state == Recursive ? Recursive : Unchecked;
        for (const clFolderListEntryRef& child : folders())
            child->setCheckState(childState);
        setFileChecksDown(state != Unchecked);
    }
    const clFolderListEntryRef parent = this->parent();
    if (!parent)
        return;
    const int parentState = parent->checkState();
    if (state != Recursive && parentState == Recursive) {
        // Not everything below the parent is ticked any more: it keeps its own files and the
        // ticks of its sub-folders as they are, which a saved selection can say exactly.
        parent->demoteRecursive();
    } else if (state != Unchecked && parentState == Unchecked)
        parent->setCheckState(SubSelected);
    else if (state == Unchecked && parentState == SubSelected && parent->allChildrenUnchecked())
        parent->setCheckState(parent->filesCheckState() != 0 ? IndivSelected : Unchecked);
}

void clFolderListEntry::demoteRecursive()
{
    if (checkState() != Recursive)
        return;
    m_checkState = NonRecursive; // nothing below changes
    ++m_filesGeneration;
    if (const clFolderListEntryRef parent = this->parent())
        parent->demoteRecursive();
}

bool clFolderListEntry::allChildrenUnchecked() const
{
    for (const clFolderListEntryRef& child : folders())
        if (child->checkState() != Unchecked)
            return false;
    return true;
}

int clFolderListEntry::filesCheckState() const
{
    const int64_t checked = m_checkedFiles;
    if (checked <= 0)
        return 0;
    std::lock_guard<std::mutex> lock(m_lock);
    return checked >= static_cast<int64_t>(m_files.size()) ? 1 : -1;
}

void clFolderListEntry::setFilesCheckState(int state)
{
    if (state != 0 && state != 1)
        return;
    setFileChecksDown(state == 1);
    settleAfterFileChange();
}

void clFolderListEntry::invertFilesCheckState()
{
    int64_t count = 0;
    for (const clFileListEntryRef& file : files()) {
        const bool checked = !file->checked();
        file->setCheckedInner(checked);
        count += checked ? 1 : 0;
    }
    m_checkedFiles = count;
    settleAfterFileChange();
}

void clFolderListEntry::onFileChecked(bool checked)
{
    m_checkedFiles += checked ? 1 : -1;
    settleAfterFileChange();
}

void clFolderListEntry::settleAfterFileChange()
{
    // A folder ticked as a whole whose files are no longer all ticked holds individual ticks:
    // saying so keeps a saved selection exact (a whole-folder tick brings back every file).
    const int state = checkState();
    if ((state == Recursive || state == NonRecursive) && m_checkedFiles < static_cast<int64_t>(files().size()))
        setCheckState(IndivSelected);
    onHaveFileChecked(m_checkedFiles > 0);
}

void clFolderListEntry::onHaveFileChecked(bool any)
{
    const int state = checkState();
    if (any) {
        if (state == Unchecked || state == SubSelected)
            setCheckState(IndivSelected);
    } else if (state == IndivSelected) {
        setCheckState(allChildrenUnchecked() ? Unchecked : SubSelected);
    }
}

namespace {
// While a folder settles after its rows changed, its new state is a consequence, not the
// user's word: the selection data keeps what it says below (the ticks of files a filter hides
// come back with them).
int g_keepSelectionData = 0;
} // namespace

void clFolderListEntry::settleAfterRemoval()
{
    ++g_keepSelectionData;
    struct Done {
        ~Done() { --g_keepSelectionData; }
    } done;
    const int state = checkState();
    const bool noFolders = allChildrenUnchecked();
    if (state == IndivSelected && m_checkedFiles <= 0)
        setCheckState(noFolders ? Unchecked : SubSelected);
    else if (state == SubSelected && noFolders)
        setCheckState(m_checkedFiles > 0 ? IndivSelected : Unchecked);
}

void clFolderListEntry::forget(const QString& path) const
{
    if (g_keepSelectionData > 0)
        return;
    if (const auto owner = m_globals ? m_globals->owner() : nullptr)
        owner->forgetSelection(path);
}

void clFolderListEntry::postRefresh()
{
    const int state = checkState();
    if (state == IndivSelected && m_checkedFiles <= 0)
        setCheckState(allChildrenUnchecked() ? Unchecked : SubSelected);
    else if (state == SubSelected && allChildrenUnchecked())
        setCheckState(Unchecked);
}

int clFolderListEntry::nextCheckStateOnClick(int state)
{
    switch (state) {
    case Recursive:
        return NonRecursive;
    case Unchecked:
        return Recursive;
    default:
        return Unchecked;
    }
}

QString clFolderListEntry::imageNameForState(int state)
{
    static const char* const kImages[] = {"1-SelRecursive", "2-SelNonRecur", "3-SubSelected",
                                          "4-Indiv",        "5-Unchecked",   "6-Checked"};
    return state >= Recursive && state <= Checked ? QString::fromLatin1(kImages[state]) : QString();
}

QImage clFolderListEntry::checkImage() const
{
    return m_globals ? m_globals->images().checkBoxImageForState(checkState()) : QImage();
}

// ---- Selection data ----

void clFolderListEntry::collectSelectionData(QVariantMap& data, const QVariantMap& previous) const
{
    const int state = checkState();
    if (state >= Recursive && state <= IndivSelected)
        data.insert(m_path, QString::fromLatin1(kWords[state]));
    else
        data.remove(m_path);
    // What this tree never listed it cannot say: the previous data's entries stand for it.
    const QString prefix = m_path.endsWith(QLatin1Char('/')) ? m_path : m_path + QLatin1Char('/');
    auto keepPrevious = [&](bool deeper) {
        for (auto it = previous.lowerBound(prefix); it != previous.end() && it.key().startsWith(prefix); ++it)
            if (deeper || !it.key().mid(prefix.size()).contains(QLatin1Char('/')))
                data.insert(it.key(), it.value());
    };
    if (m_filesReady) {
        for (const clFileListEntryRef& file : files()) {
            if (file->checked())
                data.insert(file->path(), QStringLiteral("Checked"));
            else
                data.remove(file->path());
        }
    } else if (state != Recursive && state != Unchecked) {
        keepPrevious(false);
    }
    // Below a folder ticked recursively everything is ticked; below any other ticked folder
    // the sub-folders have ticks of their own.
    if (state == NonRecursive || state == SubSelected || state == IndivSelected) {
        if (hasListing())
            for (const clFolderListEntryRef& child : folders())
                child->collectSelectionData(data, previous);
        else
            keepPrevious(true);
    }
}

void clFolderListEntry::applySelectionData(const QVariant& data)
{
    const QVariantMap map = data.typeId() == QMetaType::QVariantMap ? data.toMap() : QVariantMap();
    const clFolderListEntryRef parent = this->parent();
    const int parentState = parent ? parent->checkState() : static_cast<int>(SubSelected);
    if (parentState == Recursive || parentState == Unchecked) {
        applyState(parentState, map);
        return;
    }
    const auto it = map.find(m_path);
    applyState(it == map.end() ? static_cast<int>(Unchecked) : StateOfWord(it.value()), map);
}

bool clFolderListEntry::forgetInSelection(QVariant& selection, const QString& path)
{
    if (selection.typeId() != QMetaType::QVariantMap)
        return false;
    const QString prefix = path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
    const QVariantMap old = selection.toMap();
    const auto below = old.lowerBound(prefix);
    if (!old.contains(path) && (below == old.end() || !below.key().startsWith(prefix)))
        return false;
    QVariantMap map = old;
    map.remove(path);
    for (auto it = map.lowerBound(prefix); it != map.end() && it.key().startsWith(prefix);)
        it = map.erase(it);
    selection = map;
    return true;
}

void clFolderListEntry::applyState(int state, const QVariantMap& data)
{
    m_checkState = state; // straight in: the whole subtree is being set from the data
    ++m_filesGeneration;
    const bool all = state == Recursive || state == NonRecursive;
    int64_t count = 0;
    for (const clFileListEntryRef& file : files()) {
        const bool checked = all || (state != Unchecked && data.contains(file->path()));
        file->setCheckedInner(checked);
        count += checked ? 1 : 0;
    }
    m_checkedFiles = count;
    for (const clFolderListEntryRef& child : folders()) {
        if (state == Recursive || state == Unchecked)
            child->applyState(state, data);
        else
            child->applySelectionData(data);
    }
}

// ---- Collecting (worker) ----

namespace {

struct CollectContext {
    KRACollectSink& sink;
    const QKMediaFormatFilter& formats;
    std::shared_ptr<KRAFileFilter> filter;
    QVariantMap selection;
    std::set<std::pair<uint64_t, uint64_t>> visited;
};

void LogSkipped(const QString& path, const QString& why)
{
    qWarning("Marvoni Video Converter: a ticked folder was skipped: %s: %s", qUtf8Printable(path), qUtf8Printable(why));
}

// First visit of the real folder at path.
bool FirstVisit(CollectContext& context, const QString& path)
{
    struct stat st {};
    if (stat(Bytes(path).c_str(), &st) != 0) {
        LogSkipped(path, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    return context.visited.insert({st.st_dev, st.st_ino}).second;
}

// Whether the selection says anything about folders below the path.
bool SelectionBelow(const CollectContext& context, const QString& path)
{
    const QString prefix = path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
    const auto it = context.selection.lowerBound(prefix);
    return it != context.selection.end() && it.key().startsWith(prefix);
}

// Whether the sub-folders of a folder in that state can hold ticked files.
bool DescendInto(const CollectContext& context, int state, const QString& path)
{
    return state == Recursive || state == SubSelected ||
           ((state == NonRecursive || state == IndivSelected) && SelectionBelow(context, path));
}

int ChildStateFromSelection(const CollectContext& context, int parentState, const QString& path)
{
    if (parentState == Recursive)
        return Recursive;
    const auto it = context.selection.find(path);
    return it == context.selection.end() ? static_cast<int>(Unchecked) : StateOfWord(it.value());
}

// The ticked media files of a listing, for a folder in that state.
void EmitFromListing(CollectContext& context, const std::vector<clAsyncReadFileRef>& items, int state)
{
    const bool getMeta = context.filter && context.filter->needsInfo();
    for (const clAsyncReadFileRef& item : items) {
        if (context.sink.aborting())
            return;
        if (!item->lastModified.isValid())
            continue;
        const std::optional<QString> format = context.formats.fileTypeOfPath(item->name);
        if (!format)
            continue;
        if (state != Recursive && state != NonRecursive && !context.selection.contains(item->path()))
            continue;
        clAsyncReadFileRef record = item;
        if (getMeta) {
            auto withInfo = std::make_shared<clAsyncReadFile>(*item);
            withInfo->info = QKMediaFileInfo::readLiteInfoFromFile(XStrFromQString(item->path()));
            if (!withInfo->info)
                continue;
            record = std::move(withInfo);
        }
        if (context.filter &&
            !context.filter->testPath(record->name, record->info.get(), FileTime(record->lastModified)))
            continue;
        auto file = std::make_shared<clFileListEntry>(record, *format, std::weak_ptr<clFolderListEntry>());
        file->setCheckedInner(true);
        context.sink.addFile(file);
    }
}

void CollectDisk(CollectContext& context, const QString& path, int state);

// The sub-folders of a listing that is not in the tree, in name order.
void CollectDiskChildren(CollectContext& context, const std::vector<QString>& folders, int state)
{
    for (const QString& folder : folders) {
        if (context.sink.aborting())
            return;
        CollectDisk(context, folder, ChildStateFromSelection(context, state, folder));
    }
}

void CollectDisk(CollectContext& context, const QString& path, int state)
{
    if (state == Unchecked || context.sink.aborting() || !FirstVisit(context, path))
        return;
    const clFolderListEntry::Listing listing = clFolderListEntry::listFolder(path);
    if (!listing.ok()) {
        LogSkipped(path, listing.error);
        return;
    }
    if (Readable(state))
        EmitFromListing(context, listing.files, state);
    if (DescendInto(context, state, path))
        CollectDiskChildren(context, listing.folders, state);
}

} // namespace

void clFolderListEntry::collectCheckedFiles(KRACollectSink& sink)
{
    collectCheckedFiles({shared_from_this()}, sink);
}

void clFolderListEntry::collectCheckedFiles(const QList<clFolderListEntryRef>& roots, KRACollectSink& sink)
{
    if (roots.isEmpty())
        return;
    const folderListGlobalsRef globals = roots.first()->m_globals;
    const auto owner = globals->owner();
    CollectContext context{
        sink, globals->formats(), globals->fileFilter(), owner ? owner->currentSelection().toMap() : QVariantMap(), {}};
    // The whole walk shares one record of visited folders, so overlapping roots count once.
    std::function<void(const clFolderListEntryRef&)> collect = [&](const clFolderListEntryRef& node) {
        const int state = node->checkState();
        if (state == Unchecked || sink.aborting() || !FirstVisit(context, node->path()))
            return;
        std::vector<clFileListEntryRef> files;
        std::vector<clFolderListEntryRef> children;
        bool listed = false;
        bool filesReady = false;
        {
            std::lock_guard<std::mutex> lock(node->m_lock);
            files = node->m_files;
            children = node->m_folders;
            listed = node->m_allContent != nullptr;
            filesReady = node->m_filesReady && node->m_filesInList;
        }
        std::optional<Listing> listing;
        if ((!filesReady && Readable(state)) || (!listed && DescendInto(context, state, node->path()))) {
            listing = listFolder(node->path());
            if (!listing->ok()) {
                LogSkipped(node->path(), listing->error);
                return;
            }
        }
        if (!filesReady && Readable(state))
            EmitFromListing(context, listing->files, state);
        else
            for (const clFileListEntryRef& file : files) {
                if (sink.aborting())
                    return;
                if (!file->checked())
                    continue;
                // The tree may not have caught up with the disk yet.
                if (!file->existsAsFile())
                    sink.fileMissing(file);
                else
                    sink.addFile(file);
            }
        if (listed || !listing) {
            for (const clFolderListEntryRef& child : children) {
                if (sink.aborting())
                    return;
                collect(child);
            }
            return;
        }
        // Sub-folders never listed: those the tree has, the others from the disk.
        std::map<QString, clFolderListEntryRef> known;
        for (const clFolderListEntryRef& child : children)
            known[child->path()] = child;
        for (const QString& path : listing->folders) {
            if (sink.aborting())
                return;
            const auto it = known.find(path);
            if (it != known.end())
                collect(it->second);
            else
                CollectDisk(context, path, ChildStateFromSelection(context, state, path));
        }
    };
    for (const clFolderListEntryRef& root : roots) {
        if (sink.aborting())
            return;
        collect(root);
    }
}

QList<QUrl> clFolderListEntry::collectCheckedFolders() const
{
    const int state = checkState();
    if (Readable(state))
        return {m_url};
    QList<QUrl> urls;
    if (state == SubSelected)
        for (const clFolderListEntryRef& child : folders())
            urls << child->collectCheckedFolders();
    return urls;
}
