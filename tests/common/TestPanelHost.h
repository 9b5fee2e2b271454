// A window host for tests and tools: it keeps the panel it is asked to show and answers the
// rest as a host without a window. Test hosts of the other sides derive from it.
#pragma once

#include <memory>

#include "kit/KRAPanel.h"

class TestPanelHost : public KRAPanelHostInterface {
public:
    void setCurrentPanel(const std::shared_ptr<KRAPanel>& panel) override { current = panel; }
    std::shared_ptr<KRAPanel> currentPanel() const override { return current; }
    std::shared_ptr<KRAPanel> rootPanel() const override { return nullptr; }
    void panelBacktraceTo(const std::shared_ptr<KRAPanel>& panel) override { current = panel; }
    bool returnToRoot() override { return false; }
    void returnToRootOrClose() override {}
    void panelNameChanged() override {}
    QWidget* mainWindow() override { return nullptr; }
    std::shared_ptr<void> contextData() const override { return nullptr; }
    void setContextData(std::shared_ptr<void>) override {}

    std::shared_ptr<KRAPanel> current;
};
