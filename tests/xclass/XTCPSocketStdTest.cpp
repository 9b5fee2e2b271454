// The plain socket against a listening socket of the test on 127.0.0.1, whose side of each
// exchange the test writes byte by byte.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include "common/NetTestServers.h"
#include "xclass/XEvent.h"
#include "xclass/XTCPSocketStd.h"

namespace {

using Clock = std::chrono::steady_clock;

class CountingThrottle : public XNetThrottle {
public:
    std::atomic<int64_t> sent{0};
    std::atomic<int64_t> received{0};
    std::atomic<bool> refuse{false};
    void OnSent(int64_t bytes) override { sent += bytes; }
    void OnReceived(int64_t bytes) override { received += bytes; }
    bool Wait(int) override { return !refuse; }
};

TEST(XTCPSocketStd, DottedAddressesAreUsedWithoutALookup)
{
    XStr before, rest;
    XSplitAtDot(XStr(L"192.168.1.10"), before, rest);
    EXPECT_EQ(before, L"192");
    EXPECT_EQ(rest, L"168.1.10");
    XSplitAtDot(XStr(L"host"), before, rest);
    EXPECT_EQ(before, L"host");
    EXPECT_TRUE(rest.IsEmpty());
    EXPECT_TRUE(XIsAllDigits(XStr(L"0123")));
    EXPECT_FALSE(XIsAllDigits(XStr(L"")));
    EXPECT_FALSE(XIsAllDigits(XStr(L"12a")));

    // Four digit parts that are no address fail at once, without asking the resolver.
    XTCPSocketStd socket(2000);
    const auto start = Clock::now();
    EXPECT_FALSE(socket.Connect("999.1.1.1", 80));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_NE(socket.LastError.ToUTF8String().find("not an IPv4 address"), std::string::npos);
    EXPECT_EQ(socket.Socket, -1);
    EXPECT_FALSE(socket.Connect("127.0.0.1", 0));
}

TEST(XTCPSocketStd, ConnectsSendsAndSeesThePeerClose)
{
    TestListener listener;
    XTCPSocketStd socket(5000);
    CountingThrottle throttle;
    EXPECT_EQ(socket.SetThrottle(&throttle), XNetThrottle::Default());
    ASSERT_TRUE(socket.Connect("127.0.0.1", listener.port())) << socket.LastError.ToUTF8String();
    EXPECT_GE(socket.SendChunk, 8192);
    const int peer = listener.Accept();
    ASSERT_GE(peer, 0);
    EXPECT_TRUE(socket.IsWritable());
    EXPECT_FALSE(socket.IsReadable());

    EXPECT_TRUE(socket.Send("", 0));
    ASSERT_TRUE(socket.Send("ping", 4));
    EXPECT_EQ(ReadUntil(peer, "ping"), "ping");
    ASSERT_TRUE(SendAllTo(peer, "pong"));
    char buffer[16] = {};
    EXPECT_EQ(socket.Receive(buffer, sizeof buffer, nullptr), 4);
    EXPECT_EQ(std::string(buffer, 4), "pong");
    EXPECT_EQ(throttle.sent, 4);
    EXPECT_EQ(throttle.received, 4);

    close(peer);
    EXPECT_EQ(socket.Receive(buffer, sizeof buffer, nullptr), 0);
    // Writing into a connection the peer has gone from fails; it never kills the process.
    bool failed = false;
    for (int i = 0; i < 50 && !failed; i++) {
        failed = !socket.Send("more", 4);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(failed);
    EXPECT_EQ(socket.SetThrottle(nullptr), &throttle);
}

TEST(XTCPSocketStd, RefusedConnectionsFailAndLeaveNoSocket)
{
    int port;
    {
        TestListener gone;
        port = gone.port();
    }
    XTCPSocketStd socket(2000);
    EXPECT_FALSE(socket.Connect("127.0.0.1", port));
    EXPECT_EQ(errno, ECONNREFUSED);
    EXPECT_EQ(socket.Socket, -1);
    EXPECT_NE(socket.LastError.ToUTF8String().find("127.0.0.1:" + std::to_string(port)), std::string::npos);
}

TEST(XTCPSocketStd, WaitsEndWithTheTimeOutOrTheStopEvent)
{
    TestListener listener;
    XTCPSocketStd socket(300);
    ASSERT_TRUE(socket.Connect("127.0.0.1", listener.port()));
    const int peer = listener.Accept();
    ASSERT_GE(peer, 0);

    char buffer[8];
    auto start = Clock::now();
    EXPECT_EQ(socket.Receive(buffer, sizeof buffer, nullptr), -1);
    EXPECT_EQ(errno, ETIMEDOUT);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(250));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(60)); // its own limit ended it, not a hang guard

    // A full send buffer with a peer that never reads: the send gives up in time too.
    socket.SetSendBufferSize(8192);
    const std::string block(1 << 20, 'x');
    bool sent = true;
    start = Clock::now();
    for (int i = 0; i < 64 && sent; i++)
        sent = socket.Send(block.data(), static_cast<int>(block.size()));
    EXPECT_FALSE(sent);
    EXPECT_EQ(errno, ETIMEDOUT);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(60));

    socket.TimeoutMS = 0; // no limit of its own: only the stop event ends the wait
    XEvent stop;
    std::thread setter([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        stop.Set();
    });
    start = Clock::now();
    EXPECT_EQ(socket.Receive(buffer, sizeof buffer, &stop), -1);
    EXPECT_EQ(errno, ECONNABORTED);
    setter.join();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(60));
    close(peer);
}

TEST(XTCPSocketStd, EffectiveTimeoutCapsLongerRequests)
{
    XTCPSocketStd limited(20000);
    EXPECT_EQ(limited.EffectiveTimeout(static_cast<unsigned>(-1)), 20000u);
    EXPECT_EQ(limited.EffectiveTimeout(500), 500u);
    XTCPSocketStd unlimited(0);
    EXPECT_EQ(unlimited.EffectiveTimeout(static_cast<unsigned>(-1)), static_cast<unsigned>(-1));
    EXPECT_EQ(unlimited.EffectiveTimeout(0), 0u);
}

TEST(XTCPSocketStd, ThrottleRefusalAndEarlyRepliesAbort)
{
    TestListener listener;
    XTCPSocketStd socket(5000);
    ASSERT_TRUE(socket.Connect("127.0.0.1", listener.port()));
    const int peer = listener.Accept();
    ASSERT_GE(peer, 0);
    CountingThrottle throttle;
    throttle.refuse = true;
    socket.SetThrottle(&throttle);
    char buffer[8];
    EXPECT_FALSE(socket.Send("x", 1));
    EXPECT_EQ(errno, ECONNABORTED);
    EXPECT_EQ(socket.Receive(buffer, sizeof buffer, nullptr), -1);
    EXPECT_EQ(errno, ECONNABORTED);
    socket.SetThrottle(nullptr);

    // The peer answers before the body is through: the send stops instead of pushing on.
    ASSERT_TRUE(SendAllTo(peer, "HTTP/1.0 413 Too Large\r\n\r\n"));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    socket.WatchForReply = true;
    const std::string body(4 << 20, 'b');
    EXPECT_FALSE(socket.Send(body.data(), static_cast<int>(body.size())));
    EXPECT_EQ(errno, ECONNABORTED);
    close(peer);
}

TEST(XTCPSocketStd, AttachTakesOverAnAcceptedConnection)
{
    TestListener listener;
    XTCPSocketStd client(5000);
    ASSERT_TRUE(client.Connect("127.0.0.1", listener.port()));
    const int accepted = listener.Accept();
    ASSERT_GE(accepted, 0);
    XTCPSocketStd server(5000);
    ASSERT_TRUE(server.Attach(accepted, "peer"));
    EXPECT_EQ(server.Port, 0);
    EXPECT_EQ(server.Host, L"peer");
    ASSERT_TRUE(client.Send("hi", 2));
    char buffer[4] = {};
    EXPECT_EQ(server.Receive(buffer, sizeof buffer, nullptr), 2);
    server.Close();
    EXPECT_EQ(server.Socket, -1);
    EXPECT_EQ(client.Receive(buffer, sizeof buffer, nullptr), 0);
}

} // namespace
