#include "kit/UrlProps.h"

#include <QDir>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QStorageInfo>
#include <QStringList>

namespace UrlProps {

namespace {

// The path components as the desktop counts them: "/" first for an absolute path, then the
// names; empty components (a doubled or trailing "/") do not count.
QStringList PathComponents(const QString& path)
{
    QStringList components;
    if (path.startsWith(QLatin1Char('/')))
        components.append(QStringLiteral("/"));
    for (const QString& part : path.split(QLatin1Char('/'), Qt::SkipEmptyParts))
        components.append(part);
    return components;
}

} // namespace

QVariant queryProp(const QUrl& url, UrlProp key)
{
    if (!url.isLocalFile())
        return {};
    const QString path = url.toLocalFile();
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        return {};
    switch (key) {
    case UrlProp::IsPackage:
        return false;
    case UrlProp::IsDirectory:
        return info.isDir();
    case UrlProp::IsReadable:
        return info.isReadable();
    case UrlProp::IsWritable:
        return info.isWritable();
    case UrlProp::IsVolume: {
        const QStorageInfo storage(path);
        return storage.isValid() && QDir::cleanPath(storage.rootPath()) == QDir::cleanPath(info.canonicalFilePath());
    }
    case UrlProp::IsHidden:
        return info.fileName().startsWith(QLatin1Char('.'));
    case UrlProp::TypeIdentifier:
        return QMimeDatabase().mimeTypeForFile(info).name();
    case UrlProp::Name: {
        const QString fileName = QFileInfo(QDir::cleanPath(path)).fileName();
        return fileName.isEmpty() ? QStringLiteral("/") : fileName;
    }
    case UrlProp::FileSize:
        if (info.isDir())
            return {};
        return QVariant::fromValue<qulonglong>(static_cast<qulonglong>(info.size()));
    case UrlProp::ContentModificationDate:
        return info.lastModified();
    }
    return {};
}

QDateTime queryPropDate(const QUrl& url, UrlProp key)
{
    const QVariant value = queryProp(url, key);
    return value.typeId() == QMetaType::QDateTime ? value.toDateTime() : QDateTime();
}

QVariant queryPropNumber(const QUrl& url, UrlProp key)
{
    const QVariant value = queryProp(url, key);
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
        return value;
    default:
        return {};
    }
}

bool isPackage(const QUrl& url)
{
    return queryPropNumber(url, UrlProp::IsPackage).toBool();
}
bool isDirectory(const QUrl& url)
{
    return queryPropNumber(url, UrlProp::IsDirectory).toBool();
}
bool isReadable(const QUrl& url)
{
    return queryPropNumber(url, UrlProp::IsReadable).toBool();
}
bool isWritable(const QUrl& url)
{
    return queryPropNumber(url, UrlProp::IsWritable).toBool();
}
bool isVolume(const QUrl& url)
{
    return queryPropNumber(url, UrlProp::IsVolume).toBool();
}
bool isHidden(const QUrl& url)
{
    return queryPropNumber(url, UrlProp::IsHidden).toBool();
}

QString typeID(const QUrl& url)
{
    return queryProp(url, UrlProp::TypeIdentifier).toString();
}

QString name(const QUrl& url)
{
    return queryProp(url, UrlProp::Name).toString();
}

bool conformsToType(const QUrl& url, const QString& type)
{
    const QString id = typeID(url);
    if (id.isEmpty() || type.isEmpty())
        return false;
    const QMimeType mime = QMimeDatabase().mimeTypeForName(id);
    return mime.isValid() ? mime.inherits(type) : id == type;
}

uint64_t fileSizeBytes(const QUrl& url)
{
    return queryPropNumber(url, UrlProp::FileSize).toULongLong();
}

QDateTime lastModified(const QUrl& url)
{
    return queryPropDate(url, UrlProp::ContentModificationDate);
}

bool isParentOf(const QUrl& parent, const QUrl& child)
{
    if (!parent.isLocalFile() || !child.isLocalFile())
        return false;
    const QStringList mine = PathComponents(parent.toLocalFile());
    const QStringList theirs = PathComponents(child.toLocalFile());
    if (mine.size() >= theirs.size())
        return false;
    for (qsizetype i = 0; i < mine.size(); ++i) {
        if (mine.at(i) != theirs.at(i))
            return false;
    }
    return true;
}

bool isChildOf(const QUrl& child, const QUrl& parent)
{
    return isParentOf(parent, child);
}

} // namespace UrlProps
