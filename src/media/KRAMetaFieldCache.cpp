#include "media/KRAMetaFieldCache.h"

#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

KRAMetaFieldCacheCallback::~KRAMetaFieldCacheCallback() = default;

void KRAMetaFieldUnite(KRAMetaFieldResults& a, const KRAMetaFieldResults& b)
{
    for (auto it = b.begin(); it != b.end(); ++it)
        a[it.key()].unite(it.value());
}

struct KRAMetaFieldCache::Shared {
    KRAMetaFieldCache::MediaFileTest isMediaFile;
    KRAMetaFieldCache::InfoReader reader;
    QStringList metaFieldNames;
    QStringList infoFieldNames;

    std::mutex lock;
    std::condition_variable wake;
    QMap<QUrl, KRAMetaFieldResults> results;
    // Folders in the order asked, each with its waiting callbacks.
    std::deque<std::pair<QUrl, QList<KRAMetaFieldCacheCallbackRef>>> pending;
    bool threadStarted = false;
    bool quit = false;

    bool quitting()
    {
        std::lock_guard<std::mutex> guard(lock);
        return quit;
    }
    void run();
    // None when the cache went away meanwhile.
    std::optional<KRAMetaFieldResults> collect(const QUrl& folder);
    // Stores the result and calls the folder's waiters.
    std::optional<KRAMetaFieldResults> finish(const QUrl& folder, const KRAMetaFieldResults& result);
    KRAMetaFieldResults emptyResult() const
    {
        KRAMetaFieldResults result;
        for (const QString& name : metaFieldNames + infoFieldNames)
            result.insert(name, {});
        return result;
    }
};

namespace {

// Adds a value, or each non-empty part of a value that holds several lines.
void AddValue(QSet<QString>& set, const QString& value)
{
    if (!value.contains(QLatin1Char('\r'))) {
        if (!value.isEmpty())
            set.insert(value);
        return;
    }
    for (const QString& part : value.split(QLatin1Char('\r'), Qt::SkipEmptyParts))
        set.insert(part);
}

} // namespace

KRAMetaFieldCache::KRAMetaFieldCache(MediaFileTest isMediaFile, const QStringList& metaFieldNames,
                                     const QStringList& infoFieldNames, InfoReader reader)
    : m_shared(std::make_shared<Shared>())
{
    m_shared->isMediaFile = std::move(isMediaFile);
    m_shared->metaFieldNames = metaFieldNames;
    m_shared->infoFieldNames = infoFieldNames;
    m_shared->reader = reader ? std::move(reader)
                              : [](const QString& path) { return QKMediaFileInfo::infoForFile(XStrFromQString(path)); };
}

KRAMetaFieldCache::~KRAMetaFieldCache()
{
    {
        std::lock_guard<std::mutex> guard(m_shared->lock);
        m_shared->quit = true;
        m_shared->pending.clear(); // nobody is called any more
    }
    m_shared->wake.notify_all();
}

KRAMetaFieldResults KRAMetaFieldCache::fieldsOfInfo(const QKMediaFileInfo* info, const QStringList& metaFieldNames,
                                                    const QStringList& infoFieldNames)
{
    KRAMetaFieldResults result;
    auto tag = [&](const QString& name) { return info ? info->getIDTagValueOf(name).value_or(QString()) : QString(); };
    for (const QString& field : metaFieldNames) {
        const QString lower = field.toLower();
        QString value = tag(field);
        if (value.isEmpty() && lower == QLatin1String("album artist"))
            value = tag(QStringLiteral("artist"));
        if (value.isEmpty())
            value = QStringLiteral("[no %1]").arg(field);
        if (lower == QLatin1String("album")) {
            QString artist = tag(QStringLiteral("Album Artist"));
            if (artist.isEmpty() && tag(QStringLiteral("Compilation")).toInt() == 0)
                artist = tag(QStringLiteral("Artist"));
            artist = artist.section(QLatin1Char('\r'), 0, 0);
            if (!artist.isEmpty())
                value = artist + QStringLiteral(" - ") + value;
        }
        AddValue(result[field], value);
    }
    for (const QString& field : infoFieldNames) {
        QSet<QString>& set = result[field];
        if (info)
            AddValue(set, info->getAudioPropsValueOf(field).value_or(QString()));
    }
    return result;
}

std::optional<KRAMetaFieldResults> KRAMetaFieldCache::Shared::collect(const QUrl& folder)
{
    {
        std::unique_lock<std::mutex> guard(lock);
        const auto it = results.find(folder);
        if (it != results.end()) {
            // Collected meanwhile as part of another tree: its own waiters still get it.
            const KRAMetaFieldResults result = it.value();
            guard.unlock();
            return finish(folder, result);
        }
    }
    KRAMetaFieldResults result = emptyResult();
    const QString path = XStrToQString(XPathFromFileURL(folder));
    DIR* dir = opendir(XStrFromQString(path).ToUTF8String().c_str());
    std::vector<std::pair<QString, bool>> entries; // path, is a folder
    if (dir) {
        const int fd = dirfd(dir);
        while (const dirent* entry = readdir(dir)) {
            if (entry->d_name[0] == '.')
                continue;
            struct stat st {};
            // Links to folders are not followed: a tree that links back to itself ends.
            if (fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            const bool isLink = S_ISLNK(st.st_mode);
            if (isLink && (fstatat(fd, entry->d_name, &st, 0) != 0 || S_ISDIR(st.st_mode)))
                continue;
            const QString name = XStrToQString(XStr::FromUTF8(entry->d_name));
            entries.emplace_back(path.endsWith(QLatin1Char('/')) ? path + name : path + QLatin1Char('/') + name,
                                 S_ISDIR(st.st_mode));
        }
        closedir(dir);
    }
    for (const auto& [entryPath, isFolder] : entries) {
        if (quitting())
            return std::nullopt;
        if (isFolder) {
            const std::optional<KRAMetaFieldResults> sub = collect(XFileURL(XStrFromQString(entryPath)));
            if (!sub)
                return std::nullopt;
            KRAMetaFieldUnite(result, *sub);
        } else if (isMediaFile && isMediaFile(entryPath)) {
            const QKMediaFileInfoRef info = reader(entryPath);
            KRAMetaFieldUnite(result, fieldsOfInfo(info.get(), metaFieldNames, infoFieldNames));
        }
    }
    return finish(folder, result);
}

std::optional<KRAMetaFieldResults> KRAMetaFieldCache::Shared::finish(const QUrl& folder,
                                                                     const KRAMetaFieldResults& result)
{
    QList<KRAMetaFieldCacheCallbackRef> callbacks;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (quit)
            return std::nullopt;
        results.insert(folder, result);
        for (auto it = pending.begin(); it != pending.end(); ++it)
            if (it->first == folder) {
                callbacks = it->second;
                pending.erase(it);
                break;
            }
    }
    for (const KRAMetaFieldCacheCallbackRef& callback : callbacks)
        callback->deliverMetaFieldCacheResults(result);
    return result;
}

void KRAMetaFieldCache::Shared::run()
{
    for (;;) {
        QUrl folder;
        {
            std::unique_lock<std::mutex> guard(lock);
            wake.wait(guard, [&] { return quit || !pending.empty(); });
            if (quit)
                return;
            folder = pending.front().first;
        }
        if (!collect(folder))
            return;
    }
}

std::optional<KRAMetaFieldResults> KRAMetaFieldCache::fieldsForFolder(const QUrl& folder,
                                                                      const KRAMetaFieldCacheCallbackRef& callback)
{
    std::lock_guard<std::mutex> guard(m_shared->lock);
    const auto cached = m_shared->results.find(folder);
    if (cached != m_shared->results.end())
        return cached.value();
    auto it = m_shared->pending.begin();
    while (it != m_shared->pending.end() && it->first != folder)
        ++it;
    if (it == m_shared->pending.end())
        it = m_shared->pending.insert(m_shared->pending.end(), {folder, {}});
    if (callback)
        it->second << callback;
    if (!m_shared->threadStarted) {
        try {
            // The thread keeps the shared part alive until it has seen the quit.
            std::thread([shared = m_shared] { shared->run(); }).detach();
            m_shared->threadStarted = true;
        } catch (const std::system_error&) {
            // Left pending: the next request tries again.
        }
    }
    m_shared->wake.notify_all();
    return std::nullopt;
}

namespace {

// Unites the results of several folders and hands the union on once, when the last arrives.
class CollectManyFolders : public KRAMetaFieldCacheCallback {
public:
    explicit CollectManyFolders(int count) : m_count(count) {}

    void deliverMetaFieldCacheResults(const KRAMetaFieldResults& results) override
    {
        KRAMetaFieldCacheCallbackRef chain;
        KRAMetaFieldResults combined;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            KRAMetaFieldUnite(m_results, results);
            if (++m_delivered == m_count && m_chain) {
                chain = std::exchange(m_chain, nullptr);
                combined = m_results;
            }
        }
        if (chain)
            chain->deliverMetaFieldCacheResults(combined);
    }

    std::optional<KRAMetaFieldResults> finishSynchronousScope(const KRAMetaFieldCacheCallbackRef& callback)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_delivered == m_count)
            return m_results;
        m_chain = callback;
        return std::nullopt;
    }

private:
    std::mutex m_lock;
    KRAMetaFieldResults m_results;
    const int m_count;
    int m_delivered = 0;
    KRAMetaFieldCacheCallbackRef m_chain;
};

} // namespace

std::optional<KRAMetaFieldResults> KRAMetaFieldCache::fieldsForFolders(const QList<QUrl>& folders,
                                                                       const KRAMetaFieldCacheCallbackRef& callback)
{
    if (folders.isEmpty())
        return std::nullopt;
    auto collector = std::make_shared<CollectManyFolders>(static_cast<int>(folders.size()));
    for (const QUrl& folder : folders)
        if (const std::optional<KRAMetaFieldResults> now = fieldsForFolder(folder, collector))
            collector->deliverMetaFieldCacheResults(*now);
    return collector->finishSynchronousScope(callback);
}
