// Suggested values of a tag field (artist names that start with what the user typed, say) from
// the tagging service. Tag editing is not offered, so nothing creates this yet; it keeps the
// service's protocol working.
//
// The service's address comes from MARVONI_WEB_BASE (a plain http address; its port when it
// names one, else 42531). Without it the client says that no service is configured.
//
// readSuggestions blocks: call it off the main thread. cancel() may be called from any thread.
#pragma once

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <optional>

#include "xclass/XEvent.h"
#include "xclass/XStr.h"
#include "xclass/XTCPSocketStd.h"

class KRAAutoComplete {
public:
    static constexpr int kDefaultPort = 42531;
    static constexpr int kReceiveTimeoutMs = 30000;
    // All attempts of one look-up together: suggestions are only worth having while typing.
    static constexpr int kDeadlineMs = 15000;
    // The largest answer body taken; the service sends short lists.
    static constexpr uint64_t kMaxBody = 1 << 20;

    XEvent m_cancel;
    int m_attempts = 20;       // connections tried before giving up
    int m_retryDelayMs = 1000; // pause after a failed attempt
    int m_deadlineMs = kDeadlineMs;

    KRAAutoComplete() = default;
    KRAAutoComplete(const KRAAutoComplete&) = delete;
    KRAAutoComplete& operator=(const KRAAutoComplete&) = delete;

    // The suggestions for field ("artist", "album artist", "album", "composer", "conductor",
    // "Orchestra", in any case) matching text, in the order received; possibly none. No value
    // when cancelled before or during the request.
    std::optional<QStringList> readSuggestions(const QString& field, const QString& match);
    void cancel() { m_cancel.Set(); }
    // Why the last request gave no suggestions; empty when the service was asked and answered.
    QString lastError() const { return m_lastError; }

    struct Endpoint {
        XStr host;
        int port = kDefaultPort;
        XStr path = L"/";
    };
    // The service's address from MARVONI_WEB_BASE; false with the reason when there is none.
    static bool serviceEndpoint(Endpoint& out, QString* error);
    // The name the service knows the field by; empty for a field it does not serve.
    static QString serviceFieldName(const QString& field);

    enum class Reply {
        Refused,     // not a 200 answer: worth another attempt
        Nothing,     // a 200 answer without usable suggestions (short, damaged or "(none)")
        Suggestions, // out holds them
    };
    // Reads a whole answer (head and body) of the service for field.
    static Reply parseReply(const uint8_t* data, size_t size, const QString& field, QStringList& out);

private:
    QString m_lastError;

    // One connection: Refused when the attempt failed and may be repeated.
    Reply askOnce(const Endpoint& endpoint, const QString& field, const QString& match, const XNetDeadline& deadline,
                  QStringList& out);
};
