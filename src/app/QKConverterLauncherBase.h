// The launcher of a converter window: its tiles open the file dialog or the batch converter
// of the window, and files dropped on it go to the converter setup (folders to the batch
// converter).
#pragma once

#include "app/QKLauncherBase.h"

class KRAPanelHost;

class QKConverterLauncherBase : public QKLauncherBase {
    Q_OBJECT
public:
    // The window host; the launcher is only ever shown in a converter window.
    std::shared_ptr<KRAPanelHost> panelHost2() const;
    void startConvert();
    void startBatchConvert();
    void onDropFiles(const QList<QUrl>& files) override;

protected:
    void viewDidLoad() override;
};
