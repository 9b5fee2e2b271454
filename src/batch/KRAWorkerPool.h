// A small pool of worker threads for the batch converter's background reads (folder listings,
// file scans, information), so that opening a folder with a thousand sub-folders queues a
// thousand small jobs rather than starting a thousand threads. Jobs run in the order given.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class KRAWorkerPool {
public:
    explicit KRAWorkerPool(size_t threads);
    // Runs what is queued, then joins the workers.
    ~KRAWorkerPool();
    KRAWorkerPool(const KRAWorkerPool&) = delete;
    KRAWorkerPool& operator=(const KRAWorkerPool&) = delete;

    // The pool the folder tree uses (never destroyed: jobs may still run at exit).
    static KRAWorkerPool& shared();

    // False when no worker could be started (the job is then not run).
    bool post(std::function<void()> job);
    size_t threadCount() const;

private:
    void run();
    bool startWorker();

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
    std::vector<std::thread> m_threads;
    size_t m_maxThreads;
    size_t m_idle = 0;
    bool m_stopping = false;
};
