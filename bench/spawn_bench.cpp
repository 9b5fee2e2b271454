// Start-and-reap rate of XWorkerProcess against a bare posix_spawn loop.
//
// Both start /bin/true N times (default 2000) and wait for it; XWorkerProcess also makes all
// three pipes each time and closes them. The two loops run in alternating rounds so that a
// change of machine load hits both alike. Prints both rates and the ratio.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <spawn.h>
#include <sys/wait.h>

#include "xclass/XWorkerProcess.h"

extern char** environ;

namespace {
using Clock = std::chrono::steady_clock;

double PlainRound(int count)
{
    char program[] = "/bin/true";
    char* argv[] = {program, nullptr};
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        pid_t pid;
        if (posix_spawn(&pid, program, nullptr, nullptr, argv, environ) != 0) {
            perror("posix_spawn");
            exit(1);
        }
        int status;
        waitpid(pid, &status, 0);
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double WorkerRound(int count, const XStrList& args)
{
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        XWorkerProcess p;
        if (!p.Create(args, XWP_PIPE_STDIN | XWP_PIPE_STDOUT | XWP_PIPE_STDERR)) {
            perror("XWorkerProcess::Create");
            exit(1);
        }
        int code = -1;
        p.Close(-1, &code);
        if (code != 0) {
            fprintf(stderr, "unexpected exit code %d\n", code);
            exit(1);
        }
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}
} // namespace

int main(int argc, char** argv)
{
    const int total = argc > 1 ? atoi(argv[1]) : 2000;
    const int rounds = 10;
    const int perRound = total / rounds > 0 ? total / rounds : 1;
    XStrList args;
    args.Add(L"/bin/true");

    PlainRound(20); // warm-up: page cache, dynamic loader
    WorkerRound(20, args);

    double plain = 0, worker = 0;
    for (int r = 0; r < rounds; ++r) {
        if (r % 2) {
            plain += PlainRound(perRound);
            worker += WorkerRound(perRound, args);
        } else {
            worker += WorkerRound(perRound, args);
            plain += PlainRound(perRound);
        }
    }
    const int runs = perRound * rounds;
    const double plainRate = runs / plain;
    const double workerRate = runs / worker;
    printf("runs:                         %d each\n", runs);
    printf("plain posix_spawn + waitpid:  %.0f starts/s\n", plainRate);
    printf("XWorkerProcess, three pipes:  %.0f starts/s\n", workerRate);
    printf("ratio:                        %.1f%%\n", 100.0 * workerRate / plainRate);
    return 0;
}
