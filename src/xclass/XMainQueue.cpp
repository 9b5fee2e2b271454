#include "xclass/XMainQueue.h"

#include <chrono>

namespace {
struct PosterSlot {
    std::mutex Lock;
    XMainThreadPoster Poster; // empty: the shared queue
    int Token = 0;
    int NextToken = 1;
};

PosterSlot& Slot()
{
    static PosterSlot slot;
    return slot;
}
} // namespace

int XSetMainThreadPoster(XMainThreadPoster poster)
{
    PosterSlot& slot = Slot();
    std::lock_guard<std::mutex> hold(slot.Lock);
    slot.Poster = std::move(poster);
    slot.Token = slot.Poster ? slot.NextToken++ : 0;
    return slot.Token;
}

void XResetMainThreadPoster(int token)
{
    PosterSlot& slot = Slot();
    std::lock_guard<std::mutex> hold(slot.Lock);
    if (token != 0 && slot.Token == token) {
        slot.Poster = nullptr;
        slot.Token = 0;
    }
}

void XPostToMainThread(std::function<void()> block)
{
    XMainThreadPoster poster;
    {
        PosterSlot& slot = Slot();
        std::lock_guard<std::mutex> hold(slot.Lock);
        poster = slot.Poster;
    }
    // Called outside the lock: a poster may take locks of its own.
    if (poster)
        poster(std::move(block));
    else
        XMainQueue::Shared().Post(std::move(block));
}

XMainQueue::~XMainQueue()
{
    Uninstall();
}

XMainQueue& XMainQueue::Shared()
{
    // Never destroyed: detached threads may still post while the process exits.
    static XMainQueue* shared = new XMainQueue();
    return *shared;
}

void XMainQueue::Install()
{
    const int token = XSetMainThreadPoster([this](std::function<void()> block) { Post(std::move(block)); });
    std::lock_guard<std::mutex> hold(m_lock);
    m_token = token;
}

void XMainQueue::Uninstall()
{
    int token;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        token = m_token;
        m_token = 0;
    }
    XResetMainThreadPoster(token);
}

void XMainQueue::Post(std::function<void()> block)
{
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_blocks.push_back(std::move(block));
    }
    m_posted.notify_all();
}

size_t XMainQueue::RunPending()
{
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard<std::mutex> hold(m_lock);
        batch.swap(m_blocks);
    }
    size_t count = 0;
    for (auto& block : batch) {
        ++count;
        try {
            if (block)
                block();
        } catch (...) {
            // One failing block must not keep the blocks behind it from running.
        }
        block = nullptr; // release what it captured before the next one runs
    }
    return count;
}

bool XMainQueue::WaitForPost(int timeoutMs)
{
    std::unique_lock<std::mutex> hold(m_lock);
    if (timeoutMs < 0) {
        m_posted.wait(hold, [this] { return !m_blocks.empty(); });
        return true;
    }
    return m_posted.wait_for(hold, std::chrono::milliseconds(timeoutMs), [this] { return !m_blocks.empty(); });
}

bool XMainQueue::RunUntil(const std::function<bool()>& done, int timeoutMs)
{
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        RunPending();
        if (done && done())
            return true;
        int left = -1;
        if (timeoutMs >= 0) {
            const auto elapsed =
                std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
            if (elapsed >= timeoutMs)
                return done && done();
            left = static_cast<int>(timeoutMs - elapsed);
        }
        // Wake now and then even without posts: done() may turn true through other threads.
        WaitForPost(left < 0 || left > 10 ? 10 : left);
    }
}

size_t XMainQueue::PendingCount() const
{
    std::lock_guard<std::mutex> hold(m_lock);
    return m_blocks.size();
}
