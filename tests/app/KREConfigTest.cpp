// The configuration window: the ffmpeg download and its install through the locator, the
// FFmpeg page's queries and sheets, the options page and the one panel that may exist.
#include "app/AppTestSupport.h"
#include "common/NetTestServers.h"

#include "app/KRAPanelHost.h"
#include "app/KREConfigFFmpeg.h"
#include "app/KREConfigOptions.h"
#include "app/KREConfigPanel.h"
#include "app/KREFFmpegDownload.h"
#include "engine/QKDebugLog.h"
#include "media/QKLocateFFmpeg.h"
#include "setup/KRADSPListPane.h"
#include "xclass/XTempFile.h"

#include <gtest/gtest.h>

#include <QMessageBox>

#include <filesystem>
#include <thread>
#include <unistd.h>

namespace {

const std::string kScript = "#!/bin/sh\necho \"ffmpeg version $1 $2\"\n";

class ConfigTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        XSetAppDataFolder(L"MarvoniVideo");
        std::filesystem::create_directories(m_site.file("install"));
        std::filesystem::create_directories(m_site.file("pack"));
        WriteTestFile(m_site.file("pack/ffmpeg"), kScript, 0755);
    }
    void TearDown() override
    {
        QKLocateFFmpeg::revertToInternal();
        KRAPanelHostBase::releaseAllInstances();
    }
    void Pack(const std::string& archive)
    {
        ASSERT_TRUE(RunProgramQuietly({"tar", "-C", m_site.file("pack"), "-cjf", m_site.file(archive), "ffmpeg"}));
    }
    std::string Installed() const { return XStr(QKLocateFFmpeg::pathToExternalFFmpeg()).ToUTF8String(); }
    void InstallOldCopy()
    {
        WriteTestFile(m_old.file("ffmpeg"), "#!/bin/sh\necho ffmpeg version old\n", 0755);
        ASSERT_TRUE(QKLocateFFmpeg::installFrom(m_old.wfile("ffmpeg"), false));
    }

    TestStoreScope m_store;
    TestTempDir m_appData;
    TestEnvScope m_override{"_APPDATA_OVERRIDE", m_appData.path()};
    TestTempDir m_site;
    TestTempDir m_old;
};

TEST_F(ConfigTest, DownloadFallsBackToTheGenericArchiveInstallsItAndReverts)
{
    Pack("install/ffmpeg-mac.tar.bz2");
    TestServerProcess server;
    ASSERT_TRUE(StartPythonHttpServer(server, m_site.path())) << server.output();
    TestEnvScope base("MARVONI_WEB_BASE", "http://127.0.0.1:" + std::to_string(server.port()));

    const KREFFmpegDownloadResult result = KREFFmpegDownload::downloadAndInstall(nullptr);
    ASSERT_TRUE(result.ok) << result.error.ToUTF8String();
    EXPECT_TRUE(result.fromURL.EndsWith(L"/install/ffmpeg-mac.tar.bz2"));
    EXPECT_EQ(Installed(), m_appData.path() + "/MarvoniVideo/ffmpeg");
    ToolRunResult run = RunProcess({Installed(), "-version"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "ffmpeg version -version \n");
    EXPECT_TRUE(std::filesystem::exists(Installed() + ".auto"));

    // The processor's own archive comes first when the server has it.
    Pack("install/ffmpeg-mac-x86_64-qkvideo.tar.bz2");
    EXPECT_TRUE(
        KREFFmpegDownload::downloadAndInstall(nullptr).fromURL.EndsWith(L"/install/ffmpeg-mac-x86_64-qkvideo.tar.bz2"));

    KREConfigFFmpeg page;
    page.refreshOptions();
    EXPECT_TRUE(page.bAuto());
    page.onUseInternal();
    EXPECT_FALSE(std::filesystem::exists(Installed()));
    EXPECT_FALSE(std::filesystem::exists(Installed() + ".auto"));
    EXPECT_TRUE(page.bInternal());
}

TEST_F(ConfigTest, ACutOffArchiveLeavesTheOldCopyAndNoTemporaryFile)
{
    InstallOldCopy();
    Pack("whole.tar.bz2");
    const std::string archive = ReadTestFile(m_site.file("whole.tar.bz2"));
    TestListener listener;
    std::thread server([&] {
        for (int i = 0; i < 2; i++) { // both addresses answer with a cut body
            const int fd = listener.Accept();
            if (fd < 0)
                return;
            ReadUntil(fd, "\r\n\r\n");
            const std::string head =
                "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(archive.size()) + "\r\n\r\n";
            const std::string answer = head + archive.substr(0, archive.size() / 2);
            EXPECT_EQ(write(fd, answer.data(), answer.size()), static_cast<ssize_t>(answer.size()));
            close(fd);
        }
    });
    TestEnvScope base("MARVONI_WEB_BASE", "http://127.0.0.1:" + std::to_string(listener.port()));
    const KREFFmpegDownloadResult result = KREFFmpegDownload::downloadAndInstall(nullptr);
    server.join();
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.ToUTF8String().find("cut off"), std::string::npos) << result.error.ToUTF8String();
    EXPECT_EQ(ReadTestFile(Installed()), "#!/bin/sh\necho ffmpeg version old\n");
    EXPECT_FALSE(std::filesystem::exists(Installed() + ".auto"));
    // The temporary folder is shared with the other tests running at the same time: only this
    // process's own temporaries (their names carry its process id) count.
    const std::string own = "KREXTempFile-" + std::to_string(getpid()) + "-";
    for (const auto& entry : std::filesystem::directory_iterator(XGetTempFolder().ToUTF8String()))
        EXPECT_NE(entry.path().filename().string().rfind(own, 0), 0u) << entry.path();
}

TEST_F(ConfigTest, QueriesRunFFmpegFromAnArgumentList)
{
    const std::string folder = m_site.file("q\"$(touch PWNED)\"'; touch PWNED2 #");
    std::filesystem::create_directories(folder);
    WriteTestFile(folder + "/ffmpeg", kScript, 0755);
    const KREConfigFFmpeg::Answers answers = KREConfigFFmpeg::queryFFmpeg(QString::fromStdString(folder + "/ffmpeg"));
    EXPECT_EQ(answers.version, QStringLiteral("ffmpeg version -version \n"));
    EXPECT_EQ(answers.license, QStringLiteral("ffmpeg version -L \n"));
    EXPECT_EQ(answers.codecs, QStringLiteral("ffmpeg version -codecs \n"));
    EXPECT_FALSE(std::filesystem::exists("PWNED"));
    EXPECT_FALSE(std::filesystem::exists("PWNED2"));
    EXPECT_TRUE(KREConfigFFmpeg::queryFFmpeg(QString::fromStdString(m_site.file("none/ffmpeg"))).version.isEmpty());

    EXPECT_TRUE(KREOpenPanelDelegateFindFFmpeg::shouldEnable(QStringLiteral("/opt/x/ffmpeg"), false));
    EXPECT_TRUE(KREOpenPanelDelegateFindFFmpeg::shouldEnable(QStringLiteral("/opt/x"), true));
    EXPECT_FALSE(KREOpenPanelDelegateFindFFmpeg::shouldEnable(QStringLiteral("/opt/x/FFmpeg"), false));
    EXPECT_FALSE(KREOpenPanelDelegateFindFFmpeg::shouldEnable(QStringLiteral("/opt/x/ffmpeg.tar.gz"), false));
}

TEST_F(ConfigTest, OneDownloadSheetAtATimeAndResultsAfterCloseAreDropped)
{
    InstallOldCopy();
    TestListener silent; // takes the connection and never answers
    TestEnvScope base("MARVONI_WEB_BASE", "http://127.0.0.1:" + std::to_string(silent.port()));
    auto host = KRAPanelHost::newWindow();
    auto panel = KREConfigPanel::showIn(host);
    KREConfigFFmpeg* page = panel->contentFFmpeg();
    ASSERT_TRUE(page);
    ASSERT_TRUE(WaitFor([&] {
        return page->strVersion() == QStringLiteral("ffmpeg version -version \n") ||
               page->strVersion() == QStringLiteral("ffmpeg version old\n");
    }));
    EXPECT_TRUE(page->bCustom());

    page->onAutoInstall();
    QPointer<KREDownloadFFmpeg> sheet = page->downloadWindow();
    ASSERT_TRUE(sheet);
    page->onAutoInstall();
    EXPECT_EQ(page->downloadWindow(), sheet.data());
    EXPECT_TRUE(page->openInProgress());
    sheet->cancelButton()->click();
    ASSERT_TRUE(WaitFor([&] { return host->mainWindow()->findChild<QMessageBox*>(QStringLiteral("ffmpegAlert")); }));
    EXPECT_FALSE(page->openInProgress());
    EXPECT_TRUE(page->bCustom());
    EXPECT_EQ(ReadTestFile(Installed()), "#!/bin/sh\necho ffmpeg version old\n");

    // A query and a download still running when their page goes answer into nothing.
    page->refresh();
    page->onAutoInstall();
    host->returnToRootOrClose();
    panel.reset();
    WaitFor([] { return false; }, 500); // room for the answers that come into nothing
    EXPECT_TRUE(WaitFor([] { return !KREConfigPanel::current(); }));
}

TEST_F(ConfigTest, OptionsAreStoredAtOnceAndTheDebugSwitchLeavesTheEnvironment)
{
    TestEnvScope debug("MARVONI_DEBUG", nullptr);
    KREConfigOptions options;
    options.view();
    EXPECT_FALSE(options.enableProfiles()->isChecked());
    options.enableProfiles()->click();
    options.checkForBetaUpdates()->click();
    EXPECT_EQ(XRegistry::GetDWORD(KREConfigOptions::kAllowProfiles), 1u);
    EXPECT_EQ(XRegistry::GetDWORD(KREConfigOptions::kCheckBetaUpdates), 1u);
    EXPECT_EQ(XRegistry::GetDWORD(KREConfigOptions::kShowAudioOnly), 0u);
    options.checkForBetaUpdates()->click();
    EXPECT_EQ(XRegistry::GetDWORD(KREConfigOptions::kCheckBetaUpdates), 0u);

    const bool wasOn = isDebugEnv();
    options.converterDebug()->setChecked(!wasOn);
    EXPECT_EQ(isDebugEnv(), !wasOn);
    bool isSet = true;
    XGetEnv("MARVONI_DEBUG", &isSet);
    EXPECT_FALSE(isSet);
    setDebugEnv(wasOn);
}

TEST_F(ConfigTest, ASecondRequestBringsTheOnePanelToTheFront)
{
    auto first = KRAPanelHost::newWindow();
    auto panel = KREConfigPanel::showIn(first);
    EXPECT_EQ(first->currentPanel(), panel);
    EXPECT_EQ(panel->panelName(), QStringLiteral("Marvoni Configuration"));
    EXPECT_EQ(panel->contentNow(), panel->contentFFmpeg());
    panel->switchToOptions();
    EXPECT_EQ(panel->contentNow(), panel->contentOptions());

    KRAPanelHost::setConfigWindowOpener(
        [](const std::shared_ptr<KRAPanelHost>& host, bool ffmpegPage) { KREConfigPanel::showIn(host, ffmpegPage); });
    auto second = KRAPanelHost::newLauncher();
    const auto launcher = second->currentPanel();
    second->showConfigWindow(true); // "Install missing codecs" from another window
    EXPECT_EQ(second->currentPanel(), launcher);
    EXPECT_EQ(KREConfigPanel::current(), panel);
    EXPECT_EQ(panel->contentNow(), panel->contentFFmpeg());

    // "Install missing effects" in an effect list reaches the same panel, at its ffmpeg page.
    panel->switchToOptions();
    KRADSPListPane effects;
    effects.view()->setParent(second->window());
    effects.onInstallFFmpeg();
    KRAPanelHost::setConfigWindowOpener(nullptr);
    EXPECT_EQ(second->currentPanel(), launcher);
    EXPECT_EQ(panel->contentNow(), panel->contentFFmpeg());
}

} // namespace
