// The server socket with real clients on 127.0.0.1: the worker pool and its queue, the limit
// per client, the idle limit, and ports that are taken.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/NetTestServers.h"
#include "xclass/XEvent.h"
#include "xclass/XTCPServerSocket.h"
#include "xclass/XTCPSocketStd.h"

namespace {

using Clock = std::chrono::steady_clock;

// Each handler says hello with its connection's number, then waits for the release event
// (or for its connection to end) before it closes.
class TestServer : public XTCPServerSocket {
public:
    XEvent Release;
    std::atomic<int> Served{0};
    std::atomic<int> Running{0};
    std::atomic<int> TooMany{0};
    std::atomic<int> Idle{0};
    std::atomic<int> EndedUnderHandler{0};
    bool Exempt = false;

    ~TestServer() override { Stop(); }

    void HandleConnection(int socket, const sockaddr_in&, XEvent* stop) override
    {
        const int number = ++Served;
        Running++;
        if (Exempt)
            SetConnectionDeadline(socket, 0, true);
        XTCPSocketStd connection(0);
        connection.Attach(socket, "client");
        const std::string hello = "hello " + std::to_string(number) + "\n";
        connection.Send(hello.data(), static_cast<int>(hello.size()));
        // Ends when released, stopped, or when the connection goes away under us.
        pollfd fds[3] = {{Release.fd[0], POLLIN, 0}, {stop->fd[0], POLLIN, 0}, {socket, POLLIN, 0}};
        for (;;) {
            poll(fds, 3, -1);
            if (fds[2].revents) {
                char byte;
                if (recv(socket, &byte, 1, MSG_DONTWAIT) <= 0) {
                    EndedUnderHandler++;
                    break;
                }
            }
            if (fds[0].revents || fds[1].revents)
                break;
        }
        Running--;
        connection.Close();
    }
    void OnTooManyConnections(int, const sockaddr_in&, int count, int limit) override
    {
        EXPECT_EQ(count, limit);
        TooMany++;
    }
    void OnIdleTimeout(int, const sockaddr_in&, XList*) override { Idle++; }
};

// A client connection and the first line the server sends on it (empty when none came).
struct Client {
    XTCPSocketStd socket{5000};
    std::string Hello(int timeoutMs = 300000)
    {
        std::string line;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (line.find('\n') == std::string::npos && Clock::now() < deadline) {
            bool readable = false;
            if (!socket.WaitReady(&readable, nullptr, nullptr, 50) || !readable)
                continue;
            char chunk[64];
            const int got = socket.Receive(chunk, sizeof chunk, nullptr);
            if (got <= 0)
                break;
            line.append(chunk, static_cast<size_t>(got));
        }
        return line;
    }
};

TEST(XTCPServerSocket, AThirdClientWaitsForAFreeWorker)
{
    TestServer server;
    ASSERT_TRUE(server.Start(0, 2, 0, 0, "127.0.0.1", false));
    const int port = server.LocalPort();
    ASSERT_GT(port, 0);
    Client a, b, c;
    ASSERT_TRUE(a.socket.Connect("127.0.0.1", port));
    EXPECT_EQ(a.Hello(), "hello 1\n");
    ASSERT_TRUE(b.socket.Connect("127.0.0.1", port));
    EXPECT_EQ(b.Hello(), "hello 2\n");
    ASSERT_TRUE(c.socket.Connect("127.0.0.1", port));
    EXPECT_EQ(c.Hello(300), "");
    EXPECT_EQ(server.Running, 2);

    // The first client leaves: its worker takes the waiting connection.
    a.socket.Close();
    EXPECT_EQ(c.Hello(), "hello 3\n");
    server.Release.Set();
    server.Stop();
    EXPECT_EQ(server.Running, 0);
}

TEST(XTCPServerSocket, TheSurplusOfOneClientIsTurnedAway)
{
    TestServer server;
    ASSERT_TRUE(server.Start(0, 4, 0, 1, "127.0.0.1", false));
    Client first, second;
    ASSERT_TRUE(first.socket.Connect("127.0.0.1", server.LocalPort()));
    EXPECT_EQ(first.Hello(), "hello 1\n");
    // The reset may come before the client sees its connection made: either way no hello.
    if (second.socket.Connect("127.0.0.1", server.LocalPort())) {
        EXPECT_EQ(second.Hello(), "");
    }
    const auto start = Clock::now();
    while (server.TooMany == 0 && Clock::now() - start < std::chrono::minutes(5))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(server.TooMany, 1);
    EXPECT_EQ(server.Served, 1);
    server.Release.Set();
}

TEST(XTCPServerSocket, IdleConnectionsAreEndedUnlessExempt)
{
    TestServer server;
    ASSERT_TRUE(server.Start(0, 2, 300, 0, "127.0.0.1", false));
    Client client;
    ASSERT_TRUE(client.socket.Connect("127.0.0.1", server.LocalPort()));
    EXPECT_EQ(client.Hello(), "hello 1\n");
    const auto start = Clock::now();
    while (server.Running > 0 && Clock::now() - start < std::chrono::minutes(5))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(server.Running, 0);
    EXPECT_EQ(server.Idle, 1);
    EXPECT_EQ(server.EndedUnderHandler, 1);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(60)); // ended by the idle limit, not by the guard
    char byte;
    EXPECT_LE(client.socket.Receive(&byte, 1, nullptr), 0);

    server.Exempt = true;
    Client exempt;
    ASSERT_TRUE(exempt.socket.Connect("127.0.0.1", server.LocalPort()));
    EXPECT_EQ(exempt.Hello(), "hello 2\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(900));
    EXPECT_EQ(server.Running, 1);
    EXPECT_EQ(server.Idle, 1);
    server.Release.Set();
}

TEST(XTCPServerSocket, ATakenPortFailsAndNoWorkersServeNothing)
{
    TestServer first;
    ASSERT_TRUE(first.Start(0, 0, 0, 0, "127.0.0.1", false));
    TestServer second;
    EXPECT_FALSE(second.Start(first.LocalPort(), 1, 0, 0, "127.0.0.1", false));
    EXPECT_EQ(second.LocalPort(), 0);
    EXPECT_FALSE(second.Start(0, 1, 0, 0, "not an address", false));

    // Without workers the server listens, but no connection is served; stopping it lets go
    // of the waiting ones.
    Client client;
    ASSERT_TRUE(client.socket.Connect("127.0.0.1", first.LocalPort()));
    EXPECT_EQ(client.Hello(300), "");
    EXPECT_EQ(first.Served, 0);
    first.Stop();
    char byte;
    EXPECT_LE(client.socket.Receive(&byte, 1, nullptr), 0);
    EXPECT_EQ(first.LocalPort(), 0);
}

TEST(XTCPServerSocket, AbortiveCloseResetsThePeer)
{
    TestListener listener;
    XTCPSocketStd client(5000);
    ASSERT_TRUE(client.Connect("127.0.0.1", listener.port()));
    const int accepted = listener.Accept();
    ASSERT_GE(accepted, 0);
    XAbortiveClose(accepted);
    char byte;
    EXPECT_EQ(client.Receive(&byte, 1, nullptr), -1);
    EXPECT_EQ(errno, ECONNRESET);
}

} // namespace
