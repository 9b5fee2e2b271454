// The converter setup as a user drives it: the encoder and profile pop-up, making and
// deleting profiles, the file count, and Go refusing what cannot be converted.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "common/TestEnv.h"
#include "common/TestFiles.h"
#include "common/TestPreConvertHost.h"
#include "common/TestStore.h"
#include "naming/KRAFileNaming.h"
#include "naming/ui/KRAOutputLocationPickerV2.h"
#include "platform/XStrQString.h"
#include "setup/KRADSPListPane.h"
#include "setup/KRAProfileDialogs.h"
#include "setup/KREEncoderPage.h"
#include "setup/KREEncoderPageCustom.h"
#include "xclass/XRegistry.h"

namespace {

const wchar_t kProduct[] = L"Software\\Brantok\\MarvoniVideo";

QStringList Titles(QComboBox* box)
{
    QStringList titles;
    for (int i = 0; i < box->count(); ++i)
        titles.append(box->itemData(i, Qt::AccessibleDescriptionRole).toString() == QLatin1String("separator")
                          ? QStringLiteral("---")
                          : box->itemText(i));
    return titles;
}

class PreConvertDialog : public ::testing::Test {
protected:
    std::shared_ptr<KRAPreConvertDialog> open(int files = 2, bool allowProfiles = false)
    {
        XRegistry::SetDWORD(allowProfiles ? 1 : 0, L"kRAAllowProfiles", L"HKCU", kProduct);
        QStringList names;
        for (int i = 0; i < files; ++i)
            names.append(QString::fromStdString(dir.file("clip" + std::to_string(i) + ".mp4")));
        host = std::make_shared<TestPreConvertHost>(names);
        auto dialog = host->openSetup(host);
        dialog->view();
        return dialog;
    }
    // Clicks a button of the message box the dialog has open.
    static void answer(KRAPreConvertDialog& dialog, const QString& text)
    {
        QMessageBox* box = dialog.openAlert();
        ASSERT_TRUE(box);
        for (QAbstractButton* button : box->buttons())
            if (button->text().remove('&') == text) {
                button->click();
                QApplication::processEvents();
                return;
            }
        FAIL() << "no button " << text.toStdString();
    }

    TestStoreScope store;
    TestTempDir dir;
    std::shared_ptr<TestPreConvertHost> host;
};

} // namespace

TEST_F(PreConvertDialog, PickerOffersEncodersThenTheWayToMoreCodecs)
{
    auto dialog = open();
    const QStringList titles = Titles(dialog->encoderPickButton());
    EXPECT_EQ(titles.first(), QStringLiteral("[Multi Encoder]"));
    ASSERT_GE(titles.size(), 3);
    EXPECT_EQ(titles[titles.size() - 2], QStringLiteral("---"));
    EXPECT_EQ(titles.last(), KRAPreConvertDialog::installCodecsTitle());
    EXPECT_FALSE(titles.contains(KRAPreConvertDialog::createProfileTitle()));
    EXPECT_EQ(dialog->encoderPickButton()->currentText(), QStringLiteral("MP4 (copy, no encoding)"));
    ASSERT_TRUE(dialog->encoderPage());

    // The codec installer opens in the host; the active profile stays.
    ASSERT_TRUE(dialog->chooseItem(KRAPreConvertDialog::installCodecsTitle()));
    EXPECT_EQ(host->configPanels, 1);
    EXPECT_EQ(host->config()->activeProfileName(), QStringLiteral("MP4 (copy, no encoding)"));
    EXPECT_EQ(dialog->encoderPickButton()->currentText(), QStringLiteral("MP4 (copy, no encoding)"));
}

TEST_F(PreConvertDialog, SwitchingEncodersKeepsEachProfilesSettings)
{
    auto dialog = open();
    ASSERT_TRUE(dialog->chooseItem(QStringLiteral("AVI")));
    EXPECT_EQ(host->config()->activeProfileName(), QStringLiteral("AVI"));
    const QString aviDefaults = dialog->encoderArgs();
    EXPECT_FALSE(aviDefaults.isEmpty()) << "the page wrote its defaults";
    dialog->setEncoderArgs(aviDefaults + QStringLiteral(" -metadata title=x"));
    ASSERT_TRUE(dialog->chooseItem(QStringLiteral("WebM (VP8)")));
    EXPECT_NE(dialog->encoderArgs(), aviDefaults);
    EXPECT_EQ(dialog->locationPicker()->fileNaming(), host->config()->activeProfile()->fileNaming);
    // The profile left was saved: a new configuration reads it.
    XRegistry::DropCache();
    EXPECT_EQ(KRAConfig().profileNamed(QStringLiteral("AVI"))->encoderArgsV2.strArgs,
              aviDefaults + QStringLiteral(" -metadata title=x"));
    EXPECT_EQ(KRAConfig().activeProfileName(), QStringLiteral("WebM (VP8)"));

    // Effects edited in the pane are the active profile's.
    dialog->dspList()->setDspEffectsString(QStringLiteral("-dspeffect1=\"Crop=-vf crop=10:10:0:0\""));
    dialog->dspList()->onDSPRemoveRow(5); // nothing: past the end
    dialog->onDSPChanged();
    EXPECT_EQ(host->config()->activeProfile()->dspEffects.size(), 1);
}

TEST_F(PreConvertDialog, MakingAndDeletingUserProfiles)
{
    auto dialog = open(2, true);
    ASSERT_TRUE(dialog->chooseItem(QStringLiteral("AVI")));
    EXPECT_TRUE(Titles(dialog->encoderPickButton()).contains(KRAPreConvertDialog::createProfileTitle()));

    // Cancelled: nothing changes.
    ASSERT_TRUE(dialog->chooseItem(KRAPreConvertDialog::createProfileTitle()));
    ASSERT_TRUE(dialog->createProfileSheet());
    EXPECT_EQ(dialog->createProfileSheet()->strProfile(), QStringLiteral("<type profile name>"));
    dialog->createProfileSheet()->reject();
    QApplication::processEvents();
    EXPECT_EQ(host->config()->activeProfileName(), QStringLiteral("AVI"));
    EXPECT_EQ(dialog->encoderPickButton()->currentText(), QStringLiteral("AVI"));

    // A name taken by an encoder, or one the store could not keep, keeps the sheet open.
    ASSERT_TRUE(dialog->chooseItem(KRAPreConvertDialog::createProfileTitle()));
    KRACreateProfile* sheet = dialog->createProfileSheet();
    for (const char* bad : {"WebM (VP8)", "a\\b"}) {
        sheet->setStrProfile(QString::fromUtf8(bad));
        sheet->onOK();
        EXPECT_FALSE(sheet->lastRefusal().isEmpty()) << bad;
        EXPECT_TRUE(sheet->isVisible()) << bad;
    }
    sheet->setStrProfile(QStringLiteral("Small"));
    sheet->onOK();
    QApplication::processEvents();
    EXPECT_EQ(host->config()->activeProfileName(), QStringLiteral("Small \"AVI\""));
    EXPECT_EQ(dialog->encoderPickButton()->currentText(), QStringLiteral("Small \"AVI\""));
    EXPECT_FALSE(dialog->encoderPickButton()->itemIcon(dialog->encoderPickButton()->currentIndex()).isNull());
    const QStringList titles = Titles(dialog->encoderPickButton());
    EXPECT_EQ(titles[titles.size() - 2], QStringLiteral("---"));

    // Deleting the last user profile: the separator goes, the default profile comes.
    ASSERT_TRUE(dialog->chooseItem(KRAPreConvertDialog::deleteProfileTitle()));
    ASSERT_TRUE(dialog->openAlert());
    EXPECT_EQ(dialog->openAlert()->text(), QStringLiteral("Delete profile 'Small \"AVI\"' ?"));
    answer(*dialog, QStringLiteral("No"));
    EXPECT_EQ(host->config()->activeProfileName(), QStringLiteral("Small \"AVI\""));
    ASSERT_TRUE(dialog->chooseItem(KRAPreConvertDialog::deleteProfileTitle()));
    answer(*dialog, QStringLiteral("Yes"));
    EXPECT_EQ(host->config()->activeProfileName(), QStringLiteral("MP4 (copy, no encoding)"));
    EXPECT_EQ(dialog->encoderPickButton()->currentText(), QStringLiteral("MP4 (copy, no encoding)"));
    EXPECT_EQ(Titles(dialog->encoderPickButton()).last(), KRAPreConvertDialog::deleteProfileTitle());
    XRegistry::DropCache();
    EXPECT_FALSE(KRAConfig().profileNamed(QStringLiteral("Small \"AVI\"")));
}

TEST_F(PreConvertDialog, FileCountAndBack)
{
    auto none = open(0);
    EXPECT_FALSE(none->buttonConvert()->isEnabled());
    EXPECT_EQ(none->buttonListFiles()->text(), QStringLiteral("No files"));
    none->onButtonCancel();
    EXPECT_EQ(host->closed, 1);

    auto three = open(3);
    EXPECT_TRUE(three->buttonConvert()->isEnabled());
    EXPECT_EQ(three->buttonListFiles()->text(), QStringLiteral("3 files"));
    three->buttonListFiles()->click();
    ASSERT_TRUE(three->fileListDialog());
    EXPECT_EQ(host->currentPanel(), three->fileListDialog());
    three->fileListDialog()->onCancel();
    EXPECT_EQ(host->currentPanel(), three);
    // Back returns to the panel that opened the setup.
    auto invoker = std::make_shared<KRAPreConvertDialog>(host);
    three->setInvokerPanel(invoker);
    three->onButtonCancel();
    EXPECT_EQ(host->currentPanel(), invoker);

    // User destinations from list and rename go as soon as the location changes.
    host->entries.first()->destinationUser = QStringLiteral("/x/y");
    three->fileListDialogApply();
    three->resetDestinationFiles();
    EXPECT_FALSE(host->entries.first()->destinationUser.has_value());
}

TEST_F(PreConvertDialog, GoHandsOverOnlyAUsableSetup)
{
    auto dialog = open(3);
    host->entries[1]->checked = false;

    // The custom page refuses an empty extension: nothing is handed over, no message of ours.
    ASSERT_TRUE(dialog->chooseItem(QStringLiteral("[Custom FFmpeg settings]")));
    auto* custom = dynamic_cast<KREEncoderPageCustom*>(dialog->encoderPage());
    ASSERT_TRUE(custom);
    custom->extensionField()->clear();
    dialog->onButtonGo();
    EXPECT_TRUE(host->done.isEmpty());

    // A destination folder that is gone.
    ASSERT_TRUE(dialog->chooseItem(QStringLiteral("AVI")));
    const std::string gone = dir.file("gone");
    const KRAFileNamingRef naming = host->config()->activeProfile()->fileNaming;
    naming->setFileNamingType(FileNamingDynamic);
    naming->setDynamicFormat(QStringLiteral("[origfilename]"));
    naming->setDestination(
        KRALocationDescriptor::withBookmark(QByteArray::fromStdString(gone), QStringLiteral("gone"), QUrl()));
    dialog->onButtonGo();
    EXPECT_TRUE(host->done.isEmpty());
    ASSERT_TRUE(dialog->openAlert());
    EXPECT_EQ(dialog->openAlert()->text(),
              QStringLiteral("Could not access destination folder:\ngone\nIf it is a network share, please make sure "
                             "it is accessible."));
    dialog->openAlert()->close();

    // Next to the sources: no destination to check.
    naming->copyFrom(*KRAFileNaming::namingSameFolder());
    dialog->onButtonGo();
    ASSERT_EQ(host->done.size(), 1);
    EXPECT_EQ(host->done[0].encoder->name(), QStringLiteral("AVI"));
    EXPECT_EQ(host->done[0].entries.size(), 2) << "only the ticked files";

    // A folder that is there.
    naming->copyFrom(*KRAFileNaming::namingSingleFolder(QUrl::fromLocalFile(QString::fromStdString(dir.path()))));
    dialog->onButtonGo();
    ASSERT_EQ(host->done.size(), 2);
    XRegistry::DropCache();
    EXPECT_EQ(KRAConfig().activeProfile()->fileNaming->dynamicFormat(), QStringLiteral("[origfilename]"));
}

// A settings store that cannot be written (start-up has said why) costs only the memory of the
// settings: the conversion is still handed over, with no alert.
TEST_F(PreConvertDialog, AStoreThatCannotBeWrittenDoesNotStopTheConversion)
{
    auto dialog = open(1);
    ASSERT_TRUE(dialog->chooseItem(QStringLiteral("AVI")));
    host->config()->activeProfile()->fileNaming->copyFrom(*KRAFileNaming::namingSameFolder());
    const std::string plain = dir.file("plain");
    WriteTestFile(plain, "a file where the data folder should be");
    TestEnvScope unwritable("XCLASS_XREGISTRY_LOCATION", plain + "/XRegistry");
    XRegistry::DropCache();
    ASSERT_FALSE(host->config()->activeProfile()->saveProfile());
    dialog->onButtonGo();
    ASSERT_EQ(host->done.size(), 1);
    EXPECT_EQ(host->done[0].encoder->name(), QStringLiteral("AVI"));
    EXPECT_FALSE(dialog->openAlert());
}
