// The batch's last guard: claims and moves compared by the file a path names, and the whole
// batch through the batch runner with real ffmpeg runs when the windows let a clash through.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "common/MediaTestFiles.h"
#include "common/QtWait.h"
#include "common/TestBatchRunner.h"
#include "common/TestEnv.h"
#include "common/TestFiles.h"
#include "common/TestStore.h"
#include "engine/KRABatchRunner.h"
#include "engine/KRAOutputGuard.h"

namespace {

std::string Text(const XStr& text)
{
    return text.ToUTF8String();
}

class OutputGuard : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* folder : {"A", "s"})
            ASSERT_EQ(mkdir(dir.file(folder).c_str(), 0700), 0);
        ASSERT_EQ(symlink("A", dir.file("B").c_str()), 0);
        ASSERT_EQ(symlink("s", dir.file("s-link").c_str()), 0);
        WriteTextFile(dir.file("s/a.mp4"), "a");
        WriteTextFile(dir.file("s/b.mp4"), "b");
        guard.addSource(dir.wfile("s/a.mp4"));
        guard.addSource(dir.wfile("s/b.mp4"));
    }
    // Writes a finished output beside dest and moves it through the guard.
    bool finish(uint64_t index, const std::string& dest, XStr& why)
    {
        const std::string temporary = dest + ".tmp";
        WriteTextFile(temporary, "output " + std::to_string(index));
        const XFileId produced = XFileIdOf(temporary, false);
        const bool moved = guard.replace(
            index, XStr::FromUTF8(dest), produced, [&] { return std::rename(temporary.c_str(), dest.c_str()) == 0; },
            why);
        unlink(temporary.c_str());
        return moved;
    }
    TestTempDir dir;
    KRAOutputGuard guard;
};

} // namespace

TEST_F(OutputGuard, ClaimsNameBothFilesOfAClash)
{
    EXPECT_EQ(Text(guard.claim(0, dir.wfile("A/Song.mkv"), XStr(L"one.mp4"))), "");
    const std::string again = Text(guard.claim(1, dir.wfile("B/Song.mkv"), XStr(L"two.mp4")));
    EXPECT_EQ(again, "Not converted: '" + dir.file("B/Song.mkv") + "' is the same file as '" + dir.file("A/Song.mkv") +
                         "', and is also the destination of 'one.mp4'");
    EXPECT_EQ(Text(guard.claim(2, dir.wfile("A/Song.mkv"), XStr(L"three.mp4"))),
              "Not converted: '" + dir.file("A/Song.mkv") + "' is also the destination of 'one.mp4'");
    // Any source of the batch, its own included, under any spelling.
    EXPECT_EQ(Text(guard.claim(3, dir.wfile("s-link/b.mp4"), XStr(L"a.mp4"))),
              "Not converted: '" + dir.file("s-link/b.mp4") + "' is the same file as '" + dir.file("s/b.mp4") +
                  "', and is a source file of this batch");
    EXPECT_EQ(Text(guard.claim(4, dir.wfile("s/a.mp4"), XStr(L"a.mp4"))),
              "Not converted: '" + dir.file("s/a.mp4") + "' is a source file of this batch");
    EXPECT_EQ(Text(guard.claim(5, dir.wfile("A/Other.mkv"), XStr(L"five.mp4"))), "");
}

TEST_F(OutputGuard, TheMoveAsksAgainWhatTheDestinationIsNow)
{
    XStr why;
    ASSERT_EQ(Text(guard.claim(0, dir.wfile("A/x.mkv"), XStr(L"zero.mp4"))), "");
    ASSERT_TRUE(finish(0, dir.file("A/x.mkv"), why)) << Text(why);
    // A folder that did not exist when the file started became a link to A meanwhile.
    ASSERT_EQ(Text(guard.claim(1, dir.wfile("C/x.mkv"), XStr(L"one.mp4"))), "");
    ASSERT_EQ(symlink("A", dir.file("C").c_str()), 0);
    EXPECT_FALSE(finish(1, dir.file("C/x.mkv"), why));
    EXPECT_NE(Text(why).find("also the destination of 'zero.mp4'"), std::string::npos) << Text(why);
    EXPECT_EQ(ReadTestFile(dir.file("A/x.mkv")), "output 0");
    // A destination that became another name of a finished output.
    ASSERT_EQ(Text(guard.claim(2, dir.wfile("A/y.mkv"), XStr(L"two.mp4"))), "");
    ASSERT_EQ(link(dir.file("A/x.mkv").c_str(), dir.file("A/y.mkv").c_str()), 0);
    EXPECT_FALSE(finish(2, dir.file("A/y.mkv"), why));
    EXPECT_NE(Text(why).find("Not written: '" + dir.file("A/y.mkv") + "' is the same file as '" + dir.file("A/x.mkv")),
              std::string::npos)
        << Text(why);
    EXPECT_EQ(ReadTestFile(dir.file("A/x.mkv")), "output 0");
    // A source reached through a link made meanwhile.
    ASSERT_EQ(Text(guard.claim(3, dir.wfile("D/b.mp4"), XStr(L"three.mp4"))), "");
    ASSERT_EQ(symlink("s", dir.file("D").c_str()), 0);
    EXPECT_FALSE(finish(3, dir.file("D/b.mp4"), why));
    EXPECT_NE(Text(why).find("is a source file of this batch"), std::string::npos) << Text(why);
    EXPECT_EQ(ReadTestFile(dir.file("s/b.mp4")), "b");
    // A move that fails is the caller's to report.
    ASSERT_EQ(Text(guard.claim(4, dir.wfile("A/z.mkv"), XStr(L"four.mp4"))), "");
    EXPECT_FALSE(guard.replace(
        4, dir.wfile("A/z.mkv"), XFileId(), [] { return false; }, why));
    EXPECT_TRUE(why.IsEmpty());
}

namespace {

using Runner = TestBatchRunner;

class GuardedBatch : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (ProgramOnPath("ffmpeg").empty())
            GTEST_SKIP() << "ffmpeg is needed";
    }
    // Sources to destinations, deleting each source after its conversion, on that many slots.
    std::shared_ptr<QKConversionSpec> spec(const std::vector<std::pair<std::string, std::string>>& files, int slotCount)
    {
        auto result = std::make_shared<QKConversionSpec>();
        result->Encoder = QKEncoderDesc::makeVideoCodec(QStringLiteral("Matroska (H264)"), QStringLiteral(".mkv"));
        result->EncoderArgsV2.strArgs = QStringLiteral("-vcodec libx264 -preset veryfast");
        result->dspEffects = {QKDSPSpec(QStringLiteral("Delete Source File"), QString()),
                              QKDSPSpec(QStringLiteral("Multi-CPU Force"),
                                        QStringLiteral("-marvoni_thread_count=\"%1\"").arg(slotCount))};
        for (const auto& [source, dest] : files) {
            auto entry = std::make_shared<QKConversionEntry>();
            entry->convertFrom = QKConvertSource::withURL(QUrl::fromLocalFile(QString::fromStdString(source)));
            entry->urlTo = QUrl::fromLocalFile(QString::fromStdString(dest));
            entry->sourceSizeBytes = 1;
            result->entries.append(entry);
        }
        return result;
    }
    QString errors(const Runner& runner) const
    {
        QStringList lines;
        for (const KRAStatusLogEntryRef& entry : runner.logErrors())
            lines += entry->entries;
        return lines.join(QLatin1Char('\n'));
    }
    TestTempDir dir;
    TestStoreScope store;
    TestEnvScope appData{"_APPDATA_OVERRIDE", dir.file("app")};
    TestEnvScope debug{"MARVONI_DEBUG", nullptr};
};

} // namespace

// a's output is meant for s/b.mp4, b's source, which b's "Delete Source File" would remove
// after its own conversion: a is not converted, and nothing of either file is lost.
TEST_F(GuardedBatch, NoOutputGoesOverAnotherSource)
{
    ASSERT_EQ(mkdir(dir.file("s").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(dir.file("out").c_str(), 0700), 0);
    for (int slotCount : {1, 2}) {
        ASSERT_TRUE(MakeTestVideo(dir.file("s/a.mp4"), "160x120", "25", "1"));
        ASSERT_TRUE(MakeTestVideo(dir.file("s/b.mp4"), "160x120", "25", "1"));
        auto runner = std::make_shared<Runner>(spec(
            {{dir.file("s/a.mp4"), dir.file("s/b.mp4")}, {dir.file("s/b.mp4"), dir.file("out/b.mkv")}}, slotCount));
        runner->start();
        ASSERT_TRUE(WaitFor([&] { return runner->allDone(); }));
        EXPECT_TRUE(errors(*runner).contains(QStringLiteral("is a source file of this batch"))) << slotCount;
        EXPECT_TRUE(PathExists(dir.file("s/a.mp4"))) << "a was not converted: its source stays";
        EXPECT_GT(ProbedDuration(dir.file("out/b.mkv")), 0.5) << slotCount;
        EXPECT_FALSE(PathExists(dir.file("s/b.mp4"))) << "b's source went after b's output was made";
        QFile::remove(QString::fromStdString(dir.file("out/b.mkv")));
    }
}

// Two destinations that are one file through a link in the output folder: one is written,
// the other fails, and the source of the one that failed stays.
TEST_F(GuardedBatch, TwoDestinationsThatAreOneFileWriteOnce)
{
    ASSERT_EQ(mkdir(dir.file("src").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(dir.file("out").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(dir.file("out/A").c_str(), 0700), 0);
    ASSERT_EQ(symlink("A", dir.file("out/B").c_str()), 0);
    ASSERT_TRUE(MakeTestVideo(dir.file("src/one.mp4"), "160x120", "25", "1"));
    ASSERT_TRUE(MakeTestVideo(dir.file("src/two.mp4"), "160x120", "25", "3"));
    auto runner = std::make_shared<Runner>(spec(
        {{dir.file("src/one.mp4"), dir.file("out/A/Song.mkv")}, {dir.file("src/two.mp4"), dir.file("out/B/Song.mkv")}},
        2));
    runner->start();
    ASSERT_TRUE(WaitFor([&] { return runner->allDone(); }));
    EXPECT_TRUE(errors(*runner).contains(QStringLiteral("is the same file as"))) << errors(*runner).toStdString();
    EXPECT_NEAR(ProbedDuration(dir.file("out/A/Song.mkv")), 1.0, 0.3) << "the first file's output";
    EXPECT_FALSE(PathExists(dir.file("src/one.mp4")));
    EXPECT_TRUE(PathExists(dir.file("src/two.mp4"))) << "not converted: kept";
    EXPECT_EQ(QDir(QString::fromStdString(dir.file("out/A"))).entryList(QDir::Files).size(), 1);
}
