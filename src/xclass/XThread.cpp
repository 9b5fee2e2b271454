#include "xclass/XThread.h"

#include <cerrno>
#include <cxxabi.h>
#include <sched.h>
#include <unistd.h>

namespace {
void* ThreadEntry(void* arg)
{
    auto* start = static_cast<STThreadStart_t*>(arg);
    try {
        start->Proc(&start->Instance->StopEvent, start->Data);
    } catch (abi::__forced_unwind&) {
        throw; // a cancelled thread must unwind to its end
    } catch (...) {
        // A thread function's failure ends that thread's work, never the program.
    }
    start->Instance->Finished = true;
    delete start; // drops the thread's share of the instance
    return nullptr;
}

// The body of XThread::StartFunction: the heap copy of the function is the data.
void ThreadFunctionTrampoline(XEvent* stopEvent, void* data)
{
    auto* function = static_cast<std::function<void(XEvent*)>*>(data);
    try {
        (*function)(stopEvent);
    } catch (abi::__forced_unwind&) {
        delete function;
        throw;
    } catch (...) {
        // Includes an empty function (std::bad_function_call).
    }
    delete function;
}

void* SplitEntry(void* arg)
{
    auto* function = static_cast<std::function<void()>*>(arg);
    try {
        XWithAutoreleasePool(*function);
    } catch (abi::__forced_unwind&) {
        throw;
    } catch (...) {
    }
    delete function;
    return nullptr;
}
} // namespace

// ---- XThread -----------------------------------------------------------------------------

XThread::XThread(XThreadProc proc, void* data)
{
    Start(proc, data);
}

XThread::~XThread()
{
    Stop();
}

bool XThread::Start(XThreadProc proc, void* data)
{
    Stop();
    auto instance = std::make_shared<STThreadInstance_t>();
    if (!instance->StopEvent.IsOpen())
        return false; // errno from the failed pipe
    XEnableCocoaThreads();
    auto* start = new STThreadStart_t{proc, data, instance};
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_JOINABLE);
    const int r = pthread_create(&hThread, &attributes, ThreadEntry, start);
    pthread_attr_destroy(&attributes);
    if (r != 0) {
        delete start;
        errno = r;
        return false;
    }
    Instance = std::move(instance);
    Running = true;
    return true;
}

bool XThread::StartFunction(const std::function<void(XEvent*)>& function)
{
    auto* copy = new std::function<void(XEvent*)>(function);
    if (Start(ThreadFunctionTrampoline, copy))
        return true;
    delete copy;
    return false;
}

void XThread::Stop()
{
    if (Running) {
        Instance->StopEvent.Set();
        pthread_join(hThread, nullptr);
        Running = false;
    }
    Instance.reset();
}

void XThread::SignalStop(bool wait)
{
    if (!Running)
        return;
    Instance->StopEvent.Set();
    if (wait) {
        pthread_join(hThread, nullptr);
        Running = false;
    }
}

void XThread::Detach()
{
    if (Running) {
        pthread_detach(hThread);
        Running = false;
    }
}

int XThread::Join()
{
    if (!Running)
        return ESRCH; // joining a thread that is not ours would be undefined
    const int r = pthread_join(hThread, nullptr);
    Running = false;
    return r;
}

bool XThread::HasFinished() const
{
    if (!Running || !Instance)
        return true;
    return Instance->Finished.load();
}

void XThread::SetPriority(int level)
{
    if (Running)
        XSetThreadPriority(hThread, level);
}

void XThread::SetSchedParam(int policy, int priority)
{
    if (Running) {
        struct sched_param param {};
        param.sched_priority = priority;
        pthread_setschedparam(hThread, policy, &param);
    }
}

// ---- Free functions ----------------------------------------------------------------------

int XThreadPriorityForLevel(int level)
{
    static const int percent[] = {10, 25, 50, 75, 90, 100};
    const int min = sched_get_priority_min(SCHED_OTHER);
    const int max = sched_get_priority_max(SCHED_OTHER);
    const int p = level >= 1 && level <= 6 ? percent[level - 1] : 0;
    return min + (max - min) * p / 100;
}

int XSetThreadPriority(pthread_t thread, int level)
{
    struct sched_param param {};
    param.sched_priority = XThreadPriorityForLevel(level);
    return pthread_setschedparam(thread, SCHED_OTHER, &param);
}

pthread_t XCurrentThread()
{
    return pthread_self();
}

unsigned XGetProcessorCount()
{
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n < 1 ? 1u : static_cast<unsigned>(n);
}

bool XSplitThread(const std::function<void()>& function)
{
    auto* copy = new std::function<void()>(function);
    pthread_t thread;
    const int r = pthread_create(&thread, nullptr, SplitEntry, copy);
    if (r != 0) {
        delete copy;
        errno = r;
        return false;
    }
    pthread_detach(thread);
    return true;
}

void XWithAutoreleasePool(const std::function<void()>& function)
{
    function();
}

void XEnableCocoaThreads() {}

// ---- XThreadPool -------------------------------------------------------------------------

XThreadPool::XThreadPool(uint32_t threads)
{
    Start(threads);
}

XThreadPool::~XThreadPool()
{
    Stop();
}

void XThreadPool::Start(uint32_t threads)
{
    Stop();
    if (threads == 0)
        return;
    XAutoLock hold(Mutex);
    MaxThreads = threads;
    RunningThreads = 0;
    IdleThreads = 0;
    IdleEvent.Set();
    Threads = new XThread[threads];
}

bool XThreadPool::Add(XThreadPoolItem* item)
{
    if (!item)
        return true;
    XAutoLock hold(Mutex);
    const bool hadWork = Head != nullptr;
    Node* node = new Node{item, nullptr};
    if (Tail)
        Tail->Next = node;
    else
        Head = node;
    Tail = node;
    WorkEvent.Set();
    IdleEvent.Clear();
    if (RunningThreads < MaxThreads && (hadWork || RunningThreads == 0)) {
        if (Threads[RunningThreads].Start(WorkerProc, this))
            ++RunningThreads;
    }
    // Without any worker (none could start, or the pool is stopped) nothing runs the item.
    return RunningThreads > 0;
}

void XThreadPool::WorkerProc(XEvent* stopEvent, void* data)
{
    auto* pool = static_cast<XThreadPool*>(data);
    while (!stopEvent->IsSet()) {
        XThreadPoolItem* item = pool->GetNext(stopEvent);
        if (!item)
            break;
        try {
            item->Run(stopEvent);
        } catch (abi::__forced_unwind&) {
            throw;
        } catch (...) {
            // One failed item must not take the worker, and the queue behind it, down.
        }
        delete item;
    }
}

XThreadPoolItem* XThreadPool::GetNext(XEvent* stopEvent)
{
    bool countedIdle = false;
    for (;;) {
        {
            XAutoLock hold(Mutex);
            Node* node = Head;
            if (node) {
                Head = node->Next;
                if (!Head) {
                    Tail = nullptr;
                    WorkEvent.Clear();
                }
                XThreadPoolItem* item = node->Item;
                delete node;
                if (countedIdle) {
                    --IdleThreads;
                    IdleEvent.Clear();
                }
                return item;
            }
            if (!countedIdle) {
                countedIdle = true;
                ++IdleThreads;
                if (IdleThreads == static_cast<int32_t>(RunningThreads))
                    IdleEvent.Set();
            }
        }
        // 1: stop event; 2: work arrived; anything else (a failed wait) ends the worker too,
        // rather than spinning.
        if (stopEvent->WaitForEither(WorkEvent, -1) != 2)
            return nullptr;
    }
}

void XThreadPool::Stop()
{
    XThread* threads = nullptr;
    uint32_t started = 0;
    {
        XAutoLock hold(Mutex);
        threads = Threads;
        started = RunningThreads;
    }
    if (threads) {
        // Join outside the lock: the workers take it to finish their last GetNext.
        for (uint32_t i = 0; i < started; ++i)
            threads[i].SignalStop(false);
        for (uint32_t i = 0; i < started; ++i)
            threads[i].Stop();
        XAutoLock hold(Mutex);
        delete[] Threads;
        Threads = nullptr;
        MaxThreads = 0;
        RunningThreads = 0;
        IdleThreads = 0;
        IdleEvent.Set();
    }
    XAutoLock hold(Mutex);
    DeleteQueue();
    WorkEvent.Clear();
}

void XThreadPool::DeleteQueue()
{
    while (Head) {
        Node* node = Head;
        Head = node->Next;
        delete node->Item;
        delete node;
    }
    Tail = nullptr;
}

void XThreadPool::WaitIdleAndStop(int timeoutMs)
{
    IdleEvent.WaitUntilSet(timeoutMs);
    Stop();
}
