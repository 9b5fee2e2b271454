// The multi-encoder string, through engine-tool (reading and writing it needs the output
// naming, which links above the engine).
#include <gtest/gtest.h>

#include "common/ToolRun.h"

namespace {

std::string RoundTrip(const std::string& text)
{
    const ToolRunResult result = RunTestTool(TestToolPath("engine-tool"), {"multienc-roundtrip"}, text);
    EXPECT_EQ(result.status, 0) << result.err;
    return result.out;
}

std::string List(const std::string& text)
{
    const ToolRunResult result = RunTestTool(TestToolPath("engine-tool"), {"multienc-list"}, text);
    EXPECT_EQ(result.status, 0) << result.err;
    return result.out;
}

TEST(MultiEncConfig, EmptySetsAndTheMultiCpuSwitch)
{
    EXPECT_EQ(RoundTrip(""), "");
    EXPECT_EQ(List(""), "multi=1\n");
    EXPECT_EQ(RoundTrip("-nomulti"), "-nomulti");
    EXPECT_EQ(List("-nomulti"), "multi=0\n");
}

TEST(MultiEncConfig, EntryWithExtensionAndFolderAsStored)
{
    const std::string stored =
        R"(-enc1="AVI=-crf 23" -encMopt1="-customFormatExt={mqt}avi{mqt} -tofolder={mqt}/srv/Out{mqt}" -nomulti)";
    EXPECT_EQ(RoundTrip(stored), stored);
    EXPECT_EQ(List(stored), "1: encoder=AVI args=-crf 23 ext=avi naming=1 folder=/srv/Out\nmulti=0\n");
}

TEST(MultiEncConfig, DoubleQuotesAndBackslashesSurviveInArgumentsFoldersAndEffects)
{
    // What the writer makes of a title in quotes, a folder named with a double quote and a
    // backslash, a dynamic pattern, page state and an effect whose arguments hold quotes.
    const std::string stored =
        R"(-enc1="AVI=-metadata title={mqt}a  b{mqt}" )"
        R"(-encMopt1="-encoder-private-preset={mqt}slow one{mqt} -tofolder={mqt}/srv/say \\{mqt}hi\\{mqt} c:\\\\d{mqt} -dynamic={mqt}[artist]/[title]{mqt}" )"
        R"(-encDSP1="-dspeffect1={mqt}Watermark=-text={qt}x y{qt}{mqt}")";
    EXPECT_EQ(RoundTrip(stored), stored);
    EXPECT_EQ(List(stored), "1: encoder=AVI args=-metadata title=\"a  b\" private:preset=slow one naming=2 "
                            "folder=/srv/say \"hi\" c:\\d dynamic=[artist]/[title] effect:Watermark=-text=\"x y\"\n"
                            "multi=1\n");
}

TEST(MultiEncConfig, EncoderNotOfferedNowIsKeptInItsPlace)
{
    const std::string stored =
        R"(-enc1="AVI=-q 1" -enc2="Encoder Of The Future=-magic {mqt}x{mqt}" -encMopt2="-tofolder={mqt}/a{mqt} -unknown" )"
        R"(-encDSP2="-dspeffect1={mqt}Crop={mqt}" -enc3="WebM (VP9)=-b:v 1M")";
    EXPECT_EQ(RoundTrip(stored), stored);
    EXPECT_EQ(List(stored), "1: encoder=AVI args=-q 1 naming=0\n2: encoder=WebM (VP9) args=-b:v 1M naming=0\n"
                            "kept after 1: Encoder Of The Future=-magic {mqt}x{mqt}\nmulti=1\n");
    // Only offered encoders reach the batch.
    const ToolRunResult batch =
        RunTestTool(TestToolPath("engine-tool"),
                    {"batch-args", "--encoder", "[Multi Encoder]", "--args", stored, "--effect", "Crop=-vf crop=8:8"});
    EXPECT_EQ(batch.status, 0) << batch.err;
    EXPECT_EQ(batch.out, "-vf crop=8:8 -q 1\n-vf crop=8:8 -b:v 1M\nthreads=0\n");
}

TEST(MultiEncConfig, FolderKnownOnlyByItsBookmarkKeepsIt)
{
    // A folder whose volume was away when the set was stored: no path, only the bookmark.
    const std::string stored =
        R"(-enc1="AVI=-x" -encMopt1="-tofolder -tofolderbookmark={mqt}L25vL3N1Y2gvdm9sdW1l{mqt} )"
        R"(-tofolderfriendly={mqt}Away{mqt}")";
    EXPECT_EQ(RoundTrip(stored), stored);
    EXPECT_EQ(RoundTrip(RoundTrip(stored)), stored);
    EXPECT_EQ(List(stored), "1: encoder=AVI args=-x naming=1 folder=\nmulti=1\n");
}

TEST(MultiEncConfig, MalformedGapsAndOldKeys)
{
    // No "=": skipped; a gap ends the set.
    EXPECT_EQ(List(R"(-enc1="AVI" -enc2="AVI=-a" -enc4="AVI=-b")"), "1: encoder=AVI args=-a naming=0\nmulti=1\n");
    // "parentnaming" of older sets: next to the source, folder keys ignored, written back.
    EXPECT_EQ(List(R"(-enc1="AVI=" -encMopt1="-parentnaming -tofolder={mqt}/x{mqt}")"),
              "1: encoder=AVI args= naming=3\nmulti=1\n");
    EXPECT_EQ(RoundTrip(R"(-enc1="AVI=" -encMopt1="-parentnaming -tofolder={mqt}/x{mqt}")"),
              R"(-enc1="AVI=" -encMopt1="-parentnaming")");
    // A pattern without a folder means nothing.
    EXPECT_EQ(RoundTrip(R"(-enc1="AVI=-x" -encMopt1="-dynamic={mqt}[title]{mqt}")"), R"(-enc1="AVI=-x")");
}

TEST(MultiEncConfig, BookmarkIsKeptOnlyForFoldersOnRemovableVolumes)
{
    // The bookmark of a folder is its path ("/mnt/Backup/Out" in Base64).
    const std::string onVolume =
        R"(-enc1="AVI=" -encMopt1="-tofolder={mqt}/mnt/Backup/Out{mqt} -tofolderbookmark={mqt}L21udC9CYWNrdXAvT3V0{mqt} )"
        R"(-tofolderfriendly={mqt}Out on Backup{mqt}")";
    EXPECT_EQ(RoundTrip(onVolume), onVolume);
    const std::string plain = R"(-enc1="AVI=" -encMopt1="-tofolder={mqt}/srv/Out{mqt}")";
    EXPECT_EQ(
        RoundTrip(R"(-enc1="AVI=" -encMopt1="-tofolder={mqt}/srv/Out{mqt} -tofolderbookmark={mqt}L3Nydi9PdXQ={mqt} )"
                  R"(-tofolderfriendly={mqt}Out{mqt}")"),
        plain);
}

} // namespace
