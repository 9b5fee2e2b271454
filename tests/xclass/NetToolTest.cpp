// xclass-tool's http-get and serve-once, run as programs against servers on 127.0.0.1.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <string>
#include <thread>

#include "common/NetTestServers.h"
#include "common/TestFiles.h"
#include "common/ToolRun.h"

namespace {

ToolRunResult Tool(const std::vector<std::string>& args)
{
    return RunTestTool(TestToolPath("xclass-tool"), args, std::string(), 300000);
}

class NetToolTest : public TempFolderTest {};

TEST_F(NetToolTest, HttpGetFetchesALargeFileWhole)
{
    WriteTestFile(Path("blob"), TestPattern(3000000, 17));
    TestServerProcess server;
    ASSERT_TRUE(StartPythonHttpServer(server, dir)) << server.output();
    const ToolRunResult run =
        Tool({"http-get", "http://127.0.0.1:" + std::to_string(server.port()) + "/blob", "--out", Path("got")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.find("HTTP/1.0 200 OK\n"), 0u) << run.out;
    EXPECT_NE(run.out.find("Content-Length: 3000000\n"), std::string::npos) << run.out;
    EXPECT_TRUE(ReadTestFile(Path("got")) == ReadTestFile(Path("blob")));

    const ToolRunResult missing =
        Tool({"http-get", "http://127.0.0.1:" + std::to_string(server.port()) + "/none", "--out", Path("none")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out.find("HTTP/1.0 404"), 0u) << missing.out;
    EXPECT_NE(missing.err.find("404"), std::string::npos) << missing.err;
    EXPECT_EQ(ReadTestFile(Path("none"), "absent"), "absent");
}

TEST_F(NetToolTest, HttpGetGivesUpOnADrippingServerAtItsDeadline)
{
    // One byte every 200 ms: 100000 bytes would take hours, and no single wait runs out.
    TestServerProcess server;
    ASSERT_TRUE(StartScriptServer(server)) << server.output();
    const auto start = std::chrono::steady_clock::now();
    const ToolRunResult run = Tool({"http-get", "http://127.0.0.1:" + std::to_string(server.port()) + "/drip/0.2/x",
                                    "--deadline-ms", "1500", "--out", Path("dripped")});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("took longer than 1500 ms"), std::string::npos) << run.err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(50));
    EXPECT_EQ(ReadTestFile(Path("dripped"), "absent"), "absent");
}

TEST_F(NetToolTest, ServeOnceAnswersOneRequestAndExits)
{
    WriteTestFile(Path("served"), TestPattern(100000, 3));
    TestServerProcess server;
    ASSERT_TRUE(
        server.Start({TestToolPath("xclass-tool"), "serve-once", "0", Path("served")}, "listening on 127.0.0.1:"))
        << server.output();
    const ToolRunResult run =
        Tool({"http-get", "http://127.0.0.1:" + std::to_string(server.port()) + "/any/name", "--out", Path("copy")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(ReadTestFile(Path("copy")) == ReadTestFile(Path("served")));
    std::string output;
    for (int i = 0; i < 30000 && output.find("served") == std::string::npos; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        output = server.output();
    }
    EXPECT_NE(output.find("served GET /any/name HTTP/1.0\n"), std::string::npos) << output;

    // Its port is taken while it runs; a second one says so.
    TestServerProcess first;
    ASSERT_TRUE(
        first.Start({TestToolPath("xclass-tool"), "serve-once", "0", Path("served")}, "listening on 127.0.0.1:"));
    const ToolRunResult taken = Tool({"serve-once", std::to_string(first.port()), Path("served")});
    EXPECT_EQ(taken.status, 1);
    EXPECT_NE(taken.err.find("cannot listen"), std::string::npos) << taken.err;
    EXPECT_EQ(Tool({"serve-once", "0", Path("no-such-file")}).status, 1);
}

TEST_F(NetToolTest, HttpGetVerifiesCertificatesAndTunnelsThroughAProxy)
{
    TestCertificates certs;
    ASSERT_TRUE(certs.Make(dir));
    ASSERT_EQ(mkdir(Path("www").c_str(), 0700), 0);
    WriteTestFile(Path("www/page.txt"), "secure content\n");
    TestServerProcess server;
    ASSERT_TRUE(StartTLSServer(server, certs.good, certs.goodKey, Path("www"))) << server.output();
    const std::string url = "https://127.0.0.1:" + std::to_string(server.port()) + "/page.txt";

    const ToolRunResult untrusted = Tool({"http-get", url, "--out", Path("page")});
    EXPECT_EQ(untrusted.status, 1);
    EXPECT_NE(untrusted.err.find("is not accepted"), std::string::npos) << untrusted.err;

    const ToolRunResult trusted = Tool({"http-get", url, "--ca", certs.ca, "--out", Path("page")});
    ASSERT_EQ(trusted.status, 0) << trusted.err;
    EXPECT_EQ(ReadTestFile(Path("page")), "secure content\n");

    TestServerProcess proxy;
    ASSERT_TRUE(StartScriptServer(proxy)) << proxy.output();
    const ToolRunResult tunnelled = Tool({"http-get", url, "--ca", certs.ca, "--proxy",
                                          "127.0.0.1:" + std::to_string(proxy.port()), "--out", Path("via-proxy")});
    ASSERT_EQ(tunnelled.status, 0) << tunnelled.err;
    EXPECT_EQ(ReadTestFile(Path("via-proxy")), "secure content\n");

    EXPECT_EQ(Tool({"http-get"}).status, 1);
    EXPECT_EQ(Tool({"http-get", url, "--proxy", "no-port"}).status, 1);
}

} // namespace
