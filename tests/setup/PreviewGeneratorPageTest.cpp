// The preview generator page: its elements, the nested encoder with its two levels (picked
// and confirmed) and the settings pop-up, and the timing values of hand-edited texts.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QRandomGenerator>

#include "common/TestPageHost.h"
#include "job/QKElemValueList.h"
#include "media/QKExternalFFmpeg.h"
#include "setup/KRAEncoderSettingsPopup.h"
#include "setup/KREEncoderPageCustom.h"
#include "setup/KREEncoderPagePreviewGenerator.h"

namespace {

using Page = KREEncoderPagePreviewGenerator;

const QString kFresh = "-prev_gen_ufe 0.5 -prev_gen_gfe 1 -prev_gen_inputval 20 -prev_gen_firstdelay 5 "
                       "-prev_gen_encNset \"GIF Animation_eSep_\"";

class PreviewGeneratorPage : public ::testing::Test {
protected:
    // Each test runs in a process of its own: the page's encoder list (made once) sees the
    // full catalogue, "VOB" included.
    void SetUp() override
    {
        QKExternalFFmpeg::setProbe([] { return true; });
    }
    void TearDown() override { QKExternalFFmpeg::setProbe(nullptr); }

    std::unique_ptr<Page> open(TestPageHost& host)
    {
        auto page = std::make_unique<Page>(&host);
        page->pageView()->setParent(&window);
        return page;
    }
    QWidget window;
};

TEST_F(PreviewGeneratorPage, FreshPageWritesGIFAndItsTimes)
{
    TestPageHost host;
    auto page = open(host);
    EXPECT_EQ(host.encoderArgs(), kFresh);
    EXPECT_EQ(host.encoderArgsV2().customFormatExt, QString(".gif"));
    EXPECT_FALSE(page->selectedEncoderConfigurable());
    EXPECT_EQ(page->encoderPicker()->currentText(), "GIF Animation");
}

TEST_F(PreviewGeneratorPage, TotalModeAndEachTimeRoundTrip)
{
    TestPageHost stored("-prev_gen_ufe 0.25 -prev_gen_gtf 1 -prev_gen_inputval 12 -prev_gen_firstdelay 1.5 "
                        "-prev_gen_encNset \"GIF Animation_eSep_\"");
    stored.encoderArgsV2().customFormatExt = ".gif";
    auto page = open(stored);
    EXPECT_TRUE(stored.sent.isEmpty());
    EXPECT_TRUE(page->generateTotalFramesMode());
    EXPECT_EQ(page->generateTotalFrames(), 12);
    EXPECT_EQ(page->generateFrameEveryMS(), 20000); // keeps its default
    EXPECT_EQ(page->delayBetweenFramesMS(), 250);
    EXPECT_EQ(page->delayFirstFrameMS(), 1500);

    // One change per control, each written at once, and read back by a fresh page.
    QWidget* view = page->pageView();
    view->findChildren<QRadioButton*>()[0]->setChecked(true); // one frame every ...
    const QList<QDoubleSpinBox*> seconds = view->findChildren<QDoubleSpinBox*>();
    ASSERT_EQ(seconds.size(), 3);
    seconds[0]->setValue(7.5);  // every
    seconds[1]->setValue(2.25); // first frame at
    seconds[2]->setValue(1.0);  // shown for
    const QString written = stored.encoderArgs();
    EXPECT_EQ(written, "-prev_gen_ufe 1 -prev_gen_gfe 1 -prev_gen_inputval 7.5 -prev_gen_firstdelay 2.25 "
                       "-prev_gen_encNset \"GIF Animation_eSep_\"");
    TestPageHost next(written);
    next.encoderArgsV2().customFormatExt = ".gif";
    auto reread = open(next);
    EXPECT_FALSE(reread->generateTotalFramesMode());
    EXPECT_EQ(reread->generateFrameEveryMS(), 7500);
    EXPECT_EQ(reread->delayFirstFrameMS(), 2250);
    EXPECT_EQ(reread->delayBetweenFramesMS(), 1000);
    EXPECT_EQ(reread->pageArgs(), written);

    view->findChild<QSpinBox*>()->setValue(33); // total frames, while not the mode: kept for later
    view->findChildren<QRadioButton*>()[1]->setChecked(true);
    EXPECT_TRUE(stored.encoderArgs().contains("-prev_gen_gtf 1 -prev_gen_inputval 33"));
}

TEST_F(PreviewGeneratorPage, NestedSettingsWithCommasAndQuotesSurvive)
{
    TestPageHost host;
    auto page = open(host);
    QKEncoderArgs args;
    args.strArgs = "-vf \"scale=320:-2,fps=10\" -x \\";
    args.customFormatExt = ".mkv";
    page->onEncoderCombo("[Custom FFmpeg settings]");
    ASSERT_TRUE(page->settingsPopup());
    page->settingsPopup()->setEncoderArgsV2(args);
    page->settingsPopup()->end(1);
    EXPECT_EQ(page->selectedEncoderValid(), "[Custom FFmpeg settings]");
    const QString nested = QKElemValueList(host.encoderArgs()).findValue("prev_gen_encNset").value_or("");
    EXPECT_FALSE(nested.contains(',')) << nested.toStdString();
    EXPECT_FALSE(nested.contains('"'));
    EXPECT_EQ(host.encoderArgsV2().customFormatExt, QString(".mkv"));

    TestPageHost next(host.encoderArgs());
    next.encoderArgsV2().customFormatExt = ".mkv";
    auto reread = open(next);
    EXPECT_EQ(reread->selectedEncoder(), "[Custom FFmpeg settings]");
    EXPECT_EQ(reread->selectedEncoderSettings(), args.strArgs);
    EXPECT_TRUE(reread->selectedEncoderConfigurable());
}

TEST_F(PreviewGeneratorPage, EncodersWithoutSettingsAreTakenAtOnce)
{
    TestPageHost host;
    auto page = open(host);
    page->onEncoderCombo("VOB");
    EXPECT_FALSE(page->settingsPopup());
    EXPECT_TRUE(host.encoderArgs().endsWith("-prev_gen_encNset VOB_eSep_"));
    EXPECT_EQ(host.encoderArgsV2().customFormatExt, QString(".vob"));
    EXPECT_EQ(page->encoderPicker()->currentText(), "VOB");
}

TEST_F(PreviewGeneratorPage, CancelledPopupPutsThePickerBack)
{
    TestPageHost host;
    auto page = open(host);
    const QString before = host.encoderArgs();
    page->onEncoderCombo("AVI");
    ASSERT_TRUE(page->settingsPopup());
    EXPECT_EQ(page->selectedEncoder(), "AVI");
    page->settingsPopup()->reject();
    EXPECT_FALSE(page->settingsPopup());
    EXPECT_EQ(page->selectedEncoder(), "GIF Animation");
    EXPECT_EQ(page->encoderPicker()->currentText(), "GIF Animation");
    EXPECT_EQ(host.encoderArgs(), before);

    // Confirmed: the AVI page's defaults and extension are held.
    page->onEncoderCombo("AVI");
    page->settingsPopup()->onOK();
    EXPECT_TRUE(host.encoderArgs().contains("\"AVI_eSep_ -f avi -qscale 3\""));
    EXPECT_EQ(host.encoderArgsV2().customFormatExt, QString(".avi"));
}

TEST_F(PreviewGeneratorPage, PickerOffersOnlyEncodersThatMakeAVideoOfTheFrames)
{
    TestPageHost host;
    auto page = open(host);
    const QStringList choices = page->codecChoices();
    EXPECT_TRUE(choices.contains("VOB"));
    EXPECT_TRUE(choices.contains("GIF Animation"));
    EXPECT_TRUE(choices.contains("WebM (VP8)"));
    // A still picture, and copies of the stream, are no video of the sampled frames.
    EXPECT_FALSE(choices.contains("[Contact Sheet]"));
    EXPECT_FALSE(choices.contains("MP4 (copy, no encoding)"));
    EXPECT_FALSE(choices.contains("Matroska (copy, no encoding)"));
    for (const QString& name : choices) {
        EXPECT_FALSE(name.startsWith("Audio ")) << name.toStdString();
        EXPECT_NE(name, "[Preview Generator]");
        EXPECT_NE(name, "[Multi Encoder]");
    }
    QStringList inPicker;
    for (int i = 0; i < page->encoderPicker()->count(); i++)
        if (!page->encoderPicker()->itemText(i).isEmpty())
            inPicker.append(page->encoderPicker()->itemText(i));
    EXPECT_EQ(inPicker, choices);

    // A choice with a page takes that page's defaults; the custom page's empty extension
    // cannot be confirmed and changes nothing.
    page->selectCodecChoice(int(choices.indexOf("WebM (VP8)")));
    EXPECT_EQ(host.encoderArgsV2().customFormatExt, QString(".webm"));
    const QString held = host.encoderArgs();
    page->selectCodecChoice(int(choices.indexOf("[Custom FFmpeg settings]")));
    EXPECT_EQ(host.encoderArgs(), held);
    EXPECT_EQ(page->selectedEncoder(), "WebM (VP8)");
}

TEST_F(PreviewGeneratorPage, PopupEndingAfterThePageWentDoesNothing)
{
    TestPageHost host;
    QPointer<KRAEncoderSettingsPopup> popup;
    {
        auto page = open(host);
        page->onEncoderCombo("[Custom FFmpeg settings]");
        popup = page->settingsPopup();
        ASSERT_TRUE(popup);
    }
    // The page ended its pop-up as it went; what is left of it goes with the event loop.
    if (popup) {
        EXPECT_TRUE(popup->isDone());
        popup->end(1);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(popup);
    EXPECT_TRUE(host.encoderArgs().endsWith("\"GIF Animation_eSep_\""));
}

TEST_F(PreviewGeneratorPage, TimingValuesOfHandEditedTextsStayInRange)
{
    // (A value after a blank cannot begin with "-": negative values come in the "=" form.)
    TestPageHost negative("-prev_gen_ufe=\"-3\" -prev_gen_gtf 1 -prev_gen_inputval=\"-12\" "
                          "-prev_gen_firstdelay=\"-1\" -prev_gen_encNset VOB_eSep_");
    negative.encoderArgsV2().customFormatExt = ".vob";
    auto page = open(negative);
    EXPECT_EQ(page->delayBetweenFramesMS(), 500);
    EXPECT_EQ(page->generateTotalFrames(), 20);
    EXPECT_EQ(page->delayFirstFrameMS(), 5000);
    // Repaired in the host as well: the runner never sees the negative values.
    EXPECT_EQ(negative.encoderArgs(), page->pageArgs());
    EXPECT_FALSE(negative.encoderArgs().contains("\"-"));

    TestPageHost huge("-prev_gen_ufe 99999999999999 -prev_gen_inputval 99999999999 "
                      "-prev_gen_firstdelay 4294967.296 -prev_gen_encNset VOB_eSep_");
    huge.encoderArgsV2().customFormatExt = ".vob";
    auto big = open(huge);
    EXPECT_EQ(big->delayBetweenFramesMS(), Page::kMaxDelayBetweenFramesMS);
    EXPECT_EQ(big->generateFrameEveryMS(), Page::kMaxFrameEveryMS);
    EXPECT_EQ(big->delayFirstFrameMS(), Page::kMaxDelayFirstFrameMS);
    EXPECT_EQ(QKElemValueList(huge.encoderArgs()).findMSValue("prev_gen_ufe"), Page::kMaxDelayBetweenFramesMS);
}

TEST_F(PreviewGeneratorPage, RandomAndCutTextsGiveValuesInRange)
{
    QRandomGenerator random(7);
    const QString full = "-prev_gen_ufe 0.75 -prev_gen_gtf 1 -prev_gen_inputval 40 -prev_gen_firstdelay 3 "
                         "-prev_gen_encNset \"[Custom FFmpeg settings]_eSep_-vf _SELQUOTE_a_SELCOMMA_b_SELQUOTE_\"";
    const QStringList pieces = {"-prev_gen_ufe",
                                "-prev_gen_gtf",
                                "-prev_gen_gfe",
                                "-prev_gen_inputval",
                                "-prev_gen_firstdelay",
                                "-prev_gen_encNset",
                                "_eSep_",
                                "_SELQUOTE_",
                                "_SELCOMMA_",
                                "\"",
                                "=",
                                "-",
                                "99999999999",
                                "-7",
                                "x",
                                "0",
                                "1.5",
                                "\\",
                                "VOB"};
    for (int round = 0; round < 250; round++) {
        QString text;
        if (round < full.size())
            text = full.left(round);
        else
            for (int i = random.bounded(10); i > 0; i--)
                text += pieces[random.bounded(int(pieces.size()))] + (random.bounded(2) ? " " : "");
        SCOPED_TRACE(text.toStdString());
        TestPageHost host(text);
        if (random.bounded(2))
            host.encoderArgsV2().customFormatExt = ".mp4";
        auto page = open(host);
        EXPECT_GE(page->delayBetweenFramesMS(), 1);
        EXPECT_LE(page->delayBetweenFramesMS(), Page::kMaxDelayBetweenFramesMS);
        EXPECT_GE(page->generateFrameEveryMS(), 1);
        EXPECT_LE(page->generateFrameEveryMS(), Page::kMaxFrameEveryMS);
        EXPECT_GE(page->generateTotalFrames(), 1);
        EXPECT_LE(page->generateTotalFrames(), Page::kMaxTotalFrames);
        EXPECT_GE(page->delayFirstFrameMS(), 1);
        EXPECT_LE(page->delayFirstFrameMS(), Page::kMaxDelayFirstFrameMS);
        EXPECT_FALSE(page->selectedEncoderExtension().isEmpty());
        TestPageHost next(page->pageArgs());
        next.encoderArgsV2().customFormatExt = page->selectedEncoderExtension();
        EXPECT_EQ(open(next)->pageArgs(), page->pageArgs());
    }
}

} // namespace
