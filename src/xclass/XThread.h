// Threads and the thread pool.
//
// XThread is the library's joinable thread: its thread function receives a stop event, so
// every worker can be asked to stop and is then joined. Around it: priorities, the processor
// count, fire-and-forget threads, the scoped lock XAutoLock, and XThreadPool, a pool of
// XThread workers over a FIFO of work items.
//
// No exception of a thread function, a function thread or a pool work item ever leaves its
// thread: it is caught and dropped there. A thread that cannot be created is reported to the
// caller by the result of the call that wanted it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <pthread.h>

#include "xclass/XCriticalSection.h"
#include "xclass/XEvent.h"

using XThreadProc = void (*)(XEvent* stopEvent, void* data);

// Shared by an XThread and its running thread, so the stop event stays valid for the thread
// even when the XThread has let go of it first.
struct STThreadInstance_t {
    XEvent StopEvent;
    std::atomic<bool> Finished{false}; // set by the thread when its function has returned
};

// Handed to the new thread, which deletes it.
struct STThreadStart_t {
    XThreadProc Proc = nullptr;
    void* Data = nullptr;
    std::shared_ptr<STThreadInstance_t> Instance;
};

class XThread {
public:
    pthread_t hThread{};
    bool Running = false; // started and not yet joined or detached (owner's view)
    std::shared_ptr<STThreadInstance_t> Instance;

    XThread() = default;
    // Constructs and starts at once; check Running to see whether the start succeeded.
    XThread(XThreadProc proc, void* data);
    ~XThread();
    XThread(const XThread&) = delete;
    XThread& operator=(const XThread&) = delete;

    // Stops a previous run, then starts proc(stopEvent, data) on a new joinable thread.
    // False (errno set, nothing running) when the thread cannot be created, or when its stop
    // event cannot be made.
    bool Start(XThreadProc proc, void* data);
    // Starts a std::function with the same contract.
    bool StartFunction(const std::function<void(XEvent*)>& function);
    // When running: sets the stop event and joins. Then releases the instance.
    void Stop();
    // When running: sets the stop event; with wait also joins.
    void SignalStop(bool wait);
    // When running: detaches; the thread runs on unowned.
    void Detach();
    // pthread_join's result; nothing to join gives ESRCH.
    int Join();
    // True when not running, or when the thread function has returned (joined or not).
    bool HasFinished() const;
    void SetPriority(int level);
    void SetSchedParam(int policy, int priority);
    // The stop event the thread function receives; null when never started.
    XEvent* GetStopEvent() const { return Instance ? &Instance->StopEvent : nullptr; }
};

// Holds an XCriticalSection for a scope.
class XAutoLock {
public:
    XCriticalSection* Mutex;
    bool Locked;

    explicit XAutoLock(XCriticalSection* mutex) : Mutex(mutex), Locked(false)
    {
        if (Mutex) {
            Mutex->Lock();
            Locked = true;
        }
    }
    explicit XAutoLock(XCriticalSection& mutex) : XAutoLock(&mutex) {}
    ~XAutoLock() { Unlock(); }
    XAutoLock(const XAutoLock&) = delete;
    XAutoLock& operator=(const XAutoLock&) = delete;

    // Releases early, once.
    void Unlock()
    {
        if (Locked) {
            Locked = false;
            Mutex->Unlock();
        }
    }
};

// Levels 1 to 6 give 10, 25, 50, 75, 90 and 100 percent of the SCHED_OTHER range; any other
// level its minimum. pthread_setschedparam's result.
int XSetThreadPriority(pthread_t thread, int level);
// The priority that XSetThreadPriority gives for a level.
int XThreadPriorityForLevel(int level);
pthread_t XCurrentThread();
// Online processors, at least 1.
unsigned XGetProcessorCount();
// Runs the function on a new detached thread. False (errno set) when no thread could be made.
bool XSplitThread(const std::function<void()>& function);
// Calls the function; there is no autorelease pool to drain here. An empty function raises
// std::bad_function_call.
void XWithAutoreleasePool(const std::function<void()>& function);
// Nothing to switch on this platform: threads need no announcement.
void XEnableCocoaThreads();

// A unit of work for XThreadPool. The pool owns queued items and deletes each after it ran
// (also when Run threw) or when the pool stops before running it.
class XThreadPoolItem {
public:
    virtual ~XThreadPoolItem() = default;
    virtual void Run(XEvent* stopEvent) = 0;
};

class XThreadPool {
public:
    XEvent WorkEvent; // set while the queue is not empty
    XEvent IdleEvent; // set when every started worker waits for work
    XCriticalSection Mutex;
    XThread* Threads = nullptr; // MaxThreads workers, started lazily
    uint32_t MaxThreads = 0;
    uint32_t RunningThreads = 0;
    int32_t IdleThreads = 0;

    explicit XThreadPool(uint32_t threads);
    ~XThreadPool();
    XThreadPool(const XThreadPool&) = delete;
    XThreadPool& operator=(const XThreadPool&) = delete;

    // Stops, then prepares n workers (none started); 0 leaves the pool stopped.
    void Start(uint32_t threads);
    // Queues the item (the pool owns it from now on) and starts another worker when work piles
    // up or none runs yet. False when no worker runs to take it (the pool is stopped, or no
    // thread could be made); the item stays queued and the next Add tries again.
    bool Add(XThreadPoolItem* item);
    // Stops and joins every worker, then deletes every queued item unrun.
    void Stop();
    // Waits up to timeoutMs for the pool to become idle, then stops it.
    void WaitIdleAndStop(int timeoutMs);

    // The next item for a worker; null when the worker's stop event is set.
    XThreadPoolItem* GetNext(XEvent* stopEvent);

private:
    struct Node {
        XThreadPoolItem* Item;
        Node* Next;
    };
    Node* Head = nullptr;
    Node* Tail = nullptr;

    static void WorkerProc(XEvent* stopEvent, void* data);
    void DeleteQueue();
};
