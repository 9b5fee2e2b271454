// The encoder pages from the outside: what each page of the catalogue writes into an empty
// host (and, on request, what each of its codec choices and each of its rate-control modes
// writes), and what a page writes back for a given argument text.
#include "tools/common/ToolCommand.h"

#include <QComboBox>
#include <QString>

#include <string>

#include "common/TestPageHost.h"
#include "job/KRECodecs.h"
#include "setup/KRAEncoderPageIndex.h"
#include "setup/KREEncoderPage.h"
#include "setup/KREEncoderPageCodec.h"

namespace {

std::string Utf8(const QString& text)
{
    return text.toStdString();
}

// Tabs and line ends inside a field would break the line format.
std::string Field(const QString& text)
{
    QString clean = text;
    clean.replace(QLatin1Char('\t'), QLatin1String("\\t"));
    clean.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    clean.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    return Utf8(clean);
}

QString ExtensionOf(TestPageHost& host, const QString& catalogueExtension)
{
    const std::optional<QString>& chosen = host.encoderArgsV2().customFormatExt;
    return chosen ? *chosen : catalogueExtension;
}

void WriteLine(const QString& name, const QString& extension, const QString& args, const QString* choice)
{
    std::string line = Field(name) + "\t" + Field(extension) + "\t" + Field(args);
    if (choice)
        line += "\t" + Field(*choice);
    ToolWrite(line + "\n");
}

int EncoderDefaults(int argc, char** argv)
{
    bool allChoices = false;
    for (int i = 1; i < argc; i++) {
        if (std::string(argv[i]) == "--all-choices")
            allChoices = true;
        else
            return ToolFail(argv[0], std::string("unknown argument '") + argv[i] + "'");
    }
    for (const QKEncoderDescRef& desc : KRECodecs::listEncoders()) {
        TestPageHost host;
        std::unique_ptr<KREEncoderPage> page = KRAEncoderPageIndex::createFor(desc->name(), &host);
        if (page)
            page->pageView();
        WriteLine(desc->name(), ExtensionOf(host, desc->formatExtension()), host.encoderArgs(), nullptr);
        if (!allChoices || !page)
            continue;
        const QStringList choices = page->codecChoices();
        page.reset();
        for (int i = 0; i < choices.size(); i++) {
            TestPageHost choiceHost;
            std::unique_ptr<KREEncoderPage> choicePage = KRAEncoderPageIndex::createFor(desc->name(), &choiceHost);
            choicePage->pageView();
            choicePage->selectCodecChoice(i);
            WriteLine(desc->name(), ExtensionOf(choiceHost, desc->formatExtension()), choiceHost.encoderArgs(),
                      &choices.at(i));
        }
        // Each entry of the rate-control pop-up on a fresh page, as the user picks it.
        TestPageHost modesHost;
        std::unique_ptr<KREEncoderPage> modesPage = KRAEncoderPageIndex::createFor(desc->name(), &modesHost);
        modesPage->pageView();
        const auto* codecPage = dynamic_cast<KREEncoderPageCodec*>(modesPage.get());
        const int modes = codecPage && codecPage->rateControlPopup() ? codecPage->rateControlPopup()->count() : 0;
        for (int i = 0; i < modes; i++) {
            const QString label = QStringLiteral("Rate control: ") + codecPage->rateControlPopup()->itemText(i);
            TestPageHost modeHost;
            std::unique_ptr<KREEncoderPage> modePage = KRAEncoderPageIndex::createFor(desc->name(), &modeHost);
            modePage->pageView();
            static_cast<KREEncoderPageCodec*>(modePage.get())->optionChanged(i);
            WriteLine(desc->name(), ExtensionOf(modeHost, desc->formatExtension()), modeHost.encoderArgs(), &label);
        }
    }
    return 0;
}

int EncoderRoundtrip(int argc, char** argv)
{
    if (argc != 3)
        return ToolFail(argv[0], "NAME and ARGS are needed");
    const QString name = QString::fromUtf8(argv[1]);
    TestPageHost host(QString::fromUtf8(argv[2]));
    std::unique_ptr<KREEncoderPage> page = KRAEncoderPageIndex::createFor(name, &host);
    if (!page)
        return ToolFail(argv[0], "no page edits '" + std::string(argv[1]) + "'");
    page->pageView();
    const QString args = host.sent.isEmpty() ? page->pageArgs() : host.encoderArgs();
    ToolWrite(Field(host.encoderArgsV2().customFormatExt.value_or(QString())) + "\t" + Field(args) + "\n");
    return 0;
}

const ToolCommand kDefaults("encoder-defaults", "[--all-choices]", EncoderDefaults);
const ToolCommand kRoundtrip("encoder-roundtrip", "NAME ARGS", EncoderRoundtrip);

} // namespace
