// A format list of any bytes: it parses into two lists of equal length, or into none with a
// reason; nothing may crash.
#include <cstddef>
#include <cstdint>

#include "batch/QKMediaFormatFilter.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QString damaged;
    const decoderList_t list = QKMediaFormatFilter::parse(
        QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)), &damaged);
    fuzz::Check(list.lstExtension.size() == list.lstExtDescription.size(), "the two lists differ in length");
    fuzz::Check(damaged.isEmpty() || list.lstExtension.isEmpty(), "a damaged list gave rows");
    for (const QString& name : list.lstExtDescription)
        fuzz::Check(!name.isEmpty(), "a row without a format name");
    return 0;
}
