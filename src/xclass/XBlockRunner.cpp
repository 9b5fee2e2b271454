#include "xclass/XBlockRunner.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "xclass/XMainQueue.h"
#include "xclass/XThread.h"

// ---- Block runners -----------------------------------------------------------------------

XBlock _blockRef::block() const
{
    std::lock_guard<std::mutex> hold(_lock);
    return _block;
}

void _blockRef::setBlock(XBlock block)
{
    std::lock_guard<std::mutex> hold(_lock);
    _block = std::move(block);
}

void _blockRef::exec()
{
    XWithAutoreleasePool([this] {
        const XBlock b = block();
        try {
            if (b)
                b();
        } catch (...) {
            // The block's failure stays with the block.
        }
    });
}

void execBlockOnMainThread(XBlock block)
{
    auto ref = std::make_shared<_blockRef>(std::move(block));
    XPostToMainThread([ref] { ref->exec(); });
}

bool execBlockInBackground(XBlock block)
{
    auto ref = std::make_shared<_blockRef>(std::move(block));
    return XSplitThread([ref] { ref->exec(); });
}

void execFunctionOnMainThread(const std::function<void()>& function)
{
    execBlockOnMainThread(function);
}

bool execFunctionInBackground(const std::function<void()>& function)
{
    return execBlockInBackground(function);
}

// ---- Reading lines from a pipe -----------------------------------------------------------

namespace {
// Reads lines from a descriptor it owns, through a buffer that saves a system call per byte.
// A line ends at its CR at once: ffmpeg ends each progress line with a lone CR and then says
// nothing until the next update, so waiting to see whether an LF follows would hold every
// line back by one. An LF that does come right after such a CR is skipped when it arrives.
class LineReader {
public:
    explicit LineReader(int fd) : m_fd(fd) {}
    ~LineReader()
    {
        if (m_fd != -1)
            ::close(m_fd);
    }
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // One line without its end; false at end of file (or a read error) with nothing read.
    bool ReadLine(XStr& line)
    {
        m_line.clear();
        bool any = false;
        for (;;) {
            int c = Next();
            if (c == '\n' && m_afterCR) {
                m_afterCR = false;
                c = Next();
            }
            m_afterCR = false;
            if (c < 0) {
                if (!any)
                    return false;
                break;
            }
            any = true;
            if (c == '\n')
                break;
            if (c == '\r') {
                m_afterCR = true;
                break;
            }
            if (c == 0)
                continue;
            if (c == 0xEF && m_line.empty() && Peek() == 0xBB && PeekSecond() == 0xBF) {
                Next();
                Next();
                continue;
            }
            m_line.push_back(static_cast<char>(c));
        }
        line = XStr::FromUTF8Data(m_line.data(), m_line.size());
        return true;
    }

private:
    bool Fill()
    {
        if (m_pos > 0) {
            // Keep the bytes not read yet at the front.
            memmove(m_buffer, m_buffer + m_pos, m_end - m_pos);
            m_end -= m_pos;
            m_pos = 0;
        }
        for (;;) {
            const ssize_t n = ::read(m_fd, m_buffer + m_end, sizeof m_buffer - m_end);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EAGAIN) {
                // A non-blocking descriptor handed in: wait for data rather than give up.
                struct timespec pause = {0, 5000000};
                nanosleep(&pause, nullptr);
                continue;
            }
            if (n <= 0)
                return false;
            m_end += static_cast<size_t>(n);
            return true;
        }
    }
    int Next()
    {
        if (m_pos == m_end && !Fill())
            return -1;
        return m_buffer[m_pos++];
    }
    int Peek()
    {
        if (m_pos == m_end && !Fill())
            return -1;
        return m_buffer[m_pos];
    }
    int PeekSecond()
    {
        if (m_end - m_pos < 2 && !Fill())
            return -1;
        if (m_end - m_pos < 2 && !Fill())
            return -1;
        return m_buffer[m_pos + 1];
    }

    int m_fd;
    uint8_t m_buffer[8192];
    size_t m_pos = 0;
    size_t m_end = 0;
    std::string m_line;
    bool m_afterCR = false; // the last line ended at a CR whose LF may still come
};

int DuplicateForReader(int fd)
{
    return fd < 0 ? -1 : fcntl(fd, F_DUPFD_CLOEXEC, 3);
}
} // namespace

bool readLinesThread(int fd, std::function<void(XStr&)> callback)
{
    struct State {
        std::unique_ptr<LineReader> Reader;
        std::function<void(XStr&)> Callback;
    };
    const int dup = DuplicateForReader(fd);
    if (dup == -1)
        return false;
    auto state = std::make_shared<State>();
    state->Reader = std::make_unique<LineReader>(dup);
    state->Callback = std::move(callback);
    return XSplitThread([state]() mutable {
        XStr line;
        while (state->Reader->ReadLine(line)) {
            if (!state->Callback)
                continue; // nobody listens, but the writer must not block on a full pipe
            try {
                state->Callback(line);
            } catch (...) {
                // One bad line must not stop the draining of the pipe.
            }
        }
        // Release the callback (and what it captured) and the descriptor now, on this thread.
        state.reset();
    });
}

// ---- XOutputCollector --------------------------------------------------------------------

XOutputCollector::XOutputCollector(int fd) : m_state(std::make_shared<State>())
{
    const int dup = DuplicateForReader(fd);
    if (dup == -1) {
        m_state->Finished = true;
        return;
    }
    auto reader = std::make_shared<LineReader>(dup);
    std::shared_ptr<State> state = m_state;
    m_started = XSplitThread([state, reader] {
        XStr line;
        while (reader->ReadLine(line)) {
            if (line.IsEmpty())
                continue;
            XAutoLock hold(state->Lock);
            state->Lines.Add(line, 0);
        }
        state->Finished = true;
    });
    if (!m_started)
        m_state->Finished = true;
}

bool XOutputCollector::IsFinished() const
{
    return m_state->Finished.load();
}

XStrList XOutputCollector::GetLines() const
{
    XAutoLock hold(m_state->Lock);
    return m_state->Lines;
}

int64_t XOutputCollector::Count() const
{
    XAutoLock hold(m_state->Lock);
    return m_state->Lines.Count();
}
