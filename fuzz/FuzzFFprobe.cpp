// The reader of ffprobe's output on any bytes: ffprobe prints what the probed file holds
// (tag texts, stream descriptions, numbers), so its output is as untrusted as the file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "media/FFprobeInfo.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::SetUpProgram();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    NTag tags, props;
    uint64_t durationMs = 0;
    const bool fromBytes = parseFFprobeJSONBytes(bytes, tags, props, durationMs);
    fuzz::Check(fromBytes || (tags.Count() == 0 && props.Count() == 0), "a failed read touched the tags");

    const XStr text = XStr::FromUTF8Bytes(data, size);
    NTag wideTags, wideProps;
    uint64_t wideDuration = 0;
    const bool fromText = parseFFprobeJSON(text, wideTags, wideProps, wideDuration);
    fuzz::Check(fromText == fromBytes, "the byte and the text reader disagree on success");
    fuzz::Check(!fromText || (wideDuration == durationMs && wideTags.Dump().View() == tags.Dump().View() &&
                              wideProps.Dump().View() == props.Dump().View()),
                "the byte and the text reader read different information");

    (void)parseVideoFrameRate(text);
    for (int64_t i = 0; i < props.Count(); ++i)
        (void)frameRateText(props.TagAt(i)->Value);
    return 0;
}
