// The ways back in a converter window: every panel the setup opens (List & Rename, the
// destination check, the files-already-exist dialog, the settings) returns to the setup as it
// was, by each of its ways out, with nobody but the window holding the setup.
#include "app/AppTestSupport.h"
#include "app/KRAPanelHost.h"
#include "app/KREAppDelegate.h"
#include "app/KREConfigPanel.h"
#include "common/MediaTestFiles.h"
#include "naming/ui/KRAFileListDialog.h"
#include "progress/KRAProgressDialog.h"
#include "setup/KRAPreConvertDialog.h"

#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTest>

namespace {

class ConverterWaysBack : public ::testing::Test {
protected:
    void TearDown() override
    {
        KRAPanelHostBase::releaseAllInstances();
        ProcessPendingEvents();
    }

    TestTempDir dir;
    TestStoreScope store;
    TestEnvScope appData{"_APPDATA_OVERRIDE", dir.file("app")};
};

// A panel that only the window holds.
class PlainPanel : public QKPanelViewController {};

// A key pressed where the user's keyboard would send it: the focus widget of the window.
void PressKey(QWidget* window, Qt::Key key)
{
    QWidget* target = window->focusWidget() ? window->focusWidget() : window;
    QTest::keyClick(target, key);
}

// What the title bar's close button does.
void ClickCloseButton(QWidget* window)
{
    window->close();
}

std::weak_ptr<KRAPreConvertDialog> SetupOf(const std::shared_ptr<KRAPanelHost>& host)
{
    return std::dynamic_pointer_cast<KRAPreConvertDialog>(host->currentPanel());
}

} // namespace

TEST_F(ConverterWaysBack, ListAndRenameReturnsToTheSetupByEachWay)
{
    enum class Way { OK, Cancel, Escape, Return, CloseButton };
    for (Way way : {Way::OK, Way::Cancel, Way::Escape, Way::Return, Way::CloseButton}) {
        SCOPED_TRACE(static_cast<int>(way));
        auto host = KRAPanelHost::newWindow();
        host->preConvertFrom(QVariantList{QUrl::fromLocalFile(QString::fromStdString(dir.file("a.mov"))),
                                          QUrl::fromLocalFile(QString::fromStdString(dir.file("b.mov")))},
                             nullptr);
        const std::weak_ptr<KRAPreConvertDialog> setup = SetupOf(host);
        ASSERT_FALSE(setup.expired());
        const QString profile = setup.lock()->encoderPickButton()->currentText();
        setup.lock()->buttonListFiles()->click();
        auto list = std::dynamic_pointer_cast<KRAFileListDialog>(host->currentPanel());
        ASSERT_TRUE(list);
        ProcessPendingEvents(); // nothing of the click holds the setup any more
        ASSERT_FALSE(setup.expired()) << "the setup went while List & Rename was shown";
        list->setCheckedAt(1, false);
        QWidget* window = host->mainWindow();
        auto* buttons = list->view()->findChild<QDialogButtonBox*>();
        ASSERT_TRUE(buttons);
        switch (way) {
        case Way::OK:
            buttons->button(QDialogButtonBox::Ok)->click();
            break;
        case Way::Cancel:
            buttons->button(QDialogButtonBox::Cancel)->click();
            break;
        case Way::Escape:
            PressKey(window, Qt::Key_Escape);
            break;
        case Way::Return:
            // The list starts with the keyboard on its table.
            EXPECT_EQ(window->focusWidget(), list->table());
            PressKey(window, Qt::Key_Return);
            break;
        case Way::CloseButton:
            ClickCloseButton(window);
            break;
        }
        list.reset();
        // A key press clicks its button a moment later, as a click on screen shows.
        WaitFor([&] { return host->currentPanel() == setup.lock(); });
        ProcessPendingEvents();
        const auto back = setup.lock();
        ASSERT_TRUE(back);
        EXPECT_EQ(host->currentPanel(), back);
        EXPECT_EQ(back->encoderPickButton()->currentText(), profile);
        const bool applied = way == Way::OK || way == Way::Return;
        EXPECT_EQ(host->conversionEntries()[1]->checked, !applied);
        EXPECT_EQ(back->buttonListFiles()->text(), applied ? QStringLiteral("1 file") : QStringLiteral("2 files"));
        KRAPanelHostBase::releaseAllInstances();
        ProcessPendingEvents();
    }
}

TEST_F(ConverterWaysBack, TheHostClosingAWindowOnListAndRenameClosesItWithItsPanels)
{
    std::weak_ptr<KRAPreConvertDialog> setup;
    std::weak_ptr<KRAPanel> list;
    {
        auto host = KRAPanelHost::newWindow();
        host->preConvertFrom(QVariantList{QUrl::fromLocalFile(QString::fromStdString(dir.file("a.mov")))}, nullptr);
        setup = SetupOf(host);
        setup.lock()->buttonListFiles()->click();
        list = host->currentPanel();
        host->setCurrentPanel(nullptr);
    }
    ProcessPendingEvents();
    EXPECT_TRUE(setup.expired());
    EXPECT_TRUE(list.expired());
    // A converter window that closes gives the launcher back.
    EXPECT_TRUE(WaitFor([] { return KRAPanelHostBase::findLauncher() != nullptr; }));
}

TEST_F(ConverterWaysBack, FilesAlreadyExistReturnsToTheSetupByEachWayOut)
{
    const std::string source = dir.file("clip.mkv");
    ASSERT_TRUE(MakeTestVideo(source, "320x240", "25", "1", {"-c:v", "mpeg4", "-c:a", "aac"}));
    KREAppDelegate delegate;
    {
        // Once, so that the output exists.
        auto first = delegate.convertFiles({XStr::FromUTF8(source.c_str())});
        SetupOf(first).lock()->buttonConvert()->click();
        ASSERT_TRUE(WaitFor([&] {
            auto progress = std::dynamic_pointer_cast<KRAProgressDialog>(first->currentPanel());
            return progress && progress->allDone();
        }));
    }
    KRAPanelHostBase::releaseAllInstances();
    ProcessPendingEvents();

    enum class Way { Cancel, Escape, SkipAll, CloseButton, CheckCancelled };
    for (Way way : {Way::Cancel, Way::Escape, Way::SkipAll, Way::CloseButton, Way::CheckCancelled}) {
        SCOPED_TRACE(static_cast<int>(way));
        auto host = delegate.convertFiles({XStr::FromUTF8(source.c_str())});
        const std::weak_ptr<KRAPreConvertDialog> setup = SetupOf(host);
        ASSERT_FALSE(setup.expired());
        setup.lock()->buttonConvert()->click();
        if (way == Way::CheckCancelled) {
            // The check's own Cancel, before it has answered (its answer comes through this
            // thread's event queue, which has not run since).
            auto* check = dynamic_cast<KRACheckingFilenamesProgress*>(host->currentPanel().get());
            ASSERT_TRUE(check);
            ASSERT_TRUE(check->btnCancel());
            check->btnCancel()->click();
        } else {
            ASSERT_TRUE(WaitFor(
                [&] { return host->fileAlreadyExistsDialog() && host->fileAlreadyExistsDialog()->isVisible(); }));
            ProcessPendingEvents();
            KRAFileAlreadyExistsDialog* dialog = host->fileAlreadyExistsDialog();
            switch (way) {
            case Way::Cancel:
                dialog->onButtonCancel();
                break;
            case Way::Escape:
                QTest::keyClick(dialog->focusWidget() ? dialog->focusWidget() : dialog, Qt::Key_Escape);
                break;
            case Way::SkipAll:
                dialog->onButtonNoToAll();
                break;
            default:
                dialog->close();
                break;
            }
        }
        ASSERT_TRUE(WaitFor([&] { return !host->fileAlreadyExistsDialog() && host->currentPanel() == setup.lock(); }))
            << "left on " << (host->currentPanel() ? host->currentPanel()->panelName().toStdString() : "nothing");
        ASSERT_FALSE(setup.expired());
        EXPECT_TRUE(setup.lock()->buttonConvert()->isEnabled());
        // And the setup still goes on: Convert again reaches the dialog again.
        setup.lock()->buttonConvert()->click();
        EXPECT_TRUE(
            WaitFor([&] { return host->fileAlreadyExistsDialog() && host->fileAlreadyExistsDialog()->isVisible(); }));
        KRAPanelHostBase::releaseAllInstances();
        ProcessPendingEvents();
    }
}

TEST_F(ConverterWaysBack, TheSetupAndTheSettingsReturnToThePanelTheyCameFrom)
{
    auto host = KRAPanelHost::newWindow();
    std::weak_ptr<KRAPanel> log;
    {
        // Like the status log a re-convert starts from: only the window holds it.
        auto panel = std::make_shared<PlainPanel>();
        log = panel;
        host->setCurrentPanel(panel);
        host->preConvertFrom(QVariantList{QUrl::fromLocalFile(QString::fromStdString(dir.file("a.mov")))}, panel);
    }
    ProcessPendingEvents();
    const std::weak_ptr<KRAPreConvertDialog> setup = SetupOf(host);
    ASSERT_FALSE(setup.expired());
    ASSERT_FALSE(log.expired());

    // The settings over the setup: Escape leaves them for the setup.
    KREConfigPanel::showIn(host);
    ASSERT_TRUE(dynamic_cast<KREConfigPanel*>(host->currentPanel().get()));
    ProcessPendingEvents();
    PressKey(host->mainWindow(), Qt::Key_Escape);
    ProcessPendingEvents();
    ASSERT_FALSE(setup.expired());
    EXPECT_EQ(host->currentPanel(), setup.lock());

    // Escape in the setup is Back: to the log, as it was.
    PressKey(host->mainWindow(), Qt::Key_Escape);
    ProcessPendingEvents();
    ASSERT_FALSE(log.expired());
    EXPECT_EQ(host->currentPanel(), log.lock());
    EXPECT_TRUE(setup.expired());
}
