// app-tool download, run as a program as a user would: against servers on 127.0.0.1 that
// drip, stall or hand out archives whose ffmpeg is none, with a working copy installed first
// that must come out of every failure byte for byte as it was.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/NetTestServers.h"
#include "common/TestEnv.h"
#include "common/TestFiles.h"
#include "common/ToolRun.h"
#include "media/QKLocateFFmpeg.h"
#include "xclass/XEnvironment.h"

namespace {

const std::string kOldCopy = "#!/bin/sh\necho 'ffmpeg version old'\n";

class DownloadToolTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        XSetAppDataFolder(L"MarvoniVideo");
        WriteTestFile(m_old.file("ffmpeg"), kOldCopy, 0755);
        XStr error;
        ASSERT_TRUE(QKLocateFFmpeg::installFrom(m_old.wfile("ffmpeg"), false, &error)) << error.ToUTF8String();
        std::filesystem::create_directories(m_site.file("install"));
    }

    std::string Installed() const { return m_appData.path() + "/MarvoniVideo/ffmpeg"; }
    void ExpectOldCopyKept(const std::string& what)
    {
        EXPECT_EQ(ReadTestFile(Installed()), kOldCopy) << what;
        EXPECT_FALSE(std::filesystem::exists(Installed() + ".auto")) << what;
    }
    ToolRunResult Download(const std::string& base, const std::vector<std::string>& options = {})
    {
        TestEnvScope scope("MARVONI_WEB_BASE", base);
        std::vector<std::string> args{"download"};
        args.insert(args.end(), options.begin(), options.end());
        return RunTestTool(TestToolPath("app-tool"), args, std::string(), 300000);
    }
    // The download fails with a reason holding expected, and the old copy stays.
    void ExpectRefused(const std::string& base, const std::string& expected, const std::string& what)
    {
        const ToolRunResult run = Download(base);
        EXPECT_EQ(run.status, 1) << what;
        EXPECT_NE(run.err.find(expected), std::string::npos) << what << ": " << run.err;
        ExpectOldCopyKept(what);
    }
    // Packs the folder's entry into the archive the server hands out.
    void Serve(const std::string& folder, const std::string& member)
    {
        ASSERT_TRUE(
            RunProgramQuietly({"tar", "-C", folder, "-cjf", m_site.file("install/ffmpeg-mac.tar.bz2"), member}));
    }

    TestTempDir m_appData;
    TestEnvScope m_override{"_APPDATA_OVERRIDE", m_appData.path()};
    TestTempDir m_old;
    TestTempDir m_site;
    TestTempDir m_pack;
};

TEST_F(DownloadToolTest, DrippingAndStalledServersFailLongBeforeTheyWouldFinish)
{
    TestServerProcess server;
    ASSERT_TRUE(StartScriptServer(server)) << server.output();
    const std::string host = "http://127.0.0.1:" + std::to_string(server.port());
    struct Case {
        const char* prefix;
        std::vector<std::string> options;
        const char* expected;
    };
    // A byte every 200 ms (hours for the body), a head that never ends, a body that stops:
    // each against the least progress, and the first against the deadline alone as well.
    const std::vector<Case> cases = {
        {"/drip/0.2", {"--stall-ms", "1500"}, "made no progress"},
        {"/drip-head/0.2", {"--stall-ms", "1500"}, "made no progress"},
        {"/stall/5000", {"--stall-ms", "1500"}, "made no progress"},
        {"/drip/0.2", {"--stall-ms", "0", "--deadline-ms", "1500"}, "took longer than 1500 ms"},
    };
    for (const Case& c : cases) {
        const auto start = std::chrono::steady_clock::now();
        const ToolRunResult run = Download(host + c.prefix, c.options);
        EXPECT_EQ(run.status, 1) << c.prefix;
        EXPECT_NE(run.err.find(c.expected), std::string::npos) << c.prefix << ": " << run.err;
        EXPECT_NE(run.err.find("ffmpeg-mac.tar.bz2"), std::string::npos) << "both addresses tried: " << run.err;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(120)) << c.prefix;
        ExpectOldCopyKept(c.prefix);
    }
}

TEST_F(DownloadToolTest, ArchivesWithoutARealFFmpegOfTheirOwnAreRefused)
{
    TestServerProcess server;
    ASSERT_TRUE(StartPythonHttpServer(server, m_site.path())) << server.output();
    const std::string base = "http://127.0.0.1:" + std::to_string(server.port());

    std::filesystem::create_directories(m_pack.file("hello"));
    WriteTestFile(m_pack.file("hello/ffmpeg"), "#!/bin/sh\necho hello\n", 0755);
    Serve(m_pack.file("hello"), "ffmpeg");
    ExpectRefused(base, "no ffmpeg", "a script printing hello");

    std::filesystem::create_directories(m_pack.file("echo"));
    ASSERT_EQ(symlink("/bin/echo", m_pack.file("echo/ffmpeg").c_str()), 0);
    Serve(m_pack.file("echo"), "ffmpeg");
    ExpectRefused(base, "is a link (to \"/bin/echo\")", "a link to /bin/echo");

    std::filesystem::create_directories(m_pack.file("usr"));
    ASSERT_EQ(symlink("/usr/bin", m_pack.file("usr/bin").c_str()), 0);
    Serve(m_pack.file("usr"), "bin");
    ExpectRefused(base, "\"bin\" is a link (to \"/usr/bin\")", "bin -> /usr/bin");

    WriteTestFile(m_site.file("install/ffmpeg-mac.tar.bz2"), "");
    ExpectRefused(base, "empty file", "an empty archive");

    // What answers as ffmpeg from inside the archive replaces the copy, marked as downloaded.
    const std::string standIn = "#!/bin/sh\necho 'ffmpeg version 9.9-download'\n";
    std::filesystem::create_directories(m_pack.file("good/bin"));
    WriteTestFile(m_pack.file("good/bin/ffmpeg"), standIn, 0755);
    Serve(m_pack.file("good"), "bin");
    const ToolRunResult run = Download(base);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("installed=" + Installed()), std::string::npos) << run.out;
    EXPECT_EQ(ReadTestFile(Installed()), standIn);
    EXPECT_TRUE(std::filesystem::exists(Installed() + ".auto"));
}

} // namespace
