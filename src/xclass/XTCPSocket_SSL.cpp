#include "xclass/XTCPSocket_SSL.h"

#include <arpa/inet.h>
#include <cerrno>
#include <climits>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

// The record reader and writer of a session reach the socket's private state through this.
struct XTCPSocketSSLAccess {
    static int Read(XTCPSocket_SSL* socket, char* buffer, int length)
    {
        const int got = socket->XTCPSocketStd::Receive(buffer, length, socket->ActiveStop);
        if (got < 0)
            socket->m_ioErrno = errno;
        if (got == 0)
            socket->m_peerClosed = true;
        return got;
    }
    static bool PeerClosed(XTCPSocket_SSL* socket) { return socket->m_peerClosed; }
    static int Write(XTCPSocket_SSL* socket, const char* data, int length)
    {
        if (!socket->XTCPSocketStd::Send(data, length)) {
            socket->m_ioErrno = errno;
            return -1;
        }
        return length;
    }
};

namespace {

int BioRead(BIO* bio, char* buffer, int length)
{
    BIO_clear_retry_flags(bio);
    auto* socket = static_cast<XTCPSocket_SSL*>(BIO_get_data(bio));
    return XTCPSocketSSLAccess::Read(socket, buffer, length);
}

int BioWrite(BIO* bio, const char* data, int length)
{
    BIO_clear_retry_flags(bio);
    auto* socket = static_cast<XTCPSocket_SSL*>(BIO_get_data(bio));
    return XTCPSocketSSLAccess::Write(socket, data, length);
}

long BioControl(BIO* bio, int command, long, void*)
{
    if (command == BIO_CTRL_FLUSH)
        return 1;
    if (command == BIO_CTRL_EOF)
        return XTCPSocketSSLAccess::PeerClosed(static_cast<XTCPSocket_SSL*>(BIO_get_data(bio))) ? 1 : 0;
    return 0;
}

int BioCreate(BIO* bio)
{
    BIO_set_init(bio, 1);
    return 1;
}

BIO_METHOD* SocketBioMethod()
{
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "xclass socket");
        if (m) {
            BIO_meth_set_read(m, BioRead);
            BIO_meth_set_write(m, BioWrite);
            BIO_meth_set_ctrl(m, BioControl);
            BIO_meth_set_create(m, BioCreate);
        }
        return m;
    }();
    return method;
}

SSL_CTX* NewClientContext(const XStr& caFile, XStr& error)
{
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (!context) {
        error = L"TLS is not available";
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    if (SSL_CTX_set_default_verify_paths(context) != 1) {
        // No system store is not fatal when the caller names its own authority.
        ERR_clear_error();
    }
    if (!caFile.IsEmpty()) {
        const std::string path = caFile.ToUTF8String();
        if (SSL_CTX_load_verify_locations(context, path.c_str(), nullptr) != 1) {
            ERR_clear_error();
            error = L"cannot read the trusted certificates in \"" + caFile + L"\"";
            SSL_CTX_free(context);
            return nullptr;
        }
    }
    return context;
}

// The system's store is read once per process; a private authority gets a context per
// connection.
SSL_CTX* SharedClientContext(XStr& error)
{
    static XStr creationError;
    static SSL_CTX* shared = [] { return NewClientContext(XStr(), creationError); }();
    if (!shared)
        error = creationError;
    return shared;
}

bool IsDottedAddress(const XStr& name)
{
    XStr copy(name);
    in_addr address{};
    return inet_pton(AF_INET, copy.UTF8(), &address) == 1;
}

XStr OpenSSLErrorText()
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return XStr();
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return XStr::FromUTF8(text);
}

} // namespace

XTCPSocket_SSL::XTCPSocket_SSL(int timeoutMs) : XTCPSocketStd(timeoutMs) {}

XTCPSocket_SSL::~XTCPSocket_SSL()
{
    XTCPSocket_SSL::Close();
}

void XTCPSocket_SSL::Close()
{
    if (Context) {
        // A close notification tells the peer the data ended here and not by a cut; after a
        // broken session there is nobody to tell.
        if (!m_tlsBroken && Socket != -1 && SSL_is_init_finished(Context))
            SSL_shutdown(Context);
        SSL_free(Context);
        Context = nullptr;
        ERR_clear_error();
    }
    m_tlsBroken = false;
    XTCPSocketStd::Close();
}

bool XTCPSocket_SSL::OnConnected(bool serverSide)
{
    if (!XTCPSocketStd::OnConnected(serverSide))
        return false;
    if (Context) {
        SSL_free(Context);
        Context = nullptr;
    }
    if (!UseSSL)
        return true;
    if (serverSide) {
        Fail(EPROTO, L"a TLS server needs a certificate, and none is set up here");
        return false;
    }
    return StartTLS(Host);
}

bool XTCPSocket_SSL::StartTLS(const XStr& peerName)
{
    if (Context) {
        SSL_free(Context);
        Context = nullptr;
    }
    m_tlsBroken = false;
    m_peerClosed = false;
    if (peerName.IsEmpty()) {
        Fail(EINVAL, L"no host name to check the certificate against");
        return false;
    }
    XStr setupError;
    SSL_CTX* context = CAFile.IsEmpty() ? SharedClientContext(setupError) : NewClientContext(CAFile, setupError);
    if (!context) {
        Fail(EPROTO, setupError);
        return false;
    }
    SSL* ssl = SSL_new(context);
    if (!CAFile.IsEmpty())
        SSL_CTX_free(context); // the session holds its own reference
    BIO* bio = ssl ? BIO_new(SocketBioMethod()) : nullptr;
    if (!ssl || !bio) {
        if (ssl)
            SSL_free(ssl);
        Fail(ENOMEM, L"cannot set up TLS");
        return false;
    }
    BIO_set_data(bio, this);
    SSL_set_bio(ssl, bio, bio);

    XStr name(peerName);
    const char* nameBytes = name.UTF8();
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
    bool named = false;
    if (IsDottedAddress(peerName)) {
        named = X509_VERIFY_PARAM_set1_ip_asc(param, nameBytes) == 1;
    } else {
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        named = X509_VERIFY_PARAM_set1_host(param, nameBytes, 0) == 1 && SSL_set_tlsext_host_name(ssl, nameBytes) == 1;
    }
    if (!named) {
        SSL_free(ssl);
        ERR_clear_error();
        Fail(EINVAL, L"\"" + peerName + L"\" cannot be checked against a certificate");
        return false;
    }
    SSL_set_verify(ssl, SSL_VERIFY_PEER, nullptr);

    Context = ssl;
    m_ioErrno = 0;
    ERR_clear_error();
    const int r = SSL_connect(ssl);
    if (r == 1)
        return true;

    const long verdict = SSL_get_verify_result(ssl);
    int error = EPROTO;
    XStr text;
    if (verdict != X509_V_OK) {
        text = L"the certificate of " + peerName + L" is not accepted: " +
               XStr::FromUTF8(X509_verify_cert_error_string(verdict));
    } else if (m_ioErrno != 0) {
        error = m_ioErrno;
        text = L"the TLS handshake with " + peerName + L" failed: " + LastError;
    } else {
        const XStr detail = OpenSSLErrorText();
        text = L"the TLS handshake with " + peerName + L" failed" + (detail.IsEmpty() ? XStr() : L": " + detail);
    }
    ERR_clear_error();
    m_tlsBroken = true;
    SSL_free(ssl);
    Context = nullptr;
    Fail(error, text);
    return false;
}

int XTCPSocket_SSL::Receive(void* buffer, int size, XEvent* stop)
{
    if (!Context)
        return XTCPSocketStd::Receive(buffer, size, stop);
    if (size <= 0)
        return 0;
    XEvent* saved = ActiveStop;
    if (stop)
        ActiveStop = stop;
    m_ioErrno = 0;
    ERR_clear_error();
    const int got = SSL_read(Context, buffer, size);
    ActiveStop = saved;
    if (got > 0)
        return got;
    const int kind = SSL_get_error(Context, got);
    if (kind == SSL_ERROR_ZERO_RETURN)
        return 0;
    m_tlsBroken = true;
    if (kind == SSL_ERROR_SYSCALL && m_ioErrno != 0) {
        Fail(m_ioErrno, LastError);
        return -1;
    }
    const unsigned long code = ERR_peek_error();
    if (m_ioErrno == 0 && (m_peerClosed || ERR_GET_REASON(code) == SSL_R_UNEXPECTED_EOF_WHILE_READING)) {
        // The peer closed the connection without ending the session: what came may be cut.
        ERR_clear_error();
        Fail(ECONNRESET, L"the connection to " + Host + L" ended without the TLS close notification");
        return -1;
    }
    const XStr detail = OpenSSLErrorText();
    Fail(m_ioErrno ? m_ioErrno : EPROTO, L"TLS read failed" + (detail.IsEmpty() ? XStr() : L": " + detail));
    return -1;
}

bool XTCPSocket_SSL::Send(const void* data, int size)
{
    if (!Context)
        return XTCPSocketStd::Send(data, size);
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        m_ioErrno = 0;
        ERR_clear_error();
        const int sent = SSL_write(Context, bytes, size);
        if (sent <= 0) {
            m_tlsBroken = true;
            if (m_ioErrno != 0) {
                Fail(m_ioErrno, LastError);
            } else {
                const XStr detail = OpenSSLErrorText();
                Fail(EPROTO, L"TLS write failed" + (detail.IsEmpty() ? XStr() : L": " + detail));
            }
            return false;
        }
        bytes += sent;
        size -= sent;
    }
    return true;
}
