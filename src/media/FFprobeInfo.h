// Media information through ffprobe: one run of
//   ffprobe -hide_banner -of json=string_validation=ignore -show_format -show_streams <file>
// read from a pipe and turned into two tag containers: the file's own tags (the container's
// metadata, in order; without any, those of the first sound stream, where Ogg keeps them) and
// the media properties, display texts under fixed English names:
// "Length", "Bit Rate", "Streams", "Profile", "Width", "Height", "Resolution",
// "Aspect Ratio", "Frame Rate", "Pixel Format", "Color Space", "Frame Count", "Channels",
// "Sample Rate", "Sample Size". The picture properties are those of the first video stream
// that is not cover art, at the size it is shown (turned a quarter: width and height swapped).
// Texts that are not UTF-8 are read as Windows-1252.
//
// ffprobe is started from an argument list (never through a shell), with a time limit after
// which it is killed: a damaged file, a pipe or a stalled network share cannot hang the
// caller. Every reader can hand back a reason, in English, when it gives nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "media/NTag.h"
#include "xclass/XStr.h"

// The time one ffprobe run may take before it is killed (default 30000 ms). Process-wide.
void setFFprobeTimeoutMs(int ms);
int ffprobeTimeoutMs();

// Asked while ffprobe runs: true ends it at once (a quit while a slow source is probed).
using FFprobeStop = std::function<bool()>;

// The whole standard output of ffprobe for the file; empty when ffprobe is not found, cannot
// be started, prints nothing, runs past its time or is stopped (reason tells which).
XStr runFFprobe(const XStr& path, XStr* reason = nullptr);
// The same as UTF-8 bytes, as they came.
std::string runFFprobeBytes(const XStr& path, XStr* reason = nullptr, const FFprobeStop& stop = {});

// Appends the file's tags to tags and the properties to props and sets durationMs. False,
// with nothing touched, when the text is no JSON value or its top value has no members.
bool parseFFprobeJSON(const XStr& text, NTag& tags, NTag& props, uint64_t& durationMs);
bool parseFFprobeJSONBytes(const std::string& bytes, NTag& tags, NTag& props, uint64_t& durationMs);

// runFFprobe, then parseFFprobeJSON; false for no output or output that does not parse.
bool readFFprobeInfo(const XStr& path, NTag& tags, NTag& props, uint64_t& durationMs, XStr* reason = nullptr);

// Sets durationMs to 0 and clears the given tags and JSON text, then probes. The JSON text
// (when asked) receives any output; on success the tags are replaced by the file's tags and
// the duration is set. Returns the success.
bool readFFprobeTags(const XStr& path, NTag* tags, XStr* jsonText, uint64_t& durationMs, XStr* reason = nullptr,
                     const FFprobeStop& stop = {});

// The avg_frame_rate of the first video stream that has a non-zero one, truncated to two
// decimals; 0 when there is none or the text is no JSON.
double parseVideoFrameRate(const XStr& jsonText);
double getVideoFrameRate(const XStr& path);
// What the streams of one ffprobe answer hold, read in one pass: whether there is a video stream
// (a cover picture does not count) and an audio stream, and the frame rate as parseVideoFrameRate
// gives it. All false and 0 when the text is no JSON.
struct FFprobeStreams {
    bool hasVideo = false;
    bool hasAudio = false;
    double frameRate = 0;
};
FFprobeStreams parseStreams(const XStr& jsonText);
FFprobeStreams parseStreamsBytes(const std::string& bytes);

// "16:9", "9:16", "4:3", ... or the ratio as "%.2f:1"; empty when either side is 0.
XStr aspectRatioName(int width, int height);
// The display text of a frame rate such as "30000/1001" ("29.97"), "25/1" ("25"); a text
// that is not a fraction is returned as it is.
XStr frameRateText(const XStr& rate);
