// The application shell's windows: the launcher, and the converter window at the steps of a
// conversion (its progress and status log are among the engine's pictures).

#include "tools/ui-shot/UiShot.h"

#include "app/KRAPanelHost.h"
#include "app/KRELauncher.h"
#include "setup/KRACodecLogos.h"
#include "setup/KRAProfile.h"

namespace {

const QStringList kFiles = {"/home/anna/Videos/Holiday 2026/Beach - Day 1.mov",
                            "/home/anna/Videos/Holiday 2026/Beach - Day 2.mov",
                            "/home/anna/Videos/Family/First Day at School.mkv"};

QVariantList Files()
{
    QVariantList urls;
    for (const QString& file : kFiles)
        urls << QUrl::fromLocalFile(file);
    return urls;
}

UiShotKeep::value_type ReleaseHosts()
{
    return std::shared_ptr<void>(nullptr, [](void*) { KRAPanelHostBase::releaseAllInstances(); });
}

// A converter window that stays at the destination check instead of going on.
class PictureHost : public KRAPanelHost {
public:
    void checkFileNamesDone(const KRACheckFilenamesStateRef&, bool, const std::shared_ptr<KRAPanel>&) override {}
};

const UiShotRegistration launcher({"launcher", "the launcher: its tiles, extras and drop target", QSize(),
                                   [](UiShotKeep& keep) {
                                       auto host = KRAPanelHost::newLauncher();
                                       keep.push_back(ReleaseHosts());
                                       return host->mainWindow();
                                   }});

const UiShotRegistration setup({"converter-window", "the converter window at the converter setup, three files", QSize(),
                                [](UiShotKeep& keep) {
                                    KRACodecLogos::installAsEncoderMenuLogos();
                                    auto host = KRAPanelHost::newWindow();
                                    host->setCurrentPanel(KRAPanelHost::newLauncherPanel());
                                    host->preConvertFrom(Files(), host->currentPanel());
                                    keep.push_back(ReleaseHosts());
                                    return host->mainWindow();
                                }});

const UiShotRegistration checking({"converter-window-checking",
                                   "the converter window checking the destinations after Go", QSize(),
                                   [](UiShotKeep& keep) {
                                       KRACodecLogos::installAsEncoderMenuLogos();
                                       auto host = std::make_shared<PictureHost>();
                                       host->window();
                                       host->preConvertFrom(Files(), nullptr);
                                       KRAPreConvertSetup go;
                                       go.profile = host->config()->activeProfile();
                                       go.encoder = host->config()->activeEncoder();
                                       go.entries = host->conversionEntries();
                                       host->preConvertDone(go);
                                       keep.push_back(host);
                                       keep.push_back(ReleaseHosts());
                                       return host->mainWindow();
                                   }});

} // namespace
