// The program itself: it starts, makes its data folder and runs its event loop quietly.
#include "app/AppTestSupport.h"
#include "common/ToolRun.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

TEST(Program, StartsMakesItsPrivateDataFolderAndRunsWithoutComplaint)
{
    TestTempDir dir;
    const std::string override = dir.file("data");
    ASSERT_EQ(mkdir(override.c_str(), 0755), 0);
    const std::string errors = dir.file("stderr.txt");
    const std::string home = dir.file("home");
    ASSERT_EQ(mkdir(home.c_str(), 0700), 0);

    // Everything the child needs is made before the fork: after it, only exec-safe calls.
    std::vector<std::string> env;
    const std::map<std::string, std::string> mine = {
        {"_APPDATA_OVERRIDE", override},
        {"QT_QPA_PLATFORM", "offscreen"},
        {"HOME", home},
        {"XDG_CONFIG_HOME", home + "/.config"},
        {"XCLASS_XREGISTRY_LOCATION", home + "/inherited"},
    };
    for (char** entry = environ; *entry; ++entry) {
        const std::string text(*entry);
        if (!mine.count(text.substr(0, text.find('='))))
            env.push_back(text);
    }
    for (const auto& [name, value] : mine)
        env.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& text : env)
        envp.push_back(text.data());
    envp.push_back(nullptr);
    char program[] = MARVONI_APP_EXECUTABLE;
    char name[] = "marvoni-video";
    char* argv[] = {name, nullptr};

    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const int fd = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0)
            _exit(120);
        dup2(fd, 2);
        dup2(fd, 1);
        execve(program, argv, envp.data());
        _exit(121);
    }

    const std::string folder = override + "/MarvoniVideo";
    struct stat st {};
    bool made = false;
    int status = 0;
    bool exited = false;
    // Waits for the folder (a hang guard, not a timing), then lets the program run its loop.
    for (int i = 0; i < 6000 && !made && !exited; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        made = stat(folder.c_str(), &st) == 0;
        exited = waitpid(pid, &status, WNOHANG) == pid;
    }
    for (int i = 0; i < 30 && !exited; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        exited = waitpid(pid, &status, WNOHANG) == pid;
    }
    if (!exited) {
        kill(pid, SIGTERM);
        waitpid(pid, &status, 0);
    }
    EXPECT_FALSE(exited) << "the program ended by itself, status " << status;
    ASSERT_TRUE(made);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    std::ifstream in(errors);
    const std::string output((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(output, "");
}

TEST(Program, AWrongArgumentGetsTheUsageAndAFailingStatus)
{
    TestTempDir dir;
    ToolRunOptions options;
    options.timeoutMs = 240000;
    // No display and no platform named: the answer must not need one.
    std::vector<std::string> env{"HOME=" + dir.path(), "_APPDATA_OVERRIDE=" + dir.path(),
                                 "XCLASS_XREGISTRY_LOCATION=" + dir.file("store")};
    if (const char* path = getenv("PATH"))
        env.push_back(std::string("PATH=") + path);
    options.env = env;
    const ToolRunResult twice =
        RunProcess({MARVONI_APP_EXECUTABLE, "--convert-files", "a", "--convert-folder"}, options);
    EXPECT_EQ(twice.status, 2);
    EXPECT_NE(twice.err.find("one entry at a time"), std::string::npos) << twice.err;
    const ToolRunResult wrong = RunProcess({MARVONI_APP_EXECUTABLE, "--convert-file", "x.mkv"}, options);
    EXPECT_EQ(wrong.status, 2);
    EXPECT_NE(wrong.err.find("unknown argument '--convert-file'"), std::string::npos) << wrong.err;
    EXPECT_NE(wrong.err.find("--convert-files FILE..."), std::string::npos);
    EXPECT_NE(wrong.err.find("--convert-folder FOLDER..."), std::string::npos);
    const ToolRunResult help = RunProcess({MARVONI_APP_EXECUTABLE, "--help"}, options);
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--convert-files"), std::string::npos);
}

} // namespace
