// Typed properties of file URLs, read from the file system, and ancestor tests between file
// URLs, in the namespace UrlProps. A property that cannot be read (not a file URL, no such file, a size asked of a
// folder) reads as none: an invalid QVariant, a null date, false or 0.
#pragma once

#include <QDateTime>
#include <QString>
#include <QUrl>
#include <QVariant>

#include <cstdint>

namespace UrlProps {

enum class UrlProp {
    IsPackage,               // bool: always false here, the desktop has no bundle folders
    IsDirectory,             // bool
    IsReadable,              // bool
    IsWritable,              // bool
    IsVolume,                // bool: the path is a mount point
    IsHidden,                // bool: the name begins with "."
    TypeIdentifier,          // QString: the MIME type name ("video/mp4", "inode/directory")
    Name,                    // QString: the last path component ("/" for the root)
    FileSize,                // qulonglong: bytes of a file; none for a folder
    ContentModificationDate, // QDateTime
};

QVariant queryProp(const QUrl& url, UrlProp key);
// The value when it is a date / a number (booleans included), else none.
QDateTime queryPropDate(const QUrl& url, UrlProp key);
QVariant queryPropNumber(const QUrl& url, UrlProp key);

bool isPackage(const QUrl& url);
bool isDirectory(const QUrl& url);
bool isReadable(const QUrl& url);
bool isWritable(const QUrl& url);
bool isVolume(const QUrl& url);
bool isHidden(const QUrl& url);
QString typeID(const QUrl& url);
QString name(const QUrl& url);
// Whether the URL's type is the given MIME type or one it inherits from.
bool conformsToType(const QUrl& url, const QString& type);
uint64_t fileSizeBytes(const QUrl& url);
QDateTime lastModified(const QUrl& url);

// True when both are file URLs and parent's path components are a proper leading part of
// child's (exact, case-sensitive). A URL is never its own parent; a grandparent is a parent.
bool isParentOf(const QUrl& parent, const QUrl& child);
bool isChildOf(const QUrl& child, const QUrl& parent);

} // namespace UrlProps
