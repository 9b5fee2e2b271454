// The batch converter's windows over a real folder tree made for the picture: a few short
// clips made by ffmpeg and some empty files with the names of real ones.

#include "tools/ui-shot/UiShot.h"

#include "app/KRAPanelHost.h"
#include "batch/KRABatchConverterProfile.h"
#include "batch/ui/KRABatchConvertDialog.h"
#include "batch/ui/KRABatchConverterFiltersDialog.h"
#include "batch/ui/KRABatchFileListDialog.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"
#include "setup/KRAProfileDialogs.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QThread>

namespace {

UiShotKeep::value_type ReleaseHosts()
{
    return std::shared_ptr<void>(nullptr, [](void*) { KRAPanelHostBase::releaseAllInstances(); });
}

void RunUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

// The tree; the folder goes when the shot's objects are released.
QString MakeTree(UiShotKeep& keep)
{
    auto dir = std::make_shared<QTemporaryDir>();
    keep.push_back(dir);
    const QString root = dir->path() + QStringLiteral("/Videos");
    for (const char* folder : {"Holiday 2026", "Holiday 2026/Drone", "Family", "Screen Recordings", "Lectures"})
        QDir().mkpath(root + QLatin1Char('/') + QString::fromLatin1(folder));
    const struct {
        const char* name;
        const char* size;
        const char* seconds;
    } clips[] = {{"Holiday 2026/Beach - Day 1.mkv", "640x360", "3"},
                 {"Holiday 2026/Beach - Day 2.mkv", "1280x720", "2"},
                 {"Holiday 2026/Harbour at Night.mp4", "640x480", "1"}};
    for (const auto& clip : clips)
        QProcess::execute(QStringLiteral("ffmpeg"),
                          {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"), QStringLiteral("lavfi"),
                           QStringLiteral("-i"),
                           QStringLiteral("testsrc=duration=%1:size=%2:rate=25").arg(clip.seconds, clip.size),
                           QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"),
                           root + QLatin1Char('/') + QString::fromLatin1(clip.name)});
    for (const char* name : {"Holiday 2026/Market.mov", "Holiday 2026/notes.txt", "Family/Birthday Anna.mkv",
                             "Family/Birthday Anna - speech.mkv", "Lectures/Lecture 3.webm"}) {
        QFile file(root + QLatin1Char('/') + QString::fromLatin1(name));
        if (file.open(QIODevice::WriteOnly))
            file.write(QByteArray(4096, '\0'));
    }
    return root;
}

std::shared_ptr<KRABatchConvertDialog> MakeBatchWindow(UiShotKeep& keep, std::shared_ptr<KRAPanelHost>* hostOut)
{
    const QString root = MakeTree(keep);
    auto host = KRAPanelHost::newWindow();
    keep.push_back(ReleaseHosts());
    const QUrl holiday = XFileURL(XStrFromQString(root + QStringLiteral("/Holiday 2026")));
    auto dialog = KRABatchConvertDialog::create(host, QList<QUrl>{holiday},
                                                {{XFileURL(XStrFromQString(root)), QStringLiteral("Anna's Videos")}});
    host->setCurrentPanel(dialog);
    RunUntil([&] { return dialog->currentFolder() && dialog->currentFolder()->filesLoaded(); }, 240000);
    // The clips' lengths and sizes arrive in the background.
    RunUntil(
        [&] {
            int withInfo = 0;
            for (const clFileListEntryRef& file : dialog->currentFiles())
                withInfo += file->info() ? 1 : 0;
            return withInfo >= 3;
        },
        240000);
    QCoreApplication::processEvents(QEventLoop::AllEvents, 300);
    *hostOut = host;
    return dialog;
}

const UiShotRegistration batch({"batch-converter",
                                "the batch converter over a generated folder tree, one folder ticked", QSize(1000, 600),
                                [](UiShotKeep& keep) -> QWidget* {
                                    std::shared_ptr<KRAPanelHost> host;
                                    MakeBatchWindow(keep, &host);
                                    return host->mainWindow();
                                }});

const UiShotRegistration filters({"batch-filters", "the batch converter's filters, one file type excluded",
                                  QSize(640, 480), [](UiShotKeep& keep) -> QWidget* {
                                      std::shared_ptr<KRAPanelHost> host;
                                      auto dialog = MakeBatchWindow(keep, &host);
                                      auto panel = KRABatchConverterFiltersDialog::startWithDialog(dialog);
                                      host->setCurrentPanel(panel);
                                      if (auto* types = panel->paneFor(QStringLiteral("File Types")))
                                          for (int row = 0; row < types->data()->size(); ++row)
                                              if (types->data()->at(row).key == QLatin1String(".MOV"))
                                                  types->setRowChecked(row, false);
                                      return host->mainWindow();
                                  }});

const UiShotRegistration fileList({"batch-file-list", "the list of the files the batch converter collected",
                                   QSize(900, 520), [](UiShotKeep& keep) -> QWidget* {
                                       std::shared_ptr<KRAPanelHost> host;
                                       auto dialog = MakeBatchWindow(keep, &host);
                                       auto panel = KRABatchFileListDialog::create(dialog->currentFiles(), dialog);
                                       host->setCurrentPanel(panel);
                                       RunUntil([&] { return panel->infoDone(); }, 240000);
                                       if (panel->files().size() > 1)
                                           panel->setItemChecked(1, false);
                                       panel->onMenuInvertSelection();
                                       panel->onMenuInvertSelection();
                                       return host->mainWindow();
                                   }});

const UiShotRegistration profileName({"batch-profile-name",
                                      "the name sheet of a new batch profile, refusing a name with \"/\"", QSize(),
                                      [](UiShotKeep&) -> QWidget* {
                                          auto* sheet = new KRAChooseProfileName;
                                          sheet->setInvalidValues({QStringLiteral("(none selected)")});
                                          sheet->setValidator(&KRABatchConverterProfile::nameProblem);
                                          sheet->edit()->setText(QStringLiteral("Holiday/2026"));
                                          sheet->adjustSize();
                                          return sheet;
                                      }});

} // namespace
