#include "xclass/XHTTPClient.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "xclass/XBase64.h"
#include "xclass/XEvent.h"
#include "xclass/XPlatform.h"

namespace {

constexpr uint64_t kFirstBodyBlock = 524288;
constexpr int kMaxTrailerLine = 8192;
constexpr int kLargestRead = 1 << 30;

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

XStr TrimBlanks(const XStr& text)
{
    int first = 0;
    int last = text.Length();
    while (first < last && IsBlank(text.p[first]))
        first++;
    while (last > first && IsBlank(text.p[last - 1]))
        last--;
    return text.Mid(first + 1, last);
}

// "name:" at the start of line, A-Z folded.
bool LineNamesHeader(const XStr& line, const wchar_t* name)
{
    const size_t length = wcslen(name);
    if (static_cast<size_t>(line.Length()) <= length || line.p[length] != L':')
        return false;
    return XStrCompare(line.p, name, static_cast<int>(length), true) == 0;
}

bool HasHeader(const XStrList& list, const wchar_t* name)
{
    for (int64_t i = 0; i < list.Count(); i++)
        if (list.Get(i) && LineNamesHeader(list[i], name))
            return true;
    return false;
}

// A decimal number of digits only (blanks around allowed), at most max; false otherwise.
bool ParseDecimal(const XStr& text, uint64_t max, uint64_t& value)
{
    const XStr digits = TrimBlanks(text);
    if (digits.IsEmpty())
        return false;
    value = 0;
    for (int i = 0; i < digits.Length(); i++) {
        const wchar_t c = digits.p[i];
        if (c < L'0' || c > L'9')
            return false;
        const uint64_t digit = static_cast<uint64_t>(c - L'0');
        if (value > (max - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    return true;
}

// The decimal value at the start of text; text that does not start with a digit, or a value
// beyond 999, gives 0 (no status code).
int ParseCode(const XStr& text)
{
    int value = 0;
    int digits = 0;
    for (int i = 0; i < text.Length() && text.p[i] >= L'0' && text.p[i] <= L'9'; i++) {
        value = value * 10 + (text.p[i] - L'0');
        if (++digits > 3)
            return 0;
    }
    return value;
}

int HexValue(uint8_t c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

XStr SizeText(uint64_t bytes)
{
    return XStr::FromULong(bytes) + L" bytes";
}

// Grows buffer so that it holds at least need bytes, doubling from its size but never past
// cap (when cap is not 0). Contents kept.
bool GrowBuffer(XBuffer& buffer, uint64_t need, uint64_t cap)
{
    if (need <= buffer.Size)
        return true;
    uint64_t size = buffer.Size < kFirstBodyBlock ? kFirstBodyBlock : buffer.Size;
    while (size < need)
        size = size > UINT64_MAX / 2 ? need : size * 2;
    if (cap && size > cap)
        size = cap;
    if (size < need)
        size = need;
    return buffer.SetSize(size, true);
}

// Restores the socket's stop event when an exchange ends, however it ends.
class ActiveStopScope {
public:
    ActiveStopScope(XTCPSocketStd& socket, XEvent* stop) : m_socket(socket), m_saved(socket.ActiveStop)
    {
        socket.ActiveStop = stop;
    }
    ~ActiveStopScope() { m_socket.ActiveStop = m_saved; }
    ActiveStopScope(const ActiveStopScope&) = delete;
    ActiveStopScope& operator=(const ActiveStopScope&) = delete;

private:
    XTCPSocketStd& m_socket;
    XEvent* m_saved;
};

} // namespace

// ---- XURLParts -----------------------------------------------------------------------------

XStr XURLParts::MakeURL(const XStr& reference) const
{
    XStr url = IsHTTPS ? L"https://" : L"http://";
    if (reference.BeginsWith(L"//"))
        return XStr(IsHTTPS ? L"https:" : L"http:") + reference;
    url += Host;
    if (!IsDefaultPort())
        url += L":" + XStr::FromLong(Port);
    if (reference.BeginsWith(L"/")) {
        url += reference;
    } else {
        const int slash = Path.ReverseFindChar(L'/');
        url += slash ? Path.Left(slash) : XStr(L"/");
        url += reference;
    }
    return url;
}

XStr XURLParts::GetFileName() const
{
    const int slash = Path.ReverseFindChar(L'/');
    if (!slash)
        return Path;
    return XURLDecode(Path.MidToEnd(slash + 1));
}

// ---- XHTTPRequest: set-up ------------------------------------------------------------------

XHTTPRequest::XHTTPRequest(const wchar_t* method, int timeoutMs)
    : XTCPSocketBuffered<XTCPSocket_SSL>(timeoutMs), Method(method ? method : L"GET")
{
}

XHTTPRequest::~XHTTPRequest()
{
    RequestBody.Free();
    ResponseBody.Free();
}

bool XHTTPRequest::RequestFailed(int error, const XStr& text)
{
    Fail(error, text);
    return false;
}

bool XHTTPRequest::SetURL(const XStr& url)
{
    URL = XURLParts();
    for (int i = 0; i < url.Length(); i++)
        if (url.p[i] <= L' ' || url.p[i] == 0x7f)
            return RequestFailed(EINVAL, L"the address \"" + url + L"\" holds blanks or control characters");
    XStr rest = url;
    const int scheme = url.Find(L"://");
    const int firstSlash = url.FindChar(L'/');
    if (scheme && scheme < firstSlash) {
        if (url.BeginsWith(L"http://", true)) {
            rest = url.MidToEnd(8);
        } else if (url.BeginsWith(L"https://", true)) {
            rest = url.MidToEnd(9);
            URL.IsHTTPS = true;
        } else {
            return RequestFailed(EINVAL, L"only http and https addresses can be fetched: \"" + url + L"\"");
        }
    }
    const int hash = rest.FindChar(L'#');
    if (hash)
        rest = rest.Left(hash - 1); // a fragment belongs to the reader, not the server
    int pathStart = rest.FindChar(L'/');
    const int query = rest.FindChar(L'?');
    if (query && (!pathStart || query < pathStart))
        pathStart = query;
    XStr authority = rest;
    if (pathStart == 1)
        return RequestFailed(EINVAL, L"the address \"" + url + L"\" names no host");
    if (pathStart) {
        authority = rest.Left(pathStart - 1);
        URL.Path = rest.p[pathStart - 1] == L'?' ? L"/" + rest.MidToEnd(pathStart) : rest.MidToEnd(pathStart);
    } else {
        URL.Path = L"/";
    }
    if (authority.FindChar(L'@'))
        return RequestFailed(EINVAL, L"addresses with a user name are not supported: \"" + url + L"\"");
    const int colon = authority.ReverseFindChar(L':');
    if (colon == 1)
        return RequestFailed(EINVAL, L"the address \"" + url + L"\" names no host");
    if (colon) {
        uint64_t port = 0;
        if (!ParseDecimal(authority.MidToEnd(colon + 1), 65535, port) || port == 0)
            return RequestFailed(EINVAL, L"the address \"" + url + L"\" has no valid port");
        URL.Port = static_cast<int>(port);
        URL.Host = authority.Left(colon - 1);
    } else {
        URL.Port = URL.IsHTTPS ? 443 : 80;
        URL.Host = authority;
    }
    if (URL.Host.IsEmpty())
        return RequestFailed(EINVAL, L"the address \"" + url + L"\" names no host");
    return true;
}

XStr XHTTPRequest::ProxyAuthorization() const
{
    if (Proxy.User.IsEmpty())
        return XStr();
    const std::string credentials = Proxy.User.ToUTF8String() + ":" + Proxy.Password.ToUTF8String();
    return L"Basic " + XBase64EncodeToStr(credentials.data(), credentials.size(), XBASE64_NO_LINE_BREAKS);
}

// ---- Connecting ----------------------------------------------------------------------------

void XHTTPRequest::Disconnect()
{
    Close();
    ConnectedHost = L"";
    ConnectedPort = 0;
    ConnectedTLS = false;
    ConnectedTunnel = L"";
}

bool XHTTPRequest::ConnectTarget(XEvent* stop)
{
    if (stop && stop->IsSet())
        return RequestFailed(ECONNABORTED, L"the request was cancelled");
    XStr host;
    int port = 0;
    bool tls = false;
    XStr tunnel;
    if (ProxyInUse()) {
        if (Proxy.Server.IsEmpty() || Proxy.Port <= 0 || Proxy.Port > 65535)
            return RequestFailed(EINVAL, L"a proxy is switched on, but its server or port is not set");
        host = Proxy.Server;
        port = Proxy.Port;
        if (URL.IsHTTPS)
            tunnel = URL.Host + L":" + XStr::FromLong(URL.Port);
    } else {
        host = URL.Host;
        port = URL.Port;
        tls = URL.IsHTTPS;
    }
    const bool secure = tls || !tunnel.IsEmpty();
    if (IsConnected() && ConnectedHost == host && ConnectedPort == port && ConnectedTLS == secure &&
        ConnectedTunnel == tunnel)
        return true;
    Disconnect();
    for (int attempt = 0;; attempt++) {
        UseSSL = tls;
        bool ok = Connect(host, port, false, stop);
        if (ok && !tunnel.IsEmpty())
            ok = OpenTunnel(tunnel, stop);
        if (ok)
            break;
        const int error = errno;
        const XStr reason = LastError;
        Disconnect();
        if (attempt >= ConnectRetries || error == ECONNABORTED)
            return RequestFailed(error, reason);
        if (stop) {
            if (stop->WaitUntilSet(5000))
                return RequestFailed(ECONNABORTED, L"the request was cancelled");
        } else {
            Sleep(5000);
        }
    }
    ConnectedHost = host;
    ConnectedPort = port;
    ConnectedTLS = secure;
    ConnectedTunnel = tunnel;
    return true;
}

bool XHTTPRequest::OpenTunnel(const XStr& target, XEvent* stop)
{
    XStr head = L"CONNECT " + target + L" HTTP/1.1\r\nHost: " + target + L"\r\n";
    if (!UserAgent.IsEmpty())
        head += L"User-Agent: " + UserAgent + L"\r\n";
    const XStr authorization = ProxyAuthorization();
    if (!authorization.IsEmpty())
        head += L"Proxy-Authorization: " + authorization + L"\r\n";
    head += L"\r\n";
    const std::string bytes = head.ToUTF8String();
    if (!Send(bytes.data(), static_cast<int>(bytes.size())))
        return false;
    XHTTPStatusLine status;
    XStrList headers;
    if (!ReadFinalHead(stop, L"the proxy", status, headers))
        return false;
    if (status.Code < 200 || status.Code > 299)
        return RequestFailed(ECONNREFUSED, L"the proxy refused the tunnel to " + target + L": " + status.Line);
    if (Buffered() > 0)
        return RequestFailed(EPROTO, L"the proxy sent data before the tunnel was open");
    UseSSL = true;
    return StartTLS(URL.Host);
}

// ---- Sending -------------------------------------------------------------------------------

bool XHTTPRequest::SendRequest(XEvent* stop)
{
    if (stop && stop->IsSet())
        return RequestFailed(ECONNABORTED, L"the request was cancelled");
    const bool viaProxy = ProxyInUse() && !URL.IsHTTPS;
    const XStr target = viaProxy ? URL.GetURL() : URL.Path;
    XStrList headers(RequestHeaders);
    if (!UserAgent.IsEmpty() && !HasHeader(headers, L"User-Agent"))
        headers.Add(L"User-Agent: " + UserAgent);
    if (!HasHeader(headers, L"Host"))
        headers.Add(L"Host: " + URL.Host + (URL.IsDefaultPort() ? XStr() : L":" + XStr::FromLong(URL.Port)));
    if (KeepAlive && !IsHTTP11())
        headers.Add(L"Connection: keep-alive");
    if (!KeepAlive && IsHTTP11())
        headers.Add(L"Connection: close");
    if (viaProxy) {
        const XStr authorization = ProxyAuthorization();
        if (!authorization.IsEmpty() && !HasHeader(headers, L"Proxy-Authorization"))
            headers.Add(L"Proxy-Authorization: " + authorization);
    }
    XStr head;
    head.Grow(2000, 0);
    head = Method + L" " + target + L" " + Version + L"\r\n";
    if (!head.BeginsWith(L"GET ") && !head.BeginsWith(L"HEAD "))
        head += L"Content-Length: " + XStr::FromULong(RequestBody.Used) + L"\r\n";
    for (int64_t i = 0; i < headers.Count(); i++)
        if (headers.Get(i) && !headers[i].IsEmpty())
            head += headers[i] + L"\r\n";
    head += L"\r\n";
    const std::string bytes = head.ToUTF8String();
    if (bytes.size() > static_cast<size_t>(INT_MAX) || !Send(bytes.data(), static_cast<int>(bytes.size())))
        return false;
    if (RequestBody.Used == 0)
        return true;
    if (RequestBody.Used > static_cast<uint64_t>(INT_MAX))
        return RequestFailed(EFBIG, L"the request body is too large");
    // A server may answer before it has read the body (to refuse it, say). TLS records of
    // the session itself can arrive at any time, so only a plain connection is watched.
    WatchForReply = !HasTLS();
    const bool sent = Send(RequestBody.Data, static_cast<int>(RequestBody.Used));
    WatchForReply = false;
    if (sent)
        return true;
    if (errno == ECONNABORTED && !(stop && stop->IsSet()) && IsReadable()) {
        m_reusable = false;
        LastError = L"";
        return true;
    }
    return false;
}

bool XHTTPRequest::SendRequestText(const XStr& requestLine, const XStrList& headers, const XStr& body, int)
{
    XStrList lines(headers);
    if (!HasHeader(lines, L"Content-Type"))
        lines.Add(L"Content-Type: text/plain");
    const std::string head = (requestLine + L"\r\n" + JoinHeaderLines(lines) + L"\r\n").ToUTF8String();
    if (!Send(head.data(), static_cast<int>(head.size())))
        return false;
    XStr text(body);
    const char* bytes = text.Ansi();
    const size_t length = strlen(bytes);
    return length == 0 || Send(bytes, static_cast<int>(length));
}

// ---- Reading -------------------------------------------------------------------------------

bool XHTTPRequest::ReadHead(XBuffer& head, XEvent* stop, const wchar_t* who)
{
    std::string bytes;
    bytes.reserve(16384);
    for (;;) {
        uint8_t byte = 0;
        const int got = Receive(&byte, 1, stop);
        if (got < 0)
            return false;
        if (got == 0) {
            return RequestFailed(ECONNRESET, bytes.empty()
                                                 ? XStr(who) + L" closed the connection without an answer"
                                                 : XStr(who) + L" closed the connection in the middle of its answer");
        }
        bytes.push_back(static_cast<char>(byte));
        const size_t n = bytes.size();
        if (n >= 4 && bytes.compare(n - 4, 4, "\r\n\r\n") == 0)
            break;
        if (n > kMaxHeadBytes)
            return RequestFailed(EMSGSIZE, L"the head of the answer from " + XStr(who) + L" is larger than 64 KiB");
    }
    return head.Assign(bytes.data(), bytes.size() - 4) ||
           RequestFailed(ENOMEM, L"out of memory"); // the final CR LF CR LF is not kept
}

bool XHTTPRequest::ReadFinalHead(XEvent* stop, const wchar_t* who, XHTTPStatusLine& status, XStrList& headers)
{
    for (int interim = 0;; interim++) {
        XBuffer head;
        const bool read = ReadHead(head, stop, who);
        const bool parsed = read && ParseHead(head.Data, head.Used, status, headers);
        head.Free();
        if (!read)
            return false;
        if (!parsed)
            return RequestFailed(EPROTO, XStr(L"the answer from ") + who + L" is not an HTTP response");
        // "100 Continue" and its kin say that the real answer is still to come.
        if (status.Code < 100 || status.Code > 199)
            return true;
        if (interim >= kMaxInterimAnswers)
            return RequestFailed(EPROTO, XStr(who) + L" sent more than " + XStr::FromLong(kMaxInterimAnswers) +
                                             L" interim answers and no real one");
    }
}

bool XHTTPRequest::ParseStatusLine(const XStr& line, XHTTPStatusLine& status)
{
    status = XHTTPStatusLine();
    status.Line = line;
    const int blank = line.FindChar(L' ');
    if (!blank)
        return false;
    status.Version = line.Left(blank - 1);
    const XStr rest = line.MidToEnd(blank + 1);
    const int second = rest.FindChar(L' ');
    if (second) {
        status.Code = ParseCode(rest.Left(second - 1));
        status.Reason = rest.MidToEnd(second + 1);
    } else {
        status.Code = ParseCode(rest);
    }
    return status.Version.BeginsWith(L"HTTP/");
}

bool XHTTPRequest::ParseHead(const uint8_t* data, size_t length, XHTTPStatusLine& status, XStrList& headers)
{
    headers.Clear();
    status = XHTTPStatusLine();
    if (!data || length == 0)
        return false;
    const XStr text = XStr::FromUTF8Bytes(data, length);
    int start = 1;
    bool first = true;
    for (;;) {
        const int end = text.Find(L"\r\n", start);
        const XStr line = end ? text.Mid(start, end - 1) : text.MidToEnd(start);
        if (first) {
            if (!ParseStatusLine(line, status))
                return false;
            first = false;
        } else {
            headers.Add(line);
        }
        if (!end)
            break;
        start = end + 2;
    }
    return true;
}

XStr XHTTPRequest::FindHeader(const XStrList& headers, const wchar_t* name, bool* found)
{
    if (found)
        *found = false;
    const size_t length = wcslen(name);
    for (int64_t i = 0; i < headers.Count(); i++) {
        const XStr* line = headers.Get(i);
        if (line && LineNamesHeader(*line, name)) {
            if (found)
                *found = true;
            return TrimBlanks(line->MidToEnd(static_cast<int>(length) + 2));
        }
    }
    return XStr();
}

XStr XHTTPRequest::GetResponseHeader(const wchar_t* name, const wchar_t* defaultText) const
{
    bool found = false;
    const XStr value = FindHeader(ResponseHeaders, name, &found);
    return found ? value : XStr(defaultText ? defaultText : L"");
}

bool XHTTPRequest::IsRedirectStatus(int code)
{
    return code == 301 || code == 302 || code == 303 || code == 307 || code == 308;
}

XStr XHTTPRequest::GetRedirectURL() const
{
    if (!IsRedirectStatus(Status.Code))
        return XStr();
    const XStr location = GetResponseHeader(L"location");
    if (location.IsEmpty())
        return XStr();
    if (location.Find(L"://"))
        return location;
    return URL.MakeURL(location);
}

bool XHTTPRequest::RemoveRequestHeader(XStrList& list, const wchar_t* name)
{
    bool removed = false;
    for (int64_t i = list.Count() - 1; i >= 0; i--) {
        if (list.Get(i) && LineNamesHeader(list[i], name)) {
            list.RemoveAt(i);
            removed = true;
        }
    }
    return removed;
}

XStr XHTTPRequest::JoinHeaderLines(const XStrList& list)
{
    XStr text;
    for (int64_t i = 0; i < list.Count(); i++)
        if (list.Get(i))
            text += list[i] + L"\r\n";
    return text;
}

bool XHTTPRequest::ResponseKeepsConnection() const
{
    const XStr connection = GetResponseHeader(L"Connection");
    if (XStrCompare(connection.p, L"close", 0, true) == 0)
        return false;
    return Status.Version == L"HTTP/1.1" || XStrCompare(connection.p, L"keep-alive", 0, true) == 0;
}

int XHTTPRequest::BodyKind(int64_t& length)
{
    length = 0;
    if (Method == L"HEAD" || Status.Code == 204 || Status.Code == 304 || (Status.Code >= 100 && Status.Code < 200))
        return 0;
    bool chunkedNamed = false;
    const XStr encoding = FindHeader(ResponseHeaders, L"Transfer-Encoding", &chunkedNamed);
    if (chunkedNamed) {
        if (XStrCompare(encoding.p, L"chunked", 0, true) == 0)
            return 1;
        RequestFailed(EPROTO, L"the answer uses a transfer encoding that cannot be read: " + encoding);
        return -1;
    }
    bool haveLength = false;
    uint64_t value = 0;
    for (int64_t i = 0; i < ResponseHeaders.Count(); i++) {
        const XStr* line = ResponseHeaders.Get(i);
        if (!line || !LineNamesHeader(*line, L"Content-Length"))
            continue;
        uint64_t one = 0;
        if (!ParseDecimal(line->MidToEnd(16), static_cast<uint64_t>(INT64_MAX), one) || (haveLength && one != value)) {
            RequestFailed(EPROTO, L"the answer has an invalid Content-Length: " + *line);
            return -1;
        }
        value = one;
        haveLength = true;
    }
    if (haveLength) {
        length = static_cast<int64_t>(value);
        return 2;
    }
    return 3;
}

bool XHTTPRequest::ReadLine(XStr& line, int limit, XEvent* stop, const wchar_t* what)
{
    std::string bytes;
    for (;;) {
        uint8_t byte = 0;
        const int got = Receive(&byte, 1, stop);
        if (got < 0)
            return false;
        if (got == 0)
            return RequestFailed(ECONNRESET, L"the connection closed in the middle of " + XStr(what));
        if (byte == '\n') {
            if (bytes.empty() || bytes.back() != '\r')
                return RequestFailed(EPROTO, XStr(what) + L" has a line that does not end with CR LF");
            bytes.pop_back();
            line = XStr::FromUTF8Bytes(bytes.data(), bytes.size());
            return true;
        }
        bytes.push_back(static_cast<char>(byte));
        if (bytes.size() > static_cast<size_t>(limit))
            return RequestFailed(EMSGSIZE,
                                 XStr(what) + L" has a line longer than " + XStr::FromLong(limit) + L" bytes");
    }
}

int XHTTPRequest::ReadExact(uint8_t* destination, uint64_t length, XEvent* stop)
{
    uint64_t done = 0;
    while (done < length) {
        const int ask = static_cast<int>(std::min<uint64_t>(length - done, kLargestRead));
        const int got = Receive(destination + done, ask, stop);
        if (got < 0)
            return -1;
        if (got == 0)
            return 0;
        done += static_cast<uint64_t>(got);
    }
    return 1;
}

bool XHTTPRequest::ReadChunkSize(uint64_t& size, XEvent* stop)
{
    XStr line;
    if (!ReadLine(line, kMaxChunkLine, stop, L"the chunked body"))
        return false;
    size = 0;
    int digits = 0;
    for (; digits < line.Length(); digits++) {
        const wchar_t c = line.p[digits];
        const int value = c < 0x80 ? HexValue(static_cast<uint8_t>(c)) : -1;
        if (value < 0)
            break;
        size = size * 16 + static_cast<uint64_t>(value);
        if (size > kMaxChunkSize)
            return RequestFailed(EMSGSIZE, L"the answer announces a chunk larger than 16 MiB");
    }
    // After the digits only blanks, and an extension after ";": "0x5" is no zero chunk.
    int rest = digits;
    while (rest < line.Length() && IsBlank(line.p[rest]))
        rest++;
    if (digits == 0 || (rest < line.Length() && line.p[rest] != L';'))
        return RequestFailed(EPROTO, L"the chunked body has an invalid size line: \"" + line + L"\"");
    return true;
}

bool XHTTPRequest::SkipTrailer(XEvent* stop)
{
    uint64_t total = 0;
    for (;;) {
        XStr line;
        if (!ReadLine(line, kMaxTrailerLine, stop, L"the chunked body's trailer"))
            return false;
        if (line.IsEmpty())
            return true;
        total += static_cast<uint64_t>(line.Length()) + 2;
        if (total > kMaxHeadBytes)
            return RequestFailed(EMSGSIZE, L"the chunked body's trailer is larger than 64 KiB");
    }
}

bool XHTTPRequest::ReadChunkedBody(int64_t limit, XEvent* stop)
{
    ResponseBody.Used = 0;
    for (;;) {
        uint64_t size = 0;
        if (!ReadChunkSize(size, stop))
            return false;
        if (size == 0)
            return SkipTrailer(stop);
        const uint64_t need = ResponseBody.Used + size;
        if (limit >= 0 && need > static_cast<uint64_t>(limit))
            return RequestFailed(EFBIG, L"the answer's body is larger than the limit of " +
                                            SizeText(static_cast<uint64_t>(limit)));
        if (!GrowBuffer(ResponseBody, need, limit >= 0 ? static_cast<uint64_t>(limit) : 0))
            return RequestFailed(ENOMEM, L"out of memory for the answer's body");
        const int got = ReadExact(ResponseBody.Data + ResponseBody.Used, size, stop);
        if (got < 0)
            return false;
        if (got == 0)
            return RequestFailed(ECONNRESET, L"the connection closed in the middle of a chunk: the body is cut off");
        ResponseBody.Used = need;
        uint8_t end[2] = {0, 0};
        const int ended = ReadExact(end, 2, stop);
        if (ended < 0)
            return false;
        if (ended == 0)
            return RequestFailed(ECONNRESET, L"the connection closed after a chunk: the body is cut off");
        if (end[0] != '\r' || end[1] != '\n')
            return RequestFailed(EPROTO, L"a chunk of the body does not end with CR LF");
    }
}

bool XHTTPRequest::ReadFixedBody(int64_t length, bool untilClose, int64_t limit, XEvent* stop)
{
    ResponseBody.Used = 0;
    const uint64_t cap = untilClose ? (limit >= 0 ? static_cast<uint64_t>(limit) : 0) : static_cast<uint64_t>(length);
    for (;;) {
        uint64_t want;
        if (untilClose) {
            // One byte past the limit tells a body that is too large from one that fits.
            if (ResponseBody.Used >= ResponseBody.Size &&
                !GrowBuffer(ResponseBody, ResponseBody.Used + 1, cap ? cap + 1 : 0))
                return RequestFailed(ENOMEM, L"out of memory for the answer's body");
            want = ResponseBody.Size - ResponseBody.Used;
        } else {
            const uint64_t left = static_cast<uint64_t>(length) - ResponseBody.Used;
            if (left == 0)
                break;
            if (ResponseBody.Used >= ResponseBody.Size && !GrowBuffer(ResponseBody, ResponseBody.Used + 1, cap))
                return RequestFailed(ENOMEM, L"out of memory for the answer's body");
            want = std::min(left, ResponseBody.Size - ResponseBody.Used);
        }
        const int got = Receive(ResponseBody.Data + ResponseBody.Used,
                                static_cast<int>(std::min<uint64_t>(want, kLargestRead)), stop);
        if (got < 0)
            return false;
        if (got == 0) {
            if (untilClose)
                break;
            return RequestFailed(ECONNRESET, L"the connection closed after " + SizeText(ResponseBody.Used) + L" of " +
                                                 SizeText(static_cast<uint64_t>(length)) + L": the body is cut off");
        }
        ResponseBody.Used += static_cast<uint64_t>(got);
        if (untilClose && limit >= 0 && ResponseBody.Used > static_cast<uint64_t>(limit))
            return RequestFailed(EFBIG, L"the answer's body is larger than the limit of " +
                                            SizeText(static_cast<uint64_t>(limit)));
    }
    return true;
}

bool XHTTPRequest::ReadResponse(XEvent* stop)
{
    ResponseHeaders.Clear();
    ResponseBody.Used = 0;
    Status = XHTTPStatusLine();
    if (!ReadFinalHead(stop, L"the server", Status, ResponseHeaders))
        return false;
    int64_t length = 0;
    const int kind = BodyKind(length);
    if (kind < 0)
        return false;
    if (kind == 0)
        return true;
    if (BodyLimit == 0) {
        // Nothing is read, so whatever body follows stays on the connection.
        if (kind != 2 || length > 0)
            m_reusable = false;
        return true;
    }
    bool ok;
    if (kind == 1) {
        ok = ReadChunkedBody(BodyLimit, stop);
    } else if (kind == 2) {
        if (BodyLimit > 0 && length > BodyLimit)
            return RequestFailed(EFBIG, L"the answer's body (" + SizeText(static_cast<uint64_t>(length)) +
                                            L") is larger than the limit of " +
                                            SizeText(static_cast<uint64_t>(BodyLimit)));
        ok = ReadFixedBody(length, false, BodyLimit, stop);
    } else {
        m_reusable = false;
        ok = ReadFixedBody(-1, true, BodyLimit, stop);
    }
    if (!ok)
        return false;
    ResponseBody.Size = ResponseBody.Used; // the body is what was read, nothing behind it
    if (Buffered() > 0)
        m_reusable = false;
    return true;
}

bool XHTTPRequest::Execute(XEvent* stop)
{
    ActiveStopScope scope(*this, stop);
    ResponseBody.Used = 0;
    ResponseHeaders.Clear();
    Status = XHTTPStatusLine();
    LastError = L"";
    m_reusable = true;
    m_stream = StreamState();
    if (!ConnectTarget(stop))
        return false;
    if (!SendRequest(stop) || !ReadResponse(stop)) {
        const int error = errno;
        Disconnect();
        errno = error;
        return false;
    }
    if (!m_reusable || !ResponseKeepsConnection())
        KeepAlive = false;
    if (!KeepAlive)
        Disconnect();
    return true;
}

bool XHTTPRequest::BeginStream(XEvent* stop)
{
    ActiveStopScope scope(*this, stop);
    ResponseBody.Used = 0;
    Status = XHTTPStatusLine();
    LastError = L"";
    m_reusable = false; // a stream is read to its end by the caller, or dropped
    m_stream = StreamState();
    if (!ConnectTarget(stop))
        return false;
    const bool ok = SendRequest(stop) && ReadFinalHead(stop, L"the server", Status, ResponseHeaders);
    int64_t length = 0;
    const int kind = ok ? BodyKind(length) : -1;
    if (kind < 0) {
        const int error = errno;
        Disconnect();
        errno = error;
        return false;
    }
    m_stream.Active = true;
    m_stream.Chunked = kind == 1;
    m_stream.ContentLength = kind == 2 ? length : (kind == 0 ? 0 : -1);
    m_stream.EndOfBody = kind == 0 || (kind == 2 && length == 0);
    return true;
}

int64_t XHTTPRequest::ReadStream(void* destination, int64_t length, XEvent* stop)
{
    if (!m_stream.Active) {
        RequestFailed(ENOTCONN, L"no answer is being read");
        return -1;
    }
    if (m_stream.EndOfBody || length <= 0)
        return 0;
    ActiveStopScope scope(*this, stop);
    int64_t ask = std::min<int64_t>(length, kLargestRead);
    if (m_stream.Chunked) {
        if (m_stream.ChunkLeft == 0) {
            if (m_stream.InChunk) {
                uint8_t end[2] = {0, 0};
                const int ended = ReadExact(end, 2, stop);
                if (ended <= 0 || end[0] != '\r' || end[1] != '\n') {
                    if (ended >= 0)
                        RequestFailed(EPROTO, L"a chunk of the body is cut off or does not end with CR LF");
                    return -1;
                }
                m_stream.InChunk = false;
            }
            uint64_t size = 0;
            if (!ReadChunkSize(size, stop))
                return -1;
            if (size == 0) {
                if (!SkipTrailer(stop))
                    return -1;
                m_stream.EndOfBody = true;
                return 0;
            }
            m_stream.ChunkLeft = static_cast<int64_t>(size);
            m_stream.InChunk = true;
        }
        ask = std::min(ask, m_stream.ChunkLeft);
    } else if (m_stream.ContentLength >= 0) {
        const int64_t left = m_stream.ContentLength - m_stream.BytesRead;
        if (left <= 0) {
            m_stream.EndOfBody = true;
            return 0;
        }
        ask = std::min(ask, left);
    }
    const int got = Receive(destination, static_cast<int>(ask), stop);
    if (got < 0)
        return -1;
    if (got == 0) {
        if (!m_stream.Chunked && m_stream.ContentLength < 0) {
            m_stream.EndOfBody = true;
            return 0;
        }
        RequestFailed(ECONNRESET, L"the connection closed after " +
                                      SizeText(static_cast<uint64_t>(m_stream.BytesRead)) + L": the body is cut off");
        return -1;
    }
    m_stream.BytesRead += got;
    if (m_stream.Chunked)
        m_stream.ChunkLeft -= got;
    return got;
}

// ---- XHTTPClient ---------------------------------------------------------------------------

void XHTTPClient::PrepareRequest(XHTTPRequest& request) const
{
    request.UserAgent = UserAgent;
    request.Proxy = Proxy;
    request.RequestHeaders = ExtraHeaders;
    if (BodyLimit >= 0)
        request.BodyLimit = BodyLimit;
    request.CAFile = CAFile;
}

bool XHTTPClient::Run(int mode, const XStr& url, const void* data, uint64_t size, XBuffer* out, XStr* contentType,
                      const BodySink* sink)
{
    LastError = L"";
    LastStatus = XHTTPStatusLine();
    LastHeaders.Clear();
    if (out)
        out->Free();
    XStr current = url;
    bool fromHTTPS = false;
    // One deadline for every request of the call: redirects do not buy more time.
    const XNetDeadline deadline = XNetDeadline::In(DeadlineMs);
    for (int attempt = 0; attempt < Attempts; attempt++) {
        if (StopEvent && StopEvent->IsSet()) {
            LastError = L"the request was cancelled";
            errno = ECONNABORTED;
            return false;
        }
        if (deadline.Passed()) {
            LastError = L"the request took longer than " + XDurationText(deadline.SpanMs()) + L" and was stopped";
            errno = ETIMEDOUT;
            return false;
        }
        XHTTPRequest request(mode == 1 ? L"POST" : L"GET", TimeoutMs);
        PrepareRequest(request);
        request.Deadline = deadline;
        request.SetStallRule(StallWindowMs, StallMinBytes);
        if (mode == 2)
            request.BodyLimit = 0;
        if (mode == 1) {
            if (size && !request.RequestBody.Assign(data, size)) {
                LastError = L"out of memory";
                return false;
            }
            if (!out)
                request.BodyLimit = 0;
        }
        if (!request.SetURL(current)) {
            LastError = request.LastError;
            return false;
        }
        if (fromHTTPS && !request.URL.IsHTTPS) {
            LastError = L"a secure address redirects to an insecure one, which is not followed: " + current;
            errno = EACCES;
            return false;
        }
        const bool ok = mode == 3 ? request.BeginStream(StopEvent) : request.Execute(StopEvent);
        const int error = errno;
        LastStatus = request.Status;
        LastHeaders = request.ResponseHeaders;
        if (!ok) {
            LastError = request.LastError.IsEmpty() ? XStr(L"the request failed") : request.LastError;
            errno = error;
            return false;
        }
        if (request.Status.Code == 200) {
            if (mode == 3)
                return StreamBody(request, *sink);
            if (mode == 2) {
                *contentType = request.GetResponseHeader(L"content-type");
                if (contentType->IsEmpty())
                    LastError = L"the answer names no content type";
                return !contentType->IsEmpty();
            }
            if (out) {
                if (request.ResponseBody.Used == 0) {
                    out->Free();
                } else {
                    *out = request.ResponseBody; // handed over, not copied: bodies can be large
                    request.ResponseBody = XBuffer();
                }
            }
            return true;
        }
        const XStr next = request.GetRedirectURL();
        if (next.IsEmpty()) {
            LastError = L"the server answered \"" + request.Status.Line + L"\"";
            errno = EPROTO;
            return false;
        }
        fromHTTPS = request.URL.IsHTTPS;
        current = next;
    }
    LastError = L"too many redirects: more than " + XStr::FromLong(Attempts > 0 ? Attempts - 1 : 0) + L" in a row";
    errno = ELOOP;
    return false;
}

bool XHTTPClient::StreamBody(XHTTPRequest& request, const BodySink& sink)
{
    uint8_t piece[65536];
    uint64_t total = 0;
    for (;;) {
        const int64_t got = request.ReadStream(piece, sizeof piece, StopEvent);
        if (got < 0) {
            const int error = errno;
            LastError = request.LastError.IsEmpty() ? XStr(L"the body could not be read") : request.LastError;
            errno = error;
            return false;
        }
        if (got == 0)
            return true;
        total += static_cast<uint64_t>(got);
        if (BodyLimit >= 0 && total > static_cast<uint64_t>(BodyLimit)) {
            LastError = L"the body is larger than " + XStr::FromLong(BodyLimit) + L" bytes";
            errno = EFBIG;
            return false;
        }
        if (!sink(piece, static_cast<size_t>(got))) {
            if (LastError.IsEmpty())
                LastError = L"the body could not be kept";
            return false;
        }
    }
}

bool XHTTPClient::GetStream(const XStr& url, const BodySink& sink)
{
    return Run(3, url, nullptr, 0, nullptr, nullptr, &sink);
}

bool XHTTPClient::Get(const XStr& url, XBuffer& out)
{
    return Run(0, url, nullptr, 0, &out, nullptr);
}

bool XHTTPClient::Post(const XStr& url, const void* data, uint64_t size, XBuffer* out)
{
    return Run(1, url, data, size, out, nullptr);
}

bool XHTTPClient::GetContentType(const XStr& url, XStr& out)
{
    out = L"";
    return Run(2, url, nullptr, 0, nullptr, &out);
}

XStr XHTTPClient::ContentType(const XStr& url)
{
    XStr type;
    if (!GetContentType(url, type))
        return XStr();
    return type;
}

// ---- URL text ------------------------------------------------------------------------------

XStr XURLEncode(const XStr& text)
{
    static const char* hex = "0123456789ABCDEF";
    const std::string bytes = text.ToUTF8String();
    std::string out;
    out.reserve(bytes.size() * 3);
    for (const char ch : bytes) {
        const auto c = static_cast<uint8_t>(ch);
        if (c == ' ') {
            out += '+';
        } else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
                   c == '_') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return XStr::FromUTF8(out);
}

XStr XURLDecode(const XStr& text)
{
    std::string bytes;
    bytes.reserve(static_cast<size_t>(text.Length()));
    for (int i = 0; i < text.Length(); i++) {
        const wchar_t c = text.p[i];
        if (c == L'%' && i + 2 < text.Length() && text.p[i + 1] < 0x80 && text.p[i + 2] < 0x80 &&
            HexValue(static_cast<uint8_t>(text.p[i + 1])) >= 0 && HexValue(static_cast<uint8_t>(text.p[i + 2])) >= 0) {
            bytes += static_cast<char>(HexValue(static_cast<uint8_t>(text.p[i + 1])) * 16 +
                                       HexValue(static_cast<uint8_t>(text.p[i + 2])));
            i += 2;
        } else if (c == L'+') {
            bytes += ' ';
        } else {
            bytes += static_cast<char>(c & 0xff);
        }
    }
    return XStr::FromUTF8Bytes(bytes.data(), bytes.size());
}
