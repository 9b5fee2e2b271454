// The interface kit's windows.

#include "tools/ui-shot/UiShot.h"

#include "app/KRAPanelHostBase.h"
#include "kit/QKPleaseWaitDialog.h"

namespace {

// A panel shown in a window host, as the program shows it.
QWidget* InHost(const std::shared_ptr<KRAPanel>& panel, UiShotKeep& keep)
{
    std::shared_ptr<KRAPanelHostBase> host = KRAPanelHostBase::newWindow();
    host->setCurrentPanel(panel);
    keep.push_back(panel);
    keep.push_back(std::shared_ptr<void>(nullptr, [](void*) { KRAPanelHostBase::releaseAllInstances(); }));
    return host->mainWindow();
}

class CancellableWait : public QKPleaseWaitDialog {
public:
    bool showCancel() override { return true; }
};

const UiShotRegistration pleaseWait({"please-wait", "the please-wait panel with its Cancel button", QSize(320, 90),
                                     [](UiShotKeep& keep) {
                                         auto panel = std::make_shared<CancellableWait>();
                                         panel->setTitle("Checking File Names");
                                         return InHost(panel, keep);
                                     }});

} // namespace
