// The socket HTTP client: the request text it writes, read byte for byte by a listening
// socket of the test, and what it makes of the answers written back.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include "common/NetTestServers.h"
#include "xclass/XProxySettings.h"
#include "xclass/XTCPSocket.h"

namespace {

using Clock = std::chrono::steady_clock;

// Connects a socket to the listener and hands back the accepted side.
int ConnectPair(TestListener& listener, XTCPSocket& socket, const char* host, const XProxySettings* proxy = nullptr,
                int receiveTimeoutMs = 5000)
{
    const int port = listener.port();
    if (!socket.Connect(proxy ? host : "127.0.0.1", proxy ? 80 : port, "Test Agent", proxy, receiveTimeoutMs))
        return -1;
    if (!proxy)
        socket.Host = XStr::FromUTF8(host);
    return listener.Accept();
}

TEST(XTCPSocket, TheAnswerIsKeptWholeAndTerminated)
{
    TestListener listener;
    XTCPSocket socket;
    const int peer = ConnectPair(listener, socket, "127.0.0.1");
    ASSERT_GE(peer, 0);
    socket.Port = 8080;
    std::thread reply([peer] {
        ReadUntil(peer, "hello\r\n");
        SendAllTo(peer, "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok");
        close(peer);
    });
    ASSERT_TRUE(socket.SendRequest("POST", "/form", "X-One: 1", "hello", 5, "HTTP/1.0", true));
    ASSERT_TRUE(socket.ReadResponse(0, 0, nullptr)) << socket.LastError.ToUTF8String();
    reply.join();
    int size = 0;
    const uint8_t* body = socket.GetBody(&size);
    ASSERT_NE(body, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(body), static_cast<size_t>(size)), "ok");
    EXPECT_EQ(socket.Response.Data[socket.Response.Used], 0);
}

TEST(XTCPSocket, RequestTextDirectAndThroughAProxy)
{
    TestListener listener;
    {
        XTCPSocket socket;
        const int peer = ConnectPair(listener, socket, "example.test");
        ASSERT_GE(peer, 0);
        socket.Port = 8080;
        ASSERT_TRUE(socket.SendRequest("POST", "/form", "X-One: 1", "hello", 5, "HTTP/1.0", true));
        EXPECT_EQ(ReadUntil(peer, "hello\r\n"), "POST /form HTTP/1.0\r\nUser-Agent: Test Agent\r\n"
                                                "Host: example.test:8080\r\nX-One: 1\r\nContent-Length: 7\r\n\r\n"
                                                "hello\r\n");
        // Without a path: method, blank, version.
        ASSERT_TRUE(socket.SendRequest("GET", nullptr, nullptr, nullptr, 0, "HTTP/1.0", false));
        EXPECT_EQ(ReadUntil(peer, "\r\n\r\n").substr(0, 14), "GET HTTP/1.0\r\n");
        close(peer);
    }
    {
        XProxySettings proxy;
        proxy.UseProxy = 1;
        proxy.Server = L"127.0.0.1";
        proxy.Port = listener.port();
        proxy.User = L"user";
        proxy.Password = L"secret";
        XTCPSocket socket;
        const int peer = ConnectPair(listener, socket, "example.test", &proxy);
        ASSERT_GE(peer, 0);
        ASSERT_TRUE(socket.SendRequest("GET", "/list.txt", nullptr, nullptr, 0, "HTTP/1.0", false));
        EXPECT_EQ(ReadUntil(peer, "\r\n\r\n"), "GET http://example.test/list.txt HTTP/1.0\r\nUser-Agent: Test Agent\r\n"
                                               "Host: example.test:80\r\n"
                                               "Proxy-Authorization: Basic dXNlcjpzZWNyZXQ=\r\n\r\n");
        close(peer);
    }
}

TEST(XTCPSocket, HeaderValuesAndTheBodyComeFromTheRawAnswer)
{
    TestListener listener;
    XTCPSocket socket;
    const int peer = ConnectPair(listener, socket, "127.0.0.1");
    ASSERT_GE(peer, 0);
    std::thread reply([peer] {
        ReadUntil(peer, "\r\n\r\n");
        SendAllTo(peer, "HTTP/1.1 200 OK\r\nContent-Length: 4\r\nX-Note: first\r\ncontent-length: 4\r\n\r\nbody");
        close(peer);
    });
    ASSERT_TRUE(socket.Get("/", nullptr, 0, 0, "HTTP/1.0", false, nullptr)) << socket.LastError.ToUTF8String();
    reply.join();
    XStr value;
    EXPECT_EQ(socket.GetHeaderValue(value, "HTTP/?.? ", false, 0), L"200 OK");
    EXPECT_EQ(socket.GetHeaderValue(value, "Content-Length: ", true, 1), L"4");
    EXPECT_TRUE(socket.GetHeaderValue(value, "Content-Length: ", false, 1).IsEmpty());
    EXPECT_TRUE(socket.GetHeaderValue(value, "X-Missing:", false, 0).IsEmpty());
    EXPECT_EQ(socket.GetHeaderText(8), L"HTTP/1.1");
    int size = 0;
    const uint8_t* body = socket.GetBody(&size);
    ASSERT_EQ(size, 4);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(body), 4), "body");

    // No CR LF CR LF: no body.
    socket.Response.Assign("HTTP/1.0 200 OK\r\n", 17);
    EXPECT_EQ(socket.GetBody(&size), nullptr);
    EXPECT_EQ(size, 0);
}

TEST(XTCPSocket, HeadOnlyReadsStopAfterTheHead)
{
    TestListener listener;
    XTCPSocket socket;
    const int peer = ConnectPair(listener, socket, "127.0.0.1", nullptr, 300000);
    ASSERT_GE(peer, 0);
    ASSERT_TRUE(SendAllTo(peer, "HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\npart of the body"));
    // The peer stays open: only the head was asked for, so nothing waits for the rest.
    const auto start = Clock::now();
    ASSERT_TRUE(socket.ReadResponse(3, 0, nullptr)) << socket.LastError.ToUTF8String();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(60)); // far below the receive limit
    int size = 0;
    socket.GetBody(&size);
    EXPECT_EQ(size, 16);
    close(peer);
}

TEST(XTCPSocket, CutSilentAndOversizedAnswersFail)
{
    TestListener listener;
    {
        XTCPSocket socket;
        const int peer = ConnectPair(listener, socket, "127.0.0.1");
        ASSERT_GE(peer, 0);
        ASSERT_TRUE(SendAllTo(peer, "HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nonly this"));
        close(peer);
        EXPECT_FALSE(socket.ReadResponse(0, 0, nullptr));
        EXPECT_NE(socket.LastError.ToUTF8String().find("after 9 of 100 bytes"), std::string::npos)
            << socket.LastError.ToUTF8String();
    }
    {
        XTCPSocket socket;
        const int peer = ConnectPair(listener, socket, "127.0.0.1", nullptr, 300);
        ASSERT_GE(peer, 0);
        ASSERT_TRUE(SendAllTo(peer, "HTTP/1.0 200 OK\r\n\r\nsome"));
        const auto start = Clock::now();
        EXPECT_FALSE(socket.ReadResponse(1, 0, nullptr));
        EXPECT_EQ(errno, ETIMEDOUT);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(60));
        close(peer);
    }
    {
        XTCPSocket socket;
        socket.MaxResponseSize = 50000;
        const int peer = ConnectPair(listener, socket, "127.0.0.1");
        ASSERT_GE(peer, 0);
        std::thread flood([peer] {
            SendAllTo(peer, "HTTP/1.0 200 OK\r\n\r\n" + std::string(200000, 'f'));
            close(peer);
        });
        EXPECT_FALSE(socket.ReadResponse(0, 0, nullptr));
        EXPECT_EQ(errno, EFBIG);
        flood.join();
    }
    {
        XTCPSocket socket;
        const int peer = ConnectPair(listener, socket, "127.0.0.1");
        ASSERT_GE(peer, 0);
        close(peer);
        EXPECT_FALSE(socket.ReadResponse(0, 0, nullptr));
        EXPECT_NE(socket.LastError.ToUTF8String().find("without an answer"), std::string::npos);
    }
}

TEST(XTCPSocket, ADeadlineEndsAnAnswerThatComesAByteAtATime)
{
    TestListener listener;
    XTCPSocket socket;
    socket.Deadline = XNetDeadline::In(1000);
    const int peer = ConnectPair(listener, socket, "127.0.0.1", nullptr, 5000);
    ASSERT_GE(peer, 0);
    std::atomic<bool> done{false};
    std::thread drip([&] {
        SendAllTo(peer, "HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n");
        for (int i = 0; i < 100000 && !done; i++) {
            if (!SendAllTo(peer, "d"))
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    const auto start = Clock::now();
    EXPECT_FALSE(socket.ReadResponse(0, 0, nullptr));
    EXPECT_EQ(errno, ETIMEDOUT);
    EXPECT_NE(socket.LastError.ToUTF8String().find("took longer than 1 s"), std::string::npos)
        << socket.LastError.ToUTF8String();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(60));
    done = true;
    drip.join();
    close(peer);
}

TEST(XTCPSocket, TextHelpers)
{
    EXPECT_EQ(XQueryEscape(XStr(L"a b@c&d"), false), L"a+b+c&d");
    EXPECT_EQ(XQueryEscape(XStr(L"a&b"), true), L"a&amp;b");
    EXPECT_EQ(XURLEscape(XStr(L"a b/\u00e9")), L"a%20b%2F%C3%A9");

    XStr host, path, scheme;
    int port = 0;
    XSplitURL(XStr(L"HTTPS://Example.test:8443/a/b?c"), host, port, path, scheme);
    EXPECT_EQ(scheme, L"https");
    EXPECT_EQ(host, L"Example.test");
    EXPECT_EQ(port, 8443);
    EXPECT_EQ(path, L"/a/b?c");
    XSplitURL(XStr(L"https://example.test"), host, port, path, scheme);
    EXPECT_EQ(port, 443);
    EXPECT_EQ(path, L"/");
    XSplitURL(XStr(L"http://example.test:0/x"), host, port, path, scheme);
    EXPECT_EQ(port, 80);
    EXPECT_EQ(host, L"example.test");
    XSplitURL(XStr(L"example.test"), host, port, path, scheme);
    EXPECT_TRUE(scheme.IsEmpty());
    EXPECT_EQ(port, 80);

    XSplitURL(XStr(L"ftp://example.test:21"), host, port, path);
    EXPECT_EQ(host, L"example.test");
    EXPECT_EQ(port, 21);
    EXPECT_TRUE(path.IsEmpty());
}

} // namespace
