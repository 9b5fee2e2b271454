// An effect page opened on any stored argument text (chains are saved in files and profiles;
// users edit them), and a chain file's bytes. The first line of the input names the effect (a
// name the catalogue does not know picks one by the line's bytes), the rest is the text.
// Nothing may crash; what a page writes must read back to itself on a fresh page; a chain
// file that decodes gives a chain whose string reads back the same.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <QByteArray>

#include "fuzz/FuzzWidgets.h"
#include "job/KREDSPs.h"
#include "job/QKConversionSpec.h"
#include "platform/XStrQString.h"
#include "setup/KRADSPListPane.h"
#include "setup/KRADSPPage.h"
#include "setup/KRADSPPageIndex.h"

namespace {

QStringList EffectNames()
{
    QStringList names;
    for (const QKDSPDescRef& desc : KREDSPs::list())
        names.append(desc->name);
    return names;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::SetUpWidgets("fuzz-effects");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t newline = input.find('\n');
    const std::string line = input.substr(0, newline);
    const std::string rest = newline == std::string::npos ? std::string() : input.substr(newline + 1);

    static const QStringList names = EffectNames();
    const QString name = fuzz::PickByBytes(names, line);
    std::unique_ptr<KRADSPPage> page = KRADSPPageIndex::createFor(name);
    fuzz::Check(page != nullptr, "the catalogue names an effect without a page", fuzz::Bytes(name));
    page->setDspArgs(XStrToQString(XStr::FromUTF8(rest)));
    page->dspValidate();
    const QString held = page->dspArgs();
    std::unique_ptr<KRADSPPage> second = KRADSPPageIndex::createFor(name);
    second->setDspArgs(held);
    fuzz::Check(second->dspArgs() == held, "an effect page reads what it wrote back differently",
                fuzz::Bytes(name) + "\n" + fuzz::Bytes(held) + "\n---\n" + fuzz::Bytes(second->dspArgs()));

    QString error;
    if (const std::optional<QString> chain = KRADSPListPane::decodeChainFile(QByteArray::fromStdString(rest), &error)) {
        const QString merged = QKConversionSpec::mergeDSPString(QKConversionSpec::splitDSPString(*chain));
        fuzz::Check(QKConversionSpec::mergeDSPString(QKConversionSpec::splitDSPString(merged)) == merged,
                    "a chain read from a file does not read back to itself", fuzz::Bytes(merged));
        // A chain a load takes holds only settings its pages write.
        if (const std::optional<QKDSPChain> taken = KRADSPListPane::chainFromText(*chain, &error)) {
            for (const QKDSPSpec& spec : *taken) {
                std::unique_ptr<KRADSPPage> check = KRADSPPageIndex::createFor(spec.name);
                fuzz::Check(check != nullptr, "a load took an effect without a page", fuzz::Bytes(spec.name));
                check->setDspArgs(spec.args);
                fuzz::Check(check->dspArgs() == spec.args, "a load took settings its page does not write",
                            fuzz::Bytes(spec.name) + "\n" + fuzz::Bytes(spec.args));
            }
        } else {
            fuzz::Check(!error.isEmpty(), "a chain was refused without a reason", rest);
        }
    } else {
        fuzz::Check(!error.isEmpty(), "a chain file was refused without a reason", rest);
    }
    return 0;
}
