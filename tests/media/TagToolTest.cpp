// media-tool tag-roundtrip: raw tag data from a file back to standard output.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "common/TestFiles.h"
#include "common/ToolRun.h"
#include "media/NTag.h"

namespace {

ToolRunResult RunMediaTool(const std::vector<std::string>& args)
{
    return RunTestTool(TestToolPath("media-tool"), args);
}

class TagToolTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(m_temp.path().empty()); }
    std::string Write(const std::string& name, const std::string& bytes)
    {
        const std::string path = m_temp.file(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    TestTempDir m_temp;
};

TEST_F(TagToolTest, WritesBackWhatItRead)
{
    NTag tag;
    tag.AddTag(L"title", L"A \"quoted\" title \U0001F600");
    tag.AddTagData(L"_albumart_1_Front", "\0\1\2\3", 4);
    XBuffer raw;
    ASSERT_TRUE(tag.ToRawData(raw));
    const std::string bytes(reinterpret_cast<char*>(raw.Data), raw.Used);
    raw.Free();

    const ToolRunResult run = RunMediaTool({"tag-roundtrip", Write("tag.bin", bytes)});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, bytes);
}

TEST_F(TagToolTest, DamagedOrMissingDataFailsWithAMessage)
{
    std::string damaged("\x02\0\0\0\x0E\0\0\0a\0\0\0", 12);
    const ToolRunResult cut = RunMediaTool({"tag-roundtrip", Write("cut.bin", damaged)});
    EXPECT_NE(cut.status, 0);
    EXPECT_NE(cut.err.find("damaged"), std::string::npos) << cut.err;
    EXPECT_TRUE(cut.out.empty());

    const ToolRunResult missing = RunMediaTool({"tag-roundtrip", m_temp.file("none.bin")});
    EXPECT_NE(missing.status, 0);
    EXPECT_FALSE(missing.err.empty());
}

} // namespace
