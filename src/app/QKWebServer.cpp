#include "app/QKWebServer.h"

#include "xclass/XEnvironment.h"
#include "xclass/XHTTPClient.h"
#include "xclass/XProxySettings.h"

#include <mutex>
#include <string>

namespace {

bool StartsWithNoCase(const std::string& text, const char* prefix)
{
    for (size_t i = 0; prefix[i]; i++) {
        if (i >= text.size())
            return false;
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}

// The limits in use, read by download threads while a tool or test may set them.
struct TimesStore {
    std::mutex lock;
    QKWebTimes times;
};

TimesStore& Times()
{
    static TimesStore store;
    return store;
}

bool IsWebAddress(const std::string& text)
{
    const size_t scheme = StartsWithNoCase(text, "https://") ? 8 : (StartsWithNoCase(text, "http://") ? 7 : 0);
    if (scheme == 0 || text.size() <= scheme || text[scheme] == '/')
        return false;
    for (const char c : text) {
        if (static_cast<unsigned char>(c) <= ' ' || c == 0x7F)
            return false;
    }
    return true;
}

} // namespace

bool QKWebServer::isWebAddress(const XStr& text)
{
    return IsWebAddress(text.ToUTF8String());
}

bool QKWebServer::baseURL(XStr* base, XStr* error)
{
    bool isSet = false;
    std::string value = XGetEnv(kBaseVariable, &isSet);
    while (!value.empty() && value.back() == '/')
        value.pop_back();
    XStr reason;
    if (!isSet || value.empty())
        reason = L"No Marvoni web server is configured (MARVONI_WEB_BASE is not set).";
    else if (!IsWebAddress(value))
        reason = L"MARVONI_WEB_BASE is not an http or https address: " + XStr::FromUTF8(value);
    if (!reason.IsEmpty()) {
        if (error)
            *error = reason;
        return false;
    }
    if (base)
        *base = XStr::FromUTF8(value);
    return true;
}

XStr QKWebServer::urlFor(const wchar_t* path, XStr* error)
{
    XStr base;
    if (!baseURL(&base, error))
        return XStr();
    return base + path;
}

QKWebTimes QKWebServer::times()
{
    std::lock_guard<std::mutex> hold(Times().lock);
    return Times().times;
}

void QKWebServer::setTimes(const QKWebTimes& times)
{
    std::lock_guard<std::mutex> hold(Times().lock);
    Times().times = times;
}

void QKWebServer::prepareClient(XHTTPClient& client, Request kind)
{
    const QKWebTimes limits = times();
    client.UserAgent = L"Marvoni";
    client.TimeoutMs = limits.waitMs;
    client.Attempts = 3;
    client.Proxy = XGetProxySettings();
    if (kind == Request::Download) {
        client.DeadlineMs = limits.downloadDeadlineMs;
        client.StallWindowMs = limits.stallWindowMs;
        client.StallMinBytes = limits.stallMinBytes;
    } else {
        client.DeadlineMs = limits.listDeadlineMs;
        client.StallWindowMs = 0;
        client.StallMinBytes = 0;
    }
}
