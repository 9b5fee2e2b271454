#include "naming/KRACheckFilenames.h"

#include <QCoreApplication>
#include <QHash>
#include <QMetaObject>

#include <sys/stat.h>

#include <mutex>
#include <thread>
#include <vector>

#include "media/QKMediaFileInfo.h"
#include "naming/KRAFileNaming.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"

namespace {

// The path as the file system takes it (the lossless bridge keeps names that are no UTF-8).
std::string LocalPath(const QUrl& url)
{
    if (url.isEmpty())
        return std::string();
    return XPathFromFileURL(url).ToUTF8String();
}

bool StatPath(const std::string& path, struct stat& st)
{
    return !path.empty() && stat(path.c_str(), &st) == 0;
}

// The outputs of one source, for every encoder, in encoder order.
QList<KRACheckFileNamesEntryRef> CheckSource(const KRACheckSourceItem& source, int index,
                                             const QList<KRACheckEncoderItem>& encoders, bool needMeta,
                                             QSet<QUrl>& existing, XFileKeyMaker& keys)
{
    QList<KRACheckFileNamesEntryRef> out;
    QKMediaFileInfoRef info;
    const std::string sourcePath = LocalPath(source.namingURL);
    if (needMeta)
        info = source.info ? source.info : QKMediaFileInfo::infoForFile(XPathFromFileURL(source.namingURL));
    struct stat sourceStat = {};
    const bool sourceExists = StatPath(sourcePath, sourceStat);
    const std::string sourceKey = keys.key(sourcePath);
    const XFileId sourceId = XFileIdOf(sourcePath);
    for (const KRACheckEncoderItem& item : encoders) {
        auto entry = std::make_shared<KRACheckFileNamesEntry>();
        entry->source2 = source.source;
        entry->sourceIndex = index;
        entry->namingURL = source.namingURL;
        entry->multiEncData = item.multiEncData;
        entry->encoderName = item.encoder ? item.encoder->name() : QString();
        entry->sourceSizeBytes = sourceExists ? static_cast<uint64_t>(sourceStat.st_size) : 0;
        entry->sourceKey = sourceKey;
        entry->sourceId = sourceId;
        if (item.encoder && item.encoder->disableConvertToFolder) {
            entry->destination = KRACheckFilenames::placeholderDestination();
            out.append(entry);
            continue;
        }
        const QString extension = KRACheckFilenames::extensionFor(item);
        if (item.naming) {
            if (source.destinationUser)
                entry->destination =
                    item.naming->fullPathForSourceUserString(source.namingURL, source.destinationUser, extension);
            else
                entry->destination = item.naming->fullPathForSource(source.namingURL, info.get(), extension);
        }
        KRACheckFilenames::updateSameAsSource(*entry, &keys);
        if (entry->destinationId.exists)
            existing.insert(entry->destination);
        out.append(entry);
    }
    return out;
}

} // namespace

// ---- The state ---------------------------------------------------------------------------------

namespace {

bool WritesAFile(const KRACheckFileNamesEntry& entry)
{
    return entry.checked && !entry.destination.isEmpty() &&
           entry.destination != KRACheckFilenames::placeholderDestination();
}

// The names under which clashes are kept: the key, and the identity once the file exists.
// An entry whose files were never looked at is known by its path text alone.
std::vector<std::string> Names(const std::string& key, const XFileId& id, const QUrl& url)
{
    std::vector<std::string> names;
    if (!key.empty())
        names.push_back(key);
    else if (!url.isEmpty())
        names.push_back("text:" + LocalPath(url));
    if (id.exists)
        names.push_back("#" + std::to_string(id.device) + ":" + std::to_string(id.inode));
    return names;
}

std::vector<std::string> DestinationNames(const KRACheckFileNamesEntry& entry)
{
    return Names(entry.destinationKey, entry.destinationId, entry.destination);
}

std::vector<std::string> SourceNames(const KRACheckFileNamesEntry& entry)
{
    return Names(entry.sourceKey, entry.sourceId, entry.namingURL);
}

bool SameSource(const KRACheckFileNamesEntry& a, const KRACheckFileNamesEntry& b)
{
    const std::vector<std::string> namesA = SourceNames(a), namesB = SourceNames(b);
    return (!namesA.empty() && !namesB.empty() && namesA.front() == namesB.front()) || a.sourceId == b.sourceId;
}

} // namespace

const KRACheckFileNamesEntry* KRACheckClashes::otherDestination(const KRACheckFileNamesEntry& entry) const
{
    if (!WritesAFile(entry))
        return nullptr;
    for (const std::string& name : DestinationNames(entry)) {
        const auto it = destinations.find(name);
        if (it != destinations.end() && it->second.count > 1)
            return it->second.first != &entry ? it->second.first : it->second.second;
    }
    return nullptr;
}

const KRACheckFileNamesEntry* KRACheckClashes::sourceHit(const KRACheckFileNamesEntry& entry) const
{
    if (!WritesAFile(entry))
        return nullptr;
    for (const std::string& name : DestinationNames(entry)) {
        const auto it = sources.find(name);
        if (it != sources.end() && !SameSource(*it->second, entry))
            return it->second;
    }
    return nullptr;
}

int64_t KRACheckFilenamesState::numItemsChecked() const
{
    int64_t count = 0;
    for (const KRACheckFileNamesEntryRef& entry : entries)
        count += entry->checked ? 1 : 0;
    return count;
}

KRACheckClashes KRACheckFilenamesState::clashes() const
{
    KRACheckClashes clashes;
    for (const KRACheckFileNamesEntryRef& entry : entries) {
        if (!entry->checked)
            continue;
        for (const std::string& name : SourceNames(*entry))
            clashes.sources.emplace(name, entry.get());
        if (!WritesAFile(*entry))
            continue;
        for (const std::string& name : DestinationNames(*entry)) {
            KRACheckClashes::Use& use = clashes.destinations[name];
            if (!use.first)
                use.first = entry.get();
            else if (!use.second)
                use.second = entry.get();
            ++use.count;
        }
    }
    return clashes;
}

KRACheckFilenamesState::Problem KRACheckFilenamesState::problemOf(const KRACheckFileNamesEntry& entry) const
{
    return problemOf(entry, clashes());
}

KRACheckFilenamesState::Problem KRACheckFilenamesState::problemOf(const KRACheckFileNamesEntry& entry,
                                                                  const KRACheckClashes& clashes)
{
    if (!entry.checked)
        return Problem::None;
    if (entry.destination.isEmpty())
        return Problem::NoDestination;
    if (entry.sameAsSource)
        return Problem::SameAsSource;
    if (clashes.sourceHit(entry))
        return Problem::OtherSource;
    if (clashes.otherDestination(entry))
        return Problem::Conflict;
    return Problem::None;
}

bool KRACheckFilenamesState::hasBlockingProblems() const
{
    return countProblems() > 0;
}

int KRACheckFilenamesState::countProblems() const
{
    const KRACheckClashes shared = clashes();
    int count = 0;
    for (const KRACheckFileNamesEntryRef& entry : entries)
        count += problemOf(*entry, shared) != Problem::None ? 1 : 0;
    return count;
}

int KRACheckFilenamesState::countExisting() const
{
    int count = 0;
    for (const KRACheckFileNamesEntryRef& entry : entries)
        count += entry->checked && alreadyExists.contains(entry->destination) ? 1 : 0;
    return count;
}

QList<KRACheckFileNamesEntryRef> KRACheckFilenamesState::entriesToShow() const
{
    const KRACheckClashes shared = clashes();
    QList<KRACheckFileNamesEntryRef> shown;
    for (const KRACheckFileNamesEntryRef& entry : entries)
        if (alreadyExists.contains(entry->destination) || problemOf(*entry, shared) != Problem::None)
            shown.append(entry);
    return shown;
}

// ---- The check ---------------------------------------------------------------------------------

void KRACheckFilenames::updateSameAsSource(KRACheckFileNamesEntry& entry, XFileKeyMaker* keys)
{
    XFileKeyMaker own;
    XFileKeyMaker& maker = keys ? *keys : own;
    const std::string sourcePath = LocalPath(entry.namingURL);
    const std::string destinationPath = LocalPath(entry.destination);
    if (entry.sourceKey.empty() && !sourcePath.empty()) {
        entry.sourceKey = maker.key(sourcePath);
        entry.sourceId = XFileIdOf(sourcePath);
    }
    const bool writes = !destinationPath.empty() && entry.destination != placeholderDestination();
    entry.destinationKey = writes ? maker.key(destinationPath) : std::string();
    entry.destinationId = writes ? XFileIdOf(destinationPath) : XFileId();
    // The same file by name, through a link, under another case, or as another name of it.
    entry.sameAsSource = writes && !sourcePath.empty() &&
                         ((!entry.destinationKey.empty() && entry.destinationKey == entry.sourceKey) ||
                          entry.destinationId == entry.sourceId);
}

bool KRACheckFilenames::needsMetaFromFiles(const QList<KRACheckEncoderItem>& encoders)
{
    for (const KRACheckEncoderItem& item : encoders)
        if (!(item.encoder && item.encoder->disableConvertToFolder) && item.naming && item.naming->needsMetaFromFiles())
            return true;
    return false;
}

QString KRACheckFilenames::extensionFor(const KRACheckEncoderItem& item)
{
    QString extension = item.args.customFormatExt.value_or(QString());
    if (extension.isEmpty() && item.encoder)
        extension = item.encoder->formatExtension();
    if (!extension.isEmpty() && !extension.startsWith(QLatin1Char('.')))
        extension.prepend(QLatin1Char('.'));
    return extension;
}

QList<KRACheckEncoderItem> KRACheckFilenames::copyEncoders(const QList<KRACheckEncoderItem>& encoders)
{
    QList<KRACheckEncoderItem> copies;
    for (KRACheckEncoderItem item : encoders) {
        if (item.naming)
            item.naming = item.naming->copy();
        item.args = item.args.copy();
        copies.append(item);
    }
    return copies;
}

KRACheckFilenamesStateRef KRACheckFilenames::run(const QList<KRACheckSourceItem>& sources,
                                                 const QList<KRACheckEncoderItem>& encoders, int workers,
                                                 const std::atomic<bool>* cancel,
                                                 std::function<void(int done)> progress)
{
    const bool needMeta = needsMetaFromFiles(encoders);
    const int count = static_cast<int>(sources.size());
    // Only probing is worth threads; without it every source takes a few system calls.
    const int threads = needMeta ? std::max(1, std::min(workers, count)) : 1;
    std::vector<QList<KRACheckFileNamesEntryRef>> results(static_cast<size_t>(count));
    std::vector<QSet<QUrl>> existing(static_cast<size_t>(threads));
    std::vector<XFileKeyMaker> keys(static_cast<size_t>(threads));
    // A naming resolves its folder when asked for a path: each worker asks its own copies.
    std::vector<QList<KRACheckEncoderItem>> copies;
    for (int t = 0; t < threads; ++t)
        copies.push_back(t == 0 ? encoders : copyEncoders(encoders));
    std::atomic<int> next{0};
    std::atomic<int> done{0};
    const auto work = [&](int t) {
        for (;;) {
            if (cancel && cancel->load())
                return;
            const int i = next.fetch_add(1);
            if (i >= count)
                return;
            if (sources[i].checked)
                results[static_cast<size_t>(i)] =
                    CheckSource(sources[i], i, copies[static_cast<size_t>(t)], needMeta,
                                existing[static_cast<size_t>(t)], keys[static_cast<size_t>(t)]);
            const int finished = done.fetch_add(1) + 1;
            if (progress)
                progress(finished);
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t) {
        try {
            pool.emplace_back(work, t);
        } catch (const std::system_error&) {
            break; // fewer workers: the calling thread does the rest
        }
    }
    work(0);
    for (std::thread& thread : pool)
        thread.join();
    if (cancel && cancel->load())
        return nullptr;

    auto state = std::make_shared<KRACheckFilenamesState>();
    for (const QList<KRACheckFileNamesEntryRef>& list : results)
        state->entries += list;
    for (const QSet<QUrl>& set : existing)
        state->alreadyExists.unite(set);
    return state;
}

// ---- The background job ------------------------------------------------------------------------

struct KRACheckFilenamesJob::Shared {
    std::atomic<bool> cancel{false};
    std::atomic<bool> running{false};
};

KRACheckFilenamesJob::KRACheckFilenamesJob() = default;

KRACheckFilenamesJob::~KRACheckFilenamesJob()
{
    cancel();
}

void KRACheckFilenamesJob::start(const QList<KRACheckSourceItem>& sources, const QList<KRACheckEncoderItem>& encoders,
                                 std::function<void(KRACheckFilenamesStateRef)> done, int workers)
{
    cancel();
    auto shared = std::make_shared<Shared>();
    m_shared = shared;
    shared->running = true;
    const QList<KRACheckEncoderItem> copies = KRACheckFilenames::copyEncoders(encoders);
    // The thread holds the shared part, not the job: a job destroyed mid-check only raises the
    // cancel flag, and the thread ends by itself at the next source.
    std::thread([shared, sources, copies, done, workers] {
        KRACheckFilenamesStateRef state = KRACheckFilenames::run(sources, copies, workers, &shared->cancel);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [shared, state, done] {
                shared->running = false;
                if (!shared->cancel.load() && done)
                    done(state);
            },
            Qt::QueuedConnection);
    }).detach();
}

void KRACheckFilenamesJob::cancel()
{
    if (m_shared)
        m_shared->cancel = true;
    m_shared.reset();
}

bool KRACheckFilenamesJob::isRunning() const
{
    return m_shared && m_shared->running.load();
}
