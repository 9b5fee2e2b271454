// The picture effects measured in what the batch writes: frame sizes, where a coloured corner
// lands, which way the picture statistics move, and whether a denoiser takes noise away. Each
// with its page's defaults and with another setting the page writes; then the watermark with
// every picture effect, and two effects whose order changes the result.
#include <gtest/gtest.h>

#include "outcome/EffectOutcome.h"

using namespace outcome;
using namespace effect_outcome;

namespace {

std::pair<int, int> Size(const std::string& path)
{
    const auto fields = StreamFields(path, "v:0");
    return {static_cast<int>(Number(fields, "width")), static_cast<int>(Number(fields, "height"))};
}

} // namespace

class PictureEffect : public EffectOutcome {};

TEST_F(PictureEffect, CropKeepsTheNamedPart)
{
    // The default crop needs a picture at least as large as itself.
    const std::string large =
        clip("large.mkv", "color=blue:s=1280x960:r=5:d=0.4,drawbox=x=0:y=0:w=40:h=30:color=red:t=fill,"
                          "drawbox=x=1000:y=740:w=24:h=28:color=yellow:t=fill,drawbox=x=1024:y=768:w=40:h=40:"
                          "color=red:t=fill");
    const std::string out = convert(large, {{"Crop", page("Crop")}});
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(Size(out), std::make_pair(1024, 768));
    const RGBFrame frame = Picture(out);
    EXPECT_LE(ColourDistance(frame.at(5, 5), kRed), kNear);
    EXPECT_LE(ColourDistance(frame.at(1020, 764), 0xFFFF00), kNear); // the bottom right corner is kept
    EXPECT_LE(ColourDistance(frame.at(500, 400), kBlue), kNear);

    const std::string corner = clip("corner.mkv", kCorner);
    const std::string part = convert(corner, {{"Crop", setting("Crop", "-vf crop=60:40:20:10")}});
    ASSERT_FALSE(part.empty());
    EXPECT_EQ(Size(part), std::make_pair(60, 40));
    const RGBFrame cropped = Picture(part);
    EXPECT_LE(ColourDistance(cropped.at(4, 4), kRed), kNear);    // the source's (24, 14)
    EXPECT_LE(ColourDistance(cropped.at(30, 28), kBlue), kNear); // the source's (50, 38)
    EXPECT_LE(ColourDistance(cropped.at(16, 16), kRed), kNear);  // the source's (36, 26)
    EXPECT_LE(ColourDistance(cropped.at(22, 4), kBlue), kNear);  // the source's (42, 14)
}

TEST_F(PictureEffect, ScaleAbsoluteGivesTheChosenSize)
{
    const std::string corner = clip("corner.mkv", "color=blue:s=160x120:r=5:d=0.4");
    const std::string full = convert(corner, {{"Scale Absolute", page("Scale Absolute")}});
    ASSERT_FALSE(full.empty());
    EXPECT_EQ(Size(full), std::make_pair(1920, 1080));
    const std::string custom = convert(corner, {{"Scale Absolute", setting("Scale Absolute", "-vf scale=320:200")}});
    ASSERT_FALSE(custom.empty());
    EXPECT_EQ(Size(custom), std::make_pair(320, 200));
}

TEST_F(PictureEffect, ScaleMaximumMakesOnlyLargerPicturesSmaller)
{
    const std::string corner = clip("corner.mkv", kCorner);
    const std::string same = convert(corner, {{"Scale Maximum", page("Scale Maximum")}});
    ASSERT_FALSE(same.empty());
    EXPECT_EQ(Size(same), std::make_pair(160, 120));
    EXPECT_GE(PSNR(same, corner), 60);

    const std::string squeezed =
        convert(corner, {{"Scale Maximum", setting("Scale Maximum", "-vf \"scale='min(80,iw):min(80,ih)'\"")}});
    ASSERT_FALSE(squeezed.empty());
    EXPECT_EQ(Size(squeezed), std::make_pair(80, 80));
    const std::string kept = convert(
        corner,
        {{"Scale Maximum",
          setting("Scale Maximum", "-vf \"scale='min(80,iw):min(80,ih)':force_original_aspect_ratio=decrease\"")}});
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(Size(kept), std::make_pair(80, 60));

    // Keeping the shape of 160 x 90 within 62 x 62 gives 62 x 35: H.264 takes no odd side, so
    // the last row goes.
    const std::string wide = clip("wide.mkv", "color=blue:s=160x90:r=5:d=0.4");
    const std::string even = convert(
        wide,
        {{"Scale Maximum",
          setting("Scale Maximum", "-vf \"scale='min(62,iw):min(62,ih)':force_original_aspect_ratio=decrease\"")}},
        ".mp4", kMP4);
    ASSERT_FALSE(even.empty());
    EXPECT_EQ(Size(even), std::make_pair(62, 34));
}

TEST_F(PictureEffect, ScalePercentageScalesEachSide)
{
    const std::string corner = clip("corner.mkv", kCorner);
    const std::string half = convert(corner, {{"Scale Percentage", page("Scale Percentage")}});
    ASSERT_FALSE(half.empty());
    EXPECT_EQ(Size(half), std::make_pair(80, 60));
    EXPECT_LE(ColourDistance(Picture(half).at(18, 13), kRed), kNear);

    const std::string tall = convert(
        corner, {{"Scale Percentage", setting("Scale Percentage", "-filter:v \"scale=iw*(25/100):ih*(200/100)\"")}});
    ASSERT_FALSE(tall.empty());
    EXPECT_EQ(Size(tall), std::make_pair(40, 240));

    // Half of 170 x 130 is 85 x 65: H.264 takes no odd side, so the last column and row go.
    const std::string odd = clip("odd.mkv", "color=blue:s=170x130:r=5:d=0.4");
    const std::string even = convert(odd, {{"Scale Percentage", page("Scale Percentage")}}, ".mp4", kMP4);
    ASSERT_FALSE(even.empty());
    EXPECT_EQ(Size(even), std::make_pair(84, 64));
}

TEST_F(PictureEffect, CanvasSizeExtendsAroundThePicture)
{
    const std::string corner = clip("corner.mkv", "color=blue:s=160x120:r=5:d=0.4,drawbox=x=0:y=0:w=40:h=30:"
                                                  "color=red:t=fill");
    const std::string centred = convert(corner, {{"Canvas Size", page("Canvas Size")}});
    ASSERT_FALSE(centred.empty());
    EXPECT_EQ(Size(centred), std::make_pair(1920, 1080));
    const RGBFrame big = Picture(centred);
    EXPECT_LE(ColourDistance(big.at(880 + 10, 480 + 10), kRed), kNear); // the picture sits in the middle
    EXPECT_LE(ColourDistance(big.at(960, 540), kBlue), kNear);
    EXPECT_LE(ColourDistance(big.at(10, 10), kBlack), kNear);
    EXPECT_LE(ColourDistance(big.at(1900, 1060), kBlack), kNear);
    EXPECT_LE(ColourDistance(big.at(870, 540), kBlack), kNear);

    const std::string bottomRight =
        convert(corner, {{"Canvas Size", setting("Canvas Size", "-vf \"scale=iw:ih,pad=320:200:ow-iw:oh-ih\"")}});
    ASSERT_FALSE(bottomRight.empty());
    EXPECT_EQ(Size(bottomRight), std::make_pair(320, 200));
    const RGBFrame small = Picture(bottomRight);
    EXPECT_LE(ColourDistance(small.at(160 + 10, 80 + 10), kRed), kNear);
    EXPECT_LE(ColourDistance(small.at(310, 190), kBlue), kNear);
    EXPECT_LE(ColourDistance(small.at(10, 10), kBlack), kNear);
}

TEST_F(PictureEffect, FlipMovesTheCornerToTheOtherSide)
{
    const std::string corner = clip("corner.mkv", kCorner);
    const std::string down = convert(corner, {{"Flip", page("Flip")}});
    ASSERT_FALSE(down.empty());
    const RGBFrame upsideDown = Picture(down);
    EXPECT_LE(ColourDistance(upsideDown.at(10, 110), kRed), kNear);
    EXPECT_LE(ColourDistance(upsideDown.at(10, 10), kBlue), kNear);
    EXPECT_EQ(Size(down), std::make_pair(160, 120));

    const std::string mirrored = convert(corner, {{"Flip", setting("Flip", "-vf hflip")}});
    ASSERT_FALSE(mirrored.empty());
    const RGBFrame mirror = Picture(mirrored);
    EXPECT_LE(ColourDistance(mirror.at(150, 10), kRed), kNear);
    EXPECT_LE(ColourDistance(mirror.at(10, 10), kBlue), kNear);
    EXPECT_LE(ColourDistance(mirror.at(10, 110), kBlue), kNear);
}

TEST_F(PictureEffect, RotateTurnsThePictureClockwise)
{
    const std::string corner = clip("corner.mkv", kCorner);
    const std::string still = convert(corner, {{"Rotate", page("Rotate")}});
    ASSERT_FALSE(still.empty());
    EXPECT_GE(PSNR(still, corner), 60);

    // A quarter turn about the centre within the same frame: the red block's top part comes to
    // the top edge, right of the middle (its other part leaves the frame).
    const std::string quarter = convert(corner, {{"Rotate", setting("Rotate", "-vf rotate='90*PI/180'")}});
    ASSERT_FALSE(quarter.empty());
    EXPECT_EQ(Size(quarter), std::make_pair(160, 120));
    const RGBFrame turned = Picture(quarter);
    EXPECT_LE(ColourDistance(turned.at(125, 8), kRed), kNear);
    EXPECT_LE(ColourDistance(turned.at(35, 8), kBlue), kNear);
    EXPECT_LE(ColourDistance(turned.at(5, 60), kBlack), kNear); // beyond the turned picture

    const std::string half = convert(corner, {{"Rotate", setting("Rotate", "-vf rotate='180*PI/180'")}});
    ASSERT_FALSE(half.empty());
    const RGBFrame upside = Picture(half);
    EXPECT_LE(ColourDistance(upside.at(150, 110), kRed), kNear);
    EXPECT_LE(ColourDistance(upside.at(10, 10), kBlue), kNear);
}

TEST_F(PictureEffect, BrightnessAndContrastMoveTheLuma)
{
    const std::string pattern = clip("pattern.mkv", "testsrc2=s=160x120:r=5:d=0.6");
    const auto source = PictureStats(pattern);
    const std::string same = convert(pattern, {{"Brightness & Contrast", page("Brightness & Contrast")}});
    ASSERT_FALSE(same.empty());
    EXPECT_GE(PSNR(same, pattern), 60);

    const std::string brighter = convert(
        pattern,
        {{"Brightness & Contrast", setting("Brightness & Contrast", "-vf eq=\"brightness=0.25:contrast=1.00\"")}});
    const std::string darker = convert(
        pattern,
        {{"Brightness & Contrast", setting("Brightness & Contrast", "-vf eq=\"brightness=-0.25:contrast=1.00\"")}});
    const std::string flatter = convert(
        pattern,
        {{"Brightness & Contrast", setting("Brightness & Contrast", "-vf eq=\"brightness=0.00:contrast=0.50\"")}});
    ASSERT_FALSE(brighter.empty() || darker.empty() || flatter.empty());
    EXPECT_GT(Mean(PictureStats(brighter), "YAVG"), Mean(source, "YAVG") + 30);
    EXPECT_LT(Mean(PictureStats(darker), "YAVG"), Mean(source, "YAVG") - 30);
    const auto flat = PictureStats(flatter);
    EXPECT_LT(Mean(flat, "YHIGH") - Mean(flat, "YLOW"), 0.7 * (Mean(source, "YHIGH") - Mean(source, "YLOW")));
    EXPECT_NEAR(Mean(flat, "SATAVG"), Mean(source, "SATAVG"), 3); // the colours stay
}

TEST_F(PictureEffect, HueAndSaturationDefaultsLeaveThePictureAsItIs)
{
    const std::string pattern = clip("pattern.mkv", "testsrc2=s=160x120:r=5:d=0.6");
    const auto source = PictureStats(pattern);
    const std::string same = convert(pattern, {{"Hue & Saturation", page("Hue & Saturation")}});
    ASSERT_FALSE(same.empty());
    EXPECT_GE(PSNR(same, pattern), 60);

    const std::string grey =
        convert(pattern, {{"Hue & Saturation", setting("Hue & Saturation", "-vf hue='h=0:s=0.0'")}});
    const std::string vivid =
        convert(pattern, {{"Hue & Saturation", setting("Hue & Saturation", "-vf hue='h=0:s=2.0'")}});
    ASSERT_FALSE(grey.empty() || vivid.empty());
    EXPECT_LT(Mean(PictureStats(grey), "SATAVG"), 2);
    EXPECT_GT(Mean(PictureStats(vivid), "SATAVG"), Mean(source, "SATAVG") * 1.2);
    EXPECT_NEAR(Mean(PictureStats(grey), "YAVG"), Mean(source, "YAVG"), 2); // the luma stays

    // A third of a turn: blue becomes red and red green.
    const std::string corner = clip("corner.mkv", kCorner);
    const std::string turned =
        convert(corner, {{"Hue & Saturation", setting("Hue & Saturation", "-vf hue='h=120:s=1.0'")}});
    ASSERT_FALSE(turned.empty());
    const RGBFrame frame = Picture(turned);
    const long middle = frame.at(100, 80), block = frame.at(10, 10);
    EXPECT_GT((middle >> 16) & 0xFF, (middle & 0xFF) + 100) << std::hex << middle;
    EXPECT_GT((block >> 8) & 0xFF, ((block >> 16) & 0xFF) + 100) << std::hex << block;
}

namespace {

// A detailed picture and the same with noise that changes from frame to frame.
struct NoisyPair {
    std::string clean, noisy;
};

} // namespace

class Denoiser : public EffectOutcome {
protected:
    NoisyPair pair()
    {
        NoisyPair made;
        made.clean = clip("clean.mkv", "testsrc2=s=160x120:r=10:d=1");
        made.noisy = clip("noisy.mkv", "testsrc2=s=160x120:r=10:d=1,noise=alls=12:allf=t");
        return made;
    }

    // The effect's default and a stronger setting each bring the picture nearer the clean one,
    // the stronger one more, and leave its size.
    void check(const std::string& name, const std::string& stronger)
    {
        const NoisyPair clips = pair();
        const double before = PSNR(clips.noisy, clips.clean);
        ASSERT_GT(before, 20);
        const std::string light = convert(clips.noisy, {{name, page(name)}});
        const std::string strong = convert(clips.noisy, {{name, setting(name, stronger)}});
        ASSERT_FALSE(light.empty() || strong.empty());
        EXPECT_EQ(Size(light), std::make_pair(160, 120));
        EXPECT_EQ(Size(strong), std::make_pair(160, 120));
        const double lightPSNR = PSNR(light, clips.clean), strongPSNR = PSNR(strong, clips.clean);
        EXPECT_GT(lightPSNR, before + 0.2) << name;
        EXPECT_GT(strongPSNR, lightPSNR + 0.5) << name;
        EXPECT_LT(PSNR(light, clips.noisy), 60) << name; // it changed the picture
    }
};

TEST_F(Denoiser, HighPrecision3DTakesNoiseAway)
{
    check("Denoiser (High Precision 3D)", "-vf hqdn3d='luma_spatial=10:chroma_spatial=10:luma_tmp=10'");
}

TEST_F(Denoiser, SpatialTakesNoiseAway)
{
    // The light preset is the stronger cleaner of this noise: it takes the median of the
    // neighbours, the default the median of a narrower choice.
    const NoisyPair clips = pair();
    const double before = PSNR(clips.noisy, clips.clean);
    for (const std::string& text : {page("Denoiser (Spatial Denoiser)"),
                                    setting("Denoiser (Spatial Denoiser)", "-vf removegrain='m0=2:m1=1:m2=2:m3=3'"),
                                    setting("Denoiser (Spatial Denoiser)", "-vf removegrain='m0=7:m1=7:m2=5:m3=5'")}) {
        const std::string out = convert(clips.noisy, {{"Denoiser (Spatial Denoiser)", text}});
        ASSERT_FALSE(out.empty());
        EXPECT_EQ(Size(out), std::make_pair(160, 120));
        EXPECT_GT(PSNR(out, clips.clean), before + 0.2) << text;
    }
}

TEST_F(Denoiser, WaveletTakesNoiseAway)
{
    check("Denoiser (Wavelet)", "-vf vaguedenoiser='threshold=8.0:method=soft:nsteps=6:planes=15:percent=100'");
}

TEST_F(PictureEffect, SharpenAndBlurChangeTheEdgesNotTheSize)
{
    const std::string pattern = clip("pattern.mkv", "testsrc2=s=160x120:r=5:d=0.6");
    const double edges = EdgeStrength(pattern);
    ASSERT_GT(edges, 10);
    const std::string light = convert(pattern, {{"Sharpen & Blur", page("Sharpen & Blur")}});
    const std::string sharp = convert(
        pattern, {{"Sharpen & Blur", setting("Sharpen & Blur", "-vf \"unsharp=luma_amount=1.5:chroma_amount=1.5\"")}});
    const std::string blurred =
        convert(pattern,
                {{"Sharpen & Blur", setting("Sharpen & Blur", "-vf \"unsharp=luma_amount=-1.5:chroma_amount=-1.5\"")}});
    ASSERT_FALSE(light.empty() || sharp.empty() || blurred.empty());
    for (const std::string& out : {light, sharp, blurred})
        EXPECT_EQ(Size(out), std::make_pair(160, 120));
    EXPECT_GT(EdgeStrength(light), edges + 0.5);
    EXPECT_GT(EdgeStrength(sharp), edges * 1.2);
    EXPECT_LT(EdgeStrength(blurred), edges * 0.95);
}

TEST_F(PictureEffect, DeinterlaceJoinsTheFields)
{
    // Each frame is two fields of different moments, and marked so.
    const std::string woven =
        clip("woven.mkv", "testsrc2=s=160x120:r=20:d=1", "",
             {"-vf", "tinterlace=mode=merge,setfield=tff", "-c:v", "ffv1", "-pix_fmt", "yuv420p"});
    const Interlace source = DetectInterlace(woven);
    ASSERT_GE(source.interlaced, 9);
    const std::string out = convert(woven, {{"Deinterlace (yadif)", page("Deinterlace (yadif)")}});
    ASSERT_FALSE(out.empty());
    EXPECT_GE(DetectInterlace(out).progressive, 8);
    EXPECT_EQ(FrameCount(out), FrameCount(woven));
    EXPECT_NEAR(Number(StreamFields(out), "avg_frame_rate"), 10, 1e-6);

    // One frame per field: twice the frames and the rate.
    const std::string fields = convert(
        woven, {{"Deinterlace (yadif)", setting("Deinterlace (yadif)", "-vf yadif='mode=1:parity=-1:deint=0'")}});
    ASSERT_FALSE(fields.empty());
    EXPECT_EQ(FrameCount(fields), 2 * FrameCount(woven));
    EXPECT_NEAR(Number(StreamFields(fields), "avg_frame_rate"), 20, 1e-6);
    EXPECT_GE(DetectInterlace(fields).progressive, 16);
}

TEST_F(PictureEffect, DeinterlaceOfMarkedFramesLeavesProgressiveOnesAsTheyAre)
{
    const std::string progressive = clip("progressive.mkv", "testsrc2=s=160x120:r=10:d=0.6");
    const std::string marked = convert(
        progressive, {{"Deinterlace (yadif)", setting("Deinterlace (yadif)", "-vf yadif='mode=0:parity=-1:deint=1'")}});
    ASSERT_FALSE(marked.empty());
    EXPECT_EQ(PSNR(marked, progressive), 1000);
}

TEST_F(PictureEffect, FrameRateSetsTheOutputRate)
{
    const std::string corner = clip("corner.mkv", kCorner);
    const std::string pal = convert(corner, {{"Frame Rate", page("Frame Rate")}}, ".mp4", kMP4);
    ASSERT_FALSE(pal.empty());
    EXPECT_NEAR(Number(StreamFields(pal), "avg_frame_rate"), 25, 1e-6);
    EXPECT_NEAR(FrameCount(pal), 25, 1);
    const std::string film = convert(corner, {{"Frame Rate", setting("Frame Rate", "-r 24000/1001")}}, ".mp4", kMP4);
    ASSERT_FALSE(film.empty());
    EXPECT_NEAR(Number(StreamFields(film), "avg_frame_rate"), 24000.0 / 1001, 1e-3);
}

TEST_F(PictureEffect, FrameRateGivesMatroskaTheFramesOfTheRate)
{
    const std::string corner = clip("corner.mkv", kCorner);
    // A container that keeps each frame's time gets the frames of the rate too, not only its
    // name: a second of the output holds that many frames.
    const std::string kept = convert(corner, {{"Frame Rate", setting("Frame Rate", "-r 30")}});
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(FrameCount(kept), 30);
    EXPECT_NEAR(VideoSeconds(kept), 1, 0.05);
    const std::string fast = clip("fast.mkv", "testsrc2=s=160x120:r=25:d=1");
    const std::string lower = convert(fast, {{"Frame Rate", setting("Frame Rate", "-r 12")}});
    ASSERT_FALSE(lower.empty());
    EXPECT_EQ(FrameCount(lower), 12);

    // A copied picture cannot change its rate, and still converts as it did.
    const std::string copied = convert(corner, {{"Frame Rate", setting("Frame Rate", "-r 30")}}, ".mkv", "-c:v copy");
    ASSERT_FALSE(copied.empty());
    EXPECT_EQ(FrameHashes(copied), FrameHashes(corner));
}

TEST_F(PictureEffect, PixelFormatIsTheOutputFormat)
{
    const std::string full =
        clip("full.mkv", kCorner, "", {"-c:v", "ffv1", "-pix_fmt", "yuv444p"}); // not what the default writes
    const std::string out = convert(full, {{"Pixel Format", page("Pixel Format")}}, ".mp4", kMP4);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(Text(StreamFields(out), "pix_fmt"), "yuv420p");
    const std::string other = convert(full, {{"Pixel Format", setting("Pixel Format", "-pix_fmt yuv422p")}});
    ASSERT_FALSE(other.empty());
    EXPECT_EQ(Text(StreamFields(other), "pix_fmt"), "yuv422p");
}

TEST_F(PictureEffect, AspectRatioIsTheDisplayAspect)
{
    const std::string wide = clip("wide.mkv", "color=blue:s=160x90:r=5:d=0.4");
    const std::string standard = convert(wide, {{"Aspect Ratio", page("Aspect Ratio")}}, ".mp4", kMP4);
    ASSERT_FALSE(standard.empty());
    EXPECT_EQ(Text(StreamFields(standard), "display_aspect_ratio"), "4:3");
    EXPECT_EQ(Size(standard), std::make_pair(160, 90)); // the pixels stay, their shape changes
    const std::string square = clip("square.mkv", "color=blue:s=120x120:r=5:d=0.4");
    const std::string widened =
        convert(square, {{"Aspect Ratio", setting("Aspect Ratio", "-aspect 16:9")}}, ".mp4", kMP4);
    ASSERT_FALSE(widened.empty());
    EXPECT_EQ(Text(StreamFields(widened), "display_aspect_ratio"), "16:9");
}

TEST_F(PictureEffect, WatermarkLiesInTheChosenCorner)
{
    const std::string corner = clip("corner.mkv", "color=blue:s=160x120:r=5:d=0.6");
    const std::string picture = logo();
    // The page's own position for a new effect, with the picture chosen.
    const std::string text = page("Watermark");
    ASSERT_EQ(text.rfind("-filter_complex ", 0), 0u) << text;
    const std::string out = convert(corner, {{"Watermark", page("Watermark", "-i " + picture + " " + text)}});
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(Size(out), std::make_pair(160, 120));
    for (double t : {0.0, 0.4}) {
        const RGBFrame frame = Picture(out, t);
        EXPECT_LE(ColourDistance(frame.at(159, 119), kGreen), kNear);
        EXPECT_LE(ColourDistance(frame.at(141, 105), kGreen), kNear);
        EXPECT_LE(ColourDistance(frame.at(138, 102), kBlue), kNear); // just outside the picture
        EXPECT_LE(ColourDistance(frame.at(2, 2), kBlue), kNear);
    }

    const std::string topLeft =
        convert(corner, {{"Watermark", setting("Watermark", "-i " + picture + " -filter_complex overlay=0:0")}});
    ASSERT_FALSE(topLeft.empty());
    const RGBFrame left = Picture(topLeft);
    EXPECT_LE(ColourDistance(left.at(1, 1), kGreen), kNear);
    EXPECT_LE(ColourDistance(left.at(18, 14), kGreen), kNear);
    EXPECT_LE(ColourDistance(left.at(22, 18), kBlue), kNear);
    EXPECT_LE(ColourDistance(left.at(155, 115), kBlue), kNear);

    const std::string middle = convert(
        corner, {{"Watermark",
                  setting("Watermark",
                          "-i " + picture + " -filter_complex overlay=(main_w-overlay_w)/2:(main_h-overlay_h)/2")}});
    ASSERT_FALSE(middle.empty());
    const RGBFrame centred = Picture(middle);
    EXPECT_LE(ColourDistance(centred.at(80, 60), kGreen), kNear);
    EXPECT_LE(ColourDistance(centred.at(155, 115), kBlue), kNear);
}

// ---- Combinations ------------------------------------------------------------------------------

TEST_F(PictureEffect, CropThenScaleIsNotScaleThenCrop)
{
    const std::string corner = clip("corner.mkv", kCorner);
    const std::string crop = setting("Crop", "-vf crop=80:60:0:0");
    const std::string scale = setting("Scale Absolute", "-vf scale=320:240");

    // The top left quarter, made twice as large: the red block fills its top left quarter.
    const std::string cropFirst = convert(corner, {{"Crop", crop}, {"Scale Absolute", scale}});
    ASSERT_FALSE(cropFirst.empty());
    EXPECT_EQ(Size(cropFirst), std::make_pair(320, 240));
    const RGBFrame enlarged = Picture(cropFirst);
    EXPECT_LE(ColourDistance(enlarged.at(150, 110), kRed), kNear);
    EXPECT_LE(ColourDistance(enlarged.at(170, 130), kBlue), kNear);
    EXPECT_LE(ColourDistance(enlarged.at(300, 220), kBlue), kNear);

    // Twice as large, then its top left 80 x 60: all of it red.
    const std::string scaleFirst = convert(corner, {{"Scale Absolute", scale}, {"Crop", crop}});
    ASSERT_FALSE(scaleFirst.empty());
    EXPECT_EQ(Size(scaleFirst), std::make_pair(80, 60));
    const RGBFrame part = Picture(scaleFirst);
    for (const auto& [x, y] :
         {std::make_pair(2, 2), std::make_pair(77, 2), std::make_pair(2, 57), std::make_pair(76, 56)})
        EXPECT_LE(ColourDistance(part.at(x, y), kRed), kNear) << x << "," << y;
}

TEST_F(PictureEffect, CropAndScalePercentageKeepTheirOrder)
{
    const std::string corner = clip("corner.mkv", kCorner);
    const std::string crop = setting("Crop", "-vf crop=80:60:0:0");
    // The percentage scale is written as another option: the order holds across both forms.
    const std::string percent = setting("Scale Percentage", "-filter:v \"scale=iw*(200/100):ih*(200/100)\"");
    const std::string cropThenPercent = convert(corner, {{"Crop", crop}, {"Scale Percentage", percent}});
    const std::string percentThenCrop = convert(corner, {{"Scale Percentage", percent}, {"Crop", crop}});
    ASSERT_FALSE(cropThenPercent.empty() || percentThenCrop.empty());
    EXPECT_EQ(Size(cropThenPercent), std::make_pair(160, 120));
    EXPECT_EQ(Size(percentThenCrop), std::make_pair(80, 60));
    EXPECT_LE(ColourDistance(Picture(percentThenCrop).at(76, 56), kRed), kNear);
    EXPECT_LE(ColourDistance(Picture(cropThenPercent).at(150, 110), kBlue), kNear);
}

namespace {

// One picture effect with the watermark: the effect's setting, the source it needs, and what
// the output must show of the effect (the watermark is checked for every case alike).
struct WithWatermark {
    const char* name;
    const char* args;
    enum Source { kCornerSource, kPattern, kNoisy } source; // the red corner on blue, testsrc2, testsrc2 with noise
    // Given the output, its frame at 0.5 s and the source without noise; none: the picture is
    // nearer the clean one than the noisy source is.
    void (*check)(const std::string& out, const RGBFrame& frame, const std::string& clean);
    bool bothOrders = false;
};

// Away from the watermark in the bottom right corner.
const char* const kAwayFromLogo = "100:80:0:0";

std::string AwayFromLogo()
{
    return std::string("crop=") + kAwayFromLogo;
}

void ExpectSize(const RGBFrame& frame, int width, int height)
{
    EXPECT_EQ(std::make_pair(frame.width, frame.height), std::make_pair(width, height));
}

const WithWatermark kWatermarkCases[] = {
    {"Crop", "-vf crop=100:80:20:10", WithWatermark::kCornerSource,
     [](const std::string&, const RGBFrame& frame, const std::string&) {
         ExpectSize(frame, 100, 80);
         EXPECT_LE(ColourDistance(frame.at(5, 5), kRed), kNear);
         EXPECT_LE(ColourDistance(frame.at(30, 30), kBlue), kNear);
     },
     true},
    {"Scale Absolute", "-vf scale=320:240", WithWatermark::kCornerSource,
     [](const std::string&, const RGBFrame& frame, const std::string&) {
         ExpectSize(frame, 320, 240);
         EXPECT_LE(ColourDistance(frame.at(70, 50), kRed), kNear);
     }},
    {"Scale Maximum", "-vf \"scale='min(80,iw):min(80,ih)':force_original_aspect_ratio=decrease\"",
     WithWatermark::kCornerSource,
     [](const std::string&, const RGBFrame& frame, const std::string&) { ExpectSize(frame, 80, 60); }},
    {"Scale Percentage", "-filter:v \"scale=iw*(200/100):ih*(200/100)\"", WithWatermark::kCornerSource,
     [](const std::string&, const RGBFrame& frame, const std::string&) {
         ExpectSize(frame, 320, 240);
         EXPECT_LE(ColourDistance(frame.at(70, 50), kRed), kNear);
     },
     true},
    {"Canvas Size", "-vf \"scale=iw:ih,pad=320:240:0:0\"", WithWatermark::kCornerSource,
     [](const std::string&, const RGBFrame& frame, const std::string&) {
         ExpectSize(frame, 320, 240);
         EXPECT_LE(ColourDistance(frame.at(5, 5), kRed), kNear);
         EXPECT_LE(ColourDistance(frame.at(250, 150), kBlack), kNear);
     }},
    {"Flip", "-vf vflip", WithWatermark::kCornerSource,
     [](const std::string&, const RGBFrame& frame, const std::string&) {
         EXPECT_LE(ColourDistance(frame.at(10, 110), kRed), kNear);
         EXPECT_LE(ColourDistance(frame.at(10, 10), kBlue), kNear);
     }},
    {"Rotate", "-vf rotate='180*PI/180'", WithWatermark::kCornerSource,
     [](const std::string&, const RGBFrame& frame, const std::string&) {
         EXPECT_LE(ColourDistance(frame.at(125, 95), kRed), kNear);
         EXPECT_LE(ColourDistance(frame.at(10, 10), kBlue), kNear);
     },
     true},
    {"Brightness & Contrast", "-vf eq=\"brightness=0.25:contrast=1.00\"", WithWatermark::kCornerSource,
     [](const std::string& out, const RGBFrame&, const std::string& clean) {
         EXPECT_GT(Mean(PictureStats(out, AwayFromLogo()), "YAVG"),
                   Mean(PictureStats(clean, AwayFromLogo()), "YAVG") + 30);
     }},
    {"Hue & Saturation", "-vf hue='h=0:s=0.0'", WithWatermark::kCornerSource,
     [](const std::string& out, const RGBFrame&, const std::string&) {
         EXPECT_LT(Mean(PictureStats(out, AwayFromLogo()), "SATAVG"), 2);
     }},
    {"Sharpen & Blur", "-vf \"unsharp=luma_amount=-1.5:chroma_amount=-1.5\"", WithWatermark::kPattern,
     [](const std::string& out, const RGBFrame&, const std::string& clean) {
         EXPECT_LT(EdgeStrength(out, AwayFromLogo()), EdgeStrength(clean, AwayFromLogo()) * 0.9);
     }},
    {"Denoiser (High Precision 3D)", "-vf hqdn3d='luma_spatial=10:chroma_spatial=10:luma_tmp=10'",
     WithWatermark::kNoisy, nullptr},
    {"Denoiser (Spatial Denoiser)", "-vf removegrain='m0=2:m1=1:m2=2:m3=3'", WithWatermark::kNoisy, nullptr},
    {"Denoiser (Wavelet)", "-vf vaguedenoiser='threshold=8.0:method=soft:nsteps=6:planes=15:percent=100'",
     WithWatermark::kNoisy, nullptr},
    {"Deinterlace (yadif)", "-vf yadif='mode=1:parity=-1:deint=0'", WithWatermark::kCornerSource,
     [](const std::string& out, const RGBFrame&, const std::string&) { EXPECT_EQ(FrameCount(out), 20); }},
    {"Pixel Format", "-pix_fmt yuv444p", WithWatermark::kCornerSource,
     [](const std::string& out, const RGBFrame&, const std::string&) {
         EXPECT_EQ(Text(StreamFields(out), "pix_fmt"), "yuv444p");
     }},
    {"Aspect Ratio", "-aspect 16:9", WithWatermark::kCornerSource,
     [](const std::string& out, const RGBFrame&, const std::string&) {
         EXPECT_EQ(Text(StreamFields(out), "display_aspect_ratio"), "16:9");
     }},
    {"Frame Rate", "-r 25", WithWatermark::kCornerSource,
     [](const std::string& out, const RGBFrame&, const std::string&) { EXPECT_EQ(FrameCount(out), 25); }, true},
};

} // namespace

class WatermarkWith : public EffectOutcome, public ::testing::WithParamInterface<WithWatermark> {};

// The watermark lies on the finished picture, in the bottom right corner of whatever size the
// effect gave it, before or after the effect in the chain; and the effect still does its part.
TEST_P(WatermarkWith, EachPictureEffectInEitherOrder)
{
    const WithWatermark& c = GetParam();
    const bool noisy = c.source == WithWatermark::kNoisy;
    const std::string clean =
        clip("clean.mkv", c.source == WithWatermark::kCornerSource ? kCorner : "testsrc2=s=160x120:r=10:d=1");
    const std::string source = noisy ? clip("noisy.mkv", "testsrc2=s=160x120:r=10:d=1,noise=alls=12:allf=t") : clean;
    // Texts of the form the pages write (each form is checked against its page above).
    const std::string effect = c.args;
    const std::string watermark = "-i " + logo() + " -filter_complex overlay=main_w-overlay_w:main_h-overlay_h";
    const double noisyPSNR = noisy ? RegionPSNR(source, clean, kAwayFromLogo) : 0;
    std::vector<Chain> chains{Chain{{c.name, effect}, {"Watermark", watermark}}};
    // The engine lays the watermark over the finished picture whatever the order: a few effects
    // of each kind (a filter, a filter written as another option, a size change) show it.
    if (c.bothOrders)
        chains.push_back(Chain{{"Watermark", watermark}, {c.name, effect}});
    for (const Chain& chain : chains) {
        SCOPED_TRACE(EffectOutcome::Describe(chain));
        const std::string out = convert(source, chain);
        ASSERT_FALSE(out.empty());
        const RGBFrame frame = Picture(out, 0.5);
        ASSERT_TRUE(frame.valid());
        EXPECT_LE(ColourDistance(frame.at(frame.width - 2, frame.height - 2), kGreen), kNear);
        EXPECT_LE(ColourDistance(frame.at(frame.width - 19, frame.height - 15), kGreen), kNear);
        if (c.check)
            c.check(out, frame, clean);
        else
            EXPECT_GT(RegionPSNR(out, clean, kAwayFromLogo), noisyPSNR + 0.3);
    }
}

INSTANTIATE_TEST_SUITE_P(PictureEffects, WatermarkWith, ::testing::ValuesIn(kWatermarkCases),
                         [](const ::testing::TestParamInfo<WithWatermark>& info) {
                             std::string name;
                             for (const char* c = info.param.name; *c; ++c)
                                 if ((*c >= 'A' && *c <= 'Z') || (*c >= 'a' && *c <= 'z') || (*c >= '0' && *c <= '9'))
                                     name += *c;
                             return name;
                         });
