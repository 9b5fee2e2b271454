// The batch converter's folder tree against the shell's tools, each pair run interleaved:
//   listing a tree of 100,000 files in 1,000 folders (`batch-tool list T --recursive`)
//     against `find T -printf '%s %p\n'`, both writing to /dev/null;
//   the memory the listed files take: the resident peak's growth of a process that lists
//     the tree and keeps it, and what it still holds afterwards;
//   a folder of N files (default 100000) filling the batch window's table: the time until the
//     rows are there, against `find DIR -maxdepth 1 -printf '%s %p\n'`, and the longest the
//     main thread is busy at a time meanwhile (each posted block and each event-loop pass);
//   collecting the ticked files of a tree of F folders (default 5000) of 10 files each,
//     against `find ROOT -type f \( -iname '*.mp4' -o ... \)` with the format list's
//     extensions;
//   inverting the ticks of a folder of 20000 listed files.
// Prints medians and the range (min-max) of the rounds, and the ratios.
//
//   build/bench/tree_bench [N] [F] [ROUNDS]
// Targets: listing at most 2x find, at most 40 MB for the listed files, no main-thread slice
// over 16 ms.

#include "batch/KRABatchFileRowsModel.h"
#include "batch/KRAFileFilter.h"
#include "batch/QKMediaFormatFilter.h"
#include "batch/clFolderListEntry.h"
#include "bench/BenchTime.h"
#include "common/ToolRun.h"
#include "kit/KRATableView.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"
#include "xclass/XMainQueue.h"

#include <QApplication>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
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

// A line "median (min-max)" of a set of figures.
std::string Range(const std::vector<double>& values, double scale, const char* format)
{
    char median[64], low[64], high[64];
    snprintf(median, sizeof median, format, Median(values) * scale);
    snprintf(low, sizeof low, format, *std::min_element(values.begin(), values.end()) * scale);
    snprintf(high, sizeof high, format, *std::max_element(values.begin(), values.end()) * scale);
    return std::string(median) + " (" + low + "-" + high + ")";
}

double ChildrenCpu()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The pipeline's time; its output thrown away. cpu: the processor time (user and system) it
// took, on all its threads.
double TimeShell(const std::string& command, double* cpu = nullptr)
{
    const double cpuBefore = ChildrenCpu();
    const auto start = Clock::now();
    const ToolRunResult result = RunProcess({"/bin/sh", "-c", command + " > /dev/null"});
    const double seconds = Since(start);
    if (cpu)
        *cpu = ChildrenCpu() - cpuBefore;
    if (result.status != 0) {
        fprintf(stderr, "the pipeline failed: %s: %s\n", command.c_str(), result.err.c_str());
        exit(1);
    }
    return seconds;
}

long StatusKb(const char* field)
{
    FILE* status = fopen("/proc/self/status", "r");
    if (!status)
        return -1;
    char line[256];
    long kb = -1;
    const size_t length = strlen(field);
    while (fgets(line, sizeof line, status))
        if (strncmp(line, field, length) == 0)
            kb = atol(line + length);
    fclose(status);
    return kb;
}

class Owner : public KRAFolderTreeOwner {
public:
    std::shared_ptr<KRAFileFilter> filter() const override { return m_filter; }
    QVariant currentSelection() const override { return QVariant(); }
    std::shared_ptr<KRAFileFilter> m_filter = std::make_shared<KRAFileFilter>();
};

struct CountSink : KRACollectSink {
    size_t count = 0;
    bool aborting() const override { return false; }
    void addFile(const clFileListEntryRef&) override { ++count; }
};

// What `batch-tool list --recursive` does, in this process: a folder's files, then its
// sub-folders in order.
size_t ListTree(XMainQueue& queue, const clFolderListEntryRef& folder)
{
    folder->wantFiles();
    queue.RunUntil([&] { return folder->filesLoaded() || !folder->accessError().isEmpty(); }, 5 * 60 * 1000);
    size_t count = folder->files().size();
    for (const clFolderListEntryRef& child : folder->folders())
        count += ListTree(queue, child);
    return count;
}

// Child mode: lists the tree, keeps it, and prints the resident growth (peak, retained) in kB
// and the number of files.
int MemoryChild(const char* tree)
{
    XMainQueue queue;
    queue.Install();
    auto owner = std::make_shared<Owner>();
    const long before = StatusKb("VmRSS:");
    auto root = clFolderListEntry::rootForURL(XFileURL(XStr::FromUTF8(tree)), owner);
    root->globals()->loadInfoForColumns = false;
    const size_t files = ListTree(queue, root);
    const long peak = StatusKb("VmHWM:");
    const long after = StatusKb("VmRSS:");
    printf("%ld %ld %zu\n", peak - before, after - before, files);
    return 0;
}

// The main thread of the window: blocks the workers post, each timed, with the event loop's
// pending work (the table's relayout and painting) timed after each block as well.
class TimedMainThread {
public:
    TimedMainThread()
    {
        m_token = XSetMainThreadPoster([this](std::function<void()> block) {
            {
                std::lock_guard<std::mutex> lock(m_lock);
                m_blocks.push_back(std::move(block));
            }
            m_posted.notify_one();
        });
    }
    ~TimedMainThread() { XResetMainThreadPoster(m_token); }

    // Runs until done() holds; the longest slice in seconds.
    double runUntil(const std::function<bool()>& done)
    {
        double longest = 0;
        while (!done()) {
            std::function<void()> block;
            {
                std::unique_lock<std::mutex> lock(m_lock);
                m_posted.wait_for(lock, std::chrono::milliseconds(50), [&] { return !m_blocks.empty(); });
                if (m_blocks.empty())
                    continue;
                block = std::move(m_blocks.front());
                m_blocks.pop_front();
            }
            auto start = Clock::now();
            block();
            longestBlock = std::max(longestBlock, Since(start));
            start = Clock::now();
            QApplication::processEvents();
            longestEvents = std::max(longestEvents, Since(start));
            longest = std::max({longest, longestBlock, longestEvents});
        }
        return longest;
    }

    double longestBlock = 0, longestEvents = 0;

private:
    std::mutex m_lock;
    std::condition_variable m_posted;
    std::deque<std::function<void()>> m_blocks;
    int m_token = 0;
};

// The window's part in filling the table: its rows in the table's order, set in one reset.
class TableOwner : public Owner {
public:
    void folderFilesListReady(clFolderListEntry* folder) override
    {
        const auto rows = folder->sortFilesUsingDescriptors({KRASortDescriptor::forColumn(QStringLiteral("Name"))});
        model->setRows(std::vector<KRAColumnsRowRef>(rows.begin(), rows.end()));
    }
    KRABatchFileRowsModel* model = nullptr;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && strcmp(argv[1], "--memory") == 0)
        return MemoryChild(argv[2]);
    const int files = argc > 1 ? atoi(argv[1]) : 100000;
    const int folders = argc > 2 ? atoi(argv[2]) : 5000;
    const int rounds = argc > 3 ? std::max(1, atoi(argv[3])) : 7;
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string batchTool = std::string(BUILD_DIR) + "/tests/tools/batch-tool";

    // A tree of 100,000 files in 1,000 folders (10 groups of 100 folders of 100 files).
    const std::string tree = TempFolder("tree-bench-tree");
    for (int f = 0; f < 1000; ++f) {
        const std::string folder = tree + "/group " + std::to_string(f / 100) + "/folder " + std::to_string(f);
        std::filesystem::create_directories(folder);
        for (int i = 0; i < 100; ++i)
            Touch(folder + "/clip " + std::to_string(i) + (i % 3 ? ".mp4" : ".MOV"));
    }
    {
        const ToolRunResult check = RunProcess({batchTool, "list", tree, "--recursive"});
        const size_t lines = static_cast<size_t>(std::count(check.out.begin(), check.out.end(), '\n'));
        if (check.status != 0 || lines != 100000) {
            fprintf(stderr, "batch-tool listed %zu files (status %d): %s\n", lines, check.status, check.err.c_str());
            return 1;
        }
    }
    std::vector<double> ours, theirs, ratios, cpuRatios;
    for (int round = 0; round < rounds; ++round) {
        double findCpu = 0, toolCpu = 0;
        const double find = TimeShell("find '" + tree + "' -printf '%s %p\\n'", &findCpu);
        const double tool = TimeShell("'" + batchTool + "' list '" + tree + "' --recursive", &toolCpu);
        theirs.push_back(find);
        ours.push_back(tool);
        ratios.push_back(tool / find);
        cpuRatios.push_back(toolCpu / findCpu);
    }
    printf("list 100000 files in 1000 folders: batch-tool %s s, find -printf %s s, ratio %s (target <= 2); "
           "processor time ratio %s\n",
           Range(ours, 1, "%.3f").c_str(), Range(theirs, 1, "%.3f").c_str(), Range(ratios, 1, "%.2f").c_str(),
           Range(cpuRatios, 1, "%.2f").c_str());

    std::vector<double> peaks, kept;
    for (int round = 0; round < std::min(rounds, 5); ++round) {
        const ToolRunResult child = RunProcess({self, "--memory", tree});
        long peak = 0, retained = 0;
        size_t count = 0;
        if (child.status != 0 || sscanf(child.out.c_str(), "%ld %ld %zu", &peak, &retained, &count) != 3 ||
            count != 100000) {
            fprintf(stderr, "the memory child failed: %s%s\n", child.out.c_str(), child.err.c_str());
            return 1;
        }
        peaks.push_back(peak / 1024.0);
        kept.push_back(retained / 1024.0);
    }
    printf("memory for 100000 listed files: peak growth %s MB, retained %s MB (target <= 40)\n",
           Range(peaks, 1, "%.1f").c_str(), Range(kept, 1, "%.1f").c_str());

    // A big folder filling the window's table.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const std::string settings = TempFolder("tree-bench-settings");
    setenv("XDG_CONFIG_HOME", settings.c_str(), 1);
    int appArgc = 1;
    QApplication app(appArgc, argv);
    const std::string big = TempFolder("tree-bench-list");
    for (int i = 0; i < files; ++i)
        Touch(big + "/Clip " + std::to_string((i * 7919) % files) + (i % 3 ? ".mp4" : ".MOV"));
    std::vector<double> fills, finds, slices, blockSlices, eventSlices;
    size_t listed = 0;
    for (int round = 0; round < rounds; ++round) {
        finds.push_back(TimeShell("find '" + big + "' -maxdepth 1 -printf '%s %p\\n'"));
        KRATableView table;
        table.resize(900, 600);
        auto owner = std::make_shared<TableOwner>();
        owner->model = KRABatchFileRowsModel::install(&table, false, QStringLiteral("TreeBench"), nullptr);
        table.show();
        QApplication::processEvents();
        TimedMainThread mainThread;
        auto root = clFolderListEntry::rootForURL(XFileURL(XStr::FromUTF8(big.c_str())), owner);
        root->globals()->loadInfoForColumns = false;
        const auto start = Clock::now();
        root->wantFiles();
        slices.push_back(mainThread.runUntil([&] { return root->filesLoaded(); }));
        blockSlices.push_back(mainThread.longestBlock);
        eventSlices.push_back(mainThread.longestEvents);
        fills.push_back(Since(start));
        listed = static_cast<size_t>(owner->model->rowCount());
    }
    printf("fill a table of %d files: %s s, find -maxdepth 1 -printf %s s, ratio %.2f; longest main-thread "
           "slice %s ms (target <= 16; %zu rows): the tree's deliveries %s ms, the table's event passes "
           "(its first paint included) %s ms\n",
           files, Range(fills, 1, "%.3f").c_str(), Range(finds, 1, "%.3f").c_str(), Median(fills) / Median(finds),
           Range(slices, 1000, "%.1f").c_str(), listed, Range(blockSlices, 1000, "%.1f").c_str(),
           Range(eventSlices, 1000, "%.1f").c_str());

    // Collecting a ticked tree that was never opened.
    auto owner = std::make_shared<Owner>();
    const std::string collectTree = TempFolder("tree-bench-collect");
    for (int f = 0; f < folders; ++f) {
        const std::string folder = collectTree + "/group " + std::to_string(f / 100) + "/folder " + std::to_string(f);
        std::filesystem::create_directories(folder);
        for (int i = 0; i < 10; ++i)
            Touch(folder + "/clip " + std::to_string(i) + (i % 2 ? ".mkv" : ".mp4"));
    }
    QKMediaFormatFilter formats;
    std::string find = "find '" + collectTree + "' -type f \\(";
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
    for (int round = 0; round < rounds; ++round) {
        theirs.push_back(TimeShell(find));
        auto root = clFolderListEntry::rootForURL(XFileURL(XStr::FromUTF8(collectTree.c_str())), owner);
        root->setCheckState(Recursive);
        CountSink sink;
        const auto start = Clock::now();
        root->collectCheckedFiles(sink);
        ours.push_back(Since(start));
        collected = sink.count;
    }
    printf("collect %d files in %d folders: ours %s s, find %s s, ratio %.2f (%zu collected)\n", folders * 10, folders,
           Range(ours, 1, "%.3f").c_str(), Range(theirs, 1, "%.3f").c_str(), Median(ours) / Median(theirs), collected);

    // Inverting 20,000 ticks.
    const std::string ticks = TempFolder("tree-bench-ticks");
    for (int i = 0; i < 20000; ++i)
        Touch(ticks + "/clip " + std::to_string(i) + ".mp4");
    XMainQueue queue;
    queue.Install();
    auto root = clFolderListEntry::rootForURL(XFileURL(XStr::FromUTF8(ticks.c_str())), owner);
    root->globals()->loadInfoForColumns = false;
    root->wantFiles();
    queue.RunUntil([&] { return root->filesLoaded(); }, 5 * 60 * 1000);
    std::vector<double> inversions;
    for (int round = 0; round < 5; ++round) {
        const auto start = Clock::now();
        root->invertFilesCheckState();
        inversions.push_back(Since(start));
    }
    printf("invert %zu ticks: %s ms\n", root->files().size(), Range(inversions, 1000, "%.2f").c_str());

    for (const std::string& folder : {tree, big, collectTree, ticks, settings})
        std::filesystem::remove_all(folder);
    return 0;
}
