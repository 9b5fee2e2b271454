// The multi-encoder page through its own sheet: adding, editing (and cancelling an edit),
// removing, what it writes for the host, and that it never drops what it cannot show.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>

#include "common/TestFiles.h"
#include "common/TestPageHost.h"
#include "common/TestPreConvertHost.h"
#include "common/TestStore.h"
#include "engine/KRAMultiEncConfig.h"
#include "naming/KRAFileNaming.h"
#include "setup/KRADSPListPane.h"
#include "setup/KRAEncoderPageIndex.h"
#include "setup/KRAEncoderPageMultiEnc.h"

namespace {

class MultiEncoderPage : public ::testing::Test {
protected:
    std::unique_ptr<KRAEncoderPageMultiEnc> open(const QString& args)
    {
        host.encoderArgsV2().strArgs = args;
        window.resize(700, 500);
        host.window = &window;
        std::unique_ptr<KREEncoderPage> page = KRAEncoderPageIndex::createFor(QKEncoderDesc::strMultiEncoder(), &host);
        auto* multi = dynamic_cast<KRAEncoderPageMultiEnc*>(page.get());
        EXPECT_TRUE(multi);
        page.release();
        std::unique_ptr<KRAEncoderPageMultiEnc> owned(multi);
        owned->view()->setParent(&window);
        window.show();
        return owned;
    }
    // Ends the page's open sheet with OK (1) or Cancel (0).
    static void endSheet(KRAEncoderPageMultiEnc& page, bool ok)
    {
        KRAMultiEncConfigureEncoder* dialog = page.configureDialog();
        ASSERT_TRUE(dialog);
        if (ok)
            dialog->onOK();
        else
            dialog->onCancel();
        QApplication::processEvents();
    }

    TestStoreScope store;
    TestPageHost host;
    QWidget window;
};

} // namespace

TEST_F(MultiEncoderPage, AddEditCancelRemove)
{
    auto page = open(QString());
    EXPECT_TRUE(page->encoders().isEmpty());

    page->addButton()->click();
    KRAMultiEncConfigureEncoder* dialog = page->configureDialog();
    ASSERT_TRUE(dialog);
    const QString first = QKEncoderDesc::listEncoders_dropSpecial().first()->name();
    EXPECT_EQ(dialog->encoderPicker()->currentText(), first);
    ASSERT_TRUE(dialog->encoderPage()) << "the encoder's own page";
    EXPECT_EQ(dialog->config()->fileNaming->destination() != nullptr, true);
    endSheet(*page, true);
    ASSERT_EQ(page->encoders().size(), 1);
    EXPECT_EQ(page->rowViews().size(), 1);
    const QString written = host.encoderArgs();
    EXPECT_TRUE(written.startsWith(QStringLiteral("-enc1=\"%1=").arg(first))) << written.toStdString();

    // An edit that is cancelled leaves the entry exactly as it was, effects and naming included.
    const KRAMultiEncEntryRef entry = page->encoders().first();
    const QString namingBefore = entry->fileNaming->dynamicFormat();
    page->rowViews().first()->settingsButton()->click();
    dialog = page->configureDialog();
    ASSERT_TRUE(dialog);
    dialog->dspList()->setDspEffectsString(QStringLiteral("-dspeffect1=\"Crop=-vf crop=10:10:0:0\""));
    dialog->config()->fileNaming->setDynamicFormat(QStringLiteral("[title]-changed"));
    const int webm = dialog->encoderPicker()->findText(QStringLiteral("WebM (VP8)"));
    ASSERT_GE(webm, 0);
    dialog->encoderPicker()->setCurrentIndex(webm);
    dialog->onEncoderSelected();
    endSheet(*page, false);
    EXPECT_EQ(entry->encoder->name(), first);
    EXPECT_TRUE(entry->dspEffects.isEmpty());
    EXPECT_EQ(entry->fileNaming->dynamicFormat(), namingBefore);
    EXPECT_EQ(host.encoderArgs(), written);

    // The same edit with OK: the encoder's settings start again from its page's defaults.
    page->onEncoderSettings(0);
    dialog = page->configureDialog();
    ASSERT_TRUE(dialog);
    dialog->config()->encoderArgsV2.strArgs = QStringLiteral("-stale 1");
    dialog->encoderPicker()->setCurrentIndex(webm);
    dialog->onEncoderSelected();
    EXPECT_FALSE(dialog->config()->encoderArgsV2.strArgs.contains(QStringLiteral("-stale")));
    EXPECT_FALSE(dialog->config()->encoderArgsV2.strArgs.isEmpty()) << "the new page's defaults";
    auto chain = dialog->dspList()->dspEffects();
    chain->append(QKDSPSpec(QStringLiteral("Crop"), QStringLiteral("-vf crop=10:10:0:0")));
    endSheet(*page, true);
    EXPECT_EQ(entry->encoder->name(), QStringLiteral("WebM (VP8)"));
    const KRAMultiEncConfigRef read = KRAMultiEncConfig::fromString(host.encoderArgs());
    ASSERT_EQ(read->entries.size(), 1);
    EXPECT_EQ(read->entries[0]->encoder->name(), QStringLiteral("WebM (VP8)"));
    EXPECT_EQ(read->entries[0]->dspEffects.size(), 1);

    page->onEncoderSettings(7); // past the end: nothing
    EXPECT_FALSE(page->configureDialog());
    page->rowViews().first()->removeButton()->click();
    EXPECT_TRUE(page->encoders().isEmpty());
    EXPECT_EQ(host.encoderArgs(), QString());
}

TEST_F(MultiEncoderPage, EncodersNotOfferedAndTheFlagSurviveEdits)
{
    const QString stored = QStringLiteral("-enc1=\"AVI=-q 1\" -enc2=\"Encoder Of The Future=-magic {mqt}x{mqt}\" "
                                          "-encMopt2=\"-tofolder={mqt}/a{mqt}\" -nomulti");
    auto page = open(stored);
    ASSERT_EQ(page->encoders().size(), 1);
    page->onEncoderRemove(0);
    const QString written = host.encoderArgs();
    EXPECT_TRUE(written.contains(QStringLiteral("Encoder Of The Future=-magic {mqt}x{mqt}"))) << written.toStdString();
    EXPECT_TRUE(written.contains(QStringLiteral("-tofolder={mqt}/a{mqt}")));
    EXPECT_TRUE(written.endsWith(QStringLiteral("-nomulti")));

    // With only an encoder that is not offered there is nothing to convert with.
    EXPECT_FALSE(page->pageValidate());
    ASSERT_TRUE(page->openAlert());
    EXPECT_EQ(page->openAlert()->text(), QStringLiteral("Multi Encoder not configured."));
}

TEST_F(MultiEncoderPage, GoRefusesAnEmptySet)
{
    TestTempDir dir;
    auto preHost = std::make_shared<TestPreConvertHost>(QStringList{QString::fromStdString(dir.file("a.mp4"))});
    auto dialog = preHost->openSetup(preHost);
    dialog->view();
    ASSERT_TRUE(dialog->chooseItem(QKEncoderDesc::strMultiEncoder()));
    ASSERT_TRUE(dynamic_cast<KRAEncoderPageMultiEnc*>(dialog->encoderPage()));
    EXPECT_FALSE(dialog->dspList()->isEnabled()) << "effects belong to each encoder";
    dialog->onButtonGo();
    EXPECT_TRUE(preHost->done.isEmpty());
}
