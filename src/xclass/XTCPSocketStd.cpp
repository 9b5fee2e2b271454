#include "xclass/XTCPSocketStd.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>

#include "xclass/XEvent.h"
#include "xclass/XPlatform.h"

// ---- XNetThrottle --------------------------------------------------------------------------

void XNetThrottle::OnSent(int64_t) {}

void XNetThrottle::OnReceived(int64_t) {}

bool XNetThrottle::Wait(int ms)
{
    if (ms > 0)
        Sleep(static_cast<uint32_t>(ms));
    return true;
}

XNetThrottle* XNetThrottle::Default()
{
    static XNetThrottle instance;
    return &instance;
}

// ---- Deadlines ----------------------------------------------------------------------------

namespace {

int64_t NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

XNetDeadline XNetDeadline::In(int64_t ms)
{
    XNetDeadline deadline;
    if (ms > 0) {
        deadline.m_at = NowMs() + ms;
        deadline.m_span = ms;
    }
    return deadline;
}

bool XNetDeadline::Passed() const
{
    return m_at != 0 && NowMs() >= m_at;
}

int XNetDeadline::Cap(int capMs) const
{
    if (m_at == 0)
        return capMs < 0 ? -1 : capMs;
    const int64_t left = std::max<int64_t>(0, m_at - NowMs());
    if (capMs >= 0 && capMs < left)
        return capMs;
    return static_cast<int>(std::min<int64_t>(left, INT_MAX));
}

XStr XDurationText(int64_t ms)
{
    if (ms >= 10000 || (ms >= 1000 && ms % 1000 == 0))
        return XStr::FromLong(static_cast<long>((ms + 500) / 1000)) + L" s";
    return XStr::FromLong(static_cast<long>(ms)) + L" ms";
}

// ---- Address helpers ---------------------------------------------------------------------

void XSplitAtDot(const XStr& text, XStr& before, XStr& rest)
{
    const int dot = text.FindChar(L'.');
    if (dot == 0) {
        before = text;
        rest = L"";
        return;
    }
    before = text.Mid(1, dot - 1);
    rest = text.MidToEnd(dot + 1);
}

bool XIsAllDigits(const XStr& text)
{
    if (text.IsEmpty())
        return false;
    for (int i = 0; i < text.Length(); i++)
        if (text.p[i] < L'0' || text.p[i] > L'9')
            return false;
    return true;
}

namespace {

void SetError(XStr* error, const XStr& text)
{
    if (error)
        *error = text;
}

XStr HostAndPort(const XStr& host, int port)
{
    return host + L":" + XStr::FromLong(port);
}

XStr ErrnoText(int error)
{
    return XStr::FromUTF8(strerror(error));
}

// Four dot-separated parts, each non-empty and all digits (the fourth keeps further dots).
bool LooksNumeric(const XStr& host)
{
    XStr rest = host;
    for (int i = 0; i < 4; i++) {
        XStr part, after;
        if (i < 3) {
            XSplitAtDot(rest, part, after);
            rest = after;
        } else {
            part = rest;
        }
        if (!XIsAllDigits(part))
            return false;
    }
    return true;
}

bool Resolve(const XStr& host, bool numericOnly, in_addr& out, XStr* error)
{
    XStr copy(host);
    const char* bytes = copy.Ansi();
    if (numericOnly || LooksNumeric(host)) {
        const in_addr_t value = inet_addr(bytes);
        if (value == INADDR_NONE) {
            SetError(error, L"\"" + host + L"\" is not an IPv4 address");
            errno = EINVAL;
            return false;
        }
        out.s_addr = value;
        return true;
    }
    if (inet_aton(bytes, &out)) // short dotted forms such as 127.1
        return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int r = getaddrinfo(bytes, nullptr, &hints, &found);
    if (r != 0 || !found) {
        SetError(error, L"cannot find the host \"" + host + L"\": " + XStr::FromUTF8(gai_strerror(r)));
        if (found)
            freeaddrinfo(found);
        errno = EHOSTUNREACH;
        return false;
    }
    out = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return true;
}

// Milliseconds left of limit since start; -1 stays -1 (no limit).
int Remaining(int limit, uint32_t start)
{
    if (limit < 0)
        return -1;
    const uint32_t spent = GetTickCount() - start;
    return spent >= static_cast<uint32_t>(limit) ? 0 : limit - static_cast<int>(spent);
}

} // namespace

bool XTCPConnectTo(int fd, const XStr& host, int port, bool numericOnly, int timeoutMs, XEvent* stop, XStr* error)
{
    in_addr address{};
    if (!Resolve(host, numericOnly, address, error))
        return false;
    if (port <= 0 || port > 65535) {
        SetError(error, L"port " + XStr::FromLong(port) + L" is out of range");
        errno = EINVAL;
        return false;
    }
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<uint16_t>(port));
    target.sin_addr = address;

    const int flags = fcntl(fd, F_GETFL);
    if (flags == -1) {
        SetError(error, L"no socket to connect");
        return false;
    }
    const bool wasBlocking = !(flags & O_NONBLOCK);
    if (wasBlocking && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == -1) {
        SetError(error, L"cannot prepare the socket: " + ErrnoText(errno));
        return false;
    }
    int result = 0;
    int savedErrno = 0;
    if (connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
            savedErrno = errno;
            SetError(error, L"cannot connect to " + HostAndPort(host, port) + L": " + ErrnoText(savedErrno));
            result = -1;
        } else {
            const int limit = timeoutMs > 0 ? timeoutMs : -1;
            const uint32_t start = GetTickCount();
            for (;;) {
                pollfd fds[2] = {{fd, POLLOUT, 0}, {stop ? stop->fd[0] : -1, POLLIN, 0}};
                const int left = Remaining(limit, start);
                const int r = poll(fds, stop ? 2 : 1, left);
                if (r < 0 && errno == EINTR)
                    continue;
                if (r < 0) {
                    savedErrno = errno;
                    SetError(error, L"cannot wait for the connection: " + ErrnoText(savedErrno));
                    result = -1;
                    break;
                }
                if (stop && (fds[1].revents & POLLIN)) {
                    savedErrno = ECONNABORTED;
                    SetError(error, L"connecting to " + HostAndPort(host, port) + L" was cancelled");
                    result = -1;
                    break;
                }
                if (fds[0].revents) {
                    int soError = 0;
                    socklen_t length = sizeof soError;
                    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length) != 0)
                        soError = errno;
                    if (soError != 0) {
                        savedErrno = soError;
                        SetError(error, L"cannot connect to " + HostAndPort(host, port) + L": " + ErrnoText(soError));
                        result = -1;
                    }
                    break;
                }
                if (left == 0) {
                    savedErrno = ETIMEDOUT;
                    SetError(error, L"no answer from " + HostAndPort(host, port) + L" within " +
                                        XStr::FromLong(timeoutMs) + L" ms");
                    result = -1;
                    break;
                }
            }
        }
    }
    if (wasBlocking)
        fcntl(fd, F_SETFL, flags);
    if (result != 0) {
        errno = savedErrno;
        return false;
    }
    return true;
}

// ---- XTCPSocketStd ----------------------------------------------------------------------

XTCPSocketStd::XTCPSocketStd(int timeoutMs) : TimeoutMS(timeoutMs), Throttle(XNetThrottle::Default()) {}

XTCPSocketStd::~XTCPSocketStd()
{
    XTCPSocketStd::Close();
}

void XTCPSocketStd::Fail(int error, const XStr& text)
{
    LastError = text;
    errno = error;
}

void XTCPSocketStd::FailWait(const char* what)
{
    const int error = errno;
    XStr text;
    if (error == ETIMEDOUT && (m_expired == Expired::Deadline || m_expired == Expired::Stall))
        text = ExpiredText(m_expired);
    else if (error == ETIMEDOUT)
        text = L"no data from " + HostAndPort(Host, Port) + L" within " + XStr::FromLong(TimeoutMS) + L" ms";
    else if (error == ECONNABORTED)
        text = XStr::FromUTF8(what) + L" was cancelled";
    else
        text = L"the connection to " + HostAndPort(Host, Port) + L" broke: " + ErrnoText(error);
    Fail(error, text);
}

XStr XTCPSocketStd::ExpiredText(Expired what) const
{
    if (what == Expired::Deadline)
        return L"the exchange with " + HostAndPort(Host, Port) + L" took longer than " +
               XDurationText(Deadline.SpanMs()) + L" and was stopped";
    return L"the transfer from " + HostAndPort(Host, Port) + L" made no progress: fewer than " +
           XStr::FromLong(static_cast<long>(m_stallMinBytes)) + L" bytes in " + XDurationText(m_stallWindowMs);
}

void XTCPSocketStd::SetStallRule(int windowMs, int64_t minBytes)
{
    m_stallWindowMs = windowMs > 0 && minBytes > 0 ? windowMs : 0;
    m_stallMinBytes = m_stallWindowMs ? minBytes : 0;
    RestartProgressWindow();
}

void XTCPSocketStd::RestartProgressWindow()
{
    m_windowStart = NowMs();
    m_windowBytes = 0;
}

int XTCPSocketStd::StallLeftMs() const
{
    if (m_stallWindowMs <= 0)
        return -1;
    return static_cast<int>(std::max<int64_t>(0, m_windowStart + m_stallWindowMs - NowMs()));
}

void XTCPSocketStd::CountProgress(int64_t bytes)
{
    if (m_stallWindowMs <= 0 || bytes <= 0)
        return;
    m_windowBytes += bytes;
    if (m_windowBytes >= m_stallMinBytes)
        RestartProgressWindow();
}

bool XTCPSocketStd::WithinLimits()
{
    Expired what = Expired::None;
    if (Deadline.Passed())
        what = Expired::Deadline;
    else if (StallLeftMs() == 0)
        what = Expired::Stall;
    if (what == Expired::None)
        return true;
    m_expired = what;
    Fail(ETIMEDOUT, ExpiredText(what));
    return false;
}

void XTCPSocketStd::ShutdownSend()
{
    if (Socket != -1)
        shutdown(Socket, SHUT_WR);
}

void XTCPSocketStd::ShutdownReceive()
{
    if (Socket != -1)
        shutdown(Socket, SHUT_RD);
}

void XTCPSocketStd::Close()
{
    if (Socket != -1) {
        ::close(Socket);
        Socket = -1;
    }
}

bool XTCPSocketStd::Connect(const XStr& host, int port, bool numericOnly, XEvent* stop)
{
    Close();
    LastError = L"";
    Host = host;
    Port = port;
    RestartProgressWindow();
    if (!WithinLimits())
        return false;
    Socket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (Socket == -1) {
        Fail(errno, L"cannot make a socket: " + ErrnoText(errno));
        return false;
    }
    XStr error;
    // A connect that the deadline cuts short says so, not that the host is silent.
    const int connectLimit = Deadline.Cap(TimeoutMS > 0 ? TimeoutMS : -1);
    if (!XTCPConnectTo(Socket, host, port, numericOnly, connectLimit == 0 ? 1 : connectLimit, stop, &error)) {
        const int saved = errno;
        Close();
        if (saved == ETIMEDOUT && Deadline.Passed())
            error = ExpiredText(Expired::Deadline);
        Fail(saved, error);
        return false;
    }
    if (!OnConnected(false)) {
        const int saved = errno;
        const XStr reason = LastError.IsEmpty() ? XStr(L"the connection could not be set up") : LastError;
        Close();
        Fail(saved, reason);
        return false;
    }
    return true;
}

bool XTCPSocketStd::Connect(const char* host, int port, bool numericOnly, XEvent* stop)
{
    return Connect(XStr::FromAnsi(host ? host : ""), port, numericOnly, stop);
}

bool XTCPSocketStd::Attach(int fd, const char* host)
{
    Close();
    LastError = L"";
    Host = XStr::FromAnsi(host ? host : "");
    Port = 0;
    Socket = fd;
    RestartProgressWindow();
    if (!OnConnected(true)) {
        const int saved = errno;
        Close();
        errno = saved;
        return false;
    }
    return true;
}

bool XTCPSocketStd::OnConnected(bool)
{
    if (!XSetNonBlocking(Socket)) {
        Fail(errno, L"cannot switch the socket to non-blocking mode");
        return false;
    }
    XSetInheritable(Socket, false);
    int size = 0;
    socklen_t length = sizeof size;
    if (getsockopt(Socket, SOL_SOCKET, SO_SNDBUF, &size, &length) != 0)
        size = 0;
    SendChunk = std::max(8192, size);
    return true;
}

XNetThrottle* XTCPSocketStd::SetThrottle(XNetThrottle* throttle)
{
    XNetThrottle* previous = Throttle;
    Throttle = throttle ? throttle : XNetThrottle::Default();
    return previous;
}

int XTCPSocketStd::SetSendBufferSize(int bytes)
{
    if (Socket != -1)
        setsockopt(Socket, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
    SendChunk = std::max(8192, bytes);
    return SendChunk;
}

int XTCPSocketStd::SetReceiveBufferSize(int bytes)
{
    return setsockopt(Socket, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

unsigned XTCPSocketStd::EffectiveTimeout(unsigned requestedMs) const
{
    if (TimeoutMS > 0 && static_cast<unsigned>(TimeoutMS) < requestedMs)
        return static_cast<unsigned>(TimeoutMS);
    return requestedMs;
}

bool XTCPSocketStd::WaitReady(bool* readable, bool* writable, XEvent* stop, unsigned timeoutMs)
{
    if (readable)
        *readable = false;
    if (writable)
        *writable = false;
    const unsigned effective = EffectiveTimeout(timeoutMs);
    const int limit = effective > 0x7fffffffu ? -1 : static_cast<int>(effective);
    const uint32_t start = GetTickCount();
    m_expired = Expired::None;
    for (;;) {
        short events = 0;
        if (readable)
            events |= POLLIN;
        if (writable)
            events |= POLLOUT;
        pollfd fds[2] = {{Socket, events, 0}, {stop ? stop->fd[0] : -1, POLLIN, 0}};
        const int left = Remaining(limit, start);
        int wait = Deadline.Cap(left);
        const int stall = StallLeftMs();
        if (stall >= 0 && (wait < 0 || stall < wait))
            wait = stall;
        const int r = poll(fds, stop ? 2 : 1, wait);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (stop && (fds[1].revents & POLLIN)) {
            errno = ECONNABORTED;
            return false;
        }
        const short got = fds[0].revents;
        if (got & POLLNVAL) {
            errno = EBADF;
            return false;
        }
        // A peer that closed shows as POLLHUP or POLLERR: a read then tells what happened
        // (0 or the socket's error), so a reader is let through.
        if ((got & POLLERR) && !readable) {
            errno = ECONNRESET;
            return false;
        }
        bool any = false;
        if (readable && (got & (POLLIN | POLLHUP | POLLERR))) {
            *readable = true;
            any = true;
        }
        // A connection closed both ways shows as POLLHUP alone: a send then says why.
        if (writable && (got & (POLLOUT | POLLHUP))) {
            *writable = true;
            any = true;
        }
        if (any)
            return true;
        if (wait == 0) {
            m_expired = left == 0 ? Expired::Wait : (Deadline.Passed() ? Expired::Deadline : Expired::Stall);
            errno = ETIMEDOUT;
            return false;
        }
    }
}

bool XTCPSocketStd::IsReadable()
{
    bool readable = false;
    return WaitReady(&readable, nullptr, nullptr, 0) && readable;
}

bool XTCPSocketStd::IsWritable()
{
    bool writable = false;
    return WaitReady(nullptr, &writable, nullptr, 0) && writable;
}

bool XTCPSocketStd::Send(const void* data, int size)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    int left = size;
    while (left > 0) {
        if (Socket == -1) {
            Fail(ENOTCONN, L"not connected");
            return false;
        }
        if (!WithinLimits())
            return false;
        if (!Throttle->Wait(0)) {
            Fail(ECONNABORTED, L"sending was stopped");
            return false;
        }
        bool readable = false;
        bool writable = false;
        if (!WaitReady(WatchForReply ? &readable : nullptr, &writable, ActiveStop, static_cast<unsigned>(-1))) {
            FailWait("sending");
            return false;
        }
        if (readable) {
            Fail(ECONNABORTED, L"the peer answered before everything was sent");
            return false;
        }
        if (!writable) {
            Fail(ETIMEDOUT, L"the connection to " + HostAndPort(Host, Port) + L" takes no data");
            return false;
        }
        const int piece = SendChunk > 0 ? std::min(left, SendChunk) : left;
        const ssize_t sent = ::send(Socket, bytes, static_cast<size_t>(piece), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                continue;
            const int error = errno;
            Fail(error, L"sending to " + HostAndPort(Host, Port) + L" failed: " + ErrnoText(error));
            return false;
        }
        Throttle->OnSent(sent);
        CountProgress(sent);
        bytes += sent;
        left -= static_cast<int>(sent);
    }
    return true;
}

int XTCPSocketStd::Receive(void* buffer, int size, XEvent* stop)
{
    for (;;) {
        if (Socket == -1) {
            Fail(ENOTCONN, L"not connected");
            return -1;
        }
        if (!WithinLimits())
            return -1;
        if (!Throttle->Wait(0)) {
            Fail(ECONNABORTED, L"receiving was stopped");
            return -1;
        }
        bool readable = false;
        if (!WaitReady(&readable, nullptr, stop, static_cast<unsigned>(-1))) {
            FailWait("receiving");
            return -1;
        }
        if (!readable) {
            Fail(ETIMEDOUT, L"no data from " + HostAndPort(Host, Port));
            return -1;
        }
        const ssize_t got = ::recv(Socket, buffer, static_cast<size_t>(std::max(size, 0)), MSG_DONTWAIT);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            continue;
        if (got < 0) {
            const int error = errno;
            Fail(error, L"the connection to " + HostAndPort(Host, Port) + L" broke: " + ErrnoText(error));
            return -1;
        }
        if (got > 0) {
            Throttle->OnReceived(got);
            CountProgress(got);
        }
        return static_cast<int>(got);
    }
}
