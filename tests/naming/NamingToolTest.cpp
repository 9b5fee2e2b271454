// naming-tool end to end: templates from the command line, and destinations of real media
// files probed with ffprobe, hostile folder names and tags included.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "common/MediaTestFiles.h"
#include "naming/NamingTestSupport.h"

namespace {

TEST(NamingTool, Expand)
{
    TestStoreScope registry;
    EXPECT_EQ(RunNamingTool({"expand", "--template", "[UPPER][LOWER]AbC[][]"}).out, "ABC\n");
    EXPECT_EQ(RunNamingTool({"expand", "--template", "[SETLEN]3,48,0,7[]"}).out, "007\n");
    const NamingToolResult tagged =
        RunNamingTool({"expand", "--template", "[track] [Artist] - [BACKFOLDER]2[]", "--tag", "artist=AC/DC", "--tag",
                       "track=7/12", "--source", "/Users/me/Movies/a.mov"});
    EXPECT_EQ(tagged.status, 0);
    EXPECT_EQ(tagged.out, "07 AC-DC - Movies\n");
    EXPECT_NE(RunNamingTool({"expand", "--tag", "novalue"}).status, 0);
}

class NamingToolMedia : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (ProgramOnPath("ffmpeg").empty() || ProgramOnPath("ffprobe").empty())
            GTEST_SKIP() << "ffmpeg and ffprobe are needed";
    }
    TestStoreScope registry;
    TestTempDir dir;
};

TEST_F(NamingToolMedia, HostileFolderAndTagsStayText)
{
    const std::string folder = dir.file("[BACKFOLDER]2[][BACKFOLDER]2[]");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    const std::string source = folder + "/a.mp4";
    ASSERT_TRUE(MakeTestVideo(
        source, "160x120", "10", "1",
        {"-metadata", "artist=AC/DC", "-metadata", "title=Live, [Remastered]", "-metadata", "track=7/12"}));
    const NamingToolResult result =
        RunNamingTool({"destination", "--type", "2", "--folder", "/out", "--template",
                       "[BACKFOLDER]2[] [track] [artist] - [title]", "--ext", ".mkv", source},
                      10000);
    ASSERT_FALSE(result.timedOut);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "/out/[BACKFOLDER]2[][BACKFOLDER]2[] 07 AC-DC - Live, [Remastered].mkv\n");

    // Tags that try to climb out of the folder.
    const std::string climber = dir.file("b.mp4");
    ASSERT_TRUE(MakeTestVideo(climber, "160x120", "10", "1",
                              {"-metadata", "artist=..", "-metadata", "title=../../../etc/passwd"}));
    const NamingToolResult climbed = RunNamingTool({"destination", "--type", "2", "--folder", "/out", "--template",
                                                    "[artist]/[title]", "--ext", "/../x", climber});
    EXPECT_EQ(climbed.status, 0) << climbed.err;
    EXPECT_EQ(climbed.out.rfind("/out/", 0), 0u);
    EXPECT_EQ(climbed.out.find("/.."), std::string::npos) << climbed.out;
}

TEST_F(NamingToolMedia, NamingTypes)
{
    const std::string source = dir.file("clip.mov");
    ASSERT_TRUE(MakeTestVideo(source, "160x120", "10", "1"));
    EXPECT_EQ(RunNamingTool({"destination", "--type", "0", "--ext", ".mp4", source}).out, dir.file("clip.mp4") + "\n");
    EXPECT_EQ(RunNamingTool({"destination", "--type", "1", "--folder", "/out/x/", "--ext", ".mp4", source}).out,
              "/out/x/clip.mp4\n");
    EXPECT_EQ(RunNamingTool({"destination", "--type", "2", "--folder", "/", "--template", "[origpath]/[origfilename]",
                             "--ext", ".webm", source})
                  .out,
              dir.file("clip.webm") + "\n");
    // A relative destination folder is no destination.
    const NamingToolResult relative =
        RunNamingTool({"destination", "--type", "1", "--folder", "out", "--ext", ".mp4", source});
    EXPECT_NE(relative.status, 0);
    EXPECT_TRUE(relative.out.empty());
    // A template that reads tags needs a file that can be probed.
    const std::string text = dir.file("notes.txt");
    WriteTextFile(text, "not media");
    const NamingToolResult unreadable =
        RunNamingTool({"destination", "--type", "2", "--folder", "/out", "--template", "[title]", text});
    EXPECT_NE(unreadable.status, 0);
    EXPECT_NE(unreadable.err.find("no destination"), std::string::npos);
}

TEST_F(NamingToolMedia, UntaggedFilesAndColonsInNames)
{
    const std::string untagged = dir.file("untagged.mp4");
    const std::string other = dir.file("other.mp4");
    ASSERT_TRUE(MakeTestVideo(untagged, "160x120", "10", "1"));
    ASSERT_TRUE(MakeTestVideo(other, "160x120", "10", "1"));
    for (const char* pattern : {"[composer]", "[artist]/[composer]", "[composer][genre]."}) {
        SCOPED_TRACE(pattern);
        EXPECT_EQ(RunNamingTool({"destination", "--type", "2", "--folder", "/out", "--template", pattern, "--ext",
                                 ".mkv", untagged})
                      .out,
                  "/out/untagged.mkv\n");
        EXPECT_EQ(RunNamingTool(
                      {"destination", "--type", "2", "--folder", "/out", "--template", pattern, "--ext", ".mkv", other})
                      .out,
                  "/out/other.mkv\n");
    }

    const std::string colon = dir.file("a:b.mov");
    ASSERT_TRUE(MakeTestVideo(colon, "160x120", "10", "1"));
    EXPECT_EQ(RunNamingTool({"destination", "--type", "0", "--ext", ".mp4", colon}).out, dir.file("a;b.mp4") + "\n");
    EXPECT_EQ(RunNamingTool({"destination", "--type", "1", "--folder", "/out", "--ext", ".mp4", colon}).out,
              "/out/a;b.mp4\n");
    EXPECT_EQ(RunNamingTool({"destination", "--type", "2", "--folder", "/out", "--template", "[origfilename]", "--ext",
                             ".mp4", colon})
                  .out,
              "/out/a;b.mp4\n");
}

} // namespace
