// The video codec pages driven through their own controls: every value a control sets comes
// back from the text in a page opened fresh on it, the Advanced sheet opens on the host's
// window, and the former hardware encoders run on VA-API only where it can work.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QSlider>

#include <sys/stat.h>

#include <memory>

#include "common/MediaTestFiles.h"
#include "common/QtTestPrint.h"
#include "common/TestEnv.h"
#include "common/TestFiles.h"
#include "common/TestPageHost.h"
#include "common/ToolRun.h"
#include "media/QKLocateFFmpeg.h"
#include "setup/KRAEncoderPageIndex.h"
#include "setup/KREEncoderPageApple.h"
#include "setup/KREEncoderPageH264.h"
#include "setup/KREEncoderPageVP.h"
#include "xclass/XList.h"
#include "xclass/XStr.h"

namespace {

void Settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

std::unique_ptr<KREEncoderPageCodec> OpenPage(const QString& name, TestPageHost& host)
{
    std::unique_ptr<KREEncoderPage> made = KRAEncoderPageIndex::createFor(name, &host);
    auto* page = qobject_cast<KREEncoderPageCodec*>(made.get());
    if (!page)
        return nullptr;
    made.release();
    page->pageView();
    return std::unique_ptr<KREEncoderPageCodec>(page);
}

// Chooses the entry as the user does: the pop-up moves, then tells the page.
void Choose(QComboBox* box, int index)
{
    box->setCurrentIndex(index);
    emit box->activated(index);
}

QList<int> PopupPositions(KREEncoderPageCodec& page)
{
    QList<int> positions;
    for (const QComboBox* box : page.pageView()->findChildren<QComboBox*>())
        positions.append(box->currentIndex());
    return positions;
}

// A page opened fresh on the host's text shows what the edited page shows and has nothing
// to correct.
void ExpectReadsBack(const QString& name, KREEncoderPageCodec& edited, const QString& text)
{
    TestPageHost fresh(text);
    auto page = OpenPage(name, fresh);
    Settle();
    SCOPED_TRACE((name + ": " + text).toStdString());
    EXPECT_TRUE(fresh.sent.isEmpty());
    EXPECT_EQ(page->encoderArgs(), text);
    EXPECT_EQ(page->mode(), edited.mode());
    EXPECT_EQ(page->slider()->value(), edited.slider()->value());
    EXPECT_EQ(page->slider()->isEnabled(), edited.slider()->isEnabled());
    EXPECT_EQ(page->sliderLabel()->text(), edited.sliderLabel()->text());
    EXPECT_EQ(PopupPositions(*page), PopupPositions(edited));
}

} // namespace

TEST(VideoCodecControls, EveryControlRoundTripsThroughTheText)
{
    const QStringList names = {"MP4 (H264)",           "Matroska (H264)", "MOV (Quicktime Movie)",
                               "MP4 (H265)",           "Matroska (H265)", "Matroska (VP9)",
                               "WebM (VP9)",           "WebM (VP8)",      "MP4 (Apple H264)",
                               "Matroska (Apple H265)"};
    for (const QString& name : names) {
        TestPageHost host;
        auto page = OpenPage(name, host);
        ASSERT_NE(page, nullptr) << name.toStdString();
        ASSERT_EQ(host.sent.size(), 1) << name.toStdString();
        ExpectReadsBack(name, *page, host.encoderArgs());

        QComboBox* rate = page->rateControlPopup();
        ASSERT_NE(rate, nullptr);
        for (int i = 0; i < rate->count(); ++i) {
            Choose(rate, i);
            ExpectReadsBack(name, *page, host.encoderArgs());
            if (page->slider()->isEnabled()) {
                page->slider()->setValue(page->slider()->maximum() / 3 + 1);
                ExpectReadsBack(name, *page, host.encoderArgs());
            }
        }
        // Every other pop-up (audio, VP9's encoding speed) to its last entry.
        for (QComboBox* box : page->pageView()->findChildren<QComboBox*>()) {
            if (box != rate && box->count() > 1) {
                Choose(box, box->count() - 1);
                ExpectReadsBack(name, *page, host.encoderArgs());
            }
        }
    }
}

TEST(VideoCodecControls, AdvancedSheetIsWindowModalOnTheHostsWindowAndRoundTrips)
{
    for (const QString& name : {QStringLiteral("Matroska (H264)"), QStringLiteral("MP4 (H265)")}) {
        TestPageHost host;
        QWidget window;
        host.window = &window;
        auto made = OpenPage(name, host);
        auto* page = qobject_cast<KREEncoderPageX26x*>(made.get());
        ASSERT_NE(page, nullptr);
        page->onAdvanced();
        KREEncoderPageAdvanced* sheet = page->advancedSheet();
        ASSERT_NE(sheet, nullptr);
        EXPECT_EQ(sheet->parentWidget(), &window);
        EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
        EXPECT_TRUE(sheet->isVisible());
        // The user's choices, made in the sheet's own controls.
        const QList<QComboBox*> boxes = sheet->findChildren<QComboBox*>();
        ASSERT_EQ(boxes.size(), page->isH264() ? 2 : 1);
        boxes.at(0)->setCurrentIndex(7); // preset "slower"
        if (page->isH264()) {
            boxes.at(1)->setCurrentIndex(2); // tune "animation"
            sheet->findChild<QCheckBox*>()->setChecked(true);
        }
        sheet->accept();
        Settle();
        EXPECT_EQ(page->advancedSheet(), nullptr);
        const QString text = host.encoderArgs();
        EXPECT_TRUE(text.contains(" -preset slower")) << text.toStdString();
        if (page->isH264()) {
            EXPECT_TRUE(text.contains("-profile:v baseline -level 3.0 -pix_fmt yuv420p -tune animation"))
                << text.toStdString();
        }
        ExpectReadsBack(name, *page, text);

        // Re-opened, the sheet shows the stored values; cancelling keeps them.
        page->onAdvanced();
        EXPECT_EQ(page->advancedSheet()->strQualityPreset(), "slower");
        if (page->isH264()) {
            EXPECT_EQ(page->advancedSheet()->strTuneFor(), "animation");
            EXPECT_TRUE(page->advancedSheet()->bMaximumCompatibility());
        }
        page->advancedSheet()->findChildren<QComboBox*>().at(0)->setCurrentIndex(0);
        page->advancedSheet()->reject();
        Settle();
        EXPECT_EQ(host.encoderArgs(), text);
    }

    // Without a host window the sheet opens on the page's own window.
    TestPageHost host;
    KREEncoderPageH264 page(&host, QStringLiteral("mp4"));
    page.pageView()->show();
    page.onAdvanced();
    ASSERT_NE(page.advancedSheet(), nullptr);
    EXPECT_EQ(page.advancedSheet()->parentWidget(), page.pageView()->window());
    page.advancedSheet()->reject();
    Settle();
}

TEST(VideoCodecControls, TextsWithoutRateControlGetTheDefaultModeAndAreResentOnce)
{
    TestPageHost host("-c:v libx264 -preset slow -acodec copy");
    auto page = OpenPage("MP4 (H264)", host);
    EXPECT_TRUE(page->isCRF());
    EXPECT_EQ(page->CRF(), 24u);
    EXPECT_EQ(page->rateControlPopup()->currentIndex(), 2);
    EXPECT_TRUE(page->slider()->isEnabled());
    Settle();
    // The missing mov_text and the missing rate control give one text, not two.
    EXPECT_EQ(host.sent,
              QStringList({"-c:v libx264 -c:s mov_text -crf 24 -pix_fmt yuv420p -preset slow -acodec copy"}));

    TestPageHost apple("-c:v h264_videotoolbox --allow_sw 1 -acodec aac_at");
    auto applePage = OpenPage("MP4 (Apple H264)", apple);
    Settle();
    EXPECT_EQ(apple.sent, QStringList({"-c:v libx264 -c:s mov_text -b:v 1M -pix_fmt yuv420p -acodec aac"}));

    TestPageHost old("-c:v libx265 -crf 28 -acodec aac_at");
    auto oldPage = OpenPage("Matroska (H265)", old);
    Settle();
    EXPECT_EQ(old.sent, QStringList({"-c:v libx265 -crf 28 -acodec aac"}));
}

// The former hardware encoders with an ffmpeg that lists the VA-API encoders and a render node
// that opens (both stand-ins: this test machine has neither GPU nor VA-API driver).
class ApplePageVaapi : public ::testing::Test {
protected:
    void SetUp() override
    {
        useFFmpeg(true);
        mkdir(dir.file("dri").c_str(), 0700);
        WriteTextFile(dir.file("dri/renderD128"), "");
        KREEncoderPageApple::setRenderNodeFolder(QString::fromStdString(dir.file("dri")));
    }
    void TearDown() override
    {
        KREEncoderPageApple::setRenderNodeFolder(QString());
        QKLocateFFmpeg::forgetEncoderAnswers();
    }
    void useFFmpeg(bool listsVaapi)
    {
        const std::string folder = dir.file(listsVaapi ? "vaapi" : "plain");
        mkdir(folder.c_str(), 0700);
        WriteTextFile(folder + "/ffmpeg", std::string("#!/bin/sh\necho ' V....D libx264  H.264'\n") +
                                              (listsVaapi ? "echo ' V....D h264_vaapi  H.264 (VAAPI)'\n"
                                                            "echo ' V....D hevc_vaapi  H.265 (VAAPI)'\n"
                                                          : ""));
        chmod((folder + "/ffmpeg").c_str(), 0755);
        path.emplace("PATH", folder + ":/usr/bin:/bin");
        QKLocateFFmpeg::forgetEncoderAnswers();
    }
    QString node() const { return QString::fromStdString(dir.file("dri/renderD128")); }

    TestTempDir dir;
    TestEnvScope appData{"_APPDATA_OVERRIDE", dir.file("app")};
    std::optional<TestEnvScope> path;
};

TEST_F(ApplePageVaapi, RateControlModesTheHardwareHasRunThere)
{
    TestPageHost host;
    auto page = OpenPage("MP4 (Apple H264)", host);
    const QString upload = "-c:v h264_vaapi -vaapi_device " + node() + " -vf format=nv12,hwupload -c:s mov_text";
    EXPECT_EQ(host.encoderArgs(), upload + " -rc_mode VBR -b:v 1M -acodec aac");
    Choose(page->rateControlPopup(), 1);
    EXPECT_EQ(host.encoderArgs(), upload + " -rc_mode CBR -b:v 1M -maxrate 1M -acodec aac");
    Choose(page->rateControlPopup(), 2);
    page->slider()->setValue(21);
    EXPECT_EQ(host.encoderArgs(), upload + " -rc_mode CQP -qp 30 -acodec aac");
    ExpectReadsBack("MP4 (Apple H264)", *page, host.encoderArgs());
    // No loss is beyond the hardware: the software encoder writes it.
    Choose(page->rateControlPopup(), 3);
    EXPECT_EQ(host.encoderArgs(), "-c:v libx264 -c:s mov_text -crf 0 -acodec aac");

    TestPageHost h265("-c:v hevc_vaapi -vaapi_device /dev/dri/renderD129 -rc_mode CQP -qp 0 -acodec libopus");
    auto lossless = OpenPage("Matroska (Apple H265)", h265);
    EXPECT_TRUE(lossless->isLossless());
    Settle();
    EXPECT_EQ(h265.sent, QStringList({"-c:v libx265 -x265-params lossless=1 -acodec libopus"}));
}

TEST_F(ApplePageVaapi, SoftwareWhenTheNodeOrTheEncoderIsMissing)
{
    useFFmpeg(false);
    EXPECT_TRUE(KREEncoderPageApple::findVaapiDevice("h264_vaapi").isEmpty());
    useFFmpeg(true);
    EXPECT_EQ(KREEncoderPageApple::findVaapiDevice("h264_vaapi"), node());
    EXPECT_TRUE(KREEncoderPageApple::findVaapiDevice("vp9_vaapi").isEmpty());
    KREEncoderPageApple::setRenderNodeFolder(QString::fromStdString(dir.file("none")));

    // A text stored where VA-API ran keeps its rate control and runs in software here.
    TestPageHost host("-c:v h264_vaapi -vaapi_device /dev/dri/renderD128 -vf format=nv12,hwupload -c:s mov_text "
                      "-rc_mode CQP -qp 30 -acodec copy");
    auto page = OpenPage("MP4 (Apple H264)", host);
    EXPECT_EQ(page->CRF(), 30u);
    EXPECT_EQ(qobject_cast<KREEncoderPageApple*>(page.get())->videoEncoder(), "libx264");
    Settle();
    EXPECT_EQ(host.sent, QStringList({"-c:v libx264 -c:s mov_text -crf 30 -pix_fmt yuv420p -acodec copy"}));
}

// Both ends of every rate-control mode of every codec page, and maximum compatibility on a
// 4:4:4 source, convert a real clip: no position of a control gives ffmpeg a value it refuses.
TEST(VideoCodecControls, EveryModeAtBothEndsRunsInTheRealFFmpeg)
{
    const std::string ffmpeg = ProgramOnPath("ffmpeg");
    if (ffmpeg.empty())
        GTEST_SKIP() << "ffmpeg is needed";
    TestTempDir dir;
    const std::string input = dir.file("in.mp4"); // testsrc is RGB: libx264 keeps it 4:4:4
    ASSERT_EQ(RunProcess({ffmpeg, "-v", "error", "-f", "lavfi", "-i", "testsrc=d=0.4:s=64x48:r=10", "-f", "lavfi", "-i",
                          "sine=d=0.4", "-shortest", "-c:v", "libx264", "-c:a", "aac", input})
                  .status,
              0);
    const auto convert = [&](const QString& args, const std::string& ext) {
        XStrList tokens;
        tokens.ParseArgs(XStr::FromUTF8(args.toStdString()));
        std::vector<std::string> argv = {ffmpeg, "-nostdin", "-v", "error", "-y", "-i", input};
        for (int64_t i = 0; i < tokens.Count(); ++i)
            argv.push_back(tokens[i].ToUTF8String());
        argv.push_back(dir.file("out" + ext));
        const ToolRunResult run = RunProcess(argv);
        EXPECT_EQ(run.status, 0) << args.toStdString() << "\n" << run.err;
    };
    const std::vector<std::pair<QString, std::string>> pages = {{"MP4 (H264)", ".mp4"},
                                                                {"Matroska (H265)", ".mkv"},
                                                                {"WebM (VP9)", ".webm"},
                                                                {"WebM (VP8)", ".webm"},
                                                                {"MP4 (Apple H265)", ".mp4"}};
    for (const auto& [name, ext] : pages) {
        TestPageHost host;
        auto page = OpenPage(name, host);
        QComboBox* rate = page->rateControlPopup();
        for (int i = 0; i < rate->count(); ++i) {
            Choose(rate, i);
            convert(host.encoderArgs(), ext);
            if (page->slider()->isEnabled()) {
                page->slider()->setValue(0);
                convert(host.encoderArgs(), ext);
                page->slider()->setValue(page->slider()->maximum());
                convert(host.encoderArgs(), ext);
            }
        }
    }
    TestPageHost host("-c:v libx264 -c:s mov_text -crf 24 -acodec aac");
    auto page = OpenPage("MP4 (H264)", host);
    qobject_cast<KREEncoderPageX26x*>(page.get())->onAdvanced();
    auto* sheet = qobject_cast<KREEncoderPageX26x*>(page.get())->advancedSheet();
    sheet->setBMaximumCompatibility(true);
    sheet->accept();
    Settle();
    convert(host.encoderArgs(), ".mp4");
}
