// Effect-chain string commands.
#include "tools/common/ToolCommand.h"

#include <QString>

#include "job/QKConversionSpec.h"

namespace {

// Reads an effect-chain string on standard input, splits it into effects and writes it
// again: a chain written by the program comes back unchanged.
int ChainRoundTrip(int argc, char** argv)
{
    if (argc != 1)
        return ToolFail(argv[0], "takes no arguments (the chain string comes on standard input)");
    const std::string input = ToolReadStdin();
    const QKDSPChain chain =
        QKConversionSpec::splitDSPString(QString::fromUtf8(input.data(), static_cast<qsizetype>(input.size())));
    const QByteArray output = QKConversionSpec::mergeDSPString(chain).toUtf8();
    ToolWrite(std::string(output.constData(), static_cast<size_t>(output.size())));
    return 0;
}

const ToolCommand kChainRoundTrip("chain-roundtrip", "< CHAIN", ChainRoundTrip);

} // namespace
