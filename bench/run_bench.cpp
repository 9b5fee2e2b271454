// The cost of the ffmpeg run around ffmpeg: converts a generated 20-second 1280x720 clip with
// "-vcodec libx264 -preset ultrafast" once through "engine-tool run" and once straight through
// ffmpeg with the same arguments, and prints both wall times, their ratio, and the CPU time of
// the tool's own process (without its children) against ffmpeg's.
//
// Usage: run_bench [ENGINE_TOOL]   (default: ../tests/tools/engine-tool beside this program)
#include <limits.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/ToolRun.h"

namespace {

double ChildCpuSeconds()
{
    struct rusage usage;
    getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs the program with the arguments, standard output to /dev/null and standard error to
// errPath; true on exit 0.
bool Run(std::vector<std::string> args, const std::string& errPath, double& wallSeconds, double& childCpu)
{
    const double cpuBefore = ChildCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    const bool ok = RunProgramQuietly(std::move(args), errPath);
    wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    childCpu = ChildCpuSeconds() - cpuBefore;
    return ok;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string DefaultTool(const char* argv0)
{
    char self[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string folder = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string(argv0);
    folder = folder.substr(0, folder.rfind('/'));
    return folder + "/../tests/tools/engine-tool";
}

} // namespace

int main(int argc, char** argv)
{
    const std::string tool = argc > 1 ? argv[1] : DefaultTool(argv[0]);
    if (access(tool.c_str(), X_OK) != 0) {
        fprintf(stderr, "run_bench: no engine-tool at %s\n", tool.c_str());
        return 1;
    }
    const char* base = getenv("TMPDIR");
    std::string dir = std::string(base && *base ? base : "/tmp") + "/run-bench-XXXXXX";
    if (!mkdtemp(dir.data()))
        return 1;
    const std::string clip = dir + "/clip.mp4", viaTool = dir + "/tool.mp4", direct = dir + "/direct.mp4";
    const std::string errTool = dir + "/tool.err", errDirect = dir + "/direct.err";
    double wall = 0, cpu = 0;
    if (!Run({"ffmpeg", "-v", "error", "-nostdin", "-f", "lavfi", "-i", "testsrc=duration=20:size=1280x720:rate=25",
              "-f", "lavfi", "-i", "sine=duration=20", "-shortest", "-y", clip},
             errDirect, wall, cpu)) {
        fprintf(stderr, "run_bench: could not make the clip\n");
        return 1;
    }

    double toolWall = 0, toolChildCpu = 0;
    const bool toolOk =
        Run({tool, "run", "--src", clip, "--dst", viaTool, "--args", "-vcodec libx264 -preset ultrafast"}, errTool,
            toolWall, toolChildCpu);
    double directWall = 0, directCpu = 0;
    const bool directOk = Run({"ffmpeg", "-nostdin", "-i", clip, "-vcodec", "libx264", "-preset", "ultrafast",
                               "-loglevel", "16", "-y", "-hide_banner", direct},
                              errDirect, directWall, directCpu);

    // The tool prints its own CPU time (getrusage of itself, children excluded) on standard error.
    double selfCpu = -1;
    const std::string err = ReadFile(errTool);
    const size_t at = err.find("self-cpu-us: ");
    if (at != std::string::npos)
        selfCpu = std::atof(err.c_str() + at + 13) / 1e6;
    double runCpu = -1;
    const size_t atRun = err.find("run-cpu-us: ");
    if (atRun != std::string::npos)
        runCpu = std::atof(err.c_str() + atRun + 12) / 1e6;

    printf("engine-tool run: %s, wall %.3f s\n", toolOk ? "ok" : "FAILED", toolWall);
    printf("ffmpeg directly: %s, wall %.3f s, cpu %.3f s\n", directOk ? "ok" : "FAILED", directWall, directCpu);
    printf("wall ratio (tool / direct): %.4f (target <= 1.03)\n", directWall > 0 ? toolWall / directWall : 0.0);
    printf("tool's own cpu, whole process: %.3f s = %.2f%% of ffmpeg's cpu\n", selfCpu,
           directCpu > 0 ? selfCpu * 100.0 / directCpu : 0.0);
    printf("tool's own cpu, the conversion alone (without start-up): %.3f s = %.2f%% of ffmpeg's cpu (target < 1%%)\n",
           runCpu, directCpu > 0 ? runCpu * 100.0 / directCpu : 0.0);

    for (const std::string& f : {clip, viaTool, direct, errTool, errDirect})
        unlink(f.c_str());
    rmdir(dir.c_str());
    return toolOk && directOk ? 0 : 1;
}
