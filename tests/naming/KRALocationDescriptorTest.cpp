// Output locations: paths, bookmarks and their resolution, preparing the folder, and the
// friendly names of folders and files.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "naming/KRALocationDescriptor.h"
#include "naming/NamingTestSupport.h"
#include "platform/XWorkspace.h"

namespace {

QUrl Url(const std::string& path)
{
    return XFileURL(W(path));
}

std::string PathOf(const QUrl& url)
{
    return U8(XPathFromFileURL(url));
}

// A home folder of the test's own, with XDG user folders of the usual names.
struct HomeScope {
    TestTempDir dir;
    TestEnvScope home{"HOME", dir.path().c_str()};
    TestEnvScope config{"XDG_CONFIG_HOME", nullptr};
    TestEnvScope user{"USER", "tester"};
};

TEST(KRALocationDescriptor, PathsAreAbsoluteAndNormalised)
{
    EXPECT_EQ(U8(KRANormalizeAbsolutePath(W("/a/./b/../c//d/"))), "/a/c/d");
    EXPECT_EQ(U8(KRANormalizeAbsolutePath(W("/../.."))), "/");
    EXPECT_EQ(U8(KRANormalizeAbsolutePath(W("a/b"))), "");
    EXPECT_EQ(U8(KRANormalizeAbsolutePath(W(""))), "");

    EXPECT_EQ(U8(KRALocationDescriptor::withFolderPath(W("/out/x/"))->path()), "/out/x");
    EXPECT_EQ(U8(KRALocationDescriptor::root()->path()), "/");
    for (const char* relative : {"", "out", "~/out", "./x"}) {
        const auto d = KRALocationDescriptor::withFolderPath(W(relative));
        EXPECT_TRUE(d->path().IsEmpty()) << relative;
        EXPECT_FALSE(d->url().isValid()) << relative;
        EXPECT_FALSE(d->prepareFolder()) << relative;
    }
    EXPECT_TRUE(KRALocationDescriptor::withURL(QUrl(QStringLiteral("https://example.invalid/x")))->path().IsEmpty());
}

TEST(KRALocationDescriptor, DefaultFolderIsTheVideosFolder)
{
    HomeScope home;
    EXPECT_EQ(U8(KRALocationDescriptor::withDefaultFolder()->path()), home.dir.path() + "/Videos");
}

TEST(KRALocationDescriptor, BookmarksResolveWhenTheFolderExists)
{
    TestTempDir dir;
    const std::string folder = dir.file("later");
    const QByteArray bookmark = QByteArray::fromStdString(folder);

    const auto empty = KRALocationDescriptor::withBookmark(QByteArray(), QString(), Url(folder));
    EXPECT_TRUE(empty->resolved());
    EXPECT_EQ(U8(empty->path()), folder);

    const auto d = KRALocationDescriptor::withBookmark(bookmark, QStringLiteral("Later"), QUrl());
    EXPECT_FALSE(d->resolved());
    EXPECT_EQ(d->friendlyName(), QStringLiteral("Later"));
    EXPECT_FALSE(d->resolveAndMount());
    // A failure holds for a minute: the folder appearing now changes nothing yet.
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    EXPECT_FALSE(d->resolve());
    EXPECT_FALSE(d->resolved());

    const auto fresh = KRALocationDescriptor::withBookmark(bookmark, QString(), QUrl());
    EXPECT_TRUE(fresh->resolveAndMount());
    EXPECT_TRUE(fresh->resolved());
    EXPECT_EQ(U8(fresh->path()), folder);
    EXPECT_TRUE(fresh->sanity());

    // A URL-made descriptor makes its bookmark from an existing folder only.
    EXPECT_EQ(KRALocationDescriptor::withFolderPath(W(folder))->bookmark(), bookmark);
    EXPECT_TRUE(KRALocationDescriptor::withFolderPath(W(dir.file("missing")))->bookmark().isEmpty());
    // A relative bookmark never resolves against the working directory.
    EXPECT_FALSE(KRALocationDescriptor::withBookmark(QByteArray("."), QString(), QUrl())->resolve());
}

TEST(KRALocationDescriptor, EqualityAndCopies)
{
    const auto a = KRALocationDescriptor::withFolderPath(W("/out/a"));
    EXPECT_TRUE(a->isEqualTo(KRALocationDescriptor::withFolderPath(W("/out/b/../a/")).get()));
    EXPECT_FALSE(a->isEqualTo(KRALocationDescriptor::withFolderPath(W("/out/b")).get()));
    EXPECT_FALSE(a->isEqualTo(nullptr));
    const auto copy = a->copy();
    EXPECT_TRUE(copy->isEqualTo(a.get()));
    EXPECT_EQ(copy->friendlyName(), a->friendlyName());
    copy->copyFrom(nullptr);
    EXPECT_EQ(U8(copy->path()), "/out/a");
}

TEST(KRALocationDescriptor, PrepareFolderCreatesAndTestsIt)
{
    TestTempDir dir;
    const std::string folder = dir.file("a/b/c");
    const auto d = KRALocationDescriptor::withFolderPath(W(folder));
    ASSERT_TRUE(d->prepareFolder());
    struct stat st;
    EXPECT_EQ(stat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_NE(lstat((folder + "/.marvoni-write-test").c_str(), &st), 0);

    // A link planted under the test name is not followed: its target keeps its contents.
    const std::string victim = dir.file("victim");
    std::ofstream(victim) << "keep me";
    ASSERT_EQ(symlink(victim.c_str(), (folder + "/.marvoni-write-test").c_str()), 0);
    EXPECT_FALSE(d->prepareFolder());
    std::ifstream in(victim);
    std::string contents;
    std::getline(in, contents);
    EXPECT_EQ(contents, "keep me");

    if (geteuid() != 0) {
        const std::string locked = dir.file("locked");
        ASSERT_EQ(mkdir(locked.c_str(), 0500), 0);
        EXPECT_FALSE(KRALocationDescriptor::withFolderPath(W(locked))->prepareFolder());
        EXPECT_FALSE(KRALocationDescriptor::withFolderPath(W(locked + "/sub"))->prepareFolder());
        chmod(locked.c_str(), 0700);
    }
}

TEST(KRALocationDescriptor, StoringAsURL)
{
    HomeScope home;
    EXPECT_FALSE(KRALocationDescriptor::withFolderPath(W("/mnt/Backup"))->canStoreAsURL());
    EXPECT_FALSE(KRALocationDescriptor::withFolderPath(W("/media/tester/Backup/x"))->canStoreAsURL());
    EXPECT_TRUE(KRALocationDescriptor::withFolderPath(W(home.dir.path() + "/Videos"))->canStoreAsURL());
    EXPECT_TRUE(KRALocationDescriptor::withFolderPath(W("/srv/media/x"))->canStoreAsURL());
}

TEST(KRALocationDescriptor, FriendlyNames)
{
    HomeScope home;
    const std::string h = home.dir.path();
    EXPECT_EQ(UrlProps::friendlyNameExt(Url(h + "/Videos/Clips")), QStringLiteral("Movies/Clips"));
    EXPECT_EQ(UrlProps::friendlyNameExt(Url(h + "/Videos")), QStringLiteral("Movies"));
    EXPECT_EQ(UrlProps::friendlyNameExt(Url(h + "/Music/a.mp3")), QStringLiteral("Music/a.mp3"));
    EXPECT_EQ(UrlProps::friendlyNameExt(Url(h + "/Other")), QStringLiteral("~/Other"));
    EXPECT_EQ(UrlProps::friendlyNameExt(Url("/srv/x/")), QStringLiteral("/srv/x"));
    EXPECT_EQ(UrlProps::friendlyName(Url(h + "/Music/a.b/song.mp3")), QStringLiteral("Music/a.b/song"));
    EXPECT_EQ(UrlProps::friendlyName(Url(h + "/Music/a.b/song")), QStringLiteral("Music/a.b/song"));

    EXPECT_EQ(UrlProps::friendlyFolderName(Url(h)), QStringLiteral("tester"));
    EXPECT_EQ(UrlProps::friendlyFolderName(Url("/mnt/Backup")), QStringLiteral("Volume: Backup"));
    EXPECT_EQ(UrlProps::friendlyFolderName(Url("/media/tester/Backup/Movies/Clips")),
              QStringLiteral("Movies/Clips on Backup"));
    EXPECT_EQ(UrlProps::friendlyFolderName(Url("/mnt")), QStringLiteral("/mnt"));
    EXPECT_EQ(KRALocationDescriptor::withFolderPath(W(h + "/Videos/Clips"))->friendlyName(),
              QStringLiteral("Movies/Clips"));
}

TEST(KRALocationDescriptor, UserFoldersFromTheXdgFile)
{
    HomeScope home;
    const std::string h = home.dir.path();
    ASSERT_EQ(mkdir((h + "/.config").c_str(), 0700), 0);
    std::ofstream(h + "/.config/user-dirs.dirs") << "XDG_VIDEOS_DIR=\"$HOME/Filme\"\n";
    EXPECT_EQ(UrlProps::friendlyNameExt(Url(h + "/Filme/x")), QStringLiteral("Movies/x"));
    EXPECT_EQ(UrlProps::friendlyNameExt(Url(h + "/Videos/x")), QStringLiteral("~/Videos/x"));
    EXPECT_EQ(PathOf(UrlProps::fileURLFromFriendlyName(QStringLiteral("Movies/Clip"), QStringLiteral(".mp4"))),
              h + "/Filme/Clip.mp4");
}

TEST(KRALocationDescriptor, FileURLsFromFriendlyNames)
{
    HomeScope home;
    const std::string h = home.dir.path();
    EXPECT_EQ(PathOf(UrlProps::fileURLFromFriendlyName(QStringLiteral("Movies/Clip"), QStringLiteral(".mp4"))),
              h + "/Videos/Clip.mp4");
    EXPECT_EQ(PathOf(UrlProps::fileURLFromFriendlyName(QStringLiteral("~/a/b"), QStringLiteral(".mkv"))),
              h + "/a/b.mkv");
    EXPECT_EQ(PathOf(UrlProps::fileURLFromFriendlyName(QStringLiteral("/srv/a"), QStringLiteral(".x/../y"))),
              "/srv/a.x-..-y");
    // A bare name is taken below the home folder, never the working directory.
    EXPECT_EQ(PathOf(UrlProps::fileURLFromFriendlyName(QStringLiteral("Clip"), QStringLiteral(".mp4"))),
              h + "/Clip.mp4");
    EXPECT_FALSE(UrlProps::fileURLFromFriendlyName(QString(), QStringLiteral(".mp4")).isValid());
    EXPECT_EQ(
        PathOf(UrlProps::fileURLFromFriendlyNameTakeExtensionFrom(QStringLiteral("Movies/New"), Url("/x/old.webm"))),
        h + "/Videos/New.webm");
}

} // namespace
