// The video codec pages: what they write, what they read back, and that no stored text can
// move a control out of its range.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <memory>

#include "common/QtTestPrint.h"
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
    EXPECT_EQ(h264.sent, QStringList({"-c:v libx264 -c:s mov_text -crf 24 -pix_fmt yuv420p -acodec aac"}));
    EXPECT_EQ(page->slider()->value(), 27);
    EXPECT_EQ(page->sliderLabel()->text(), "Quality (CRF) 24");

    TestPageHost mov;
    Open<KREEncoderPageH264>(mov, QStringLiteral("mov")); // only MP4 has fixed options
    EXPECT_EQ(mov.encoderArgs(), "-c:v libx264 -crf 24 -pix_fmt yuv420p -acodec aac");
    TestPageHost vp9;
    Open<KREEncoderPageVP9>(vp9, QStringLiteral("webm"));
    EXPECT_EQ(vp9.encoderArgs(), " -acodec libopus -c:v libvpx-vp9 -crf 24 "); // quality mode 0 ends in a blank
    TestPageHost vp8;
    Open<KREEncoderPageVP8>(vp8, QStringLiteral("webm"));
    EXPECT_EQ(vp8.encoderArgs(), "-acodec libopus -c:v libvpx -crf 24 -b:v 1G");
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
    page->setEncoderArgs("-b:v 2M -minrate 2M -maxrate 2M -bufsize 2M -nal-hrd cbr");
    EXPECT_TRUE(page->isCBR());
    EXPECT_EQ(page->sliderPosition(), 9);
    EXPECT_EQ(page->optionIndex(), 1u);
    // A rate the table has in other words takes that entry's step and keeps its text.
    page->setEncoderArgs("-b:v 1500k");
    EXPECT_TRUE(page->isABR());
    EXPECT_EQ(page->sliderPosition(), 8);
    EXPECT_EQ(page->bitrateStr(), "1500k");
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
    EXPECT_EQ(host.sent, QStringList({"-c:v libx264 -c:s mov_text -crf 30 -pix_fmt yuv420p -acodec aac"}));

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
    EXPECT_EQ(host.encoderArgs(),
              "-c:v libx265 -b:v 3M -minrate 3M -maxrate 3M -bufsize 3M -x265-params strict-cbr=1 -acodec aac");
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
    EXPECT_EQ(host.encoderArgs(), "-c:v libx264 -c:s mov_text -crf 24 -pix_fmt yuv420p -preset medium -acodec aac");

    const int sentBefore = host.sent.size();
    page->onAdvanced();
    page->advancedSheet()->setStrTuneFor("animation");
    page->advancedSheet()->cancel();
    Settle();
    EXPECT_EQ(host.sent.size(), sentBefore + 1); // sent again, unchanged
    EXPECT_EQ(host.encoderArgs(), "-c:v libx264 -c:s mov_text -crf 24 -pix_fmt yuv420p -preset medium -acodec aac");
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
        {"-c:v libx264 -crf 99 -pix_fmt yuv420p -acodec aac", "-c:v libx264 -crf 51 -pix_fmt yuv420p -acodec aac"},
        {"-c:v libx264 -qscale 50 -pix_fmt yuv420p -acodec aac",
         "-c:v libx264 -qscale 10 -pix_fmt yuv420p -acodec aac"},
        {"-c:v libx264 -b:v abc -minrate abc -maxrate abc -pix_fmt yuv420p -acodec aac",
         "-c:v libx264 -b:v 200k -minrate 200k -maxrate 200k -bufsize 200k -nal-hrd cbr -pix_fmt yuv420p -acodec aac"},
        {"-c:v libx264 -b:v 1500k -pix_fmt yuv420p -acodec aac", QString()},
        {"-c:v libx264 -b:v 7M -pix_fmt yuv420p -acodec aac", QString()},
        {"-c:v libx264 -crf 51 -pix_fmt yuv420p -acodec aac", QString()},
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
    EXPECT_EQ(vp8Host.sent, QStringList({"-acodec libopus -c:v libvpx -crf 4 -b:v 1G"}));
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
    EXPECT_EQ(host.sent.last(), "-c:v libx264 -c:s mov_text -b:v 2M -pix_fmt yuv420p -acodec aac");
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

TEST(VideoCodecPages, StoredRatesTheTableLacksAreKeptAsTheirOwnStep)
{
    // The rate of a table entry in other words takes that entry's step and keeps its text.
    TestPageHost host("-c:v libx264 -c:s mov_text -b:v 1500k -pix_fmt yuv420p -acodec aac");
    auto page = Open<KREEncoderPageH264>(host, QStringLiteral("mp4"));
    Settle();
    EXPECT_TRUE(host.sent.isEmpty());
    EXPECT_TRUE(page->isABR());
    EXPECT_EQ(page->slider()->maximum(), 19);
    EXPECT_EQ(page->sliderPosition(), 8);
    EXPECT_EQ(page->encoderArgs(), "-c:v libx264 -c:s mov_text -b:v 1500k -pix_fmt yuv420p -acodec aac");
    EXPECT_EQ(page->sliderLabel()->text(), "Average bitrate: 1.5 mbps");

    // A rate between two entries is a step of its own, between them; the user can leave it
    // and come back to it.
    TestPageHost seven("-c:v libx264 -c:s mov_text -b:v 7M -minrate 7M -maxrate 7M -bufsize 7M -nal-hrd cbr "
                       "-pix_fmt yuv420p -acodec aac");
    auto cbr = Open<KREEncoderPageH264>(seven, QStringLiteral("mp4"));
    Settle();
    EXPECT_TRUE(seven.sent.isEmpty());
    EXPECT_TRUE(cbr->isCBR());
    EXPECT_EQ(cbr->slider()->maximum(), 20);
    EXPECT_EQ(cbr->sliderPosition(), 16); // after 6M, before 8M
    EXPECT_EQ(cbr->sliderLabel()->text(), "Constant bitrate: 7 mbps");
    cbr->slider()->setValue(17);
    EXPECT_TRUE(seven.encoderArgs().contains("-b:v 8M -minrate 8M -maxrate 8M -bufsize 8M"));
    cbr->slider()->setValue(15);
    EXPECT_TRUE(seven.encoderArgs().contains("-b:v 6M -minrate 6M"));
    cbr->slider()->setValue(16);
    EXPECT_TRUE(seven.encoderArgs().contains("-b:v 7M -minrate 7M -maxrate 7M -bufsize 7M"));
    // Switching modes takes the kept rate along.
    cbr->optionChanged(2);
    cbr->optionChanged(0);
    EXPECT_TRUE(seven.encoderArgs().contains(" -b:v 7M -pix_fmt")) << seven.encoderArgs().toStdString();

    // A rate the user's form cannot show to one decimal shows in kilobits, as it is.
    TestPageHost odd("-c:v libx265 -b:v 1234k -acodec aac");
    auto h265 = Open<KREEncoderPageH265>(odd, QStringLiteral("matroska"));
    EXPECT_EQ(h265->sliderLabel()->text(), "Average bitrate: 1234 kbps");
    EXPECT_EQ(h265->encoderArgs(), "-c:v libx265 -b:v 1234k -acodec aac");
    h265->setEncoderArgs("-b:v 2500000");
    EXPECT_EQ(h265->sliderLabel()->text(), "Average bitrate: 2.5 mbps");
    EXPECT_EQ(h265->bitrateStr(), "2500000");
}

TEST(VideoCodecPages, FractionalQualityIsKeptWhereTheEncoderTakesOne)
{
    TestPageHost host("-c:v libx264 -crf 23.5 -pix_fmt yuv420p -acodec aac");
    auto page = Open<KREEncoderPageH264>(host, QStringLiteral("matroska"));
    Settle();
    EXPECT_TRUE(host.sent.isEmpty());
    EXPECT_EQ(page->crfText(), "23.5");
    EXPECT_EQ(page->sliderLabel()->text(), "Quality (CRF) 23.5");
    EXPECT_EQ(page->encoderArgs(), "-c:v libx264 -crf 23.5 -pix_fmt yuv420p -acodec aac");
    // Through another mode and back, the value is the one last used.
    page->optionChanged(0);
    page->optionChanged(2);
    EXPECT_EQ(host.encoderArgs(), "-c:v libx264 -crf 23.5 -pix_fmt yuv420p -acodec aac");
    // Moving the slider picks a whole step.
    page->slider()->setValue(30);
    EXPECT_EQ(host.encoderArgs(), "-c:v libx264 -crf 21 -pix_fmt yuv420p -acodec aac");

    // libvpx takes whole numbers only: the nearest one, and the host is told.
    TestPageHost vp9(" -acodec libopus -c:v libvpx-vp9 -crf 30.6 ");
    auto vp = Open<KREEncoderPageVP9>(vp9, QStringLiteral("webm"));
    Settle();
    EXPECT_EQ(vp->CRF(), 31u);
    EXPECT_EQ(vp9.sent, QStringList({" -acodec libopus -c:v libvpx-vp9 -crf 31 "}));
}

TEST(VideoCodecPages, EveryModeWritesWhatItsEncoderNeedsForIt)
{
    TestPageHost x264;
    auto h264 = Open<KREEncoderPageH264>(x264, QStringLiteral("matroska"));
    h264->optionChanged(1);
    EXPECT_EQ(x264.encoderArgs(),
              "-c:v libx264 -b:v 1M -minrate 1M -maxrate 1M -bufsize 1M -nal-hrd cbr -pix_fmt yuv420p -acodec aac");
    h264->optionChanged(3); // lossless keeps the source's pixel format: it has to be exact
    EXPECT_EQ(x264.encoderArgs(), "-c:v libx264 -crf 0 -acodec aac");

    TestPageHost x265;
    auto h265 = Open<KREEncoderPageH265>(x265, QStringLiteral("mp4"));
    h265->optionChanged(1);
    EXPECT_EQ(x265.encoderArgs(), "-c:v libx265 -c:s mov_text -b:v 1M -minrate 1M -maxrate 1M -bufsize 1M "
                                  "-x265-params strict-cbr=1 -acodec aac");
    h265->optionChanged(3);
    EXPECT_EQ(x265.encoderArgs(), "-c:v libx265 -c:s mov_text -x265-params lossless=1 -acodec aac");

    TestPageHost vp9;
    auto vp = Open<KREEncoderPageVP9>(vp9, QStringLiteral("matroska"));
    vp->optionChanged(3);
    EXPECT_EQ(vp9.encoderArgs(), " -acodec aac -c:v libvpx-vp9 -lossless 1 ");
    vp->optionChanged(1);
    EXPECT_EQ(vp9.encoderArgs(), " -acodec aac -c:v libvpx-vp9 -b:v 1M -minrate 1M -maxrate 1M -bufsize 1M ");

    TestPageHost apple;
    auto a265 = Open<KREEncoderPageApple>(apple, QStringLiteral("matroska"), QStringLiteral("H265"));
    a265->optionChanged(3);
    EXPECT_EQ(apple.encoderArgs(), "-c:v libx265 -x265-params lossless=1 -acodec aac");

    // Several x265 parameter items become one: ffmpeg keeps only the last.
    QKElemValueList list(QStringLiteral("-c:v libx265 -x265-params lossless=1 -preset fast -x265-params log-level=1"));
    KREEncoderPageCommon::mergeX265Params(list);
    EXPECT_EQ(list.mergeToString_alternate(), "-c:v libx265 -x265-params lossless=1:log-level=1 -preset fast");
}

TEST(VideoCodecPages, TextsInTheOldFormsAreReadAndWrittenTheMendedWay)
{
    const QList<std::pair<QString, QString>> mended = {
        // x265's "-crf 0" is lossy: it is the lossless mode, written as x265's own switch.
        {"-c:v libx265 -crf 0 -acodec aac", "-c:v libx265 -x265-params lossless=1 -acodec aac"},
        // A constant bit rate without its buffer was only an average.
        {"-c:v libx265 -b:v 2M -minrate 2M -maxrate 2M -acodec aac",
         "-c:v libx265 -b:v 2M -minrate 2M -maxrate 2M -bufsize 2M -x265-params strict-cbr=1 -acodec aac"},
        {"-c:v libx264 -b:v 2M -minrate 2M -maxrate 2M -acodec aac",
         "-c:v libx264 -b:v 2M -minrate 2M -maxrate 2M -bufsize 2M -nal-hrd cbr -pix_fmt yuv420p -acodec aac"},
        // H.264 without a pixel format followed the source's.
        {"-c:v libx264 -crf 20 -acodec aac", "-c:v libx264 -crf 20 -pix_fmt yuv420p -acodec aac"},
    };
    for (const auto& [text, resent] : mended) {
        TestPageHost host(text);
        std::unique_ptr<KREEncoderPage> page = KRAEncoderPageIndex::createFor(
            text.contains("libx265") ? QStringLiteral("Matroska (H265)") : QStringLiteral("Matroska (H264)"), &host);
        page->pageView();
        Settle();
        EXPECT_EQ(host.sent, QStringList({resent})) << text.toStdString();
    }
    TestPageHost vp8(" -acodec libopus -c:v libvpx -crf 20");
    auto page = Open<KREEncoderPageVP8>(vp8, QStringLiteral("webm"));
    Settle();
    EXPECT_EQ(vp8.sent, QStringList({"-acodec libopus -c:v libvpx -crf 20 -b:v 1G"}));
    TestPageHost vp9(" -acodec libopus -c:v libvpx-vp9 -crf 0 ");
    auto lossless = Open<KREEncoderPageVP9>(vp9, QStringLiteral("webm"));
    EXPECT_TRUE(lossless->isLossless());
    Settle();
    EXPECT_EQ(vp9.sent, QStringList({" -acodec libopus -c:v libvpx-vp9 -lossless 1 "}));
}
