// The tag-value suggestion client against the scripted stand-in of the tagging service in
// common/http_test_server.py, on 127.0.0.1.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "common/NetTestServers.h"
#include "common/QtTestPrint.h"
#include "common/TestEnv.h"
#include "common/TestStore.h"
#include "media/KRAAutoComplete.h"
#include "xclass/XCRC32.h"
#include "xclass/XHTTPClient.h"
#include "xclass/XRegistry.h"

namespace {

class SuggestionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_server = new TestServerProcess;
        ASSERT_TRUE(StartScriptServer(*s_server)) << s_server->output();
    }
    static void TearDownTestSuite()
    {
        delete s_server;
        s_server = nullptr;
    }

    static std::string Base() { return "http://127.0.0.1:" + std::to_string(s_server->port()) + "/suggest"; }

    static int Hits()
    {
        XHTTPClient client;
        XBuffer body;
        if (!client.Get(XStr::FromUTF8(Base().substr(0, Base().size() - 8) + "/hits/suggest"), body))
            return -1;
        const int hits = std::stoi(std::string(reinterpret_cast<const char*>(body.Data), body.Used));
        body.Free();
        return hits;
    }

    TestStoreScope m_store;
    TestEnvScope m_base{"MARVONI_WEB_BASE", Base()};
    static TestServerProcess* s_server;
};

TestServerProcess* SuggestionTest::s_server = nullptr;

TEST_F(SuggestionTest, SuggestionsComeInTheOrderSent)
{
    KRAAutoComplete client;
    const auto suggestions = client.readSuggestions(QStringLiteral("Album Artist"), QStringLiteral("Beat"));
    ASSERT_TRUE(suggestions.has_value());
    // The service echoes the field it was asked for and the client's name last.
    EXPECT_EQ(*suggestions, (QStringList{QStringLiteral("Beatles"), QStringLiteral("Beat Happening"),
                                         QStringLiteral("artist"), QStringLiteral("Veloria Backend")}))
        << client.lastError().toStdString();
    EXPECT_TRUE(client.lastError().isEmpty());

    EXPECT_EQ(client.readSuggestions(QStringLiteral("artist"), QStringLiteral("Umlaut")),
              QStringList{QString::fromUtf8("Mot\xc3\xb6rhead")});
    EXPECT_EQ(client.readSuggestions(QStringLiteral("ALBUM"), QStringLiteral("Split")),
              (QStringList{QStringLiteral("Abbey Road"), QStringLiteral("Let It Be")}));
    // Only album titles pack several values into one line.
    EXPECT_EQ(client.readSuggestions(QStringLiteral("composer"), QStringLiteral("Split")),
              QStringList{QStringLiteral("Abbey Road{_}Let It Be")});
}

TEST_F(SuggestionTest, NoneDamagedAndShortAnswersGiveNothing)
{
    KRAAutoComplete client;
    for (const char* match : {"Nobody", "BadCRC", "Short", ""}) {
        const auto suggestions = client.readSuggestions(QStringLiteral("artist"), QString::fromUtf8(match));
        ASSERT_TRUE(suggestions.has_value()) << match;
        EXPECT_TRUE(suggestions->isEmpty()) << match << ": " << suggestions->join(QLatin1Char('|')).toStdString();
    }
    // Line breaks in the typed text cannot add header lines to the request.
    const auto injected = client.readSuggestions(QStringLiteral("artist"), QStringLiteral("a\r\nJQACTION: Other"));
    ASSERT_TRUE(injected.has_value());
    EXPECT_EQ(*injected, QStringList{QStringLiteral("a  JQACTION: Other")});
}

TEST_F(SuggestionTest, RefusalsAreRetriedABoundedNumberOfTimes)
{
    KRAAutoComplete client;
    client.m_attempts = 3;
    client.m_retryDelayMs = 10;
    const int before = Hits();
    const auto suggestions = client.readSuggestions(QStringLiteral("artist"), QStringLiteral("Refuse"));
    ASSERT_TRUE(suggestions.has_value());
    EXPECT_TRUE(suggestions->isEmpty());
    EXPECT_EQ(Hits() - before, 3);
    EXPECT_FALSE(client.lastError().isEmpty());
}

TEST_F(SuggestionTest, OneDeadlineBoundsADrippingServerAndTheRetries)
{
    // The server sends a byte every 100 ms: no single wait runs out, the answer never ends.
    KRAAutoComplete dripped;
    dripped.m_deadlineMs = 1500;
    auto start = std::chrono::steady_clock::now();
    const auto none = dripped.readSuggestions(QStringLiteral("artist"), QStringLiteral("Drip"));
    ASSERT_TRUE(none.has_value());
    EXPECT_TRUE(none->isEmpty());
    EXPECT_NE(dripped.lastError().indexOf(QStringLiteral("no answer within 1500 ms")), -1)
        << dripped.lastError().toStdString();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));

    // Refusals are not retried past it either.
    KRAAutoComplete refused;
    refused.m_deadlineMs = 1500;
    refused.m_attempts = 100000;
    refused.m_retryDelayMs = 50;
    start = std::chrono::steady_clock::now();
    const int before = Hits();
    EXPECT_EQ(refused.readSuggestions(QStringLiteral("artist"), QStringLiteral("Refuse")), QStringList());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
    EXPECT_LT(Hits() - before, 1000);
}

TEST_F(SuggestionTest, UnservedFieldsAndSwitchedOffInternetAskNobody)
{
    KRAAutoComplete client;
    const int before = Hits();
    EXPECT_EQ(client.readSuggestions(QStringLiteral("genre"), QStringLiteral("Beat")), QStringList());
    XRegistry::SetDWORD(1, L"NoInternetForQK");
    EXPECT_EQ(client.readSuggestions(QStringLiteral("artist"), QStringLiteral("Beat")), QStringList());
    EXPECT_NE(client.lastError().indexOf(QStringLiteral("switched off")), -1) << client.lastError().toStdString();
    EXPECT_EQ(Hits(), before);
}

TEST_F(SuggestionTest, CancellingGivesNoAnswerAtAll)
{
    KRAAutoComplete client;
    std::thread canceller([&client] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        client.cancel();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(client.readSuggestions(QStringLiteral("artist"), QStringLiteral("Slow")).has_value());
    canceller.join();
    // Ended by the cancel, not by the receive limit.
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(KRAAutoComplete::kReceiveTimeoutMs - 5000));
    EXPECT_FALSE(client.readSuggestions(QStringLiteral("artist"), QStringLiteral("Beat")).has_value());
}

TEST(KRAAutoComplete, TheServiceAddressComesFromTheEnvironment)
{
    KRAAutoComplete::Endpoint endpoint;
    QString error;
    {
        TestEnvScope unset("MARVONI_WEB_BASE", nullptr);
        EXPECT_FALSE(KRAAutoComplete::serviceEndpoint(endpoint, &error));
        EXPECT_NE(error.indexOf(QStringLiteral("No tag suggestion server is configured")), -1) << error.toStdString();
        KRAAutoComplete client;
        EXPECT_EQ(client.readSuggestions(QStringLiteral("artist"), QStringLiteral("x")), QStringList());
        EXPECT_EQ(client.lastError(), error);
    }
    {
        TestEnvScope base("MARVONI_WEB_BASE", "http://127.0.0.1");
        ASSERT_TRUE(KRAAutoComplete::serviceEndpoint(endpoint, &error));
        EXPECT_EQ(endpoint.host, L"127.0.0.1");
        EXPECT_EQ(endpoint.port, 42531);
        EXPECT_EQ(endpoint.path, L"/");
    }
    {
        TestEnvScope base("MARVONI_WEB_BASE", "HTTP://127.0.0.1:8080/tags/suggest");
        ASSERT_TRUE(KRAAutoComplete::serviceEndpoint(endpoint, &error));
        EXPECT_EQ(endpoint.port, 8080);
        EXPECT_EQ(endpoint.path, L"/tags/suggest");
    }
    for (const char* refused : {"https://127.0.0.1/", "ftp://127.0.0.1/", "http://127.0.0.1:99999/",
                                "http://user@127.0.0.1/", "http:///x", "http://127.0.0.1/a b"}) {
        TestEnvScope base("MARVONI_WEB_BASE", refused);
        EXPECT_FALSE(KRAAutoComplete::serviceEndpoint(endpoint, &error)) << refused;
    }
}

TEST(KRAAutoComplete, RepliesAreCheckedBeforeTheyAreBelieved)
{
    const auto reply = [](const std::string& head, const std::string& text, const QString& field, QStringList& out) {
        const std::string whole = head + text + "\r\n";
        return KRAAutoComplete::parseReply(reinterpret_cast<const uint8_t*>(whole.data()), whole.size(), field, out);
    };
    const auto headFor = [](const std::string& text, uint32_t crc) {
        return "HTTP/1.0 200 OK\r\nCRCList: " + std::to_string(crc) +
               "\r\nContent-Length: " + std::to_string(text.size() + 2) + "\r\n\r\n";
    };
    QStringList out;
    const std::string text = "One\r\nTwo";
    const uint32_t crc = XCRC32(text.data(), text.size());
    EXPECT_EQ(reply(headFor(text, crc), text, QStringLiteral("artist"), out), KRAAutoComplete::Reply::Suggestions);
    EXPECT_EQ(out, (QStringList{QStringLiteral("One"), QStringLiteral("Two")}));
    EXPECT_EQ(reply(headFor(text, crc + 1), text, QStringLiteral("artist"), out), KRAAutoComplete::Reply::Nothing);
    EXPECT_TRUE(out.isEmpty());
    EXPECT_EQ(reply("HTTP/1.0 404 Not Found\r\n\r\n", text, QStringLiteral("artist"), out),
              KRAAutoComplete::Reply::Refused);
    EXPECT_EQ(reply("HTTP/1.0 200 OK\r\nCRCList: 1\r\nContent-Length: 99999999999999999999\r\n\r\n", text,
                    QStringLiteral("artist"), out),
              KRAAutoComplete::Reply::Nothing);
    EXPECT_EQ(reply("HTTP/1.0 200 OK\r\nCRCList: 1\r\nContent-Length: 2\r\n\r\n", "", QStringLiteral("artist"), out),
              KRAAutoComplete::Reply::Nothing);
    EXPECT_EQ(KRAAutoComplete::parseReply(nullptr, 0, QStringLiteral("artist"), out), KRAAutoComplete::Reply::Refused);
    EXPECT_EQ(KRAAutoComplete::serviceFieldName(QStringLiteral("ORCHESTRA")), QStringLiteral("Orchestra"));
    EXPECT_EQ(KRAAutoComplete::serviceFieldName(QStringLiteral("album artist")), QStringLiteral("artist"));
    EXPECT_TRUE(KRAAutoComplete::serviceFieldName(QStringLiteral("title")).isEmpty());
}

} // namespace
