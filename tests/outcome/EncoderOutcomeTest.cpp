// What each encoder page's settings give, measured in the output: every choice the catalogue
// lists is run through the engine on a short clip and its streams are read back (codec,
// profile, pixel format, container, frame size, audio codec, channels and rate); the rate
// modes are held to the bit rate they ask for, the quality sliders to larger and better files,
// the lossless modes to the source's exact frames, and the multi-encoder's entries each to
// their own settings.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <numeric>
#include <string>
#include <vector>

#include "common/RealFFmpegRunTest.h"
#include "outcome/OutcomeMeasure.h"

using namespace outcome;

namespace {

// One line of the catalogue: a page's text as it opens, or as one of its choices writes it.
struct CatalogueLine {
    std::string name, ext, args, choice;
    bool hasChoice = false;
};

long long FileSize(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

std::vector<std::string> Fields(const std::string& line)
{
    std::vector<std::string> fields;
    size_t from = 0;
    for (;;) {
        const size_t tab = line.find('\t', from);
        fields.push_back(line.substr(from, tab == std::string::npos ? std::string::npos : tab - from));
        if (tab == std::string::npos)
            return fields;
        from = tab + 1;
    }
}

const std::vector<CatalogueLine>& Catalogue()
{
    static const std::vector<CatalogueLine> lines = [] {
        std::vector<CatalogueLine> all;
        const ToolRunResult r =
            RunTestTool(TestToolPath("setup-tool"), {"encoder-defaults", "--all-choices"}, std::string(), 120000);
        for (const std::string& text : Lines(r.out)) {
            const std::vector<std::string> f = Fields(text);
            if (f.size() < 3)
                continue;
            CatalogueLine line{f[0], f[1], f[2], f.size() > 3 ? f[3] : std::string(), f.size() > 3};
            all.push_back(line);
        }
        return all;
    }();
    return lines;
}

std::vector<CatalogueLine> LinesOf(const std::string& name)
{
    std::vector<CatalogueLine> lines;
    for (const CatalogueLine& line : Catalogue())
        if (line.name == name)
            lines.push_back(line);
    return lines;
}

// The file extension of an encoder of the catalogue, without asking the catalogue (which costs
// a tool run per test).
std::string ExtensionOf(const std::string& name)
{
    if (name.rfind("MP4", 0) == 0)
        return ".mp4";
    if (name.rfind("Matroska", 0) == 0)
        return ".mkv";
    if (name.rfind("WebM", 0) == 0)
        return ".webm";
    if (name.rfind("AVI", 0) == 0)
        return ".avi";
    static const std::map<std::string, std::string> others{
        {"MOV (Quicktime Movie)", ".mov"}, {"Flash Video", ".flv"}, {"WMV (Windows Media Video)", ".wmv"}};
    const auto it = others.find(name);
    return it == others.end() ? std::string() : it->second;
}

// What the page writes after reading a stored text: the text a profile holding it converts with.
std::string PageText(const std::string& name, const std::string& stored)
{
    const ToolRunResult r =
        RunTestTool(TestToolPath("setup-tool"), {"encoder-roundtrip", name, stored}, std::string(), 120000);
    const std::vector<std::string> lines = Lines(r.out);
    for (const std::string& line : lines) {
        const std::vector<std::string> f = Fields(line);
        if (f.size() >= 2)
            return f[1];
    }
    return std::string();
}

// One conversion as the program runs it; the tool's output is in the message when it fails.
::testing::AssertionResult Converted(const std::string& source, const std::string& dest, const std::string& encoder,
                                     const std::string& args)
{
    const ToolRunResult r = RunTestTool(TestToolPath("engine-tool"),
                                        {"run", "--src", source, "--dst", dest, "--encoder", encoder, "--args", args});
    const std::string last = LastLine(r.out);
    if ((last == "result: success" || last == "result: converted with warnings") && FileSize(dest) > 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << encoder << " with '" << args << "' failed: " << last << "\n" << r.out;
}

// The rate of a stream once the rate control has settled: the whole seconds after the first.
double SettledKbps(const std::string& path)
{
    const std::vector<double> seconds = KbitPerSecond(path);
    if (seconds.size() < 3)
        return -1;
    return std::accumulate(seconds.begin() + 1, seconds.end(), 0.0) / static_cast<double>(seconds.size() - 1);
}

// Matroska and WebM share ffprobe's format name; the EBML header's document type tells them
// apart.
std::string MatroskaDocType(const std::string& path)
{
    std::string head;
    if (FILE* f = fopen(path.c_str(), "rb")) {
        char bytes[64];
        head.assign(bytes, fread(bytes, 1, sizeof bytes, f));
        fclose(f);
    }
    if (head.find("webm") != std::string::npos)
        return "webm";
    if (head.find("matroska") != std::string::npos)
        return "matroska";
    return std::string();
}

// Every stream's and the container's fields from one ffprobe run.
struct Probe {
    explicit Probe(const std::string& path)
    {
        std::map<std::string, std::string>* into = nullptr;
        for (const std::string& line : Lines(
                 RunOnPath({"ffprobe", "-v", "error", "-show_format", "-show_streams", "-of", "default", path}).out)) {
            if (line == "[STREAM]") {
                streams.emplace_back();
                into = &streams.back();
            } else if (line == "[FORMAT]") {
                into = &format;
            } else if (line == "[/STREAM]" || line == "[/FORMAT]") {
                into = nullptr;
            } else if (into && !line.empty() && line[0] != '[') {
                const size_t eq = line.find('=');
                if (eq != std::string::npos)
                    into->emplace(line.substr(0, eq), line.substr(eq + 1));
            }
        }
    }
    const std::map<std::string, std::string>* first(const std::string& type) const
    {
        for (const auto& stream : streams)
            if (Text(stream, "codec_type") == type)
                return &stream;
        return nullptr;
    }
    std::map<std::string, std::string> format;
    std::vector<std::map<std::string, std::string>> streams;
};

// The MD5 of each packet of the first sound stream as stored (not decoded): a copy has the
// source's.
std::vector<std::string> AudioPacketHashes(const std::string& path)
{
    std::vector<std::string> hashes;
    for (const std::string& line : Lines(RunOnPath({"ffmpeg", "-v", "error", "-nostdin", "-i", path, "-map", "0:a:0",
                                                    "-c", "copy", "-f", "framemd5", "-"})
                                             .out)) {
        const size_t comma = line.rfind(',');
        if (!line.empty() && line[0] != '#' && comma != std::string::npos)
            hashes.push_back(line.substr(comma + 1));
    }
    return hashes;
}

struct VideoExpect {
    VideoExpect(std::string c = {}, std::string p = {}, std::string f = {}, std::string t = {}, std::string a = {},
                int w = 160, int h = 120, bool copy = false)
        : codec(c), profile(p), pixFmt(f), tag(t), aspect(a), width(w), height(h), copied(copy)
    {
    }
    std::string codec; // empty: no video stream
    std::string profile, pixFmt, tag, aspect;
    int width, height;
    bool copied; // the source's frames, unchanged
};

struct AudioExpect {
    AudioExpect(std::string c = {}, int r = 0, int ch = 0, bool copy = false)
        : codec(c), rate(r), channels(ch), copied(copy)
    {
    }
    std::string codec; // empty: no audio stream
    int rate, channels;
    bool copied;
};

struct ContainerExpect {
    ContainerExpect(std::string f, std::string b, std::string d) : formatName(f), brand(b), docType(d) {}
    std::string formatName;
    std::string brand;   // the MP4 family's major brand ("isom", "qt  ", "3gp"...), a prefix
    std::string docType; // Matroska's "matroska" or "webm"
};

const AudioExpect kAAC{"aac", 44100, 2, false};
const AudioExpect kOpus{"opus", 48000, 2, false};
const AudioExpect kVorbis{"vorbis", 44100, 2, false};
const AudioExpect kCopiedAAC{"aac", 44100, 2, true};

const ContainerExpect kMP4{"mov,mp4,m4a,3gp,3g2,mj2", "isom", ""};
const ContainerExpect kMatroska{"matroska,webm", "", "matroska"};
const ContainerExpect kWebM{"matroska,webm", "", "webm"};

const VideoExpect kH264{"h264", "High", "yuv420p"};
const VideoExpect kH265{"hevc", "Main", "yuv420p"};
const VideoExpect kVP9{"vp9", "Profile 0", "yuv420p"};
const VideoExpect kCopiedVideo{"h264", "", "yuv420p", "", "", 160, 120, true};

struct Expect {
    VideoExpect video;
    AudioExpect audio;
};

struct PageExpect {
    std::string name;
    ContainerExpect container;
    Expect base;
    // Choices other than the audio ones change what is expected here; false: unknown choice.
    std::function<bool(const std::string& choice, Expect& expect)> choice;
};

// Source clips, made once per test in its own folder.
struct Sources {
    std::string h264AAC, h264MP3;
};

class EncoderOutcome : public RealFFmpegRunTest {
    std::map<std::string, std::vector<std::string>> m_hashes;

protected:
    // A second of 160x120 H.264 at 10 frames a second with stereo AAC at 44.1 kHz (with MP3:
    // for the MP3 extraction, which copies).
    std::string sourceWith(const std::string& audioCodec)
    {
        const std::string path = dir.file("source-" + audioCodec + ".mkv");
        if (FileSize(path) > 0)
            return path;
        EXPECT_TRUE(MakeClip(path, "testsrc2=d=1:s=160x120:r=10",
                             "sine=f=440:d=1:r=44100,aformat=channel_layouts=stereo",
                             {"-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-c:a", audioCodec}));
        return path;
    }

    // The frames of a lossless clip (no sound), for the modes that promise them back exactly.
    std::string losslessSource(const std::string& pixFmt = "yuv420p")
    {
        const std::string path = dir.file("lossless-" + pixFmt + ".mkv");
        if (FileSize(path) > 0)
            return path;
        EXPECT_TRUE(MakeClip(path, "testsrc2=d=1:s=160x120:r=10", "", {"-c:v", "ffv1", "-pix_fmt", pixFmt}));
        return path;
    }

    // Five seconds of moving pictures under changing noise: every encoder needs all the bits a
    // rate allows, so the rate it reaches is the one it was given.
    std::string noisySource()
    {
        const std::string path = dir.file("noisy.mkv");
        EXPECT_TRUE(MakeClip(path, "testsrc2=d=5:s=160x120:r=25,noise=alls=12:allf=t", "", {"-c:v", "ffv1"}));
        return path;
    }

    // Six seconds as noisySource, with two of much heavier noise in the middle: an average rate
    // spends more there, a constant one may not.
    std::string variedSource()
    {
        const std::string path = dir.file("varied.mkv");
        EXPECT_TRUE(MakeClip(
            path, "testsrc2=d=6:s=160x120:r=25,noise=alls=10:allf=t,noise=alls=60:allf=t:enable='between(t,2,4)'", "",
            {"-c:v", "ffv1"}));
        return path;
    }

    // A second with a little noise, where every step of a quality setting shows in size.
    std::string qualitySource()
    {
        const std::string path = dir.file("quality.mkv");
        EXPECT_TRUE(MakeClip(path, "testsrc2=d=1:s=160x120:r=25,noise=alls=6:allf=t", "", {"-c:v", "ffv1"}));
        return path;
    }

    void checkOutput(const std::string& out, const std::string& source, const ContainerExpect& container,
                     const Expect& expect, const std::string& what)
    {
        SCOPED_TRACE(what);
        const Probe probe(out);
        EXPECT_EQ(Text(probe.format, "format_name"), container.formatName);
        if (!container.brand.empty()) {
            EXPECT_EQ(Text(probe.format, "TAG:major_brand").rfind(container.brand, 0), 0u)
                << Text(probe.format, "TAG:major_brand");
        }
        if (!container.docType.empty()) {
            EXPECT_EQ(MatroskaDocType(out), container.docType);
        }

        const auto* v = probe.first("video");
        const auto* a = probe.first("audio");
        EXPECT_EQ(v != nullptr, !expect.video.codec.empty());
        EXPECT_EQ(a != nullptr, !expect.audio.codec.empty());
        if (v && !expect.video.codec.empty()) {
            EXPECT_EQ(Text(*v, "codec_name"), expect.video.codec);
            // Lossless H.264 is only possible in the High 4:4:4 Predictive profile.
            const bool losslessH264 = what.find("ossless") != std::string::npos && expect.video.codec == "h264";
            if (!expect.video.profile.empty()) {
                EXPECT_EQ(Text(*v, "profile"),
                          losslessH264 ? std::string("High 4:4:4 Predictive") : expect.video.profile);
            }
            if (!expect.video.pixFmt.empty()) {
                EXPECT_EQ(Text(*v, "pix_fmt"), expect.video.pixFmt);
            }
            if (!expect.video.tag.empty()) {
                EXPECT_EQ(Text(*v, "codec_tag_string"), expect.video.tag);
            }
            if (!expect.video.aspect.empty()) {
                EXPECT_EQ(Text(*v, "display_aspect_ratio"), expect.video.aspect);
            }
            EXPECT_EQ(Number(*v, "width"), expect.video.width);
            EXPECT_EQ(Number(*v, "height"), expect.video.height);
            if (expect.video.copied) {
                EXPECT_EQ(FrameHashes(out), sourceHashes(source));
            }
        }
        if (a && !expect.audio.codec.empty()) {
            EXPECT_EQ(Text(*a, "codec_name"), expect.audio.codec);
            EXPECT_EQ(Number(*a, "sample_rate"), expect.audio.rate);
            EXPECT_EQ(Number(*a, "channels"), expect.audio.channels);
            if (expect.audio.copied) {
                // The MP3 muxer puts its own header frame first; every packet after it is the
                // source's.
                const std::vector<std::string> copied = AudioPacketHashes(out);
                const std::vector<std::string> original = AudioPacketHashes(source);
                EXPECT_EQ(copied.size(), original.size());
                EXPECT_FALSE(copied.empty());
                if (!copied.empty() && copied.size() == original.size()) {
                    EXPECT_TRUE(std::equal(copied.begin() + 1, copied.end(), original.begin() + 1));
                }
            }
        }
    }

    const std::vector<std::string>& sourceHashes(const std::string& source)
    {
        auto it = m_hashes.find(source);
        if (it == m_hashes.end())
            it = m_hashes.emplace(source, FrameHashes(source)).first;
        return it->second;
    }

    // Every line the catalogue lists for the page: the page as it opens, each choice, and each
    // rate-control mode when the catalogue names them ("Rate control: <label>").
    void checkPage(const PageExpect& page, const std::string& source)
    {
        const std::vector<CatalogueLine> lines = LinesOf(page.name);
        ASSERT_FALSE(lines.empty()) << "the catalogue has no page " << page.name;
        int n = 0;
        std::vector<std::string> done;
        for (const CatalogueLine& line : lines) {
            // The page as it opens writes what its first choice writes: one run shows both.
            if (std::find(done.begin(), done.end(), line.args) != done.end())
                continue;
            done.push_back(line.args);
            Expect expect = page.base;
            bool lossless = false;
            if (line.choice.rfind("Audio Stream: ", 0) == 0) {
                const std::string audio = line.choice.substr(14);
                if (audio == "Re-encode to AAC")
                    expect.audio = kAAC;
                else if (audio == "Re-encode to Opus")
                    expect.audio = kOpus;
                else if (audio == "Re-encode to Vorbis")
                    expect.audio = kVorbis;
                else if (audio == "Copy 1:1 From Source")
                    expect.audio = kCopiedAAC;
                else {
                    ADD_FAILURE() << page.name << ": no expectation for " << line.choice;
                }
            } else if (line.choice.rfind("Rate control: ", 0) == 0) {
                const std::string mode = line.choice.substr(14);
                lossless = mode.find("ossless") != std::string::npos;
            } else if (line.hasChoice && !(page.choice && page.choice(line.choice, expect))) {
                ADD_FAILURE() << page.name << ": no expectation for " << line.choice;
                continue;
            }
            const std::string out = dir.file("out-" + std::to_string(n++) + line.ext);
            const std::string what = page.name + " [" + line.choice + "] " + line.args;
            ASSERT_TRUE(Converted(source, out, page.name, line.args)) << what;
            checkOutput(out, source, page.container, expect, what);
            if (lossless) {
                EXPECT_EQ(FrameHashes(out, "yuv420p"), FrameHashes(source, "yuv420p")) << what;
            }
        }
    }

    void checkPage(const PageExpect& page) { checkPage(page, sourceWith("aac")); }

    // The page's text for a stored setting, run on the clip.
    std::string convertStored(const std::string& page, const std::string& stored, const std::string& source,
                              const std::string& tag)
    {
        const std::string text = PageText(page, stored);
        EXPECT_FALSE(text.empty()) << page << " wrote nothing for " << stored;
        const std::string out = dir.file(tag + ExtensionOf(page));
        EXPECT_TRUE(Converted(source, out, page, text)) << stored;
        return out;
    }

    // An average bit rate is reached within 15% once the rate control has settled.
    void checkAverageRate(const std::string& page, const std::string& stored, double kbps)
    {
        const std::string out = convertStored(page, stored, noisySource(), "abr");
        EXPECT_NEAR(SettledKbps(out), kbps, 0.15 * kbps) << page << " with " << PageText(page, stored);
    }

    // A constant bit rate holds every second near the rate where an average rate would spend
    // several times as much, and is not the average rate's output.
    void checkConstantRate(const std::string& page, const std::string& cbr, const std::string& abr, double kbps)
    {
        const std::string source = variedSource();
        const std::string constant = convertStored(page, cbr, source, "cbr");
        const std::string average = convertStored(page, abr, source, "abr");
        const std::vector<double> seconds = KbitPerSecond(constant);
        ASSERT_GE(seconds.size(), 5u);
        for (size_t s = 0; s < seconds.size(); ++s) {
            EXPECT_LE(seconds[s], 2 * kbps) << "second " << s << " of " << PageText(page, cbr);
            EXPECT_GE(seconds[s], 0.2 * kbps) << "second " << s << " of " << PageText(page, cbr);
        }
        EXPECT_LE(StreamKbps(constant), 1.15 * kbps);
        EXPECT_NE(FrameHashes(constant), FrameHashes(average)) << "constant and average bit rate give the same output";
    }

    // Three positions of a quality slider, from low to high: each gives a larger file that is
    // closer to the source.
    void checkQualitySteps(const std::string& page, const std::vector<std::string>& storedLowToHigh)
    {
        const std::string source = qualitySource();
        double lastSize = -1, lastPSNR = -1;
        std::string last;
        for (size_t i = 0; i < storedLowToHigh.size(); ++i) {
            const std::string out = convertStored(page, storedLowToHigh[i], source, "q" + std::to_string(i));
            const double size = static_cast<double>(FileSize(out));
            const double psnr = PSNR(out, source);
            if (i > 0) {
                EXPECT_GT(size, lastSize) << storedLowToHigh[i] << " against " << last;
                EXPECT_GT(psnr, lastPSNR) << storedLowToHigh[i] << " against " << last;
            }
            lastSize = size;
            lastPSNR = psnr;
            last = storedLowToHigh[i];
        }
    }

    // A lossless mode decodes to the source's frames, compared in the source's pixel format.
    void checkLossless(const std::string& page, const std::string& stored)
    {
        const std::string source = losslessSource();
        const std::string out = convertStored(page, stored, source, "lossless");
        const std::vector<std::string> expected = FrameHashes(source, "yuv420p");
        ASSERT_EQ(expected.size(), 10u);
        EXPECT_EQ(FrameHashes(out, "yuv420p"), expected) << PageText(page, stored);
    }
};

// The H.263 sizes are the choices' own words.
bool ThreeGPChoice(const std::string& choice, Expect& expect)
{
    int w = 0, h = 0;
    if (sscanf(choice.c_str(), "H263 (%dx%d)", &w, &h) == 2) {
        expect.video.width = w;
        expect.video.height = h;
        return true;
    }
    if (choice == "H264") {
        expect.video = kH264;
        expect.audio = kAAC;
        return true;
    }
    return false;
}

} // namespace

// ---- Every choice of every page: the streams and the container it promises.

TEST_F(EncoderOutcome, ThreeGPChoicesGiveTheirCodecAndSize)
{
    checkPage({"3GP",
               {"mov,mp4,m4a,3gp,3g2,mj2", "3gp", ""},
               {{"h263", "", "yuv420p", "", "", 128, 96}, {"aac", 8000, 1, false}},
               ThreeGPChoice});
}

TEST_F(EncoderOutcome, AVIGivesMPEG4AndMP3)
{
    checkPage({"AVI", {"avi", "", ""}, {{"mpeg4", "", "yuv420p"}, {"mp3", 44100, 2, false}}, nullptr});
}

TEST_F(EncoderOutcome, XviDGivesXviDTaggedMPEG4)
{
    checkPage(
        {"AVI (XviD/DivX)", {"avi", "", ""}, {{"mpeg4", "", "yuv420p", "xvid"}, {"mp3", 44100, 2, false}}, nullptr});
}

TEST_F(EncoderOutcome, FlashVideoGivesFLV1AndMP3)
{
    checkPage({"Flash Video", {"flv", "", ""}, {{"flv1", "", "yuv420p"}, {"mp3", 44100, 2, false}}, nullptr});
}

TEST_F(EncoderOutcome, GIFAnimationGivesPicturesOnly)
{
    checkPage({"GIF Animation", {"gif", "", ""}, {{"gif", "", ""}, {}}, nullptr});
}

TEST_F(EncoderOutcome, VOBGivesDVDVideo)
{
    checkPage(
        {"VOB", {"mpeg", "", ""}, {{"mpeg2video", "", "yuv420p", "", "16:9", 720, 480}, {"ac3", 48000, 2}}, nullptr});
}

TEST_F(EncoderOutcome, WMVGivesWindowsMediaVideoAndAudio)
{
    checkPage({"WMV (Windows Media Video)", {"asf", "", ""}, {{"wmv2", "", "yuv420p"}, {"wmav2", 44100, 2}}, nullptr});
}

TEST_F(EncoderOutcome, AudioExtractionsKeepOneSoundStreamOnly)
{
    checkPage({"Audio Extract (AAC)", {"mov,mp4,m4a,3gp,3g2,mj2", "M4A", ""}, {{}, kCopiedAAC}, nullptr});
    checkPage({"Audio Extract (MP3)", {"mp3", "", ""}, {{}, {"mp3", 44100, 2, true}}, nullptr},
              sourceWith("libmp3lame"));
    checkPage({"Audio Extract (WAVE)", {"wav", "", ""}, {{}, {"pcm_s16le", 44100, 2, false}}, nullptr});
}

TEST_F(EncoderOutcome, MOVChoicesGiveH264InQuickTime)
{
    checkPage({"MOV (Quicktime Movie)", {"mov,mp4,m4a,3gp,3g2,mj2", "qt", ""}, {kH264, kAAC}, nullptr});
}

TEST_F(EncoderOutcome, MP4H264ChoicesGiveH264InMP4)
{
    checkPage({"MP4 (H264)", kMP4, {kH264, kAAC}, nullptr});
}

TEST_F(EncoderOutcome, MP4H265ChoicesGiveH265InMP4)
{
    checkPage({"MP4 (H265)", kMP4, {kH265, kAAC}, nullptr});
}

TEST_F(EncoderOutcome, MP4AppleH264ChoicesGiveH264InMP4)
{
    checkPage({"MP4 (Apple H264)", kMP4, {kH264, kAAC}, nullptr});
}

TEST_F(EncoderOutcome, MP4AppleH265ChoicesGiveH265InMP4)
{
    checkPage({"MP4 (Apple H265)", kMP4, {kH265, kAAC}, nullptr});
}

TEST_F(EncoderOutcome, MP4CopyKeepsTheSourceFrames)
{
    checkPage({"MP4 (copy, no encoding)", kMP4, {kCopiedVideo, kAAC}, nullptr});
}

TEST_F(EncoderOutcome, MatroskaH264ChoicesGiveH264InMatroska)
{
    checkPage({"Matroska (H264)", kMatroska, {kH264, kAAC}, nullptr});
}

TEST_F(EncoderOutcome, MatroskaH265ChoicesGiveH265InMatroska)
{
    checkPage({"Matroska (H265)", kMatroska, {kH265, kAAC}, nullptr});
}

TEST_F(EncoderOutcome, MatroskaAppleH264ChoicesGiveH264InMatroska)
{
    checkPage({"Matroska (Apple H264)", kMatroska, {kH264, kAAC}, nullptr});
}

TEST_F(EncoderOutcome, MatroskaAppleH265ChoicesGiveH265InMatroska)
{
    checkPage({"Matroska (Apple H265)", kMatroska, {kH265, kAAC}, nullptr});
}

TEST_F(EncoderOutcome, MatroskaVP9ChoicesGiveVP9InMatroska)
{
    checkPage({"Matroska (VP9)", kMatroska, {kVP9, kAAC}, nullptr});
}

TEST_F(EncoderOutcome, MatroskaCopyKeepsTheSourceFrames)
{
    checkPage({"Matroska (copy, no encoding)", kMatroska, {kCopiedVideo, kAAC}, nullptr});
}

TEST_F(EncoderOutcome, WebMVP8ChoicesGiveVP8InWebM)
{
    checkPage({"WebM (VP8)", kWebM, {{"vp8", "", "yuv420p"}, kOpus}, nullptr});
}

TEST_F(EncoderOutcome, WebMVP9ChoicesGiveVP9InWebM)
{
    checkPage({"WebM (VP9)", kWebM, {kVP9, kOpus}, nullptr});
}

// ---- Average bit rates: within 15% of the rate asked for.

TEST_F(EncoderOutcome, H264AverageBitrateIsReached)
{
    checkAverageRate("MP4 (H264)", "-c:v libx264 -b:v 500k", 500);
}

TEST_F(EncoderOutcome, H265AverageBitrateIsReached)
{
    checkAverageRate("Matroska (H265)", "-c:v libx265 -b:v 500k -preset ultrafast", 500);
}

TEST_F(EncoderOutcome, AppleH264AverageBitrateIsReached)
{
    checkAverageRate("Matroska (Apple H264)", "-b:v 500k", 500);
}

TEST_F(EncoderOutcome, AppleH265AverageBitrateIsReached)
{
    checkAverageRate("MP4 (Apple H265)", "-b:v 500k", 500);
}

TEST_F(EncoderOutcome, VP8AverageBitrateIsReached)
{
    checkAverageRate("WebM (VP8)", "-c:v libvpx -b:v 500k", 500);
}

TEST_F(EncoderOutcome, VP9AverageBitrateIsReached)
{
    checkAverageRate("WebM (VP9)", "-c:v libvpx-vp9 -b:v 500k -deadline realtime", 500);
}

TEST_F(EncoderOutcome, WMVBitrateIsReached)
{
    checkAverageRate("WMV (Windows Media Video)", "-b:v 500k", 500);
}

// ---- A stored rate the page's table lacks.

TEST_F(EncoderOutcome, H264StoredRateOutsideTheTableIsKept)
{
    checkAverageRate("MP4 (H264)", "-c:v libx264 -b:v 350k", 350);
}

TEST_F(EncoderOutcome, WMVStoredRateOutsideTheTableIsKept)
{
    checkAverageRate("WMV (Windows Media Video)", "-b:v 650k", 650);
}

// ---- Constant bit rates.

TEST_F(EncoderOutcome, VP8ConstantBitrateHoldsTheRate)
{
    checkConstantRate("WebM (VP8)", "-b:v 500k -minrate 500k -maxrate 500k", "-b:v 500k", 500);
}

TEST_F(EncoderOutcome, VP9ConstantBitrateHoldsTheRate)
{
    checkConstantRate("WebM (VP9)", "-b:v 500k -minrate 500k -maxrate 500k -deadline realtime",
                      "-b:v 500k -deadline realtime", 500);
}

TEST_F(EncoderOutcome, H264ConstantBitrateHoldsTheRate)
{
    checkConstantRate("MP4 (H264)", "-c:v libx264 -b:v 500k -minrate 500k -maxrate 500k -preset ultrafast",
                      "-c:v libx264 -b:v 500k -preset ultrafast", 500);
}

TEST_F(EncoderOutcome, H265ConstantBitrateHoldsTheRate)
{
    checkConstantRate("MP4 (H265)", "-c:v libx265 -b:v 500k -minrate 500k -maxrate 500k -preset ultrafast",
                      "-c:v libx265 -b:v 500k -preset ultrafast", 500);
}

TEST_F(EncoderOutcome, AppleH264ConstantBitrateHoldsTheRate)
{
    checkConstantRate("Matroska (Apple H264)", "-b:v 500k -minrate 500k -maxrate 500k", "-b:v 500k", 500);
}

// ---- Quality sliders: a higher quality never gives a smaller or worse file.

TEST_F(EncoderOutcome, H264QualitySliderStepsUp)
{
    checkQualitySteps("MP4 (H264)",
                      {"-crf 40 -preset ultrafast", "-crf 28 -preset ultrafast", "-crf 16 -preset ultrafast"});
}

TEST_F(EncoderOutcome, H265QualitySliderStepsUp)
{
    checkQualitySteps("Matroska (H265)",
                      {"-crf 40 -preset ultrafast", "-crf 28 -preset ultrafast", "-crf 16 -preset ultrafast"});
}

TEST_F(EncoderOutcome, AppleH264QualitySliderStepsUp)
{
    checkQualitySteps("MP4 (Apple H264)", {"-crf 40", "-crf 28", "-crf 16"});
}

TEST_F(EncoderOutcome, VP8QualitySliderStepsUp)
{
    checkQualitySteps("WebM (VP8)", {"-crf 36", "-crf 18", "-crf 4"});
}

TEST_F(EncoderOutcome, VP9QualitySliderStepsUp)
{
    checkQualitySteps("WebM (VP9)",
                      {"-crf 50 -deadline realtime", "-crf 32 -deadline realtime", "-crf 16 -deadline realtime"});
}

TEST_F(EncoderOutcome, AVIQualitySliderStepsUp)
{
    checkQualitySteps("AVI", {"-qscale 9", "-qscale 5", "-qscale 1"});
}

TEST_F(EncoderOutcome, FlashQualitySliderStepsUp)
{
    checkQualitySteps("Flash Video", {"-qscale 9", "-qscale 5", "-qscale 1"});
}

TEST_F(EncoderOutcome, XviDQualitySliderStepsUp)
{
    checkQualitySteps("AVI (XviD/DivX)", {"-q:v 20", "-q:v 8", "-q:v 2"});
}

TEST_F(EncoderOutcome, WMVBitrateSliderStepsUp)
{
    checkQualitySteps("WMV (Windows Media Video)", {"-b:v 200k", "-b:v 500k", "-b:v 1M"});
}

// ---- Lossless modes: the source's frames exactly.

TEST_F(EncoderOutcome, H264LosslessIsExact)
{
    checkLossless("MP4 (H264)", "-crf 0 -preset ultrafast");
    checkLossless("Matroska (Apple H264)", "-crf 0");
}

TEST_F(EncoderOutcome, H265LosslessIsExact)
{
    checkLossless("Matroska (H265)", "-crf 0 -preset ultrafast");
    checkLossless("MP4 (Apple H265)", "-crf 0");
}

TEST_F(EncoderOutcome, VP9LosslessIsExact)
{
    checkLossless("WebM (VP9)", "-crf 0 -deadline realtime");
    checkLossless("Matroska (VP9)", "-crf 0 -deadline realtime");
}

// ---- H.264 for every player: 8-bit 4:2:0 whatever the source, unless the user asked.

TEST_F(EncoderOutcome, H264FromTenBitAndFullChromaSourcesIsEightBit420)
{
    for (const std::string pixFmt : {"yuv420p10le", "yuv444p"}) {
        const std::string source = losslessSource(pixFmt);
        for (const std::string page : {"MP4 (H264)", "Matroska (H264)", "MOV (Quicktime Movie)"}) {
            const std::string out = dir.file("eight-bit-" + pixFmt + ExtensionOf(page));
            ASSERT_TRUE(Converted(source, out, page, PageText(page, "-crf 24 -preset ultrafast")));
            const auto v = StreamFields(out);
            EXPECT_EQ(Text(v, "pix_fmt"), "yuv420p") << page << " from " << pixFmt;
            // ultrafast gives Constrained Baseline; any 8-bit 4:2:0 profile plays everywhere.
            const std::string profile = Text(v, "profile");
            EXPECT_TRUE(profile == "High" || profile == "Main" || profile == "Constrained Baseline" ||
                        profile == "Baseline")
                << page << " from " << pixFmt << ": " << profile;
        }
    }
}

TEST_F(EncoderOutcome, H264KeepsThePixelFormatTheUserChose)
{
    const std::string source = losslessSource("yuv420p10le");
    const std::string folder = dir.file("chosen");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    const std::string text = PageText("MP4 (H264)", "-crf 24 -preset ultrafast");
    const ToolRunResult r =
        RunTestTool(TestToolPath("engine-tool"), {"batch", "--src", source, "--dst-folder", folder, "--ext", ".mp4",
                                                  "--args", text, "--effect", "Pixel Format=-pix_fmt yuv422p"});
    const std::string out = folder + "/lossless-yuv420p10le.mp4";
    ASSERT_GT(FileSize(out), 0) << r.out << r.err;
    const auto v = StreamFields(out);
    EXPECT_EQ(Text(v, "pix_fmt"), "yuv422p");
    EXPECT_EQ(Text(v, "profile"), "High 4:2:2");
}

// ---- The multi-encoder: each entry converts with its own encoder and settings.

TEST_F(EncoderOutcome, MultiEncoderEntriesKeepTheirOwnSettings)
{
    const std::string h264 = PageText("MP4 (H264)", "-crf 0 -preset ultrafast");
    const std::string vp9 = PageText("WebM (VP9)", "-acodec libvorbis -crf 50 -deadline realtime");
    ASSERT_NE(h264.find("-crf 0"), std::string::npos);
    const std::string config = "-enc1=\"MP4 (H264)=" + h264 + "\" -enc2=\"WebM (VP9)=" + vp9 + "\"";
    const ToolRunResult lines =
        RunTestTool(TestToolPath("engine-tool"), {"batch-args", "--encoder", "[Multi Encoder]", "--args", config});
    const std::vector<std::string> commands = Lines(lines.out);
    ASSERT_GE(commands.size(), 3u) << lines.out << lines.err;
    ASSERT_EQ(commands[2].rfind("threads=", 0), 0u) << lines.out;

    const std::string source = losslessSource();
    const std::string first = dir.file("entry1.mp4");
    const std::string second = dir.file("entry2.webm");
    ASSERT_TRUE(Converted(source, first, "MP4 (H264)", commands[0]));
    ASSERT_TRUE(Converted(source, second, "WebM (VP9)", commands[1]));

    // The first entry: lossless H.264 in MP4.
    EXPECT_EQ(Text(StreamFields(first), "codec_name"), "h264");
    EXPECT_EQ(Text(FormatFields(first), "TAG:major_brand"), "isom");
    EXPECT_EQ(FrameHashes(first, "yuv420p"), FrameHashes(source, "yuv420p"));
    // The second: VP9 in WebM at a low quality, far from the source.
    EXPECT_EQ(Text(StreamFields(second), "codec_name"), "vp9");
    EXPECT_EQ(MatroskaDocType(second), "webm");
    const double psnr = PSNR(second, source);
    EXPECT_GT(psnr, 15);
    EXPECT_LT(psnr, 45);
    EXPECT_LT(FileSize(second) * 4, FileSize(first));
}
