// The version list and the launcher's update link, against Python's http.server on 127.0.0.1.
#include "app/AppTestSupport.h"
#include "common/NetTestServers.h"

#include "app/KRAPanelHost.h"
#include "app/QKLauncherBase.h"
#include "app/QKVersionInfo.h"
#include "app/QKWebServer.h"
#include "xclass/XHTTPClient.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>

namespace {

std::optional<QKVersionRecord> Find(const std::string& list, const wchar_t* name)
{
    return QKFindVersionEntry(reinterpret_cast<const uint8_t*>(list.data()), list.size(), XStr(name));
}

TEST(QKVersionList, GroupsOfThreeLinesWithAnyLineEndAndAsciiCaseOnly)
{
    const std::string list = "\xEF\xBB\xBFOther Product\r\n5.0\r\nhttp://a/other\n"
                             "marvoni VIDEO converter mac\r2.5\rhttps://a/new\r\n"
                             "Marvoni Video Converter Mac\n9.9\nhttps://a/second\n"
                             "\xC3\x89t\xC3\xA9\n1\nhttp://a/accent\n"
                             "Cut Off\n7.0";
    const auto found = Find(list, L"Marvoni Video Converter Mac");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->Version.ToUTF8String(), "2.5");
    EXPECT_EQ(found->URL.ToUTF8String(), "https://a/new");
    ASSERT_TRUE(Find(list, L"Other Product")); // the byte-order mark is not part of the name
    EXPECT_TRUE(Find(list, L"\u00c9t\u00e9"));
    EXPECT_FALSE(Find(list, L"\u00c9T\u00c9")); // only A-Z fold
    EXPECT_FALSE(Find(list, L"Cut Off"));       // a group without its address is no group
    EXPECT_EQ(QKReadVersionList(reinterpret_cast<const uint8_t*>(list.data()), list.size()).size(), 4u);
}

class VersionCheckTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(m_site.file("beta"));
        ASSERT_TRUE(StartPythonHttpServer(m_server, m_site.path())) << m_server.output();
    }
    void List(const std::string& file, const std::string& version, const std::string& url)
    {
        WriteTestFile(m_site.file(file), "Marvoni Video Converter Mac\r\n" + version + "\r\n" + url + "\r\n");
    }
    std::string Base() const { return "http://127.0.0.1:" + std::to_string(m_server.port()); }

    TestStoreScope m_store;
    TestTempDir m_site;
    TestServerProcess m_server;
};

TEST_F(VersionCheckTest, TheAnswerIsKeptForTenMinutesAndNoneWithoutAServer)
{
    TestEnvScope base("MARVONI_WEB_BASE", Base() + "/");
    List("prog_versions.txt", "99.0", "http://127.0.0.1/new");
    auto globals = QKVersionInfoGlobals::createWithAppName(L"Marvoni Video Converter Mac");
    const auto first = globals->getVersionInfo();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->Version.ToUTF8String(), "99.0");
    // A second launcher within ten minutes asks nobody: the list may be gone meanwhile.
    std::filesystem::remove(m_site.file("prog_versions.txt"));
    const auto second = globals->getVersionInfo();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->URL.ToUTF8String(), "http://127.0.0.1/new");
    EXPECT_FALSE(QKVersionInfoGlobals::createWithAppName(L"Marvoni Video Converter Mac")->getVersionInfo());

    TestEnvScope none("MARVONI_WEB_BASE", nullptr);
    std::vector<uint8_t> list;
    XStr error;
    EXPECT_FALSE(QKVersionInfoGlobals::fetchList(list, &error));
    EXPECT_NE(error.ToUTF8String().find("MARVONI_WEB_BASE is not set"), std::string::npos);
    TestEnvScope file("MARVONI_WEB_BASE", "file:///etc");
    EXPECT_FALSE(QKVersionInfoGlobals::fetchList(list, &error));
}

TEST_F(VersionCheckTest, BetaListFirstAndTheNormalOneOnlyWhenBetaDoesNotArrive)
{
    TestEnvScope base("MARVONI_WEB_BASE", Base());
    XRegistry::SetDWORD(1, L"CheckBetaUpdates");
    List("prog_versions.txt", "2.0", "http://127.0.0.1/normal");
    auto ask = [] { return QKVersionInfoGlobals::createWithAppName(L"Marvoni Video Converter Mac")->getVersionInfo(); };
    ASSERT_TRUE(ask()); // no beta list: the normal one
    EXPECT_EQ(ask()->Version.ToUTF8String(), "2.0");
    List("beta/prog_versions.txt", "3.0b1", "http://127.0.0.1/beta");
    EXPECT_EQ(ask()->Version.ToUTF8String(), "3.0b1");
    WriteTestFile(m_site.file("beta/prog_versions.txt"), "Someone Else\n1\nhttp://x/\n");
    EXPECT_FALSE(ask()); // the beta list arrived: its answer stands

    XRegistry::SetDWORD(1, L"NoInternetForQK");
    std::vector<uint8_t> list;
    EXPECT_FALSE(QKVersionInfoGlobals::fetchList(list));
}

TEST_F(VersionCheckTest, OversizedListsAndAddressesThatAreNoWebPagesGiveNoLink)
{
    TestEnvScope base("MARVONI_WEB_BASE", Base());
    WriteTestFile(m_site.file("prog_versions.txt"), "Marvoni Video Converter Mac\n99.0\nhttp://127.0.0.1/new\n" +
                                                        std::string(QKVersionInfoGlobals::kMaxListBytes, '\n'));
    auto globals = QKVersionInfoGlobals::createWithAppName(L"Marvoni Video Converter Mac");
    EXPECT_FALSE(globals->getVersionInfo());

    List("prog_versions.txt", "99.0", "file:///etc/passwd");
    auto lookup =
        QKVersionInfoGlobals::launcherLookup(QKVersionInfoGlobals::createWithAppName(L"Marvoni Video Converter Mac"));
    EXPECT_FALSE(lookup(QStringLiteral("Marvoni Video Converter Mac")));
    EXPECT_FALSE(QKWebServer::isWebAddress(L"javascript:alert(1)"));
    EXPECT_TRUE(QKWebServer::isWebAddress(L"HTTPS://example.org/x"));
}

TEST_F(VersionCheckTest, ADrippingServerGivesNoAnswerWithinTheListsShortDeadline)
{
    // The list's own deadline, the download's stays as it is: the list is a few lines.
    const QKWebTimes saved = QKWebServer::times();
    struct Restore {
        QKWebTimes times;
        ~Restore() { QKWebServer::setTimes(times); }
    } restore{saved};
    QKWebTimes times = saved;
    times.listDeadlineMs = 1500;
    QKWebServer::setTimes(times);
    XHTTPClient list, download;
    QKWebServer::prepareClient(list, QKWebServer::Request::List);
    QKWebServer::prepareClient(download, QKWebServer::Request::Download);
    EXPECT_EQ(list.DeadlineMs, 1500);
    EXPECT_EQ(list.TimeoutMs, 20000);
    EXPECT_EQ(download.DeadlineMs, saved.downloadDeadlineMs);
    EXPECT_GT(download.StallWindowMs, 0);

    // A byte every 200 ms, for both the beta list and the normal one.
    TestServerProcess script;
    ASSERT_TRUE(StartScriptServer(script)) << script.output();
    TestEnvScope base("MARVONI_WEB_BASE", "http://127.0.0.1:" + std::to_string(script.port()) + "/drip/0.2");
    XRegistry::SetDWORD(1, L"CheckBetaUpdates");
    const auto start = std::chrono::steady_clock::now();
    std::vector<uint8_t> got;
    XStr error;
    EXPECT_FALSE(QKVersionInfoGlobals::fetchList(got, &error));
    EXPECT_NE(error.ToUTF8String().find("took longer than 1500 ms"), std::string::npos) << error.ToUTF8String();
    EXPECT_FALSE(QKVersionInfoGlobals::createWithAppName(L"Marvoni Video Converter Mac")->getVersionInfo());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(90));
}

QKLauncherBase* LauncherOf(const std::shared_ptr<KRAPanelHost>& host)
{
    return dynamic_cast<QKLauncherBase*>(host->currentPanel().get());
}

TEST_F(VersionCheckTest, TheLauncherShowsTheLinkForAnotherVersionOnly)
{
    TestEnvScope base("MARVONI_WEB_BASE", Base());
    List("prog_versions.txt", "99.0", "http://127.0.0.1:1/new");
    QKLauncherBase::setVersionLookup(
        QKVersionInfoGlobals::launcherLookup(QKVersionInfoGlobals::createWithAppName(L"Marvoni Video Converter Mac")));
    auto other = KRAPanelHost::newLauncher();
    QKLauncherBase* launcher = LauncherOf(other);
    ASSERT_TRUE(launcher && launcher->updateLink());
    ASSERT_TRUE(WaitFor([&] { return !launcher->updateURL().isEmpty(); }));
    EXPECT_EQ(launcher->updateLink()->text(), QStringLiteral("update to 99.0"));
    EXPECT_EQ(launcher->updateURL(), QStringLiteral("http://127.0.0.1:1/new"));

    List("prog_versions.txt", MARVONI_APP_VERSION, "http://127.0.0.1:1/same");
    auto inner =
        QKVersionInfoGlobals::launcherLookup(QKVersionInfoGlobals::createWithAppName(L"Marvoni Video Converter Mac"));
    auto asked = std::make_shared<std::atomic<int>>(0);
    QKLauncherBase::setVersionLookup([inner, asked](const QString& name) {
        auto listed = inner(name);
        EXPECT_TRUE(listed); // listed, and the same version as ours
        ++*asked;
        return listed;
    });
    auto ours = KRAPanelHost::newLauncher();
    launcher = LauncherOf(ours);
    ASSERT_TRUE(launcher);
    ASSERT_TRUE(WaitFor([&] { return *asked == 1; }));
    WaitFor([] { return false; }, 300); // time for a link that would be posted
    EXPECT_TRUE(launcher->updateURL().isEmpty());
    QKLauncherBase::setVersionLookup(nullptr);
    KRAPanelHostBase::releaseAllInstances();
}

} // namespace
