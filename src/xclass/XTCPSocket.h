// The older, self-contained HTTP client socket: one object connects to a host (directly or
// through a proxy with Basic authorisation), writes one request built as narrow text and
// collects the raw response in a byte buffer, from which the caller takes header values and
// the body. The tag-suggestion client uses it.
//
// It polls in 50 ms steps and measures its time-outs from the last transfer; a Deadline, when
// set, bounds the whole exchange, however often the peer sends a byte. Every send and
// receive is non-blocking underneath whatever mode the descriptor is in, so a time-out always
// holds. The response is limited to MaxResponseSize bytes, and a response that stops short of
// its Content-Length, or whose read fails, is a failure.
#pragma once

#include <cstdint>

#include "xclass/XBuffer.h"
#include "xclass/XProxySettings.h"
#include "xclass/XStr.h"
#include "xclass/XTCPSocketStd.h"

class XEvent;

class XTCPSocket {
public:
    int SendTimeoutMS = 45000; // longest pause without progress while sending
    int SendChunk = 0;
    int ReceiveTimeoutMS = 0; // longest pause without data while receiving; 0: none
    XStr UserAgent;
    XStr Host;
    int Port = 0;
    bool UseProxy = false;
    XStr ProxyUser;
    XStr ProxyPassword;
    int NotConnected = 0; // a request was to be sent without a connection
    int Socket = -1;      // -1: none
    XBuffer Response;     // the raw response, NUL-terminated after a read (not counted in Used)
    XStr RequestLogName;  // when set, each request's bytes are written to this file
    XStr ResponseLogName; // when set, each response's raw bytes are appended to this file
    XNetThrottle* Throttle;
    uint32_t LastActivityMS = 0;
    bool WatchForReply = false; // a peer that starts answering ends the send with success
    uint64_t MaxResponseSize = 64ull << 20;
    XNetDeadline Deadline; // connect, sends and receives fail with ETIMEDOUT once it has passed
    XStr LastError;

    XTCPSocket();
    virtual ~XTCPSocket();
    XTCPSocket(const XTCPSocket&) = delete;
    XTCPSocket& operator=(const XTCPSocket&) = delete;

    virtual int Receive(void* buffer, int size, XEvent* stop);
    virtual bool Send(const void* data, int size);
    virtual bool OnConnected();

    // Connects to host and port, or to the proxy when the settings switch one on. Without
    // settings there is no proxy. receiveTimeoutMs also bounds the connect (SendTimeoutMS
    // when it is 0); stop, when given, ends it early.
    bool Connect(const char* host, int port, const char* userAgent, const XProxySettings* proxy, int receiveTimeoutMs,
                 bool numericOnly = false, XEvent* stop = nullptr);
    bool Attach(int fd, const char* userAgent, const char* host, int receiveTimeoutMs);
    bool Attach(int fd, const char* userAgent, int receiveTimeoutMs)
    {
        return Attach(fd, userAgent, "", receiveTimeoutMs);
    }

    bool SendRequest(const char* method, const char* path, const char* extraHeaders, const void* body, int bodyLength,
                     const char* version, bool forceContentLength);
    // mode 3 reads the head only; any other mode reads until the peer closes or expectedSize
    // bytes have come (0: no expected size).
    bool Get(const char* path, const char* extraHeaders, int mode, int64_t expectedSize, const char* version,
             bool shutdownSend, XEvent* stop);
    bool Post(const void* body, int length, const char* path, const char* extraHeaders, int mode, int64_t expectedSize,
              const char* version, bool shutdownSend, XEvent* stop);
    bool ReadResponse(int mode, int64_t expectedSize, XEvent* stop);

    // The bytes after the first CR LF CR LF of Response and their count; null and 0 without one.
    const uint8_t* GetBody(int* size) const;
    // Up to maxChars bytes of Response before the body, as Windows-1252 text.
    XStr GetHeaderText(int maxChars) const;
    // The rest of the line after the occurrence-th match (from 0) of pattern ("?" matches any
    // character) in the head, as Windows-1252 text; empty when there is none.
    XStr GetHeaderValue(XStr& out, const char* pattern, bool ignoreCase, int occurrence) const;

    XNetThrottle* SetThrottle(XNetThrottle* throttle);
    void SetBlocking(int receiveTimeoutMs);
    void SetNonBlocking();
    int SetSendBufferSize(int bytes);
    int SetReceiveBufferSize(int bytes);
    void Close();
    void ShutdownSend();
    void ShutdownReceive();

private:
    bool SendBytes(const void* data, int size);
    // False with ETIMEDOUT and LastError once the deadline has passed.
    bool BeforeDeadline();
    // The length of the head (up to and including CR LF CR LF) in Response; 0 without one.
    uint64_t HeadLength() const;
};

// "@" and blanks become "+", and "&" becomes "&amp;" when asked.
XStr XQueryEscape(const XStr& text, bool escapeAmpersand);
// 0-9, A-Z and a-z of the UTF-8 bytes stay; every other byte becomes "%XX".
XStr XURLEscape(const XStr& text);
// scheme (lower case; none: empty), host, port (443 for https, else 80, unless the URL gives
// one) and path (default "/") of a URL.
void XSplitURL(const XStr& url, XStr& host, int& port, XStr& path, XStr& scheme);
// The older form: skips up to "//", port 80 unless given, an empty path when there is none.
void XSplitURL(const XStr& url, XStr& host, int& port, XStr& path);
