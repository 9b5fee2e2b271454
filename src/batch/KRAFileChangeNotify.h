// Tells one client, on the main thread, that something changed in one or more watched
// folders, so that the batch converter can refresh the file list the user is looking at.
//
// The kernel's inotify reports each change at once and has no notion of latency, so the
// notifications are gathered here: the first change after a quiet spell opens a window of
// `latency` seconds, and one notification goes out when it closes, however many changes came
// in between. Every notifier of the process shares one inotify instance and one reader
// thread; a folder watched by several notifiers is one kernel watch, removed with its last
// user, so that watchers made and dropped as the user browses leave nothing behind.
//
// Changes below the first level count only when the notifier is recursive (its sub-folders
// are then watched too, new ones as they appear). A folder watched alone is followed by its
// path: renamed, deleted or made again, it notifies, and the folder at that path is watched
// from then on. Main thread only, except where noted.
#pragma once

#include <QList>
#include <QSet>
#include <QString>
#include <QUrl>

#include <cstdint>
#include <memory>
#include <optional>

class KRAFileChangeNotify;

class KRAFileChangeNotifyClient {
public:
    virtual ~KRAFileChangeNotifyClient();
    virtual void onFileChangeEventFrom(KRAFileChangeNotify* watcher) = 0;
};

class KRAFileChangeNotify : public std::enable_shared_from_this<KRAFileChangeNotify> {
public:
    static std::shared_ptr<KRAFileChangeNotify> create();
    ~KRAFileChangeNotify();
    KRAFileChangeNotify(const KRAFileChangeNotify&) = delete;
    KRAFileChangeNotify& operator=(const KRAFileChangeNotify&) = delete;

    // Paths are texts as XStrToQString gives them (lossless for any name). Each setter stops
    // the watcher, stores the value and starts it again; none (or an empty list) stops it.
    void setWatchedFolders(const std::optional<QStringList>& folders);
    void setWatchedFolder(const std::optional<QString>& folder);
    void setWatchedFolderURL(const QUrl& url);
    QStringList watchedFolders() const { return m_watchedFolders; }
    QString watchedFolder() const { return m_watchedFolders.value(0); }
    QUrl watchedFolderURL() const;

    void setNotifyClient(const std::weak_ptr<KRAFileChangeNotifyClient>& client);
    void setLatency(double seconds);
    double latency() const { return m_latency; }
    void setRecursive(bool recursive);
    bool recursive() const { return m_recursive; }

    bool isWatching() const { return m_watching; }
    // Stops watching; nothing is delivered after it.
    void shutdown();
    // Stops watching and forgets the client.
    void dispose();

    // Whether a change at these paths concerns the watched folders: always when recursive;
    // else when a path is a watched folder itself or lies directly in one.
    bool testChangedFolders(const QStringList& paths) const;

    // Kernel watches the process holds now (tests).
    static int activeWatchCount();

    // Main thread: the shared reader's notification for the start numbered continuity;
    // dropped unless that start is still the current one.
    void onEventMT(uint64_t continuity);

private:
    KRAFileChangeNotify() = default;
    void watcherStart();
    void watcherStop();

    QStringList m_watchedFolders;
    QSet<QString> m_watchedFoldersSet;
    std::weak_ptr<KRAFileChangeNotifyClient> m_client;
    bool m_watching = false;
    uint64_t m_continuity = 0;
    double m_latency = 1.0;
    bool m_recursive = false;
    uint64_t m_registration = 0; // with the shared reader; 0: none
};
