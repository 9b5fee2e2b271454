// The window host: a window that shows exactly one panel at a time and switches panels in
// place. It sizes the window for each panel, remembers window frames per size class in the
// settings ("autosave-size-<class>"), keeps a help and a configuration button at the top of
// the window, and keeps the set of all open hosts.
//
// A host is owned by that set from the moment its window loads until its window has closed;
// make one with newWindow(). Main thread only.
#pragma once

#include "kit/KRAPanel.h"
#include "kit/QKWindowCancellable.h"
#include "kit/QKWindowController.h"

#include <QPointer>
#include <QRect>
#include <QSize>
#include <QString>
#include <QUrl>

#include <exception>
#include <memory>
#include <vector>

class QKeyEvent;
class QToolBar;
class QToolButton;
class QVBoxLayout;
class QKPanelHostWnd;

class KRAPanelHostBase : public QKWindowController,
                         public KRAPanelHostInterface,
                         public QKCancelOperation,
                         public std::enable_shared_from_this<KRAPanelHostBase> {
    Q_OBJECT
public:
    // The settings key of a size class's remembered frame.
    static QString sizeClassKey(const QString& sizeClass);
    // Size of a window that has not been sized by a panel or a remembered frame.
    static constexpr int kDefaultWidth = 600;
    static constexpr int kDefaultHeight = 400;
    // Height of the strip at the top of the window that holds the help and configuration
    // buttons (shown only while one of them is).
    static constexpr int kButtonStripHeight = 24;

    KRAPanelHostBase();
    ~KRAPanelHostBase() override;

    static std::shared_ptr<KRAPanelHostBase> newWindow();
    static std::vector<std::shared_ptr<KRAPanelHostBase>> allInstances();
    // The first host whose current panel is a launcher.
    static std::shared_ptr<KRAPanelHostBase> findLauncher();
    // Drops every host (their windows go with them): for the end of the program, before the
    // QApplication is destroyed.
    static void releaseAllInstances();

    // ---- KRAPanelHostInterface ----
    void setCurrentPanel(const std::shared_ptr<KRAPanel>& panel) override;
    void showSubPanel(const std::shared_ptr<KRAPanel>& panel, const std::shared_ptr<KRAPanel>& opener) override;
    // The panels kept for the way back from the one shown, the first opener first.
    const std::vector<std::shared_ptr<KRAPanel>>& openerChain() const { return m_openers; }
    std::shared_ptr<KRAPanel> currentPanel() const override { return m_currentPanel; }
    std::shared_ptr<KRAPanel> rootPanel() const override { return m_rootPanel; }
    void panelBacktraceTo(const std::shared_ptr<KRAPanel>& panel) override;
    bool returnToRoot() override;
    void returnToRootOrClose() override;
    void panelNameChanged() override;
    QWidget* mainWindow() override { return window(); }
    std::shared_ptr<void> contextData() const override { return m_contextData; }
    void setContextData(std::shared_ptr<void> data) override { m_contextData = std::move(data); }

    // The view of the current panel, and the area panel views are put into.
    QWidget* panelView() const { return m_panelView; }
    QWidget* contentView();

    bool isCurrentPanelLauncher() const;
    bool isCurrentPanelWorking() const;
    // True without a panel; else whether the panel allows the open-file command.
    bool canOpenFileNow() const;
    bool panelHostPerformKeyEquivalent(QKeyEvent* event);

    QUrl currentHelpURL();
    virtual QUrl defaultHelpURL() { return QUrl(); }
    void showHelp();
    void showConfig(QObject* sender);
    // The window title for a panel: its name, else "untitled".
    virtual QString windowTitleFromPanel(KRAPanel* panel);
    KRAPanel* menuContextChain() const { return m_currentPanel.get(); }
    // An exception escaped while a panel was being shown; nothing here.
    virtual void panelSwitchError(std::exception_ptr error);

    QString sizeClass() const { return m_sizeClass; }
    // Remembers the window frame under the current size class (when there is one).
    void saveSize();
    // Puts the window on the frame remembered for the size class. False for an empty class,
    // nothing remembered, or a value that is not four whole numbers with a positive width
    // and height. A frame that lies off the window's screen is not applied (false); nor, on
    // the window's first load (initial), one that lies off every screen: the window then
    // stays where it is (centred by default).
    bool applySizeClass(const QString& sizeClass, bool initial);

    QToolButton* helpButton() const { return m_btnHelp; }
    QToolButton* configButton() const { return m_btnConfig; }

    // ---- From the window ----
    // The user closes the window: when the panel shown was opened from another panel and
    // takes Cancel, it is cancelled (back to its opener) and true is returned: the window
    // stays.
    bool closeGoesBack();
    // Closes the window itself (a null panel, nowhere to return to).
    void closeWindow();
    virtual void windowWillClose();
    void windowDidResignKey();

    // QKCancelOperation: Escape goes to the current panel when it takes it.
    bool respondsToCancelOperation() override;
    void cancelOperation(QObject* sender) override;

protected:
    QWidget* loadWindow() override;
    void windowDidLoad() override;
    void setSizeClass(const QString& sizeClass) { m_sizeClass = sizeClass; }
    // Runs after the window closed, on a later turn of the event loop: drops the panels and
    // leaves the set of hosts.
    virtual void windowClosed();

private:
    void showPanel(const std::shared_ptr<KRAPanel>& panel);
    void putInView(QWidget* view);
    void takeOutView();
    void setToolbar(QToolBar* toolbar);
    void updateFrame();
    // The height the window adds to a panel's view for this panel (its toolbar, the button
    // strip).
    int chromeHeightFor(KRAPanel* panel);
    QUrl helpURLFor(KRAPanel* panel);
    void resizeToFitView(const QSize& viewSize, int chromeHeight);
    QRect screenFrame() const;

    std::shared_ptr<KRAPanel> m_currentPanel;
    std::shared_ptr<KRAPanel> m_rootPanel;
    // The opener of the panel shown, and the opener's own openers before it.
    std::vector<std::shared_ptr<KRAPanel>> m_openers;
    std::shared_ptr<void> m_contextData;
    QPointer<QWidget> m_panelView;
    QPointer<QToolBar> m_toolbar;
    QString m_sizeClass;

    QPointer<QKPanelHostWnd> m_wnd;
    QWidget* m_toolbarArea = nullptr;
    QVBoxLayout* m_toolbarLayout = nullptr;
    QWidget* m_buttonStrip = nullptr;
    QWidget* m_content = nullptr;
    QVBoxLayout* m_contentLayout = nullptr;
    QToolButton* m_btnHelp = nullptr;
    QToolButton* m_btnConfig = nullptr;
};
