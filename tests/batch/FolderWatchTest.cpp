// Folder watching: changes directly in a watched folder reach the client once per burst,
// deeper ones do not, a replaced watch drops its late events, the watch follows the folder's
// path, and watches come and go without leaving descriptors behind.
#include "batch/BatchTestSupport.h"
#include "batch/KRAFileChangeNotify.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <filesystem>
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
    // A window far longer than the five writes take, also when the test is held up between them.
    watcher->setLatency(2.0);
    watcher->setNotifyClient(client);
    watcher->setWatchedFolder(QPath(dir.path()));
    ASSERT_TRUE(watcher->isWatching());

    for (int i = 0; i < 5; ++i)
        std::ofstream(dir.file("new" + std::to_string(i) + ".mkv")) << "x";
    ASSERT_TRUE(RunMainUntil([&] { return client->events > 0; }));
    RunFor(2500); // past the window
    EXPECT_EQ(client->events, 1);

    std::ofstream(dir.file("sub/deeper/far.mkv")) << "x";
    RunFor(2500); // past the window
    EXPECT_EQ(client->events, 1);

    // A change noticed for the old folder after the watch moved is not delivered.
    std::ofstream(dir.file("late.mkv")) << "x";
    watcher->setWatchedFolder(QPath(dir.file("sub")));
    RunFor(2500); // past the window
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
        other->setWatchedFolder(QPath(dir.path())); // the same folder: one kernel watch for it, one for its parent
        EXPECT_EQ(KRAFileChangeNotify::activeWatchCount(), watches + 2);
        if (i % 2)
            watcher->dispose();
    }
    EXPECT_EQ(KRAFileChangeNotify::activeWatchCount(), watches);
    EXPECT_EQ(OpenDescriptors(), descriptors);
}

// The watch follows the folder's path, not the folder first found there: renamed, deleted and
// made again, each notifies, and what is made at the path is watched from then on; changes
// beside the folder, in its parent, do not count.
TEST(FolderWatch, FollowsTheFolderByItsPath)
{
    TestTempDir dir;
    const std::string shown = dir.file("shown");
    ASSERT_EQ(mkdir(shown.c_str(), 0700), 0);
    auto client = std::make_shared<Client>();
    auto watcher = KRAFileChangeNotify::create();
    watcher->setLatency(0.1);
    watcher->setNotifyClient(client);
    watcher->setWatchedFolder(QPath(shown));
    auto expectOneMore = [&](const char* what) {
        const int before = client->events;
        EXPECT_TRUE(RunMainUntil([&] { return client->events > before; })) << what;
        RunFor(300); // the rest of the burst
    };

    std::ofstream(dir.file("beside.mkv")) << "x";
    RunFor(400);
    EXPECT_EQ(client->events, 0);

    ASSERT_EQ(rename(shown.c_str(), dir.file("renamed").c_str()), 0);
    expectOneMore("renamed");
    std::ofstream(dir.file("renamed/in-the-old-one.mkv")) << "x";
    RunFor(400);
    const int afterRename = client->events;

    ASSERT_EQ(mkdir(shown.c_str(), 0700), 0);
    expectOneMore("made again");
    std::ofstream(shown + "/new.mkv") << "x";
    expectOneMore("a file in the new folder");

    std::filesystem::remove_all(shown);
    expectOneMore("deleted");
    ASSERT_EQ(mkdir(shown.c_str(), 0700), 0);
    expectOneMore("made once more");
    std::ofstream(shown + "/again.mkv") << "x";
    expectOneMore("a file in it");
    EXPECT_GE(client->events, afterRename + 4);
    watcher->dispose();
}
