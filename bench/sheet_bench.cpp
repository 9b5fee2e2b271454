// Contact sheets of a generated 10-minute 1280x720 clip, 4x3 and 10x10, made by the converter's
// "[Contact Sheet]" run (engine-tool: ffmpeg extracts the frames, the sheet is composed and
// encoded) against ffmpeg making the same grid in one pass with its tile filter. Prints wall
// times, the ratio and the peak memory of each (the run's own process, and ffmpeg's).
//
// Target: at most 1.5 times ffmpeg's time. SHEET_CLIP_SECONDS=60 makes a shorter clip.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Outcome {
    double seconds = -1;
    long peakKB = 0;
    int status = -1;
};

// Runs the program, its output thrown away, and measures it.
Outcome Measure(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    Outcome out;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        return out;
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    out.peakKB = usage.ru_maxrss;
    out.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    posix_spawn_file_actions_destroy(&actions);
    return out;
}

// ffmpeg's peak as a grandchild of engine-tool: every waited descendant counts in RUSAGE_CHILDREN.
long ChildrenPeakKB()
{
    struct rusage usage {};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string tool = argc > 1 ? argv[1] : std::string(BUILD_DIR) + "/tests/tools/engine-tool";
    const char* secondsText = getenv("SHEET_CLIP_SECONDS");
    const int seconds = secondsText && atoi(secondsText) > 0 ? atoi(secondsText) : 600;
    char folder[] = "/tmp/sheet_bench.XXXXXX";
    if (!mkdtemp(folder)) {
        perror("mkdtemp");
        return 1;
    }
    const std::string dir = folder;
    const std::string clip = dir + "/clip.mp4";
    printf("making a %d s 1280x720 clip...\n", seconds);
    fflush(stdout);
    if (Measure({"ffmpeg", "-v", "error", "-nostdin", "-f", "lavfi", "-i",
                 "testsrc=size=1280x720:rate=25:duration=" + std::to_string(seconds), "-c:v", "libx264", "-preset",
                 "ultrafast", "-g", "250", "-y", clip})
            .status != 0) {
        fprintf(stderr, "the clip could not be made\n");
        return 1;
    }
    const double frames = seconds * 25.0;
    for (const auto& [cols, rows] : {std::pair{4, 3}, std::pair{10, 10}}) {
        const int width = 1920, padding = 4;
        const std::string sheet = dir + "/sheet-" + std::to_string(cols) + ".jpg";
        const std::string args = "-contact_col=" + std::to_string(cols) + " -contact_row=" + std::to_string(rows) +
                                 " -contact_width=" + std::to_string(width) +
                                 " -contact_padding=" + std::to_string(padding) +
                                 " -contact_topinfo=1 -contact_backcol=000000 -contact_png=0";
        const Outcome ours =
            Measure({tool, "run", "--encoder", "[Contact Sheet]", "--src", clip, "--dst", sheet, "--args", args});
        const long oursChildren = ChildrenPeakKB();
        // The same grid in one pass: evenly spaced frames, scaled to the thumbnail width, tiled.
        const int thumb = (width - (cols - 1) * padding) / cols;
        const double every = frames / (cols * rows + 4);
        char filter[256];
        snprintf(filter, sizeof filter, "fps=25/%.3f,scale=%d:-1,tile=%dx%d:padding=%d", every, thumb, cols, rows,
                 padding);
        const Outcome theirs = Measure({"ffmpeg", "-v", "error", "-nostdin", "-i", clip, "-vf", filter, "-frames:v",
                                        "1", "-y", dir + "/ffmpeg.jpg"});
        printf("%dx%d: ours %.2f s (status %d, peak %ld KB, with ffmpeg %ld KB), ffmpeg one pass %.2f s (peak %ld KB), "
               "ratio %.2f\n",
               cols, rows, ours.seconds, ours.status, ours.peakKB, oursChildren, theirs.seconds, theirs.peakKB,
               ours.seconds / theirs.seconds);
        fflush(stdout);
    }
    Measure({"rm", "-rf", dir});
    return 0;
}
