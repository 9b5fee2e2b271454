// HTTPS against `openssl s_server` on 127.0.0.1 with certificates made for the test: one
// signed by a private authority that the client is told to trust, one expired, one for
// another host name and a self-signed one. Only the first may ever be accepted.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "common/NetTestServers.h"
#include "xclass/XHTTPClient.h"
#include "xclass/XTCPSocket_SSL.h"

namespace {

class HTTPSTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new TestTempDir;
        s_certs = new TestCertificates;
        ASSERT_TRUE(s_certs->Make(s_dir->path())) << "openssl could not make the test certificates";
        s_www = s_dir->file("www");
        ASSERT_EQ(mkdir(s_www.c_str(), 0700), 0);
        WriteTestFile(s_www + "/file.bin", NetTestPattern(200000));
    }
    static void TearDownTestSuite()
    {
        delete s_certs;
        delete s_dir;
        s_certs = nullptr;
        s_dir = nullptr;
    }

    static std::string Get(const std::string& url, const std::string& ca, bool& ok, std::string* body = nullptr,
                           XHTTPClient* with = nullptr)
    {
        XHTTPClient local;
        XHTTPClient& client = with ? *with : local;
        client.CAFile = XStr::FromUTF8(ca);
        XBuffer out;
        ok = client.Get(XStr::FromUTF8(url), out);
        if (body)
            body->assign(reinterpret_cast<const char*>(out.Data), out.Used);
        out.Free();
        return client.LastError.ToUTF8String();
    }

    static std::string FileUrl(const TestServerProcess& server)
    {
        return "https://127.0.0.1:" + std::to_string(server.port()) + "/file.bin";
    }

    static TestTempDir* s_dir;
    static TestCertificates* s_certs;
    static std::string s_www;
};

TestTempDir* HTTPSTest::s_dir = nullptr;
TestCertificates* HTTPSTest::s_certs = nullptr;
std::string HTTPSTest::s_www;

TEST_F(HTTPSTest, ATrustedCertificateForTheHostIsAccepted)
{
    TestServerProcess server;
    ASSERT_TRUE(StartTLSServer(server, s_certs->good, s_certs->goodKey, s_www)) << server.output();
    bool ok = false;
    std::string body;
    const std::string error = Get(FileUrl(server), s_certs->ca, ok, &body);
    ASSERT_TRUE(ok) << error;
    // s_server sends no length: the body ends with the session's close notification.
    EXPECT_EQ(body, NetTestPattern(200000));
}

TEST_F(HTTPSTest, TheSystemStoreAloneDoesNotTrustAPrivateAuthority)
{
    TestServerProcess server;
    ASSERT_TRUE(StartTLSServer(server, s_certs->good, s_certs->goodKey, s_www)) << server.output();
    bool ok = true;
    const std::string error = Get(FileUrl(server), "", ok);
    EXPECT_FALSE(ok);
    EXPECT_NE(error.find("is not accepted"), std::string::npos) << error;
}

TEST_F(HTTPSTest, UntrustedExpiredAndMisnamedCertificatesFailWithTheReason)
{
    const struct {
        const std::string& cert;
        const std::string& key;
        const char* reason;
    } cases[] = {
        {s_certs->selfSigned, s_certs->selfSignedKey, "self-signed certificate"},
        {s_certs->expired, s_certs->expiredKey, "certificate has expired"},
        {s_certs->otherHost, s_certs->otherHostKey, "IP address mismatch"},
    };
    for (const auto& c : cases) {
        TestServerProcess server;
        ASSERT_TRUE(StartTLSServer(server, c.cert, c.key, s_www)) << server.output();
        bool ok = true;
        std::string body;
        const std::string error = Get(FileUrl(server), s_certs->ca, ok, &body);
        EXPECT_FALSE(ok) << c.reason;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_TRUE(body.empty());
    }
}

TEST_F(HTTPSTest, ASessionCutWithoutItsCloseNotificationFails)
{
    // s_server without a mode relays its standard input to the client: the answer is written
    // there, and the server is then killed, so the connection ends without the session's end.
    TestServerProcess server;
    ASSERT_TRUE(server.Start(
        {"openssl", "s_server", "-accept", "127.0.0.1:0", "-cert", s_certs->good, "-key", s_certs->goodKey},
        "ACCEPT 127.0.0.1:", "", 300000, true))
        << server.output();
    bool ok = true;
    std::string error;
    // The server is killed only once the client has the whole answer: a kill before that
    // would cut the answer itself, which is another failure.
    std::mutex lock;
    std::condition_variable arrived;
    size_t received = 0;
    std::thread fetch([&] {
        XHTTPClient client;
        client.TimeoutMs = 300000;
        client.CAFile = XStr::FromUTF8(s_certs->ca);
        ok = client.GetStream(XStr::FromUTF8("https://127.0.0.1:" + std::to_string(server.port()) + "/"),
                              [&](const uint8_t*, size_t size) {
                                  {
                                      std::lock_guard<std::mutex> guard(lock);
                                      received += size;
                                  }
                                  arrived.notify_all();
                                  return true;
                              });
        error = client.LastError.ToUTF8String();
    });
    const auto start = std::chrono::steady_clock::now();
    while (server.output().find("GET / HTTP/1.0") == std::string::npos &&
           std::chrono::steady_clock::now() - start < std::chrono::minutes(5))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(server.Input("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + std::string(1000, 'b')));
    {
        std::unique_lock<std::mutex> guard(lock);
        EXPECT_TRUE(arrived.wait_for(guard, std::chrono::minutes(5), [&] { return received >= 1000; }));
    }
    server.Kill();
    fetch.join();
    EXPECT_FALSE(ok);
    EXPECT_NE(error.find("without the TLS close notification"), std::string::npos) << error;
}

TEST_F(HTTPSTest, AHostNameIsCheckedAgainstTheCertificatesNames)
{
    // The good certificate names localhost and 127.0.0.1; the other one names neither.
    XTCPSocket_SSL socket(10000);
    socket.UseSSL = true;
    socket.CAFile = XStr::FromUTF8(s_certs->ca);
    TestServerProcess good;
    ASSERT_TRUE(StartTLSServer(good, s_certs->good, s_certs->goodKey, s_www)) << good.output();
    ASSERT_TRUE(socket.Connect("127.0.0.1", good.port())) << socket.LastError.ToUTF8String();
    EXPECT_TRUE(socket.HasTLS());
    socket.Close();

    TestServerProcess other;
    ASSERT_TRUE(StartTLSServer(other, s_certs->otherHost, s_certs->otherHostKey, s_www)) << other.output();
    EXPECT_FALSE(socket.Connect("127.0.0.1", other.port()));
    EXPECT_EQ(socket.Socket, -1);
    EXPECT_FALSE(socket.HasTLS());
}

TEST_F(HTTPSTest, TLSToAPlainServerFailsAndClosesTheSocket)
{
    TestServerProcess plain;
    ASSERT_TRUE(StartPythonHttpServer(plain, s_www)) << plain.output();
    XTCPSocket_SSL socket(3000);
    socket.UseSSL = true;
    EXPECT_FALSE(socket.Connect("127.0.0.1", plain.port()));
    EXPECT_EQ(socket.Socket, -1);
    EXPECT_NE(socket.LastError.ToUTF8String().find("TLS handshake"), std::string::npos)
        << socket.LastError.ToUTF8String();
}

TEST_F(HTTPSTest, ARedirectFromHttpsToHttpIsNotFollowed)
{
    TestServerProcess target;
    ASSERT_TRUE(StartScriptServer(target)) << target.output();
    const std::string insecure = "http://127.0.0.1:" + std::to_string(target.port()) + "/pattern";
    WriteTestFile(s_www + "/down.http", "HTTP/1.0 302 Found\r\nLocation: " + insecure + "\r\n\r\n");
    WriteTestFile(s_www + "/over.http", "HTTP/1.0 301 Moved\r\nLocation: /file.http\r\n\r\n");
    WriteTestFile(s_www + "/file.http", "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok");
    TestServerProcess server;
    ASSERT_TRUE(StartTLSServer(server, s_certs->good, s_certs->goodKey, s_www, "-HTTP")) << server.output();
    const std::string base = "https://127.0.0.1:" + std::to_string(server.port());

    bool ok = true;
    const std::string error = Get(base + "/down.http", s_certs->ca, ok);
    EXPECT_FALSE(ok);
    EXPECT_NE(error.find("insecure"), std::string::npos) << error;
    bool counted = false;
    std::string hits;
    Get("http://127.0.0.1:" + std::to_string(target.port()) + "/hits/pattern", "", counted, &hits);
    EXPECT_TRUE(counted);
    EXPECT_EQ(hits, "0");

    std::string body;
    const std::string sameScheme = Get(base + "/over.http", s_certs->ca, ok, &body);
    EXPECT_TRUE(ok) << sameScheme;
    EXPECT_EQ(body, "ok");
}

TEST_F(HTTPSTest, HttpsThroughAProxyGoesThroughATunnel)
{
    TestServerProcess server;
    ASSERT_TRUE(StartTLSServer(server, s_certs->good, s_certs->goodKey, s_www)) << server.output();
    TestServerProcess proxy;
    ASSERT_TRUE(StartScriptServer(proxy, "user:secret")) << proxy.output();
    XHTTPClient client;
    client.Proxy.UseProxy = 1;
    client.Proxy.Server = L"127.0.0.1";
    client.Proxy.Port = proxy.port();
    client.Proxy.User = L"user";
    client.Proxy.Password = L"secret";
    bool ok = false;
    std::string body;
    const std::string error = Get(FileUrl(server), s_certs->ca, ok, &body, &client);
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(body, NetTestPattern(200000));

    bool logged = false;
    std::string log;
    Get("http://127.0.0.1:" + std::to_string(proxy.port()) + "/proxy-log", "", logged, &log);
    ASSERT_TRUE(logged);
    const std::string target = "127.0.0.1:" + std::to_string(server.port());
    EXPECT_EQ(log.find("CONNECT " + target + " HTTP/1.1\r\n"), 0u) << log;
    EXPECT_NE(log.find("Proxy-Authorization: Basic dXNlcjpzZWNyZXQ=\r\n"), std::string::npos) << log;
    // The first byte through the tunnel opens a TLS handshake (22): the request itself, and
    // anything in it, is encrypted for the target.
    EXPECT_NE(log.find("tunnel-first-byte 22\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("GET "), std::string::npos) << log;

    // A tunnel goes through the same certificate check as a direct connection.
    client.Proxy.User = L"user";
    const std::string untrusted = Get(FileUrl(server), "", ok, nullptr, &client);
    EXPECT_FALSE(ok);
    EXPECT_NE(untrusted.find("is not accepted"), std::string::npos) << untrusted;
    client.Proxy.Password = L"guess";
    const std::string refused = Get(FileUrl(server), s_certs->ca, ok, nullptr, &client);
    EXPECT_FALSE(ok);
    EXPECT_NE(refused.find("refused the tunnel"), std::string::npos) << refused;
    EXPECT_NE(refused.find("407"), std::string::npos) << refused;
}

TEST_F(HTTPSTest, BufferedReadsFetchABlockAndServeTheRestFromMemory)
{
    TestServerProcess plain;
    ASSERT_TRUE(StartPythonHttpServer(plain, s_www)) << plain.output();
    XTCPSocketBuffered<XTCPSocket_SSL> socket(10000);
    ASSERT_TRUE(socket.Connect("127.0.0.1", plain.port()));
    const std::string request = "GET /file.bin HTTP/1.0\r\n\r\n";
    ASSERT_TRUE(socket.Send(request.data(), static_cast<int>(request.size())));
    char first = 0;
    ASSERT_EQ(socket.Receive(&first, 1, nullptr), 1);
    EXPECT_EQ(first, 'H');
    const int64_t buffered = socket.Buffered();
    EXPECT_GT(buffered, 0);
    EXPECT_LE(buffered, 32767);
    // The rest of the fill comes without touching the socket, even after it is shut.
    socket.ShutdownReceive();
    std::string rest(static_cast<size_t>(buffered), '\0');
    EXPECT_EQ(socket.Receive(rest.data(), static_cast<int>(buffered), nullptr), buffered);
    EXPECT_EQ(rest.substr(0, 14), "TTP/1.0 200 OK");
}

} // namespace
