// A batch whose command needs the sources' length (a fade-out) probes each source at most
// once, and not in a slot: what was read before the batch is used as it is, the rest is read
// ahead while earlier files encode. Wrappers on PATH log each ffprobe call and each ffmpeg
// conversion's start and end, and run the real programs.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>

#include <fstream>
#include <map>

#include "common/MediaTestFiles.h"
#include "common/QtWait.h"
#include "common/TestBatchRunner.h"
#include "common/TestEnv.h"
#include "common/TestFiles.h"
#include "common/TestStore.h"
#include "common/ToolRun.h"
#include "engine/KRABatchRunner.h"
#include "media/QKMediaFileInfo.h"

namespace {

class BatchProbes : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string ffmpeg = ProgramOnPath("ffmpeg"), ffprobe = ProgramOnPath("ffprobe");
        if (ffmpeg.empty() || ffprobe.empty())
            GTEST_SKIP() << "ffmpeg and ffprobe are needed";
        const std::string bin = dir.file("bin"), log = this->log();
        mkdir(bin.c_str(), 0700);
        WriteTextFile(bin + "/ffprobe", "#!/bin/sh\nfor a; do last=$a; done\nprintf 'probe %s\\n' \"$last\" >> '" +
                                            log + "'\nexec '" + ffprobe + "' \"$@\"\n");
        // The first conversion holds until the other sources have been probed (or a minute has
        // passed): a batch that reads ahead has done so while it encodes.
        WriteTextFile(bin + "/ffmpeg", "#!/bin/sh\ncase \" $* \" in *' -progress '*) ;; *) exec '" + ffmpeg +
                                           "' \"$@\";; esac\n"
                                           "echo start >> '" +
                                           log + "'\nif mkdir '" + dir.file("first") +
                                           "' 2>/dev/null; then n=0\n"
                                           "  while [ \"$(grep -c '^probe ' '" +
                                           log +
                                           "')\" -lt \"$WANT_PROBES\" ] && [ $n -lt 600 ]; do sleep 0.1; "
                                           "n=$((n+1)); done\nfi\n'" +
                                           ffmpeg + "' \"$@\"\nrc=$?\necho end >> '" + log + "'\nexit $rc\n");
        chmod((bin + "/ffprobe").c_str(), 0755);
        chmod((bin + "/ffmpeg").c_str(), 0755);
        m_path.emplace("PATH", bin + ":" + std::string(getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin"));
    }

    std::string log() { return dir.file("calls.log"); }
    std::vector<std::string> lines()
    {
        std::ifstream in(log());
        std::vector<std::string> all;
        for (std::string line; std::getline(in, line);)
            all.push_back(line);
        return all;
    }

    TestTempDir dir;
    TestStoreScope store;
    TestEnvScope appData{"_APPDATA_OVERRIDE", dir.file("app")};
    TestEnvScope debug{"MARVONI_DEBUG", nullptr};

private:
    std::optional<TestEnvScope> m_path;
};

std::shared_ptr<QKConversionSpec> FadeSpec(const std::vector<std::string>& sources, const QString& folder)
{
    auto spec = std::make_shared<QKConversionSpec>();
    spec->Encoder = QKEncoderDesc::makeVideoCodec(QStringLiteral("Matroska (MPEG-4)"), QStringLiteral(".mkv"));
    spec->EncoderArgsV2.strArgs = QStringLiteral("-vcodec mpeg4 -q:v 3 -acodec aac");
    spec->dspEffects = {QKDSPSpec(QStringLiteral("Fade"),
                                  QStringLiteral("-fadein=\"0\" -fadeout=\"0.5\" -afadein=\"0\" -afadeout=\"0\"")),
                        QKDSPSpec(QStringLiteral("Multi-CPU Force"), QStringLiteral("-marvoni_thread_count=\"1\""))};
    for (const std::string& source : sources) {
        auto entry = std::make_shared<QKConversionEntry>();
        const QString path = QString::fromStdString(source);
        entry->convertFrom = QKConvertSource::withURL(QUrl::fromLocalFile(path));
        entry->urlTo = QUrl::fromLocalFile(folder + "/" + QFileInfo(path).completeBaseName() + ".mkv");
        entry->sourceSizeBytes = static_cast<uint64_t>(QFileInfo(path).size());
        spec->entries.append(entry);
    }
    return spec;
}

// The mean brightness (0-255) of the frame at the given time of the file.
int Brightness(const std::string& path, const std::string& at)
{
    ToolRunOptions options;
    options.searchPath = true;
    const std::string bytes = RunProcess({"ffmpeg", "-v", "error", "-ss", at, "-i", path, "-frames:v", "1", "-vf",
                                          "format=gray,scale=1:1:flags=area", "-f", "rawvideo", "-"},
                                         options)
                                  .out;
    return bytes.size() == 1 ? static_cast<unsigned char>(bytes[0]) : -1;
}

} // namespace

TEST_F(BatchProbes, EachSourceIsProbedOnceAndAheadOfItsSlot)
{
    std::vector<std::string> sources;
    for (const char* name : {"a", "b", "c", "d"}) {
        sources.push_back(dir.file(std::string(name) + ".mp4"));
        ASSERT_TRUE(MakeTestVideo(sources.back(), "160x120", "25", "2"));
    }
    // What the destination check or the converter's table read before the batch.
    ASSERT_TRUE(QKMediaFileInfo::readFromFile(XStr::FromUTF8(sources[0].c_str())));
    TestEnvScope want("WANT_PROBES", "4");

    const QString out = QString::fromStdString(dir.file("out"));
    QDir().mkpath(out);
    auto runner = std::make_shared<TestBatchRunner>(FadeSpec(sources, out));
    ASSERT_EQ(runner->cpus().size(), 1u);
    runner->start();
    ASSERT_TRUE(WaitFor([&] { return runner->allDone(); }));
    EXPECT_TRUE(runner->logErrors().isEmpty());

    const std::vector<std::string> calls = lines();
    std::map<std::string, int> probed;
    size_t firstEnd = calls.size(), lastProbe = 0;
    int probes = 0;
    for (size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].rfind("probe ", 0) == 0) {
            ++probed[calls[i].substr(6)];
            ++probes;
            lastProbe = i;
        } else if (calls[i] == "end" && firstEnd == calls.size()) {
            firstEnd = i;
        }
    }
    std::string all;
    for (const std::string& line : calls)
        all += line + "\n";
    EXPECT_EQ(probes, 4) << all; // the one before the batch, and one for each other source
    for (const std::string& source : sources)
        EXPECT_EQ(probed[source], 1) << source << "\n" << all;
    EXPECT_LT(lastProbe, firstEnd) << "the later sources were probed while the first encoded\n" << all;

    // The fade-out was placed by the lengths the batch was handed: dark at the end only.
    for (const std::string& source : sources) {
        const std::string output = out.toStdString() + "/" +
                                   QFileInfo(QString::fromStdString(source)).completeBaseName().toStdString() + ".mkv";
        EXPECT_NEAR(ProbedDuration(output), 2.0, 0.1) << output;
        EXPECT_GT(Brightness(output, "1.0"), 60) << output;
        EXPECT_LT(Brightness(output, "1.95"), 30) << output;
    }
}

// A batch whose command needs nothing of the sources before ffmpeg starts reads nothing ahead.
TEST_F(BatchProbes, APlainBatchProbesNothing)
{
    std::vector<std::string> sources;
    for (const char* name : {"p", "q"}) {
        sources.push_back(dir.file(std::string(name) + ".mp4"));
        ASSERT_TRUE(MakeTestVideo(sources.back(), "160x120", "25", "1"));
    }
    TestEnvScope want("WANT_PROBES", "0");
    const QString out = QString::fromStdString(dir.file("out"));
    QDir().mkpath(out);
    auto spec = FadeSpec(sources, out);
    spec->dspEffects.removeFirst();
    auto runner = std::make_shared<TestBatchRunner>(spec);
    runner->start();
    ASSERT_TRUE(WaitFor([&] { return runner->allDone(); }));
    EXPECT_TRUE(runner->logErrors().isEmpty());
    for (const std::string& line : lines())
        EXPECT_EQ(line.rfind("probe ", 0), std::string::npos) << line;
    EXPECT_TRUE(QFileInfo::exists(out + "/p.mkv"));
}
