#include "platform/XWorkspace.h"
#include "platform/XStrQString.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFile>
#include <QGuiApplication>
#include <QMimeDatabase>
#include <QMimeType>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::string AbsoluteBytes(const XStr& path)
{
    std::string bytes = path.ToUTF8String();
    if (!bytes.empty() && bytes[0] != '/') {
        char* cwd = getcwd(nullptr, 0);
        if (cwd) {
            std::string folder = cwd;
            free(cwd);
            bytes = (folder == "/" ? folder : folder + "/") + bytes;
        }
    }
    return bytes;
}

int HexValue(char ch)
{
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    return -1;
}

bool HaveGuiApplication()
{
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}
} // namespace

QUrl XFileURL(const XStr& path)
{
    const std::string bytes = AbsoluteBytes(path);
    if (bytes.empty())
        return QUrl();
    static const char hex[] = "0123456789ABCDEF";
    QByteArray encoded("file://");
    for (const unsigned char ch : bytes) {
        if ((ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') || ch == '-' ||
            ch == '_' || ch == '.' || ch == '~' || ch == '/') {
            encoded += static_cast<char>(ch);
        } else {
            encoded += '%';
            encoded += hex[ch >> 4];
            encoded += hex[ch & 15];
        }
    }
    return QUrl::fromEncoded(encoded, QUrl::StrictMode);
}

XStr XPathFromFileURL(const QUrl& url)
{
    if (!url.isValid() || !url.isLocalFile())
        return XStr();
    // The encoded form keeps bytes that are not UTF-8 as %XX; decode them to bytes here.
    const QByteArray encoded = url.path(QUrl::FullyEncoded).toLatin1();
    std::string bytes;
    for (qsizetype i = 0; i < encoded.size(); ++i) {
        const char ch = encoded[i];
        if (ch == '%' && i + 2 < encoded.size()) {
            const int high = HexValue(encoded[i + 1]), low = HexValue(encoded[i + 2]);
            if (high >= 0 && low >= 0) {
                bytes += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        bytes += ch;
    }
    return XStr::FromUTF8(bytes);
}

QUrl checkedURL(const QUrl& url)
{
    return url;
}

bool XOpenWithWorkspace(const XStr& path)
{
    struct stat st;
    if (stat(AbsoluteBytes(path).c_str(), &st) != 0)
        return false;
    if (!HaveGuiApplication())
        return false; // the desktop services need the GUI application
    return QDesktopServices::openUrl(XFileURL(path));
}

bool XRevealInFileManager(const QList<QUrl>& files)
{
    if (files.isEmpty())
        return false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        QStringList uris;
        for (const QUrl& url : files)
            uris << QString::fromLatin1(url.toEncoded());
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
        call << uris << QString();
        const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
        if (reply.type() == QDBusMessage::ReplyMessage)
            return true;
    }
    // No file manager answers: show the folder instead.
    if (!HaveGuiApplication())
        return false;
    const QUrl folder = files.first().adjusted(QUrl::StripTrailingSlash).adjusted(QUrl::RemoveFilename);
    return QDesktopServices::openUrl(folder);
}

bool XRevealInFileManager(const XStr& path)
{
    return XRevealInFileManager(QList<QUrl>{XFileURL(path)});
}

XStr XGetTypeDescription(const XStr& path)
{
    const std::string bytes = AbsoluteBytes(path);
    struct stat st;
    if (bytes.empty() || stat(bytes.c_str(), &st) != 0)
        return XStr();
    QMimeDatabase database;
    QMimeType type;
    if (S_ISDIR(st.st_mode)) {
        type = database.mimeTypeForName(QStringLiteral("inode/directory"));
    } else {
        // Read the head ourselves: the name may hold bytes that Qt's own file opening would
        // not give back to the system unchanged.
        QByteArray head;
        const int fd = open(bytes.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd >= 0) {
            if (S_ISREG(st.st_mode)) {
                head.resize(4096);
                ssize_t n;
                do {
                    n = read(fd, head.data(), static_cast<size_t>(head.size()));
                } while (n < 0 && errno == EINTR);
                head.resize(n > 0 ? n : 0);
            }
            close(fd);
        }
        const size_t slash = bytes.rfind('/');
        const QString name = XStrToQString(XStr::FromUTF8(bytes.substr(slash + 1)));
        type = database.mimeTypeForFileNameAndData(name, head);
    }
    if (!type.isValid() || type.isDefault())
        return XStr();
    return XStrFromQString(type.comment());
}

XStr XResolveDisplayPath(const QString& path)
{
    const XStr direct = XStrFromQString(path);
    const QChar replacement(0xFFFD);
    if (!path.contains(replacement) || !path.startsWith(QLatin1Char('/')))
        return direct;
    struct stat st {};
    if (lstat(direct.ToUTF8String().c_str(), &st) == 0)
        return direct;
    std::string resolved;
    const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        std::string name = XStrFromQString(part).ToUTF8String();
        if (part.contains(replacement)) {
            if (DIR* dir = opendir(resolved.empty() ? "/" : resolved.c_str())) {
                int matches = 0;
                std::string found;
                while (const dirent* entry = readdir(dir)) {
                    if (QFile::decodeName(entry->d_name) == part) {
                        ++matches;
                        found = entry->d_name;
                    }
                }
                closedir(dir);
                if (matches == 1)
                    name = found;
            }
        }
        resolved += '/';
        resolved += name;
    }
    return XStr::FromUTF8(resolved.empty() ? "/" : resolved.c_str());
}

QList<QUrl> XFileURLsFromUriList(const QByteArray& uriList)
{
    QList<QUrl> urls;
    for (QByteArray line : uriList.split('\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QUrl url = QUrl::fromEncoded(line, QUrl::TolerantMode);
        if (!url.isLocalFile())
            continue;
        const XStr path = XPathFromFileURL(url);
        if (!path.IsEmpty())
            urls << XFileURL(path);
    }
    return urls;
}
