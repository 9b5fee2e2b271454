#include "batch/KRAFileChangeNotify.h"

#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"
#include "xclass/XMainQueue.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO |
                                IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
// A recursive watch of a huge tree would take the user's whole inotify allowance.
constexpr size_t kMaxFoldersPerRecursiveWatch = 20000;

std::string Bytes(const QString& path)
{
    return XStrFromQString(path).ToUTF8String();
}

QString Text(const std::string& bytes)
{
    return XStrToQString(XStr::FromUTF8(bytes.c_str()));
}

bool Concerns(const QSet<QString>& folders, bool recursive, const QString& path)
{
    if (recursive || folders.contains(path))
        return true;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash >= 0 && folders.contains(slash == 0 ? QStringLiteral("/") : path.left(slash));
}

// The one inotify instance of the process and the thread that reads it.
class Hub {
public:
    struct Delivery {
        std::weak_ptr<KRAFileChangeNotify> owner;
        uint64_t continuity = 0;
    };

    static Hub& shared()
    {
        // Never destroyed: its thread runs for the life of the process.
        static Hub* hub = new Hub();
        return *hub;
    }

    uint64_t add(const std::shared_ptr<KRAFileChangeNotify>& owner, uint64_t continuity, const QStringList& folders,
                 bool recursive, double latency)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!ensureStarted())
            return 0;
        const uint64_t id = ++m_lastId;
        Registration& reg = m_regs[id];
        reg.owner = owner;
        reg.continuity = continuity;
        reg.recursive = recursive;
        reg.latency = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(std::isfinite(latency) ? std::clamp(latency, 0.0, 3600.0) : 1.0));
        for (const QString& folder : folders) {
            reg.folders.insert(folder);
            const std::string bytes = Bytes(folder);
            if (recursive) {
                watchTree(bytes, id);
                continue;
            }
            // A kernel watch follows the folder it was put on, not its path: the parent's
            // watch sees the folder renamed, deleted or made again, and the folder's own
            // watch is then put on whatever is at the path now.
            addWatch(bytes, id);
            const size_t slash = bytes.find_last_of('/');
            if (slash != std::string::npos && bytes.size() > 1) {
                reg.followed.insert(bytes);
                addWatch(slash == 0 ? std::string("/") : bytes.substr(0, slash), id);
            }
        }
        return id;
    }

    void remove(uint64_t id)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_regs.find(id);
        if (it == m_regs.end())
            return;
        for (const int wd : it->second.watches)
            releaseWatch(wd, id);
        m_regs.erase(it);
    }

    int watchCount()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return static_cast<int>(m_watches.size());
    }

private:
    struct Registration {
        std::weak_ptr<KRAFileChangeNotify> owner;
        uint64_t continuity = 0;
        QSet<QString> folders;
        bool recursive = false;
        Clock::duration latency{};
        std::set<int> watches;
        std::set<std::string> followed; // watched folders whose parent is watched too
        bool pending = false;
        Clock::time_point deadline;
    };
    struct Watch {
        std::string path;
        std::set<uint64_t> users;
    };

    bool ensureStarted()
    {
        if (m_fd >= 0)
            return true;
        m_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_fd < 0)
            return false;
        m_wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        try {
            std::thread([this] { run(); }).detach();
        } catch (...) {
            close(m_fd);
            m_fd = -1;
            if (m_wake >= 0)
                close(m_wake);
            m_wake = -1;
            return false;
        }
        return true;
    }

    void wake()
    {
        if (m_wake >= 0) {
            const uint64_t one = 1;
            ssize_t written = write(m_wake, &one, sizeof one);
            (void)written;
        }
    }

    int addWatch(const std::string& path, uint64_t id)
    {
        const int wd = inotify_add_watch(m_fd, path.c_str(), kWatchMask);
        if (wd < 0)
            return -1;
        Watch& watch = m_watches[wd];
        watch.path = path;
        watch.users.insert(id);
        m_regs[id].watches.insert(wd);
        return wd;
    }

    void releaseWatch(int wd, uint64_t id)
    {
        auto it = m_watches.find(wd);
        if (it == m_watches.end())
            return;
        it->second.users.erase(id);
        if (it->second.users.empty()) {
            inotify_rm_watch(m_fd, wd);
            m_watches.erase(it);
        }
    }

    // The watch of a followed folder, put anew on what is at its path now (nothing when the
    // path is gone).
    void rearm(uint64_t id, const std::string& folder)
    {
        Registration& reg = m_regs[id];
        std::vector<int> stale;
        for (const int wd : reg.watches) {
            const auto it = m_watches.find(wd);
            if (it != m_watches.end() && it->second.path == folder)
                stale.push_back(wd);
        }
        for (const int wd : stale) {
            reg.watches.erase(wd);
            releaseWatch(wd, id);
        }
        addWatch(folder, id);
    }

    // The folder and every folder below it (links not followed), within the bound.
    void watchTree(const std::string& root, uint64_t id)
    {
        std::vector<std::string> pending{root};
        size_t count = 0;
        while (!pending.empty() && count < kMaxFoldersPerRecursiveWatch) {
            const std::string folder = pending.back();
            pending.pop_back();
            if (addWatch(folder, id) < 0)
                continue;
            ++count;
            DIR* dir = opendir(folder.c_str());
            if (!dir)
                continue;
            while (const dirent* entry = readdir(dir)) {
                const std::string name = entry->d_name;
                if (name == "." || name == "..")
                    continue;
                const std::string child = folder + "/" + name;
                struct stat st {};
                if (lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                    pending.push_back(child);
            }
            closedir(dir);
        }
    }

    void handle(const inotify_event& event, Clock::time_point now)
    {
        auto it = m_watches.find(event.wd);
        if (it == m_watches.end())
            return;
        if (event.mask & IN_IGNORED) {
            // The kernel dropped the watch (its folder is gone): forget it everywhere.
            for (const uint64_t id : it->second.users)
                m_regs[id].watches.erase(event.wd);
            m_watches.erase(it);
            return;
        }
        std::string path = it->second.path;
        if (event.len > 0 && event.name[0]) {
            if (path != "/")
                path += '/';
            path += event.name;
        }
        const QString changed = Text(path);
        const std::set<uint64_t> users = it->second.users;
        for (const uint64_t id : users) {
            Registration& reg = m_regs[id];
            if (reg.recursive && (event.mask & IN_ISDIR) && (event.mask & (IN_CREATE | IN_MOVED_TO)))
                watchTree(path, id);
            constexpr uint32_t kMoved =
                IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;
            if (!reg.recursive && (event.mask & kMoved) && reg.followed.count(path))
                rearm(id, path);
            if (!Concerns(reg.folders, reg.recursive, changed) || reg.pending)
                continue;
            reg.pending = true;
            reg.deadline = now + reg.latency;
        }
    }

    void run()
    {
        alignas(inotify_event) char buffer[64 * 1024];
        for (;;) {
            int timeout = -1;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                const Clock::time_point now = Clock::now();
                for (const auto& [id, reg] : m_regs)
                    if (reg.pending) {
                        const auto left =
                            std::chrono::duration_cast<std::chrono::milliseconds>(reg.deadline - now).count() + 1;
                        const int ms = static_cast<int>(std::clamp<long long>(left, 0, 3600 * 1000));
                        timeout = timeout < 0 ? ms : std::min(timeout, ms);
                    }
            }
            pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wake, POLLIN, 0}};
            poll(fds, m_wake >= 0 ? 2 : 1, timeout);
            if (m_wake >= 0 && (fds[1].revents & POLLIN)) {
                uint64_t value = 0;
                ssize_t got = read(m_wake, &value, sizeof value);
                (void)got;
            }
            std::vector<Delivery> due;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                const Clock::time_point now = Clock::now();
                for (;;) {
                    const ssize_t length = read(m_fd, buffer, sizeof buffer);
                    if (length <= 0)
                        break;
                    for (ssize_t offset = 0; offset + static_cast<ssize_t>(sizeof(inotify_event)) <= length;) {
                        const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
                        handle(*event, now);
                        offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                    }
                }
                for (auto& [id, reg] : m_regs)
                    if (reg.pending && reg.deadline <= now) {
                        reg.pending = false;
                        due.push_back({reg.owner, reg.continuity});
                    }
            }
            for (const Delivery& delivery : due) {
                const std::weak_ptr<KRAFileChangeNotify> owner = delivery.owner;
                const uint64_t continuity = delivery.continuity;
                XPostToMainThread([owner, continuity] {
                    if (const auto watcher = owner.lock())
                        watcher->onEventMT(continuity);
                });
            }
        }
    }

    std::mutex m_mutex;
    int m_fd = -1;
    int m_wake = -1;
    uint64_t m_lastId = 0;
    std::map<uint64_t, Registration> m_regs;
    std::map<int, Watch> m_watches;
};

} // namespace

KRAFileChangeNotifyClient::~KRAFileChangeNotifyClient() = default;

std::shared_ptr<KRAFileChangeNotify> KRAFileChangeNotify::create()
{
    return std::shared_ptr<KRAFileChangeNotify>(new KRAFileChangeNotify());
}

KRAFileChangeNotify::~KRAFileChangeNotify()
{
    watcherStop();
}

void KRAFileChangeNotify::setWatchedFolders(const std::optional<QStringList>& folders)
{
    watcherStop();
    m_watchedFolders = folders.value_or(QStringList());
    m_watchedFoldersSet = QSet<QString>(m_watchedFolders.begin(), m_watchedFolders.end());
    watcherStart();
}

void KRAFileChangeNotify::setWatchedFolder(const std::optional<QString>& folder)
{
    setWatchedFolders(folder ? std::optional<QStringList>(QStringList{*folder}) : std::nullopt);
}

void KRAFileChangeNotify::setWatchedFolderURL(const QUrl& url)
{
    const XStr path = XPathFromFileURL(url);
    setWatchedFolder(path.IsEmpty() ? std::nullopt : std::optional<QString>(XStrToQString(path)));
}

QUrl KRAFileChangeNotify::watchedFolderURL() const
{
    return m_watchedFolders.isEmpty() ? QUrl() : XFileURL(XStrFromQString(m_watchedFolders.first()));
}

void KRAFileChangeNotify::setNotifyClient(const std::weak_ptr<KRAFileChangeNotifyClient>& client)
{
    watcherStop();
    m_client = client;
    watcherStart();
}

void KRAFileChangeNotify::setLatency(double seconds)
{
    watcherStop();
    m_latency = seconds;
    watcherStart();
}

void KRAFileChangeNotify::setRecursive(bool recursive)
{
    watcherStop();
    m_recursive = recursive;
    watcherStart();
}

void KRAFileChangeNotify::shutdown()
{
    watcherStop();
}

void KRAFileChangeNotify::dispose()
{
    watcherStop();
    m_client.reset();
}

bool KRAFileChangeNotify::testChangedFolders(const QStringList& paths) const
{
    return std::any_of(paths.begin(), paths.end(),
                       [this](const QString& path) { return Concerns(m_watchedFoldersSet, m_recursive, path); });
}

int KRAFileChangeNotify::activeWatchCount()
{
    return Hub::shared().watchCount();
}

void KRAFileChangeNotify::watcherStart()
{
    if (m_watchedFolders.isEmpty() || m_client.expired())
        return;
    m_watching = true;
    ++m_continuity;
    m_registration = Hub::shared().add(shared_from_this(), m_continuity, m_watchedFolders, m_recursive, m_latency);
}

void KRAFileChangeNotify::watcherStop()
{
    if (!m_watching)
        return;
    if (m_registration)
        Hub::shared().remove(m_registration);
    m_registration = 0;
    m_watching = false;
}

void KRAFileChangeNotify::onEventMT(uint64_t continuity)
{
    if (!m_watching || continuity != m_continuity)
        return;
    if (const auto client = m_client.lock())
        client->onFileChangeEventFrom(this);
}
