// The effect pages and chain files from the outside: what each effect's page writes for a new
// effect, what a page writes back for a given text, and ".dspeffect" files written and read as
// the chain editor does.
#include "tools/common/ToolCommand.h"

#include <QString>

#include <string>

#include "job/KREDSPs.h"
#include "job/QKConversionSpec.h"
#include "setup/KRADSPListPane.h"
#include "setup/KRADSPPage.h"
#include "setup/KRADSPPageIndex.h"

namespace {

// Tabs and line ends inside a field would break the line format.
std::string Field(const QString& text)
{
    QString clean = text;
    clean.replace(QLatin1Char('\t'), QLatin1String("\\t"));
    clean.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    clean.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    return clean.toStdString();
}

int EffectDefaults(int argc, char** argv)
{
    if (argc != 1)
        return ToolFail(argv[0], "takes no arguments");
    for (const QKDSPDescRef& desc : KREDSPs::list()) {
        std::unique_ptr<KRADSPPage> page = KRADSPPageIndex::createFor(desc->name);
        if (!page)
            return ToolFail(argv[0], "no page edits '" + desc->name.toStdString() + "'");
        page->setDspArgs(QString());
        ToolWrite(Field(desc->name) + "\t" + Field(page->dspArgs()) + "\n");
    }
    return 0;
}

int EffectRoundtrip(int argc, char** argv)
{
    if (argc != 3)
        return ToolFail(argv[0], "NAME and ARGS are needed");
    std::unique_ptr<KRADSPPage> page = KRADSPPageIndex::createFor(QString::fromUtf8(argv[1]));
    if (!page)
        return ToolFail(argv[0], "no page edits '" + std::string(argv[1]) + "'");
    page->setDspArgs(QString::fromUtf8(argv[2]));
    ToolWrite(Field(page->dspArgs()) + "\n");
    return 0;
}

int ChainSave(int argc, char** argv)
{
    if (argc < 3)
        return ToolFail(argv[0], "FILE and at least one effect NAME are needed");
    QKDSPChain chain;
    for (int i = 2; i < argc; ++i) {
        const QString name = QString::fromUtf8(argv[i]);
        std::unique_ptr<KRADSPPage> page = KRADSPPageIndex::createFor(name);
        if (!page)
            return ToolFail(argv[0], "no effect is called '" + std::string(argv[i]) + "'");
        page->setDspArgs(QString());
        chain.append(QKDSPSpec(name, page->dspArgs()));
    }
    QString error;
    if (!KRADSPListPane::writeChainFile(QString::fromUtf8(argv[1]), QKConversionSpec::mergeDSPString(chain), &error))
        return ToolFail(argv[0], error.toStdString());
    return 0;
}

int ChainLoad(int argc, char** argv)
{
    if (argc != 2)
        return ToolFail(argv[0], "FILE is needed");
    QString error;
    const std::optional<QKDSPChain> chain = KRADSPListPane::readChain(QString::fromUtf8(argv[1]), &error);
    if (!chain)
        return ToolFail(argv[0], error.toStdString());
    ToolWrite(QKConversionSpec::mergeDSPString(*chain).toStdString() + "\n");
    return 0;
}

const ToolCommand kDefaults("effect-defaults", "", EffectDefaults);
const ToolCommand kRoundtrip("effect-roundtrip", "NAME ARGS", EffectRoundtrip);
const ToolCommand kSave("chain-save", "FILE NAME...", ChainSave);
const ToolCommand kLoad("chain-load", "FILE", ChainLoad);

} // namespace
