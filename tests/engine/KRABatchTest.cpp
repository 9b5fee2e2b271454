#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "common/MediaTestFiles.h"
#include "common/RealFFmpegRunTest.h"
#include "common/TestEnv.h"
#include "common/ToolRun.h"
#include "engine/KRABatch.h"
#include "engine/KRAMultiEncConfig.h"
#include "engine/QKConvertProcessShared.h"
#include "engine/QKGlobalOptions.h"
#include "xclass/XEnvironment.h"

namespace {

std::shared_ptr<QKConversionSpec> Spec(const QString& encoderArgs, const QKDSPChain& chain)
{
    auto spec = std::make_shared<QKConversionSpec>();
    spec->Encoder = QKEncoderDesc::makeVideoCodec(QStringLiteral("AVI"), QStringLiteral(".avi"));
    spec->EncoderArgsV2.strArgs = encoderArgs;
    spec->dspEffects = chain;
    return spec;
}

QKDSPSpec Effect(const char* name, const char* args)
{
    return QKDSPSpec(QString::fromUtf8(name), QString::fromUtf8(args));
}

TEST(KRABatch, EffectArgumentsComeFirstThenTheEncoderAndActionsStayOut)
{
    const KRABatch batch(
        Spec(QStringLiteral("-c:v mpeg4 -q:v 3"),
             {Effect("Crop", "-vf crop=10:20"), Effect("Delete Source File", "-DELSOURCERECYCLE -DELSOURCEREMOVEEMPTY"),
              Effect("Multi-CPU Force", "-marvoni_thread_count=\"3\" -threads=\"2\""),
              Effect("Play Sound After Conversion", "-playsound=\"/s.wav\""), Effect("Preserve Source Attributes", ""),
              Effect("Mute", "-an")}));
    EXPECT_EQ(batch.commandLine(), QStringLiteral("-vf crop=10:20 -threads 2 -an -c:v mpeg4 -q:v 3"));
    EXPECT_EQ(batch.userThreadCount(), 3u);
}

TEST(KRABatch, PngOptimizeMarkerIsRemovedAndNothingElseChanges)
{
    EXPECT_EQ(KRABatch(Spec(QStringLiteral("-PNGOPTIMIZE"), {})).commandLine(), QString());
    EXPECT_EQ(KRABatch(Spec(QStringLiteral("-PNGOPTIMIZE -f image2 -PNGOPTIMIZE"), {})).commandLine(),
              QStringLiteral("-f image2"));
    // Without the marker the encoder's text is passed exactly, blanks included.
    EXPECT_EQ(KRABatch(Spec(QStringLiteral("-metadata title=\"a  b\""), {})).commandLine(),
              QStringLiteral("-metadata title=\"a  b\""));
    EXPECT_EQ(KRABatch(Spec(QString(), {})).commandLine(), QString());
    EXPECT_EQ(KRABatch(nullptr).commandLine(), QString());
}

TEST(KRABatch, AnEffectsPixelFormatReplacesTheEncoders)
{
    const QString h264 = QStringLiteral("-c:v libx264 -crf 24 -pix_fmt yuv420p -preset slow -acodec aac");
    // Without an effect's choice the encoder's text goes as it is.
    EXPECT_EQ(KRABatch(Spec(h264, {Effect("Crop", "-vf crop=10:20")})).commandLine(), "-vf crop=10:20 " + h264);
    // One -pix_fmt in the command, the effect's: ffmpeg would take the last one given.
    const QKDSPChain chain = {Effect("Pixel Format", "-pix_fmt yuv444p")};
    EXPECT_EQ(KRABatch(Spec(h264, chain)).commandLine(),
              "-pix_fmt yuv444p -c:v libx264 -crf 24 -preset slow -acodec aac");
    EXPECT_EQ(KRABatch(Spec("-c:v libx264 -pix_fmt:v yuv420p -crf 24", chain)).commandLine(),
              "-pix_fmt yuv444p -c:v libx264 -crf 24");
    // An encoder text without one stays exactly as it was, blanks included.
    EXPECT_EQ(KRABatch(Spec("-metadata title=\"a  b\"", chain)).commandLine(),
              "-pix_fmt yuv444p -metadata title=\"a  b\"");

    // The same for each encoder of a multi-encoder batch, by the batch's effects or the entry's.
    KRAMultiEncEntry entry;
    entry.encoderArgsV2.strArgs = h264;
    EXPECT_EQ(KRABatch(Spec(QString(), {})).multiCommandLine(&entry), h264);
    EXPECT_EQ(KRABatch(Spec(QString(), chain)).multiCommandLine(&entry),
              "-pix_fmt yuv444p -c:v libx264 -crf 24 -preset slow -acodec aac");
    entry.dspEffects = {Effect("Pixel Format", "-pix_fmt gray")};
    EXPECT_EQ(KRABatch(Spec(QString(), {})).multiCommandLine(&entry),
              "-pix_fmt gray -c:v libx264 -crf 24 -preset slow -acodec aac");
}

TEST(KRABatch, ForcedThreadCountThatIsNoCountMeansNone)
{
    const auto count = [](const char* args) {
        return KRABatch(Spec(QString(), {Effect("Multi-CPU Force", args)})).userThreadCount();
    };
    EXPECT_EQ(count("-marvoni_thread_count=\"4\""), 4u);
    EXPECT_EQ(count("-marvoni_thread_count 12"), 12u);
    EXPECT_EQ(count("-marvoni_thread_count=\" 2 \""), 2u);
    // A count that would give a batch without a slot, or no number at all: not forced.
    EXPECT_EQ(count("-marvoni_thread_count=\"0\""), 0u);
    EXPECT_EQ(count("-marvoni_thread_count=\"-3\""), 0u);
    EXPECT_EQ(count("-marvoni_thread_count=\"two\""), 0u);
    EXPECT_EQ(count("-marvoni_thread_count=\"3x\""), 0u);
    EXPECT_EQ(count("-marvoni_thread_count"), 0u);
    EXPECT_EQ(count("-marvoni_thread_count=\"99999999999999999999999\""), 0u);
    EXPECT_EQ(count("-threads=\"2\""), 0u);

    // The first effect that carries the element decides.
    const KRABatch two(Spec(QString(), {Effect("Multi-CPU Force", "-x=\"1\""),
                                        Effect("Multi-CPU Force", "-marvoni_thread_count=\"5\""),
                                        Effect("Multi-CPU Force", "-marvoni_thread_count=\"7\"")}));
    EXPECT_EQ(two.userThreadCount(), 5u);
    EXPECT_EQ(KRABatch(Spec(QString(), {})).userThreadCount(), 0u);
}

TEST(KRABatch, MultiCpuForceKeepsItsOtherElementsInTheBlankForm)
{
    EXPECT_EQ(KRABatch::argsOfDSP(Effect("Multi-CPU Force", "-marvoni_thread_count=\"3\" -threads=\"4\"")),
              QStringLiteral("-threads 4"));
    EXPECT_EQ(KRABatch::argsOfDSP(Effect("Multi-CPU Force", "-marvoni_thread_count=\"3\"")), QString());
    EXPECT_EQ(KRABatch::argsOfDSP(Effect("Delete Source File", "-anything")), QString());
    EXPECT_EQ(KRABatch::argsOfDSP(Effect("Play Sound After Conversion", "-playsound=\"x\"")), QString());
    EXPECT_EQ(KRABatch::argsOfDSP(Effect("Preserve Source Attributes", "-keep")), QStringLiteral("-keep"));
}

TEST(KRABatch, SpecialActionsByNameTheLaterOneWins)
{
    const KRABatch batch(
        Spec(QString(), {Effect("Play Sound After Conversion", "-playsound=\"/a.wav\""), Effect("Crop", "-vf crop=1:1"),
                         Effect("Delete Source File", "-DELSOURCERECYCLE"),
                         Effect("Play Sound After Conversion", "-playsound=\"/b.wav\"")}));
    const KRASpecialActions actions = batch.prepareSpecialActions(nullptr);
    ASSERT_EQ(actions.size(), 2);
    EXPECT_EQ(actions.value(QStringLiteral("Play Sound After Conversion")).args,
              QStringLiteral("-playsound=\"/b.wav\""));
    EXPECT_EQ(actions.value(QStringLiteral("Delete Source File")).args, QStringLiteral("-DELSOURCERECYCLE"));
    EXPECT_FALSE(actions.contains(QStringLiteral("Crop")));
}

TEST(KRABatch, ActionWordsInOneArgumentTextBecomeActions)
{
    QString args =
        QStringLiteral("-vf \"scale='min(1920,iw):min(1080,ih)'\" -DELSOURCERECYCLE -playsound \"/s/a b.oga\" "
                       "-marvoni_thread_count 3 -DELSOURCEREMOVEEMPTY -threads 2");
    const KRASpecialActions actions = KRABatch::pullActionArgs(args);
    EXPECT_EQ(args, "-vf \"scale='min(1920,iw):min(1080,ih)'\" -threads 2");
    ASSERT_EQ(actions.size(), 2);
    EXPECT_EQ(actions.value(QStringLiteral("Delete Source File")).args, "-DELSOURCERECYCLE -DELSOURCEREMOVEEMPTY");
    EXPECT_EQ(actions.value(QStringLiteral("Play Sound After Conversion")).args, "-playsound \"/s/a b.oga\"");

    // Without such words the text is not rewritten at all.
    QString plain = QStringLiteral("-map 0:v?  -vf  \"a, b\"");
    EXPECT_TRUE(KRABatch::pullActionArgs(plain).isEmpty());
    EXPECT_EQ(plain, "-map 0:v?  -vf  \"a, b\"");
}

TEST(KRAProcessEvents, NewBatchRunsAndPauseIsTheNegationOfTheMayRunFlag)
{
    KRAProcessEvents events;
    EXPECT_FALSE(events.bEvtQuit());
    EXPECT_FALSE(events.bPause()); // a new batch runs
    events.setBPause(true);
    EXPECT_FALSE(events.bEvtPause());
    events.setBPause(false);
    EXPECT_TRUE(events.bEvtPause());
    events.setBEvtQuit(true);
    EXPECT_TRUE(events.bEvtQuit());
    events.waitWhilePaused(); // returns at once

    // Written on one thread while others read: the flags are atomic.
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop.load())
            (void)events.bEvtQuit();
    });
    for (int i = 0; i < 10000; ++i)
        events.setBEvtQuit(i % 2 == 0);
    stop = true;
    reader.join();
}

TEST(QKGlobalOptions, EveryBatchHasASlotAndNoRuleIsMade)
{
    EXPECT_GE(QKGlobalOptions::numThreads(), 1u);
    EXPECT_EQ(QKGlobalOptions::numThreads(), std::max<uint64_t>(1, QKGlobalOptions::numCPUs()));
    EXPECT_EQ(QKConditionalEncoding::createWithDSPs({Effect("Crop", "-x")}), nullptr);
    QKConditionalEncoding rule;
    QKConversionEntry entry;
    EXPECT_TRUE(rule.processEntry(entry, nullptr));
    EXPECT_FALSE(rule.needMetaFromFiles());
}

TEST(QKGlobalOptions, GenreAndFieldListsAreSorted)
{
    const QStringList genres = QKGlobalOptions::hardcodedGenres();
    EXPECT_EQ(genres.size(), 122);
    for (qsizetype i = 1; i < genres.size(); ++i)
        EXPECT_LE(QString::compare(genres[i - 1], genres[i], Qt::CaseInsensitive), 0) << genres[i].toStdString();
    const QStringList fields = QKGlobalOptions::standardMetaFields();
    EXPECT_EQ(fields.size(), 38);
    EXPECT_TRUE(fields.contains(QStringLiteral("Album Artist")));
    EXPECT_EQ(QKConvertProcessShared::specialActionNames().size(), 3);
}

TEST(QKGlobalOptions, GenreFileIsWrittenOnceAndThenRead)
{
    TestTempDir dir;
    TestEnvScope appData("_APPDATA_OVERRIDE", dir.path());
    const std::string file = XGetAppDataPath(L"genres.txt").ToUTF8String();
    ASSERT_EQ(file.rfind(dir.path(), 0), 0u) << file;
    const QStringList first = QKGlobalOptions::standardGenres();
    EXPECT_EQ(first, QKGlobalOptions::hardcodedGenres());
    EXPECT_TRUE(PathExists(file));
    // The user's own list is read as it is, and never written over.
    WriteTextFile(file, "Zydeco\r\nAmbient\n\n");
    EXPECT_EQ(QKGlobalOptions::standardGenres(), (QStringList{QStringLiteral("Zydeco"), QStringLiteral("Ambient")}));
}

} // namespace

namespace {

class PixelFormatRun : public RealFFmpegRunTest {
protected:
    // The pixel format and profile of the output of a batch of one 10-bit 4:2:2 source.
    std::pair<std::string, std::string> convert(const std::string& name, const std::vector<std::string>& effects)
    {
        const std::string source = dir.file(name + ".mkv");
        EXPECT_EQ(RunProcess({ProgramOnPath("ffmpeg"), "-v", "error", "-f", "lavfi", "-i",
                              "testsrc2=d=0.4:s=64x48:r=25", "-pix_fmt", "yuv422p10le", "-c:v", "ffv1", source})
                      .status,
                  0);
        std::vector<std::string> args = {
            "batch",        "--src",         source,
            "--dst-folder", dir.file("out"), "--ext",
            ".mp4",         "--args",        "-c:v libx264 -crf 24 -pix_fmt yuv420p -preset veryfast -an"};
        for (const std::string& effect : effects)
            args.insert(args.end(), {"--effect", effect});
        mkdir(dir.file("out").c_str(), 0700);
        const ToolRunResult run = RunTestTool(TestToolPath("engine-tool"), args, std::string(), 120000);
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        const ToolRunResult probe =
            RunProcess({ProgramOnPath("ffprobe"), "-v", "error", "-select_streams", "v", "-show_entries",
                        "stream=pix_fmt,profile", "-of", "default=nw=1", dir.file("out/" + name + ".mp4")});
        const auto value = [&](const std::string& key) {
            const size_t at = probe.out.find(key + "=");
            return at == std::string::npos
                       ? std::string()
                       : probe.out.substr(at + key.size() + 1, probe.out.find('\n', at) - at - key.size() - 1);
        };
        return {value("pix_fmt"), value("profile")};
    }
};

} // namespace

// The H.264 pages ask for 8-bit 4:2:0; the user's Pixel Format effect still decides.
TEST_F(PixelFormatRun, TheEncodersFormatUnlessAnEffectChoosesOne)
{
    const auto [plainFormat, plainProfile] = convert("plain", {});
    EXPECT_EQ(plainFormat, "yuv420p");
    EXPECT_EQ(plainProfile, "High");
    const auto [chosenFormat, chosenProfile] = convert("chosen", {"Pixel Format=-pix_fmt yuv444p"});
    EXPECT_EQ(chosenFormat, "yuv444p");
    EXPECT_EQ(chosenProfile, "High 4:4:4 Predictive");
}
