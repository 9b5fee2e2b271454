// The preview generator's and the contact sheet's plans, and a sheet composed from frames
// ffmpeg wrote.
#include <gtest/gtest.h>

#include <string>

#include "common/MediaTestFiles.h"
#include "common/TestFiles.h"
#include "engine/KRASpecialOutputs.h"
#include "image/PxImage.h"

TEST(SpecialOutputs, PlansFromTheNamedArguments)
{
    KRASpecialValues preview;
    preview.prevGenInputval = XStr(L"20");
    // Interval mode, 20 s on a 60 s, 25 fps source: a frame every 500, three of them.
    KRAOutputPlan plan = PlanPreviewGenerator(preview, 25, 60000);
    EXPECT_EQ(plan.expectedFrames, 3);
    EXPECT_NE(plan.appendArgs.ToUTF8String().find("-vf \"setpts =N/TB/1000\" -r 2"), std::string::npos)
        << plan.appendArgs.ToUTF8String();
    EXPECT_TRUE(plan.inputArgs.IsEmpty());
    preview.prevGenGtf = XStr(L"1");
    preview.prevGenInputval = XStr(L"10");
    preview.prevGenFirstdelay = XStr(L"5");
    // The command element of texts stored by the first versions.
    preview.prevGenEncNset = XStr(L"H.264_eSep_-cli_cmd=\"-vcodec libx264 -x264opts {qt}a=1{qt}\"");
    plan = PlanPreviewGenerator(preview, 25, 60000);
    EXPECT_EQ(plan.expectedFrames, 10);
    EXPECT_EQ(plan.inputArgs.ToUTF8String(), "-ss 5");
    EXPECT_EQ(plan.appendArgs.ToUTF8String().rfind("-vcodec libx264 -x264opts \"a=1\" -map 0:v?", 0), 0u)
        << plan.appendArgs.ToUTF8String();
}

TEST(SpecialOutputs, PreviewTakesTheNestedEncodersArguments)
{
    KRASpecialValues preview;
    preview.prevGenInputval = XStr(L"1");
    // The nested text as the page writes it: commas and quotes stand in words of their own.
    preview.prevGenEncNset =
        XStr(L"WebM (VP8)_eSep_-acodec libopus -c:v libvpx -crf 30 -vf _SELQUOTE_scale=64:-2_SELCOMMA_hflip_SELQUOTE_");
    KRAOutputPlan plan = PlanPreviewGenerator(preview, 10, 4000);
    ASSERT_TRUE(plan.refused.IsEmpty()) << plan.refused.ToUTF8String();
    EXPECT_EQ(plan.appendArgs.ToUTF8String().rfind(
                  "-acodec libopus -c:v libvpx -crf 30 -vf \"scale=64:-2,hflip\" -map 0:v? -an -sn", 0),
              0u)
        << plan.appendArgs.ToUTF8String();
    // An encoder without settings holds no text: its fixed one makes the preview.
    preview.prevGenEncNset = XStr(L"VOB_eSep_");
    plan = PlanPreviewGenerator(preview, 10, 4000);
    EXPECT_EQ(plan.appendArgs.ToUTF8String().rfind("-f vob -vf scale=720:576", 0), 0u)
        << plan.appendArgs.ToUTF8String();

    // Whatever the encoder's name, a copied video stream cannot be retimed.
    preview.prevGenEncNset = XStr(L"Mine_eSep_-c copy");
    EXPECT_FALSE(PlanPreviewGenerator(preview, 10, 4000).refused.IsEmpty());
}

TEST(SpecialOutputs, ContactSheetSettingsAndPlan)
{
    KRASpecialValues sheet;
    sheet.contactCol = XStr(L"4");
    sheet.contactRow = XStr(L"3");
    sheet.contactWidth = XStr(L"800");
    sheet.contactPadding = XStr(L"4");
    sheet.contactBackcol = XStr(L"ff0000");
    KRAContactSheetSettings settings;
    XStr why;
    ASSERT_TRUE(ReadContactSheetSettings(sheet, settings, why)) << why.ToUTF8String();
    EXPECT_EQ(settings.background, 0xFF0000u);
    // 16 frames spread over the source, of which the sheet shows the 2nd to the 13th: ffmpeg
    // writes 13 and stops. They are picked by time, 16 over the 8 s.
    const KRAOutputPlan sheetPlan = PlanContactSheet(settings, 8000);
    EXPECT_EQ(sheetPlan.expectedFrames, 13);
    EXPECT_NE(sheetPlan.appendArgs.ToUTF8String().find("fps=16000/8000:round=up,scale=197:-1\" -frames:v 13"),
              std::string::npos)
        << sheetPlan.appendArgs.ToUTF8String();
    for (const auto& [field, value] : {std::pair{&KRASpecialValues::contactWidth, L"100000"},
                                       {&KRASpecialValues::contactCol, L"101"},
                                       {&KRASpecialValues::contactPadding, L"-3"},
                                       {&KRASpecialValues::contactPadding, L"300"}}) {
        KRASpecialValues bad = sheet;
        bad.*field = XStr(value);
        EXPECT_FALSE(ReadContactSheetSettings(bad, settings, why)) << XStr(value).ToUTF8String();
        EXPECT_FALSE(why.IsEmpty());
    }
}

TEST(SpecialOutputs, SheetComposedFromFrames)
{
    TestTempDir dir;
    // 16 frames: the first red, the rest green; more than the 4 x 3 grid holds, so the first goes.
    for (int i = 1; i <= 16; ++i) {
        const std::string colour = i == 1 ? "red" : "green";
        char name[32];
        snprintf(name, sizeof name, "%06d.png", i);
        ASSERT_TRUE(RunProgramQuietly({"ffmpeg", "-v", "error", "-nostdin", "-y", "-f", "lavfi", "-i",
                                       "color=c=" + colour + ":s=64x36", "-frames:v", "1", dir.file(name)}));
    }
    KRAContactSheetSettings s;
    s.cols = 4;
    s.rows = 3;
    s.width = 400;
    s.padding = 4;
    s.background = 0xFF0000; // blue
    KRAContactSheetSource source;
    QByteArray encoded;
    XStr why;
    ASSERT_TRUE(ComposeContactSheet(s, XStr::FromUTF8(dir.path()), source, encoded, why)) << why.ToUTF8String();
    PxImage sheet(reinterpret_cast<const uint8_t*>(encoded.constData()), uint32_t(encoded.size()), 0);
    ASSERT_TRUE(sheet.IsValid());
    EXPECT_EQ(sheet.GetType(), PXIMAGE_FORMAT_JPG);
    // thumbnails 97 x 54 (97 / 64 of 36), three rows with 4 px between them
    EXPECT_EQ(sheet.GetWidth(), 3 * 4 + 4 * 97);
    EXPECT_EQ(sheet.GetHeight(), 2 * 4 + 3 * 54);
    const int32_t top = sheet.GetHeight() - 1;
    const RGBQuad first = sheet.GetPixelColor(5, top - 5);
    EXPECT_GT(first.green, 100) << "the red opening frame was dropped";
    EXPECT_LT(first.red, 60);
    const RGBQuad gap = sheet.GetPixelColor(99, top - 20);
    EXPECT_GT(gap.blue, 150) << "padding shows the background";

    s.png = true;
    s.topInfo = true;
    ASSERT_TRUE(ComposeContactSheet(s, XStr::FromUTF8(dir.path()), source, encoded, why)) << why.ToUTF8String();
    PxImage png(reinterpret_cast<const uint8_t*>(encoded.constData()), uint32_t(encoded.size()), 0);
    ASSERT_TRUE(png.IsValid()) << png.GetLastError();
    EXPECT_EQ(png.GetType(), PXIMAGE_FORMAT_PNG);
    EXPECT_EQ(png.GetHeight(), (3 * 4 + 4 * 97) / 20 + 2 * 4 + 3 * 54) << "a header band of a twentieth of the width";

    // No frames at all (ffmpeg made none): the sheet is its header band and the padding of
    // empty rows, in the background colour.
    TestTempDir empty;
    ASSERT_TRUE(ComposeContactSheet(s, XStr::FromUTF8(empty.path()), source, encoded, why)) << why.ToUTF8String();
    PxImage bare(reinterpret_cast<const uint8_t*>(encoded.constData()), uint32_t(encoded.size()), 0);
    ASSERT_TRUE(bare.IsValid()) << bare.GetLastError();
    EXPECT_EQ(bare.GetType(), PXIMAGE_FORMAT_PNG);
    EXPECT_EQ(bare.GetWidth(), 3 * 4 + 4 * 97);
    EXPECT_EQ(bare.GetHeight(), (3 * 4 + 4 * 97) / 20 + 2 * 4);
    const RGBQuad below = bare.GetPixelColor(200, 0);
    EXPECT_GT(below.blue, 150) << "the empty rows show the background";
    EXPECT_LT(below.red, 60);
}
