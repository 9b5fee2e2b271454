#include "media/QKFileInfoCache.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "media/QKTag.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"
#include "xclass/XFormat.h"

// ---- Columns -----------------------------------------------------------------------------------

QKFileInfoColumns::QKFileInfoColumns(const QKMediaFileInfo* info)
{
    if (info) {
        m_lengthMS = info->lengthMS();
        if (const QKTagRef tags = info->IDTags())
            m_tag = *tags->tag();
        if (const QKTagRef props = info->MediaProps())
            m_tag.Merge(*props->tag(), false);
    }
    m_tag.RemoveTag(L"Length");
    m_tag.AddTag(L"Length", XFormatDuration(static_cast<int64_t>(m_lengthMS), 1).p);

    XStr artist = m_tag.GetValue(L"Album Artist");
    if (artist.IsEmpty())
        artist = m_tag.GetValue(L"Artist");
    const XStr album = m_tag.GetValue(L"Album");
    const XStr track = m_tag.GetNumberPairDisplay(L"Track");
    m_tag.RemoveTag(L"Track");
    if (!track.IsEmpty())
        m_tag.AddTag(L"Track", track.p);
    XStr disc = m_tag.GetNumberPairDisplay(L"Disc");
    int discNumber = 0, discTotal = 0;
    ParseNumberPair(m_tag.GetValue(L"Disc").p, discNumber, discTotal);
    if (discTotal <= 1)
        disc = XStr();
    const XStr compilation = m_tag.TakeTag(L"Compilation");
    m_tag.AddTag(L"Compilation", compilation.ToLong() != 0 ? L"Yes" : L"No");

    XStr full = artist;
    for (const XStr* part : {&album, static_cast<const XStr*>(&disc), &track})
        if (!part->IsEmpty())
            full += XStr(L" - ") + *part;
    m_tag.AddTag(L"Album Artist - Album - Disc - Track", full.p);
    XStr short_ = album;
    if (!disc.IsEmpty())
        short_ += XStr(L" - ") + disc;
    if (!track.IsEmpty())
        short_ += XStr(L" - ") + track;
    m_tag.AddTag(L"Album - Disc - Track", short_.p);
}

QVariant QKFileInfoColumns::getValue(const QString& column, bool forSort) const
{
    if (forSort && column == QLatin1String("Length"))
        return QVariant::fromValue<qulonglong>(m_lengthMS);
    const QString value = XStrToQString(m_tag.GetValue(XStrFromQString(column).p));
    return QKTag::isFieldMultiVal(column) ? QKTag::multiValToDisplay(value) : value;
}

// ---- The cache ---------------------------------------------------------------------------------

// What the worker and the main thread share: the two signals of the cache, and the cache
// itself for delivery (weakly: a window that dropped the cache ends the worker too).
struct QKFileInfoCache::Shared {
    std::mutex lock;
    std::condition_variable wake;
    bool shouldWork = false;
    std::atomic<bool> shouldQuit{false};
    std::weak_ptr<QKFileInfoCache> cache;
};

std::shared_ptr<QKFileInfoCache> QKFileInfoCache::create(const QList<QUrl>& urls, bool columns, Reader reader)
{
    std::shared_ptr<QKFileInfoCache> cache(new QKFileInfoCache);
    cache->m_urls = urls;
    auto shared = std::make_shared<Shared>();
    shared->cache = cache;
    cache->m_shared = shared;
    if (!reader)
        reader = [](const QUrl& url) { return QKMediaFileInfo::infoForFile(XPathFromFileURL(url)); };

    std::thread([shared, urls, columns, reader] {
        using Clock = std::chrono::steady_clock;
        QList<Result> batch;
        auto checkpoint = Clock::now();
        const auto post = [&shared](QList<Result> results) {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [shared, results] {
                    if (shared->shouldQuit.load())
                        return;
                    if (const std::shared_ptr<QKFileInfoCache> cache = shared->cache.lock())
                        cache->deliver(results);
                },
                Qt::QueuedConnection);
        };
        for (int64_t i = 0; i < urls.size();) {
            if (shared->shouldQuit.load())
                return;
            bool read = i < kReadWithoutListener;
            if (!read) {
                std::unique_lock<std::mutex> guard(shared->lock);
                read = shared->wake.wait_for(guard, std::chrono::milliseconds(500), [&shared] {
                    return shared->shouldWork || shared->shouldQuit.load();
                }) && !shared->shouldQuit.load();
            }
            if (read) {
                Result result;
                result.info = reader(urls[i]);
                if (!result.info)
                    result.info = QKMediaFileInfo::empty();
                if (columns)
                    result.columns = std::make_shared<QKFileInfoColumns>(result.info.get());
                batch.append(result);
                ++i;
            }
            if (Clock::now() - checkpoint > std::chrono::milliseconds(999)) {
                checkpoint = Clock::now();
                if (!batch.isEmpty())
                    post(std::exchange(batch, {}));
            }
        }
        if (!batch.isEmpty() && !shared->shouldQuit.load())
            post(batch);
    }).detach();
    return cache;
}

QKFileInfoCache::~QKFileInfoCache()
{
    shutdown();
}

const QKFileInfoCache::Result* QKFileInfoCache::infoForIndex(int64_t index) const
{
    if (index < 0 || index >= m_content.size())
        return nullptr;
    return &m_content[index];
}

void QKFileInfoCache::deliver(QList<Result> batch)
{
    m_content += batch;
    const auto callbacks = m_callbacks; // a callback may remove itself
    for (const auto& [id, callback] : callbacks)
        if (m_callbacks.count(id))
            callback(batch.size());
}

int QKFileInfoCache::addCallback(std::function<void(int64_t)> callback)
{
    const int id = m_nextId++;
    m_callbacks[id] = std::move(callback);
    {
        std::lock_guard<std::mutex> guard(m_shared->lock);
        m_shared->shouldWork = true;
    }
    m_shared->wake.notify_all();
    return id;
}

void QKFileInfoCache::removeCallback(int id)
{
    m_callbacks.erase(id);
    if (m_callbacks.empty()) {
        std::lock_guard<std::mutex> guard(m_shared->lock);
        m_shared->shouldWork = false;
    }
}

void QKFileInfoCache::shutdown()
{
    if (!m_shared)
        return;
    m_shared->shouldQuit = true;
    m_shared->wake.notify_all();
}
