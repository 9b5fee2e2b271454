#include "app/KREAppDelegate.h"

#include "app/KRAPanelHost.h"
#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"
#include "setup/QKConcatenateOrderDialog.h"

#include <QMessageBox>
#include <QVariantList>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kConvertFiles[] = "--convert-files";
const char kConvertFolder[] = "--convert-folder";

// Why the path cannot be used, or empty text when it can.
QString Unusable(const XStr& path, bool folder)
{
    const std::string bytes = path.ToUTF8String();
    struct stat st {};
    if (stat(bytes.c_str(), &st) != 0)
        return errno == ENOENT ? QStringLiteral("does not exist") : QString::fromLocal8Bit(strerror(errno));
    if (folder && !S_ISDIR(st.st_mode))
        return QStringLiteral("is not a folder");
    if (!folder && S_ISDIR(st.st_mode))
        return QStringLiteral("is a folder");
    if (access(bytes.c_str(), folder ? (R_OK | X_OK) : R_OK) != 0)
        return QStringLiteral("cannot be read");
    return QString();
}

} // namespace

KREAppDelegate::CommandLine KREAppDelegate::parseCommandLine(int argc, char** argv)
{
    CommandLine result;
    if (argc <= 1)
        return result;
    const std::string first = argv[1];
    if (first == "--help" || first == "-h") {
        result.kind = CommandLine::Kind::Help;
        return result;
    }
    if (first == kConvertFiles)
        result.kind = CommandLine::Kind::ConvertFiles;
    else if (first == kConvertFolder)
        result.kind = CommandLine::Kind::ConvertFolders;
    else {
        result.kind = CommandLine::Kind::Wrong;
        result.error = QStringLiteral("unknown argument '%1'").arg(XStrToQString(XStr::FromUTF8(argv[1])));
        return result;
    }
    bool endOfOptions = false;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!endOfOptions && arg == "--") {
            endOfOptions = true;
            continue;
        }
        if (!endOfOptions && (arg == kConvertFiles || arg == kConvertFolder)) {
            result.kind = CommandLine::Kind::Wrong;
            result.error = QStringLiteral("one entry at a time");
            return result;
        }
        result.paths.push_back(XStr::FromUTF8(argv[i]));
    }
    return result;
}

QString KREAppDelegate::usage(const char* program)
{
    return QStringLiteral("Usage: %1                               opens the launcher\n"
                          "       %1 --convert-files FILE...     converts the files\n"
                          "       %1 --convert-folder FOLDER...  opens the batch converter on the folders\n")
        .arg(QString::fromLocal8Bit(program));
}

KREAppDelegate::KREAppDelegate() = default;

KREAppDelegate::~KREAppDelegate() = default;

void KREAppDelegate::applicationDidFinishLaunching()
{
    setShared(this);
}

bool KREAppDelegate::applicationOpenUntitledFile()
{
    onNewWindow();
    return true;
}

std::shared_ptr<KRAPanelHost> KREAppDelegate::onNewWindow()
{
    return KRAPanelHost::newLauncher();
}

std::shared_ptr<KRAPanelHost> KREAppDelegate::start(const CommandLine& commandLine)
{
    switch (commandLine.kind) {
    case CommandLine::Kind::ConvertFiles:
        return convertFiles(commandLine.paths);
    case CommandLine::Kind::ConvertFolders:
        return convertFolders(commandLine.paths);
    default:
        return onNewWindow();
    }
}

QList<QUrl> KREAppDelegate::usablePaths(const std::vector<XStr>& paths, bool folders, QStringList* leftOut)
{
    QList<QUrl> urls;
    for (const XStr& path : paths) {
        const QString why = Unusable(path, folders);
        if (why.isEmpty())
            urls << XFileURL(path);
        else
            leftOut->append(QStringLiteral("%1 (%2)").arg(XStrToQString(path), why));
    }
    return urls;
}

void KREAppDelegate::report(const std::shared_ptr<KRAPanelHost>& host, const QStringList& leftOut, bool folders)
{
    if (leftOut.isEmpty())
        return;
    m_lastReport = QStringLiteral("%1 left out:\n\n%2")
                       .arg(folders ? (leftOut.size() == 1 ? QStringLiteral("This folder cannot be opened and is")
                                                           : QStringLiteral("These folders cannot be opened and are"))
                                    : (leftOut.size() == 1 ? QStringLiteral("This file cannot be read and is")
                                                           : QStringLiteral("These files cannot be read and are")),
                            leftOut.join(QLatin1Char('\n')));
    auto* box = new QMessageBox(QMessageBox::Warning, QString::fromLatin1(KRAPanelHost::kDefaultTitle), m_lastReport,
                                QMessageBox::Ok, host ? host->window() : nullptr);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->open();
}

std::shared_ptr<KRAPanelHost> KREAppDelegate::convertFiles(const std::vector<XStr>& paths)
{
    QStringList leftOut;
    QVariantList items;
    for (const QUrl& url : usablePaths(paths, false, &leftOut))
        items << url;
    auto host = KRAPanelHost::newWindow();
    host->setSuppressReturnToLauncher(true);
    host->preConvertFrom(items, nullptr);
    report(host, leftOut, false);
    return host;
}

std::shared_ptr<KRAPanelHost> KREAppDelegate::convertFolders(const std::vector<XStr>& paths)
{
    QStringList leftOut;
    const QList<QUrl> urls = usablePaths(paths, true, &leftOut);
    auto host = KRAPanelHost::newWindow();
    host->setSuppressReturnToLauncher(true);
    if (KRAPanelHost::hasBatchConverter()) {
        host->startBatchConvertDialogWithSelection(urls);
    } else {
        // Nothing to browse the folders with yet: the launcher, and the reason.
        host->setSuppressReturnToLauncher(false);
        host->setCurrentPanel(KRAPanelHost::newLauncherPanel());
        host->startBatchConvertDialog(nullptr);
    }
    report(host, leftOut, true);
    return host;
}

void KREAppDelegate::preConvertFrom(const QList<QUrl>& files, const std::shared_ptr<KRAPanelHostInterface>& window,
                                    const std::shared_ptr<KRAPanel>& returnToPanel)
{
    auto host = std::dynamic_pointer_cast<KRAPanelHost>(window);
    if (!host)
        return;
    QVariantList items;
    for (const QUrl& url : files)
        items << url;
    host->preConvertFrom(items, returnToPanel);
}

void KREAppDelegate::beginConcatenate(const QList<QUrl>& files, const std::shared_ptr<KRAPanelHostInterface>& window,
                                      const std::shared_ptr<KRAPanel>& returnToPanel)
{
    if (!window)
        return;
    auto dialog = std::make_shared<QKConcatenateOrderDialog>();
    dialog->setSources(files);
    dialog->setPanelReturnTo(returnToPanel);
    window->setCurrentPanel(dialog);
}
