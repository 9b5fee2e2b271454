// Runs a piece of work in a child process with a limit on its address space and its CPU time,
// and reports how it ended: what it returned, whether a limit killed it, and how much memory
// it took on top of what it started with. The limits are generous: they catch work without a
// bound (gigabytes, minutes), not slow machines.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
#define MARVONI_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MARVONI_ADDRESS_SANITIZER 1
#endif
#endif

// AddressSanitizer reserves terabytes of address space: a child under RLIMIT_AS cannot start.
#ifdef MARVONI_ADDRESS_SANITIZER
#define SKIP_WITHOUT_MEMORY_LIMITS()                                                                                   \
    GTEST_SKIP() << "memory-limit children do not run under AddressSanitizer (its shadow memory needs far more "       \
                    "address space than the limit); the normal build runs this check"
#else
#define SKIP_WITHOUT_MEMORY_LIMITS()                                                                                   \
    do {                                                                                                               \
    } while (0)
#endif

struct BoundedResult {
    bool finished = false; // the work returned (no limit or signal ended it)
    std::string how;       // for a child that did not finish: what ended it
    std::string answer;    // what the work returned
    long peakKiB = 0;      // the most memory it held beyond what it started with
};

namespace bounded_detail {

inline long ResidentKiB()
{
    FILE* f = fopen("/proc/self/statm", "r");
    long pages = 0, resident = 0;
    if (f) {
        if (fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

} // namespace bounded_detail

inline BoundedResult RunBounded(size_t addressSpaceBytes, unsigned cpuSeconds, const std::function<std::string()>& work)
{
    BoundedResult result;
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        result.how = "no pipe";
        return result;
    }
    fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        result.how = "no fork";
        return result;
    }
    if (pid == 0) {
        close(pipeFds[0]);
        const long start = bounded_detail::ResidentKiB();
        struct rlimit memory = {addressSpaceBytes, addressSpaceBytes};
        struct rlimit cpu = {cpuSeconds, cpuSeconds};
        setrlimit(RLIMIT_AS, &memory);
        setrlimit(RLIMIT_CPU, &cpu);
        const std::string answer = work();
        struct rusage usage;
        getrusage(RUSAGE_SELF, &usage);
        const std::string report = std::to_string(usage.ru_maxrss - start) + "\n" + answer;
        size_t done = 0;
        while (done < report.size()) {
            const ssize_t n = write(pipeFds[1], report.data() + done, report.size() - done);
            if (n <= 0)
                break;
            done += size_t(n);
        }
        _exit(0);
    }
    close(pipeFds[1]);
    std::string report;
    char buffer[4096];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) != 0;) {
        if (n < 0)
            break;
        report.append(buffer, size_t(n));
    }
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        result.how = signal == SIGXCPU || signal == SIGKILL ? "CPU time limit reached" : strsignal(signal);
        return result;
    }
    const size_t line = report.find('\n');
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || line == std::string::npos) {
        result.how = "the child ended without its report";
        return result;
    }
    result.finished = true;
    result.peakKiB = std::stol(report.substr(0, line));
    result.answer = report.substr(line + 1);
    return result;
}
