// The ffmpeg run: argument text rewriting, the error filter, and whole conversions through
// engine-tool with the real ffmpeg, with hostile file names and with a stand-in ffmpeg that
// records its arguments, fails or crashes.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "EngineToolRun.h"
#include "MediaTestFiles.h"
#include "clFFMPEG.h"

namespace {

std::string LastLine(const std::string& text)
{
    std::string t = text;
    while (!t.empty() && t.back() == '\n')
        t.pop_back();
    const size_t nl = t.rfind('\n');
    return nl == std::string::npos ? t : t.substr(nl + 1);
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

double Duration(const std::string& path)
{
    MediaTestDir dir;
    const std::string out = dir.file("d.txt");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> args{"ffprobe", "-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", path};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, "ffprobe", &actions, nullptr, argv.data(), environ) != 0)
        return -1;
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    waitpid(pid, &status, 0);
    const std::string text = ReadAll(out);
    return text.empty() ? -1 : std::atof(text.c_str());
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
    const std::vector<std::wstring> values{L"a b", L"a,b", L"q\"uote", L"back\\slash", L"trail\\", L"$(rm -rf x)",
        L"line\nbreak", std::wstring(L"bad") + wchar_t(0xDCFF)};
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
    XStr real(L" /x/in.mp4: Invalid data found when processing input ");
    EXPECT_TRUE(filterErrorLine(real));
    EXPECT_EQ(std::wstring(real.View()), L"/x/in.mp4: Invalid data found when processing input");
}

// ---- Whole runs with the real ffmpeg ---------------------------------------------------------

class KRAProcessRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (ProgramOnPath("ffmpeg").empty() || ProgramOnPath("ffprobe").empty())
            GTEST_SKIP() << "ffmpeg and ffprobe are needed";
        // A data folder of our own: no installed ffmpeg copy, no debug log.
        setenv("_APPDATA_OVERRIDE", dir.file("appdata").c_str(), 1);
        mkdir(dir.file("appdata").c_str(), 0700);
        unsetenv("MARVONI_DEBUG");
        src = dir.file("in.mp4");
        ASSERT_TRUE(MakeTestVideo(src, "320x240", "25", "2"));
    }
    EngineToolResult Run(const std::vector<std::string>& args) { return RunEngineTool(args); }

    MediaTestDir dir;
    std::string src;
};

TEST_F(KRAProcessRun, TrimsAndReportsProgress)
{
    const std::string out = dir.file("out.mkv");
    const EngineToolResult r = Run({"run", "--src", src, "--dst", out, "--args", "-vcodec libx264 -acodec aac -trimstart=0.5 -fadein=0"});
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
        ASSERT_TRUE(RunQuietly({"cp", src, source}));
        const std::string dest = dir.file(name);
        const EngineToolResult r = Run({"run", "--src", source, "--dst", dest, "--args", "-vcodec libx264 -f matroska"});
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
    ASSERT_TRUE(RunQuietly({"cp", src, self}));
    const std::string link = dir.file("link.mp4");
    ASSERT_EQ(symlink(self.c_str(), link.c_str()), 0);
    // Through a link: a failing run leaves the file as it was.
    const std::string before = ReadAll(self);
    EngineToolResult r = Run({"run", "--src", link, "--dst", self, "--args", "-vcodec no_such_codec"});
    EXPECT_EQ(LastLine(r.out), "result: failure");
    EXPECT_EQ(ReadAll(self), before);
    // A successful run replaces it with the converted file.
    r = Run({"run", "--src", self, "--dst", self, "--args", "-vcodec libx264 -acodec copy"});
    EXPECT_EQ(LastLine(r.out), "result: success") << r.out;
    EXPECT_NE(ReadAll(self), before);
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
    EngineToolResult r = Run({"run", "--src", bad, "--dst", fresh, "--args", "-vcodec libx264"});
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(LastLine(r.out), "result: failure");
    EXPECT_NE(r.out.find("error: "), std::string::npos);
    EXPECT_FALSE(PathExists(fresh));
    const std::string existing = dir.file("existing.mp4");
    WriteTextFile(existing, "keep me");
    r = Run({"run", "--src", bad, "--dst", existing, "--args", "-vcodec libx264"});
    EXPECT_EQ(LastLine(r.out), "result: failure");
    EXPECT_EQ(ReadAll(existing), "keep me");
    EXPECT_TRUE(NoTemporaryLeft(dir.path()));
}

TEST_F(KRAProcessRun, DebugLogKeepsEveryLineWithoutFailing)
{
    const std::string home = dir.file("home");
    mkdir(home.c_str(), 0700);
    mkdir((home + "/Documents").c_str(), 0700);
    setenv("HOME", home.c_str(), 1);
    setenv("MARVONI_DEBUG", "1", 1);
    const EngineToolResult r = Run({"run", "--src", src, "--dst", dir.file("dbg.mkv"), "--args", "-vcodec libx264"});
    EXPECT_EQ(LastLine(r.out), "result: success") << r.out;
    EXPECT_NE(r.out.find("-loglevel level+info"), std::string::npos);
    DIR* d = opendir((home + "/Documents").c_str());
    ASSERT_NE(d, nullptr);
    std::string logText;
    while (dirent* e = readdir(d)) {
        if (std::string(e->d_name).rfind("QKDebug-", 0) == 0)
            logText = ReadAll(home + "/Documents/" + e->d_name);
    }
    closedir(d);
    EXPECT_NE(logText.find("[info]"), std::string::npos);
}

TEST_F(KRAProcessRun, ConcatenatesByListAndByFilterGraph)
{
    const std::string second = dir.file("second.mp4");
    ASSERT_TRUE(RunQuietly({"cp", src, second}));
    const std::string copied = dir.file("copied.mkv");
    EngineToolResult r = Run({"run", "--src", src, "--src", second, "--dst", copied, "--args", "-vcodec copy -acodec copy"});
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
        ASSERT_TRUE(RunQuietly({"cp", src, source}));
        args.insert(args.end(), {"--src", source});
    }
    const std::string joined = dir.file("joined.mkv");
    args.insert(args.end(), {"--dst", joined, "--args", "-vcodec copy -acodec copy"});
    const EngineToolResult r = Run(args);
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
    std::vector<std::string> args{"run", "--src", src, "--dst", out, "--args", "-loopvideo=400000000 -vcodec copy -acodec copy"};
#if !defined(__SANITIZE_ADDRESS__)
    if (!ProgramOnPath("prlimit").empty()) {
        args.insert(args.begin(), {"--as=4000000000", EngineToolPath()});
        const EngineToolResult r = RunTestTool(ProgramOnPath("prlimit"), args);
        EXPECT_EQ(LastLine(r.out), "result: failure") << r.out;
        EXPECT_NE(r.out.find("error: The loop count 400000000 is too large"), std::string::npos) << r.out;
        EXPECT_FALSE(PathExists(out));
        return;
    }
#endif
    const EngineToolResult r = Run(args);
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
    EngineToolResult r = Run({"run", "--src", longer, "--dst", out, "--args", "-vcodec libx264 -preset veryslow",
        "--pause-after", "300", "--quit-after", "800"});
    EXPECT_EQ(LastLine(r.out), "result: failure");
    EXPECT_NE(r.status, 0);
    EXPECT_FALSE(PathExists(out));
    // Paused and resumed: the conversion completes.
    r = Run({"run", "--src", src, "--dst", out, "--args", "-vcodec libx264", "--pause-after", "50", "--resume-after", "600"});
    EXPECT_EQ(LastLine(r.out), "result: success") << r.out;
    EXPECT_TRUE(PathExists(out));
    EXPECT_TRUE(NoTemporaryLeft(dir.path()));
}

TEST_F(KRAProcessRun, SpecialOutputsAreRefusedClearly)
{
    const std::string out = dir.file("sheet.jpg");
    const EngineToolResult r = Run({"run", "--src", src, "--dst", out, "--encoder", "[Contact Sheet]", "--args", "-contact_col=4 -contact_row=3"});
    EXPECT_EQ(LastLine(r.out), "result: failure");
    EXPECT_NE(r.out.find("error: The output type \"[Contact Sheet]\" is not available yet"), std::string::npos);
    EXPECT_FALSE(PathExists(out));
}

// ---- A stand-in ffmpeg -----------------------------------------------------------------------

class KRAProcessFakeFFmpeg : public KRAProcessRun {
protected:
    void Install(const std::string& body)
    {
        const std::string folder = dir.file("appdata") + "/MarvoniVideo";
        mkdir(folder.c_str(), 0700);
        const std::string path = folder + "/ffmpeg";
        WriteTextFile(path, "#!/bin/sh\n" + body);
        chmod(path.c_str(), 0755);
        setenv("ARGV_OUT", dir.file("argv").c_str(), 1);
    }
};

TEST_F(KRAProcessFakeFFmpeg, TheChildGetsExactlyTheIntendedArguments)
{
    Install("for a in \"$@\"; do printf '%s\\0' \"$a\"; done > \"$ARGV_OUT\"\n");
    const std::string source = dir.file("a \"b\" c\\ $(x)\nd\xff.mp4");
    ASSERT_TRUE(RunQuietly({"cp", src, source}));
    const std::string dest = dir.file("out\\");
    const EngineToolResult r = Run({"run", "--src", source, "--dst", dest, "--args", "-metadata \"title=a \\\"b\\\"\" stray -an"});
    EXPECT_EQ(LastLine(r.out), "result: success") << r.out;
    std::vector<std::string> argv;
    const std::string recorded = ReadAll(dir.file("argv"));
    size_t begin = 0;
    for (size_t i = 0; i < recorded.size(); ++i) {
        if (recorded[i] == '\0') {
            argv.push_back(recorded.substr(begin, i - begin));
            begin = i + 1;
        }
    }
    ASSERT_GE(argv.size(), 14u);
    EXPECT_EQ(argv[0], "-i");
    EXPECT_EQ(argv[1], source);
    EXPECT_EQ(argv[2], "-metadata");
    EXPECT_EQ(argv[3], "title=a \"b\"");
    EXPECT_EQ(argv[4], "stray");
    EXPECT_EQ(argv[5], "-an");
    EXPECT_EQ(argv[6], "-loglevel");
    EXPECT_EQ(argv[7], "16");
    EXPECT_EQ(argv[argv.size() - 2].substr(0, 5), "/tmp/");
    EXPECT_EQ(argv.back().substr(0, dest.size() + 4), dest + ".tmp"); // written beside, then moved
    EXPECT_TRUE(PathExists(dest));
}

TEST_F(KRAProcessFakeFFmpeg, ACrashOrAnExitCodeIsAFailure)
{
    const std::string dest = dir.file("crash.mp4");
    WriteTextFile(dest, "previous");
    Install("kill -SEGV $$\n");
    EngineToolResult r = Run({"run", "--src", src, "--dst", dest, "--args", "-vcodec libx264"});
    EXPECT_EQ(LastLine(r.out), "result: failure");
    EXPECT_NE(r.out.find("error: FFmpeg ended by signal 11"), std::string::npos) << r.out;
    EXPECT_EQ(ReadAll(dest), "previous");
    Install("exit 3\n");
    r = Run({"run", "--src", src, "--dst", dest, "--args", "-vcodec libx264"});
    EXPECT_EQ(LastLine(r.out), "result: failure");
    EXPECT_NE(r.out.find("error: FFmpeg ended with exit code 3"), std::string::npos) << r.out;
    EXPECT_EQ(ReadAll(dest), "previous");
    EXPECT_TRUE(NoTemporaryLeft(dir.path()));
}
