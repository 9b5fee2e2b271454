#include "media/KRAAutoComplete.h"

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/XStrQString.h"
#include "xclass/XCRC32.h"
#include "xclass/XEnvironment.h"
#include "xclass/XProxySettings.h"
#include "xclass/XRegistry.h"
#include "xclass/XTCPSocket.h"

namespace {

// Where the head ends (the index after CR LF CR LF), or 0.
size_t HeadLength(const uint8_t* data, size_t size)
{
    for (size_t i = 0; i + 4 <= size; i++)
        if (memcmp(data + i, "\r\n\r\n", 4) == 0)
            return i + 4;
    return 0;
}

// The rest of the line after the first match of pattern ("?" any character, A-Z folded)
// in the head, trimmed of blanks; found tells whether there was a match.
std::string HeadValue(const uint8_t* data, size_t headLength, const char* pattern, bool& found)
{
    found = false;
    const size_t n = strlen(pattern);
    for (size_t at = 0; at + n <= headLength; at++) {
        bool same = true;
        for (size_t i = 0; i < n && same; i++) {
            const auto want = static_cast<uint8_t>(pattern[i]);
            uint8_t got = data[at + i];
            if (want == '?')
                continue;
            const auto fold = [](uint8_t c) { return c >= 'A' && c <= 'Z' ? static_cast<uint8_t>(c + 32) : c; };
            same = fold(got) == fold(want);
        }
        if (!same)
            continue;
        size_t end = at + n;
        while (end < headLength && data[end] != '\r' && data[end] != '\n')
            end++;
        std::string value(reinterpret_cast<const char*>(data + at + n), end - at - n);
        const size_t first = value.find_first_not_of(" \t");
        const size_t last = value.find_last_not_of(" \t");
        found = true;
        return first == std::string::npos ? std::string() : value.substr(first, last - first + 1);
    }
    return std::string();
}

// Digits only, at most max.
bool ParseNumber(const std::string& text, uint64_t max, uint64_t& value)
{
    if (text.empty())
        return false;
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        const auto digit = static_cast<uint64_t>(c - '0');
        if (value > (max - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    return true;
}

// Header lines must stay one line each: the user's text could hold line breaks.
std::string OneLine(const QString& text)
{
    XStr value = XStrFromQString(text);
    for (int i = 0; i < value.Length(); i++)
        if (value.p[i] < 0x20 || value.p[i] == 0x7f)
            value.p[i] = L' ';
    return value.Ansi();
}

} // namespace

QString KRAAutoComplete::serviceFieldName(const QString& field)
{
    static const char* const served[] = {"artist", "album", "composer", "conductor", "Orchestra"};
    const QString asked =
        field.compare(QLatin1String("album artist"), Qt::CaseInsensitive) == 0 ? QStringLiteral("artist") : field;
    for (const char* name : served)
        if (asked.compare(QLatin1String(name), Qt::CaseInsensitive) == 0)
            return QLatin1String(name);
    return QString();
}

bool KRAAutoComplete::serviceEndpoint(Endpoint& out, QString* error)
{
    const auto fail = [error](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    out = Endpoint();
    const XStr base = XStr::FromUTF8(XGetEnv("MARVONI_WEB_BASE"));
    if (base.IsEmpty())
        return fail(QStringLiteral("No tag suggestion server is configured (MARVONI_WEB_BASE is not set)."));
    if (base.BeginsWith(L"https://", true))
        return fail(QStringLiteral("The tag suggestion service speaks plain HTTP only, and MARVONI_WEB_BASE names an "
                                   "https server."));
    if (!base.BeginsWith(L"http://", true))
        return fail(QStringLiteral("MARVONI_WEB_BASE is not an http address: ") + XStrToQString(base));
    XStr rest = base.MidToEnd(8);
    const int slash = rest.FindChar(L'/');
    XStr authority = slash ? rest.Left(slash - 1) : rest;
    if (slash)
        out.path = rest.MidToEnd(slash);
    const int colon = authority.ReverseFindChar(L':');
    if (colon) {
        const XStr portText = authority.MidToEnd(colon + 1);
        uint64_t port = 0;
        if (!ParseNumber(portText.ToUTF8String(), 65535, port) || port == 0)
            return fail(QStringLiteral("MARVONI_WEB_BASE has no valid port: ") + XStrToQString(base));
        out.port = static_cast<int>(port);
        authority = authority.Left(colon - 1);
    }
    for (int i = 0; i < out.path.Length(); i++)
        if (out.path.p[i] <= L' ' || out.path.p[i] == 0x7f)
            return fail(QStringLiteral("MARVONI_WEB_BASE holds blanks or control characters."));
    if (authority.IsEmpty() || authority.FindChar(L'@'))
        return fail(QStringLiteral("MARVONI_WEB_BASE names no usable host: ") + XStrToQString(base));
    out.host = authority;
    return true;
}

KRAAutoComplete::Reply KRAAutoComplete::parseReply(const uint8_t* data, size_t size, const QString& field,
                                                   QStringList& out)
{
    out.clear();
    const size_t head = data ? HeadLength(data, size) : 0;
    if (head == 0)
        return Reply::Refused;
    bool found = false;
    const std::string status = HeadValue(data, head, "HTTP/?.? ", found);
    uint64_t code = 0;
    if (!found || !ParseNumber(status.substr(0, status.find(' ')), 999, code) || code != 200)
        return Reply::Refused;
    bool haveCRC = false;
    bool haveLength = false;
    const std::string crcText = HeadValue(data, head, "CRCList:", haveCRC);
    const std::string lengthText = HeadValue(data, head, "CONTENT-LENGTH:", haveLength);
    uint64_t length = 0;
    uint64_t crc = 0;
    if (!haveLength || !ParseNumber(lengthText, kMaxBody, length) || length < 3)
        return Reply::Nothing;
    if (size - head < length)
        return Reply::Nothing; // cut off
    if (!haveCRC || !ParseNumber(crcText, 0xffffffffu, crc))
        return Reply::Nothing;
    const uint8_t* body = data + head;
    const size_t textLength = static_cast<size_t>(length) - 2; // without the closing CR LF
    if (XCRC32(body, textLength) != static_cast<uint32_t>(crc))
        return Reply::Nothing;
    QString text = QString::fromUtf8(reinterpret_cast<const char*>(body), static_cast<qsizetype>(textLength));
    if (serviceFieldName(field) == QLatin1String("album"))
        text.replace(QStringLiteral("{_}"), QStringLiteral("\r\n"));
    const QStringList values = text.split(QStringLiteral("\r\n"));
    if (values.size() == 1 && values.first() == QLatin1String("(none)"))
        return Reply::Nothing;
    out = values;
    return Reply::Suggestions;
}

KRAAutoComplete::Reply KRAAutoComplete::askOnce(const Endpoint& endpoint, const QString& field, const QString& match,
                                                const XNetDeadline& deadline, QStringList& out)
{
    XTCPSocket socket;
    socket.Deadline = deadline;
    const XProxySettings proxy = XGetProxySettings();
    XStr host(endpoint.host);
    if (!socket.Connect(host.Ansi(), endpoint.port, "Veloria Backend", &proxy, kReceiveTimeoutMs, false, &m_cancel)) {
        m_lastError = XStrToQString(socket.LastError);
        return Reply::Refused;
    }
    const std::string headers = "JQACTION:GetSuggestion\r\nSuggestion:" + OneLine(serviceFieldName(field)) +
                                "\r\nSuggestionMatchOn:" + OneLine(match) + "\r\nCLIENT-VERSION:100.0.0.0";
    XStr path(endpoint.path);
    const std::string pathBytes = path.Ansi();
    if (!socket.Get(pathBytes.c_str(), headers.c_str(), 3, 0, "HTTP/1.0", false, &m_cancel)) {
        m_lastError = XStrToQString(socket.LastError);
        return Reply::Refused;
    }
    // The head has come, perhaps with part of the body; the rest follows up to the length
    // the head announces.
    std::string reply(reinterpret_cast<const char*>(socket.Response.Data), socket.Response.Used);
    const auto* bytes = reinterpret_cast<const uint8_t*>(reply.data());
    const size_t head = HeadLength(bytes, reply.size());
    bool haveLength = false;
    const std::string lengthText = HeadValue(bytes, head, "CONTENT-LENGTH:", haveLength);
    uint64_t length = 0;
    if (haveLength && ParseNumber(lengthText, kMaxBody, length)) {
        char chunk[4096];
        while (reply.size() - head < length) {
            const int got = socket.Receive(chunk, sizeof chunk, &m_cancel);
            if (got <= 0)
                break; // a short body is judged below
            reply.append(chunk, static_cast<size_t>(got));
        }
    }
    const Reply result = parseReply(reinterpret_cast<const uint8_t*>(reply.data()), reply.size(), field, out);
    if (result == Reply::Refused)
        m_lastError = QStringLiteral("The tag suggestion server did not answer with 200 OK.");
    else if (result == Reply::Nothing)
        m_lastError.clear();
    return result;
}

std::optional<QStringList> KRAAutoComplete::readSuggestions(const QString& field, const QString& match)
{
    m_lastError.clear();
    if (m_cancel.IsSet())
        return std::nullopt;
    if (XRegistry::GetDWORD(L"NoInternetForQK") != 0) {
        m_lastError = QStringLiteral("Internet access is switched off in the settings.");
        return QStringList();
    }
    if (serviceFieldName(field).isEmpty()) {
        m_lastError = QStringLiteral("The tag suggestion service has no suggestions for the field ") + field + '.';
        return QStringList();
    }
    Endpoint endpoint;
    if (!serviceEndpoint(endpoint, &m_lastError))
        return QStringList();
    const XNetDeadline deadline = XNetDeadline::In(m_deadlineMs);
    for (int attempt = 0; attempt < m_attempts; attempt++) {
        QStringList suggestions;
        const Reply reply = askOnce(endpoint, field, match, deadline, suggestions);
        if (m_cancel.IsSet())
            return std::nullopt;
        if (reply != Reply::Refused)
            return suggestions;
        if (deadline.Passed())
            break;
        if (attempt + 1 < m_attempts && m_cancel.WaitUntilSet(deadline.Cap(m_retryDelayMs)))
            return std::nullopt;
    }
    if (deadline.Passed())
        m_lastError = QStringLiteral("The tag suggestion server gave no answer within ") +
                      XStrToQString(XDurationText(deadline.SpanMs())) + '.';
    return QStringList();
}
