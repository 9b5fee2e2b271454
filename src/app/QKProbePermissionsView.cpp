#include "app/QKProbePermissionsView.h"

#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"
#include "xclass/XEnvironment.h"
#include "xclass/XRegistry.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QUrl>
#include <QVBoxLayout>

#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>

QKProbePermissionsView::QKProbePermissionsView(QObject* parent) : QKPanelViewController(parent) {}

QStringList QKProbePermissionsView::probedFolders()
{
    return {XStrToQString(XGetXdgUserFolder("DOCUMENTS", L"Documents")),
            XStrToQString(XGetXdgUserFolder("DESKTOP", L"Desktop"))};
}

bool QKProbePermissionsView::isFolderBlocked(const QString& path)
{
    if (path.isEmpty())
        return false;
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (stat(native.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false; // a folder that is not there keeps nothing from anyone
    DIR* dir = opendir(native.constData());
    if (dir) {
        closedir(dir);
        return false;
    }
    return errno == EACCES || errno == EPERM;
}

QString QKProbePermissionsView::firstBlockedFolder(const QStringList& folders)
{
    for (const QString& folder : folders) {
        if (isFolderBlocked(folder))
            return folder;
    }
    return QString();
}

bool QKProbePermissionsView::probeIfNeeded()
{
    if (XRegistry::GetDWORD(kSuppressValue) != 0)
        return false;
    return !firstBlockedFolder(probedFolders()).isEmpty();
}

void QKProbePermissionsView::loadView()
{
    auto* view = new QWidget;
    view->setObjectName(QStringLiteral("QKProbePermissionsView"));
    auto* layout = new QVBoxLayout(view);
    layout->setContentsMargins(20, 20, 20, 20);

    auto* message = new QLabel(view);
    message->setObjectName(QStringLiteral("message"));
    message->setWordWrap(true);
    layout->addWidget(message);
    m_messageLabel = message;

    auto* folder = new QLabel(view);
    folder->setObjectName(QStringLiteral("folder"));
    folder->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(folder);
    m_folderLabel = folder;

    auto* actions = new QHBoxLayout;
    auto* open = new QPushButton(tr("Show in File Manager"), view);
    open->setObjectName(QStringLiteral("btnOpenPreferences"));
    connect(open, &QPushButton::clicked, this, &QKProbePermissionsView::onOpenPreferences);
    actions->addWidget(open);
    auto* instructions = new QPushButton(tr("View Instructions"), view);
    instructions->setObjectName(QStringLiteral("btnViewInstructions"));
    connect(instructions, &QPushButton::clicked, this, &QKProbePermissionsView::onViewInstructions);
    actions->addWidget(instructions);
    actions->addStretch(1);
    layout->addLayout(actions);
    layout->addStretch(1);

    auto* bottom = new QHBoxLayout;
    auto* notAgain = new QCheckBox(tr("Do not show this again"), view);
    notAgain->setObjectName(QStringLiteral("notAgain"));
    connect(notAgain, &QCheckBox::toggled, this, [this](bool on) {
        m_notAgain = on;
        onNotAgain();
    });
    bottom->addWidget(notAgain);
    m_notAgainBox = notAgain;
    bottom->addStretch(1);
    auto* cont = new QPushButton(tr("Continue"), view);
    cont->setObjectName(QStringLiteral("btnContinue"));
    cont->setDefault(true);
    connect(cont, &QPushButton::clicked, this, &QKProbePermissionsView::onBtnContinue);
    bottom->addWidget(cont);
    layout->addLayout(bottom);

    setView(view);
}

void QKProbePermissionsView::viewDidLoad()
{
    m_strMessage = QStringLiteral("Marvoni Video Converter requires Files and Folders access permissions enabled "
                                  "in the folder's Properties in your file manager.");
    m_blockedFolder = firstBlockedFolder(probedFolders());
    if (m_messageLabel)
        m_messageLabel->setText(m_strMessage);
    if (m_folderLabel) {
        m_folderLabel->setText(QDir::toNativeSeparators(m_blockedFolder));
        m_folderLabel->setVisible(!m_blockedFolder.isEmpty());
    }
    if (m_notAgainBox) {
        const QSignalBlocker quiet(m_notAgainBox); // showing the state is not a click
        m_notAgainBox->setChecked(m_notAgain);
    }
}

void QKProbePermissionsView::onOpenPreferences()
{
    const QString folder = m_blockedFolder.isEmpty() ? QDir::homePath() : m_blockedFolder;
    XRevealInFileManager(XStrFromQString(folder));
}

void QKProbePermissionsView::onViewInstructions()
{
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(kInstructionsURL)));
}

void QKProbePermissionsView::onBtnContinue()
{
    if (auto host = m_host.lock())
        host->setCurrentPanel(m_panelContinueTo);
}

void QKProbePermissionsView::onNotAgain()
{
    XRegistry::SetDWORD(m_notAgain ? 1 : 0, kSuppressValue);
}
