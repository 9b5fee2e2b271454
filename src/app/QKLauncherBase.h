// The launcher: the first panel of a new window. A row of large tiles (one per tool the
// program offers), an update link that shows when a newer version is listed, a column of
// extra panels, and a drop target for files and folders.
//
// Three layers: QKLauncherBase (tiles, extras, the update look-up, drops), the converter
// launcher (what a tile or a drop does in a converter window) and the program's own launcher
// (its tiles and extras).
#pragma once

#include "kit/KRAClickableTextField.h"
#include "kit/KRAPanel.h"
#include "kit/QKDropTargetView.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QToolButton>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

class KRAPanelHostBase;
class QBoxLayout;
class QKLauncherBase;

// One tile.
class QKLauncherApp : public QKViewController {
    Q_OBJECT
public:
    using Action = std::function<void(QKLauncherBase* owner)>;

    QString appTitle;
    QString appSubTitle;
    QString appLogo; // image name
    QKLauncherBase* owner = nullptr;
    uint64_t appIndex = 0;
    Action action; // none: the owner's appSelected(appIndex)

    QToolButton* button() const { return m_button; }
    void clicked();

protected:
    void loadView() override;

private:
    QPointer<QToolButton> m_button;
};

// The extra panel that leads to the advanced settings.
class QKLauncherConfig : public QKViewController {
    Q_OBJECT
public:
    QKLauncherBase* owner = nullptr;
    void onAdvancedSettings();

protected:
    void loadView() override;
};

// The extra panel about the ffmpeg the program runs.
class QKLauncherFFmpegLGPL : public QKViewController {
    Q_OBJECT
protected:
    void loadView() override;
};

class QKLauncherBase : public QKPanelViewController, public QKDropTarget {
    Q_OBJECT
public:
    // The help's path on the maker's server (MARVONI_WEB_BASE).
    static constexpr const char* kHelpPath = "/Help/qKVOSX/";
    // The newer version listed for a name, when there is one: its version text and address.
    struct ListedVersion {
        QString version;
        QString url;
    };
    // Asks the version list on a background thread. None set: no look-up, no link.
    using VersionLookup = std::function<std::optional<ListedVersion>(const QString& appName)>;
    static void setVersionLookup(VersionLookup lookup);

    QKLauncherBase();
    ~QKLauncherBase() override;

    void addApp(const QString& title, const QString& subTitle, const QString& logo,
                QKLauncherApp::Action action = nullptr);
    void addAppHelp();
    // A view controller (its view is shown) or a widget.
    void addPanel(std::variant<std::shared_ptr<QKViewController>, QWidget*> panel);

    virtual void appSelected(uint64_t index) { (void)index; }
    void appHelpClicked();
    virtual QString appVersion() const;
    virtual QString appTitle() const { return QStringLiteral("Marvoni Video Converter"); }
    virtual QString appUpdateCheckName() const { return QStringLiteral("Marvoni Video Converter Mac"); }
    void appUpdateLinkClick();
    virtual void showConfig() {}

    // ---- The panel ----
    bool panelIsLauncher() override { return true; }
    bool panelIsRoot() override { return true; }
    bool panelAllowsOpenFileMenu() override { return true; }
    bool panelResizable() override { return false; }
    // The first tile.
    QWidget* panelInitialFocus() override;
    void panelAttachedToHost(const std::shared_ptr<KRAPanelHostInterface>& host) override { m_panelHost = host; }
    std::shared_ptr<KRAPanelHostInterface> panelHost() const { return m_panelHost.lock(); }

    // ---- Drops ----
    void enableDropFiles();
    Qt::DropAction draggingEntered(QDragEnterEvent* event, QKDropTargetView* view) override;
    bool performDragOperation(QDropEvent* event, QKDropTargetView* view) override;
    // The dropped files and folders, in order, as lossless file URLs.
    virtual void onDropFiles(const QList<QUrl>& files) { (void)files; }

    // ---- The update link ----
    void onUpdateAvailable(const ListedVersion& listed);
    QString updateURL() const { return m_updateURL; }
    KRAClickableTextField* updateLink() const { return m_updateLink; }
    const std::vector<std::shared_ptr<QKLauncherApp>>& apps() const { return m_appRef; }

protected:
    void loadView() override;
    void viewDidLoad() override;

private:
    void layoutApps();
    void layoutExtras();
    void latestVersionCheck();

    std::vector<std::shared_ptr<QKLauncherApp>> m_appRef;
    std::vector<std::variant<std::shared_ptr<QKViewController>, QWidget*>> m_panelRetain;
    QString m_updateURL;
    bool m_didLoad = false;
    std::weak_ptr<KRAPanelHostInterface> m_panelHost;
    QPointer<QBoxLayout> m_appsStack;
    QPointer<QBoxLayout> m_extrasStack;
    QPointer<KRAClickableTextField> m_updateLink;
    QPointer<QKDropTargetView> m_dropView;
};
