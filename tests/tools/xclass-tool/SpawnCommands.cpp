// spawn [--timeout MS] [--kill-after MS] PROGRAM ARG...
//
// Starts PROGRAM (looked up on PATH when it holds no "/") through XWorkerProcess, reads its
// standard output and error on two reader threads, prints each line as "out: LINE" or
// "err: LINE", and at the end "exit: N", or "killed" when a signal ended the child.
// --timeout MS waits at most MS for the child, then kills it; --kill-after MS kills it after MS.
// Exits 0 when the child was started, 1 with a message when it could not be.

#include "tools/common/ToolCommand.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "xclass/XBlockRunner.h"
#include "xclass/XWorkerProcess.h"

namespace {
// Counts the reader threads that are still running: each reader's callback holds one Token,
// and the callback is destroyed when its thread has read the last line.
struct ReadersDone {
    std::mutex Lock;
    std::condition_variable Changed;
    int Running = 0;

    struct Token {
        explicit Token(ReadersDone& owner) : Owner(owner)
        {
            std::lock_guard<std::mutex> hold(Owner.Lock);
            ++Owner.Running;
        }
        ~Token()
        {
            std::lock_guard<std::mutex> hold(Owner.Lock);
            --Owner.Running;
            Owner.Changed.notify_all();
        }
        ReadersDone& Owner;
    };

    // False when readers still run after timeoutMs (a grandchild may hold the pipes open).
    bool Wait(int timeoutMs)
    {
        std::unique_lock<std::mutex> hold(Lock);
        return Changed.wait_for(hold, std::chrono::milliseconds(timeoutMs), [this] { return Running == 0; });
    }
};

bool ParseMs(const char* text, int& out)
{
    char* end = nullptr;
    errno = 0;
    const long value = strtol(text, &end, 10);
    if (errno || !end || *end || end == text || value < 0 || value > INT_MAX)
        return false;
    out = static_cast<int>(value);
    return true;
}

int Spawn(int argc, char** argv)
{
    int limit = -1; // -1: wait as long as it takes
    int i = 1;
    for (; i < argc; ++i) {
        const bool timeout = strcmp(argv[i], "--timeout") == 0;
        const bool killAfter = strcmp(argv[i], "--kill-after") == 0;
        if (!timeout && !killAfter)
            break;
        int ms = 0;
        if (i + 1 >= argc || !ParseMs(argv[i + 1], ms))
            return ToolFail("spawn", std::string("bad value for ") + argv[i]);
        // Either way the child is killed once ms have passed without it ending.
        limit = limit < 0 ? ms : std::min(limit, ms);
        ++i;
    }
    if (i >= argc)
        return ToolFail("spawn", "usage: spawn [--timeout MS] [--kill-after MS] PROGRAM ARG...");

    XStr program = XStr::FromUTF8(argv[i]);
    if (program.FindChar(L'/') == 0) {
        const XStr found = XFindProgramInPath(program);
        if (found.IsEmpty())
            return ToolFail("spawn", std::string("cannot start '") + argv[i] + "': not found on PATH");
        program = found;
    }
    XStrList args;
    args.Add(program);
    for (int k = i + 1; k < argc; ++k)
        args.Add(XStr::FromUTF8(argv[k]));

    XWorkerProcess child;
    if (!child.Create(args, XWP_PIPE_STDOUT | XWP_PIPE_STDERR))
        return ToolFail("spawn", std::string("cannot start '") + argv[i] + "': " + strerror(errno));

    auto done = std::make_shared<ReadersDone>();
    auto printer = std::make_shared<std::mutex>();
    auto startReader = [&](int64_t fd, const char* prefix) {
        auto token = std::make_shared<ReadersDone::Token>(*done);
        return readLinesThread(static_cast<int>(fd), [token, printer, prefix](XStr& line) {
            const std::string text = std::string(prefix) + line.ToUTF8String() + "\n";
            std::lock_guard<std::mutex> hold(*printer);
            ToolWrite(text);
        });
    };
    if (!startReader(child.StdoutHandle, "out: ") || !startReader(child.StderrHandle, "err: ")) {
        child.Close(0);
        return ToolFail("spawn", "cannot start a reader thread");
    }

    // Kills at the limit when the child is still running.
    child.Close(limit);
    if (!done->Wait(300000))
        fprintf(stderr, "xclass-tool spawn: output still open after the child ended\n");
    std::lock_guard<std::mutex> hold(*printer);
    if (child.ExitedBySignal())
        ToolWrite("killed\n");
    else
        ToolWrite("exit: " + std::to_string(child.ExitCode()) + "\n");
    return 0;
}

const ToolCommand kSpawn("spawn", "[--timeout MS] [--kill-after MS] PROGRAM ARG...", Spawn);
} // namespace
