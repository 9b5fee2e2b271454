// The HTTP client against real servers on 127.0.0.1: the scripted server of
// common/http_test_server.py shows each way a server answers or misbehaves, and doubles as
// the proxy.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "common/NetTestServers.h"
#include "xclass/XEvent.h"
#include "xclass/XHTTPClient.h"

namespace {

std::string BodyText(const XBuffer& body)
{
    return std::string(reinterpret_cast<const char*>(body.Data), body.Used);
}

class HTTPClientTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_server = new TestServerProcess;
        ASSERT_TRUE(StartScriptServer(*s_server)) << s_server->output();
    }
    static void TearDownTestSuite()
    {
        delete s_server;
        s_server = nullptr;
    }

    static std::string Url(const std::string& path)
    {
        return "http://127.0.0.1:" + std::to_string(s_server->port()) + path;
    }

    // GET through a client with the given time-out; the body on success.
    struct Result {
        bool ok = false;
        std::string body;
        std::string error;
        int code = 0;
    };
    static Result Fetch(const std::string& path, int timeoutMs = 300000, int bodyLimit = -1)
    {
        XHTTPClient client;
        client.TimeoutMs = timeoutMs;
        client.BodyLimit = bodyLimit;
        XBuffer body;
        Result result;
        result.ok = client.Get(XStr::FromUTF8(Url(path)), body);
        result.body = BodyText(body);
        result.error = client.LastError.ToUTF8String();
        result.code = client.LastStatus.Code;
        body.Free();
        return result;
    }

    static int Hits(const std::string& path)
    {
        const Result result = Fetch("/hits" + path);
        return result.ok ? std::stoi(result.body) : -1;
    }

    static TestServerProcess* s_server;
};

TestServerProcess* HTTPClientTest::s_server = nullptr;

TEST_F(HTTPClientTest, FixedLengthAndReadToCloseBodiesArriveWhole)
{
    const Result fixed = Fetch("/pattern?n=300000");
    ASSERT_TRUE(fixed.ok) << fixed.error;
    EXPECT_EQ(fixed.body, NetTestPattern(300000));

    // Without a length the body runs to the close, whatever version the status line names:
    // an HTTP/1.1 answer without length is not an empty body.
    const Result old = Fetch("/until-close-10");
    ASSERT_TRUE(old.ok) << old.error;
    EXPECT_EQ(old.body, NetTestPattern(70000));
    const Result newer = Fetch("/until-close-11");
    ASSERT_TRUE(newer.ok) << newer.error;
    EXPECT_EQ(newer.body, NetTestPattern(5000));
}

TEST_F(HTTPClientTest, ChunkedBodiesAreJoinedAndCutOnesFail)
{
    const Result plain = Fetch("/chunked"); // an extension after the first size
    ASSERT_TRUE(plain.ok) << plain.error;
    EXPECT_EQ(plain.body, "hello world");
    const Result trailer = Fetch("/chunked-trailer");
    ASSERT_TRUE(trailer.ok) << trailer.error;
    EXPECT_EQ(trailer.body, "abc");

    const Result cut = Fetch("/chunked-cut");
    EXPECT_FALSE(cut.ok);
    EXPECT_NE(cut.error.find("cut off"), std::string::npos) << cut.error;
    EXPECT_TRUE(cut.body.empty());
    const Result noEnd = Fetch("/chunked-no-crlf");
    EXPECT_FALSE(noEnd.ok);
    EXPECT_NE(noEnd.error.find("CR LF"), std::string::npos) << noEnd.error;
    const Result huge = Fetch("/chunked-huge");
    EXPECT_FALSE(huge.ok);
    EXPECT_NE(huge.error.find("16 MiB"), std::string::npos) << huge.error;
    for (const char* path : {"/chunked-long-line", "/chunked-endless-line"}) {
        const Result line = Fetch(path);
        EXPECT_FALSE(line.ok) << path;
        EXPECT_NE(line.error.find("longer than 256 bytes"), std::string::npos) << path << ": " << line.error;
    }
}

TEST_F(HTTPClientTest, ShortBodiesBadLengthsAndOversizedHeadsFail)
{
    const Result cut = Fetch("/cut");
    EXPECT_FALSE(cut.ok);
    EXPECT_NE(cut.error.find("after 500 bytes of 1000 bytes"), std::string::npos) << cut.error;
    EXPECT_TRUE(cut.body.empty());

    for (const char* path : {"/bad-length", "/huge-length", "/two-lengths"}) {
        const Result bad = Fetch(path);
        EXPECT_FALSE(bad.ok) << path;
        EXPECT_NE(bad.error.find("invalid Content-Length"), std::string::npos) << path << ": " << bad.error;
    }
    const Result encoded = Fetch("/gzip-encoding");
    EXPECT_FALSE(encoded.ok);
    EXPECT_NE(encoded.error.find("transfer encoding"), std::string::npos) << encoded.error;

    for (const char* path : {"/big-head", "/endless-head"}) {
        const Result head = Fetch(path);
        EXPECT_FALSE(head.ok) << path;
        EXPECT_NE(head.error.find("larger than 64 KiB"), std::string::npos) << path << ": " << head.error;
    }
    const Result notHTTP = Fetch("/not-http");
    EXPECT_FALSE(notHTTP.ok);
    EXPECT_NE(notHTTP.error.find("not an HTTP response"), std::string::npos) << notHTTP.error;
}

TEST_F(HTTPClientTest, BodyLimitRefusesLargerBodiesInsteadOfCuttingThem)
{
    EXPECT_TRUE(Fetch("/pattern?n=5000", 300000, 5000).ok);
    const Result tooLarge = Fetch("/pattern?n=5000", 300000, 4000);
    EXPECT_FALSE(tooLarge.ok);
    EXPECT_NE(tooLarge.error.find("larger than the limit"), std::string::npos) << tooLarge.error;
    EXPECT_TRUE(tooLarge.body.empty());
    EXPECT_FALSE(Fetch("/until-close-10", 300000, 69999).ok);
    EXPECT_FALSE(Fetch("/chunked", 300000, 10).ok);
    EXPECT_TRUE(Fetch("/chunked", 300000, 11).ok);
}

TEST_F(HTTPClientTest, SilentAndSlowServersRunIntoTheTimeout)
{
    for (const char* path : {"/silent", "/slow"}) {
        const auto start = std::chrono::steady_clock::now();
        const Result result = Fetch(path, 400);
        const auto spent = std::chrono::steady_clock::now() - start;
        EXPECT_FALSE(result.ok) << path;
        EXPECT_NE(result.error.find("within 400 ms"), std::string::npos) << path << ": " << result.error;
        EXPECT_LT(spent, std::chrono::seconds(60)) << path; // its own limit ended it
    }
}

TEST_F(HTTPClientTest, StopEventEndsTheCallEarly)
{
    XEvent stop;
    XHTTPClient client;
    client.StopEvent = &stop;
    XBuffer body;
    std::thread setter([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        stop.Set();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(client.Get(XStr::FromUTF8(Url("/silent")), body));
    const int error = errno;
    setter.join();
    EXPECT_EQ(error, ECONNABORTED);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
    // A stop event that is set already starts nothing.
    const int before = Hits("/pattern");
    EXPECT_FALSE(client.Get(XStr::FromUTF8(Url("/pattern")), body));
    EXPECT_EQ(Hits("/pattern"), before);
    body.Free();
}

TEST_F(HTTPClientTest, RedirectsAreFollowedABoundedNumberOfTimes)
{
    const Result absolute = Fetch("/redirect?to=" + Url("/pattern%3Fn%3D10"));
    ASSERT_TRUE(absolute.ok) << absolute.error;
    EXPECT_EQ(absolute.body, NetTestPattern(10));
    const Result relative = Fetch("/redirect?code=307&to=pattern%3Fn%3D20");
    ASSERT_TRUE(relative.ok) << relative.error;
    EXPECT_EQ(relative.body, NetTestPattern(20));

    // Three requests at most: the first and two redirects.
    const Result loop = Fetch("/loop");
    EXPECT_FALSE(loop.ok);
    EXPECT_NE(loop.error.find("too many redirects"), std::string::npos) << loop.error;
    EXPECT_EQ(Hits("/loop"), 3);

    const Result nowhere = Fetch("/redirect");
    EXPECT_FALSE(nowhere.ok);
    EXPECT_EQ(nowhere.code, 302);
    const Result missing = Fetch("/no-such-thing");
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.code, 404);
    EXPECT_TRUE(missing.body.empty());
}

TEST_F(HTTPClientTest, RequestHeadsCarryTheHostPortAndOneUserAgent)
{
    XHTTPClient client;
    client.UserAgent = L"Marvoni Test";
    XBuffer body;
    ASSERT_TRUE(client.Get(XStr::FromUTF8(Url("/echo")), body)) << client.LastError.ToUTF8String();
    std::string head = BodyText(body);
    EXPECT_EQ(head.find("GET /echo HTTP/1.0\r\n"), 0u) << head;
    EXPECT_NE(head.find("Host: 127.0.0.1:" + std::to_string(s_server->port()) + "\r\n"), std::string::npos) << head;
    EXPECT_NE(head.find("User-Agent: Marvoni Test\r\n"), std::string::npos) << head;
    EXPECT_EQ(head.find("Content-Length"), std::string::npos) << head;
    EXPECT_EQ(head.find("Connection"), std::string::npos) << head;

    client.ExtraHeaders.Add(L"user-agent: Mine");
    ASSERT_TRUE(client.Get(XStr::FromUTF8(Url("/echo")), body));
    head = BodyText(body);
    EXPECT_NE(head.find("user-agent: Mine"), std::string::npos) << head;
    EXPECT_EQ(head.find("Marvoni Test"), std::string::npos) << head;
    body.Free();
}

TEST_F(HTTPClientTest, PostSendsItsBodyWithALengthEvenWhenEmpty)
{
    XHTTPClient client;
    XBuffer body;
    ASSERT_TRUE(client.Post(XStr::FromUTF8(Url("/echo")), "hello", 5, &body)) << client.LastError.ToUTF8String();
    std::string echo = BodyText(body);
    EXPECT_EQ(echo.find("POST /echo HTTP/1.0\r\nContent-Length: 5\r\n"), 0u) << echo;
    EXPECT_EQ(echo.substr(echo.size() - 5), "hello");

    ASSERT_TRUE(client.Post(XStr::FromUTF8(Url("/echo")), nullptr, 0, &body));
    EXPECT_NE(BodyText(body).find("Content-Length: 0\r\n"), std::string::npos);
    // Without a buffer for the answer the status alone counts.
    EXPECT_TRUE(client.Post(XStr::FromUTF8(Url("/echo")), "x", 1, nullptr));
    EXPECT_FALSE(client.Post(XStr::FromUTF8(Url("/status?code=500")), "x", 1, nullptr));
    body.Free();
}

TEST_F(HTTPClientTest, ContentTypeIsReadWithoutTheBody)
{
    XHTTPClient client;
    EXPECT_EQ(client.ContentType(XStr::FromUTF8(Url("/pattern?n=100000"))).ToUTF8String(), "application/x-test");
    EXPECT_TRUE(client.ContentType(XStr::FromUTF8(Url("/no-such-thing"))).IsEmpty());
}

TEST_F(HTTPClientTest, KeptConnectionsCarrySeveralExchanges)
{
    XHTTPRequest request(nullptr, 20000);
    request.SetHTTP11();
    request.KeepAlive = true;
    ASSERT_TRUE(request.SetURL(XStr::FromUTF8(Url("/keep-alive"))));
    ASSERT_TRUE(request.Execute(nullptr)) << request.LastError.ToUTF8String();
    const std::string first = BodyText(request.ResponseBody);
    ASSERT_TRUE(request.IsConnected());
    ASSERT_TRUE(request.Execute(nullptr)) << request.LastError.ToUTF8String();
    EXPECT_EQ(BodyText(request.ResponseBody), first);

    XHTTPRequest once(nullptr, 20000);
    once.SetHTTP11();
    ASSERT_TRUE(once.SetURL(XStr::FromUTF8(Url("/keep-alive"))));
    ASSERT_TRUE(once.Execute(nullptr));
    EXPECT_FALSE(once.IsConnected());
    EXPECT_NE(BodyText(once.ResponseBody), first);
}

TEST_F(HTTPClientTest, StreamedBodiesEndCleanlyOrFail)
{
    XHTTPRequest chunked(nullptr, 20000);
    ASSERT_TRUE(chunked.SetURL(XStr::FromUTF8(Url("/chunked"))));
    ASSERT_TRUE(chunked.BeginStream(nullptr)) << chunked.LastError.ToUTF8String();
    std::string got;
    char piece[3];
    int64_t n;
    while ((n = chunked.ReadStream(piece, sizeof piece, nullptr)) > 0)
        got.append(piece, static_cast<size_t>(n));
    EXPECT_EQ(n, 0);
    EXPECT_EQ(got, "hello world");

    XHTTPRequest cut(nullptr, 20000);
    ASSERT_TRUE(cut.SetURL(XStr::FromUTF8(Url("/cut"))));
    ASSERT_TRUE(cut.BeginStream(nullptr));
    char buffer[4096];
    int64_t total = 0;
    while ((n = cut.ReadStream(buffer, sizeof buffer, nullptr)) > 0)
        total += n;
    EXPECT_EQ(n, -1);
    EXPECT_EQ(total, 500);
}

TEST_F(HTTPClientTest, GetStreamHandsTheBodyOverInPiecesAndOnlyWhole)
{
    XHTTPClient client;
    std::string got;
    size_t pieces = 0;
    const XHTTPClient::BodySink keep = [&](const uint8_t* data, size_t size) {
        got.append(reinterpret_cast<const char*>(data), size);
        pieces++;
        return true;
    };
    ASSERT_TRUE(client.GetStream(XStr::FromUTF8(Url("/redirect?to=pattern%3Fn%3D300000")), keep))
        << client.LastError.ToUTF8String();
    EXPECT_EQ(got, NetTestPattern(300000));
    EXPECT_GT(pieces, 1u);

    got.clear();
    EXPECT_FALSE(client.GetStream(XStr::FromUTF8(Url("/cut")), keep));
    EXPECT_NE(client.LastError.ToUTF8String().find("cut off"), std::string::npos) << client.LastError.ToUTF8String();
    EXPECT_FALSE(client.GetStream(XStr::FromUTF8(Url("/chunked-cut")), keep));
    EXPECT_FALSE(client.GetStream(XStr::FromUTF8(Url("/no-such-thing")), keep));
    EXPECT_EQ(client.LastStatus.Code, 404);

    EXPECT_FALSE(
        client.GetStream(XStr::FromUTF8(Url("/pattern?n=1000")), [](const uint8_t*, size_t) { return false; }));
    client.BodyLimit = 999;
    EXPECT_FALSE(client.GetStream(XStr::FromUTF8(Url("/pattern?n=1000")), keep));
}

// ---- Chunk sizes, interim answers ---------------------------------------------------------

TEST_F(HTTPClientTest, ChunkSizesArePlainHexadecimalWithExtensionsOnly)
{
    // Blanks may stand before an extension (or alone after the digits); nothing else may.
    for (const char* line : {"5", "05", "5;name=value", "5%20;x", "5%09;%20a=%22b%20c%22", "5%20", "0000000000005"}) {
        const Result result = Fetch(std::string("/chunked-size?line=") + line);
        EXPECT_TRUE(result.ok) << line << ": " << result.error;
        EXPECT_EQ(result.body, "hello") << line;
    }
    // "0x5" once read as the last chunk: an empty body and success.
    for (const char* line : {"0x5", "0X5", "%2B5", "-5", "%205", "5x", "5%206", "x5", "5,6", "0%205", "", "%3B5"}) {
        const Result result = Fetch(std::string("/chunked-size?line=") + line);
        EXPECT_FALSE(result.ok) << line;
        EXPECT_TRUE(result.body.empty()) << line;
        EXPECT_NE(result.error.find("invalid size line"), std::string::npos) << line << ": " << result.error;
    }
    XHTTPClient client;
    EXPECT_FALSE(
        client.GetStream(XStr::FromUTF8(Url("/chunked-size?line=0x5")), [](const uint8_t*, size_t) { return true; }));
    EXPECT_NE(client.LastError.ToUTF8String().find("invalid size line"), std::string::npos)
        << client.LastError.ToUTF8String();

    // A body of the last chunk alone is empty and whole; a head with no chunk at all is cut.
    const Result empty = Fetch("/chunked-empty");
    EXPECT_TRUE(empty.ok) << empty.error;
    EXPECT_TRUE(empty.body.empty());
    const Result none = Fetch("/chunked-none");
    EXPECT_FALSE(none.ok);
    EXPECT_NE(none.error.find("closed"), std::string::npos) << none.error;
}

TEST_F(HTTPClientTest, InterimAnswersBeforeTheRealOneAreSkipped)
{
    for (const char* path : {"/continue", "/continue-chunked"}) {
        const Result result = Fetch(path);
        ASSERT_TRUE(result.ok) << path << ": " << result.error;
        EXPECT_EQ(result.code, 200) << path;
        EXPECT_EQ(result.body, "hello") << path;
    }
    XHTTPClient client;
    std::string streamed;
    EXPECT_TRUE(client.GetStream(XStr::FromUTF8(Url("/continue")), [&](const uint8_t* data, size_t size) {
        streamed.append(reinterpret_cast<const char*>(data), size);
        return true;
    })) << client.LastError.ToUTF8String();
    EXPECT_EQ(streamed, "hello");

    const Result endless = Fetch("/continue-for-ever");
    EXPECT_FALSE(endless.ok);
    EXPECT_NE(endless.error.find("interim answers"), std::string::npos) << endless.error;
}

// ---- Slow servers ----------------------------------------------------------------------
//
// The servers send a byte every 100 or 200 ms: each single wait is short, and the whole body
// would take hours. The limits below are a second or two; the bound asserted is far above
// them, so that a loaded machine cannot fail the test, and far below the server's own pace.

TEST_F(HTTPClientTest, AWholeCallDeadlineCutsOffADrippingServer)
{
    const auto keep = [](const uint8_t*, size_t) { return true; };
    for (const char* path : {"/drip/0.2/file", "/drip-head/0.2/file", "/redirect?to=/drip/0.2/file"}) {
        for (const bool streamed : {false, true}) {
            XHTTPClient client;
            client.DeadlineMs = 1500;
            XBuffer body;
            const auto start = std::chrono::steady_clock::now();
            const bool ok = streamed ? client.GetStream(XStr::FromUTF8(Url(path)), keep)
                                     : client.Get(XStr::FromUTF8(Url(path)), body);
            const int error = errno;
            const auto spent = std::chrono::steady_clock::now() - start;
            body.Free();
            EXPECT_FALSE(ok) << path;
            EXPECT_EQ(error, ETIMEDOUT) << path;
            EXPECT_NE(client.LastError.ToUTF8String().find("took longer than 1500 ms"), std::string::npos)
                << path << ": " << client.LastError.ToUTF8String();
            EXPECT_LT(spent, std::chrono::seconds(60)) << path;
        }
    }
}

TEST_F(HTTPClientTest, TooLittleProgressFailsATransferThatHasNoDeadline)
{
    const auto keep = [](const uint8_t*, size_t) { return true; };
    for (const char* path : {"/drip/0.1/file", "/stall/5000/file"}) {
        XHTTPClient client;
        client.DeadlineMs = 0;
        client.StallWindowMs = 1000;
        client.StallMinBytes = 16384;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(client.GetStream(XStr::FromUTF8(Url(path)), keep)) << path;
        EXPECT_NE(client.LastError.ToUTF8String().find("made no progress: fewer than 16384 bytes in 1 s"),
                  std::string::npos)
            << path << ": " << client.LastError.ToUTF8String();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60)) << path;
    }
    // Slow but steady is progress: here the deadline ends it, not the rule.
    XHTTPClient steady;
    steady.DeadlineMs = 5000;
    steady.StallWindowMs = 3000;
    steady.StallMinBytes = 1;
    EXPECT_FALSE(steady.GetStream(XStr::FromUTF8(Url("/drip/0.1/file")), keep));
    EXPECT_NE(steady.LastError.ToUTF8String().find("took longer than 5 s"), std::string::npos)
        << steady.LastError.ToUTF8String();

    // A body that keeps coming is not cut. (The window is wide here: the server makes the
    // body before it sends a byte, and a busy machine may take its time over that.)
    XHTTPClient client;
    client.StallWindowMs = 20000;
    client.StallMinBytes = 16384;
    XBuffer body;
    EXPECT_TRUE(client.Get(XStr::FromUTF8(Url("/pattern?n=300000")), body)) << client.LastError.ToUTF8String();
    EXPECT_EQ(body.Used, 300000u);
    body.Free();
}

// ---- Through the proxy -------------------------------------------------------------------

class HTTPProxyTest : public HTTPClientTest {
protected:
    void SetUp() override { ASSERT_TRUE(StartScriptServer(m_proxy, "user:secret")) << m_proxy.output(); }

    XHTTPClient ProxiedClient(const wchar_t* user, const wchar_t* password)
    {
        XHTTPClient client;
        client.Proxy.UseProxy = 1;
        client.Proxy.Server = L"127.0.0.1";
        client.Proxy.Port = m_proxy.port();
        client.Proxy.User = user;
        client.Proxy.Password = password;
        return client;
    }

    std::string ProxyLog()
    {
        XHTTPClient client;
        XBuffer body;
        EXPECT_TRUE(
            client.Get(XStr::FromUTF8("http://127.0.0.1:" + std::to_string(m_proxy.port()) + "/proxy-log"), body));
        const std::string log = BodyText(body);
        body.Free();
        return log;
    }

    TestServerProcess m_proxy;
};

TEST_F(HTTPProxyTest, PlainRequestsGoToTheProxyWithItsCredentialsOnly)
{
    XHTTPClient client = ProxiedClient(L"user", L"secret");
    XBuffer body;
    ASSERT_TRUE(client.Get(XStr::FromUTF8(Url("/echo")), body)) << client.LastError.ToUTF8String();
    const std::string target = BodyText(body);
    EXPECT_EQ(target.find("GET /echo HTTP/1.0\r\n"), 0u) << target;
    EXPECT_EQ(target.find("Proxy-Authorization"), std::string::npos) << target;
    const std::string log = ProxyLog();
    EXPECT_NE(log.find("GET " + Url("/echo") + " HTTP/1.0\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Proxy-Authorization: Basic dXNlcjpzZWNyZXQ=\r\n"), std::string::npos) << log;

    XHTTPClient wrong = ProxiedClient(L"user", L"guess");
    EXPECT_FALSE(wrong.Get(XStr::FromUTF8(Url("/echo")), body));
    EXPECT_EQ(wrong.LastStatus.Code, 407);
    body.Free();
}

TEST_F(HTTPProxyTest, ASwitchedOnProxyWithoutServerFailsClearly)
{
    XHTTPClient client;
    client.Proxy.UseProxy = 1;
    XBuffer body;
    EXPECT_FALSE(client.Get(XStr::FromUTF8(Url("/pattern")), body));
    EXPECT_NE(client.LastError.ToUTF8String().find("proxy"), std::string::npos) << client.LastError.ToUTF8String();
}

} // namespace
