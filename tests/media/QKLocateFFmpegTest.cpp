// Finding ffmpeg and ffprobe, and installing the user's own ffmpeg into a private
// application-data folder (_APPDATA_OVERRIDE) of each test.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "common/MediaTestFiles.h"
#include "common/QtWait.h"
#include "common/TestEnv.h"
#include "media/QKExternalFFmpeg.h"
#include "media/QKLocateFFmpeg.h"
#include "xclass/XEnvironment.h"
#include "xclass/XFileName.h"

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::set<std::string> FolderEntries(const std::string& path)
{
    std::set<std::string> names;
    if (DIR* dir = opendir(path.c_str())) {
        while (dirent* entry = readdir(dir))
            if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..")
                names.insert(entry->d_name);
        closedir(dir);
    }
    return names;
}

void WriteScript(const std::string& path, const std::string& body)
{
    WriteTextFile(path, "#!/bin/sh\n" + body);
    chmod(path.c_str(), 0755);
}

bool ShippedInResources(const wchar_t* name)
{
    XFileName shipped(XGetResourcesFolder());
    shipped.AppendPath(name);
    return XFileExists(shipped);
}

class QKLocateFFmpegTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        XSetAppDataFolder(L"MarvoniVideo");
        m_savedPath = XGetEnv("PATH");
        // The tests change PATH; the scope puts it back as it was.
        m_path.emplace("PATH", m_savedPath);
        m_override.emplace("_APPDATA_OVERRIDE", m_dir.file("app"));
        m_realFFmpeg = ProgramOnPath("ffmpeg");
        ASSERT_FALSE(m_realFFmpeg.empty());
        QKLocateFFmpeg::forgetEncoderAnswers();
    }
    void TearDown() override
    {
        m_override.reset();
        m_path.reset();
        QKExternalFFmpeg::setProbe(nullptr);
        QKLocateFFmpeg::forgetEncoderAnswers();
    }

    std::string appFolder() const { return m_dir.file("app/MarvoniVideo"); }
    std::string installed() const { return appFolder() + "/ffmpeg"; }
    std::string marker() const { return appFolder() + "/ffmpeg.auto"; }

    // An archive of the folder's top-level entry given.
    std::string MakeArchive(const std::string& name, const std::string& root, const std::string& member)
    {
        const std::string archive = m_dir.file(name);
        const bool bz2 = name.size() > 8 && name.substr(name.size() - 8) == ".tar.bz2";
        EXPECT_TRUE(RunProgramQuietly({"tar", "--force-local", "-C", root, bz2 ? "-cjf" : "-czf", archive, member}));
        return archive;
    }
    // An archive holding the real ffmpeg at relative (for example "bin/ffmpeg").
    std::string ArchiveWithFFmpegAt(const std::string& name, const std::string& relative)
    {
        const std::string root = m_dir.file("root-" + std::to_string(m_roots++));
        const std::string target = root + "/" + relative;
        EXPECT_TRUE(RunProgramQuietly({"mkdir", "-p", target.substr(0, target.rfind('/'))}));
        EXPECT_TRUE(RunProgramQuietly({"cp", m_realFFmpeg, target}));
        return MakeArchive(name, root, relative.substr(0, relative.find('/')));
    }
    bool Install(const std::string& path, bool isAuto, XStr* error = nullptr)
    {
        XStr why;
        const bool ok = QKLocateFFmpeg::installFrom(XStr::FromUTF8(path), isAuto, &why);
        if (error)
            *error = why;
        EXPECT_EQ(ok, why.IsEmpty()) << why.ToUTF8String();
        return ok;
    }

    TestTempDir m_dir;
    std::string m_realFFmpeg;
    std::string m_savedPath;
    std::optional<TestEnvScope> m_path;
    std::optional<TestEnvScope> m_override;
    int m_roots = 0;
};

TEST_F(QKLocateFFmpegTest, InstallsFromArchivesAndFilesAndReverts)
{
    const std::string before = QKLocateFFmpeg::locateFFmpeg().ToUTF8String();
    EXPECT_NE(before, installed());
    EXPECT_FALSE(QKLocateFFmpeg::haveInstalledFFmpeg());
    EXPECT_EQ(QKLocateFFmpeg::pathToExternalFFmpeg().ToUTF8String(), installed());

    // gzip, the executable in bin/; picked by the user: no marker.
    ASSERT_TRUE(Install(ArchiveWithFFmpegAt("build.tar.gz", "bin/ffmpeg"), false));
    EXPECT_EQ(QKLocateFFmpeg::locateFFmpeg().ToUTF8String(), installed());
    EXPECT_EQ(ReadFile(installed()), ReadFile(m_realFFmpeg));
    EXPECT_EQ(access(installed().c_str(), X_OK), 0);
    EXPECT_FALSE(QKLocateFFmpeg::isAutoInstalled());
    EXPECT_TRUE(QKLocateFFmpeg::haveExternalFFmpeg());

    // bzip2, the executable at the top; downloaded: marker.
    ASSERT_TRUE(Install(ArchiveWithFFmpegAt("top.tar.bz2", "ffmpeg"), true));
    EXPECT_TRUE(QKLocateFFmpeg::isAutoInstalled());

    // A picked executable named exactly "ffmpeg" is copied as it is; the marker goes.
    const std::string picked = m_dir.file("picked");
    ASSERT_TRUE(RunProgramQuietly({"mkdir", picked}));
    ASSERT_TRUE(RunProgramQuietly({"cp", m_realFFmpeg, picked + "/ffmpeg"}));
    ASSERT_TRUE(Install(picked + "/ffmpeg", false));
    EXPECT_FALSE(QKLocateFFmpeg::isAutoInstalled());
    EXPECT_EQ(ReadFile(installed()), ReadFile(m_realFFmpeg));

    // Nothing but the copy is left in the folder: no staging files, no unpacked trees.
    EXPECT_EQ(FolderEntries(appFolder()), (std::set<std::string>{"ffmpeg"}));

    QKLocateFFmpeg::revertToInternal();
    EXPECT_FALSE(PathExists(installed()));
    EXPECT_FALSE(PathExists(marker()));
    EXPECT_EQ(QKLocateFFmpeg::locateFFmpeg().ToUTF8String(), before);
}

TEST_F(QKLocateFFmpegTest, RefusedOrFailedInstallsKeepTheCopyThatWorked)
{
    ASSERT_TRUE(Install(ArchiveWithFFmpegAt("good.tar.bz2", "bin/ffmpeg"), true));
    const std::string good = ReadFile(installed());

    // Wrong names: no archive step, nothing touched.
    const std::string odd = m_dir.file("odd");
    ASSERT_TRUE(RunProgramQuietly({"mkdir", odd}));
    for (const char* name : {"FFmpeg", "ffmpeg.exe", "ffmpeg.zip", "ffmpeg.TAR.GZ"}) {
        ASSERT_TRUE(RunProgramQuietly({"cp", m_realFFmpeg, odd + "/" + name}));
        XStr error;
        EXPECT_FALSE(Install(odd + "/" + name, false, &error)) << name;
        EXPECT_FALSE(error.IsEmpty());
    }
    // The executable only deeper than bin/: refused.
    XStr error;
    EXPECT_FALSE(Install(ArchiveWithFFmpegAt("deep.tar.gz", "ffmpeg-5.1-static/bin/ffmpeg"), false, &error));
    EXPECT_NE(error.Find(L"holds no ffmpeg"), 0) << error.ToUTF8String();

    // An archive that is no archive at all.
    WriteTextFile(m_dir.file("broken.tar.gz"), std::string(2000, 'x'));
    EXPECT_FALSE(Install(m_dir.file("broken.tar.gz"), false, &error));
    EXPECT_NE(error.Find(L"tar"), 0) << error.ToUTF8String();
    // A missing one.
    EXPECT_FALSE(Install(m_dir.file("missing.tar.bz2"), false, &error));

    // An "ffmpeg" that is no program, and one that fails -version.
    const std::string bad = m_dir.file("bad");
    ASSERT_TRUE(RunProgramQuietly({"mkdir", "-p", bad + "/bin"}));
    WriteTextFile(bad + "/bin/ffmpeg", "this is not a program\n");
    EXPECT_FALSE(Install(MakeArchive("text.tar.gz", bad, "bin"), false, &error));
    EXPECT_NE(error.Find(L"does not run"), 0) << error.ToUTF8String();
    WriteScript(bad + "/bin/ffmpeg", "echo broken >&2\nexit 1\n");
    EXPECT_FALSE(Install(MakeArchive("fails.tar.gz", bad, "bin"), false, &error));
    EXPECT_NE(error.Find(L"broken"), 0) << error.ToUTF8String();

    // Through all of it the working copy and its marker stayed, and nothing was left behind.
    EXPECT_EQ(ReadFile(installed()), good);
    EXPECT_TRUE(QKLocateFFmpeg::isAutoInstalled());
    EXPECT_EQ(FolderEntries(appFolder()), (std::set<std::string>{"ffmpeg", "ffmpeg.auto"}));
}

TEST_F(QKLocateFFmpegTest, ArchiveNamesReachTarAsTheyAre)
{
    const std::string name = "a \"b\" $(touch pwned) `touch pw2` c\\d:e -x.tar.gz";
    const std::string archive = ArchiveWithFFmpegAt(name, "bin/ffmpeg");
    ASSERT_TRUE(PathExists(archive));
    char saved[4096];
    ASSERT_TRUE(getcwd(saved, sizeof saved));
    ASSERT_EQ(chdir(m_dir.path().c_str()), 0);
    const bool ok = Install(name, false); // relative, from the archive's folder
    ASSERT_EQ(chdir(saved), 0);
    EXPECT_TRUE(ok);
    EXPECT_EQ(ReadFile(installed()), ReadFile(m_realFFmpeg));
    EXPECT_FALSE(PathExists(m_dir.file("pwned")));
    EXPECT_FALSE(PathExists(m_dir.file("pw2")));
    EXPECT_FALSE(PathExists("pwned"));
}

TEST_F(QKLocateFFmpegTest, ExternalMeansInstalledOrListingLibx264AskedOncePerPath)
{
    if (ShippedInResources(L"ffmpeg") || ShippedInResources(L"ffprobe"))
        GTEST_SKIP() << "the resources folder ships its own ffmpeg or ffprobe";
    const std::string full = m_dir.file("full"), lean = m_dir.file("lean");
    ASSERT_TRUE(RunProgramQuietly({"mkdir", full, lean}));
    const std::string count = m_dir.file("asked");
    WriteScript(full + "/ffmpeg", "echo asked >> '" + count +
                                      "'\n"
                                      "echo 'Encoders:'\necho ' V..... = Video'\necho ' ------'\n"
                                      "echo ' V....D libx264              libx264 H.264 / AVC'\n");
    WriteScript(full + "/ffprobe", "exit 0\n");
    WriteScript(lean + "/ffmpeg", "echo ' V....D mpeg4   MPEG-4 part 2'\necho ' V....D libx264rgb   rgb only'\n");

    QKLocateFFmpeg::installHooks();
    XSetEnv("PATH", (full + ":" + m_savedPath).c_str());
    EXPECT_EQ(QKLocateFFmpeg::locateFFmpeg().ToUTF8String(), full + "/ffmpeg");
    EXPECT_EQ(QKLocateFFmpeg::locateFFprobe().ToUTF8String(), full + "/ffprobe");
    EXPECT_TRUE(QKLocateFFmpeg::haveExternalFFmpeg());
    EXPECT_TRUE(QKExternalFFmpeg::haveExternalFFmpeg());
    EXPECT_EQ(ReadFile(count), "asked\n"); // the second answer came from the cache

    XSetEnv("PATH", (lean + ":" + m_savedPath).c_str());
    EXPECT_EQ(QKLocateFFmpeg::locateFFmpeg().ToUTF8String(), lean + "/ffmpeg");
    EXPECT_FALSE(QKLocateFFmpeg::haveExternalFFmpeg());
    EXPECT_FALSE(QKExternalFFmpeg::haveExternalFFmpeg());
    EXPECT_TRUE(QKLocateFFmpeg::ffmpegHasEncoder(XStr::FromUTF8(lean + "/ffmpeg"), L"mpeg4"));

    // An installed copy counts, whatever it lists, and comes before PATH.
    ASSERT_TRUE(Install(ArchiveWithFFmpegAt("mine.tar.gz", "bin/ffmpeg"), false));
    EXPECT_EQ(QKLocateFFmpeg::locateFFmpeg().ToUTF8String(), installed());
    EXPECT_TRUE(QKExternalFFmpeg::haveExternalFFmpeg());

    // No ffmpeg anywhere: none to run, nothing external.
    QKLocateFFmpeg::revertToInternal();
    XSetEnv("PATH", m_dir.file("nowhere").c_str());
    EXPECT_TRUE(QKLocateFFmpeg::locateFFmpeg().IsEmpty());
    EXPECT_TRUE(QKLocateFFmpeg::locateFFprobe().IsEmpty());
    EXPECT_FALSE(QKLocateFFmpeg::haveExternalFFmpeg());
}

} // namespace

TEST_F(QKLocateFFmpegTest, ChangedFFmpegAtTheSamePathIsAskedAgain)
{
    const std::string folder = m_dir.file("swapped");
    ASSERT_TRUE(RunProgramQuietly({"mkdir", folder}));
    const std::string ffmpeg = folder + "/ffmpeg", count = m_dir.file("asked-swapped");
    const auto writeStandIn = [&](bool listsX264, long seconds) {
        WriteScript(ffmpeg, "echo asked >> '" + count + "'\necho ' V....D mpeg4   MPEG-4 part 2'\n" +
                                (listsX264 ? "echo ' V....D libx264   H.264'\n" : ""));
        const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, ffmpeg.c_str(), times, 0), 0);
    };
    const XStr path = XStr::FromUTF8(ffmpeg);

    writeStandIn(false, 1000000000);
    EXPECT_FALSE(QKLocateFFmpeg::ffmpegHasEncoder(path, L"libx264"));
    EXPECT_FALSE(QKLocateFFmpeg::ffmpegHasEncoder(path, L"libx264"));
    EXPECT_EQ(ReadFile(count), "asked\n"); // unchanged: the remembered answer

    // A full build put in its place, with a new time: asked again, and the new answer kept.
    writeStandIn(true, 1000000100);
    EXPECT_TRUE(QKLocateFFmpeg::ffmpegHasEncoder(path, L"libx264"));
    EXPECT_TRUE(QKLocateFFmpeg::ffmpegHasEncoder(path, L"libx264"));
    EXPECT_EQ(ReadFile(count), "asked\nasked\n");

    // The same bytes with only a new time: asked again as well.
    writeStandIn(true, 1000000200);
    EXPECT_TRUE(QKLocateFFmpeg::ffmpegHasEncoder(path, L"libx264"));
    EXPECT_EQ(ReadFile(count), "asked\nasked\nasked\n");
}

TEST_F(QKLocateFFmpegTest, ThreadsAskingAtOnceShareOneAnswer)
{
    const std::string folder = m_dir.file("shared");
    ASSERT_TRUE(RunProgramQuietly({"mkdir", folder}));
    const std::string count = m_dir.file("asked-shared");
    WriteScript(folder + "/ffmpeg", "echo asked >> '" + count + "'\necho ' V....D libx264   H.264'\n");
    const XStr path = XStr::FromUTF8(folder + "/ffmpeg");
    std::vector<std::thread> threads;
    std::atomic<int> yes{0};
    for (int i = 0; i < 8; i++)
        threads.emplace_back([&] { yes += QKLocateFFmpeg::ffmpegHasEncoder(path, L"libx264") ? 1 : 0; });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(yes.load(), 8);
    EXPECT_EQ(ReadFile(count), "asked\n");
}

namespace {

// Whether the process has ended: no such process, or one that is only waiting to be reaped.
bool ProcessGone(pid_t pid)
{
    if (kill(pid, 0) != 0)
        return errno == ESRCH;
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z';
}

class QKInstallCheckTest : public QKLocateFFmpegTest {
protected:
    void SetUp() override
    {
        QKLocateFFmpegTest::SetUp();
        // The working copy every refused archive must leave as it is, marker included.
        ASSERT_TRUE(Install(ArchiveWithFFmpegAt("good.tar.bz2", "bin/ffmpeg"), true));
        m_good = ReadFile(installed());
    }
    void TearDown() override
    {
        QKLocateFFmpeg::setCheckTimeoutMs(0);
        QKLocateFFmpegTest::TearDown();
    }

    // A fresh folder to pack; made beside the archives.
    std::string Root()
    {
        const std::string root = m_dir.file("hostile-" + std::to_string(m_roots++));
        EXPECT_TRUE(RunProgramQuietly({"mkdir", "-p", root}));
        return root;
    }
    // Installing the archive is refused with a reason holding expected, and the working copy
    // is byte for byte what it was.
    void ExpectRefused(const std::string& archive, const std::string& expected)
    {
        XStr error;
        EXPECT_FALSE(Install(archive, true, &error)) << archive;
        EXPECT_NE(error.ToUTF8String().find(expected), std::string::npos) << archive << ": " << error.ToUTF8String();
        EXPECT_TRUE(ReadFile(installed()) == m_good) << archive;
        EXPECT_TRUE(QKLocateFFmpeg::isAutoInstalled()) << archive;
        EXPECT_EQ(FolderEntries(appFolder()), (std::set<std::string>{"ffmpeg", "ffmpeg.auto"})) << archive;
    }

    std::string m_good;
};

TEST_F(QKInstallCheckTest, AProgramThatDoesNotAnswerAsFFmpegIsRefused)
{
    std::string root = Root();
    WriteScript(root + "/ffmpeg", "echo hello\n");
    ExpectRefused(MakeArchive("hello.tar.bz2", root, "ffmpeg"), "begins with \"hello\", not \"ffmpeg version\"");

    // Close is not enough: the text must begin the answer, on standard output.
    root = Root();
    WriteScript(root + "/ffmpeg", "echo 'this is ffmpeg version 6'\n");
    ExpectRefused(MakeArchive("late.tar.bz2", root, "ffmpeg"), "not \"ffmpeg version\"");
    root = Root();
    WriteScript(root + "/ffmpeg", "echo 'ffmpeg version 6' >&2\n");
    ExpectRefused(MakeArchive("stderr.tar.bz2", root, "ffmpeg"), "prints nothing");

    // A file the user picks is held to the same answer.
    const std::string picked = Root();
    WriteScript(picked + "/ffmpeg", "echo hello\n");
    XStr error;
    EXPECT_FALSE(Install(picked + "/ffmpeg", false, &error));
    EXPECT_NE(error.Find(L"no ffmpeg"), 0) << error.ToUTF8String();
    EXPECT_TRUE(ReadFile(installed()) == m_good);
    EXPECT_TRUE(QKLocateFFmpeg::isAutoInstalled());
}

TEST_F(QKInstallCheckTest, LinksInTheArchiveAreNotFollowed)
{
    // ffmpeg itself a link to another program.
    std::string root = Root();
    ASSERT_EQ(symlink("/bin/echo", (root + "/ffmpeg").c_str()), 0);
    ExpectRefused(MakeArchive("echo.tar.bz2", root, "ffmpeg"), "\"ffmpeg\" is a link (to \"/bin/echo\")");

    // bin a link to the system's folder, where a real ffmpeg lies: still not the archive's.
    root = Root();
    ASSERT_EQ(symlink("/usr/bin", (root + "/bin").c_str()), 0);
    ExpectRefused(MakeArchive("usrbin.tar.bz2", root, "bin"), "\"bin\" is a link (to \"/usr/bin\")");
    root = Root();
    ASSERT_EQ(symlink(m_realFFmpeg.c_str(), (root + "/ffmpeg").c_str()), 0);
    ExpectRefused(MakeArchive("real-elsewhere.tar.bz2", root, "ffmpeg"), "is a link");

    // A link that stays inside the archive is no program of the archive's own either.
    root = Root();
    ASSERT_TRUE(RunProgramQuietly({"mkdir", "-p", root + "/pack/bin"}));
    WriteScript(root + "/pack/real", "echo 'ffmpeg version 9'\n");
    ASSERT_EQ(symlink("../real", (root + "/pack/bin/ffmpeg").c_str()), 0);
    ExpectRefused(MakeArchive("inner-link.tar.bz2", root + "/pack", "."), "\"bin/ffmpeg\" is a link");

    // A folder named ffmpeg is passed over for bin/ffmpeg, which must be a file.
    root = Root();
    ASSERT_TRUE(RunProgramQuietly({"mkdir", "-p", root + "/pack/ffmpeg", root + "/pack/bin/ffmpeg"}));
    ExpectRefused(MakeArchive("folders.tar.bz2", root + "/pack", "."), "holds no ffmpeg");
}

TEST_F(QKInstallCheckTest, ACandidateThatHangsIsKilledWithWhatItStarted)
{
    const std::string root = Root();
    // Long enough for the script to write its children's ids on a loaded machine.
    QKLocateFFmpeg::setCheckTimeoutMs(10000);
    const std::string pids = m_dir.file("pids");
    // It starts a child that holds the answer's pipe open, then sleeps itself.
    WriteScript(root + "/ffmpeg", "sleep 300 &\necho $! > '" + pids + "'\necho $$ >> '" + pids + "'\nsleep 300\n");
    const auto start = std::chrono::steady_clock::now();
    ExpectRefused(MakeArchive("hangs.tar.bz2", root, "ffmpeg"), "did not answer \"-version\" within 10 seconds");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(120));
    std::istringstream lines(ReadFile(pids));
    std::vector<pid_t> started;
    for (pid_t pid; lines >> pid;)
        started.push_back(pid);
    ASSERT_EQ(started.size(), 2u) << ReadFile(pids);
    for (const pid_t pid : started)
        EXPECT_TRUE(WaitFor([pid] { return ProcessGone(pid); }, 300000)) << "process " << pid << " still runs";

    // One that answers at once but leaves a child running is not left behind either.
    const std::string quick = Root();
    const std::string childPid = m_dir.file("child-pid");
    QKLocateFFmpeg::setCheckTimeoutMs(0);
    WriteScript(quick + "/ffmpeg",
                "sleep 300 > /dev/null 2>&1 &\necho $! > '" + childPid + "'\necho 'ffmpeg version 7'\n");
    ASSERT_TRUE(Install(MakeArchive("quick.tar.bz2", quick, "ffmpeg"), false));
    const pid_t child = static_cast<pid_t>(std::stol(ReadFile(childPid)));
    EXPECT_TRUE(WaitFor([child] { return ProcessGone(child); }, 300000)) << "process " << child << " still runs";
}

TEST_F(QKInstallCheckTest, AnyProgramAnsweringAsFFmpegFromInsideTheArchiveIsInstalled)
{
    const std::string root = Root();
    ASSERT_TRUE(RunProgramQuietly({"mkdir", "-p", root + "/bin"}));
    WriteScript(root + "/bin/ffmpeg", "echo 'ffmpeg version 9.9-test Copyright (c) the testers'\n");
    ASSERT_TRUE(Install(MakeArchive("stand-in.tar.bz2", root, "bin"), true));
    EXPECT_EQ(ReadFile(installed()), ReadFile(root + "/bin/ffmpeg"));
    EXPECT_TRUE(QKLocateFFmpeg::isAutoInstalled());
    EXPECT_EQ(FolderEntries(appFolder()), (std::set<std::string>{"ffmpeg", "ffmpeg.auto"}));
}

} // namespace
