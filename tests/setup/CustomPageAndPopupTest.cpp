// The custom command-line page and the encoder settings pop-up that hosts any page.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QSignalSpy>

#include "common/TestPageHost.h"
#include "job/QKElemValueList.h"
#include "setup/KRAEncoderPageIndex.h"
#include "setup/KRAEncoderSettingsPopup.h"
#include "setup/KREEncoderPageContactSheet.h"
#include "setup/KREEncoderPageCustom.h"

namespace {

TEST(CustomPage, ShowsAndStoresTheHostsTextAsTyped)
{
    TestPageHost host("-c:v libx264 -vf \"scale=640:-2\"");
    host.encoderArgsV2().customFormatExt = ".mkv";
    KREEncoderPageCustom page(&host);
    page.pageView();
    EXPECT_EQ(page.commandLineField()->text(), host.encoderArgs());
    EXPECT_EQ(page.extensionField()->text(), ".mkv");
    EXPECT_TRUE(host.sent.isEmpty()); // nothing written on opening

    // Typed without Return: validation still takes both.
    page.commandLineField()->setText("");
    page.extensionField()->setText(".webm");
    EXPECT_TRUE(page.pageValidate());
    EXPECT_EQ(host.encoderArgs(), "");
    EXPECT_EQ(host.encoderArgsV2().customFormatExt, QString(".webm"));
}

TEST(CustomPage, ExtensionsThatCouldLeaveTheFolderAreRefusedWithAReason)
{
    TestPageHost host;
    KREEncoderPageCustom page(&host);
    QWidget window;
    page.pageView()->setParent(&window);
    window.show();
    for (const QString& bad : {QString("/../x"), QString(".."), QString("a/b"), QString(".mp4.."), QString("..."),
                               QString("."), QString(".m") + QChar(0) + "p4"}) {
        SCOPED_TRACE(bad.toStdString());
        page.extensionField()->setText(bad);
        EXPECT_FALSE(page.pageValidate());
        EXPECT_FALSE(KREEncoderPageCustom::extensionProblem(bad).isEmpty());
        EXPECT_TRUE(page.extensionMessage()->isVisibleTo(&window));
        EXPECT_FALSE(page.extensionMessage()->text().isEmpty());
        EXPECT_EQ(window.focusWidget(), page.extensionField());
    }
    // Empty: kept open with the cursor in the field, no message.
    page.extensionField()->setText("");
    EXPECT_FALSE(page.pageValidate());
    EXPECT_FALSE(page.extensionMessage()->isVisibleTo(&window));
    for (const QString& good : {QString(".mp4"), QString(".tar.gz"), QString("mkv")}) {
        page.extensionField()->setText(good);
        EXPECT_TRUE(page.pageValidate()) << good.toStdString();
    }
    EXPECT_FALSE(page.extensionMessage()->isVisibleTo(&window));
}

// A window the pop-up opens over as a sheet.
struct SheetParent {
    QWidget window;
    SheetParent() { window.show(); }
};

TEST(EncoderSettingsPopup, OKWithAnEmptyCustomExtensionStaysOpen)
{
    SheetParent parent;
    auto* popup = new KRAEncoderSettingsPopup("[Custom FFmpeg settings]", QKEncoderArgs(), &parent.window);
    QSignalSpy finished(popup, &QDialog::finished);
    popup->open();
    popup->onOK();
    EXPECT_FALSE(popup->isDone());
    EXPECT_TRUE(popup->isVisible());
    auto* page = dynamic_cast<KREEncoderPageCustom*>(popup->encoderPage());
    ASSERT_TRUE(page);
    EXPECT_EQ(popup->focusWidget(), page->extensionField());

    page->extensionField()->setText(".ts");
    popup->onOK();
    EXPECT_TRUE(popup->isDone());
    EXPECT_EQ(popup->encoderArgsV2().customFormatExt, QString(".ts"));
    ASSERT_EQ(finished.count(), 1);
    EXPECT_EQ(finished.at(0).at(0).toInt(), 1);

    // Escape (and a second OK) after the end: nothing more.
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(popup, &escape);
    popup->reject();
    popup->onOK();
    EXPECT_EQ(finished.count(), 1);
    delete popup;
}

TEST(EncoderSettingsPopup, HostsAPageThatKeepsItsDefaultsEvenWhenCancelled)
{
    SheetParent parent;
    auto* popup = new KRAEncoderSettingsPopup("[Contact Sheet]", QKEncoderArgs(), &parent.window);
    ASSERT_TRUE(dynamic_cast<KREEncoderPageContactSheet*>(popup->encoderPage()));
    EXPECT_TRUE(popup->encoderArgs().startsWith("-contact_col 4"));
    EXPECT_EQ(popup->encoderArgsV2().customFormatExt, QString(".png"));
    QSignalSpy finished(popup, &QDialog::finished);
    popup->open();
    popup->reject();
    ASSERT_EQ(finished.count(), 1);
    EXPECT_EQ(finished.at(0).at(0).toInt(), 0);
    EXPECT_TRUE(popup->encoderArgs().startsWith("-contact_col 4"));
    popup->end(1);
    EXPECT_EQ(finished.count(), 1);
    delete popup;
}

TEST(EncoderSettingsPopup, EncodersWithoutAPageOpenAnEmptyPopup)
{
    for (const char* name : {"no such encoder", ""}) {
        KRAEncoderSettingsPopup popup(name, QKEncoderArgs());
        EXPECT_EQ(popup.encoderPage(), nullptr);
        EXPECT_EQ(popup.encoderArgs(), "");
        popup.onOK();
        EXPECT_TRUE(popup.isDone());
        EXPECT_EQ(popup.result(), 1);
    }
    // An encoder without settings has a page all the same: it writes its fixed text.
    KRAEncoderSettingsPopup vob("VOB", QKEncoderArgs());
    ASSERT_NE(vob.encoderPage(), nullptr);
    EXPECT_TRUE(vob.encoderArgs().startsWith(" -f vob "));
}

TEST(EncoderSettingsPopup, ThePageLeavesWithThePopup)
{
    QPointer<QWidget> view;
    {
        KRAEncoderSettingsPopup popup("[Custom FFmpeg settings]", QKEncoderArgs());
        view = popup.encoderPage()->pageView();
        ASSERT_TRUE(view);
    }
    EXPECT_FALSE(view);
}

} // namespace
