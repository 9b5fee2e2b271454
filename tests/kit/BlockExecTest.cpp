#include "kit/BlockExec.h"

#include "xclass/XMainQueue.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <thread>

namespace {

TEST(BlockExecTest, MainThreadBlockIsQueuedEvenFromTheMainThread)
{
    XMainQueue queue;
    queue.Install();
    bool ran = false;
    std::thread::id ranOn;
    performBlockOnMainThread([&] {
        ran = true;
        ranOn = std::this_thread::get_id();
    });
    EXPECT_FALSE(ran);
    EXPECT_EQ(queue.RunPending(), 1u);
    EXPECT_TRUE(ran);
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(BlockExecTest, BlocksFromABackgroundThreadReachTheMainThreadInOrder)
{
    XMainQueue queue;
    queue.Install();
    std::vector<int> order;
    const std::thread::id mainThread = std::this_thread::get_id();
    bool allOnMain = true;
    std::thread poster([&] {
        for (int i = 0; i < 3; ++i)
            performBlockOnMainThread([&, i] {
                order.push_back(10 + i);
                allOnMain = allOnMain && std::this_thread::get_id() == mainThread;
            });
    });
    poster.join();
    performBlockOnMainThread([&] { order.push_back(1); });
    performBlockOnMainThread([&] { order.push_back(2); });
    EXPECT_TRUE(order.empty());
    queue.RunPending();
    EXPECT_EQ(order, (std::vector<int>{10, 11, 12, 1, 2}));
    EXPECT_TRUE(allOnMain);
}

TEST(BlockExecTest, BackgroundBlockRunsOnAThreadOfItsOwn)
{
    std::mutex lock;
    std::condition_variable done;
    int finished = 0;
    std::thread::id ids[2];
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(performBlockInBackground([&, i] {
            std::lock_guard<std::mutex> guard(lock);
            ids[i] = std::this_thread::get_id();
            ++finished;
            done.notify_all();
        }));
    }
    std::unique_lock<std::mutex> guard(lock);
    ASSERT_TRUE(done.wait_for(guard, std::chrono::minutes(5), [&] { return finished == 2; }));
    EXPECT_NE(ids[0], std::this_thread::get_id());
    EXPECT_NE(ids[1], std::this_thread::get_id());
}

TEST(BlockExecTest, DelayedBlockRunsLaterOnTheCallingThreadsLoop)
{
    QEventLoop loop;
    int runs = 0;
    QThread* ranOn = nullptr;
    performAfterDelay(0.02, [&] {
        ++runs;
        ranOn = QThread::currentThread();
        loop.quit();
    });
    EXPECT_EQ(runs, 0);
    QTimer::singleShot(300000, &loop, &QEventLoop::quit); // a guard, not a timing check
    loop.exec();
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(ranOn, QThread::currentThread());
}

TEST(BlockExecTest, DelayedBlockFromAnotherQtThreadRunsThere)
{
    std::atomic<bool> sameThread{false};
    std::atomic<int> runs{0};
    QThread* thread = QThread::create([&] {
        QEventLoop loop;
        QThread* caller = QThread::currentThread();
        // Negative and NaN delays count as none.
        performBlock(
            [&] {
                ++runs;
                sameThread = QThread::currentThread() == caller;
            },
            -1.0);
        performBlock(
            [&] {
                ++runs;
                loop.quit();
            },
            std::numeric_limits<double>::quiet_NaN());
        QTimer::singleShot(300000, &loop, &QEventLoop::quit);
        loop.exec();
    });
    thread->start();
    ASSERT_TRUE(thread->wait(60000));
    delete thread;
    EXPECT_EQ(runs, 2);
    EXPECT_TRUE(sameThread);
}

} // namespace
