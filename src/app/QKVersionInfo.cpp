#include "app/QKVersionInfo.h"

#include "app/QKWebServer.h"
#include "platform/XStrQString.h"
#include "xclass/XHTTPClient.h"
#include "xclass/XRegistry.h"

namespace {

// Splits off the next line; false at the end of the data. A last line without its end counts
// when it holds anything.
bool NextLine(const uint8_t* data, size_t size, size_t& at, std::string& line)
{
    if (at >= size)
        return false;
    size_t end = at;
    while (end < size && data[end] != '\n' && data[end] != '\r')
        end++;
    line.assign(reinterpret_cast<const char*>(data + at), end - at);
    if (end < size && data[end] == '\r' && end + 1 < size && data[end + 1] == '\n')
        end++;
    at = end < size ? end + 1 : end;
    return true;
}

bool SameNameAsciiNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); i++) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

// Calls found for every whole group until it returns true.
template <typename Found>
void ReadGroups(const uint8_t* data, size_t size, Found found)
{
    size_t at = 0;
    if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF)
        at = 3;
    std::string name, version, url;
    while (NextLine(data, size, at, name) && NextLine(data, size, at, version) && NextLine(data, size, at, url)) {
        if (found(name, version, url))
            return;
    }
}

QKVersionRecord Record(const std::string& name, const std::string& version, const std::string& url)
{
    return {XStr::FromUTF8(name), XStr::FromUTF8(version), XStr::FromUTF8(url)};
}

bool Fetch(const wchar_t* path, std::vector<uint8_t>& list, XStr* error)
{
    const XStr url = QKWebServer::urlFor(path, error);
    if (url.IsEmpty())
        return false;
    XHTTPClient client;
    QKWebServer::prepareClient(client, QKWebServer::Request::List);
    client.BodyLimit = QKVersionInfoGlobals::kMaxListBytes;
    list.clear();
    const bool ok = client.GetStream(url, [&list](const uint8_t* data, size_t size) {
        list.insert(list.end(), data, data + size);
        return true;
    });
    if (!ok && error)
        *error = client.LastError;
    return ok;
}

} // namespace

std::vector<QKVersionRecord> QKReadVersionList(const uint8_t* data, size_t size)
{
    std::vector<QKVersionRecord> records;
    ReadGroups(data, size, [&](const std::string& name, const std::string& version, const std::string& url) {
        records.push_back(Record(name, version, url));
        return false;
    });
    return records;
}

std::optional<QKVersionRecord> QKFindVersionEntry(const uint8_t* data, size_t size, const XStr& name)
{
    const std::string wanted = name.ToUTF8String();
    std::optional<QKVersionRecord> answer;
    ReadGroups(data, size, [&](const std::string& listed, const std::string& version, const std::string& url) {
        if (!SameNameAsciiNoCase(listed, wanted))
            return false;
        answer = Record(listed, version, url);
        return true;
    });
    return answer;
}

std::shared_ptr<QKVersionInfoGlobals> QKVersionInfoGlobals::createWithAppName(const XStr& name)
{
    return std::shared_ptr<QKVersionInfoGlobals>(new QKVersionInfoGlobals(name));
}

std::shared_ptr<QKVersionInfoGlobals> QKVersionInfoGlobals::shared(const XStr& name)
{
    static std::mutex lock;
    static std::shared_ptr<QKVersionInfoGlobals> globals;
    std::lock_guard<std::mutex> hold(lock);
    if (!globals)
        globals = createWithAppName(name);
    return globals;
}

bool QKVersionInfoGlobals::fetchList(std::vector<uint8_t>& list, XStr* error)
{
    if (XRegistry::GetDWORD(L"NoInternetForQK") != 0) {
        if (error)
            *error = L"Asking the Internet is switched off (NoInternetForQK).";
        return false;
    }
    // The normal list only when the beta one does not arrive: a beta list that arrives is
    // the answer, even when it does not name the product.
    if (XRegistry::GetDWORD(L"CheckBetaUpdates") != 0 && Fetch(kBetaListPath, list, nullptr))
        return true;
    return Fetch(kListPath, list, error);
}

std::optional<QKVersionInfo> QKVersionInfoGlobals::getVersionInfo()
{
    std::lock_guard<std::mutex> hold(m_lock);
    const auto now = std::chrono::steady_clock::now();
    if (m_lastCheck && now - *m_lastCheck < kCacheTime)
        return m_info;
    m_info.reset();
    std::vector<uint8_t> list;
    if (fetchList(list)) {
        if (const auto entry = QKFindVersionEntry(list.data(), list.size(), m_appName))
            m_info = QKVersionInfo{entry->URL, entry->Version};
    }
    m_lastCheck = std::chrono::steady_clock::now();
    return m_info;
}

QKLauncherBase::VersionLookup QKVersionInfoGlobals::launcherLookup(std::shared_ptr<QKVersionInfoGlobals> globals)
{
    return [globals](const QString& appName) -> std::optional<QKLauncherBase::ListedVersion> {
        const auto info = (globals ? globals : shared(XStrFromQString(appName)))->getVersionInfo();
        if (!info || !QKWebServer::isWebAddress(info->URL))
            return std::nullopt;
        return QKLauncherBase::ListedVersion{XStrToQString(info->Version), XStrToQString(info->URL)};
    };
}
