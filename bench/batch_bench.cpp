// Throughput of a batch on N encoder slots: 16 generated 5-second 640x360 clips converted with
// "-vcodec libx264 -preset veryfast" through "engine-tool batch --slots N" (the real progress
// dialog) and, in the same run, through "xargs -P N" over plain ffmpeg with the same arguments,
// for N = 1, 2, 4, 8, taking turns, five rounds each. Prints the best wall time of each and the
// ratio of their throughputs per N.
//
// Usage: batch_bench [ENGINE_TOOL]   (default: ../tests/tools/engine-tool beside this program)
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/ToolRun.h"

namespace {

constexpr int kRounds = 5;

std::string DefaultTool()
{
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        return "engine-tool";
    self[n] = 0;
    std::string folder(self);
    folder = folder.substr(0, folder.rfind('/'));
    return folder + "/../tests/tools/engine-tool";
}

double Seconds(const std::vector<std::string>& args, const ToolRunOptions& options = {})
{
    const auto start = std::chrono::steady_clock::now();
    const ToolRunResult r = RunProcess(args, options);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (r.status != 0) {
        fprintf(stderr, "batch_bench: %s failed:\n%s\n", args.front().c_str(), r.err.c_str());
        exit(1);
    }
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string tool = argc > 1 ? argv[1] : DefaultTool();
    char folderTemplate[] = "/tmp/batch_bench-XXXXXX";
    const std::string folder = mkdtemp(folderTemplate);
    std::vector<std::string> clips;
    for (int i = 0; i < 16; ++i) {
        const std::string clip = folder + "/clip" + std::to_string(i) + ".mp4";
        ToolRunOptions search;
        search.searchPath = true;
        Seconds({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc=d=5:s=640x360:r=25", "-f", "lavfi", "-i",
                 "sine=d=5", "-shortest", "-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac", clip},
                search);
        clips.push_back(clip);
    }
    setenv("_APPDATA_OVERRIDE", (folder + "/app").c_str(), 1);
    mkdir((folder + "/app").c_str(), 0700);
    printf("%-6s %12s %12s %8s\n", "slots", "ours (s)", "xargs (s)", "ratio");
    for (int slots : {1, 2, 4, 8}) {
        const std::string ours = folder + "/ours" + std::to_string(slots);
        const std::string plain = folder + "/plain" + std::to_string(slots);
        mkdir(ours.c_str(), 0700);
        mkdir(plain.c_str(), 0700);
        std::vector<std::string> batch = {tool, "batch", "--src"};
        batch.insert(batch.end(), clips.begin(), clips.end());
        batch.insert(batch.end(), {"--dst-folder", ours, "--ext", ".mkv", "--args", "-vcodec libx264 -preset veryfast",
                                   "--slots", std::to_string(slots)});
        // xargs hands each clip to one ffmpeg; "{}" is the clip, the output takes its name.
        std::string list;
        for (const std::string& clip : clips)
            list += clip + "\n";
        ToolRunOptions xargsOptions;
        xargsOptions.input = list;
        xargsOptions.searchPath = true;
        const std::vector<std::string> xargs = {
            "xargs",
            "-P",
            std::to_string(slots),
            "-I",
            "{}",
            "sh",
            "-c",
            "ffmpeg -nostdin -v error -y -i \"$1\" -vcodec libx264 -preset veryfast \"$2/$(basename \"$1\" .mp4).mkv\"",
            "sh",
            "{}",
            plain};
        // The two take turns, the best of kRounds each: a shared machine's hiccups hit one
        // round, not the comparison.
        double oursSeconds = 1e9, plainSeconds = 1e9;
        for (int round = 0; round < kRounds; ++round) {
            oursSeconds = std::min(oursSeconds, Seconds(batch));
            plainSeconds = std::min(plainSeconds, Seconds(xargs, xargsOptions));
        }
        printf("%-6d %12.2f %12.2f %8.3f\n", slots, oursSeconds, plainSeconds, plainSeconds / oursSeconds);
    }
    RunProcess({"rm", "-rf", folder}, [] {
        ToolRunOptions o;
        o.searchPath = true;
        return o;
    }());
    return 0;
}
