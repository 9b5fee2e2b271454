// A window host for tests and tools that is also the conversion host: it keeps the panel it
// is asked to show and records what the panels ask of it.
#pragma once

#include <memory>

#include "engine/KRAConversionHost.h"
#include "kit/KRAPanel.h"

class TestConversionHost : public KRAPanelHostInterface, public KRAConversionHost {
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

    void conversionAllDone() override { ++allDone; }
    void preConvertFrom(const QList<QKConvertSourceRef>& sources, const std::shared_ptr<KRAPanel>& invoker) override
    {
        reconverted = sources;
        reconvertInvoker = invoker;
    }

    std::shared_ptr<KRAPanel> current;
    int allDone = 0;
    QList<QKConvertSourceRef> reconverted;
    std::shared_ptr<KRAPanel> reconvertInvoker;
};
