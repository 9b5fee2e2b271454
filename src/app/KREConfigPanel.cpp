#include "app/KREConfigPanel.h"

#include "app/KRAPanelHost.h"
#include "app/KREConfigFFmpeg.h"
#include "app/KREConfigOptions.h"

#include <QAction>
#include <QActionGroup>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

std::weak_ptr<KREConfigPanel>& Existing()
{
    static std::weak_ptr<KREConfigPanel> panel;
    return panel;
}

} // namespace

KREConfigPanel::KREConfigPanel()
{
    setTitle(QStringLiteral("Marvoni Configuration"));
}

KREConfigPanel::~KREConfigPanel()
{
    // The pages' views live in the panel's view: take them out before either goes.
    if (m_contentNow && m_contentNow->isViewLoaded())
        m_contentNow->view()->setParent(nullptr);
    delete m_toolbar.data();
}

std::shared_ptr<KREConfigPanel> KREConfigPanel::current()
{
    return Existing().lock();
}

std::shared_ptr<KREConfigPanel> KREConfigPanel::showIn(const std::shared_ptr<KRAPanelHostInterface>& host,
                                                       bool ffmpegPage)
{
    if (auto existing = current()) {
        if (existing->bump()) {
            if (ffmpegPage)
                existing->switchToFFmpeg();
            return existing;
        }
    }
    auto panel = std::make_shared<KREConfigPanel>();
    Existing() = panel;
    std::shared_ptr<KRAPanelHostInterface> target = host;
    if (!target)
        target = KRAPanelHost::newWindow();
    // The panel it covers stays as it is, for the way back.
    panel->m_returnTo = target->currentPanel();
    target->showSubPanel(panel, target->currentPanel());
    if (QWidget* window = target->mainWindow(); window && !host)
        window->show();
    return panel;
}

bool KREConfigPanel::bump()
{
    const auto host = m_host.lock();
    // A host that has moved on to another panel no longer shows this one.
    if (!host || !host->mainWindow() || host->currentPanel().get() != this)
        return false;
    QWidget* window = host->mainWindow();
    window->show();
    window->raise();
    window->activateWindow();
    return true;
}

QToolBar* KREConfigPanel::panelToolbar()
{
    if (!m_toolbar) {
        auto* toolbar = new QToolBar;
        toolbar->setObjectName(QStringLiteral("configToolbar"));
        toolbar->setMovable(false);
        toolbar->setToolButtonStyle(Qt::ToolButtonTextOnly);
        auto* group = new QActionGroup(toolbar);
        m_ffmpegItem = toolbar->addAction(QStringLiteral("FFmpeg"), this, &KREConfigPanel::switchToFFmpeg);
        m_optionsItem = toolbar->addAction(QStringLiteral("Options"), this, &KREConfigPanel::switchToOptions);
        for (QAction* item : {m_ffmpegItem.data(), m_optionsItem.data()}) {
            item->setCheckable(true);
            group->addAction(item);
        }
        m_ffmpegItem->setShortcut(QKeySequence(QStringLiteral("Ctrl+1")));
        m_optionsItem->setShortcut(QKeySequence(QStringLiteral("Ctrl+2")));
        m_ffmpegItem->setChecked(m_contentNow == nullptr || m_contentNow == m_contentFFmpeg.get());
        m_optionsItem->setChecked(m_contentNow != nullptr && m_contentNow == m_contentOptions.get());
        m_toolbar = toolbar;
    }
    return m_toolbar;
}

void KREConfigPanel::loadView()
{
    auto* view = new QWidget;
    view->setObjectName(QStringLiteral("KREConfigPanel"));
    m_pageLayout = new QVBoxLayout(view);
    m_pageLayout->setContentsMargins(12, 8, 12, 12);
    setView(view);
}

void KREConfigPanel::viewDidLoad()
{
    panelToolbar();
    switchToFFmpeg();
}

void KREConfigPanel::switchToFFmpeg()
{
    if (!m_contentFFmpeg)
        m_contentFFmpeg = std::make_unique<KREConfigFFmpeg>();
    if (m_ffmpegItem)
        m_ffmpegItem->setChecked(true);
    switchTo(m_contentFFmpeg.get());
}

void KREConfigPanel::switchToOptions()
{
    if (!m_contentOptions)
        m_contentOptions = std::make_unique<KREConfigOptions>();
    if (m_optionsItem)
        m_optionsItem->setChecked(true);
    switchTo(m_contentOptions.get());
}

void KREConfigPanel::switchTo(QKViewController* page)
{
    if (page == m_contentNow)
        return;
    view();
    if (m_contentNow && m_contentNow->isViewLoaded()) {
        QWidget* old = m_contentNow->view();
        m_pageLayout->removeWidget(old);
        old->hide();
        old->setParent(nullptr);
    }
    m_contentNow = page;
    QWidget* shown = page->view();
    m_pageLayout->addWidget(shown);
    shown->show();
    shown->setFocus();
}

void KREConfigPanel::panelWillClose()
{
    if (Existing().lock().get() == this)
        Existing().reset();
}

void KREConfigPanel::cancelOperation(QObject* sender)
{
    (void)sender;
    auto host = m_host.lock();
    if (!host)
        return;
    if (const std::shared_ptr<KRAPanel> back = m_returnTo.lock())
        host->setCurrentPanel(back);
    else
        host->returnToRootOrClose();
}
