// The preview generator from its page to the file: what setup-tool says the page writes for
// each nested encoder, and what the page writes after its nested encoder's page was changed,
// run through engine-tool with the real ffmpeg, and the preview measured with ffprobe.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>

#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "common/MediaTestFiles.h"
#include "common/RealFFmpegRunTest.h"
#include "common/TestEnv.h"
#include "common/TestFiles.h"
#include "common/TestPageHost.h"
#include "common/TestShard.h"
#include "common/ToolRun.h"
#include "media/QKExternalFFmpeg.h"
#include "setup/KRAEncoderSettingsPopup.h"
#include "setup/KREEncoderPageCommon.h"
#include "setup/KREEncoderPagePreviewGenerator.h"

namespace {

// What ffprobe prints of the entries, one value a line; of the streams of that kind only, when
// given ("v", "a").
std::string FFprobeText(const std::string& path, const std::string& entries, const std::string& streams = "v")
{
    ToolRunOptions options;
    options.searchPath = true;
    std::vector<std::string> args{"ffprobe", "-v", "error", "-show_entries", entries, "-of", "default=nw=1:nk=1"};
    if (!streams.empty())
        args.insert(args.end(), {"-select_streams", streams});
    args.push_back(path);
    return RunProcess(args, options).out;
}

struct Expected {
    std::string codec;
    std::string format; // ffprobe's format_name
    std::string brand;  // the first letters of the ISO file's major brand, where it has one
    std::string size;   // "WxH" as the nested page scales to; empty: the source's
};

// What each nested encoder's name promises.
const std::map<std::string, Expected>& Promised()
{
    static const std::map<std::string, Expected> table{
        {"3GP", {"h263", "mov,mp4,m4a,3gp,3g2,mj2", "3gp", "128x96"}},
        {"AVI", {"mpeg4", "avi", "", ""}},
        {"AVI (XviD/DivX)", {"mpeg4", "avi", "", ""}},
        {"Flash Video", {"flv1", "flv", "", ""}},
        {"GIF Animation", {"gif", "gif", "", ""}},
        {"Matroska (Apple H264)", {"h264", "matroska,webm", "", ""}},
        {"Matroska (Apple H265)", {"hevc", "matroska,webm", "", ""}},
        {"Matroska (H264)", {"h264", "matroska,webm", "", ""}},
        {"Matroska (H265)", {"hevc", "matroska,webm", "", ""}},
        {"Matroska (VP9)", {"vp9", "matroska,webm", "", ""}},
        {"MOV (Quicktime Movie)", {"h264", "mov,mp4,m4a,3gp,3g2,mj2", "qt", ""}},
        {"MP4 (Apple H264)", {"h264", "mov,mp4,m4a,3gp,3g2,mj2", "isom", ""}},
        {"MP4 (Apple H265)", {"hevc", "mov,mp4,m4a,3gp,3g2,mj2", "isom", ""}},
        {"MP4 (H264)", {"h264", "mov,mp4,m4a,3gp,3g2,mj2", "isom", ""}},
        {"MP4 (H265)", {"hevc", "mov,mp4,m4a,3gp,3g2,mj2", "isom", ""}},
        {"VOB", {"mpeg2video", "mpeg", "", "720x480"}}, // its DVD target's size
        {"WebM (VP8)", {"vp8", "matroska,webm", "", ""}},
        {"WebM (VP9)", {"vp9", "matroska,webm", "", ""}},
        {"WMV (Windows Media Video)", {"wmv2", "asf", "", ""}},
    };
    return table;
}

struct Choice {
    std::string name, ext, args;
};

class PreviewGeneratorRun : public RealFFmpegRunTest {
protected:
    void SetUp() override
    {
        RealFFmpegRunTest::SetUp();
        if (IsSkipped())
            return;
        src = dir.file("in.mp4");
        ASSERT_TRUE(RunProgramQuietly({"ffmpeg",
                                       "-v",
                                       "error",
                                       "-nostdin",
                                       "-y",
                                       "-f",
                                       "lavfi",
                                       "-i",
                                       "testsrc=duration=8:size=320x240:rate=10",
                                       "-f",
                                       "lavfi",
                                       "-i",
                                       "sine=duration=8",
                                       "-pix_fmt",
                                       "yuv420p",
                                       "-c:v",
                                       "libx264",
                                       "-c:a",
                                       "aac",
                                       "-shortest",
                                       src}));
    }
    ToolRunResult preview(const std::string& args, const std::string& dest)
    {
        return RunTestTool(TestToolPath("engine-tool"),
                           {"run", "--src", src, "--dst", dest, "--encoder", "[Preview Generator]", "--args", args},
                           std::string(), 240000);
    }

    std::string src;
};

// The preview generator's lines of setup-tool's listing, one for each nested choice.
std::vector<Choice> ListedChoices()
{
    const ToolRunResult r =
        RunTestTool(TestToolPath("setup-tool"), {"encoder-defaults", "--all-choices"}, std::string(), 120000);
    std::vector<Choice> choices;
    std::istringstream in(r.out);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::istringstream row(line);
        std::string field;
        while (std::getline(row, field, '\t'))
            fields.push_back(field);
        if (fields.size() == 4 && fields[0] == "[Preview Generator]")
            choices.push_back({fields[3], fields[1], fields[2]});
    }
    return choices;
}

TEST_F(PreviewGeneratorRun, EveryNestedChoiceGivesItsOwnCodecContainerAndSize)
{
    const std::vector<Choice> choices = ListedChoices();
    ASSERT_GE(choices.size(), 10u) << "setup-tool lists the nested choices";
    // ctest runs this in parts side by side (see TestShard.h).
    const TestShard shard = TestShard::current();
    size_t listed = 0;
    int checked = 0;
    for (const Choice& choice : choices) {
        SCOPED_TRACE(choice.name + ": " + choice.args);
        // The custom page needs a command and an extension typed before it can be confirmed:
        // its listed line is the page's text as it was. It is run below with one of each.
        if (choice.name == "[Custom FFmpeg settings]")
            continue;
        if (!shard.has(listed++))
            continue;
        const auto promised = Promised().find(choice.name);
        if (promised == Promised().end()) {
            ADD_FAILURE() << "a nested choice the test does not know";
            continue;
        }
        const Expected& want = promised->second;
        const std::string out = dir.file("p" + std::to_string(checked++) + choice.ext);
        const ToolRunResult r = preview(choice.args, out);
        ASSERT_EQ(LastLine(r.out), "result: success") << r.out;
        EXPECT_EQ(FFprobeText(out, "stream=codec_type", "a"), "") << "a picture only";
        EXPECT_EQ(FFprobeText(out, "stream=codec_name"), want.codec + "\n");
        EXPECT_EQ(FFprobeText(out, "format=format_name"), want.format + "\n");
        if (!want.brand.empty()) {
            EXPECT_EQ(FFprobeText(out, "format_tags=major_brand").rfind(want.brand, 0), 0u);
        }
        const std::string size = want.size.empty() ? "320x240" : want.size;
        EXPECT_EQ(FFprobeText(out, "stream=width,height"),
                  size.substr(0, size.find('x')) + "\n" + size.substr(size.find('x') + 1) + "\n");
    }
    EXPECT_GE(checked * shard.count, 10u);
}

// A page for the preview generator, opened in a window of the test's own, with its frames
// taken every second from 0.5 s on, so that a short clip gives a preview of several frames.
class PreviewPage {
public:
    PreviewPage()
    {
        page = std::make_unique<KREEncoderPagePreviewGenerator>(&host);
        page->pageView()->setParent(&window);
        QWidget* view = page->pageView();
        view->findChildren<QRadioButton*>()[0]->setChecked(true);
        const QList<QDoubleSpinBox*> seconds = view->findChildren<QDoubleSpinBox*>();
        seconds[0]->setValue(1.0); // every
        seconds[1]->setValue(0.5); // first frame at
    }
    // The nested encoder picked and its settings pop-up confirmed after change() ran on it.
    template <typename Change>
    void nest(const QString& encoder, Change change)
    {
        page->onEncoderCombo(encoder);
        KRAEncoderSettingsPopup* popup = page->settingsPopup();
        ASSERT_TRUE(popup);
        change(popup);
        popup->onOK();
        ASSERT_FALSE(page->settingsPopup());
        ASSERT_EQ(page->selectedEncoderValid(), encoder);
    }
    std::string args() { return host.encoderArgs().toStdString(); }
    std::string ext() { return host.encoderArgsV2().customFormatExt.value_or(QString()).toStdString(); }

    QWidget window;
    TestPageHost host;
    std::unique_ptr<KREEncoderPagePreviewGenerator> page;
};

TEST_F(PreviewGeneratorRun, TheNestedPagesRateControlAndCustomCommandAreKept)
{
    QKExternalFFmpeg::setProbe([] { return true; });
    // The quality the nested H.264 page was set to decides the preview's size.
    std::map<int, int64_t> bytes;
    for (const int crf : {16, 44}) {
        PreviewPage page;
        page.nest("MP4 (H264)", [&](KRAEncoderSettingsPopup* popup) {
            auto* h264 = dynamic_cast<KREEncoderPageCommon*>(popup->encoderPage());
            ASSERT_TRUE(h264);
            // As the user moves the quality slider: its far end is the lowest CRF.
            QSlider* slider = h264->pageView()->findChild<QSlider*>();
            ASSERT_TRUE(slider);
            slider->setValue(51 - crf);
        });
        ASSERT_NE(page.args().find("-crf " + std::to_string(crf)), std::string::npos) << page.args();
        const std::string out = dir.file("crf" + std::to_string(crf) + page.ext());
        const ToolRunResult r = preview(page.args(), out);
        ASSERT_EQ(LastLine(r.out), "result: success") << r.out;
        EXPECT_EQ(FFprobeText(out, "stream=codec_name"), "h264\n");
        struct stat st {};
        ASSERT_EQ(stat(out.c_str(), &st), 0);
        bytes[crf] = st.st_size;
    }
    EXPECT_GT(bytes[16], bytes[44] * 2) << "a lower CRF keeps more of the picture";

    // A command of the user's own, with its extension, makes the preview as it says.
    PreviewPage custom;
    custom.nest("[Custom FFmpeg settings]", [](KRAEncoderSettingsPopup* popup) {
        const QList<QLineEdit*> fields = popup->encoderPage()->pageView()->findChildren<QLineEdit*>();
        ASSERT_EQ(fields.size(), 2);
        fields[0]->setText("-c:v mjpeg -q:v 3 -vf \"scale=160:-2,hflip\"");
        fields[1]->setText(".avi");
    });
    const std::string out = dir.file("custom" + custom.ext());
    const ToolRunResult r = preview(custom.args(), out);
    ASSERT_EQ(LastLine(r.out), "result: success") << r.out;
    EXPECT_EQ(FFprobeText(out, "stream=codec_name,width,height"), "mjpeg\n160\n120\n");
    EXPECT_EQ(FFprobeText(out, "format=format_name"), "avi\n");
    // 7.5 s from 0.5 s, a frame a second, each shown for half a second
    const std::string frames = FFprobeText(out, "stream=nb_frames");
    EXPECT_GE(std::atoi(frames.c_str()), 7) << frames;
    EXPECT_LE(std::atoi(frames.c_str()), 9) << frames;
    QKExternalFFmpeg::setProbe(nullptr);
}

} // namespace
