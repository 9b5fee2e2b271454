#include "xclass/XWorkerProcess.h"
#include "xclass/XEnvironment.h"
#include "xclass/XExitCleanup.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "xclass/XFileName.h"
#include "xclass/XPlatform.h"
#include "xclass/XThread.h"

extern char** environ;

namespace {
void CloseIfOpen(int& fd)
{
    if (fd != -1) {
        ::close(fd);
        fd = -1;
    }
}

// Whether the child has ended (waiting for it when block), reaping it only then and under the
// exit cleanup's lock, so that the cleanup never signals a process id that is already free.
// 1: reaped, status set; 0: still running; -1: ended, but reaped elsewhere (status unknown).
int ReapChild(pid_t pid, bool block, int& status)
{
    siginfo_t info;
    for (;;) {
        info = {};
        if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT | (block ? 0 : WNOHANG)) == 0)
            break;
        if (errno == EINTR)
            continue;
        XExitCleanup::RemoveChild(pid);
        return -1; // ECHILD: somebody else reaped it (or SIGCHLD is ignored)
    }
    if (info.si_pid == 0)
        return 0;
    return XExitCleanup::ReapEnded(pid, &status) ? 1 : -1;
}

// Sleeps up to ms, returning early when the child ends (through a pidfd where the kernel has
// them), so that a short-lived child is not made to look 50 ms slower than it is.
void PauseForChild(pid_t pid, int ms)
{
#ifdef SYS_pidfd_open
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); // always close-on-exec
    if (pidfd >= 0) {
        struct pollfd p = {pidfd, POLLIN, 0};
        poll(&p, 1, ms);
        ::close(pidfd);
        return;
    }
#endif
    (void)pid;
    Sleep(static_cast<uint32_t>(ms));
}
} // namespace

XWorkerProcess::~XWorkerProcess()
{
    Close(2000);
}

int XWorkerProcess::GetCurrentPid()
{
    return static_cast<int>(getpid());
}

int XWorkerProcess::MoveAboveStdio(int fd)
{
    if (fd > 2)
        return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return moved;
}

bool XWorkerProcess::MakePipe(int fd[2])
{
    if (pipe2(fd, O_CLOEXEC) != 0) {
        fd[0] = fd[1] = -1;
        return false;
    }
    fd[0] = MoveAboveStdio(fd[0]);
    fd[1] = MoveAboveStdio(fd[1]);
    if (fd[0] == -1 || fd[1] == -1) {
        const int saved = errno;
        CloseIfOpen(fd[0]);
        CloseIfOpen(fd[1]);
        errno = saved;
        return false;
    }
    return true;
}

void XWorkerProcess::ClearStatus()
{
    m_exitCode = -1;
    m_signal = 0;
}

void XWorkerProcess::KeepStatus(int status)
{
    if (WIFSIGNALED(status)) {
        m_exitCode = -1;
        m_signal = WTERMSIG(status);
    } else if (WIFEXITED(status)) {
        m_exitCode = WEXITSTATUS(status);
        m_signal = 0;
    } else {
        ClearStatus();
    }
}

void XWorkerProcess::CloseHandles()
{
    for (int64_t* h : {&StdinHandle, &StdoutHandle, &StderrHandle}) {
        if (*h != -1) {
            ::close(static_cast<int>(*h));
            *h = -1;
        }
    }
}

bool XWorkerProcess::Create(const XStrList& args, int pipeFlags)
{
    Close(2000);
    if (args.Count() == 0) {
        errno = EINVAL;
        return false;
    }
    const XStr& program = args[0];
    if (program.FindChar(L'/') > 0 && !XFileExists(program)) {
        errno = ENOENT;
        return false;
    }

    int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
    auto closeAll = [&] {
        const int saved = errno;
        for (int* p : {in, out, err}) {
            CloseIfOpen(p[0]);
            CloseIfOpen(p[1]);
        }
        errno = saved;
    };
    if (((pipeFlags & XWP_PIPE_STDIN) && !MakePipe(in)) || ((pipeFlags & XWP_PIPE_STDOUT) && !MakePipe(out)) ||
        ((pipeFlags & XWP_PIPE_STDERR) && !MakePipe(err))) {
        closeAll();
        return false;
    }
    if (!Spawn(args, in[0], out[1], err[1])) {
        closeAll();
        return false;
    }
    StdinHandle = in[1];
    StdoutHandle = out[0];
    StderrHandle = err[0];
    in[1] = out[0] = err[0] = -1;
    closeAll(); // the child's ends
    return true;
}

bool XWorkerProcess::Create(const wchar_t* commandLine, int pipeFlags)
{
    XStrList args;
    args.ParseArgs(commandLine ? commandLine : L"");
    return Create(args, pipeFlags);
}

bool XWorkerProcess::Spawn(const XStrList& args, int in, int out, int err)
{
    Close(2000);
    if (args.Count() == 0) {
        errno = EINVAL;
        return false;
    }
    ClearStatus();

    std::vector<std::string> texts;
    texts.reserve(static_cast<size_t>(args.Count()));
    for (int64_t i = 0; i < args.Count(); ++i)
        texts.push_back(args[i].ToUTF8String());
    std::vector<char*> argv;
    argv.reserve(texts.size() + 1);
    for (auto& t : texts)
        argv.push_back(t.data());
    argv.push_back(nullptr);

    // A source that is itself one of the standard streams (say stderr wanted on stdout) could
    // be overwritten by an earlier redirection in the child: give it a private number first.
    const int given[3] = {in, out, err};
    int source[3];
    int temporary[3] = {-1, -1, -1};
    for (int n = 0; n < 3; ++n) {
        source[n] = given[n];
        if (given[n] >= 0 && given[n] <= 2 && given[n] != n) {
            temporary[n] = fcntl(given[n], F_DUPFD_CLOEXEC, 3);
            if (temporary[n] == -1) {
                const int saved = errno;
                for (int& t : temporary)
                    CloseIfOpen(t);
                errno = saved;
                return false;
            }
            source[n] = temporary[n];
        }
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int n = 0; n < 3; ++n) {
        if (source[n] == n)
            continue; // inherited as it is
        if (source[n] == -1)
            posix_spawn_file_actions_addopen(&actions, n, "/dev/null", n == 0 ? O_RDONLY : O_WRONLY, 0);
        else
            posix_spawn_file_actions_adddup2(&actions, source[n], n);
    }
    // The sources, and whatever else is open above 2 in this process (descriptors some other
    // code made without close-on-exec, or that our own parent left us), stay out of the child:
    // it gets its three standard streams and nothing more.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);

    // The child starts with no blocked signals and the default SIGPIPE, whatever this thread
    // had: a blocked SIGTERM or an ignored SIGPIPE would change how the child can be stopped.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    short spawnFlags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (OwnProcessGroup) {
        posix_spawnattr_setpgroup(&attributes, 0);
        spawnFlags |= POSIX_SPAWN_SETPGROUP;
    }
    posix_spawnattr_setflags(&attributes, spawnFlags);

    pid_t pid = 0;
    int r;
    {
        // Started and registered in one step: a cleanup at a signal sees every child.
        XExitCleanup::Section starting;
        {
            // posix_spawn reads environ: no setenv of ours may run meanwhile.
            std::lock_guard<std::mutex> environmentLock(XEnvironmentMutex());
            r = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
        }
        if (r == 0)
            XExitCleanup::AddChild(pid);
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    for (int& t : temporary)
        CloseIfOpen(t);
    if (r != 0) {
        errno = r;
        return false;
    }
    Pid = pid;
    return true;
}

bool XWorkerProcess::Spawn(const wchar_t* commandLine, int in, int out, int err)
{
    XStrList args;
    args.ParseArgs(commandLine ? commandLine : L"");
    return Spawn(args, in, out, err);
}

bool XWorkerProcess::Wait(int timeoutMs, int* exitCode)
{
    if (StdinHandle != -1) {
        ::close(static_cast<int>(StdinHandle));
        StdinHandle = -1;
    }
    if (Pid == 0) {
        if (exitCode)
            *exitCode = -1;
        return true;
    }
    int status = 0;
    int r;
    if (timeoutMs < 0) {
        r = ReapChild(Pid, true, status);
    } else {
        const uint32_t start = GetTickCount();
        r = ReapChild(Pid, false, status);
        while (r == 0) {
            const uint32_t elapsed = GetTickCount() - start;
            if (elapsed > static_cast<uint32_t>(timeoutMs))
                return false;
            const uint32_t left = static_cast<uint32_t>(timeoutMs) - elapsed + 1;
            PauseForChild(Pid, left < 50 ? static_cast<int>(left) : 50);
            r = ReapChild(Pid, false, status);
        }
    }
    if (r == 1)
        KeepStatus(status);
    else
        ClearStatus(); // reaped by somebody else (ECHILD): ended, status unknown
    Pid = 0;
    if (exitCode)
        *exitCode = m_exitCode;
    return true;
}

void XWorkerProcess::Close(int timeoutMs, int* exitCode)
{
    int code = -1;
    if (!Wait(timeoutMs, &code)) {
        KillGroup(SIGKILL);
        int status = 0;
        if (ReapChild(Pid, true, status) == 1)
            KeepStatus(status);
        else
            ClearStatus();
        Pid = 0;
        code = m_exitCode;
    }
    if (exitCode)
        *exitCode = code;
    CloseHandles();
}

bool XWorkerProcess::HasExited()
{
    if (Pid == 0)
        return true;
    int status = 0;
    const int r = ReapChild(Pid, false, status);
    if (r == 1) {
        KeepStatus(status);
        Pid = 0;
        return true;
    }
    if (r == -1) {
        // Reaped elsewhere (or SIGCHLD ignored): asking again would never say yes.
        ClearStatus();
        Pid = 0;
        return true;
    }
    return false;
}

void XWorkerProcess::Detach()
{
    CloseHandles();
    if (Pid != 0)
        XExitCleanup::RemoveChild(Pid); // it runs on by design, also past a signal
    Pid = 0;
}

bool XWorkerProcess::Kill(int signal)
{
    return Pid > 0 && ::kill(Pid, signal) == 0;
}

bool XWorkerProcess::KillGroup(int signal)
{
    if (Pid <= 0)
        return false;
    if (OwnProcessGroup && ::kill(-Pid, signal) == 0)
        return true;
    return ::kill(Pid, signal) == 0;
}

bool XRunProgram(const wchar_t* program, const wchar_t* argumentText, bool wait)
{
    XStrList args;
    args.SetCommandLine(program ? program : L"", argumentText ? argumentText : L"");
    XWorkerProcess process;
    if (!process.Create(args, 0))
        return false;
    if (wait) {
        process.Close(-1);
    } else {
        // Nobody waits for it here, so a thread of its own reaps it when it ends: no zombie.
        const pid_t pid = process.Pid;
        process.Detach();
        XSplitThread([pid] {
            int status;
            XWaitPid(pid, &status, 0);
        });
    }
    return true;
}

XStr XFindProgramInPath(const wchar_t* name, const char* pathValue)
{
    if (!name || !*name)
        return XStr();
    const std::string n = XStr(name).ToUTF8String();
    auto isProgram = [](const std::string& path) {
        struct stat st;
        return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
    };
    if (n.find('/') != std::string::npos)
        return isProgram(n) ? XStr(name) : XStr();
    bool pathSet = false;
    const std::string pathFromEnv = pathValue ? std::string() : XGetEnv("PATH", &pathSet);
    const std::string folders = pathValue ? std::string(pathValue)
                                : pathSet ? pathFromEnv
                                          : std::string("/usr/local/bin:/usr/bin:/bin");
    size_t begin = 0;
    for (;;) {
        const size_t end = folders.find(':', begin);
        const size_t length = (end == std::string::npos ? folders.size() : end) - begin;
        // An empty entry is the current folder.
        std::string candidate = length ? folders.substr(begin, length) : std::string(1, '.');
        candidate.push_back('/');
        candidate.append(n);
        if (isProgram(candidate))
            return XStr::FromUTF8(candidate);
        if (end == std::string::npos)
            break;
        begin = end + 1;
    }
    return XStr();
}
