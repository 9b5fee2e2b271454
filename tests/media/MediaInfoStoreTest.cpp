// The one store of media information: a file is probed once while its size and modification
// time stay as they are, by whoever asks and however many ask at once. ffprobe is counted by
// a wrapper on PATH that logs each file it is asked about and runs the real one.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <sys/stat.h>

#include <fstream>
#include <thread>
#include <vector>

#include "common/MediaTestFiles.h"
#include "common/TestEnv.h"
#include "common/TestFiles.h"
#include "media/QKFileInfoCache.h"
#include "media/QKMediaFileInfo.h"
#include "media/QKMediaInfoStore.h"
#include "platform/XWorkspace.h"

namespace {

template <class Done>
bool WaitFor(Done done, int ms = 300000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

class MediaInfoStore : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_real = ProgramOnPath("ffprobe");
        if (ProgramOnPath("ffmpeg").empty() || m_real.empty())
            GTEST_SKIP() << "ffmpeg and ffprobe are needed";
        const std::string bin = dir.file("bin");
        mkdir(bin.c_str(), 0700);
        WriteTextFile(bin + "/ffprobe", "#!/bin/sh\nfor a; do last=$a; done\nprintf '%s\\n' \"$last\" >> '" + log() +
                                            "'\nexec '" + m_real + "' \"$@\"\n");
        chmod((bin + "/ffprobe").c_str(), 0755);
        m_path.emplace("PATH", bin + ":" + std::string(getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin"));
    }

    std::string log() { return dir.file("probes.log"); }
    // How many times ffprobe was asked about the file.
    int probes(const std::string& file)
    {
        std::ifstream in(log());
        int count = 0;
        for (std::string line; std::getline(in, line);)
            count += line == file;
        return count;
    }
    int allProbes()
    {
        std::ifstream in(log());
        int count = 0;
        for (std::string line; std::getline(in, line);)
            ++count;
        return count;
    }

    TestTempDir dir;

private:
    std::string m_real;
    std::optional<TestEnvScope> m_path;
};

QList<QUrl> Urls(const std::vector<std::string>& files)
{
    QList<QUrl> urls;
    for (const std::string& file : files)
        urls.append(QUrl::fromLocalFile(QString::fromStdString(file)));
    return urls;
}

} // namespace

TEST_F(MediaInfoStore, ASecondCacheProbesNothingAgainAndAChangedFileIsProbedAgain)
{
    const std::string a = dir.file("a.mkv"), b = dir.file("b.mkv"), c = dir.file("c.mkv");
    for (const std::string& file : {a, b, c})
        ASSERT_TRUE(MakeTestVideo(file, "160x120", "25", "1"));
    const QKFileInfoCacheRef first = QKFileInfoCache::create(Urls({a, b, c}), true);
    ASSERT_TRUE(WaitFor([&] { return first->countLoaded() == 3; }));
    EXPECT_EQ(allProbes(), 3);
    const QKFileInfoCacheRef second = QKFileInfoCache::create(Urls({c, b, a}), true);
    ASSERT_TRUE(WaitFor([&] { return second->countLoaded() == 3; }));
    EXPECT_EQ(allProbes(), 3) << "the files did not change";
    EXPECT_EQ(second->infoForIndex(2)->info, first->infoForIndex(0)->info);
    EXPECT_NEAR(static_cast<double>(second->infoForIndex(0)->columns->lengthMS()), 1000.0, 100.0);

    // b made anew, twice as long (another size); c touched (same size, another time).
    ASSERT_TRUE(MakeTestVideo(b, "160x120", "25", "2"));
    struct stat st;
    ASSERT_EQ(stat(c.c_str(), &st), 0);
    const struct timespec times[2] = {st.st_atim, {st.st_mtim.tv_sec - 100, st.st_mtim.tv_nsec}};
    ASSERT_EQ(utimensat(AT_FDCWD, c.c_str(), times, 0), 0);
    const QKFileInfoCacheRef third = QKFileInfoCache::create(Urls({a, b, c}), true);
    ASSERT_TRUE(WaitFor([&] { return third->countLoaded() == 3; }));
    EXPECT_EQ(probes(a), 1);
    EXPECT_EQ(probes(b), 2);
    EXPECT_EQ(probes(c), 2);
    EXPECT_NEAR(static_cast<double>(third->infoForIndex(1)->columns->lengthMS()), 2000.0, 100.0)
        << "the new b's length, not the one remembered";
    EXPECT_EQ(third->infoForIndex(0)->info, first->infoForIndex(0)->info);
    EXPECT_NE(third->infoForIndex(2)->info, first->infoForIndex(2)->info);
}

// Threads asking about one file at once share one ffprobe run; a file that cannot be read is
// not remembered as unreadable, and a file replaced under its name is read anew.
TEST_F(MediaInfoStore, AsksAtOnceShareOneProbeAndFailuresAreNotKept)
{
    const std::string clip = dir.file("clip.mp4");
    ASSERT_TRUE(MakeTestVideo(clip, "160x120", "25", "1"));
    std::vector<QKMediaFileInfoRef> infos(8);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < infos.size(); ++i)
        threads.emplace_back([&, i] { infos[i] = QKMediaFileInfo::readFromFile(XStr::FromUTF8(clip.c_str())); });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(probes(clip), 1);
    for (const QKMediaFileInfoRef& info : infos) {
        ASSERT_TRUE(info);
        EXPECT_EQ(info, infos[0]);
    }
    EXPECT_EQ(QKMediaInfoStore::lookup(XStr::FromUTF8(clip.c_str())), infos[0]);

    const std::string text = dir.file("later.mp4");
    WriteTextFile(text, "not yet a video");
    EXPECT_FALSE(QKMediaFileInfo::readFromFile(XStr::FromUTF8(text.c_str())));
    const std::string made = dir.file("made.mp4");
    ASSERT_TRUE(MakeTestVideo(made, "160x120", "25", "1"));
    ASSERT_EQ(rename(made.c_str(), text.c_str()), 0);
    const QKMediaFileInfoRef now = QKMediaFileInfo::readFromFile(XStr::FromUTF8(text.c_str()));
    ASSERT_TRUE(now);
    EXPECT_NEAR(static_cast<double>(now->lengthMS()), 1000.0, 100.0);
    EXPECT_EQ(probes(text), 2);
    EXPECT_FALSE(QKMediaInfoStore::lookup(XStr::FromUTF8(dir.file("missing.mp4").c_str())));
}

// The light record of the tables leaves out the internal tags in a copy: the record others
// share keeps them, and no second probe is made for either.
TEST_F(MediaInfoStore, ALightReadDoesNotTrimTheSharedRecord)
{
    const std::string clip = dir.file("tagged.mkv");
    ASSERT_TRUE(MakeTestVideo(clip, "160x120", "25", "1", {"-metadata", "_hidden=x", "-metadata", "title=Shown"}));
    const XStr path = XStr::FromUTF8(clip.c_str());
    const QKMediaFileInfoRef full = QKMediaFileInfo::readFromFile(path);
    ASSERT_TRUE(full);
    const auto hidden = [](const QKMediaFileInfoRef& info) {
        const NTag* tags = info->IDTags()->tag();
        for (int64_t i = 0; i < tags->Count(); ++i)
            if (tags->TagAt(i)->Name.BeginsWith(L"_"))
                return true;
        return false;
    };
    ASSERT_TRUE(hidden(full)) << "the container kept no internal tag to test with";
    const QKMediaFileInfoRef lite = QKMediaFileInfo::readLiteInfoFromFile(path);
    EXPECT_FALSE(hidden(lite));
    EXPECT_EQ(lite->getIDTagValueOf(QStringLiteral("title")).value_or(QString()), QStringLiteral("Shown"));
    EXPECT_TRUE(hidden(full));
    EXPECT_TRUE(hidden(QKMediaFileInfo::readFromFile(path)));
    EXPECT_EQ(probes(clip), 1);

    // Without anything to trim, the light record is the shared one.
    const std::string plain = dir.file("plain.mkv");
    ASSERT_TRUE(MakeTestVideo(plain, "160x120", "25", "1"));
    const XStr plainPath = XStr::FromUTF8(plain.c_str());
    EXPECT_EQ(QKMediaFileInfo::readLiteInfoFromFile(plainPath), QKMediaFileInfo::readFromFile(plainPath));
}
