// The information record of real files made by ffmpeg, and what happens with files that
// ffprobe cannot read.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/MediaTestFiles.h"
#include "media/FFprobeInfo.h"
#include "media/QKMediaFileInfo.h"
#include "xclass/XTime.h"

namespace {

XStr Path(const std::string& utf8)
{
    return XStr::FromUTF8(utf8);
}

QString Prop(const QKMediaFileInfoRef& info, const char* name)
{
    return info->getAudioPropsValueOf(QString::fromUtf8(name)).value_or(QStringLiteral("<none>"));
}

void ExpectEmptyRecord(const QKMediaFileInfoRef& info)
{
    ASSERT_TRUE(info);
    EXPECT_TRUE(info->path().IsEmpty());
    EXPECT_EQ(info->lengthMS(), 0u);
    EXPECT_EQ(info->IDTags()->tagCount(), 0);
    EXPECT_EQ(info->MediaProps()->tagCount(), 0);
}

TEST(QKMediaFileInfo, ReadsAVideoWithAHostileName)
{
    TestTempDir dir;
    // Quotes, $( ), backquotes, a backslash, a newline and a byte that is not UTF-8.
    const std::string name = "a \"b\" $(touch pwned) `touch pw2` c\\d\n\xff.mp4";
    const std::string file = dir.file(name);
    ASSERT_TRUE(MakeTestVideo(file, "1920x1080", "30000/1001", "2", {"-metadata", "title=Ünïcode \"title\""}));

    const uint64_t before = XGetFileTimeNow();
    XStr reason;
    const QKMediaFileInfoRef info = QKMediaFileInfo::readFromFile(Path(file), &reason);
    ASSERT_TRUE(info) << reason.ToUTF8String();
    EXPECT_TRUE(reason.IsEmpty());
    EXPECT_FALSE(PathExists(dir.file("pwned")));
    EXPECT_FALSE(PathExists(dir.file("pw2")));
    EXPECT_FALSE(PathExists("pwned"));

    EXPECT_EQ(info->path().ToUTF8String(), file);
    EXPECT_GE(info->lengthMS(), 1900u);
    EXPECT_LE(info->lengthMS(), 2200u);
    EXPECT_EQ(Prop(info, "Length"), QStringLiteral("0:02"));
    EXPECT_EQ(Prop(info, "Width"), QStringLiteral("1920"));
    EXPECT_EQ(Prop(info, "Resolution"), QStringLiteral("1920 x 1080"));
    EXPECT_EQ(Prop(info, "Frame Rate"), QStringLiteral("29.97"));
    EXPECT_EQ(Prop(info, "Aspect Ratio"), QStringLiteral("16:9"));
    EXPECT_EQ(Prop(info, "Channels"), QStringLiteral("1"));
    EXPECT_EQ(Prop(info, "Sample Rate"), QStringLiteral("44100"));
    EXPECT_TRUE(Prop(info, "Bit Rate").endsWith(QStringLiteral(" kbps")));
    EXPECT_TRUE(Prop(info, "Streams").startsWith(QStringLiteral("0 Video : ")));
    EXPECT_EQ(info->getIDTagValueOf(QStringLiteral("title")).value_or(QString()),
              QString::fromUtf8("Ünïcode \"title\""));
    // The file was just written: its time is now, in 1601-based units of whole seconds.
    EXPECT_NEAR(static_cast<double>(info->lastModified()), static_cast<double>(before),
                5.0 * QKMediaFileInfo::fileTime1Second());
    EXPECT_EQ(info->lastModified() % QKMediaFileInfo::fileTime1Second(), 0u);
}

TEST(QKMediaFileInfo, RelativeNamesThatLookLikeOptionsOrProtocols)
{
    TestTempDir dir;
    ASSERT_TRUE(MakeTestAudio(dir.file("-version.wav"), "1", {"-c:a", "pcm_s16le"}));
    ASSERT_TRUE(MakeTestAudio(dir.file("http:x.wav"), "1", {"-c:a", "pcm_s16le"}));
    char saved[4096];
    ASSERT_TRUE(getcwd(saved, sizeof saved));
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    const QKMediaFileInfoRef option = QKMediaFileInfo::readFromFile(XStr(L"-version.wav"));
    const QKMediaFileInfoRef protocol = QKMediaFileInfo::readFromFile(XStr(L"http:x.wav"));
    ASSERT_EQ(chdir(saved), 0);
    ASSERT_TRUE(option);
    ASSERT_TRUE(protocol);
    EXPECT_EQ(Prop(option, "Sample Size"), QStringLiteral("16"));
    EXPECT_EQ(Prop(protocol, "Resolution"), QStringLiteral("<none>"));
    EXPECT_GE(protocol->lengthMS(), 900u);
}

TEST(QKMediaFileInfo, UnreadableFilesGiveAnEmptyRecordAndAReason)
{
    TestTempDir dir;
    WriteTextFile(dir.file("notes.txt"), "just some text, no media here\n");
    WriteTextFile(dir.file("empty.mp4"), "");
    std::string damaged(4096, '\0');
    for (size_t i = 0; i < damaged.size(); ++i)
        damaged[i] = static_cast<char>((i * 7919) & 0xff);
    WriteTextFile(dir.file("damaged.mkv"), damaged);

    for (const char* name : {"notes.txt", "empty.mp4", "damaged.mkv", "missing.mp4"}) {
        SCOPED_TRACE(name);
        XStr reason;
        EXPECT_FALSE(QKMediaFileInfo::readFromFile(Path(dir.file(name)), &reason));
        EXPECT_FALSE(reason.IsEmpty());
        const QKMediaFileInfoRef info = QKMediaFileInfo::infoForFile(Path(dir.file(name)), &reason);
        ExpectEmptyRecord(info);
        EXPECT_FALSE(reason.IsEmpty());
        EXPECT_EQ(info->errorText(), reason);
        ExpectEmptyRecord(QKMediaFileInfo::readLiteInfoFromFile(Path(dir.file(name))));
    }
    XStr reason;
    QKMediaFileInfo::infoForFile(Path(dir.file("missing.mp4")), &reason);
    EXPECT_NE(reason.Find(L"No such file"), 0) << reason.ToUTF8String();
}

TEST(QKMediaFileInfo, AProbeThatNeverEndsIsStopped)
{
    // ffprobe blocks opening a pipe that nobody writes to: the time limit must end it.
    TestTempDir dir;
    const std::string fifo = dir.file("stalled.mp4");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int saved = ffprobeTimeoutMs();
    setFFprobeTimeoutMs(1500);
    XStr reason;
    const QKMediaFileInfoRef info = QKMediaFileInfo::infoForFile(Path(fifo), &reason);
    setFFprobeTimeoutMs(saved);
    ExpectEmptyRecord(info);
    EXPECT_NE(reason.Find(L"did not finish"), 0) << reason.ToUTF8String();
}

TEST(QKMediaFileInfo, AStopRequestEndsARunningProbeAtOnce)
{
    // A quit while a stalled source is probed: the probe ends then, not at its time limit
    // (none here, so a probe that ignored the request would never end).
    if (ProgramOnPath("ffprobe").empty())
        GTEST_SKIP() << "ffprobe is needed";
    TestTempDir dir;
    const std::string fifo = dir.file("stalled.mp4");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int saved = ffprobeTimeoutMs();
    setFFprobeTimeoutMs(-1);
    std::atomic<bool> quit{false};
    int writeEnd = -1; // kept open: ffprobe keeps waiting for data
    std::thread writer([&] {
        // Opening for writing returns once ffprobe has opened the other end: it is running.
        writeEnd = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
        quit = true;
    });
    XStr json(L"stale"), reason;
    uint64_t duration = 1;
    const bool ok = readFFprobeTags(Path(fifo), nullptr, &json, duration, &reason, [&] { return quit.load(); });
    writer.join();
    if (writeEnd >= 0)
        close(writeEnd);
    setFFprobeTimeoutMs(saved);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(json.IsEmpty());
    EXPECT_EQ(duration, 0u);
    EXPECT_EQ(reason.ToUTF8String(), "ffprobe was stopped.");
}

TEST(QKMediaFileInfo, CopyIsIndependentAndLiteDropsInternalTags)
{
    TestTempDir dir;
    const std::string file = dir.file("tagged.mkv");
    ASSERT_TRUE(MakeTestAudio(
        file, "1", {"-metadata", "title=Hello", "-metadata", "artist=Someone", "-metadata", "_private=secret"}));
    const QKMediaFileInfoRef full = QKMediaFileInfo::infoForFile(Path(file));
    ASSERT_TRUE(full->getIDTagValueOf(QStringLiteral("_private")).has_value());

    const QKMediaFileInfoRef copy = full->copy();
    EXPECT_EQ(copy->lengthMS(), full->lengthMS());
    EXPECT_EQ(copy->lastModified(), full->lastModified());
    EXPECT_EQ(copy->path(), full->path());
    EXPECT_NE(copy->IDTags(), full->IDTags());
    copy->IDTags()->tag()->SetValue(L"title", L"Changed");
    copy->IDTags()->tag()->AddTag(L"extra", L"1");
    EXPECT_EQ(full->getIDTagValueOf(QStringLiteral("title")).value_or(QString()), QStringLiteral("Hello"));
    EXPECT_FALSE(full->getIDTagValueOf(QStringLiteral("extra")).has_value());

    const QKMediaFileInfoRef lite = QKMediaFileInfo::readLiteInfoFromFile(Path(file));
    EXPECT_EQ(lite->getIDTagValueOf(QStringLiteral("title")).value_or(QString()), QStringLiteral("Hello"));
    EXPECT_TRUE(lite->getIDTagValueOf(QStringLiteral("artist")).has_value());
    EXPECT_FALSE(lite->getIDTagValueOf(QStringLiteral("_private")).has_value());
    EXPECT_EQ(lite->lengthMS(), full->lengthMS());
}

TEST(QKMediaFileInfo, FailedRefreshEmptiesTheTags)
{
    TestTempDir dir;
    const std::string file = dir.file("clip.mp4");
    ASSERT_TRUE(MakeTestVideo(file, "160x120", "25", "1"));
    const QKMediaFileInfoRef info = QKMediaFileInfo::readFromFile(Path(file));
    ASSERT_TRUE(info);
    ASSERT_GT(info->MediaProps()->tagCount(), 0);
    const QKTagRef heldProps = info->MediaProps();
    const int64_t heldCount = heldProps->tagCount();

    ASSERT_EQ(unlink(file.c_str()), 0);
    XStr reason;
    EXPECT_FALSE(info->readFFmpegInfo(&reason));
    EXPECT_FALSE(reason.IsEmpty());
    EXPECT_EQ(info->MediaProps()->tagCount(), 0);
    EXPECT_EQ(info->lengthMS(), 0u);
    // A reader that took the old object keeps a complete one.
    EXPECT_EQ(heldProps->tagCount(), heldCount);
}

TEST(FFprobeRun, TagsAndJsonForTheRunner)
{
    TestTempDir dir;
    const std::string file = dir.file("runner.mp4");
    ASSERT_TRUE(MakeTestVideo(file, "320x240", "24000/1001", "1", {"-metadata", "comment=for the runner"}));
    NTag tags;
    tags.AddTag(L"stale", L"x");
    XStr json;
    uint64_t duration = 1;
    ASSERT_TRUE(readFFprobeTags(Path(file), &tags, &json, duration));
    EXPECT_GE(duration, 900u);
    EXPECT_EQ(tags.FindTag(L"stale"), nullptr);
    EXPECT_EQ(tags.GetValue(L"comment"), XStr(L"for the runner"));
    EXPECT_NEAR(parseVideoFrameRate(json), 23.97, 0.005);
    EXPECT_NEAR(getVideoFrameRate(Path(file)), 23.97, 0.005);

    XStr reason;
    EXPECT_FALSE(readFFprobeTags(Path(dir.file("nothing.mp4")), &tags, &json, duration, &reason));
    EXPECT_EQ(duration, 0u);
    EXPECT_EQ(tags.Count(), 0);
    EXPECT_FALSE(reason.IsEmpty());
    EXPECT_EQ(getVideoFrameRate(Path(dir.file("nothing.mp4"))), 0);
}

QString Tag(const QKMediaFileInfoRef& info, const char* name)
{
    return info->getIDTagValueOf(QString::fromUtf8(name)).value_or(QStringLiteral("<none>"));
}

// Vorbis and Opus keep their comments on the stream, not in the container.
TEST(QKMediaFileInfo, OggTagsAreTheFileTags)
{
    TestTempDir dir;
    const std::vector<std::string> tags{"-metadata:s:a:0", "title=Caf\u00e9 Song", "-metadata:s:a:0",
                                        "artist=Ann",      "-metadata:s:a:0",      "album=First"};
    for (const char* codec : {"libvorbis", "libopus"}) {
        const std::string file = dir.file(std::string(codec) + ".ogg");
        std::vector<std::string> extra{"-c:a", codec};
        extra.insert(extra.end(), tags.begin(), tags.end());
        ASSERT_TRUE(MakeTestAudio(file, "1", extra)) << codec;
        const QKMediaFileInfoRef info = QKMediaFileInfo::readFromFile(Path(file));
        ASSERT_TRUE(info) << codec;
        EXPECT_EQ(Tag(info, "title"), QString::fromUtf8("Caf\u00e9 Song")) << codec;
        EXPECT_EQ(Tag(info, "ARTIST"), QStringLiteral("Ann")) << codec;
        EXPECT_EQ(Tag(info, "album"), QStringLiteral("First")) << codec;
    }
}

// ID3v1 and RIFF INFO texts are bytes of the writer's code page: Latin-1 in practice.
TEST(QKMediaFileInfo, Latin1TagsAreReadAsWindows1252)
{
    TestTempDir dir;
    const std::string mp3 = dir.file("v1.mp3");
    ASSERT_TRUE(MakeTestAudio(mp3, "1", {"-c:a", "libmp3lame", "-id3v2_version", "0", "-write_id3v1", "0"}));
    ASSERT_TRUE(AppendID3v1(mp3, "Caf\xE9 M\xFCller", "J\xFCrgen \x80",
                            "Gr\xF6\xDF"
                            "e"));
    const QKMediaFileInfoRef info = QKMediaFileInfo::readFromFile(Path(mp3));
    ASSERT_TRUE(info);
    EXPECT_EQ(Tag(info, "title"), QString::fromUtf8("Caf\u00e9 M\u00fcller"));
    EXPECT_EQ(Tag(info, "artist"), QString::fromUtf8("J\u00fcrgen \u20ac"));
    EXPECT_EQ(Tag(info, "album"), QString::fromUtf8("Gr\u00f6\u00dfe"));
    EXPECT_EQ(Tag(info, "track"), QStringLiteral("5"));

    const std::string wav = dir.file("info.wav");
    ASSERT_TRUE(MakeTestAudio(wav, "1",
                              {"-c:a", "pcm_s16le", "-metadata", "title=CafQ MQller", "-metadata",
                               "artist=Zo\xC3\xAB"})); // UTF-8 stays UTF-8
    ASSERT_TRUE(PatchFileBytes(wav, "CafQ MQller", "Caf\xE9 M\xFCller"));
    const QKMediaFileInfoRef riff = QKMediaFileInfo::readFromFile(Path(wav));
    ASSERT_TRUE(riff);
    EXPECT_EQ(Tag(riff, "title"), QString::fromUtf8("Caf\u00e9 M\u00fcller"));
    EXPECT_EQ(Tag(riff, "artist"), QString::fromUtf8("Zo\u00eb"));
}

TEST(QKMediaFileInfo, CoverArtIsNoVideoAndTurnedVideoShowsItsDisplayedSize)
{
    TestTempDir dir;
    const std::string mp3 = dir.file("cover.mp3");
    ASSERT_TRUE(MakeMP3WithCoverArt(mp3, {"-metadata", "title=Covered"}));
    const QKMediaFileInfoRef cover = QKMediaFileInfo::readFromFile(Path(mp3));
    ASSERT_TRUE(cover);
    for (const char* name : {"Width", "Height", "Resolution", "Frame Rate", "Aspect Ratio", "Pixel Format"})
        EXPECT_EQ(Prop(cover, name), QStringLiteral("<none>")) << name;
    EXPECT_EQ(Prop(cover, "Sample Rate"), QStringLiteral("44100"));
    EXPECT_TRUE(Prop(cover, "Streams").contains(QStringLiteral("(cover art)"))) << Prop(cover, "Streams").toStdString();
    EXPECT_EQ(Tag(cover, "title"), QStringLiteral("Covered"));
    XStr json;
    uint64_t duration = 0;
    ASSERT_TRUE(readFFprobeTags(Path(mp3), nullptr, &json, duration));
    EXPECT_FALSE(parseStreams(json).hasVideo);
    EXPECT_TRUE(parseStreams(json).hasAudio);

    // A portrait phone clip: stored 320x240, shown turned a quarter.
    const std::string plain = dir.file("plain.mp4");
    ASSERT_TRUE(MakeTestVideo(plain, "320x240", "25", "1"));
    const std::string turned = dir.file("turned.mp4");
    // Newer ffmpegs set the turn with an input option; older ones took the stream's tag.
    const bool made = RunProgramQuietly({"ffmpeg", "-v", "error", "-nostdin", "-display_rotation", "90", "-i", plain,
                                         "-c", "copy", "-y", turned}) ||
                      RunProgramQuietly({"ffmpeg", "-v", "error", "-nostdin", "-i", plain, "-c", "copy",
                                         "-metadata:s:v:0", "rotate=90", "-y", turned});
    ASSERT_TRUE(made);
    const QKMediaFileInfoRef portrait = QKMediaFileInfo::readFromFile(Path(turned));
    ASSERT_TRUE(portrait);
    EXPECT_EQ(Prop(portrait, "Resolution"), QStringLiteral("240 x 320"));
    EXPECT_EQ(Prop(portrait, "Width"), QStringLiteral("240"));
    EXPECT_EQ(Prop(portrait, "Height"), QStringLiteral("320"));
    EXPECT_EQ(Prop(portrait, "Aspect Ratio"), QStringLiteral("3:4"));
    EXPECT_EQ(Prop(QKMediaFileInfo::readFromFile(Path(plain)), "Resolution"), QStringLiteral("320 x 240"));
}

} // namespace
