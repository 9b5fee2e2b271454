// The effect-chain string on any text (it comes from profiles, the multi-encoder string and
// saved selection files, cut or foreign ones too): the chain read must write a string that
// reads to the same chain, and the strict reader of files takes only whole chains.
#include <cstddef>
#include <cstdint>
#include <optional>
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

    // The strict reader of saved files: what it takes is what the loose reader reads, and the
    // chain it takes written again is taken again the same; what it refuses has a reason.
    QString error;
    if (const std::optional<QKDSPChain> whole = QKConversionSpec::readWholeDSPString(text, &error)) {
        fuzz::Check(*whole == QKConversionSpec::splitDSPString(text.trimmed()),
                    "the strict reader reads another chain than the loose one");
        const std::optional<QKDSPChain> again = QKConversionSpec::readWholeDSPString(written, &error);
        fuzz::Check(again && *again == *whole, "a whole chain written again is not taken the same",
                    XStrFromQString(written).ToUTF8String());
    } else {
        fuzz::Check(!error.isEmpty(), "a chain text was refused without a reason");
    }
    return 0;
}
