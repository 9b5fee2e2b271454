// The batch converter's folder tree against the shell's tools:
//   listing a folder of N files (default 100000) with size and date, sorted naturally,
//     against `find DIR -maxdepth 1 -printf '%s %T@ %p\n' | sort -V`;
//   collecting the ticked files of a tree of F folders (default 5000) of 10 files each,
//     against `find ROOT -type f \( -iname '*.mp4' -o ... \)` with the format list's
//     extensions;
//   inverting the ticks of a folder of 20000 listed files.
// Prints the median of five rounds of each, and the ratios.
//
//   build/bench/tree_bench [N] [F]

#include "batch/KRAFileFilter.h"
#include "batch/QKMediaFormatFilter.h"
#include "batch/clFolderListEntry.h"
#include "bench/BenchTime.h"
#include "common/ToolRun.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"
#include "xclass/XMainQueue.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {
using bench::Clock;
using bench::Median;
using bench::Since;

std::string TempFolder(const char* name)
{
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + name + "-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        perror("mkdtemp");
        exit(1);
    }
    return pattern;
}

void Touch(const std::string& path)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0)
        close(fd);
}

// The shell's pipeline, its output thrown away (the folder names are our own).
double TimeShell(const std::string& command)
{
    const auto start = Clock::now();
    const ToolRunResult result = RunProcess({"/bin/sh", "-c", command + " > /dev/null"});
    const double seconds = Since(start);
    if (result.status != 0) {
        fprintf(stderr, "the shell's pipeline failed: %s\n", result.err.c_str());
        exit(1);
    }
    return seconds;
}

class Owner : public KRAFolderTreeOwner {
public:
    std::shared_ptr<KRAFileFilter> filter() const override { return nullptr; }
    QVariant currentSelection() const override { return QVariant(); }
};

struct CountSink : KRACollectSink {
    size_t count = 0;
    bool aborting() const override { return false; }
    void addFile(const clFileListEntryRef&) override { ++count; }
};

} // namespace

int main(int argc, char** argv)
{
    const int files = argc > 1 ? atoi(argv[1]) : 100000;
    const int folders = argc > 2 ? atoi(argv[2]) : 5000;
    auto owner = std::make_shared<Owner>();

    // Listing one big folder.
    const std::string big = TempFolder("tree-bench-list");
    for (int i = 0; i < files; ++i)
        Touch(big + "/Clip " + std::to_string((i * 7919) % files) + (i % 3 ? ".mp4" : ".MOV"));
    std::vector<double> ours, theirs;
    size_t listed = 0;
    for (int round = 0; round < 5; ++round) {
        theirs.push_back(TimeShell("find '" + big + "' -maxdepth 1 -printf '%s %T@ %p\\n' | sort -V"));
        const auto start = Clock::now();
        listed = clFolderListEntry::listFolder(XStrToQString(XStr::FromUTF8(big.c_str()))).files.size();
        ours.push_back(Since(start));
    }
    printf("list %d files: ours %.3f s, find | sort -V %.3f s, ratio %.2f (%zu listed)\n", files, Median(ours),
           Median(theirs), Median(ours) / Median(theirs), listed);

    // Collecting a ticked tree that was never opened.
    const std::string tree = TempFolder("tree-bench-collect");
    for (int f = 0; f < folders; ++f) {
        const std::string folder = tree + "/group " + std::to_string(f / 100) + "/folder " + std::to_string(f);
        std::filesystem::create_directories(folder);
        for (int i = 0; i < 10; ++i)
            Touch(folder + "/clip " + std::to_string(i) + (i % 2 ? ".mkv" : ".mp4"));
    }
    QKMediaFormatFilter formats;
    std::string find = "find '" + tree + "' -type f \\(";
    bool first = true;
    for (const QString& extension : formats.extensions()) {
        if (extension.size() < 2)
            continue;
        find += std::string(first ? "" : " -o") + " -iname '*" + extension.toStdString() + "'";
        first = false;
    }
    find += " \\)";
    ours.clear();
    theirs.clear();
    size_t collected = 0;
    for (int round = 0; round < 5; ++round) {
        theirs.push_back(TimeShell(find));
        auto root = clFolderListEntry::rootForURL(XFileURL(XStr::FromUTF8(tree.c_str())), owner);
        root->setCheckState(Recursive);
        CountSink sink;
        const auto start = Clock::now();
        root->collectCheckedFiles(sink);
        ours.push_back(Since(start));
        collected = sink.count;
    }
    printf("collect %d files in %d folders: ours %.3f s, find %.3f s, ratio %.2f (%zu collected)\n", folders * 10,
           folders, Median(ours), Median(theirs), Median(ours) / Median(theirs), collected);

    // Inverting 20,000 ticks.
    const std::string ticks = TempFolder("tree-bench-ticks");
    for (int i = 0; i < 20000; ++i)
        Touch(ticks + "/clip " + std::to_string(i) + ".mp4");
    XMainQueue queue;
    queue.Install();
    auto root = clFolderListEntry::rootForURL(XFileURL(XStr::FromUTF8(ticks.c_str())), owner);
    root->globals()->loadInfoForColumns = false;
    root->wantFiles();
    while (!root->filesLoaded())
        if (queue.RunPending() == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::vector<double> inversions;
    for (int round = 0; round < 5; ++round) {
        const auto start = Clock::now();
        root->invertFilesCheckState();
        inversions.push_back(Since(start));
    }
    printf("invert %zu ticks: %.2f ms\n", root->files().size(), Median(inversions) * 1000);

    std::filesystem::remove_all(big);
    std::filesystem::remove_all(tree);
    std::filesystem::remove_all(ticks);
    return 0;
}
