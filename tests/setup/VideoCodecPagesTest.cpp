// The video codec pages: what they write, what they read back, and that no stored text can
// move a control out of its range.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <memory>

#include "common/TestPageHost.h"
#include "setup/KRAEncoderPageIndex.h"
#include "setup/KREEncoderPageApple.h"
#include "setup/KREEncoderPageH264.h"
#include "setup/KREEncoderPageVP.h"

namespace {

void Settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

template <typename Page, typename... Args>
std::unique_ptr<Page> Open(TestPageHost& host, Args... args)
{
    auto page = std::make_unique<Page>(&host, args...);
    page->pageView(); // loads the view: defaults written or the host's text read back
    return page;
}

} // namespace

TEST(VideoCodecPages, FreshPagesStoreTheirDefaultsAtOnce)
{
    TestPageHost h264;
    auto page = Open<KREEncoderPageH264>(h264, QStringLiteral("mp4"));
    EXPECT_EQ(h264.sent, QStringList({"-c:v libx264 -c:s mov_text -crf 24 -acodec aac"}));
    EXPECT_EQ(page->slider()->value(), 27);
    EXPECT_EQ(page->sliderLabel()->text(), "Quality (CRF) 24");

    TestPageHost mov;
    Open<KREEncoderPageH264>(mov, QStringLiteral("mov")); // only MP4 has fixed options
    EXPECT_EQ(mov.encoderArgs(), "-c:v libx264 -crf 24 -acodec aac");
    TestPageHost vp9;
    Open<KREEncoderPageVP9>(vp9, QStringLiteral("webm"));
    EXPECT_EQ(vp9.encoderArgs(), " -acodec libopus -c:v libvpx-vp9 -crf 24 "); // quality mode 0 ends in a blank
    TestPageHost vp8;
    Open<KREEncoderPageVP8>(vp8, QStringLiteral("webm"));
    EXPECT_EQ(vp8.encoderArgs(), "-acodec libopus -c:v libvpx -crf 24");
    TestPageHost apple;
    Open<KREEncoderPageApple>(apple, QStringLiteral("matroska"), QStringLiteral("H265"));
    EXPECT_EQ(apple.encoderArgs(), "-c:v libx265 -b:v 1M -acodec aac");
}

TEST(VideoCodecPages, ReadingBackSetsTheModeAndSlider)
{
    TestPageHost host("-c:v libx264 -crf 0");
    auto page = Open<KREEncoderPageH264>(host, QStringLiteral("matroska"));
    EXPECT_TRUE(page->isLossless());
    EXPECT_FALSE(page->slider()->isEnabled());
    EXPECT_EQ(page->optionIndex(), 3u);

    page->setEncoderArgs("-crf 51");
    EXPECT_TRUE(page->isCRF());
    EXPECT_EQ(page->sliderPosition(), 0);
    // The constant-bit-rate text also holds b:v: maxrate is what tells it apart.
    page->setEncoderArgs("-b:v 2M -minrate 2M -maxrate 2M");
    EXPECT_TRUE(page->isCBR());
    EXPECT_EQ(page->sliderPosition(), 9);
    EXPECT_EQ(page->optionIndex(), 1u);
    // A rate the table does not have switches the mode and leaves the slider.
    page->setEncoderArgs("-b:v 1500k");
    EXPECT_TRUE(page->isABR());
    EXPECT_EQ(page->sliderPosition(), 9);
    // QScale has no pop-up entry: the pop-up keeps its place, the slider shows the value.
    page->setEncoderArgs("-qscale 4");
    EXPECT_TRUE(page->isQScale());
    EXPECT_EQ(page->QScale(), 4u);
    EXPECT_EQ(page->optionIndex(), 0u);
    EXPECT_EQ(page->sliderLabel()->text(), "Quality (qscale) 4");

    // The full example: compatibility, tune, preset and the audio choice come back.
    page->setEncoderArgs(
        "-c:v libx264 -c:s mov_text -crf 24 -profile:v baseline -level 3.0 -tune film -preset slow -acodec copy");
    EXPECT_TRUE(page->bMaximumCompatiblility());
    EXPECT_EQ(page->strTuneFor(), "film");
    EXPECT_EQ(page->strQualityPreset(), "slow");
    EXPECT_EQ(page->audioOptionIndex(), 3u);
    EXPECT_EQ(
        page->encoderArgs(),
        "-c:v libx264 -crf 24 -profile:v baseline -level 3.0 -pix_fmt yuv420p -tune film -preset slow -acodec copy");
}

TEST(VideoCodecPages, MissingContainerOptionIsAddedOnceTheReadingIsDone)
{
    TestPageHost host("-c:v libx264 -crf 30 -acodec aac");
    auto page = Open<KREEncoderPageH264>(host, QStringLiteral("mp4"));
    EXPECT_TRUE(host.sent.isEmpty());
    Settle();
    EXPECT_EQ(host.sent, QStringList({"-c:v libx264 -c:s mov_text -crf 30 -acodec aac"}));

    // A page gone before that turn sends nothing and touches nothing.
    TestPageHost gone("-c:v libx264 -crf 30");
    Open<KREEncoderPageH264>(gone, QStringLiteral("mp4")).reset();
    Settle();
    EXPECT_TRUE(gone.sent.isEmpty());
}

TEST(VideoCodecPages, SwitchingModesRestoresTheValueLastUsed)
{
    TestPageHost host;
    auto page = Open<KREEncoderPageH265>(host, QStringLiteral("matroska"));
    page->slider()->setValue(21); // CRF 30, as the user moves it
    EXPECT_EQ(host.encoderArgs(), "-c:v libx265 -crf 30 -acodec aac");
    page->optionChanged(0);
    EXPECT_EQ(host.encoderArgs(), "-c:v libx265 -b:v 1M -acodec aac");
    page->slider()->setValue(11);
    page->optionChanged(2);
    EXPECT_EQ(host.encoderArgs(), "-c:v libx265 -crf 30 -acodec aac");
    page->optionChanged(1); // CBR takes the rate ABR last used
    EXPECT_EQ(host.encoderArgs(), "-c:v libx265 -b:v 3M -minrate 3M -maxrate 3M -acodec aac");
}

TEST(VideoCodecPages, AdvancedSheetTakesItsValuesOnOKAndAlwaysResends)
{
    TestPageHost host("-c:v libx264 -c:s mov_text -crf 24 -preset placebo -acodec aac");
    auto page = Open<KREEncoderPageH264>(host, QStringLiteral("mp4"));
    page->onAdvanced();
    KREEncoderPageAdvanced* sheet = page->advancedSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->strQualityPreset(), "medium"); // a preset the table lacks opens on the default
    EXPECT_EQ(sheet->strTuneFor(), "");
    sheet->onOK();
    Settle();
    EXPECT_EQ(host.encoderArgs(), "-c:v libx264 -c:s mov_text -crf 24 -preset medium -acodec aac");

    const int sentBefore = host.sent.size();
    page->onAdvanced();
    page->advancedSheet()->setStrTuneFor("animation");
    page->advancedSheet()->cancel();
    Settle();
    EXPECT_EQ(host.sent.size(), sentBefore + 1); // sent again, unchanged
    EXPECT_EQ(host.encoderArgs(), "-c:v libx264 -c:s mov_text -crf 24 -preset medium -acodec aac");
}

TEST(VideoCodecPages, StoredValuesOutOfRangeAreClamped)
{
    TestPageHost host;
    auto page = Open<KREEncoderPageH264>(host, QStringLiteral("matroska"));
    page->setEncoderArgs("-crf 99");
    EXPECT_EQ(page->CRF(), 51u);
    page->setEncoderArgs("-crf=\"-3\"");
    EXPECT_EQ(page->CRF(), 1u);
    page->setEncoderArgs("-crf 99999999999999999999");
    EXPECT_EQ(page->CRF(), 51u);
    page->setEncoderArgs("-qscale 50");
    EXPECT_EQ(page->QScale(), 10u);
    page->setEncoderArgs("-b:v abc");
    EXPECT_TRUE(page->isABR());
    EXPECT_TRUE(page->encoderArgs().contains(QRegularExpression("-b:v [0-9.]+[kM] ")));

    // Opened on such a text, the page gives the host the value it shows, once; a rate ffmpeg
    // reads but the table lacks stays as it was stored.
    const QList<std::pair<QString, QString>> stored = {
        {"-c:v libx264 -crf 99 -acodec aac", "-c:v libx264 -crf 51 -acodec aac"},
        {"-c:v libx264 -qscale 50 -acodec aac", "-c:v libx264 -qscale 10 -acodec aac"},
        {"-c:v libx264 -b:v abc -minrate abc -maxrate abc -acodec aac",
         "-c:v libx264 -b:v 200k -minrate 200k -maxrate 200k -acodec aac"},
        {"-c:v libx264 -b:v 1500k -acodec aac", QString()},
        {"-c:v libx264 -crf 51 -acodec aac", QString()},
    };
    for (const auto& [text, resent] : stored) {
        TestPageHost opened(text);
        auto again = Open<KREEncoderPageH264>(opened, QStringLiteral("matroska"));
        Settle();
        EXPECT_EQ(opened.sent, resent.isEmpty() ? QStringList() : QStringList({resent})) << text.toStdString();
    }

    // VP8's quality ends where libvpx's quantiser does, and it has no lossless mode.
    TestPageHost vp8Host(" -acodec libopus -c:v libvpx -crf 0");
    auto vp8 = Open<KREEncoderPageVP8>(vp8Host, QStringLiteral("webm"));
    EXPECT_TRUE(vp8->isCRF());
    EXPECT_EQ(vp8->slider()->maximum(), 47);
    EXPECT_EQ(vp8->slider()->value(), 47);
    Settle();
    EXPECT_EQ(vp8Host.sent, QStringList({"-acodec libopus -c:v libvpx -crf 4"}));
    vp8->setEncoderArgs("-crf 2");
    EXPECT_EQ(vp8->CRF(), 4u);
}

TEST(VideoCodecPages, StoredAppleTextsAreRewrittenForTheSoftwareEncoder)
{
    TestPageHost host("-c:v h264_videotoolbox --allow_sw 1 -c:s mov_text -b:v 2M -acodec aac_at");
    auto page = Open<KREEncoderPageApple>(host, QStringLiteral("mp4"), QStringLiteral("H264"));
    EXPECT_TRUE(page->isABR());
    EXPECT_EQ(page->sliderPosition(), 9);
    Settle();
    ASSERT_FALSE(host.sent.isEmpty());
    EXPECT_EQ(host.sent.last(), "-c:v libx264 -c:s mov_text -b:v 2M -acodec aac");
}

TEST(VideoCodecPages, VP9ReadsItsQualityModeAndVP8ShowsOtherModesAsCRF)
{
    TestPageHost host(" -acodec libvorbis -c:v libvpx-vp9 -crf 30 -deadline realtime");
    auto vp9 = Open<KREEncoderPageVP9>(host, QStringLiteral("webm"));
    EXPECT_EQ(vp9->qModeIndex(), 2u);
    EXPECT_EQ(vp9->audioOptionIndex(), 1u);
    EXPECT_EQ(vp9->encoderArgs(), " -acodec libvorbis -c:v libvpx-vp9 -crf 30 -deadline realtime");
    TestPageHost lossless("-crf 0");
    auto vp8 = Open<KREEncoderPageVP8>(lossless, QStringLiteral("webm"));
    EXPECT_EQ(vp8->modeIndex(), 2u);
    EXPECT_EQ(KREAudioOptions::createForFormat("webm").optionSwitches().size(), 2);
}

TEST(VideoCodecPages, RandomAndCutTextsNeverLeaveTheRanges)
{
    const QStringList names = {"MP4 (H264)", "Matroska (H265)", "WebM (VP9)", "WebM (VP8)", "MP4 (Apple H265)"};
    const QStringList tokens = {"-crf",   "-b:v", "-maxrate", "-qscale", "-preset", "-tune",   "-deadline", "-acodec",
                                "-99999", "0",    "51",       "1.5M",    "abc",     "\"x y\"", "-",         "--"};
    QRandomGenerator random(20261209);
    for (const QString& name : names) {
        TestPageHost host;
        std::unique_ptr<KREEncoderPage> made = KRAEncoderPageIndex::createFor(name, &host);
        auto* page = qobject_cast<KREEncoderPageCodec*>(made.get());
        ASSERT_NE(page, nullptr) << name.toStdString();
        page->pageView();
        const QString base = host.encoderArgs();
        for (int i = 0; i < 1500; ++i) {
            QString text = base.left(static_cast<int>(random.bounded(base.size() + 1)));
            for (int t = random.bounded(5); t > 0; --t)
                text += QLatin1Char(' ') + tokens.at(static_cast<int>(random.bounded(tokens.size())));
            page->setEncoderArgs(text);
            ASSERT_GE(page->sliderPosition(), 0);
            ASSERT_LE(page->sliderPosition(), 50);
            ASSERT_GE(page->CRF(), 1u);
            ASSERT_LE(page->CRF(), 51u);
            ASSERT_LE(page->QScale(), 10u);
            ASSERT_LT(page->audioOptionIndex(),
                      static_cast<uint64_t>(std::max<qsizetype>(1, page->codecChoices().size())));
            ASSERT_NE(page->mode(), KREEncoderPageCommon::ModeNone);
            ASSERT_GE(page->rateControlPopup()->currentIndex(), 0);
            if (page->isABR() || page->isCBR()) {
                ASSERT_TRUE(page->bitrateStr().has_value());
            }
        }
    }
    Settle();
}
