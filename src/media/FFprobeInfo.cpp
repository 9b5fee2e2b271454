#include "media/FFprobeInfo.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <unistd.h>
#include <utility>

#include "media/QKLocateFFmpeg.h"
#include "media/QKToolRun.h"
#include "xclass/XFileName.h"
#include "xclass/XFormat.h"
#include "xclass/XJSON.h"

namespace {

std::atomic<int> g_timeoutMs{30000};

// ffprobe's JSON for files with many streams or long tags stays far below this; anything
// larger is not an answer to our question.
constexpr size_t kMaxOutput = 64u << 20;

// ffprobe is asked to pass the file's bytes through unchanged; a byte that is not part of
// valid UTF-8 then reaches us as its escape character. Such bytes come from tags written in
// Latin-1 (ID3v1, RIFF INFO), and Windows-1252 is what those writers used.
XStr FromLegacyBytes(const XStr& text)
{
    const int32_t length = text.Length();
    bool escaped = false;
    for (int32_t i = 0; i < length && !escaped; ++i)
        escaped = text.p[i] >= 0xDC80 && text.p[i] <= 0xDCFF;
    if (!escaped)
        return text;
    XStr result;
    for (int32_t i = 0; i < length; ++i) {
        const wchar_t c = text.p[i];
        if (c >= 0xDC80 && c <= 0xDCFF) {
            const char byte = static_cast<char>(c - 0xDC00);
            result += XStr::FromAnsiData(&byte, 1);
        } else {
            result.CatChar(c);
        }
    }
    return result;
}

XStr Text(XJSON::AnyType* value)
{
    return FromLegacyBytes(value->AsString()->Value);
}

int Int(XJSON::AnyType* value)
{
    return value->AsNumber()->ToInt32();
}

XJSON::AnyType* Member(XJSON::AnyType* object, const wchar_t* name)
{
    return object->AsObject()->Get(name);
}

bool EqualsNoCase(const XStr& a, const wchar_t* b)
{
    return XStrCompare(a, b, 0, true) == 0;
}

// Adds the property unless one of that name (A-Z folded) is there already.
void AddIfMissing(NTag& props, const wchar_t* name, const XStr& value)
{
    if (!props.FindTag(name))
        props.AddTag(name, value);
}

// "a/b" as a rate truncated to two decimals; false when the text is not one fraction.
bool FractionRate(const XStr& text, double& rate)
{
    const int slash = text.FindChar(L'/');
    if (slash == 0 || text.FindChar(L'/', slash + 1) != 0)
        return false;
    const double numerator = XStrToDouble(text.Left(slash - 1));
    double denominator = XStrToDouble(text.MidToEnd(slash + 1));
    if (denominator == 0)
        denominator = 1;
    rate = std::trunc(numerator / denominator * 100.0) / 100.0;
    if (!std::isfinite(rate))
        rate = 0;
    return true;
}

void AddTagsOf(XJSON::AnyType* tagObject, NTag& tags)
{
    XJSON::Object* object = tagObject->AsObject();
    for (int64_t i = 0; i < object->Count(); ++i) {
        const wchar_t* name = object->NameAt(i);
        if (name && *name)
            tags.AddTag(FromLegacyBytes(XStr(name)), Text(object->ValueAt(i)));
    }
}

bool IsAttachedPicture(XJSON::AnyType* stream)
{
    return Int(Member(Member(stream, L"disposition"), L"attached_pic")) != 0;
}

// Whether the stream is shown turned by 90 or 270 degrees: a display matrix (ffprobe's
// side_data_list "rotation", any sign) or the "rotate" tag older ffprobes report.
bool IsTurnedAQuarter(XJSON::AnyType* stream)
{
    double degrees = 0;
    bool found = false;
    XJSON::Array* sideData = Member(stream, L"side_data_list")->AsArray();
    for (int64_t i = 0; i < sideData->Count() && !found; ++i) {
        XJSON::AnyType* rotation = Member(sideData->Get(i), L"rotation");
        if (rotation->TypeOf() == XJSON::typeNumber) {
            degrees = rotation->AsNumber()->Value;
            found = true;
        } else if (rotation->TypeOf() == XJSON::typeString) {
            degrees = XStrToDouble(Text(rotation));
            found = true;
        }
    }
    if (!found) {
        const XStr rotate = Text(Member(Member(stream, L"tags"), L"rotate"));
        if (rotate.IsEmpty())
            return false;
        degrees = XStrToDouble(rotate);
    }
    if (!std::isfinite(degrees))
        return false;
    const long long quarter = std::llround(std::fmod(std::fabs(degrees), 360.0) / 90.0);
    return quarter == 1 || quarter == 3;
}

// "16:9" as "9:16"; a text that is not one ratio stays as it is.
XStr SwappedRatio(const XStr& ratio)
{
    const int colon = ratio.FindChar(L':');
    if (colon == 0 || ratio.FindChar(L':', colon + 1) != 0)
        return ratio;
    return ratio.MidToEnd(colon + 1) + L":" + ratio.Left(colon - 1);
}

uint64_t DurationMs(const XStr& text)
{
    const double ms = XStrToDouble(text) * 1000.0;
    if (!(ms > 0))
        return 0; // missing, negative or not a number
    if (ms >= 18446744073709549568.0)
        return UINT64_MAX;
    return static_cast<uint64_t>(ms);
}

bool ParseTop(XJSON::AnyType* top, NTag& tags, NTag& props, uint64_t& durationMs)
{
    if (!top || top->AsObject()->Count() == 0)
        return false;
    XJSON::AnyType* format = Member(top, L"format");

    durationMs = DurationMs(Text(Member(format, L"duration")));

    XJSON::Array* streams = Member(top, L"streams")->AsArray();
    const int64_t tagsBefore = tags.Count();
    AddTagsOf(Member(format, L"tags"), tags);
    // Ogg (Vorbis, Opus, FLAC in Ogg) keeps its comments on the stream, and ffprobe reports
    // them there: without container tags, the first sound's tags are the file's.
    if (tags.Count() == tagsBefore) {
        for (int64_t i = 0; i < streams->Count(); ++i) {
            XJSON::AnyType* stream = streams->Get(i);
            if (EqualsNoCase(Text(Member(stream, L"codec_type")), L"audio")) {
                AddTagsOf(Member(stream, L"tags"), tags);
                break;
            }
        }
    }

    props.TakeTag(L"Length");
    props.AddTag(L"Length", XFormatDuration(static_cast<int64_t>(durationMs > INT64_MAX ? INT64_MAX : durationMs), 1));

    const int32_t bitRate = static_cast<int32_t>(Text(Member(format, L"bit_rate")).ToLong());
    props.AddTag(L"Bit Rate", XFormatNumber(bitRate / 1000) + L" kbps");

    XStr summary;
    for (int64_t i = 0; i < streams->Count(); ++i) {
        XJSON::AnyType* stream = streams->Get(i);
        XStr type = Text(Member(stream, L"codec_type"));
        if (type.IsEmpty())
            type = L"(unknown)";
        else if (type.p[0] >= L'a' && type.p[0] <= L'z')
            type.p[0] = static_cast<wchar_t>(type.p[0] - L'a' + L'A');
        if (!summary.IsEmpty())
            summary += L"; ";
        summary +=
            XStr::FromFormat(L"%d %s : %s", static_cast<int>(i), type.p, Text(Member(stream, L"codec_long_name")).p);
        // Cover art is a video stream of one picture: it says nothing of the file's picture.
        if (IsAttachedPicture(stream)) {
            summary += L" (cover art)";
            continue;
        }

        if (EqualsNoCase(type, L"video")) {
            AddIfMissing(props, L"Profile", Text(Member(stream, L"profile")));
            int width = Int(Member(stream, L"width"));
            int height = Int(Member(stream, L"height"));
            // A portrait clip from a phone is stored landscape with a turn to show it by; the
            // size it is seen at is the one that matters.
            const bool turned = IsTurnedAQuarter(stream);
            if (turned)
                std::swap(width, height);
            if (width > 0) {
                AddIfMissing(props, L"Width", XStr::FromLong(width));
                AddIfMissing(props, L"Height", XStr::FromLong(height));
                if (height > 0)
                    AddIfMissing(props, L"Resolution", XStr::FromFormat(L"%d x %d", width, height));
            }
            XStr aspect = Text(Member(stream, L"display_aspect_ratio"));
            if (turned)
                aspect = SwappedRatio(aspect);
            if (aspect.IsEmpty())
                aspect = aspectRatioName(width, height);
            AddIfMissing(props, L"Aspect Ratio", aspect);
            XStr rate = Text(Member(stream, L"r_frame_rate"));
            if (rate.IsEmpty())
                rate = Text(Member(stream, L"avg_frame_rate"));
            AddIfMissing(props, L"Frame Rate", frameRateText(rate));
            AddIfMissing(props, L"Pixel Format", Text(Member(stream, L"pix_fmt")));
            AddIfMissing(props, L"Color Space", Text(Member(stream, L"color_space")));
            const XStr frames = Text(Member(stream, L"nb_frames"));
            if (!frames.IsEmpty())
                AddIfMissing(props, L"Frame Count", frames);
        } else if (EqualsNoCase(type, L"audio")) {
            const int channels = Int(Member(stream, L"channels"));
            if (channels != 0)
                AddIfMissing(props, L"Channels", XStr::FromFormat(L"%d", channels));
            const XStr sampleRate = Text(Member(stream, L"sample_rate"));
            if (sampleRate.ToLong() != 0)
                AddIfMissing(props, L"Sample Rate", sampleRate);
            // ffprobe writes bits_per_sample as a number; a text form is taken too.
            XJSON::AnyType* bits = Member(stream, L"bits_per_sample");
            XStr sampleSize =
                bits->TypeOf() == XJSON::typeNumber ? XStr::FromLong(bits->AsNumber()->ToInt64()) : Text(bits);
            if (sampleSize.ToLong() != 0)
                AddIfMissing(props, L"Sample Size", sampleSize);
        }
    }
    if (!summary.IsEmpty())
        props.AddTag(L"Streams", summary);
    return true;
}

// Parses into scratch containers first, so that a failure leaves the caller's untouched.
bool ParseInto(XJSON::AnyType* parsed, NTag& tags, NTag& props, uint64_t& durationMs)
{
    std::unique_ptr<XJSON::AnyType> top(parsed);
    if (!top || top->AsObject()->Count() == 0)
        return false;
    NTag newTags, newProps;
    newProps.Assign(props);
    uint64_t duration = 0;
    if (!ParseTop(top.get(), newTags, newProps, duration))
        return false;
    for (int64_t i = 0; i < newTags.Count(); ++i)
        tags.AddTagCopy(*newTags.TagAt(i));
    props.Assign(newProps);
    durationMs = duration;
    return true;
}

} // namespace

void setFFprobeTimeoutMs(int ms)
{
    g_timeoutMs = ms;
}

int ffprobeTimeoutMs()
{
    return g_timeoutMs;
}

std::string runFFprobeBytes(const XStr& path, XStr* reason, const FFprobeStop& stop)
{
    if (reason)
        *reason = XStr();
    const XStr ffprobe = QKLocateFFmpeg::locateFFprobe();
    if (ffprobe.IsEmpty()) {
        if (reason)
            *reason = L"ffprobe was not found.";
        return std::string();
    }
    XStrList args;
    args.Add(ffprobe);
    args.Add(L"-hide_banner");
    args.Add(L"-of");
    // By default ffprobe replaces every byte that is not UTF-8 with U+FFFD, and a Latin-1 tag
    // could then never be read: the bytes are kept and decoded here.
    args.Add(L"json=string_validation=ignore");
    args.Add(L"-show_format");
    args.Add(L"-show_streams");
    args.Add(QKToolRun::absolutePath(path));
    const int timeoutMs = g_timeoutMs;
    QKToolResult r = QKToolRun::run(args, timeoutMs, kMaxOutput, 16384, stop);
    if (!r.started) {
        if (reason)
            *reason =
                XStr::FromFormat(L"ffprobe could not be started (%s).", XStr::FromUTF8(std::strerror(r.startErrno)).p);
        return std::string();
    }
    if (r.timedOut || r.tooLarge || r.stopped) {
        if (reason)
            *reason = r.timedOut  ? XStr::FromFormat(L"ffprobe did not finish within %d ms and was stopped.", timeoutMs)
                      : r.stopped ? XStr(L"ffprobe was stopped.")
                                  : XStr(L"ffprobe printed more than expected and was stopped.");
        return std::string();
    }
    if (reason) {
        // Kept even when there is output: ffprobe prints an empty JSON object for a file it
        // cannot read, and the caller then wants to know why.
        XStr line = r.lastErrorLine();
        if (!line.IsEmpty())
            *reason = line;
        else if (r.out.empty())
            *reason = XStr::FromFormat(L"ffprobe gave no information (exit code %d).", r.exitCode);
    }
    return std::move(r.out);
}

XStr runFFprobe(const XStr& path, XStr* reason)
{
    const std::string bytes = runFFprobeBytes(path, reason);
    return XStr::FromUTF8Bytes(bytes.data(), bytes.size());
}

bool parseFFprobeJSON(const XStr& text, NTag& tags, NTag& props, uint64_t& durationMs)
{
    return ParseInto(XJSON::Parse(text), tags, props, durationMs);
}

bool parseFFprobeJSONBytes(const std::string& bytes, NTag& tags, NTag& props, uint64_t& durationMs)
{
    return ParseInto(XJSON::ParseUTF8(bytes.data(), bytes.size()), tags, props, durationMs);
}

bool readFFprobeInfo(const XStr& path, NTag& tags, NTag& props, uint64_t& durationMs, XStr* reason)
{
    XStr why;
    const std::string out = runFFprobeBytes(path, &why);
    const bool ok = !out.empty() && parseFFprobeJSONBytes(out, tags, props, durationMs);
    if (reason) {
        *reason = ok ? XStr() : why;
        if (!ok && reason->IsEmpty())
            *reason = L"ffprobe gave no information about the file.";
    }
    return ok;
}

bool readFFprobeTags(const XStr& path, NTag* tags, XStr* jsonText, uint64_t& durationMs, XStr* reason,
                     const FFprobeStop& stop)
{
    durationMs = 0;
    if (tags)
        tags->Clear();
    if (jsonText)
        *jsonText = XStr();
    XStr why;
    const std::string out = runFFprobeBytes(path, &why, stop);
    bool ok = false;
    if (!out.empty()) {
        if (jsonText)
            *jsonText = XStr::FromUTF8Bytes(out.data(), out.size());
        NTag fileTags, props;
        uint64_t duration = 0;
        ok = parseFFprobeJSONBytes(out, fileTags, props, duration);
        if (ok) {
            if (tags)
                tags->Assign(fileTags);
            durationMs = duration;
        }
    }
    if (reason) {
        *reason = ok ? XStr() : why;
        if (!ok && reason->IsEmpty())
            *reason = L"ffprobe gave no information about the file.";
    }
    return ok;
}

namespace {

double FirstVideoFrameRate(XJSON::AnyType* top)
{
    XJSON::Array* streams = Member(top, L"streams")->AsArray();
    for (int64_t i = 0; i < streams->Count(); ++i) {
        XJSON::AnyType* stream = streams->Get(i);
        if (!EqualsNoCase(Text(Member(stream, L"codec_type")), L"video") || IsAttachedPicture(stream))
            continue;
        const XStr avg = Text(Member(stream, L"avg_frame_rate"));
        double rate = 0;
        if (!FractionRate(avg, rate))
            rate = XStrToDouble(avg);
        if (rate != 0)
            return rate;
    }
    return 0;
}

bool HasStream(XJSON::AnyType* top, const wchar_t* codecType)
{
    XJSON::Array* streams = Member(top, L"streams")->AsArray();
    for (int64_t i = 0; i < streams->Count(); ++i) {
        XJSON::AnyType* stream = streams->Get(i);
        if (!EqualsNoCase(Text(Member(stream, L"codec_type")), codecType))
            continue;
        // Cover art is stored as a video stream of one picture; it is no picture to play.
        if (IsAttachedPicture(stream))
            continue;
        return true;
    }
    return false;
}

} // namespace

double parseVideoFrameRate(const XStr& jsonText)
{
    std::unique_ptr<XJSON::AnyType> top(XJSON::Parse(jsonText));
    return top ? FirstVideoFrameRate(top.get()) : 0;
}

FFprobeStreams parseStreams(const XStr& jsonText)
{
    FFprobeStreams streams;
    std::unique_ptr<XJSON::AnyType> top(XJSON::Parse(jsonText));
    if (!top)
        return streams;
    streams.hasVideo = HasStream(top.get(), L"video");
    streams.hasAudio = HasStream(top.get(), L"audio");
    streams.frameRate = FirstVideoFrameRate(top.get());
    return streams;
}

FFprobeStreams parseStreamsBytes(const std::string& bytes)
{
    FFprobeStreams streams;
    std::unique_ptr<XJSON::AnyType> top(XJSON::ParseUTF8(bytes.data(), bytes.size()));
    if (!top)
        return streams;
    streams.hasVideo = HasStream(top.get(), L"video");
    streams.hasAudio = HasStream(top.get(), L"audio");
    streams.frameRate = FirstVideoFrameRate(top.get());
    return streams;
}

double getVideoFrameRate(const XStr& path)
{
    const XStr out = runFFprobe(path);
    return out.IsEmpty() ? 0 : parseVideoFrameRate(out);
}

XStr frameRateText(const XStr& rate)
{
    double value = 0;
    if (!FractionRate(rate, value))
        return rate;
    if (value == std::floor(value) && std::fabs(value) < 9.2e18)
        return XStr::FromLong(static_cast<int64_t>(value));
    return XStr::FromFormat(L"%.2f", value);
}

XStr aspectRatioName(int width, int height)
{
    if (width == 0 || height == 0)
        return XStr();
    if (width < height) {
        const XStr swapped = aspectRatioName(height, width);
        const int colon = swapped.FindChar(L':');
        if (colon == 0 || swapped.FindChar(L':', colon + 1) != 0)
            return swapped;
        return XStr::FromFormat(L"%s:%s", swapped.MidToEnd(colon + 1).p, swapped.Left(colon - 1).p);
    }
    const XStr text = XStr::FromFormat(L"%.2f:1", static_cast<double>(width) / static_cast<double>(height));
    static const struct {
        const wchar_t* text;
        const wchar_t* name;
    } table[] = {
        {L"1.20:1", L"6:5"},  {L"1.25:1", L"5:4"},  {L"1.33:1", L"4:3"},   {L"1.37:1", L"11:8"}, {L"1.5:1", L"3:2"},
        {L"1.50:1", L"3:2"},  {L"1.6:1", L"16:10"}, {L"1.60:1", L"16:10"}, {L"1.66:1", L"5:3"},  {L"1.77:1", L"16:9"},
        {L"1.78:1", L"16:9"}, {L"2.00:1", L"2:1"},  {L"2:1", L"2:1"},      {L"2.35:1", L"21:9"},
    };
    for (const auto& entry : table)
        if (XStrCompare(text, entry.text) == 0)
            return entry.name;
    return text;
}
