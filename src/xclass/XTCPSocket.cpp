#include "xclass/XTCPSocket.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "xclass/XBase64.h"
#include "xclass/XEvent.h"
#include "xclass/XFileRewrite.h"
#include "xclass/XPlatform.h"
namespace {

constexpr int kPollStepMs = 50;
constexpr int kReadPiece = 1024;

uint8_t FoldASCII(uint8_t c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<uint8_t>(c + 32) : c;
}

// Where "\r\n\r\n" begins in data, or -1.
int64_t FindHeadEnd(const uint8_t* data, uint64_t length, uint64_t from = 0)
{
    if (length < 4)
        return -1;
    for (uint64_t i = from; i + 4 <= length; i++)
        if (data[i] == '\r' && data[i + 1] == '\n' && data[i + 2] == '\r' && data[i + 3] == '\n')
            return static_cast<int64_t>(i);
    return -1;
}

bool MatchAt(const uint8_t* data, uint64_t length, uint64_t at, const char* pattern, bool ignoreCase)
{
    const size_t n = strlen(pattern);
    if (at + n > length)
        return false;
    for (size_t i = 0; i < n; i++) {
        const auto want = static_cast<uint8_t>(pattern[i]);
        if (want == '?')
            continue;
        const uint8_t got = data[at + i];
        if (ignoreCase ? FoldASCII(got) != FoldASCII(want) : got != want)
            return false;
    }
    return true;
}

std::string PortSuffix(int port)
{
    return ":" + std::to_string(port);
}

// A decimal port of 1 to 65535 at the start of text; 0 otherwise.
int ParsePort(const XStr& text)
{
    int value = 0;
    int i = 0;
    for (; i < text.Length() && text.p[i] >= L'0' && text.p[i] <= L'9'; i++) {
        value = value * 10 + (text.p[i] - L'0');
        if (value > 65535)
            return 0;
    }
    return value;
}

} // namespace

XTCPSocket::XTCPSocket() : Throttle(XNetThrottle::Default()) {}

XTCPSocket::~XTCPSocket()
{
    Close();
    Response.Free();
}

void XTCPSocket::Close()
{
    if (Socket != -1) {
        ::close(Socket);
        Socket = -1;
    }
}

void XTCPSocket::ShutdownSend()
{
    if (Socket != -1)
        shutdown(Socket, SHUT_WR);
}

void XTCPSocket::ShutdownReceive()
{
    if (Socket != -1)
        shutdown(Socket, SHUT_RD);
}

XNetThrottle* XTCPSocket::SetThrottle(XNetThrottle* throttle)
{
    XNetThrottle* previous = Throttle;
    Throttle = throttle ? throttle : XNetThrottle::Default();
    return previous;
}

void XTCPSocket::SetBlocking(int receiveTimeoutMs)
{
    if (Socket != -1)
        XClearNonBlocking(Socket);
    ReceiveTimeoutMS = receiveTimeoutMs;
}

void XTCPSocket::SetNonBlocking()
{
    if (Socket != -1)
        XSetNonBlocking(Socket);
    ReceiveTimeoutMS = 0;
}

int XTCPSocket::SetSendBufferSize(int bytes)
{
    if (Socket != -1)
        setsockopt(Socket, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
    SendChunk = std::max(8192, bytes);
    return SendChunk;
}

int XTCPSocket::SetReceiveBufferSize(int bytes)
{
    return setsockopt(Socket, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

bool XTCPSocket::BeforeDeadline()
{
    if (!Deadline.Passed())
        return true;
    LastError =
        L"the exchange with " + Host + L" took longer than " + XDurationText(Deadline.SpanMs()) + L" and was stopped";
    errno = ETIMEDOUT;
    return false;
}

bool XTCPSocket::OnConnected()
{
    XSetInheritable(Socket, false);
    if (ReceiveTimeoutMS != 0)
        XClearNonBlocking(Socket);
    int size = 0;
    socklen_t length = sizeof size;
    if (getsockopt(Socket, SOL_SOCKET, SO_SNDBUF, &size, &length) != 0)
        size = 0;
    SendChunk = std::max(8192, size);
    return true;
}

bool XTCPSocket::Connect(const char* host, int port, const char* userAgent, const XProxySettings* proxy,
                         int receiveTimeoutMs, bool numericOnly, XEvent* stop)
{
    ReceiveTimeoutMS = receiveTimeoutMs;
    Close();
    LastError = L"";
    UserAgent = XStr::FromAnsi(userAgent ? userAgent : "");
    Host = XStr::FromAnsi(host ? host : "");
    Port = port;
    const XProxySettings none;
    const XProxySettings& settings = proxy ? *proxy : none;
    UseProxy = settings.UseProxy != 0;
    ProxyUser = settings.User;
    ProxyPassword = settings.Password;
    if (UseProxy && (settings.Server.IsEmpty() || settings.Port <= 0)) {
        LastError = L"a proxy is switched on, but its server or port is not set";
        errno = EINVAL;
        return false;
    }
    Socket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (Socket == -1) {
        LastError = L"cannot make a socket";
        return false;
    }
    if (!BeforeDeadline()) {
        Close();
        return false;
    }
    const int wanted = Deadline.Cap(receiveTimeoutMs > 0 ? receiveTimeoutMs : SendTimeoutMS);
    const int connectTimeout = wanted > 0 ? wanted : 1;
    if (!XTCPConnectTo(Socket, UseProxy ? settings.Server : Host, UseProxy ? settings.Port : Port, numericOnly,
                       connectTimeout, stop, &LastError) ||
        !OnConnected()) {
        const int error = errno;
        Close();
        errno = error;
        return false;
    }
    return true;
}

bool XTCPSocket::Attach(int fd, const char* userAgent, const char* host, int receiveTimeoutMs)
{
    Close();
    LastError = L"";
    ReceiveTimeoutMS = receiveTimeoutMs;
    UserAgent = XStr::FromAnsi(userAgent ? userAgent : "");
    Host = XStr::FromAnsi(host ? host : "");
    Port = 0;
    UseProxy = false;
    Socket = fd;
    if (!OnConnected()) {
        Close();
        return false;
    }
    return true;
}

bool XTCPSocket::SendRequest(const char* method, const char* path, const char* extraHeaders, const void* body,
                             int bodyLength, const char* version, bool forceContentLength)
{
    if (body && bodyLength == 0)
        bodyLength = static_cast<int>(strnlen(static_cast<const char*>(body), INT_MAX - 2));
    if (bodyLength < 0 || bodyLength > INT_MAX - 2) {
        LastError = L"the request body is too large";
        errno = EINVAL;
        return false;
    }
    std::string head;
    head.reserve(2000);
    head += method ? method : "GET";
    XStr host(Host);
    const std::string hostBytes = host.Ansi();
    if (UseProxy) {
        head += " http://" + hostBytes;
        if (Port != 80)
            head += PortSuffix(Port);
    }
    if (path) {
        if (!UseProxy)
            head += ' ';
        head += path;
    }
    if (version) {
        head += ' ';
        head += version;
    }
    if (!UserAgent.IsEmpty()) {
        XStr agent(UserAgent);
        head += "\r\nUser-Agent: ";
        head += agent.Ansi();
    }
    if (!Host.IsEmpty()) {
        head += "\r\nHost: " + hostBytes;
        if (Port != 80 || UseProxy)
            head += PortSuffix(Port);
    }
    if (UseProxy && !ProxyUser.IsEmpty()) {
        const std::string credentials = ProxyUser.ToUTF8String() + ":" + ProxyPassword.ToUTF8String();
        head += "\r\nProxy-Authorization: Basic ";
        head += XBase64EncodeToStr(credentials.data(), credentials.size(), XBASE64_NO_LINE_BREAKS).ToUTF8String();
    }
    if (extraHeaders) {
        head += "\r\n";
        head += extraHeaders;
    }
    const bool withLength = bodyLength != 0 || forceContentLength;
    if (withLength)
        head += "\r\nContent-Length: " + std::to_string(bodyLength + 2);
    head += "\r\n\r\n";
    if (withLength) {
        if (bodyLength > 0)
            head.append(static_cast<const char*>(body), static_cast<size_t>(bodyLength));
        head += "\r\n";
    }
    if (head.size() > static_cast<size_t>(INT_MAX)) {
        LastError = L"the request is too large";
        errno = EINVAL;
        return false;
    }
    return SendBytes(head.data(), static_cast<int>(head.size()));
}

bool XTCPSocket::SendBytes(const void* data, int size)
{
    NotConnected = 0;
    if (!RequestLogName.IsEmpty())
        XFileWriteAll(RequestLogName.p, data, static_cast<size_t>(size));
    if (Socket == -1) {
        NotConnected = 1;
        LastError = L"not connected";
        errno = ENOTCONN;
        return false;
    }
    LastActivityMS = GetTickCount();
    return Send(data, size);
}

bool XTCPSocket::Send(const void* data, int size)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    int left = size;
    while (left > 0) {
        if (!BeforeDeadline())
            return false;
        if (!Throttle->Wait(0)) {
            LastError = L"sending was stopped";
            errno = ECONNABORTED;
            return false;
        }
        if (WatchForReply && XCanReadNow(Socket))
            return true;
        const int events = XPollEvents(Socket, POLLOUT, kPollStepMs);
        const int ready = (events & (POLLERR | POLLNVAL)) ? -1 : (events & (POLLOUT | POLLHUP)) ? 1 : 0;
        if (ready < 0) {
            LastError = L"the connection to " + Host + L" broke";
            errno = ECONNRESET;
            return false;
        }
        if (ready == 0) {
            if (GetTickCount() - LastActivityMS > static_cast<uint32_t>(SendTimeoutMS)) {
                LastError = L"the connection to " + Host + L" takes no data";
                errno = ETIMEDOUT;
                return false;
            }
            continue;
        }
        const int piece = SendChunk > 0 ? std::min(left, SendChunk) : left;
        const ssize_t sent = ::send(Socket, bytes, static_cast<size_t>(piece), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                continue;
            const int error = errno;
            LastError = L"sending to " + Host + L" failed: " + XStr::FromUTF8(strerror(error));
            errno = error;
            return false;
        }
        Throttle->OnSent(sent);
        LastActivityMS = GetTickCount();
        bytes += sent;
        left -= static_cast<int>(sent);
    }
    return true;
}

int XTCPSocket::Receive(void* buffer, int size, XEvent* stop)
{
    for (;;) {
        if (stop && stop->IsSet()) {
            LastError = L"receiving was cancelled";
            errno = ECONNABORTED;
            return -1;
        }
        if (!BeforeDeadline())
            return -1;
        if (!Throttle->Wait(0)) {
            LastError = L"receiving was stopped";
            errno = ECONNABORTED;
            return -1;
        }
        // An ended connection may show as POLLHUP alone; recv then returns 0 (or its error).
        const int events = XPollEvents(Socket, POLLIN, kPollStepMs);
        const int ready = (events & (POLLERR | POLLNVAL)) && !(events & POLLIN) ? -1
                          : (events & (POLLIN | POLLHUP))                       ? 1
                                                                                : 0;
        if (ready < 0) {
            LastError = L"the connection to " + Host + L" broke";
            errno = ECONNRESET;
            return -1;
        }
        if (ready > 0) {
            const ssize_t got = ::recv(Socket, buffer, static_cast<size_t>(std::max(size, 0)), MSG_DONTWAIT);
            if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
                continue;
            if (got < 0) {
                const int error = errno;
                LastError = L"the connection to " + Host + L" broke: " + XStr::FromUTF8(strerror(error));
                errno = error;
                return -1;
            }
            if (got > 0) {
                Throttle->OnReceived(got);
                LastActivityMS = GetTickCount();
            }
            return static_cast<int>(got);
        }
        if (ReceiveTimeoutMS > 0 && GetTickCount() - LastActivityMS > static_cast<uint32_t>(ReceiveTimeoutMS)) {
            LastError = L"no data from " + Host + L" within " + XStr::FromLong(ReceiveTimeoutMS) + L" ms";
            errno = ETIMEDOUT;
            return -1;
        }
    }
}

uint64_t XTCPSocket::HeadLength() const
{
    const int64_t end = FindHeadEnd(Response.Data, Response.Used);
    return end < 0 ? 0 : static_cast<uint64_t>(end) + 4;
}

bool XTCPSocket::ReadResponse(int mode, int64_t expectedSize, XEvent* stop)
{
    LastError = L"";
    if (Socket == -1) {
        LastError = L"not connected";
        errno = ENOTCONN;
        return false;
    }
    Response.Used = 0;
    const uint64_t expected = expectedSize > 0 ? static_cast<uint64_t>(expectedSize) : 0;
    if (expected > MaxResponseSize) {
        LastError = L"the expected answer is larger than the limit";
        errno = EFBIG;
        return false;
    }
    if (!Response.SetSize(expected ? expected + 10000 : 20000, false)) {
        LastError = L"out of memory";
        errno = ENOMEM;
        return false;
    }
    LastActivityMS = GetTickCount();
    bool headSeen = false;
    bool closed = false;
    for (;;) {
        if (Response.Used >= MaxResponseSize) {
            LastError = L"the answer from " + Host + L" is larger than " + XStr::FromULong(MaxResponseSize) + L" bytes";
            errno = EFBIG;
            return false;
        }
        if (Response.Size - Response.Used < kReadPiece &&
            !Response.SetSize(Response.Used + kReadPiece, true, false, (Response.Used + 2048) / 3)) {
            LastError = L"out of memory";
            errno = ENOMEM;
            return false;
        }
        const uint64_t before = Response.Used;
        const int got = Receive(Response.Data + Response.Used, kReadPiece, stop);
        if (got < 0)
            return false; // a failed or timed-out read may have cut the answer anywhere
        if (got == 0) {
            closed = true;
            break;
        }
        Response.Used += static_cast<uint64_t>(got);
        if (expected && Response.Used >= expected)
            break;
        if (!headSeen) {
            const uint64_t from = before >= 3 ? before - 3 : 0;
            headSeen = FindHeadEnd(Response.Data, Response.Used, from) >= 0;
            if (headSeen && mode == 3)
                break;
        }
    }
    const bool complete = expected && Response.Used >= expected;
    if (!complete && !headSeen) {
        LastError = Response.Used ? L"the answer from " + Host + L" ended in the middle of its head"
                                  : L"the connection to " + Host + L" closed without an answer";
        errno = ECONNRESET;
        return false;
    }
    if (closed && mode != 3 && headSeen) {
        // The peer ended the answer: it must hold the whole body it announced.
        XStr lengthText;
        GetHeaderValue(lengthText, "Content-Length:", true, 0);
        lengthText.TrimLeft();
        lengthText.TrimRight();
        if (!lengthText.IsEmpty()) {
            uint64_t length = 0;
            bool valid = true;
            for (int i = 0; i < lengthText.Length() && valid; i++) {
                const wchar_t c = lengthText.p[i];
                valid = c >= L'0' && c <= L'9' && length <= (MaxResponseSize - (c - L'0')) / 10;
                length = valid ? length * 10 + static_cast<uint64_t>(c - L'0') : 0;
            }
            if (!valid) {
                LastError = L"the answer from " + Host + L" has an invalid Content-Length";
                errno = EPROTO;
                return false;
            }
            const uint64_t body = Response.Used - HeadLength();
            if (body < length) {
                LastError = L"the connection to " + Host + L" closed after " + XStr::FromULong(body) + L" of " +
                            XStr::FromULong(length) + L" bytes: the answer is cut off";
                errno = ECONNRESET;
                return false;
            }
        }
    }
    Response.SetSize(Response.Used + 1, true);
    Response.Data[Response.Used] = 0;
    Response.Size = Response.Used + 1;
    if (!ResponseLogName.IsEmpty()) {
        XStr name(ResponseLogName);
        const int fd = open(name.UTF8(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd >= 0) {
            for (uint64_t done = 0; done < Response.Used;) {
                const ssize_t n = write(fd, Response.Data + done, Response.Used - done);
                if (n <= 0)
                    break;
                done += static_cast<uint64_t>(n);
            }
            ::close(fd);
        }
    }
    return true;
}

bool XTCPSocket::Get(const char* path, const char* extraHeaders, int mode, int64_t expectedSize, const char* version,
                     bool shutdownSend, XEvent* stop)
{
    if (!SendRequest("GET", path, extraHeaders, nullptr, 0, version, false))
        return false;
    if (shutdownSend)
        ShutdownSend();
    return ReadResponse(mode, expectedSize, stop);
}

bool XTCPSocket::Post(const void* body, int length, const char* path, const char* extraHeaders, int mode,
                      int64_t expectedSize, const char* version, bool shutdownSend, XEvent* stop)
{
    if (!SendRequest("POST", path, extraHeaders, body, length, version, true))
        return false;
    if (shutdownSend)
        ShutdownSend();
    return ReadResponse(mode, expectedSize, stop);
}

const uint8_t* XTCPSocket::GetBody(int* size) const
{
    const uint64_t head = HeadLength();
    if (head == 0) {
        if (size)
            *size = 0;
        return nullptr;
    }
    if (size)
        *size = static_cast<int>(std::min<uint64_t>(Response.Used - head, INT_MAX));
    return Response.Data + head;
}

XStr XTCPSocket::GetHeaderText(int maxChars) const
{
    const uint64_t head = HeadLength();
    const uint64_t length =
        std::min<uint64_t>(head ? head : Response.Used, static_cast<uint64_t>(std::max(maxChars, 0)));
    return XStr::FromAnsiData(reinterpret_cast<const char*>(Response.Data), length);
}

XStr XTCPSocket::GetHeaderValue(XStr& out, const char* pattern, bool ignoreCase, int occurrence) const
{
    out = L"";
    if (!pattern || !*pattern || !Response.Data)
        return out;
    const uint64_t head = HeadLength();
    const uint64_t end = head ? head : Response.Used;
    const size_t patternLength = strlen(pattern);
    int seen = 0;
    for (uint64_t at = 0; at + patternLength <= end; at++) {
        if (!MatchAt(Response.Data, end, at, pattern, ignoreCase))
            continue;
        if (seen++ < occurrence) {
            at += patternLength - 1;
            continue;
        }
        uint64_t stopAt = at + patternLength;
        while (stopAt < end && Response.Data[stopAt] != '\r' && Response.Data[stopAt] != '\n' && Response.Data[stopAt])
            stopAt++;
        out = XStr::FromAnsiData(reinterpret_cast<const char*>(Response.Data + at + patternLength),
                                 stopAt - at - patternLength);
        return out;
    }
    return out;
}

// ---- Text helpers ------------------------------------------------------------------------

XStr XQueryEscape(const XStr& text, bool escapeAmpersand)
{
    XStr out;
    for (int i = 0; i < text.Length(); i++) {
        const wchar_t c = text.p[i];
        if (c == L'@' || c == L' ')
            out.CatChar(L'+');
        else if (c == L'&' && escapeAmpersand)
            out.Cat(L"&amp;");
        else
            out.CatChar(c);
    }
    return out;
}

XStr XURLEscape(const XStr& text)
{
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (const char ch : text.ToUTF8String()) {
        const auto c = static_cast<uint8_t>(ch);
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return XStr::FromUTF8(out);
}

namespace {

// Host, port and path of a URL; what the two forms differ in is the port and the path a URL
// without them gets.
void SplitHostPortPath(const XStr& url, XStr& host, int& port, XStr& path, int defaultPort, const wchar_t* noPath)
{
    const int slashes = url.Find(L"//");
    host = slashes ? url.MidToEnd(slashes + 2) : url;
    const int slash = host.FindChar(L'/');
    if (slash) {
        path = host.MidToEnd(slash);
        host = host.Left(slash - 1);
    } else {
        path = noPath;
    }
    port = defaultPort;
    const int portColon = host.FindChar(L':');
    if (portColon) {
        const int given = ParsePort(host.MidToEnd(portColon + 1));
        if (given > 0)
            port = given;
        host = host.Left(portColon - 1);
    }
}

} // namespace

void XSplitURL(const XStr& url, XStr& host, int& port, XStr& path, XStr& scheme)
{
    const int colon = url.FindChar(L':');
    scheme = colon ? url.Left(colon - 1).ToLower() : XStr();
    SplitHostPortPath(url, host, port, path, scheme == L"https" ? 443 : 80, L"/");
}

void XSplitURL(const XStr& url, XStr& host, int& port, XStr& path)
{
    SplitHostPortPath(url, host, port, path, 80, L"");
}
