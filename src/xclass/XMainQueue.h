// The main-thread hook of the block runners, and a plain queue that fills it.
//
// The class library does not own the main loop. Whoever does installs a poster: a function
// that hands a block to the main thread without waiting and runs posted blocks there in the
// order they were posted. The Qt application installs one built on
// QMetaObject::invokeMethod(qApp, ..., Qt::QueuedConnection); tests and tools that have no
// event loop of their own use XMainQueue, which the thread acting as the main thread drains.
// Until anything is installed, blocks go to XMainQueue::Shared().
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

using XMainThreadPoster = std::function<void(std::function<void()>)>;

// Installs the poster of the main thread and returns a token for XResetMainThreadPoster. A null
// poster brings back the default (XMainQueue::Shared()).
int XSetMainThreadPoster(XMainThreadPoster poster);
// Brings back the default poster, but only while the poster installed with token is still the
// current one.
void XResetMainThreadPoster(int token);
// Hands the block to the current poster.
void XPostToMainThread(std::function<void()> block);

// A thread-safe FIFO of blocks that one thread (the main thread of a tool or test) drains.
class XMainQueue {
public:
    XMainQueue() = default;
    // Uninstalls itself when installed; blocks still queued are dropped unrun.
    ~XMainQueue();
    XMainQueue(const XMainQueue&) = delete;
    XMainQueue& operator=(const XMainQueue&) = delete;

    // The queue that receives blocks while no other poster is installed.
    static XMainQueue& Shared();

    // Makes this queue the poster of the main thread.
    void Install();
    void Uninstall();

    void Post(std::function<void()> block);
    // Runs the blocks queued at the moment of the call, in order; blocks they post run on a
    // later call. Returns the number run.
    size_t RunPending();
    // Runs blocks as they arrive until done() is true or timeoutMs have passed (-1: no limit);
    // done is tested before each wait. Returns done().
    bool RunUntil(const std::function<bool()>& done, int timeoutMs);
    // Waits up to timeoutMs for at least one queued block; true when one is there.
    bool WaitForPost(int timeoutMs);
    size_t PendingCount() const;

private:
    mutable std::mutex m_lock;
    std::condition_variable m_posted;
    std::deque<std::function<void()>> m_blocks;
    int m_token = 0; // of our installation, 0 when not installed
};
