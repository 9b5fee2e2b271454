#include "naming/KRALocationDescriptor.h"

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/XStrQString.h"
#include "platform/XWorkspace.h"
#include "xclass/XEnvironment.h"
#include "xclass/XFileName.h"
#include "xclass/XList.h"
#include "xclass/XPlatform.h"

namespace {

constexpr uint32_t kResolveRetryMs = 60000;

XStr PathOf(const QUrl& url)
{
    return KRANormalizeAbsolutePath(XPathFromFileURL(url));
}

QUrl FolderURL(const XStr& normalizedPath)
{
    return normalizedPath.IsEmpty() ? QUrl() : XFileURL(normalizedPath);
}

struct FriendlyPrefix {
    XStr path;    // "~/Videos/" or an absolute folder outside the home folder, with "/"
    XStr display; // "Movies/"
};

// The user folders and their display names, first match wins. Read each time: the user
// folders file may change while the program runs.
std::vector<FriendlyPrefix> FriendlyPrefixes()
{
    static const struct {
        const char* key;
        const wchar_t* fallback;
        const wchar_t* display;
    } kinds[] = {
        {"MUSIC", L"Music", L"Music/"},
        {"DOCUMENTS", L"Documents", L"Documents/"},
        {"DOWNLOAD", L"Downloads", L"Downloads/"},
        {"DESKTOP", L"Desktop", L"Desktop/"},
        {"VIDEOS", L"Videos", L"Movies/"},
        {"PUBLICSHARE", L"Public", L"Public/"},
        {"PICTURES", L"Pictures", L"Pictures/"},
    };
    std::vector<FriendlyPrefix> prefixes;
    for (const auto& kind : kinds) {
        XFileName folder(KRANormalizeAbsolutePath(XGetXdgUserFolder(kind.key, kind.fallback)));
        if (folder.IsEmpty() || folder == L"/")
            continue;
        folder.CollapseHome();
        // A user folder set to the home folder itself would swallow every path.
        if (folder == L"~")
            continue;
        folder.AddTrailingSlash();
        prefixes.push_back({folder, XStr(kind.display)});
    }
    return prefixes;
}

XStr Join(const std::vector<XStr>& parts, size_t first, const wchar_t* separator)
{
    XStr out;
    for (size_t k = first; k < parts.size(); k++) {
        if (k > first)
            out += separator;
        out += parts[k];
    }
    return out;
}

} // namespace

XStr KRANormalizeAbsolutePath(const XStr& path)
{
    if (path.IsEmpty() || path.p[0] != L'/')
        return XStr();
    std::vector<XStr> components;
    const std::wstring_view text = path.View();
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i] == L'/')
            i++;
        size_t end = i;
        while (end < text.size() && text[end] != L'/')
            end++;
        const std::wstring_view component = text.substr(i, end - i);
        i = end;
        if (component.empty() || component == L".")
            continue;
        if (component == L"..") {
            if (!components.empty())
                components.pop_back();
            continue;
        }
        components.push_back(XStr(component));
    }
    return XStr(L"/") + Join(components, 0, L"/");
}

// ---- KRALocationDescriptor ---------------------------------------------------------------

KRALocationDescriptorRef KRALocationDescriptor::withURL(const QUrl& folder)
{
    auto d = std::make_shared<KRALocationDescriptor>();
    d->mURL = FolderURL(PathOf(folder));
    if (!d->mURL.isEmpty())
        d->mFriendlyName = UrlProps::friendlyFolderName(d->mURL);
    d->_resolved = true;
    return d;
}

KRALocationDescriptorRef KRALocationDescriptor::withFolderPath(const XStr& path)
{
    // Normalised before it becomes a URL: a relative text must not be completed with the
    // working directory.
    const XStr normalized = KRANormalizeAbsolutePath(path);
    if (normalized.IsEmpty()) {
        auto d = std::make_shared<KRALocationDescriptor>();
        d->_resolved = true;
        return d;
    }
    return withURL(FolderURL(normalized));
}

KRALocationDescriptorRef KRALocationDescriptor::withBookmark(const QByteArray& bookmark, const QString& friendlyName,
                                                             const QUrl& lastKnownURL)
{
    auto d = std::make_shared<KRALocationDescriptor>();
    d->mURL = FolderURL(PathOf(lastKnownURL));
    d->mFriendlyName = friendlyName;
    if (d->mFriendlyName.isEmpty() && !d->mURL.isEmpty())
        d->mFriendlyName = UrlProps::friendlyFolderName(d->mURL);
    d->mBookmark = bookmark;
    d->_resolved = bookmark.isEmpty();
    return d;
}

KRALocationDescriptorRef KRALocationDescriptor::withDefaultFolder()
{
    return withFolderPath(XGetSpecialFolder(XSPECIAL_MOVIES, L"~/Videos"));
}

KRALocationDescriptorRef KRALocationDescriptor::root()
{
    return withFolderPath(XStr(L"/"));
}

XStr KRALocationDescriptor::path() const
{
    return PathOf(mURL);
}

QByteArray KRALocationDescriptor::bookmark()
{
    if (mBookmark.isEmpty()) {
        const XStr folder = path();
        if (!folder.IsEmpty() && XFileExists(folder)) {
            const std::string bytes = folder.ToUTF8String();
            mBookmark = QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
        }
    }
    return mBookmark;
}

bool KRALocationDescriptor::resolveWithOptions(unsigned options)
{
    (void)options; // no user interaction and no mounting here either way
    if (_resolved)
        return true;
    if (mBookmark.isEmpty()) {
        _resolved = true;
        return true;
    }
    if (m_resolveError && GetTickCount() - m_resolveErrorTime < kResolveRetryMs)
        return false;
    m_resolveError = false;
    const XStr folder =
        KRANormalizeAbsolutePath(XStr::FromUTF8Bytes(mBookmark.constData(), static_cast<size_t>(mBookmark.size())));
    if (!folder.IsEmpty() && XFileExists(folder)) {
        mURL = FolderURL(folder);
        _resolved = true;
        return true;
    }
    m_resolveErrorTime = GetTickCount();
    m_resolveError = true;
    syslog(LOG_WARNING, "%s", "URL resolve failure!");
    return false;
}

bool KRALocationDescriptor::prepareFolder()
{
    if (!mBookmark.isEmpty())
        resolveAndMount();
    const XStr folder = path();
    if (folder.IsEmpty())
        return false;
    if (!XCreateFolderTree(folder))
        return false;
    XFileName test(folder);
    test.AppendPath(L".marvoni-write-test");
    const std::string bytes = test.ToUTF8String();
    // Never through a link planted under the test name, and nothing truncated: the test
    // only has to create a file.
    int fd;
    do
        fd = open(bytes.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return false;
    close(fd);
    unlink(bytes.c_str());
    return true;
}

bool KRALocationDescriptor::sanity()
{
    resolveAndMount();
    const XStr folder = path();
    return !folder.IsEmpty() && XFileExists(folder);
}

bool KRALocationDescriptor::canStoreAsURL() const
{
    XFileName folder(path());
    if (folder.IsEmpty())
        return true;
    folder.AddTrailingSlash();
    for (const XStr& root : XGetVolumeRootFolders())
        if (folder.BeginsWith(root))
            return false;
    return true;
}

bool KRALocationDescriptor::isEqualTo(const KRALocationDescriptor* other) const
{
    if (!other)
        return false;
    if (other == this)
        return true;
    if (path() == other->path())
        return true;
    return !mBookmark.isEmpty() && mBookmark == other->mBookmark;
}

KRALocationDescriptorRef KRALocationDescriptor::copy() const
{
    auto d = std::make_shared<KRALocationDescriptor>();
    d->copyFrom(this);
    return d;
}

void KRALocationDescriptor::copyFrom(const KRALocationDescriptor* other)
{
    if (!other || other == this)
        return;
    mBookmark = other->mBookmark;
    mURL = other->mURL;
    mFriendlyName = other->mFriendlyName;
    m_resolveErrorTime = other->m_resolveErrorTime;
    m_resolveError = other->m_resolveError;
    _resolved = other->_resolved;
}

// ---- Friendly names ------------------------------------------------------------------------

namespace UrlProps {

QString friendlyNameExt(const QUrl& url)
{
    const XStr path = PathOf(url);
    if (path.IsEmpty())
        return QString();
    if (path == L"/")
        return QStringLiteral("/");
    XFileName text(path);
    text.AddTrailingSlash();
    text.CollapseHome();
    for (const FriendlyPrefix& prefix : FriendlyPrefixes())
        if (text.ReplacePrefix(prefix.path, prefix.display))
            break;
    text.RemoveTrailingSlash();
    return XStrToQString(text);
}

QString friendlyName(const QUrl& url)
{
    const QString text = friendlyNameExt(url);
    const qsizetype dot = text.lastIndexOf(QLatin1Char('.'));
    const qsizetype slash = text.lastIndexOf(QLatin1Char('/'));
    return dot > slash ? text.left(dot) : text;
}

QString friendlyFolderName(const QUrl& url)
{
    const QString text = friendlyNameExt(url);
    if (text == QStringLiteral("~")) {
        bool isSet = false;
        const std::string user = XGetEnv("USER", &isSet);
        return isSet ? XStrToQString(XStr::FromUTF8(user)) : text;
    }
    if (!text.startsWith(QLatin1Char('/')))
        return text;

    // Below the longest volume-root folder that holds the path.
    XFileName path(PathOf(url));
    path.AddTrailingSlash();
    XStr root;
    for (const XStr& candidate : XGetVolumeRootFolders())
        if (path.BeginsWith(candidate) && path.Length() > candidate.Length() && candidate.Length() > root.Length())
            root = candidate;
    if (root.IsEmpty())
        return text;
    XFileName below(path.MidToEnd(root.Length() + 1));
    below.RemoveTrailingSlash();
    const XStrList parts(below, L"/");
    std::vector<XStr> components;
    for (const XStr& part : parts)
        components.push_back(part);
    if (components.empty() || components[0].IsEmpty())
        return text;
    const QString volume = XStrToQString(components[0]);
    if (components.size() == 1) {
        const QString kind = XIsVolumeRemote(PathOf(url)) ? QStringLiteral("Network") : QStringLiteral("Volume");
        return QStringLiteral("%1: %2").arg(kind, volume);
    }
    return QStringLiteral("%1 on %2").arg(XStrToQString(Join(components, 1, L"/")), volume);
}

QUrl fileURLFromFriendlyName(const QString& friendly, const QString& extension)
{
    if (friendly.isEmpty())
        return QUrl();
    XFileName text(XStrFromQString(friendly));
    text.AddTrailingSlash();
    for (const FriendlyPrefix& prefix : FriendlyPrefixes())
        if (text.ReplacePrefix(prefix.display, prefix.path))
            break;
    text.ExpandHome();
    text.RemoveTrailingSlash();
    if (text.IsEmpty() || text.p[0] != L'/') {
        // Friendly names of absolute folders begin with "/" or "~": anything else is a name
        // the user typed, taken below the home folder rather than the working directory.
        XFileName home(L"~");
        if (!home.ExpandHome())
            return QUrl();
        home.AppendPath(text);
        text = home;
    }
    text.MakeValid(false, nullptr, true, false);
    XStr ext = XStrFromQString(extension);
    ext.Replace(L"/", L"-");
    text.AppendText(ext);
    const XStr path = KRANormalizeAbsolutePath(text);
    return path.IsEmpty() ? QUrl() : XFileURL(path);
}

QUrl fileURLFromFriendlyNameTakeExtensionFrom(const QString& friendly, const QUrl& url)
{
    const XFileName path(XPathFromFileURL(url));
    return fileURLFromFriendlyName(friendly, XStrToQString(path.GetExtension()));
}

} // namespace UrlProps
