#include "media/QKToolRun.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <poll.h>
#include <unistd.h>

#include "xclass/XFileName.h"
#include "xclass/XWorkerProcess.h"

XStr QKToolResult::lastErrorLine() const
{
    size_t end = err.size();
    while (end > 0) {
        while (end > 0 && (err[end - 1] == '\n' || err[end - 1] == '\r'))
            --end;
        size_t begin = end;
        while (begin > 0 && err[begin - 1] != '\n' && err[begin - 1] != '\r')
            --begin;
        std::string line = err.substr(begin, end - begin);
        const size_t first = line.find_first_not_of(" \t");
        if (first != std::string::npos) {
            const size_t last = line.find_last_not_of(" \t");
            return XStr::FromUTF8(line.substr(first, last - first + 1));
        }
        end = begin;
    }
    return XStr();
}

namespace {

using Clock = std::chrono::steady_clock;

int RemainingMs(bool forever, Clock::time_point deadline)
{
    if (forever)
        return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left);
}

// Reads what is there; false at end of file or on an error other than EINTR/EAGAIN.
bool Drain(int fd, std::string& into)
{
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n > 0) {
            into.append(chunk, static_cast<size_t>(n));
            return true;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        return false;
    }
}

} // namespace

XStr QKToolRun::absolutePath(const XStr& path)
{
    if (path.BeginsWith(L"/"))
        return path;
    char buffer[8192];
    if (!::getcwd(buffer, sizeof buffer))
        return path;
    XFileName joined(XStr::FromUTF8(buffer));
    joined.AppendPath(path);
    return joined;
}

// How often a caller's stop test is asked while the child runs.
constexpr int kStopPollMs = 25;

namespace {

QKToolResult RunChild(const XStrList& args, int timeoutMs, size_t maxOut, size_t maxErr,
                      const std::function<bool()>& stop, bool isolated)
{
    QKToolResult result;
    XWorkerProcess child;
    child.OwnProcessGroup = isolated;
    if (!child.Create(args, XWP_PIPE_STDOUT | XWP_PIPE_STDERR)) {
        result.startErrno = errno ? errno : ENOENT;
        return result;
    }
    result.started = true;

    const bool forever = timeoutMs < 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : timeoutMs);
    int fds[2] = {static_cast<int>(child.StdoutHandle), static_cast<int>(child.StderrHandle)};
    bool killed = false;

    while (fds[0] >= 0 || fds[1] >= 0) {
        pollfd set[2];
        int count = 0;
        for (int fd : fds)
            if (fd >= 0)
                set[count++] = pollfd{fd, POLLIN, 0};
        int wait = RemainingMs(forever, deadline);
        if (!forever && wait == 0) {
            result.timedOut = true;
            killed = true;
            break;
        }
        if (stop) {
            if (stop()) {
                result.stopped = true;
                killed = true;
                break;
            }
            if (wait < 0 || wait > kStopPollMs)
                wait = kStopPollMs;
        }
        const int r = ::poll(set, static_cast<nfds_t>(count), wait);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            killed = true; // cannot watch the child any more: do not leave it behind
            break;
        }
        if (r == 0)
            continue; // the deadline is checked at the top
        for (int i = 0; i < count; ++i) {
            if (!(set[i].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)))
                continue;
            const bool isOut = set[i].fd == fds[0];
            std::string& into = isOut ? result.out : result.err;
            if (!Drain(set[i].fd, into)) {
                // End of file: stop watching this stream (the handle is closed by Close()).
                (isOut ? fds[0] : fds[1]) = -1;
            }
            if (!isOut && result.err.size() > maxErr)
                result.err.erase(0, result.err.size() - maxErr);
        }
        if (result.out.size() > maxOut) {
            result.tooLarge = true;
            killed = true;
            break;
        }
    }

    int code = -1;
    // The child is not reaped yet, so its number still names its own group alone.
    if (isolated)
        child.KillGroup(SIGKILL);
    if (killed)
        child.Close(0, &code);
    else
        child.Close(RemainingMs(forever, deadline), &code);
    // A child that closed its streams but went on running past the deadline was killed.
    if (!killed && child.ExitedBySignal() && child.ExitSignal() == SIGKILL && !forever &&
        RemainingMs(false, deadline) == 0)
        result.timedOut = true;
    result.exitCode = (result.timedOut || result.tooLarge || result.stopped) ? -1 : code;
    return result;
}

} // namespace

QKToolResult QKToolRun::run(const XStrList& args, int timeoutMs, size_t maxOut, size_t maxErr,
                            const std::function<bool()>& stop)
{
    return RunChild(args, timeoutMs, maxOut, maxErr, stop, false);
}

QKToolResult QKToolRun::runIsolated(const XStrList& args, int timeoutMs, size_t maxOut)
{
    return RunChild(args, timeoutMs, maxOut, 16384, {}, true);
}
