// Natural sorting of a large folder's file list against `ls -v`.
//
// Makes a temporary folder with N empty files (default 100000) named like real clips (mixed
// case, digit runs, spaces), then times, in alternating rounds:
//   ls -v FOLDER > /dev/null, run as a child;
//   our file table: read the folder's names (decoded losslessly, as the program does), hand
//   them to a KRAColumnsModel as rows, sort by Name through a QTableView with the video
//   columns, and lay out and draw its visible part (offscreen).
// Prints the median of each, the ratio, and where our time goes.
//
//   QT_QPA_PLATFORM=offscreen build/bench/table_sort_bench [N]

#include "bench/BenchTime.h"
#include "kit/KRAColumnsModel.h"
#include "kit/KRATableColumns.h"
#include "platform/XStrQString.h"

#include <QApplication>
#include <QHeaderView>
#include <QTableView>

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

extern char** environ;

namespace {
using bench::Clock;
using bench::Median;
using bench::Since;

// A file record as the file list holds it: the row only knows its name.
class NameRow : public KRAColumnsRow {
public:
    explicit NameRow(QString name) : m_name(std::move(name)) {}
    QString displayValue(const QString& identifier) const override
    {
        return identifier == QLatin1String("Name") ? m_name : QString();
    }
    QVariant sortValue(const QString& identifier) const override
    {
        return identifier == QLatin1String("Name") ? QVariant(m_name) : QVariant();
    }

private:
    QString m_name;
};

std::string MakeFolder(int count)
{
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/table-sort-bench-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        perror("mkdtemp");
        exit(1);
    }
    static const char* const patterns[] = {
        "Clip %d.mp4",        "clip %d.mp4",     "holiday_%d_final.MOV", "Holiday %d - Beach.mp4",
        "IMG_%04d.MOV",       "GOPR%04d.MP4",    "Take %d (%d).mkv",     "wedding part %d of %d.mov",
        "Interview %d b.mp4", "scene%d_v%d.mov", "DSC%05d.MTS",          "Family %d %d.m4v",
    };
    std::mt19937 random(7);
    char name[256];
    for (int i = 0; i < count; ++i) {
        const char* format = patterns[i % (sizeof patterns / sizeof *patterns)];
        snprintf(name, sizeof name, format, static_cast<int>(random() % 20000), i);
        const std::string path = pattern + "/" + name;
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd >= 0)
            close(fd);
    }
    return pattern;
}

double TimeLs(const std::string& folder)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    std::string program = "ls", option = "-v", path = folder;
    char* argv[] = {program.data(), option.data(), path.data(), nullptr};
    const auto start = Clock::now();
    pid_t pid = -1;
    if (posix_spawnp(&pid, "ls", &actions, nullptr, argv, environ) != 0) {
        perror("posix_spawnp ls");
        exit(1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const double seconds = Since(start);
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "ls -v failed\n");
        exit(1);
    }
    return seconds;
}

struct OurTimes {
    double read = 0, sort = 0, view = 0;
    double total() const { return read + sort + view; }
};

OurTimes TimeOurs(const std::string& folder)
{
    OurTimes times;
    auto start = Clock::now();
    std::vector<KRAColumnsRowRef> rows;
    DIR* dir = opendir(folder.c_str());
    if (!dir) {
        perror("opendir");
        exit(1);
    }
    while (const dirent* entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0)
            continue;
        rows.push_back(std::make_shared<NameRow>(XStrToQString(XStr::FromUTF8(entry->d_name))));
    }
    closedir(dir);
    times.read = Since(start);

    start = Clock::now();
    QTableView view;
    view.verticalHeader()->hide();
    view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view.setSelectionBehavior(QAbstractItemView::SelectRows);
    KRATableColumns columns(&view, false);
    KRAColumnsModel model(columns);
    model.setRows(std::move(rows));
    view.setModel(&model);
    view.sortByColumn(model.columnFor(QStringLiteral("Name")), Qt::AscendingOrder);
    times.sort = Since(start);

    start = Clock::now();
    view.resize(1000, 700);
    view.show();
    QApplication::processEvents();
    const QPixmap drawn = view.viewport()->grab();
    times.view = Since(start);
    if (drawn.isNull() || model.rowCount() < 2 ||
        KRACompareNatural(model.rowAt(0)->displayValue(QStringLiteral("Name")),
                          model.rowAt(1)->displayValue(QStringLiteral("Name"))) > 0) {
        fprintf(stderr, "the table was not sorted\n");
        exit(1);
    }
    return times;
}
} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? atoi(argv[1]) : 100000;
    if (count < 2) {
        fprintf(stderr, "usage: table_sort_bench [N >= 2]\n");
        return 2;
    }
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    printf("making %d files...\n", count);
    const std::string folder = MakeFolder(count);
    TimeLs(folder); // warm-up: the folder in the cache, ls and our code paged in
    TimeOurs(folder);

    const int rounds = 5;
    std::vector<double> ls, ours, read, sort, view;
    for (int round = 0; round < rounds; ++round) {
        const bool lsFirst = round % 2 == 0;
        if (lsFirst)
            ls.push_back(TimeLs(folder));
        const OurTimes times = TimeOurs(folder);
        ours.push_back(times.total());
        read.push_back(times.read);
        sort.push_back(times.sort);
        view.push_back(times.view);
        if (!lsFirst)
            ls.push_back(TimeLs(folder));
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);

    const double lsTime = Median(ls), ourTime = Median(ours);
    printf("files:        %d\n", count);
    printf("ls -v:        %.1f ms\n", lsTime * 1000);
    printf("ours:         %.1f ms (read %.1f, rows + sort %.1f, layout + draw %.1f)\n", ourTime * 1000,
           Median(read) * 1000, Median(sort) * 1000, Median(view) * 1000);
    printf("ratio:        %.2f (target at most 2)\n", ourTime / lsTime);
    return 0;
}
