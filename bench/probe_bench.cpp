// Probing cost: QKMediaFileInfo::readFromFile on 200 small generated files, one after
// another, against running ffprobe itself with the same arguments on the same files
// (posix_spawn, no shell, its output read from a pipe and dropped) in the same run. The two
// alternate file by file so that caches and clock changes hit both alike.
//
// Usage: probe_bench [FILES] [ROUNDS]   (defaults 200 and 1)
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "media/FFprobeInfo.h"
#include "media/QKLocateFFmpeg.h"
#include "media/QKMediaFileInfo.h"
#include "xclass/XFileName.h"
#include "xclass/XTempFile.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

bool Spawn(const std::vector<std::string>& args, bool readOutput)
{
    std::vector<std::string> all = args;
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int fds[2] = {-1, -1};
    if (readOutput && pipe2(fds, O_CLOEXEC) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (readOutput)
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int r = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (readOutput)
        close(fds[1]);
    if (r != 0) {
        if (readOutput)
            close(fds[0]);
        return false;
    }
    if (readOutput) {
        char buffer[65536];
        for (;;) {
            const ssize_t n = read(fds[0], buffer, sizeof buffer);
            if (n > 0 || (n < 0 && errno == EINTR))
                continue;
            break;
        }
        close(fds[0]);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    const int files = argc > 1 ? std::atoi(argv[1]) : 200;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 1;
    const std::string ffprobe = QKLocateFFmpeg::locateFFprobe().ToUTF8String();
    const std::string ffmpeg = QKLocateFFmpeg::locateFFmpeg().ToUTF8String();
    if (ffprobe.empty() || ffmpeg.empty()) {
        fprintf(stderr, "probe_bench: ffmpeg and ffprobe are needed\n");
        return 1;
    }

    XTempFolder folder("probe-bench");
    std::string base = folder.ToUTF8String();
    std::vector<std::string> paths;
    printf("generating %d files with %s ...\n", files, ffmpeg.c_str());
    for (int i = 0; i < files; ++i) {
        const std::string path = base + "file " + std::to_string(i) + (i % 2 ? ".mp4" : ".mkv");
        const std::string size = std::to_string(64 + 16 * (i % 5)) + "x" + std::to_string(48 + 16 * (i % 3));
        if (!Spawn({ffmpeg, "-v", "error", "-nostdin", "-f", "lavfi", "-i",
                    "testsrc=duration=0.2:size=" + size + ":rate=25", "-f", "lavfi", "-i", "sine=duration=0.2",
                    "-shortest", "-metadata", "title=bench " + std::to_string(i), "-y", path},
                   false)) {
            fprintf(stderr, "probe_bench: ffmpeg could not make %s\n", path.c_str());
            return 1;
        }
        paths.push_back(path);
    }

    // Warm both paths up (page cache, dynamic loader).
    for (int i = 0; i < 5 && i < files; ++i) {
        QKMediaFileInfo::readFromFile(XStr::FromUTF8(paths[static_cast<size_t>(i)]));
        Spawn({ffprobe, "-hide_banner", "-of", "json", "-show_format", "-show_streams", paths[static_cast<size_t>(i)]},
              true);
    }

    Clock::duration ours{}, direct{};
    int failures = 0;
    for (int round = 0; round < rounds; ++round) {
        for (int i = 0; i < files; ++i) {
            const std::string& path = paths[static_cast<size_t>(i)];
            auto runOurs = [&] {
                const Clock::time_point t = Clock::now();
                if (!QKMediaFileInfo::readFromFile(XStr::FromUTF8(path)))
                    ++failures;
                ours += Clock::now() - t;
            };
            auto runDirect = [&] {
                const Clock::time_point t = Clock::now();
                if (!Spawn({ffprobe, "-hide_banner", "-of", "json", "-show_format", "-show_streams", path}, true))
                    ++failures;
                direct += Clock::now() - t;
            };
            if ((i + round) % 2) {
                runOurs();
                runDirect();
            } else {
                runDirect();
                runOurs();
            }
        }
    }

    // The part of our cost that is not the child: parsing the JSON into a record.
    const std::string sample = runFFprobeBytes(XStr::FromUTF8(paths[0]));
    const int parses = 2000;
    const Clock::time_point t = Clock::now();
    for (int i = 0; i < parses; ++i) {
        NTag tags, props;
        uint64_t duration = 0;
        parseFFprobeJSONBytes(sample, tags, props, duration);
    }
    const double parseMs = Ms(Clock::now() - t) / parses;

    const double n = static_cast<double>(files) * rounds;
    const double oursMs = Ms(ours) / n, directMs = Ms(direct) / n;
    printf("files: %d, rounds: %d, failures: %d\n", files, rounds, failures);
    printf("ffprobe directly:          %8.3f ms per file\n", directMs);
    printf("QKMediaFileInfo::readFromFile: %8.3f ms per file\n", oursMs);
    printf("overhead:                  %8.3f ms per file (%.1f%% of ffprobe's own time)\n", oursMs - directMs,
           100.0 * (oursMs - directMs) / directMs);
    printf("JSON parse into a record:  %8.3f ms (%zu bytes of JSON)\n", parseMs, sample.size());
    return failures ? 1 : 0;
}
