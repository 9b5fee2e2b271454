#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <unistd.h>

#include "xclass/TestLatch.h"
#include "xclass/XThread.h"

namespace {
// Polls a condition that another thread makes true; the limit only guards against hangs.
template <typename F>
bool Eventually(F condition)
{
    for (int i = 0; i < 60000; ++i) {
        if (condition())
            return true;
        usleep(5000);
    }
    return condition();
}

void WaitForStop(XEvent* stop, void* data)
{
    static_cast<std::atomic<int>*>(data)->fetch_add(1);
    stop->WaitUntilSet(-1);
}
} // namespace

TEST(XThread, StopOnANeverStartedThreadDoesNothing)
{
    XThread t;
    t.Stop();
    t.SignalStop(true);
    t.Detach();
    EXPECT_FALSE(t.Running);
    EXPECT_TRUE(t.HasFinished());
    EXPECT_EQ(t.Join(), ESRCH);
}

TEST(XThread, StopSetsTheStopEventAndJoins)
{
    std::atomic<int> started{0};
    XThread t(WaitForStop, &started);
    ASSERT_TRUE(t.Running);
    ASSERT_TRUE(Eventually([&] { return started == 1; }));
    EXPECT_FALSE(t.HasFinished());
    t.Stop();
    EXPECT_FALSE(t.Running);
    EXPECT_FALSE(t.Instance);

    // Start again after a stop: a fresh, clear stop event.
    ASSERT_TRUE(t.Start(WaitForStop, &started));
    ASSERT_TRUE(Eventually([&] { return started == 2; }));
    EXPECT_FALSE(t.GetStopEvent()->IsSet());
    t.SignalStop(true);
    EXPECT_FALSE(t.Running);
    EXPECT_TRUE(t.HasFinished());
}

TEST(XThread, FinishedBeforeJoinAndExceptionsStayInTheThread)
{
    XThread t;
    ASSERT_TRUE(t.StartFunction([](XEvent*) { throw std::runtime_error("thread failure"); }));
    EXPECT_TRUE(Eventually([&] { return t.HasFinished(); }));
    EXPECT_TRUE(t.Running); // finished, not joined yet
    EXPECT_EQ(t.Join(), 0);

    XThread empty;
    ASSERT_TRUE(empty.StartFunction(std::function<void(XEvent*)>()));
    EXPECT_TRUE(Eventually([&] { return empty.HasFinished(); }));
}

TEST(XThread, DetachedThreadKeepsItsStopEvent)
{
    TestLatch done(1);
    {
        XThread t;
        ASSERT_TRUE(t.StartFunction([&done](XEvent* stop) {
            usleep(30000);
            stop->IsSet(); // the event must still be valid after the owner went away
            done.CountDown();
        }));
        t.Detach();
    }
    EXPECT_TRUE(done.Wait());
}

TEST(XThread, SplitThreadAndProcessorCount)
{
    TestLatch done(2);
    std::atomic<bool> elsewhere{false};
    const auto mainId = std::this_thread::get_id();
    ASSERT_TRUE(XSplitThread([&] {
        elsewhere = std::this_thread::get_id() != mainId;
        done.CountDown();
        throw 42; // swallowed on the thread
    }));
    ASSERT_TRUE(XSplitThread([&] { done.CountDown(); }));
    EXPECT_TRUE(done.Wait());
    EXPECT_TRUE(elsewhere);
    EXPECT_GE(XGetProcessorCount(), 1u);
    EXPECT_TRUE(pthread_equal(XCurrentThread(), pthread_self()));
    EXPECT_THROW(XWithAutoreleasePool(std::function<void()>()), std::bad_function_call);
}

TEST(XAutoLock, HoldsForTheScopeAndUnlocksOnce)
{
    XCriticalSection cs;
    std::atomic<bool> taken{false};
    {
        XAutoLock outer(cs);
        XAutoLock inner(&cs); // recursive
        std::thread other([&] {
            XAutoLock lock(cs);
            taken = true;
        });
        usleep(20000);
        EXPECT_FALSE(taken);
        inner.Unlock();
        inner.Unlock(); // the second one does nothing
        usleep(20000);
        EXPECT_FALSE(taken); // outer still holds it
        outer.Unlock();
        other.join();
    }
    EXPECT_TRUE(taken);
    EXPECT_TRUE(cs.TryLock());
    cs.Unlock();
}

namespace {
struct PoolCounters {
    std::atomic<int> Ran{0};
    std::atomic<int> Deleted{0};
};

class CountingItem : public XThreadPoolItem {
public:
    CountingItem(PoolCounters& c, std::function<void(XEvent*)> body = {}) : m_c(c), m_body(std::move(body)) {}
    ~CountingItem() override { ++m_c.Deleted; }
    void Run(XEvent* stop) override
    {
        if (m_body)
            m_body(stop);
        ++m_c.Ran;
    }

private:
    PoolCounters& m_c;
    std::function<void(XEvent*)> m_body;
};
} // namespace

TEST(XThreadPool, SecondWorkerStartsOnlyWhenWorkPilesUp)
{
    PoolCounters c;
    XEvent release;
    XThreadPool pool(2);
    std::atomic<bool> firstRunning{false};
    ASSERT_TRUE(pool.Add(new CountingItem(c, [&](XEvent*) {
        firstRunning = true;
        release.WaitUntilSet(-1);
    })));
    ASSERT_TRUE(Eventually([&] { return firstRunning.load(); }));
    EXPECT_EQ(pool.RunningThreads, 1u);

    // The queue is empty and a worker exists: no new worker for this one.
    std::atomic<bool> secondRan{false};
    ASSERT_TRUE(pool.Add(new CountingItem(c, [&](XEvent*) { secondRan = true; })));
    EXPECT_EQ(pool.RunningThreads, 1u);
    // Now work piles up: the second worker starts and takes the second item while the first
    // worker is still busy.
    ASSERT_TRUE(pool.Add(new CountingItem(c)));
    EXPECT_EQ(pool.RunningThreads, 2u);
    EXPECT_TRUE(Eventually([&] { return secondRan.load(); }));
    EXPECT_FALSE(release.IsSet());

    release.Set();
    EXPECT_TRUE(pool.IdleEvent.WaitUntilSet(300000));
    EXPECT_EQ(c.Ran, 3);
    EXPECT_EQ(c.Deleted, 3);
    pool.Stop();
    EXPECT_EQ(pool.MaxThreads, 0u);
}

TEST(XThreadPool, ThrowingItemDoesNotStrandTheQueue)
{
    PoolCounters c;
    XThreadPool pool(1);
    for (int i = 0; i < 5; ++i)
        pool.Add(new CountingItem(c, [i](XEvent*) {
            if (i % 2 == 0)
                throw std::runtime_error("item failure");
        }));
    EXPECT_TRUE(Eventually([&] { return c.Deleted == 5; }));
    EXPECT_EQ(c.Ran, 2); // the ones that did not throw
    EXPECT_TRUE(pool.IdleEvent.WaitUntilSet(300000));
    pool.Add(new CountingItem(c));
    EXPECT_TRUE(Eventually([&] { return c.Ran == 3; }));
}

TEST(XThreadPool, StopDeletesQueuedItemsUnrun)
{
    PoolCounters c;
    XThreadPool pool(1);
    std::atomic<bool> running{false};
    pool.Add(new CountingItem(c, [&](XEvent* stop) {
        running = true;
        stop->WaitUntilSet(-1);
    }));
    ASSERT_TRUE(Eventually([&] { return running.load(); }));
    pool.Add(new CountingItem(c));
    pool.Add(new CountingItem(c));
    pool.WaitIdleAndStop(0);
    EXPECT_EQ(c.Ran, 1); // only the one that was running, ended by the stop event
    EXPECT_EQ(c.Deleted, 3);
    EXPECT_TRUE(pool.IdleEvent.IsSet());
    EXPECT_FALSE(pool.WorkEvent.IsSet());

    // A stopped pool keeps what is added until it stops again; a restarted one runs it.
    EXPECT_FALSE(pool.Add(new CountingItem(c)));
    EXPECT_EQ(c.Deleted, 3);
    pool.Start(2);
    EXPECT_EQ(c.Deleted, 4); // Start stops first, dropping the queue
    pool.Add(new CountingItem(c));
    EXPECT_TRUE(Eventually([&] { return c.Ran == 2; }));
}
