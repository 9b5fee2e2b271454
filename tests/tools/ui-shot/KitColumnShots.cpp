// The interface kit's file table: the video columns over a folder of sample clips.

#include "tools/ui-shot/UiShot.h"

#include "kit/KRAColumnsModel.h"
#include "kit/KRATableColumns.h"
#include "kit/QKStringTools.h"

#include "kit/KRATableView.h"
#include <QDateTime>
#include <QHeaderView>
#include <QLocale>

namespace {

struct Clip {
    const char* name;
    const char* type;
    qint64 bytes;
    int seconds;
    int width, height;
    int kbps;
    double fps;
    int daysAgo;
};

// clang-format off
const Clip kClips[] = {
    {"Holiday 2024 - Beach.mp4", "MPEG-4", 734003200, 134, 1920, 1080, 8200, 29.97, 3},
    {"Holiday 2024 - Harbour at Night.mp4", "MPEG-4", 1288490188, 402, 3840, 2160, 24000, 25, 3},
    {"Holiday 2024 - Market.mov", "QuickTime", 412316860, 95, 1920, 1080, 16000, 30, 4},
    {"Holiday 2024 - Beach 2.mp4", "MPEG-4", 155189248, 41, 1920, 1080, 7800, 29.97, 3},
    {"Holiday 2024 - Beach 10.mp4", "MPEG-4", 98566144, 22, 1920, 1080, 8100, 29.97, 2},
    {"Birthday Anna.mkv", "Matroska", 2147483648, 1834, 1920, 1080, 9400, 25, 40},
    {"birthday anna - speech.mkv", "Matroska", 330301440, 281, 1280, 720, 4800, 25, 40},
    {"GOPR0042.MP4", "MPEG-4", 3984588800, 719, 2704, 1520, 45000, 59.94, 61},
    {"GOPR0043.MP4", "MPEG-4", 1073741824, 190, 2704, 1520, 45000, 59.94, 61},
    {"IMG_0007.MOV", "QuickTime", 52428800, 12, 1920, 1080, 17000, 30, 120},
    {"IMG_0120.MOV", "QuickTime", 209715200, 49, 3840, 2160, 34000, 60, 118},
    {"Interview - Part 1.mp4", "MPEG-4", 891289600, 1510, 1920, 1080, 4700, 25, 200},
    {"Interview - Part 2.mp4", "MPEG-4", 760217600, 1288, 1920, 1080, 4700, 25, 200},
    {"Interview - Part 11.mp4", "MPEG-4", 12582912, 21, 1920, 1080, 4700, 25, 199},
    {"Lecture 3 - Thermodynamics.webm", "WebM", 524288000, 3260, 1280, 720, 1280, 30, 15},
    {"Lecture 12 - Entropy.webm", "WebM", 498073600, 3101, 1280, 720, 1280, 30, 9},
    {"old_tape_1998.avi", "AVI", 734003200, 3600, 720, 576, 1600, 25, 900},
    {"Rehearsal (take 4).mp4", "MPEG-4", 272629760, 340, 1920, 1080, 6400, 23.976, 33},
    {"Rehearsal (take 12).mp4", "MPEG-4", 283115520, 352, 1920, 1080, 6400, 23.976, 33},
    {"screen recording 2024-03-02 at 10.41.12.mov", "QuickTime", 61865984, 187, 2880, 1800, 2600, 60, 80},
    {"Sunset timelapse.mp4", "MPEG-4", 41943040, 30, 3840, 2160, 11000, 30, 5},
    {"trailer_final_v2.mp4", "MPEG-4", 189792256, 144, 1920, 800, 10500, 24, 21},
    {"trailer_final_v10.mp4", "MPEG-4", 190840832, 145, 1920, 800, 10500, 24, 1},
    {"Wedding - Ceremony.m2ts", "MPEG-TS", 6442450944, 2710, 1920, 1080, 19000, 29.97, 365},
    {"Wedding - Dance.m2ts", "MPEG-TS", 3221225472, 1355, 1920, 1080, 19000, 29.97, 365},
    {"Zoo visit with the kids.mp4", "MPEG-4", 629145600, 612, 1920, 1080, 8200, 30, 50},
    {"drone_flight_03.mp4", "MPEG-4", 1610612736, 540, 3840, 2160, 24000, 29.97, 70},
    {"Concert Encore.mkv", "Matroska", 2576980377, 890, 1920, 1080, 23000, 50, 130},
    {"cat vs cucumber.webm", "WebM", 8388608, 18, 640, 360, 3700, 30, 10},
    {"Family dinner.mp4", "MPEG-4", 367001600, 455, 1920, 1080, 6400, 29.97, 27},
};
// clang-format on

std::shared_ptr<KRAColumnsRow> MakeRow(const Clip& clip, const QDateTime& now)
{
    auto row = std::make_shared<KRAColumnsValueRow>();
    row->setValue(QStringLiteral("Name"), QString::fromUtf8(clip.name));
    row->setValue(QStringLiteral("Size"), QKStringTools::formatFileSize(static_cast<uint64_t>(clip.bytes)), clip.bytes);
    row->setValue(QStringLiteral("Type"), QString::fromUtf8(clip.type));
    const QDateTime modified = now.addDays(-clip.daysAgo).addSecs(-clip.seconds * 37);
    row->setValue(QStringLiteral("Date Modified"), QLocale().toString(modified, QLocale::ShortFormat), modified);
    row->setValue(QStringLiteral("Length"),
                  QStringLiteral("%1:%2:%3")
                      .arg(clip.seconds / 3600)
                      .arg(clip.seconds / 60 % 60, 2, 10, QChar('0'))
                      .arg(clip.seconds % 60, 2, 10, QChar('0')),
                  clip.seconds);
    row->setValue(QStringLiteral("Resolution"), QStringLiteral("%1x%2").arg(clip.width).arg(clip.height),
                  clip.width * clip.height);
    row->setValue(QStringLiteral("Bit Rate"), QStringLiteral("%1 kbit/s").arg(clip.kbps), clip.kbps);
    row->setValue(QStringLiteral("Frame Rate"), QStringLiteral("%1 fps").arg(clip.fps), clip.fps);
    return row;
}

const UiShotRegistration fileTable({"file-table", "a file table with the video columns, sorted by name",
                                    QSize(1260, 560), [](UiShotKeep&) -> QWidget* {
                                        auto* view = new KRATableView;
                                        view->setWindowTitle(QStringLiteral("Files"));
                                        view->verticalHeader()->hide();
                                        view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
                                        // File lists are dense: a line of text and a little air.
                                        view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
                                        view->setSelectionBehavior(QAbstractItemView::SelectRows);
                                        view->setAlternatingRowColors(true);
                                        view->setShowGrid(false);
                                        view->setWordWrap(false);
                                        // Both go with the view: a model deleted before its view leaves the view
                                        // selecting in
                                        // nothing while it closes.
                                        auto* columns = new KRATableColumns(view, false, view);
                                        auto* model = new KRAColumnsModel(*columns, view);
                                        std::vector<KRAColumnsRowRef> rows;
                                        const QDateTime now(QDate(2024, 9, 14), QTime(18, 30));
                                        for (const Clip& clip : kClips)
                                            rows.push_back(MakeRow(clip, now));
                                        model->setRows(rows);
                                        view->setModel(model);
                                        view->setSortingEnabled(true);
                                        view->sortByColumn(model->columnFor(QStringLiteral("Name")),
                                                           Qt::AscendingOrder);
                                        view->selectRow(3);
                                        return view;
                                    }});

} // namespace
