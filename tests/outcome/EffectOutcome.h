// What the effect tests share: the text an effect's page writes, a batch run through the real
// runner with a chain of effects, clips with a picture that tells where each corner went, and
// the readings the effects need beyond the common ones (frame times, edge strength, a region's
// PSNR, interlace detection, sound packets).
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "common/RealFFmpegRunTest.h"
#include "common/TestEnv.h"
#include "common/ToolRun.h"
#include "outcome/OutcomeMeasure.h"

namespace effect_outcome {

using Chain = std::vector<std::pair<std::string, std::string>>;

// Lossless, so that a frame can be compared with the source's exactly.
inline const std::string kLossless = "-c:v ffv1 -c:a pcm_s16le";
inline const std::string kMP4 = "-c:v libx264 -preset ultrafast -c:a aac";

// 160 x 120, blue with a red block in the top left corner (40 x 30): after a turn or a flip
// the block shows where that corner went.
inline const std::string kCorner = "color=blue:s=160x120:r=10:d=1,drawbox=x=0:y=0:w=40:h=30:color=red:t=fill";

constexpr long kRed = 0xFF0000, kBlue = 0x0000FF, kBlack = 0x000000, kGreen = 0x00FF00;
// YUV 4:2:0 and back moves a flat colour by a few steps, and a block's edge by more.
constexpr int kNear = 24;

inline double Mean(const std::vector<outcome::FrameStats>& frames, const std::string& key)
{
    if (frames.empty())
        return -1;
    double sum = 0;
    for (const outcome::FrameStats& frame : frames)
        sum += frame[key];
    return sum / static_cast<double>(frames.size());
}

// One decoded frame at or after the given time, with its size: one ffmpeg run (a PPM picture)
// instead of a probe and a run.
inline outcome::RGBFrame Picture(const std::string& path, double seconds = 0)
{
    outcome::RGBFrame frame;
    const std::string ppm =
        outcome::RunOnPath({"ffmpeg", "-v", "error", "-nostdin", "-ss", std::to_string(seconds), "-i", path, "-map",
                            "0:v:0", "-frames:v", "1", "-f", "image2pipe", "-c:v", "ppm", "-"})
            .out;
    // "P6\n<width> <height>\n255\n" and the pixels.
    int width = 0, height = 0, depth = 0, used = 0;
    if (std::sscanf(ppm.c_str(), "P6 %d %d %d%n", &width, &height, &depth, &used) != 3 || depth != 255)
        return frame;
    frame.width = width;
    frame.height = height;
    frame.bytes = ppm.substr(static_cast<size_t>(used) + 1);
    return frame;
}

// The presentation times of the video frames, in order.
inline std::vector<double> FrameTimes(const std::string& path)
{
    std::vector<double> times;
    for (const std::string& line :
         outcome::Lines(outcome::RunOnPath({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                                            "frame=pts_time", "-of", "csv=p=0", path})
                            .out))
        if (!line.empty() && line != "N/A")
            times.push_back(std::atof(line.c_str()));
    return times;
}

// How long the picture plays: from the first frame to the end of the last.
inline double VideoSeconds(const std::string& path)
{
    const std::vector<double> times = FrameTimes(path);
    const double rate = outcome::Number(outcome::StreamFields(path, "v:0"), "avg_frame_rate", 0);
    if (times.empty() || rate <= 0)
        return -1;
    return times.back() - times.front() + 1 / rate;
}

// The mean strength of the edges (Sobel) of the picture's luma, over every frame.
inline double EdgeStrength(const std::string& path, const std::string& before = "")
{
    return Mean(outcome::PictureStats(path, (before.empty() ? "" : before + ",") + "sobel"), "YAVG");
}

// PSNR of a region (a crop filter's arguments) of two videos of the same size.
inline double RegionPSNR(const std::string& output, const std::string& reference, const std::string& crop)
{
    return outcome::PSNROfGraph(output, reference, "[0:v]crop=" + crop + "[a];[1:v]crop=" + crop + "[b];[a][b]psnr");
}

// How many frames ffmpeg's interlace detection judges each way, frame by frame.
struct Interlace {
    long interlaced = -1, progressive = -1;
};

inline Interlace DetectInterlace(const std::string& path)
{
    const ToolRunResult r =
        outcome::RunOnPath({"ffmpeg", "-v", "info", "-nostdin", "-i", path, "-vf", "idet", "-f", "null", "-"});
    Interlace found;
    const size_t at = r.err.find("Single frame detection:");
    if (at == std::string::npos)
        return found;
    auto after = [&](const char* key) {
        const size_t k = r.err.find(key, at);
        return k == std::string::npos ? -1L : std::atol(r.err.c_str() + k + std::string(key).size());
    };
    found.interlaced = after("TFF:") + after("BFF:");
    found.progressive = after("Progressive:");
    return found;
}

// The sound packets the file holds, over all its audio streams.
inline long AudioPackets(const std::string& path)
{
    long packets = 0;
    for (const std::string& line :
         outcome::Lines(outcome::RunOnPath({"ffprobe", "-v", "error", "-select_streams", "a", "-count_packets",
                                            "-show_entries", "stream=nb_read_packets", "-of", "csv=p=0", path})
                            .out))
        packets += std::atol(line.c_str());
    return packets;
}

class EffectOutcome : public RealFFmpegRunTest {
protected:
    // The text the effect's page writes after reading args as it reads a stored chain (empty:
    // a new effect, so its defaults).
    std::string page(const std::string& name, const std::string& args = "")
    {
        const ToolRunResult r = RunTestTool(TestToolPath("setup-tool"), {"effect-roundtrip", name, args});
        EXPECT_EQ(r.status, 0) << name << ": " << r.err;
        std::string text = r.out;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        return text;
    }

    // The page writes the setting as given: what the test converts with is what a user gets.
    std::string setting(const std::string& name, const std::string& args)
    {
        const std::string written = page(name, args);
        EXPECT_EQ(written, args) << name << " does not write the setting back as it reads it";
        return written;
    }

    // A clip made by ffmpeg from lavfi sources into the test's folder, losslessly.
    std::string clip(const std::string& name, const std::string& video, const std::string& audio = "",
                     const std::vector<std::string>& codecs = {"-c:v", "ffv1", "-pix_fmt", "yuv420p", "-c:a",
                                                               "pcm_s16le"})
    {
        const std::string path = dir.file(name);
        EXPECT_TRUE(outcome::MakeClip(path, video, audio, codecs)) << name;
        return path;
    }

    // A 20 x 16 green picture to lay over the video.
    std::string logo()
    {
        const std::string path = dir.file("logo.png");
        EXPECT_EQ(outcome::RunOnPath({"ffmpeg", "-v", "error", "-nostdin", "-f", "lavfi", "-i", "color=lime:s=20x16",
                                      "-frames:v", "1", "-y", path})
                      .status,
                  0);
        return path;
    }

    // The source converted through the batch with the chain of effects in order; the path of the
    // output, empty when the batch did not convert it.
    std::string convert(const std::string& source, const Chain& chain, const std::string& ext = ".mkv",
                        const std::string& encoder = kLossless)
    {
        const std::string folder = dir.file("out" + std::to_string(++m_runs));
        std::vector<std::string> args{"batch", "--src", source,   "--dst-folder", folder,
                                      "--ext", ext,     "--args", encoder};
        for (const auto& [name, text] : chain) {
            args.push_back("--effect");
            args.push_back(name + "=" + text);
        }
        const ToolRunResult r = RunTestTool(TestToolPath("engine-tool"), args);
        std::string base = source.substr(source.rfind('/') + 1);
        base = base.substr(0, base.rfind('.'));
        const std::string output = folder + "/" + base + ext;
        const bool ok = r.status == 0 && r.out.find(" -> " + output + " ok") != std::string::npos;
        EXPECT_TRUE(ok) << Describe(chain) << "\n" << r.out << r.err;
        return ok ? output : std::string();
    }

    static std::string Describe(const Chain& chain)
    {
        std::string text;
        for (const auto& [name, args] : chain)
            text += (text.empty() ? "" : " | ") + name + ": " + args;
        return text;
    }

private:
    TestEnvScope m_platform{"QT_QPA_PLATFORM", "offscreen"};
    int m_runs = 0;
};

} // namespace effect_outcome
