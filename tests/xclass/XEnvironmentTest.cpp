#include "xclass/XEnvironment.h"
#include "common/TestEnv.h"
#include "common/TestFiles.h"
#include "common/ToolRun.h"

#include "xclass/XList.h"
#include "xclass/XListElementValue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#ifndef MARVONI_TEST_TOOLS_DIR
#define MARVONI_TEST_TOOLS_DIR "."
#endif

namespace {

std::string U(const XStr& s)
{
    return s.ToUTF8String();
}

// Saves the variables a test changes and puts them back; the data folder name is cleared.
class EnvGuard {
public:
    explicit EnvGuard(const std::vector<std::string>& names)
    {
        for (const std::string& name : names)
            m_scopes.push_back(std::make_unique<TestEnvScope>(name.c_str()));
    }
    ~EnvGuard() { XSetAppDataFolder(L""); }

private:
    std::vector<std::unique_ptr<TestEnvScope>> m_scopes;
};

struct TempDir : TestTempDir {
    void Write(const std::string& name, const std::string& text) const
    {
        FILE* f = fopen((path() + "/" + name).c_str(), "w");
        ASSERT_NE(f, nullptr);
        fputs(text.c_str(), f);
        fclose(f);
    }
};

// What the program prints, without the line ends at the end.
std::string Output(const std::vector<std::string>& args)
{
    ToolRunOptions options;
    options.searchPath = true;
    std::string out = RunProcess(args, options).out;
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

const std::string kTool = std::string(MARVONI_TEST_TOOLS_DIR) + "/xclass-tool";

} // namespace

TEST(XEnvironment, AppDataFolderFromOverrideOrXdgDataHome)
{
    EnvGuard guard({"_APPDATA_OVERRIDE", "HOME", "XDG_DATA_HOME"});
    XUnsetEnv("XDG_DATA_HOME");
    XSetEnv("_APPDATA_OVERRIDE", "/tmp/x");
    EXPECT_EQ(U(XGetAppDataBase()), "/tmp/x/");
    EXPECT_EQ(U(XGetAppDataFolder()), "/tmp/x/"); // no name yet
    XSetAppDataFolder(L"MarvoniVideo");
    EXPECT_EQ(U(XGetAppDataFolder()), "/tmp/x/MarvoniVideo/");
    EXPECT_EQ(U(XGetAppDataPath(L"XRegistry")), "/tmp/x/MarvoniVideo/XRegistry");
    XSetEnv("_APPDATA_OVERRIDE", "/tmp/y/");
    EXPECT_EQ(U(XGetAppDataFolder()), "/tmp/y/MarvoniVideo/");

    XUnsetEnv("_APPDATA_OVERRIDE");
    XSetEnv("HOME", "/home/someone");
    EXPECT_EQ(U(XGetAppDataFolder()), "/home/someone/.local/share/MarvoniVideo/");
    EXPECT_EQ(U(XGetOldAppDataFolder()), "/home/someone/Library/MarvoniVideo/");
    XSetEnv("XDG_DATA_HOME", "/data/me");
    EXPECT_EQ(U(XGetAppDataFolder()), "/data/me/MarvoniVideo/");
    XSetEnv("XDG_DATA_HOME", "not/absolute"); // ignored, as the base-directory rules say
    EXPECT_EQ(U(XGetAppDataFolder()), "/home/someone/.local/share/MarvoniVideo/");
    XSetEnv("_APPDATA_OVERRIDE", "/tmp/x");
    EXPECT_EQ(U(XGetAppDataFolder()), "/tmp/x/MarvoniVideo/"); // the override comes first
    XUnsetEnv("_APPDATA_OVERRIDE");
    XUnsetEnv("XDG_DATA_HOME");

    // Without HOME the password database still knows a home.
    XUnsetEnv("HOME");
    const std::string folder = U(XGetAppDataFolder());
    EXPECT_FALSE(folder.empty());
    EXPECT_EQ(folder.substr(folder.size() - std::string("/MarvoniVideo/").size()), "/MarvoniVideo/");
}

TEST(XEnvironment, AppDataFolderFromTheTool)
{
    EXPECT_EQ(Output({"env", "_APPDATA_OVERRIDE=/tmp/x", kTool, "appdata"}), "/tmp/x/MarvoniVideo/");
    EXPECT_EQ(Output({"env", "-u", "_APPDATA_OVERRIDE", "-u", "XDG_DATA_HOME", "HOME=/h", kTool, "appdata"}),
              "/h/.local/share/MarvoniVideo/");
    EXPECT_EQ(Output({"env", "-u", "_APPDATA_OVERRIDE", "XDG_DATA_HOME=/d", "HOME=/h", kTool, "appdata"}),
              "/d/MarvoniVideo/");
}

TEST(XEnvironment, SpecialFoldersFollowXdgUserDirs)
{
    EnvGuard guard({"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "TMPDIR", "XTempFolderScope_Location"});
    TempDir config;
    XUnsetEnv("XDG_DATA_HOME");
    XSetEnv("HOME", "/home/me");
    XSetEnv("XDG_CONFIG_HOME", config.path().c_str());
    XUnsetEnv("XTempFolderScope_Location");
    XSetEnv("TMPDIR", "/var/tmp");

    // No user-dirs.dirs: the usual names in the home folder.
    EXPECT_EQ(U(XGetSpecialFolder(XSPECIAL_MOVIES)), "/home/me/Videos");
    EXPECT_EQ(U(XGetSpecialFolder(XSPECIAL_MUSIC)), "/home/me/Music");
    EXPECT_EQ(U(XGetSpecialFolder(XSPECIAL_PICTURES)), "/home/me/Pictures");
    EXPECT_EQ(U(XGetXdgUserFolder("DOCUMENTS", L"Documents")), "/home/me/Documents");

    config.Write("user-dirs.dirs", "# written by xdg-user-dirs-update\n"
                                   "XDG_VIDEOS_DIR=\"$HOME/Filme\"\n"
                                   "XDG_MUSIC_DIR=\"/srv/m\\\"usic/\"\n"
                                   "  XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n"
                                   "XDG_PICTURES_DIR=\"relative/not/allowed\"\n");
    EXPECT_EQ(U(XGetSpecialFolder(XSPECIAL_MOVIES)), "/home/me/Filme");
    EXPECT_EQ(U(XGetSpecialFolder(XSPECIAL_MUSIC)), "/srv/m\"usic");
    EXPECT_EQ(U(XGetSpecialFolder(XSPECIAL_PICTURES)), "/home/me/Pictures");
    EXPECT_EQ(U(XGetXdgUserFolder("DOCUMENTS", L"Documents")), "/home/me/Dokumente");

    EXPECT_EQ(U(XGetSpecialFolder(XSPECIAL_TEMP)), "/var/tmp/");
    EXPECT_EQ(U(XGetSpecialFolder(XSPECIAL_HOME)), "/home/me");
    EXPECT_EQ(U(XGetSpecialFolder(XSPECIAL_LIBRARY)), "/home/me/.local/share"); // this system's library
    EXPECT_EQ(U(XGetSpecialFolder(6)), "");
    EXPECT_EQ(U(XGetSpecialFolder(6, L"~/Elsewhere")), "/home/me/Elsewhere");
}

TEST(XEnvironment, ExecutablePathAndFolder)
{
    const std::string path = U(XGetExecutablePath());
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path[0], '/');
    EXPECT_EQ(access(path.c_str(), X_OK), 0);
    const std::string folder = U(XGetExecutableFolder());
    EXPECT_EQ(folder, path.substr(0, path.rfind('/') + 1));
    EXPECT_EQ(U(XGetResourcesFolder()).back(), '/');
}

TEST(XEnvironment, ProgramFilesNextToTheExecutableWinOverResources)
{
    // A copy of the tool in <root>/bin with its data in <root>/share/marvoni-video.
    TempDir root;
    const std::string bin = root.path() + "/bin";
    const std::string share = root.path() + "/share/marvoni-video";
    ASSERT_TRUE(RunProgramQuietly({"mkdir", "-p", bin, share}));
    ASSERT_TRUE(RunProgramQuietly({"cp", kTool, bin + "/"}));
    const std::string tool = bin + "/xclass-tool";
    root.Write("share/marvoni-video/decoders.bin", "r");

    EXPECT_EQ(Output({tool, "resources"}), share + "/");
    EXPECT_EQ(Output({tool, "find-program", "decoders.bin"}), share + "/decoders.bin");
    EXPECT_EQ(Output({tool, "find-program", "missing.bin"}), share + "/missing.bin");
    root.Write("bin/decoders.bin", "e");
    EXPECT_EQ(Output({tool, "find-program", "decoders.bin"}), bin + "/decoders.bin");
}

TEST(XEnvironment, ArgumentsOfTheProcess)
{
    EXPECT_EQ(Output({kTool, "argument-text", "a", "b c"}), "argument-text a \"b c\"");

    // A program path with a blank is quoted in the command line and skipped as a whole.
    TempDir root;
    const std::string spaced = root.path() + "/my tools";
    ASSERT_TRUE(RunProgramQuietly({"mkdir", spaced}));
    ASSERT_TRUE(RunProgramQuietly({"cp", kTool, spaced + "/"}));
    EXPECT_EQ(Output({spaced + "/xclass-tool", "argument-text", "x"}), "argument-text x");

    XStrList args;
    ASSERT_TRUE(XGetProcessArgumentList(args));
    ASSERT_GE(args.Count(), 1);
    const std::string self = U(XGetExecutablePath());
    const std::string first = U(args[0]);
    EXPECT_EQ(first.substr(first.rfind('/') + 1), self.substr(self.rfind('/') + 1));
    EXPECT_NE(U(XGetProcessArguments()).find(self.substr(self.rfind('/') + 1)), std::string::npos);
}

TEST(XEnvironment, QuoteArgumentEscaped)
{
    EXPECT_EQ(U(XQuoteArgumentEscaped(L"a\"b\\c")), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(U(XQuoteArgumentEscaped(L"")), "\"\"");
    EXPECT_EQ(U(XQuoteArgumentEscaped(nullptr)), "\"\"");
}

TEST(XEnvironment, ReadersAreSafeWhileTheEnvironmentChanges)
{
    // Readers on several threads while another keeps setting and unsetting variables: the
    // sanitizer build catches a getenv reading a freed environment.
    EnvGuard guard({"_APPDATA_OVERRIDE", "XENV_TEST_CHURN"});
    XSetEnv("_APPDATA_OVERRIDE", "/tmp/x");
    XSetAppDataFolder(L"MarvoniVideo");
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::thread writer([&] {
        for (int i = 0; i < 3000; ++i) {
            const std::string name = "XENV_TEST_CHURN_" + std::to_string(i % 50);
            XSetEnv(name.c_str(), std::to_string(i).c_str());
            XUnsetEnv(name.c_str());
        }
        stop = true;
    });
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t)
        readers.emplace_back([&] {
            while (!stop)
                if (U(XGetAppDataFolder()) != "/tmp/x/MarvoniVideo/")
                    ++wrong;
        });
    writer.join();
    for (auto& r : readers)
        r.join();
    EXPECT_EQ(wrong, 0);
}
