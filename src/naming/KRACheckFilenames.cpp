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

bool Exists(const QUrl& url)
{
    struct stat st = {};
    return StatPath(LocalPath(url), st);
}

// The outputs of one source, for every encoder, in encoder order.
QList<KRACheckFileNamesEntryRef> CheckSource(const KRACheckSourceItem& source, int index,
                                             const QList<KRACheckEncoderItem>& encoders, bool needMeta,
                                             QSet<QUrl>& existing)
{
    QList<KRACheckFileNamesEntryRef> out;
    QKMediaFileInfoRef info;
    const std::string sourcePath = LocalPath(source.namingURL);
    if (needMeta)
        info = source.info ? source.info : QKMediaFileInfo::infoForFile(XPathFromFileURL(source.namingURL));
    struct stat sourceStat = {};
    const bool sourceExists = StatPath(sourcePath, sourceStat);
    for (const KRACheckEncoderItem& item : encoders) {
        auto entry = std::make_shared<KRACheckFileNamesEntry>();
        entry->source2 = source.source;
        entry->sourceIndex = index;
        entry->namingURL = source.namingURL;
        entry->multiEncData = item.multiEncData;
        entry->encoderName = item.encoder ? item.encoder->name() : QString();
        entry->sourceSizeBytes = sourceExists ? static_cast<uint64_t>(sourceStat.st_size) : 0;
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
        if (Exists(entry->destination))
            existing.insert(entry->destination);
        KRACheckFilenames::updateSameAsSource(*entry);
        out.append(entry);
    }
    return out;
}

} // namespace

// ---- The state ---------------------------------------------------------------------------------

int64_t KRACheckFilenamesState::numItemsChecked() const
{
    int64_t count = 0;
    for (const KRACheckFileNamesEntryRef& entry : entries)
        count += entry->checked ? 1 : 0;
    return count;
}

QSet<QString> KRACheckFilenamesState::conflictingPaths() const
{
    QHash<QString, int> uses;
    for (const KRACheckFileNamesEntryRef& entry : entries)
        if (entry->checked && !entry->destination.isEmpty() &&
            entry->destination != KRACheckFilenames::placeholderDestination())
            ++uses[entry->destination.toLocalFile()];
    QSet<QString> conflicts;
    for (auto it = uses.constBegin(); it != uses.constEnd(); ++it)
        if (it.value() > 1)
            conflicts.insert(it.key());
    return conflicts;
}

KRACheckFilenamesState::Problem KRACheckFilenamesState::problemOf(const KRACheckFileNamesEntry& entry) const
{
    return problemOf(entry, conflictingPaths());
}

KRACheckFilenamesState::Problem KRACheckFilenamesState::problemOf(const KRACheckFileNamesEntry& entry,
                                                                  const QSet<QString>& conflicts)
{
    if (!entry.checked)
        return Problem::None;
    if (entry.destination.isEmpty())
        return Problem::NoDestination;
    if (entry.sameAsSource)
        return Problem::SameAsSource;
    if (conflicts.contains(entry.destination.toLocalFile()))
        return Problem::Conflict;
    return Problem::None;
}

bool KRACheckFilenamesState::hasBlockingProblems() const
{
    return countProblems() > 0;
}

int KRACheckFilenamesState::countProblems() const
{
    const QSet<QString> conflicts = conflictingPaths();
    int count = 0;
    for (const KRACheckFileNamesEntryRef& entry : entries)
        if (entry->checked && (entry->destination.isEmpty() || entry->sameAsSource ||
                               conflicts.contains(entry->destination.toLocalFile())))
            ++count;
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
    const QSet<QString> conflicts = conflictingPaths();
    QList<KRACheckFileNamesEntryRef> shown;
    for (const KRACheckFileNamesEntryRef& entry : entries)
        if (alreadyExists.contains(entry->destination) ||
            (entry->checked && (entry->destination.isEmpty() || entry->sameAsSource ||
                                conflicts.contains(entry->destination.toLocalFile()))))
            shown.append(entry);
    return shown;
}

// ---- The check ---------------------------------------------------------------------------------

void KRACheckFilenames::updateSameAsSource(KRACheckFileNamesEntry& entry)
{
    const std::string sourcePath = LocalPath(entry.namingURL);
    const std::string destinationPath = LocalPath(entry.destination);
    entry.sameAsSource = false;
    if (destinationPath.empty() || sourcePath.empty())
        return;
    if (destinationPath == sourcePath) {
        entry.sameAsSource = true;
        return;
    }
    // The same file through a link or another name of it.
    struct stat source = {}, destination = {};
    entry.sameAsSource = StatPath(sourcePath, source) && StatPath(destinationPath, destination) &&
                         source.st_dev == destination.st_dev && source.st_ino == destination.st_ino;
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
                results[static_cast<size_t>(i)] = CheckSource(sources[i], i, copies[static_cast<size_t>(t)], needMeta,
                                                              existing[static_cast<size_t>(t)]);
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
