// Panels and the windows that host them.
//
// A window host shows one panel at a time and switches panels in place, so that a whole job
// (launcher, setup, checks, progress, log) runs inside one window. The hosts themselves
// belong to the application shell; the interfaces live here so that every layer can make
// panels and ask its host to show them.
//
// Every KRAPanel method has a default that stands for "the panel does not answer this": the
// host behaves as for a panel that lacks the method (no minimum size, resizable, not root,
// no help page, no configuration, and so on).
#pragma once

#include <QSize>
#include <QString>
#include <QUrl>

#include <memory>

#include "kit/QKViewController.h"

class QKeyEvent;
class QObject;
class QToolBar;
class QWidget;
class KRAPanelHostInterface;

class KRAPanel {
public:
    virtual ~KRAPanel();

    // The view the host embeds; the panel keeps owning it.
    virtual QWidget* panelView() = 0;
    // The window title the panel asks for; empty: none.
    virtual QString panelName() { return QString(); }

    virtual void panelWillBecomeVisible() {}
    virtual void panelDidBecomeVisible() {}
    virtual void panelWillClose() {}

    virtual bool panelResizable() { return true; }
    // Smallest size of the view; a dimension of 0 sets no limit.
    virtual QSize panelMinSize() { return QSize(0, 0); }
    // Each dimension greater than 0 replaces that dimension of the view's own size.
    virtual QSize panelPreferredSize() { return QSize(0, 0); }
    // True: the window keeps its size and the view fills it.
    virtual bool panelSizeToHost() { return false; }
    // Panels of one size class share one remembered window frame; empty: none.
    virtual QString panelSizeClass() { return QString(); }
    // The control the keyboard starts on when the panel is shown (its main control); null:
    // the first control Tab reaches.
    virtual QWidget* panelInitialFocus() { return nullptr; }
    // Shown at the top of the window while the panel is; the panel owns it.
    virtual QToolBar* panelToolbar() { return nullptr; }

    // A root panel (the launcher, the batch converter) is where returnToRoot goes back to.
    virtual bool panelIsRoot() { return false; }
    virtual bool panelIsLauncher() { return false; }
    virtual bool panelIsWorking() { return false; }
    virtual bool panelAllowsOpenFileMenu() { return false; }

    // The host that shows the panel now; keep it weakly.
    virtual void panelAttachedToHost(const std::shared_ptr<KRAPanelHostInterface>& host) { (void)host; }
    // The host is about to return to this panel from the one shown now.
    virtual void panelBeforeBacktraceFrom(KRAPanel* from) { (void)from; }

    // Help page of the panel; empty: the host's default.
    virtual QUrl panelHelpURL() { return QUrl(); }
    // Whether the panel has settings of its own (the host then shows its configuration
    // button), and the button's action.
    virtual bool panelHasConfigure() { return false; }
    virtual void panelConfigure(QObject* sender) { (void)sender; }

    // A key press offered to the panel before the window handles it; true when used.
    virtual bool panelPerformKeyEquivalent(QKeyEvent* event)
    {
        (void)event;
        return false;
    }
    virtual void panelWindowDidResignKey() {}
};

// A panel that is a view controller: its view and title serve as panel view and name.
class QKPanelViewController : public QKViewController, public KRAPanel {
    Q_OBJECT
public:
    explicit QKPanelViewController(QObject* parent = nullptr) : QKViewController(parent) {}

    QWidget* panelView() override { return view(); }
    QString panelName() override { return title(); }
};

// What a panel may ask of the window host that shows it. Main thread only.
class KRAPanelHostInterface {
public:
    virtual ~KRAPanelHostInterface();

    // Shows the panel in place of the current one; the host keeps it. Showing the panel that
    // is already shown changes nothing; null closes the window.
    virtual void setCurrentPanel(const std::shared_ptr<KRAPanel>& panel) = 0;
    // Shows a panel that the opener opens over itself (List & Rename over the setup, the
    // destination check over the setup, the setup over the log it re-converts from). The host
    // keeps the opener, and the panels it was opened from in turn, as they are while the
    // sub-panel (or one it opens in turn) is shown, so that the way back finds them as they
    // were; showing any other panel lets them go. Without an opener: setCurrentPanel.
    virtual void showSubPanel(const std::shared_ptr<KRAPanel>& panel, const std::shared_ptr<KRAPanel>& opener)
    {
        (void)opener;
        setCurrentPanel(panel);
    }
    virtual std::shared_ptr<KRAPanel> currentPanel() const = 0;
    virtual std::shared_ptr<KRAPanel> rootPanel() const = 0;
    // Tells the panel that the host returns to it from the current one, then shows it.
    virtual void panelBacktraceTo(const std::shared_ptr<KRAPanel>& panel) = 0;
    // Back to the root panel; false when there is none.
    virtual bool returnToRoot() = 0;
    // Back to the root panel, else closes the window.
    virtual void returnToRootOrClose() = 0;
    // Takes the window title again from the current panel.
    virtual void panelNameChanged() = 0;

    // The window (parent for sheets and alerts).
    virtual QWidget* mainWindow() = 0;

    // Any object panels want to hang on the window.
    virtual std::shared_ptr<void> contextData() const = 0;
    virtual void setContextData(std::shared_ptr<void> data) = 0;
};
