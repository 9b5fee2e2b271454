// A destination folder kept across launches: its bookmark, its URL when known and a friendly
// name for display. File namings keep one as their destination and store its parts in the
// registry; the output-location picker and the converter setup make them.
//
// Here a bookmark is the folder's path itself (its UTF-8 bytes, lossless for any name):
// resolving one succeeds when that path exists, and mounting is nothing. A bookmark is made
// only of a folder that exists, as on the platform the program was designed for.
//
// Destinations are absolute: a folder path that is empty or relative gives a descriptor
// without a URL (no destination), never a folder below the program's working directory.
#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <cstdint>
#include <memory>

#include "xclass/XStr.h"

class KRALocationDescriptor;
using KRALocationDescriptorRef = std::shared_ptr<KRALocationDescriptor>;

class KRALocationDescriptor {
public:
    // Resolution options of the original platform: no user interaction, no mounting.
    static constexpr unsigned kResolveWithoutUI = 256;
    static constexpr unsigned kResolveWithoutMounting = 512;

    KRALocationDescriptor() = default;

    // URL set (a local folder; anything else gives no URL), the friendly folder name,
    // resolved; the bookmark is made when first asked for.
    static KRALocationDescriptorRef withURL(const QUrl& folder);
    static KRALocationDescriptorRef withFolderPath(const XStr& path);
    // Stored parts: an empty friendly name is taken from the last-known URL; non-empty data
    // starts unresolved, empty data resolved; the last-known URL is the URL until resolved.
    static KRALocationDescriptorRef withBookmark(const QByteArray& bookmark, const QString& friendlyName,
                                                 const QUrl& lastKnownURL);
    // The user's movie folder (the XDG videos folder).
    static KRALocationDescriptorRef withDefaultFolder();
    static KRALocationDescriptorRef root();

    // The stored bookmark, made from the URL (when the folder exists) when there is none.
    QByteArray bookmark();
    QUrl url() const { return mURL; }
    // The URL's local path without a trailing "/" ("/" for the root); empty without one.
    XStr path() const;
    QString friendlyName() const { return mFriendlyName; }
    void setFriendlyName(const QString& name) { mFriendlyName = name; }
    bool resolved() const { return _resolved; }

    // Resolves the bookmark (options as on the original platform; mounting is nothing here).
    // A failure blocks further attempts for 60 seconds.
    bool resolveWithOptions(unsigned options);
    bool resolve() { return resolveWithOptions(kResolveWithoutUI | kResolveWithoutMounting); }
    bool resolveAndMount() { return resolveWithOptions(0); }

    // Creates the folder tree and proves it writable with the file ".marvoni-write-test",
    // which it removes again.
    bool prepareFolder();
    // resolveAndMount, then whether the folder is there.
    bool sanity();
    // False for folders on volumes that come and go (below a volume-root folder such as
    // /media/$USER/ or /mnt/): those are kept by bookmark, not by plain path.
    bool canStoreAsURL() const;

    bool isEqualTo(const KRALocationDescriptor* other) const;
    KRALocationDescriptorRef copy() const;
    // Takes all values of other; nothing for null.
    void copyFrom(const KRALocationDescriptor* other);

private:
    QByteArray mBookmark;
    QUrl mURL;
    QString mFriendlyName;
    uint32_t m_resolveErrorTime = 0;
    bool m_resolveError = false;
    bool _resolved = false;
};

// Friendly display names of file URLs: the home folder as "~", the user folders by their
// display names ("Movies/Clips"), volumes by name ("Movies/Clips on Backup"), and back.
namespace UrlProps {

// The path with the home folder collapsed to "~" and the first user folder that holds it
// shown by its display name; no trailing "/". Empty for a URL that is not a local file.
QString friendlyNameExt(const QUrl& url);
// friendlyNameExt without the file's extension.
QString friendlyName(const QUrl& url);
// friendlyNameExt; the home folder itself as the login name, a volume as "Volume: Name"
// ("Network: Name" for a network file system), a folder on one as "Folder on Name".
QString friendlyFolderName(const QUrl& url);
// The reverse of friendlyNameExt, made a valid path, with the extension appended as given.
// A text that names no absolute folder is taken below the home folder; an empty text gives
// a null URL.
QUrl fileURLFromFriendlyName(const QString& friendly, const QString& extension);
// The same with the extension of url's path ("." when it has none).
QUrl fileURLFromFriendlyNameTakeExtensionFrom(const QString& friendly, const QUrl& url);

} // namespace UrlProps

// The absolute path with "." and empty components removed and ".." taken back lexically, no
// trailing "/" ("/" for the root). Empty for an empty or relative path.
XStr KRANormalizeAbsolutePath(const XStr& path);
