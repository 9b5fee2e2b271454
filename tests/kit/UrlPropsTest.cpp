#include "kit/UrlProps.h"

#include "common/TestFiles.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QUrl>

#include <fstream>
#include <sys/stat.h>
#include <utime.h>

using namespace UrlProps;

namespace {

QUrl FileUrl(const std::string& path)
{
    return QUrl::fromLocalFile(QString::fromStdString(path));
}

TEST(UrlPropsTest, PropertiesOfFilesAndFolders)
{
    TestTempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string file = dir.file("clip.mp4");
    std::ofstream(file) << "12345";
    const std::string hidden = dir.file(".hidden");
    std::ofstream(hidden) << "";
    struct utimbuf times {
        1000000000, 1000000000
    };
    ASSERT_EQ(utime(file.c_str(), &times), 0);

    const QUrl fileUrl = FileUrl(file);
    EXPECT_FALSE(isDirectory(fileUrl));
    EXPECT_FALSE(isPackage(fileUrl));
    EXPECT_TRUE(isReadable(fileUrl));
    EXPECT_FALSE(isHidden(fileUrl));
    EXPECT_TRUE(isHidden(FileUrl(hidden)));
    EXPECT_EQ(fileSizeBytes(fileUrl), 5u);
    EXPECT_EQ(name(fileUrl), QStringLiteral("clip.mp4"));
    EXPECT_EQ(lastModified(fileUrl).toSecsSinceEpoch(), 1000000000);
    EXPECT_EQ(typeID(fileUrl), QStringLiteral("video/mp4"));
    EXPECT_TRUE(conformsToType(fileUrl, QStringLiteral("video/mp4")));
    EXPECT_FALSE(conformsToType(fileUrl, QStringLiteral("audio/mpeg")));
    EXPECT_FALSE(isVolume(fileUrl));

    const QUrl dirUrl = FileUrl(dir.path());
    EXPECT_TRUE(isDirectory(dirUrl));
    EXPECT_EQ(fileSizeBytes(dirUrl), 0u); // a folder has no size
    EXPECT_FALSE(queryProp(dirUrl, UrlProp::FileSize).isValid());
    EXPECT_TRUE(isVolume(FileUrl("/")));
    EXPECT_EQ(name(FileUrl("/")), QStringLiteral("/"));

    // The typed getters refuse values of another type.
    EXPECT_FALSE(queryPropDate(fileUrl, UrlProp::Name).isValid());
    EXPECT_FALSE(queryPropNumber(fileUrl, UrlProp::Name).isValid());
    EXPECT_TRUE(queryPropNumber(fileUrl, UrlProp::IsDirectory).isValid());
}

TEST(UrlPropsTest, MissingFilesAndOtherSchemesReadAsNothing)
{
    TestTempDir dir;
    const QUrl missing = FileUrl(dir.file("nothing"));
    EXPECT_FALSE(queryProp(missing, UrlProp::IsDirectory).isValid());
    EXPECT_FALSE(isReadable(missing));
    EXPECT_EQ(fileSizeBytes(missing), 0u);
    EXPECT_FALSE(lastModified(missing).isValid());
    EXPECT_TRUE(typeID(missing).isEmpty());

    const QUrl web(QStringLiteral("https://127.0.0.1/file.mp4"));
    EXPECT_FALSE(queryProp(web, UrlProp::Name).isValid());
}

TEST(UrlPropsTest, AncestorTests)
{
    const QUrl root = FileUrl("/");
    const QUrl a = FileUrl("/media/disk");
    const QUrl aSlash = FileUrl("/media/disk/");
    const QUrl child = FileUrl("/media/disk/Movies/clip.mp4");
    EXPECT_TRUE(isParentOf(a, child));
    EXPECT_TRUE(isParentOf(aSlash, child));
    EXPECT_TRUE(isParentOf(root, a));
    EXPECT_TRUE(isChildOf(child, a));
    EXPECT_FALSE(isParentOf(a, a));
    EXPECT_FALSE(isParentOf(a, aSlash)); // the same folder
    EXPECT_FALSE(isParentOf(child, a));
    EXPECT_FALSE(isParentOf(FileUrl("/media/dis"), child));  // whole components only
    EXPECT_FALSE(isParentOf(FileUrl("/Media/disk"), child)); // exact case
    EXPECT_FALSE(isParentOf(QUrl(QStringLiteral("https://127.0.0.1/media")), child));
}

} // namespace
