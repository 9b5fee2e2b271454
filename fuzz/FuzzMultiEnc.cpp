// The multi-encoder string on any text (profiles store it as an encoder's arguments): what
// is read is written, and the written string must read to the same set again, so that
// opening and saving a profile any number of times changes nothing more.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/KRAMultiEncConfig.h"
#include "fuzz/FuzzSupport.h"
#include "media/QKExternalFFmpeg.h"
#include "platform/XStrQString.h"

namespace {

std::string Bytes(const QString& text)
{
    return XStrFromQString(text).ToUTF8String();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::SetUpProgram();
    // A fixed answer: the catalogue then offers the same encoders on every machine, and no
    // ffmpeg is asked.
    QKExternalFFmpeg::setProbe([] { return true; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = XStrToQString(XStr::FromUTF8Bytes(data, size));
    const KRAMultiEncConfigRef first = KRAMultiEncConfig::fromString(text);
    fuzz::Check(first != nullptr, "no set read");
    const QString written = first->toString();

    const KRAMultiEncConfigRef second = KRAMultiEncConfig::fromString(written);
    fuzz::Check(second->entries.size() == first->entries.size(), "the written set has another number of entries",
                Bytes(written));
    fuzz::Check(second->keptEntries.size() == first->keptEntries.size(),
                "the written set keeps another number of unknown entries", Bytes(written));
    fuzz::Check(second->multiCPU == first->multiCPU, "the written set changes the multi-CPU switch", Bytes(written));
    const QString again = second->toString();
    fuzz::Check(again == written, "writing the set again changes it", Bytes(written) + "\n---\n" + Bytes(again));

    for (const KRAMultiEncEntryRef& entry : first->entries)
        (void)entry->copy();
    return 0;
}
