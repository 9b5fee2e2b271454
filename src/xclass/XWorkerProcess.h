// XWorkerProcess: one child program started from an argument list with posix_spawn (never
// through a shell, never searched on PATH), optionally with pipes on its standard input,
// output and error; waited for with a time-out, or killed. The conversion engine starts every
// ffmpeg through it.
//
// Every pipe end made here is close-on-exec from its creation, the child's standard streams
// are put in place by the spawn's file actions, and every other descriptor above 2 is closed
// in the child: a child started from any thread inherits its three standard streams only.
//
// Every child is registered with XExitCleanup from its start until it is reaped or detached,
// so that a SIGTERM, SIGINT or SIGHUP of this process kills it too.
//
// An object is used by one thread at a time. It owns its handles and its child: the
// destructor closes with 2000 ms of grace (then the child is killed).
#pragma once

#include <cstdint>
#include <sys/types.h>

#include "xclass/XList.h"
#include "xclass/XStr.h"

// Pipe flags of XWorkerProcess::Create; a stream without a pipe reads or writes /dev/null.
constexpr int XWP_PIPE_STDIN = 1;
constexpr int XWP_PIPE_STDOUT = 2;
constexpr int XWP_PIPE_STDERR = 4;

class XWorkerProcess {
public:
    int64_t StdinHandle = -1;  // parent's write end of the child's standard input; -1 = none
    int64_t StdoutHandle = -1; // parent's read end of the child's standard output
    int64_t StderrHandle = -1; // parent's read end of the child's standard error
    int32_t Pid = 0;           // 0 = no child
    // Set before starting: the child leads a process group of its own, so that KillGroup (and
    // the kill of Close after its time) reaches whatever it started too.
    bool OwnProcessGroup = false;

    XWorkerProcess() = default;
    ~XWorkerProcess();
    XWorkerProcess(const XWorkerProcess&) = delete;
    XWorkerProcess& operator=(const XWorkerProcess&) = delete;

    // Closes a previous child (2000 ms), then starts args[0] with args as its argument list
    // and the requested pipes. False (errno set) for an empty list (EINVAL), a program path
    // holding "/" that does not exist (ENOENT), a pipe that cannot be made, or a failed spawn;
    // nothing is left open then.
    bool Create(const XStrList& args, int pipeFlags);
    // The text is split with XStrList::ParseArgs.
    bool Create(const wchar_t* commandLine, int pipeFlags);
    // The low-level start: the child's standard input, output and error are the given
    // descriptors. A descriptor equal to its stream number is inherited as it is; -1 opens
    // /dev/null; any other is duplicated onto the stream in the child.
    bool Spawn(const XStrList& args, int in, int out, int err);
    bool Spawn(const wchar_t* commandLine, int in, int out, int err);

    // Closes the standard-input handle first, then waits up to timeoutMs (-1: for ever) for
    // the child. True with the exit code once it has ended (-1 when a signal ended it, and -1
    // when there is no child); false on time-out, the child kept. The status of the last child
    // stays readable through ExitCode.
    bool Wait(int timeoutMs, int* exitCode = nullptr);
    // Waits; a child still running after timeoutMs is killed (SIGKILL) and reaped. Then closes
    // every handle. The exit code is -1 when the child was killed.
    void Close(int timeoutMs, int* exitCode = nullptr);
    // Non-blocking test. True when there is no child or it has ended; the child is reaped then
    // and its status kept (ExitCode, ExitedBySignal). A child that somebody else reaped
    // already counts as ended with an unknown status.
    bool HasExited();
    // Closes the handles and forgets the child, which runs on unreaped by this object.
    void Detach();
    // Sends a signal to the running child; false when there is none.
    bool Kill(int signal);
    // With OwnProcessGroup: the signal to the child's whole group, while the child is not yet
    // reaped (so its number cannot name anybody else's group); else as Kill.
    bool KillGroup(int signal);

    // Status of the last child that ended: the exit code (-1 for a signal or unknown), whether
    // a signal ended it, and which.
    int ExitCode() const { return m_exitCode; }
    bool ExitedBySignal() const { return m_signal != 0; }
    int ExitSignal() const { return m_signal; }

    // The small thunks of this unit.
    static void SplitCommandLine(const wchar_t* text, XStrList& out) { out.ParseArgs(text); }
    static XStr JoinCommandLine(const XStrList& args) { return args.ToCommandLine(); }
    static int GetCurrentPid();
    static XStr GetLastErrorText() { return XStr(); }

    // A close-on-exec pipe whose ends are both above 2. False with errno set.
    static bool MakePipe(int fd[2]);
    // A close-on-exec duplicate above 2 of fd, the original closed; -1 on failure.
    static int MoveAboveStdio(int fd);

private:
    void ClearStatus();
    void KeepStatus(int status);
    void CloseHandles();

    int m_exitCode = -1;
    int m_signal = 0;
};

// Runs program with the tokens of argumentText, all three streams on /dev/null; waits for it
// when wait is set, else leaves it running (a reaper thread collects it when it ends). The
// result of the start.
bool XRunProgram(const wchar_t* program, const wchar_t* argumentText, bool wait);

// The full path of the first executable file named name in the folders of pathValue (the
// PATH syntax; null: the PATH of the environment). A name holding "/" comes back as it is when
// that file is executable. Empty when nothing is found.
XStr XFindProgramInPath(const wchar_t* name, const char* pathValue = nullptr);
