// Throughput of a batch whose command needs each clip's length: 16 generated 5-second 640x360
// clips converted with a one-second fade-out and "-vcodec libx264 -preset veryfast" through
// "engine-tool batch --slots N" (the real batch runner, which finds each clip's length) and,
// in the same run, through "xargs -P N" over plain ffmpeg with the same filter and its times
// written in, for N = 1, 2, 4, 8. The two take turns, ROUNDS pairs each (default 5); every
// pair gives one ratio of their throughputs (xargs time / ours), printed as the median and
// the range over the pairs, with the median times.
//
// Usage: batch_bench [ENGINE_TOOL [ROUNDS]]   (ENGINE_TOOL empty or absent: ../tests/tools/engine-tool
// beside this program)
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchTime.h"
#include "common/ToolRun.h"

namespace {

constexpr int kDefaultRounds = 5;
constexpr double kClipSeconds = 5;
constexpr double kFadeSeconds = 1;

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
    const std::string tool = argc > 1 && argv[1][0] ? argv[1] : DefaultTool();
    const int rounds = argc > 2 ? std::max(1, atoi(argv[2])) : kDefaultRounds;
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
    // The fade the run writes for a clip of known length, its times written in for xargs.
    char fade[128];
    snprintf(fade, sizeof fade, "fade=type=out:duration=%g:start_time=%g", kFadeSeconds + 0.1,
             kClipSeconds - kFadeSeconds);
    const std::string effect = "Fade=-fadein=\"0\" -fadeout=\"1\" -afadein=\"0\" -afadeout=\"0\"";
    printf("%d pairs per slot count; ratio = xargs time / ours (1.0: as fast; target >= 0.97)\n", rounds);
    printf("%-6s %14s %14s %8s %16s\n", "slots", "ours med (s)", "xargs med (s)", "ratio", "ratio min-max");
    for (int slots : {1, 2, 4, 8}) {
        const std::string ours = folder + "/ours" + std::to_string(slots);
        const std::string plain = folder + "/plain" + std::to_string(slots);
        mkdir(ours.c_str(), 0700);
        mkdir(plain.c_str(), 0700);
        std::vector<std::string> batch = {tool, "batch", "--src"};
        batch.insert(batch.end(), clips.begin(), clips.end());
        batch.insert(batch.end(), {"--dst-folder", ours, "--ext", ".mkv", "--args", "-vcodec libx264 -preset veryfast",
                                   "--slots", std::to_string(slots), "--effect", effect});
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
            "ffmpeg -nostdin -v error -y -i \"$1\" -vcodec libx264 -preset veryfast -vf \"$3\" "
            "\"$2/$(basename \"$1\" .mp4).mkv\"",
            "sh",
            "{}",
            plain,
            fade};
        // The two take turns, so that a change of the machine's load hits both alike; the
        // order within a pair alternates too.
        std::vector<double> oursTimes, plainTimes, ratios;
        for (int round = 0; round < rounds; ++round) {
            double o = 0, p = 0;
            if (round % 2 == 0) {
                o = Seconds(batch);
                p = Seconds(xargs, xargsOptions);
            } else {
                p = Seconds(xargs, xargsOptions);
                o = Seconds(batch);
            }
            oursTimes.push_back(o);
            plainTimes.push_back(p);
            ratios.push_back(p / o);
        }
        const auto [low, high] = std::minmax_element(ratios.begin(), ratios.end());
        printf("%-6d %14.2f %14.2f %8.3f %8.3f-%-7.3f\n", slots, bench::Median(oursTimes), bench::Median(plainTimes),
               bench::Median(ratios), *low, *high);
        fflush(stdout);
    }
    RunProcess({"rm", "-rf", folder}, [] {
        ToolRunOptions o;
        o.searchPath = true;
        return o;
    }());
    return 0;
}
