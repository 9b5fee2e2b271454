// An effect page opened on any stored argument text (chains are saved in files and profiles;
// users edit them), and a chain file's bytes. The first line of the input names the effect (a
// name the catalogue does not know picks one by the line's bytes), the rest is the text.
// Nothing may crash; what a page writes must read back to itself on a fresh page; a chain
// file that decodes gives a chain whose string reads back the same.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <QApplication>
#include <QByteArray>

#include "fuzz/FuzzSupport.h"
#include "job/KREDSPs.h"
#include "job/QKConversionSpec.h"
#include "media/QKExternalFFmpeg.h"
#include "platform/XStrQString.h"
#include "setup/KRADSPListPane.h"
#include "setup/KRADSPPage.h"
#include "setup/KRADSPPageIndex.h"

namespace {

std::string Bytes(const QString& text)
{
    return XStrFromQString(text).ToUTF8String();
}

QString PickEffect(const std::string& line)
{
    static const QStringList names = [] {
        QStringList all;
        for (const QKDSPDescRef& desc : KREDSPs::list())
            all.append(desc->name);
        return all;
    }();
    const QString asText = QString::fromStdString(line);
    if (names.contains(asText))
        return asText;
    uint32_t sum = 0;
    for (unsigned char c : line)
        sum += c;
    return names.at(int(sum % uint32_t(names.size())));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::SetUpProgram();
    QKExternalFFmpeg::setProbe([] { return true; });
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz-effects";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t newline = input.find('\n');
    const std::string line = input.substr(0, newline);
    const std::string rest = newline == std::string::npos ? std::string() : input.substr(newline + 1);

    const QString name = PickEffect(line);
    std::unique_ptr<KRADSPPage> page = KRADSPPageIndex::createFor(name);
    fuzz::Check(page != nullptr, "the catalogue names an effect without a page", Bytes(name));
    page->setDspArgs(XStrToQString(XStr::FromUTF8(rest)));
    page->dspValidate();
    const QString held = page->dspArgs();
    std::unique_ptr<KRADSPPage> second = KRADSPPageIndex::createFor(name);
    second->setDspArgs(held);
    fuzz::Check(second->dspArgs() == held, "an effect page reads what it wrote back differently",
                Bytes(name) + "\n" + Bytes(held) + "\n---\n" + Bytes(second->dspArgs()));

    QString error;
    if (const std::optional<QString> chain = KRADSPListPane::decodeChainFile(QByteArray::fromStdString(rest), &error)) {
        const QString merged = QKConversionSpec::mergeDSPString(QKConversionSpec::splitDSPString(*chain));
        fuzz::Check(QKConversionSpec::mergeDSPString(QKConversionSpec::splitDSPString(merged)) == merged,
                    "a chain read from a file does not read back to itself", Bytes(merged));
    } else {
        fuzz::Check(!error.isEmpty(), "a chain file was refused without a reason", rest);
    }
    return 0;
}
