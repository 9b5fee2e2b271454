// The converter window, the launcher and the application's delegate: a real file converted
// from the command-line entry to the output, the close rule, drops, and the update link.
#include "app/KRAPanelHost.h"
#include "app/AppTestSupport.h"
#include "app/KREAppDelegate.h"
#include "app/KRELauncher.h"
#include "common/MediaTestFiles.h"
#include "common/QtTestPrint.h"
#include "job/QKConversionSpec.h"
#include "platform/XWorkspace.h"
#include "progress/KRAProgressDialog.h"
#include "setup/KRAPreConvertDialog.h"
#include "xclass/XRegistry.h"

#include <gtest/gtest.h>

#include <QDropEvent>
#include <QFileDialog>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>

#include <atomic>

namespace {

class ConverterWindow : public ::testing::Test {
protected:
    void TearDown() override
    {
        KRAPanelHost::setBatchConverterFactory(nullptr);
        QKLauncherBase::setVersionLookup(nullptr);
        KRAPanelHostBase::releaseAllInstances();
        ProcessPendingEvents();
    }

    std::string PathOf(const QUrl& url) { return XPathFromFileURL(url).ToUTF8String(); }

    TestTempDir dir;
    TestStoreScope store;
    TestEnvScope appData{"_APPDATA_OVERRIDE", dir.file("app")};
};

// A panel that is neither launcher nor root.
class PlainPanel : public QKPanelViewController {};

// Clicks Convert and follows the window until its batch is over; the progress dialog it ran.
std::shared_ptr<KRAProgressDialog> ConvertAndWait(const std::shared_ptr<KRAPanelHost>& host)
{
    auto setup = std::dynamic_pointer_cast<KRAPreConvertDialog>(host->currentPanel());
    if (!setup)
        return nullptr;
    setup->buttonConvert()->click();
    std::shared_ptr<KRAProgressDialog> progress;
    WaitFor([&] {
        if (!progress)
            progress = std::dynamic_pointer_cast<KRAProgressDialog>(host->currentPanel());
        return progress && progress->allDone();
    });
    return progress;
}

} // namespace

TEST_F(ConverterWindow, ConvertsACommandLineFileEndToEndThenAsksBeforeOverwriting)
{
    // A name that is not UTF-8 must come out with the same bytes and the new extension.
    const std::string source = dir.file("clip\xff.mkv");
    ASSERT_TRUE(MakeTestVideo(source, "320x240", "25", "1", {"-c:v", "mpeg4", "-c:a", "aac"}));
    KREAppDelegate delegate;
    auto host = delegate.convertFiles({XStr::FromUTF8(source.c_str()), XStr::FromUTF8(dir.file("gone.mkv").c_str())});
    EXPECT_TRUE(delegate.lastReport().contains(QStringLiteral("gone.mkv (does not exist)")))
        << delegate.lastReport().toStdString();
    ASSERT_EQ(host->conversionEntries().size(), 1);
    EXPECT_EQ(PathOf(host->conversionEntries()[0]->namingURL()), source);
    EXPECT_TRUE(host->suppressReturnToLauncher());

    const auto progress = ConvertAndWait(host);
    ASSERT_TRUE(progress);
    ASSERT_TRUE(host->checkFilenamesState());
    ASSERT_EQ(host->checkFilenamesState()->entries.size(), 1);
    const std::string output = PathOf(host->checkFilenamesState()->entries[0]->destination);
    EXPECT_EQ(output.rfind(dir.file("clip\xff."), 0), 0u) << output;
    EXPECT_NE(output, source);
    EXPECT_TRUE(RunProgramQuietly({"ffprobe", "-v", "error", output}));
    EXPECT_TRUE(PathExists(source));

    // Again: the output exists now, so the window asks first; Cancel leads back to the setup.
    auto again = delegate.convertFiles({XStr::FromUTF8(source.c_str())});
    auto setup = std::dynamic_pointer_cast<KRAPreConvertDialog>(again->currentPanel());
    ASSERT_TRUE(setup);
    setup->buttonConvert()->click();
    ASSERT_TRUE(
        WaitFor([&] { return again->fileAlreadyExistsDialog() && again->fileAlreadyExistsDialog()->isVisible(); }));
    again->fileAlreadyExistsDialog()->onButtonCancel();
    EXPECT_TRUE(WaitFor([&] { return again->currentPanel() == setup && !again->fileAlreadyExistsDialog(); }));
}

TEST_F(ConverterWindow, BuildsTheBatchFromTheCheckedDestinationsOnly)
{
    auto host = KRAPanelHost::newWindow();
    auto other = KRAPanelHost::newWindow();
    host->preConvertFrom(QVariantList{QUrl::fromLocalFile("/v/a.mov"), QStringLiteral("/v/b.mov"), 42}, nullptr);
    other->preConvertFrom(QVariantList{QUrl::fromLocalFile("/v/c.mov")}, nullptr);
    ASSERT_EQ(host->conversionEntries().size(), 2); // the number is dropped
    EXPECT_EQ(other->conversionEntries().size(), 1);
    EXPECT_NE(host->config(), other->config());
    EXPECT_NE(host->infoCache(), other->infoCache());

    // No check yet: an empty batch.
    ASSERT_TRUE(host->conversionSpec());
    EXPECT_TRUE(host->conversionSpec()->entries.isEmpty());

    auto state = std::make_shared<KRACheckFilenamesState>();
    for (const char* to : {"/out/a.mp4", "/out/b.mp4"}) {
        auto entry = std::make_shared<KRACheckFileNamesEntry>();
        entry->source2 = host->conversionEntries()[state->entries.size()]->source2();
        entry->destination = QUrl::fromLocalFile(to);
        entry->sourceSizeBytes = 7;
        state->entries.append(entry);
    }
    state->entries[0]->checked = false;
    host->checkFileNamesDone(state, false, nullptr);
    const auto spec = host->conversionSpec();
    ASSERT_EQ(spec->entries.size(), 1);
    EXPECT_EQ(spec->entries[0]->urlTo, QUrl::fromLocalFile("/out/b.mp4"));
    EXPECT_EQ(spec->entries[0]->sourceSizeBytes, 7u);
    EXPECT_EQ(spec->Encoder->name(), host->config()->activeEncoder()->name());
    EXPECT_TRUE(std::dynamic_pointer_cast<KRAProgressDialog>(host->currentPanel()));
}

TEST_F(ConverterWindow, ClosingAConverterWindowBringsBackOneLauncher)
{
    auto host = KRAPanelHost::newWindow();
    host->setCurrentPanel(std::make_shared<PlainPanel>());
    EXPECT_EQ(host->window()->windowTitle(), QStringLiteral("Marvoni Video Converter"));
    host->window()->close();
    ProcessPendingEvents();
    auto launcher = std::dynamic_pointer_cast<KRAPanelHost>(KRAPanelHostBase::findLauncher());
    ASSERT_TRUE(launcher);
    EXPECT_EQ(KRAPanelHostBase::allInstances().size(), 1u);

    // The launcher's own window and a command-line window close for good.
    launcher->window()->close();
    auto fromCommandLine = KRAPanelHost::newWindow();
    fromCommandLine->setSuppressReturnToLauncher(true);
    fromCommandLine->setCurrentPanel(std::make_shared<PlainPanel>());
    fromCommandLine->window()->close();
    ProcessPendingEvents();
    EXPECT_TRUE(KRAPanelHostBase::allInstances().empty());
}

TEST_F(ConverterWindow, CommandLineEntriesKeepTheirBytes)
{
    char program[] = "marvoni-video", files[] = "--convert-files", dashes[] = "--", odd[] = "a\xff b.mkv",
         dash[] = "-x.mkv", folder[] = "--convert-folder", bogus[] = "--bogus";
    char* convert[] = {program, files, odd, dashes, dash};
    auto line = KREAppDelegate::parseCommandLine(5, convert);
    ASSERT_EQ(line.kind, KREAppDelegate::CommandLine::Kind::ConvertFiles);
    ASSERT_EQ(line.paths.size(), 2u);
    EXPECT_EQ(line.paths[0].ToUTF8String(), std::string("a\xff b.mkv"));
    EXPECT_EQ(line.paths[1].ToUTF8String(), "-x.mkv");

    char* both[] = {program, files, odd, folder};
    EXPECT_EQ(KREAppDelegate::parseCommandLine(4, both).kind, KREAppDelegate::CommandLine::Kind::Wrong);
    char* wrong[] = {program, bogus};
    EXPECT_EQ(KREAppDelegate::parseCommandLine(2, wrong).kind, KREAppDelegate::CommandLine::Kind::Wrong);
    char* none[] = {program};
    EXPECT_EQ(KREAppDelegate::parseCommandLine(1, none).kind, KREAppDelegate::CommandLine::Kind::Launcher);
    char* empty[] = {program, folder};
    line = KREAppDelegate::parseCommandLine(2, empty);
    EXPECT_EQ(line.kind, KREAppDelegate::CommandLine::Kind::ConvertFolders);
    EXPECT_TRUE(line.paths.empty());
}

TEST_F(ConverterWindow, LauncherDropsGoToTheSetupOrTheBatchConverter)
{
    std::optional<QList<QUrl>> batchSelection;
    KRAPanelHost::setBatchConverterFactory(
        [&](const std::shared_ptr<KRAPanelHost>&, const std::optional<QList<QUrl>>& selection) {
            batchSelection = selection;
            return std::make_shared<PlainPanel>();
        });
    const std::string clip = dir.file("clip\xff.mkv");
    WriteTextFile(clip, "x");
    const QByteArray uriList = XFileURL(XStr::FromUTF8(clip.c_str())).toEncoded() + "\r\n# comment\r\n";

    auto host = KRAPanelHost::newLauncher();
    auto launcher = std::dynamic_pointer_cast<KRELauncher>(host->currentPanel());
    ASSERT_TRUE(launcher);
    auto drop = [&](const QByteArray& list) {
        QMimeData data;
        data.setData(QStringLiteral("text/uri-list"), list);
        QDropEvent event(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        return launcher->performDragOperation(&event, nullptr);
    };

    ASSERT_TRUE(drop(uriList));
    ASSERT_TRUE(std::dynamic_pointer_cast<KRAPreConvertDialog>(host->currentPanel()));
    ASSERT_EQ(host->conversionEntries().size(), 1);
    EXPECT_EQ(PathOf(host->conversionEntries()[0]->namingURL()), clip);
    EXPECT_FALSE(batchSelection);

    // Files and a folder: the batch converter, with everything selected, as no batch profile.
    host->setCurrentPanel(launcher);
    ASSERT_TRUE(drop(uriList + XFileURL(XStr::FromUTF8(dir.path().c_str())).toEncoded()));
    ASSERT_TRUE(batchSelection);
    EXPECT_EQ(batchSelection->size(), 2);
    EXPECT_FALSE(host->batchConverter());

    EXPECT_FALSE(drop("http://127.0.0.1/clip.mkv\r\n"));
}

TEST_F(ConverterWindow, UpdateLinkOnlyForAnotherListedVersion)
{
    std::atomic<int> asked{0};
    QString listed = QStringLiteral("99.0");
    QKLauncherBase::setVersionLookup([&](const QString& name) -> std::optional<QKLauncherBase::ListedVersion> {
        EXPECT_EQ(name, QStringLiteral("Marvoni Video Converter Mac"));
        const QString version = listed;
        ++asked;
        return QKLauncherBase::ListedVersion{version, QStringLiteral("http://127.0.0.1:8766/new")};
    });
    auto newer = std::make_shared<KRELauncher>();
    newer->view();
    ASSERT_TRUE(WaitFor([&] { return !newer->updateURL().isEmpty(); }));
    EXPECT_EQ(newer->updateLink()->text(), QStringLiteral("update to 99.0"));
    EXPECT_FALSE(newer->updateLink()->isHidden());

    listed = QStringLiteral(MARVONI_APP_VERSION);
    auto same = std::make_shared<KRELauncher>();
    same->view();
    ASSERT_TRUE(WaitFor([&] { return asked == 2; }));
    ProcessPendingEvents();
    EXPECT_TRUE(same->updateLink()->isHidden());

    XRegistry::SetDWORD(1, L"NoCheckUpdates");
    std::make_shared<KRELauncher>()->view();
    ProcessPendingEvents();
    EXPECT_EQ(asked, 2);
}

TEST_F(ConverterWindow, DelegateIgnoresWindowsThatAreNotConverterWindows)
{
    KREAppDelegate delegate;
    auto plain = KRAPanelHostBase::newWindow();
    delegate.preConvertFrom({QUrl::fromLocalFile("/v/a.mov")}, plain, nullptr);
    EXPECT_FALSE(plain->currentPanel());
}

TEST_F(ConverterWindow, OpenFileDialogRemembersItsFolderOnlyOnOK)
{
    const std::string clip = dir.file("a clip.mkv");
    WriteTextFile(clip, "x");
    QSettings().remove(QString::fromLatin1(KRAPanelHost::kSourceFolderKey));
    auto host = KRAPanelHost::newLauncher();
    const auto launcher = host->currentPanel();

    host->startOpenFileDialog();
    ASSERT_TRUE(host->openFileDialog());
    host->openFileDialog()->reject();
    ProcessPendingEvents();
    EXPECT_FALSE(QSettings().contains(QString::fromLatin1(KRAPanelHost::kSourceFolderKey)));
    EXPECT_EQ(host->currentPanel(), launcher);

    host->startOpenFileDialog();
    QFileDialog* dialog = host->openFileDialog();
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(dialog->isModal());
    // Only what the converter reads is on offer.
    ASSERT_EQ(dialog->nameFilters().size(), 1);
    EXPECT_TRUE(dialog->nameFilters().value(0).contains(QStringLiteral("*.MKV")));
    dialog->setDirectory(QString::fromStdString(dir.path()));
    dialog->selectFile(QStringLiteral("a clip.mkv"));
    QMetaObject::invokeMethod(dialog, "accept"); // as its Open button does
    ProcessPendingEvents();
    EXPECT_EQ(QSettings().value(QString::fromLatin1(KRAPanelHost::kSourceFolderKey)).toString(),
              QString::fromStdString(dir.path()));
    auto setup = std::dynamic_pointer_cast<KRAPreConvertDialog>(host->currentPanel());
    ASSERT_TRUE(setup);
    EXPECT_EQ(setup->invokerPanel(), launcher); // Back returns to the launcher
    ASSERT_EQ(host->conversionEntries().size(), 1);
    EXPECT_EQ(PathOf(host->conversionEntries()[0]->namingURL()), clip);
}
