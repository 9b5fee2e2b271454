// The workspace helpers: the XStr/Qt bridges, type descriptions, and revealing files
// through a file manager that answers on a private D-Bus of the test's own.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "common/TestDBus.h"
#include "common/TestEnv.h"
#include "common/TestFiles.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"
#include "xclass/XStr.h"

namespace {

void WriteFile(const std::string& path, const std::string& data)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
    close(fd);
}

TEST(XWorkspace, StringsAndUrlsKeepEveryByteOfAPath)
{
    const XStr text = XStr::FromUTF8("caf\xc3\xa9 \xf0\x9f\x8e\xac bad\xff");
    const QString qt = XStrToQString(text);
    EXPECT_TRUE(qt.startsWith(QStringLiteral("caf\u00e9 ")));
    EXPECT_EQ(XStrFromQString(qt), text);

    const XStr path = XStr::FromUTF8("/tmp/a b#c?d%e\xff/\xc3\xa9.mp4");
    const QUrl url = XFileURL(path);
    ASSERT_TRUE(url.isValid());
    EXPECT_TRUE(url.isLocalFile());
    EXPECT_EQ(url.scheme(), QStringLiteral("file"));
    EXPECT_EQ(XPathFromFileURL(url).ToUTF8String(), path.ToUTF8String());
    EXPECT_EQ(XPathFromFileURL(QUrl::fromLocalFile(QStringLiteral("/x/y z"))).ToUTF8String(), "/x/y z");
    EXPECT_TRUE(XPathFromFileURL(QUrl(QStringLiteral("https://127.0.0.1/x"))).IsEmpty());

    // A relative path is taken from the working folder.
    char* cwd = getcwd(nullptr, 0);
    ASSERT_NE(cwd, nullptr);
    EXPECT_EQ(XPathFromFileURL(XFileURL(L"rel/f")).ToUTF8String(), std::string(cwd) + "/rel/f");
    free(cwd);

    EXPECT_TRUE(checkedURL(QUrl()).isEmpty());
    EXPECT_EQ(checkedURL(url), url);
}

// Qt's own lists give names that are not UTF-8 with U+FFFD; the name on the disk that reads
// the same comes back, and a drag's raw URI list keeps the bytes.
TEST(XWorkspace, LossyDisplayPathsAndUriListsFindTheFileOnTheDisk)
{
    TestTempDir dir;
    ASSERT_EQ(mkdir(dir.file("sub\xfe").c_str(), 0700), 0);
    const std::string clip = dir.file("sub\xfe/clip\xff.mkv");
    WriteFile(clip, "x");
    const QString lossy = QFile::decodeName(QByteArray::fromStdString(clip));
    ASSERT_TRUE(lossy.contains(QChar(0xFFFD)));
    EXPECT_EQ(XResolveDisplayPath(lossy).ToUTF8String(), clip);
    // Two names that read the same: which one was meant cannot be told, so that name stays.
    WriteFile(dir.file("sub\xfe/clip\xfe.mkv"), "y");
    EXPECT_EQ(XResolveDisplayPath(lossy).ToUTF8String(), dir.file("sub\xfe/clip\xef\xbf\xbd.mkv"));
    EXPECT_EQ(XResolveDisplayPath(QStringLiteral("/plain/name.mkv")).ToUTF8String(), "/plain/name.mkv");

    const QByteArray list = XFileURL(XStr::FromUTF8(clip.c_str())).toEncoded() +
                            "\r\n# a comment\r\nhttp://127.0.0.1/x.mkv\r\nfile:///tmp/a%20b.mkv\n";
    const QList<QUrl> urls = XFileURLsFromUriList(list);
    ASSERT_EQ(urls.size(), 2);
    EXPECT_EQ(XPathFromFileURL(urls[0]).ToUTF8String(), clip);
    EXPECT_EQ(XPathFromFileURL(urls[1]).ToUTF8String(), "/tmp/a b.mkv");
}

// Names that are not UTF-8 cross every bridge as the same bytes: encoded surrogates that a
// UTF-16 text would pair, code points beyond U+10FFFF, the old 5- and 6-byte forms.
TEST(XWorkspace, EveryByteStringCrossesTheBridgesUnchanged)
{
    const auto throughQt = [](const std::string& bytes) {
        const XStr s = XStr::FromUTF8Bytes(bytes.data(), bytes.size());
        return XStrFromQString(XStrToQString(s)).ToUTF8String();
    };
    const auto throughUrl = [](const std::string& bytes) {
        const XStr path = XStr::FromUTF8Bytes(bytes.data(), bytes.size());
        return XPathFromFileURL(XFileURL(path)).ToUTF8String();
    };
    const std::string patterns[] = {
        "\xED\xA0\xBD\xED\xB8\x80",
        "\xF4\x90\x80\x80",
        "\xF8\x88\x80\x80\x80",
        "\xFC\x84\x80\x80\x80\x80",
        "a\xED\xA0\xBD\xED\xB8\x80"
        "b\xF0\x9F\x98\x80\xED\xB3\x80"
        "c",
        "\xF0\x9F\x98\x80\xED\xB8\x80",
        "\xED\xA0\xBD\xF0\x9F\x98\x80",
    };
    for (const std::string& pattern : patterns) {
        EXPECT_EQ(throughQt(pattern), pattern);
        EXPECT_EQ(throughUrl("/tmp/" + pattern), "/tmp/" + pattern);
    }

    std::string bytes;
    for (size_t length = 1; length <= 3; ++length) {
        bytes.assign(length, '\0');
        const uint32_t count = 1u << (8 * length);
        for (uint32_t n = 0; n < count; ++n) {
            for (size_t i = 0; i < length; ++i)
                bytes[i] = static_cast<char>(n >> (8 * i));
            ASSERT_EQ(throughQt(bytes), bytes) << n;
            // File names hold neither "/" nor NUL; the path bridge is asked about the rest.
            if (length < 3 && bytes.find('\0') == std::string::npos && bytes.find('/') == std::string::npos) {
                ASSERT_EQ(throughUrl("/" + bytes), "/" + bytes) << n;
            }
        }
    }
}

TEST(XWorkspace, TypeDescriptions)
{
    TestTempDir folder;
    ASSERT_FALSE(folder.path().empty());
    WriteFile(folder.path() + "/notes.txt", "plain words\n");
    WriteFile(folder.path() + "/image", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16));
    WriteFile(folder.path() + "/blob", std::string("\x01\x02\x03\x04\xfe\xfd\x00\x07", 8));
    EXPECT_FALSE(XGetTypeDescription(XStr::FromUTF8(folder.path() + "/notes.txt")).IsEmpty());
    // The content decides where the name says nothing.
    const XStr png = XGetTypeDescription(XStr::FromUTF8(folder.path() + "/image"));
    EXPECT_NE(png.ToUTF8String().find("PNG"), std::string::npos) << png.ToUTF8String();
    EXPECT_FALSE(XGetTypeDescription(XStr::FromUTF8(folder.path())).IsEmpty());
    EXPECT_TRUE(XGetTypeDescription(XStr::FromUTF8(folder.path() + "/blob")).IsEmpty());
    EXPECT_TRUE(XGetTypeDescription(XStr::FromUTF8(folder.path() + "/missing.txt")).IsEmpty());
}

TEST(XWorkspace, OpeningNeedsAnExistingFileAndTheDesktop)
{
    TestTempDir folder;
    WriteFile(folder.path() + "/f.txt", "x");
    EXPECT_FALSE(XOpenWithWorkspace(XStr::FromUTF8(folder.path() + "/missing.txt")));
    // No GUI application in this process: refused rather than crashing.
    EXPECT_FALSE(XOpenWithWorkspace(XStr::FromUTF8(folder.path() + "/f.txt")));
    EXPECT_FALSE(XRevealInFileManager(QList<QUrl>()));
}

TEST(XWorkspace, RevealAsksTheFileManager)
{
    TestTempDir folder;
    PrivateBus bus(folder.path());
    if (bus.address.empty())
        GTEST_SKIP() << "dbus-daemon is not available";
    TestEnvScope busScope("DBUS_SESSION_BUS_ADDRESS", bus.address);
    int argc = 1;
    char name[] = "platform_tests";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    if (!SessionBusIs(bus.address))
        GTEST_SKIP() << "the session bus was in use before the test's own bus";

    const XStr file = XStr::FromUTF8(folder.path() + "/a b.mp4");
    WriteFile(folder.path() + "/a b.mp4", "x");

    // Nobody owns the name and there is no GUI application to open the folder with.
    EXPECT_FALSE(XRevealInFileManager({XFileURL(file)}));

    // The fake answers on a thread of its own while the call blocks this one.
    FakeFileManager fake(bus.address);
    ASSERT_TRUE(fake.registered());
    EXPECT_TRUE(XRevealInFileManager({XFileURL(file), XFileURL(L"/tmp/other")}));
    const std::vector<FakeDBusCall> calls = fake.calls();
    ASSERT_EQ(calls.size(), 1u);
    ASSERT_EQ(calls[0].arguments.size(), 2);
    const QStringList shown = calls[0].arguments.at(0).toStringList();
    ASSERT_EQ(shown.size(), 2);
    EXPECT_EQ(shown.at(0), QString::fromStdString("file://" + folder.path() + "/a%20b.mp4"));
    EXPECT_EQ(shown.at(1), QStringLiteral("file:///tmp/other"));
    EXPECT_TRUE(calls[0].arguments.at(1).toString().isEmpty()); // no startup id
}

} // namespace
