// The effect-chain string on any text (it comes from profiles and from the multi-encoder
// string): the chain read must write a string that reads to the same chain.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "job/QKConversionSpec.h"
#include "platform/XStrQString.h"

namespace {

std::string Describe(const QKDSPChain& chain)
{
    std::string out;
    for (const QKDSPSpec& spec : chain)
        out +=
            "[" + XStrFromQString(spec.name).ToUTF8String() + " | " + XStrFromQString(spec.args).ToUTF8String() + "]\n";
    return out;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::SetUpProgram();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = XStrToQString(XStr::FromUTF8Bytes(data, size));
    const QKDSPChain chain = QKConversionSpec::splitDSPString(text);
    const QString written = QKConversionSpec::mergeDSPString(chain);
    const QKDSPChain again = QKConversionSpec::splitDSPString(written);
    fuzz::Check(again == chain, "the written chain reads as another chain",
                XStrFromQString(written).ToUTF8String() + "\n---\n" + Describe(chain) + "---\n" + Describe(again));

    const QString doubled = QKConversionSpec::combineDSPString(text, written);
    fuzz::Check(QKConversionSpec::splitDSPString(doubled) == chain + chain,
                "a chain combined with itself is not twice the chain");
    fuzz::Check(QKDSPList::stringToDSPs(text) == chain, "the list reader reads another chain");
    return 0;
}
