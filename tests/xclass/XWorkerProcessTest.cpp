#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "common/TestFiles.h"
#include "xclass/XBlockRunner.h"
#include "xclass/XEvent.h"
#include "xclass/XWorkerProcess.h"
#include "xclass/clSignal.h"

namespace {
XStrList Args(std::initializer_list<const char*> items)
{
    XStrList list;
    for (const char* item : items)
        list.Add(XStr::FromUTF8(item));
    return list;
}

// Everything the descriptor delivers until end of file.
std::string ReadAll(int64_t fd)
{
    std::string data;
    char chunk[4096];
    for (;;) {
        const size_t n = XReadWithTimeout(static_cast<int>(fd), chunk, sizeof chunk, 300000);
        data.append(chunk, n);
        if (n < sizeof chunk)
            return data;
    }
}

bool ProcessIsGone(pid_t pid)
{
    errno = 0;
    const bool notOurChild = waitpid(pid, nullptr, WNOHANG) == -1 && errno == ECHILD;
    return notOurChild && kill(pid, 0) == -1 && errno == ESRCH;
}

uint64_t PipeInode(int fd)
{
    struct stat st;
    return fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode) ? static_cast<uint64_t>(st.st_ino) : 0;
}

// fd number -> link target, for every entry of a listing of "ls -l /proc/self/fd".
std::map<int, std::string> Entries(const std::string& listing)
{
    std::map<int, std::string> entries;
    static const std::regex line(R"( (\d+) -> ([^\n]*))");
    for (auto it = std::sregex_iterator(listing.begin(), listing.end(), line); it != std::sregex_iterator(); ++it)
        entries[std::stoi((*it)[1])] = (*it)[2];
    return entries;
}

std::string PipeName(int64_t fd)
{
    return "pipe:[" + std::to_string(PipeInode(static_cast<int>(fd))) + "]";
}
} // namespace

TEST(XWorkerProcess, PipesForOutputAndErrorWithInputFromDevNull)
{
    XWorkerProcess p;
    ASSERT_TRUE(p.Create(Args({"/bin/sh", "-c", "cat; echo out; echo err >&2; exit 3"}), 6));
    EXPECT_EQ(p.StdinHandle, -1);
    ASSERT_GT(p.StdoutHandle, 2);
    ASSERT_GT(p.StderrHandle, 2);
    EXPECT_GT(p.Pid, 0);
    EXPECT_EQ(ReadAll(p.StdoutHandle), "out\n"); // cat ended at once: /dev/null
    EXPECT_EQ(ReadAll(p.StderrHandle), "err\n");
    int code = 99;
    EXPECT_TRUE(p.Wait(-1, &code));
    EXPECT_EQ(code, 3);
    EXPECT_EQ(p.Pid, 0);
    EXPECT_FALSE(p.ExitedBySignal());
}

TEST(XWorkerProcess, InputPipeReachesTheChild)
{
    XWorkerProcess p;
    ASSERT_TRUE(p.Create(Args({"/bin/cat"}), 3));
    ASSERT_GT(p.StdinHandle, 2);
    ASSERT_EQ(XWriteWithTimeout(static_cast<int>(p.StdinHandle), "echo\n", 5, 300000), 5u);
    int code = -5;
    EXPECT_TRUE(p.Wait(-1, &code)); // closing stdin ends cat
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ReadAll(p.StdoutHandle), "echo\n");
}

TEST(XWorkerProcess, ExitCodesAndSignals)
{
    XWorkerProcess none;
    int code = 0;
    EXPECT_TRUE(none.Wait(-1, &code));
    EXPECT_EQ(code, -1);

    XWorkerProcess p;
    ASSERT_TRUE(p.Create(Args({"/bin/sh", "-c", "kill -9 $$"}), 0));
    EXPECT_TRUE(p.Wait(-1, &code));
    EXPECT_EQ(code, -1);
    EXPECT_TRUE(p.ExitedBySignal());
    EXPECT_EQ(p.ExitSignal(), SIGKILL);

    ASSERT_TRUE(p.Create(L"/bin/sh -c \"exit 5\"", 0)); // the text form
    EXPECT_TRUE(p.Wait(300000, &code));
    EXPECT_EQ(code, 5);
    EXPECT_FALSE(p.ExitedBySignal());
}

TEST(XWorkerProcess, CloseKillsALingeringChildAndLeavesNoZombie)
{
    XWorkerProcess p;
    ASSERT_TRUE(p.Create(Args({"/bin/sleep", "30"}), 6));
    const pid_t pid = p.Pid;
    int code = 0;
    p.Close(0, &code);
    EXPECT_EQ(code, -1);
    EXPECT_TRUE(p.ExitedBySignal());
    EXPECT_EQ(p.ExitSignal(), SIGKILL);
    EXPECT_EQ(p.Pid, 0);
    EXPECT_EQ(p.StdoutHandle, -1);
    EXPECT_EQ(p.StderrHandle, -1);
    EXPECT_TRUE(ProcessIsGone(pid));

    // The destructor does the same after its grace period.
    pid_t second;
    {
        XWorkerProcess q;
        ASSERT_TRUE(q.Create(Args({"/bin/sleep", "30"}), 0));
        second = q.Pid;
    }
    EXPECT_TRUE(ProcessIsGone(second));
}

TEST(XWorkerProcess, WaitAlwaysClosesInputAndKeepsTheChildOnTimeout)
{
    XWorkerProcess p;
    ASSERT_TRUE(p.Create(Args({"/bin/sleep", "30"}), 1));
    ASSERT_NE(p.StdinHandle, -1);
    EXPECT_FALSE(p.Wait(0));
    EXPECT_EQ(p.StdinHandle, -1);
    EXPECT_NE(p.Pid, 0);
    EXPECT_FALSE(p.HasExited());
    EXPECT_TRUE(p.Kill(SIGTERM));
    int code = 0;
    EXPECT_TRUE(p.Wait(-1, &code));
    EXPECT_EQ(code, -1);
    EXPECT_EQ(p.ExitSignal(), SIGTERM);
}

TEST(XWorkerProcess, HasExitedKeepsTheStatus)
{
    XWorkerProcess p;
    ASSERT_TRUE(p.Create(Args({"/bin/sh", "-c", "exit 7"}), 0));
    for (int i = 0; i < 60000 && !p.HasExited(); ++i)
        usleep(5000);
    ASSERT_EQ(p.Pid, 0);
    EXPECT_EQ(p.ExitCode(), 7);
    // Reaped already: a wait finds no child and says -1; the status stays readable.
    int code = 0;
    EXPECT_TRUE(p.Wait(-1, &code));
    EXPECT_EQ(code, -1);
    code = 0;
    p.Close(0, &code);
    EXPECT_EQ(code, -1);
    EXPECT_EQ(p.ExitCode(), 7);

    ASSERT_TRUE(p.Create(Args({"/bin/sh", "-c", "kill -TERM $$"}), 0));
    for (int i = 0; i < 60000 && !p.HasExited(); ++i)
        usleep(5000);
    EXPECT_TRUE(p.ExitedBySignal());
    EXPECT_EQ(p.ExitSignal(), SIGTERM);
    EXPECT_EQ(p.ExitCode(), -1);
}

TEST(XWorkerProcess, ChildReapedElsewhereCountsAsEnded)
{
    XWorkerProcess p;
    ASSERT_TRUE(p.Create(Args({"/bin/sh", "-c", "exit 2"}), 0));
    int status;
    ASSERT_EQ(waitpid(p.Pid, &status, 0), p.Pid);
    EXPECT_TRUE(p.HasExited()); // would otherwise say no for ever
    EXPECT_EQ(p.Pid, 0);
    EXPECT_EQ(p.ExitCode(), -1);

    for (int timeout : {-1, 50000}) {
        ASSERT_TRUE(p.Create(Args({"/bin/true"}), 0));
        ASSERT_EQ(waitpid(p.Pid, &status, 0), p.Pid);
        int code = 0;
        EXPECT_TRUE(p.Wait(timeout, &code));
        EXPECT_EQ(code, -1);
    }
}

TEST(XWorkerProcess, StartFailuresLeaveNothingBehind)
{
    const auto countFds = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                             std::filesystem::directory_iterator());
    };
    const auto before = countFds();
    XWorkerProcess p;
    errno = 0;
    EXPECT_FALSE(p.Create(XStrList(), 7));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_FALSE(p.Create(Args({"/no/such/program"}), 7));
    EXPECT_EQ(errno, ENOENT);
    // No PATH search: "true" exists on PATH but not in the current folder.
    ASSERT_FALSE(std::filesystem::exists("true"));
    EXPECT_FALSE(p.Create(Args({"true"}), 7));
    EXPECT_FALSE(p.Create(Args({"/dev/null"}), 7)); // exists, cannot run
    EXPECT_EQ(p.Pid, 0);
    EXPECT_EQ(p.StdinHandle, -1);
    EXPECT_EQ(p.StdoutHandle, -1);
    EXPECT_EQ(countFds(), before);
}

TEST(XWorkerProcess, PipeEndsStayAboveTheStandardStreams)
{
    const int savedIn = dup(0);
    ASSERT_GE(savedIn, 0);
    close(0); // the next pipe would land on 0
    XWorkerProcess p;
    const bool created = p.Create(Args({"/bin/sh", "-c", "read x; echo $x"}), 7);
    dup2(savedIn, 0);
    close(savedIn);
    ASSERT_TRUE(created);
    EXPECT_GT(p.StdinHandle, 2);
    EXPECT_GT(p.StdoutHandle, 2);
    EXPECT_GT(p.StderrHandle, 2);
    ASSERT_EQ(XWriteWithTimeout(static_cast<int>(p.StdinHandle), "hi\n", 3, 300000), 3u);
    EXPECT_TRUE(p.Wait(-1));
    EXPECT_EQ(ReadAll(p.StdoutHandle), "hi\n");
}

TEST(XWorkerProcess, ChildrenInheritOnlyTheirStandardStreams)
{
    // Descriptors of every kind the library makes, alive while children start, and one that
    // this process made inheritable on purpose.
    XEvent event;
    auto signal = clSignal::create();
    XWorkerProcess busy;
    ASSERT_TRUE(busy.Create(Args({"/bin/cat"}), 7));
    ASSERT_TRUE(readLinesThread(static_cast<int>(busy.StdoutHandle), [](XStr&) {}));
    const int inheritable = dup(0);
    ASSERT_TRUE(XIsInheritable(inheritable));

    // Children started from several threads at once, while the others make pipes.
    std::vector<std::thread> threads;
    std::atomic<int> failures{0}, runs{0};
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 15; ++i) {
                XWorkerProcess ls;
                if (!ls.Create(Args({"/bin/ls", "-l", "/proc/self/fd"}), 7)) {
                    ++failures;
                    continue;
                }
                const std::string own[3] = {PipeName(ls.StdinHandle), PipeName(ls.StdoutHandle),
                                            PipeName(ls.StderrHandle)};
                const std::string listing = ReadAll(ls.StdoutHandle);
                ls.Close(-1);
                const auto entries = Entries(listing);
                // 0, 1 and 2 on its own pipes, and 3: the folder ls itself is reading.
                bool ok = entries.size() == 4 && entries.count(3);
                for (int fd = 0; fd < 3; ++fd)
                    ok = ok && entries.count(fd) && entries.at(fd) == own[fd];
                if (!ok) {
                    ++failures;
                    ADD_FAILURE() << "unexpected descriptors in the child:\n" << listing;
                }
                ++runs;
            }
        });
    }
    for (auto& t : threads)
        t.join();
    close(inheritable);
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(runs, 90);
    (void)event;
    (void)signal;
}

TEST(XWorkerProcess, HostileArgumentsArriveUnchanged)
{
    TestTempDir dir;
    const std::string trap = "$(touch " + dir.path() + "/pwned)";
    XStrList args = Args({"/bin/sh", "-c", "for a do printf '[%s]' \"$a\"; done", "sh", "a b", "\"q\" 'r'",
                          trap.c_str(), "`id`", "*", "line\nbreak", "back\\slash", ""});
    args.Add(XStr(L"raw") + XStr(std::wstring_view(L"\xDCFF", 1))); // the byte 0xFF, not UTF-8
    XWorkerProcess p;
    ASSERT_TRUE(p.Create(args, 2));
    const std::string out = ReadAll(p.StdoutHandle);
    EXPECT_TRUE(p.Wait(-1));
    EXPECT_EQ(out, "[a b][\"q\" 'r'][" + trap + "][`id`][*][line\nbreak][back\\slash][][raw\xFF]");
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/pwned"));
}

TEST(XWorkerProcess, SpawnWithOneDescriptorForBothOutputs)
{
    int p[2];
    ASSERT_TRUE(XMakePipe(p, false));
    XWorkerProcess w;
    ASSERT_TRUE(w.Spawn(Args({"/bin/sh", "-c", "echo a; echo b >&2"}), -1, p[1], p[1]));
    close(p[1]);
    EXPECT_EQ(ReadAll(p[0]), "a\nb\n");
    close(p[0]);
    int code = 1;
    EXPECT_TRUE(w.Wait(-1, &code));
    EXPECT_EQ(code, 0);

    // A standard stream of the parent given for another stream (here stderr goes where the
    // parent's stdout goes, while the child's stdout is a pipe): it must be taken before the
    // child's descriptor 1 is replaced.
    int q[2];
    ASSERT_TRUE(XMakePipe(p, false));
    ASSERT_TRUE(XMakePipe(q, false));
    fflush(stdout);
    const int savedOut = dup(1);
    dup2(q[1], 1);
    const bool spawned = w.Spawn(Args({"/bin/sh", "-c", "echo out; echo err >&2"}), -1, p[1], 1);
    dup2(savedOut, 1);
    close(savedOut);
    close(q[1]);
    close(p[1]);
    ASSERT_TRUE(spawned);
    EXPECT_EQ(ReadAll(p[0]), "out\n");
    EXPECT_EQ(ReadAll(q[0]), "err\n");
    close(p[0]);
    close(q[0]);
    EXPECT_TRUE(w.Wait(-1));
}

TEST(XWorkerProcess, RunProgramWaitsOrReapsInTheBackground)
{
    TestTempDir dir;
    const XStr first = XStr::FromUTF8(dir.path() + "/with space");
    const XStr args = XQuoteArgument(first);
    EXPECT_TRUE(XRunProgram(L"/usr/bin/touch", args, true));
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "/with space"));

    const XStr second = XStr::FromUTF8(dir.path() + "/later");
    EXPECT_TRUE(XRunProgram(L"/usr/bin/touch", XQuoteArgument(second), false));
    for (int i = 0; i < 60000 && !std::filesystem::exists(dir.path() + "/later"); ++i)
        usleep(5000);
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "/later"));
    EXPECT_FALSE(XRunProgram(L"/no/such/program", L"", true));
}

TEST(XWorkerProcess, FindProgramInPath)
{
    TestTempDir a, b;
    const std::string tool = b.path() + "/tool";
    const std::string plain = a.path() + "/tool";
    for (const std::string& path : {tool, plain}) {
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        close(fd);
    }
    chmod(tool.c_str(), 0700);
    const std::string path = a.path() + ":" + b.path();
    EXPECT_EQ(XFindProgramInPath(L"tool", path.c_str()), XStr::FromUTF8(tool)); // skips the plain file
    EXPECT_TRUE(XFindProgramInPath(L"missing", path.c_str()).IsEmpty());
    EXPECT_EQ(XFindProgramInPath(XStr::FromUTF8(tool), ""), XStr::FromUTF8(tool));
    EXPECT_TRUE(XFindProgramInPath(XStr::FromUTF8(plain), "").IsEmpty());
    EXPECT_FALSE(XFindProgramInPath(L"sh").IsEmpty()); // the environment's PATH
}

namespace {
struct ToolRun {
    std::string Out;
    int Code = -2;
};

ToolRun RunSpawnTool(std::initializer_list<const char*> args)
{
    XStrList list = Args({MARVONI_TEST_TOOLS_DIR "/xclass-tool", "spawn"});
    for (const char* a : args)
        list.Add(XStr::FromUTF8(a));
    ToolRun run;
    XWorkerProcess tool;
    if (!tool.Create(list, 2))
        return run;
    run.Out = ReadAll(tool.StdoutHandle);
    tool.Wait(-1, &run.Code);
    return run;
}
} // namespace

TEST(XWorkerProcessSpawnTool, PrintsBothStreamsAndTheEnd)
{
    ToolRun run = RunSpawnTool({"sh", "-c", "echo one; echo two >&2; echo three; exit 4"});
    EXPECT_EQ(run.Code, 0);
    // The two readers interleave freely; each stream keeps its own order.
    EXPECT_NE(run.Out.find("out: one\n"), std::string::npos);
    EXPECT_LT(run.Out.find("out: one\n"), run.Out.find("out: three\n"));
    EXPECT_NE(run.Out.find("err: two\n"), std::string::npos);
    EXPECT_TRUE(run.Out.ends_with("\nexit: 4\n")) << run.Out;

    run = RunSpawnTool({"--kill-after", "100", "/bin/sleep", "30"});
    EXPECT_EQ(run.Code, 0);
    EXPECT_EQ(run.Out, "killed\n");
    run = RunSpawnTool({"--timeout", "20000", "/bin/sh", "-c", "exit 0"});
    EXPECT_EQ(run.Out, "exit: 0\n");

    EXPECT_NE(RunSpawnTool({"no-such-program-anywhere"}).Code, 0);
    EXPECT_NE(RunSpawnTool({"/no/such/program"}).Code, 0);
    EXPECT_NE(RunSpawnTool({"--timeout", "x", "/bin/true"}).Code, 0);
}
