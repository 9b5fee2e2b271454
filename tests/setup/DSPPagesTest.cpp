// The effect pages: what each writes for a new effect and for given settings, what it reads
// back from stored texts (hand-written ones included), and that its controls and its settings
// stay in step.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QSlider>
#include <QSpinBox>

#include <memory>

#include "job/KREDSPs.h"
#include "setup/KRADSPPage.h"
#include "setup/KRADSPPageIndex.h"
#include "setup/KREDSPPagesAction.h"
#include "setup/KREDSPPagesPicture.h"
#include "setup/KREDSPPagesTime.h"

namespace {

template <class Page>
std::unique_ptr<Page> Read(const QString& args)
{
    auto page = std::make_unique<Page>();
    page->setDspArgs(args);
    return page;
}

// What a fresh page writes back for the text.
QString Roundtrip(const QString& name, const QString& args)
{
    std::unique_ptr<KRADSPPage> page = KRADSPPageIndex::createFor(name);
    if (!page)
        return QStringLiteral("<no page>");
    page->setDspArgs(args);
    return page->dspArgs();
}

} // namespace

TEST(DSPPages, EveryEffectHasAPageWhoseDefaultsReadBackUnchanged)
{
    const QList<QKDSPDescRef> all = KREDSPs::list();
    ASSERT_EQ(all.size(), 35);
    for (const QKDSPDescRef& desc : all) {
        std::unique_ptr<KRADSPPage> page = KRADSPPageIndex::createFor(desc->name);
        ASSERT_NE(page, nullptr) << desc->name.toStdString();
        EXPECT_EQ(page->effectName(), desc->name);
        page->setDspArgs(QString());
        const QString defaults = page->dspArgs();
        EXPECT_EQ(Roundtrip(desc->name, defaults), defaults) << desc->name.toStdString();
    }
    EXPECT_EQ(KRADSPPageIndex::createFor(QStringLiteral("Audio CD - Remove Gaps")), nullptr);
    EXPECT_EQ(KRADSPPageIndex::createCommonPageFor(QStringLiteral("Trim")), nullptr);
    EXPECT_NE(KRADSPPageIndex::createCommonPageFor(QStringLiteral("Crop")), nullptr);
}

TEST(DSPPages, ChangedSettingsReadBackUnchanged)
{
    const std::pair<const char*, const char*> texts[] = {
        {"Scale Absolute", "-vf scale=640:360"},
        {"Scale Absolute", "-vf scale=1000:500"},
        {"Scale Maximum", "-vf \"scale='min(1280,iw):min(720,ih)':force_original_aspect_ratio=decrease\""},
        {"Scale Maximum", "-vf \"scale='min(999,iw):min(555,ih)'\""},
        {"Crop", "-vf crop=640:480:10:20"},
        {"Canvas Size", "-vf \"scale=iw:ih,pad=2000:1200:ow-iw:0\""},
        {"Flip", "-vf hflip"},
        {"Rotate", "-vf rotate='-90*PI/180'"},
        {"Aspect Ratio", "-aspect 16:9"},
        {"Frame Rate", "-r 30000/1001"},
        {"Pixel Format", "-pix_fmt yuv444p10le"},
        {"Deinterlace (yadif)", "-vf yadif='mode=1:parity=0:deint=1'"},
        {"Watermark", "-i \"/tmp/my logo.png\" -filter_complex overlay=0:0"},
        {"Denoiser (Spatial Denoiser)", "-vf removegrain='m0=7:m1=7:m2=5:m3=5'"},
        {"Denoiser (High Precision 3D)", "-vf hqdn3d='luma_spatial=0.2:chroma_spatial=100:luma_tmp=12'"},
        {"Denoiser (Wavelet)", "-vf vaguedenoiser='threshold=3.5:method=soft:nsteps=3:planes=7:percent=40'"},
        {"Sharpen & Blur", "-vf \"unsharp=luma_amount=-1.5:chroma_amount=-1.5\""},
        {"Brightness & Contrast", "-vf eq=\"brightness=-0.25:contrast=1.50\""},
        {"Hue & Saturation", "-vf hue='h=-90:s=2.5'"},
        {"Scale Percentage", "-filter:v \"scale=iw*(25/100):ih*(150/100)\""},
        {"Trim", "-trimstart 1.5 -trimend 10"},
        {"Trim", "-trimend 0.001"},
        {"Cut", "-ss 00:01:05.250 -t 00:00:30"},
        {"Cut", "-t 100:00:00"},
        {"Fade", "-fadein=\"2\" -fadeout=\"0\" -afadein=\"1.5\" -afadeout=\"0.25\""},
        {"Loop", "-loopvideo=7"},
        {"Speed Adjust", "-vf setpts='2.500000*PTS'"},
        {"Stream Selection", "-map 0:v:0 -map 0:a:1 -sn"},
        {"Audio Bitrate", "-b:a 320k"},
        {"Audio Channel Count", "-ac 1"},
        {"Audio Resample", "-ar 48000"},
        {"Audio Normalize", "-af dynaudnorm"},
        {"[Custom]", "-vf \"eq=gamma=1.2\"  -metadata title=x"},
        {"Multi-CPU Force", "-threads 2 -marvoni_thread_count 4"},
        {"Delete Source File", "-DELSOURCERECYCLE -DELSOURCEREMOVEEMPTY"},
        {"Play Sound After Conversion", "-playsound \"/home/me/done sound.oga\" -playsounderr /tmp/err.oga"},
    };
    for (const auto& [name, text] : texts)
        EXPECT_EQ(Roundtrip(QString::fromUtf8(name), QString::fromUtf8(text)), QString::fromUtf8(text)) << name;
}

TEST(DSPPages, PictureTextsReadBackByTheirRules)
{
    // Three numbers are no crop: all four values stay.
    auto crop = Read<KREDSPPageCrop>(QStringLiteral("-vf crop=10:20:30"));
    EXPECT_EQ(crop->dspArgs(), "-vf crop=1024:768:0:0");

    auto hq = Read<KREDSPPageHQDN3D>(QStringLiteral("-vf hqdn3d='luma_spatial=0.4:chroma_spatial=11:luma_tmp=1000'"));
    EXPECT_EQ(hq->lumaSpatial(), 1);
    EXPECT_EQ(hq->chromaSpatial(), 14);
    EXPECT_EQ(hq->lumaTemporal(), 28); // beyond the table: its strongest
    EXPECT_EQ(KREDSPPageHQDN3D::indexOfStrength(-3), 0);
    EXPECT_EQ(Read<KREDSPPageHQDN3D>(QString())->dspArgs(), "-vf hqdn3d='luma_spatial=4:chroma_spatial=3:luma_tmp=6'");

    auto yadif = Read<KREDSPPageDeinterlace>(QStringLiteral("-vf yadif='mode=1:parity=-1:deint=0'"));
    EXPECT_EQ(yadif->parityIndex(), 2);
    EXPECT_EQ(yadif->dspArgs(), "-vf yadif='mode=1:parity=-1:deint=0'");

    KREDSPPageScalePercentage percent;
    percent.setFactors(0.333, 2.0);
    EXPECT_EQ(percent.dspArgs(), "-filter:v \"scale=iw*(33/100):ih*(200/100)\"");
    // A factor of 0 is no factor: the old one stays.
    EXPECT_DOUBLE_EQ(Read<KREDSPPageScalePercentage>(QStringLiteral("scale=iw*(0/100):ih*(80/100)"))->horizontal(),
                     0.5);

    KREDSPPageScaleMax maximum;
    maximum.setCustomSize(800, 600);
    EXPECT_EQ(maximum.dspArgs(), "-vf \"scale='min(800,iw):min(600,ih)'\"");
    auto fromData = Read<KREDSPPageScaleMax>(QStringLiteral("-vf \"scale='min(1280,iw):min(720,ih)'\""));
    EXPECT_FALSE(fromData->isCustom());
    EXPECT_TRUE(Read<KREDSPPageScaleMax>(QStringLiteral("-vf \"scale='min(800,iw):min(600,ih)'\""))->isCustom());

    auto scale = Read<KREDSPPageScale>(QString());
    EXPECT_FALSE(scale->isCustom());
    EXPECT_EQ(scale->dspArgs(), "-vf scale=1920:1080");
    auto odd = Read<KREDSPPageScale>(QStringLiteral("-vf scale=1000:500"));
    EXPECT_TRUE(odd->isCustom());
    odd->selectIndex(0); // a data entry brings its size into the custom fields
    EXPECT_FALSE(odd->isCustom());
    EXPECT_EQ(odd->width(), 3840);

    EXPECT_EQ(Read<KREDSPPageFrameRate>(QStringLiteral("-r 17"))->dspArgs(), "-r 25");
    auto aspect = Read<KREDSPPageAR>(QStringLiteral("-aspect 2.35"));
    const int chosen = aspect->index();
    aspect->setDspArgs(QStringLiteral("-aspect 5:4")); // no match: the selection stays
    EXPECT_EQ(aspect->index(), chosen);

    auto canvas = Read<KREDSPPageCanvasSize>(QStringLiteral("-vf \"scale=iw:ih,pad=1280:720:0:oh-ih\""));
    EXPECT_EQ(canvas->position(), 6); // "Left Bottom"
    EXPECT_EQ(canvas->width(), 1280);

    EXPECT_EQ(Read<KREDSPPageFlip>(QStringLiteral("-vf hflip "))->dspArgs(), "-vf vflip"); // exact text only
    EXPECT_EQ(Read<KREDSPPagePixelFormat>(QStringLiteral("-crf 3"))->pixelFormat(), "yuv420p");
    auto wavelet = Read<KREDSPPageDenoiserWavelet>(QStringLiteral("method=hard:nsteps=0:planes=99:percent=-4"));
    EXPECT_EQ(wavelet->method(), "Hard");
    EXPECT_EQ(wavelet->steps(), 1);
    EXPECT_EQ(wavelet->planes(), 15);
    EXPECT_EQ(wavelet->percent(), 0);
}

TEST(DSPPages, NewPictureEffectsLeaveThePictureAsItIs)
{
    // ffmpeg's saturation 0 takes every colour away: a new effect must keep them.
    auto hue = Read<KREDSPPageHSB>(QString());
    EXPECT_EQ(hue->dspArgs(), "-vf hue='h=0:s=1.0'");
    EXPECT_EQ(Read<KREDSPPageHSB>(QStringLiteral("-vf hue='h=20:s=0.0'"))->saturation(), 0.0);
    EXPECT_EQ(Read<KREDSPPageHSB>(QStringLiteral("-vf hue='h=20'"))->saturation(), 1.0);
    EXPECT_EQ(Read<KREDSPPageBrightnessContrast>(QStringLiteral("brightness=0.5"))->contrast(), 1.0);
    EXPECT_EQ(Read<KREDSPPageBrightnessContrast>(QString())->dspArgs(), "-vf eq=\"brightness=0.00:contrast=1.00\"");
}

TEST(DSPPages, WatermarkNeedsItsPicture)
{
    auto mark = Read<KREDSPPageWatermark>(QString());
    EXPECT_EQ(mark->position(), 8); // "Right Bottom"
    EXPECT_EQ(mark->dspArgs(), "-filter_complex overlay=main_w-overlay_w:main_h-overlay_h");
    EXPECT_FALSE(mark->dspValidate());
    mark->setWatermark(QStringLiteral("/pictures/a b.png"), 1);
    EXPECT_TRUE(mark->dspValidate());
    EXPECT_EQ(mark->dspArgs(), "-i \"/pictures/a b.png\" -filter_complex overlay=(main_w-overlay_w)/2:0");
    // A graph of another form keeps the default place.
    EXPECT_EQ(Read<KREDSPPageWatermark>(QStringLiteral("-filter_complex blend"))->position(), 8);
}

TEST(DSPPages, TimeTextsKeepTheirMilliseconds)
{
    EXPECT_EQ(Read<KREDSPPageTrim>(QString())->dspArgs(), "");
    auto trim = Read<KREDSPPageTrim>(QStringLiteral("-trimstart 1.001 -trimend=\"0.5\""));
    EXPECT_EQ(trim->startMs(), 1001);
    EXPECT_EQ(trim->endMs(), 500);

    auto fade = Read<KREDSPPageFade>(QString());
    EXPECT_EQ(fade->dspArgs(), "-fadein=\"0\" -fadeout=\"0\" -afadein=\"0\" -afadeout=\"0\"");
    fade->setFades(2000, 0, 1500, 1);
    EXPECT_EQ(fade->dspArgs(), "-fadein=\"2\" -fadeout=\"0\" -afadein=\"1.5\" -afadeout=\"0.001\"");

    EXPECT_EQ(KREDSPPageCut::cutTimeText(3725500), "01:02:05.500");
    EXPECT_EQ(KREDSPPageCut::cutTimeText(59999.6), "00:01:00");
    EXPECT_EQ(KREDSPPageCut::cutTimeText(100.0 * 3600 * 1000), "100:00:00");
    EXPECT_EQ(KREDSPPageCut::parseCutTime(QStringLiteral("0:0:1.25")), 1250.0);
    EXPECT_EQ(KREDSPPageCut::parseCutTime(QStringLiteral("00:00:01.250")), 1250.0);
    EXPECT_EQ(KREDSPPageCut::parseCutTime(QStringLiteral("00:00:01.001")), 1001.0);
    for (const char* bad : {"", "1:30", "a:b:c", "1:2:3:4", "-1:00:00", "00:00:01,5", "00:00:01.5x"})
        EXPECT_FALSE(KREDSPPageCut::parseCutTime(QString::fromUtf8(bad))) << bad;
}

TEST(DSPPages, ACutTimeThatDoesNotReadIsRefusedNotChanged)
{
    auto cut = Read<KREDSPPageCut>(QStringLiteral("-ss 1:2 -t 00:00:10"));
    EXPECT_TRUE(cut->hasStart());
    EXPECT_EQ(cut->startText(), "1:2"); // shown as stored, so the user sees what is wrong
    EXPECT_FALSE(cut->dspValidate());
    cut->setStart(true, QStringLiteral("0:1:5.25"));
    EXPECT_TRUE(cut->dspValidate());
    EXPECT_EQ(cut->dspArgs(), "-ss 00:01:05.250 -t 00:00:10");
    // An unticked field is not asked.
    cut->setLength(false, QStringLiteral("never"));
    EXPECT_TRUE(cut->dspValidate());
    EXPECT_EQ(cut->dspArgs(), "-ss 00:01:05.250");
    EXPECT_EQ(Read<KREDSPPageCut>(QString())->dspArgs(), "");
}

TEST(DSPPages, StreamAndSoundTextsReadBackByTheirRules)
{
    EXPECT_EQ(Read<KREDSPPageStreamSelection>(QString())->dspArgs(), "-map 0:v? -map 0:a? -map 0:s?");
    auto streams = Read<KREDSPPageStreamSelection>(QStringLiteral("-map 0:v:3 -an"));
    EXPECT_EQ(streams->dspArgs(), "-map 0:v:3 -an -map 0:s?");
    streams->setChoice(2, KREDSPPageStreamSelection::kNone);
    EXPECT_TRUE(streams->dspArgs().endsWith(" -sn"));

    EXPECT_EQ(Read<KREDSPPageAudioBitrate>(QStringLiteral("-b:a 1m"))->position(), 19);
    EXPECT_EQ(Read<KREDSPPageAudioBitrate>(QString())->dspArgs(), "-b:a 128k");
    EXPECT_EQ(Read<KREDSPPageAudioBitrate>(QStringLiteral("-b:a 100000"))->dspArgs(), "-b:a 112k");
    EXPECT_EQ(Read<KREDSPPageAudioBitrate>(QStringLiteral("-b:a 1k"))->dspArgs(), "-b:a 8k");

    EXPECT_EQ(Read<KREDSPPageLoopVideo>(QString())->dspArgs(), "-loopvideo=2");
    EXPECT_EQ(Read<KREDSPPageACC>(QStringLiteral("-ac 9"))->dspArgs(), "-ac 2");
    EXPECT_EQ(Read<KREDSPPageResample>(QString())->dspArgs(), "-ar 44100");
    EXPECT_EQ(Read<KREDSPPageMute>(QStringLiteral("anything"))->dspArgs(), "-frames:a 0");
    EXPECT_EQ(Read<KREDSPPageReverse>(QString())->dspArgs(), "-vf reverse -af areverse");
}

TEST(DSPPages, ActionTextsAreTheOnesTheBatchReads)
{
    KREDSPPageDeleteSourceFile del;
    EXPECT_EQ(del.dspArgs(), "-DELSOURCEPERM");
    del.setFlags(false, true);
    EXPECT_EQ(del.dspArgs(), "-DELSOURCEPERM -DELSOURCEREMOVEEMPTY");
    EXPECT_FALSE(Read<KREDSPPageDeleteSourceFile>(QStringLiteral("-DELSOURCERECYCLEX"))->recycle());

    auto sound = Read<KREDSPPagePlaySound>(QString());
    EXPECT_EQ(sound->dspArgs(), "");
    EXPECT_TRUE(sound->successSound().isEmpty() && sound->failureSound().isEmpty());

    // No count below one: a batch on no slot would never end.
    auto force = Read<KREDSPPageMultiCPUForce>(QStringLiteral("-threads 0 -marvoni_thread_count 0"));
    EXPECT_EQ(force->encoders(), 1);
    EXPECT_EQ(force->threads(), 1);
    force->setForce(3, false, 8);
    EXPECT_EQ(force->dspArgs(), "-marvoni_thread_count 3");
    force->setForce(-2, true, 2);
    EXPECT_EQ(force->dspArgs(), "-threads 2 -marvoni_thread_count 1");
    EXPECT_EQ(Read<KREDSPPageMultiCPUForce>(QString())->dspArgs(), "-marvoni_thread_count 1");
}

TEST(DSPPages, ControlsAndSettingsStayInStep)
{
    KREDSPPageCrop crop;
    crop.setDspArgs(QStringLiteral("-vf crop=640:480:0:0"));
    crop.pageView();
    ASSERT_NE(crop.widthBox(), nullptr);
    EXPECT_EQ(crop.widthBox()->value(), 640);
    int changes = 0;
    QObject::connect(&crop, &KRADSPPage::changed, [&] { ++changes; });
    crop.widthBox()->setValue(320);
    EXPECT_EQ(crop.dspArgs(), "-vf crop=320:480:0:0");
    EXPECT_EQ(changes, 1);
    // Reading a text moves the controls and is no change of the user's.
    crop.setDspArgs(QStringLiteral("-vf crop=100:100:4:4"));
    EXPECT_EQ(crop.widthBox()->value(), 100);
    EXPECT_EQ(changes, 1);

    KREDSPPageAudioBitrate bitrate;
    bitrate.pageView();
    bitrate.slider()->setValue(17);
    EXPECT_EQ(bitrate.dspArgs(), "-b:a 320k");

    KREDSPPageCut cut;
    cut.pageView();
    EXPECT_FALSE(cut.startField()->isEnabled());
    cut.setStart(true, QStringLiteral("00:00:02"));
    EXPECT_TRUE(cut.startField()->isEnabled());
    cut.startField()->setText(QStringLiteral("00:00:03.5"));
    EXPECT_EQ(cut.dspArgs(), "-ss 00:00:03.500");

    KREDSPPageDeleteSourceFile del;
    del.pageView();
    del.recycleBox()->setChecked(true);
    EXPECT_EQ(del.dspArgs(), "-DELSOURCERECYCLE");

    KREDSPPageStreamSelection streams;
    streams.pageView();
    streams.choiceBox(1)->setCurrentIndex(KREDSPPageStreamSelection::kNone);
    EXPECT_EQ(streams.dspArgs(), "-map 0:v? -an -map 0:s?");
}

TEST(DSPPages, DataFilesGivePairsOfLines)
{
    const KRADSPChoices five = dspChoicesFromText(QStringLiteral("a\n-r 1\nb\r\n-r 2\nc"));
    EXPECT_EQ(five.labels, QStringList({"a", "b"}));
    EXPECT_EQ(five.values, QStringList({"-r 1", "-r 2"}));
    EXPECT_TRUE(dspChoicesFromText(QStringLiteral("only")).labels.isEmpty());
    EXPECT_TRUE(loadDSPChoices(QStringLiteral("No Such Data")).values.isEmpty());
    EXPECT_TRUE(loadDSPChoices(QStringLiteral("../Scale Data")).values.isEmpty());
    // Every shipped file has its fallback label.
    EXPECT_TRUE(loadDSPChoices(QStringLiteral("Frame Rate Data")).labels.contains("25 (PAL)"));
    EXPECT_TRUE(loadDSPChoices(QStringLiteral("Audio Resample Data")).labels.contains("44.1 KHz"));
    EXPECT_TRUE(loadDSPChoices(QStringLiteral("Channel Count Data")).labels.contains("2 (stereo)"));
    EXPECT_TRUE(loadDSPChoices(QStringLiteral("Scale Data")).values.contains("-vf scale=1920:1080"));
    EXPECT_TRUE(loadDSPLines(QStringLiteral("Pixel Formats")).contains("yuv420p"));
}
