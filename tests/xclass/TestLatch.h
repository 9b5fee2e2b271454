// Small helpers for the thread and process tests: a count-down latch, and a guard whose
// destruction counts the latch down (captured by a callback, it tells when the callback's
// owner has let go of it).
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

class TestLatch {
public:
    explicit TestLatch(int count) : m_count(count) {}
    void CountDown()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        if (m_count > 0)
            --m_count;
        m_done.notify_all();
    }
    // True when the count reached 0 within the time; a generous limit only guards against hangs.
    bool Wait(int ms = 300000)
    {
        std::unique_lock<std::mutex> hold(m_lock);
        return m_done.wait_for(hold, std::chrono::milliseconds(ms), [this] { return m_count == 0; });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_done;
    int m_count;
};

struct TestLatchGuard {
    explicit TestLatchGuard(TestLatch& latch) : Latch(latch) {}
    ~TestLatchGuard() { Latch.CountDown(); }
    TestLatch& Latch;
};

inline std::shared_ptr<TestLatchGuard> MakeLatchGuard(TestLatch& latch)
{
    return std::make_shared<TestLatchGuard>(latch);
}
