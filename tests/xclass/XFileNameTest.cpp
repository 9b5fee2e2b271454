// Path strings, the file-name sanitiser, wildcard masks, look-ups and directory walks.
#include "xclass/XFileName.h"
#include "common/TestEnv.h"
#include "common/TestFiles.h"
#include "xclass/XFindFile.h"
#include "xclass/XPlatform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

XStr W(const std::string& utf8)
{
    return XStr::FromUTF8Bytes(utf8.data(), utf8.size());
}

std::string U(const XStr& text)
{
    return text.ToUTF8String();
}

std::string MakeValid(const XStr& text, bool limit = false, const wchar_t* pairs = nullptr, bool keepSlashes = false,
                      bool isPath = false)
{
    XFileName name(text);
    name.MakeValid(limit, pairs, keepSlashes, isPath);
    return U(name);
}

// No byte of s was invalid: a name cut inside a character would leave one.
bool ValidUTF8(const std::string& s)
{
    const XStr decoded = XStr::FromUTF8Bytes(s.data(), s.size());
    for (int i = 0; i < decoded.Length(); i++)
        if (decoded.p[i] >= 0xDC80 && decoded.p[i] <= 0xDCFF)
            return false;
    return true;
}

void Touch(const std::string& path, const std::string& content = "x")
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    close(fd);
}

} // namespace

TEST(XFileName, Parts)
{
    EXPECT_EQ(U(XFileName(L"/a.b/c").GetExtension()), ".");
    EXPECT_EQ(U(XFileName(L"/x/movie.MP4").GetExtension()), ".MP4");
    EXPECT_EQ(U(XFileName(L".bashrc").GetExtension()), ".bashrc");
    EXPECT_EQ(U(XFileName(L"/a.b/c").GetWithoutExtension()), "/a");
    EXPECT_EQ(U(XFileName(L"/x/y/movie.mp4").GetFileNameNoExt()), "movie");
    EXPECT_EQ(U(XFileName(L"/x/y/movie.mp4").GetFolder()), "/x/y/");
    EXPECT_EQ(U(XFileName(L"plain").GetFolder()), "plain");
    EXPECT_EQ(XFileName(L"/x/y").FindLastSlash(), 3);
    EXPECT_EQ(XFileName(L"/x/y").FindLastSlash(2), 1);
    EXPECT_TRUE(XFileName(L"/x/.hidden").IsHidden());
    EXPECT_FALSE(XFileName(L"/x/").IsHidden());
    EXPECT_TRUE(XFileName(L"a/b?").HasWildcard());
    EXPECT_EQ(XFileName(L"//ab").SkipLeadingSlashes(), 4);
    EXPECT_EQ(XFileName(L"///").SkipLeadingSlashes(), 5);
    EXPECT_EQ(U(XFileName(L"C:\\dir\\file.txt").GetFileNameWin()), "file.txt");
    EXPECT_EQ(U(XFileName(L"C:\\dir\\file.txt").GetFolderWin()), "C:\\dir\\");
}

TEST(XFileName, Editing)
{
    XFileName a(L"/tmp");
    a.AppendPath(L"//x");
    EXPECT_EQ(U(a), "/tmp/x");
    XFileName empty;
    empty.AppendPath(L"x");
    EXPECT_EQ(U(empty), "/x");
    XFileName self(L"/a");
    self.AppendPath(self.p); // the component may be the string itself
    EXPECT_EQ(U(self), "/a/a");
    EXPECT_EQ(U(XFileName::Join(L"/a/", L"b")), "/a/b");

    XFileName slashes(L"/a///");
    slashes.RemoveTrailingSlash();
    EXPECT_EQ(U(slashes), "/a");
    XFileName root(L"/");
    root.RemoveTrailingSlash();
    EXPECT_EQ(U(root), "");
    root.AddTrailingSlash();
    EXPECT_EQ(U(root), "/");

    XFileName dots(L"..a/.b/c");
    dots.StripLeadingDots();
    EXPECT_EQ(U(dots), "a/b/c");

    XFileName quoted(L"a b");
    quoted.Quote();
    EXPECT_EQ(U(quoted), "\"a b\"");
}

TEST(XFileName, PopLastComponent)
{
    XFileName a(L"/x/yy/");
    EXPECT_EQ(U(a.PopLastComponent(false)), "yy");
    EXPECT_EQ(U(a), "/x/yy/");
    EXPECT_EQ(U(a.PopLastComponent(true)), "yy");
    EXPECT_EQ(U(a), "/x/");
    XFileName shortOne(L"/a");
    EXPECT_EQ(U(shortOne.PopLastComponent(true)), "");
    EXPECT_EQ(U(shortOne), "/a");
    XFileName noSlash(L"name/");
    EXPECT_EQ(U(noSlash.PopLastComponent(false)), "");
    EXPECT_EQ(U(noSlash), "name/");
}

TEST(XFileName, HomeFolder)
{
    TestEnvScope home("HOME", "/home/tester");
    XFileName a(L"~");
    EXPECT_TRUE(a.ExpandHome());
    EXPECT_EQ(U(a), "/home/tester");
    XFileName b(L"~/Movies");
    EXPECT_TRUE(b.ExpandHome());
    EXPECT_EQ(U(b), "/home/tester/Movies");
    XFileName c(L"~user/x");
    EXPECT_FALSE(c.ExpandHome());
    EXPECT_EQ(U(c), "~user/x");
    XFileName d(L"/home/tester/x");
    EXPECT_TRUE(d.CollapseHome());
    EXPECT_EQ(U(d), "~/x");
    XFileName e(L"/home/testerx");
    EXPECT_FALSE(e.CollapseHome());
    unsetenv("HOME");
    XFileName f(L"~");
    EXPECT_FALSE(f.ExpandHome());
}

TEST(XFileName, MakeRealPath)
{
    TestTempDir dir;
    ASSERT_EQ(mkdir((dir.file("real")).c_str(), 0700), 0);
    ASSERT_EQ(symlink((dir.file("real")).c_str(), (dir.file("link")).c_str()), 0);
    XFileName p(W(dir.file("link")));
    ASSERT_TRUE(p.MakeRealPath());
    char* expected = realpath((dir.file("real")).c_str(), nullptr);
    EXPECT_EQ(U(p), expected);
    free(expected);
    XFileName missing(W(dir.file("missing/x")));
    EXPECT_FALSE(missing.MakeRealPath());
    EXPECT_EQ(U(missing), dir.file("missing/x"));
}

TEST(XFileName, MakeValidCharacters)
{
    EXPECT_EQ(MakeValid(L"a/b:c"), "a-b:c");
    EXPECT_EQ(MakeValid(L"a\tb"), "a_b");
    EXPECT_EQ(MakeValid(L"..name"), "name");
    EXPECT_EQ(MakeValid(L"..."), "_");
    EXPECT_EQ(MakeValid(L" .x"), "x");
    // The extension dot survives a table that replaces dots; "*" deletes.
    static const wchar_t pairs[] = {L'.', L'_', L'x', L'*', 0};
    EXPECT_EQ(MakeValid(L"a.b.xmp4", false, pairs), "a_b.mp4");
    EXPECT_EQ(MakeValid(L"/a//b/", false, nullptr, true, true), "/a/b");
    EXPECT_EQ(MakeValid(L"/.a/ b/", false, nullptr, true, true), "/a/b");
}

TEST(XFileName, MakeValidLengthInBytes)
{
    // ASCII: 245 characters of name and the extension, 249 in all.
    const std::string longAscii = std::string(300, 'n') + ".mp4";
    const std::string a = MakeValid(W(longAscii));
    EXPECT_EQ(a.size(), 249u);
    EXPECT_EQ(a.substr(a.size() - 4), ".mp4");

    // Two-byte characters: cut by bytes, between characters, and accepted by the disk.
    std::string accented;
    for (int i = 0; i < 200; i++)
        accented += "\xC3\xA9"; // é
    const std::string b = MakeValid(W(accented + ".mkv"));
    EXPECT_LE(b.size(), 249u);
    EXPECT_GE(b.size(), 240u);
    EXPECT_TRUE(ValidUTF8(b));
    EXPECT_EQ(b.substr(b.size() - 4), ".mkv");
    TestTempDir dir;
    Touch(dir.file(b));

    // Four-byte characters in a folder component of a path.
    std::string emoji;
    for (int i = 0; i < 100; i++)
        emoji += "\xF0\x9F\x8E\xAC";
    const std::string c = MakeValid(W("/x/" + emoji + "/f.mp4"), false, nullptr, true, true);
    const size_t first = c.find('/', 3);
    ASSERT_NE(first, std::string::npos);
    EXPECT_LE(first - 3, 249u);
    EXPECT_TRUE(ValidUTF8(c));
    EXPECT_EQ(c.substr(first), "/f.mp4");
}

TEST(XFileName, MakeValidPathLimit)
{
    std::string path;
    for (int i = 0; i < 40; i++)
        path += "/" + std::string(200, static_cast<char>('a' + i % 26));
    path += "/" + std::string(100, 'z') + ".mp4";
    const std::string out = MakeValid(W(path), true, nullptr, true, true);
    EXPECT_LE(out.size(), 4095u);
    EXPECT_EQ(out.substr(out.size() - 4), ".mp4");
    EXPECT_EQ(out.substr(0, 201), "/" + std::string(200, 'a'));
}

TEST(XFileName, FitNameToPathLimit)
{
    TestTempDir dir;
    // The test name (with "_") is three bytes over the 255-byte limit.
    XStr name = W(std::string(253, 'a') + ".mp4");
    ASSERT_TRUE(XFitNameToPathLimit(name, true, W(dir.path()).p));
    EXPECT_EQ(name.Length(), 254);
    EXPECT_TRUE(name.EndsWith(L".mp4"));
    Touch(dir.file(U(name)));

    XStr shortName = W("short.mp4");
    ASSERT_TRUE(XFitNameToPathLimit(shortName, true, W(dir.path()).p));
    EXPECT_EQ(U(shortName), "short.mp4");

    // Even one character of base cannot make room for a 300-byte extension.
    XStr hopeless = W("a." + std::string(300, 'e'));
    const XStr before = hopeless;
    EXPECT_FALSE(XFitNameToPathLimit(hopeless, true, W(dir.path()).p));
    EXPECT_TRUE(hopeless == before);
}

TEST(XFileName, MatchMask)
{
    EXPECT_TRUE(XMatchMask(L"a.mp4", L"*.MP4"));
    EXPECT_TRUE(XMatchMask(L"noext", L"*"));
    EXPECT_TRUE(XMatchMask(L"abcabd", L"*abd"));
    EXPECT_TRUE(XMatchMask(L"a1b", L"a?b"));
    EXPECT_FALSE(XMatchMask(L"ab", L"a?b"));
    EXPECT_FALSE(XMatchMask(L"a.mp4x", L"*.mp4"));
    EXPECT_TRUE(XMatchMask(L"", L"*"));
    EXPECT_FALSE(XMatchMask(L"\u00c9", L"\u00e9")); // folding is ASCII only
}

TEST(XFileName, LookUpsTakeWildcardsLiterally)
{
    TestTempDir dir;
    Touch(dir.file("Whatx.mp4"), "12345");
    EXPECT_FALSE(XFileExists(W(dir.file("What?.mp4")).p));
    bool missing = false;
    EXPECT_EQ(XGetFileSize(W(dir.file("What*")).p, &missing), 0u);
    EXPECT_TRUE(missing);
    EXPECT_EQ(XGetFileWriteTime(W(dir.file("What?.mp4")).p), 0u);

    Touch(dir.file("a*b?"), "123");
    EXPECT_TRUE(XFileExists(W(dir.file("a*b?")).p));
    EXPECT_EQ(XGetFileSize(W(dir.file("a*b?")).p, &missing), 3u);
    EXPECT_FALSE(missing);
    bool isFolder = true;
    EXPECT_TRUE(XFileExists(W(dir.path()).p, &isFolder));
    EXPECT_TRUE(isFolder);
    EXPECT_FALSE(XFileExists(L""));
}

TEST(XFileName, FileTimes)
{
    TestTempDir dir;
    Touch(dir.file("t"));
    XFileTimes times;
    times.AccessSeconds = 1000000000;
    times.AccessNanoseconds = 123456789;
    times.WriteSeconds = 981173106; // 2001-02-03 04:05:06 UTC
    times.WriteNanoseconds = 999999999;
    ASSERT_TRUE(XSetFileTimes(W(dir.file("t")).p, times));
    XFileTimes read;
    ASSERT_TRUE(XGetFileTimes(W(dir.file("t")).p, read));
    EXPECT_EQ(read.WriteSeconds, 981173106);
    EXPECT_EQ(read.WriteNanoseconds, 999999000); // microseconds are what utimes carries
    EXPECT_EQ(XGetFileWriteTime(W(dir.file("t")).p), 981173106ULL * 10000000ULL + 116444736000000000ULL);
    EXPECT_EQ(XGetFileAccessTime(W(dir.file("t")).p), 1000000000ULL * 10000000ULL + 116444736000000000ULL);
    EXPECT_NE(XGetFileCreateTime(W(dir.file("t")).p), 0u);
    EXPECT_FALSE(XGetFileTimes(W(dir.file("missing")).p, read));
}

TEST(XFileName, CreateFolderTree)
{
    TestTempDir dir;
    EXPECT_TRUE(XCreateFolderTree(W(dir.file("a/b/c")).p));
    struct stat st;
    ASSERT_EQ(stat((dir.file("a/b/c")).c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_TRUE(XCreateFolderTree(W(dir.file("a/b/c/")).p)); // existing is fine
    EXPECT_TRUE(XCreateFolderTreeWithMode(W(dir.file("m")).p, 0700));
    ASSERT_EQ(stat((dir.file("m")).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    Touch(dir.file("file"));
    EXPECT_FALSE(XCreateFolderTree(W(dir.file("file")).p)); // a file is no folder
    EXPECT_FALSE(XCreateFolderTree(W(dir.file("file/sub")).p));
    EXPECT_FALSE(XCreateFolderTree(L""));
}

TEST(XFileName, CreateFolderTreeNeverMakesAVolume)
{
    const std::string missing = "/mnt/xfilename-test-not-mounted-" + std::to_string(getpid());
    if (!XIsVolumeRootFolder(W("/mnt")) || access("/mnt", F_OK) != 0)
        GTEST_SKIP() << "/mnt is no volume root here";
    EXPECT_FALSE(XCreateFolderTree(W(missing + "/x").p));
    EXPECT_NE(access(missing.c_str(), F_OK), 0);
}

TEST(XFindFile, WalksWithMask)
{
    TestTempDir dir;
    Touch(dir.file("a.mp4"));
    Touch(dir.file("b.MP4"));
    Touch(dir.file("noext"));
    ASSERT_EQ(mkdir((dir.file("sub")).c_str(), 0700), 0);
    ASSERT_EQ(symlink("missing-target", (dir.file("broken.mp4")).c_str()), 0);

    std::set<std::string> all;
    XFindFile every(L"*.*", W(dir.path() + "/").p);
    while (every.Next())
        all.insert(U(every.Path));
    EXPECT_EQ(all, (std::set<std::string>{dir.file("a.mp4"), dir.file("b.MP4"), dir.file("noext"), dir.file("sub")}));

    std::set<std::string> media;
    XFindFile masked(L"*.mp4", W(dir.path()).p);
    while (masked.Next())
        media.insert(U(masked.Path));
    EXPECT_EQ(media, (std::set<std::string>{dir.file("a.mp4"), dir.file("b.MP4")}));

    XFindFile folders(L"*.*", W(dir.path()).p);
    ASSERT_TRUE(folders.NextFolder());
    EXPECT_EQ(U(folders.Path), dir.file("sub"));
    EXPECT_TRUE(folders.IsFolder());
    EXPECT_FALSE(folders.Next());

    XFindFile onePath(W(dir.file("a.mp4")).p);
    ASSERT_TRUE(onePath.Next());
    EXPECT_EQ(U(onePath.Path), dir.file("a.mp4"));
    EXPECT_EQ(onePath.GetSize(), 1);
    EXPECT_FALSE(onePath.Next());
    XFindFile missing(W(dir.file("nothing")).p);
    EXPECT_FALSE(missing.Next());

    XFindFile maskPath(W(dir.file("*.MP4")).p);
    EXPECT_EQ(U(maskPath.Mask), "*.MP4");
    int count = 0;
    while (maskPath.Next())
        count++;
    EXPECT_EQ(count, 2);

    XFindFile root(L"*.*", L"/");
    ASSERT_TRUE(root.Next());
    EXPECT_EQ(root.Path.p[0], L'/');
    EXPECT_NE(root.Path.p[1], L'/');
}

TEST(XFindFile, SystemFolders)
{
    TestTempDir dir;
    ASSERT_EQ(mkdir((dir.file("@eaDir")).c_str(), 0700), 0);
    ASSERT_EQ(mkdir((dir.file("#RECYCLE")).c_str(), 0700), 0);
    ASSERT_EQ(mkdir((dir.file("normal")).c_str(), 0700), 0);
    int system = 0;
    XFindFile find(L"*.*", W(dir.path()).p);
    while (find.Next())
        system += find.IsSystemFolder();
    EXPECT_EQ(system, 2);
}
