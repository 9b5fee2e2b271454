#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <fstream>
#include <optional>
#include <string>

#include "common/MediaTestFiles.h"
#include "common/TestEnv.h"
#include "common/ToolRun.h"
#include "engine/KRABatch.h"
#include "engine/QKConvertProcessShared.h"
#include "platform/XWorkspace.h"
#include "xclass/XEnvironment.h"
#include "xclass/XFileName.h"
#include "xclass/XPlatform.h"

namespace {

class Recorder : public KRAStatusCallback {
public:
    QStringList errors;
    QStringList warnings;
    void onWarningLine(const QString& line) override { warnings.append(line); }
    void onLengthMS(uint64_t) override {}
    void onPercentDone(int) override {}
    void onFPS(double) override {}
    void onInfoLine(const QString&) override {}
    void onErrorLine(const QString& line) override { errors.append(line); }
    void onAction(const QString&) override {}
};

// A home of its own with the trash inside it, so that nothing reaches the real one.
class AfterConversion : public ::testing::Test {
protected:
    TestTempDir dir;
    std::string home = dir.file("home");
    TestEnvScope homeScope{"HOME", home};
    TestEnvScope dataScope{"XDG_DATA_HOME", home + "/.local/share"};
    TestEnvScope configScope{"XDG_CONFIG_HOME", home + "/.config"};
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();

    void SetUp() override { ASSERT_TRUE(XCreateFolderTree(XStr::FromUTF8(home + "/.config"))); }

    std::string make(const std::string& relative, const std::string& text = "data\n")
    {
        const std::string path = dir.file(relative);
        XCreateFolderTree(XFileName(XStr::FromUTF8(path)).GetFolder());
        WriteTextFile(path, text);
        return path;
    }

    KRAProcessArg arg(const QKDSPChain& effects, const std::string& source, const std::string& dest)
    {
        auto spec = std::make_shared<QKConversionSpec>();
        spec->dspEffects = effects;
        KRAProcessArg result;
        result.srcFrom = QKConvertSource::withURL(XFileURL(XStr::FromUTF8(source)));
        result.urlTo = XFileURL(XStr::FromUTF8(dest));
        result.callback = recorder;
        result.specialActions2 = KRABatch(spec).prepareSpecialActions(nullptr);
        return result;
    }

    std::string trashed(const std::string& name) const { return home + "/.local/share/Trash/files/" + name; }
};

const QKDSPSpec kRecycleAndTidy(QStringLiteral("Delete Source File"),
                                QStringLiteral("-DELSOURCERECYCLE -DELSOURCEREMOVEEMPTY"));

TEST_F(AfterConversion, RecycledSourceTakesItsEmptiedFoldersWithIt)
{
    const std::string source = make("in/a/b/clip.mov");
    make("in/keep.txt");
    const std::string dest = make("out.mp4");
    QKConvertProcessShared::conversionFinished(arg({kRecycleAndTidy}, source, dest), true);
    EXPECT_FALSE(PathExists(source));
    EXPECT_TRUE(PathExists(trashed("clip.mov")));
    EXPECT_FALSE(PathExists(dir.file("in/a")));
    EXPECT_TRUE(PathExists(dir.file("in/keep.txt"))); // the first folder that is not empty stays
    EXPECT_TRUE(PathExists(dest));
    EXPECT_TRUE(recorder->errors.isEmpty());
}

TEST_F(AfterConversion, DeletingForGoodLeavesTheFoldersUnlessAsked)
{
    const std::string source = make("in/a/clip.mov");
    const std::string dest = make("out.mp4");
    QKConvertProcessShared::conversionFinished(
        arg({QKDSPSpec(QStringLiteral("Delete Source File"), QString())}, source, dest), true);
    EXPECT_FALSE(PathExists(source));
    EXPECT_FALSE(PathExists(trashed("clip.mov")));
    EXPECT_TRUE(PathExists(dir.file("in/a")));
}

TEST_F(AfterConversion, SourceSurvivesFailureAndBeingItsOwnOutput)
{
    const std::string source = make("in/clip.mov");
    const std::string other = make("in/other.mov");
    QKConvertProcessShared::conversionFinished(arg({kRecycleAndTidy}, source, dir.file("never.mp4")), false);
    EXPECT_TRUE(PathExists(source));

    // A damaged source whose output was kept with warnings stays: it may hold what the output
    // lacks. The log says why, as a warning, not as a failure.
    const std::string kept = make("out-kept.mp4");
    QKConvertProcessShared::conversionFinished(arg({kRecycleAndTidy}, source, kept), true, nullptr, true);
    EXPECT_TRUE(PathExists(source));
    EXPECT_TRUE(recorder->errors.isEmpty()) << recorder->errors.join("\n").toStdString();
    ASSERT_EQ(recorder->warnings.size(), 1);
    EXPECT_TRUE(recorder->warnings[0].startsWith("The source file was kept: ")) << recorder->warnings[0].toStdString();

    // Converted onto itself: the output replaced the source, which must not go now. The
    // same file under another spelling of its path, or another link, is the same file.
    QKConvertProcessShared::conversionFinished(arg({kRecycleAndTidy}, source, source), true);
    EXPECT_TRUE(PathExists(source));
    QKConvertProcessShared::conversionFinished(arg({kRecycleAndTidy}, dir.file("in//./clip.mov"), source), true);
    EXPECT_TRUE(PathExists(source));
    ASSERT_EQ(link(other.c_str(), dir.file("linked.mov").c_str()), 0);
    QKConvertProcessShared::conversionFinished(arg({kRecycleAndTidy}, other, dir.file("linked.mov")), true);
    EXPECT_TRUE(PathExists(other));
    EXPECT_TRUE(recorder->errors.isEmpty());

    // A "successful" run that left no output keeps its source, and says so.
    QKConvertProcessShared::conversionFinished(arg({kRecycleAndTidy}, source, dir.file("missing.mp4")), true);
    EXPECT_TRUE(PathExists(source));
    EXPECT_EQ(recorder->errors.size(), 1);
}

TEST_F(AfterConversion, OnlyARealOutputLetsTheSourceGo)
{
    const std::string source = make("in/clip.mov");
    const std::string other = make("elsewhere.mp4");
    const QKDSPSpec forGood(QStringLiteral("Delete Source File"), QString());
    // Outputs that cannot stand in for the source: each keeps it, with an error line.
    std::string fifo = dir.file("fifo.mkv");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string folder = dir.file("folder.mkv");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    make("folder.mkv/inner", "x");
    std::string toSource = dir.file("to-source.mkv");
    ASSERT_EQ(symlink(source.c_str(), toSource.c_str()), 0);
    std::string toOther = dir.file("to-other.mkv");
    ASSERT_EQ(symlink(other.c_str(), toOther.c_str()), 0);
    const std::string empty = make("empty.mkv", "");
    int expectedErrors = 0;
    for (const std::string& dest : {empty, folder, fifo, toSource, toOther, dir.file("missing.mkv")}) {
        for (const QKDSPSpec& effect : {forGood, kRecycleAndTidy}) {
            SCOPED_TRACE(dest + " " + effect.args.toStdString());
            QKConvertProcessShared::conversionFinished(arg({effect}, source, dest), true);
            EXPECT_TRUE(PathExists(source));
            ASSERT_EQ(recorder->errors.size(), ++expectedErrors);
            EXPECT_TRUE(recorder->errors.last().contains(QStringLiteral("kept")))
                << recorder->errors.last().toStdString();
        }
    }
    EXPECT_FALSE(PathExists(trashed("clip.mov")));

    // From the command line: an empty output keeps the source and fails the run.
    const ToolRunResult tool =
        RunTestTool(TestToolPath("engine-tool"),
                    {"after", "--success", "--effect", "Delete Source File=", "--src", source, "--dst", empty});
    EXPECT_EQ(tool.status, 1) << tool.err;
    EXPECT_NE(tool.err.find("is empty"), std::string::npos) << tool.err;
    EXPECT_TRUE(PathExists(source));

    // A regular file with data is an output.
    QKConvertProcessShared::conversionFinished(arg({forGood}, source, other), true);
    EXPECT_FALSE(PathExists(source));
    EXPECT_EQ(recorder->errors.size(), expectedErrors);
}

// The usual second disk: its top folder belongs to root (mode 0755) and the user's folder is
// inside, so the user may make no trash there. The run is that of an ordinary user (as root:
// "nobody"), whose home trash cannot be made either.
TEST_F(AfterConversion, ASourceWithNoUsableTrashIsKeptNotDeleted)
{
    if (!CanRunAsOrdinaryUser())
        GTEST_SKIP() << "running as root without setpriv: cannot act as an ordinary user";
    const uid_t uid = OrdinaryTestUid();
    const gid_t gid = OrdinaryTestGid();
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    const std::string mine = dir.file("mine");
    ASSERT_EQ(mkdir(mine.c_str(), 0755), 0);
    ASSERT_EQ(chown(mine.c_str(), uid, gid), 0);
    const std::string top = XGetMountPoint(XStr::FromUTF8(mine)).ToUTF8String();
    struct stat topStat;
    ASSERT_EQ(stat(top.c_str(), &topStat), 0) << top;
    const bool userMayWriteTop =
        topStat.st_uid == uid || (topStat.st_mode & S_IWOTH) || (topStat.st_gid == gid && (topStat.st_mode & S_IWGRP));
    if (userMayWriteTop || PathExists(top + "/.Trash-" + std::to_string(uid)) || PathExists(top + "/.Trash"))
        GTEST_SKIP() << "the volume of the temporary folder (" << top << ") has, or lets this user make, a trash";

    const std::string source = mine + "/clip.mov";
    const std::string dest = mine + "/clip.mkv";
    WriteTextFile(source, "source");
    WriteTextFile(dest, "output");
    ASSERT_EQ(chown(source.c_str(), uid, gid), 0);
    ASSERT_EQ(chown(dest.c_str(), uid, gid), 0);
    const TestEnvScope noHome("HOME", "/nonexistent-home");
    const TestEnvScope noData("XDG_DATA_HOME", "/nonexistent-home/.local/share");
    for (const char* effect :
         {"Delete Source File=-DELSOURCERECYCLE", "Delete Source File=-DELSOURCERECYCLE -DELSOURCEREMOVEEMPTY"}) {
        SCOPED_TRACE(effect);
        const ToolRunResult result = RunTestToolAsOrdinaryUser(
            TestToolPath("engine-tool"), {"after", "--success", "--effect", effect, "--src", source, "--dst", dest});
        EXPECT_EQ(result.status, 1) << result.err;
        EXPECT_TRUE(PathExists(source));
        EXPECT_NE(result.err.find("was kept"), std::string::npos) << result.err;
        EXPECT_NE(result.err.find(".Trash-" + std::to_string(uid)), std::string::npos) << result.err;
    }
    // Asked to delete for good, the same user may.
    const ToolRunResult deleted =
        RunTestToolAsOrdinaryUser(TestToolPath("engine-tool"), {"after", "--success", "--effect",
                                                                "Delete Source File=", "--src", source, "--dst", dest});
    EXPECT_EQ(deleted.status, 0) << deleted.err;
    EXPECT_FALSE(PathExists(source));
}

TEST_F(AfterConversion, ConcatenationDeletesEveryJoinedFile)
{
    const std::string one = make("parts/one.mov");
    const std::string two = make("parts/two.mov");
    const std::string dest = make("joined.mp4");
    KRAProcessArg a = arg({kRecycleAndTidy}, one, dest);
    auto concat = std::make_shared<QKConvertSourceConcat>();
    concat->setConcatURLs({XFileURL(XStr::FromUTF8(one)), XFileURL(XStr::FromUTF8(two))});
    a.srcFrom = concat;
    QKConvertProcessShared::conversionFinished(a, true);
    EXPECT_FALSE(PathExists(one));
    EXPECT_FALSE(PathExists(two));
    EXPECT_FALSE(PathExists(dir.file("parts")));
    EXPECT_TRUE(PathExists(trashed("one.mov")));
    EXPECT_TRUE(PathExists(trashed("two.mov")));
}

TEST_F(AfterConversion, SourceTimesAreCopiedOnlyAfterSuccess)
{
    const std::string source = make("in/clip.mov");
    const std::string dest = make("out.mp4");
    XFileTimes old;
    old.AccessSeconds = 1000000000;
    old.WriteSeconds = 1000000123;
    ASSERT_TRUE(XSetFileTimes(XStr::FromUTF8(source), old));
    const QKDSPSpec preserve(QStringLiteral("Preserve Source Attributes"), QString());

    QKConvertProcessShared::conversionFinished(arg({preserve}, source, dest), false);
    struct stat st;
    ASSERT_EQ(stat(dest.c_str(), &st), 0);
    EXPECT_NE(st.st_mtime, 1000000123);

    QKConvertProcessShared::conversionFinished(arg({preserve}, source, dest), true);
    ASSERT_EQ(stat(dest.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1000000123);
    EXPECT_EQ(st.st_atime, 1000000000);
}

TEST_F(AfterConversion, HomeAndUserFoldersStayWhenEmptied)
{
    // The desktop names its videos folder "Clips" here; the conventional names count too.
    std::ofstream(home + "/.config/user-dirs.dirs") << "XDG_VIDEOS_DIR=\"$HOME/Clips\"\n";
    const std::string inClips = make("home/Clips/a.mov");
    const std::string inMovies = make("home/Movies/b.mov");
    const std::string inHome = make("home/c.mov");
    const std::string nested = make("home/Clips/sub/d.mov");
    const std::string dest = make("out.mp4");
    for (const std::string& source : {inClips, inMovies, inHome, nested})
        QKConvertProcessShared::conversionFinished(arg({kRecycleAndTidy}, source, dest), true);
    EXPECT_FALSE(PathExists(nested));
    EXPECT_FALSE(PathExists(dir.file("home/Clips/sub")));
    EXPECT_TRUE(PathExists(dir.file("home/Clips")));
    EXPECT_TRUE(PathExists(dir.file("home/Movies")));
    EXPECT_TRUE(PathExists(home));
    EXPECT_TRUE(QKConvertProcessShared::isProtectedFolder(XStr::FromUTF8(home + "/Clips/")));
    EXPECT_TRUE(QKConvertProcessShared::isProtectedFolder(XStr(L"/tmp")));
    EXPECT_FALSE(QKConvertProcessShared::isProtectedFolder(XStr::FromUTF8(dir.file("in"))));
}

TEST_F(AfterConversion, RemovalStopsAtAMountPoint)
{
    struct stat shm, dev;
    if (stat("/dev/shm", &shm) != 0 || stat("/dev", &dev) != 0 || shm.st_dev == dev.st_dev ||
        access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no separately mounted, writable /dev/shm";
    TestTempDir temp("/dev/shm");
    const std::string top = temp.path();
    ASSERT_FALSE(top.empty());
    XCreateFolderTree(XStr::FromUTF8(top + "/x/y"));
    EXPECT_EQ(QKConvertProcessShared::removeEmptyFolders(XStr::FromUTF8(top + "/x/y/")), 3);
    EXPECT_TRUE(PathExists("/dev/shm"));
    if (PathExists(top))
        XDeleteFolderTree(XStr::FromUTF8(top));
    EXPECT_FALSE(PathExists(top));
}

// Only the words the Delete Source File page writes are acted on: a cut or foreign text keeps
// the source (and the emptied folders) and says so in an error line.
TEST_F(AfterConversion, SettingsThatAreNotThePagesOwnWordsKeepTheSource)
{
    const std::string dest = make("out.mp4");
    for (const char* args : {"-DELSOURC", "-DELSOURCERECYCLE -DELSOURCEPERM", "-delsourceperm", "-DELSOURCEPERM junk",
                             "-DELSOURCERECYCLEX", "-DELSOURCERECYCLE\t-DELSOURCEREMOVEEMPTY", "DELSOURCEPERM"}) {
        SCOPED_TRACE(args);
        recorder->errors.clear();
        const std::string source = make("in/a/clip.mov");
        const QKDSPSpec effect(QStringLiteral("Delete Source File"), QString::fromUtf8(args));
        QKConvertProcessShared::conversionFinished(arg({effect}, source, dest), true);
        EXPECT_TRUE(PathExists(source));
        EXPECT_FALSE(PathExists(trashed("clip.mov")));
        ASSERT_EQ(recorder->errors.size(), 1);
        EXPECT_NE(recorder->errors[0].indexOf(QString::fromUtf8(args)), -1) << recorder->errors[0].toStdString();
    }
    // The page's own words still act.
    const std::string source = make("in/b/clip.mov");
    QKConvertProcessShared::conversionFinished(
        arg({QKDSPSpec(QStringLiteral("Delete Source File"), QStringLiteral("-DELSOURCEPERM -DELSOURCEREMOVEEMPTY"))},
            source, dest),
        true);
    EXPECT_FALSE(PathExists(source));
    EXPECT_FALSE(PathExists(dir.file("in/b")));

    // The reproduction through the tool: the cut word of a cut chain file.
    const std::string kept = make("s.mp4");
    const ToolRunResult result =
        RunTestTool(TestToolPath("engine-tool"),
                    {"after", "--success", "--effect", "Delete Source File=-DELSOURC", "--src", kept, "--dst", dest});
    EXPECT_EQ(result.status, 1) << result.out << result.err;
    EXPECT_TRUE(PathExists(kept));
    EXPECT_NE((result.out + result.err).find("-DELSOURC"), std::string::npos) << result.out << result.err;
}

TEST_F(AfterConversion, FailuresAreReportedAndNothingElseIsTouched)
{
    const std::string gone = dir.file("in/nothing.mov");
    const std::string neighbour = make("in/neighbour.mov");
    EXPECT_FALSE(QKConvertProcessShared::deleteSourceFile(XStr::FromUTF8(gone), true, true, recorder.get()));
    EXPECT_FALSE(QKConvertProcessShared::deleteSourceFile(XStr::FromUTF8(gone), false, false, recorder.get()));
    EXPECT_EQ(recorder->errors.size(), 2);
    EXPECT_TRUE(PathExists(neighbour));
    EXPECT_EQ(QKConvertProcessShared::removeEmptyFolders(XStr(L"relative/folder")), 0);
    EXPECT_FALSE(QKConvertProcessShared::playSound(
        QKDSPSpec(QStringLiteral("Play Sound After Conversion"), QStringLiteral("-playsounderr=\"/x.wav\"")),
        QStringLiteral("playsound")));
}

} // namespace

// "Delete Source File" takes the output of the run at its word only for the very file the
// run moved into place: another file at the destination (one that replaced it meanwhile, or
// a run that moved nothing) keeps the source.
TEST_F(AfterConversion, SourceGoesOnlyForTheFileTheRunProduced)
{
    const QKDSPSpec forGood(QStringLiteral("Delete Source File"), QString());
    const std::string source = make("in/clip.mov");
    const std::string dest = make("out.mp4", "converted\n");
    const XFileId other = XFileIdOf(make("elsewhere.mp4"));
    QKConvertProcessShared::conversionFinished(arg({forGood}, source, dest), true, &other);
    EXPECT_TRUE(PathExists(source));
    ASSERT_EQ(recorder->errors.size(), 1);
    EXPECT_TRUE(recorder->errors[0].contains(QStringLiteral("is not the file this conversion wrote")))
        << recorder->errors[0].toStdString();
    const XFileId none;
    QKConvertProcessShared::conversionFinished(arg({forGood}, source, dest), true, &none);
    EXPECT_TRUE(PathExists(source));
    EXPECT_EQ(recorder->errors.size(), 2);

    const XFileId produced = XFileIdOf(dest, false);
    QKConvertProcessShared::conversionFinished(arg({forGood}, source, dest), true, &produced);
    EXPECT_FALSE(PathExists(source));
    EXPECT_TRUE(PathExists(dest));
    EXPECT_EQ(recorder->errors.size(), 2);
}
