// A batch profile file of any bytes: loaded, saved and loaded again. Nothing may crash, and
// what the first load made of the file must come back unchanged from the second.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "batch/KRABatchConverterProfile.h"
#include "fuzz/FuzzSupport.h"
#include "platform/XStrQString.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setenv("_APPDATA_OVERRIDE", fuzz::PrivateFolder().c_str(), 1);
    fuzz::SetUpProgram();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool ready = LLVMFuzzerInitialize(nullptr, nullptr) == 0;
    (void)ready;
    const QString name = QStringLiteral("fuzz");
    const std::string path = XStrFromQString(KRABatchConverterProfile::profilePath(name)).ToUTF8String();
    fuzz::WriteFileAtomically(path, data, size);

    const auto first = KRABatchConverterProfile::profileByName(name);
    const QVariantMap held = first->grabForJSON();
    fuzz::Check(first->save(), "a loaded profile cannot be saved", first->lastError().toStdString());
    const auto second = KRABatchConverterProfile::profileByName(name);
    fuzz::Check(second->lastError().isEmpty(), "a saved profile does not load", second->lastError().toStdString());
    fuzz::Check(second->grabForJSON() == held, "a profile changed through a save and a load");
    return 0;
}
