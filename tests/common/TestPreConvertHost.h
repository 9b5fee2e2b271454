// A converter window host for tests and pictures of the converter setup: it shows panels in
// a real window, keeps the profiles and the files, and records what the setup hands over.
#pragma once

#include <QList>
#include <QPointer>
#include <QStringList>
#include <QVBoxLayout>
#include <QWidget>

#include <memory>
#include <optional>

#include "kit/KRAPanel.h"
#include "setup/KRAPreConvertDialog.h"
#include "setup/KRAPreConvertHost.h"

class TestPreConvertHost : public KRAPanelHostInterface, public KRAPreConvertHost {
public:
    explicit TestPreConvertHost(const QStringList& files = {}) : window(new QWidget)
    {
        window->setLayout(new QVBoxLayout);
        window->resize(760, 720);
        for (const QString& file : files)
            entries.append(std::make_shared<KRAPreConvertEntry>(QKConvertSource::withURL(QUrl::fromLocalFile(file))));
    }
    ~TestPreConvertHost() override
    {
        current.reset();
        delete window;
    }

    // A setup dialog on this host, shown in the window.
    std::shared_ptr<KRAPreConvertDialog> openSetup(const std::shared_ptr<TestPreConvertHost>& self)
    {
        auto dialog = std::make_shared<KRAPreConvertDialog>(self);
        setCurrentPanel(dialog);
        return dialog;
    }

    // ---- The window host ----
    void setCurrentPanel(const std::shared_ptr<KRAPanel>& panel) override
    {
        if (current && current != panel)
            if (QWidget* old = current->panelView())
                old->setParent(nullptr);
        current = panel;
        if (!panel) {
            ++closed;
            return;
        }
        window->layout()->addWidget(panel->panelView());
    }
    std::shared_ptr<KRAPanel> currentPanel() const override { return current; }
    std::shared_ptr<KRAPanel> rootPanel() const override { return nullptr; }
    void panelBacktraceTo(const std::shared_ptr<KRAPanel>& panel) override { setCurrentPanel(panel); }
    bool returnToRoot() override { return false; }
    void returnToRootOrClose() override {}
    void panelNameChanged() override {}
    QWidget* mainWindow() override { return window; }
    std::shared_ptr<void> contextData() const override { return nullptr; }
    void setContextData(std::shared_ptr<void>) override {}

    // ---- The converter side ----
    KRAConfigRef config() override
    {
        if (!configuration)
            configuration = std::make_shared<KRAConfig>();
        return configuration;
    }
    QList<KRAPreConvertEntryRef> conversionEntries() override { return entries; }
    uint64_t numToConvert() override
    {
        uint64_t count = 0;
        for (const KRAPreConvertEntryRef& entry : entries)
            count += entry->checked ? 1 : 0;
        return count;
    }
    void preConvertDone(const KRAPreConvertSetup& setup) override { done.append(setup); }
    void showConfigPanel() override { ++configPanels; }

    QPointer<QWidget> window;
    std::shared_ptr<KRAPanel> current;
    KRAConfigRef configuration;
    QList<KRAPreConvertEntryRef> entries;
    QList<KRAPreConvertSetup> done;
    int configPanels = 0;
    int closed = 0;
};
