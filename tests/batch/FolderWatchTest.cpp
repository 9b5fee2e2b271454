// Folder watching: changes directly in a watched folder reach the client once per burst,
// deeper ones do not, a replaced watch drops its late events, and watches come and go
// without leaving descriptors behind.
#include "batch/BatchTestSupport.h"
#include "batch/KRAFileChangeNotify.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <fstream>

namespace {

struct Client : KRAFileChangeNotifyClient {
    int events = 0;
    void onFileChangeEventFrom(KRAFileChangeNotify*) override { ++events; }
};

int OpenDescriptors()
{
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir))
            ++count;
        closedir(dir);
    }
    return count;
}

void RunFor(int ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        XMainQueue::Shared().RunPending();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

} // namespace

TEST(FolderWatch, ChangesInTheFolderNotifyOncePerBurstDeeperOnesNot)
{
    TestTempDir dir;
    ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(dir.file("sub/deeper").c_str(), 0700), 0);
    auto client = std::make_shared<Client>();
    auto watcher = KRAFileChangeNotify::create();
    watcher->setLatency(0.2);
    watcher->setNotifyClient(client);
    watcher->setWatchedFolder(QPath(dir.path()));
    ASSERT_TRUE(watcher->isWatching());

    for (int i = 0; i < 5; ++i)
        std::ofstream(dir.file("new" + std::to_string(i) + ".mkv")) << "x";
    ASSERT_TRUE(RunMainUntil([&] { return client->events > 0; }));
    RunFor(400);
    EXPECT_EQ(client->events, 1);

    std::ofstream(dir.file("sub/deeper/far.mkv")) << "x";
    RunFor(400);
    EXPECT_EQ(client->events, 1);

    // A change noticed for the old folder after the watch moved is not delivered.
    std::ofstream(dir.file("late.mkv")) << "x";
    watcher->setWatchedFolder(QPath(dir.file("sub")));
    RunFor(400);
    EXPECT_EQ(client->events, 1);

    watcher->setWatchedFolder(std::nullopt);
    EXPECT_FALSE(watcher->isWatching());
    EXPECT_TRUE(watcher->testChangedFolders({}) == false);
}

TEST(FolderWatch, ManyStartsAndStopsLeaveNothingBehind)
{
    TestTempDir dir;
    auto client = std::make_shared<Client>();
    {
        auto first = KRAFileChangeNotify::create(); // the shared reader exists from here on
        first->setNotifyClient(client);
        first->setWatchedFolder(QPath(dir.path()));
    }
    const int descriptors = OpenDescriptors();
    const int watches = KRAFileChangeNotify::activeWatchCount();
    for (int i = 0; i < 500; ++i) {
        auto watcher = KRAFileChangeNotify::create();
        watcher->setNotifyClient(client);
        watcher->setWatchedFolder(QPath(dir.path()));
        auto other = KRAFileChangeNotify::create();
        other->setNotifyClient(client);
        other->setWatchedFolder(QPath(dir.path())); // the same folder: one kernel watch
        EXPECT_EQ(KRAFileChangeNotify::activeWatchCount(), watches + 1);
        if (i % 2)
            watcher->dispose();
    }
    EXPECT_EQ(KRAFileChangeNotify::activeWatchCount(), watches);
    EXPECT_EQ(OpenDescriptors(), descriptors);
}
