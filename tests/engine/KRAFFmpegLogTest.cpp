// The judge of ffmpeg's standard error: lines known by their level tags, library chatter,
// errors of reading the input told from errors of writing the output, repeats counted, bounds.
// The lines are as ffmpeg 5.1 prints them with "-loglevel level+info -nostats".
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/KRAFFmpegLog.h"

namespace {

KRAFFmpegLog Judge(const std::vector<std::wstring>& lines, std::vector<XStr> paths = {})
{
    KRAFFmpegLog log(std::move(paths));
    for (const std::wstring& line : lines)
        log.addLine(XStr(line.c_str()));
    return log;
}

std::vector<std::wstring> Shown(const KRAFFmpegLog& log)
{
    std::vector<std::wstring> out;
    for (const XStr& line : log.shownErrors())
        out.emplace_back(line.View());
    return out;
}

// What ffmpeg says before it converts an MPEG-1 file to H.265 with AAC.
const std::vector<std::wstring> kMpegToHevc = {
    L"[info] Input #0, mpeg, from 'in.mpg':",
    L"[info]   Stream #0:0[0x1e0]: Video: mpeg1video, yuv420p(tv), 320x240 [SAR 1:1 DAR 4:3], 104857 kb/s, 25 fps",
    L"[info]   Stream #0:1[0x1c0]: Audio: mp2, 44100 Hz, mono, fltp, 384 kb/s",
    L"[info] Stream mapping:",
    L"[info]   Stream #0:0 -> #0:0 (mpeg1video (native) -> hevc (libx265))",
    L"[info]   Stream #0:1 -> #0:1 (mp2 (native) -> aac (native))",
    L"[info] Press [q] to stop, [?] for help",
    L"x265 [info]: HEVC encoder version 3.5+1-f0c1022b6",
    L"x265 [warning]: Source height < 720p; disabling lookahead-slices",
    L"[info] Output #0, mp4, to '/o/out.tmp-1.mp4':",
};

} // namespace

// libx265 prints its own lines whatever the level: with every line of ffmpeg's tagged, they are
// information, and a run that printed nothing else has no error.
TEST(KRAFFmpegLog, LibraryChatterIsInformation)
{
    std::vector<std::wstring> lines = kMpegToHevc;
    lines.push_back(L"x265 [info]: frame I:      1    Avg QP:25.13  kb/s: 901.20");
    lines.push_back(L"[aac @ 0x55d0c8] [info] Qavg: 479.166");
    const KRAFFmpegLog log = Judge(lines);
    EXPECT_TRUE(log.sawLevelTags());
    EXPECT_FALSE(log.hasErrors());
    EXPECT_TRUE(log.shownErrors().empty());
    // Chatter before the first tagged line is judged at the end, the same way.
    lines.insert(lines.begin(), L"x265 [info]: build info");
    EXPECT_FALSE(Judge(lines).hasErrors());
}

// A stand-in ffmpeg (or one that tags nothing) is judged as one without levels: its lines that
// are no known noise are errors, and never errors of the input alone.
TEST(KRAFFmpegLog, AnFFmpegThatTagsNothingReportsErrors)
{
    const KRAFFmpegLog log = Judge({L"Error writing trailer of /o/m.mkv: No space left on device",
                                    L"[h264 @ 0x1] co located POCs unavailable", L"   "});
    EXPECT_FALSE(log.sawLevelTags());
    ASSERT_TRUE(log.hasErrors());
    EXPECT_FALSE(log.errorsOnlyFromInput());
    EXPECT_EQ(Shown(log), std::vector<std::wstring>{L"Error writing trailer of /o/m.mkv: No space left on device"});
}

TEST(KRAFFmpegLog, DecoderAndDemuxerErrorsAreTheInputs)
{
    std::vector<std::wstring> lines = kMpegToHevc;
    lines.push_back(L"[mpeg1video @ 0x55a2cb3b1140] [error] skipped MB in I-frame at 9 3");
    lines.push_back(L"[mpeg1video @ 0x55a2cb3b1140] [info] concealing 140 DC, 140 AC, 140 MV errors in I frame");
    lines.push_back(L"[mpeg @ 0x55a2cb3a0000] [error] invalid pts");
    lines.push_back(L"[warning] in.mpg: corrupt decoded frame in stream 0");
    lines.push_back(L"[error] Error while decoding stream #0:1: Invalid data found when processing input");
    lines.push_back(L"[NULL @ 0x561b28107e40] [error] Invalid NAL unit size (687449617 > 481).");
    KRAFFmpegLog log = Judge(lines);
    ASSERT_TRUE(log.hasErrors());
    EXPECT_TRUE(log.errorsOnlyFromInput());
    // Shown without the level, in the order they came.
    const std::vector<std::wstring> shown = Shown(log);
    ASSERT_EQ(shown.size(), 4u);
    EXPECT_EQ(shown[0], L"[mpeg1video @ 0x55a2cb3b1140] skipped MB in I-frame at 9 3");
    EXPECT_EQ(shown[1], L"[mpeg @ 0x55a2cb3a0000] invalid pts");

    // One error of the output among them decides.
    log.addLine(XStr(L"[mp4 @ 0x55a2cb3c0000] [error] Application provided invalid, non monotonically increasing "
                     L"dts to muxer in stream 0"));
    EXPECT_FALSE(log.errorsOnlyFromInput());
}

// Whatever the prefix, a message about writing is the output's; so is a fatal line, an error of
// a component ffmpeg did not name, and a line of ffmpeg's own other than its decoding report.
TEST(KRAFFmpegLog, WhatIsNotKnownToBeTheInputsIsTheOutputs)
{
    for (const std::wstring& line :
         {std::wstring(L"[mpeg1video @ 0x1] [error] Error writing something"),
          std::wstring(L"[mpeg @ 0x2] [error] /o/out.tmp-1.mp4: No space left on device"),
          std::wstring(L"[mpeg1video @ 0x1] [fatal] ran out"), std::wstring(L"[mp4 @ 0x3] [error] trouble"),
          std::wstring(L"[libx265 @ 0x4] [error] trouble"), std::wstring(L"[Parsed_fade_0 @ 0x5] [error] trouble"),
          std::wstring(L"[error] Error writing trailer of /o/out.tmp-1.mp4: No space left on device"),
          std::wstring(L"[error] av_interleaved_write_frame(): No space left on device"),
          std::wstring(L"[h264 @ 0x6] [error] error while decoding MB 3 4"), // no h264 in this run
          std::wstring(L"[out#0/mp4 @ 0x7] [error] trouble"), std::wstring(L"[aost#0:1/aac @ 0x8] [error] trouble")}) {
        std::vector<std::wstring> lines = kMpegToHevc;
        lines.push_back(line);
        const KRAFFmpegLog log = Judge(lines, {XStr(L"/o/out.tmp-1.mp4")});
        ASSERT_TRUE(log.hasErrors()) << XStr(line.c_str()).ToUTF8String();
        EXPECT_FALSE(log.errorsOnlyFromInput()) << XStr(line.c_str()).ToUTF8String();
    }
    // The words of a file name say nothing: the input's name holds "write" here.
    std::vector<std::wstring> lines = kMpegToHevc;
    lines.push_back(L"[mpeg @ 0x2] [error] /in/write output trailer.mpg: invalid pts");
    EXPECT_TRUE(Judge(lines, {XStr(L"/in/write output trailer.mpg")}).errorsOnlyFromInput());
    // Newer ffmpeg names its input threads so.
    lines = kMpegToHevc;
    lines.push_back(L"[in#0/mpeg @ 0x9] [error] invalid pts");
    lines.push_back(L"[vist#0:0/mpeg1video @ 0xa] [error] skipped MB");
    EXPECT_TRUE(Judge(lines).errorsOnlyFromInput());
}

// "aac" decodes the input and encodes the output: its error is the input's only where ffmpeg's
// decoding report followed that very context.
TEST(KRAFFmpegLog, ANameBothSidesUseNeedsFFmpegsDecodingReport)
{
    const std::vector<std::wstring> mp4ToMp4 = {
        L"[info] Input #0, mov,mp4,m4a,3gp,3g2,mj2, from 'in.mp4':",
        L"[info] Stream mapping:",
        L"[info]   Stream #0:0 -> #0:0 (h264 (native) -> h264 (libx264))",
        L"[info]   Stream #0:1 -> #0:1 (aac (native) -> aac (native))",
        L"[info] Output #0, mp4, to 'out.mp4':",
    };
    std::vector<std::wstring> lines = mp4ToMp4;
    lines.push_back(L"[aac @ 0x561b28154d80] [error] Input buffer exhausted before END element found");
    lines.push_back(L"[error] Error while decoding stream #0:1: Invalid data found when processing input");
    lines.push_back(L"[aac @ 0x561b28154d80] [warning] Multiple frames in a packet.");
    lines.push_back(L"[aac @ 0x561b28154d80] [error] channel element 3.15 is not allocated");
    lines.push_back(L"[h264 @ 0x561b287bd3c0] [error] Invalid NAL unit size (687449617 > 481).");
    lines.push_back(L"[mov,mp4,m4a,3gp,3g2,mj2 @ 0x561b2810] [error] stream 1, offset 0x5d3: partial file");
    EXPECT_TRUE(Judge(lines).errorsOnlyFromInput());

    // Another "aac" context (the encoder's) is not known to be the decoder.
    lines.push_back(L"[aac @ 0x561b28999999] [error] channel element 3.15 is not allocated");
    EXPECT_FALSE(Judge(lines).errorsOnlyFromInput());
    // Nor is the decoder's name without the report.
    lines = mp4ToMp4;
    lines.push_back(L"[aac @ 0x561b28154d80] [error] channel element 3.15 is not allocated");
    EXPECT_FALSE(Judge(lines).errorsOnlyFromInput());
    // Nor the encoder's, when another line came between its error and the report.
    lines = mp4ToMp4;
    lines.push_back(L"[aac @ 0x2] [error] Too many bits 8832.000000 > 6144 per frame requested, clamping to max");
    lines.push_back(L"[aac @ 0x1] [warning] Multiple frames in a packet.");
    lines.push_back(L"[error] Error while decoding stream #0:1: Invalid data found when processing input");
    EXPECT_FALSE(Judge(lines).errorsOnlyFromInput());
    // A report of a stream whose decoder has another name establishes nothing.
    lines = mp4ToMp4;
    lines.push_back(L"[aac @ 0x561b28154d80] [error] Input buffer exhausted before END element found");
    lines.push_back(L"[error] Error while decoding stream #0:0: Invalid data found when processing input");
    EXPECT_FALSE(Judge(lines).errorsOnlyFromInput());
}

// Through a filter graph the mapping names decoders and encoders on lines of their own.
TEST(KRAFFmpegLog, TheFilterGraphMappingNamesTheCoders)
{
    const KRAFFmpegLog log =
        Judge({L"[info] Input #0, avi, from 'in.avi':", L"[info] Stream mapping:",
               L"[info]   Stream #0:0 (mpeg4) -> fade", L"[info]   Stream #0:1 (mp3float) -> afade",
               L"[info]   format -> Stream #0:0 (libx265)", L"[info]   aformat -> Stream #0:1 (aac)",
               L"[info] Output #0, mp4, to 'out.mp4':", L"[mpeg4 @ 0x562fc1e960c0] [error] I cbpy damaged at 14 11",
               L"[mp3float @ 0x562fc1e96999] [error] Header missing",
               L"[avi @ 0x562fc1e90000] [error] Something odd in the index"});
    EXPECT_TRUE(log.errorsOnlyFromInput());
    // avi to avi: the demuxer's name is the muxer's too, and a format context has no report.
    const KRAFFmpegLog same =
        Judge({L"[info] Input #0, avi, from 'in.avi':", L"[info] Stream mapping:",
               L"[info]   Stream #0:0 -> #0:0 (mpeg4 (native) -> h264 (libx264))",
               L"[info] Output #0, avi, to 'out.avi':", L"[avi @ 0x562fc1e90000] [error] Something odd"});
    EXPECT_FALSE(same.errorsOnlyFromInput());
}

// "No space left on device" a thousand times is one line that says how often it came; distinct
// lines beyond the bound are counted, and still judged.
TEST(KRAFFmpegLog, RepeatsAreCountedAndTheLinesBounded)
{
    KRAFFmpegLog log = Judge(kMpegToHevc);
    for (int i = 0; i < 1000; ++i)
        log.addLine(XStr(L"[error] av_interleaved_write_frame(): No space left on device"));
    log.addLine(XStr(L"[error] Error writing trailer of out.mp4: No space left on device"));
    EXPECT_EQ(Shown(log), (std::vector<std::wstring>{L"av_interleaved_write_frame(): No space left on device (1000 "
                                                     L"times)",
                                                     L"Error writing trailer of out.mp4: No space left on device"}));

    KRAFFmpegLog many = Judge(kMpegToHevc);
    const size_t n = KRAFFmpegLog::kMaxDistinctLines + 50;
    for (size_t i = 0; i < n; ++i)
        many.addLine(XStr::FromUTF8("[mpeg1video @ 0x1] [error] ac-tex damaged at " + std::to_string(i)));
    EXPECT_TRUE(many.errorsOnlyFromInput());
    const std::vector<std::wstring> shown = Shown(many);
    ASSERT_EQ(shown.size(), KRAFFmpegLog::kMaxDistinctLines + 1);
    EXPECT_EQ(shown.back(), L"50 more error lines not shown");
    // A line of the output past the bound still decides.
    many.addLine(XStr(L"[mp4 @ 0x3] [error] trouble"));
    EXPECT_FALSE(many.errorsOnlyFromInput());

    // A line of any length is kept at its start.
    KRAFFmpegLog longLine = Judge(kMpegToHevc);
    longLine.addLine(XStr::FromUTF8("[error] " + std::string(100000, 'x')));
    ASSERT_EQ(longLine.shownErrors().size(), 1u);
    EXPECT_EQ(size_t(longLine.shownErrors()[0].Length()), KRAFFmpegLog::kMaxLineLength + 1);

    // Contexts past their bound leave nothing known to be the input's.
    KRAFFmpegLog contexts = Judge(kMpegToHevc);
    for (size_t i = 0; i <= KRAFFmpegLog::kMaxContexts; ++i)
        contexts.addLine(XStr::FromUTF8("[mpeg1video @ 0x" + std::to_string(i) + "] [error] ac-tex damaged"));
    EXPECT_TRUE(contexts.hasErrors());
    EXPECT_FALSE(contexts.errorsOnlyFromInput());
}

// The rest of a message broken by a line break in a file name stays with its error.
TEST(KRAFFmpegLog, ALineBreakInAMessageStaysWithIt)
{
    std::vector<std::wstring> lines = kMpegToHevc;
    lines.push_back(L"[error] Error writing trailer of /o/new");
    lines.push_back(L"line.mp4: No space left on device");
    lines.push_back(L"x265 [info]: frame I: 1");
    const KRAFFmpegLog log = Judge(lines);
    EXPECT_EQ(Shown(log),
              std::vector<std::wstring>{L"Error writing trailer of /o/new\nline.mp4: No space left on device"});
    EXPECT_FALSE(log.errorsOnlyFromInput());
}

// Copied streams are decoded only while ffmpeg looks into the file; the decoder is named after
// what the input's description says the stream holds.
TEST(KRAFFmpegLog, ACopiedStreamIsDecodedOnlyToLookIntoTheFile)
{
    std::vector<std::wstring> lines = {
        L"[h264 @ 0x55edef1b9e40] [error] error while decoding MB 12 7, bytestream -9",
        L"[info] Input #0, mov,mp4,m4a,3gp,3g2,mj2, from 'in.mp4':",
        L"[info]   Stream #0:0[0x1](und): Video: h264 (High) (avc1 / 0x31637661), yuv420p, 320x240, 25 fps",
        L"[info]   Stream #0:1[0x2](und): Audio: aac (LC) (mp4a / 0x6134706D), 44100 Hz, mono, fltp",
        L"[info] Output #0, matroska, to 'out.mkv':",
        L"[info]   Stream #0:0(und): Video: hevc, yuv420p, 320x240",
        L"[info] Stream mapping:",
        L"[info]   Stream #0:0 -> #0:0 (copy)",
        L"[info]   Stream #0:1 -> #0:1 (copy)",
    };
    EXPECT_TRUE(Judge(lines).errorsOnlyFromInput());
    // A component the input's description does not name is not the input's.
    lines.push_back(L"[hevc @ 0x1] [error] trouble");
    EXPECT_FALSE(Judge(lines).errorsOnlyFromInput());
}
