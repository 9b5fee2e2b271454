#include "media/QKMediaInfoStore.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <unordered_map>

#include "media/QKMediaFileInfo.h"

namespace {

// Which file a path names and how it is now: a file renamed over another, rewritten or touched
// gives another stamp.
struct Stamp {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = -1;
    int64_t seconds = 0;
    long nanoseconds = 0;
    bool operator==(const Stamp& o) const
    {
        return dev == o.dev && ino == o.ino && size == o.size && seconds == o.seconds && nanoseconds == o.nanoseconds;
    }
};

// Only regular files have a size and time that say whether their content changed.
bool StampOf(const std::string& path, Stamp& stamp)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    stamp.dev = st.st_dev;
    stamp.ino = st.st_ino;
    stamp.size = st.st_size;
    stamp.seconds = st.st_mtim.tv_sec;
    stamp.nanoseconds = st.st_mtim.tv_nsec;
    return true;
}

struct Entry {
    Stamp stamp; // of the file when the record was read
    std::weak_ptr<QKMediaFileInfo> info;
    std::weak_ptr<const std::string> json;
    bool reading = false;
    Stamp readingStamp;
    uint64_t generation = 0; // counts the reads that ended
    // How the last read ended, for those who waited for it.
    bool lastFailed = false;
    XStr lastReason;
};

struct Kept {
    QKMediaFileInfoRef info;
    std::shared_ptr<const std::string> json;
};

struct Store {
    std::mutex lock;
    std::condition_variable changed;
    std::unordered_map<std::string, Entry> entries;
    std::deque<Kept> kept;
    size_t pruneAt = 4096;

    // Entries whose record nobody holds any longer only take room.
    void prune()
    {
        if (entries.size() < pruneAt)
            return;
        for (auto it = entries.begin(); it != entries.end();) {
            if (!it->second.reading && it->second.info.expired())
                it = entries.erase(it);
            else
                ++it;
        }
        pruneAt = std::max<size_t>(4096, entries.size() * 2);
    }
};

// Never destroyed: a detached reader may still ask while the process exits.
Store& TheStore()
{
    static Store* store = new Store;
    return *store;
}

QKMediaInfoStore::Found Held(const Entry& entry, const Stamp& now, bool wantJSON)
{
    QKMediaInfoStore::Found found;
    if (!(entry.stamp == now))
        return found;
    found.info = entry.info.lock();
    if (!found.info)
        return found;
    found.json = entry.json.lock();
    if (wantJSON && !found.json)
        found.info.reset();
    return found;
}

QKMediaInfoStore::Found ReadThrough(const XStr& path, XStr* reason, const FFprobeStop& stop, bool wantJSON,
                                    bool prefetchOnly)
{
    if (reason)
        *reason = XStr();
    const std::string key = path.ToUTF8String();
    Stamp now;
    if (!StampOf(key, now)) {
        QKMediaInfoStore::Found found;
        if (prefetchOnly)
            return found;
        std::string json;
        found.info = QKMediaFileInfo::probeFile(path, reason, stop, wantJSON ? &json : nullptr);
        if (found.info && wantJSON)
            found.json = std::make_shared<const std::string>(std::move(json));
        return found;
    }

    Store& store = TheStore();
    std::unique_lock<std::mutex> lock(store.lock);
    for (;;) {
        Entry& entry = store.entries[key];
        QKMediaInfoStore::Found found = Held(entry, now, wantJSON);
        if (found.info)
            return found;
        if (!entry.reading)
            break;
        if (prefetchOnly)
            return {};
        // Another thread is reading this file: its answer is ours too.
        const uint64_t generation = entry.generation;
        const bool sameFile = entry.readingStamp == now;
        for (;;) {
            if (stop && stop()) {
                if (reason)
                    *reason = L"ffprobe was stopped.";
                return {};
            }
            store.changed.wait_for(lock, std::chrono::milliseconds(50));
            const auto it = store.entries.find(key);
            if (it == store.entries.end() || !it->second.reading || it->second.generation != generation)
                break;
        }
        const auto it = store.entries.find(key);
        if (sameFile && it != store.entries.end() && it->second.generation == generation + 1 && it->second.lastFailed) {
            if (reason)
                *reason = it->second.lastReason;
            return {};
        }
    }

    {
        Entry& entry = store.entries[key];
        entry.reading = true;
        entry.readingStamp = now;
    }
    lock.unlock();
    std::string json;
    XStr why;
    QKMediaInfoStore::Found found;
    found.info = QKMediaFileInfo::probeFile(path, &why, stop, &json);
    const bool stopped = !found.info && stop && stop();
    lock.lock();
    Entry& entry = store.entries[key];
    entry.reading = false;
    ++entry.generation;
    if (found.info) {
        auto kept = std::make_shared<const std::string>(std::move(json));
        entry.stamp = now;
        entry.info = found.info;
        entry.json = kept;
        entry.lastFailed = false;
        entry.lastReason = XStr();
        store.kept.push_back({found.info, kept});
        if (store.kept.size() > QKMediaInfoStore::kKeep)
            store.kept.pop_front();
        if (wantJSON)
            found.json = kept;
    } else {
        // A read that was stopped says nothing about the file: whoever waited reads it anew.
        entry.lastFailed = !stopped;
        entry.lastReason = why;
    }
    store.prune();
    store.changed.notify_all();
    if (reason)
        *reason = why;
    return found;
}

} // namespace

QKMediaInfoStore::Found QKMediaInfoStore::read(const XStr& path, XStr* reason, const FFprobeStop& stop, bool wantJSON)
{
    return ReadThrough(path, reason, stop, wantJSON, false);
}

void QKMediaInfoStore::prefetch(const XStr& path, const FFprobeStop& stop, bool wantJSON)
{
    ReadThrough(path, nullptr, stop, wantJSON, true);
}

QKMediaFileInfoRef QKMediaInfoStore::lookup(const XStr& path)
{
    const std::string key = path.ToUTF8String();
    Stamp now;
    if (!StampOf(key, now))
        return nullptr;
    Store& store = TheStore();
    std::lock_guard<std::mutex> lock(store.lock);
    const auto it = store.entries.find(key);
    return it == store.entries.end() ? nullptr : Held(it->second, now, false).info;
}
