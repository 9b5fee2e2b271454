#include "app/QKConverterLauncherBase.h"

#include "app/KRAPanelHost.h"
#include "platform/XWorkspace.h"
#include "xclass/XFileName.h"

#include <QVariantList>

std::shared_ptr<KRAPanelHost> QKConverterLauncherBase::panelHost2() const
{
    return std::dynamic_pointer_cast<KRAPanelHost>(panelHost());
}

void QKConverterLauncherBase::startConvert()
{
    if (auto host = panelHost2())
        host->startOpenFileDialog();
}

void QKConverterLauncherBase::startBatchConvert()
{
    if (auto host = panelHost2())
        host->startBatchConvertDialog();
}

void QKConverterLauncherBase::viewDidLoad()
{
    QKLauncherBase::viewDidLoad();
    enableDropFiles();
}

void QKConverterLauncherBase::onDropFiles(const QList<QUrl>& files)
{
    const std::shared_ptr<KRAPanelHost> host = panelHost2();
    if (!host || files.isEmpty())
        return;
    bool anyFolder = false;
    for (const QUrl& url : files)
        anyFolder = anyFolder || XIsFolder(XPathFromFileURL(url));
    if (anyFolder) {
        // Straight to the batch converter with everything dropped selected: this road
        // neither asks the permission probe nor makes the dialog the window's batch
        // converter, so its conversions use the settings of no batch profile.
        if (const std::shared_ptr<KRAPanel> batch = host->makeBatchConverter(files))
            host->setCurrentPanel(batch);
        else
            host->startBatchConvertDialogWithSelection(files); // says why there is none
        return;
    }
    QVariantList items;
    for (const QUrl& url : files)
        items << url;
    host->preConvertFrom(items, host->currentPanel()); // this launcher: Back returns here
}
