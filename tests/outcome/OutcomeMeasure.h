// Measurements of a conversion's output with ffprobe and ffmpeg's own filters, for the tests
// that check what a setting promises: the streams' fields, frame hashes, per-frame picture
// statistics, loudness, bit rate per second, PSNR and single pixels. Every reading goes through
// the real programs on PATH (never a shell); a reading that fails gives an empty or negative
// answer, which the tests' expectations then show.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/MediaTestFiles.h"
#include "common/ToolRun.h"

namespace outcome {

inline ToolRunResult RunOnPath(const std::vector<std::string>& args)
{
    ToolRunOptions options;
    options.searchPath = true;
    return RunProcess(args, options);
}

inline std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// "key=value" lines as ffprobe's default writer gives them (section markers skipped).
inline std::map<std::string, std::string> KeyValues(const std::string& text)
{
    std::map<std::string, std::string> fields;
    for (const std::string& line : Lines(text)) {
        const size_t eq = line.find('=');
        if (line.empty() || line[0] == '[' || eq == std::string::npos)
            continue;
        fields.emplace(line.substr(0, eq), line.substr(eq + 1));
    }
    return fields;
}

// Every field of one stream ("v:0", "a:0", "s:0"): codec_name, profile, pix_fmt, width, height,
// display_aspect_ratio, avg_frame_rate, sample_rate, channels, duration, ... Empty when the file
// has no such stream.
inline std::map<std::string, std::string> StreamFields(const std::string& path, const std::string& selector = "v:0")
{
    return KeyValues(
        RunOnPath({"ffprobe", "-v", "error", "-select_streams", selector, "-show_streams", "-of", "default", path})
            .out);
}

// The container's fields: format_name, duration, bit_rate, nb_streams, ...
inline std::map<std::string, std::string> FormatFields(const std::string& path)
{
    return KeyValues(RunOnPath({"ffprobe", "-v", "error", "-show_format", "-of", "default", path}).out);
}

// The codec types of the file's streams in their order ("video", "audio", "subtitle").
inline std::vector<std::string> StreamTypes(const std::string& path)
{
    std::vector<std::string> types;
    for (const std::string& line :
         Lines(RunOnPath({"ffprobe", "-v", "error", "-show_entries", "stream=codec_type", "-of", "csv=p=0", path}).out))
        if (!line.empty())
            types.push_back(line);
    return types;
}

inline double Number(const std::map<std::string, std::string>& fields, const std::string& key, double none = -1)
{
    const auto it = fields.find(key);
    if (it == fields.end() || it->second.empty() || it->second == "N/A")
        return none;
    // Rates come as "25/1" or "30000/1001".
    const size_t slash = it->second.find('/');
    if (slash != std::string::npos) {
        const double den = std::atof(it->second.c_str() + slash + 1);
        return den == 0 ? none : std::atof(it->second.c_str()) / den;
    }
    return std::atof(it->second.c_str());
}

inline std::string Text(const std::map<std::string, std::string>& fields, const std::string& key)
{
    const auto it = fields.find(key);
    return it == fields.end() ? std::string() : it->second;
}

// The number of frames of the first video stream, decoded and counted.
inline long FrameCount(const std::string& path)
{
    const std::string out = RunOnPath({"ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0",
                                       "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0", path})
                                .out;
    return out.empty() ? -1 : std::atol(out.c_str());
}

// The MD5 of every decoded frame of the stream (ffmpeg's framemd5), with the frames converted to
// pixFmt first (empty: as decoded), so that a lossless output can be compared with its source.
inline std::vector<std::string> FrameHashes(const std::string& path, const std::string& pixFmt = "",
                                            const std::string& map = "0:v:0")
{
    std::vector<std::string> args{"ffmpeg", "-v", "error", "-nostdin", "-i", path, "-map", map};
    if (!pixFmt.empty()) {
        args.push_back("-pix_fmt");
        args.push_back(pixFmt);
    }
    for (const char* a : {"-f", "framemd5", "-"})
        args.push_back(a);
    std::vector<std::string> hashes;
    for (const std::string& line : Lines(RunOnPath(args).out)) {
        if (line.empty() || line[0] == '#')
            continue;
        const size_t comma = line.rfind(',');
        if (comma != std::string::npos) {
            std::string hash = line.substr(comma + 1);
            hash.erase(0, hash.find_first_not_of(' '));
            hashes.push_back(hash);
        }
    }
    return hashes;
}

// One frame's statistics from ffmpeg's signalstats: YAVG, UAVG, VAVG, SATAVG, HUEAVG, YMIN, ...
// (the "lavfi.signalstats." prefix taken off), with the frame's presentation time.
struct FrameStats {
    double time = 0;
    std::map<std::string, double> values;
    double operator[](const std::string& key) const
    {
        const auto it = values.find(key);
        return it == values.end() ? -1 : it->second;
    }
};

// Every frame's signalstats; a filter may go before them (for example "crop=16:16:0:0").
inline std::vector<FrameStats> PictureStats(const std::string& path, const std::string& before = "")
{
    const std::string graph = (before.empty() ? "" : before + ",") + "signalstats,metadata=print:file=-";
    std::vector<FrameStats> frames;
    for (const std::string& line : Lines(RunOnPath({"ffmpeg", "-v", "error", "-nostdin", "-i", path, "-map", "0:v:0",
                                                    "-vf", graph, "-f", "null", "-"})
                                             .out)) {
        if (line.rfind("frame:", 0) == 0) {
            frames.emplace_back();
            const size_t at = line.find("pts_time:");
            if (at != std::string::npos)
                frames.back().time = std::atof(line.c_str() + at + 9);
        } else if (!frames.empty() && line.rfind("lavfi.signalstats.", 0) == 0) {
            const size_t eq = line.find('=');
            if (eq != std::string::npos)
                frames.back().values[line.substr(18, eq - 18)] = std::atof(line.c_str() + eq + 1);
        }
    }
    return frames;
}

// The mean level in dB of the sound between from and from + seconds (ffmpeg's volumedetect);
// digital silence gives -91 or lower, no sound at all -1000.
inline double MeanVolume(const std::string& path, double from, double seconds)
{
    const ToolRunResult r =
        RunOnPath({"ffmpeg", "-v", "info", "-nostdin", "-ss", std::to_string(from), "-t", std::to_string(seconds), "-i",
                   path, "-map", "0:a:0", "-af", "volumedetect", "-f", "null", "-"});
    const size_t at = r.err.rfind("mean_volume:");
    return at == std::string::npos ? -1000 : std::atof(r.err.c_str() + at + 12);
}

// The largest sample level in dB over the whole sound (volumedetect); -1000 without sound.
inline double MaxVolume(const std::string& path)
{
    const ToolRunResult r = RunOnPath(
        {"ffmpeg", "-v", "info", "-nostdin", "-i", path, "-map", "0:a:0", "-af", "volumedetect", "-f", "null", "-"});
    const size_t at = r.err.rfind("max_volume:");
    return at == std::string::npos ? -1000 : std::atof(r.err.c_str() + at + 11);
}

// The integrated loudness in LUFS (EBU R128, ffmpeg's ebur128 summary); -1000 without sound.
inline double IntegratedLoudness(const std::string& path)
{
    const ToolRunResult r = RunOnPath(
        {"ffmpeg", "-v", "info", "-nostdin", "-i", path, "-map", "0:a:0", "-af", "ebur128", "-f", "null", "-"});
    const size_t summary = r.err.rfind("Summary:");
    if (summary == std::string::npos)
        return -1000;
    const size_t at = r.err.find("I:", summary);
    return at == std::string::npos ? -1000 : std::atof(r.err.c_str() + at + 2);
}

// The bytes of a stream's packets per whole second of presentation time, as kbit/s; the last
// second, usually partial, is left out.
inline std::vector<double> KbitPerSecond(const std::string& path, const std::string& selector = "v:0")
{
    std::map<long, double> bytes;
    for (const std::string& line : Lines(RunOnPath({"ffprobe", "-v", "error", "-select_streams", selector,
                                                    "-show_entries", "packet=pts_time,size", "-of", "csv=p=0", path})
                                             .out)) {
        const size_t comma = line.find(',');
        if (comma == std::string::npos || line.compare(0, 3, "N/A") == 0)
            continue;
        bytes[static_cast<long>(std::floor(std::atof(line.c_str())))] += std::atof(line.c_str() + comma + 1);
    }
    std::vector<double> rates;
    if (bytes.size() < 2)
        return rates;
    bytes.erase(std::prev(bytes.end()));
    for (const auto& [second, count] : bytes)
        rates.push_back(count * 8 / 1000);
    return rates;
}

// A stream's mean bit rate in kbit/s: its packets' bytes over the container's duration.
inline double StreamKbps(const std::string& path, const std::string& selector = "v:0")
{
    double total = 0;
    for (const std::string& line : Lines(RunOnPath({"ffprobe", "-v", "error", "-select_streams", selector,
                                                    "-show_entries", "packet=size", "-of", "csv=p=0", path})
                                             .out))
        total += std::atof(line.c_str());
    const double seconds = Number(FormatFields(path), "duration");
    return seconds > 0 ? total * 8 / 1000 / seconds : -1;
}

// The mean PSNR in dB that a psnr filter graph over the two inputs (output first) measures;
// 1000 when they are identical, -1 when it cannot be measured.
inline double PSNROfGraph(const std::string& output, const std::string& reference, const std::string& graph)
{
    const ToolRunResult r = RunOnPath(
        {"ffmpeg", "-v", "info", "-nostdin", "-i", output, "-i", reference, "-lavfi", graph, "-f", "null", "-"});
    const size_t at = r.err.rfind("average:");
    if (at == std::string::npos)
        return -1;
    if (r.err.compare(at + 8, 3, "inf") == 0)
        return 1000;
    return std::atof(r.err.c_str() + at + 8);
}

// The mean PSNR of the output's frames against the reference's (the output scaled to the
// reference's size first).
inline double PSNR(const std::string& output, const std::string& reference)
{
    return PSNROfGraph(output, reference, "[0:v][1:v]scale2ref[a][b];[a][b]psnr");
}

// One decoded frame as 8-bit RGB, at or after the given time.
struct RGBFrame {
    int width = 0, height = 0;
    std::string bytes;
    bool valid() const { return width > 0 && height > 0 && bytes.size() == size_t(width) * height * 3; }
    // The colour at (x, y) as 0xRRGGBB; -1 outside the frame.
    long at(int x, int y) const
    {
        if (!valid() || x < 0 || y < 0 || x >= width || y >= height)
            return -1;
        const size_t i = (size_t(y) * width + x) * 3;
        return (long(uint8_t(bytes[i])) << 16) | (long(uint8_t(bytes[i + 1])) << 8) | uint8_t(bytes[i + 2]);
    }
};

inline RGBFrame FrameAt(const std::string& path, double seconds = 0)
{
    RGBFrame frame;
    const auto fields = StreamFields(path, "v:0");
    frame.width = static_cast<int>(Number(fields, "width", 0));
    frame.height = static_cast<int>(Number(fields, "height", 0));
    frame.bytes = RunOnPath({"ffmpeg", "-v", "error", "-nostdin", "-ss", std::to_string(seconds), "-i", path, "-map",
                             "0:v:0", "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"})
                      .out;
    return frame;
}

// How far apart two colours are: the largest difference of one channel.
inline int ColourDistance(long a, long b)
{
    int worst = 0;
    for (int shift : {16, 8, 0})
        worst = std::max(worst, std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)));
    return worst;
}

// A clip made by ffmpeg from lavfi sources: video (for example "testsrc2=d=2:s=320x240:r=25",
// empty for none), audio ("sine=d=2", empty for none), then the codec arguments.
inline bool MakeClip(const std::string& path, const std::string& video, const std::string& audio,
                     const std::vector<std::string>& codecs = {})
{
    std::vector<std::string> args{"ffmpeg", "-v", "error", "-nostdin"};
    if (!video.empty())
        for (const std::string& a : {std::string("-f"), std::string("lavfi"), std::string("-i"), video})
            args.push_back(a);
    if (!audio.empty())
        for (const std::string& a : {std::string("-f"), std::string("lavfi"), std::string("-i"), audio})
            args.push_back(a);
    if (!video.empty() && !audio.empty())
        args.push_back("-shortest");
    args.insert(args.end(), codecs.begin(), codecs.end());
    args.push_back("-y");
    args.push_back(path);
    return RunOnPath(args).status == 0;
}

} // namespace outcome
