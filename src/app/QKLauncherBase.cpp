#include "app/QKLauncherBase.h"

#include "kit/KRAClickableTextField.h"
#include "kit/KitHelp.h"
#include "kit/KitMenus.h"
#include "kit/QKNamedImages.h"
#include "platform/XWorkspace.h"
#include "xclass/XRegistry.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QPixmap>
#include <QToolButton>
#include <QVBoxLayout>

#include <thread>

namespace {

QKLauncherBase::VersionLookup& Lookup()
{
    static QKLauncherBase::VersionLookup lookup;
    return lookup;
}

const QString kUriList = QStringLiteral("text/uri-list");

} // namespace

// ---- Tiles ----

void QKLauncherApp::loadView()
{
    auto* button = new QToolButton;
    button->setObjectName(QStringLiteral("launcherTile%1").arg(appIndex));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::StrongFocus);
    // A flat tile draws no focus of its own: the keyboard's tile gets a frame in the
    // highlight colour, the mouse's a light background.
    button->setStyleSheet(
        QStringLiteral("QToolButton { border: 2px solid transparent; border-radius: 6px; padding: 4px; }"
                       "QToolButton:hover { background: palette(midlight); }"
                       "QToolButton:focus { border-color: palette(highlight); }"));
    button->setIconSize(QSize(96, 96));
    const QImage logo = QKNamedImages::imageNamed(appLogo);
    if (!logo.isNull())
        button->setIcon(QPixmap::fromImage(logo));
    button->setText(mnemonicFree(appSubTitle.isEmpty() ? appTitle : appTitle + QLatin1Char('\n') + appSubTitle));
    button->setToolTip(appSubTitle);
    button->setAccessibleName(appTitle);
    button->setMinimumWidth(150);
    QFont font = button->font();
    font.setPointSizeF(font.pointSizeF() * 1.15);
    button->setFont(font);
    connect(button, &QToolButton::clicked, this, &QKLauncherApp::clicked);
    m_button = button;
    setView(button);
}

void QKLauncherApp::clicked()
{
    if (!owner)
        return;
    if (action)
        action(owner);
    else
        owner->appSelected(appIndex);
}

// ---- Extras ----

void QKLauncherConfig::loadView()
{
    auto* link = new KRAClickableTextField(QStringLiteral("Advanced settings\u2026"));
    link->setObjectName(QStringLiteral("advancedSettings"));
    link->setAlignment(Qt::AlignCenter);
    connect(link, &KRAClickableTextField::clicked, this, &QKLauncherConfig::onAdvancedSettings);
    setView(link);
}

void QKLauncherConfig::onAdvancedSettings()
{
    if (owner)
        owner->showConfig();
}

void QKLauncherFFmpegLGPL::loadView()
{
    auto* label = new QLabel(
        QStringLiteral("Conversions are made by FFmpeg (ffmpeg.org), run as a program of its own. Which ffmpeg is "
                       "used, and its licence, is shown under Advanced settings."));
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignCenter);
    label->setEnabled(false); // a quiet note, not a control
    setView(label);
}

// ---- The launcher ----

void QKLauncherBase::setVersionLookup(VersionLookup lookup)
{
    Lookup() = std::move(lookup);
}

QKLauncherBase::QKLauncherBase()
{
    setTitle(appTitle());
}

QKLauncherBase::~QKLauncherBase()
{
    if (m_dropView)
        m_dropView->setDropTarget(nullptr);
}

void QKLauncherBase::addApp(const QString& title, const QString& subTitle, const QString& logo,
                            QKLauncherApp::Action action)
{
    auto app = std::make_shared<QKLauncherApp>();
    app->appTitle = title;
    app->appSubTitle = subTitle;
    app->appLogo = logo;
    app->owner = this;
    app->appIndex = m_appRef.size();
    app->action = std::move(action);
    m_appRef.push_back(app);
    if (m_didLoad)
        layoutApps();
}

void QKLauncherBase::addAppHelp()
{
    addApp(QStringLiteral("Help"), QStringLiteral("view help"), QStringLiteral("Help"),
           [](QKLauncherBase* owner) { owner->appHelpClicked(); });
}

void QKLauncherBase::addPanel(std::variant<std::shared_ptr<QKViewController>, QWidget*> panel)
{
    m_panelRetain.push_back(std::move(panel));
    if (m_didLoad)
        layoutExtras();
}

QWidget* QKLauncherBase::panelInitialFocus()
{
    for (const std::shared_ptr<QKLauncherApp>& app : m_appRef)
        if (app->isViewLoaded() && app->button())
            return app->button();
    return nullptr;
}

void QKLauncherBase::appHelpClicked()
{
    KitOpenHelp(KitHelpURL(QString::fromLatin1(kHelpPath)), isViewLoaded() ? view() : nullptr);
}

QString QKLauncherBase::appVersion() const
{
    return QStringLiteral(MARVONI_APP_VERSION);
}

void QKLauncherBase::appUpdateLinkClick()
{
    if (!m_updateURL.isEmpty())
        QDesktopServices::openUrl(QUrl(m_updateURL));
}

void QKLauncherBase::loadView()
{
    auto* root = new QKDropTargetView;
    root->setObjectName(QStringLiteral("QKLauncherBase"));
    auto* layout = new QVBoxLayout(root);
    layout->setContentsMargins(36, 28, 36, 24);
    layout->setSpacing(18);

    auto* heading = new QLabel(appTitle());
    QFont font = heading->font();
    font.setPointSizeF(font.pointSizeF() * 1.6);
    font.setBold(true);
    heading->setFont(font);
    heading->setAlignment(Qt::AlignCenter);
    layout->addWidget(heading);

    auto* hint = new QLabel(QStringLiteral("Choose a tool, or drop files or folders here."));
    hint->setAlignment(Qt::AlignCenter);
    layout->addWidget(hint);

    auto* apps = new QHBoxLayout;
    apps->setSpacing(50);
    layout->addLayout(apps);
    m_appsStack = apps;

    auto* link = new KRAClickableTextField;
    link->setObjectName(QStringLiteral("updateLink"));
    link->setAlignment(Qt::AlignCenter);
    link->hide(); // until a newer version is listed
    connect(link, &KRAClickableTextField::clicked, this, &QKLauncherBase::appUpdateLinkClick);
    layout->addWidget(link);
    m_updateLink = link;

    auto* extras = new QVBoxLayout;
    extras->setSpacing(0);
    layout->addLayout(extras);
    m_extrasStack = extras;

    m_dropView = root;
    setView(root);
}

void QKLauncherBase::viewDidLoad()
{
    m_didLoad = true;
    layoutApps();
    layoutExtras();
    if (XRegistry::GetDWORD(L"NoCheckUpdates") != 0)
        return;
    if (!appUpdateCheckName().isEmpty())
        latestVersionCheck();
}

void QKLauncherBase::layoutApps()
{
    if (!m_appsStack)
        return;
    while (QLayoutItem* item = m_appsStack->takeAt(0))
        delete item;
    m_appsStack->addStretch(1);
    QWidget* previous = nullptr;
    for (const auto& app : m_appRef) {
        m_appsStack->addWidget(app->view());
        if (previous)
            QWidget::setTabOrder(previous, app->view());
        previous = app->view();
    }
    m_appsStack->addStretch(1);
}

void QKLauncherBase::layoutExtras()
{
    if (!m_extrasStack)
        return;
    while (QLayoutItem* item = m_extrasStack->takeAt(0))
        delete item;
    for (const auto& panel : m_panelRetain) {
        QWidget* widget = nullptr;
        if (const auto* controller = std::get_if<std::shared_ptr<QKViewController>>(&panel))
            widget = *controller ? (*controller)->view() : nullptr;
        else
            widget = std::get<QWidget*>(panel);
        if (widget)
            m_extrasStack->addWidget(widget);
    }
}

void QKLauncherBase::latestVersionCheck()
{
    const VersionLookup lookup = Lookup();
    if (!lookup)
        return;
    const QString name = appUpdateCheckName();
    const QString mine = appVersion();
    QPointer<QKLauncherBase> self(this);
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    QPointer<QCoreApplication> target(app);
    std::thread([lookup, name, mine, self, target] {
        const std::optional<ListedVersion> listed = lookup(name);
        // A listed version that is not exactly ours, older or newer, is offered.
        if (!listed || listed->version == mine || !target)
            return;
        QMetaObject::invokeMethod(
            target.data(),
            [self, listed] {
                if (self)
                    self->onUpdateAvailable(*listed);
            },
            Qt::QueuedConnection);
    }).detach();
}

void QKLauncherBase::onUpdateAvailable(const ListedVersion& listed)
{
    m_updateURL = listed.url;
    if (!m_updateLink)
        return;
    m_updateLink->setText(QStringLiteral("update to %1").arg(listed.version));
    m_updateLink->show();
}

// ---- Drops ----

void QKLauncherBase::enableDropFiles()
{
    view();
    if (!m_dropView)
        return;
    m_dropView->setDropTarget(this);
    m_dropView->registerForDraggedTypes({kUriList});
}

Qt::DropAction QKLauncherBase::draggingEntered(QDragEnterEvent* event, QKDropTargetView* view)
{
    (void)view;
    return event->mimeData()->hasFormat(kUriList) ? Qt::CopyAction : Qt::IgnoreAction;
}

bool QKLauncherBase::performDragOperation(QDropEvent* event, QKDropTargetView* view)
{
    (void)view;
    const QMimeData* data = event->mimeData();
    if (!data->hasFormat(kUriList))
        return false;
    const QList<QUrl> files = XFileURLsFromUriList(data->data(kUriList));
    if (files.isEmpty())
        return false;
    onDropFiles(files);
    return true;
}
