// TLS over the plain socket, through OpenSSL, and a read buffer in front of any socket class.
//
// The TLS records travel through the plain socket's own Receive and Send, so time-outs, the
// throttle hook and errno stay those of XTCPSocketStd. A client always verifies the peer: the
// certificate chain against the system's trusted certificates (and CAFile, when named) and the
// certificate's name against the host connected to. Nothing here turns that off.
//
// XTCPSocketBuffered<Base> reads up to 32768 bytes at a time, so that a response head can be
// read byte by byte cheaply.
#pragma once

#include <algorithm>
#include <cstring>

#include "xclass/XBuffer.h"
#include "xclass/XTCPSocketStd.h"

struct ssl_st;

class XTCPSocket_SSL : public XTCPSocketStd {
public:
    bool UseSSL = false;       // set before Connect: the connection speaks TLS
    ssl_st* Context = nullptr; // the TLS session; null when there is none
    // A PEM file of certificates trusted beside the system's (a private authority); empty:
    // the system's alone.
    XStr CAFile;

    explicit XTCPSocket_SSL(int timeoutMs);
    ~XTCPSocket_SSL() override;

    void Close() override;
    int Receive(void* buffer, int size, XEvent* stop) override;
    bool Send(const void* data, int size) override;
    bool OnConnected(bool serverSide) override;

    // Runs the client handshake on the connected socket, verifying the certificate for
    // peerName (a host name or a dotted address). Used by OnConnected with Host, and by a
    // tunnel through a proxy with the tunnel's target.
    bool StartTLS(const XStr& peerName);
    bool HasTLS() const { return Context != nullptr; }

private:
    bool m_tlsBroken = false;  // a fatal TLS error: no close notification may be sent
    int m_ioErrno = 0;         // errno of the last failed record read or write
    bool m_peerClosed = false; // the connection under the session has ended

    friend struct XTCPSocketSSLAccess;
};

template <typename Base>
class XTCPSocketBuffered : public Base {
public:
    static constexpr int kReadBufferSize = 32768;

    XBuffer ReadBuffer;  // Used is the fill count
    int64_t ReadPos = 0; // bytes of the fill already handed out

    explicit XTCPSocketBuffered(int timeoutMs) : Base(timeoutMs) {}
    ~XTCPSocketBuffered() override
    {
        XTCPSocketBuffered::Close();
        ReadBuffer.Free();
    }

    void Close() override
    {
        Base::Close();
        ReadBuffer.Used = 0;
        ReadPos = 0;
    }

    int Receive(void* destination, int length, XEvent* stop) override
    {
        if (length <= 0)
            return 0;
        if (ReadPos >= static_cast<int64_t>(ReadBuffer.Used)) {
            if (ReadBuffer.Size == 0 && !ReadBuffer.SetSize(kReadBufferSize, false)) {
                this->Fail(ENOMEM, L"out of memory");
                return -1;
            }
            ReadBuffer.Used = 0;
            ReadPos = 0;
            const int got = Base::Receive(ReadBuffer.Data,
                                          static_cast<int>(std::min<uint64_t>(ReadBuffer.Size, kReadBufferSize)), stop);
            if (got <= 0)
                return got;
            ReadBuffer.Used = static_cast<uint64_t>(got);
        }
        const int64_t available = static_cast<int64_t>(ReadBuffer.Used) - ReadPos;
        const int count = static_cast<int>(std::min<int64_t>(length, available));
        memcpy(destination, ReadBuffer.Data + ReadPos, static_cast<size_t>(count));
        ReadPos += count;
        return count;
    }

    // Bytes read from the connection but not handed out yet.
    int64_t Buffered() const { return static_cast<int64_t>(ReadBuffer.Used) - ReadPos; }
};
