// setup-tool end to end: the defaults of every encoder of the catalogue (the GPL ones only
// with an ffmpeg that lists libx264) and pages reading a text back.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <map>
#include <sstream>

#include "common/MediaTestFiles.h"
#include "common/TestEnv.h"
#include "common/TestFiles.h"
#include "common/TestShard.h"
#include "common/ToolRun.h"
#include "xclass/XList.h"
#include "xclass/XStr.h"

namespace {

struct Line {
    std::string ext, args, choice;
};

// The lines of encoder-defaults by encoder name; choice lines under "NAME\tCHOICE".
std::multimap<std::string, Line> Parse(const std::string& out)
{
    std::multimap<std::string, Line> lines;
    std::istringstream in(out);
    std::string text;
    while (std::getline(in, text)) {
        std::vector<std::string> fields;
        std::istringstream row(text);
        std::string field;
        while (std::getline(row, field, '\t'))
            fields.push_back(field);
        fields.resize(std::max<size_t>(fields.size(), 3));
        const std::string choice = fields.size() > 3 ? fields[3] : std::string();
        lines.emplace(choice.empty() ? fields[0] : fields[0] + "\t" + choice, Line{fields[1], fields[2], choice});
    }
    return lines;
}

class SetupTool : public ::testing::Test {
protected:
    // An ffmpeg stand-in first on PATH, and a data folder of the test's own (no installed copy).
    void useFFmpeg(bool listsX264)
    {
        const std::string folder = dir.file(listsX264 ? "full" : "lean");
        mkdir(folder.c_str(), 0700);
        WriteTextFile(folder + "/ffmpeg", std::string("#!/bin/sh\necho ' V....D mpeg4  MPEG-4'\n") +
                                              (listsX264 ? "echo ' V....D libx264  H.264'\n" : ""));
        chmod((folder + "/ffmpeg").c_str(), 0755);
        path.emplace("PATH", folder + ":/usr/bin:/bin");
    }
    ToolRunResult run(const std::vector<std::string>& args)
    {
        return RunTestTool(TestToolPath("setup-tool"), args, std::string(), 300000);
    }

    TestTempDir dir;
    TestEnvScope appData{"_APPDATA_OVERRIDE", dir.file("app")};
    TestEnvScope platform{"QT_QPA_PLATFORM", "offscreen"};
    std::optional<TestEnvScope> path;
};

TEST_F(SetupTool, DefaultsOfEveryEncoder)
{
    useFFmpeg(false);
    const ToolRunResult lean = run({"encoder-defaults"});
    ASSERT_EQ(lean.status, 0) << lean.err;
    const auto lines = Parse(lean.out);
    EXPECT_EQ(lines.size(), 20u); // 19 and the multi-encoder
    EXPECT_EQ(lines.count("VOB"), 0u);
    ASSERT_EQ(lines.count("GIF Animation"), 1u);
    EXPECT_EQ(lines.find("GIF Animation")->second.ext, ".gif");
    EXPECT_EQ(lines.find("GIF Animation")->second.args, " -f gif");
    const Line sheet = lines.find("[Contact Sheet]")->second;
    EXPECT_EQ(sheet.ext, ".png");
    EXPECT_EQ(sheet.args.rfind("-contact_col 4 -contact_row 4 -contact_png 1", 0), 0u);
    EXPECT_EQ(lines.find("[Preview Generator]")->second.ext, ".gif");
    EXPECT_EQ(lines.find("[Custom FFmpeg settings]")->second.ext, "");

    useFFmpeg(true);
    const ToolRunResult full = run({"encoder-defaults", "--all-choices"});
    ASSERT_EQ(full.status, 0) << full.err;
    const auto all = Parse(full.out);
    ASSERT_EQ(all.count("VOB"), 1u);
    EXPECT_EQ(all.find("VOB")->second.ext, ".vob");
    ASSERT_EQ(all.count("[Contact Sheet]\tJPEG"), 1u);
    EXPECT_EQ(all.find("[Contact Sheet]\tJPEG")->second.ext, ".jpeg");
    ASSERT_EQ(all.count("[Preview Generator]\tVOB"), 1u);
    EXPECT_NE(all.find("[Preview Generator]\tVOB")->second.args.find("-prev_gen_encNset VOB_eSep_"), std::string::npos);
    EXPECT_EQ(all.find("[Preview Generator]\tVOB")->second.ext, ".vob");
    EXPECT_EQ(all.count("[Preview Generator]\tAudio Extract (MP3)"), 0u);

    // One line for each entry of each rate-control pop-up, with what that mode writes.
    const std::map<std::string, std::string> modes = {
        {"MP4 (H265)\tRate control: Lossless", "-c:v libx265 -c:s mov_text -x265-params lossless=1 -acodec aac"},
        {"MP4 (H264)\tRate control: Constant bitrate",
         "-c:v libx264 -c:s mov_text -b:v 1M -minrate 1M -maxrate 1M -bufsize 1M -nal-hrd cbr -pix_fmt yuv420p "
         "-acodec aac"},
        {"WebM (VP8)\tRate control: Constant quality (CRF)", "-acodec libopus -c:v libvpx -crf 24 -b:v 1G"},
        {"WebM (VP9)\tRate control: Lossless", " -acodec libopus -c:v libvpx-vp9 -lossless 1 "},
        {"Matroska (VP9)\tRate control: Average bitrate", " -acodec aac -c:v libvpx-vp9 -b:v 1M "},
    };
    for (const auto& [key, args] : modes) {
        ASSERT_EQ(all.count(key), 1u) << key;
        EXPECT_EQ(all.find(key)->second.args, args) << key;
        EXPECT_EQ(all.find(key)->second.ext, key.rfind("WebM", 0) == 0  ? ".webm"
                                             : key.rfind("MP4", 0) == 0 ? ".mp4"
                                                                        : ".mkv");
    }
    size_t modeLines = 0;
    for (const auto& [key, line] : all)
        modeLines += line.choice.rfind("Rate control: ", 0) == 0 ? 1 : 0;
    // Four modes on each x264, x265, VP9 and Apple page, three on VP8.
    EXPECT_EQ(modeLines, 5u * 4 + 2u * 4 + 4u * 4 + 3u);
}

TEST_F(SetupTool, RoundTripsReadTextsBack)
{
    useFFmpeg(false);
    const std::string sheet = "-contact_col 3 -contact_row 2 -contact_jpeg 1 -contact_width 800 -contact_padding 2 "
                              "-contact_backcol 00FF00";
    const ToolRunResult same = run({"encoder-roundtrip", "[Contact Sheet]", sheet});
    ASSERT_EQ(same.status, 0) << same.err;
    EXPECT_EQ(same.out, "\t" + sheet + "\n"); // read, nothing written: the page's own text

    const ToolRunResult repaired = run({"encoder-roundtrip", "[Contact Sheet]", "-contact_col 99999 -contact_row x"});
    ASSERT_EQ(repaired.status, 0) << repaired.err;
    EXPECT_EQ(repaired.out, ".png\t-contact_col 100 -contact_row 4 -contact_png 1 -contact_width 1920 "
                            "-contact_padding 4 -contact_backcol 000000\n");

    const ToolRunResult custom = run({"encoder-roundtrip", "[Custom FFmpeg settings]", "-c:v mpeg4 -q:v 3"});
    EXPECT_EQ(custom.out, "\t-c:v mpeg4 -q:v 3\n");

    EXPECT_NE(run({"encoder-roundtrip", "No Such Encoder", ""}).status, 0);
    EXPECT_NE(run({"encoder-roundtrip", "[Contact Sheet]"}).status, 0);
}

} // namespace

// Every text a page writes by default, and for each codec choice, converts a real clip. ctest
// runs it in parts side by side (see TestShard.h).
TEST_F(SetupTool, EveryDefaultConvertsInTheRealFFmpeg)
{
    const std::string ffmpeg = ProgramOnPath("ffmpeg");
    if (ffmpeg.empty() || ProgramOnPath("ffprobe").empty())
        GTEST_SKIP() << "ffmpeg and ffprobe are needed";
    const std::string aacInput = dir.file("in.mp4");
    const std::string mp3Input = dir.file("in.mkv");
    ASSERT_EQ(RunProcess({ffmpeg, "-v", "error", "-f", "lavfi", "-i", "testsrc=d=1:s=160x120:r=25", "-f", "lavfi", "-i",
                          "sine=d=1", "-shortest", "-c:v", "libx264", "-c:a", "aac", aacInput})
                  .status,
              0);
    ASSERT_EQ(
        RunProcess({ffmpeg, "-v", "error", "-i", aacInput, "-c:v", "copy", "-c:a", "libmp3lame", mp3Input}).status, 0);
    const ToolRunResult defaults = run({"encoder-defaults", "--all-choices"});
    ASSERT_EQ(defaults.status, 0) << defaults.err;
    const TestShard shard = TestShard::current();
    int converted = 0;
    for (const auto& [name, line] : Parse(defaults.out)) {
        if (name.empty() || name[0] == '[' || line.args.empty())
            continue;
        if (!shard.has(size_t(converted++)))
            continue;
        XStrList tokens;
        tokens.ParseArgs(XStr::FromUTF8(line.args));
        // Extracting MP3 copies the stream: the source must hold MP3 audio.
        std::vector<std::string> argv = {ffmpeg,
                                         "-nostdin",
                                         "-v",
                                         "error",
                                         "-y",
                                         "-i",
                                         name.rfind("Audio Extract (MP3)", 0) == 0 ? mp3Input : aacInput};
        for (int64_t i = 0; i < tokens.Count(); ++i)
            argv.push_back(tokens[i].ToUTF8String());
        const std::string out = dir.file("out" + line.ext);
        argv.push_back(out);
        const ToolRunResult r = RunProcess(argv);
        EXPECT_EQ(r.status, 0) << name << ": " << line.args << "\n" << r.err;
        EXPECT_EQ(RunProcess({ProgramOnPath("ffprobe"), "-v", "error", out}).status, 0) << name;
    }
    EXPECT_GT(converted, 40);
}

// Every effect's default through the engine on a real clip, as a batch would run it (the
// actions after the conversion on a copy of the source); the watermark, which has no picture
// before the user chooses one, says so. ctest runs it in parts side by side (see TestShard.h);
// the first part also reads a chain file back.
TEST_F(SetupTool, EveryEffectDefaultConvertsThroughTheEngine)
{
    const std::string ffmpeg = ProgramOnPath("ffmpeg");
    if (ffmpeg.empty() || ProgramOnPath("ffprobe").empty())
        GTEST_SKIP() << "ffmpeg and ffprobe are needed";
    const std::string input = dir.file("in.mp4");
    ASSERT_EQ(
        RunProcess({ffmpeg, "-v", "error", "-f", "lavfi", "-i", "testsrc=d=1:s=1920x1080:r=10", "-f", "lavfi", "-i",
                    "sine=d=1", "-shortest", "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac", input})
            .status,
        0);
    const ToolRunResult defaults = run({"effect-defaults"});
    ASSERT_EQ(defaults.status, 0) << defaults.err;
    std::istringstream lines(defaults.out);
    std::string line;
    const TestShard shard = TestShard::current();
    int effects = 0;
    while (std::getline(lines, line)) {
        if (!shard.has(size_t(effects++)))
            continue;
        const std::string name = line.substr(0, line.find('\t'));
        const std::string args = line.substr(line.find('\t') + 1);
        const std::string source = dir.file("source.mp4");
        WriteTextFile(source, ReadTestFile(input));
        const ToolRunResult r = RunTestTool(TestToolPath("engine-tool"),
                                            {"run", "--src", source, "--dst", dir.file("fx.mp4"), "--args",
                                             "-vcodec libx264 -preset ultrafast -acodec aac " + args},
                                            std::string(), 300000);
        if (name == "Watermark") {
            EXPECT_NE(r.status, 0);
            EXPECT_NE(r.out.find("The watermark has no picture"), std::string::npos) << r.out;
            continue;
        }
        EXPECT_EQ(r.status, 0) << name << ": " << args << "\n" << r.out;
        EXPECT_EQ(PathExists(source), name != "Delete Source File") << name;
    }
    EXPECT_EQ(effects, 35);
    if (!shard.first())
        return;

    // A chain file of two effects' defaults reads back as the chain string.
    const std::string file = dir.file("c.dspeffect");
    ASSERT_EQ(run({"chain-save", file, "Crop", "Fade"}).status, 0);
    const ToolRunResult loaded = run({"chain-load", file});
    EXPECT_EQ(loaded.out, "-dspeffect1=\"Crop=-vf crop=1024:768:0:0\" -dspeffect2=\"Fade=-fadein={qt}0{qt} "
                          "-fadeout={qt}0{qt} -afadein={qt}0{qt} -afadeout={qt}0{qt}\"\n");
    EXPECT_NE(run({"chain-save", file, "Nonsense"}).status, 0);
    EXPECT_EQ(run({"effect-roundtrip", "Loop", ""}).out, "-loopvideo=2\n");
}
