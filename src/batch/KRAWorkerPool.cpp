#include "batch/KRAWorkerPool.h"

#include <algorithm>

KRAWorkerPool::KRAWorkerPool(size_t threads) : m_maxThreads(std::max<size_t>(threads, 1)) {}

KRAWorkerPool::~KRAWorkerPool()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    for (std::thread& thread : m_threads)
        thread.join();
}

KRAWorkerPool& KRAWorkerPool::shared()
{
    static auto* pool = new KRAWorkerPool(4);
    return *pool;
}

bool KRAWorkerPool::startWorker()
{
    try {
        m_threads.emplace_back([this] { run(); });
        return true;
    } catch (...) {
        return false;
    }
}

bool KRAWorkerPool::post(std::function<void()> job)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping)
            return false;
        // Threads are started as work arrives, up to the limit.
        if (m_idle == 0 && m_threads.size() < m_maxThreads && !startWorker() && m_threads.empty())
            return false;
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
    return true;
}

size_t KRAWorkerPool::threadCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_threads.size();
}

void KRAWorkerPool::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        ++m_idle;
        m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
        --m_idle;
        if (m_jobs.empty())
            return; // stopping, and nothing left
        std::function<void()> job = std::move(m_jobs.front());
        m_jobs.pop_front();
        lock.unlock();
        try {
            job();
        } catch (...) {
            // A job that throws loses itself, not the worker.
        }
        lock.lock();
    }
}
