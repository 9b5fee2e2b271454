// Which file a path names: links to folders, "." and "..", links and hard links at the last
// component, the case rule of a volume (asked of a real one where the machine can make one).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "common/CaseFoldVolume.h"
#include "common/MediaTestFiles.h"
#include "common/TestFiles.h"
#include "xclass/XFileIdentity.h"

namespace {

class FileIdentity : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(mkdir(dir.file("A").c_str(), 0700), 0);
        ASSERT_EQ(mkdir(dir.file("A/sub").c_str(), 0700), 0);
        ASSERT_EQ(symlink("A", dir.file("B").c_str()), 0);
    }
    TestTempDir dir;
};

} // namespace

TEST_F(FileIdentity, AFolderReachedThroughALinkNamesTheSameFiles)
{
    XFileKeyMaker keys;
    // Files that do not exist yet, and folders below that do not exist yet.
    EXPECT_EQ(keys.key(dir.file("A/Song.mkv")), keys.key(dir.file("B/Song.mkv")));
    EXPECT_EQ(keys.key(dir.file("A/new/deeper/Song.mkv")), keys.key(dir.file("B/new/deeper/Song.mkv")));
    EXPECT_TRUE(keys.sameFile(dir.file("A/Song.mkv"), dir.file("B/./Song.mkv")));
    // "." and "//", ".." through a real folder and past a folder that does not exist.
    const std::string key = keys.key(dir.file("A/Song.mkv"));
    EXPECT_EQ(keys.key(dir.file("B//./Song.mkv")), key);
    EXPECT_EQ(keys.key(dir.file("A/sub/../Song.mkv")), key);
    EXPECT_EQ(keys.key(dir.file("B/missing/../Song.mkv")), key);
    // Other names stay apart: this volume keeps case.
    EXPECT_NE(keys.key(dir.file("A/song.mkv")), key);
    EXPECT_NE(keys.key(dir.file("A/sub/Song.mkv")), key);
    EXPECT_FALSE(XFolderFoldsCase(dir.path()));
    // No key for what names no absolute file.
    EXPECT_EQ(keys.key("A/Song.mkv"), "");
    EXPECT_EQ(keys.key(""), "");
}

TEST_F(FileIdentity, LinksAndHardLinksAtTheLastComponent)
{
    const std::string file = dir.file("A/clip.mp4");
    WriteTextFile(file, "data");
    ASSERT_EQ(symlink(file.c_str(), dir.file("A/link.mp4").c_str()), 0);
    ASSERT_EQ(link(file.c_str(), dir.file("A/hard.mp4").c_str()), 0);
    // A rename replaces the link itself, so its key is its own; as a file it is the same one.
    EXPECT_NE(XFileKey(dir.file("A/link.mp4")), XFileKey(file));
    EXPECT_TRUE(XSameFile(dir.file("A/link.mp4"), file));
    EXPECT_TRUE(XSameFile(dir.file("B/hard.mp4"), file));
    EXPECT_FALSE(XSameFile(dir.file("A/other.mp4"), file));
    EXPECT_TRUE(XFileIdOf(dir.file("B/link.mp4")) == XFileIdOf(file));
    EXPECT_FALSE(XFileIdOf(dir.file("A/link.mp4"), false) == XFileIdOf(file));
    EXPECT_FALSE(XFileIdOf(dir.file("A/none")).exists);
    EXPECT_FALSE(XFileIdOf(dir.file("A/none")) == XFileIdOf(dir.file("A/none2")));
}

TEST_F(FileIdentity, AFoldingFolderFoldsEverythingBelowIt)
{
    int asked = 0;
    XFileKeyMaker keys([&](const std::string&) {
        ++asked;
        return true;
    });
    EXPECT_EQ(keys.key(dir.file("A/New/Clip.mkv")), keys.key(dir.file("B/new/CLIP.MKV")));
    EXPECT_EQ(keys.key(dir.file("A/\xC3\x84rger.mkv")), keys.key(dir.file("A/\xC3\xA4rger.mkv"))); // Ä, ä
    EXPECT_NE(keys.key(dir.file("A/Clip.mkv")), keys.key(dir.file("A/Clip.mp4")));
    EXPECT_EQ(asked, 1) << "each folder's rule is asked once";
}

TEST(FileIdentityRules, FileSystemTypesAndFolding)
{
    EXPECT_EQ(XFileSystemFoldsCase(0x4d44, false), std::optional<bool>(true));     // FAT
    EXPECT_EQ(XFileSystemFoldsCase(0x2011BAB0, false), std::optional<bool>(true)); // exFAT
    EXPECT_EQ(XFileSystemFoldsCase(0xFE534D42, false), std::optional<bool>(true)); // SMB
    EXPECT_EQ(XFileSystemFoldsCase(0xEF53, false), std::optional<bool>(false));    // ext4
    EXPECT_EQ(XFileSystemFoldsCase(0xEF53, true), std::optional<bool>(true));      // casefolded
    EXPECT_EQ(XFileSystemFoldsCase(0x65735546, false), std::nullopt);              // FUSE: ask it
    EXPECT_EQ(XFoldNameCase("Clip \xC3\x89T\xC3\x89 \xCE\xA3\xCE\x91 \xD0\x96 \xC5\x81"),
              "clip \xC3\xA9t\xC3\xA9 \xCF\x83\xCE\xB1 \xD0\xB6 \xC5\x82"); // ÉTÉ ΣΑ Ж Ł
    EXPECT_EQ(XFoldNameCase("bad\xFF\xC3 X"), "bad\xFF\xC3 x");             // bytes that are no UTF-8 stay
}

TEST(FileIdentityVolume, ACaseFoldingVolumeMakesClipAndClipOneFile)
{
    TestTempDir dir;
    CaseFoldVolume volume(dir.path());
    if (!volume.ok())
        GTEST_SKIP() << "no case-folding volume: " << volume.why();
    const std::string folder = volume.folder();
    EXPECT_TRUE(XFolderFoldsCase(folder));
    WriteTextFile(folder + "/Clip.mkv", "data");
    EXPECT_EQ(XFileKey(folder + "/Clip.mkv"), XFileKey(folder + "/clip.mkv"));
    EXPECT_TRUE(XSameFile(folder + "/Clip.mkv", folder + "/clip.mkv"));
    // Names that do not exist yet, in folders that do not exist yet.
    EXPECT_EQ(XFileKey(folder + "/New/Clip.mkv"), XFileKey(folder + "/new/clip.MKV"));
}
