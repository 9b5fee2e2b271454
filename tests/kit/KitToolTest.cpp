// The shell checks of kit-tool: the texts per unit setting, and a hostile file name through
// `sh -c`.
#include "common/TestFiles.h"
#include "common/ToolRun.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

const std::string kTool = std::string(MARVONI_TEST_TOOLS_DIR) + "/kit-tool";

class KitToolTest : public ::testing::Test {
protected:
    // A store with the given settings under the units key.
    void WriteSettings(const std::string& members)
    {
        std::ofstream(m_store) << R"({"HKCU":{"Software":{"Brantok":{"MarvoniVideo":{"Ref":{)" << members << "}}}}}}";
    }
    std::string Tool(const std::string& command, const std::string& argument)
    {
        const ToolRunResult run =
            RunProcess({"/usr/bin/env", "XCLASS_XREGISTRY_LOCATION=" + m_store, kTool, command, argument});
        EXPECT_EQ(run.status, 0) << command << " " << argument;
        std::string out = run.out;
        if (!out.empty() && out.back() == '\n')
            out.pop_back();
        return out;
    }

    TestTempDir m_dir;
    std::string m_store = m_dir.file("XRegistry");
};

TEST_F(KitToolTest, TextsFollowTheUnitSettings)
{
    WriteSettings(R"("UnitsFileSize":3,"UnitsTime":1,"UnitsFreq":1)");
    EXPECT_EQ(Tool("size", "1234567"), "1,234,567 bytes");
    EXPECT_EQ(Tool("duration", "63000"), "1:03");
    EXPECT_EQ(Tool("rate", "44100"), "44,100 Hz  (CD)");
    EXPECT_EQ(Tool("rate", "0"), "[as source]");
    EXPECT_EQ(Tool("channels", "6"), "6  '5.1 surround'  (DVD)");
    EXPECT_EQ(Tool("bitrate", "320"), "320 kbps");

    WriteSettings(
        R"("UnitsFileSize":2,"UnitsTime":4,"UnitsFreq":0,"UnitsChannels":2,"UnitsBitRate":2,"kRANoCDDvdDatHelper":1)");
    EXPECT_EQ(Tool("size", "1536"), "2 KB");
    EXPECT_EQ(Tool("duration", "63000"), "1 minute 3 seconds");
    EXPECT_EQ(Tool("rate", "44100"), "44.1 kHz");
    EXPECT_EQ(Tool("channels", "2"), "Stereo");
    EXPECT_EQ(Tool("bitrate", "320"), "320,000 bps");

    const ToolRunResult bad = RunProcess({kTool, "size", "12x"});
    EXPECT_NE(bad.status, 0);
}

TEST_F(KitToolTest, EscapedNameRoundTripsThroughTheShell)
{
    WriteSettings(R"("UnitsFileSize":3,"UnitsTime":1,"UnitsFreq":1)");
    const std::string script = R"sh(K="$1"; t="$2"
n='a $(touch '"$t"'/pwned) `id` "q" \x y.mp4'; e=$($K escape "$n"); [ "$(sh -c "printf %s $e")" = "$n" ] && [ ! -e $t/pwned ])sh";
    const ToolRunResult run = RunProcess({"/bin/sh", "-c", script, "sh", kTool, m_dir.path()});
    EXPECT_EQ(run.status, 0);
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("pwned")));
}

} // namespace
