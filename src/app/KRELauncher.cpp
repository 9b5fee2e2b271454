#include "app/KRELauncher.h"

#include "app/KRAPanelHost.h"

KRELauncher::KRELauncher() = default;

void KRELauncher::viewDidLoad()
{
    QKConverterLauncherBase::viewDidLoad();
    if (m_filled)
        return;
    m_filled = true;
    addApp(QStringLiteral("Video Converter"), QStringLiteral("video conversion"), QStringLiteral("VideoConverter"));
    addApp(QStringLiteral("Batch Converter"), QStringLiteral("mass file conversion"),
           QStringLiteral("VideoBatchConverter"));
    addAppHelp();
    auto config = std::make_shared<QKLauncherConfig>();
    config->owner = this;
    addPanel(std::static_pointer_cast<QKViewController>(config));
    addPanel(std::static_pointer_cast<QKViewController>(std::make_shared<QKLauncherFFmpegLGPL>()));
}

void KRELauncher::appSelected(uint64_t index)
{
    if (index == 0)
        startConvert();
    else if (index == 1)
        startBatchConvert();
}

void KRELauncher::showConfig()
{
    if (auto host = panelHost2())
        host->showConfigWindow(false);
}
