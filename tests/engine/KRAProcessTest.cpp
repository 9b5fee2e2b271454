// The ffmpeg run: argument text rewriting, the error filter, and whole conversions through
// engine-tool with the real ffmpeg, with hostile file names and with a stand-in ffmpeg that
// records its arguments, fails or crashes.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/MediaTestFiles.h"
#include "common/RealFFmpegRunTest.h"
#include "common/TestEnv.h"
#include "common/TestFiles.h"
#include "common/ToolRun.h"
#include "engine/KRAArgText.h"
#include "engine/clFFMPEG.h"
#include "xclass/XFileName.h"

namespace {

// What ffprobe prints of the entries asked for, one value a line.
std::string FFprobeText(const std::string& path, const std::string& entries)
{
    ToolRunOptions options;
    options.searchPath = true;
    return RunProcess({"ffprobe", "-v", "error", "-show_entries", entries, "-of", "csv=p=0", path}, options).out;
}

double Duration(const std::string& path)
{
    const std::string text = FFprobeText(path, "format=duration");
    return text.empty() ? -1 : std::atof(text.c_str());
}

std::set<std::string> FolderNames(const std::string& folder)
{
    std::set<std::string> names;
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return names;
    while (dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..")
            names.insert(name);
    }
    closedir(dir);
    return names;
}

// "video audio " and the like.
std::string StreamTypes(const std::string& path)
{
    std::string text = FFprobeText(path, "stream=codec_type");
    for (char& c : text) {
        if (c == '\n')
            c = ' ';
    }
    return text;
}

bool NoTemporaryLeft(const std::string& folder)
{
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return false;
    bool clean = true;
    while (dirent* e = readdir(dir)) {
        if (std::string(e->d_name).find(".tmp") != std::string::npos)
            clean = false;
    }
    closedir(dir);
    return clean;
}

} // namespace

// ---- Argument text ------------------------------------------------------------------------

TEST(KRAProcessArgs, PullRemovesEveryElementAndJoinsValues)
{
    XStr args(L" -vcodec libx264 -trimstart=1.5 -vf scale=320:240 -TRIMSTART 2");
    EXPECT_EQ(std::wstring(pullArgument(L"trimstart", args).View()), L"1.5, 2");
    EXPECT_EQ(std::wstring(args.View()), L"-vcodec libx264 -vf scale=320:240");
    EXPECT_TRUE(pullArgument(L"absent", args).IsEmpty());
    EXPECT_EQ(std::wstring(args.View()), L"-vcodec libx264 -vf scale=320:240");
}

TEST(KRAProcessArgs, MergeQuotesAJoinedFilterList)
{
    const XStr merged = mergeArgument(L"vf", XStr(L"-vf a=1 -an -vf=\"b=2\" -acodec aac"));
    EXPECT_EQ(std::wstring(merged.View()), L"-vf \"a=1, b=2\" -an -acodec aac");
}

TEST(KRAProcessArgs, TextTheParserCannotReadStaysInPlace)
{
    XStr args(L"-vcodec libx264 stray \"two words\" -acodec aac");
    pullArgument(L"fadein", args);
    XStrList tokens;
    tokens.ParseArgs(args);
    ASSERT_EQ(tokens.Count(), 6);
    EXPECT_EQ(std::wstring(tokens[2].View()), L"stray");
    EXPECT_EQ(std::wstring(tokens[3].View()), L"two words");
    EXPECT_EQ(std::wstring(tokens[5].View()), L"aac");
}

TEST(KRAProcessArgs, HostileValuesSurviveTheRewrite)
{
    const std::vector<std::wstring> values{
        L"a b",     L"a,b",         L"q\"uote",     L"back\\slash",
        L"trail\\", L"$(rm -rf x)", L"line\nbreak", std::wstring(L"bad") + wchar_t(0xDCFF)};
    for (const std::wstring& value : values) {
        std::vector<KRAArgItem> items{KRAArgItem{true, XStr(L"metadata"), XStr(std::wstring_view(value))},
                                      KRAArgItem{true, XStr(L"an"), XStr()}};
        const std::vector<KRAArgItem> back = parseArgItems(writeArgItems(items));
        ASSERT_EQ(back.size(), 2u);
        EXPECT_EQ(std::wstring(back[0].value.View()), value);
        EXPECT_TRUE(back[1].value.IsEmpty());
    }
}

TEST(KRAProcessArgs, ErrorFilter)
{
    XStr info(L"  [libx264 @ 0x1] [info] using cpu capabilities  ");
    EXPECT_FALSE(filterErrorLine(info));
    XStr blank(L"    ");
    EXPECT_FALSE(filterErrorLine(blank));
    XStr warning(L"[mp4 @ 0x2] [WARNING] odd");
    EXPECT_FALSE(filterErrorLine(warning));
    XStr encoded(L"Encoded 25 frames");
    EXPECT_FALSE(filterErrorLine(encoded));
    XStr nvidia(L"Cannot load nvcuda.dll");
    EXPECT_TRUE(filterErrorLine(nvidia));
    EXPECT_EQ(std::wstring(nvidia.View()), L"Error: compatible Nvidia GPU not found, or Nvidia drivers not installed");
    // The level decides; the message is shown without it.
    XStr tagged(L"[matroska @ 0x3] [error] Error writing trailer of /x/[info] y.mkv");
    EXPECT_TRUE(filterErrorLine(tagged));
    EXPECT_EQ(std::wstring(tagged.View()), L"[matroska @ 0x3] Error writing trailer of /x/[info] y.mkv");
    EXPECT_TRUE(hasFFmpegLevelTag(XStr(L"[fatal] x")));
    EXPECT_TRUE(hasFFmpegLevelTag(XStr(L"[in#0 @ 0x1] [info] Stream")));
    EXPECT_FALSE(hasFFmpegLevelTag(XStr(L"line.mkv': [info] ")));
    XStr real(L" /x/in.mp4: Invalid data found when processing input ");
    EXPECT_TRUE(filterErrorLine(real));
    EXPECT_EQ(std::wstring(real.View()), L"/x/in.mp4: Invalid data found when processing input");
}

// Information and warnings are known by ffmpeg's level tag after the context prefix; the same
// words inside a file name, or anywhere else in the message, make no difference.
TEST(KRAProcessArgs, ErrorFilterReadsTheLevelOnlyWhereFFmpegPutsIt)
{
    for (const wchar_t* dropped :
         {L"[info] Stream mapping:", L"[INFO] x", L"[mp4 @ 0x55d0] [warning] odd",
          L"[out#0/mp4 @ 0x1] [vost#0:0/libx264 @ 0x2] [Warning] x",
          L"[warning]: Source height < 720p; disabling lookahead-slices", L"[libx264 @ (nil)] [info] using cpu"}) {
        XStr line(dropped);
        EXPECT_FALSE(filterErrorLine(line)) << XStr(dropped).ToUTF8String();
    }
    const std::vector<XStr> paths{XStr(L"/S/invalidating cache/m.tmp.mkv"), XStr(L"/S/x Zero Metal services found")};
    for (const wchar_t* kept :
         {L"Error writing trailer of /S/[Info]/m.tmp.mkv: No space left on device",
          L"[matroska @ 0x5] Error writing /S/[warning]/m.mkv",
          L"[matroska @ 0x5] [error] /S/a [INFO] b/m.mkv: File too large",
          L"Error closing file /S/invalidating cache/m.tmp.mkv: No space left on device",
          L"Could not open /S/x Zero Metal services found", L"[info /x/m.mkv: No space left on device"}) {
        XStr line(kept);
        EXPECT_TRUE(filterErrorLine(line, paths)) << XStr(kept).ToUTF8String();
    }
    // The known noise outside the file names is still dropped.
    XStr noise(L"[h264 @ 0x1] co located POCs unavailable");
    EXPECT_FALSE(filterErrorLine(noise, paths));
}

TEST(KRAProcessArgs, WordsFFmpegWouldTakeForAnotherOutput)
{
    const std::vector<std::pair<const wchar_t*, const wchar_t*>> cases{
        {L"-vcodec mpeg4 -metadata title=My Film.mp4 -acodec aac", L"Film.mp4"},
        {L"stray -an", L"stray"},
        {L"-an stray", L"stray"},
        {L"-vn -sn -dn -y -shortest extra.mkv", L"extra.mkv"},
        {L"-noautorotate x", L"x"},
        {L"-an:0 x", L"x"},
        {L"-acodec aac -", L"-"},
        {L"-acodec aac -- -x.mp4", L"-x.mp4"},
        {L"-acodec aac --", L"--"},
        {L"-vcodec mpeg4 \"\"", L""},
        {L"-vcodec mpeg4 -vf scale=2:2 -report out.mkv", L"out.mkv"},
    };
    for (const auto& [text, word] : cases) {
        XStrList tokens;
        tokens.ParseArgs(XStr(text));
        const std::optional<XStr> found = findOutputWord(tokens);
        ASSERT_TRUE(found.has_value()) << XStr(text).ToUTF8String();
        EXPECT_EQ(std::wstring(found->View()), word) << XStr(text).ToUTF8String();
    }
    for (const wchar_t* text :
         {L"-vcodec mpeg4 -metadata \"title=My Film.mp4\" -acodec aac", L"-ss -5 -t 3",
          L"-autorotate 0 -an -noaccurate_seek -metadata:s:a:0 language=eng", L"-h full", L"-x264-params -", L""}) {
        XStrList tokens;
        tokens.ParseArgs(XStr(text));
        EXPECT_FALSE(findOutputWord(tokens).has_value()) << XStr(text).ToUTF8String();
    }
}

// ---- Whole runs with the real ffmpeg ---------------------------------------------------------

class KRAProcessRun : public RealFFmpegRunTest {
protected:
    void SetUp() override
    {
        RealFFmpegRunTest::SetUp();
        if (IsSkipped())
            return;
        src = dir.file("in.mp4");
        ASSERT_TRUE(MakeTestVideo(src, "320x240", "25", "2"));
    }
    ToolRunResult Run(const std::vector<std::string>& args) { return RunTestTool(TestToolPath("engine-tool"), args); }

    std::string src;
};

TEST_F(KRAProcessRun, TrimsAndReportsProgress)
{
    const std::string out = dir.file("out.mkv");
    const ToolRunResult r =
        Run({"run", "--src", src, "--dst", out, "--args", "-vcodec libx264 -acodec aac -trimstart=0.5 -fadein=0"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(LastLine(r.out), "result: success");
    EXPECT_NE(r.out.find("percent: 100\n"), std::string::npos);
    EXPECT_NE(r.out.find("length: 2000\n"), std::string::npos);
    EXPECT_EQ(r.out.find("fade=type=in"), std::string::npos); // a fade of "0" adds nothing
    EXPECT_NEAR(Duration(out), 1.5, 0.15);
    EXPECT_TRUE(NoTemporaryLeft(dir.path()));
}

TEST_F(KRAProcessRun, HostileNamesReachFFmpegUnchanged)
{
    const std::vector<std::string> names{"sp ace \"q\" $(touch pwned) `x` *?.mp4", "back\\slash\\", "new\nline.mkv",
                                         std::string("bad\xff\xfe name.mp4"), "-leading-dash.mp4"};
    for (const std::string& name : names) {
        const std::string source = dir.file(name + ".src.mp4");
        ASSERT_TRUE(RunProgramQuietly({"cp", src, source}));
        const std::string dest = dir.file(name);
        const ToolRunResult r = Run({"run", "--src", source, "--dst", dest, "--args", "-vcodec libx264 -f matroska"});
        EXPECT_EQ(LastLine(r.out), "result: success") << name << "\n" << r.out;
        EXPECT_GT(Duration(dest), 1.5) << name;
        EXPECT_TRUE(PathExists(source)) << name;
    }
    EXPECT_FALSE(PathExists("pwned"));
    EXPECT_FALSE(PathExists(dir.file("pwned")));
    EXPECT_TRUE(NoTemporaryLeft(dir.path()));
}

TEST_F(KRAProcessRun, ConvertingAFileOntoItselfReplacesItOnlyAfterSuccess)
{
    const std::string self = dir.file("self.mp4");
    ASSERT_TRUE(RunProgramQuietly({"cp", src, self}));
    const std::string link = dir.file("link.mp4");
    ASSERT_EQ(symlink(self.c_str(), link.c_str()), 0);
    // Through a link: a failing run leaves the file as it was.
    const std::string before = ReadTestFile(self);
    ToolRunResult r = Run({"run", "--src", link, "--dst", self, "--args", "-vcodec no_such_codec"});
    EXPECT_EQ(LastLine(r.out), "result: failure");
    EXPECT_EQ(ReadTestFile(self), before);
    // A successful run replaces it with the converted file.
    r = Run({"run", "--src", self, "--dst", self, "--args", "-vcodec libx264 -acodec copy"});
    EXPECT_EQ(LastLine(r.out), "result: success") << r.out;
    EXPECT_NE(ReadTestFile(self), before);
    EXPECT_NEAR(Duration(self), 2.0, 0.2);
    EXPECT_TRUE(NoTemporaryLeft(dir.path()));
}

TEST_F(KRAProcessRun, AFailedRunLeavesTheDestinationAlone)
{
    const std::string bad = dir.file("bad.mp4");
    std::string noise(100000, '\0');
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<char>((i * 7919) ^ (i >> 3));
    WriteTextFile(bad, noise);
    const std::string fresh = dir.file("fresh.mp4");
    ToolRunResult r = Run({"run", "--src", bad, "--dst", fresh, "--args", "-vcodec libx264"});
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(LastLine(r.out), "result: failure");
    EXPECT_NE(r.out.find("error: "), std::string::npos);
    EXPECT_FALSE(PathExists(fresh));
    const std::string existing = dir.file("existing.mp4");
    WriteTextFile(existing, "keep me");
    r = Run({"run", "--src", bad, "--dst", existing, "--args", "-vcodec libx264"});
    EXPECT_EQ(LastLine(r.out), "result: failure");
    EXPECT_EQ(ReadTestFile(existing), "keep me");
    EXPECT_TRUE(NoTemporaryLeft(dir.path()));
}

TEST_F(KRAProcessRun, DebugLogKeepsEveryLineWithoutFailing)
{
    const std::string home = dir.file("home");
    mkdir(home.c_str(), 0700);
    mkdir((home + "/Documents").c_str(), 0700);
    TestEnvScope homeScope("HOME", home);
    TestEnvScope debugScope("MARVONI_DEBUG", "1");
    const ToolRunResult r = Run({"run", "--src", src, "--dst", dir.file("dbg.mkv"), "--args", "-vcodec libx264"});
    EXPECT_EQ(LastLine(r.out), "result: success") << r.out;
    EXPECT_NE(r.out.find("-loglevel level+info"), std::string::npos);
    DIR* d = opendir((home + "/Documents").c_str());
    ASSERT_NE(d, nullptr);
    std::string logText;
    while (dirent* e = readdir(d)) {
        if (std::string(e->d_name).rfind("QKDebug-", 0) == 0)
            logText = ReadTestFile(home + "/Documents/" + e->d_name);
    }
    closedir(d);
    EXPECT_NE(logText.find("[info]"), std::string::npos);
}

TEST_F(KRAProcessRun, ConcatenatesByListAndByFilterGraph)
{
    const std::string second = dir.file("second.mp4");
    ASSERT_TRUE(RunProgramQuietly({"cp", src, second}));
    const std::string copied = dir.file("copied.mkv");
    ToolRunResult r =
        Run({"run", "--src", src, "--src", second, "--dst", copied, "--args", "-vcodec copy -acodec copy"});
    EXPECT_EQ(LastLine(r.out), "result: success") << r.out;
    EXPECT_NE(r.out.find("-f concat -safe 0 -i"), std::string::npos);
    EXPECT_NEAR(Duration(copied), 4.0, 0.3);
    const std::string filtered = dir.file("filtered.mkv");
    r = Run({"run", "--src", src, "--src", second, "--dst", filtered, "--args", "-vcodec libx264 -vf scale=160:120"});
    EXPECT_EQ(LastLine(r.out), "result: success") << r.out;
    EXPECT_NE(r.out.find("[0:v]scale=160:120[0v];[1:v]scale=160:120[1v];[0v][0:a][1v][1:a] concat=n=2:v=1:a=1[v][a]"),
              std::string::npos);
    EXPECT_NEAR(Duration(filtered), 4.0, 0.3);
}

// The concatenation list is a text file ffmpeg parses: a quote, a backslash or a line break in
// a name must not end an entry early or name another file.
TEST_F(KRAProcessRun, ConcatenationListKeepsHostileNames)
{
    const std::vector<std::string> names{"it's 'quoted' #1?.mp4", "back\\slash\\ name.mp4", "new\nline.mp4"};
    std::vector<std::string> args{"run"};
    for (const std::string& name : names) {
        const std::string source = dir.file(name);
        ASSERT_TRUE(RunProgramQuietly({"cp", src, source}));
        args.insert(args.end(), {"--src", source});
    }
    const std::string joined = dir.file("joined.mkv");
    args.insert(args.end(), {"--dst", joined, "--args", "-vcodec copy -acodec copy"});
    const ToolRunResult r = Run(args);
    EXPECT_EQ(LastLine(r.out), "result: success") << r.out;
    EXPECT_NE(r.out.find("-f concat -safe 0 -i"), std::string::npos);
    EXPECT_NEAR(Duration(joined), 6.0, 0.4);
    for (const std::string& name : names)
        EXPECT_TRUE(PathExists(dir.file(name))) << name;
    EXPECT_TRUE(NoTemporaryLeft(dir.path()));
}

// A stored loop count of a few hundred million must end in a clear failure, not in a run that
// exhausts the memory listing the repeated inputs. Limited, so that a run that tries does not
// take the machine with it (left unlimited under the address sanitizer, which needs the room).
TEST_F(KRAProcessRun, AnAbsurdLoopCountFailsClearly)
{
    const std::string out = dir.file("looped.mkv");
    std::vector<std::string> args{
        "run", "--src", src, "--dst", out, "--args", "-loopvideo=400000000 -vcodec copy -acodec copy"};
#if !defined(__SANITIZE_ADDRESS__)
    if (!ProgramOnPath("prlimit").empty()) {
        args.insert(args.begin(), {"--as=4000000000", TestToolPath("engine-tool")});
        const ToolRunResult r = RunTestTool(ProgramOnPath("prlimit"), args);
        EXPECT_EQ(LastLine(r.out), "result: failure") << r.out;
        EXPECT_NE(r.out.find("error: The loop count 400000000 is too large"), std::string::npos) << r.out;
        EXPECT_FALSE(PathExists(out));
        return;
    }
#endif
    const ToolRunResult r = Run(args);
    EXPECT_EQ(LastLine(r.out), "result: failure") << r.out;
    EXPECT_NE(r.out.find("error: The loop count 400000000 is too large"), std::string::npos) << r.out;
    EXPECT_FALSE(PathExists(out));
}

TEST_F(KRAProcessRun, QuitAndPause)
{
    const std::string longer = dir.file("longer.mp4");
    ASSERT_TRUE(MakeTestVideo(longer, "320x240", "25", "8"));
    const std::string out = dir.file("stopped.mkv");
    // Paused, then quit while paused: the stopped child is ended at once.
    ToolRunResult r = Run({"run", "--src", longer, "--dst", out, "--args", "-vcodec libx264 -preset veryslow",
                           "--pause-after", "300", "--quit-after", "800"});
    EXPECT_EQ(LastLine(r.out), "result: failure");
    EXPECT_NE(r.status, 0);
    EXPECT_FALSE(PathExists(out));
    // Paused and resumed: the conversion completes.
    r = Run({"run", "--src", src, "--dst", out, "--args", "-vcodec libx264", "--pause-after", "50", "--resume-after",
             "600"});
    EXPECT_EQ(LastLine(r.out), "result: success") << r.out;
    EXPECT_TRUE(PathExists(out));
    EXPECT_TRUE(NoTemporaryLeft(dir.path()));
}

TEST_F(KRAProcessRun, ContactSheetsAndPreviewsAreMadeOrFailClearly)
{
    const std::string sheet = dir.file("sheet.jpg");
    ToolRunResult r = Run({"run", "--src", src, "--dst", sheet, "--encoder", "[Contact Sheet]", "--args",
                           "-contact_col=4 -contact_row=3 -contact_width=800 -contact_padding=4 -contact_topinfo=1 "
                           "-contact_backcol=000000 -contact_png=0"});
    EXPECT_EQ(LastLine(r.out), "result: success") << r.out;
    EXPECT_EQ(FFprobeText(sheet, "stream=codec_name,width"), "mjpeg,800\n");
    EXPECT_TRUE(NoTemporaryLeft(dir.path()));

    // A hand-edited width far beyond what a sheet can be is refused before ffmpeg starts.
    const std::string huge = dir.file("huge.jpg");
    r = Run({"run", "--src", src, "--dst", huge, "--encoder", "[Contact Sheet]", "--args",
             "-contact_col=4 -contact_row=3 -contact_width=100000 -contact_padding=4"});
    EXPECT_EQ(LastLine(r.out), "result: failure");
    EXPECT_NE(r.out.find("error: The contact sheet's width 100000 is out of range"), std::string::npos) << r.out;
    EXPECT_FALSE(PathExists(huge));

    // The preview generator's default settings, a skip at the start included, write a picture.
    const std::string preview = dir.file("preview.gif");
    r = Run({"run", "--src", src, "--dst", preview, "--encoder", "[Preview Generator]", "--args",
             "-prev_gen_ufe 0.5 -prev_gen_gfe 1 -prev_gen_inputval 1 -prev_gen_firstdelay 1 -prev_gen_encNset \"GIF "
             "Animation_eSep_\""});
    EXPECT_EQ(LastLine(r.out), "result: success") << r.out;
    EXPECT_EQ(FFprobeText(preview, "stream=codec_name"), "gif\n");
}

// The options the run takes for switches without a value are read so by the real ffmpeg: the
// word after each is an output file to it, while after an option with a value it is not.
TEST_F(KRAProcessRun, TheSwitchesWithoutValueAgreeWithFFmpeg)
{
    const std::string probe = dir.file("probe.nut");
    const std::string err = dir.file("err.txt");
    auto ffmpegTakesValue = [&](const std::string& option) {
        RunProgramQuietly({"ffmpeg", "-nostdin", "-hide_banner", "-f", "lavfi", "-i", "nullsrc=d=0.04", option, probe},
                          err);
        unlink(probe.c_str());
        return ReadTestFile(err).find("At least one output file must be specified") != std::string::npos;
    };
    for (const char* option : {"-accurate_seek",
                               "-an",
                               "-auto_conversion_filters",
                               "-benchmark",
                               "-benchmark_all",
                               "-bitexact",
                               "-copy_unknown",
                               "-copyinkf",
                               "-copyts",
                               "-debug_ts",
                               "-dn",
                               "-dump",
                               "-find_stream_info",
                               "-fix_sub_duration",
                               "-force_fps",
                               "-hex",
                               "-hide_banner",
                               "-ignore_unknown",
                               "-n",
                               "-psnr",
                               "-qphist",
                               "-re",
                               "-recast_media",
                               "-shortest",
                               "-sn",
                               "-start_at_zero",
                               "-stats",
                               "-stdin",
                               "-vn",
                               "-xerror",
                               "-y",
                               "-report",
                               "-vstats",
                               "-noautorotate",
                               "-noautoscale",
                               "-nostats",
                               "-nostdin",
                               "-noaccurate_seek",
                               "-an:0"}) {
        EXPECT_FALSE(ffmpegOptionTakesValue(XStr::FromUTF8(option))) << option;
        EXPECT_FALSE(ffmpegTakesValue(option)) << option;
    }
    for (const char* option : {"-metadata", "-autorotate", "-vf", "-preset", "-movflags", "-top"}) {
        EXPECT_TRUE(ffmpegOptionTakesValue(XStr::FromUTF8(option))) << option;
        EXPECT_TRUE(ffmpegTakesValue(option)) << option;
    }
}

// A write that fails part-way: a file size limit, with its signal ignored (which ffmpeg
// inherits), makes ffmpeg report the failed write and still exit with 0. The run fails and
// keeps the old destination whatever words the folder's name holds.
TEST_F(KRAProcessRun, AFailedWriteFailsWhateverTheFolderIsCalled)
{
    const std::string prlimit = ProgramOnPath("prlimit");
    if (prlimit.empty())
        GTEST_SKIP() << "prlimit is needed";
    const std::string big = dir.file("big.mp4");
    ASSERT_TRUE(MakeTestVideo(big, "640x480", "25", "6", {"-c:v", "mpeg4", "-q:v", "2"}));
    struct stat st;
    ASSERT_EQ(stat(big.c_str(), &st), 0);
    ASSERT_GT(st.st_size, 350000);
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &previous);
    for (const std::string folder : {"[Info]", "[WARNING]", "a [info] b", "invalidating cache", "plain"}) {
        mkdir(dir.file(folder).c_str(), 0700);
        const std::string dest = dir.file(folder + "/m.mkv");
        WriteTextFile(dest, "old");
        const ToolRunResult r = RunTestTool(prlimit, {"--fsize=300000", TestToolPath("engine-tool"), "run", "--src",
                                                      big, "--dst", dest, "--args", "-c copy"});
        EXPECT_EQ(LastLine(r.out), "result: failure") << folder << "\n" << r.out;
        EXPECT_NE(r.out.find("error: Error writing trailer of "), std::string::npos) << r.out;
        EXPECT_EQ(ReadTestFile(dest), "old") << folder;
        EXPECT_TRUE(NoTemporaryLeft(dir.file(folder))) << folder;
    }
    sigaction(SIGXFSZ, &previous, nullptr);
}

// ffmpeg's image writer reads "%d", "%03d" and "%%" in a name as a frame-number pattern.
TEST_F(KRAProcessRun, APercentInTheOutputNameIsNoPattern)
{
    int n = 0;
    for (const std::string name : {"clip%03d.png", "c%d.png", "c%5d.png", "c%%.png", "f%d/x.png", "50%/y%1d.png"}) {
        const std::string caseDir = dir.file("case" + std::to_string(++n));
        const std::string dest = caseDir + "/" + name;
        XCreateFolderTree(XFileName(XStr::FromUTF8(dest)).GetFolder());
        WriteTextFile(dest, "OLD");
        const ToolRunResult r = Run({"run", "--src", src, "--dst", dest, "--args", "-frames:v 1"});
        EXPECT_EQ(LastLine(r.out), "result: success") << name << "\n" << r.out;
        EXPECT_EQ(ReadTestFile(dest).substr(0, 4), "\x89PNG") << name;
        // Nothing but the destination: no numbered picture beside it or in a numbered folder.
        const size_t slash = name.find('/');
        EXPECT_EQ(FolderNames(caseDir), std::set<std::string>{name.substr(0, slash)}) << name;
        if (slash != std::string::npos) {
            EXPECT_EQ(FolderNames(caseDir + "/" + name.substr(0, slash)),
                      std::set<std::string>{name.substr(slash + 1)});
        }
    }
}

TEST_F(KRAProcessRun, DestinationsAndSourcesThatAreNoFilesAreRefused)
{
    const std::string fifo = dir.file("fifo.mp4");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string folder = dir.file("folder.mp4");
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    const std::string socketPath = dir.file("socket.mp4");
    MakeTestSocket(socketPath);
    const std::string linkToFifo = dir.file("link.mp4");
    ASSERT_EQ(symlink(fifo.c_str(), linkToFifo.c_str()), 0);
    std::vector<std::string> destinations{fifo, folder, socketPath, linkToFifo};
    const std::string device = dir.file("nulldev");
    if (mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0)
        destinations.push_back(device);
    for (const std::string& dest : destinations) {
        struct stat before, after;
        ASSERT_EQ(lstat(dest.c_str(), &before), 0);
        const ToolRunResult r = Run({"run", "--src", src, "--dst", dest, "--args", "-vcodec mpeg4"});
        EXPECT_EQ(LastLine(r.out), "result: failure") << dest;
        EXPECT_NE(r.out.find("error: The destination is not a regular file: " + dest), std::string::npos) << r.out;
        ASSERT_EQ(lstat(dest.c_str(), &after), 0) << dest;
        EXPECT_EQ(after.st_mode, before.st_mode) << dest;
        EXPECT_EQ(after.st_ino, before.st_ino) << dest;
    }
    // A pipe without a writer as the source would hold the run for ever.
    for (const std::string& source : {fifo, folder, linkToFifo}) {
        const std::string dest = dir.file("from-pipe.mp4");
        const ToolRunResult r = Run({"run", "--src", source, "--dst", dest, "--args", "-vcodec mpeg4"});
        EXPECT_EQ(LastLine(r.out), "result: failure") << source;
        EXPECT_NE(r.out.find("error: The source is not a regular file: " + source), std::string::npos) << r.out;
        EXPECT_FALSE(PathExists(dest));
        // One of several joined files is enough.
        const ToolRunResult joined = Run({"run", "--src", src, "--src", source, "--dst", dest, "--args", "-c copy"});
        EXPECT_EQ(LastLine(joined.out), "result: failure") << source;
    }
    EXPECT_TRUE(NoTemporaryLeft(dir.path()));
}

// Looping or joining by re-encoding takes from each file the streams it has.
TEST_F(KRAProcessRun, JoiningByReencodingFollowsTheStreamsTheSourcesHave)
{
    const std::string silent = dir.file("silent.mp4");
    ASSERT_TRUE(RunProgramQuietly({"ffmpeg", "-v", "error", "-nostdin", "-f", "lavfi", "-i",
                                   "testsrc=duration=1:size=160x120:rate=25", "-y", silent}));
    const std::string sound = dir.file("sound.m4a");
    ASSERT_TRUE(MakeTestAudio(sound, "1"));

    const std::string looped = dir.file("looped.mkv");
    ToolRunResult r = Run({"run", "--src", silent, "--dst", looped, "--args", "-loopvideo=2 -vcodec mpeg4"});
    EXPECT_EQ(LastLine(r.out), "result: success") << r.out;
    EXPECT_NEAR(Duration(looped), 2.0, 0.2);
    EXPECT_EQ(StreamTypes(looped), "video ");

    // A file without sound joined with one that has it: silence for the first one's length.
    const std::string mixed = dir.file("mixed.mkv");
    r = Run(
        {"run", "--src", silent, "--src", src, "--dst", mixed, "--args", "-vcodec mpeg4 -vf scale=80:60 -af volume=2"});
    EXPECT_EQ(LastLine(r.out), "result: success") << r.out;
    EXPECT_NEAR(Duration(mixed), 3.0, 0.2);
    EXPECT_EQ(StreamTypes(mixed), "video audio ");

    const std::string sounds = dir.file("sounds.m4a");
    r = Run({"run", "--src", sound, "--src", sound, "--dst", sounds, "--args", "-acodec aac"});
    EXPECT_EQ(LastLine(r.out), "result: success") << r.out;
    EXPECT_NEAR(Duration(sounds), 2.0, 0.2);
    EXPECT_EQ(StreamTypes(sounds), "audio ");

    const std::string refused = dir.file("refused.mkv");
    r = Run({"run", "--src", sound, "--src", silent, "--dst", refused, "--args", "-vcodec mpeg4"});
    EXPECT_EQ(LastLine(r.out), "result: failure") << r.out;
    EXPECT_NE(r.out.find("error: Files with and without a picture cannot be joined"), std::string::npos) << r.out;
    EXPECT_FALSE(PathExists(refused));
}

// A file whose command needs nothing of the probe before ffmpeg starts is not probed at all:
// ffmpeg's report of its input gives the length.
TEST_F(KRAProcessRun, APlainConversionTakesItsLengthFromFFmpeg)
{
    const std::string bin = dir.file("bin");
    mkdir(bin.c_str(), 0700);
    WriteTextFile(bin + "/ffprobe",
                  "#!/bin/sh\ntouch '" + dir.file("probed") + "'\nexec " + ProgramOnPath("ffprobe") + " \"$@\"\n");
    chmod((bin + "/ffprobe").c_str(), 0755);
    TestEnvScope path("PATH", bin + ":" + std::string(getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin"));
    ToolRunResult r = Run({"run", "--src", src, "--dst", dir.file("plain.mkv"), "--args", "-vcodec mpeg4"});
    EXPECT_EQ(LastLine(r.out), "result: success") << r.out;
    EXPECT_NE(r.out.find("length: 2000\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("percent: 100\n"), std::string::npos);
    EXPECT_FALSE(PathExists(dir.file("probed")));
    // A fade at the end needs the length before ffmpeg starts: that run probes.
    r = Run({"run", "--src", src, "--dst", dir.file("faded.mkv"), "--args", "-vcodec mpeg4 -fadeout=1"});
    EXPECT_EQ(LastLine(r.out), "result: success") << r.out;
    EXPECT_TRUE(PathExists(dir.file("probed")));
}

// The colour of one pixel of the frame at one second, as "R G B".
std::string PixelAt(const std::string& path, int x, int y)
{
    ToolRunOptions options;
    options.searchPath = true;
    const std::string crop = "format=rgb24,crop=1:1:" + std::to_string(x) + ":" + std::to_string(y);
    const std::string bytes = RunProcess({"ffmpeg", "-v", "error", "-ss", "1", "-i", path, "-frames:v", "1", "-vf",
                                          crop, "-f", "rawvideo", "-pix_fmt", "rgb24", "-"},
                                         options)
                                  .out;
    if (bytes.size() != 3)
        return "no pixel";
    return std::to_string(static_cast<unsigned char>(bytes[0]) / 64) + " " +
           std::to_string(static_cast<unsigned char>(bytes[1]) / 64) + " " +
           std::to_string(static_cast<unsigned char>(bytes[2]) / 64);
}

TEST_F(KRAProcessRun, AWatermarkJoinsThePictureFiltersInOneGraph)
{
    const std::string logo = dir.file("logo with blank.png");
    ASSERT_TRUE(RunProgramQuietly(
        {"ffmpeg", "-v", "error", "-nostdin", "-f", "lavfi", "-i", "color=red:s=40x30", "-frames:v", "1", "-y", logo}));
    // The watermark's picture follows the crop, which ffmpeg would otherwise apply to it as an
    // input option; the two graphs become one, and the mark sits in the cropped frame's corner.
    const std::string args = "-vf crop=200:100:0:0 -i \"" + logo +
                             "\" -filter_complex overlay=main_w-overlay_w:main_h-overlay_h -vcodec libx264 -acodec aac";
    const std::string out = dir.file("marked.mp4");
    ToolRunResult r = Run({"run", "--src", src, "--dst", out, "--args", args});
    ASSERT_EQ(LastLine(r.out), "result: success") << r.out;
    EXPECT_EQ(FFprobeText(out, "stream=width,height").substr(0, 8), "200,100\n");
    EXPECT_EQ(StreamTypes(out), "video audio ");
    EXPECT_EQ(PixelAt(out, 195, 95), "3 0 0");
    EXPECT_NE(PixelAt(out, 5, 5), "3 0 0");

    // A looped source is joined by a graph of its own: the mark goes over the joined picture.
    const std::string looped = dir.file("looped.mp4");
    r = Run({"run", "--src", src, "--dst", looped, "--args", "-loopvideo=2 " + args});
    ASSERT_EQ(LastLine(r.out), "result: success") << r.out;
    EXPECT_NEAR(Duration(looped), 4.0, 0.2);
    EXPECT_EQ(PixelAt(looped, 195, 95), "3 0 0");

    // A watermark without a picture says so, rather than leaving ffmpeg to find no stream.
    r = Run(
        {"run", "--src", src, "--dst", dir.file("bare.mp4"), "--args", "-filter_complex overlay=0:0 -vcodec libx264"});
    EXPECT_EQ(LastLine(r.out), "result: failure");
    EXPECT_NE(r.out.find("The watermark has no picture"), std::string::npos) << r.out;

    // A picture that is not there is named before ffmpeg starts.
    r = Run({"run", "--src", src, "--dst", dir.file("none.mp4"), "--args",
             "-i " + dir.file("missing.png") + " -filter_complex overlay=0:0 -vcodec libx264"});
    EXPECT_EQ(LastLine(r.out), "result: failure");
    EXPECT_NE(r.out.find("does not exist: " + dir.file("missing.png")), std::string::npos) << r.out;
}

// ---- A stand-in ffmpeg -----------------------------------------------------------------------

// Shell lines for a stand-in: $last is the output it was given, which it then writes.
const std::string kFindOutput = "for a in \"$@\"; do last=$a; done\n";
const std::string kWriteOutput = "printf 'converted' > \"$last\"\n";

class KRAProcessFakeFFmpeg : public KRAProcessRun {
protected:
    void Install(const std::string& body)
    {
        const std::string folder = dir.file("appdata") + "/MarvoniVideo";
        mkdir(folder.c_str(), 0700);
        const std::string path = folder + "/ffmpeg";
        WriteTextFile(path, "#!/bin/sh\n" + body);
        chmod(path.c_str(), 0755);
        m_argvOut.emplace("ARGV_OUT", dir.file("argv"));
    }

    std::optional<TestEnvScope> m_argvOut;
};

TEST_F(KRAProcessFakeFFmpeg, TheChildGetsExactlyTheIntendedArguments)
{
    Install("for a in \"$@\"; do printf '%s\\0' \"$a\"; last=$a; done > \"$ARGV_OUT\"\n" + kWriteOutput);
    const std::string source = dir.file("a \"b\" c\\ $(x)\nd\xff.mp4");
    ASSERT_TRUE(RunProgramQuietly({"cp", src, source}));
    const std::string dest = dir.file("out\\");
    const ToolRunResult r =
        Run({"run", "--src", source, "--dst", dest, "--args", "-metadata \"title=a \\\"b\\\"\" -an"});
    EXPECT_EQ(LastLine(r.out), "result: success") << r.out;
    std::vector<std::string> argv;
    const std::string recorded = ReadTestFile(dir.file("argv"));
    size_t begin = 0;
    for (size_t i = 0; i < recorded.size(); ++i) {
        if (recorded[i] == '\0') {
            argv.push_back(recorded.substr(begin, i - begin));
            begin = i + 1;
        }
    }
    ASSERT_GE(argv.size(), 13u);
    EXPECT_EQ(argv[0], "-i");
    EXPECT_EQ(argv[1], source);
    EXPECT_EQ(argv[2], "-metadata");
    EXPECT_EQ(argv[3], "title=a \"b\"");
    EXPECT_EQ(argv[4], "-an");
    EXPECT_EQ(argv[5], "-loglevel");
    EXPECT_EQ(argv[6], "level+info"); // the length comes from ffmpeg's report of its input
    EXPECT_EQ(argv[7], "-nostats");
    EXPECT_EQ(argv[argv.size() - 2].substr(0, 5), "/tmp/");
    EXPECT_EQ(argv.back().substr(0, dest.size() + 4), dest + ".tmp"); // written beside, then moved
    EXPECT_TRUE(PathExists(dest));
}

TEST_F(KRAProcessFakeFFmpeg, ACrashOrAnExitCodeIsAFailure)
{
    const std::string dest = dir.file("crash.mp4");
    WriteTextFile(dest, "previous");
    Install("kill -SEGV $$\n");
    ToolRunResult r = Run({"run", "--src", src, "--dst", dest, "--args", "-vcodec libx264"});
    EXPECT_EQ(LastLine(r.out), "result: failure");
    EXPECT_NE(r.out.find("error: FFmpeg ended by signal 11"), std::string::npos) << r.out;
    EXPECT_EQ(ReadTestFile(dest), "previous");
    Install("exit 3\n");
    r = Run({"run", "--src", src, "--dst", dest, "--args", "-vcodec libx264"});
    EXPECT_EQ(LastLine(r.out), "result: failure");
    EXPECT_NE(r.out.find("error: FFmpeg ended with exit code 3"), std::string::npos) << r.out;
    EXPECT_EQ(ReadTestFile(dest), "previous");
    EXPECT_TRUE(NoTemporaryLeft(dir.path()));
}

// ffmpeg 5.1 reports a failed write of its trailer and exits with 0; only the line tells.
TEST_F(KRAProcessFakeFFmpeg, AWriteErrorNamingTheOutputFailsWhateverTheName)
{
    Install(kFindOutput + kWriteOutput + "echo \"Error writing trailer of $last: No space left on device\" >&2\n");
    for (const std::string folder : {"[Info]", "[warning]", "x [INFO] y", "invalidating cache", "a GVA info: b",
                                     "unable to decode APP fields", "plain"}) {
        mkdir(dir.file(folder).c_str(), 0700);
        const std::string dest = dir.file(folder + "/m.mkv");
        WriteTextFile(dest, "old");
        const ToolRunResult r = Run({"run", "--src", src, "--dst", dest, "--args", "-c copy"});
        EXPECT_EQ(LastLine(r.out), "result: failure") << folder << "\n" << r.out;
        EXPECT_NE(r.out.find("error: Error writing trailer of " + dir.file(folder)), std::string::npos) << r.out;
        EXPECT_EQ(ReadTestFile(dest), "old") << folder;
        EXPECT_TRUE(NoTemporaryLeft(dir.file(folder))) << folder;
    }
}

TEST_F(KRAProcessFakeFFmpeg, AnEmptyOrMissingOutputNeverReplacesTheDestination)
{
    const std::string dest = dir.file("kept.mp4");
    for (const std::string& body : {std::string("exit 0\n"), kFindOutput + "rm -f \"$last\"\n"}) {
        WriteTextFile(dest, "previous");
        Install(body);
        const ToolRunResult r = Run({"run", "--src", src, "--dst", dest, "--args", "-vcodec libx264"});
        EXPECT_EQ(LastLine(r.out), "result: failure") << body;
        EXPECT_NE(r.out.find("error: FFmpeg wrote no output file"), std::string::npos) << r.out;
        EXPECT_EQ(ReadTestFile(dest), "previous") << body;
    }
    EXPECT_TRUE(NoTemporaryLeft(dir.path()));
}

// A word ffmpeg would write as a second output (overwriting it, "-y") ends the run before
// ffmpeg starts.
TEST_F(KRAProcessFakeFFmpeg, ALooseWordEndsTheRunBeforeFFmpegStarts)
{
    Install("printf started > \"$ARGV_OUT\"\n" + kFindOutput + kWriteOutput);
    const std::string dest = dir.file("one.mp4");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"--args", "-vcodec mpeg4 -metadata title=My Film.mp4 -acodec aac"}, "Film.mp4"},
        {{"--args", "extra.mkv -vcodec mpeg4"}, "extra.mkv"},
        {{"--args", "-vcodec mpeg4 -an \"my clip.mkv\""}, "\"my clip.mkv\""},
        {{"--args", "-vcodec mpeg4 -- -x.mkv"}, "-"}, // "--" comes back from the rewrite as "-"
        {{"--args", "-vcodec mpeg4 -"}, "-"},
        {{"--pre", "-re stray", "--args", "-vcodec mpeg4"}, "stray"},
    };
    for (const auto& [options, word] : cases) {
        std::vector<std::string> args{"run", "--src", src, "--dst", dest};
        args.insert(args.end(), options.begin(), options.end());
        const ToolRunResult r = Run(args);
        EXPECT_EQ(LastLine(r.out), "result: failure") << options.back();
        EXPECT_NE(
            r.out.find("error: The arguments hold a word ffmpeg would write as another output file: " + word + "\n"),
            std::string::npos)
            << r.out;
        EXPECT_FALSE(PathExists(dir.file("argv"))) << options.back();
        EXPECT_FALSE(PathExists(dest));
    }
    // Quoted, the same words are one value.
    const ToolRunResult r = Run({"run", "--src", src, "--dst", dest, "--args", "-metadata \"title=My Film.mp4\" -an"});
    EXPECT_EQ(LastLine(r.out), "result: success") << r.out;
    EXPECT_TRUE(PathExists(dir.file("argv")));
}

// While it is written, the output is as closed to others as the file it replaces.
TEST_F(KRAProcessFakeFFmpeg, TheTemporaryOutputIsNoMoreOpenThanTheDestination)
{
    Install(kFindOutput + "stat -c %a \"$last\" > \"$ARGV_OUT\"\n" + kWriteOutput);
    const mode_t mask = umask(0);
    umask(mask);
    const std::string dest = dir.file("private.mp4");
    for (const mode_t mode : {mode_t(0600), mode_t(0640), mode_t(0604)}) {
        WriteTextFile(dest, "old");
        ASSERT_EQ(chmod(dest.c_str(), mode), 0);
        const ToolRunResult r = Run({"run", "--src", src, "--dst", dest, "--args", "-vcodec libx264"});
        EXPECT_EQ(LastLine(r.out), "result: success") << r.out;
        char expected[8];
        snprintf(expected, sizeof expected, "%o\n", mode & ~mask);
        EXPECT_EQ(ReadTestFile(dir.file("argv")), expected);
        struct stat st;
        ASSERT_EQ(stat(dest.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode);
        EXPECT_EQ(ReadTestFile(dest), "converted");
    }
    const std::string fresh = dir.file("fresh.mp4");
    const ToolRunResult r = Run({"run", "--src", src, "--dst", fresh, "--args", "-vcodec libx264"});
    EXPECT_EQ(LastLine(r.out), "result: success") << r.out;
    char expected[8];
    snprintf(expected, sizeof expected, "%o\n", 0666 & ~mask);
    EXPECT_EQ(ReadTestFile(dir.file("argv")), expected);
}

// Every way a run can fail reaches the actions after a conversion as a failure: the failure
// sound plays and the source stays. A stand-in sound player writes what it plays to a log;
// the sound plays in the background, so this process adopts the players the tool leaves
// behind and waits for them before reading the log.
TEST_F(KRAProcessFakeFFmpeg, EveryFailureReachesTheActionsAfterTheConversion)
{
    const std::string env = ProgramOnPath("env");
    ASSERT_FALSE(env.empty());
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    const std::string players = dir.file("players");
    mkdir(players.c_str(), 0700);
    const std::string soundLog = dir.file("sounds.log");
    WriteTextFile(players + "/paplay", "#!/bin/sh\necho \"sound: $1\" >> \"$SOUND_LOG\"\n");
    chmod((players + "/paplay").c_str(), 0755);
    const std::string path = players + ":" + (getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin");
    Install(kFindOutput + kWriteOutput);

    auto run = [&](const std::string& source, const std::string& dest, const std::string& args,
                   const std::vector<std::string>& environment = {}) {
        unlink(soundLog.c_str());
        std::vector<std::string> argv{"PATH=" + path, "SOUND_LOG=" + soundLog};
        argv.insert(argv.end(), environment.begin(), environment.end());
        argv.insert(argv.end(), {TestToolPath("engine-tool"), "run", "--src", source, "--dst", dest, "--args", args,
                                 "--action", "Play Sound After Conversion=-playsound=/ok.wav -playsounderr=/failed.wav",
                                 "--action", "Delete Source File="});
        const std::string out = RunTestTool(env, argv).out;
        int status = 0;
        while (waitpid(-1, &status, 0) > 0) {}
        return out + ReadTestFile(soundLog);
    };
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string source = dir.file("source.mp4");
    ASSERT_TRUE(RunProgramQuietly({"cp", src, source}));
    const std::string tooLong = dir.file(std::string(250, 'n') + ".mp4");
    const std::vector<std::tuple<std::string, std::string, std::vector<std::string>, std::string>> failures{
        {"", "-an", {}, "No destination file given."},
        {tooLong, "-an", {}, "Could not create the output file"},
        {dir.file("out.mp4"), "-an", {"TMPDIR=" + dir.file("missing")}, "Could not create the progress file"},
        {dir.file("out.mp4"), "-an stray", {}, "The arguments hold a word"},
        {fifo, "-an", {}, "The destination is not a regular file"},
        {dir.file("out.mp4"), "-loopvideo=400000000 -an", {}, "The loop count 400000000 is too large"},
    };
    for (const auto& [dest, args, environment, message] : failures) {
        const std::string out = run(source, dest, args, environment);
        EXPECT_NE(out.find("error: " + message), std::string::npos) << out;
        EXPECT_NE(out.find("result: failure"), std::string::npos) << out;
        EXPECT_NE(out.find("sound: /failed.wav\n"), std::string::npos) << message << "\n" << out;
        EXPECT_EQ(out.find("sound: /ok.wav"), std::string::npos) << out;
        EXPECT_TRUE(PathExists(source)) << message;
    }
    // The same run succeeding plays the other sound and lets the source go.
    const std::string out = run(source, dir.file("done.mp4"), "-an");
    EXPECT_NE(out.find("result: success"), std::string::npos) << out;
    EXPECT_NE(out.find("sound: /ok.wav\n"), std::string::npos) << out;
    EXPECT_FALSE(PathExists(source));
}

TEST_F(KRAProcessRun, StoredMacEncoderNamesConvertWithTheLinuxEncoders)
{
    const std::string out = dir.file("old profile.mp4");
    const ToolRunResult r = Run({"run", "--src", src, "--dst", out, "--args",
                                 "-c:v h264_videotoolbox --allow_sw 1 -c:s mov_text -b:v 1M -acodec aac_at"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(LastLine(r.out), "result: success");
    EXPECT_NE(r.out.find(" libx264 "), std::string::npos);
    EXPECT_EQ(r.out.find("videotoolbox"), std::string::npos);
    EXPECT_EQ(r.out.find("allow_sw"), std::string::npos);
    EXPECT_EQ(r.out.find("aac_at"), std::string::npos);
    EXPECT_NEAR(Duration(out), 2.0, 0.15);
}

namespace {

// The arguments an encoder page writes by default, as setup-tool lists them.
std::string PageArgs(const std::string& encoder)
{
    const ToolRunResult r = RunTestTool(TestToolPath("setup-tool"), {"encoder-defaults"}, std::string(), 120000);
    std::istringstream lines(r.out);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::istringstream row(line);
        std::string field;
        while (std::getline(row, field, '\t'))
            fields.push_back(field);
        if (fields.size() == 3 && fields[0] == encoder)
            return fields[2];
    }
    return std::string();
}

} // namespace

// An MP3's cover art is no video: a video encoder converts the sound, and ffmpeg is not left to
// encode the cover into a container that refuses it.
TEST_F(KRAProcessRun, AVideoEncoderConvertsTheSoundOfAFileWithCoverArt)
{
    TestEnvScope platform("QT_QPA_PLATFORM", "offscreen");
    const std::string mp4Args = PageArgs("MP4 (H264)");
    ASSERT_NE(mp4Args.find("libx264"), std::string::npos) << mp4Args;
    const std::string cover = dir.file("cover.mp3");
    ASSERT_TRUE(MakeMP3WithCoverArt(cover));

    const std::string out = dir.file("cover.mp4");
    ToolRunResult r = Run({"run", "--src", cover, "--dst", out, "--encoder", "MP4 (H264)", "--args", mp4Args});
    EXPECT_EQ(LastLine(r.out), "result: success") << r.out;
    EXPECT_EQ(StreamTypes(out), "audio ");
    EXPECT_NEAR(Duration(out), 2.0, 0.2);

    // A run that probes first (a trim) decides from that probe.
    const std::string trimmed = dir.file("trimmed.mp4");
    r = Run(
        {"run", "--src", cover, "--dst", trimmed, "--encoder", "MP4 (H264)", "--args", mp4Args + " -trimstart=0.5"});
    EXPECT_EQ(LastLine(r.out), "result: success") << r.out;
    EXPECT_EQ(StreamTypes(trimmed), "audio ");
    EXPECT_NEAR(Duration(trimmed), 1.5, 0.2);

    // An encoder that writes only a picture has nothing to take from it, and says so.
    const std::string silent = dir.file("silent.mp4");
    r = Run({"run", "--src", cover, "--dst", silent, "--args", "-vcodec libx264 -an"});
    EXPECT_EQ(LastLine(r.out), "result: failure") << r.out;
    EXPECT_NE(r.out.find("error: The source holds sound and no video"), std::string::npos) << r.out;
    EXPECT_FALSE(PathExists(silent));

    // A video keeps its picture, and a copy of the cover is still a copy.
    const std::string video = dir.file("video.mp4");
    r = Run({"run", "--src", src, "--dst", video, "--encoder", "MP4 (H264)", "--args", mp4Args});
    EXPECT_EQ(LastLine(r.out), "result: success") << r.out;
    EXPECT_EQ(StreamTypes(video), "video audio ");
    const std::string copied = dir.file("copied.mp3");
    r = Run({"run", "--src", cover, "--dst", copied, "--args", "-vcodec copy -acodec copy"});
    EXPECT_EQ(LastLine(r.out), "result: success") << r.out;
    EXPECT_EQ(StreamTypes(copied), "audio video ");
}

// ---- What ffmpeg's lines mean ------------------------------------------------------------------

namespace {

// The number of video frames a decoder reads from the file.
long FramesRead(const std::string& path)
{
    ToolRunOptions options;
    options.searchPath = true;
    const std::string text = RunProcess({"ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0",
                                         "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0", path},
                                        options)
                                 .out;
    return text.empty() ? -1 : std::atol(text.c_str());
}

// What a decoder of the whole file reports as errors (nothing for a whole file).
std::string DecodeErrors(const std::string& path)
{
    ToolRunOptions options;
    options.searchPath = true;
    return RunProcess({"ffmpeg", "-nostdin", "-v", "error", "-i", path, "-f", "null", "-"}, options).err;
}

size_t Count(const std::string& text, const std::string& word)
{
    size_t n = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
        ++n;
    return n;
}

} // namespace

// libx265 prints its own "x265 [info]" lines whatever the level; runs that probe first (trim,
// fade, loop) judged them as errors and threw the finished output away.
TEST_F(KRAProcessRun, H265WithTrimFadeAndLoopSucceeds)
{
    const std::string clip = dir.file("clip.mp4");
    ASSERT_TRUE(MakeTestVideo(clip, "160x120", "25", "5"));
    struct Case {
        std::string args;
        double seconds;
    };
    const std::string x265 = " -c:v libx265 -preset ultrafast -crf 24 -acodec aac";
    for (const Case& c : {Case{"-trimstart 2 -trimend 1" + x265, 2.0}, Case{"-fadein 1 -fadeout 1" + x265, 5.0},
                          Case{"-loopvideo 2" + x265, 10.0}}) {
        const std::string out = dir.file("hevc.mp4");
        const ToolRunResult r = Run({"run", "--src", clip, "--dst", out, "--args", c.args});
        EXPECT_EQ(LastLine(r.out), "result: success") << c.args << "\n" << r.out;
        EXPECT_EQ(r.out.find("error: "), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("outcome: converted\n"), std::string::npos) << r.out;
        EXPECT_EQ(FFprobeText(out, "stream=codec_name"), "hevc\naac\n") << c.args;
        EXPECT_NEAR(Duration(out), c.seconds, 0.15) << c.args;
        EXPECT_NEAR(FramesRead(out), c.seconds * 25, 3) << c.args;
        EXPECT_TRUE(NoTemporaryLeft(dir.path()));
        unlink(out.c_str());
    }
}

// A damaged frame in the middle of an MPEG-1, AVI or MP4 file: ffmpeg conceals it, goes on and
// exits with 0. The output is whole, so it is kept; the file is converted with warnings, and
// ffmpeg's lines are warnings.
TEST_F(KRAProcessRun, ADamagedFrameConvertsWithWarnings)
{
    struct Case {
        const char* name;
        std::vector<std::string> encode;
    };
    for (const Case& c : {Case{"bad.mpg", {"-c:v", "mpeg1video", "-c:a", "mp2"}},
                          Case{"bad.avi", {"-c:v", "mpeg4", "-c:a", "libmp3lame"}},
                          Case{"bad.mp4", {"-c:v", "libx264", "-c:a", "aac"}}}) {
        const std::string source = dir.file(c.name);
        ASSERT_TRUE(MakeTestVideo(source, "320x240", "25", "4", c.encode));
        ASSERT_TRUE(DamageMiddle(source, 3000));
        ASSERT_FALSE(DecodeErrors(source).empty()) << c.name << ": the damage took no effect";
        const std::string out = dir.file(std::string(c.name) + ".mkv");
        WriteTextFile(out, "old");
        const ToolRunResult r =
            Run({"run", "--src", source, "--dst", out, "--args", "-vcodec libx264 -preset ultrafast -acodec aac"});
        EXPECT_EQ(LastLine(r.out), "result: converted with warnings") << c.name << "\n" << r.out;
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.out.find("outcome: converted with warnings\n"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("warning: "), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("error: "), std::string::npos) << r.out;
        // The output is the whole clip, and decodes without an error: as many frames as plain
        // ffmpeg makes of the damaged file (a frame it cannot decode at all is lost either way).
        const std::string plain = dir.file(std::string(c.name) + ".plain.mkv");
        ASSERT_TRUE(RunProgramQuietly({"ffmpeg", "-nostdin", "-v", "quiet", "-i", source, "-vcodec", "libx264",
                                       "-preset", "ultrafast", "-acodec", "aac", "-y", plain}));
        EXPECT_NEAR(Duration(out), 4.0, 0.2) << c.name;
        EXPECT_EQ(FramesRead(out), FramesRead(plain)) << c.name;
        EXPECT_GE(FramesRead(out), 90) << c.name;
        EXPECT_EQ(DecodeErrors(out), "") << c.name;
        EXPECT_TRUE(NoTemporaryLeft(dir.path()));
    }
}

// A damaged input does not excuse a failed write: the disk fills (a file size limit, whose
// signal is ignored, so that ffmpeg reports the failed writes and exits with 0), the run fails
// and the old destination stays.
TEST_F(KRAProcessRun, ADamagedInputOnAFullDiskStillFails)
{
    const std::string prlimit = ProgramOnPath("prlimit");
    if (prlimit.empty())
        GTEST_SKIP() << "prlimit is needed";
    const std::string source = dir.file("bad.avi");
    ASSERT_TRUE(MakeTestVideo(source, "640x480", "25", "6", {"-c:v", "mpeg4", "-q:v", "2"}));
    ASSERT_TRUE(DamageMiddle(source, 3000));
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &previous);
    const std::string dest = dir.file("m.mkv");
    WriteTextFile(dest, "old");
    const ToolRunResult r = RunTestTool(prlimit, {"--fsize=300000", TestToolPath("engine-tool"), "run", "--src", source,
                                                  "--dst", dest, "--args", "-vcodec mpeg4 -q:v 2 -an"});
    sigaction(SIGXFSZ, &previous, nullptr);
    EXPECT_EQ(LastLine(r.out), "result: failure") << r.out;
    EXPECT_NE(r.out.find("outcome: failed\n"), std::string::npos) << r.out;
    EXPECT_EQ(ReadTestFile(dest), "old");
    EXPECT_TRUE(NoTemporaryLeft(dir.path()));
}

// The same line a hundred times is one line with its count; the run still fails.
TEST_F(KRAProcessFakeFFmpeg, ALineRepeatedIsShownOnceWithItsCount)
{
    Install(kFindOutput + kWriteOutput +
            "i=0; while [ $i -lt 300 ]; do echo 'av_interleaved_write_frame(): No space left on device' >&2; "
            "i=$((i+1)); done\n");
    const std::string dest = dir.file("full.mkv");
    WriteTextFile(dest, "old");
    const ToolRunResult r = Run({"run", "--src", src, "--dst", dest, "--args", "-c copy"});
    EXPECT_EQ(LastLine(r.out), "result: failure") << r.out;
    EXPECT_EQ(Count(r.out, "No space left on device"), 1u) << r.out;
    EXPECT_NE(r.out.find("error: av_interleaved_write_frame(): No space left on device (300 times)\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(ReadTestFile(dest), "old");
}

// An output that ends short of what the source promised is no output of a damaged input that
// can be kept: a stand-in ffmpeg reports a decoder's error, exits with 0 and writes a clip of a
// second where two were expected.
TEST_F(KRAProcessFakeFFmpeg, AShortOutputOfADamagedInputFails)
{
    const std::string shortClip = dir.file("short.mkv");
    ASSERT_TRUE(MakeTestVideo(shortClip, "320x240", "25", "1"));
    Install(kFindOutput + "cp '" + shortClip +
            "' \"$last\"\n"
            "echo \"[info] Input #0, mov,mp4,m4a,3gp,3g2,mj2, from 'x':\" >&2\n"
            "echo '[info]   Duration: 00:00:02.00, start: 0.000000, bitrate: 1 kb/s' >&2\n"
            "echo '[info] Stream mapping:' >&2\n"
            "echo '[info]   Stream #0:0 -> #0:0 (h264 (native) -> h264 (libx264))' >&2\n"
            "echo \"[info] Output #0, matroska, to 'y':\" >&2\n"
            "echo '[h264 @ 0x1] [error] error while decoding MB 3 4, bytestream -5' >&2\n");
    const std::string dest = dir.file("kept.mkv");
    WriteTextFile(dest, "old");
    const ToolRunResult r = Run({"run", "--src", src, "--dst", dest, "--args", "-vcodec libx264"});
    EXPECT_EQ(LastLine(r.out), "result: failure") << r.out;
    EXPECT_NE(r.out.find("error: The source has damaged parts and the output is not whole: it is 00:00:01"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("error: [h264 @ 0x1] error while decoding MB 3 4, bytestream -5\n"), std::string::npos)
        << r.out;
    EXPECT_EQ(ReadTestFile(dest), "old");
    EXPECT_TRUE(NoTemporaryLeft(dir.path()));
}
