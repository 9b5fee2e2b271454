#include "kit/KitHelp.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QMessageBox>
#include <QWidget>

#include "platform/XStrQString.h"
#include "xclass/XEnvironment.h"

QUrl KitMakerHelpURL(const QString& path)
{
    const QString base = qEnvironmentVariable("MARVONI_WEB_BASE").trimmed();
    if (base.isEmpty())
        return QUrl();
    QUrl url(base);
    if (!url.isValid() || url.host().isEmpty() ||
        (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")))
        return QUrl();
    QString prefix = url.path();
    while (prefix.endsWith(QLatin1Char('/')))
        prefix.chop(1);
    url.setPath(prefix + path);
    return url;
}

QUrl KitLocalHelpURL()
{
    const QString executableFolder = XStrToQString(XGetExecutableFolder());
    const QString resources = XStrToQString(XGetResourcesFolder());
    const QStringList candidates{
        executableFolder + QStringLiteral("../share/doc/marvoni-video/README.md"),
        // The build tree: the source tree's own, beside its resources folder.
        resources + QStringLiteral("../README.md"),
    };
    for (const QString& candidate : candidates) {
        const QFileInfo file(candidate);
        if (file.isFile())
            return QUrl::fromLocalFile(file.canonicalFilePath());
    }
    return QUrl();
}

QUrl KitHelpURL(const QString& path)
{
    const QUrl web = KitMakerHelpURL(path);
    return web.isValid() ? web : KitLocalHelpURL();
}

void KitOpenHelp(const QUrl& url, QWidget* parent)
{
    if (url.isValid() && QDesktopServices::openUrl(url))
        return;
    QString text;
    if (url.isLocalFile())
        text =
            QStringLiteral("The help could not be opened. It is the file\n%1\n(a text file: any text viewer shows it).")
                .arg(url.toLocalFile());
    else if (url.isValid())
        text = QStringLiteral("The help page could not be opened:\n%1").arg(url.toString());
    else
        text = QStringLiteral("No help is installed. Set MARVONI_WEB_BASE to the address of the help server, or read "
                              "README.md that comes with the program's source.");
    QWidget* window = parent ? parent->window() : nullptr;
    auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Marvoni Video Converter Help"), text,
                                QMessageBox::Ok, window);
    box->setObjectName(QStringLiteral("helpMessage"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    box->open();
}
