#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "common/MediaTestFiles.h"
#include "common/TestEnv.h"
#include "engine/QKDebugLog.h"
#include "xclass/XEnvironment.h"

namespace {

// Points the documents folder into a fresh temporary folder for one test.
class DebugLog : public ::testing::Test {
protected:
    TestTempDir dir;
    std::optional<TestEnvScope> config;

    void SetUp() override
    {
        WriteTextFile(dir.file("user-dirs.dirs"), "XDG_DOCUMENTS_DIR=\"" + dir.path() + "\"\n");
        config.emplace("XDG_CONFIG_HOME", dir.path());
    }
    void TearDown() override
    {
        setDebugEnv(false);
        config.reset();
    }
};

TEST_F(DebugLog, NamesCountUpFromTheProcessId)
{
    const std::string first = makeDebugLogName().ToUTF8String();
    const std::string second = makeDebugLogName().ToUTF8String();
    const std::string pid = std::to_string(getpid());
    const std::regex pattern(std::regex_replace(dir.path(), std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") +
                             "/QKDebug-" + pid + R"((\+([0-9]+))?\.txt)");
    std::smatch a, b;
    ASSERT_TRUE(std::regex_match(first, a, pattern)) << first;
    ASSERT_TRUE(std::regex_match(second, b, pattern)) << second;
    // The first name of the process has no number; every later one the next number.
    const int n = a[2].matched ? std::stoi(a[2]) : 0;
    ASSERT_TRUE(b[2].matched);
    EXPECT_EQ(std::stoi(b[2]), n + 1);
}

TEST_F(DebugLog, OffMeansNoFileAndOnWritesLines)
{
    setDebugEnv(false);
    XFile closed;
    EXPECT_FALSE(openDebugLog(closed));
    EXPECT_FALSE(closed.IsOpen());
    appendDebugLogLine(closed, XStr(L"nowhere")); // harmless
    EXPECT_FALSE(PathExists(makeDebugLogName().ToUTF8String()));

    setDebugEnv(true);
    EXPECT_TRUE(isDebugEnv());
    std::string name;
    {
        XFile log;
        ASSERT_TRUE(openDebugLog(log));
        name = log.Name.ToUTF8String();
        appendDebugLogLine(log, XStr::FromUTF8("frame=  10 fps=25 \xC3\xA9"));
        appendDebugLogLine(log, XStr(L""));
    }
    std::ifstream in(name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "frame=  10 fps=25 \xC3\xA9\n\n");
}

TEST_F(DebugLog, SwitchingWhileConversionsRunLeavesTheEnvironmentAlone)
{
    bool wasSet = false;
    const std::string before = XGetEnv("MARVONI_DEBUG", &wasSet);
    // Readers of the environment (as any library may be) and conversions that look at the
    // switch, while another thread flips it: the environment itself never changes.
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([&] {
            while (!stop.load()) {
                (void)getenv("PATH");
                (void)getenv("MARVONI_DEBUG");
                (void)isDebugEnv();
            }
        });
    for (int i = 0; i < 20000; ++i)
        setDebugEnv(i % 2 == 0);
    stop = true;
    for (std::thread& thread : threads)
        thread.join();
    bool isSet = false;
    const std::string after = XGetEnv("MARVONI_DEBUG", &isSet);
    EXPECT_EQ(isSet, wasSet);
    EXPECT_EQ(after, before);
}

} // namespace
