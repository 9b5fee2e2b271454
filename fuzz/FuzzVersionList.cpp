// The version list from the maker's web server, on any bytes: an answer is always one of the
// whole groups read.
#include <cstddef>
#include <cstdint>

#include "app/QKVersionInfo.h"
#include "fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<QKVersionRecord> records = QKReadVersionList(data, size);
    const XStr name = records.empty() ? XStr(L"Marvoni Video Converter Mac") : records.back().Name;
    const auto found = QKFindVersionEntry(data, size, name);
    if (found) {
        bool listed = false;
        for (const QKVersionRecord& record : records)
            listed = listed || (record.Version == found->Version && record.URL == found->URL);
        fuzz::Check(listed, "the answer is no group of the list");
    }
    return 0;
}
