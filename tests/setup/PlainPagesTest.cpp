// The pages with their own few controls and the audio extraction pages.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QRandomGenerator>

#include <memory>

#include "common/TestPageHost.h"
#include "setup/KRAEncoderPageIndex.h"
#include "setup/KREEncoderPageExtractAudio.h"
#include "setup/KREEncoderPagePlain.h"

namespace {

void Settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

std::unique_ptr<KREEncoderPage> Open(const QString& encoder, TestPageHost& host)
{
    std::unique_ptr<KREEncoderPage> page = KRAEncoderPageIndex::createFor(encoder, &host);
    EXPECT_NE(page, nullptr) << encoder.toStdString();
    if (page)
        page->pageView();
    return page;
}

} // namespace

TEST(PlainPages, FixedTextsReplaceWhatTheHostHad)
{
    TestPageHost vob("-c:v libx264");
    auto page = Open("VOB", vob);
    EXPECT_EQ(vob.encoderArgs(), " -f vob -vf scale=720:576:lanczos,smartblur=1.0:-0.4,colormatrix=bt709:bt601,"
                                 "setdar=16/9,setsar=64/45 -target ntsc-dvd");
    TestPageHost gif("-crf 3");
    auto gifPage = Open("GIF Animation", gif);
    EXPECT_EQ(gif.encoderArgs(), " -f gif");
}

TEST(PlainPages, RemuxStartsWithTheFirstAudioChoiceAndCompletesStoredTexts)
{
    TestPageHost fresh;
    auto page = Open("MP4 (copy, no encoding)", fresh);
    EXPECT_EQ(fresh.sent, QStringList({"-vcodec copy -acodec aac -c:s mov_text"}));
    page->selectCodecChoice(1);
    EXPECT_EQ(fresh.encoderArgs(), "-vcodec copy -acodec copy -c:s mov_text");

    TestPageHost stored("-vcodec copy -acodec copy");
    auto remux = Open("MP4 (copy, no encoding)", stored);
    EXPECT_TRUE(stored.sent.isEmpty());
    Settle();
    EXPECT_EQ(stored.sent, QStringList({"-vcodec copy -acodec copy -c:s mov_text"}));

    TestPageHost gone("-vcodec copy -acodec copy");
    Open("MP4 (copy, no encoding)", gone).reset();
    Settle();
    EXPECT_TRUE(gone.sent.isEmpty());
}

TEST(PlainPages, SlidersReadTheirValuesBack)
{
    TestPageHost xvid(" -f avi -c:v libxvid -q:v 15");
    auto xvidPage = Open("AVI (XviD/DivX)", xvid);
    auto* x = qobject_cast<KREEncoderPageXviD*>(xvidPage.get());
    // A quantiser between the table's steps: the slider at the step below, the value kept
    // until the slider moves.
    EXPECT_EQ(x->sliderVal(), 4u);
    EXPECT_EQ(x->argsText(), " -f avi -c:v libxvid -q:v 15");
    EXPECT_EQ(x->sliderLabel(), "Quality 15");
    x->slider()->setValue(5);
    EXPECT_EQ(xvid.encoderArgs(), " -f avi -c:v libxvid -q:v 12");
    x->readArgs("-q:v 40"); // beyond libxvid's quantisers: the coarsest step
    EXPECT_EQ(x->sliderVal(), 0u);
    EXPECT_EQ(x->argsText(), " -f avi -c:v libxvid -q:v 30");
    x->readArgs("-q:v 0"); // matches no position: unchanged
    EXPECT_EQ(x->sliderVal(), 0u);

    TestPageHost wmv(" -c:v wmv2 -c:a wmav2 -b:v 7M");
    auto wmvPage = Open("WMV (Windows Media Video)", wmv);
    auto* w = qobject_cast<KREEncoderPageWMV*>(wmvPage.get());
    // Not a table rate: a step of its own between 6M and 8M, written back as it was, with the
    // ceiling that holds the encoder to it.
    EXPECT_EQ(w->sliderVal(), 16u);
    EXPECT_EQ(w->slider()->maximum(), 20);
    EXPECT_EQ(w->sliderLabel(), "Average bitrate 7 mbps");
    EXPECT_EQ(w->argsText(), " -c:v wmv2 -c:a wmav2 -b:v 7M -maxrate 7M -bufsize 7M");
    w->slider()->setValue(17);
    EXPECT_EQ(wmv.encoderArgs(), " -c:v wmv2 -c:a wmav2 -b:v 8M -maxrate 8M -bufsize 8M");
    w->readArgs("-b:v 2.5M");
    EXPECT_EQ(w->sliderVal(), 10u);
    EXPECT_EQ(w->sliderLabel(), "Average bitrate 2.5 mbps");
    w->readArgs("-b:v lots"); // no rate at all: unchanged
    EXPECT_EQ(w->sliderVal(), 10u);

    TestPageHost avi;
    auto aviPage = Open("AVI", avi);
    EXPECT_EQ(avi.encoderArgs(), " -f avi -qscale 3");
    auto* a = qobject_cast<KREEncoderPageQScale*>(aviPage.get());
    a->readArgs("-qscale 50"); // beyond the range: the lowest quality, not a wrapped position
    EXPECT_EQ(a->qscale(), 10);
    a->readArgs("-qscale=\"-7\"");
    EXPECT_EQ(a->qscale(), 0);
    a->slider()->setValue(2);
    EXPECT_EQ(avi.encoderArgs(), " -f avi -qscale 8");
    // ffmpeg takes a qscale with a fraction: kept as stored until the slider moves.
    a->readArgs("-qscale 2.5");
    EXPECT_EQ(a->argsText(), " -f avi -qscale 2.5");
    EXPECT_EQ(a->sliderLabel(), "Quality 2.5");
    EXPECT_EQ(a->qscale(), 2);
    a->slider()->setValue(7);
    EXPECT_EQ(avi.encoderArgs(), " -f avi -qscale 3");
}

TEST(PlainPages, ThreeGPChoices)
{
    TestPageHost host("-f 3gp -vcodec h263 -vf scale=320x240 -acodec amr_nb -ar 8000 -ac 1");
    auto page = Open("3GP", host);
    auto* g = qobject_cast<KREEncoderPage3GP*>(page.get());
    EXPECT_EQ(g->optionIndex(), 0u); // not a listed size
    g->readArgs("-f 3gp -vcodec h263 -vf scale=176x144");
    EXPECT_EQ(g->optionIndex(), 1u);
    g->readArgs(" -f 3gp -vcodec libx264 -acodec aac");
    EXPECT_EQ(g->optionIndex(), 5u);
    g->selectCodecChoice(5);
    EXPECT_EQ(host.encoderArgs(), " -f 3gp -vcodec libx264 -pix_fmt yuv420p -acodec aac");

    // H.264 stored without its pixel format is sent again with it.
    TestPageHost old(" -f 3gp -vcodec libx264 -acodec aac");
    auto oldPage = Open("3GP", old);
    EXPECT_TRUE(old.sent.isEmpty());
    Settle();
    EXPECT_EQ(old.sent, QStringList({" -f 3gp -vcodec libx264 -pix_fmt yuv420p -acodec aac"}));
    g->selectCodecChoice(1);
    EXPECT_TRUE(host.encoderArgs().startsWith("-f 3gp -vcodec h263 -vf scale=176x144 -acodec "));
    EXPECT_TRUE(host.encoderArgs().endsWith(" -ar 8000 -ac 1"));
}

TEST(PlainPages, ExtractionStreams)
{
    TestPageHost fresh;
    Open("Audio Extract (AAC)", fresh);
    EXPECT_EQ(fresh.encoderArgs(), "-vn  -acodec copy -map 0:a:0");
    TestPageHost wav;
    Open("Audio Extract (WAVE)", wav);
    EXPECT_EQ(wav.encoderArgs(), "-vn  -map 0:a:0");

    TestPageHost stored("-vn -acodec copy -map 0:a:2");
    auto page = Open("Audio Extract (MP3)", stored);
    auto* e = qobject_cast<KREEncoderPageExtractAudio*>(page.get());
    EXPECT_EQ(e->idxStream(), 2u);
    TestPageHost noMap("-vn -acodec copy");
    auto quiet = Open("Audio Extract (AAC)", noMap);
    EXPECT_EQ(qobject_cast<KREEncoderPageExtractAudio*>(quiet.get())->idxStream(), 0u);
    EXPECT_TRUE(noMap.sent.isEmpty()); // not rewritten until the stream changes

    EXPECT_EQ(KREEncoderPageExtractAudio::streamFromArgs("-map 0:a:-1"), 0);
    EXPECT_EQ(KREEncoderPageExtractAudio::streamFromArgs("-map 0:a:99999999999999999999"), 99);
    EXPECT_EQ(KREEncoderPageExtractAudio::streamFromArgs("-map 1:v:3"), 0);
}

TEST(PlainPages, RandomAndCutTextsNeverLeaveTheRanges)
{
    const QStringList names = {"AVI",
                               "Flash Video",
                               "AVI (XviD/DivX)",
                               "WMV (Windows Media Video)",
                               "3GP",
                               "MP4 (copy, no encoding)",
                               "Audio Extract (AAC)"};
    const QStringList tokens = {"-qscale", "-q:v", "-b:v",        "-vcodec", "-vf", "-map", "0:a:-5",  "scale=",
                                "h263",    "-1",   "99999999999", "7M",      "--",  "\"",   "libx264", "abc"};
    QRandomGenerator random(9122026);
    for (const QString& name : names) {
        TestPageHost host;
        std::unique_ptr<KREEncoderPage> page = Open(name, host);
        const QString base = host.encoderArgs();
        for (int i = 0; i < 1500; ++i) {
            QString text = base.left(static_cast<int>(random.bounded(base.size() + 1)));
            for (int t = random.bounded(5); t > 0; --t)
                text += QLatin1Char(' ') + tokens.at(static_cast<int>(random.bounded(tokens.size())));
            if (auto* s = qobject_cast<KREEncoderPageSlider*>(page.get())) {
                s->readArgs(text);
                ASSERT_LE(s->sliderVal(), 19u);
                ASSERT_FALSE(s->argsText().contains("-1"));
            } else if (auto* g = qobject_cast<KREEncoderPage3GP*>(page.get())) {
                g->readArgs(text);
                ASSERT_LE(g->optionIndex(), 5u);
            } else if (auto* r = qobject_cast<KREEncoderPageRemux*>(page.get())) {
                r->readArgs(text);
                ASSERT_LT(r->audioOptionIndex(), 2u);
            } else {
                ASSERT_LE(KREEncoderPageExtractAudio::streamFromArgs(text), 99);
                ASSERT_GE(KREEncoderPageExtractAudio::streamFromArgs(text), 0);
            }
        }
    }
    Settle();
}
