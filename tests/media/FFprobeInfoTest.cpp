// Reading ffprobe's JSON into tags and media properties, from hand-written answers.
#include <gtest/gtest.h>

#include "media/FFprobeInfo.h"

namespace {

struct Parsed {
    NTag tags, props;
    uint64_t duration = 12345;
    bool ok = false;
};

Parsed Parse(const wchar_t* json)
{
    Parsed p;
    p.ok = parseFFprobeJSON(XStr(json), p.tags, p.props, p.duration);
    return p;
}

std::wstring Prop(const Parsed& p, const wchar_t* name)
{
    const STInternalTag* tag = p.props.FindTag(name);
    return tag ? std::wstring(tag->Value.View()) : std::wstring(L"<none>");
}

TEST(FFprobeParse, VideoAndAudioStreams)
{
    const Parsed p = Parse(LR"({
      "streams": [
        {"codec_type": "video", "codec_long_name": "H.264", "profile": "High", "width": 1920, "height": 1080,
         "r_frame_rate": "30000/1001", "avg_frame_rate": "25/1", "pix_fmt": "yuv420p", "color_space": "bt709",
         "nb_frames": "60"},
        {"codec_type": "audio", "codec_long_name": "AAC", "channels": 2, "sample_rate": "48000",
         "bits_per_sample": 0},
        {"codec_long_name": "mystery"},
        {"codec_type": "subtitle", "codec_long_name": "MOV text"}
      ],
      "format": {"duration": "3723.5009", "bit_rate": "1234567",
                 "tags": {"title": "A \"quoted\" title", "": "dropped", "artist": "Me", "title": "second"}}
    })");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.duration, 3723500u);
    EXPECT_EQ(Prop(p, L"Length"), L"1:02:03");
    EXPECT_EQ(Prop(p, L"Bit Rate"), L"1,234 kbps");
    EXPECT_EQ(Prop(p, L"Profile"), L"High");
    EXPECT_EQ(Prop(p, L"Width"), L"1920");
    EXPECT_EQ(Prop(p, L"Height"), L"1080");
    EXPECT_EQ(Prop(p, L"Resolution"), L"1920 x 1080");
    EXPECT_EQ(Prop(p, L"Aspect Ratio"), L"16:9"); // computed: no display_aspect_ratio
    EXPECT_EQ(Prop(p, L"Frame Rate"), L"29.97");  // r_frame_rate wins over avg_frame_rate
    EXPECT_EQ(Prop(p, L"Pixel Format"), L"yuv420p");
    EXPECT_EQ(Prop(p, L"Color Space"), L"bt709");
    EXPECT_EQ(Prop(p, L"Frame Count"), L"60");
    EXPECT_EQ(Prop(p, L"Channels"), L"2");
    EXPECT_EQ(Prop(p, L"Sample Rate"), L"48000");
    EXPECT_EQ(Prop(p, L"Sample Size"), L"<none>"); // 0 bits: not shown
    EXPECT_EQ(Prop(p, L"Streams"), L"0 Video : H.264; 1 Audio : AAC; 2 (unknown) : mystery; 3 Subtitle : MOV text");

    // File tags in order, duplicates kept, nameless ones dropped.
    ASSERT_EQ(p.tags.Count(), 3);
    EXPECT_EQ(p.tags.TagAt(0)->Value, XStr(L"A \"quoted\" title"));
    EXPECT_EQ(p.tags.TagAt(1)->Name, XStr(L"artist"));
    EXPECT_EQ(p.tags.TagAt(2)->Value, XStr(L"second"));
}

TEST(FFprobeParse, FirstVideoStreamDecidesAndAudioOnlyHasNoPicture)
{
    const Parsed two = Parse(LR"({"streams": [
        {"codec_type": "video", "codec_long_name": "first", "width": 640, "height": 480, "r_frame_rate": "25/1"},
        {"codec_type": "VIDEO", "codec_long_name": "second", "width": 1280, "height": 720, "r_frame_rate": "50/1",
         "display_aspect_ratio": "16:9"}],
        "format": {"duration": "1"}})");
    ASSERT_TRUE(two.ok);
    EXPECT_EQ(Prop(two, L"Resolution"), L"640 x 480");
    EXPECT_EQ(Prop(two, L"Aspect Ratio"), L"4:3");
    EXPECT_EQ(Prop(two, L"Frame Rate"), L"25");
    EXPECT_EQ(Prop(two, L"Streams"), L"0 Video : first; 1 VIDEO : second");

    const Parsed audio = Parse(LR"({"streams": [{"codec_type": "audio", "codec_long_name": "PCM", "channels": 1,
        "sample_rate": "44100", "bits_per_sample": 16}], "format": {"duration": "0.5"}})");
    ASSERT_TRUE(audio.ok);
    for (const wchar_t* name : {L"Width", L"Height", L"Resolution", L"Aspect Ratio", L"Frame Rate", L"Profile"})
        EXPECT_EQ(Prop(audio, name), L"<none>") << name;
    EXPECT_EQ(Prop(audio, L"Length"), L"0:00");
    EXPECT_EQ(Prop(audio, L"Bit Rate"), L"0 kbps"); // no bit_rate at all
    EXPECT_EQ(Prop(audio, L"Sample Rate"), L"44100");
    EXPECT_EQ(Prop(audio, L"Sample Size"), L"16");
    EXPECT_EQ(audio.duration, 500u);
}

TEST(FFprobeParse, FailureTouchesNothing)
{
    Parsed p;
    p.props.AddTag(L"Keep", L"me");
    for (const wchar_t* text : {L"", L"[1, 2]", L"{}", L"Invalid data found when processing input", L"{\"format\": "}) {
        EXPECT_FALSE(parseFFprobeJSON(XStr(text), p.tags, p.props, p.duration)) << text;
        EXPECT_EQ(p.duration, 12345u);
        EXPECT_EQ(p.tags.Count(), 0);
        EXPECT_EQ(p.props.Count(), 1);
    }
}

TEST(FFprobeParse, ReplacesLengthAndIgnoresStrangeMembers)
{
    Parsed p;
    p.props.AddTag(L"Length", L"old");
    p.props.AddTag(L"length", L"older");
    // Members of the wrong kind read as empty text or 0; a negative duration is no length.
    ASSERT_TRUE(parseFFprobeJSON(XStr(LR"({"format": {"duration": "-4", "bit_rate": 77, "tags": [1]},
        "streams": [{"codec_type": "video", "width": "640", "height": 480}]})"),
                                 p.tags, p.props, p.duration));
    EXPECT_EQ(p.duration, 0u);
    EXPECT_EQ(p.props.GetValue(L"Length"), XStr(L"0:00"));
    EXPECT_EQ(p.props.GetValue(L"Bit Rate"), XStr(L"0 kbps"));
    EXPECT_EQ(Prop(p, L"Width"), L"<none>");  // width given as text reads as 0
    EXPECT_EQ(Prop(p, L"Aspect Ratio"), L""); // added, but empty
    EXPECT_EQ(Prop(p, L"Frame Rate"), L"");
    int lengths = 0;
    for (int64_t i = 0; i < p.props.Count(); ++i)
        lengths += XStrCompare(p.props.TagAt(i)->Name, L"length", 0, true) == 0;
    EXPECT_EQ(lengths, 1);
}

TEST(FFprobeParse, FrameRateTexts)
{
    EXPECT_EQ(frameRateText(XStr(L"30000/1001")), XStr(L"29.97"));
    EXPECT_EQ(frameRateText(XStr(L"24000/1001")), XStr(L"23.97"));
    EXPECT_EQ(frameRateText(XStr(L"25/1")), XStr(L"25"));
    EXPECT_EQ(frameRateText(XStr(L"0/0")), XStr(L"0"));
    EXPECT_EQ(frameRateText(XStr(L"25/2")), XStr(L"12.5"));
    EXPECT_EQ(frameRateText(XStr(L"25")), XStr(L"25"));
    EXPECT_EQ(frameRateText(XStr(L"1/2/3")), XStr(L"1/2/3"));
}

TEST(FFprobeParse, AspectRatioNames)
{
    EXPECT_EQ(aspectRatioName(1920, 1080), XStr(L"16:9"));
    EXPECT_EQ(aspectRatioName(1080, 1920), XStr(L"9:16"));
    EXPECT_EQ(aspectRatioName(640, 480), XStr(L"4:3"));
    EXPECT_EQ(aspectRatioName(720, 480), XStr(L"3:2"));
    EXPECT_EQ(aspectRatioName(1280, 800), XStr(L"16:10"));
    EXPECT_EQ(aspectRatioName(1000, 500), XStr(L"2:1"));
    EXPECT_EQ(aspectRatioName(1280, 1024), XStr(L"5:4"));
    EXPECT_EQ(aspectRatioName(2350, 1000), XStr(L"21:9"));
    EXPECT_EQ(aspectRatioName(1000, 1000), XStr(L"1:1"));
    EXPECT_EQ(aspectRatioName(1100, 1000), XStr(L"1.1:1"));
    EXPECT_EQ(aspectRatioName(1000, 1100), XStr(L"1:1.1"));
    EXPECT_EQ(aspectRatioName(0, 1080), XStr());
    EXPECT_EQ(aspectRatioName(1920, 0), XStr());
}

TEST(FFprobeParse, VideoFrameRateFromAverage)
{
    EXPECT_DOUBLE_EQ(parseVideoFrameRate(XStr(LR"({"streams": [
        {"codec_type": "audio", "avg_frame_rate": "0/0"},
        {"codec_type": "video", "avg_frame_rate": "0/0"},
        {"codec_type": "video", "avg_frame_rate": "30000/1001"}]})")),
                     29.97);
    EXPECT_DOUBLE_EQ(parseVideoFrameRate(XStr(LR"({"streams": [{"codec_type": "Video", "avg_frame_rate": "12.5"}]})")),
                     12.5);
    EXPECT_EQ(parseVideoFrameRate(XStr(LR"({"streams": [{"codec_type": "audio", "avg_frame_rate": "25/1"}]})")), 0);
    EXPECT_EQ(parseVideoFrameRate(XStr(L"not json")), 0);
}

TEST(FFprobeParse, StreamTagsStandInOnlyForMissingContainerTags)
{
    // Ogg: the comments are on the sound stream; a video stream's tags are never taken.
    const Parsed ogg = Parse(LR"({"streams": [
        {"codec_type": "video", "codec_long_name": "Theora", "tags": {"title": "not this"}},
        {"codec_type": "audio", "codec_long_name": "Vorbis", "tags": {"TITLE": "Song", "ARTIST": "Ann", "": "x"}},
        {"codec_type": "audio", "codec_long_name": "Vorbis", "tags": {"title": "second sound"}}],
        "format": {"duration": "1"}})");
    ASSERT_TRUE(ogg.ok);
    ASSERT_EQ(ogg.tags.Count(), 2);
    EXPECT_EQ(ogg.tags.GetValue(L"title"), XStr(L"Song"));
    EXPECT_EQ(ogg.tags.GetValue(L"artist"), XStr(L"Ann"));

    const Parsed both = Parse(LR"({"streams": [{"codec_type": "audio", "tags": {"title": "stream", "genre": "Pop"}}],
        "format": {"tags": {"title": "container"}}})");
    ASSERT_TRUE(both.ok);
    ASSERT_EQ(both.tags.Count(), 1);
    EXPECT_EQ(both.tags.GetValue(L"title"), XStr(L"container"));

    const Parsed none = Parse(LR"({"streams": [{"codec_type": "video", "tags": {"title": "v"}}], "format": {}})");
    ASSERT_TRUE(none.ok);
    EXPECT_EQ(none.tags.Count(), 0);
}

TEST(FFprobeParse, CoverArtIsNoVideo)
{
    const wchar_t* json = LR"({"streams": [
        {"codec_type": "audio", "codec_long_name": "MP3", "channels": 2, "sample_rate": "44100"},
        {"codec_type": "video", "codec_long_name": "Motion JPEG", "width": 700, "height": 700,
         "r_frame_rate": "90000/1", "avg_frame_rate": "0/0", "pix_fmt": "yuvj420p", "disposition": {"attached_pic": 1}},
        {"codec_type": "video", "codec_long_name": "PNG", "width": 300, "height": 300, "r_frame_rate": "90000/1",
         "disposition": {"attached_pic": 1}}],
        "format": {"duration": "2", "tags": {"title": "Covered"}}})";
    const Parsed p = Parse(json);
    ASSERT_TRUE(p.ok);
    for (const wchar_t* name : {L"Width", L"Height", L"Resolution", L"Aspect Ratio", L"Frame Rate", L"Profile",
                                L"Pixel Format", L"Color Space", L"Frame Count"})
        EXPECT_EQ(Prop(p, name), L"<none>") << name;
    EXPECT_EQ(Prop(p, L"Channels"), L"2");
    EXPECT_EQ(Prop(p, L"Streams"), L"0 Audio : MP3; 1 Video : Motion JPEG (cover art); 2 Video : PNG (cover art)");
    const FFprobeStreams streams = parseStreams(XStr(json));
    EXPECT_FALSE(streams.hasVideo);
    EXPECT_TRUE(streams.hasAudio);
    EXPECT_EQ(streams.frameRate, 0);

    // A real picture after the cover decides the video properties.
    const Parsed video = Parse(LR"({"streams": [
        {"codec_type": "video", "width": 700, "height": 700, "r_frame_rate": "90000/1",
         "disposition": {"attached_pic": 1}},
        {"codec_type": "video", "width": 640, "height": 360, "r_frame_rate": "25/1", "avg_frame_rate": "25/1",
         "disposition": {"attached_pic": 0}}]})");
    ASSERT_TRUE(video.ok);
    EXPECT_EQ(Prop(video, L"Resolution"), L"640 x 360");
    EXPECT_EQ(Prop(video, L"Frame Rate"), L"25");
}

TEST(FFprobeParse, TurnedVideoShowsItsDisplayedSize)
{
    const auto turned = [](const wchar_t* rotation) {
        const std::wstring json = std::wstring(LR"({"streams": [{"codec_type": "video", "width": 1920,
            "height": 1080, "display_aspect_ratio": "16:9", )") +
                                  rotation + L"}]}";
        return Parse(json.c_str());
    };
    for (const wchar_t* rotation : {LR"("side_data_list": [{"side_data_type": "Display Matrix", "rotation": -90}])",
                                    LR"("side_data_list": [{"side_data_type": "Other"}, {"rotation": 270}])",
                                    LR"("side_data_list": [{"rotation": "90.00"}])", LR"("tags": {"rotate": "90"})",
                                    LR"("side_data_list": [{"rotation": -450}])"}) {
        const Parsed p = turned(rotation);
        ASSERT_TRUE(p.ok) << rotation;
        EXPECT_EQ(Prop(p, L"Width"), L"1080") << rotation;
        EXPECT_EQ(Prop(p, L"Height"), L"1920") << rotation;
        EXPECT_EQ(Prop(p, L"Resolution"), L"1080 x 1920") << rotation;
        EXPECT_EQ(Prop(p, L"Aspect Ratio"), L"9:16") << rotation;
    }
    for (const wchar_t* rotation :
         {LR"("side_data_list": [{"rotation": 180}])", LR"("side_data_list": [{"rotation": 0}])",
          LR"("tags": {"rotate": "0"})", LR"("side_data_list": [{"rotation": "x"}])"}) {
        const Parsed p = turned(rotation);
        ASSERT_TRUE(p.ok) << rotation;
        EXPECT_EQ(Prop(p, L"Resolution"), L"1920 x 1080") << rotation;
        EXPECT_EQ(Prop(p, L"Aspect Ratio"), L"16:9") << rotation;
    }
}

// ffprobe hands tag bytes through as they are stored; what is not UTF-8 was written as Latin-1
// (Windows-1252).
TEST(FFprobeParse, BytesThatAreNotUTF8AreWindows1252)
{
    const std::string json =
        "{\"format\": {\"tags\": {\"title\": \"Caf\xE9 M\xFCller\", \"artist\": \"\xC3\xA9t\xC3\xA9\","
        " \"album\": \"\x80 5 \x93quoted\x94\", \"comment\": \"\xE9\xC3\xA9\xC3\", \"g\xE9nre\": "
        "\"x\"}}}";
    NTag tags, props;
    uint64_t duration = 0;
    ASSERT_TRUE(parseFFprobeJSONBytes(json, tags, props, duration));
    EXPECT_EQ(tags.GetValue(L"title"), XStr(L"Caf\u00E9 M\u00FCller"));
    EXPECT_EQ(tags.GetValue(L"artist"), XStr(L"\u00E9t\u00E9")); // valid UTF-8 stays UTF-8
    EXPECT_EQ(tags.GetValue(L"album"), XStr(L"\u20AC 5 \u201Cquoted\u201D"));
    EXPECT_EQ(tags.GetValue(L"comment"), XStr(L"\u00E9\u00E9\u00C3"));
    EXPECT_EQ(tags.GetValue(L"g\u00E9nre"), XStr(L"x"));

    // The text reader, given ffprobe's output decoded as the program decodes it, agrees.
    NTag wide, wideProps;
    ASSERT_TRUE(parseFFprobeJSON(XStr::FromUTF8(json), wide, wideProps, duration));
    EXPECT_EQ(wide.Dump().View(), tags.Dump().View());
}

} // namespace
