// The configuration panel: the program-wide settings on two pages ("FFmpeg" and "Options")
// switched by its toolbar. At most one exists at a time; asking for it again brings its
// window to the front. The launcher's "Advanced settings…" and the converter setup's
// "Install missing codecs" open it.
#pragma once

#include "kit/KRAPanel.h"
#include "kit/QKWindowCancellable.h"

#include <QPointer>

#include <memory>

class KRAPanelHostInterface;
class KREConfigFFmpeg;
class KREConfigOptions;
class QAction;
class QToolBar;
class QVBoxLayout;

class KREConfigPanel : public QKPanelViewController, public QKCancelOperation {
    Q_OBJECT
public:
    KREConfigPanel();
    ~KREConfigPanel() override;

    // The panel that exists now, if any.
    static std::shared_ptr<KREConfigPanel> current();
    static std::shared_ptr<KREConfigPanel> show() { return showIn(nullptr); }
    // Brings the existing panel's window to the front, or shows a new panel in host (in place
    // of its panel), or in a new window when host is null. ffmpegPage switches to that page.
    static std::shared_ptr<KREConfigPanel> showIn(const std::shared_ptr<KRAPanelHostInterface>& host,
                                                  bool ffmpegPage = false);

    // False without a host; else puts the host's window in front and returns true.
    bool bump();
    void switchToFFmpeg();
    void switchToOptions();
    QObject* contentNow() const { return m_contentNow; }
    KREConfigFFmpeg* contentFFmpeg() const { return m_contentFFmpeg.get(); }
    KREConfigOptions* contentOptions() const { return m_contentOptions.get(); }
    std::shared_ptr<KRAPanelHostInterface> host() const { return m_host.lock(); }

    // ---- The panel ----
    QString panelName() override { return QStringLiteral("Marvoni Configuration"); }
    QString panelSizeClass() override { return QStringLiteral("Video Converter Settings"); }
    QToolBar* panelToolbar() override;
    QSize panelMinSize() override { return QSize(560, 420); }
    void panelAttachedToHost(const std::shared_ptr<KRAPanelHostInterface>& host) override { m_host = host; }
    void panelWillClose() override;
    // Escape leaves the settings: back to the panel they were opened from (the launcher, the
    // converter setup), else to the launcher, else the window closes.
    void cancelOperation(QObject* sender) override;

protected:
    void loadView() override;
    void viewDidLoad() override;

private:
    void switchTo(QKViewController* page);

    std::unique_ptr<KREConfigFFmpeg> m_contentFFmpeg;
    std::unique_ptr<KREConfigOptions> m_contentOptions;
    QKViewController* m_contentNow = nullptr;
    std::weak_ptr<KRAPanelHostInterface> m_host;
    std::weak_ptr<KRAPanel> m_returnTo;
    QPointer<QToolBar> m_toolbar;
    QPointer<QAction> m_ffmpegItem;
    QPointer<QAction> m_optionsItem;
    QPointer<QVBoxLayout> m_pageLayout;
};
