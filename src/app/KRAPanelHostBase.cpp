#include "app/KRAPanelHostBase.h"

#include "app/QKPanelHostWnd.h"
#include "kit/KitHelp.h"
#include "kit/KitKeyEvents.h"
#include "kit/KitScreenFit.h"

#include <QApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

std::vector<std::shared_ptr<KRAPanelHostBase>>& Instances()
{
    // Never destroyed: the hosts must go while the QApplication still exists
    // (releaseAllInstances), not during static destruction.
    static auto* instances = new std::vector<std::shared_ptr<KRAPanelHostBase>>();
    return *instances;
}

// The size a view asks for: the size it was given (by its panel or an earlier window), else
// what its layout wants.
QSize ViewFrameSize(QWidget* view)
{
    if (!view)
        return QSize(0, 0);
    QSize size;
    if (view->testAttribute(Qt::WA_Resized))
        size = view->size();
    else if (view->sizeHint().isValid())
        size = view->sizeHint().expandedTo(view->minimumSizeHint());
    else
        size = view->size();
    return size.expandedTo(view->minimumSize()).expandedTo(QSize(0, 0));
}

// Keeps old panels alive until the event being handled now has finished: a panel's button
// may have started the switch, and its view must outlive that click.
void KeepUntilNextTurn(std::shared_ptr<KRAPanel> panel)
{
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [panel] { (void)panel; }, Qt::QueuedConnection);
}

} // namespace

QString KRAPanelHostBase::sizeClassKey(const QString& sizeClass)
{
    return QStringLiteral("autosave-size-%1").arg(sizeClass);
}

KRAPanelHostBase::KRAPanelHostBase() = default;

KRAPanelHostBase::~KRAPanelHostBase()
{
    if (m_wnd) {
        m_wnd->detachController();
        // The panels may live on elsewhere: their views and toolbars are theirs, not the
        // window's.
        takeOutView();
        setToolbar(nullptr);
    }
    delete takeWindow();
}

std::shared_ptr<KRAPanelHostBase> KRAPanelHostBase::newWindow()
{
    auto host = std::make_shared<KRAPanelHostBase>();
    host->window();
    return host;
}

std::vector<std::shared_ptr<KRAPanelHostBase>> KRAPanelHostBase::allInstances()
{
    return Instances();
}

std::shared_ptr<KRAPanelHostBase> KRAPanelHostBase::findLauncher()
{
    for (const auto& host : Instances()) {
        if (host->isCurrentPanelLauncher())
            return host;
    }
    return nullptr;
}

void KRAPanelHostBase::releaseAllInstances()
{
    std::vector<std::shared_ptr<KRAPanelHostBase>> hosts;
    hosts.swap(Instances());
    hosts.clear();
}

QWidget* KRAPanelHostBase::loadWindow()
{
    auto* wnd = new QKPanelHostWnd(this);
    wnd->setObjectName(QStringLiteral("KRAPanelHostBase"));
    m_wnd = wnd;

    auto* layout = new QVBoxLayout(wnd);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    // The window's limits come from the panels, not from the layout.
    layout->setSizeConstraint(QLayout::SetNoConstraint);

    m_toolbarArea = new QWidget(wnd);
    m_toolbarLayout = new QVBoxLayout(m_toolbarArea);
    m_toolbarLayout->setContentsMargins(0, 0, 0, 0);
    m_toolbarArea->hide();
    layout->addWidget(m_toolbarArea);

    m_buttonStrip = new QWidget(wnd);
    m_buttonStrip->setFixedHeight(kButtonStripHeight);
    auto* strip = new QHBoxLayout(m_buttonStrip);
    strip->setContentsMargins(0, 0, 5, 0); // the right-most button 5 from the window's edge
    strip->setSpacing(0);
    strip->addStretch(1);
    m_buttonStrip->hide();
    layout->addWidget(m_buttonStrip);

    m_content = new QWidget(wnd);
    m_contentLayout = new QVBoxLayout(m_content);
    m_contentLayout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_content, 1);

    auto* help = new QShortcut(QKeySequence::HelpContents, wnd);
    connect(help, &QShortcut::activated, this, [this] { showHelp(); });

    // Until a panel or a remembered frame says otherwise: the middle of the main screen.
    QRect frame(0, 0, kDefaultWidth, kDefaultHeight);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        frame.moveCenter(screen->availableGeometry().center());
    wnd->setGeometry(frame);
    return wnd;
}

void KRAPanelHostBase::windowDidLoad()
{
    QKWindowController::windowDidLoad();
    if (auto self = weak_from_this().lock()) {
        auto& instances = Instances();
        if (std::find(instances.begin(), instances.end(), self) == instances.end())
            instances.push_back(self);
    }
    applySizeClass(m_sizeClass, true);
}

QWidget* KRAPanelHostBase::contentView()
{
    window();
    return m_content;
}

void KRAPanelHostBase::setCurrentPanel(const std::shared_ptr<KRAPanel>& panel)
{
    window();
    saveSize();
    if (!panel) {
        closeWindow();
        return;
    }
    if (panel == m_currentPanel)
        return;
    // Back to an opener: it and the panels opened after it leave the chain. Any other panel
    // ends the chain; the panels in it go once nothing else holds them.
    const auto opener = std::find(m_openers.begin(), m_openers.end(), panel);
    std::vector<std::shared_ptr<KRAPanel>> released(opener, m_openers.end());
    if (opener == m_openers.end())
        released.swap(m_openers);
    else
        m_openers.erase(opener, m_openers.end());
    for (std::shared_ptr<KRAPanel>& gone : released)
        KeepUntilNextTurn(std::move(gone));
    try {
        showPanel(panel);
    } catch (...) {
        // Thrown out of a panel's code: letting it unwind through Qt's event loop would end
        // the program.
        panelSwitchError(std::current_exception());
    }
}

void KRAPanelHostBase::showSubPanel(const std::shared_ptr<KRAPanel>& panel, const std::shared_ptr<KRAPanel>& opener)
{
    if (!panel || !opener || opener == panel) {
        setCurrentPanel(panel);
        return;
    }
    std::vector<std::shared_ptr<KRAPanel>> chain;
    const auto known = std::find(m_openers.begin(), m_openers.end(), opener);
    if (known != m_openers.end()) {
        chain.assign(m_openers.begin(), known + 1);
    } else {
        if (opener == m_currentPanel)
            chain = m_openers;
        chain.push_back(opener);
    }
    setCurrentPanel(panel);
    if (m_currentPanel == panel)
        m_openers = std::move(chain);
}

void KRAPanelHostBase::showPanel(const std::shared_ptr<KRAPanel>& panel)
{
    QWidget* wnd = window();

    panel->panelWillBecomeVisible();
    if (m_currentPanel)
        m_currentPanel->panelWillClose();
    takeOutView();

    QWidget* view = panel->panelView();
    const int chrome = chromeHeightFor(panel.get());
    // No limit may keep the window larger than its screen: a panel that asks for more
    // shrinks to what the screen has (its views scroll).
    const QSize largest = KitLargestClientSize(wnd);
    if (panel->panelResizable()) {
        const QSize minimum = panel->panelMinSize().expandedTo(QSize(0, 0));
        wnd->setMinimumSize((minimum + QSize(0, chrome)).boundedTo(largest));
        wnd->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    } else {
        const QSize fixed = (ViewFrameSize(view) + QSize(0, chrome)).boundedTo(largest);
        wnd->setMinimumSize(fixed);
        wnd->setMaximumSize(fixed);
    }

    if (m_currentPanel)
        KeepUntilNextTurn(m_currentPanel);

    wnd->setWindowTitle(windowTitleFromPanel(panel.get()));
    m_currentPanel = panel;

    const QString sizeClass = panel->panelSizeClass();
    if (!sizeClass.isEmpty()) {
        if (sizeClass == m_sizeClass) {
            putInView(view);
        } else {
            m_sizeClass = sizeClass;
            const QSize viewSize = ViewFrameSize(view);
            const bool applied = applySizeClass(sizeClass, false);
            putInView(view);
            if (!applied)
                resizeToFitView(viewSize, chrome);
        }
    } else if (panel->panelSizeToHost()) {
        putInView(view);
    } else {
        m_sizeClass.clear();
        QSize viewSize = ViewFrameSize(view);
        const QSize preferred = panel->panelPreferredSize();
        if (preferred.width() > 0)
            viewSize.setWidth(preferred.width());
        if (preferred.height() > 0)
            viewSize.setHeight(preferred.height());
        if (view)
            view->resize(viewSize);
        putInView(view);
        resizeToFitView(viewSize, chrome);
    }

    setToolbar(panel->panelToolbar());
    wnd->show();
    // Shown, the window has its decorations: they too stay on the screen.
    KitKeepOnScreen(wnd);

    panel->panelDidBecomeVisible();
    if (panel->panelIsRoot())
        m_rootPanel = panel;
    panel->panelAttachedToHost(weak_from_this().lock());

    updateFrame();
    if (QLayout* layout = wnd->layout())
        layout->activate();
    // The keyboard starts on the panel's main control, with the focus drawn as the Tab key
    // draws it.
    QWidget* first = panel->panelInitialFocus();
    if (!first || !view || !view->isAncestorOf(first) || !first->isEnabled())
        first = KitFirstTabStop(view);
    if (first)
        first->setFocus(Qt::TabFocusReason);
}

void KRAPanelHostBase::putInView(QWidget* view)
{
    m_panelView = view;
    if (!view)
        return;
    m_contentLayout->addWidget(view);
    view->show();
}

void KRAPanelHostBase::takeOutView()
{
    if (!m_panelView)
        return;
    QWidget* view = m_panelView;
    m_panelView = nullptr;
    if (m_contentLayout)
        m_contentLayout->removeWidget(view);
    view->hide();
    view->setParent(nullptr);
}

void KRAPanelHostBase::setToolbar(QToolBar* toolbar)
{
    if (m_toolbar == toolbar)
        return;
    if (m_toolbar) {
        QToolBar* old = m_toolbar;
        if (m_toolbarLayout)
            m_toolbarLayout->removeWidget(old);
        old->hide();
        old->setParent(nullptr);
    }
    m_toolbar = toolbar;
    if (toolbar && m_toolbarLayout) {
        m_toolbarLayout->addWidget(toolbar);
        toolbar->show();
    }
    if (m_toolbarArea)
        m_toolbarArea->setVisible(toolbar != nullptr);
}

int KRAPanelHostBase::chromeHeightFor(KRAPanel* panel)
{
    int height = 0;
    if (QToolBar* toolbar = panel ? panel->panelToolbar() : nullptr)
        height += toolbar->sizeHint().height();
    if (helpURLFor(panel).isValid() || (panel && panel->panelHasConfigure()))
        height += kButtonStripHeight;
    return height;
}

QUrl KRAPanelHostBase::helpURLFor(KRAPanel* panel)
{
    const QUrl url = panel ? panel->panelHelpURL() : QUrl();
    return url.isValid() ? url : defaultHelpURL();
}

QUrl KRAPanelHostBase::currentHelpURL()
{
    return helpURLFor(m_currentPanel.get());
}

QRect KRAPanelHostBase::screenFrame() const
{
    QScreen* screen = m_wnd ? m_wnd->screen() : nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

void KRAPanelHostBase::resizeToFitView(const QSize& viewSize, int chromeHeight)
{
    QWidget* wnd = window();
    // The frame is the window with its decorations (none before it is first shown).
    const QRect oldFrame = wnd->frameGeometry();
    const QSize decoration = KitDecorationSize(wnd);
    const QSize client =
        (viewSize + QSize(0, chromeHeight)).expandedTo(wnd->minimumSize()).boundedTo(wnd->maximumSize());
    const QSize frameSize = client + decoration;
    // The frame grows or shrinks about its centre, then is kept inside the screen's available
    // area, smaller where the screen is.
    QRect frame(oldFrame.x() - (frameSize.width() - oldFrame.width()) / 2,
                oldFrame.y() - (frameSize.height() - oldFrame.height()) / 2, frameSize.width(), frameSize.height());
    frame = KitFitFrame(frame, screenFrame());
    wnd->resize((frame.size() - decoration).expandedTo(QSize(1, 1)));
    wnd->move(frame.topLeft());
}

void KRAPanelHostBase::updateFrame()
{
    if (!m_buttonStrip)
        return;
    auto* strip = static_cast<QHBoxLayout*>(m_buttonStrip->layout());
    const bool wantHelp = currentHelpURL().isValid();
    const bool wantConfig = m_currentPanel && m_currentPanel->panelHasConfigure();

    if (wantHelp && !m_btnHelp) {
        m_btnHelp = new QToolButton(m_buttonStrip);
        m_btnHelp->setObjectName(QStringLiteral("btnHelp"));
        m_btnHelp->setText(QStringLiteral("?"));
        m_btnHelp->setToolTip(tr("Help"));
        m_btnHelp->setAutoRaise(true);
        m_btnHelp->setFixedSize(24, kButtonStripHeight);
        // Like a title-bar button, outside the Tab order; F1 is its key.
        m_btnHelp->setFocusPolicy(Qt::NoFocus);
        connect(m_btnHelp, &QToolButton::clicked, this, [this] { showHelp(); });
        strip->addWidget(m_btnHelp); // right-most
    }
    if (wantConfig && !m_btnConfig) {
        m_btnConfig = new QToolButton(m_buttonStrip);
        m_btnConfig->setObjectName(QStringLiteral("btnConfig"));
        m_btnConfig->setText(QString(QChar(0x2699))); // gear
        m_btnConfig->setToolTip(tr("Settings"));
        m_btnConfig->setAutoRaise(true);
        m_btnConfig->setFixedSize(24, kButtonStripHeight);
        m_btnConfig->setFocusPolicy(Qt::NoFocus);
        connect(m_btnConfig, &QToolButton::clicked, this, [this] { showConfig(m_btnConfig); });
        // Left of the help button when there is one.
        strip->insertWidget(1, m_btnConfig);
    }
    if (m_btnHelp) {
        m_btnHelp->setVisible(wantHelp);
        m_btnHelp->setEnabled(wantHelp);
    }
    if (m_btnConfig) {
        m_btnConfig->setVisible(wantConfig);
        m_btnConfig->setEnabled(wantConfig);
    }
    m_buttonStrip->setVisible(wantHelp || wantConfig);
}

void KRAPanelHostBase::panelBacktraceTo(const std::shared_ptr<KRAPanel>& panel)
{
    if (panel)
        panel->panelBeforeBacktraceFrom(m_currentPanel.get());
    setCurrentPanel(panel);
}

bool KRAPanelHostBase::returnToRoot()
{
    if (!m_rootPanel)
        return false;
    const std::shared_ptr<KRAPanel> root = m_rootPanel;
    panelBacktraceTo(root);
    return true;
}

void KRAPanelHostBase::returnToRootOrClose()
{
    if (!returnToRoot())
        closeWindow();
}

void KRAPanelHostBase::panelNameChanged()
{
    if (isWindowLoaded() && m_currentPanel)
        window()->setWindowTitle(windowTitleFromPanel(m_currentPanel.get()));
}

bool KRAPanelHostBase::isCurrentPanelLauncher() const
{
    return m_currentPanel && m_currentPanel->panelIsLauncher();
}

bool KRAPanelHostBase::isCurrentPanelWorking() const
{
    return m_currentPanel && m_currentPanel->panelIsWorking();
}

bool KRAPanelHostBase::canOpenFileNow() const
{
    return !m_currentPanel || m_currentPanel->panelAllowsOpenFileMenu();
}

bool KRAPanelHostBase::panelHostPerformKeyEquivalent(QKeyEvent* event)
{
    return m_currentPanel && m_currentPanel->panelPerformKeyEquivalent(event);
}

void KRAPanelHostBase::showHelp()
{
    KitOpenHelp(currentHelpURL(), window());
}

void KRAPanelHostBase::showConfig(QObject* sender)
{
    if (m_currentPanel && m_currentPanel->panelHasConfigure())
        m_currentPanel->panelConfigure(sender);
}

QString KRAPanelHostBase::windowTitleFromPanel(KRAPanel* panel)
{
    const QString name = panel ? panel->panelName() : QString();
    return name.isEmpty() ? QStringLiteral("untitled") : name;
}

void KRAPanelHostBase::panelSwitchError(std::exception_ptr) {}

void KRAPanelHostBase::saveSize()
{
    if (m_sizeClass.isEmpty() || !isWindowLoaded())
        return;
    QWidget* wnd = window();
    QSettings().setValue(
        sizeClassKey(m_sizeClass),
        QStringLiteral("%1 %2 %3 %4").arg(wnd->x()).arg(wnd->y()).arg(wnd->width()).arg(wnd->height()));
}

bool KRAPanelHostBase::applySizeClass(const QString& sizeClass, bool initial)
{
    if (sizeClass.isEmpty())
        return false;
    const QString value = QSettings().value(sizeClassKey(sizeClass)).toString();
    if (value.isEmpty())
        return false;
    const QStringList parts = value.split(QLatin1Char(' '));
    if (parts.size() != 4)
        return false;
    int numbers[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        numbers[i] = parts[i].toInt(&ok);
        if (!ok)
            return false; // a hand-edited or damaged value: never a window of no size at 0,0
    }
    const QRect frame(numbers[0], numbers[1], numbers[2], numbers[3]);
    if (frame.width() <= 0 || frame.height() <= 0)
        return false;

    if (initial) {
        // A frame from a screen that is no longer attached would open the window where
        // nobody can see it.
        bool onSomeScreen = false;
        for (QScreen* screen : QGuiApplication::screens())
            onSomeScreen = onSomeScreen || frame.intersects(screen->geometry());
        if (!onSomeScreen)
            return false;
    } else {
        QScreen* screen = m_wnd ? m_wnd->screen() : QGuiApplication::primaryScreen();
        if (!screen || !frame.intersects(screen->geometry()))
            return false;
    }
    // A frame saved on a larger screen, or half off this one, comes back inside it.
    QWidget* wnd = window();
    const QSize decoration = KitDecorationSize(wnd);
    QScreen* under = QGuiApplication::screenAt(frame.center());
    const QRect area = under ? under->availableGeometry() : screenFrame();
    const QRect fitted = KitFitFrame(QRect(frame.topLeft(), frame.size() + decoration), area);
    wnd->move(fitted.topLeft());
    wnd->resize((fitted.size() - decoration).expandedTo(QSize(1, 1)));
    return true;
}

void KRAPanelHostBase::closeWindow()
{
    if (m_wnd)
        m_wnd->closeByHost();
    else
        close();
}

bool KRAPanelHostBase::closeGoesBack()
{
    if (m_openers.empty() || !m_currentPanel || !respondsToCancelOperation())
        return false;
    const std::shared_ptr<KRAPanel> shown = m_currentPanel;
    cancelOperation(window());
    // A panel whose Cancel did not leave it is closed with the window after all.
    return m_currentPanel != shown;
}

void KRAPanelHostBase::windowWillClose()
{
    saveSize();
    if (m_currentPanel)
        m_currentPanel->panelWillClose();
    std::weak_ptr<KRAPanelHostBase> weak = weak_from_this();
    QPointer<KRAPanelHostBase> guard(this);
    if (QCoreApplication* app = QCoreApplication::instance()) {
        QMetaObject::invokeMethod(
            app,
            [weak, guard] {
                std::shared_ptr<KRAPanelHostBase> keep = weak.lock(); // goes when this returns
                if (guard)
                    guard->windowClosed();
            },
            Qt::QueuedConnection);
    }
}

void KRAPanelHostBase::windowClosed()
{
    takeOutView();
    setToolbar(nullptr);
    m_currentPanel.reset();
    m_openers.clear();
    m_rootPanel.reset();
    auto& instances = Instances();
    for (auto it = instances.begin(); it != instances.end(); ++it) {
        if (it->get() == this) {
            std::shared_ptr<KRAPanelHostBase> self = std::move(*it);
            instances.erase(it);
            return; // self goes here, unless the caller still holds the host
        }
    }
}

void KRAPanelHostBase::windowDidResignKey()
{
    if (m_currentPanel)
        m_currentPanel->panelWindowDidResignKey();
}

bool KRAPanelHostBase::respondsToCancelOperation()
{
    auto* target = dynamic_cast<QKCancelOperation*>(m_currentPanel.get());
    return target && target->respondsToCancelOperation();
}

void KRAPanelHostBase::cancelOperation(QObject* sender)
{
    if (auto* target = dynamic_cast<QKCancelOperation*>(m_currentPanel.get()))
        target->cancelOperation(sender);
}
