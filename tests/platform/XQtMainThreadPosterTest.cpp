#include "platform/XQtMainThreadPoster.h"

#include "xclass/XBlockRunner.h"
#include "xclass/XMainQueue.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <atomic>
#include <thread>
#include <vector>

namespace {

// Spins the event loop until done() or about 10 seconds have passed (a hang, not a timing).
bool RunEventsUntil(const std::function<bool()>& done)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 300000)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    return done();
}

TEST(XQtMainThreadPoster, BlocksFromAnyThreadRunOnTheMainThreadInOrderAndNeverInsideThePost)
{
    int argc = 1;
    char name[] = "platform_tests";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    XQtMainThreadPosterScope poster;

    QThread* mainThread = QThread::currentThread();
    std::vector<int> order;
    bool ranInside = true;
    execBlockOnMainThread([&] { order.push_back(1); });
    ranInside = !order.empty();
    execBlockOnMainThread([&] { order.push_back(2); });

    std::atomic<bool> wrongThread{false};
    std::thread worker([&] {
        execBlockOnMainThread([&] {
            if (QThread::currentThread() != mainThread)
                wrongThread = true;
            order.push_back(3);
        });
    });
    worker.join();

    EXPECT_FALSE(ranInside);
    ASSERT_TRUE(RunEventsUntil([&] { return order.size() == 3; }));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_FALSE(wrongThread);
    // Nothing went to the plain queue meanwhile.
    EXPECT_EQ(XMainQueue::Shared().PendingCount(), 0u);
}

TEST(XQtMainThreadPoster, LeavingTheScopeBringsBackThePlainQueue)
{
    int argc = 1;
    char name[] = "platform_tests";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    XMainQueue::Shared().RunPending();
    {
        XQtMainThreadPosterScope poster;
    }
    bool ran = false;
    execBlockOnMainThread([&] { ran = true; });
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran);
    EXPECT_EQ(XMainQueue::Shared().RunPending(), 1u);
    EXPECT_TRUE(ran);
}

} // namespace
