// The plain TCP client connection over IPv4, and the bandwidth hook every socket class asks.
//
// XTCPSocketStd resolves a host, connects (with a time-out), switches the descriptor to
// non-blocking mode and then does every send and receive behind a poll with a time-out, an
// optional stop event and the throttle. Failures come back as false or -1 with errno set, so
// that callers can tell an abort (ECONNABORTED: stop event, throttle refusal, early reply)
// from a broken connection (ECONNRESET) and a time-out (ETIMEDOUT); LastError says the same
// in words for the user.
//
// Beside the time-out of each wait, a socket can carry a deadline for the whole exchange and a
// rule on progress (so many bytes within so many milliseconds): a peer that sends a byte now
// and then keeps every single wait short, and only these two bound it.
//
// One thread uses a socket at a time; only the stop event is set from elsewhere.
#pragma once

#include <cstdint>

#include "xclass/XStr.h"

class XEvent;

// Told about every transfer and asked before each one. The base class is the default hook:
// it counts nothing and lets everything through (Wait sleeps what it is asked to).
class XNetThrottle {
public:
    virtual ~XNetThrottle() = default;
    virtual void OnSent(int64_t bytes);
    virtual void OnReceived(int64_t bytes);
    // Asked with 0 before each piece sent and each read; false aborts with ECONNABORTED.
    virtual bool Wait(int ms);

    // The shared instance of sockets without a hook of their own. It has no state.
    static XNetThrottle* Default();
};

// A moment on the monotonic clock after which a transfer gives up; none by default. Copies
// share the moment, so every request of one call can end by the same time.
class XNetDeadline {
public:
    XNetDeadline() = default;
    // ms from now; ms <= 0 gives none.
    static XNetDeadline In(int64_t ms);
    bool IsSet() const { return m_at != 0; }
    bool Passed() const;
    // The milliseconds a wait may take: capMs (< 0: no cap of its own) shortened to what is
    // left; -1 when neither bounds it.
    int Cap(int capMs) const;
    // How long it was set for, for messages.
    int64_t SpanMs() const { return m_span; }

private:
    int64_t m_at = 0; // monotonic milliseconds; 0 none
    int64_t m_span = 0;
};

// "750 ms", "20 s": a time span for messages.
XStr XDurationText(int64_t ms);

// The text before the first "." and the rest (empty when there is no ".").
void XSplitAtDot(const XStr& text, XStr& before, XStr& rest);
// True for a non-empty text of 0-9 only.
bool XIsAllDigits(const XStr& text);

// Resolves host (IPv4 only) and connects the descriptor to it. A host of four all-digit
// parts, or any host when numericOnly, must be a dotted address; other names go to the
// system resolver. The connect waits at most timeoutMs (<= 0: as long as the system lets
// it) and ends early with ECONNABORTED when stop is set. The descriptor's blocking mode is
// the same afterwards. False with errno set, and a reason in error when one is given.
bool XTCPConnectTo(int fd, const XStr& host, int port, bool numericOnly, int timeoutMs = 0, XEvent* stop = nullptr,
                   XStr* error = nullptr);

class XTCPSocketStd {
public:
    int SendChunk = 0; // largest piece handed to one send; set from SO_SNDBUF on connecting
    int TimeoutMS;     // longest single wait; <= 0: no limit
    XStr Host;         // as given to Connect
    int Port = 0;      // 0 for an attached descriptor
    int Socket = -1;   // -1: none
    XNetThrottle* Throttle;
    bool WatchForReply = false; // Send stops with ECONNABORTED once the peer starts answering
    // Watched by Send's waits and by reads that the caller cannot hand a stop event (TLS
    // records); set by whoever runs an exchange that must be cancellable.
    XEvent* ActiveStop = nullptr;
    XStr LastError; // why the last operation failed, in words; empty after success
    // Every wait, send and receive fails with ETIMEDOUT once this has passed.
    XNetDeadline Deadline;

    explicit XTCPSocketStd(int timeoutMs);
    virtual ~XTCPSocketStd();
    XTCPSocketStd(const XTCPSocketStd&) = delete;
    XTCPSocketStd& operator=(const XTCPSocketStd&) = delete;

    virtual void ShutdownSend();
    virtual void ShutdownReceive();
    virtual void Close();
    // One read of up to size bytes after waiting for data: the count, 0 when the peer closed,
    // -1 with errno on failure.
    virtual int Receive(void* buffer, int size, XEvent* stop);
    // Sends every byte; false with errno on failure.
    virtual bool Send(const void* data, int size);
    // Called once a descriptor is connected (serverSide for an accepted one).
    virtual bool OnConnected(bool serverSide);

    // Closes what was open, then connects to host (Windows-1252 text) and port. stop, when
    // given, ends the connect early.
    bool Connect(const char* host, int port, bool numericOnly = false, XEvent* stop = nullptr);
    bool Connect(const XStr& host, int port, bool numericOnly = false, XEvent* stop = nullptr);
    // Takes over an already connected descriptor (one a server accepted). On failure the
    // descriptor is closed.
    bool Attach(int fd, const char* host);
    // null selects the shared default. Returns the previous hook.
    XNetThrottle* SetThrottle(XNetThrottle* throttle);
    // SO_SNDBUF, and SendChunk = max(8192, bytes); returns the new SendChunk.
    int SetSendBufferSize(int bytes);
    // SO_RCVBUF; setsockopt's result.
    int SetReceiveBufferSize(int bytes);
    // Waits until one of the asked conditions holds: true with the flags set. False with
    // errno ECONNABORTED (stop set), ECONNRESET (socket error), ETIMEDOUT (time up) or the
    // poll's own. timeoutMs (unsigned; -1 converts to "no limit of its own") is capped by
    // TimeoutMS.
    bool WaitReady(bool* readable, bool* writable, XEvent* stop, unsigned timeoutMs);
    bool IsReadable();
    bool IsWritable();
    // TimeoutMS when it is positive and below the request, else the request.
    unsigned EffectiveTimeout(unsigned requestedMs) const;
    bool IsConnected() const { return Socket != -1; }
    // Fails a transfer (ETIMEDOUT) that moves fewer than minBytes, sent and received
    // together, within any windowMs; 0 for either switches the rule off. The first window
    // starts now, and again at each connect.
    void SetStallRule(int windowMs, int64_t minBytes);

protected:
    // Sets errno and LastError together.
    void Fail(int error, const XStr& text);
    void FailWait(const char* what);
    // Counts bytes moved towards the progress rule.
    void CountProgress(int64_t bytes);
    // False with errno and LastError when the deadline has passed or the progress rule is
    // broken.
    bool WithinLimits();

private:
    enum class Expired { None, Wait, Deadline, Stall };
    int StallLeftMs() const;
    XStr ExpiredText(Expired what) const;
    void RestartProgressWindow();

    int m_stallWindowMs = 0;
    int64_t m_stallMinBytes = 0;
    int64_t m_windowStart = 0; // monotonic milliseconds
    int64_t m_windowBytes = 0;
    Expired m_expired = Expired::None; // what ended the last wait that timed out
};
