// The configuration window (its FFmpeg and Options pages) and the FFmpeg download window.

#include "tools/ui-shot/UiShot.h"

#include "app/KRAPanelHost.h"
#include "app/KREConfigFFmpeg.h"
#include "app/KREConfigPanel.h"
#include "app/KREDownloadFFmpeg.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace {

UiShotKeep::value_type ReleaseHosts()
{
    return std::shared_ptr<void>(nullptr, [](void*) { KRAPanelHostBase::releaseAllInstances(); });
}

// The page's texts come from ffmpeg on a background thread: the picture shows them.
void WaitForAnswers(KREConfigFFmpeg* page)
{
    QElapsedTimer timer;
    timer.start();
    while (page && page->strVersion() == QLatin1String(KREConfigFFmpeg::kPleaseWait) && timer.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

QWidget* ConfigWindow(UiShotKeep& keep, bool options)
{
    auto host = KRAPanelHost::newWindow();
    keep.push_back(ReleaseHosts());
    auto panel = KREConfigPanel::showIn(host);
    keep.push_back(panel);
    WaitForAnswers(panel->contentFFmpeg());
    if (options)
        panel->switchToOptions();
    return host->mainWindow();
}

const UiShotRegistration ffmpegPage({"config-ffmpeg", "the configuration window at its FFmpeg page", QSize(),
                                     [](UiShotKeep& keep) { return ConfigWindow(keep, false); }});

const UiShotRegistration optionsPage({"config-options", "the configuration window at its Options page", QSize(),
                                      [](UiShotKeep& keep) { return ConfigWindow(keep, true); }});

const UiShotRegistration download({"download-ffmpeg", "the FFmpeg download window", QSize(), [](UiShotKeep&) {
                                       auto* window = new KREDownloadFFmpeg;
                                       window->progress()->setRange(0, 0);
                                       return static_cast<QWidget*>(window);
                                   }});

} // namespace
