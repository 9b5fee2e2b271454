// The HTTP and HTTPS client: the version check and the ffmpeg archive download go through it.
//
// XHTTPClient fetches a URL into a byte buffer (GET), posts a body (POST) or asks for a
// resource's content type, following a bounded number of redirects. Each attempt is one
// XHTTPRequest, itself a buffered TLS-capable socket: it splits the URL, connects directly or
// through the proxy, writes the request and reads the status line, the header lines and the
// body (fixed length, chunked, or up to the end of the connection).
//
// What the peer sends is never trusted for sizes: the head is limited to 64 KiB, chunk-size
// lines to 256 bytes (plain hexadecimal, then at most an extension after ";") and chunks to
// 16 MiB, lengths are checked for overflow and against the caller's limit. Interim answers
// (1xx) before the real one are skipped, a bounded number of them. Nor for time: besides the
// time-out of each wait, a call has a deadline for all its requests together, and can ask
// for a least progress, so a server that sends a byte now and then cannot hold it for ever. A body that ends before its
// length, a chunked body that is cut, a read that fails or times out: each fails the request, so a download is never
// cut short in silence. Redirects never lead from https to http. Through a proxy, https goes through a CONNECT tunnel,
// and the proxy's credentials go to the proxy only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "xclass/XBuffer.h"
#include "xclass/XList.h"
#include "xclass/XProxySettings.h"
#include "xclass/XStr.h"
#include "xclass/XTCPSocket_SSL.h"

class XEvent;

struct XURLParts {
    XStr Host;
    int Port = 80;
    XStr Path = L"/"; // begins with "/", query included
    bool IsHTTPS = false;

    bool IsDefaultPort() const { return Port == (IsHTTPS ? 443 : 80); }
    // The absolute URL of Path.
    XStr GetURL() const { return MakeURL(Path); }
    // An absolute URL for a reference: one beginning with "/" replaces the path, another is
    // put after the last "/" of Path. "." and ".." are not resolved.
    XStr MakeURL(const XStr& reference) const;
    // The text after the last "/" of Path, URL-decoded; the whole Path when it has no "/".
    XStr GetFileName() const;
};

struct XHTTPStatusLine {
    XStr Version;
    int Code = 0;
    XStr Reason;
    XStr Line; // the whole status line
};

class XHTTPRequest : public XTCPSocketBuffered<XTCPSocket_SSL> {
public:
    // Limits on what the peer sends.
    static constexpr uint64_t kMaxHeadBytes = 65535;
    static constexpr int kMaxChunkLine = 256;
    static constexpr uint64_t kMaxChunkSize = 16777216;
    static constexpr int kMaxInterimAnswers = 16; // 1xx answers skipped before the real one

    int ConnectRetries = 0; // further connection attempts after a failed one, 5 s apart
    bool KeepAlive = false; // keep the connection open after the exchange
    XStr ConnectedHost;     // where the socket is connected now
    int ConnectedPort = 0;
    bool ConnectedTLS = false;
    XStr ConnectedTunnel; // "host:port" of a CONNECT tunnel through a proxy; empty without one
    XURLParts URL;
    XStr UserAgent;
    XProxySettings Proxy;
    XStr Method;
    XStr Version = L"HTTP/1.0";
    XStrList RequestHeaders; // whole lines: name, colon, blank, value
    XBuffer RequestBody;
    XHTTPStatusLine Status;
    XStrList ResponseHeaders; // whole lines as received, the status line excluded
    XBuffer ResponseBody;
    int64_t BodyLimit = -1; // largest body; -1 none; 0 reads no body

    // method null gives "GET".
    XHTTPRequest(const wchar_t* method, int timeoutMs);
    ~XHTTPRequest() override;

    // Splits the URL into URL; false (with LastError) for a URL that cannot be requested.
    bool SetURL(const XStr& url);
    // One exchange: connect, send, receive, and disconnect unless the connection is kept.
    bool Execute(XEvent* stop);
    // The value of the first header of that name (ASCII case folded); the default without one.
    XStr GetResponseHeader(const wchar_t* name, const wchar_t* defaultText = L"") const;
    // The absolute target of a redirect; empty when the status is no redirect or names none.
    XStr GetRedirectURL() const;

    void SetHTTP10() { Version = L"HTTP/1.0"; }
    void SetHTTP11() { Version = L"HTTP/1.1"; }
    bool IsHTTP10() const { return Version == L"HTTP/1.0"; }
    bool IsHTTP11() const { return Version == L"HTTP/1.1"; }
    // Removes every line of that header; true when one was removed.
    static bool RemoveRequestHeader(XStrList& list, const wchar_t* name);
    // Every line followed by CR LF.
    static XStr JoinHeaderLines(const XStrList& list);
    static bool IsRedirectStatus(int code);
    // Sends a request line, headers and a text body (as Windows-1252) on the connection;
    // adds "Content-Type: text/plain" when the headers name no content type. flags: unused.
    bool SendRequestText(const XStr& requestLine, const XStrList& headers, const XStr& body, int flags);

    // Reading a body piece by piece instead of into ResponseBody: BeginStream connects,
    // sends the request and reads the head; ReadStream then gives the body's bytes, 0 at its
    // end and -1 when it fails (a cut body included).
    bool BeginStream(XEvent* stop);
    int64_t ReadStream(void* destination, int64_t length, XEvent* stop);

    // Reads a response (head, status line and body) from the connection. Execute calls it
    // after sending; exposed so that any byte source can be parsed the same way.
    bool ReadResponse(XEvent* stop);

    // Parses a head (the bytes before CR LF CR LF) into the status line and header lines.
    static bool ParseHead(const uint8_t* data, size_t length, XHTTPStatusLine& status, XStrList& headers);
    static bool ParseStatusLine(const XStr& line, XHTTPStatusLine& status);
    // The value of header name in a list of whole lines; found tells whether there was one.
    static XStr FindHeader(const XStrList& headers, const wchar_t* name, bool* found = nullptr);

private:
    bool m_reusable = true;
    struct StreamState {
        bool Active = false;
        bool Chunked = false;
        int64_t ContentLength = -1; // -1 until the peer closes
        int64_t BytesRead = 0;
        int64_t ChunkLeft = 0;
        bool InChunk = false;
        bool EndOfBody = false;
    } m_stream;

    bool ConnectTarget(XEvent* stop);
    bool OpenTunnel(const XStr& target, XEvent* stop);
    void Disconnect();
    bool SendRequest(XEvent* stop);
    bool ReadHead(XBuffer& head, XEvent* stop, const wchar_t* who);
    // The head of the final answer, interim (1xx) ones skipped: parsed into status and headers.
    bool ReadFinalHead(XEvent* stop, const wchar_t* who, XHTTPStatusLine& status, XStrList& headers);
    // 1 when every byte came, 0 when the peer closed first, -1 on a failed read.
    int ReadExact(uint8_t* destination, uint64_t length, XEvent* stop);
    bool ReadLine(XStr& line, int limit, XEvent* stop, const wchar_t* what);
    bool ReadChunkSize(uint64_t& size, XEvent* stop);
    bool SkipTrailer(XEvent* stop);
    bool ReadChunkedBody(int64_t limit, XEvent* stop);
    bool ReadFixedBody(int64_t length, bool untilClose, int64_t limit, XEvent* stop);
    // How the body is delimited: 1 chunked, 2 by length (into length), 3 until the close,
    // 0 none; -1 when the head is unusable (LastError says why).
    int BodyKind(int64_t& length);
    bool ResponseKeepsConnection() const;
    bool ProxyInUse() const { return Proxy.UseProxy != 0; }
    XStr ProxyAuthorization() const;
    bool RequestFailed(int error, const XStr& text);
};

class XHTTPClient {
public:
    XStr UserAgent;
    XProxySettings Proxy;
    int TimeoutMs = 20000;  // every wait of a request
    int DeadlineMs = 60000; // the whole call, redirects and a streamed body included; <= 0 none
    // A transfer that moves fewer than StallMinBytes within StallWindowMs fails; 0 for
    // either: no such rule.
    int StallWindowMs = 0;
    int64_t StallMinBytes = 0;
    int Attempts = 3;   // requests per call, the first one and each redirect counted
    int BodyLimit = -1; // largest response body; -1 none
    XEvent* StopEvent = nullptr;
    XStrList ExtraHeaders; // whole header lines sent with every request
    XStr CAFile;           // certificates trusted beside the system's; empty: the system's alone

    // What the last call ended with: the last response's status line and headers (empty when
    // none arrived), and the reason of a failure in words (empty after success).
    XHTTPStatusLine LastStatus;
    XStrList LastHeaders;
    XStr LastError;

    XHTTPClient() = default;

    // GET following redirects; on status 200 the body is copied into out.
    bool Get(const XStr& url, XBuffer& out);
    // Receives a piece of a streamed body; false stops the transfer (the call then fails).
    using BodySink = std::function<bool(const uint8_t* data, size_t size)>;
    // GET following redirects; on status 200 the body goes to sink piece by piece as it
    // arrives, never held whole. True only when the body arrived complete (BodyLimit, when
    // set, bounds it); a cut body, a refusal of the sink or a stop fails the call.
    bool GetStream(const XStr& url, const BodySink& sink);
    // POST; out, when given, is emptied first and receives the body of a 200; without out no
    // response body is read.
    bool Post(const XStr& url, const void* data, uint64_t size, XBuffer* out);
    // The "Content-Type" of a 200 response to a GET that reads no body; true when not empty.
    bool GetContentType(const XStr& url, XStr& out);
    XStr ContentType(const XStr& url);
    void PrepareRequest(XHTTPRequest& request) const;

private:
    // mode: 0 GET, 1 POST, 2 content type, 3 GET streamed to sink.
    bool Run(int mode, const XStr& url, const void* data, uint64_t size, XBuffer* out, XStr* contentType,
             const BodySink* sink = nullptr);
    bool StreamBody(XHTTPRequest& request, const BodySink& sink);
};

// Form encoding of the UTF-8 bytes: blank -> "+", A-Z a-z 0-9 - . _ kept, others "%XX".
XStr XURLEncode(const XStr& text);
// "%XX" (either case) -> the byte, "+" -> blank, then the bytes decoded as UTF-8.
XStr XURLDecode(const XStr& text);
