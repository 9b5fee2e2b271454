#include "xclass/clSignal.h"

#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <unistd.h>

#include "xclass/XEvent.h"

// ---- clFD --------------------------------------------------------------------------------

clFD::~clFD()
{
    close();
}

std::shared_ptr<clFD> clFD::withDupOfFD(int fd)
{
    const int d = fd < 0 ? -1 : fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (d == -1)
        return nullptr;
    return std::make_shared<clFD>(d);
}

int clFD::flags() const
{
    return fcntl(mFD, F_GETFD);
}

void clFD::setFlags(int flags)
{
    fcntl(mFD, F_SETFD, flags);
}

int clFD::statusFlags() const
{
    return fcntl(mFD, F_GETFL);
}

void clFD::setStatusFlags(int flags)
{
    fcntl(mFD, F_SETFL, flags);
}

bool clFD::closeOnExec() const
{
    const int f = flags();
    return f != -1 && (f & FD_CLOEXEC);
}

void clFD::setCloseOnExec(bool on)
{
    XSetInheritable(mFD, !on);
}

bool clFD::nonBlocking() const
{
    const int f = statusFlags();
    return f != -1 && (f & O_NONBLOCK);
}

void clFD::setNonBlocking(bool on)
{
    if (on)
        XSetNonBlocking(mFD);
    else
        XClearNonBlocking(mFD);
}

int clFD::detach()
{
    const int fd = mFD;
    mFD = -1;
    return fd;
}

void clFD::close()
{
    if (mFD >= 0)
        ::close(mFD);
    mFD = -1;
}

std::shared_ptr<clFD> clFD::duplicate() const
{
    return withDupOfFD(mFD);
}

// ---- clPipe ------------------------------------------------------------------------------

clPipe::clPipe(bool nonBlocking)
{
    if (!XMakePipe(fd, nonBlocking))
        throw std::runtime_error("Pipe creation fail: Errno: " + std::to_string(errno));
}

clPipe::~clPipe()
{
    close();
}

bool clPipe::canReadNow() const
{
    return fd[0] != -1 && XCanReadNow(fd[0]);
}

bool clPipe::canWriteNow() const
{
    return fd[1] != -1 && XCanWriteNow(fd[1]);
}

void clPipe::closeRead()
{
    if (fd[0] != -1)
        ::close(fd[0]);
    fd[0] = -1;
}

void clPipe::closeWrite()
{
    if (fd[1] != -1)
        ::close(fd[1]);
    fd[1] = -1;
}

void clPipe::close()
{
    closeRead();
    closeWrite();
}

int clPipe::detachReadFD()
{
    const int d = fd[0];
    fd[0] = -1;
    return d;
}

int clPipe::detachWriteFD()
{
    const int d = fd[1];
    fd[1] = -1;
    return d;
}

std::shared_ptr<clFD> clPipe::detachRead()
{
    const int d = detachReadFD();
    return d == -1 ? nullptr : std::make_shared<clFD>(d);
}

std::shared_ptr<clFD> clPipe::detachWrite()
{
    const int d = detachWriteFD();
    return d == -1 ? nullptr : std::make_shared<clFD>(d);
}

// ---- clSignal ----------------------------------------------------------------------------

std::shared_ptr<clSignal> clSignal::create()
{
    std::shared_ptr<clSignal> signal(new clSignal());
    try {
        signal->mPipe = clPipe::newPipeNonBlocking();
    } catch (const std::exception&) {
        return nullptr;
    }
    return signal;
}

std::shared_ptr<clPipe> clSignal::pipe() const
{
    std::lock_guard<std::mutex> hold(mLock);
    return mPipe;
}

bool clSignal::isOpen() const
{
    return pipe() != nullptr;
}

int clSignal::waitHandle() const
{
    const auto p = pipe();
    return p ? p->fdRead() : -1;
}

bool clSignal::state() const
{
    const auto p = pipe();
    return p && p->canReadNow();
}

void clSignal::setState(bool on)
{
    const auto p = pipe();
    if (!p)
        return;
    if (on) {
        if (p->canReadNow())
            return;
        const uint8_t zero = 0;
        while (::write(p->fdWrite(), &zero, 1) < 0 && errno == EINTR) {}
    } else {
        uint8_t byte;
        for (;;) {
            const ssize_t n = ::read(p->fdRead(), &byte, 1);
            if (n == 1 || (n < 0 && errno == EINTR))
                continue;
            break;
        }
    }
}

bool clSignal::wait(uint32_t ms) const
{
    const auto p = pipe();
    if (!p)
        return false;
    const int timeout = ms == 0xFFFFFFFFu ? -1 : static_cast<int>(ms > 0x7FFFFFFFu ? 0x7FFFFFFFu : ms);
    return XWaitReadable(p->fdRead(), timeout) > 0;
}

int clSignal::waitFor(const std::vector<std::shared_ptr<clSignal>>& signals)
{
    // Hold every pipe for the whole wait, so that a signal closed meanwhile cannot have its
    // descriptor number reused under us.
    std::vector<std::shared_ptr<clPipe>> pipes;
    XSelect select;
    for (const auto& s : signals) {
        pipes.push_back(s ? s->pipe() : nullptr);
        if (pipes.back())
            select.AddRead(pipes.back()->fdRead());
    }
    if (select.ReadSet.empty())
        return -1;
    if (select.WaitForever() < 1)
        return -1;
    for (size_t i = 0; i < pipes.size(); ++i) {
        if (pipes[i] && select.IsReadable(pipes[i]->fdRead()))
            return static_cast<int>(i);
    }
    return -1;
}

void clSignal::close()
{
    std::shared_ptr<clPipe> old;
    {
        std::lock_guard<std::mutex> hold(mLock);
        old.swap(mPipe);
    }
    // The pipe closes when the last waiter lets go of it.
}

void clSignal::makeWaitHandleInheritable()
{
    const auto p = pipe();
    if (p)
        XSetInheritable(p->fdRead(), true);
}
