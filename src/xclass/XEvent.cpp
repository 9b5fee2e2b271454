#include "xclass/XEvent.h"

#include <cassert>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "xclass/XFileName.h"
#include "xclass/XPlatform.h"
#include "xclass/XTempFile.h"

// ---- Descriptor waits --------------------------------------------------------------------

namespace {
// poll that goes on after a signal interrupted it, with the time left.
int PollRetry(struct pollfd* fds, nfds_t count, int timeoutMs)
{
    const uint32_t start = GetTickCount();
    for (;;) {
        int left = timeoutMs;
        if (timeoutMs > 0) {
            const uint32_t elapsed = GetTickCount() - start;
            left = elapsed >= static_cast<uint32_t>(timeoutMs) ? 0 : timeoutMs - static_cast<int>(elapsed);
        }
        const int r = poll(fds, count, left);
        if (r >= 0 || errno != EINTR)
            return r;
    }
}

int WaitFor(int fd, short event, int timeoutMs)
{
    struct pollfd p = {fd, event, 0};
    const int r = PollRetry(&p, 1, timeoutMs);
    if (r < 0 || (p.revents & (POLLERR | POLLNVAL)))
        return -1;
    return (p.revents & event) ? 1 : 0;
}

// Close a descriptor that the caller owns, ignoring EINTR (Linux always releases it).
void CloseFd(int32_t& fd)
{
    if (fd != -1) {
        ::close(fd);
        fd = -1;
    }
}

int DupCloexec(int fd)
{
    return fd < 0 ? -1 : fcntl(fd, F_DUPFD_CLOEXEC, 0);
}
} // namespace

void XMsToTimeval(int ms, struct timeval* out)
{
    out->tv_sec = ms / 1000;
    out->tv_usec = (ms % 1000) * 1000;
}

int XWaitReadable(int fd, int timeoutMs)
{
    return WaitFor(fd, POLLIN, timeoutMs);
}

int XWaitWritable(int fd, int timeoutMs)
{
    return WaitFor(fd, POLLOUT, timeoutMs);
}

int XPollEvents(int fd, short events, int timeoutMs)
{
    struct pollfd p = {fd, events, 0};
    if (PollRetry(&p, 1, timeoutMs) < 0)
        return POLLERR;
    return p.revents;
}

bool XCanReadNow(int fd)
{
    return (XPollEvents(fd, POLLIN, 0) & (POLLIN | POLLERR)) == POLLIN;
}

bool XCanWriteNow(int fd)
{
    return (XPollEvents(fd, POLLOUT, 0) & (POLLOUT | POLLERR)) == POLLOUT;
}

size_t XReadWithTimeout(int fd, void* buffer, size_t length, int timeoutMs)
{
    auto* out = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < length) {
        if (XWaitReadable(fd, timeoutMs) != 1) {
            // A writer that closed leaves POLLHUP without POLLIN: end of file.
            break;
        }
        const ssize_t n = ::read(fd, out + done, length - done);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    return done;
}

size_t XWriteWithTimeout(int fd, const void* data, size_t length, int timeoutMs)
{
    const int flags = fcntl(fd, F_GETFL);
    const bool wasBlocking = flags != -1 && !(flags & O_NONBLOCK);
    if (wasBlocking)
        XSetNonBlocking(fd);
    const auto* in = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < length) {
        if (XWaitWritable(fd, timeoutMs) != 1)
            break;
        const ssize_t n = ::write(fd, in + done, length - done);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    if (wasBlocking)
        XClearNonBlocking(fd);
    return done;
}

bool XSetNonBlocking(int fd)
{
    const int flags = fcntl(fd, F_GETFL);
    if (flags == -1)
        return false;
    return (flags & O_NONBLOCK) || fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool XClearNonBlocking(int fd)
{
    const int flags = fcntl(fd, F_GETFL);
    if (flags == -1)
        return false;
    return !(flags & O_NONBLOCK) || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

bool XIsInheritable(int fd)
{
    const int flags = fcntl(fd, F_GETFD);
    return flags != -1 && !(flags & FD_CLOEXEC);
}

bool XSetInheritable(int fd, bool inheritable)
{
    const int flags = fcntl(fd, F_GETFD);
    if (flags == -1)
        return false;
    const int wanted = inheritable ? (flags & ~FD_CLOEXEC) : (flags | FD_CLOEXEC);
    return wanted == flags || fcntl(fd, F_SETFD, wanted) == 0;
}

bool XMakePipe(int fd[2], bool nonBlocking)
{
    if (pipe2(fd, O_CLOEXEC | (nonBlocking ? O_NONBLOCK : 0)) == 0)
        return true;
    fd[0] = fd[1] = -1;
    return false;
}

// ---- XSelect -----------------------------------------------------------------------------

void XSelect::Clear()
{
    ReadSet.clear();
    WriteSet.clear();
    ErrorSet.clear();
}

int XSelect::Wait(int timeoutMs)
{
    std::set<int> all(ReadSet);
    all.insert(WriteSet.begin(), WriteSet.end());
    all.insert(ErrorSet.begin(), ErrorSet.end());
    std::vector<struct pollfd> fds;
    fds.reserve(all.size());
    for (int fd : all) {
        short events = 0;
        if (ReadSet.count(fd))
            events |= POLLIN;
        if (WriteSet.count(fd))
            events |= POLLOUT;
        fds.push_back({fd, events, 0});
    }
    const int r = PollRetry(fds.data(), fds.size(), timeoutMs);
    Clear();
    if (r > 0) {
        for (const auto& p : fds) {
            if (p.revents & POLLIN)
                ReadSet.insert(p.fd);
            if (p.revents & POLLOUT)
                WriteSet.insert(p.fd);
            if (p.revents & POLLERR)
                ErrorSet.insert(p.fd);
        }
    }
    return r;
}

// ---- XEvent ------------------------------------------------------------------------------

XEvent::XEvent(const wchar_t* name) : fd{-1, -1}, ExistsBefore(false)
{
    Assign(name);
}

XEvent::XEvent(const XEvent& other) : fd{-1, -1}, ExistsBefore(other.ExistsBefore)
{
    fd[0] = DupCloexec(other.fd[0]);
    fd[1] = DupCloexec(other.fd[1]);
}

XEvent& XEvent::operator=(const XEvent& other)
{
    if (this != &other) {
        Close();
        fd[0] = DupCloexec(other.fd[0]);
        fd[1] = DupCloexec(other.fd[1]);
        ExistsBefore = other.ExistsBefore;
    }
    return *this;
}

XEvent::~XEvent()
{
    Close();
}

void XEvent::Close()
{
    CloseFd(fd[0]);
    CloseFd(fd[1]);
}

bool XEvent::Assign(const wchar_t* name)
{
    Close();
    ExistsBefore = false;
    if (!name) {
        int p[2];
        if (!XMakePipe(p, true))
            return false;
        fd[0] = p[0];
        fd[1] = p[1];
        return true;
    }
    const XStr path = GetNamedPath(name);
    if (mkfifo(path.ToUTF8String().c_str(), 0600) != 0) {
        if (errno != EEXIST)
            return false;
        ExistsBefore = true;
    }
    return OpenNamed(path);
}

bool XEvent::OpenNamed(const XStr& path)
{
    const std::string p = path.ToUTF8String();
    // Read end first: opening the write end of a FIFO without a reader fails with ENXIO.
    fd[0] = ::open(p.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd[0] == -1)
        return false;
    fd[1] = ::open(p.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd[1] == -1) {
        Close();
        return false;
    }
    // Something that is not a FIFO (a planted file) would not behave as an event.
    struct stat st;
    if (fstat(fd[0], &st) != 0 || !S_ISFIFO(st.st_mode)) {
        Close();
        errno = EINVAL;
        return false;
    }
    return true;
}

void XEvent::Set()
{
    assert(fd[0] != -1 && fd[1] != -1);
    if (IsSet())
        return;
    const uint8_t zero = 0;
    // A full pipe means the event is set many times over; nothing to report.
    while (::write(fd[1], &zero, 1) < 0 && errno == EINTR) {}
}

void XEvent::Clear()
{
    assert(fd[0] != -1);
    uint8_t byte;
    for (;;) {
        const ssize_t n = ::read(fd[0], &byte, 1);
        if (n == 1)
            continue;
        if (n < 0 && errno == EINTR)
            continue;
        break;
    }
}

bool XEvent::IsSet() const
{
    assert(fd[0] != -1);
    return XCanReadNow(fd[0]);
}

bool XEvent::WaitUntilSet(int timeoutMs) const
{
    assert(fd[0] != -1);
    return XWaitReadable(fd[0], timeoutMs) == 1;
}

bool XEvent::Toggle()
{
    if (IsSet()) {
        Clear();
        return false;
    }
    Set();
    return true;
}

int XEvent::WaitForEither(const XEvent& other, int timeoutMs) const
{
    struct pollfd p[2] = {{fd[0], POLLIN, 0}, {other.fd[0], POLLIN, 0}};
    const int r = PollRetry(p, 2, timeoutMs);
    if (r <= 0)
        return r;
    if (p[0].revents & POLLIN)
        return 1;
    if (p[1].revents & POLLIN)
        return 2;
    return -1;
}

void XEvent::Attach(int readFd, int writeFd)
{
    Close();
    fd[0] = readFd;
    fd[1] = writeFd;
    for (int f : fd) {
        if (f != -1) {
            XSetNonBlocking(f);
            XSetInheritable(f, false);
        }
    }
}

bool XEvent::AttachDuplicates(int readFd, int writeFd)
{
    const int r = DupCloexec(readFd);
    const int w = DupCloexec(writeFd);
    Attach(r, w);
    return (readFd < 0 || r != -1) && (writeFd < 0 || w != -1);
}

XStr XEvent::GetNamedPath(const wchar_t* name)
{
    XStr path = XGetTempFolder();
    path += XStr::FromFormat(L"event-%s", name ? name : L"");
    return path;
}

bool XEvent::CreateNew(const wchar_t* name)
{
    Close();
    ExistsBefore = false;
    const XStr path = GetNamedPath(name);
    if (mkfifo(path.ToUTF8String().c_str(), 0600) != 0)
        return false;
    if (OpenNamed(path))
        return true;
    const int saved = errno;
    ::unlink(path.ToUTF8String().c_str());
    errno = saved;
    return false;
}

XStr XEvent::CreateUnique(const wchar_t* prefix)
{
    const XStr name = XStr::FromFormat(L"%s%s", prefix ? prefix : L"", static_cast<const wchar_t*>(XRandomHex32()));
    if (!CreateNew(name))
        return XStr();
    return name;
}

bool XEvent::RemoveNamed(const wchar_t* name)
{
    return ::unlink(GetNamedPath(name).ToUTF8String().c_str()) == 0;
}

// ---- File move with retry ------------------------------------------------------------------

bool XMoveFileRetry(const XStr& from, const XStr& to, bool allowReplace, int timeoutMs, XEvent* cancelEvent)
{
    const uint32_t start = GetTickCount();
    for (;;) {
        errno = 0;
        if (XMoveFileEx(from, to, allowReplace))
            return true;
        if (errno != EEXIST && errno != EACCES)
            return false;
        if (GetTickCount() - start > static_cast<uint32_t>(timeoutMs)) {
            errno = ETIMEDOUT;
            return false;
        }
        if (!cancelEvent) {
            Sleep(10);
        } else if (cancelEvent->WaitUntilSet(10)) {
            errno = ECANCELED;
            return false;
        }
    }
}
